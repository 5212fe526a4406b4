// Kerberos and AD logons through the Driver Manager against the fake server's
// GSSAPI mechanism (the real accept side with the service keytab), with
// tickets from the private KDC that ctest starts (scripts/kdc.sh).
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <thread>

#include "fake_gss.h"
#include "fake_server.h"
#include "tarn_odbc_connection.h"
#include "tarn_test_support.h"

using namespace tarn_test;

namespace {

// The private realm, read from the KDC's env file into the environment.
struct Realm {
    std::string user, password, service, keytab, dir;
};
Realm realm;

class KerberosEnv : public ::testing::Environment {
  public:
    PrivateOdbcConfig *config = nullptr;
    void SetUp() override {
        std::string dir = TARN_BUILD_DIR "/kdc";
        std::ifstream in(dir + "/env");
        ASSERT_TRUE(in) << "no KDC: run through ctest (fixture kdc) or scripts/kdc.sh start " << dir;
        std::string line;
        while (std::getline(in, line)) {
            size_t eq = line.find('=');
            if (eq == std::string::npos) continue;
            setenv(line.substr(0, eq).c_str(), line.substr(eq + 1).c_str(), 1);
        }
        realm = {getenv("TARN_KRB5_USER"), getenv("TARN_KRB5_PASSWORD"), getenv("TARN_KRB5_SERVICE"),
                 getenv("TARN_KRB5_KEYTAB"), make_temp_dir("tarn-krb")};
        config = new PrivateOdbcConfig();
    }
    void TearDown() override {
        delete config;
        remove_tree(realm.dir);
    }
};
const ::testing::Environment *const kerberos_env = ::testing::AddGlobalTestEnvironment(new KerberosEnv);

// Points the credential cache at a file of its own; with `login`, obtains a
// ticket for the test user into it.
void use_ccache(const std::string &name, bool login, const char *lifetime = "1h") {
    std::string path = realm.dir + "/" + name;
    std::remove(path.c_str());
    setenv("KRB5CCNAME", ("FILE:" + path).c_str(), 1);
    if (login) {
        std::string cmd = "printf '%s\\n' '" + realm.password + "' | kinit -l " + lifetime + " " + realm.user +
                          " >/dev/null 2>&1";
        ASSERT_EQ(std::system(cmd.c_str()), 0) << cmd;
    }
}

class Kerberos : public ::testing::Test {
  protected:
    tarn_fake::FakeServer srv;
    std::shared_ptr<tarn_fake::GssAcceptor> gss;
    tarn_test::OdbcConnection odbc;   // disconnected before the server stops
    SQLHDBC dbc = odbc.dbc;

    void SetUp() override {
        gss = tarn_fake::enable_gssapi(srv, {realm.keytab});
        ASSERT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)5, 0), SQL_SUCCESS);
    }

    std::string conn_str(const std::string &extra) {
        return "DRIVER=tarndrv;SERVER=localhost;PORT=" + std::to_string(srv.port()) + ";" + extra;
    }
    SQLRETURN connect(const std::string &extra) {
        std::string in = conn_str(extra);
        return SQLDriverConnect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                SQL_DRIVER_NOPROMPT);
    }
    std::string diags() { return diag_text(SQL_HANDLE_DBC, dbc); }

    // A statement runs on the logged-on session.
    void query_runs() {
        SQLHSTMT stmt = SQL_NULL_HSTMT;
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
        EXPECT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT 1", SQL_NTS), SQL_SUCCESS)
            << diag_text(SQL_HANDLE_STMT, stmt);
        SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        EXPECT_EQ(srv.records("ExecuteStatement").size(), 1u);
    }

    tarn_fake::GssResult last() {
        auto results = gss->results();
        return results.empty() ? tarn_fake::GssResult{} : results.back();
    }
};

// ---------------------------------------------------------------------------

TEST_F(Kerberos, TicketFromCacheLogsOnAndRunsAQuery) {
    use_ccache("integrated", true);
    ASSERT_EQ(connect("Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST"), SQL_SUCCESS) << diags();
    query_runs();
    tarn_fake::GssResult r = last();
    EXPECT_TRUE(r.authenticated) << r.error;
    EXPECT_EQ(r.client, realm.user);
    EXPECT_EQ(r.service, "hive/localhost@TARN.TEST");   // _HOST became the server's name
    EXPECT_EQ(r.chosen_layer, 1);                       // no security layer
    EXPECT_EQ(r.client_max_size, 65536u);
    EXPECT_FALSE(r.reply_confidential);
    EXPECT_TRUE(r.flags & 2) << "mutual authentication";
}

