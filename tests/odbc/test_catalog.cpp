// Catalog functions and SQLGetTypeInfo through the Driver Manager against
// the fake server: the exact metadata requests (patterns, escapes, table
// types, the special forms with SQL_NTS), the ODBC shapes of the results,
// the mapping of the server's JDBC type columns onto ODBC codes and sizes,
// names that must never become SQL, and results made by the driver.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "TCLIService.h"
#include "fake_results.h"
#include "fake_server.h"
#include "tarn_test_support.h"

using namespace tarn_test;
using tarn_fake::FakeResult;

namespace {

class OdbcConfigEnv : public ::testing::Environment {
  public:
    static PrivateOdbcConfig *config;
    void SetUp() override { config = new PrivateOdbcConfig(); }
    void TearDown() override {
        delete config;
        config = nullptr;
    }
};
PrivateOdbcConfig *OdbcConfigEnv::config = nullptr;
const ::testing::Environment *const config_env = ::testing::AddGlobalTestEnvironment(new OdbcConfigEnv);

using tcli::TTypeId;
using Opt = std::optional<std::string>;
using OptI = std::optional<int32_t>;

// A GetColumns answer as Spark 4 shapes it: 23 JDBC columns.
struct ServerColumn {
    std::string name, type_name;
    int32_t jdbc;
    OptI size, digits, radix;
    int32_t nullable, ordinal;
};

FakeResult get_columns_result(const std::vector<ServerColumn> &rows) {
    FakeResult r;
    const char *names[23] = {"TABLE_CAT",     "TABLE_SCHEM",     "TABLE_NAME",       "COLUMN_NAME",
                             "DATA_TYPE",     "TYPE_NAME",       "COLUMN_SIZE",      "BUFFER_LENGTH",
                             "DECIMAL_DIGITS", "NUM_PREC_RADIX", "NULLABLE",         "REMARKS",
                             "COLUMN_DEF",    "SQL_DATA_TYPE",   "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH",
                             "ORDINAL_POSITION", "IS_NULLABLE",  "SCOPE_CATALOG",    "SCOPE_SCHEMA",
                             "SCOPE_TABLE",   "SOURCE_DATA_TYPE", "IS_AUTO_INCREMENT"};
    const bool is_int[23] = {0, 0, 0, 0, 1, 0, 1, 1, 1, 1, 1, 0, 0, 1, 1, 1, 1, 0, 0, 0, 0, 1, 0};
    std::vector<tcli::TColumnDesc> desc;
    for (int i = 0; i < 23; i++)
        desc.push_back(tarn_fake::column_desc(names[i], is_int[i] ? TTypeId::INT_TYPE : TTypeId::STRING_TYPE, i + 1));
    r.schema = tarn_fake::schema(desc);
    std::vector<std::vector<Opt>> text(23);
    std::vector<std::vector<OptI>> ints(23);
    for (const ServerColumn &c : rows) {
        std::vector<Opt> t(23);
        std::vector<OptI> n(23);
        t[0] = "";
        t[1] = "db";
        t[2] = "t";
        t[3] = c.name;
        n[4] = c.jdbc;
        t[5] = c.type_name;
        n[6] = c.size;
        n[8] = c.digits;
        n[9] = c.radix;
        n[10] = c.nullable;
        t[11] = "";
        n[16] = c.ordinal;
        t[17] = "YES";   // even for a column without NULLs, as Spark 3.5 sends it
        t[22] = "NO";
        for (int i = 0; i < 23; i++) {
            text[i].push_back(t[i]);
            ints[i].push_back(n[i]);
        }
    }
    for (int i = 0; i < 23; i++)
        r.columns.push_back(is_int[i] ? tarn_fake::i32_column(ints[i]) : tarn_fake::string_column(text[i]));
    return r;
}

FakeResult string_rows(const std::vector<std::string> &names, const std::vector<std::vector<Opt>> &rows) {
    FakeResult r;
    std::vector<tcli::TColumnDesc> desc;
    for (size_t i = 0; i < names.size(); i++)
        desc.push_back(tarn_fake::column_desc(names[i], TTypeId::STRING_TYPE, (int)i + 1));
    r.schema = tarn_fake::schema(desc);
    for (size_t c = 0; c < names.size(); c++) {
        std::vector<Opt> values;
        for (const auto &row : rows) values.push_back(row[c]);
        r.columns.push_back(tarn_fake::string_column(values));
    }
    return r;
}

class Catalog : public ::testing::Test {
  protected:
    tarn_fake::FakeServer srv{tarn_fake::Framing::NoSasl};
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    std::mutex mutex;
    std::map<std::string, FakeResult> metadata;   // by call name

