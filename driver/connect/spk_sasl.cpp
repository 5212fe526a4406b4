// SASL negotiation frames and the PLAIN exchange.
#include "spk_sasl.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <stdexcept>

#include "spk_err.h"
#include "spk_krb.h"
#include "spk_platform.h"
#include "spk_sspi.h"
#include "spk_log.h"
#include "spk_tcli.h"
#include "spk_transport.h"

uint32_t get_be32(const unsigned char *p) {
    return ((uint32_t)p[0] << 24) | ((uint32_t)p[1] << 16) | ((uint32_t)p[2] << 8) | (uint32_t)p[3];
}

void put_be32(unsigned char *p, uint32_t value) {
    p[0] = (unsigned char)(value >> 24);
    p[1] = (unsigned char)(value >> 16);
    p[2] = (unsigned char)(value >> 8);
    p[3] = (unsigned char)value;
}

void spk_sasl_frame(std::string *out, int status, const void *payload, size_t length) {
    unsigned char header[5];
    header[0] = (unsigned char)status;
    put_be32(header + 1, (uint32_t)length);
    out->append((const char *)header, sizeof header);
    if (length) out->append((const char *)payload, length);
}

namespace {
// The most data a completion reply may carry (PLAIN sends none).
constexpr uint32_t kSaslCompleteDataMax = 65536;

apache::thrift::transport::TTransport *endpoint(SpkConnection *conn) {
    SpkTransportStack *st = conn ? conn->transport_stack : nullptr;
    return st ? st->base_transport.get() : nullptr;
}
}  // namespace

int spk_sasl_write(SpkConnection *conn, const std::string &bytes, std::string *error) {
    apache::thrift::transport::TTransport *t = endpoint(conn);
    try {
        if (!t) throw std::runtime_error("not connected");
        t->write((const uint8_t *)bytes.data(), (uint32_t)bytes.size());
        t->flush();
        return 0;
    } catch (const std::exception &e) {
        if (error) *error = e.what();
    } catch (...) {
        if (error) *error = "unknown failure";
    }
    return -1;
}

int spk_sasl_read(SpkConnection *conn, void *buffer, size_t count, std::string *error) {
    apache::thrift::transport::TTransport *t = endpoint(conn);
    try {
        if (!t) throw std::runtime_error("not connected");
        if (count) t->readAll((uint8_t *)buffer, (uint32_t)count);
        return 0;
    } catch (const std::exception &e) {
        if (error) *error = e.what();
    } catch (...) {
        if (error) *error = "unknown failure";
    }
    return -1;
}

size_t spk_sasl_read_some(SpkConnection *conn, void *buffer, size_t count) {
    apache::thrift::transport::TTransport *t = endpoint(conn);
    size_t have = 0;
    if (!t) return 0;
    try {
        while (have < count) {
            uint32_t got = t->read((uint8_t *)buffer + have, (uint32_t)(count - have));
            if (got == 0) break;
            have += got;
        }
    } catch (...) {
    }
    return have;
}

namespace {
// Reads the server's error text of a refusing frame (at most 511 bytes of it
// are kept) and posts it.
void post_server_error(SpkConnection *conn, int status, uint32_t length, const char *trace_format) {
    char text[512];
    size_t want = length < sizeof text - 1 ? length : sizeof text - 1;
    size_t got = spk_sasl_read_some(conn, text, want);
    text[got] = 0;
    SPK_LOG(conn, LOG_ERROR, trace_format, status, (unsigned)length, text);
    // BAD: the server refused the credentials; anything else: the logon
    // could not be made.
    spk_post_error(conn, status == 3 ? "28000" : "08001", 0, "SASL Error response: (%d,%u) %s", status,
                   (unsigned)length, text);
}
}  // namespace

