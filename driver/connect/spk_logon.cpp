// Connecting: the transport stack chosen by the settings, the logon exchange,
// the session; closing it again; GetInfo for SQLGetInfo.
#include "spk_logon.h"

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include <atomic>
#include <climits>
#include <cstdlib>
#include <new>
#include <string>

#include "spk_err.h"
#include "spk_log.h"
#include "spk_sasl.h"
#include "spk_tcli.h"
#include "spk_transport.h"
#include "transport/spk_http.h"
#include "transport/spk_net_socket.h"

using apache::thrift::transport::TBufferedTransport;

namespace {

const int kDefaultPort = 10000;

// Seconds of an ODBC timeout attribute as socket milliseconds (0: none).
int timeout_ms(uint64_t seconds) {
    if (seconds == 0) return 0;
    if (seconds > (uint64_t)(INT_MAX / 1000)) return INT_MAX / 1000 * 1000;
    return (int)seconds * 1000;
}

// A UTF-8 copy of a setting, or an empty std::string and false for none.
bool utf8_of(const SpkString *s, std::string *out) {
    if (!s) return false;
    size_t n = 0;
    char *bytes = spk_str_to_utf8_n(s, &n);
    if (!bytes) throw std::bad_alloc();
    out->assign(bytes, n);
    free(bytes);
    return true;
}

// Methods that exist in the settings but not in this build.
int refuse_unsupported(SpkConnection *conn) {
    const char *what = nullptr;
    switch (conn->authentication) {
    case AUTH_NONE:
    case AUTH_NOSASL:
    case AUTH_LDAP:
    case AUTH_HTTP_BASIC:
    case AUTH_HTTP_OAUTH:
    case AUTH_KERBEROS:
    case AUTH_AD: break;
    default:
        SPK_LOG(conn, LOG_ERROR, "Unsupported authentication method %d", (int)conn->authentication);
        spk_post_error(conn, "HY000", 0, "Unsupported authentication method %d", (int)conn->authentication);
        return -1;
    }
    if (!what) return 0;
    SPK_LOG(conn, LOG_ERROR, "%s is not supported by this build", what);
    spk_post_error(conn, "HY000", 0, "%s is not supported by this build", what);
    return -1;
}

// The endpoint of a TLS or HTTP connection: a TCP or TLS socket, under the
// HTTP transport for the HTTP methods.
void build_net_endpoint(SpkConnection *conn, SpkTransportStack *st, const std::string &host, int port) {
    SpkNetOptions net;
    net.host = host;
    net.port = port;
    net.tls = conn->encrypt != 0;
    net.trust_server_certificate = conn->trust_server_certificate != 0;
    utf8_of(conn->certificate_file, &net.ca_file);
    st->net_socket = std::make_shared<SpkNetSocket>(net, st->config);
    if (conn->authentication != AUTH_HTTP_BASIC && conn->authentication != AUTH_HTTP_OAUTH) {
        st->base_transport = st->net_socket;
        return;
    }
    SpkHttpOptions http;
    http.conn = conn;
    utf8_of(conn->http_uri, &http.path);
    if (conn->authentication == AUTH_HTTP_OAUTH) {
        http.bearer = true;
        utf8_of(conn->access_token, &http.token);
    } else {
        if (!utf8_of(conn->uid, &http.user)) http.user = "anonymous";
        if (!utf8_of(conn->pwd, &http.password)) http.password = "openguest";
    }
    st->http_socket = st->net_socket;
    st->base_transport = std::make_shared<SpkHttpTransport>(st->net_socket, http, st->config);
}

// Everything between the entry and exit records of spk_connect.
int connect_stack(SpkConnection *conn) {
    spk_transport_stack_free(conn);   // leftovers of an earlier failed attempt

    std::string host;
    if (!utf8_of(conn->server, &host)) host = "localhost";
    int port = conn->port ? conn->port : kDefaultPort;
    SPK_LOG(conn, LOG_DETAIL, "connecting to '%s':%d", host.c_str(), port);

    if (refuse_unsupported(conn) != 0) return -1;
    bool http = conn->authentication == AUTH_HTTP_BASIC || conn->authentication == AUTH_HTTP_OAUTH;
    if (conn->authentication == AUTH_HTTP_OAUTH && !conn->access_token) {
        SPK_LOG(conn, LOG_ERROR, "OAUTH Authentication requires a AccessToken");
        spk_post_error(conn, "HY000", 0, "OAUTH Authentication requires a AccessToken");
        return -1;
    }

    SpkTransportStack *st = new SpkTransportStack;
    conn->transport_stack = st;
    st->config = spk_transport_config(conn->max_message_size > 0 ? conn->max_message_size << 20 : 0);
    // One deadline for all of the logon: socket, TLS, SASL and OpenSession.
    // SQL_ATTR_LOGIN_TIMEOUT when the application set one, else LoginTimeout.
    int login_ms = timeout_ms(conn->attrs.login_timeout ? conn->attrs.login_timeout
                                                        : (uint64_t)(conn->login_timeout > 0 ? conn->login_timeout : 0));
    st->logging_in = true;
    st->deadline_ms = login_ms > 0 ? spk_monotonic_ms() + login_ms : 0;
    build_net_endpoint(conn, st, host, port);
    st->net_socket->set_deadline_source([st] { return st->deadline_ms; });
    st->net_socket->set_timeout_sqlstate("HYT00");

    bool sasl = conn->authentication != AUTH_NOSASL && !http;
    if (sasl) {
        st->transport = std::make_shared<SpkFramedTransport>(st->base_transport, st->config);
        conn->transport_kind = SPK_TRANSPORT_FRAMED;
    } else {
        // Thrift's default of 512 bytes would read a batch of a megabyte
        // in two thousand receives.
        st->transport = std::make_shared<TBufferedTransport>(st->base_transport, 1u << 16, 1u << 16, st->config);
        conn->transport_kind = SPK_TRANSPORT_BUFFERED;
    }
    st->protocol = spk_transport_protocol(st->transport, st->config);

    try {
        st->transport->open();
    } catch (const std::bad_alloc &) {
        throw;
    } catch (const SpkTransportError &e) {
        SPK_LOG(conn, LOG_ERROR, "connecting fails: '%s'", e.what());
        spk_post_error(conn, e.sqlstate(), 0, "connecting fails: '%s'", e.what());
        return -1;
    } catch (const std::exception &e) {
        SPK_LOG(conn, LOG_ERROR, "connecting fails: '%s'", e.what());
        spk_post_error(conn, "08001", 0, "connecting fails: '%s'", e.what());
        return -1;
    }

    if (conn->authentication == AUTH_NONE) {
        if (!spk_sasl_plain(conn, nullptr, nullptr)) return -1;
    } else if (conn->authentication == AUTH_LDAP) {
        std::string user, password;
        bool has_user = utf8_of(conn->uid, &user);
        bool has_password = utf8_of(conn->pwd, &password);
        if (!spk_sasl_plain(conn, has_user ? user.c_str() : nullptr, has_password ? password.c_str() : nullptr))
            return -1;
    } else if (conn->authentication == AUTH_KERBEROS || conn->authentication == AUTH_AD) {
        if (!spk_sasl_gssapi(conn, host)) return -1;
    }

    st->client = std::make_shared<tcli::TCLIServiceClient>(st->protocol);
    if (spk_tcli_open_session(conn) != 0) return -1;

    // From now on each request and its reply has its own deadline:
    // SQL_ATTR_CONNECTION_TIMEOUT when the application set one, else
    // SocketTimeout.
    st->logging_in = false;
    st->deadline_ms = 0;
    st->request_timeout_ms = timeout_ms(conn->attrs.connection_timeout
                                            ? conn->attrs.connection_timeout
                                            : (uint64_t)(conn->socket_timeout > 0 ? conn->socket_timeout : 0));
    st->net_socket->set_timeout_sqlstate("HYT01");
    conn->connected = 1;
    std::atomic_ref<int32_t>(conn->link_lost).store(0);
    conn->changes_since_commit = 0;
    return 0;
}

}  // namespace