    void SetUp() override { connect(SQL_OV_ODBC3); }
    void connect(SQLULEN version) {
        srv.handlers().MetadataResult = [this](const std::string &call) {
            std::lock_guard<std::mutex> g(mutex);
            auto it = metadata.find(call);
            return it != metadata.end() ? it->second : FakeResult{};
        };
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)version, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
        std::string in = "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(srv.port()) +
                         ";Authentication=NOSASL";
        SQLCHAR out[512];
        SQLSMALLINT len = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, out, sizeof out,
                                                   &len, SQL_DRIVER_NOPROMPT)))
            << diag_text(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    }
    void disconnect() {
        if (stmt) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        stmt = SQL_NULL_HSTMT;
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    void TearDown() override { disconnect(); }

    void serve(const std::string &call, FakeResult r) {
        std::lock_guard<std::mutex> g(mutex);
        metadata[call] = std::move(r);
    }
    std::string diags() { return diag_text(SQL_HANDLE_STMT, stmt); }
    std::string state() {
        SQLCHAR st[6] = {0};
        SQLINTEGER native;
        SQLSMALLINT len;
        SQLCHAR msg[512];
        if (!SQL_SUCCEEDED(SQLGetDiagRec(SQL_HANDLE_STMT, stmt, 1, st, &native, msg, sizeof msg, &len))) return "";
        return (const char *)st;
    }
    template <class Args> std::vector<decltype(Args().req)> requests(const std::string &call) {
        std::vector<decltype(Args().req)> out;
        for (const auto &r : srv.records(call)) out.push_back(tarn_fake::decode_args<Args>(r.message).req);
        return out;
    }
    std::vector<std::string> column_names() {
        SQLSMALLINT n = 0;
        EXPECT_EQ(SQLNumResultCols(stmt, &n), SQL_SUCCESS) << diags();
        std::vector<std::string> names;
        for (SQLUSMALLINT i = 1; i <= n; i++) {
            SQLCHAR name[64];
            SQLSMALLINT len = 0;
            EXPECT_EQ(SQLDescribeCol(stmt, i, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr),
                      SQL_SUCCESS);
            names.push_back((const char *)name);
        }
        return names;
    }
    SQLSMALLINT column_type(SQLUSMALLINT i) {
        SQLSMALLINT type = 0;
        SQLCHAR name[64];
        EXPECT_EQ(SQLDescribeCol(stmt, i, name, sizeof name, nullptr, &type, nullptr, nullptr, nullptr), SQL_SUCCESS);
        return type;
    }
    // The current row's column as text; nullopt for NULL.
    Opt text(SQLUSMALLINT i) {
        char buf[256];
        SQLLEN ind = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, i, SQL_C_CHAR, buf, sizeof buf, &ind))) << diags();
        if (ind == SQL_NULL_DATA) return std::nullopt;
        return std::string(buf);
    }
    OptI number(SQLUSMALLINT i) {
        SQLINTEGER v = 0;
        SQLLEN ind = 0;
        EXPECT_TRUE(SQL_SUCCEEDED(SQLGetData(stmt, i, SQL_C_SLONG, &v, 0, &ind))) << diags();
        if (ind == SQL_NULL_DATA) return std::nullopt;
        return v;
    }
    std::vector<std::vector<Opt>> all_rows() {
        std::vector<std::vector<Opt>> rows;
        SQLSMALLINT n = 0;
        SQLNumResultCols(stmt, &n);
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
            std::vector<Opt> row;
            for (SQLUSMALLINT i = 1; i <= n; i++) row.push_back(text(i));
            rows.push_back(row);
        }
        EXPECT_EQ(rc, SQL_NO_DATA) << diags();
        return rows;
    }
    SQLRETURN tables(const char *c, SQLSMALLINT cl, const char *s, SQLSMALLINT sl, const char *t, SQLSMALLINT tl,
                     const char *ty = nullptr, SQLSMALLINT tyl = SQL_NTS) {
        return SQLTables(stmt, (SQLCHAR *)c, cl, (SQLCHAR *)s, sl, (SQLCHAR *)t, tl, (SQLCHAR *)ty, tyl);
    }
};

