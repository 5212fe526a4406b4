// Cancel, query timeouts, describing and transactions against a real Spark
// Thrift server.
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "spark_env.h"

using namespace tarn_spark;
using Clock = std::chrono::steady_clock;

namespace {

// Long enough to be cancelled many times over (minutes on two cores).
const char *kSlowQuery = "SELECT sum(hash(id)) FROM range(6000000000)";

class SparkLifecycle : public SharedSparkSuite<SparkLifecycle> {
  public:
    static const std::vector<const char *> &setup_statements() {
        static const std::vector<const char *> setup = {
            "CREATE DATABASE IF NOT EXISTS tarn_life",
            "DROP TABLE IF EXISTS tarn_life.src",
            "DROP TABLE IF EXISTS tarn_life.dst",
            "CREATE TABLE tarn_life.src (a INT) USING parquet",
            "CREATE TABLE tarn_life.dst (a INT) USING parquet",
            "INSERT INTO tarn_life.src VALUES (1), (2)",
            "INSERT INTO tarn_life.dst VALUES (7), (8), (9)",
            "CREATE TABLE IF NOT EXISTS tarn_life.log (a INT) USING parquet",
        };
        return setup;
    }

  protected:
    std::string state() { return diag().substr(0, 5); }
    int64_t count_of(const std::string &sql) {
        SQLHSTMT s;
        SQLAllocHandle(SQL_HANDLE_STMT, conn->dbc, &s);
        int64_t n = -1;
        if (SQL_SUCCEEDED(SQLExecDirect(s, (SQLCHAR *)sql.c_str(), SQL_NTS)) && SQLFetch(s) == SQL_SUCCESS)
            SQLGetData(s, 1, SQL_C_SBIGINT, &n, 0, nullptr);
        SQLFreeHandle(SQL_HANDLE_STMT, s);
        return n;
    }
};

TEST_F(SparkLifecycle, CancelFromAnotherThreadStopsTheQuery) {
    Clock::time_point cancelled;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        cancelled = Clock::now();
        EXPECT_EQ(SQL_SUCCESS, SQLCancel(stmt));
    });
    EXPECT_EQ(SQL_ERROR, exec(kSlowQuery));
    double after = std::chrono::duration<double>(Clock::now() - cancelled).count();
    canceller.join();
    EXPECT_EQ("HY008", state()) << diag();
    EXPECT_LT(after, 3.0);
    // The same connection runs the next query.
    EXPECT_EQ(2, count_of("SELECT count(*) FROM tarn_life.src"));
}

TEST_F(SparkLifecycle, QueryTimeoutEndsTheQueryWithHYT00) {
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)2, 0));
    auto start = Clock::now();
    EXPECT_EQ(SQL_ERROR, exec(kSlowQuery));
    double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ("HYT00", state()) << diag();
    EXPECT_GE(took, 1.9);
    EXPECT_LT(took, 6.0);
    EXPECT_EQ(2, count_of("SELECT count(*) FROM tarn_life.src"));
}

TEST_F(SparkLifecycle, DescribingAPreparedInsertLeavesTheTableAlone) {
    ASSERT_EQ(SQL_SUCCESS,
              SQLPrepare(stmt, (SQLCHAR *)"FROM tarn_life.src INSERT OVERWRITE TABLE tarn_life.dst SELECT *", SQL_NTS));
    SQLSMALLINT cols = -1;
    ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &cols)) << diag();
    EXPECT_EQ(0, cols);
    EXPECT_EQ(3, count_of("SELECT count(*) FROM tarn_life.dst")) << "describing ran the statement";
    // Queries whose text ends in a comment or a semicolon describe as they are.
    for (const char *sql : {"SELECT 1 AS a -- note", "SELECT 1 AS a;"}) {
        ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, (SQLCHAR *)sql, SQL_NTS));
        ASSERT_EQ(SQL_SUCCESS, SQLNumResultCols(stmt, &cols)) << sql << diag();
        EXPECT_EQ(1, cols) << sql;
        ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << sql << diag();
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << sql;
        SQLCloseCursor(stmt);
    }
}

TEST_F(SparkLifecycle, SetAnswersWithItsRows) {
    ASSERT_EQ(SQL_SUCCESS, exec("SET spark.sql.ansi.enabled")) << diag();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diag();
    char key[128] = {}, value[64] = {};
    SQLGetData(stmt, 1, SQL_C_CHAR, key, sizeof key, nullptr);
    SQLGetData(stmt, 2, SQL_C_CHAR, value, sizeof value, nullptr);
    EXPECT_STREQ("spark.sql.ansi.enabled", key);
    EXPECT_TRUE(std::string(value) == "true" || std::string(value) == "false") << value;
}

TEST_F(SparkLifecycle, RollbackSaysThatNothingCanBeUndone) {
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(conn->dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_OFF, 0));
    int64_t before = count_of("SELECT count(*) FROM tarn_life.log");
    ASSERT_EQ(SQL_SUCCESS, exec("INSERT INTO tarn_life.log VALUES (3)")) << diag();
    EXPECT_EQ(SQL_ERROR, SQLEndTran(SQL_HANDLE_DBC, conn->dbc, SQL_ROLLBACK));
    EXPECT_EQ(before + 1, count_of("SELECT count(*) FROM tarn_life.log")) << "the insert stays";
    EXPECT_EQ(SQL_SUCCESS, SQLEndTran(SQL_HANDLE_DBC, conn->dbc, SQL_COMMIT));
    ASSERT_EQ(SQL_SUCCESS, SQLSetConnectAttr(conn->dbc, SQL_ATTR_AUTOCOMMIT, (SQLPOINTER)SQL_AUTOCOMMIT_ON, 0));
}

}  // namespace
