// The real Spark Thrift servers started by scripts/test.sh, one per mode;
// their ports arrive in TARN_SPARK_<MODE>_PORT.  A test that needs a server
// that was not started is skipped (scripts/test.sh fails earlier when a
// server cannot be started).
#pragma once

#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "tarn_odbc_connection.h"
#include "tarn_test_support.h"

namespace tarn_spark {

inline int port_of(const char *mode) {
    std::string var = std::string("TARN_SPARK_") + mode + "_PORT";
    const char *v = getenv(var.c_str());
    return v && *v ? atoi(v) : 0;
}

#define TARN_NEED_SPARK(mode)                                                           \
    const int spark_port = tarn_spark::port_of(mode);                                   \
    if (spark_port == 0) GTEST_SKIP() << "no Spark server for mode " << mode;

inline std::string conn_str(int port, const char *auth) {
    return "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(port) + ";Authentication=" + auth +
           ";UID=spark;PWD=spark";
}

using Connection = tarn_test::OdbcConnection;

// A suite whose tests share one connection to the SASL server, prepared once
// by the statements `Derived::setup_statements()` lists; each test gets a
// fresh statement handle.
template <class Derived> class SharedSparkSuite : public ::testing::Test {
  protected:
    static inline tarn_test::PrivateOdbcConfig *config = nullptr;
    static inline Connection *conn = nullptr;
    static inline std::string setup_error;
    SQLHSTMT stmt = SQL_NULL_HSTMT;

    static void SetUpTestSuite() {
        int port = port_of("SASL");
        if (!port) return;
        config = new tarn_test::PrivateOdbcConfig;
        conn = new Connection;
        if (conn->connect(conn_str(port, "NONE")) != SQL_SUCCESS) {
            setup_error = "connect: " + conn->diag();
            return;
        }
        SQLHSTMT s;
        SQLAllocHandle(SQL_HANDLE_STMT, conn->dbc, &s);
        for (const char *sql : Derived::setup_statements()) {
            if (!SQL_SUCCEEDED(SQLExecDirect(s, (SQLCHAR *)sql, SQL_NTS))) {
                setup_error = std::string(sql) + ": " + tarn_test::diag_text(SQL_HANDLE_STMT, s);
                break;
            }
        }
        SQLFreeHandle(SQL_HANDLE_STMT, s);
    }
    static void TearDownTestSuite() {
        delete conn;
        delete config;
        conn = nullptr;
        config = nullptr;
    }
    void SetUp() override {
        if (!conn) GTEST_SKIP() << "no Spark server for mode SASL";
        ASSERT_EQ("", setup_error);
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, conn->dbc, &stmt));
    }
    void TearDown() override {
        if (stmt) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
    }
    SQLRETURN exec(const std::string &sql) { return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS); }
    std::string diag() { return tarn_test::diag_text(SQL_HANDLE_STMT, stmt); }
};

}  // namespace tarn_spark
