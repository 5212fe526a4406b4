// Kerberos and AD logons against the real Spark Thrift server in Kerberos
// mode (scripts/spark-server.sh start kerberos), whose realm is described by
// the env file in TARN_SPARK_KERBEROS_ENV.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>

#include "spark_env.h"

using namespace tarn_spark;

namespace {

struct SparkRealm {
    std::string user, password, dir;
};

// Reads the realm into the environment; false when there is no such server.
bool load_realm(SparkRealm *realm) {
    const char *file = getenv("TARN_SPARK_KERBEROS_ENV");
    if (!file || !*file || !port_of("KERBEROS")) return false;
    std::ifstream in(file);
    std::string line;
    while (std::getline(in, line)) {
        size_t eq = line.find('=');
        if (eq != std::string::npos) setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
    }
    realm->user = getenv("TARN_KRB5_USER") ? getenv("TARN_KRB5_USER") : "";
    realm->password = getenv("TARN_KRB5_PASSWORD") ? getenv("TARN_KRB5_PASSWORD") : "";
    realm->dir = tarn_test::make_temp_dir("tarn-spark-krb");
    return !realm->user.empty();
}

class SparkKerberos : public ::testing::Test {
  protected:
    SparkRealm realm;
    tarn_test::PrivateOdbcConfig *config = nullptr;
    void SetUp() override {
        if (!load_realm(&realm)) GTEST_SKIP() << "no Spark server in Kerberos mode";
        config = new tarn_test::PrivateOdbcConfig;
    }
    void TearDown() override {
        delete config;
        if (!realm.dir.empty()) tarn_test::remove_tree(realm.dir);
    }
    std::string conn(const std::string &extra) {
        return "Driver=tarndrv;Server=localhost;Port=" + std::to_string(port_of("KERBEROS")) +
               ";KrbPrinciple=hive/_HOST@TARN.TEST;" + extra;
    }
    void ccache(bool login) {
        std::string path = realm.dir + "/ccache";
        setenv("KRB5CCNAME", ("FILE:" + path).c_str(), 1);
        if (login) {
            std::string cmd = "printf '%s\\n' '" + realm.password + "' | kinit " + realm.user + " >/dev/null 2>&1";
            ASSERT_EQ(std::system(cmd.c_str()), 0);
        }
    }
    // SELECT current_user() answers the user the server authenticated.
    std::string current_user(Connection &c) {
        SQLHSTMT stmt;
        SQLAllocHandle(SQL_HANDLE_STMT, c.dbc, &stmt);
        EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT current_user()", SQL_NTS), SQL_SUCCESS)
            << tarn_test::diag_text(SQL_HANDLE_STMT, stmt);
        char buf[128] = {0};
        SQLLEN len = 0;
        EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
        EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, sizeof buf, &len), SQL_SUCCESS);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        return buf;
    }
};

TEST_F(SparkKerberos, TicketFromCache) {
    ccache(true);
    Connection c;
    ASSERT_EQ(c.connect(conn("Authentication=Kerberos")), SQL_SUCCESS) << c.diag();
    EXPECT_EQ(current_user(c), "tarnuser");
}

TEST_F(SparkKerberos, AdWithUserAndPassword) {
    ccache(false);
    Connection c;
    ASSERT_EQ(c.connect(conn("Authentication=AD;UID=tarnuser;PWD=" + realm.password)), SQL_SUCCESS) << c.diag();
    EXPECT_EQ(current_user(c), "tarnuser");
}

TEST_F(SparkKerberos, NoTicket) {
    ccache(false);
    Connection c;
    ASSERT_EQ(c.connect(conn("Authentication=Kerberos")), SQL_ERROR);
    EXPECT_EQ(c.diag().substr(0, 6), "28000:") << c.diag();
}

}  // namespace
