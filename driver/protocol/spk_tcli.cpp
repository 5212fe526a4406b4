// The TCLIService calls: one request/reply exchange each, with the failure
// texts the driver reports, and the mapping of a server status into a
// diagnostic.
#include "spk_tcli.h"

#include <thrift/TApplicationException.h>
#include <thrift/TOutput.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/protocol/TProtocolException.h>
#include <thrift/transport/TTransportException.h>

#include <atomic>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>

#include "spk_log.h"
#include "spk_transport.h"

using apache::thrift::TApplicationException;
using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocol;
using apache::thrift::protocol::TProtocolException;
using apache::thrift::transport::TTransportException;

// ---------------------------------------------------------------------------
// Transport lock and the routing of Thrift's own messages

namespace {
thread_local SpkConnection *t_current_conn = nullptr;

// Captureless on purpose: Thrift keeps a plain function pointer.
void spk_thrift_output(const char *message) {
    SpkConnection *conn = t_current_conn;
    if (conn && message) SPK_LOG(conn, LOG_ERROR, "Thrift: %s", message);
}
}  // namespace

void spk_thrift_output_init() {
    static std::once_flag once;
    std::call_once(once, [] { apache::thrift::GlobalOutput.setOutputFunction(spk_thrift_output); });
}

SpkTransportGuard::SpkTransportGuard(SpkConnection *conn)
    : lock_(conn ? conn->transport_lock : nullptr), previous_(t_current_conn) {
    spk_thrift_output_init();
    if (lock_) lock_->lock();
    t_current_conn = conn;
}

SpkTransportGuard::~SpkTransportGuard() {
    t_current_conn = previous_;
    if (lock_) lock_->unlock();
}

// ---------------------------------------------------------------------------
// Names and status

