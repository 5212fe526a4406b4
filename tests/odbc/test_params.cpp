// Parameters through the Driver Manager against the fake server: the exact
// text the server receives, parameter arrays (row-wise and column-wise, with
// status, processed and operation arrays, batched INSERTs) and data at
// execution.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "exec/spk_param.h"
#include "fake_dm.h"

using namespace tarn_fake;
using tcli::TTypeId;

namespace {

SQLRETURN prepare(SQLHSTMT s, const char *sql) { return SQLPrepare(s, (SQLCHAR *)sql, SQL_NTS); }

std::string first_state(SQLHSTMT s) { return diags(SQL_HANDLE_STMT, s).substr(0, 5); }

TEST(Params, TheServerReceivesEachValueAsALiteral) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    SQLINTEGER i = 42;
    SQLLEN ind = 0, nts = SQL_NTS, null_ind = SQL_NULL_DATA, two = 2;
    char name[] = "O'Brien\\";
    SQL_DATE_STRUCT day{2024, 2, 29};
    SQL_TIMESTAMP_STRUCT ts{2024, 1, 31, 10, 11, 12, 123456789};
    unsigned char bin[] = {0x01, 0xAB};
    char bit[] = "true";
    double d = 1234567.0;
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0, &ind));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, name, sizeof name, &nts));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_LONG, SQL_INTEGER, 0, 0, &i, 0, &null_ind));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 4, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_VARCHAR, 10, 0, &day, 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(s, 5, SQL_PARAM_INPUT, SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, &ts, 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 6, SQL_PARAM_INPUT, SQL_C_BINARY, SQL_VARBINARY, 2, 0, bin, 2, &two));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 7, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_BIT, 1, 0, bit, 0, &nts));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 8, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &d, 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(s,
                                         (SQLCHAR *)"SELECT * FROM t WHERE a = ? AND b = ? AND c = ? AND d = ? AND "
                                                    "e = ? AND f = ? AND g = ? AND h = 5-?",
                                         SQL_NTS))
        << diags(SQL_HANDLE_STMT, s);
    ASSERT_EQ(1u, c.executed().size());
    EXPECT_EQ("SELECT * FROM t WHERE a =  42  AND b =  'O\\'Brien\\\\'  AND c =  null  AND d =  DATE '2024-02-29'  "
              "AND e =  TIMESTAMP '2024-01-31 10:11:12.123456'  AND f =  X'01AB'  AND g =  true  AND h = 5- 1234567D ",
              c.executed()[0]);

    // The same bindings serve a prepared statement; re-binding changes the next text.
    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(s, SQL_CLOSE));
    ASSERT_EQ(SQL_SUCCESS, prepare(s, "INSERT INTO t VALUES (?)"));
    SQLSMALLINT n = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLNumParams(s, &n));
    EXPECT_EQ(1, n);
    i = -7;
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(s));
    EXPECT_EQ("INSERT INTO t VALUES ( -7 )", c.executed().back());
}

TEST(Params, RefusedValuesAndBindingsSendNothing) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    char text[] = "1 OR 1=1";
    SQLLEN nts = SQL_NTS;
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 0, 0, text, 0, &nts));
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(s, (SQLCHAR *)"SELECT * FROM t WHERE id = ?", SQL_NTS));
    EXPECT_EQ("22018", first_state(s)) << diags(SQL_HANDLE_STMT, s);
    SQLINTEGER column = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetDiagField(SQL_HANDLE_STMT, s, 1, SQL_DIAG_COLUMN_NUMBER, &column, 0, nullptr));
    EXPECT_EQ(1, column);

    // Two markers, one bound.
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(s, (SQLCHAR *)"SELECT * FROM t WHERE id = ? AND b = ?", SQL_NTS));
    EXPECT_EQ("07002", first_state(s));
    EXPECT_TRUE(c.executed().empty());

    SQLINTEGER v = 1;
    EXPECT_EQ(SQL_ERROR, SQLBindParameter(s, 2, SQL_PARAM_OUTPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, nullptr));
    EXPECT_EQ("HYC00", first_state(s));
    EXPECT_EQ(SQL_ERROR, SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_SLONG, 999, 0, 0, &v, 0, nullptr));
    EXPECT_EQ("HY004", first_state(s));
    EXPECT_EQ(SQL_ERROR, SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_DECIMAL, 0, 0, &v, 0, nullptr));
    EXPECT_EQ("HY104", first_state(s));

    // Resetting the parameters empties the parameter descriptor.
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, nullptr));
    SQLHDESC apd = nullptr;
    ASSERT_EQ(SQL_SUCCESS, SQLGetStmtAttr(s, SQL_ATTR_APP_PARAM_DESC, &apd, 0, nullptr));
    SQLINTEGER count = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetDescField(apd, 0, SQL_DESC_COUNT, &count, 0, nullptr));
    EXPECT_EQ(2, count);
    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(s, SQL_RESET_PARAMS));
    ASSERT_EQ(SQL_SUCCESS, SQLGetDescField(apd, 0, SQL_DESC_COUNT, &count, 0, nullptr));
    EXPECT_EQ(0, count);
}