const std::vector<std::string> kTablesNames = {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE", "REMARKS"};

// ---------------------------------------------------------------------------
// SQLTables: requests and the special forms

TEST_F(Catalog, AllCatalogsWithCountedOrNtsLengths) {
    serve("GetCatalogs", string_rows({"TABLE_CAT"}, {}));
    for (SQLSMALLINT nts : {(SQLSMALLINT)0, (SQLSMALLINT)SQL_NTS}) {
        srv.clear_records();
        ASSERT_EQ(tables("%", nts ? SQL_NTS : 1, "", nts, "", nts), SQL_SUCCESS) << diags();
        EXPECT_EQ(srv.records("GetCatalogs").size(), 1u);
        EXPECT_TRUE(srv.records("GetTables").empty());
        EXPECT_EQ(column_names(), kTablesNames);
        EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
}

TEST_F(Catalog, AllSchemasPresentsTheServersTwoColumnsInTheOdbcPlaces) {
    serve("GetSchemas", string_rows({"TABLE_SCHEM", "TABLE_CATALOG"}, {{"default", ""}, {"sales", ""}}));
    ASSERT_EQ(tables("", SQL_NTS, "%", SQL_NTS, "", SQL_NTS), SQL_SUCCESS) << diags();
    EXPECT_EQ(srv.records("GetSchemas").size(), 1u);
    EXPECT_EQ(column_names(), kTablesNames);
    auto rows = all_rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], (std::vector<Opt>{std::nullopt, "default", std::nullopt, std::nullopt, std::nullopt}));
    EXPECT_EQ(rows[1][1], "sales");
}

TEST_F(Catalog, AllTableTypesAreAnsweredWithoutTheServer) {
    ASSERT_EQ(tables("", SQL_NTS, "", SQL_NTS, "", SQL_NTS, "%", SQL_NTS), SQL_SUCCESS) << diags();
    auto rows = all_rows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0][3], "TABLE");
    EXPECT_EQ(rows[1][3], "VIEW");
    EXPECT_EQ(rows[0][0], std::nullopt);
    EXPECT_TRUE(srv.records("GetTables").empty());
}

TEST_F(Catalog, TablesSendsPatternsAsGivenAndTheTableTypesCleanedUp) {
    serve("GetTables", string_rows({"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "TABLE_TYPE", "REMARKS", "TYPE_CAT",
                                    "TYPE_SCHEM", "TYPE_NAME", "SELF_REFERENCING_COL_NAME", "REF_GENERATION"},
                                   {{"", "db", "t_1", "TABLE", "", {}, {}, {}, {}, {}}}));
    ASSERT_EQ(tables(nullptr, 0, "d\\_b", SQL_NTS, "t\\_1", SQL_NTS, "'view', table ,\"Table\"", SQL_NTS),
              SQL_SUCCESS)
        << diags();
    auto reqs = requests<tcli::TCLIService_GetTables_args>("GetTables");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_FALSE(reqs[0].__isset.catalogName);
    EXPECT_EQ(reqs[0].schemaName, "d\\_b");
    EXPECT_EQ(reqs[0].tableName, "t\\_1");
    EXPECT_EQ(reqs[0].tableTypes, (std::vector<std::string>{"VIEW", "TABLE", "TABLE"}));
    EXPECT_EQ(column_names(), kTablesNames);
    auto rows = all_rows();
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0], (std::vector<Opt>{std::nullopt, "db", "t_1", "TABLE", ""}));

    // Without a table type no filter goes out; the wide twin sends the same.
    srv.clear_records();
    SQLWCHAR schema[] = {'%', 0};
    ASSERT_EQ(SQLTablesW(stmt, nullptr, 0, schema, SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS) << diags();
    reqs = requests<tcli::TCLIService_GetTables_args>("GetTables");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].schemaName, "%");
    EXPECT_FALSE(reqs[0].__isset.tableName);
    EXPECT_FALSE(reqs[0].__isset.tableTypes);

    // "%" among the types is no filter.
    srv.clear_records();
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    ASSERT_EQ(tables(nullptr, 0, "db", SQL_NTS, nullptr, 0, "TABLE,%", SQL_NTS), SQL_SUCCESS) << diags();
    reqs = requests<tcli::TCLIService_GetTables_args>("GetTables");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_FALSE(reqs[0].__isset.tableTypes);
}

TEST_F(Catalog, MetadataIdTurnsArgumentsIntoEscapedIdentifiers) {
    serve("GetColumns", get_columns_result({}));
    ASSERT_EQ(SQLSetStmtAttr(stmt, SQL_ATTR_METADATA_ID, (SQLPOINTER)SQL_TRUE, 0), SQL_SUCCESS);
    ASSERT_EQ(SQLColumns(stmt, nullptr, 0, (SQLCHAR *)"`my_db`", SQL_NTS, (SQLCHAR *)"t%1", SQL_NTS,
                         (SQLCHAR *)"a\\b", SQL_NTS),
              SQL_SUCCESS)
        << diags();
    auto reqs = requests<tcli::TCLIService_GetColumns_args>("GetColumns");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].schemaName, "my\\_db");
    EXPECT_EQ(reqs[0].tableName, "t\\%1");
    EXPECT_EQ(reqs[0].columnName, "a\\\\b");
    // Identifiers are required then.
    EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(state(), "HY009");
}

