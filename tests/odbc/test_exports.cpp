// The driver library as a Driver Manager sees it: exported names, handle
// allocation and freeing, environment attributes, SQLFreeStmt.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <set>
#include <string>

#include "spk_handles.h"
#include "tarn_test_support.h"

using namespace tarn_test;

namespace {

typedef SQLRETURN(SQL_API *AllocHandleFn)(SQLSMALLINT, SQLHANDLE, SQLHANDLE *);
typedef SQLRETURN(SQL_API *FreeHandleFn)(SQLSMALLINT, SQLHANDLE);
typedef SQLRETURN(SQL_API *AllocEnvFn)(SQLHENV *);
typedef SQLRETURN(SQL_API *AllocConnectFn)(SQLHENV, SQLHDBC *);
typedef SQLRETURN(SQL_API *AllocStmtFn)(SQLHDBC, SQLHSTMT *);
typedef SQLRETURN(SQL_API *FreeOneFn)(SQLHANDLE);
typedef SQLRETURN(SQL_API *FreeStmtFn)(SQLHSTMT, SQLUSMALLINT);
typedef SQLRETURN(SQL_API *SetEnvAttrFn)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER);
typedef SQLRETURN(SQL_API *GetEnvAttrFn)(SQLHENV, SQLINTEGER, SQLPOINTER, SQLINTEGER, SQLINTEGER *);
typedef SQLRETURN(SQL_API *GetDiagRecFn)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR *, SQLINTEGER *, SQLCHAR *,
                                         SQLSMALLINT, SQLSMALLINT *);
typedef SQLRETURN(SQL_API *GetDiagFieldFn)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLSMALLINT, SQLPOINTER, SQLSMALLINT,
                                           SQLSMALLINT *);

class Exports : public ::testing::Test {
  protected:
    DriverLib lib;
    AllocHandleFn alloc = lib.fn<AllocHandleFn>("SQLAllocHandle");
    FreeHandleFn free_handle = lib.fn<FreeHandleFn>("SQLFreeHandle");
    FreeStmtFn free_stmt = lib.fn<FreeStmtFn>("SQLFreeStmt");
    SetEnvAttrFn set_env = lib.fn<SetEnvAttrFn>("SQLSetEnvAttr");
    GetEnvAttrFn get_env = lib.fn<GetEnvAttrFn>("SQLGetEnvAttr");

    // Every record of a handle, through the driver's own SQLGetDiagRec.
    std::string diags(SQLSMALLINT type, SQLHANDLE h) {
        auto rec = lib.fn<GetDiagRecFn>("SQLGetDiagRec");
        std::string out;
        for (SQLSMALLINT i = 1;; i++) {
            SQLCHAR state[6] = {0}, msg[512] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT len = 0;
            if (rec(type, h, i, state, &native, msg, sizeof msg, &len) != SQL_SUCCESS) break;
            out += std::string((char *)state) + ":" + (char *)msg + "\n";
        }
        return out;
    }
    SQLINTEGER diag_count(SQLSMALLINT type, SQLHANDLE h) {
        auto field = lib.fn<GetDiagFieldFn>("SQLGetDiagField");
        SQLINTEGER n = -1;
        field(type, h, 0, SQL_DIAG_NUMBER, &n, 0, nullptr);
        return n;
    }
    SQLINTEGER odbc_version(SQLHENV env) {
        SQLINTEGER v = -1;
        EXPECT_EQ(SQL_SUCCESS, get_env(env, SQL_ATTR_ODBC_VERSION, &v, 0, nullptr));
        return v;
    }
};

TEST(ExportList, ExactlyTheDeclaredFunctions) {
    std::string cmd = std::string("nm -D --defined-only ") + TARN_DRIVER_PATH;
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_TRUE(p);
    std::set<std::string> actual;
    char line[512];
    while (fgets(line, sizeof line, p)) {
        char addr[64], kind[8], name[400];
        if (sscanf(line, "%63s %7s %399s", addr, kind, name) == 3 && (kind[0] == 'T' || kind[0] == 'W'))
            actual.insert(name);
    }
    pclose(p);
    std::set<std::string> expected;
    for (auto &n : expected_exports()) expected.insert(n);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(expected, actual);
    EXPECT_TRUE(expected.count("SQLAllocHandle"));
    EXPECT_TRUE(expected.count("driver_test"));
}