namespace {

const char *status_code_name(int32_t code, char (&buffer)[16]) {
    switch (code) {
    case 0: return "T_STATUS_CODE_SUCCESS_STATUS";
    case 1: return "T_STATUS_CODE_SUCCESS_WITH_INFO_STATUS";
    case 2: return "T_STATUS_CODE_STILL_EXECUTING_STATUS";
    case 3: return "T_STATUS_CODE_ERROR_STATUS";
    case 4: return "T_STATUS_CODE_INVALID_HANDLE_STATUS";
    default: snprintf(buffer, sizeof buffer, "%d", (int)code); return buffer;
    }
}

struct NameEntry {
    int32_t value;
    const char *name;
};

const NameEntry kInfoTypeNames[] = {
    {0, "T_GET_INFO_TYPE_CLI_MAX_DRIVER_CONNECTIONS"},
    {1, "T_GET_INFO_TYPE_CLI_MAX_CONCURRENT_ACTIVITIES"},
    {2, "T_GET_INFO_TYPE_CLI_DATA_SOURCE_NAME"},
    {8, "T_GET_INFO_TYPE_CLI_FETCH_DIRECTION"},
    {13, "T_GET_INFO_TYPE_CLI_SERVER_NAME"},
    {14, "T_GET_INFO_TYPE_CLI_SEARCH_PATTERN_ESCAPE"},
    {17, "T_GET_INFO_TYPE_CLI_DBMS_NAME"},
    {18, "T_GET_INFO_TYPE_CLI_DBMS_VER"},
    {19, "T_GET_INFO_TYPE_CLI_ACCESSIBLE_TABLES"},
    {20, "T_GET_INFO_TYPE_CLI_ACCESSIBLE_PROCEDURES"},
    {23, "T_GET_INFO_TYPE_CLI_CURSOR_COMMIT_BEHAVIOR"},
    {25, "T_GET_INFO_TYPE_CLI_DATA_SOURCE_READ_ONLY"},
    {26, "T_GET_INFO_TYPE_CLI_DEFAULT_TXN_ISOLATION"},
    {28, "T_GET_INFO_TYPE_CLI_IDENTIFIER_CASE"},
    {29, "T_GET_INFO_TYPE_CLI_IDENTIFIER_QUOTE_CHAR"},
    {30, "T_GET_INFO_TYPE_CLI_MAX_COLUMN_NAME_LEN"},
    {31, "T_GET_INFO_TYPE_CLI_MAX_CURSOR_NAME_LEN"},
    {32, "T_GET_INFO_TYPE_CLI_MAX_SCHEMA_NAME_LEN"},
    {34, "T_GET_INFO_TYPE_CLI_MAX_CATALOG_NAME_LEN"},
    {35, "T_GET_INFO_TYPE_CLI_MAX_TABLE_NAME_LEN"},
    {43, "T_GET_INFO_TYPE_CLI_SCROLL_CONCURRENCY"},
    {46, "T_GET_INFO_TYPE_CLI_TXN_CAPABLE"},
    {47, "T_GET_INFO_TYPE_CLI_USER_NAME"},
    {72, "T_GET_INFO_TYPE_CLI_TXN_ISOLATION_OPTION"},
    {73, "T_GET_INFO_TYPE_CLI_INTEGRITY"},
    {81, "T_GET_INFO_TYPE_CLI_GETDATA_EXTENSIONS"},
    {85, "T_GET_INFO_TYPE_CLI_NULL_COLLATION"},
    {86, "T_GET_INFO_TYPE_CLI_ALTER_TABLE"},
    {90, "T_GET_INFO_TYPE_CLI_ORDER_BY_COLUMNS_IN_SELECT"},
    {94, "T_GET_INFO_TYPE_CLI_SPECIAL_CHARACTERS"},
    {97, "T_GET_INFO_TYPE_CLI_MAX_COLUMNS_IN_GROUP_BY"},
    {98, "T_GET_INFO_TYPE_CLI_MAX_COLUMNS_IN_INDEX"},
    {99, "T_GET_INFO_TYPE_CLI_MAX_COLUMNS_IN_ORDER_BY"},
    {100, "T_GET_INFO_TYPE_CLI_MAX_COLUMNS_IN_SELECT"},
    {101, "T_GET_INFO_TYPE_CLI_MAX_COLUMNS_IN_TABLE"},
    {102, "T_GET_INFO_TYPE_CLI_MAX_INDEX_SIZE"},
    {104, "T_GET_INFO_TYPE_CLI_MAX_ROW_SIZE"},
    {105, "T_GET_INFO_TYPE_CLI_MAX_STATEMENT_LEN"},
    {106, "T_GET_INFO_TYPE_CLI_MAX_TABLES_IN_SELECT"},
    {107, "T_GET_INFO_TYPE_CLI_MAX_USER_NAME_LEN"},
    {115, "T_GET_INFO_TYPE_CLI_OJ_CAPABILITIES"},
    {10000, "T_GET_INFO_TYPE_CLI_XOPEN_CLI_YEAR"},
    {10001, "T_GET_INFO_TYPE_CLI_CURSOR_SENSITIVITY"},
    {10002, "T_GET_INFO_TYPE_CLI_DESCRIBE_PARAMETER"},
    {10003, "T_GET_INFO_TYPE_CLI_CATALOG_NAME"},
    {10004, "T_GET_INFO_TYPE_CLI_COLLATION_SEQ"},
    {10005, "T_GET_INFO_TYPE_CLI_MAX_IDENTIFIER_LEN"},
    {10006, "T_GET_INFO_TYPE_CLI_ODBC_KEYWORDS"},
};

const char *const kTypeIdNames[] = {
    "T_TYPE_ID_BOOLEAN_TYPE",   "T_TYPE_ID_TINYINT_TYPE",
    "T_TYPE_ID_SMALLINT_TYPE",  "T_TYPE_ID_INT_TYPE",
    "T_TYPE_ID_BIGINT_TYPE",    "T_TYPE_ID_FLOAT_TYPE",
    "T_TYPE_ID_DOUBLE_TYPE",    "T_TYPE_ID_STRING_TYPE",
    "T_TYPE_ID_TIMESTAMP_TYPE", "T_TYPE_ID_BINARY_TYPE",
    "T_TYPE_ID_ARRAY_TYPE",     "T_TYPE_ID_MAP_TYPE",
    "T_TYPE_ID_STRUCT_TYPE",    "T_TYPE_ID_UNION_TYPE",
    "T_TYPE_ID_USER_DEFINED_TYPE", "T_TYPE_ID_DECIMAL_TYPE",
    "T_TYPE_ID_NULL_TYPE",      "T_TYPE_ID_DATE_TYPE",
    "T_TYPE_ID_VARCHAR_TYPE",   "T_TYPE_ID_CHAR_TYPE",
    "T_TYPE_ID_INTERVAL_YEAR_MONTH_TYPE", "T_TYPE_ID_INTERVAL_DAY_TIME_TYPE",
    "T_TYPE_ID_TIMESTAMPLOCALTZ_TYPE",
};

}  // namespace

const char *spk_info_type_name(int32_t info_type, char (&buffer)[16]) {
    for (const NameEntry &e : kInfoTypeNames)
        if (e.value == info_type) return e.name;
    snprintf(buffer, sizeof buffer, "%d", (int)info_type);
    return buffer;
}

const char *spk_type_id_name(int32_t type_id, char (&buffer)[16]) {
    if (type_id >= 0 && type_id < (int32_t)(sizeof kTypeIdNames / sizeof kTypeIdNames[0]))
        return kTypeIdNames[type_id];
    snprintf(buffer, sizeof buffer, "%d", (int)type_id);
    return buffer;
}

void spk_status_info(const tcli::TStatus &status, SpkStatusInfo *out) {
    out->status_code = (int32_t)status.statusCode;
    out->sql_state = status.__isset.sqlState ? status.sqlState.c_str() : nullptr;
    out->has_error_code = status.__isset.errorCode ? 1 : 0;
    out->error_code = status.__isset.errorCode ? status.errorCode : 0;
    out->error_message = status.__isset.errorMessage ? status.errorMessage.c_str() : nullptr;
}

