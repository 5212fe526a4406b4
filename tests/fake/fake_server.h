// A scriptable TCLIService server for tests, in process, on 127.0.0.1 and a
// port chosen by the system.
//
//   tarn_fake::FakeServer srv;                      // SASL PLAIN, then frames
//   tarn_fake::FakeServer plain(tarn_fake::Framing::NoSasl);
//   conn->port = srv.port();
//
// Every call has a sensible default answer, modelled on the Spark Thrift
// server (OpenSession hands out a session; GetInfo answers "Spark SQL" for
// the server and DBMS names and "4.0.1" for the version, and, like the real
// server, drops the connection for any other item; ExecuteStatement and the metadata
// calls open an operation whose result the tests can script, FetchResults
// slices that result by maxRows, ...).  A test changes an answer with a hook
// that receives the request and the default response and may edit it:
//
//   srv.handlers().GetInfo = [](const tcli::TGetInfoReq &, tcli::TGetInfoResp &r) {
//       r.status = tarn_fake::error_status("no such info");
//   };
//
// and breaks the transport of the next request of a call with a fault:
//
//   srv.fail_next("ExecuteStatement", tarn_fake::Fault::DropMidReply);
//
// Every request is recorded with its exact bytes (records()), and so is each
// SASL frame the client sends.  Hooks and scripts may be changed between the
// client's calls; a hook runs on the server's connection thread.
//
// The parts stand apart so that other front ends (HTTP, TLS) can reuse the
// dispatch: handle_message() turns one request message into a reply.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "TCLIService_types.h"

namespace apache::thrift::protocol {
class TProtocol;
}

namespace tarn_fake {

enum class Framing {
    Sasl,     // SASL negotiation (PLAIN), then 4-byte big-endian length frames
    NoSasl,   // the plain binary protocol, no frames
};

// What the server does with the reply of one request.
enum class Fault {
    None,
    AppException,      // a T_EXCEPTION message: TApplicationException(`text`, type `value`)
    WrongMessageType,  // the normal reply under message type `value` (default T_CALL = 1)
    WrongName,         // the normal reply under the name `text`
    Drop,              // close the connection without answering
    DropMidReply,      // send the first half of the reply's bytes, then close
    Garbage,           // send the bytes `text` as they are (no frame), then close
    Raw,               // answer with the message bytes `text` (framed like any reply)
    Silent,            // never answer; keep reading
    Delay,             // answer normally after `value` milliseconds
    Drip,              // send the reply one byte every `value` milliseconds
};

struct FaultSpec {
    Fault kind = Fault::None;
    std::string text;
    int value = 0;
};

// One recorded client message.
struct Record {
    int connection = 0;     // 1 for the first accepted connection, 2 for the next, ...
    std::string name;       // call name, or "SASL" for a negotiation frame
    int type = 0;           // Thrift message type, or the SASL status byte
    std::string message;    // the Thrift message, or the whole SASL frame
    std::string wire;       // exactly the bytes read for it (frame length included)
};

// The server side of the SASL negotiation.
struct SaslScript {
    int status = 5;               // status byte of the answer to the PLAIN frame (5: COMPLETE)
    std::string payload;          // its payload
    std::string raw;              // when not empty, sent instead of the answer frame
    bool drop = false;            // close the connection instead of answering
    bool drop_on_accept = false;  // close each connection as soon as it is accepted
    // Decides a PLAIN logon: false answers BAD "Error validating the login".
    std::function<bool(const std::string &user, const std::string &password)> check;
    // Runs the GSSAPI mechanism after its START frame (see fake_gss.h);
    // true when the client logged on.  Unset: GSSAPI is refused.
    std::function<bool(int fd)> gssapi;
};

// A result an operation serves: its schema and all of its rows, column-wise.
// FetchResults hands out up to maxRows rows at a time, then empty batches;
// when `batches` is not empty those are served in order instead.
struct FakeResult {
    tcli::TTableSchema schema;
    std::vector<tcli::TColumn> columns;
    std::vector<tcli::TRowSet> batches;
    bool has_result_set = true;
    std::optional<double> modified_row_count;
    // The statement runs this long after ExecuteStatement: GetOperationStatus
    // answers RUNNING until then (CANCELED once cancelled; TIMEDOUT after the
    // request's queryTimeout, unless the server is told to ignore it).
    int run_ms = 0;
    bool ignore_query_timeout = false;
};

// Per-call hooks: each gets the request and the default response.
struct Handlers {
    std::function<void(const tcli::TOpenSessionReq &, tcli::TOpenSessionResp &)> OpenSession;
    std::function<void(const tcli::TCloseSessionReq &, tcli::TCloseSessionResp &)> CloseSession;
    std::function<void(const tcli::TGetInfoReq &, tcli::TGetInfoResp &)> GetInfo;
    std::function<void(const tcli::TExecuteStatementReq &, tcli::TExecuteStatementResp &)> ExecuteStatement;
    std::function<void(const tcli::TGetCatalogsReq &, tcli::TGetCatalogsResp &)> GetCatalogs;
    std::function<void(const tcli::TGetSchemasReq &, tcli::TGetSchemasResp &)> GetSchemas;
    std::function<void(const tcli::TGetTablesReq &, tcli::TGetTablesResp &)> GetTables;
    std::function<void(const tcli::TGetColumnsReq &, tcli::TGetColumnsResp &)> GetColumns;
    std::function<void(const tcli::TGetFunctionsReq &, tcli::TGetFunctionsResp &)> GetFunctions;
    std::function<void(const tcli::TGetCrossReferenceReq &, tcli::TGetCrossReferenceResp &)> GetCrossReference;
    std::function<void(const tcli::TGetOperationStatusReq &, tcli::TGetOperationStatusResp &)> GetOperationStatus;
    std::function<void(const tcli::TCancelOperationReq &, tcli::TCancelOperationResp &)> CancelOperation;
    std::function<void(const tcli::TCloseOperationReq &, tcli::TCloseOperationResp &)> CloseOperation;
    std::function<void(const tcli::TGetResultSetMetadataReq &, tcli::TGetResultSetMetadataResp &)>
        GetResultSetMetadata;
    std::function<void(const tcli::TFetchResultsReq &, tcli::TFetchResultsResp &)> FetchResults;

