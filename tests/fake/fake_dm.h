// A connection through the unixODBC Driver Manager to a fake server, for
// tests that drive the driver as an application does.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <memory>
#include <string>
#include <vector>

#include "fake_server.h"
#include "tarn_test_support.h"

namespace tarn_fake {

struct DmConnection {
    explicit DmConnection(Framing framing = Framing::NoSasl, SQLINTEGER odbc_version = SQL_OV_ODBC3);
    ~DmConnection();
    // A new statement on the connection (freed with the connection).
    SQLHSTMT statement();
    // The texts of every ExecuteStatement the server received so far.
    std::vector<std::string> executed() const;

    tarn_test::PrivateOdbcConfig config;
    std::unique_ptr<FakeServer> server;
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    std::string connection_string;
};

// Every diagnostic record of a handle as "STATE:message" lines.
std::string diags(SQLSMALLINT type, SQLHANDLE h);

}  // namespace tarn_fake
