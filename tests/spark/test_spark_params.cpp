// Parameters against a real Spark Thrift server: values of every primitive
// Spark type bound in their natural C types are stored and read back
// exactly, arrays of parameters insert every row, and text bound as a
// number cannot widen a query.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "spark_env.h"

using namespace tarn_spark;

namespace {

class SparkParams : public SharedSparkSuite<SparkParams> {
  public:
    static const std::vector<const char *> &setup_statements() {
        static const std::vector<const char *> setup = {
            "CREATE DATABASE IF NOT EXISTS tarn_params_c",
            "SET spark.sql.parquet.datetimeRebaseModeInWrite=CORRECTED",
            "SET spark.sql.parquet.int96RebaseModeInWrite=CORRECTED",
            "DROP TABLE IF EXISTS tarn_params_c.all_types",
            "CREATE TABLE tarn_params_c.all_types (id INT, c_bool BOOLEAN, c_tiny TINYINT, c_small SMALLINT, "
            "c_int INT, c_big BIGINT, c_float FLOAT, c_double DOUBLE, c_dec DECIMAL(38,6), c_str STRING, "
            "c_wstr STRING, c_date DATE, c_ts TIMESTAMP, c_ts_ntz TIMESTAMP_NTZ, c_bin BINARY) USING parquet",
            "DROP TABLE IF EXISTS tarn_params_c.many",
            "CREATE TABLE tarn_params_c.many (id BIGINT, name STRING) USING parquet",
        };
        return setup;
    }
};

struct Values {
    SQLINTEGER id;
    unsigned char b;
    SQLSCHAR tiny;
    SQLSMALLINT small;
    SQLINTEGER i;
    SQLBIGINT big;
    SQLREAL f;
    SQLDOUBLE d;
    char dec[48];
    char str[64];
    SQLWCHAR wstr[16];
    SQL_DATE_STRUCT date;
    SQL_TIMESTAMP_STRUCT ts;
    SQL_TIMESTAMP_STRUCT ts_ntz;
    unsigned char bin[4];
};

TEST_F(SparkParams, EveryTypeRoundTripsExactly) {
    std::u16string w = u"\U0001F600 é'\\";
    Values rows[3] = {};
    rows[0] = {1, 1, -128, -32768, -2147483647 - 1, std::numeric_limits<SQLBIGINT>::min(), 0.1f, 1.0 / 3,
               "-12345678901234567890123456789012.123456", "O'Brien \\ \n\r end", {}, {2024, 2, 29},
               {2024, 1, 31, 10, 11, 12, 123456000}, {1, 1, 1, 0, 0, 0, 1000}, {0x00, 0xAB, 0x27, 0xFF}};
    rows[1] = {2, 0, 127, 32767, 2147483647, std::numeric_limits<SQLBIGINT>::max(), 16777216.0f,
               std::numeric_limits<double>::max(), "0.000001", "", {}, {9999, 12, 31},
               {9999, 12, 31, 23, 59, 59, 999999000}, {1970, 1, 1, 0, 0, 0, 0}, {}};
    rows[2] = {3, 1, 0, 0, 0, 0, -0.0f, std::nan(""), "0", "x", {}, {1, 1, 1}, {1, 1, 1, 0, 0, 0, 0},
               {2000, 2, 29, 12, 0, 0, 500000000}, {}};
    memcpy(rows[0].wstr, w.data(), w.size() * 2);
    SQLLEN bin_len[3] = {4, 0, SQL_NULL_DATA};
    SQLLEN nts = SQL_NTS;

    ASSERT_EQ(SQL_SUCCESS, SQLPrepare(stmt, (SQLCHAR *)"INSERT INTO tarn_params_c.all_types VALUES "
                                                       "(?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?, ?)",
                                      SQL_NTS));
    for (int r = 0; r < 3; r++) {
        Values &v = rows[r];
        struct Bind {
            SQLSMALLINT c, sql;
            SQLULEN size;
            SQLSMALLINT digits;
            void *p;
            SQLLEN len;
            SQLLEN *ind;
        } binds[] = {
            {SQL_C_SLONG, SQL_INTEGER, 0, 0, &v.id, 0, nullptr},
            {SQL_C_BIT, SQL_BIT, 1, 0, &v.b, 0, nullptr},
            {SQL_C_STINYINT, SQL_TINYINT, 3, 0, &v.tiny, 0, nullptr},
            {SQL_C_SSHORT, SQL_SMALLINT, 5, 0, &v.small, 0, nullptr},
            {SQL_C_SLONG, SQL_INTEGER, 10, 0, &v.i, 0, nullptr},
            {SQL_C_SBIGINT, SQL_BIGINT, 19, 0, &v.big, 0, nullptr},
            {SQL_C_FLOAT, SQL_REAL, 7, 0, &v.f, 0, nullptr},
            {SQL_C_DOUBLE, SQL_DOUBLE, 15, 0, &v.d, 0, nullptr},
            {SQL_C_CHAR, SQL_DECIMAL, 38, 6, v.dec, sizeof v.dec, &nts},
            {SQL_C_CHAR, SQL_VARCHAR, 64, 0, v.str, sizeof v.str, &nts},
            {SQL_C_WCHAR, SQL_WVARCHAR, 16, 0, v.wstr, sizeof v.wstr, &nts},
            {SQL_C_TYPE_DATE, SQL_TYPE_DATE, 10, 0, &v.date, 0, nullptr},
            {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, &v.ts, 0, nullptr},
            {SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, 26, 6, &v.ts_ntz, 0, nullptr},
            {SQL_C_BINARY, SQL_VARBINARY, 4, 0, v.bin, 4, &bin_len[r]},
        };
        for (int i = 0; i < 15; i++) {
            const Bind &b = binds[i];
            ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, (SQLUSMALLINT)(i + 1), SQL_PARAM_INPUT, b.c, b.sql, b.size,
                                                    b.digits, b.p, b.len, b.ind))
                << i << diag();
        }
        ASSERT_EQ(SQL_SUCCESS, SQLExecute(stmt)) << "row " << r << diag();
    }
    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    ASSERT_EQ(SQL_SUCCESS, exec("SELECT * FROM tarn_params_c.all_types ORDER BY id")) << diag();
    for (int r = 0; r < 3; r++) {
        const Values &v = rows[r];
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt)) << diag();
        Values g = {};
        SQLLEN ind[15] = {};
        SQLGetData(stmt, 1, SQL_C_SLONG, &g.id, 0, &ind[0]);
        SQLGetData(stmt, 2, SQL_C_BIT, &g.b, 0, &ind[1]);
        SQLGetData(stmt, 3, SQL_C_STINYINT, &g.tiny, 0, &ind[2]);
        SQLGetData(stmt, 4, SQL_C_SSHORT, &g.small, 0, &ind[3]);
        SQLGetData(stmt, 5, SQL_C_SLONG, &g.i, 0, &ind[4]);
        SQLGetData(stmt, 6, SQL_C_SBIGINT, &g.big, 0, &ind[5]);
        SQLGetData(stmt, 7, SQL_C_FLOAT, &g.f, 0, &ind[6]);
        SQLGetData(stmt, 8, SQL_C_DOUBLE, &g.d, 0, &ind[7]);
        SQLGetData(stmt, 9, SQL_C_CHAR, g.dec, sizeof g.dec, &ind[8]);
        SQLGetData(stmt, 10, SQL_C_CHAR, g.str, sizeof g.str, &ind[9]);
        SQLGetData(stmt, 11, SQL_C_WCHAR, g.wstr, sizeof g.wstr, &ind[10]);
        SQLGetData(stmt, 12, SQL_C_TYPE_DATE, &g.date, 0, &ind[11]);
        SQLGetData(stmt, 13, SQL_C_TYPE_TIMESTAMP, &g.ts, 0, &ind[12]);
        SQLGetData(stmt, 14, SQL_C_TYPE_TIMESTAMP, &g.ts_ntz, 0, &ind[13]);
        SQLGetData(stmt, 15, SQL_C_BINARY, g.bin, sizeof g.bin, &ind[14]);
        EXPECT_EQ(v.id, g.id);
        EXPECT_EQ(v.b, g.b);
        EXPECT_EQ(v.tiny, g.tiny);
        EXPECT_EQ(v.small, g.small);
        EXPECT_EQ(v.i, g.i);
        EXPECT_EQ(v.big, g.big);
        EXPECT_EQ(0, memcmp(&v.f, &g.f, sizeof v.f)) << v.f << " " << g.f;
        if (std::isnan(v.d)) {
            EXPECT_TRUE(std::isnan(g.d));
        } else {
            EXPECT_EQ(0, memcmp(&v.d, &g.d, sizeof v.d)) << v.d << " " << g.d;
        }
        // DECIMAL(38,6) shows six fraction digits.
        std::string dec = v.dec;
        if (dec.find('.') == std::string::npos) dec += ".";
        while (dec.size() - dec.find('.') < 7) dec += "0";
        EXPECT_EQ(dec, g.dec);
        EXPECT_STREQ(v.str, g.str);
        EXPECT_EQ(0, memcmp(v.wstr, g.wstr, sizeof v.wstr));
        EXPECT_EQ(0, memcmp(&v.date, &g.date, sizeof v.date));
        EXPECT_EQ(0, memcmp(&v.ts, &g.ts, sizeof v.ts));
        EXPECT_EQ(0, memcmp(&v.ts_ntz, &g.ts_ntz, sizeof v.ts_ntz));
        EXPECT_EQ(bin_len[r], ind[14]);
        if (bin_len[r] > 0) {
            EXPECT_EQ(0, memcmp(v.bin, g.bin, (size_t)bin_len[r]));
        }
    }
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
}