TEST_F(Exports, EnvironmentVersionStartsAtTwoAndIsStoredAsGiven) {
    SQLHENV env = nullptr;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env));
    EXPECT_EQ(SQL_OV_ODBC2, odbc_version(env));
    for (SQLINTEGER v : {(SQLINTEGER)SQL_OV_ODBC3, (SQLINTEGER)380, (SQLINTEGER)12345}) {
        EXPECT_EQ(SQL_SUCCESS, set_env(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)(intptr_t)v, 0));
        EXPECT_EQ(v, odbc_version(env));
    }
    SQLINTEGER nts = 0;
    EXPECT_EQ(SQL_SUCCESS, get_env(env, SQL_ATTR_OUTPUT_NTS, &nts, 0, nullptr));
    EXPECT_EQ(1, nts);
    EXPECT_EQ(SQL_SUCCESS, get_env(env, SQL_ATTR_ODBC_VERSION, nullptr, 0, nullptr));
    EXPECT_EQ(SQL_ERROR, set_env(env, SQL_ATTR_OUTPUT_NTS, (SQLPOINTER)1, 0));
    EXPECT_EQ("HYC00:[Quillmark][Tarnwell]Optional feature not implemented\n", diags(SQL_HANDLE_ENV, env));
    EXPECT_EQ(SQL_ERROR, get_env(env, SQL_ATTR_CONNECTION_POOLING, &nts, 0, nullptr));
    EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_ENV, env));
}

TEST_F(Exports, InvalidHandlesAreRefusedBeforeAnythingElse) {
    SQLINTEGER v;
    EXPECT_EQ(SQL_INVALID_HANDLE, get_env(nullptr, SQL_ATTR_ODBC_VERSION, &v, 0, nullptr));
    EXPECT_EQ(SQL_INVALID_HANDLE, set_env(nullptr, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)3, 0));
    EXPECT_EQ(SQL_INVALID_HANDLE, free_handle(SQL_HANDLE_ENV, nullptr));
    EXPECT_EQ(SQL_INVALID_HANDLE, free_stmt(nullptr, SQL_CLOSE));
    EXPECT_EQ(SQL_INVALID_HANDLE, alloc(SQL_HANDLE_DBC, nullptr, (SQLHANDLE *)&v));

    SQLHENV env;
    SQLHDBC dbc;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
    // A handle of the wrong kind is not a handle of the kind asked for.
    EXPECT_EQ(SQL_INVALID_HANDLE, get_env(dbc, SQL_ATTR_ODBC_VERSION, &v, 0, nullptr));
    EXPECT_EQ(SQL_INVALID_HANDLE, free_handle(SQL_HANDLE_STMT, dbc));
    EXPECT_EQ(SQL_INVALID_HANDLE, free_handle(SQL_HANDLE_DBC, env));
    EXPECT_EQ(SQL_INVALID_HANDLE, free_stmt(dbc, SQL_CLOSE));
    EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_ENV, env));
}

TEST_F(Exports, WrongParentPostsGeneralErrorOnTheInputHandle) {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHANDLE out = nullptr;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
    const std::string msg = "HY000:[Quillmark][Tarnwell]General error: Invalid input handle passed to SQLAllocHandle\n";
    EXPECT_EQ(SQL_ERROR, alloc(SQL_HANDLE_STMT, env, &out));
    EXPECT_EQ(msg, diags(SQL_HANDLE_ENV, env));
    EXPECT_EQ(SQL_ERROR, alloc(SQL_HANDLE_DESC, env, &out));
    EXPECT_EQ(SQL_ERROR, alloc(SQL_HANDLE_DBC, dbc, &out));
    EXPECT_EQ(msg, diags(SQL_HANDLE_DBC, dbc));
    EXPECT_EQ(nullptr, out);
    EXPECT_EQ(SQL_ERROR, alloc(SQL_HANDLE_STMT, dbc, nullptr));
    // Allocation does not clear the input handle's records: the new one
    // sorts before the earlier HY000.
    EXPECT_EQ("HY009:[Quillmark][Tarnwell]Invalid use of null pointer\n" + msg, diags(SQL_HANDLE_DBC, dbc));
    EXPECT_EQ(SQL_ERROR, alloc(99, dbc, &out));
    EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_ENV, env));
}

TEST_F(Exports, ConnectionVersionFollowsTheAllocatingCall) {
    auto alloc_connect = lib.fn<AllocConnectFn>("SQLAllocConnect");
    struct Case {
        SQLINTEGER env_version;
        bool odbc2_call;
        int expected;
    } cases[] = {{SQL_OV_ODBC3, true, 2}, {SQL_OV_ODBC3, false, 3}, {SQL_OV_ODBC2, true, 2}, {SQL_OV_ODBC2, false, 2}};
    for (const Case &c : cases) {
        SQLHENV env;
        SQLHDBC dbc;
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
        set_env(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)(intptr_t)c.env_version, 0);
        if (c.odbc2_call) {
            ASSERT_EQ(SQL_SUCCESS, alloc_connect(env, &dbc));
        } else {
            ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
        }
        // The connection's own version field sits right after its settings;
        // read it through the struct the driver shares with the setup library.
        EXPECT_EQ(c.expected, ((SpkConnection *)dbc)->odbc_version) << c.env_version << " " << c.odbc2_call;
        free_handle(SQL_HANDLE_ENV, env);
    }
}

