// The fake TCLIService server: a listening thread, one thread per accepted
// connection, the SASL PLAIN server side, framing, and a dispatch of each
// request message to its default answer and the test's hook.
#include "fake_server.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thrift/TApplicationException.h>
#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TVirtualTransport.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <stdexcept>

#include "TCLIService.h"

using apache::thrift::TApplicationException;
using apache::thrift::protocol::TBinaryProtocol;
using apache::thrift::protocol::TMessageType;
using apache::thrift::protocol::TProtocol;
using apache::thrift::transport::TMemoryBuffer;

namespace tarn_fake {

bool read_exact(int fd, size_t n, std::string *out) {
    size_t start = out->size();
    out->resize(start + n);
    size_t have = 0;
    while (have < n) {
        ssize_t got = recv(fd, &(*out)[start + have], n - have, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            out->resize(start + have);
            return false;
        }
        have += (size_t)got;
    }
    return true;
}

bool send_all(int fd, const std::string &data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = send(fd, data.data() + sent, data.size() - sent, MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += (size_t)n;
    }
    return true;
}

std::string sasl_frame(int status, const std::string &payload) {
    std::string f(1, (char)status);
    f += be32((uint32_t)payload.size());
    f += payload;
    return f;
}

namespace {

const uint32_t kMaxFrame = 1u << 30;

// Reads from a socket for Thrift's protocol and keeps every byte it read, so
// an unframed message can be cut out of the stream exactly.
class RecordingSocket : public apache::thrift::transport::TVirtualTransport<RecordingSocket> {
public:
    RecordingSocket(int fd, std::string *recorded)
        : TVirtualTransport(std::make_shared<apache::thrift::TConfiguration>(1 << 30, 1 << 30)), fd_(fd),
          recorded_(recorded) {}
    bool isOpen() const override { return true; }
    void open() override {}
    void close() override {}
    uint32_t read(uint8_t *buf, uint32_t len) {
        for (;;) {
            ssize_t got = recv(fd_, buf, len, 0);
            if (got < 0 && errno == EINTR) continue;
            if (got <= 0) return 0;
            recorded_->append((const char *)buf, (size_t)got);
            return (uint32_t)got;
        }
    }
    void write(const uint8_t *, uint32_t) {}

private:
    int fd_;
    std::string *recorded_;
};

// Name, type and sequence id of a message, or false when it has no valid header.
bool message_header(const std::string &message, std::string *name, int *type, int32_t *seqid) {
    try {
        auto buffer = std::make_shared<TMemoryBuffer>((uint8_t *)message.data(), (uint32_t)message.size(),
                                                      TMemoryBuffer::COPY);
        TBinaryProtocol p(buffer, 0, 0, true, true);
        TMessageType t;
        p.readMessageBegin(*name, t, *seqid);
        *type = (int)t;
        return true;
    } catch (...) {
        return false;
    }
}

std::string key_of(const tcli::THandleIdentifier &id) { return id.guid; }

FakeResult default_statement_result() {
    FakeResult r;
    r.schema = schema({column_desc("Result", tcli::TTypeId::STRING_TYPE, 1)});
    r.columns = {string_column({})};
    return r;
}

}  // namespace

// ---------------------------------------------------------------------------
// Life cycle

FakeServer::FakeServer(Framing framing) : framing_(framing) {
    listen_fd_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) throw std::runtime_error("fake server: socket() failed");
    int one = 1;
    setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = 0;
    socklen_t len = sizeof addr;
    if (bind(listen_fd_, (sockaddr *)&addr, sizeof addr) != 0 || listen(listen_fd_, 64) != 0 ||
        getsockname(listen_fd_, (sockaddr *)&addr, &len) != 0) {
        ::close(listen_fd_);
        throw std::runtime_error("fake server: cannot listen on 127.0.0.1");
    }
    port_ = ntohs(addr.sin_port);
    acceptor_ = std::thread([this] { accept_loop(); });
}

FakeServer::~FakeServer() { stop(); }