int spk_connect(SpkConnection *conn) {
    if (!conn) return -1;
    spk_thrift_output_init();
    SpkTransportGuard guard(conn);
    SPK_LOG(conn, LOG_ENTRY, "spk_connect");
    if (conn->connected) {
        // The open session stays as it is.
        spk_post_error(conn, "08002", 0, "Connection name in use");
        SPK_LOG(conn, LOG_EXIT, "spk_connect, ret=%d", -1);
        return -1;
    }
    int ret;
    try {
        ret = connect_stack(conn);
    } catch (const std::bad_alloc &) {
        spk_post_error(conn, "HY001", 0, nullptr);
        ret = -1;
    } catch (const std::exception &e) {
        SPK_LOG(conn, LOG_ERROR, "connecting fails: '%s'", e.what());
        spk_post_error(conn, "HY000", 0, "connecting fails: '%s'", e.what());
        ret = -1;
    } catch (...) {
        spk_post_error(conn, "HY000", 0, "connecting fails: 'unknown failure'");
        ret = -1;
    }
    if (ret != 0) {
        spk_transport_stack_free(conn);
        conn->connected = 0;
        conn->transport_kind = SPK_TRANSPORT_NONE;
    }
    SPK_LOG(conn, LOG_EXIT, "spk_connect, ret=%d", ret);
    return ret;
}

