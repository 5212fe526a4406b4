// SQLGetInfo, SQLGetInfoW and SQLGetFunctions as exported by the driver
// library: the frame (handle check, diagnostics of the latest call only) and,
// above all, that SQLGetFunctions reports exactly the functions the library
// exports -- unixODBC refuses any function reported missing and calls
// whatever is reported present.
#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "TCLIService.h"
#include "fake_server.h"
#include "tarn_test_support.h"

using namespace tarn_test;

namespace {

typedef SQLRETURN(SQL_API *AllocHandleFn)(SQLSMALLINT, SQLHANDLE, SQLHANDLE *);
typedef SQLRETURN(SQL_API *FreeHandleFn)(SQLSMALLINT, SQLHANDLE);
typedef SQLRETURN(SQL_API *GetInfoFn)(SQLHDBC, SQLUSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT *);
typedef SQLRETURN(SQL_API *GetFunctionsFn)(SQLHDBC, SQLUSMALLINT, SQLUSMALLINT *);
typedef SQLRETURN(SQL_API *GetDiagRecFn)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR *, SQLINTEGER *, SQLCHAR *,
                                         SQLSMALLINT, SQLSMALLINT *);

// Every ODBC function name with its SQL_API_ identifier; a wide export
// (name + "W") counts for the same identifier.
const std::map<std::string, int> &odbc_functions() {
    static const std::map<std::string, int> m = {
        {"SQLAllocConnect", SQL_API_SQLALLOCCONNECT},
        {"SQLAllocEnv", SQL_API_SQLALLOCENV},
        {"SQLAllocHandle", SQL_API_SQLALLOCHANDLE},
        {"SQLAllocHandleStd", SQL_API_SQLALLOCHANDLESTD},
        {"SQLAllocStmt", SQL_API_SQLALLOCSTMT},
        {"SQLBindCol", SQL_API_SQLBINDCOL},
        {"SQLBindParam", SQL_API_SQLBINDPARAM},
        {"SQLBindParameter", SQL_API_SQLBINDPARAMETER},
        {"SQLBrowseConnect", SQL_API_SQLBROWSECONNECT},
        {"SQLBulkOperations", SQL_API_SQLBULKOPERATIONS},
        {"SQLCancel", SQL_API_SQLCANCEL},
        {"SQLCancelHandle", SQL_API_SQLCANCELHANDLE},
        {"SQLCloseCursor", SQL_API_SQLCLOSECURSOR},
        {"SQLColAttribute", SQL_API_SQLCOLATTRIBUTE},
        {"SQLColAttributes", SQL_API_SQLCOLATTRIBUTES},
        {"SQLColumnPrivileges", SQL_API_SQLCOLUMNPRIVILEGES},
        {"SQLColumns", SQL_API_SQLCOLUMNS},
        {"SQLConnect", SQL_API_SQLCONNECT},
        {"SQLCopyDesc", SQL_API_SQLCOPYDESC},
        {"SQLDataSources", SQL_API_SQLDATASOURCES},
        {"SQLDescribeCol", SQL_API_SQLDESCRIBECOL},
        {"SQLDescribeParam", SQL_API_SQLDESCRIBEPARAM},
        {"SQLDisconnect", SQL_API_SQLDISCONNECT},
        {"SQLDriverConnect", SQL_API_SQLDRIVERCONNECT},
        {"SQLDrivers", SQL_API_SQLDRIVERS},
        {"SQLEndTran", SQL_API_SQLENDTRAN},
        {"SQLError", SQL_API_SQLERROR},
        {"SQLExecDirect", SQL_API_SQLEXECDIRECT},
        {"SQLExecute", SQL_API_SQLEXECUTE},
        {"SQLExtendedFetch", SQL_API_SQLEXTENDEDFETCH},
        {"SQLFetch", SQL_API_SQLFETCH},
        {"SQLFetchScroll", SQL_API_SQLFETCHSCROLL},
        {"SQLForeignKeys", SQL_API_SQLFOREIGNKEYS},
        {"SQLFreeConnect", SQL_API_SQLFREECONNECT},
        {"SQLFreeEnv", SQL_API_SQLFREEENV},
        {"SQLFreeHandle", SQL_API_SQLFREEHANDLE},
        {"SQLFreeStmt", SQL_API_SQLFREESTMT},
        {"SQLGetConnectAttr", SQL_API_SQLGETCONNECTATTR},
        {"SQLGetConnectOption", SQL_API_SQLGETCONNECTOPTION},
        {"SQLGetCursorName", SQL_API_SQLGETCURSORNAME},
        {"SQLGetData", SQL_API_SQLGETDATA},
        {"SQLGetDescField", SQL_API_SQLGETDESCFIELD},
        {"SQLGetDescRec", SQL_API_SQLGETDESCREC},
        {"SQLGetDiagField", SQL_API_SQLGETDIAGFIELD},
        {"SQLGetDiagRec", SQL_API_SQLGETDIAGREC},
        {"SQLGetEnvAttr", SQL_API_SQLGETENVATTR},
        {"SQLGetFunctions", SQL_API_SQLGETFUNCTIONS},
        {"SQLGetInfo", SQL_API_SQLGETINFO},
        {"SQLGetStmtAttr", SQL_API_SQLGETSTMTATTR},
        {"SQLGetStmtOption", SQL_API_SQLGETSTMTOPTION},
        {"SQLGetTypeInfo", SQL_API_SQLGETTYPEINFO},
        {"SQLMoreResults", SQL_API_SQLMORERESULTS},
        {"SQLNativeSql", SQL_API_SQLNATIVESQL},
        {"SQLNumParams", SQL_API_SQLNUMPARAMS},
        {"SQLNumResultCols", SQL_API_SQLNUMRESULTCOLS},
        {"SQLParamData", SQL_API_SQLPARAMDATA},
        {"SQLParamOptions", SQL_API_SQLPARAMOPTIONS},
        {"SQLPrepare", SQL_API_SQLPREPARE},
        {"SQLPrimaryKeys", SQL_API_SQLPRIMARYKEYS},
        {"SQLProcedureColumns", SQL_API_SQLPROCEDURECOLUMNS},
        {"SQLProcedures", SQL_API_SQLPROCEDURES},
        {"SQLPutData", SQL_API_SQLPUTDATA},
        {"SQLRowCount", SQL_API_SQLROWCOUNT},
        {"SQLSetConnectAttr", SQL_API_SQLSETCONNECTATTR},
        {"SQLSetConnectOption", SQL_API_SQLSETCONNECTOPTION},
        {"SQLSetCursorName", SQL_API_SQLSETCURSORNAME},
        {"SQLSetDescField", SQL_API_SQLSETDESCFIELD},
        {"SQLSetDescRec", SQL_API_SQLSETDESCREC},
        {"SQLSetEnvAttr", SQL_API_SQLSETENVATTR},
        {"SQLSetParam", SQL_API_SQLSETPARAM},
        {"SQLSetPos", SQL_API_SQLSETPOS},
        {"SQLSetScrollOptions", SQL_API_SQLSETSCROLLOPTIONS},
        {"SQLSetStmtAttr", SQL_API_SQLSETSTMTATTR},
        {"SQLSetStmtOption", SQL_API_SQLSETSTMTOPTION},
        {"SQLSpecialColumns", SQL_API_SQLSPECIALCOLUMNS},
        {"SQLStatistics", SQL_API_SQLSTATISTICS},
        {"SQLTablePrivileges", SQL_API_SQLTABLEPRIVILEGES},
        {"SQLTables", SQL_API_SQLTABLES},
        {"SQLTransact", SQL_API_SQLTRANSACT},
    };
    return m;
}

