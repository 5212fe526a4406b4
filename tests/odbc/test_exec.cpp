// Executing statements through the Driver Manager against the fake server:
// cursors, row counts, closing, cancelling, transactions, description.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "fake_dm.h"

using namespace tarn_fake;
using tcli::TTypeId;

namespace {

FakeResult two_column_result() {
    FakeResult r;
    r.schema = schema({column_desc("a", TTypeId::INT_TYPE, 1), column_desc("b", TTypeId::STRING_TYPE, 2)});
    r.columns = {i32_column({1}), string_column({std::string("x")})};
    return r;
}

SQLSMALLINT num_cols(SQLHSTMT s) {
    SQLSMALLINT n = -1;
    EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(s, &n));
    return n;
}

SQLLEN row_count(SQLHSTMT s) {
    SQLLEN n = -2;
    EXPECT_EQ(SQL_SUCCESS, SQLRowCount(s, &n));
    return n;
}

SQLRETURN exec(SQLHSTMT s, const char *sql) { return SQLExecDirect(s, (SQLCHAR *)sql, SQL_NTS); }

TEST(Execute, QueriesLeaveADescribedCursorOtherStatementsARowCount) {
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &sql) {
        FakeResult r = two_column_result();
        if (sql.rfind("INSERT", 0) == 0) {
            r = FakeResult();
            r.schema = schema({column_desc("Result", TTypeId::STRING_TYPE, 1)});
            r.modified_row_count = 1;
        }
        return r;
    };
    SQLHSTMT s = c.statement();
    ASSERT_EQ(SQL_SUCCESS, exec(s, "  SELECT 1"));
    EXPECT_EQ(2, num_cols(s));
    EXPECT_EQ(-1, row_count(s));
    EXPECT_EQ(1, c.server->open_operations());

    ASSERT_EQ(SQL_SUCCESS, exec(s, "INSERT INTO t VALUES (1)"));
    EXPECT_EQ(1, row_count(s));
    EXPECT_EQ(0, num_cols(s)) << "a statement without rows has no columns";
    EXPECT_EQ(0, c.server->open_operations()) << "its operation is closed at once";

    // A query after it reports no row count of its own.
    ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT a, b FROM t"));
    EXPECT_EQ(-1, row_count(s));
    EXPECT_EQ(2, num_cols(s));
    EXPECT_EQ(SQL_NO_DATA, SQLMoreResults(s));
}

TEST(Execute, EveryRowReturningKindKeepsItsCursor) {
    struct Case {
        const char *sql;
        bool cursor;
    } cases[] = {
        {"WITH x AS (SELECT 1) SELECT * FROM x", true}, {"SHOW TABLES", true}, {"DESCRIBE t", true},
        {"DESC t", true}, {"EXPLAIN SELECT 1", true}, {"VALUES (1)", true}, {"TABLE t", true},
        {"FROM t SELECT a", true}, {"(SELECT 1)", true}, {"frobnicate", true},
        {"SET x=1", true},
        {"CREATE TABLE t (a INT)", false}, {"DROP TABLE t", false}, {"USE db", false},
        {"INSERT INTO t VALUES (1)", false}, {"CACHE TABLE t", false}, {"MERGE INTO t USING s ON 1=1", false},
    };
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &) { return two_column_result(); };
    SQLHSTMT s = c.statement();
    for (const Case &k : cases) {
        ASSERT_EQ(SQL_SUCCESS, exec(s, k.sql)) << k.sql << diags(SQL_HANDLE_STMT, s);
        EXPECT_EQ(k.cursor ? 2 : 0, num_cols(s)) << k.sql;
        EXPECT_EQ(k.cursor ? 1 : 0, c.server->open_operations()) << k.sql;
        SQLCloseCursor(s);
    }
}

// Spark SQL reaches the server as written (double quotes write a string in
// Spark); ODBC escapes become Spark SQL unless SQL_ATTR_NOSCAN is on.
TEST(Execute, SparkSqlAsWrittenAndEscapesTranslated) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    const char *spark = "SELECT \"dq\", `my col`, 'it''s \"x\"' FROM `db`.`t` /* open";
    ASSERT_EQ(SQL_SUCCESS, exec(s, spark));
    ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT {fn ucase(\"a\")} FROM {oj t LEFT OUTER JOIN u ON t.k = u.k}"));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_NOSCAN, (SQLPOINTER)SQL_NOSCAN_ON, 0));
    ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT {fn ucase('a')}"));
    ASSERT_EQ(3u, c.executed().size());
    EXPECT_EQ(spark, c.executed()[0]);
    EXPECT_EQ("SELECT upper(\"a\") FROM t LEFT OUTER JOIN u ON t.k = u.k", c.executed()[1]);
    EXPECT_EQ("SELECT {fn ucase('a')}", c.executed()[2]);
}