int spk_close_session(SpkConnection *conn) {
    if (!conn) return 0;
    return spk_tcli_close_session(conn) == 0 ? 0 : -6;
}

int spk_disconnect(SpkConnection *conn) {
    if (!conn) return 0;
    SpkTransportGuard guard(conn);
    if (conn->transport_stack && conn->transport_stack->session_handle) spk_close_session(conn);
    conn->connected = 0;
    conn->transport_kind = SPK_TRANSPORT_NONE;
    spk_transport_stack_free(conn);
    return 0;
}

int spk_get_string_info(SpkConnection *conn, int info_type, SpkString **out) {
    if (out) *out = nullptr;
    if (!conn) return -1;
    char name[16];
    SPK_LOG(conn, LOG_ENTRY, "spk_get_string_info: %d (%s)", info_type, spk_info_type_name(info_type, name));
    std::string text;
    bool has_text = false;
    SpkString *value = nullptr;
    int ret = -1;
    try {
        ret = spk_tcli_get_info(conn, info_type, &text, &has_text);
        if (ret == 0 && has_text) {
            value = spk_str_from_utf8(text.data(), (long)text.size());
            if (!value) {
                spk_post_error(conn, "HY001", 0, nullptr);
                ret = -1;
            }
        }
    } catch (...) {
        spk_post_error(conn, "HY001", 0, nullptr);
        ret = -1;
    }
    SPK_LOG(conn, LOG_ENTRY, "spk_get_string_info: %d: %d, '%S'", info_type, ret, value);
    if (out)
        *out = value;
    else
        spk_str_free(value);
    return ret;
}

int spk_get_current_database(SpkConnection *conn, SpkString **out) {
    *out = nullptr;
    if (!conn || !conn->connected) return 0;
    tcli::TOperationHandle op;
    int ret = -1;
    try {
        if (spk_tcli_execute_statement(conn, "SELECT current_database()", &op) != 0) return -1;
        SpkFetchReply resp;
        if (spk_tcli_fetch_results(conn, op, 1, &resp) == 0) {
            const std::vector<SpkBatchColumn> &cols = resp.batch.columns;
            if (!cols.empty() && cols[0].kind == SPK_BATCH_STRING && cols[0].count > 0 && !cols[0].is_null(0)) {
                size_t length = 0;
                const char *name = cols[0].bytes(0, &length);
                *out = spk_str_from_utf8(name, (long)length);
                ret = *out ? 0 : -1;
                if (!*out) spk_post_error(conn, "HY001", 0, nullptr);
            } else {
                spk_post_error(conn, "HY000", 0, "the server did not name the current database");
            }
        }
        spk_tcli_close_operation(conn, op);
    } catch (...) {
        spk_post_error(conn, "HY001", 0, nullptr);
        ret = -1;
    }
    SPK_LOG(conn, LOG_DETAIL, "spk_get_current_database: %d, '%S'", ret, *out);
    return ret;
}