TEST(Params, ColumnWiseArraysBecomeOneMultiRowInsert) {
    DmConnection c;
    c.server->handlers().StatementResult = [](const std::string &sql) {
        FakeResult r;
        r.schema = schema({column_desc("Result", TTypeId::STRING_TYPE, 1)});
        size_t rows = 1;
        for (size_t at = sql.find("), ("); at != std::string::npos; at = sql.find("), (", at + 1)) rows++;
        r.modified_row_count = (double)rows;
        return r;
    };
    SQLHSTMT s = c.statement();
    SQLINTEGER ids[5] = {1, 2, 3, 4, 5};
    char names[5][8] = {"a", "b'", "c", "d", "e"};
    SQLLEN name_ind[5] = {SQL_NTS, SQL_NTS, SQL_NULL_DATA, SQL_NTS, SQL_NTS};
    char nums[5][8] = {"10", "20", "30", "x", "50"};
    SQLLEN num_ind[5] = {SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS, SQL_NTS};
    SQLUSMALLINT ops[5] = {SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_PROCEED, SQL_PARAM_PROCEED,
                           SQL_PARAM_IGNORE};
    SQLUSMALLINT status[5] = {99, 99, 99, 99, 99};
    SQLULEN processed = 99;
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)5, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAM_OPERATION_PTR, ops, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAM_STATUS_PTR, status, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids, 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 7, 0, names, 8, name_ind));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_BIGINT, 0, 0, nums, 8, num_ind));
    ASSERT_EQ(SQL_SUCCESS_WITH_INFO,
              SQLExecDirect(s, (SQLCHAR *)"INSERT INTO t (id, name, n) VALUES (?, ?, ?);", SQL_NTS));
    EXPECT_EQ("22018", first_state(s)) << diags(SQL_HANDLE_STMT, s);
    ASSERT_EQ(1u, c.executed().size());
    EXPECT_EQ("INSERT INTO t (id, name, n) VALUES ( 1 ,  'a' ,  10 ), ( 2 ,  'b\\'' ,  20 ), ( 3 ,  null ,  30 );",
              c.executed()[0]);
    EXPECT_EQ(4u, processed);
    EXPECT_EQ(SQL_PARAM_SUCCESS, status[0]);
    EXPECT_EQ(SQL_PARAM_SUCCESS, status[2]);
    EXPECT_EQ(SQL_PARAM_ERROR, status[3]);
    EXPECT_EQ(SQL_PARAM_UNUSED, status[4]);
    SQLLEN rows = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLRowCount(s, &rows));
    EXPECT_EQ(3, rows);

    // A failing server statement marks every set it carried.
    c.server->handlers().ExecuteStatement = [](const tcli::TExecuteStatementReq &, tcli::TExecuteStatementResp &r) {
        r.status = error_status("table not found");
    };
    strcpy(nums[3], "40");
    ASSERT_EQ(SQL_ERROR, SQLExecute(s));
    EXPECT_EQ(SQL_PARAM_ERROR, status[0]);
    EXPECT_EQ(SQL_PARAM_ERROR, status[3]);
    EXPECT_EQ(SQL_PARAM_UNUSED, status[4]);
}