TEST_F(Exports, WholeTreesAreFreedWithTheirOwner) {
    auto alloc_env = lib.fn<AllocEnvFn>("SQLAllocEnv");
    auto alloc_stmt = lib.fn<AllocStmtFn>("SQLAllocStmt");
    auto free_env = lib.fn<FreeOneFn>("SQLFreeEnv");
    auto free_connect = lib.fn<FreeOneFn>("SQLFreeConnect");
    SQLHENV env;
    ASSERT_EQ(SQL_SUCCESS, alloc_env(&env));
    // Two connections, each with statements and explicit descriptors; one
    // freed through its connection, the other with the environment. ASan
    // reports anything left behind.
    for (int round = 0; round < 2; round++) {
        SQLHDBC dbc;
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
        SQLHSTMT s1, s2;
        SQLHDESC d1;
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_STMT, dbc, &s1));
        ASSERT_EQ(SQL_SUCCESS, alloc_stmt(dbc, &s2));
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DESC, dbc, &d1));
        if (round == 0) {
            EXPECT_EQ(SQL_SUCCESS, free_connect(dbc));
        }
    }
    EXPECT_EQ(SQL_SUCCESS, free_env(env));
}

TEST_F(Exports, ImplicitDescriptorsCannotBeFreed) {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    SQLHDESC desc;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_STMT, dbc, &stmt));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DESC, dbc, &desc));
    EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_DESC, desc));
    SpkDescriptor *ird = ((SpkStatement *)stmt)->ird;
    EXPECT_EQ(SQL_ERROR, free_handle(SQL_HANDLE_DESC, ird));
    EXPECT_EQ("HY017:[Quillmark][Tarnwell]Invalid use of an automatically allocated descriptor handle\n",
              diags(SQL_HANDLE_DESC, ird));
    EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_STMT, stmt));
    free_handle(SQL_HANDLE_ENV, env);
}

TEST_F(Exports, ExplicitDescriptorAndItsStatementLetGoOfEachOther) {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    SQLHDESC desc;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
    for (int drop_stmt_first = 0; drop_stmt_first < 2; drop_stmt_first++) {
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_STMT, dbc, &stmt));
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DESC, dbc, &desc));
        SpkStatement *s = (SpkStatement *)stmt;
        SpkDescriptor *d = (SpkDescriptor *)desc;
        // What SQL_ATTR_APP_ROW_DESC does to the pair.
        s->ard = d;
        d->owner = s;
        if (drop_stmt_first) {
            EXPECT_EQ(SQL_SUCCESS, free_stmt(stmt, SQL_DROP));
            EXPECT_EQ(nullptr, d->owner);
            EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_DESC, desc));
        } else {
            EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_DESC, desc));
            EXPECT_EQ(s->implicit_ard, s->ard);
            EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_STMT, stmt));
        }
    }
    free_handle(SQL_HANDLE_ENV, env);
}

TEST_F(Exports, FreeStmtOptions) {
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT stmt;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_STMT, dbc, &stmt));
    SpkStatement *s = (SpkStatement *)stmt;
    SQLLEN ind;
    s->ard->bookmark_record.data_ptr = &ind;
    s->ard->bookmark_record.indicator_ptr = &ind;
    for (SQLUSMALLINT opt : {SQL_CLOSE, SQL_UNBIND, SQL_RESET_PARAMS}) EXPECT_EQ(SQL_SUCCESS, free_stmt(stmt, opt));
    EXPECT_EQ(nullptr, s->ard->bookmark_record.data_ptr);
    EXPECT_EQ(nullptr, s->ard->bookmark_record.indicator_ptr);
    EXPECT_EQ(SQL_ERROR, free_stmt(stmt, 4));
    EXPECT_EQ("HY000:[Quillmark][Tarnwell]General error: unexpected option 4 supplied to SQLFreeStmt\n",
              diags(SQL_HANDLE_STMT, stmt));
    EXPECT_EQ(1, diag_count(SQL_HANDLE_STMT, stmt));
    // The next call clears what the last one posted.
    EXPECT_EQ(SQL_SUCCESS, free_stmt(stmt, SQL_CLOSE));
    EXPECT_EQ(0, diag_count(SQL_HANDLE_STMT, stmt));
    EXPECT_EQ(SQL_SUCCESS, free_stmt(stmt, SQL_DROP));
    free_handle(SQL_HANDLE_ENV, env);
}

}  // namespace