void FakeServer::stop() {
    if (stopping_.exchange(true)) return;
    shutdown(listen_fd_, SHUT_RDWR);   // wakes the acceptor at once
    if (acceptor_.joinable()) acceptor_.join();
    ::close(listen_fd_);
    listen_fd_ = -1;
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> g(mutex_);
        for (int fd : connection_fds_) shutdown(fd, SHUT_RDWR);
        workers.swap(workers_);
    }
    for (std::thread &t : workers) t.join();
}

void FakeServer::accept_loop() {
    while (!stopping_) {
        pollfd p{listen_fd_, POLLIN, 0};
        int n = poll(&p, 1, 50);
        if (n <= 0) continue;
        int fd = accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        int one = 1;
        setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        int id = ++accepted_;
        std::lock_guard<std::mutex> g(mutex_);
        if (stopping_) {
            ::close(fd);
            break;
        }
        connection_fds_.push_back(fd);
        workers_.emplace_back([this, fd, id] { serve_connection(fd, id); });
    }
}

// ---------------------------------------------------------------------------
// Scripting and records

void FakeServer::fail_next(const std::string &call, Fault kind, std::string text, int value) {
    std::lock_guard<std::mutex> g(mutex_);
    faults_[call].push_back(FaultSpec{kind, std::move(text), value});
}

FaultSpec FakeServer::take_fault(const std::string &call) {
    std::lock_guard<std::mutex> g(mutex_);
    for (const std::string &key : {call, std::string("*")}) {
        auto it = faults_.find(key);
        if (it != faults_.end() && !it->second.empty()) {
            FaultSpec f = it->second.front();
            it->second.pop_front();
            return f;
        }
    }
    return FaultSpec{};
}

void FakeServer::record(Record r) {
    std::lock_guard<std::mutex> g(mutex_);
    records_.push_back(std::move(r));
}

std::vector<Record> FakeServer::records() const {
    std::lock_guard<std::mutex> g(mutex_);
    return records_;
}

std::vector<Record> FakeServer::records(const std::string &name) const {
    std::lock_guard<std::mutex> g(mutex_);
    std::vector<Record> out;
    for (const Record &r : records_)
        if (r.name == name) out.push_back(r);
    return out;
}

void FakeServer::clear_records() {
    std::lock_guard<std::mutex> g(mutex_);
    records_.clear();
}

int FakeServer::open_sessions() const {
    std::lock_guard<std::mutex> g(mutex_);
    return (int)sessions_.size();
}

int FakeServer::open_operations() const {
    std::lock_guard<std::mutex> g(mutex_);
    return (int)operations_.size();
}

// ---------------------------------------------------------------------------
// One connection

bool FakeServer::sasl_handshake(int fd, int id) {
    SaslScript script;
    {
        std::lock_guard<std::mutex> g(mutex_);
        script = sasl_;
    }
    if (script.drop_on_accept) return false;

    std::string frames[2];
    for (std::string &frame : frames) {
        if (!read_exact(fd, 5, &frame)) return false;
        uint32_t len = ((uint32_t)(unsigned char)frame[1] << 24) | ((uint32_t)(unsigned char)frame[2] << 16) |
                       ((uint32_t)(unsigned char)frame[3] << 8) | (uint32_t)(unsigned char)frame[4];
        if (len > (1u << 20) || !read_exact(fd, len, &frame)) return false;
        Record r;
        r.connection = id;
        r.name = "SASL";
        r.type = (unsigned char)frame[0];
        r.message = frame;
        r.wire = frame;
        record(r);
        if (&frame == &frames[0]) {
            if (r.type != 1) {
                send_all(fd, sasl_frame(4, "Expected START status"));
                return false;
            }
            std::string mechanism = frame.substr(5);
            if (mechanism == "GSSAPI" && script.gssapi) return script.gssapi(fd);
            if (mechanism != "PLAIN") {
                send_all(fd, sasl_frame(3, "Unsupported mechanism type " + mechanism));
                return false;
            }
        }
    }

    if (script.drop) return false;
    if (!script.raw.empty()) {
        send_all(fd, script.raw);
        return false;
    }
    // PLAIN payload: authorisation id NUL user NUL password.
    std::string payload = frames[1].substr(5);
    size_t first = payload.find('\0');
    size_t second = first == std::string::npos ? std::string::npos : payload.find('\0', first + 1);
    if (frames[1][0] != 2 || second == std::string::npos) {
        send_all(fd, sasl_frame(4, "Invalid PLAIN message"));
        return false;
    }
    std::string user = payload.substr(first + 1, second - first - 1);
    std::string password = payload.substr(second + 1);
    if (script.check && !script.check(user, password)) {
        send_all(fd, sasl_frame(3, "Error validating the login"));
        return false;
    }
    send_all(fd, sasl_frame(script.status, script.payload));
    return script.status == 5;
}