TEST(Params, RowWiseArraysWithAnOffsetRunOncePerSet) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    struct Row {
        SQLINTEGER id;
        SQLLEN id_ind;
        SQLWCHAR name[6];
        SQLLEN name_ind;
    } rows[4] = {};
    const char16_t *names[] = {u"x", u"\U0001F600", u"it's", u"z"};
    for (int r = 0; r < 4; r++) {
        rows[r].id = 10 + r;
        rows[r].id_ind = 0;
        std::u16string n = names[r];
        memcpy(rows[r].name, n.data(), n.size() * 2);
        rows[r].name_ind = SQL_NTS;
    }
    // The bindings name row 0; the offset moves them to row 1.
    SQLLEN offset = sizeof(Row);
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_TYPE, (SQLPOINTER)sizeof(Row), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_OFFSET_PTR, &offset, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)3, 0));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &rows[0].id, 0, &rows[0].id_ind));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 5, 0, rows[0].name,
                                            sizeof rows[0].name, &rows[0].name_ind));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(s, (SQLCHAR *)"UPDATE t SET id = ? WHERE name = ?", SQL_NTS))
        << diags(SQL_HANDLE_STMT, s);
    std::vector<std::string> want = {"UPDATE t SET id =  11  WHERE name =  '\xf0\x9f\x98\x80' ",
                                     "UPDATE t SET id =  12  WHERE name =  'it\\'s' ",
                                     "UPDATE t SET id =  13  WHERE name =  'z' "};
    EXPECT_EQ(want, c.executed());

    // Run once per set, INSERT OVERWRITE keeps the last row: it is not batched.
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(s, (SQLCHAR *)"INSERT OVERWRITE t VALUES (?, ?)", SQL_NTS));
    EXPECT_EQ(6u, c.executed().size());
    EXPECT_EQ("INSERT OVERWRITE t VALUES ( 13 ,  'z' )", c.executed().back());

    // A query with an array of parameters is refused.
    EXPECT_EQ(SQL_ERROR, SQLExecDirect(s, (SQLCHAR *)"SELECT * FROM t WHERE id = ? AND n = ?", SQL_NTS));
    EXPECT_EQ("HYC00", first_state(s));
}

TEST(Params, LargeArraysAreSplitIntoBoundedStatements) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    const int n = 3000;
    const int width = 4000;
    std::vector<char> text((size_t)n * width, 'v');
    std::vector<SQLLEN> ind(n, width - 1);
    std::vector<SQLINTEGER> ids(n);
    for (int i = 0; i < n; i++) ids[i] = i;
    SQLULEN processed = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(SQLULEN)n, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, ids.data(), 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, width, 0, text.data(), width, ind.data()));
    ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(s, (SQLCHAR *)"insert into t values (?, ?)", SQL_NTS));
    EXPECT_EQ((SQLULEN)n, processed);
    size_t rows = 0;
    for (const std::string &sql : c.executed()) {
        EXPECT_LE(sql.size(), (size_t)SPK_PARAM_BATCH_BYTES);
        EXPECT_EQ(0u, sql.rfind("insert into t values ( ", 0));
        rows += 1;
        for (size_t at = sql.find("), ("); at != std::string::npos; at = sql.find("), (", at + 1)) rows++;
    }
    EXPECT_EQ((size_t)n, rows);
    EXPECT_GE(c.executed().size(), 3u);
    EXPECT_LE(c.executed().size(), 4u);
}

