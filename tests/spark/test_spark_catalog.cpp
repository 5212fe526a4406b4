// Catalog functions against real Spark: SQLColumns agrees column by column
// with the description of SELECT * over the same table or view, SQLTables
// honours patterns, escapes and table types, and the other catalog calls
// answer in their ODBC shapes.
#include <gtest/gtest.h>

#include <optional>
#include <set>
#include <string>
#include <vector>

#include "spark_env.h"

using namespace tarn_spark;

namespace {

constexpr const char *kDb = "tarn_catalog_c";

class SparkCatalog : public SharedSparkSuite<SparkCatalog> {
  public:
    static std::vector<const char *> setup_statements() {
        return {
            "CREATE DATABASE IF NOT EXISTS tarn_catalog_c",
            "DROP VIEW IF EXISTS tarn_catalog_c.v",
            "DROP TABLE IF EXISTS tarn_catalog_c.t",
            "DROP TABLE IF EXISTS tarn_catalog_c.t_1",
            "DROP TABLE IF EXISTS tarn_catalog_c.tx1",
            "CREATE TABLE tarn_catalog_c.t (c_bool BOOLEAN, c_tiny TINYINT, c_small SMALLINT, c_int INT, "
            "c_big BIGINT, c_float FLOAT, c_double DOUBLE, c_dec DECIMAL(10,2), c_dec38 DECIMAL(38,0), "
            "c_str STRING, c_char CHAR(5), c_varchar VARCHAR(20), c_date DATE, c_ts TIMESTAMP, "
            "c_ts_ntz TIMESTAMP_NTZ, c_bin BINARY, c_arr ARRAY<INT>, c_map MAP<STRING,INT>, "
            "c_struct STRUCT<a:INT,b:STRING>) USING parquet",
            "CREATE TABLE tarn_catalog_c.t_1 (a INT) USING parquet",
            "CREATE TABLE tarn_catalog_c.tx1 (a INT) USING parquet",
            "CREATE VIEW tarn_catalog_c.v AS SELECT c_int, c_dec, c_ts, INTERVAL '1-2' YEAR TO MONTH AS c_ym, "
            "INTERVAL '1 02:03:04' DAY TO SECOND AS c_dt, c_str || 'x' AS c_expr FROM tarn_catalog_c.t",
        };
    }

  protected:
    std::optional<long> number(SQLUSMALLINT i) {
        SQLBIGINT v = 0;
        SQLLEN ind = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, i, SQL_C_SBIGINT, &v, 0, &ind))) << diag();
        if (ind == SQL_NULL_DATA) return std::nullopt;
        return (long)v;
    }
    std::optional<std::string> text(SQLUSMALLINT i) {
        char buf[512];
        SQLLEN ind = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, i, SQL_C_CHAR, buf, sizeof buf, &ind))) << diag();
        if (ind == SQL_NULL_DATA) return std::nullopt;
        return std::string(buf);
    }
    // TABLE_NAME of every SQLTables row.
    std::set<std::string> table_names(const char *schema, const char *table, const char *types) {
        std::set<std::string> names;
        SQLRETURN rc = SQLTables(stmt, nullptr, 0, (SQLCHAR *)schema, SQL_NTS, (SQLCHAR *)table, SQL_NTS,
                                 (SQLCHAR *)types, SQL_NTS);
        EXPECT_EQ(rc, SQL_SUCCESS) << diag();
        while (SQLFetch(stmt) == SQL_SUCCESS) names.insert(*text(3));
        SQLCloseCursor(stmt);
        return names;
    }
};

struct Described {
    std::string name;
    SQLSMALLINT type, digits, nullable;
    SQLULEN size;
};