void FakeServer::serve_connection(int fd, int id) {
    bool framed = framing_ == Framing::Sasl;
    if (!framed || sasl_handshake(fd, id)) {
        for (;;) {
            std::string wire, message;
            if (framed) {
                if (!read_exact(fd, 4, &wire)) break;
                uint32_t len = ((uint32_t)(unsigned char)wire[0] << 24) | ((uint32_t)(unsigned char)wire[1] << 16) |
                               ((uint32_t)(unsigned char)wire[2] << 8) | (uint32_t)(unsigned char)wire[3];
                if (len > kMaxFrame || !read_exact(fd, len, &message)) break;
                wire += message;
            } else {
                try {
                    auto socket = std::make_shared<RecordingSocket>(fd, &wire);
                    TBinaryProtocol p(socket, 0, 0, true, true);
                    std::string name;
                    TMessageType type;
                    int32_t seqid;
                    p.readMessageBegin(name, type, seqid);
                    p.skip(apache::thrift::protocol::T_STRUCT);
                    p.readMessageEnd();
                } catch (...) {
                    break;
                }
                message = wire;
            }

            Record r;
            r.connection = id;
            int32_t seqid = 0;
            if (!message_header(message, &r.name, &r.type, &seqid)) r.name = "?";
            r.message = message;
            r.wire = wire;
            record(r);

            Reply reply = handle_message(message);
            std::string out = framed ? be32((uint32_t)reply.bytes.size()) + reply.bytes : reply.bytes;
            bool keep = true;
            switch (reply.fault.kind) {
            case Fault::Drop: keep = false; break;
            case Fault::DropMidReply:
                send_all(fd, out.substr(0, out.size() / 2));
                keep = false;
                break;
            case Fault::Garbage:
                send_all(fd, reply.fault.text);
                keep = false;
                break;
            case Fault::Silent: break;
            case Fault::Delay:
                std::this_thread::sleep_for(std::chrono::milliseconds(reply.fault.value));
                keep = send_all(fd, out);
                break;
            case Fault::Drip:
                for (char byte : out) {
                    std::this_thread::sleep_for(std::chrono::milliseconds(reply.fault.value));
                    if (stopping_ || !send_all(fd, std::string(1, byte))) {
                        keep = false;
                        break;
                    }
                }
                break;
            default: keep = send_all(fd, out); break;
            }
            if (!keep) break;
        }
    }
    std::lock_guard<std::mutex> g(mutex_);
    connection_fds_.erase(std::remove(connection_fds_.begin(), connection_fds_.end(), fd), connection_fds_.end());
    ::close(fd);
}

// ---------------------------------------------------------------------------
// Sessions and operations

std::string FakeServer::new_identifier() {
    std::lock_guard<std::mutex> g(mutex_);
    uint64_t n = next_id_++;
    std::string id(16, '\0');
    for (int i = 0; i < 8; i++) id[i] = (char)(n >> (8 * (7 - i)));
    memcpy(&id[8], "\xFA\x4E\x00\x01\x7F\x80\xC3\x5A", 8);   // bytes that text handling would mangle
    return id;
}

bool FakeServer::session_known(const tcli::TSessionHandle &h) {
    std::lock_guard<std::mutex> g(mutex_);
    return sessions_.count(key_of(h.sessionId)) != 0;
}

FakeServer::Operation *FakeServer::find_operation(const tcli::TOperationHandle &h) {
    auto it = operations_.find(key_of(h.operationId));
    return it == operations_.end() ? nullptr : &it->second;
}

