// The statement-level TCLIService calls against the fake server: what goes
// into each request, what is taken from each reply, and every failure text.
#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>

#include "fake_client.h"
#include "fake_server.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_logon.h"
#include "spk_tcli.h"
#include "spk_transport.h"

using tarn_fake::Fault;
using tarn_fake::FakeServer;
using tarn_fake::Framing;
using tarn_fake::Handlers;
using tarn_fake::TestConnection;

namespace {

const std::string kPrefix = "[Quillmark][Tarnwell]";
const std::string kLink = kPrefix + "Communication link failure: ";
const std::string kGeneral = kPrefix + "General error: ";

// A fake server with one connected connection and one statement on it.
struct Connected {
    FakeServer srv;
    TestConnection tc;
    SpkStatement *stmt = nullptr;
    tcli::TSessionHandle session;

    explicit Connected(Framing framing = Framing::Sasl) : srv(framing) {
        srv.handlers().OpenSession = [this](auto &, tcli::TOpenSessionResp &r) { session = r.sessionHandle; };
        tc.target(srv);
        connect_result = spk_connect(tc.conn);
        stmt = spk_stmt_new(tc.conn);
    }
    int connect_result = -1;
    std::string message(int n = 1) const { return TestConnection::message(stmt, n); }
    std::string sqlstate(int n = 1) const { return TestConnection::sqlstate(stmt, n); }
    int count() const { return TestConnection::count(stmt); }
};

// Restores the default message-size limits when a test is done with others.
struct Limits {
    Limits(int message, int frame) { spk_transport_set_limits(message, frame); }
    ~Limits() { spk_transport_set_limits(0, 0); }
};

using Edit = std::function<void(tcli::TStatus &, bool &has_handle)>;

struct OpCall {
    const char *call;
    std::function<int(void *, tcli::TOperationHandle *)> invoke;
    std::function<void(Handlers &, Edit)> hook;
    std::string fail_text;   // the failure text up to its quoted part
    std::string missing;     // the text when the reply has no operation handle
};

#define EDIT_HOOK(CALL)                                                                          \
    [](Handlers &h, Edit e) {                                                                    \
        h.CALL = [e](auto &, auto &r) {                                                          \
            bool has = r.__isset.operationHandle;                                                \
            e(r.status, has);                                                                    \
            r.__isset.operationHandle = has;                                                     \
        };                                                                                       \
    }

std::vector<OpCall> op_calls() {
    return {
        {"ExecuteStatement", [](void *h, auto *op) { return spk_tcli_execute_statement(h, "SELECT 1", op); },
         EDIT_HOOK(ExecuteStatement), "t_c_l_i_service_if_execute_statement fails: '", "Failed to get query handle"},
        {"GetCatalogs", [](void *h, auto *op) { return spk_tcli_get_catalogs(h, op); }, EDIT_HOOK(GetCatalogs),
         "t_c_l_i_service_if_get_catalogs fails: '", "Failed to get catalogs operation handle"},
        {"GetSchemas", [](void *h, auto *op) { return spk_tcli_get_schemas(h, op); }, EDIT_HOOK(GetSchemas),
         "t_c_l_i_service_if_get_schemas fails: '", "Failed to get schemas operation handle"},
        {"GetTables",
         [](void *h, auto *op) {
             tcli::TGetTablesReq req;
             return spk_tcli_get_tables(h, req, op);
         },
         EDIT_HOOK(GetTables), "t_c_l_i_service_if_get_tables fails: '", "Failed to get tables operation handle"},
        {"GetColumns",
         [](void *h, auto *op) {
             tcli::TGetColumnsReq req;
             return spk_tcli_get_columns(h, req, op);
         },
         EDIT_HOOK(GetColumns), "t_c_l_i_service_if_get_columns fails: '", "Failed to get columns operation handle"},
        {"GetFunctions",
         [](void *h, auto *op) {
             tcli::TGetFunctionsReq req;
             return spk_tcli_get_functions(h, req, op);
         },
         EDIT_HOOK(GetFunctions), "t_c_l_i_service_if_get_functions fails: '",
         "Failed to get functions operation handle"},
        {"GetCrossReference",
         [](void *h, auto *op) {
             tcli::TGetCrossReferenceReq req;
             return spk_tcli_get_cross_reference(h, req, op);
         },
         EDIT_HOOK(GetCrossReference), "t_c_l_i_service_if_get_cross_reference fails: '",
         "Failed to get cross_reference operation handle"},
    };
}

}  // namespace

