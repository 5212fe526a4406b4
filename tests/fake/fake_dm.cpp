#include "fake_dm.h"

#include <stdexcept>

#include "TCLIService.h"

namespace tarn_fake {

DmConnection::DmConnection(Framing framing, SQLINTEGER odbc_version) : server(new FakeServer(framing)) {
    connection_string = "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(server->port()) +
                        (framing == Framing::NoSasl ? ";Authentication=NOSASL" : ";Authentication=NONE");
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env)))
        throw std::runtime_error("SQLAllocHandle(ENV) failed");
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)(intptr_t)odbc_version, 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR *)connection_string.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                    SQL_DRIVER_NOPROMPT);
    if (!SQL_SUCCEEDED(rc)) throw std::runtime_error("connect failed: " + diags(SQL_HANDLE_DBC, dbc));
}

DmConnection::~DmConnection() {
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
}

SQLHSTMT DmConnection::statement() {
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    if (!SQL_SUCCEEDED(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt))) throw std::runtime_error("no statement");
    return stmt;
}

std::vector<std::string> DmConnection::executed() const {
    std::vector<std::string> out;
    for (const Record &r : server->records("ExecuteStatement"))
        out.push_back(decode_args<tcli::TCLIService_ExecuteStatement_args>(r.message).req.statement);
    return out;
}

std::string diags(SQLSMALLINT type, SQLHANDLE h) { return tarn_test::diag_text(type, h); }

}  // namespace tarn_fake