TEST(Params, DataAtExecutionArrivesInPieces) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    SQLLEN dae = SQL_DATA_AT_EXEC, dae_len = SQL_LEN_DATA_AT_EXEC(8);
    SQLINTEGER id = 7;
    int token_a = 0, token_b = 0, token_c = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 10, 0, &token_a, 0, &dae));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &id, 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(s, 3, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 10, 0, &token_b, 0, &dae_len));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 4, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &token_c, 0, &dae));
    ASSERT_EQ(SQL_NEED_DATA, SQLExecDirect(s, (SQLCHAR *)"INSERT INTO t VALUES (?, ?, ?, ?)", SQL_NTS));
    EXPECT_TRUE(c.executed().empty());

    SQLPOINTER token = nullptr;
    ASSERT_EQ(SQL_NEED_DATA, SQLParamData(s, &token));
    EXPECT_EQ(&token_a, token);
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER) "ab", 2));
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER) "cd'", SQL_NTS));

    ASSERT_EQ(SQL_NEED_DATA, SQLParamData(s, &token));
    EXPECT_EQ(&token_b, token);
    // An emoji whose surrogate pair is split between pieces, and an odd split.
    std::u16string w = u"\U0001F600\u00e9";
    const char *bytes = reinterpret_cast<const char *>(w.data());
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER)bytes, 2));
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER)(bytes + 2), 3));
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER)(bytes + 5), 1));

    ASSERT_EQ(SQL_NEED_DATA, SQLParamData(s, &token));
    EXPECT_EQ(&token_c, token);
    double v = 0.1;
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, &v, 0));

    ASSERT_EQ(SQL_SUCCESS, SQLParamData(s, &token)) << diags(SQL_HANDLE_STMT, s);
    ASSERT_EQ(1u, c.executed().size());
    EXPECT_EQ("INSERT INTO t VALUES ( 'abcd\\'' ,  7 ,  '\xf0\x9f\x98\x80\xc3\xa9' ,  0.1D )", c.executed()[0]);

    // A cancelled or failed sequence sends nothing.
    ASSERT_EQ(SQL_NEED_DATA, SQLExecDirect(s, (SQLCHAR *)"INSERT INTO t VALUES (?, ?, ?, ?)", SQL_NTS));
    ASSERT_EQ(SQL_NEED_DATA, SQLParamData(s, &token));
    EXPECT_EQ(SQL_SUCCESS, SQLCancel(s));
    EXPECT_EQ(SQL_ERROR, SQLParamData(s, &token));
    ASSERT_EQ(SQL_NEED_DATA, SQLExecDirect(s, (SQLCHAR *)"INSERT INTO t VALUES (?, ?, ?, ?)", SQL_NTS));
    ASSERT_EQ(SQL_NEED_DATA, SQLParamData(s, &token));
    EXPECT_EQ(SQL_ERROR, SQLPutData(s, (SQLPOINTER) "x", -5));
    EXPECT_EQ("HY090", first_state(s));
    // A fixed-size value comes in one piece.
    ASSERT_EQ(SQL_NEED_DATA, SQLExecDirect(s, (SQLCHAR *)"INSERT INTO t VALUES (?, ?, ?, ?)", SQL_NTS));
    for (int k = 0; k < 3; k++) {
        ASSERT_EQ(SQL_NEED_DATA, SQLParamData(s, &token));
        if (k < 2) {
            ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER) "ab", 2));
        }
    }
    ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, &v, 0));
    EXPECT_EQ(SQL_ERROR, SQLPutData(s, &v, 0));
    EXPECT_EQ("HY019", first_state(s));
    EXPECT_EQ(1u, c.executed().size());
}

TEST(Params, DataAtExecutionWithAnArrayCollectsEverySet) {
    DmConnection c;
    SQLHSTMT s = c.statement();
    // pyodbc's layout: each row holds a token the application reads back.
    struct Row {
        void *token;
        SQLLEN ind;
    } rows[3];
    for (Row &r : rows) {
        r.token = &r;
        r.ind = SQL_LEN_DATA_AT_EXEC(0);
    }
    rows[1].ind = SQL_NULL_DATA;
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAM_BIND_TYPE, (SQLPOINTER)sizeof(Row), 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(s, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)3, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(s, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 0, 0, &rows[0].token,
                                            sizeof(void *), &rows[0].ind));
    ASSERT_EQ(SQL_SUCCESS, prepare(s, "INSERT INTO t VALUES (?)"));
    ASSERT_EQ(SQL_NEED_DATA, SQLExecute(s));
    SQLPOINTER token = nullptr;
    std::vector<const void *> asked;
    SQLRETURN rc;
    while ((rc = SQLParamData(s, &token)) == SQL_NEED_DATA) {
        asked.push_back(token);
        const Row *r = static_cast<const Row *>(token);
        std::string v = "row" + std::to_string(r - rows);
        ASSERT_EQ(SQL_SUCCESS, SQLPutData(s, (SQLPOINTER)v.c_str(), SQL_NTS));
    }
    ASSERT_EQ(SQL_SUCCESS, rc) << diags(SQL_HANDLE_STMT, s);
    EXPECT_EQ((std::vector<const void *>{&rows[0].token, &rows[2].token}), asked);
    ASSERT_EQ(1u, c.executed().size());
    EXPECT_EQ("INSERT INTO t VALUES ( 'row0' ), ( null ), ( 'row2' )", c.executed()[0]);
}

}  // namespace