TEST(Execute, ClosingAndReexecuting) {
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &) { return two_column_result(); };
    SQLHSTMT s = c.statement();
    EXPECT_EQ(SQL_ERROR, SQLExecute(s));   // the Driver Manager refuses it already (HY010)

    ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT a, b FROM t"));
    EXPECT_EQ(SQL_SUCCESS, SQLFreeStmt(s, SQL_CLOSE));
    EXPECT_EQ(0, c.server->open_operations());
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(s, (SQLCHAR *)"SELECT a, b FROM t", SQL_NTS));
    EXPECT_TRUE(c.executed().size() == 1) << "preparing sends nothing";
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(s));
    EXPECT_EQ(1, c.server->open_operations());
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(s));
    EXPECT_EQ(1, c.server->open_operations()) << "re-execution closes the previous operation";
    EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(s));
    EXPECT_EQ(0, c.server->open_operations());
    // SQLCloseCursor forgets the columns; the prepared statement is described
    // again (LIMIT 0) when asked.
    EXPECT_EQ(2, num_cols(s));
    ASSERT_EQ(4u, c.executed().size());
    EXPECT_EQ("SELECT a, b FROM t LIMIT 0", c.executed()[3]);
}

TEST(Execute, ServerFailuresAndBrokenLinks) {
    DmConnection c;
    c.server->handlers().ExecuteStatement = [](const tcli::TExecuteStatementReq &, tcli::TExecuteStatementResp &r) {
        r.status = error_status("Table or view not found: t", "42S02", 7);
        r.__isset.operationHandle = false;
    };
    SQLHSTMT s = c.statement();
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT * FROM t"));
    SQLCHAR state[6] = {0}, msg[256] = {0};
    SQLINTEGER native = 0;
    SQLSMALLINT len = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetDiagRec(SQL_HANDLE_STMT, s, 1, state, &native, msg, sizeof msg, &len));
    EXPECT_STREQ("42S02", (char *)state);
    EXPECT_EQ(7, native);
    EXPECT_STREQ("[Quillmark][Tarnwell]Table or view not found: t", (char *)msg);
    // A failed execution of a prepared statement leaves its text for a retry.
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(s, (SQLCHAR *)"SELECT * FROM t", SQL_NTS));
    EXPECT_EQ(SQL_ERROR, SQLExecute(s));
    c.server->handlers().ExecuteStatement = nullptr;
    EXPECT_EQ(SQL_SUCCESS, SQLExecute(s));

    // A connection dropped in the middle of a reply fails the call and marks
    // the link broken: later calls fail at once instead of waiting.
    c.server->fail_next("ExecuteStatement", Fault::DropMidReply);
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT 2"));
    EXPECT_NE(std::string::npos, diags(SQL_HANDLE_STMT, s).find("execute_statement fails")) << diags(SQL_HANDLE_STMT, s);
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT 3"));
    EXPECT_NE(std::string::npos, diags(SQL_HANDLE_STMT, s).find("08S01")) << diags(SQL_HANDLE_STMT, s);
}

TEST(Execute, MarkersAreRefusedBeforeAnythingIsSent) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT * FROM t WHERE a = ?"));
    EXPECT_EQ(0, diags(SQL_HANDLE_STMT, s).rfind("07002:", 0)) << diags(SQL_HANDLE_STMT, s);
    EXPECT_TRUE(c.executed().empty());
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(s, (SQLCHAR *)"SELECT * FROM t WHERE a = ?", SQL_NTS));
    EXPECT_EQ(SQL_ERROR, SQLExecute(s));
    EXPECT_TRUE(c.executed().empty());
    SQLSMALLINT n = -1;
    EXPECT_EQ(SQL_SUCCESS, SQLNumParams(s, &n));
    EXPECT_EQ(1, n);
}

