// What a BI tool relies on, done on a real Spark server: ODBC escapes compute
// what ODBC defines, every capability SQLGetInfo claims works, and Spark's
// own SQL reaches the server as written.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "spark_env.h"
#include "tarn_fn_cases.h"

using namespace tarn_spark;

namespace {

class SparkBi : public SharedSparkSuite<SparkBi> {
  public:
    static const std::vector<const char *> &setup_statements() {
        static const std::vector<const char *> setup = {
            "CREATE DATABASE IF NOT EXISTS tarn_bi_info",
            "CREATE OR REPLACE TEMPORARY VIEW tarn_bi_a AS SELECT * FROM VALUES (1, 'x'), (2, 'y'), (2, 'z') AS t(k, v)",
            "CREATE OR REPLACE TEMPORARY VIEW tarn_bi_b AS SELECT * FROM VALUES (2, 20), (3, 30) AS t(k, w)",
            "DROP TABLE IF EXISTS tarn_bi_info.t",
            "CREATE TABLE tarn_bi_info.t (k INT, s STRING) USING parquet",
            "INSERT INTO tarn_bi_info.t VALUES (1, 'one')",
            // A definition with schema-qualified names.
            "CREATE OR REPLACE VIEW tarn_bi_info.v AS SELECT k FROM tarn_bi_info.t",
        };
        return setup;
    }

  protected:
    // The first column of the first row as text, or "ERROR: ...".
    std::string value(const std::string &sql) {
        SQLFreeStmt(stmt, SQL_CLOSE);
        if (!SQL_SUCCEEDED(exec(sql))) return "ERROR: " + diag();
        if (SQLFetch(stmt) != SQL_SUCCESS) return "ERROR: no row " + diag();
        char buf[256];
        SQLLEN ind = 0;
        if (!SQL_SUCCEEDED(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind))) return "ERROR: " + diag();
        SQLFreeStmt(stmt, SQL_CLOSE);
        return ind == SQL_NULL_DATA ? "NULL" : std::string(buf);
    }
    uint32_t info32(SQLUSMALLINT type) {
        SQLUINTEGER v = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(conn->dbc, type, &v, sizeof v, nullptr));
        return v;
    }
    uint16_t info16(SQLUSMALLINT type) {
        SQLUSMALLINT v = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(conn->dbc, type, &v, sizeof v, nullptr));
        return v;
    }
    std::string info_text(SQLUSMALLINT type) {
        char buf[256] = "";
        EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(conn->dbc, type, buf, sizeof buf, nullptr));
        return buf;
    }
    // Runs each statement that a claim stands for; each must succeed.
    void all_run(const std::vector<std::string> &sqls) {
        for (const std::string &sql : sqls) {
            std::string v = value(sql);
            EXPECT_EQ(v.rfind("ERROR", 0), std::string::npos) << sql << "\n" << v;
        }
    }
};

TEST_F(SparkBi, FunctionEscapesComputeTheOdbcValue) {
    for (const TarnFnCase &c : TARN_FN_CASES) {
        std::string sql = std::string("SELECT CASE WHEN a <=> b THEN 'same' ELSE concat(CAST(a AS STRING), ' <> ', "
                                      "CAST(b AS STRING)) END FROM (SELECT ") +
                          c.escape + " AS a, " + c.expected + " AS b)";
        EXPECT_EQ("same", value(sql)) << c.escape;
    }
}

TEST_F(SparkBi, ClaimedFunctionsAndIntervalsAreTheTestedOnes) {
    // The claimed scalar functions are the ones the case table runs above
    // (a unit test holds the masks to the translation table, and the table to
    // the cases); here the claims are read through the Driver Manager.
    EXPECT_NE(0u, info32(SQL_STRING_FUNCTIONS) & SQL_FN_STR_UCASE);
    EXPECT_NE(0u, info32(SQL_NUMERIC_FUNCTIONS) & SQL_FN_NUM_ABS);
    EXPECT_EQ(0u, info32(SQL_NUMERIC_FUNCTIONS) & SQL_FN_NUM_TRUNCATE);
    EXPECT_EQ(0u, info32(SQL_TIMEDATE_FUNCTIONS) & SQL_FN_TD_CURTIME);
    EXPECT_NE(0u, info32(SQL_SYSTEM_FUNCTIONS) & SQL_FN_SYS_DBNAME);
    EXPECT_EQ(0u, info32(SQL_TIMEDATE_ADD_INTERVALS) & SQL_FN_TSI_FRAC_SECOND);
}

