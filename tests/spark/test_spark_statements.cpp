// Statements and result descriptions against a real Spark Thrift server.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "spark_env.h"

using namespace tarn_spark;

namespace {

class SparkStatements : public SharedSparkSuite<SparkStatements> {
  public:
    static const std::vector<const char *> &setup_statements() {
        static const std::vector<const char *> setup = {
            "CREATE DATABASE IF NOT EXISTS tarn_stmt",
            "DROP TABLE IF EXISTS tarn_stmt.all_types",
            "CREATE TABLE tarn_stmt.all_types (c_bool BOOLEAN, c_tiny TINYINT, c_small SMALLINT, c_int INT, "
            "c_big BIGINT, c_float FLOAT, c_double DOUBLE, c_dec DECIMAL(10,2), c_str STRING, c_char CHAR(5), "
            "c_varchar VARCHAR(20), c_date DATE, c_ts TIMESTAMP, c_ts_ntz TIMESTAMP_NTZ, c_bin BINARY, "
            "c_arr ARRAY<INT>, c_map MAP<STRING,INT>, c_struct STRUCT<a:INT,b:STRING>) USING parquet",
        };
        return setup;
    }

  protected:
    SQLSMALLINT cols() {
        SQLSMALLINT n = -1;
        EXPECT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &n));
        return n;
    }
};


TEST_F(SparkStatements, RowReturningKindsLeaveADescribedCursor) {
    struct Case {
        std::string sql;
        int columns;   // -1: at least one
    } cases[] = {
        {"SELECT 1 AS one, 'x' AS two", 2},
        {"WITH x AS (SELECT 1 AS a) SELECT * FROM x", 1},
        {"SHOW TABLES IN tarn_stmt", -1},
        {"DESCRIBE tarn_stmt.all_types", -1},
        {"DESC tarn_stmt.all_types", -1},
        {"EXPLAIN SELECT 1", 1},
        {"VALUES (1, 2)", 2},
        {"(SELECT 1)", 1},
        {"CREATE TABLE IF NOT EXISTS tarn_stmt.t_insert (a INT) USING parquet", 0},
        {"INSERT INTO tarn_stmt.t_insert VALUES (1), (2)", 0},
        {"SET spark.sql.shuffle.partitions=4", 2},   // its key/value row
    };
    for (const Case &c : cases) {
        ASSERT_EQ(SQL_SUCCESS, exec(c.sql)) << c.sql << diag();
        SQLSMALLINT n = cols();
        if (c.columns < 0) {
            EXPECT_GE(n, 1) << c.sql;
        } else {
            EXPECT_EQ(c.columns, n) << c.sql;
        }
        SQLLEN rows = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLRowCount(stmt, &rows));
        if (c.columns != 0) {
            EXPECT_EQ(-1, rows) << c.sql;
        }
        EXPECT_EQ(SQL_SUCCESS, SQLCloseCursor(stmt));
    }
}