TEST(Describe, PreparedStatementsAreDescribedWithLimitZero) {
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &sql) {
        FakeResult r;
        r.schema = schema({column_desc("a", TTypeId::DECIMAL_TYPE, 1, {{"precision", 10}, {"scale", 2}}),
                           column_desc("ts", TTypeId::TIMESTAMP_TYPE, 2), column_desc("s", TTypeId::STRING_TYPE, 3),
                           column_desc("big", TTypeId::BIGINT_TYPE, 4)});
        return r;
    };
    SQLHSTMT s = c.statement();
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(s, (SQLCHAR *)"SELECT a FROM t WHERE b = ?", SQL_NTS));
    EXPECT_EQ(4, num_cols(s));
    ASSERT_EQ(1u, c.executed().size());
    EXPECT_EQ("SELECT a FROM t LIMIT 0", c.executed()[0]);
    EXPECT_EQ(0, c.server->open_operations());

    SQLCHAR name[32];
    SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(s, 1, name, sizeof name, &name_len, &type, &size, &digits, &nullable));
    EXPECT_STREQ("a", (char *)name);
    EXPECT_EQ(SQL_NUMERIC, type);
    EXPECT_EQ(10u, size);
    EXPECT_EQ(2, digits);
    EXPECT_EQ(SQL_NULLABLE, nullable);
    SQLLEN display = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(s, 1, SQL_DESC_DISPLAY_SIZE, nullptr, 0, nullptr, &display));
    EXPECT_EQ(12, display);
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(s, 2, name, sizeof name, &name_len, &type, &size, &digits, &nullable));
    EXPECT_EQ(SQL_TYPE_TIMESTAMP, type);
    EXPECT_EQ(26u, size);
    EXPECT_EQ(6, digits);
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(s, 3, name, sizeof name, &name_len, &type, &size, &digits, &nullable));
    EXPECT_EQ(SQL_VARCHAR, type);
    EXPECT_EQ(256u, size);

    SQLCHAR tname[32];
    SQLWCHAR wname[32];
    SQLSMALLINT tlen = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(s, 4, SQL_DESC_TYPE_NAME, tname, sizeof tname, &tlen, nullptr));
    EXPECT_STREQ("bigint", (char *)tname);
    EXPECT_EQ(6, tlen);
    ASSERT_EQ(SQL_SUCCESS, SQLColAttributeW(s, 4, SQL_DESC_TYPE_NAME, wname, sizeof wname, &tlen, nullptr));
    EXPECT_EQ(12, tlen);
    ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(s, 3, SQL_DESC_LOCAL_TYPE_NAME, tname, sizeof tname, &tlen, nullptr));
    EXPECT_STREQ("T_TYPE_ID_STRING_TYPE", (char *)tname);

    EXPECT_EQ(SQL_ERROR, SQLDescribeCol(s, 5, name, sizeof name, &name_len, &type, &size, &digits, &nullable));
    EXPECT_EQ(0, diags(SQL_HANDLE_STMT, s).rfind("07009:", 0));
    EXPECT_EQ(SQL_ERROR, SQLColAttribute(s, 1, 9999, nullptr, 0, nullptr, &display));
    EXPECT_EQ(0, diags(SQL_HANDLE_STMT, s).rfind("HY091:", 0));
}

TEST(Describe, StatementsWithoutRowsAreNotSentToDescribe) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(s, (SQLCHAR *)"INSERT INTO t VALUES (?)", SQL_NTS));
    EXPECT_EQ(0, num_cols(s));
    EXPECT_TRUE(c.executed().empty());
}

TEST(Describe, NonPrimitiveColumnsAndOdbc2Timestamps) {
    DmConnection c(Framing::NoSasl, SQL_OV_ODBC2);
    c.server->handlers().StatementResult = [](const std::string &sql) {
        FakeResult r;
        r.schema = schema({column_desc("ts", TTypeId::TIMESTAMP_TYPE, 1)});
        if (sql.find("arr") != std::string::npos) {
            tcli::TTypeEntry e;
            e.__set_arrayEntry(tcli::TArrayTypeEntry());
            r.schema.columns[0].typeDesc.types = {e};
        }
        return r;
    };
    SQLHSTMT s = c.statement();
    ASSERT_EQ(SQL_SUCCESS, exec(s, "SELECT ts FROM t"));
    SQLSMALLINT type = 0, digits = 0;
    SQLULEN size = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(s, 1, nullptr, 0, nullptr, &type, &size, &digits, nullptr));
    EXPECT_EQ(SQL_TIMESTAMP, type);
    EXPECT_EQ(26u, size);
    EXPECT_EQ(6, digits);
    EXPECT_EQ(SQL_ERROR, exec(s, "SELECT arr FROM t"));
    // The Driver Manager shows HY000 as S1000 to an ODBC 2 application.
    EXPECT_EQ("S1000:[Quillmark][Tarnwell]General error: non primative type column 0\n", diags(SQL_HANDLE_STMT, s));
}

