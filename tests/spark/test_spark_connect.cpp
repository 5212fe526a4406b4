// Connecting to real Spark Thrift servers in each mode they run in.
#include <gtest/gtest.h>

#include <cstring>

#include "spark_env.h"
#include "spk_connect_info.h"

using namespace tarn_spark;

namespace {

tarn_test::PrivateOdbcConfig &odbc_config() {
    static tarn_test::PrivateOdbcConfig config;
    return config;
}

std::string info_text(SQLHDBC dbc, SQLUSMALLINT type) {
    char buf[256] = {0};
    SQLSMALLINT len = 0;
    EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(dbc, type, buf, sizeof buf, &len));
    return std::string(buf, len);
}

TEST(SparkConnect, DriverConnectInEveryBinaryMode) {
    odbc_config();
    for (const char *mode : {"SASL", "NOSASL"}) {
        int port = port_of(mode);
        if (!port) GTEST_SKIP() << "no Spark server for mode " << mode;
        Connection c;
        ASSERT_EQ(SQL_SUCCESS, c.connect(conn_str(port, strcmp(mode, "SASL") == 0 ? "NONE" : "NOSASL")))
            << mode << " " << c.diag();
        EXPECT_EQ("Spark SQL", info_text(c.dbc, SQL_DBMS_NAME)) << mode;
        std::string version = info_text(c.dbc, SQL_DBMS_VER);
        EXPECT_FALSE(version.empty());
        EXPECT_TRUE(isdigit((unsigned char)version[0])) << version;
        EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(c.dbc));
    }
}

TEST(SparkConnect, LdapStylePlainLogonWithUserAndPassword) {
    TARN_NEED_SPARK("SASL");
    odbc_config();
    Connection c;
    ASSERT_EQ(SQL_SUCCESS, c.connect(conn_str(spark_port, "LDAP"))) << c.diag();
}

TEST(SparkConnect, SQLConnectWithADataSource) {
    TARN_NEED_SPARK("SASL");
    int nosasl = port_of("NOSASL");
    odbc_config().add_dsn("spark_sasl", {{"SERVER", "127.0.0.1"}, {"Port", std::to_string(spark_port)},
                                         {"Authentication", "NONE"}});
    odbc_config().add_dsn("spark_nosasl", {{"SERVER", "127.0.0.1"}, {"Port", std::to_string(nosasl)},
                                           {"Authentication", "NOSASL"}});
    for (const char *dsn : {"spark_sasl", "spark_nosasl"}) {
        if (strcmp(dsn, "spark_nosasl") == 0 && !nosasl) continue;
        Connection c;
        ASSERT_EQ(SQL_SUCCESS, SQLConnect(c.dbc, (SQLCHAR *)dsn, SQL_NTS, (SQLCHAR *)"spark", SQL_NTS,
                                          (SQLCHAR *)"spark", SQL_NTS))
            << dsn << " " << c.diag();
        EXPECT_EQ("Spark SQL", info_text(c.dbc, SQL_DBMS_NAME));
        char dsn_out[64] = {0};
        SQLSMALLINT len = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetInfo(c.dbc, SQL_DATA_SOURCE_NAME, dsn_out, sizeof dsn_out, &len));
        EXPECT_STREQ(dsn, dsn_out);
    }
}

TEST(SparkConnect, WrongPortAndWrongModeFailWithDiagnostics) {
    TARN_NEED_SPARK("SASL");
    odbc_config();
    {
        // A port nobody listens on.
        Connection c;
        EXPECT_EQ(SQL_ERROR, c.connect(conn_str(1, "NONE")));
        EXPECT_NE(std::string::npos, c.diag().find("connecting fails")) << c.diag();
    }
    {
        // NOSASL framing against a SASL server: the server drops the
        // connection; the driver reports it and the application lives on.
        Connection c;
        EXPECT_EQ(SQL_ERROR, c.connect(conn_str(spark_port, "NOSASL")));
        EXPECT_FALSE(c.diag().empty());
    }
    int nosasl = port_of("NOSASL");
    if (nosasl) {
        Connection c;
        EXPECT_EQ(SQL_ERROR, c.connect(conn_str(nosasl, "NONE")));
        EXPECT_FALSE(c.diag().empty());
    }
}

TEST(SparkConnect, DriverTestExport) {
    TARN_NEED_SPARK("SASL");
    tarn_test::DriverLib lib;
    auto driver_test = lib.fn<int (*)(SpkConnectInfo *, char *, int)>("driver_test");
    SpkConnectInfo info;
    memset(&info, 0, sizeof info);
    strcpy(info.server, "127.0.0.1");
    info.port = spark_port;
    info.authentication = 0;
    strcpy(info.col_length, "256");
    char message[4096];
    EXPECT_EQ(0, driver_test(&info, message, sizeof message)) << message;
    info.port = 1;
    EXPECT_EQ(1, driver_test(&info, message, sizeof message));
    EXPECT_NE(nullptr, strstr(message, "connecting fails")) << message;
}

}  // namespace
