// The life of a statement and of a connection against a faulty server:
// asynchronous execution, cancel, timeouts, deadlines, lost links, bounded
// replies and describing without side effects.
#include <gtest/gtest.h>

#include <netinet/in.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "TCLIService.h"
#include "fake_dm.h"
#include "tarn_odbc_connection.h"

using namespace tarn_fake;
using tcli::TTypeId;
using Clock = std::chrono::steady_clock;

namespace {

FakeResult slow_result(int run_ms) {
    FakeResult r;
    r.schema = schema({column_desc("n", TTypeId::INT_TYPE, 1)});
    r.columns = {i32_column({7})};
    r.run_ms = run_ms;
    return r;
}

SQLRETURN exec(SQLHSTMT s, const std::string &sql) { return SQLExecDirect(s, (SQLCHAR *)sql.c_str(), SQL_NTS); }

std::string first_state(SQLSMALLINT type, SQLHANDLE h) { return diags(type, h).substr(0, 5); }

double seconds_since(Clock::time_point t) { return std::chrono::duration<double>(Clock::now() - t).count(); }

SQLUINTEGER connection_dead(SQLHDBC dbc) {
    SQLUINTEGER dead = 99;
    EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(dbc, SQL_ATTR_CONNECTION_DEAD, &dead, 0, nullptr));
    return dead;
}

// A connection made from a connection string of the test's own.
struct RawConnection {
    tarn_test::PrivateOdbcConfig config;
    tarn_test::OdbcConnection odbc;
    SQLHDBC dbc = odbc.dbc;
    SQLRETURN connect(const std::string &s) { return odbc.connect(s); }
};

std::string fake_string(int port, const std::string &extra) {
    return "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(port) + ";Authentication=NOSASL;" + extra;
}

// A listener that accepts and then never says anything.
struct SilentListener {
    int fd = -1;
    int port = 0;
    SilentListener() {
        fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        bind(fd, (sockaddr *)&a, sizeof a);
        listen(fd, 4);
        socklen_t n = sizeof a;
        getsockname(fd, (sockaddr *)&a, &n);
        port = ntohs(a.sin_port);
    }
    ~SilentListener() { close(fd); }
};

long max_rss_kb() {
    rusage u{};
    getrusage(RUSAGE_SELF, &u);
    return u.ru_maxrss;
}

// ---------------------------------------------------------------------------
// Cancel and timeouts of a running statement

TEST(Lifecycle, CancelStopsARunningStatementAtOnce) {
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &sql) {
        return slow_result(sql == "SELECT slow" ? 20000 : 0);
    };
    SQLHSTMT s = c.statement();
    Clock::time_point cancelled;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(1000));
        cancelled = Clock::now();
        EXPECT_EQ(SQL_SUCCESS, SQLCancel(s));
        EXPECT_LT(seconds_since(cancelled), 0.1) << "SQLCancel returns at once";
    });
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT slow"));
    double after_cancel = seconds_since(cancelled);
    canceller.join();
    EXPECT_EQ("HY008", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
    EXPECT_LT(after_cancel, 0.6);
    // The running operation's handle went out in CancelOperation, and it
    // was closed.
    auto cancels = c.server->records("CancelOperation");
    ASSERT_EQ(1u, cancels.size());
    auto executed = c.server->records("ExecuteStatement");
    ASSERT_EQ(1u, executed.size());
    auto req = decode_args<tcli::TCLIService_CancelOperation_args>(cancels[0].message).req;
    auto polled = decode_args<tcli::TCLIService_GetOperationStatus_args>(c.server->records("GetOperationStatus")[0].message).req;
    EXPECT_EQ(polled.operationHandle.operationId.guid, req.operationHandle.operationId.guid);
    EXPECT_TRUE(decode_args<tcli::TCLIService_ExecuteStatement_args>(executed[0].message).req.runAsync);
    EXPECT_EQ(0, c.server->open_operations());
    EXPECT_EQ(SQL_CD_FALSE, connection_dead(c.dbc));
    // The connection runs the next query on the same statement.
    ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT fast")) << diags(SQL_HANDLE_STMT, s);
    SQLINTEGER n = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(s));
    ASSERT_EQ(SQL_SUCCESS, SQLGetData(s, 1, SQL_C_SLONG, &n, 0, nullptr));
    EXPECT_EQ(7, n);
}