TEST_F(SparkCatalog, ColumnsAgreeWithTheDescriptionOfTheSameColumns) {
    for (const char *object : {"t", "v"}) {
        SCOPED_TRACE(object);
        // What describing SELECT * says.
        std::vector<Described> described;
        ASSERT_EQ(exec(std::string("SELECT * FROM ") + kDb + "." + object), SQL_SUCCESS) << diag();
        SQLSMALLINT n = 0;
        ASSERT_EQ(SQLNumResultCols(stmt, &n), SQL_SUCCESS);
        for (SQLUSMALLINT i = 1; i <= n; i++) {
            Described d;
            SQLCHAR name[128];
            ASSERT_EQ(SQLDescribeCol(stmt, i, name, sizeof name, nullptr, &d.type, &d.size, &d.digits, &d.nullable),
                      SQL_SUCCESS);
            d.name = (const char *)name;
            described.push_back(d);
        }
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);

        ASSERT_EQ(SQLColumns(stmt, nullptr, 0, (SQLCHAR *)kDb, SQL_NTS, (SQLCHAR *)object, SQL_NTS, nullptr, 0),
                  SQL_SUCCESS)
            << diag();
        size_t row = 0;
        while (SQLFetch(stmt) == SQL_SUCCESS) {
            ASSERT_LT(row, described.size());
            const Described &d = described[row];
            SCOPED_TRACE(d.name + " " + text(6).value_or("?"));
            EXPECT_EQ(text(2), kDb);
            EXPECT_EQ(text(3), object);
            EXPECT_EQ(text(4), d.name);
            EXPECT_EQ(number(5), d.type);
            EXPECT_EQ(number(7), (long)d.size);
            EXPECT_EQ(number(9).value_or(0), d.digits);
            EXPECT_EQ(number(14), d.type == SQL_TYPE_DATE || d.type == SQL_TYPE_TIMESTAMP ? SQL_DATETIME : d.type);
            EXPECT_EQ(number(17), (long)row + 1);   // counted from 1 whatever the release
            // The description says SQL_NULLABLE for every column; the
            // catalog knows the columns that cannot be NULL (the view's
            // interval literals).
            const long nullable = number(11).value_or(-1);
            EXPECT_TRUE(nullable == SQL_NO_NULLS || nullable == d.nullable) << nullable;
            EXPECT_EQ(text(18), nullable == SQL_NO_NULLS ? "NO" : "YES");
            row++;
        }
        EXPECT_EQ(row, described.size());
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
    // Under a column pattern the positions stay those of the table.
    ASSERT_EQ(SQLColumns(stmt, nullptr, 0, (SQLCHAR *)kDb, SQL_NTS, (SQLCHAR *)"t", SQL_NTS, (SQLCHAR *)"c\\_dec%",
                         SQL_NTS),
              SQL_SUCCESS)
        << diag();
    std::vector<std::pair<std::string, long>> positions;
    while (SQLFetch(stmt) == SQL_SUCCESS) positions.emplace_back(*text(4), *number(17));
    EXPECT_EQ(positions, (std::vector<std::pair<std::string, long>>{{"c_dec", 8}, {"c_dec38", 9}}));
}

TEST_F(SparkCatalog, TablesHonourPatternsEscapesAndTypes) {
    using Names = std::set<std::string>;
    EXPECT_EQ(table_names(kDb, "%", nullptr), (Names{"t", "t_1", "tx1", "v"}));
    EXPECT_EQ(table_names(kDb, "t_1", nullptr), (Names{"t_1", "tx1"}));
    EXPECT_EQ(table_names(kDb, "t\\_1", nullptr), (Names{"t_1"}));
    EXPECT_EQ(table_names("TARN\\_CATALOG\\_C", "T%", nullptr), (Names{"t", "t_1", "tx1"}));
    EXPECT_EQ(table_names(kDb, "%", "VIEW"), (Names{"v"}));
    EXPECT_EQ(table_names(kDb, "%", "'table'"), (Names{"t", "t_1", "tx1"}));
    EXPECT_EQ(table_names(kDb, "%", "'TABLE','VIEW'"), (Names{"t", "t_1", "tx1", "v"}));

    // All schemas: this database is among them, in TABLE_SCHEM.
    ASSERT_EQ(SQLTables(stmt, (SQLCHAR *)"", SQL_NTS, (SQLCHAR *)"%", SQL_NTS, (SQLCHAR *)"", SQL_NTS, nullptr, 0),
              SQL_SUCCESS)
        << diag();
    bool found = false;
    while (SQLFetch(stmt) == SQL_SUCCESS) found = found || text(2) == kDb;
    EXPECT_TRUE(found);
}

TEST_F(SparkCatalog, OtherCatalogCallsAnswerInTheirShapes) {
    // Each built-in function once, even with several databases.
    ASSERT_EQ(SQLProcedures(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"abs", SQL_NTS), SQL_SUCCESS) << diag();
    int rows = 0;
    while (SQLFetch(stmt) == SQL_SUCCESS) {
        EXPECT_EQ(text(3), "abs");
        EXPECT_EQ(number(8), SQL_PT_FUNCTION);
        rows++;
    }
    EXPECT_EQ(rows, 1);
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);

    ASSERT_EQ(SQLPrimaryKeys(stmt, nullptr, 0, (SQLCHAR *)kDb, SQL_NTS, (SQLCHAR *)"t", SQL_NTS), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLForeignKeys(stmt, nullptr, 0, (SQLCHAR *)kDb, SQL_NTS, (SQLCHAR *)"t", SQL_NTS, nullptr, 0,
                             nullptr, 0, nullptr, 0),
              SQL_SUCCESS)
        << diag();
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA) << diag();
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLStatistics(stmt, nullptr, 0, (SQLCHAR *)kDb, SQL_NTS, (SQLCHAR *)"t'--", SQL_NTS, SQL_INDEX_ALL,
                            SQL_QUICK),
              SQL_SUCCESS)
        << diag();
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(text(3), "t'--");
    EXPECT_EQ(number(7), SQL_TABLE_STAT);
}

}  // namespace