// ---------------------------------------------------------------------------
// Operation-creating calls

TEST(ProtocolCalls, OperationCallsReturnTheServersHandle) {
    for (const OpCall &c : op_calls()) {
        SCOPED_TRACE(c.call);
        Connected k;
        ASSERT_EQ(k.connect_result, 0);
        tcli::TOperationHandle op;
        ASSERT_EQ(c.invoke(k.stmt, &op), 0) << k.message();
        EXPECT_EQ(k.count(), 0);
        EXPECT_EQ(op.operationId.guid.size(), 16u);
        EXPECT_EQ(k.srv.open_operations(), 1);
        // Sent back unchanged, the handle closes the server's operation.
        EXPECT_EQ(spk_tcli_close_operation(k.stmt, op), 0);
        EXPECT_EQ(k.srv.open_operations(), 0);
        // Every request carries the session handle of OpenSession.
        auto recs = k.srv.records(c.call);
        ASSERT_EQ(recs.size(), 1u);
        EXPECT_NE(recs[0].message.find(k.session.sessionId.guid), std::string::npos);
        EXPECT_NE(recs[0].message.find(k.session.sessionId.secret), std::string::npos);
    }
}

TEST(ProtocolCalls, OperationCallFailures) {
    struct Sub {
        const char *what;
        std::function<void(FakeServer &, const OpCall &)> setup;
        std::function<void(const Connected &, const OpCall &)> check;
        bool broken;
    } subs[] = {
        {"reply without operation handle",
         [](FakeServer &s, const OpCall &c) { c.hook(s.handlers(), [](auto &, bool &has) { has = false; }); },
         [](const Connected &k, const OpCall &c) {
             EXPECT_EQ(k.sqlstate(), "HY000");
             EXPECT_EQ(k.message(), kGeneral + c.missing);
         },
         false},
        {"error status",
         [](FakeServer &s, const OpCall &c) {
             c.hook(s.handlers(), [](tcli::TStatus &st, bool &has) {
                 st = tarn_fake::error_status("Table or view not found: t", "42S02", 7);
                 has = false;
             });
         },
         [](const Connected &k, const OpCall &) {
             EXPECT_EQ(k.sqlstate(), "42S02");
             EXPECT_EQ(TestConnection::native(k.stmt), 7);
             EXPECT_EQ(k.message(), kPrefix + "Table or view not found: t");
             EXPECT_EQ(k.count(), 1);
         },
         false},
        {"success with info and a handle",
         [](FakeServer &s, const OpCall &c) {
             c.hook(s.handlers(), [](tcli::TStatus &st, bool &) {
                 st = tarn_fake::error_status("just so you know", "01000", 0,
                                              tcli::TStatusCode::SUCCESS_WITH_INFO_STATUS);
             });
         },
         [](const Connected &k, const OpCall &) {
             EXPECT_EQ(k.sqlstate(), "01000");
             EXPECT_EQ(k.message(), kPrefix + "just so you know");
         },
         false},
        {"still executing",
         [](FakeServer &s, const OpCall &c) {
             c.hook(s.handlers(), [](tcli::TStatus &st, bool &) {
                 st = tarn_fake::error_status("", "", 0, tcli::TStatusCode::STILL_EXECUTING_STATUS);
             });
         },
         [](const Connected &k, const OpCall &) {
             EXPECT_EQ(k.sqlstate(), "HY000");
             EXPECT_EQ(k.message(), kPrefix + "General Error");
         },
         false},
        {"application exception",
         [](FakeServer &s, const OpCall &c) { s.fail_next(c.call, Fault::AppException, "kaput"); },
         [](const Connected &k, const OpCall &c) {
             EXPECT_EQ(k.message(), kGeneral + c.fail_text + "application error: kaput'");
         },
         false},  // a whole message: the stream is still in step
        {"reply of type exception without a body",
         [](FakeServer &s, const OpCall &c) {
             s.fail_next(c.call, Fault::Raw, tarn_fake::message_bytes(c.call, 3, 0, nullptr));
         },
         [](const Connected &k, const OpCall &c) {
             std::string m = k.message();
             EXPECT_EQ(m.substr(0, kLink.size() + c.fail_text.size()), kLink + c.fail_text) << m;
         },
         true},
        {"reply of type call",
         [](FakeServer &s, const OpCall &c) { s.fail_next(c.call, Fault::WrongMessageType, "", 1); },
         [](const Connected &k, const OpCall &c) {
             EXPECT_EQ(k.message(), kLink + c.fail_text + "invalid message type 1, expected T_REPLY'");
         },
         true},
        {"reply to another call",
         [](FakeServer &s, const OpCall &c) { s.fail_next(c.call, Fault::WrongName, "FetchResults"); },
         [](const Connected &k, const OpCall &c) {
             EXPECT_EQ(k.message(), kLink + c.fail_text + "wrong method name FetchResults, expected " + c.call + "'");
         },
         true},
        {"dropped mid reply", [](FakeServer &s, const OpCall &c) { s.fail_next(c.call, Fault::DropMidReply); },
         [](const Connected &k, const OpCall &c) {
             std::string m = k.message();
             EXPECT_EQ(m.substr(0, kLink.size() + c.fail_text.size()), kLink + c.fail_text) << m;
         },
         true},
    };
    for (const OpCall &c : op_calls()) {
        for (const Sub &s : subs) {
            SCOPED_TRACE(std::string(c.call) + ": " + s.what);
            Connected k;
            ASSERT_EQ(k.connect_result, 0);
            s.setup(k.srv, c);
            tcli::TOperationHandle op;
            EXPECT_EQ(c.invoke(k.stmt, &op), -1);
            s.check(k, c);
            EXPECT_EQ(TestConnection::count(k.tc.conn), 0) << "posted on the statement only";
            EXPECT_EQ(spk_tcli_broken(k.tc.conn), s.broken);
        }
    }
}