short spk_post_tstatus(void *handle, const tcli::TStatus &status) {
    SpkStatusInfo info;
    spk_status_info(status, &info);
    return spk_post_status(handle, &info);
}

bool spk_tcli_broken(const SpkConnection *conn) {
    return conn && conn->transport_stack && conn->transport_stack->broken;
}

// ---------------------------------------------------------------------------
// One exchange

namespace {

// How one call reports a failed exchange.
struct CallText {
    const char *name;        // the operation, as it goes on the wire
    const char *log_format;  // ERROR trace record, one %s for the error text
    const char *post_format; // HY000 diagnostic, one %s; null: post nothing
};

const CallText kOpenSession = {"OpenSession", "open session: '%s'", "open session: '%s'"};
const CallText kCloseSession = {"CloseSession", "close connecting fails: '%s'", nullptr};
const CallText kGetInfo = {"GetInfo", "get info fails: '%s'", "t_c_l_i_service_if_get_info fails: '%s'"};
const CallText kExecuteStatement = {"ExecuteStatement", "t_c_l_i_service_if_execute_statement fails: '%s'",
                                    "t_c_l_i_service_if_execute_statement fails: '%s'"};
const CallText kGetCatalogs = {"GetCatalogs", "t_c_l_i_service_if_get_catalogs fails: '%s'",
                               "t_c_l_i_service_if_get_catalogs fails: '%s'"};
const CallText kGetSchemas = {"GetSchemas", "t_c_l_i_service_if_get_schemas fails: '%s'",
                              "t_c_l_i_service_if_get_schemas fails: '%s'"};
const CallText kGetTables = {"GetTables", "t_c_l_i_service_if_get_tables fails: '%s'",
                             "t_c_l_i_service_if_get_tables fails: '%s'"};
const CallText kGetColumns = {"GetColumns", "t_c_l_i_service_if_get_columns fails: '%s'",
                              "t_c_l_i_service_if_get_columns fails: '%s'"};
const CallText kGetFunctions = {"GetFunctions", "t_c_l_i_service_if_get_functions fails: '%s'",
                                "t_c_l_i_service_if_get_functions fails: '%s'"};
const CallText kGetCrossReference = {"GetCrossReference", "t_c_l_i_service_if_get_cross_reference fails: '%s'",
                                     "t_c_l_i_service_if_get_cross_reference fails: '%s'"};
const CallText kCloseOperation = {"CloseOperation", "t_c_l_i_service_if_close_operation fails: '%s'", nullptr};
const CallText kGetResultSetMetadata = {"GetResultSetMetadata",
                                        "t_c_l_i_service_if_get_result_set_metadata faile: '%s'",
                                        "t_c_l_i_service_if_get_result_set_metadata faile: '%s'"};
const CallText kFetchResults = {"FetchResults", "t_c_l_i_service_if_fetch_results fails: '%s'",
                                "t_c_l_i_service_if_fetch_results fails: '%s'"};
// A request sent ahead: its failure is only traced (the call that needs the
// rows reports the broken connection).
const CallText kFetchResultsAhead = {"FetchResults", "t_c_l_i_service_if_fetch_results fails: '%s'", nullptr};
const CallText kGetOperationStatus = {"GetOperationStatus", "t_c_l_i_service_if_get_operation_status fails: '%s'",
                                      "t_c_l_i_service_if_get_operation_status fails: '%s'"};
const CallText kCancelOperation = {"CancelOperation", "t_c_l_i_service_if_cancel_operation fails: '%s'",
                                   "t_c_l_i_service_if_cancel_operation fails: '%s'"};

// The text of a failed exchange.  A required field missing from a reply
// shows as Thrift's bare INVALID_DATA protocol exception.
std::string protocol_error_text(const TProtocolException &e) {
    if (e.getType() == TProtocolException::INVALID_DATA && e.what() &&
        strcmp(e.what(), "TProtocolException: Invalid data") == 0)
        return "missing field";
    return e.what();
}

// Closes the transport of a connection whose stream can no longer be trusted.
void mark_broken(SpkConnection *conn, const std::string &reason) {
    SpkTransportStack *st = conn->transport_stack;
    if (!st || st->broken) return;
    st->broken = true;
    st->broken_reason = reason;
    // SQL_ATTR_CONNECTION_DEAD may be asked from another thread.
    std::atomic_ref<int32_t>(conn->link_lost).store(1);
    // The socket itself: closing the framing transport would flush it first.
    try {
        if (st->base_transport) st->base_transport->close();
    } catch (...) {
    }
}

// Fails a call on a connection that has no usable transport.
int fail_unusable(void *h, SpkConnection *conn, const CallText &call) {
    SpkTransportStack *st = conn ? conn->transport_stack : nullptr;
    if (st && st->broken) {
        SPK_LOG(h, LOG_ERROR, "%s: the connection to the server was lost earlier: '%s'", call.name,
                st->broken_reason.c_str());
        if (call.post_format)
            spk_post_error(h, "08S01", 0, "the connection to the server was lost earlier: '%s'",
                           st->broken_reason.c_str());
    } else {
        SPK_LOG(h, LOG_ERROR, "%s: not connected to the server", call.name);
        if (call.post_format) spk_post_error(h, "08S01", 0, "not connected to the server");
    }
    return -1;
}

// What went wrong in an exchange.
struct Failure {
    std::string error;
    // A failure of the link or of the stream: the connection is gone.
    const char *sqlstate = "08S01";
    bool stream_in_step = false;
    bool out_of_memory = false;
};

// Each exchange has its own deadline once the logon is over (the logon has
// one for all of it).
void start_deadline(SpkTransportStack *st) {
    if (!st->logging_in)
        st->deadline_ms = st->request_timeout_ms > 0 ? spk_monotonic_ms() + st->request_timeout_ms : 0;
    if (st->net_socket) st->net_socket->set_timeout_sqlstate(st->logging_in ? "HYT00" : "HYT01");
}

// Runs one step of an exchange, turning what it throws into *f.
template <class Step> bool guarded(Failure *f, Step &&step) {
    try {
        return step();
    } catch (const TProtocolException &e) {
        f->error = protocol_error_text(e);
    } catch (const SpkTransportError &e) {
        // The transport knows what went wrong (a refused login, a timeout, ...).
        f->error = e.what();
        f->sqlstate = e.sqlstate();
    } catch (const std::bad_alloc &) {
        f->out_of_memory = true;
        f->error = "out of memory";
    } catch (const std::exception &e) {
        f->error = e.what();
    } catch (...) {
        f->error = "unknown failure";
    }
    return false;
}

// Writes `req` as the operation's call message and flushes it.
template <class PArgs, class Req> bool write_call(SpkTransportStack *st, const CallText &call, const Req &req, Failure *f) {
    return guarded(f, [&] {
        TProtocol *p = st->protocol.get();
        p->writeMessageBegin(call.name, apache::thrift::protocol::T_CALL, 0);
        PArgs args;
        args.req = &req;
        args.write(p);
        p->writeMessageEnd();
        p->getTransport()->writeEnd();
        p->getTransport()->flush();
        return true;
    });
}

// The result of a FetchResults reply, read column by column (spk_batch.h)
// instead of by the generated reader.
struct FetchPresult {
    SpkFetchReply *success = nullptr;
    int32_t string_limit = 0;
    struct {
        bool success = false;
    } __isset;
    void read(TProtocol *p) { __isset.success = spk_batch_read_result(p, string_limit, success); }
};

template <class PResult> void prepare_result(PResult &, const SpkTransportStack *) {}
void prepare_result(FetchPresult &r, const SpkTransportStack *st) {
    r.string_limit = st->config ? st->config->getMaxMessageSize() : SPK_MAX_MESSAGE_SIZE;
}

// Reads the reply of the call into `resp`.
template <class PResult, class Resp> bool read_reply(SpkTransportStack *st, const CallText &call, Resp *resp, Failure *f) {
    return guarded(f, [&] {
        TProtocol *p = st->protocol.get();
        std::string name;
        TMessageType type;
        int32_t seqid = 0;
        p->readMessageBegin(name, type, seqid);
        if (type == apache::thrift::protocol::T_EXCEPTION) {
            TApplicationException x;
            x.read(p);
            p->readMessageEnd();
            p->getTransport()->readEnd();
            // A whole message came back: the stream is still in step.
            f->error = std::string("application error: ") + x.what();
            f->sqlstate = "HY000";
            f->stream_in_step = true;
            return false;
        }
        if (type != apache::thrift::protocol::T_REPLY) {
            char text[64];
            snprintf(text, sizeof text, "invalid message type %d, expected T_REPLY", (int)type);
            f->error = text;
            return false;
        }
        if (name != call.name) {
            f->error = "wrong method name " + name + ", expected " + call.name;
            return false;
        }
        PResult result;
        result.success = resp;
        prepare_result(result, st);
        result.read(p);
        p->readMessageEnd();
        p->getTransport()->readEnd();
        if (result.__isset.success) return true;
        f->error = std::string(call.name) + " failed: unknown result";
        return false;
    });
}

// Traces and (unless the call posts nothing) posts a failed exchange on `h`;
// a stream out of step marks the connection broken.  Always -1.
int fail_exchange(void *h, SpkConnection *conn, const CallText &call, Failure &f) {
    SpkTransportStack *st = conn->transport_stack;
    // During the logon a failure means the connection could not be made.
    if (st && st->logging_in && (strcmp(f.sqlstate, "08S01") == 0 || strcmp(f.sqlstate, "HY000") == 0))
        f.sqlstate = "08001";
    SPK_LOG(h, LOG_ERROR, call.log_format, f.error.c_str());
    if (call.post_format) spk_post_error(h, f.out_of_memory ? "HY001" : f.sqlstate, 0, call.post_format, f.error.c_str());
    if (!f.stream_in_step) mark_broken(conn, f.error);
    return -1;
}

// Reads the reply of the oldest request in flight into `resp`.  0, or -1
// with the failure posted on `h` (nothing is in flight after that).
int read_in_flight(void *h, SpkConnection *conn, const CallText &call, SpkFetchReply *resp) {
    SpkTransportStack *st = conn->transport_stack;
    st->in_flight--;
    Failure f;
    start_deadline(st);
    if (read_reply<FetchPresult>(st, call, resp, &f)) return 0;
    st->in_flight = 0;
    return fail_exchange(h, conn, call, f);
}

// FetchResults sent ahead of need may still have their replies on the
// wire: they are read first, in order, and kept for their owner, so that no
// other message is mixed up with them.  0, or -1 with the failure posted on
// `h`.
int drain_prefetch(void *h, SpkConnection *conn, const CallText &call = kFetchResults) {
    SpkTransportStack *st = conn->transport_stack;
    while (st->in_flight > 0) {
        auto resp = std::make_unique<SpkFetchReply>();
        if (read_in_flight(h, conn, call, resp.get()) != 0) return -1;
        st->parked.emplace_back(st->in_flight_owner, std::move(resp));
    }
    return 0;
}

// FETCH_NEXT of up to `max_rows` rows of `op`.
tcli::TFetchResultsReq fetch_request(const tcli::TOperationHandle &op, int64_t max_rows) {
    tcli::TFetchResultsReq req;
    req.operationHandle = op;
    req.orientation = tcli::TFetchOrientation::FETCH_NEXT;
    req.maxRows = max_rows;
    return req;
}

// Sends `req` as the operation's call message and reads the reply into
// `resp`.  0, or -1 with the failure traced and (unless the call posts
// nothing) posted on `h`; the connection is then marked broken unless a
// whole reply came back.
template <class PArgs, class PResult, class Req, class Resp>
int exchange(void *h, SpkConnection *conn, const CallText &call, const Req &req, Resp *resp) {
    SpkTransportStack *st = conn ? conn->transport_stack : nullptr;
    if (!st || !st->protocol || st->broken) return fail_unusable(h, conn, call);
    if (drain_prefetch(h, conn) != 0) return -1;
    Failure f;
    start_deadline(st);
    if (write_call<PArgs>(st, call, req, &f) && read_reply<PResult>(st, call, resp, &f)) return 0;
    return fail_exchange(h, conn, call, f);
}

// Traces a reply's status; 0 when it is SUCCESS, else posts it and -1.
int check_status(void *h, const tcli::TStatus &status) {
    char buffer[16];
    SPK_LOG(h, LOG_DETAIL, "Status %d %s", (int)status.statusCode, status_code_name(status.statusCode, buffer));
    if (status.statusCode == tcli::TStatusCode::SUCCESS_STATUS) return 0;
    spk_post_tstatus(h, status);
    return -1;
}

void trace_status(void *h, const tcli::TStatus &status) {
    char buffer[16];
    SPK_LOG(h, LOG_DETAIL, "Status %d %s", (int)status.statusCode, status_code_name(status.statusCode, buffer));
}

// Status check and operation handle of an operation-creating call.
template <class Resp>
int take_operation(void *h, const Resp &resp, const char *missing_text, tcli::TOperationHandle *op) {
    if (check_status(h, resp.status) != 0) return -1;
    if (!resp.__isset.operationHandle) {
        SPK_LOG(h, LOG_ERROR, "%s", missing_text);
        spk_post_error(h, "HY000", 0, "%s", missing_text);
        return -1;
    }
    if (op) *op = resp.operationHandle;
    return 0;
}

// The session handle a statement-level call goes out with.  Null (with the
// failure posted) when the connection has no session.
const tcli::TSessionHandle *session_of(void *h, SpkConnection *conn, const CallText &call) {
    SpkTransportStack *st = conn ? conn->transport_stack : nullptr;
    if (st && !st->broken && st->session_handle) return st->session_handle.get();
    fail_unusable(h, conn, call);
    return nullptr;
}

// Runs one operation-creating call: session handle, exchange, status, handle.
template <class PArgs, class PResult, class Req, class Resp>
int operation_call(void *h, const CallText &call, Req &req, const char *missing_text, tcli::TOperationHandle *op) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn) return -1;
    SpkTransportGuard guard(conn);
    const tcli::TSessionHandle *session = session_of(h, conn, call);
    if (!session) return -1;
    req.sessionHandle = *session;
    Resp resp;
    if (exchange<PArgs, PResult>(h, conn, call, req, &resp) != 0) return -1;
    return take_operation(h, resp, missing_text, op);
}

}  // namespace