// ---------------------------------------------------------------------------
// SQLColumns: the ODBC shape over the server's JDBC columns

TEST_F(Catalog, ColumnsRequestAndShape) {
    serve("GetColumns", get_columns_result({{"c1", "INT", 4, 4, 0, 10, 1, 1}}));
    ASSERT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"T1", SQL_NTS, (SQLCHAR *)"COL%", SQL_NTS),
              SQL_SUCCESS)
        << diags();
    auto reqs = requests<tcli::TCLIService_GetColumns_args>("GetColumns");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_FALSE(reqs[0].__isset.schemaName);
    EXPECT_FALSE(reqs[0].__isset.catalogName);
    EXPECT_EQ(reqs[0].tableName, "T1");
    EXPECT_EQ(reqs[0].columnName, "COL%");
    EXPECT_EQ(column_names(),
              (std::vector<std::string>{"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "DATA_TYPE",
                                        "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS",
                                        "NUM_PREC_RADIX", "NULLABLE", "REMARKS", "COLUMN_DEF", "SQL_DATA_TYPE",
                                        "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH", "ORDINAL_POSITION",
                                        "IS_NULLABLE"}));
    const SQLSMALLINT types[18] = {SQL_VARCHAR, SQL_VARCHAR,  SQL_VARCHAR,  SQL_VARCHAR,  SQL_SMALLINT, SQL_VARCHAR,
                                   SQL_INTEGER, SQL_INTEGER,  SQL_SMALLINT, SQL_SMALLINT, SQL_SMALLINT, SQL_VARCHAR,
                                   SQL_VARCHAR, SQL_SMALLINT, SQL_SMALLINT, SQL_INTEGER,  SQL_INTEGER,  SQL_VARCHAR};
    for (int i = 0; i < 18; i++) EXPECT_EQ(column_type((SQLUSMALLINT)(i + 1)), types[i]) << "column " << i + 1;
    // Bound columns read the same values as SQLGetData.
    SQLSMALLINT data_type = 0;
    SQLLEN ind = 0;
    SQLCHAR name[32];
    SQLLEN name_ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 5, SQL_C_SSHORT, &data_type, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 4, SQL_C_CHAR, name, sizeof name, &name_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(data_type, SQL_INTEGER);
    EXPECT_STREQ((const char *)name, "c1");
    EXPECT_EQ(text(1), std::nullopt);   // the server's "" catalog
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

struct TypeCase {
    const char *type_name;
    int32_t jdbc;
    OptI size, digits;
    // expected
    int data_type;
    OptI column_size, buffer_length, decimal_digits, radix;
    int sql_data_type;
    OptI datetime_sub, char_octet_length;
};