TEST_F(SparkBi, EveryClaimedConversionRuns) {
    struct Type {
        SQLUSMALLINT info;   // SQL_CONVERT_<source>
        uint32_t bit;        // SQL_CVT_<target>
        const char *name;
        const char *sample;  // a value of the source type
        const char *date_sample;   // one that converts to a date, when it differs
    } types[] = {
        {SQL_CONVERT_BIGINT, SQL_CVT_BIGINT, "SQL_BIGINT", "CAST(1 AS BIGINT)", nullptr},
        {SQL_CONVERT_BINARY, SQL_CVT_BINARY, "SQL_BINARY", "X'31'", nullptr},
        {SQL_CONVERT_BIT, SQL_CVT_BIT, "SQL_BIT", "true", nullptr},
        {SQL_CONVERT_CHAR, SQL_CVT_CHAR, "SQL_CHAR", "'1'", "'2024-01-07'"},
        {SQL_CONVERT_DATE, SQL_CVT_DATE, "SQL_DATE", "DATE '2024-01-07'", nullptr},
        {SQL_CONVERT_DECIMAL, SQL_CVT_DECIMAL, "SQL_DECIMAL", "CAST(1 AS DECIMAL(5,2))", nullptr},
        {SQL_CONVERT_DOUBLE, SQL_CVT_DOUBLE, "SQL_DOUBLE", "1.0D", nullptr},
        {SQL_CONVERT_FLOAT, SQL_CVT_FLOAT, "SQL_FLOAT", "1.0D", nullptr},
        {SQL_CONVERT_INTEGER, SQL_CVT_INTEGER, "SQL_INTEGER", "1", nullptr},
        {SQL_CONVERT_LONGVARCHAR, SQL_CVT_LONGVARCHAR, "SQL_LONGVARCHAR", "'1'", "'2024-01-07'"},
        {SQL_CONVERT_NUMERIC, SQL_CVT_NUMERIC, "SQL_NUMERIC", "CAST(1 AS DECIMAL(5,2))", nullptr},
        {SQL_CONVERT_REAL, SQL_CVT_REAL, "SQL_REAL", "CAST(1 AS FLOAT)", nullptr},
        {SQL_CONVERT_SMALLINT, SQL_CVT_SMALLINT, "SQL_SMALLINT", "CAST(1 AS SMALLINT)", nullptr},
        {SQL_CONVERT_TIMESTAMP, SQL_CVT_TIMESTAMP, "SQL_TIMESTAMP", "TIMESTAMP '2024-01-07 10:11:12'", nullptr},
        {SQL_CONVERT_TINYINT, SQL_CVT_TINYINT, "SQL_TINYINT", "CAST(1 AS TINYINT)", nullptr},
        {SQL_CONVERT_VARBINARY, SQL_CVT_VARBINARY, "SQL_VARBINARY", "X'31'", nullptr},
        {SQL_CONVERT_VARCHAR, SQL_CVT_VARCHAR, "SQL_VARCHAR", "'1'", "'2024-01-07'"},
        {SQL_CONVERT_LONGVARBINARY, SQL_CVT_LONGVARBINARY, "SQL_LONGVARBINARY", "X'31'", nullptr},
        {SQL_CONVERT_WCHAR, SQL_CVT_WCHAR, "SQL_WCHAR", "'1'", "'2024-01-07'"},
        {SQL_CONVERT_WVARCHAR, SQL_CVT_WVARCHAR, "SQL_WVARCHAR", "'1'", "'2024-01-07'"},
        {SQL_CONVERT_WLONGVARCHAR, SQL_CVT_WLONGVARCHAR, "SQL_WLONGVARCHAR", "'1'", "'2024-01-07'"},
    };
    int tried = 0;
    for (const Type &from : types) {
        uint32_t targets = info32(from.info);
        for (const Type &to : types) {
            if (!(targets & to.bit)) continue;
            bool datetime = to.bit == SQL_CVT_DATE || to.bit == SQL_CVT_TIMESTAMP;
            const char *sample = datetime && from.date_sample ? from.date_sample : from.sample;
            std::string sql = std::string("SELECT {fn convert(") + sample + ", " + to.name + ")}";
            std::string v = value(sql);
            EXPECT_EQ(v.rfind("ERROR", 0), std::string::npos) << sql << "\n" << v;
            tried++;
        }
        EXPECT_EQ(0u, targets & SQL_CVT_TIME) << from.name;
    }
    EXPECT_GT(tried, 100);
}