TEST(ProtocolCalls, RequestsCarryOnlyWhatWasGiven) {
    Connected k;
    ASSERT_EQ(k.connect_result, 0);
    tcli::TOperationHandle op;

    const std::string sql = "SELECT 'gr\xC3\xBC\xC3\x9F' AS \"x\"";
    ASSERT_EQ(spk_tcli_execute_statement(k.stmt, sql, &op), 0);
    auto exec = tarn_fake::decode_args<tcli::TCLIService_ExecuteStatement_args>(
        k.srv.records("ExecuteStatement").back().message);
    EXPECT_EQ(exec.req.statement, sql);
    EXPECT_FALSE(exec.req.__isset.confOverlay);
    EXPECT_FALSE(exec.req.__isset.runAsync);
    EXPECT_FALSE(exec.req.__isset.queryTimeout);

    tcli::TGetTablesReq tables;
    tables.__set_schemaName("sales%");
    ASSERT_EQ(spk_tcli_get_tables(k.stmt, tables, &op), 0);
    auto t = tarn_fake::decode_args<tcli::TCLIService_GetTables_args>(k.srv.records("GetTables").back().message);
    EXPECT_FALSE(t.req.__isset.catalogName);
    EXPECT_TRUE(t.req.__isset.schemaName);
    EXPECT_EQ(t.req.schemaName, "sales%");
    EXPECT_FALSE(t.req.__isset.tableName);
    EXPECT_FALSE(t.req.__isset.tableTypes);

    tcli::TGetColumnsReq columns;
    columns.__set_tableName("orders");
    columns.__set_columnName("id%");
    ASSERT_EQ(spk_tcli_get_columns(k.stmt, columns, &op), 0);
    auto col = tarn_fake::decode_args<tcli::TCLIService_GetColumns_args>(k.srv.records("GetColumns").back().message);
    EXPECT_EQ(col.req.tableName, "orders");
    EXPECT_EQ(col.req.columnName, "id%");
    EXPECT_FALSE(col.req.__isset.catalogName);
    EXPECT_FALSE(col.req.__isset.schemaName);

    tcli::TGetFunctionsReq functions;
    ASSERT_EQ(spk_tcli_get_functions(k.stmt, functions, &op), 0);
    auto f = tarn_fake::decode_args<tcli::TCLIService_GetFunctions_args>(k.srv.records("GetFunctions").back().message);
    EXPECT_EQ(f.req.functionName, "");
    EXPECT_FALSE(f.req.__isset.schemaName);

    tcli::TGetCrossReferenceReq none;
    ASSERT_EQ(spk_tcli_get_cross_reference(k.stmt, none, &op), 0);
    auto x = tarn_fake::decode_args<tcli::TCLIService_GetCrossReference_args>(
        k.srv.records("GetCrossReference").back().message);
    EXPECT_EQ(x.req.parentSchemaName, "default");
    EXPECT_EQ(x.req.foreignSchemaName, "default");
    EXPECT_FALSE(x.req.__isset.parentCatalogName);
    EXPECT_FALSE(x.req.__isset.parentTableName);
    EXPECT_FALSE(x.req.__isset.foreignCatalogName);
    EXPECT_FALSE(x.req.__isset.foreignTableName);

    tcli::TGetCrossReferenceReq given;
    given.__set_parentSchemaName("hr");
    given.__set_foreignTableName("emp");
    ASSERT_EQ(spk_tcli_get_cross_reference(k.stmt, given, &op), 0);
    auto y = tarn_fake::decode_args<tcli::TCLIService_GetCrossReference_args>(
        k.srv.records("GetCrossReference").back().message);
    EXPECT_EQ(y.req.parentSchemaName, "hr");
    EXPECT_EQ(y.req.foreignSchemaName, "default");
    EXPECT_EQ(y.req.foreignTableName, "emp");

    auto schemas = tarn_fake::decode_args<tcli::TCLIService_GetSchemas_args>(
        (spk_tcli_get_schemas(k.stmt, &op), k.srv.records("GetSchemas").back().message));
    EXPECT_FALSE(schemas.req.__isset.catalogName);
    EXPECT_FALSE(schemas.req.__isset.schemaName);
}