tcli::TOperationHandle FakeServer::open_operation(tcli::TOperationType::type type, FakeResult result) {
    tcli::TOperationHandle h;
    h.operationId.guid = new_identifier();
    h.operationId.secret = new_identifier();
    h.operationType = type;
    h.hasResultSet = result.has_result_set;
    if (result.modified_row_count) h.__set_modifiedRowCount(*result.modified_row_count);
    std::lock_guard<std::mutex> g(mutex_);
    Operation &op = operations_[h.operationId.guid];
    op.result = std::move(result);
    op.type = type;
    return h;
}

template <class Req, class Resp>
void FakeServer::answer_operation(const char *call, tcli::TOperationType::type type, const Req &req, Resp &resp) {
    if (!session_known(req.sessionHandle)) {
        resp.status = error_status("Invalid SessionHandle", "HY000", 0, tcli::TStatusCode::INVALID_HANDLE_STATUS);
        return;
    }
    std::function<FakeResult(const std::string &)> hook;
    {
        std::lock_guard<std::mutex> g(mutex_);
        hook = handlers_.MetadataResult;
    }
    FakeResult result = hook ? hook(call) : FakeResult{};
    resp.status = ok_status();
    resp.__set_operationHandle(open_operation(type, std::move(result)));
}

// ---------------------------------------------------------------------------
// Dispatch

namespace {

// Reads the arguments of one call, fills its response (default, then hook)
// and writes the reply message.
template <class Args, class Result, class Req, class Resp>
std::string serve(TProtocol &in, const std::string &reply_name, int reply_type, int32_t seqid,
                  const std::function<void(const Req &, Resp &)> &fill) {
    Args args;
    args.read(&in);
    in.readMessageEnd();
    Result result;
    fill(args.req, result.success);
    result.__isset.success = true;
    return message_bytes(reply_name, reply_type, seqid, [&](TProtocol &p) { result.write(&p); });
}

}  // namespace