TEST(Connection, NativeSqlAndEndTran) {
    DmConnection c;
    SQLWCHAR out[5];
    SQLINTEGER len = 0;
    SQLWCHAR in[64];
    const char *text = "{d '2020-01-02'}";
    size_t i = 0;
    for (; text[i]; i++) in[i] = (SQLWCHAR)text[i];
    in[i] = 0;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, SQLNativeSqlW(c.dbc, in, SQL_NTS, out, 5, &len));
    EXPECT_EQ(17, len);
    EXPECT_EQ('D', out[0]);
    EXPECT_EQ(0, out[4]);
    EXPECT_EQ(0, diags(SQL_HANDLE_DBC, c.dbc).rfind("01004:", 0));

    c.server->handlers().StatementResult = [](const std::string &) { return two_column_result(); };
    SQLHSTMT s1 = c.statement(), s2 = c.statement();
    ASSERT_EQ(SQL_SUCCESS, exec(s1, "SELECT 1"));
    ASSERT_EQ(SQL_SUCCESS, exec(s2, "SELECT 2"));
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT));
    EXPECT_EQ(2, c.server->open_operations()) << "autocommit on: nothing to do";
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(c.dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0));
    EXPECT_EQ(SQL_ERROR, SQLEndTran(SQL_HANDLE_DBC, c.dbc, 2));

    // Spark has no transactions.  A commit keeps the cursors (as
    // SQL_CURSOR_COMMIT_BEHAVIOR says) and a rollback of queries alone is
    // harmless ...
    SQLUSMALLINT capable = 99;
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(c.dbc, SQL_TXN_CAPABLE, &capable, sizeof capable, nullptr));
    EXPECT_EQ(SQL_TC_NONE, capable);
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT));
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK));
    EXPECT_EQ(2, c.server->open_operations());
    // ... but a rollback cannot undo a change: it fails and says so.
    SQLCloseCursor(s2);
    ASSERT_EQ(SQL_SUCCESS, exec(s2, "INSERT INTO t VALUES (1)"));
    EXPECT_EQ(SQL_ERROR, SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK));
    EXPECT_EQ(0, diags(SQL_HANDLE_DBC, c.dbc).rfind("HYC00:", 0)) << diags(SQL_HANDLE_DBC, c.dbc);
    EXPECT_NE(diags(SQL_HANDLE_DBC, c.dbc).find("cannot be rolled back"), std::string::npos);
    ASSERT_EQ(SQL_SUCCESS, exec(s2, "INSERT INTO t VALUES (2)"));
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_COMMIT));
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, c.dbc, SQL_ROLLBACK)) << "nothing since the commit";
}

TEST(Cancel, IdleStatementAndACancelDuringTheExecuteRequest) {
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &) { return two_column_result(); };
    SQLHSTMT s = c.statement();
    // Nothing runs: nothing to cancel, nothing sent.
    EXPECT_EQ(SQL_SUCCESS, SQLCancel(s));
    EXPECT_EQ("", diags(SQL_HANDLE_STMT, s));

    // The ExecuteStatement reply is held up by the server; the cancel goes
    // out as soon as it is in, never interleaved with it on the socket.
    c.server->fail_next("ExecuteStatement", Fault::Delay, "", 300);
    std::thread runner([&] {
        EXPECT_EQ(SQL_ERROR, exec(s, "SELECT 1"));
        EXPECT_EQ(0u, diags(SQL_HANDLE_STMT, s).rfind("HY008:", 0)) << diags(SQL_HANDLE_STMT, s);
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(SQL_SUCCESS, SQLCancel(s));
    runner.join();
    EXPECT_EQ(1u, c.server->records("CancelOperation").size());
    EXPECT_EQ(0, c.server->open_operations());
    // The statement and the connection go on.
    EXPECT_EQ(SQL_SUCCESS, exec(s, "SELECT 2")) << diags(SQL_HANDLE_STMT, s);
    SQLHSTMT other = c.statement();
    EXPECT_EQ(SQL_SUCCESS, exec(other, "SELECT 3")) << diags(SQL_HANDLE_STMT, other);
    EXPECT_EQ(2, c.server->open_operations());
}

}  // namespace