    // The result of an ExecuteStatement (by its text).  Default: the one
    // STRING column "Result" and no rows, as the server answers a statement
    // without rows.
    std::function<FakeResult(const std::string &sql)> StatementResult;
    // The result of a metadata call, by call name.  Default: no columns, no rows.
    std::function<FakeResult(const std::string &call)> MetadataResult;
};

// The reply to one request message, as the front end should deliver it.
struct Reply {
    std::string bytes;    // the reply message (empty for Drop, Silent, Garbage)
    FaultSpec fault;      // the transport-level action to take
};

class FakeServer {
public:
    explicit FakeServer(Framing framing = Framing::Sasl);
    ~FakeServer();
    FakeServer(const FakeServer &) = delete;
    FakeServer &operator=(const FakeServer &) = delete;

    int port() const { return port_; }
    Framing framing() const { return framing_; }

    Handlers &handlers() { return handlers_; }
    SaslScript &sasl() { return sasl_; }

    // The next request of `call` ("*": of any call) gets `kind`.  Faults of one
    // call are used in the order they were queued.
    void fail_next(const std::string &call, Fault kind, std::string text = "", int value = 0);

    std::vector<Record> records() const;
    std::vector<Record> records(const std::string &name) const;
    void clear_records();
    // Number of connections accepted so far.
    int connections() const { return accepted_.load(); }
    // Sessions opened and not closed.
    int open_sessions() const;
    // Operations opened and not closed.
    int open_operations() const;

    // Turns one request message into its reply; records nothing.  Used by
    // the socket front end and open to others (HTTP).
    Reply handle_message(const std::string &message);

    // Stops listening and closes every connection; the destructor does it too.
    void stop();

private:
    struct Operation {
        FakeResult result;
        size_t next_row = 0;
        size_t next_batch = 0;
        tcli::TOperationType::type type = tcli::TOperationType::EXECUTE_STATEMENT;
        bool canceled = false;
        std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
        int64_t query_timeout = 0;   // seconds, from the request
    };

    void accept_loop();
    void serve_connection(int fd, int id);
    bool sasl_handshake(int fd, int id);
    void record(Record r);
    FaultSpec take_fault(const std::string &call);
    std::string new_identifier();
    tcli::TOperationHandle open_operation(tcli::TOperationType::type type, FakeResult result);
    bool session_known(const tcli::TSessionHandle &h);
    Operation *find_operation(const tcli::TOperationHandle &h);