TEST(Lifecycle, QueryTimeoutEndsTheStatementWithHYT00) {
    for (bool server_enforces : {true, false}) {
        SCOPED_TRACE(server_enforces ? "the server enforces it" : "the driver enforces it");
        DmConnection c;
        c.server->handlers().StatementResult = [&](const std::string &) {
            FakeResult r = slow_result(12000);
            r.ignore_query_timeout = !server_enforces;
            return r;
        };
        SQLHSTMT s = c.statement();
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)1, 0));
        auto start = Clock::now();
        EXPECT_EQ(SQL_ERROR, exec(s, "SELECT slow"));
        double took = seconds_since(start);
        EXPECT_EQ("HYT00", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
        EXPECT_GE(took, 0.9);
        EXPECT_LT(took, 3.0);
        auto req = decode_args<tcli::TCLIService_ExecuteStatement_args>(c.server->records("ExecuteStatement")[0].message).req;
        EXPECT_EQ(1, req.queryTimeout);
        // Whichever sees the deadline first ends it; a server that ignores
        // it is cancelled by the driver.
        if (!server_enforces) {
            EXPECT_EQ(1u, c.server->records("CancelOperation").size());
        }
        EXPECT_EQ(0, c.server->open_operations());
        EXPECT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)0, 0));
        c.server->handlers().StatementResult = [](const std::string &) { return slow_result(0); };
        EXPECT_EQ(SQL_SUCCESS, exec(s, "SELECT 1")) << diags(SQL_HANDLE_STMT, s);
    }
}