// ---------------------------------------------------------------------------
// Session

int spk_tcli_open_session(SpkConnection *conn) {
    SpkTransportGuard guard(conn);
    tcli::TOpenSessionReq req;
    req.client_protocol = tcli::TProtocolVersion::HIVE_CLI_SERVICE_PROTOCOL_V10;
    std::map<std::string, std::string> configuration;
    configuration["UseNativeQuery"] = "0";
    configuration["UseProxy"] = "0";
    // The server holds a status poll of a running statement until it ends or
    // this passes (5 s by default); a short hold lets a cancel or a query
    // timeout go out promptly.
    configuration["hive.server2.long.polling.timeout"] = "200ms";
    // The session opens in the database the settings name.
    if (conn->database && spk_str_length(conn->database) > 0) {
        size_t n = 0;
        char *db = spk_str_to_utf8_n(conn->database, &n);
        if (!db) {
            spk_post_error(conn, "HY001", 0, nullptr);
            return -1;
        }
        configuration["use:database"] = std::string(db, n);
        free(db);
    }
    req.__set_configuration(configuration);

    tcli::TOpenSessionResp resp;
    if (exchange<tcli::TCLIService_OpenSession_pargs, tcli::TCLIService_OpenSession_presult>(conn, conn, kOpenSession,
                                                                                           req, &resp) != 0)
        return -1;
    if (!resp.__isset.sessionHandle) {
        SPK_LOG(conn, LOG_ERROR, "failed to get session handle");
        spk_post_error(conn, "08001", 0, "failed to get session handle");
        // The server's own reason, when it gave one, is worth more than ours.
        if (resp.status.statusCode != tcli::TStatusCode::SUCCESS_STATUS &&
            resp.status.statusCode != tcli::TStatusCode::SUCCESS_WITH_INFO_STATUS &&
            resp.status.__isset.errorMessage)
            spk_post_tstatus(conn, resp.status);
        return -1;
    }
    conn->transport_stack->session_handle = std::make_shared<tcli::TSessionHandle>(resp.sessionHandle);
    return 0;
}