    template <class Req, class Resp>
    void answer_operation(const char *call, tcli::TOperationType::type type, const Req &req, Resp &resp);

    Framing framing_;
    int listen_fd_ = -1;
    int port_ = 0;
    std::atomic<bool> stopping_{false};
    std::atomic<int> accepted_{0};
    std::thread acceptor_;

    mutable std::mutex mutex_;    // everything below
    std::vector<std::thread> workers_;
    std::vector<int> connection_fds_;
    std::vector<Record> records_;
    std::map<std::string, std::deque<FaultSpec>> faults_;
    std::map<std::string, int> sessions_;             // session guid -> 1
    std::map<std::string, Operation> operations_;     // operation guid -> state
    uint64_t next_id_ = 1;

    Handlers handlers_;
    SaslScript sasl_;
};

// --- Helpers for scripting replies -------------------------------------------

tcli::TStatus ok_status();
tcli::TStatus error_status(const std::string &message, const std::string &sql_state = "", int error_code = 0,
                           tcli::TStatusCode::type code = tcli::TStatusCode::ERROR_STATUS);

// One result column description (position counts from 1).
tcli::TColumnDesc column_desc(const std::string &name, tcli::TTypeId::type type, int position,
                              const std::map<std::string, int32_t> &qualifiers = {});
tcli::TTableSchema schema(const std::vector<tcli::TColumnDesc> &columns);

// Columns of values; std::nullopt is a null.  The null bitmap is as long as
// the rows need (least significant bit first).
tcli::TColumn bool_column(const std::vector<std::optional<bool>> &values);
tcli::TColumn byte_column(const std::vector<std::optional<int8_t>> &values);
tcli::TColumn i16_column(const std::vector<std::optional<int16_t>> &values);
tcli::TColumn i32_column(const std::vector<std::optional<int32_t>> &values);
tcli::TColumn i64_column(const std::vector<std::optional<int64_t>> &values);
tcli::TColumn double_column(const std::vector<std::optional<double>> &values);
tcli::TColumn string_column(const std::vector<std::optional<std::string>> &values);
tcli::TColumn binary_column(const std::vector<std::optional<std::string>> &values);

size_t column_rows(const tcli::TColumn &column);
// Rows [first, first + count) of a column, nulls included.
tcli::TColumn column_slice(const tcli::TColumn &column, size_t first, size_t count);
// An empty column of the same kind.
tcli::TColumn column_empty_like(const tcli::TColumn &column);
// An empty column for a result column of `type`.
tcli::TColumn column_empty_for(tcli::TTypeId::type type);

// Builds one Thrift message by hand (strict binary protocol), for replies a
// generated struct cannot express (a missing required field, ...).
std::string message_bytes(const std::string &name, int type, int32_t seqid,
                          const std::function<void(apache::thrift::protocol::TProtocol &)> &body);

// Decodes the request struct of a recorded call message ("GetInfo" -> TGetInfoReq).
template <class Args> Args decode_args(const std::string &message);

// The 4-byte big-endian length of a frame.
std::string be32(uint32_t value);

// Socket helpers of the front ends: exactly `n` bytes appended to *out
// (false on end of stream or error), everything sent (false on error), and a
// SASL negotiation frame.
bool read_exact(int fd, size_t n, std::string *out);
bool send_all(int fd, const std::string &data);
std::string sasl_frame(int status, const std::string &payload);

}  // namespace tarn_fake

// ---------------------------------------------------------------------------
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>

template <class Args> Args tarn_fake::decode_args(const std::string &message) {
    auto buffer = std::make_shared<apache::thrift::transport::TMemoryBuffer>(
        (uint8_t *)message.data(), (uint32_t)message.size(), apache::thrift::transport::TMemoryBuffer::COPY);
    apache::thrift::protocol::TBinaryProtocol protocol(buffer, 0, 0, true, true);
    std::string name;
    apache::thrift::protocol::TMessageType type;
    int32_t seqid;
    protocol.readMessageBegin(name, type, seqid);
    Args args;
    args.read(&protocol);
    protocol.readMessageEnd();
    return args;
}