int spk_sasl_plain(SpkConnection *conn, const char *user, const char *password) {
    SpkTransportGuard guard(conn);
    SPK_LOG(conn, LOG_DETAIL, "Sending Auth");

    if (!user && !password) {
        user = "anonymous";
        password = "openguest";
    }
    if (!user) user = "";
    if (!password) password = "";
    size_t user_len = strlen(user);
    size_t password_len = strlen(password);

    std::string frames;
    std::string masked;
    try {
        static const char kMechanism[] = "PLAIN";
        spk_sasl_frame(&frames, SASL_START, kMechanism, sizeof kMechanism - 1);
        std::string payload;
        payload.reserve(user_len + password_len + 2);
        payload.push_back('\0');
        payload.append(user, user_len);
        payload.push_back('\0');
        payload.append(password, password_len);
        spk_sasl_frame(&frames, SASL_OK, payload.data(), payload.size());

        // The trace shows the frame with the password replaced.
        if (conn->log_flags & LOG_PKTDUMP) {
            std::string shown = payload.substr(0, user_len + 2) + "***";
            spk_sasl_frame(&masked, SASL_OK, shown.data(), shown.size());
        }
    } catch (const std::bad_alloc &) {
        spk_post_error(conn, "HY000", 0, "SASL failed to allocate buffer");
        return 0;
    }

    // A failed write shows as the error of the read that follows.
    std::string error;
    if (spk_sasl_write(conn, frames, &error) != 0) SPK_LOG(conn, LOG_DETAIL, "write fails: '%s'", error.c_str());
    SPK_LOG_DATA(conn, LOG_PKTDUMP, masked.data(), masked.size(), "Auth Buffer");

    unsigned char header[5];
    if (spk_sasl_read(conn, header, sizeof header, &error) != 0) {
        SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
        spk_post_error(conn, "08001", 0, "read fails: '%s'", error.c_str());
        return 0;
    }
    int status = header[0];
    uint32_t length = get_be32(header + 1);
    if (status == SASL_COMPLETE) {
        // Data that comes with the completion is read whole, so that the
        // first Thrift message starts where it should.
        if (length > kSaslCompleteDataMax) {
            SPK_LOG(conn, LOG_ERROR, "SASL completion carries %u bytes", (unsigned)length);
            spk_post_error(conn, "HY000", 0, "SASL completion carries %u bytes", (unsigned)length);
            return 0;
        }
        char data[4096];
        for (uint32_t left = length; left > 0;) {
            uint32_t n = left < sizeof data ? left : (uint32_t)sizeof data;
            if (spk_sasl_read(conn, data, n, &error) != 0) {
                SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
                spk_post_error(conn, "08001", 0, "read fails: '%s'", error.c_str());
                return 0;
            }
            left -= n;
        }
        return 1;
    }
    if (status > SASL_COMPLETE) {
        SPK_LOG(conn, LOG_ERROR, "SASL Error response: Unexpected byte %d", status);
        spk_post_error(conn, "08001", 0, "SASL Error response: Unexpected byte %d", status);
        return 0;
    }

    post_server_error(conn, status, length, "SASL Error response (%d,%u):  %s");
    return 0;
}

// ---------------------------------------------------------------------------
// GSSAPI