TEST_F(Catalog, EveryServerTypeMapsAsTheResultDescriptionDoes) {
    const OptI N;
    const TypeCase cases[] = {
        {"BOOLEAN", 16, 1, N, SQL_BIT, 1, 1, 0, N, SQL_BIT, N, N},
        {"TINYINT", -6, 1, 0, SQL_TINYINT, 3, 1, 0, 10, SQL_TINYINT, N, N},
        {"SMALLINT", 5, 2, 0, SQL_SMALLINT, 5, 2, 0, 10, SQL_SMALLINT, N, N},
        {"INT", 4, 4, 0, SQL_INTEGER, 10, 4, 0, 10, SQL_INTEGER, N, N},
        {"BIGINT", -5, 8, 0, SQL_BIGINT, 19, 8, 0, 10, SQL_BIGINT, N, N},
        {"FLOAT", 6, 4, 7, SQL_REAL, 7, 4, N, 10, SQL_REAL, N, N},
        {"DOUBLE", 8, 8, 15, SQL_DOUBLE, 15, 8, N, 10, SQL_DOUBLE, N, N},
        {"DECIMAL(10,2)", 3, 8, 2, SQL_NUMERIC, 10, 12, 2, 10, SQL_NUMERIC, N, N},
        {"DECIMAL(38,0)", 3, 16, 0, SQL_NUMERIC, 38, 39, 0, 10, SQL_NUMERIC, N, N},
        {"STRING", 12, 2147483647, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        {"VARCHAR(20)", 12, N, N, SQL_VARCHAR, 20, 20, N, N, SQL_VARCHAR, N, 20},
        {"CHAR(5)", 1, N, N, SQL_CHAR, 5, 5, N, N, SQL_CHAR, N, 5},
        {"BINARY", -2, 2147483647, N, SQL_VARBINARY, 256, 256, N, N, SQL_VARBINARY, N, 256},
        {"DATE", 91, 4, N, SQL_TYPE_DATE, 10, 6, N, N, SQL_DATETIME, SQL_CODE_DATE, N},
        {"TIMESTAMP", 93, 8, 6, SQL_TYPE_TIMESTAMP, 26, 16, 6, N, SQL_DATETIME, SQL_CODE_TIMESTAMP, N},
        {"TIMESTAMP_NTZ", 93, 8, 6, SQL_TYPE_TIMESTAMP, 26, 16, 6, N, SQL_DATETIME, SQL_CODE_TIMESTAMP, N},
        {"ARRAY<INT>", 2003, N, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        {"MAP<STRING, INT>", 2000, N, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        {"STRUCT<a: INT, b: DECIMAL(5,1)>", 2002, N, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        {"INTERVAL YEAR TO MONTH", 1111, N, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        {"INTERVAL DAY TO SECOND", 1111, N, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        {"VOID", 0, N, N, SQL_VARCHAR, 256, 256, N, N, SQL_VARCHAR, N, 256},
        // A name the driver does not know: the JDBC code decides.
        {"GEOGRAPHY", 4, 4, 0, SQL_INTEGER, 10, 4, 0, 10, SQL_INTEGER, N, N},
        {"FUTURE_DECIMAL", 3, 12, 3, SQL_NUMERIC, 12, 14, 3, 10, SQL_NUMERIC, N, N},
        {"FUTURE_REAL", 6, 4, N, SQL_REAL, 7, 4, N, 10, SQL_REAL, N, N},
        {"FUTURE_BINARY", -2, N, N, SQL_VARBINARY, 256, 256, N, N, SQL_VARBINARY, N, 256},
    };
    std::vector<ServerColumn> rows;
    int pos = 1;
    for (const TypeCase &c : cases) rows.push_back({"c", c.type_name, c.jdbc, c.size, c.digits, N, 1, pos++});
    serve("GetColumns", get_columns_result(rows));
    ASSERT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, nullptr, 0), SQL_SUCCESS) << diags();
    pos = 1;
    for (const TypeCase &c : cases) {
        SCOPED_TRACE(c.type_name);
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
        EXPECT_EQ(text(6), c.type_name);
        EXPECT_EQ(number(5), c.data_type);
        EXPECT_EQ(number(7), c.column_size);
        EXPECT_EQ(number(8), c.buffer_length);
        EXPECT_EQ(number(9), c.decimal_digits);
        EXPECT_EQ(number(10), c.radix);
        EXPECT_EQ(number(11), 1);
        EXPECT_EQ(number(14), c.sql_data_type);
        EXPECT_EQ(number(15), c.datetime_sub);
        EXPECT_EQ(number(16), c.char_octet_length);
        EXPECT_EQ(number(17), pos++);
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(Catalog, Odbc2ApplicationsGetOdbc2DateCodesAndZeroBasedPositionsAreMoved) {
    disconnect();
    connect(SQL_OV_ODBC2);
    serve("GetColumns", get_columns_result({{"d", "DATE", 91, 4, {}, {}, 1, 0}, {"ts", "TIMESTAMP", 93, 8, 6, {}, 0, 1}}));
    ASSERT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, nullptr, 0), SQL_SUCCESS) << diags();
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(number(5), SQL_DATE);
    EXPECT_EQ(number(17), 1);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(number(5), SQL_TIMESTAMP);
    EXPECT_EQ(number(11), 0);
    EXPECT_EQ(text(18), "NO");   // made from NULLABLE
    EXPECT_EQ(number(17), 2);
}

TEST_F(Catalog, PositionsOfOlderServersCountFromOneEvenUnderAColumnPattern) {
    serve("GetColumns", get_columns_result({{"b", "INT", 4, 4, 0, 10, 1, 1}}));
    const std::pair<const char *, int> cases[] = {{"4.0.1", 1}, {"3.5.9", 2}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first);
        const char *version = c.first;
        srv.handlers().GetInfo = [version](const tcli::TGetInfoReq &req, tcli::TGetInfoResp &r) {
            if (req.infoType == SQL_DBMS_VER) r.infoValue.__set_stringValue(version);
        };
        ASSERT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, (SQLCHAR *)"b", SQL_NTS),
                  SQL_SUCCESS)
            << diags();
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
        EXPECT_EQ(number(17), c.second);
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
}

TEST_F(Catalog, AServerResultWithTooFewColumnsIsRefusedAndClosed) {
    serve("GetColumns", string_rows({"TABLE_CAT", "TABLE_SCHEM"}, {{"", "db"}}));
    EXPECT_EQ(SQLColumns(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(state(), "HY000");
    EXPECT_EQ(srv.open_operations(), 0);
}

// ---------------------------------------------------------------------------
// Procedures, keys, statistics, privileges, special columns

TEST_F(Catalog, ProceduresListEachFunctionOnceAndNeverSendAnUnsetName) {
    serve("GetFunctions",
          string_rows({"FUNCTION_CAT", "FUNCTION_SCHEM", "FUNCTION_NAME", "REMARKS", "FUNCTION_TYPE", "SPECIFIC_NAME"},
                      {{{}, "db1", "abs", "x", "1", "A"},
                       {{}, "db1", "f", "y", "1", "F"},
                       {{}, "db2", "abs", "x", "1", "A"},
                       {{}, "db2", "f", "y", "1", "F"},
                       {{}, "db2", "g", "z", "1", "G"}}));
    ASSERT_EQ(SQLProcedures(stmt, nullptr, 0, nullptr, 0, nullptr, 0), SQL_SUCCESS) << diags();
    auto reqs = requests<tcli::TCLIService_GetFunctions_args>("GetFunctions");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].functionName, "%");
    EXPECT_EQ(column_names(),
              (std::vector<std::string>{"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "NUM_INPUT_PARAMS",
                                        "NUM_OUTPUT_PARAMS", "NUM_RESULT_SETS", "REMARKS", "PROCEDURE_TYPE"}));
    auto rows = all_rows();
    ASSERT_EQ(rows.size(), 3u);
    EXPECT_EQ(rows[0], (std::vector<Opt>{std::nullopt, "db1", "abs", std::nullopt, std::nullopt, std::nullopt, "x",
                                         "2"}));
    EXPECT_EQ(rows[1][2], "f");
    EXPECT_EQ(rows[2][2], "g");

    srv.clear_records();
    ASSERT_EQ(SQLProcedures(stmt, nullptr, 0, (SQLCHAR *)"db1", SQL_NTS, (SQLCHAR *)"F%", SQL_NTS), SQL_SUCCESS);
    reqs = requests<tcli::TCLIService_GetFunctions_args>("GetFunctions");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].functionName, "F%");
    EXPECT_EQ(reqs[0].schemaName, "db1");
}