// ---------------------------------------------------------------------------
// Calls on an operation

TEST(ProtocolCalls, CloseOperationReportsOnlyInTheTrace) {
    Connected k;
    ASSERT_EQ(k.connect_result, 0);
    tcli::TOperationHandle op;
    ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SET x=1", &op), 0);
    ASSERT_EQ(spk_tcli_close_operation(k.stmt, op), 0);
    // Closing it again: the server answers with an error status, which is only traced.
    EXPECT_EQ(spk_tcli_close_operation(k.stmt, op), 0);
    EXPECT_EQ(k.count(), 0);
    // A failed call posts nothing either.
    k.srv.fail_next("CloseOperation", Fault::DropMidReply);
    EXPECT_EQ(spk_tcli_close_operation(k.stmt, op), -1);
    EXPECT_EQ(k.count(), 0);
    EXPECT_TRUE(spk_tcli_broken(k.tc.conn));
    EXPECT_EQ(spk_tcli_close_operation(k.stmt, op), -1);
    EXPECT_EQ(k.count(), 0);
}

TEST(ProtocolCalls, ResultSetMetadata) {
    Connected k;
    ASSERT_EQ(k.connect_result, 0);
    k.srv.handlers().StatementResult = [](const std::string &) {
        tarn_fake::FakeResult r;
        r.schema = tarn_fake::schema({tarn_fake::column_desc("id", tcli::TTypeId::INT_TYPE, 1),
                                      tarn_fake::column_desc("price", tcli::TTypeId::DECIMAL_TYPE, 2,
                                                             {{"precision", 10}, {"scale", 2}})});
        return r;
    };
    tcli::TOperationHandle op;
    ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT id, price FROM t", &op), 0);
    tcli::TGetResultSetMetadataResp meta;
    ASSERT_EQ(spk_tcli_get_result_set_metadata(k.stmt, op, &meta), 0);
    ASSERT_TRUE(meta.__isset.schema);
    ASSERT_EQ(meta.schema.columns.size(), 2u);
    EXPECT_EQ(meta.schema.columns[1].columnName, "price");
    const auto &q = meta.schema.columns[1].typeDesc.types[0].primitiveEntry.typeQualifiers.qualifiers;
    EXPECT_EQ(q.at("precision").i32Value, 10);
    EXPECT_EQ(q.at("scale").i32Value, 2);

    // An error status without a schema is traced, not posted: zero columns.
    k.srv.handlers().GetResultSetMetadata = [](auto &, tcli::TGetResultSetMetadataResp &r) {
        r.status = tarn_fake::error_status("bad handle");
        r.__isset.schema = false;
    };
    tcli::TGetResultSetMetadataResp meta2;
    EXPECT_EQ(spk_tcli_get_result_set_metadata(k.stmt, op, &meta2), 0);
    EXPECT_FALSE(meta2.__isset.schema);
    EXPECT_EQ(k.count(), 0);

    k.srv.fail_next("GetResultSetMetadata", Fault::AppException, "lost it");
    tcli::TGetResultSetMetadataResp meta3;
    EXPECT_EQ(spk_tcli_get_result_set_metadata(k.stmt, op, &meta3), -1);
    EXPECT_EQ(k.message(), kGeneral + "t_c_l_i_service_if_get_result_set_metadata faile: 'application error: lost it'");
}