int spk_tcli_close_session(SpkConnection *conn) {
    SpkTransportGuard guard(conn);
    SpkTransportStack *st = conn->transport_stack;
    if (!st || !st->session_handle) return 0;
    tcli::TCloseSessionReq req;
    req.sessionHandle = *st->session_handle;
    tcli::TCloseSessionResp resp;
    if (exchange<tcli::TCLIService_CloseSession_pargs, tcli::TCLIService_CloseSession_presult>(conn, conn,
                                                                                             kCloseSession, req,
                                                                                             &resp) != 0)
        return -1;
    st->session_handle.reset();
    return 0;
}

int spk_tcli_get_info(SpkConnection *conn, int32_t info_type, std::string *text, bool *has_text) {
    if (has_text) *has_text = false;
    SpkTransportGuard guard(conn);
    const tcli::TSessionHandle *session = session_of(conn, conn, kGetInfo);
    if (!session) return -1;
    tcli::TGetInfoReq req;
    req.sessionHandle = *session;
    req.infoType = info_type;
    tcli::TGetInfoResp resp;
    if (exchange<tcli::TCLIService_GetInfo_pargs, tcli::TCLIService_GetInfo_presult>(conn, conn, kGetInfo, req,
                                                                                   &resp) != 0)
        return -1;
    if (check_status(conn, resp.status) != 0) return -1;
    if (resp.infoValue.__isset.stringValue) {
        if (text) *text = resp.infoValue.stringValue;
        if (has_text) *has_text = true;
    }
    return 0;
}