Reply FakeServer::handle_message(const std::string &message) {
    Reply reply;
    std::string name;
    int type = 0;
    int32_t seqid = 0;
    if (!message_header(message, &name, &type, &seqid)) {
        reply.fault.kind = Fault::Drop;
        return reply;
    }
    reply.fault = take_fault(name);
    const FaultSpec &fault = reply.fault;

    if (fault.kind == Fault::AppException) {
        TApplicationException x(fault.value ? (TApplicationException::TApplicationExceptionType)fault.value
                                            : TApplicationException::INTERNAL_ERROR,
                                 fault.text);
        reply.bytes = message_bytes(name, apache::thrift::protocol::T_EXCEPTION, seqid,
                                    [&](TProtocol &p) { x.write(&p); });
        return reply;
    }
    if (fault.kind == Fault::Raw) {
        reply.bytes = fault.text;
        return reply;
    }
    if (fault.kind == Fault::Drop || fault.kind == Fault::Garbage) return reply;

    std::string reply_name = fault.kind == Fault::WrongName ? fault.text : name;
    int reply_type = fault.kind == Fault::WrongMessageType ? (fault.value ? fault.value : 1)
                                                           : (int)apache::thrift::protocol::T_REPLY;
    Handlers h;
    {
        std::lock_guard<std::mutex> g(mutex_);
        h = handlers_;
    }

    auto buffer = std::make_shared<TMemoryBuffer>((uint8_t *)message.data(), (uint32_t)message.size(),
                                                  TMemoryBuffer::COPY);
    TBinaryProtocol in(buffer, 0, 0, true, true);
    std::string ignored_name;
    TMessageType ignored_type;
    int32_t ignored_seqid;
    in.readMessageBegin(ignored_name, ignored_type, ignored_seqid);

    using namespace tcli;
    // Set by a default answer that the real server cannot even send (it then
    // drops the connection), unless the test's hook took over.
    bool unanswerable = false;
#define FAKE_SERVE(CALL, ...)                                                                          \
    if (name == #CALL) {                                                                                   \
        reply.bytes = serve<TCLIService_##CALL##_args, TCLIService_##CALL##_result, T##CALL##Req,          \
                            T##CALL##Resp>(in, reply_name, reply_type, seqid,                              \
                                           [&](const T##CALL##Req &req, T##CALL##Resp &resp) {             \
                                               __VA_ARGS__;                                                \
                                               if (h.CALL) h.CALL(req, resp);                              \
                                           });                                                             \
        if (unanswerable && !h.CALL && reply.fault.kind == Fault::None) reply.fault.kind = Fault::Drop;    \
        return reply;                                                                                      \
    }

    try {
        FAKE_SERVE(OpenSession, {
            std::string guid = new_identifier();
            resp.status = ok_status();
            resp.serverProtocolVersion = req.client_protocol;
            TSessionHandle session;
            session.sessionId.guid = guid;
            session.sessionId.secret = new_identifier();
            resp.__set_sessionHandle(session);
            std::lock_guard<std::mutex> g(mutex_);
            sessions_[guid] = 1;
        })
        FAKE_SERVE(CloseSession, {
            std::lock_guard<std::mutex> g(mutex_);
            resp.status = sessions_.erase(key_of(req.sessionHandle.sessionId))
                              ? ok_status()
                              : error_status("Invalid SessionHandle", "HY000", 0,
                                             TStatusCode::INVALID_HANDLE_STATUS);
        })
        FAKE_SERVE(GetInfo, {
            if (!session_known(req.sessionHandle)) {
                resp.status = error_status("Invalid SessionHandle", "HY000", 0, TStatusCode::INVALID_HANDLE_STATUS);
            } else if (req.infoType == TGetInfoType::CLI_SERVER_NAME || req.infoType == TGetInfoType::CLI_DBMS_NAME) {
                resp.status = ok_status();
                resp.infoValue.__set_stringValue("Spark SQL");
            } else if (req.infoType == TGetInfoType::CLI_DBMS_VER) {
                resp.status = ok_status();
                resp.infoValue.__set_stringValue("4.0.1");
            } else {
                // The real server fails to write this reply and closes the connection.
                resp.status = error_status("Unrecognized GetInfoType value: " + std::to_string((int)req.infoType));
                unanswerable = true;
            }
        })
        FAKE_SERVE(ExecuteStatement, {
            if (!session_known(req.sessionHandle)) {
                resp.status = error_status("Invalid SessionHandle", "HY000", 0, TStatusCode::INVALID_HANDLE_STATUS);
            } else {
                FakeResult r = h.StatementResult ? h.StatementResult(req.statement) : default_statement_result();
                resp.status = ok_status();
                TOperationHandle handle = open_operation(TOperationType::EXECUTE_STATEMENT, std::move(r));
                {
                    std::lock_guard<std::mutex> g(mutex_);
                    if (Operation *op = find_operation(handle))
                        op->query_timeout = req.__isset.queryTimeout ? req.queryTimeout : 0;
                }
                resp.__set_operationHandle(handle);
            }
        })
        FAKE_SERVE(GetCatalogs, answer_operation("GetCatalogs", TOperationType::GET_CATALOGS, req, resp))
        FAKE_SERVE(GetSchemas, answer_operation("GetSchemas", TOperationType::GET_SCHEMAS, req, resp))
        FAKE_SERVE(GetTables, answer_operation("GetTables", TOperationType::GET_TABLES, req, resp))
        FAKE_SERVE(GetColumns, answer_operation("GetColumns", TOperationType::GET_COLUMNS, req, resp))
        FAKE_SERVE(GetFunctions, answer_operation("GetFunctions", TOperationType::GET_FUNCTIONS, req, resp))
        FAKE_SERVE(GetCrossReference, answer_operation("GetCrossReference", TOperationType::UNKNOWN, req, resp))
        FAKE_SERVE(GetOperationStatus, {
            std::lock_guard<std::mutex> g(mutex_);
            Operation *op = find_operation(req.operationHandle);
            if (!op) {
                resp.status = error_status("Invalid OperationHandle", "HY000", 0, TStatusCode::INVALID_HANDLE_STATUS);
            } else {
                resp.status = ok_status();
                auto ran = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                                 op->started)
                               .count();
                TOperationState::type state = TOperationState::FINISHED_STATE;
                if (op->canceled)
                    state = TOperationState::CANCELED_STATE;
                else if (op->query_timeout > 0 && !op->result.ignore_query_timeout &&
                         op->result.run_ms > op->query_timeout * 1000 && ran >= op->query_timeout * 1000)
                    state = TOperationState::TIMEDOUT_STATE;
                else if (ran < op->result.run_ms)
                    state = TOperationState::RUNNING_STATE;
                resp.__set_operationState(state);
                resp.__set_hasResultSet(op->result.has_result_set);
            }
        })
        FAKE_SERVE(CancelOperation, {
            std::lock_guard<std::mutex> g(mutex_);
            Operation *op = find_operation(req.operationHandle);
            if (op) op->canceled = true;
            resp.status = op ? ok_status()
                             : error_status("Invalid OperationHandle", "HY000", 0, TStatusCode::INVALID_HANDLE_STATUS);
        })
        FAKE_SERVE(CloseOperation, {
            std::lock_guard<std::mutex> g(mutex_);
            resp.status = operations_.erase(key_of(req.operationHandle.operationId))
                              ? ok_status()
                              : error_status("Invalid OperationHandle", "HY000", 0,
                                             TStatusCode::INVALID_HANDLE_STATUS);
        })
        FAKE_SERVE(GetResultSetMetadata, {
            std::lock_guard<std::mutex> g(mutex_);
            Operation *op = find_operation(req.operationHandle);
            if (!op) {
                resp.status = error_status("Invalid OperationHandle", "HY000", 0, TStatusCode::INVALID_HANDLE_STATUS);
            } else {
                resp.status = ok_status();
                resp.__set_schema(op->result.schema);
            }
        })
        FAKE_SERVE(FetchResults, {
            std::lock_guard<std::mutex> g(mutex_);
            Operation *op = find_operation(req.operationHandle);
            if (!op) {
                resp.status = error_status("Invalid OperationHandle", "HY000", 0, TStatusCode::INVALID_HANDLE_STATUS);
            } else {
                FakeResult &res = op->result;
                TRowSet rows;
                rows.startRowOffset = (int64_t)op->next_row;
                if (!res.batches.empty()) {
                    if (op->next_batch < res.batches.size()) {
                        rows = res.batches[op->next_batch++];
                    } else {
                        std::vector<TColumn> empty;
                        for (const TColumn &c : res.batches.front().columns) empty.push_back(column_empty_like(c));
                        rows.__set_columns(empty);
                    }
                } else {
                    size_t total = res.columns.empty() ? 0 : column_rows(res.columns.front());
                    size_t left = total > op->next_row ? total - op->next_row : 0;
                    size_t take = req.maxRows > 0 ? std::min(left, (size_t)req.maxRows) : left;
                    std::vector<TColumn> cols;
                    if (res.columns.empty()) {
                        for (const TColumnDesc &d : res.schema.columns) {
                            const TTypeEntry &e = d.typeDesc.types.empty() ? TTypeEntry() : d.typeDesc.types.front();
                            cols.push_back(column_empty_for(e.__isset.primitiveEntry ? (TTypeId::type)e.primitiveEntry.type
                                                                                     : TTypeId::STRING_TYPE));
                        }
                    } else {
                        for (const TColumn &c : res.columns) cols.push_back(column_slice(c, op->next_row, take));
                    }
                    op->next_row += take;
                    rows.__set_columns(cols);
                }
                resp.status = ok_status();
                resp.__set_hasMoreRows(false);
                resp.__set_results(rows);
            }
        })
    } catch (const std::exception &e) {
        TApplicationException x(TApplicationException::PROTOCOL_ERROR, e.what());
        reply.bytes = message_bytes(name, apache::thrift::protocol::T_EXCEPTION, seqid,
                                    [&](TProtocol &p) { x.write(&p); });
        return reply;
    }
#undef FAKE_SERVE

    TApplicationException x(TApplicationException::UNKNOWN_METHOD, "Invalid method name: '" + name + "'");
    reply.bytes =
        message_bytes(name, apache::thrift::protocol::T_EXCEPTION, seqid, [&](TProtocol &p) { x.write(&p); });
    return reply;
}

}  // namespace tarn_fake