// The identifiers of the functions the build exports.
std::set<int> exported_ids() {
    std::set<int> ids;
    for (const std::string &name : expected_exports()) {
        if (name.compare(0, 3, "SQL") != 0) continue;
        auto it = odbc_functions().find(name);
        if (it == odbc_functions().end() && name.back() == 'W')
            it = odbc_functions().find(name.substr(0, name.size() - 1));
        EXPECT_NE(it, odbc_functions().end()) << "exported " << name << " is not an ODBC function";
        if (it != odbc_functions().end()) ids.insert(it->second);
    }
    return ids;
}

class InfoExports : public ::testing::Test {
  protected:
    DriverLib lib;
    AllocHandleFn alloc = lib.fn<AllocHandleFn>("SQLAllocHandle");
    FreeHandleFn free_handle = lib.fn<FreeHandleFn>("SQLFreeHandle");
    GetInfoFn get_info = lib.fn<GetInfoFn>("SQLGetInfo");
    GetInfoFn get_info_w = lib.fn<GetInfoFn>("SQLGetInfoW");
    GetFunctionsFn get_functions = lib.fn<GetFunctionsFn>("SQLGetFunctions");
    GetDiagRecFn diag_rec = lib.fn<GetDiagRecFn>("SQLGetDiagRec");
    SQLHANDLE env = nullptr, dbc = nullptr;