// ---------------------------------------------------------------------------
// Operation-creating calls

int spk_tcli_execute_statement(void *h, const std::string &sql_utf8, tcli::TOperationHandle *op, bool run_async,
                               int64_t query_timeout) {
    tcli::TExecuteStatementReq req;
    req.statement = sql_utf8;
    if (run_async) req.__set_runAsync(true);
    if (query_timeout > 0) req.__set_queryTimeout(query_timeout);
    return operation_call<tcli::TCLIService_ExecuteStatement_pargs, tcli::TCLIService_ExecuteStatement_presult,
                          tcli::TExecuteStatementReq, tcli::TExecuteStatementResp>(
        h, kExecuteStatement, req, "Failed to get query handle", op);
}

int spk_tcli_get_catalogs(void *h, tcli::TOperationHandle *op) {
    tcli::TGetCatalogsReq req;
    return operation_call<tcli::TCLIService_GetCatalogs_pargs, tcli::TCLIService_GetCatalogs_presult,
                          tcli::TGetCatalogsReq, tcli::TGetCatalogsResp>(
        h, kGetCatalogs, req, "Failed to get catalogs operation handle", op);
}

int spk_tcli_get_schemas(void *h, tcli::TOperationHandle *op) {
    tcli::TGetSchemasReq req;
    return operation_call<tcli::TCLIService_GetSchemas_pargs, tcli::TCLIService_GetSchemas_presult,
                          tcli::TGetSchemasReq, tcli::TGetSchemasResp>(
        h, kGetSchemas, req, "Failed to get schemas operation handle", op);
}