TEST_F(Catalog, ForeignKeysNameKeySeqAndNeedATable) {
    serve("GetCrossReference",
          string_rows({"PKTABLE_CAT", "PKTABLE_SCHEM", "PKTABLE_NAME", "PKCOLUMN_NAME", "FKTABLE_CAT", "FKTABLE_SCHEM",
                       "FKTABLE_NAME", "FKCOLUMN_NAME", "KEQ_SEQ", "UPDATE_RULE", "DELETE_RULE", "FK_NAME", "PK_NAME",
                       "DEFERRABILITY"},
                      {}));
    ASSERT_EQ(SQLForeignKeys(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"p", SQL_NTS, nullptr, 0, nullptr, 0, nullptr,
                             0),
              SQL_SUCCESS)
        << diags();
    auto reqs = requests<tcli::TCLIService_GetCrossReference_args>("GetCrossReference");
    ASSERT_EQ(reqs.size(), 1u);
    EXPECT_EQ(reqs[0].parentTableName, "p");
    EXPECT_EQ(reqs[0].parentSchemaName, "default");
    EXPECT_EQ(reqs[0].foreignSchemaName, "default");
    EXPECT_FALSE(reqs[0].__isset.foreignTableName);
    auto names = column_names();
    ASSERT_EQ(names.size(), 14u);
    EXPECT_EQ(names[8], "KEY_SEQ");
    EXPECT_EQ(column_type(9), SQL_SMALLINT);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);

    srv.clear_records();
    EXPECT_EQ(SQLForeignKeys(stmt, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(state(), "HY009");
    EXPECT_TRUE(srv.records("GetCrossReference").empty());
}

struct LocalCase {
    const char *what;
    std::function<SQLRETURN(SQLHSTMT)> call;
    std::vector<std::string> names;
};

TEST_F(Catalog, DriverMadeResultsHaveTheOdbcShapesAndNoRows) {
    const LocalCase cases[] = {
        {"SQLPrimaryKeys",
         [](SQLHSTMT h) { return SQLPrimaryKeys(h, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "KEY_SEQ", "PK_NAME"}},
        {"SQLTablePrivileges",
         [](SQLHSTMT h) { return SQLTablePrivileges(h, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS); },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "GRANTOR", "GRANTEE", "PRIVILEGE", "IS_GRANTABLE"}},
        {"SQLColumnPrivileges",
         [](SQLHSTMT h) {
             return SQLColumnPrivileges(h, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, (SQLCHAR *)"%", SQL_NTS);
         },
         {"TABLE_CAT", "TABLE_SCHEM", "TABLE_NAME", "COLUMN_NAME", "GRANTOR", "GRANTEE", "PRIVILEGE",
          "IS_GRANTABLE"}},
        {"SQLSpecialColumns",
         [](SQLHSTMT h) {
             return SQLSpecialColumns(h, SQL_BEST_ROWID, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS,
                                      SQL_SCOPE_SESSION, SQL_NULLABLE);
         },
         {"SCOPE", "COLUMN_NAME", "DATA_TYPE", "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS",
          "PSEUDO_COLUMN"}},
        {"SQLProcedureColumns",
         [](SQLHSTMT h) { return SQLProcedureColumns(h, nullptr, 0, nullptr, 0, (SQLCHAR *)"f", SQL_NTS, nullptr, 0); },
         {"PROCEDURE_CAT", "PROCEDURE_SCHEM", "PROCEDURE_NAME", "COLUMN_NAME", "COLUMN_TYPE", "DATA_TYPE",
          "TYPE_NAME", "COLUMN_SIZE", "BUFFER_LENGTH", "DECIMAL_DIGITS", "NUM_PREC_RADIX", "NULLABLE", "REMARKS",
          "COLUMN_DEF", "SQL_DATA_TYPE", "SQL_DATETIME_SUB", "CHAR_OCTET_LENGTH", "ORDINAL_POSITION",
          "IS_NULLABLE"}},
    };
    for (const LocalCase &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(c.call(stmt), SQL_SUCCESS) << diags();
        EXPECT_EQ(column_names(), c.names);
        char buf[8];
        SQLLEN ind;
        EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_ERROR);   // no row yet
        EXPECT_EQ(state(), "24000");
        EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
        EXPECT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
    EXPECT_TRUE(srv.records("ExecuteStatement").empty());
    // Argument checks.
    EXPECT_EQ(SQLPrimaryKeys(stmt, nullptr, 0, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(state(), "HY009");
    EXPECT_EQ(SQLSpecialColumns(stmt, 7, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, 0, 0), SQL_ERROR);
    EXPECT_EQ(state(), "HY097");
    EXPECT_EQ(SQLStatistics(stmt, nullptr, 0, nullptr, 0, (SQLCHAR *)"t", SQL_NTS, 9, SQL_QUICK), SQL_ERROR);
    EXPECT_EQ(state(), "HY100");
}

TEST_F(Catalog, StatisticsNamesNeverBecomeSql) {
    const char *names[] = {"t", "t' UNION SELECT 1 --", "t\\' OR '1'='1", "`t`"};
    for (const char *name : names) {
        SCOPED_TRACE(name);
        ASSERT_EQ(SQLStatistics(stmt, nullptr, 0, (SQLCHAR *)"s", SQL_NTS, (SQLCHAR *)name, SQL_NTS, SQL_INDEX_ALL,
                                SQL_QUICK),
                  SQL_SUCCESS)
            << diags();
        auto names_ = column_names();
        ASSERT_EQ(names_.size(), 13u);
        EXPECT_EQ(names_[6], "TYPE");
        auto rows = all_rows();
        ASSERT_EQ(rows.size(), 1u);
        EXPECT_EQ(rows[0][0], std::nullopt);
        EXPECT_EQ(rows[0][1], "s");
        EXPECT_EQ(rows[0][2], name);
        EXPECT_EQ(rows[0][6], "0");
        EXPECT_EQ(rows[0][3], std::nullopt);
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
    EXPECT_TRUE(srv.records("ExecuteStatement").empty());
}

TEST_F(Catalog, AnOpenOperationIsClosedBeforeACatalogCallReplacesIt) {
    serve("GetTables", string_rows(kTablesNames, {}));
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT 1", SQL_NTS), SQL_SUCCESS) << diags();
    ASSERT_EQ(srv.open_operations(), 1);
    ASSERT_EQ(tables(nullptr, 0, nullptr, 0, "t", SQL_NTS), SQL_SUCCESS) << diags();
    EXPECT_EQ(srv.open_operations(), 1);
    EXPECT_EQ(srv.records("CloseOperation").size(), 1u);
    ASSERT_EQ(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_SUCCESS) << diags();
    EXPECT_EQ(srv.open_operations(), 0);
    ASSERT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
}

// ---------------------------------------------------------------------------
// SQLGetTypeInfo

TEST_F(Catalog, TypeInfoRowsMatchTheDescriptionAndNeedNoServer) {
    ASSERT_EQ(SQLGetTypeInfo(stmt, SQL_ALL_TYPES), SQL_SUCCESS) << diags();
    EXPECT_EQ(column_names().size(), 19u);
    EXPECT_EQ(column_type(2), SQL_SMALLINT);
    EXPECT_EQ(column_type(3), SQL_INTEGER);
    auto rows = all_rows();
    std::vector<std::string> order;
    int previous = -1000;
    for (const auto &r : rows) {
        order.push_back(*r[0]);
        int code = std::stoi(*r[1]);
        EXPECT_LE(previous, code);
        previous = code;
        EXPECT_EQ(r[0], r[12]);
    }
    EXPECT_EQ(order, (std::vector<std::string>{"BOOLEAN", "TINYINT", "BIGINT", "BINARY", "CHAR", "DECIMAL", "INT",
                                               "SMALLINT", "FLOAT", "DOUBLE", "STRING", "VARCHAR", "DATE",
                                               "TIMESTAMP"}));
    for (const auto &r : rows) {
        if (r[0] == "BINARY") {
            EXPECT_EQ(r[1], "-3");
            EXPECT_EQ(r[3], "X'");
            EXPECT_EQ(r[4], "'");
        }
        if (r[0] == "TIMESTAMP") {
            EXPECT_EQ(r[2], "26");
            EXPECT_EQ(r[14], "6");
            EXPECT_EQ(r[15], "9");
            EXPECT_EQ(r[16], "3");
        }
        if (r[0] == "DECIMAL") {
            EXPECT_EQ(r[1], "2");
            EXPECT_EQ(r[2], "38");
            EXPECT_EQ(r[5], "precision,scale");
            EXPECT_EQ(r[14], "38");
        }
        if (r[0] == "VARCHAR") {
            EXPECT_EQ(r[2], "256");
        }
    }
    EXPECT_TRUE(srv.records("ExecuteStatement").empty());
}

TEST_F(Catalog, TypeInfoForOneType) {
    struct Case {
        int type;
        std::vector<std::string> names;
    };
    const Case cases[] = {
        {SQL_VARCHAR, {"STRING", "VARCHAR"}}, {SQL_INTEGER, {"INT"}},   {SQL_TYPE_DATE, {"DATE"}},
        {SQL_DATE, {"DATE"}},                 {SQL_WVARCHAR, {}},        {SQL_TYPE_TIMESTAMP, {"TIMESTAMP"}},
        {SQL_NUMERIC, {"DECIMAL"}},           {SQL_DECIMAL, {}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.type);
        ASSERT_EQ(SQLGetTypeInfo(stmt, (SQLSMALLINT)c.type), SQL_SUCCESS) << diags();
        std::vector<std::string> names;
        for (const auto &r : all_rows()) names.push_back(*r[0]);
        EXPECT_EQ(names, c.names);
    }
    EXPECT_EQ(SQLGetTypeInfo(stmt, 999), SQL_ERROR);
    EXPECT_EQ(state(), "HY004");
}

TEST_F(Catalog, SearchPatternEscapeIsBackslash) {
    SQLCHAR buf[8];
    SQLSMALLINT len = 0;
    ASSERT_EQ(SQLGetInfo(dbc, SQL_SEARCH_PATTERN_ESCAPE, buf, sizeof buf, &len), SQL_SUCCESS);
    EXPECT_STREQ((const char *)buf, "\\");
    for (SQLUSMALLINT f : {SQL_API_SQLTABLES, SQL_API_SQLCOLUMNS, SQL_API_SQLGETTYPEINFO, SQL_API_SQLSTATISTICS,
                           SQL_API_SQLPRIMARYKEYS, SQL_API_SQLFOREIGNKEYS, SQL_API_SQLPROCEDURES,
                           SQL_API_SQLPROCEDURECOLUMNS, SQL_API_SQLSPECIALCOLUMNS, SQL_API_SQLTABLEPRIVILEGES,
                           SQL_API_SQLCOLUMNPRIVILEGES}) {
        SQLUSMALLINT supported = 0;
        ASSERT_EQ(SQLGetFunctions(dbc, f, &supported), SQL_SUCCESS);
        EXPECT_EQ(supported, SQL_TRUE) << f;
    }
}

}  // namespace