TEST_F(Kerberos, PrincipalForms) {
    use_ccache("forms", true);
    const char *forms[] = {"hive/localhost@TARN.TEST", "hive/localhost", "hive@_HOST", "hive@localhost", "hive"};
    for (const char *form : forms) {
        SCOPED_TRACE(form);
        ASSERT_EQ(connect(std::string("Authentication=Kerb;KrbPrinciple=") + form), SQL_SUCCESS) << diags();
        EXPECT_EQ(last().service, "hive/localhost@TARN.TEST");
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    }
}

TEST_F(Kerberos, AdWithUserAndPasswordNeedsNoTicketCache) {
    const char *users[] = {"tarnuser@TARN.TEST", "TARN.TEST\\tarnuser"};
    for (const char *user : users) {
        SCOPED_TRACE(user);
        use_ccache("absent", false);
        ASSERT_EQ(connect("Authentication=AD;KrbPrinciple=hive/_HOST@TARN.TEST;UID=" + std::string(user) +
                          ";PWD=" + realm.password),
                  SQL_SUCCESS)
            << diags();
        query_runs();
        EXPECT_EQ(last().client, realm.user);
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
        srv.clear_records();
        std::ifstream cache(realm.dir + "/absent");
        EXPECT_FALSE(cache) << "the password logon wrote the default credential cache";
    }
}

TEST_F(Kerberos, AdWithoutUserUsesTheTicketCache) {
    use_ccache("ad-integrated", true);
    ASSERT_EQ(connect("Authentication=AD;KrbPrinciple=hive/localhost@TARN.TEST"), SQL_SUCCESS) << diags();
    EXPECT_EQ(last().client, realm.user);
}