    void SetUp() override {
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
    }
    void TearDown() override {
        if (dbc) free_handle(SQL_HANDLE_DBC, dbc);
        if (env) free_handle(SQL_HANDLE_ENV, env);
    }
    // "STATE:message" per record of the connection.
    std::vector<std::string> diags() {
        std::vector<std::string> out;
        for (SQLSMALLINT i = 1;; i++) {
            SQLCHAR state[6] = {0}, msg[512] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT len = 0;
            if (diag_rec(SQL_HANDLE_DBC, dbc, i, state, &native, msg, sizeof msg, &len) != SQL_SUCCESS) break;
            out.push_back(std::string((char *)state) + ":" + (char *)msg);
        }
        return out;
    }
};

TEST_F(InfoExports, WrongHandlesAreInvalid) {
    char buf[16];
    SQLSMALLINT len = -1;
    SQLUSMALLINT supported = 7;
    EXPECT_EQ(SQL_INVALID_HANDLE, get_info(nullptr, SQL_DRIVER_NAME, buf, sizeof buf, &len));
    EXPECT_EQ(SQL_INVALID_HANDLE, get_info(env, SQL_DRIVER_NAME, buf, sizeof buf, &len));
    EXPECT_EQ(SQL_INVALID_HANDLE, get_info_w(env, SQL_DRIVER_NAME, buf, sizeof buf, &len));
    EXPECT_EQ(SQL_INVALID_HANDLE, get_functions(nullptr, SQL_API_SQLGETINFO, &supported));
    EXPECT_EQ(SQL_INVALID_HANDLE, get_functions(env, SQL_API_SQLGETINFO, &supported));
    EXPECT_EQ(-1, len);
    EXPECT_EQ(7, supported);
}

TEST_F(InfoExports, AnsiAndWideAnswers) {
    char buf[16];
    memset(buf, 'x', sizeof buf);
    SQLSMALLINT len = -1;
    EXPECT_EQ(SQL_SUCCESS, get_info(dbc, SQL_DRIVER_ODBC_VER, buf, sizeof buf, &len));
    EXPECT_STREQ("03.51", buf);
    EXPECT_EQ(5, len);

    memset(buf, 'x', sizeof buf);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, get_info(dbc, SQL_DRIVER_ODBC_VER, buf, 3, &len));
    EXPECT_STREQ("03", buf);
    EXPECT_EQ('x', buf[3]);
    EXPECT_EQ(5, len);
    auto d = diags();
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ("01004:[Quillmark][Tarnwell]String data, right truncation", d[0]);

    SQLWCHAR wbuf[50];
    EXPECT_EQ(SQL_SUCCESS, get_info_w(dbc, SQL_DRIVER_NAME, wbuf, sizeof wbuf, &len));
    EXPECT_EQ(26, len);
    std::u16string name;
    for (int i = 0; wbuf[i]; i++) name.push_back((char16_t)wbuf[i]);
    EXPECT_EQ(u"libtarndrv.so", name);
    EXPECT_TRUE(diags().empty()) << "diagnostics of the previous call were kept";
}

TEST_F(InfoExports, UnknownInfoTypeIsHYC00) {
    SQLUINTEGER v = 0xDEADBEEF;
    SQLSMALLINT len = -1;
    EXPECT_EQ(SQL_ERROR, get_info(dbc, SQL_DRIVER_HSTMT, &v, sizeof v, &len));
    auto d = diags();
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ("HYC00:[Quillmark][Tarnwell]Optional feature not implemented", d[0].substr(0, 59));
    EXPECT_EQ(0xDEADBEEF, v);
    EXPECT_EQ(-1, len);
    EXPECT_EQ(SQL_ERROR, get_info_w(dbc, 171, &v, sizeof v, &len));
    EXPECT_EQ(1u, diags().size());
}

TEST_F(InfoExports, FunctionsReportExactlyTheExports) {
    std::set<int> ids = exported_ids();
    ASSERT_TRUE(ids.count(SQL_API_SQLGETFUNCTIONS));
    ASSERT_TRUE(ids.count(SQL_API_SQLGETINFO));

    // ODBC 3 bitmap, with guard words after it.
    std::vector<SQLUSMALLINT> words(SQL_API_ODBC3_ALL_FUNCTIONS_SIZE + 4, 0xA5A5);
    ASSERT_EQ(SQL_SUCCESS, get_functions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, words.data()));
    for (int id = 0; id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; id++)
        EXPECT_EQ(ids.count(id) == 1, SQL_FUNC_EXISTS(words.data(), id) == SQL_TRUE) << "function id " << id;
    for (size_t i = SQL_API_ODBC3_ALL_FUNCTIONS_SIZE; i < words.size(); i++) EXPECT_EQ(0xA5A5, words[i]);
    if (ids.count(SQL_API_SQLGETDESCREC)) {
        EXPECT_TRUE(words[63] & 0x2);
    }

    // ODBC 2 array: one word per identifier below 100.
    std::vector<SQLUSMALLINT> odbc2(104, 0xA5A5);
    ASSERT_EQ(SQL_SUCCESS, get_functions(dbc, SQL_API_ALL_FUNCTIONS, odbc2.data()));
    for (int id = 0; id < 100; id++) EXPECT_EQ(ids.count(id) ? 1 : 0, odbc2[id]) << "function id " << id;
    for (size_t i = 100; i < odbc2.size(); i++) EXPECT_EQ(0xA5A5, odbc2[i]);

    // One identifier at a time.
    for (int id = 1; id < 1100; id++) {
        if (id == SQL_API_ODBC3_ALL_FUNCTIONS) continue;
        SQLUSMALLINT s = 0xA5A5;
        ASSERT_EQ(SQL_SUCCESS, get_functions(dbc, (SQLUSMALLINT)id, &s));
        EXPECT_EQ(ids.count(id) ? 1 : 0, s) << "function id " << id;
    }
    SQLUSMALLINT s = 0xA5A5;
    EXPECT_EQ(SQL_SUCCESS, get_functions(dbc, SQL_API_SQLDRIVERS, &s));
    EXPECT_EQ(0, s);
}