int spk_tcli_get_tables(void *h, tcli::TGetTablesReq &req, tcli::TOperationHandle *op) {
    return operation_call<tcli::TCLIService_GetTables_pargs, tcli::TCLIService_GetTables_presult,
                          tcli::TGetTablesReq, tcli::TGetTablesResp>(
        h, kGetTables, req, "Failed to get tables operation handle", op);
}

int spk_tcli_get_columns(void *h, tcli::TGetColumnsReq &req, tcli::TOperationHandle *op) {
    return operation_call<tcli::TCLIService_GetColumns_pargs, tcli::TCLIService_GetColumns_presult,
                          tcli::TGetColumnsReq, tcli::TGetColumnsResp>(
        h, kGetColumns, req, "Failed to get columns operation handle", op);
}

int spk_tcli_get_functions(void *h, tcli::TGetFunctionsReq &req, tcli::TOperationHandle *op) {
    return operation_call<tcli::TCLIService_GetFunctions_pargs, tcli::TCLIService_GetFunctions_presult,
                          tcli::TGetFunctionsReq, tcli::TGetFunctionsResp>(
        h, kGetFunctions, req, "Failed to get functions operation handle", op);
}

int spk_tcli_get_cross_reference(void *h, tcli::TGetCrossReferenceReq &req, tcli::TOperationHandle *op) {
    if (!req.__isset.parentSchemaName) req.__set_parentSchemaName("default");
    if (!req.__isset.foreignSchemaName) req.__set_foreignSchemaName("default");
    return operation_call<tcli::TCLIService_GetCrossReference_pargs, tcli::TCLIService_GetCrossReference_presult,
                          tcli::TGetCrossReferenceReq, tcli::TGetCrossReferenceResp>(
        h, kGetCrossReference, req, "Failed to get cross_reference operation handle", op);
}

// ---------------------------------------------------------------------------
// Calls on an operation

int spk_tcli_close_operation(void *h, const tcli::TOperationHandle &op) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn) return -1;
    SpkTransportGuard guard(conn);
    tcli::TCloseOperationReq req;
    req.operationHandle = op;
    tcli::TCloseOperationResp resp;
    if (exchange<tcli::TCLIService_CloseOperation_pargs, tcli::TCLIService_CloseOperation_presult>(
            h, conn, kCloseOperation, req, &resp) != 0)
        return -1;
    trace_status(h, resp.status);
    return 0;
}

int spk_tcli_get_result_set_metadata(void *h, const tcli::TOperationHandle &op,
                                     tcli::TGetResultSetMetadataResp *resp) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn || !resp) return -1;
    SpkTransportGuard guard(conn);
    tcli::TGetResultSetMetadataReq req;
    req.operationHandle = op;
    if (exchange<tcli::TCLIService_GetResultSetMetadata_pargs, tcli::TCLIService_GetResultSetMetadata_presult>(
            h, conn, kGetResultSetMetadata, req, resp) != 0)
        return -1;
    trace_status(h, resp->status);
    return 0;
}

namespace {
// A fetch's status is traced; an error or invalid-handle status is posted
// and fails, so that a failing fetch is never taken for the end of the data.
int fetch_status(void *h, const SpkFetchReply &resp) {
    trace_status(h, resp.status);
    if (resp.status.statusCode == tcli::TStatusCode::ERROR_STATUS ||
        resp.status.statusCode == tcli::TStatusCode::INVALID_HANDLE_STATUS) {
        spk_post_tstatus(h, resp.status);
        return -1;
    }
    return 0;
}
}  // namespace

int spk_tcli_fetch_results(void *h, const tcli::TOperationHandle &op, int64_t max_rows, SpkFetchReply *resp) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn || !resp) return -1;
    SpkTransportGuard guard(conn);
    if (exchange<tcli::TCLIService_FetchResults_pargs, FetchPresult>(h, conn, kFetchResults,
                                                                     fetch_request(op, max_rows), resp) != 0)
        return -1;
    return fetch_status(h, *resp);
}

int spk_tcli_fetch_results_send(void *h, const void *owner, const tcli::TOperationHandle &op, int64_t max_rows) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn) return -1;
    SpkTransportGuard guard(conn);
    SpkTransportStack *st = conn->transport_stack;
    if (!st || !st->protocol || st->broken) return fail_unusable(h, conn, kFetchResultsAhead);
    // Requests of one operation may queue up behind each other; another's
    // replies are read off the wire first.
    if (st->in_flight > 0 && st->in_flight_owner != owner && drain_prefetch(h, conn, kFetchResultsAhead) != 0)
        return -1;
    Failure f;
    start_deadline(st);
    if (!write_call<tcli::TCLIService_FetchResults_pargs>(st, kFetchResultsAhead, fetch_request(op, max_rows), &f))
        return fail_exchange(h, conn, kFetchResultsAhead, f);
    st->in_flight_owner = owner;
    st->in_flight++;
    return 0;
}