TEST_F(SparkBi, ClaimedSqlCapabilitiesRun) {
    EXPECT_EQ(SQL_GB_GROUP_BY_CONTAINS_SELECT, info16(SQL_GROUP_BY));
    EXPECT_EQ("Y", info_text(SQL_COLUMN_ALIAS));
    EXPECT_EQ(SQL_CN_ANY, info16(SQL_CORRELATION_NAME));
    EXPECT_EQ("Y", info_text(SQL_OUTER_JOINS));
    EXPECT_EQ("Y", info_text(SQL_EXPRESSIONS_IN_ORDERBY));
    EXPECT_EQ("Y", info_text(SQL_LIKE_ESCAPE_CLAUSE));
    EXPECT_EQ("`", info_text(SQL_IDENTIFIER_QUOTE_CHAR));
    EXPECT_EQ("database", info_text(SQL_SCHEMA_TERM));
    EXPECT_EQ("", info_text(SQL_SPECIAL_CHARACTERS));
    EXPECT_EQ(0u, value("SELECT 1 AS a$b").rfind("ERROR", 0));
    all_run({
        // GROUP BY holding every plain selected column and one more; aliases
        // for columns and tables.
        "SELECT k AS key, count(*) AS n FROM tarn_bi_a GROUP BY k, v ORDER BY k + 1",
        "SELECT 1 AS Ab_9",
        "SELECT x.k FROM tarn_bi_a AS x JOIN tarn_bi_b y ON x.k = y.k",
        // Schema-qualified names (the view is defined with them), quoted too.
        "SELECT s FROM tarn_bi_info.t",
        "SELECT `s` FROM `tarn_bi_info`.`t`",
        "SELECT count(*) FROM tarn_bi_info.v",
        // Outer joins through the escape: left, right, full, nested, inner,
        // any comparison, tables in any order.
        "SELECT * FROM {oj tarn_bi_a LEFT OUTER JOIN tarn_bi_b ON tarn_bi_a.k = tarn_bi_b.k}",
        "SELECT * FROM {oj tarn_bi_a RIGHT OUTER JOIN tarn_bi_b ON tarn_bi_b.k >= tarn_bi_a.k}",
        "SELECT * FROM {oj tarn_bi_a FULL OUTER JOIN tarn_bi_b ON tarn_bi_a.k <> tarn_bi_b.k}",
        "SELECT * FROM {oj tarn_bi_a LEFT OUTER JOIN (tarn_bi_b INNER JOIN tarn_bi_info.t ON tarn_bi_b.k > t.k) "
        "ON tarn_bi_a.k = tarn_bi_b.k}",
        // SQL-92 join operators.
        "SELECT count(*) FROM tarn_bi_a CROSS JOIN tarn_bi_b",
        "SELECT count(*) FROM tarn_bi_a NATURAL JOIN tarn_bi_b",
        // Subqueries: comparison, EXISTS, IN, correlated; UNION and UNION ALL.
        "SELECT k FROM tarn_bi_a WHERE k = (SELECT max(k) FROM tarn_bi_b WHERE w < 30)",
        "SELECT k FROM tarn_bi_a a WHERE EXISTS (SELECT 1 FROM tarn_bi_b b WHERE b.k = a.k)",
        "SELECT k FROM tarn_bi_a WHERE k IN (SELECT k FROM tarn_bi_b)",
        "SELECT k FROM tarn_bi_a UNION SELECT k FROM tarn_bi_b",
        "SELECT k FROM tarn_bi_a UNION ALL SELECT k FROM tarn_bi_b",
        // Predicates, aggregates, value expressions, SQL-92 functions.
        "SELECT count(*) FROM tarn_bi_a WHERE v LIKE 'x!_%' {escape '!'} OR v LIKE '\\_' {escape '\\'} "
        "OR k BETWEEN 1 AND 2 OR k IN (1, 2) OR v IS NULL OR v IS NOT NULL OR k <> 3",
        "SELECT avg(k), count(DISTINCT k), max(k), min(k), sum(ALL k) FROM tarn_bi_a",
        "SELECT CASE WHEN k = 1 THEN 'a' END, CAST(k AS STRING), coalesce(NULL, k), nullif(k, 1) FROM tarn_bi_a",
        "SELECT lower('A'), upper('a'), substring('abc' FROM 2 FOR 1), trim(BOTH 'x' FROM 'xax'), "
        "trim(LEADING 'x' FROM 'xa'), trim(TRAILING 'x' FROM 'ax')",
        "SELECT bit_length('a'), char_length('a'), character_length('a'), extract(YEAR FROM current_date), "
        "octet_length('a'), position('a' IN 'ba')",
        "SELECT current_date, current_timestamp",
        // Date and timestamp literals, standard and escaped.
        "SELECT DATE '2024-01-07', TIMESTAMP '2024-01-07 10:11:12', {d '2024-01-07'}, {ts '2024-01-07 10:11:12'}",
    });
}