TEST_F(InfoExports, FunctionsWithNullOutputIsHY009) {
    EXPECT_EQ(SQL_ERROR, get_functions(dbc, SQL_API_ODBC3_ALL_FUNCTIONS, nullptr));
    auto d = diags();
    ASSERT_EQ(1u, d.size());
    EXPECT_EQ("HY009", d[0].substr(0, 5));
    SQLUSMALLINT s = 0;
    EXPECT_EQ(SQL_SUCCESS, get_functions(dbc, SQL_API_SQLGETINFO, &s));
    EXPECT_EQ(1, s);
    EXPECT_TRUE(diags().empty());
}

// ---------------------------------------------------------------------------
// Through the unixODBC Driver Manager, connected to the fake server.

class InfoThroughDM : public ::testing::Test {
  protected:
    PrivateOdbcConfig config;
    tarn_fake::FakeServer srv;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;

    void SetUp() override {
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
        ASSERT_EQ(SQL_SUCCESS, SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0));
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc));
        std::string cs = "DRIVER=tarndrv;SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) + ";UID=analyst";
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR *)cs.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT);
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << diag_text(SQL_HANDLE_DBC, dbc);
    }
    void TearDown() override {
        if (dbc) {
            SQLDisconnect(dbc);
            SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        }
        if (env) SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
};

TEST_F(InfoThroughDM, ServerAndLocalAnswers) {
    char buf[64];
    SQLSMALLINT len = -1;
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_DBMS_NAME, buf, sizeof buf, &len)) << diag_text(SQL_HANDLE_DBC, dbc);
    EXPECT_STREQ("Spark SQL", buf);
    EXPECT_EQ(9, len);
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_USER_NAME, buf, sizeof buf, &len));
    EXPECT_STREQ("analyst", buf);
    SQLUSMALLINT max_column = 0;
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, SQL_MAX_COLUMN_NAME_LEN, &max_column, 0, nullptr));
    EXPECT_EQ(128, max_column);

    SQLWCHAR wbuf[32];
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfoW(dbc, SQL_DBMS_VER, wbuf, sizeof wbuf, &len));
    std::u16string ver;
    for (int i = 0; wbuf[i]; i++) ver.push_back((char16_t)wbuf[i]);
    EXPECT_EQ(u"4.0.1", ver);
    EXPECT_EQ(10, len);
    ASSERT_EQ(SQL_SUCCESS, SQLGetInfoW(dbc, SQL_MAX_COLUMN_NAME_LEN, &max_column, 0, nullptr));
    EXPECT_EQ(128, max_column);

    srv.handlers().GetInfo = [](const tcli::TGetInfoReq &, tcli::TGetInfoResp &r) {
        r.status = tarn_fake::error_status("GetInfo refused", "42000", 17);
    };
    EXPECT_EQ(SQL_ERROR, SQLGetInfo(dbc, SQL_SERVER_NAME, buf, sizeof buf, &len));
    std::string d = diag_text(SQL_HANDLE_DBC, dbc);
    EXPECT_EQ(0u, d.find("42000:")) << d;
    EXPECT_NE(std::string::npos, d.find("GetInfo refused")) << d;
}

TEST_F(InfoThroughDM, EveryExportIsUsable) {
    // The Driver Manager believes SQLGetFunctions: what the library exports
    // must all be reported present.
    for (int id : exported_ids()) {
        SQLUSMALLINT s = 0;
        ASSERT_EQ(SQL_SUCCESS, SQLGetFunctions(dbc, (SQLUSMALLINT)id, &s));
        EXPECT_EQ(SQL_TRUE, s) << "function id " << id;
    }
}

}  // namespace