int spk_tcli_fetch_ahead_depth(void *h) {
    SpkConnection *conn = spk_conn_of(h);
    SpkTransportStack *st = conn ? conn->transport_stack : nullptr;
    // Over HTTP each request waits for its reply (no pipelining).
    return st && !st->http_socket ? 2 : 1;
}

int spk_tcli_fetch_results_recv(void *h, const void *owner, SpkFetchReply *resp) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn || !resp) return -1;
    SpkTransportGuard guard(conn);
    SpkTransportStack *st = conn->transport_stack;
    if (!st || !st->protocol) return fail_unusable(h, conn, kFetchResults);
    for (auto it = st->parked.begin(); it != st->parked.end(); ++it) {
        if (it->first != owner) continue;
        *resp = std::move(*it->second);
        st->parked.erase(it);
        return fetch_status(h, *resp);
    }
    if (st->broken || st->in_flight == 0 || st->in_flight_owner != owner) return fail_unusable(h, conn, kFetchResults);
    if (read_in_flight(h, conn, kFetchResults, resp) != 0) return -1;
    return fetch_status(h, *resp);
}

void spk_tcli_fetch_forget(void *h, const void *owner) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn) return;
    SpkTransportGuard guard(conn);
    SpkTransportStack *st = conn->transport_stack;
    if (!st) return;
    // Replies still on the wire are read off it (and so parked), then dropped.
    if (st->in_flight_owner == owner) {
        if (!st->broken) drain_prefetch(h, conn);
        st->in_flight = 0;
    }
    for (auto it = st->parked.begin(); it != st->parked.end();)
        it = it->first == owner ? st->parked.erase(it) : it + 1;
}

int spk_tcli_get_operation_status(void *h, const tcli::TOperationHandle &op,
                                  tcli::TGetOperationStatusResp *resp) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn || !resp) return -1;
    SpkTransportGuard guard(conn);
    tcli::TGetOperationStatusReq req;
    req.operationHandle = op;
    if (exchange<tcli::TCLIService_GetOperationStatus_pargs, tcli::TCLIService_GetOperationStatus_presult>(
            h, conn, kGetOperationStatus, req, resp) != 0)
        return -1;
    return check_status(h, resp->status);
}

int spk_tcli_cancel_operation(void *h, const tcli::TOperationHandle &op) {
    SpkConnection *conn = spk_conn_of(h);
    if (!conn) return -1;
    SpkTransportGuard guard(conn);
    tcli::TCancelOperationReq req;
    req.operationHandle = op;
    tcli::TCancelOperationResp resp;
    if (exchange<tcli::TCLIService_CancelOperation_pargs, tcli::TCLIService_CancelOperation_presult>(
            h, conn, kCancelOperation, req, &resp) != 0)
        return -1;
    trace_status(h, resp.status);
    return resp.status.statusCode == tcli::TStatusCode::SUCCESS_STATUS ? 0 : -1;
}

// ---------------------------------------------------------------------------

namespace {
// Set by tests only; 0: the connection's own limit.
std::atomic<int> g_max_message_size{0};
std::atomic<int> g_max_frame_size{0};
}  // namespace

void spk_transport_set_limits(int max_message_size, int max_frame_size) {
    g_max_message_size = max_message_size > 0 ? max_message_size : 0;
    g_max_frame_size = max_frame_size > 0 ? max_frame_size : 0;
}

std::shared_ptr<apache::thrift::TConfiguration> spk_transport_config(int max_message_size) {
    int message = max_message_size > 0 ? max_message_size : SPK_MAX_MESSAGE_SIZE;
    int frame = max_message_size > 0 ? max_message_size : SPK_MAX_FRAME_SIZE;
    if (g_max_message_size > 0) message = g_max_message_size;
    if (g_max_frame_size > 0) frame = g_max_frame_size;
    return std::make_shared<apache::thrift::TConfiguration>(message, frame);
}

std::shared_ptr<TProtocol> spk_transport_protocol(std::shared_ptr<apache::thrift::transport::TTransport> transport,
                                                  const std::shared_ptr<apache::thrift::TConfiguration> &config) {
    int32_t string_limit = config ? config->getMaxMessageSize() : SPK_MAX_MESSAGE_SIZE;
    return std::make_shared<apache::thrift::protocol::TBinaryProtocol>(std::move(transport), string_limit,
                                                                       (int32_t)SPK_MAX_CONTAINER_SIZE, true, true);
}

void spk_transport_stack_free(SpkConnection *conn) {
    if (!conn || !conn->transport_stack) return;
    SpkTransportStack *st = conn->transport_stack;
    conn->transport_stack = nullptr;
    try {
        if (st->base_transport && st->base_transport->isOpen()) st->base_transport->close();
    } catch (...) {
    }
    // Released in the order they were built on top of each other.
    st->client.reset();
    st->protocol.reset();
    st->transport.reset();
    st->base_transport.reset();
    st->http_socket.reset();
    st->socket.reset();
    st->session_handle.reset();
    delete st;
}