namespace {

// A header and payload read from the server, lengths checked before anything
// is allocated.  0, or -1 with a diagnostic posted.
struct SaslFrame {
    int status = 0;
    uint32_t length = 0;
    std::string payload;
};

int read_gss_frame(SpkConnection *conn, SaslFrame *frame, const char *dump_title) {
    unsigned char header[5];
    std::string error;
    if (spk_sasl_read(conn, header, sizeof header, &error) != 0) {
        SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
        spk_post_error(conn, "08S01", 0, "failed reading data: '%s'", error.c_str());
        return -1;
    }
    SPK_LOG_DATA(conn, LOG_PKTDUMP, header, sizeof header, "Buffer");
    frame->status = header[0];
    frame->length = get_be32(header + 1);
    if (frame->status == SASL_BAD || frame->status == SASL_ERROR) {
        post_server_error(conn, frame->status, frame->length, "SASL Error response (%d,%u): %s");
        return -1;
    }
    if (frame->length > SPK_KRB_MAX_TOKEN) {
        SPK_LOG(conn, LOG_ERROR, "SASL frame announces %u bytes", (unsigned)frame->length);
        spk_post_error(conn, "08S01", 0, "the server announced a SASL frame of %u bytes; at most %u are accepted",
                       (unsigned)frame->length, (unsigned)SPK_KRB_MAX_TOKEN);
        return -1;
    }
    frame->payload.resize(frame->length);
    if (frame->length && spk_sasl_read(conn, &frame->payload[0], frame->length, &error) != 0) {
        SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
        spk_post_error(conn, "08S01", 0, "failed reading data: '%s'", error.c_str());
        return -1;
    }
    SPK_LOG_DATA(conn, LOG_PKTDUMP, frame->payload.data(), frame->payload.size(), dump_title);
    return 0;
}

int write_gss_frame(SpkConnection *conn, const std::string &frames) {
    std::string error;
    if (spk_sasl_write(conn, frames, &error) == 0) return 0;
    SPK_LOG(conn, LOG_ERROR, "write fails: '%s'", error.c_str());
    spk_post_error(conn, "08S01", 0, "failed writing data: '%s'", error.c_str());
    return -1;
}

int send_gss_token(SpkConnection *conn, const std::string &token) {
    std::string frame;
    spk_sasl_frame(&frame, SASL_OK, token.data(), token.size());
    SPK_LOG_DATA(conn, LOG_PKTDUMP, frame.data(), frame.size(), "Auth Buffer");
    return write_gss_frame(conn, frame);
}

// A non-OK status where a token was expected.
int unexpected(SpkConnection *conn, const SaslFrame &frame) {
    SPK_LOG(conn, LOG_ERROR, "Unexpected SASL type %d", frame.status);
    spk_post_error(conn, "08S01", 0, "Unexpected SASL type %d", frame.status);
    return -1;
}

// Builds the logon request from the settings.  0, or -1 posted.
int build_request(SpkConnection *conn, const std::string &host, SpkKrbRequest *request) {
    bool ad = conn->authentication == AUTH_AD;
    std::string principle;
    if (conn->krb_principle) {
        size_t n = 0;
        char *bytes = spk_str_to_utf8_n(conn->krb_principle, &n);
        if (!bytes) throw std::bad_alloc();
        principle.assign(bytes, n);
        free(bytes);
    }
    if (principle.empty()) {
        if (ad) {
            SPK_LOG(conn, LOG_ERROR, "ServerSPN not provided");
            spk_post_error(conn, "08001", 0, "ServerSPN not provided");
        } else {
            SPK_LOG(conn, LOG_ERROR, "spk_gss_get_auth_buffer: failed to get principle");
            spk_post_error(conn, "08001", 0, "Unable to obtain Kerberos token for principle '%S'", conn->krb_principle);
        }
        return -1;
    }
    spk_krb_service_name(principle, host, &request->principal, &request->name_kind);
    SPK_LOG(conn, LOG_DETAIL, "ServerSPN given: %s", request->principal.c_str());

    request->flags = SPK_GSS_DEFAULT_FLAGS | (uint32_t)conn->gss_flag;
    if (conn->gss_lib && conn->gss_lib->length) {
        char *bytes = spk_str_to_utf8(conn->gss_lib);
        if (!bytes) throw std::bad_alloc();
        request->library = bytes;
        free(bytes);
    } else {
        request->library = spk_gss_default_library();
    }

    // AD with a user name logs on with that user and password; otherwise
    // the caller's own credentials (credential cache, Windows logon).
    if (ad && conn->uid && conn->uid->length) {
        char *uid = spk_str_to_utf8(conn->uid);
        if (!uid) throw std::bad_alloc();
        request->user = spk_krb_user_principal(uid);
        free(uid);
        if (conn->pwd) {
            size_t n = 0;
            char *pwd = spk_str_to_utf8_n(conn->pwd, &n);
            if (!pwd) throw std::bad_alloc();
            request->password.assign(pwd, n);
            memset(pwd, 0, n);
            free(pwd);
        }
        request->explicit_user = true;
    }
    return 0;
}

// Everything after the request is built; the caller releases the context.
int gssapi_exchange(SpkConnection *conn, const SpkKrbProvider *provider, const SpkKrbRequest &request) {
    bool ad = conn->authentication == AUTH_AD;
    const char *step_failure = ad ? "Fails in ad_decode_auth_buffer" : "Fails in gss_decode_auth_buffer";

    conn->krb_context = new SpkKrbContext{provider, nullptr};
    std::string token;
    bool complete = false;
    if (provider->start(conn, request, &token, &complete) != 0) {
        spk_post_error(conn, "08001", 0, "Unable to obtain Kerberos token for principle '%S'", conn->krb_principle);
        return -1;
    }
    if (complete && provider->check(conn) != 0) return -1;

    static const char kMechanism[] = "GSSAPI";
    std::string frames;
    spk_sasl_frame(&frames, SASL_START, kMechanism, sizeof kMechanism - 1);
    spk_sasl_frame(&frames, SASL_OK, token.data(), token.size());
    SPK_LOG_DATA(conn, LOG_PKTDUMP, frames.data(), frames.size(), "Auth Buffer");
    if (write_gss_frame(conn, frames) != 0) return -1;

    // Context tokens until both sides are done.  Once the context is
    // complete the client always answers the server's last token (with an
    // empty one when it has nothing to say); the next non-empty message is
    // the security-layer offer.
    SaslFrame frame;
    bool answered_final = false;
    for (int round = 0;; round++) {
        if (round > 16) {
            spk_post_error(conn, "08S01", 0, "the server keeps sending Kerberos tokens");
            return -1;
        }
        if (read_gss_frame(conn, &frame, "Auth Buffer") != 0) return -1;
        if (frame.status != SASL_OK) return unexpected(conn, frame);
        if (complete && (answered_final || !frame.payload.empty())) break;
        if (!complete) {
            token.clear();
            if (provider->step(conn, frame.payload, &token, &complete) != 0) {
                spk_post_error(conn, "HY000", 0, step_failure);
                return -1;
            }
            if (complete && provider->check(conn) != 0) return -1;
        } else {
            token.clear();
        }
        if (send_gss_token(conn, token) != 0) return -1;
        answered_final = complete;
    }

    // The security layer: "no security layer", wrapped for integrity.
    std::string offer, choice, wrapped, reason;
    if (provider->unwrap(conn, frame.payload, &offer) != 0) return -1;
    if (spk_krb_choose_layer(offer, &choice, &reason) != 0) {
        SPK_LOG(conn, LOG_ERROR, "Krb5: %s", reason.c_str());
        spk_post_error(conn, "08001", 0, "Krb5: %s", reason.c_str());
        return -1;
    }
    if (provider->wrap(conn, choice, &wrapped) != 0) return -1;
    if (send_gss_token(conn, wrapped) != 0) return -1;

    unsigned char header[5];
    std::string error;
    if (spk_sasl_read(conn, header, sizeof header, &error) != 0) {
        SPK_LOG(conn, LOG_ERROR, "read fails: '%s'", error.c_str());
        spk_post_error(conn, "08001", 0, "read fails: '%s'", error.c_str());
        return -1;
    }
    SPK_LOG_DATA(conn, LOG_PKTDUMP, header, sizeof header, "Buffer");
    if (header[0] == SASL_COMPLETE) return 0;
    post_server_error(conn, header[0], get_be32(header + 1), "SASL Error response (%d,%u): %s");
    return -1;
}

}  // namespace

int spk_sasl_gssapi(SpkConnection *conn, const std::string &host) {
    SpkTransportGuard guard(conn);
    bool ad = conn->authentication == AUTH_AD;
    SPK_LOG(conn, LOG_DETAIL, ad ? "Sending Krb AD Auth" : "Sending Krb Auth");
    spk_krb_release(conn);

    int ret = -1;
    try {
        SpkKrbRequest request;
        if (build_request(conn, host, &request) == 0) {
            const SpkKrbProvider *provider = ad && spk_sspi_available() ? &spk_sspi_provider : &spk_gss_provider;
            SPK_LOG(conn, LOG_DETAIL, "Kerberos logon through %s", provider->name);
            ret = gssapi_exchange(conn, provider, request);
        }
    } catch (...) {
        spk_krb_release(conn);
        throw;
    }
    spk_krb_release(conn);
    return ret == 0 ? 1 : 0;
}