TEST(ProtocolCalls, FetchResultsRequestAndBatches) {
    Connected k;
    ASSERT_EQ(k.connect_result, 0);
    k.srv.handlers().StatementResult = [](const std::string &) {
        tarn_fake::FakeResult r;
        r.schema = tarn_fake::schema({tarn_fake::column_desc("s", tcli::TTypeId::STRING_TYPE, 1)});
        r.columns = {tarn_fake::string_column({"a", std::nullopt, "c", "d", std::nullopt})};
        return r;
    };
    tcli::TOperationHandle op;
    ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT s FROM t", &op), 0);
    std::vector<size_t> sizes;
    std::string nulls;
    for (int i = 0; i < 4; i++) {
        SpkFetchReply resp;
        ASSERT_EQ(spk_tcli_fetch_results(k.stmt, op, 2, &resp), 0);
        ASSERT_TRUE(resp.has_columns);
        ASSERT_EQ(resp.batch.columns.size(), 1u);
        ASSERT_EQ(resp.batch.columns[0].kind, SPK_BATCH_STRING);
        sizes.push_back(resp.batch.columns[0].count);
        nulls += resp.batch.columns[0].nulls + "|";
    }
    EXPECT_EQ(sizes, (std::vector<size_t>{2, 2, 1, 0}));
    EXPECT_EQ(nulls, "\x02||\x01||");   // short bitmaps, as the server sends them
    auto fetch = tarn_fake::decode_args<tcli::TCLIService_FetchResults_args>(k.srv.records("FetchResults")[0].message);
    EXPECT_EQ((int)fetch.req.orientation, 0);
    EXPECT_EQ(fetch.req.maxRows, 2);
    EXPECT_FALSE(fetch.req.__isset.fetchType);
    EXPECT_EQ(fetch.req.operationHandle.operationId.guid, op.operationId.guid);
}

