// One ODBC 3 environment and connection through the Driver Manager, freed
// (and disconnected) on destruction.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <string>

#include "tarn_test_support.h"

namespace tarn_test {

struct OdbcConnection {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    OdbcConnection() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    }
    ~OdbcConnection() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    OdbcConnection(const OdbcConnection &) = delete;
    OdbcConnection &operator=(const OdbcConnection &) = delete;
    SQLRETURN connect(const std::string &s) {
        return SQLDriverConnect(dbc, nullptr, (SQLCHAR *)s.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                SQL_DRIVER_NOPROMPT);
    }
    std::string diag() const { return diag_text(SQL_HANDLE_DBC, dbc); }
};

}  // namespace tarn_test