TEST_F(SparkParams, AnArrayOfParametersInsertsEveryRow) {
    const int n = 2000;
    std::vector<SQLBIGINT> ids(n);
    std::vector<char> names((size_t)n * 16);
    std::vector<SQLLEN> ind(n, SQL_NTS);
    for (int i = 0; i < n; i++) {
        ids[i] = i;
        snprintf(&names[(size_t)i * 16], 16, "n'%d", i);
    }
    ind[7] = SQL_NULL_DATA;
    SQLULEN processed = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)(SQLULEN)n, 0));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMS_PROCESSED_PTR, &processed, 0));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_SBIGINT, SQL_BIGINT, 0, 0, ids.data(), 0, nullptr));
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(stmt, 2, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 15, 0, names.data(), 16, ind.data()));
    ASSERT_EQ(SQL_SUCCESS, exec("INSERT INTO tarn_params_c.many VALUES (?, ?)")) << diag();
    EXPECT_EQ((SQLULEN)n, processed);
    ASSERT_EQ(SQL_SUCCESS, SQLFreeStmt(stmt, SQL_RESET_PARAMS));
    ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(stmt, SQL_ATTR_PARAMSET_SIZE, (SQLPOINTER)1, 0));
    ASSERT_EQ(SQL_SUCCESS, exec("SELECT count(*), count(name), sum(id), max(name) FROM tarn_params_c.many")) << diag();
    ASSERT_EQ(SQL_SUCCESS, SQLFetch(stmt));
    SQLBIGINT count = 0, named = 0, sum = 0;
    char max_name[16] = {};
    SQLGetData(stmt, 1, SQL_C_SBIGINT, &count, 0, nullptr);
    SQLGetData(stmt, 2, SQL_C_SBIGINT, &named, 0, nullptr);
    SQLGetData(stmt, 3, SQL_C_SBIGINT, &sum, 0, nullptr);
    SQLGetData(stmt, 4, SQL_C_CHAR, max_name, sizeof max_name, nullptr);
    EXPECT_EQ(n, count);
    EXPECT_EQ(n - 1, named);
    EXPECT_EQ((SQLBIGINT)n * (n - 1) / 2, sum);
    EXPECT_STREQ("n'999", max_name);
}

TEST_F(SparkParams, TextBoundAsANumberCannotWidenAQuery) {
    char text[] = "1 OR 1=1";
    SQLLEN nts = SQL_NTS;
    ASSERT_EQ(SQL_SUCCESS, SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_INTEGER, 0, 0, text, 0, &nts));
    EXPECT_EQ(SQL_ERROR, exec("SELECT id FROM tarn_params_c.all_types WHERE id = ?"));
    EXPECT_EQ(0u, diag().rfind("22018", 0)) << diag();
    char quoted[] = "x' OR 'a'='a";
    ASSERT_EQ(SQL_SUCCESS,
              SQLBindParameter(stmt, 1, SQL_PARAM_INPUT, SQL_C_CHAR, SQL_VARCHAR, 20, 0, quoted, 0, &nts));
    ASSERT_EQ(SQL_SUCCESS, exec("SELECT id FROM tarn_params_c.all_types WHERE c_str = ?")) << diag();
    EXPECT_EQ(SQL_NO_DATA, SQLFetch(stmt));
}

}  // namespace