TEST(ProtocolCalls, FetchResultsFailures) {
    {
        // An application exception names the fetch.
        Connected k;
        ASSERT_EQ(k.connect_result, 0);
        tcli::TOperationHandle op;
        ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT 1", &op), 0);
        k.srv.fail_next("FetchResults", Fault::AppException, "out of cheese");
        SpkFetchReply resp;
        EXPECT_EQ(spk_tcli_fetch_results(k.stmt, op, 100, &resp), -1);
        EXPECT_EQ(k.sqlstate(), "HY000");
        EXPECT_EQ(k.message(), kGeneral + "t_c_l_i_service_if_fetch_results fails: 'application error: out of cheese'");
    }
    {
        // A failing fetch is never taken for the end of the rows.
        Connected k;
        ASSERT_EQ(k.connect_result, 0);
        tcli::TOperationHandle op;
        ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT 1/0", &op), 0);
        k.srv.handlers().FetchResults = [](auto &, tcli::TFetchResultsResp &r) {
            r.status = tarn_fake::error_status("Division by zero", "22012", 0);
            r.__isset.results = false;
        };
        SpkFetchReply resp;
        EXPECT_EQ(spk_tcli_fetch_results(k.stmt, op, 100, &resp), -1);
        EXPECT_EQ(k.sqlstate(), "22012");
        EXPECT_EQ(k.message(), kPrefix + "Division by zero");
        EXPECT_FALSE(spk_tcli_broken(k.tc.conn));
    }
    {
        // Success with information still delivers the rows.
        Connected k;
        ASSERT_EQ(k.connect_result, 0);
        tcli::TOperationHandle op;
        ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT 1", &op), 0);
        k.srv.handlers().FetchResults = [](auto &, tcli::TFetchResultsResp &r) {
            r.status.statusCode = tcli::TStatusCode::SUCCESS_WITH_INFO_STATUS;
        };
        SpkFetchReply resp;
        EXPECT_EQ(spk_tcli_fetch_results(k.stmt, op, 100, &resp), 0);
        EXPECT_TRUE(resp.has_results);
        EXPECT_EQ(k.count(), 0);
    }
}

TEST(ProtocolCalls, OperationStatusAndCancel) {
    Connected k;
    ASSERT_EQ(k.connect_result, 0);
    tcli::TOperationHandle op;
    ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT 1", &op), 0);
    tcli::TGetOperationStatusResp status;
    ASSERT_EQ(spk_tcli_get_operation_status(k.stmt, op, &status), 0);
    EXPECT_EQ(status.operationState, tcli::TOperationState::FINISHED_STATE);
    ASSERT_EQ(spk_tcli_cancel_operation(k.stmt, op), 0);
    ASSERT_EQ(spk_tcli_get_operation_status(k.stmt, op, &status), 0);
    EXPECT_EQ(status.operationState, tcli::TOperationState::CANCELED_STATE);
    ASSERT_EQ(spk_tcli_close_operation(k.stmt, op), 0);
    // Cancelling what is gone fails, and is only traced: the statement's
    // answer is its own.
    EXPECT_EQ(spk_tcli_cancel_operation(k.stmt, op), -1);
    EXPECT_EQ(k.count(), 0);
}

// ---------------------------------------------------------------------------
// The connection after a failure, and without a session

TEST(ProtocolCalls, BrokenConnectionFailsFastWith08S01) {
    for (Framing framing : {Framing::Sasl, Framing::NoSasl}) {
        Connected k(framing);
        ASSERT_EQ(k.connect_result, 0);
        tcli::TOperationHandle op;
        ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT 1", &op), 0);
        k.srv.fail_next("FetchResults", Fault::DropMidReply);
        SpkFetchReply resp;
        EXPECT_EQ(spk_tcli_fetch_results(k.stmt, op, 100, &resp), -1);
        size_t sent = k.srv.records().size();

        SpkStatement *other = spk_stmt_new(k.tc.conn);
        EXPECT_EQ(spk_tcli_execute_statement(other, "SELECT 2", &op), -1);
        EXPECT_EQ(TestConnection::sqlstate(other), "08S01");
        EXPECT_EQ(k.srv.records().size(), sent);
    }
}

