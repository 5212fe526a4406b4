// Real Spark over every secure transport: binary protocol inside TLS, Thrift
// over HTTP, and over HTTPS; the certificate decisions against the project's
// test CA.  The TLS servers' CA comes in TARN_SPARK_CA.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "fake_relay.h"
#include "spark_env.h"

using namespace tarn_spark;

namespace {

tarn_test::PrivateOdbcConfig &odbc_config() {
    static tarn_test::PrivateOdbcConfig config;
    return config;
}

std::string ca_file() {
    const char *v = getenv("TARN_SPARK_CA");
    return v ? v : "";
}

struct Mode {
    const char *name;   // TARN_SPARK_<name>_PORT
    const char *keys;
    bool tls;
};

const Mode kModes[] = {
    {"TLS", "Authentication=NONE;UID=spark;PWD=spark;ssl=yes", true},
    {"HTTP", "Authentication=HTTP_BASIC;UID=spark;PWD=spark", false},
    {"HTTPTLS", "Authentication=HTTP_BASIC;UID=spark;PWD=spark;ssl=yes", true},
};

std::string mode_conn_str(const Mode &m, int port) {
    std::string s = "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(port) + ";" + m.keys;
    if (m.tls) s += ";CertificateFile=" + ca_file();
    return s;
}

TEST(SparkTransports, QueryAndLargeFetchInEveryMode) {
    odbc_config();
    int ran = 0;
    for (const Mode &m : kModes) {
        int port = port_of(m.name);
        if (!port) continue;
        ran++;
        Connection c;
        ASSERT_EQ(SQL_SUCCESS, c.connect(mode_conn_str(m, port))) << m.name << ": " << c.diag();
        SQLHSTMT st;
        ASSERT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &st));

        ASSERT_EQ(SQL_SUCCESS, SQLExecDirect(st, (SQLCHAR *)"SELECT 42, 'forty-two'", SQL_NTS))
            << m.name << ": " << tarn_test::diag_text(SQL_HANDLE_STMT, st);
        ASSERT_EQ(SQL_SUCCESS, SQLFetch(st));
        SQLINTEGER n = 0;
        char text[32] = {0};
        SQLLEN ind = 0;
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(st, 1, SQL_C_SLONG, &n, 0, &ind));
        EXPECT_EQ(SQL_SUCCESS, SQLGetData(st, 2, SQL_C_CHAR, text, sizeof text, &ind));
        EXPECT_EQ(42, n);
        EXPECT_STREQ("forty-two", text);
        SQLCloseCursor(st);

        // 100,000 rows, bound, 1000 at a time.
        ASSERT_EQ(SQL_SUCCESS, SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)1000, 0));
        std::vector<SQLBIGINT> ids(1000);
        std::vector<char> names(1000 * 16);
        std::vector<SQLLEN> id_ind(1000), name_ind(1000);
        SQLULEN fetched = 0;
        SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        SQLBindCol(st, 1, SQL_C_SBIGINT, ids.data(), 0, id_ind.data());
        SQLBindCol(st, 2, SQL_C_CHAR, names.data(), 16, name_ind.data());
        ASSERT_EQ(SQL_SUCCESS,
                  SQLExecDirect(st, (SQLCHAR *)"SELECT id, concat('r', id) FROM range(100000)", SQL_NTS))
            << m.name << ": " << tarn_test::diag_text(SQL_HANDLE_STMT, st);
        long long rows = 0, sum = 0;
        bool names_ok = true;
        SQLRETURN rc;
        while ((rc = SQLFetch(st)) == SQL_SUCCESS) {
            for (SQLULEN i = 0; i < fetched; i++) {
                sum += ids[i];
                if (std::string(&names[i * 16]) != "r" + std::to_string(ids[i])) names_ok = false;
            }
            rows += (long long)fetched;
        }
        EXPECT_EQ(SQL_NO_DATA, rc) << m.name << ": " << tarn_test::diag_text(SQL_HANDLE_STMT, st);
        EXPECT_EQ(100000, rows) << m.name;
        EXPECT_EQ(100000LL * 99999 / 2, sum) << m.name;
        EXPECT_TRUE(names_ok) << m.name;
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(c.dbc)) << m.name;
    }
    if (!ran) GTEST_SKIP() << "no Spark server for TLS, HTTP or HTTPTLS";
}

TEST(SparkTransports, CertificateDecisions) {
    TARN_NEED_SPARK("TLS");
    odbc_config();
    std::string other = tarn_test::make_temp_dir("tarn-other-ca");
    ASSERT_EQ(0, system(("bash " + std::string(TARN_SOURCE_DIR) + "/scripts/gen-tls.sh " + other + " >/dev/null 2>&1").c_str()));
    tarn_fake::TcpRelay relay("127.0.0.2", spark_port);   // Spark's certificate names localhost and 127.0.0.1
    std::string base = "Driver=tarndrv;Authentication=NONE;UID=spark;PWD=spark;ssl=yes";
    std::string ca = ca_file();
    std::string here = ";Server=127.0.0.1;Port=" + std::to_string(spark_port);
    std::string elsewhere = ";Server=127.0.0.2;Port=" + std::to_string(relay.port());
    struct Case {
        std::string keys;
        const char *ssl_cert_file;
        const char *error;   // null: connects
    } cases[] = {
        {here + ";CertificateFile=" + ca_file(), nullptr, nullptr},
        {";Server=localhost;Port=" + std::to_string(spark_port) + ";CertificateFile=" + ca_file(), nullptr, nullptr},
        {elsewhere + ";CertificateFile=" + ca_file(), nullptr, "does not name '127.0.0.2'"},
        {elsewhere + ";TrustServerCertificate=yes", nullptr, nullptr},
        {here + ";CertificateFile=" + other + "/ca.pem", nullptr, "not signed by a trusted authority"},
        {here, ca.c_str(), nullptr},   // the system trust store, pointed at the test CA
    };
    for (const Case &c : cases) {
        if (c.ssl_cert_file) setenv("SSL_CERT_FILE", c.ssl_cert_file, 1);
        Connection conn;
        SQLRETURN rc = conn.connect(base + c.keys);
        unsetenv("SSL_CERT_FILE");
        if (!c.error) {
            EXPECT_EQ(SQL_SUCCESS, rc) << c.keys << ": " << conn.diag();
        } else {
            EXPECT_EQ(SQL_ERROR, rc) << c.keys;
            EXPECT_NE(std::string::npos, conn.diag().find(c.error)) << c.keys << ": " << conn.diag();
            EXPECT_NE(std::string::npos, conn.diag().find("The certificate verification failed")) << conn.diag();
        }
    }
    tarn_test::remove_tree(other);
}

TEST(SparkTransports, HttpBearerIsRefusedByStockSpark) {
    TARN_NEED_SPARK("HTTP");
    odbc_config();
    Connection c;
    // Spark reads every Authorization header as Basic and fails on a Bearer
    // one with a server error; the application still gets the reason.
    EXPECT_EQ(SQL_ERROR, c.connect("Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(spark_port) +
                                   ";Authentication=HTTP_OAUTH;AccessToken=abc"));
    EXPECT_NE(std::string::npos, c.diag().find("Unexpected reply code 500")) << c.diag();
}

}  // namespace