// Failures name their Kerberos cause, with a SQLSTATE the user can act on.
TEST_F(Kerberos, FailuresNameTheirCause) {
    struct Case {
        const char *name;
        bool ticket;
        std::string extra;
        const char *state;
        const char *text;
    } cases[] = {
        {"wrong password", false,
         "Authentication=AD;KrbPrinciple=hive/_HOST@TARN.TEST;UID=tarnuser;PWD=not-the-password", "28000",
         "Preauthentication failed"},
        {"no ticket", false, "Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST", "28000",
         "No Kerberos credentials available"},
        {"unknown user", false, "Authentication=AD;KrbPrinciple=hive/_HOST@TARN.TEST;UID=nobody;PWD=x", "28000",
         "not found in Kerberos database"},
        {"unknown service", true, "Authentication=Kerberos;KrbPrinciple=hive/elsewhere@TARN.TEST", "08001",
         "Server hive/elsewhere@TARN.TEST not found in Kerberos database"},
        {"no principal (Kerberos)", true, "Authentication=Kerberos", "08001",
         "Unable to obtain Kerberos token for principle"},
        {"no principal (AD)", true, "Authentication=AD", "08001", "ServerSPN not provided"},
        {"library missing", true, "Authentication=Kerberos;KrbPrinciple=hive/_HOST;GSSLIB=libnothere-gss.so.9",
         "08001", "Krb5: failed to open gss lib (libnothere-gss.so.9)"},
        {"library without GSS-API", true, "Authentication=Kerberos;KrbPrinciple=hive/_HOST;GSSLIB=libm.so.6", "08001",
         "Krb5: failed to extract gss entry point gss_import_name"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        use_ccache(std::string("fail-") + (c.ticket ? "ticket" : "none"), c.ticket);
        ASSERT_EQ(connect(c.extra), SQL_ERROR);
        std::string d = diags();
        EXPECT_EQ(d.substr(0, 6), std::string(c.state) + ":") << d;
        EXPECT_NE(d.find(c.text), std::string::npos) << d;
    }
}

TEST_F(Kerberos, ExpiredTicketIs28000) {
    use_ccache("expired", true, "2s");
    // Until the cache itself says the ticket is gone (a loaded machine may
    // run kinit late), and a second more.
    for (int i = 0; i < 50 && std::system("klist -s >/dev/null 2>&1") == 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(200));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    ASSERT_EQ(connect("Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST"), SQL_ERROR);
    EXPECT_EQ(diags().substr(0, 6), "28000:") << diags();
    EXPECT_NE(diags().find("expired"), std::string::npos) << diags();
}

TEST_F(Kerberos, UnreachableKdcIs08001) {
    use_ccache("unreachable", false);
    std::string config = realm.dir + "/unreachable.conf";
    std::ofstream(config) << "[libdefaults]\n default_realm = TARN.TEST\n dns_lookup_kdc = false\n"
                             " udp_preference_limit = 1\n[realms]\n TARN.TEST = {\n  kdc = 127.0.0.1:1\n }\n";
    std::string saved = getenv("KRB5_CONFIG");
    setenv("KRB5_CONFIG", config.c_str(), 1);
    SQLRETURN rc = connect("Authentication=AD;KrbPrinciple=hive/_HOST@TARN.TEST;UID=tarnuser;PWD=x");
    setenv("KRB5_CONFIG", saved.c_str(), 1);
    ASSERT_EQ(rc, SQL_ERROR);
    EXPECT_EQ(diags().substr(0, 6), "08001:") << diags();
    EXPECT_NE(diags().find("Cannot contact any KDC"), std::string::npos) << diags();
}

// The server's side of the exchange going wrong.
TEST_F(Kerberos, ServerMisbehaviour) {
    use_ccache("server", true);
    struct Case {
        const char *name;
        int layers;
        tarn_fake::GssFault fault;
        SQLRETURN rc;
        const char *text;
    } cases[] = {
        {"several layers: none is chosen", 7, tarn_fake::GssFault::None, SQL_SUCCESS, ""},
        {"integrity only", 2, tarn_fake::GssFault::None, SQL_ERROR,
         "08001:[Quillmark][Tarnwell]Client unable to establish connection: Krb5: the server requires a SASL "
         "security layer (it offers integrity)"},
        {"privacy and integrity", 6, tarn_fake::GssFault::None, SQL_ERROR, "(it offers integrity and privacy)"},
        {"4 GB token", 1, tarn_fake::GssFault::HugeToken, SQL_ERROR,
         "08S01:[Quillmark][Tarnwell]Communication link failure: the server announced a SASL frame of 4294967295 "
         "bytes"},
        {"rejected", 1, tarn_fake::GssFault::Reject, SQL_ERROR, "SASL Error response: (3,19) GSS initiate failed"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        gss->set_script({realm.keytab, c.layers, 65536, c.fault});
        ASSERT_EQ(connect("Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST"), c.rc) << diags();
        EXPECT_NE(diags().find(c.text), std::string::npos) << diags();
        if (c.rc == SQL_SUCCESS) {
            EXPECT_EQ(last().chosen_layer, 1);
            ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
        }
    }
}

TEST_F(Kerberos, ServerThatNeverSendsItsOfferTimesOut) {
    use_ccache("silent", true);
    gss->set_script({realm.keytab, 1, 65536, tarn_fake::GssFault::NoOffer});
    ASSERT_EQ(SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)1, 0), SQL_SUCCESS);
    auto start = std::chrono::steady_clock::now();
    ASSERT_EQ(connect("Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST"), SQL_ERROR);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30));
    EXPECT_EQ(diags().substr(0, 6), "08S01:") << diags();
}

// isql, an ANSI client, with the ticket of the credential cache.
TEST_F(Kerberos, IsqlConnects) {
    use_ccache("isql", true);
    std::string preload = TARN_CLIENT_PRELOAD;
    std::string env = preload.empty() ? "" : "LD_PRELOAD=" + preload + " ASAN_OPTIONS=detect_leaks=0 ";
    std::string cmd = "echo quit | " + env + "timeout 60 isql -v -k \"" +
                      conn_str("Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST") + "\" 2>&1";
    FILE *p = popen(cmd.c_str(), "r");
    ASSERT_NE(p, nullptr);
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    EXPECT_NE(out.find("Connected!"), std::string::npos) << out;
    EXPECT_EQ(last().client, realm.user);
}

// Every logon releases what it took from the library (ASan reports leaks).
TEST_F(Kerberos, HundredLogons) {
    use_ccache("hundred", true);
    for (int i = 0; i < 100; i++) {
        const char *how = i % 2 ? "Authentication=Kerberos;KrbPrinciple=hive/_HOST@TARN.TEST"
                                : "Authentication=AD;KrbPrinciple=hive/_HOST@TARN.TEST;UID=tarnuser";
        std::string extra = std::string(how) + (i % 2 ? "" : ";PWD=" + realm.password);
        ASSERT_EQ(connect(extra), SQL_SUCCESS) << i << ": " << diags();
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    }
    EXPECT_EQ(srv.open_sessions(), 0);
}

}  // namespace