TEST(ProtocolCalls, NoConnection) {
    TestConnection tc;
    SpkStatement *stmt = spk_stmt_new(tc.conn);
    tcli::TOperationHandle op;
    EXPECT_EQ(spk_tcli_execute_statement(stmt, "SELECT 1", &op), -1);
    EXPECT_EQ(TestConnection::sqlstate(stmt), "08S01");
    EXPECT_EQ(spk_tcli_close_operation(stmt, op), -1);
    SpkFetchReply resp;
    EXPECT_EQ(spk_tcli_fetch_results(stmt, op, 10, &resp), -1);
    SpkString *out = nullptr;
    EXPECT_EQ(spk_get_string_info(tc.conn, 17, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(spk_disconnect(tc.conn), 0);
}

// ---------------------------------------------------------------------------
// Message-size limits

TEST(ProtocolLimits, LimitsApplyToEachReply) {
    Limits limits(1 << 20, 1 << 20);
    for (Framing framing : {Framing::Sasl, Framing::NoSasl}) {
        SCOPED_TRACE(framing == Framing::Sasl ? "framed" : "buffered");
        Connected k(framing);
        ASSERT_EQ(k.connect_result, 0);
        std::vector<std::optional<std::string>> rows(6, std::string(600 * 1024, 'r'));
        rows.push_back(std::string(2 << 20, 'R'));
        k.srv.handlers().StatementResult = [&](const std::string &) {
            tarn_fake::FakeResult r;
            r.schema = tarn_fake::schema({tarn_fake::column_desc("s", tcli::TTypeId::STRING_TYPE, 1)});
            r.columns = {tarn_fake::string_column(rows)};
            return r;
        };
        tcli::TOperationHandle op;
        ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT s FROM big", &op), 0);
        // Six replies of 600 KiB each: together far above the limit, each below it.
        for (int i = 0; i < 6; i++) {
            SpkFetchReply resp;
            ASSERT_EQ(spk_tcli_fetch_results(k.stmt, op, 1, &resp), 0) << i << ": " << k.message();
            ASSERT_EQ(resp.batch.columns[0].count, 1u);
        }
        // One reply of 2 MiB is refused, cleanly.
        SpkFetchReply resp;
        EXPECT_EQ(spk_tcli_fetch_results(k.stmt, op, 1, &resp), -1);
        std::string m = k.message();
        std::string expected = kLink + "t_c_l_i_service_if_fetch_results fails: '";
        EXPECT_EQ(m.substr(0, expected.size()), expected) << m;
        EXPECT_TRUE(spk_tcli_broken(k.tc.conn));
    }
}

TEST(ProtocolLimits, DefaultLimitsLetLargeBatchesThrough) {
    // Above Thrift's own default frame size of 16 MB.
    for (Framing framing : {Framing::Sasl, Framing::NoSasl}) {
        Connected k(framing);
        ASSERT_EQ(k.connect_result, 0);
        k.srv.handlers().StatementResult = [](const std::string &) {
            tarn_fake::FakeResult r;
            r.schema = tarn_fake::schema({tarn_fake::column_desc("s", tcli::TTypeId::STRING_TYPE, 1)});
            r.columns = {tarn_fake::string_column(
                std::vector<std::optional<std::string>>(20, std::string(1 << 20, 'z')))};
            return r;
        };
        tcli::TOperationHandle op;
        ASSERT_EQ(spk_tcli_execute_statement(k.stmt, "SELECT s FROM big", &op), 0);
        SpkFetchReply resp;
        ASSERT_EQ(spk_tcli_fetch_results(k.stmt, op, 1000, &resp), 0) << k.message();
        EXPECT_EQ(resp.batch.columns[0].count, 20u);
    }
}