TEST_F(SparkStatements, EverySparkTypeIsDescribed) {
    struct Col {
        const char *name;
        SQLSMALLINT type;
        SQLULEN size;
        SQLSMALLINT digits;
        const char *type_name;
    } expected[] = {
        {"c_bool", SQL_BIT, 1, 0, "boolean"},
        {"c_tiny", SQL_TINYINT, 3, 0, "tinyint"},
        {"c_small", SQL_SMALLINT, 5, 0, "smallint"},
        {"c_int", SQL_INTEGER, 10, 0, "int"},
        {"c_big", SQL_BIGINT, 19, 0, "bigint"},
        {"c_float", SQL_REAL, 7, 0, "real"},
        {"c_double", SQL_DOUBLE, 15, 0, "double"},
        {"c_dec", SQL_NUMERIC, 10, 2, "decimal"},
        {"c_str", SQL_VARCHAR, 256, 0, "varchar"},
        {"c_char", SQL_CHAR, 5, 0, "char"},
        {"c_varchar", SQL_VARCHAR, 20, 0, "varchar"},
        {"c_date", SQL_TYPE_DATE, 10, 0, "date"},
        {"c_ts", SQL_TYPE_TIMESTAMP, 26, 6, "datetime"},
        {"c_ts_ntz", SQL_TYPE_TIMESTAMP, 26, 6, "datetime"},
        {"c_bin", SQL_VARBINARY, 256, 0, "binary"},
        {"c_arr", SQL_VARCHAR, 256, 0, "varchar"},
        {"c_map", SQL_VARCHAR, 256, 0, "varchar"},
        {"c_struct", SQL_VARCHAR, 256, 0, "varchar"},
        {"c_ym", SQL_VARCHAR, 256, 0, "varchar"},
        {"c_dt", SQL_VARCHAR, 256, 0, "varchar"},
        {"c_null", SQL_VARCHAR, 256, 0, "varchar"},
    };
    ASSERT_EQ(SQL_SUCCESS, exec("SELECT *, INTERVAL '1-2' YEAR TO MONTH AS c_ym, INTERVAL '1 02:03:04' DAY TO "
                                "SECOND AS c_dt, NULL AS c_null FROM tarn_stmt.all_types"))
        << diag();
    const int n = (int)(sizeof expected / sizeof expected[0]);
    ASSERT_EQ(n, cols());
    for (int i = 0; i < n; i++) {
        const Col &e = expected[i];
        SQLCHAR name[64];
        SQLSMALLINT name_len = 0, type = 0, digits = -1, nullable = -1;
        SQLULEN size = 0;
        ASSERT_EQ(SQL_SUCCESS,
                  SQLDescribeCol(stmt, i + 1, name, sizeof name, &name_len, &type, &size, &digits, &nullable));
        EXPECT_STREQ(e.name, (char *)name);
        EXPECT_EQ(e.type, type) << e.name;
        EXPECT_EQ(e.size, size) << e.name;
        EXPECT_EQ(e.digits, digits) << e.name;
        EXPECT_EQ(SQL_NULLABLE, nullable) << e.name;
        SQLCHAR tname[64];
        SQLSMALLINT tlen = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLColAttribute(stmt, i + 1, SQL_DESC_TYPE_NAME, tname, sizeof tname, &tlen, nullptr));
        EXPECT_STREQ(e.type_name, (char *)tname) << e.name;
        SQLWCHAR wname[64];
        ASSERT_EQ(SQL_SUCCESS, SQLColAttributeW(stmt, i + 1, SQL_DESC_NAME, wname, sizeof wname, &tlen, nullptr));
        EXPECT_EQ((SQLSMALLINT)(2 * strlen(e.name)), tlen) << e.name;
    }
}

TEST_F(SparkStatements, PreparedStatementIsDescribedBeforeItRuns) {
    ASSERT_EQ(SQL_SUCCESS,
              SQLPrepare(stmt, (SQLCHAR *)"SELECT c_int, c_str FROM tarn_stmt.all_types WHERE c_big = 1", SQL_NTS));
    EXPECT_EQ(2, cols());
    SQLCHAR name[32];
    SQLSMALLINT type = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLDescribeCol(stmt, 2, name, sizeof name, nullptr, &type, nullptr, nullptr, nullptr));
    EXPECT_STREQ("c_str", (char *)name);
    EXPECT_EQ(SQL_VARCHAR, type);
    ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << diag();
    EXPECT_EQ(2, cols());
}

TEST_F(SparkStatements, ParametersAreDescribedFromTheirColumns) {
    ASSERT_EQ(SQL_SUCCESS,
              SQLPrepare(stmt,
                         (SQLCHAR *)"SELECT c_str FROM tarn_stmt.all_types WHERE c_int = ? AND c_dec > ? AND "
                                    "c_str LIKE ?",
                         SQL_NTS));
    SQLSMALLINT n = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLNumParams(stmt, &n));
    ASSERT_EQ(3, n);
    // Before anything runs the query itself can be described too.
    EXPECT_EQ(1, cols());
    struct {
        SQLSMALLINT type;
        SQLULEN size;
        SQLSMALLINT digits;
    } expected[] = {{SQL_INTEGER, 11, 0}, {SQL_NUMERIC, 10, 2}, {SQL_VARCHAR, 8000, 0}};
    for (int i = 0; i < 3; i++) {
        SQLSMALLINT type = 0, digits = -1, nullable = -1;
        SQLULEN size = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLDescribeParam(stmt, i + 1, &type, &size, &digits, &nullable)) << diag();
        EXPECT_EQ(expected[i].type, type) << i;
        EXPECT_EQ(expected[i].digits, digits) << i;
        if (expected[i].type == SQL_NUMERIC) {
            EXPECT_EQ(expected[i].size, size) << i;
        }
    }
    SQLSMALLINT type;
    EXPECT_EQ(SQL_ERROR, SQLDescribeParam(stmt, 4, &type, nullptr, nullptr, nullptr));
}

TEST_F(SparkStatements, ServerErrorsCarryTheServersText) {
    EXPECT_EQ(SQL_ERROR, exec("SELECT * FROM tarn_stmt.no_such_table"));
    std::string d = diag();
    EXPECT_NE(std::string::npos, d.find("no_such_table")) << d;
    EXPECT_EQ(0u, d.find("42")) << "the server's SQLSTATE: " << d;
    // The connection stays usable.
    EXPECT_EQ(SQL_SUCCESS, exec("SELECT 1"));
}

}  // namespace