TEST(Lifecycle, ServerSideOutcomesOfARunningStatement) {
    struct Case {
        const char *what;
        tcli::TOperationState::type state;
        std::string expected;
    } cases[] = {
        {"error", tcli::TOperationState::ERROR_STATE,
         "42000:[Quillmark][Tarnwell]Table or view not found: nope\n"},
        {"cancelled elsewhere", tcli::TOperationState::CANCELED_STATE,
         "HY008:[Quillmark][Tarnwell]Operation canceled: the statement was cancelled\n"},
        {"closed", tcli::TOperationState::CLOSED_STATE,
         "HY000:[Quillmark][Tarnwell]General error: the server closed the operation before it finished\n"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        DmConnection c;
        c.server->handlers().GetOperationStatus = [&](auto &, tcli::TGetOperationStatusResp &r) {
            r.__set_operationState(k.state);
            if (k.state == tcli::TOperationState::ERROR_STATE) {
                r.__set_sqlState("42000");
                r.__set_errorMessage("Table or view not found: nope");
            }
        };
        SQLHSTMT s = c.statement();
        EXPECT_EQ(SQL_ERROR, exec(s, "SELECT * FROM nope"));
        EXPECT_EQ(k.expected, diags(SQL_HANDLE_STMT, s));
        EXPECT_EQ(SQL_CD_FALSE, connection_dead(c.dbc));
    }
}

// ---------------------------------------------------------------------------
// Deadlines, dead links and bounded replies

TEST(Lifecycle, ASilentOrDrippingServerNeverHoldsAConnectPastItsDeadline) {
    {
        SilentListener quiet;
        RawConnection rc;
        auto start = Clock::now();
        EXPECT_EQ(SQL_ERROR, rc.connect(fake_string(quiet.port, "LoginTimeout=1")));
        EXPECT_LT(seconds_since(start), 3.0);
        EXPECT_EQ("HYT00", first_state(SQL_HANDLE_DBC, rc.dbc)) << diags(SQL_HANDLE_DBC, rc.dbc);
    }
    {
        // One byte a second: every byte is in time for a per-read timeout,
        // the logon as a whole is not.
        FakeServer srv(Framing::NoSasl);
        srv.fail_next("OpenSession", Fault::Drip, "", 300);
        RawConnection rc;
        auto start = Clock::now();
        EXPECT_EQ(SQL_ERROR, rc.connect(fake_string(srv.port(), "LoginTimeout=2")));
        EXPECT_LT(seconds_since(start), 4.0);
        EXPECT_EQ("HYT00", first_state(SQL_HANDLE_DBC, rc.dbc)) << diags(SQL_HANDLE_DBC, rc.dbc);
    }
}

TEST(Lifecycle, ADrippingReplyEndsAtTheRequestDeadline) {
    FakeServer srv(Framing::NoSasl);
    RawConnection rc;
    ASSERT_TRUE(SQL_SUCCEEDED(rc.connect(fake_string(srv.port(), "SocketTimeout=1"))));
    SQLHSTMT s;
    SQLAllocHandle(SQL_HANDLE_STMT, rc.dbc, &s);
    srv.fail_next("ExecuteStatement", Fault::Drip, "", 200);
    auto start = Clock::now();
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT 1"));
    EXPECT_LT(seconds_since(start), 3.0);
    EXPECT_EQ("HYT01", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
    EXPECT_EQ(SQL_CD_TRUE, connection_dead(rc.dbc));
    // Every later call says the link is gone, at once.
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT 2"));
    EXPECT_EQ("08S01", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
    EXPECT_EQ(SQL_ERROR, SQLPrepare(s, (SQLCHAR *)"SELECT 3", SQL_NTS) == SQL_SUCCESS ? SQLExecute(s) : SQL_ERROR);
    EXPECT_EQ("08S01", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
}

TEST(Lifecycle, ALinkLostDuringAnyCallIs08S01AndKillsTheConnection) {
    for (const char *call : {"ExecuteStatement", "GetOperationStatus", "GetResultSetMetadata", "FetchResults"}) {
        SCOPED_TRACE(call);
        DmConnection c;
        c.server->handlers().StatementResult = [](const std::string &) { return slow_result(0); };
        SQLHSTMT s = c.statement();
        c.server->fail_next(call, Fault::DropMidReply);
        SQLRETURN rc = exec(s, "SELECT 1");
        if (std::string(call) == "FetchResults") {
            ASSERT_EQ(SQL_SUCCESS, rc);
            rc = SQLFetch(s);
        }
        EXPECT_EQ(SQL_ERROR, rc);
        EXPECT_EQ("08S01", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
        EXPECT_EQ(SQL_CD_TRUE, connection_dead(c.dbc));
        SQLFreeStmt(s, SQL_CLOSE);
        EXPECT_EQ(SQL_ERROR, exec(s, "SELECT 2"));
        EXPECT_EQ("08S01", first_state(SQL_HANDLE_STMT, s));
    }
}

TEST(Lifecycle, DeclaredLengthsCannotMakeTheDriverAllocate) {
    // A reply that declares 2^31-1 bytes or elements and sends 14 bytes.
    auto fetch_reply = [](std::function<void(apache::thrift::protocol::TProtocol &)> results) {
        return message_bytes("FetchResults", 2, 0, [&](apache::thrift::protocol::TProtocol &p) {
            using namespace apache::thrift::protocol;
            p.writeStructBegin("r");
            p.writeFieldBegin("success", T_STRUCT, 0);
            p.writeStructBegin("resp");
            p.writeFieldBegin("status", T_STRUCT, 1);
            p.writeStructBegin("s");
            p.writeFieldBegin("statusCode", T_I32, 1);
            p.writeI32(0);
            p.writeFieldEnd();
            p.writeFieldStop();
            p.writeStructEnd();
            p.writeFieldEnd();
            p.writeFieldBegin("results", T_STRUCT, 2);
            results(p);
        });
    };
    using namespace apache::thrift::protocol;
    struct Case {
        const char *what;
        std::function<void(TProtocol &)> body;
    } cases[] = {
        {"a list of 2^31-1 rows",
         [](TProtocol &p) {
             p.writeStructBegin("rs");
             p.writeFieldBegin("startRowOffset", T_I64, 1);
             p.writeI64(0);
             p.writeFieldEnd();
             p.writeFieldBegin("rows", T_LIST, 2);
             p.writeListBegin(T_STRUCT, 0x7fffffff);
         }},
        {"a string of 2^31-1 bytes",
         [](TProtocol &p) {
             p.writeStructBegin("rs");
             p.writeFieldBegin("startRowOffset", T_I64, 1);
             p.writeI64(0);
             p.writeFieldEnd();
             p.writeFieldBegin("binaryColumns", T_STRING, 4);
             p.writeI32(0x7fffffff);
         }},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.what);
        DmConnection c;
        c.server->handlers().StatementResult = [](const std::string &) { return slow_result(0); };
        SQLHSTMT s = c.statement();
        ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT 1"));
        c.server->fail_next("FetchResults", Fault::Raw, fetch_reply(k.body));
        long before = max_rss_kb();
        auto start = Clock::now();
        EXPECT_EQ(SQL_ERROR, SQLFetch(s));
        EXPECT_LT(seconds_since(start), 10.0);
        EXPECT_EQ("08S01", first_state(SQL_HANDLE_STMT, s)) << diags(SQL_HANDLE_STMT, s);
        EXPECT_EQ(SQL_CD_TRUE, connection_dead(c.dbc));
        EXPECT_LT(max_rss_kb() - before, 200 * 1024) << "kB more at the peak";
    }
}

TEST(Lifecycle, RefusedConnectionsAndLogons) {
    int port;
    {
        FakeServer gone;
        port = gone.port();
    }
    {
        RawConnection rc;
        EXPECT_EQ(SQL_ERROR, rc.connect(fake_string(port, "")));
        EXPECT_EQ("08001", first_state(SQL_HANDLE_DBC, rc.dbc)) << diags(SQL_HANDLE_DBC, rc.dbc);
    }
    {
        FakeServer srv;
        srv.sasl().check = [](const std::string &, const std::string &) { return false; };
        RawConnection rc;
        EXPECT_EQ(SQL_ERROR, rc.connect("Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(srv.port()) +
                                        ";Authentication=LDAP;UID=u;PWD=wrong"));
        EXPECT_EQ("28000", first_state(SQL_HANDLE_DBC, rc.dbc)) << diags(SQL_HANDLE_DBC, rc.dbc);
    }
}

// ---------------------------------------------------------------------------
// Describing before execution

TEST(Lifecycle, DescribingNeverRunsAStatementThatChangesSomething) {
    struct Case {
        const char *sql;
        const char *sent;   // the describe text, or null when nothing may be sent
    } cases[] = {
        {"FROM src INSERT OVERWRITE TABLE dst SELECT *", nullptr},
        {"INSERT INTO t SELECT * FROM s", nullptr},
        {"WITH x AS (SELECT 1) INSERT INTO t SELECT * FROM x", nullptr},
        {"CACHE TABLE t", nullptr},
        {"SET spark.sql.ansi.enabled", nullptr},
        {"SELECT 1 -- note", "SELECT 1 LIMIT 0"},
        {"SELECT 1;", "SELECT 1 LIMIT 0"},
        {"SELECT a FROM t LIMIT 5 ; ", "SELECT a FROM t LIMIT 0"},
        {"FROM src SELECT *", "FROM src SELECT * LIMIT 0"},
    };
    for (const Case &k : cases) {
        SCOPED_TRACE(k.sql);
        DmConnection c;
        c.server->handlers().StatementResult = [](const std::string &) { return slow_result(0); };
        SQLHSTMT s = c.statement();
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(s, (SQLCHAR *)k.sql, SQL_NTS));
        SQLSMALLINT cols = -1;
        ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(s, &cols)) << diags(SQL_HANDLE_STMT, s);
        std::vector<std::string> sent = c.executed();
        if (k.sent) {
            EXPECT_EQ(1, cols);
            EXPECT_EQ(std::vector<std::string>{k.sent}, sent);
        } else {
            EXPECT_EQ(0, cols);
            EXPECT_TRUE(sent.empty()) << sent[0];
        }
        EXPECT_EQ(0, c.server->open_operations());
    }
}

}  // namespace