TEST_F(SparkBi, SparkSqlReachesTheServerAsWritten) {
    // Double quotes write a string in Spark.
    EXPECT_EQ("dq", value("select \"dq\" as d"));
    EXPECT_EQ("a'b", value("select \"a'b\""));
    // A comment that does not end is the server's to refuse.
    std::string v = value("select 1 /* never closed");
    EXPECT_EQ(0u, v.rfind("ERROR", 0)) << v;
    EXPECT_EQ("2", value("select 2 /* closed */"));

    // SQLNativeSql shows what is sent.
    char out[128];
    SQLINTEGER len = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLNativeSql(conn->dbc, (SQLCHAR *)"SELECT {fn ucase(\"a\")}", SQL_NTS, (SQLCHAR *)out,
                                        sizeof out, &len));
    EXPECT_STREQ("SELECT upper(\"a\")", out);

    // With SQL_ATTR_NOSCAN on, escapes reach the server untranslated.
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_NOSCAN, (SQLPOINTER)SQL_NOSCAN_ON, 0));
    v = value("SELECT {fn ucase('a')}");
    EXPECT_EQ(0u, v.rfind("ERROR", 0)) << v;
    EXPECT_EQ("A", value("SELECT upper('a') -- {fn lcase('A')}"));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_NOSCAN, (SQLPOINTER)SQL_NOSCAN_OFF, 0));
    EXPECT_EQ("A", value("SELECT {fn ucase('a')}"));
}

// The Database keyword opens the session in that database; the current
// database is reported, also after USE.
TEST(SparkSession, DatabaseKeywordAndCurrentDatabase) {
    TARN_NEED_SPARK("SASL");
    tarn_test::PrivateOdbcConfig config;
    Connection setup;
    ASSERT_EQ(SQL_SUCCESS, setup.connect(conn_str(spark_port, "NONE"))) << setup.diag();
    SQLHSTMT s;
    SQLAllocHandle(SQL_HANDLE_STMT, setup.dbc, &s);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(s, (SQLCHAR *)"CREATE DATABASE IF NOT EXISTS tarn_bi_session", SQL_NTS)));
    SQLFreeHandle(SQL_HANDLE_STMT, s);

    Connection c;
    ASSERT_EQ(SQL_SUCCESS, c.connect(conn_str(spark_port, "NONE") + ";Database=tarn_bi_session")) << c.diag();
    auto database = [&]() {
        char name[128] = "";
        SQLSMALLINT len = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(c.dbc, SQL_DATABASE_NAME, name, sizeof name, &len)) << c.diag();
        SQLWCHAR wide[128] = {};
        EXPECT_EQ(SQL_SUCCESS, SQLGetInfoW(c.dbc, SQL_DATABASE_NAME, wide, sizeof wide, &len)) << c.diag();
        std::string from_wide;
        for (int i = 0; wide[i]; i++) from_wide.push_back((char)wide[i]);
        EXPECT_EQ(std::string(name), from_wide);
        char catalog[128] = "";
        SQLINTEGER clen = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetConnectAttr(c.dbc, SQL_ATTR_CURRENT_CATALOG, catalog, sizeof catalog, &clen));
        EXPECT_EQ(std::string(name), std::string(catalog));
        return std::string(name);
    };
    EXPECT_EQ("tarn_bi_session", database());
    SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &s);
    ASSERT_TRUE(SQL_SUCCEEDED(SQLExecDirect(s, (SQLCHAR *)"USE default", SQL_NTS)));
    SQLFreeHandle(SQL_HANDLE_STMT, s);
    EXPECT_EQ("default", database());
}

}  // namespace
