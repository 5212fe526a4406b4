// Connecting through the Driver Manager against the fake server:
// SQLDriverConnect(W) and SQLConnect with data sources in both logon modes,
// the output connection string and its truncation, failures, secrets kept
// out of the trace, and the driver_test export.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "fake_server.h"
#include "spk_connect_info.h"
#include "tarn_test_support.h"

using namespace tarn_test;

namespace {

// One private ODBC configuration per process.  The installer library caches
// what it read per section and key, so every test names its own DSN.
class OdbcConfigEnv : public ::testing::Environment {
  public:
    static PrivateOdbcConfig *config;
    void SetUp() override { config = new PrivateOdbcConfig(); }
    void TearDown() override {
        delete config;
        config = nullptr;
    }
};
PrivateOdbcConfig *OdbcConfigEnv::config = nullptr;
const ::testing::Environment *const config_env = ::testing::AddGlobalTestEnvironment(new OdbcConfigEnv);

std::string unique_dsn(const char *stem) {
    static int n = 0;
    return std::string(stem) + "_" + std::to_string(++n);
}

// A TCP port on which nobody listens.
int closed_port() {
    int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(fd, (sockaddr *)&a, sizeof a);
    socklen_t len = sizeof a;
    getsockname(fd, (sockaddr *)&a, &len);
    close(fd);
    return ntohs(a.sin_port);
}

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

std::u16string u16(const std::string &ascii) { return std::u16string(ascii.begin(), ascii.end()); }

class Connect : public ::testing::Test {
  protected:
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;

    void SetUp() override {
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    }
    void TearDown() override {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }

    std::string dsn_for(const tarn_fake::FakeServer &srv, std::map<std::string, std::string> keys = {}) {
        std::string name = unique_dsn("dsn");
        keys.emplace("Server", "127.0.0.1");
        keys.emplace("Port", std::to_string(srv.port()));
        if (srv.framing() == tarn_fake::Framing::NoSasl) keys.emplace("Authentication", "NOSASL");
        OdbcConfigEnv::config->add_dsn(name, keys);
        return name;
    }

    // SQLDriverConnect with an output buffer of `size` bytes between guards.
    SQLRETURN driver_connect(const std::string &in, std::string *out, SQLSMALLINT size = 1024,
                             SQLSMALLINT *len_out = nullptr) {
        std::vector<char> buf(size + 16, '#');
        SQLSMALLINT len = -1;
        SQLRETURN rc = SQLDriverConnect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, (SQLCHAR *)buf.data() + 8, size,
                                        &len, SQL_DRIVER_NOPROMPT);
        for (int i = 0; i < 8; i++) {
            EXPECT_EQ(buf[i], '#');
            EXPECT_EQ(buf[8 + size + i], '#') << "byte " << i << " after the buffer";
        }
        if (out) *out = std::string(buf.data() + 8, strnlen(buf.data() + 8, size));
        if (len_out) *len_out = len;
        return rc;
    }

    std::string diags() { return diag_text(SQL_HANDLE_DBC, dbc); }
};

// ---------------------------------------------------------------------------

TEST_F(Connect, DriverConnectNoSaslDsnAndOutputString) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string dsn = dsn_for(srv);
    std::string out;
    SQLSMALLINT len = 0;
    ASSERT_EQ(driver_connect("DSN=" + dsn, &out, 1024, &len), SQL_SUCCESS) << diags();
    std::string expected = "DSN=" + dsn + ";SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) +
                           ";Authentication=NoSASL;";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(len, (SQLSMALLINT)expected.size());
    EXPECT_EQ(srv.open_sessions(), 1);
    EXPECT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(srv.open_sessions(), 0);   // CloseSession was sent
    EXPECT_EQ(srv.records("CloseSession").size(), 1u);
}

TEST_F(Connect, DriverConnectSaslLogonWithBracedPassword) {
    tarn_fake::FakeServer srv;
    std::string seen_user, seen_password;
    srv.sasl().check = [&](const std::string &u, const std::string &p) {
        seen_user = u;
        seen_password = p;
        return u == "bob" && p == "p;w}";
    };
    std::string dsn = dsn_for(srv, {{"Authentication", "LDAP"}, {"User", "dsnuser"}, {"Password", "wrong"}});
    std::string out;
    ASSERT_EQ(driver_connect("DSN=" + dsn + ";UID=bob;PWD={p;w}}}", &out), SQL_SUCCESS) << diags();
    EXPECT_EQ(seen_user, "bob");
    EXPECT_EQ(seen_password, "p;w}");
    EXPECT_EQ(out, "DSN=" + dsn + ";UID=bob;PWD={p;w}}};SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) +
                       ";Authentication=LDAP;");
}

TEST_F(Connect, DriverConnectWithoutDsnUsesAnonymousPlain) {
    tarn_fake::FakeServer srv;
    std::string seen_user, seen_password;
    srv.sasl().check = [&](const std::string &u, const std::string &p) {
        seen_user = u;
        seen_password = p;
        return true;
    };
    std::string out;
    ASSERT_EQ(driver_connect("DRIVER=tarndrv;SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()), &out),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(seen_user, "anonymous");
    EXPECT_EQ(seen_password, "openguest");
    // The output names the driver the application named, so it connects again.
    std::string expected = "DRIVER={tarndrv};SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) + ";";
    EXPECT_EQ(out, expected);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(driver_connect(out, &out), SQL_SUCCESS) << diags();
    EXPECT_EQ(out, expected);
}

// Blanks around keywords; the Database keyword opens the session in that
// database; an unknown Authentication value fails before any traffic.
TEST_F(Connect, DatabaseKeywordBlanksAndUnknownAuthentication) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::map<std::string, std::string> config;
    srv.handlers().OpenSession = [&](const tcli::TOpenSessionReq &req, tcli::TOpenSessionResp &) {
        config = req.configuration;
    };
    std::string out;
    ASSERT_EQ(driver_connect("DRIVER=tarndrv; SERVER = 127.0.0.1 ; PORT = " + std::to_string(srv.port()) +
                                 " ; Authentication = NOSASL ; Schema = sales_db",
                             &out),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(config["use:database"], "sales_db");
    EXPECT_NE(out.find(";Database=sales_db;"), std::string::npos) << out;
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);

    size_t sessions = srv.records("OpenSession").size();
    EXPECT_EQ(driver_connect("DRIVER=tarndrv;SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) +
                                 ";Authentication=Kerberoz",
                             &out),
              SQL_ERROR);
    EXPECT_NE(diags().find("unknown Authentication value 'Kerberoz'"), std::string::npos) << diags();
    EXPECT_EQ(srv.records("OpenSession").size(), sessions);
}

// Data that comes with the SASL completion is read, and the session works.
TEST_F(Connect, SaslCompletionWithDataIsReadWhole) {
    tarn_fake::FakeServer srv;
    srv.sasl().check = [](const std::string &, const std::string &) { return true; };
    srv.sasl().payload = "welcome, this is extra data";
    ASSERT_EQ(driver_connect("DRIVER=tarndrv;SERVER=127.0.0.1;UID=u;PWD=p;PORT=" + std::to_string(srv.port()),
                             nullptr),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(srv.open_sessions(), 1);
    char name[64];
    ASSERT_EQ(SQLGetInfo(dbc, SQL_DBMS_NAME, name, sizeof name, nullptr), SQL_SUCCESS) << diags();
    EXPECT_STREQ(name, "Spark SQL");
}

// SQLDisconnect frees the statements: their operations are closed.
TEST_F(Connect, DisconnectFreesTheStatements) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    ASSERT_EQ(driver_connect("DRIVER=tarndrv;SERVER=127.0.0.1;Authentication=NOSASL;PORT=" +
                                 std::to_string(srv.port()),
                             nullptr),
              SQL_SUCCESS)
        << diags();
    SQLHSTMT stmt;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT 1", SQL_NTS), SQL_SUCCESS);
    size_t closed = srv.records("CloseOperation").size();
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(srv.records("CloseOperation").size(), closed + 1);
}

// The trace file is readable by its owner only: it holds SQL and user names.
TEST_F(Connect, TraceFileIsOwnerOnly) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string trace = OdbcConfigEnv::config->dir() + "/private-trace.log";
    unlink(trace.c_str());
    mode_t old = umask(0);
    SQLRETURN rc = driver_connect("DRIVER=tarndrv;SERVER=127.0.0.1;Authentication=NOSASL;Logging=yes;LogFile=" +
                                      trace + ";PORT=" + std::to_string(srv.port()),
                                  nullptr);
    umask(old);
    ASSERT_EQ(rc, SQL_SUCCESS) << diags();
    struct stat st;
    ASSERT_EQ(stat(trace.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST_F(Connect, OutputStringTruncation) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string dsn = dsn_for(srv);
    std::string full = "DSN=" + dsn + ";SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) +
                       ";Authentication=NoSASL;";
    struct Case {
        SQLSMALLINT size;
        SQLRETURN rc;
        std::string text;
    } cases[] = {
        {(SQLSMALLINT)(full.size() + 1), SQL_SUCCESS, full},
        {(SQLSMALLINT)full.size(), SQL_SUCCESS_WITH_INFO, full.substr(0, full.size() - 1)},
        {5, SQL_SUCCESS_WITH_INFO, full.substr(0, 4)},
        {1, SQL_SUCCESS_WITH_INFO, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE("buffer " + std::to_string(c.size));
        std::string out;
        SQLSMALLINT len = 0;
        ASSERT_EQ(driver_connect("DSN=" + dsn, &out, c.size, &len), c.rc) << diags();
        EXPECT_EQ(out, c.text);
        EXPECT_EQ(len, (SQLSMALLINT)full.size());   // the full length, even when cut
        if (c.rc == SQL_SUCCESS_WITH_INFO) {
            EXPECT_NE(diags().find("01004:"), std::string::npos) << diags();
        }
        ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    }
}

TEST_F(Connect, AnsiOutputStringIsUtf8) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string dsn = dsn_for(srv);
    std::string out;
    SQLSMALLINT len = 0;
    ASSERT_EQ(driver_connect("DSN=" + dsn + ";UID=J\xC3\xBCrgen \xE2\x82\xAC", &out, 1024, &len), SQL_SUCCESS)
        << diags();
    std::string expected = "DSN=" + dsn + ";UID=J\xC3\xBCrgen \xE2\x82\xAC;SERVER=127.0.0.1;PORT=" +
                           std::to_string(srv.port()) + ";Authentication=NoSASL;";
    EXPECT_EQ(out, expected);
    EXPECT_EQ(len, (SQLSMALLINT)expected.size());   // bytes
}

TEST_F(Connect, WideDriverConnectCountsCharacters) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string dsn = dsn_for(srv);
    std::u16string in = u"DSN=" + u16(dsn) + u";UID=J\u00fcrgen \u20ac";
    std::u16string expected = u"DSN=" + u16(dsn) + u";UID=J\u00fcrgen \u20ac;SERVER=127.0.0.1;PORT=" +
                              u16(std::to_string(srv.port())) + u";Authentication=NoSASL;";
    std::vector<SQLWCHAR> buf(300, 0x2323);
    SQLSMALLINT len = 0;
    ASSERT_EQ(SQLDriverConnectW(dbc, nullptr, (SQLWCHAR *)in.c_str(), SQL_NTS, buf.data() + 4, 200, &len,
                                SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(std::u16string((const char16_t *)buf.data() + 4), expected);
    EXPECT_EQ(len, (SQLSMALLINT)expected.size());
    EXPECT_EQ(buf[3], 0x2323);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);

    // Cut to 10 characters.
    std::fill(buf.begin(), buf.end(), 0x2323);
    ASSERT_EQ(SQLDriverConnectW(dbc, nullptr, (SQLWCHAR *)in.c_str(), SQL_NTS, buf.data() + 4, 10, &len,
                                SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::u16string((const char16_t *)buf.data() + 4), expected.substr(0, 9));
    EXPECT_EQ(buf[14], 0x2323);
    EXPECT_EQ(len, (SQLSMALLINT)expected.size());
}

TEST_F(Connect, WrongPortFails) {
    std::string out;
    std::string in = "DRIVER=tarndrv;SERVER=127.0.0.1;PORT=" + std::to_string(closed_port()) + ";Authentication=NOSASL";
    EXPECT_EQ(driver_connect(in, &out), SQL_ERROR);
    std::string d = diags();
    EXPECT_NE(d.find("08001:[Quillmark][Tarnwell]Client unable to establish connection: connecting fails: '"),
              std::string::npos)
        << d;
}

TEST_F(Connect, MissingServerIsReported) {
    std::string out;
    EXPECT_EQ(driver_connect("DRIVER=tarndrv;PORT=1", &out), SQL_ERROR);
    EXPECT_NE(diags().find("HY000:[Quillmark][Tarnwell]General error: server not specified"), std::string::npos)
        << diags();
}

TEST_F(Connect, SqlConnectWithDsnInBothModes) {
    tarn_fake::FakeServer plain(tarn_fake::Framing::NoSasl);
    std::string dsn = dsn_for(plain);
    ASSERT_EQ(SQLConnect(dbc, (SQLCHAR *)dsn.c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS) << diags();
    EXPECT_EQ(plain.open_sessions(), 1);
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(plain.open_sessions(), 0);

    tarn_fake::FakeServer sasl;
    std::string seen;
    sasl.sasl().check = [&](const std::string &u, const std::string &p) {
        seen = u + "/" + p;
        return p == "argpw";
    };
    std::string dsn2 = dsn_for(sasl, {{"Authentication", "LDAP"}, {"User", "dsnuser"}, {"Password", "dsnpw"}});
    // The arguments beat the DSN's user and password.
    ASSERT_EQ(SQLConnect(dbc, (SQLCHAR *)dsn2.c_str(), SQL_NTS, (SQLCHAR *)"arguser", SQL_NTS, (SQLCHAR *)"argpw", 5),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(seen, "arguser/argpw");
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);

    // A bad password: the server's refusal comes back as a diagnostic.
    EXPECT_EQ(SQLConnect(dbc, (SQLCHAR *)dsn2.c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_EQ(seen, "dsnuser/dsnpw");
    EXPECT_NE(diags().find("Error validating the login"), std::string::npos) << diags();
}

TEST_F(Connect, WideSqlConnect) {
    tarn_fake::FakeServer srv;
    std::string seen;
    srv.sasl().check = [&](const std::string &u, const std::string &p) {
        seen = u + "/" + p;
        return true;
    };
    std::string dsn = dsn_for(srv, {{"Authentication", "LDAP"}});
    std::u16string name = u16(dsn), user = u"J\u00fcrgen", pw = u"\u20ac";
    ASSERT_EQ(SQLConnectW(dbc, (SQLWCHAR *)name.c_str(), SQL_NTS, (SQLWCHAR *)user.c_str(), SQL_NTS,
                          (SQLWCHAR *)pw.c_str(), 1),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(seen, "J\xC3\xBCrgen/\xE2\x82\xAC");
}

TEST_F(Connect, TraceShowsNoSecrets) {
    tarn_fake::FakeServer srv;
    srv.sasl().check = [](const std::string &, const std::string &) { return true; };
    std::string trace = OdbcConfigEnv::config->dir() + "/connect-trace.log";
    std::string dsn = dsn_for(srv, {{"Authentication", "LDAP"}, {"Logging", "yes"}, {"LogFile", trace}});
    std::string out;
    ASSERT_EQ(driver_connect("DSN=" + dsn + ";UID=u;PWD={se;cret1};AccessToken=tok3n1", &out), SQL_SUCCESS) << diags();
    EXPECT_NE(out.find("PWD={se;cret1}"), std::string::npos) << out;   // the application gets it back
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(SQLConnect(dbc, (SQLCHAR *)dsn.c_str(), SQL_NTS, (SQLCHAR *)"u", SQL_NTS, (SQLCHAR *)"secret2", SQL_NTS),
              SQL_SUCCESS)
        << diags();
    ASSERT_EQ(SQLDisconnect(dbc), SQL_SUCCESS);
    std::string log = read_file(trace);
    EXPECT_NE(log.find("SQLDriverConnect: Output string 'DSN=" + dsn + ";UID=u;PWD=***;SERVER="), std::string::npos)
        << log;
    EXPECT_NE(log.find("AccessToken=***;"), std::string::npos) << log;
    for (const char *secret : {"cret1", "tok3n1", "secret2"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in\n" << log;
}

// ---------------------------------------------------------------------------
// The driver's own exports, called directly

typedef SQLRETURN(SQL_API *AllocHandleFn)(SQLSMALLINT, SQLHANDLE, SQLHANDLE *);
typedef SQLRETURN(SQL_API *FreeHandleFn)(SQLSMALLINT, SQLHANDLE);
typedef SQLRETURN(SQL_API *DriverConnectFn)(SQLHDBC, SQLHWND, SQLCHAR *, SQLSMALLINT, SQLCHAR *, SQLSMALLINT,
                                            SQLSMALLINT *, SQLUSMALLINT);
typedef SQLRETURN(SQL_API *ConnectFn)(SQLHDBC, SQLCHAR *, SQLSMALLINT, SQLCHAR *, SQLSMALLINT, SQLCHAR *, SQLSMALLINT);
typedef SQLRETURN(SQL_API *DisconnectFn)(SQLHDBC);
typedef SQLRETURN(SQL_API *GetDiagRecFn)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR *, SQLINTEGER *, SQLCHAR *,
                                         SQLSMALLINT, SQLSMALLINT *);
typedef int (*DriverTestFn)(SpkConnectInfo *, char *, int);

class Direct : public ::testing::Test {
  protected:
    DriverLib lib;
    AllocHandleFn alloc = lib.fn<AllocHandleFn>("SQLAllocHandle");
    FreeHandleFn free_handle = lib.fn<FreeHandleFn>("SQLFreeHandle");
    DriverConnectFn driver_connect = lib.fn<DriverConnectFn>("SQLDriverConnect");
    ConnectFn connect = lib.fn<ConnectFn>("SQLConnect");
    DisconnectFn disconnect = lib.fn<DisconnectFn>("SQLDisconnect");
    DriverTestFn driver_test = lib.fn<DriverTestFn>("driver_test");
    SQLHANDLE env = nullptr, dbc = nullptr;

    void SetUp() override {
        ASSERT_EQ(alloc(SQL_HANDLE_ENV, nullptr, &env), SQL_SUCCESS);
        ASSERT_EQ(alloc(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
    }
    void TearDown() override {
        disconnect(dbc);
        free_handle(SQL_HANDLE_DBC, dbc);
        free_handle(SQL_HANDLE_ENV, env);
    }
    std::string diags() {
        auto rec = lib.fn<GetDiagRecFn>("SQLGetDiagRec");
        std::string out;
        for (SQLSMALLINT i = 1;; i++) {
            SQLCHAR state[6] = {0}, msg[1024] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT len = 0;
            if (rec(SQL_HANDLE_DBC, dbc, i, state, &native, msg, sizeof msg, &len) != SQL_SUCCESS) break;
            out += std::string((char *)state) + ":" + (char *)msg + "\n";
        }
        return out;
    }
    SpkConnectInfo *info_for(int port, int authentication) {
        auto *info = (SpkConnectInfo *)calloc(1, sizeof(SpkConnectInfo));
        strcpy(info->server, "127.0.0.1");
        info->port = port;
        strcpy(info->col_length, "256");
        info->authentication = authentication;
        return info;
    }
};

TEST_F(Direct, ConnectStates) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string in = "SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) + ";Authentication=NOSASL";
    // Disconnecting a handle that is not connected only resets it.
    EXPECT_EQ(disconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_SUCCESS)
        << diags();
    EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    EXPECT_NE(diags().find("08002:"), std::string::npos) << diags();
    EXPECT_EQ(connect(dbc, (SQLCHAR *)"x", SQL_NTS, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_NE(diags().find("08002:"), std::string::npos) << diags();
    EXPECT_EQ(srv.open_sessions(), 1);
    EXPECT_EQ(disconnect(dbc), SQL_SUCCESS);
    EXPECT_EQ(srv.open_sessions(), 0);
}

TEST_F(Direct, BadArguments) {
    std::string in = "SERVER=127.0.0.1";
    EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, 7), SQL_ERROR);
    EXPECT_NE(diags().find("HY110:"), std::string::npos) << diags();
    EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), -5, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    EXPECT_NE(diags().find("HY090:"), std::string::npos) << diags();
    char out[8];
    EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, (SQLCHAR *)out, -1, nullptr,
                             SQL_DRIVER_NOPROMPT),
              SQL_ERROR);
    EXPECT_NE(diags().find("HY090:"), std::string::npos) << diags();
    EXPECT_EQ(connect(dbc, (SQLCHAR *)"x", -7, nullptr, 0, nullptr, 0), SQL_ERROR);
    EXPECT_NE(diags().find("HY090:"), std::string::npos) << diags();
    EXPECT_EQ(connect(nullptr, (SQLCHAR *)"x", SQL_NTS, nullptr, 0, nullptr, 0), SQL_INVALID_HANDLE);
    EXPECT_EQ(driver_connect(env, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, 0),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(disconnect(env), SQL_INVALID_HANDLE);
}

// Completing a connection that needs nothing opens no dialog; one that
// would need a dialog without a window handle is IM008.
TEST_F(Direct, OtherCompletionModesConnectWithoutPrompting) {
    tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
    std::string in = "SERVER=127.0.0.1;PORT=" + std::to_string(srv.port()) + ";Authentication=NOSASL";
    for (SQLUSMALLINT mode : {SQL_DRIVER_COMPLETE, SQL_DRIVER_COMPLETE_REQUIRED}) {
        EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, mode), SQL_SUCCESS)
            << diags();
        EXPECT_EQ(disconnect(dbc), SQL_SUCCESS);
    }
    EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_PROMPT),
              SQL_ERROR);
    EXPECT_NE(diags().find("IM008"), std::string::npos) << diags();
    EXPECT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)"PORT=1", SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_COMPLETE),
              SQL_ERROR);
    EXPECT_NE(diags().find("IM008"), std::string::npos) << diags();
}

// The Driver Manager frees the driver's connection after each disconnect, so
// ENTRY records of the connect calls appear when one handle is reused with
// tracing already switched on.
TEST_F(Direct, EntryRecordsMaskSecrets) {
    typedef SQLRETURN(SQL_API * DriverConnectWFn)(SQLHDBC, SQLHWND, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *, SQLSMALLINT,
                                                  SQLSMALLINT *, SQLUSMALLINT);
    typedef SQLRETURN(SQL_API * ConnectWFn)(SQLHDBC, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *, SQLSMALLINT, SQLWCHAR *,
                                            SQLSMALLINT);
    auto driver_connect_w = lib.fn<DriverConnectWFn>("SQLDriverConnectW");
    auto connect_w = lib.fn<ConnectWFn>("SQLConnectW");
    tarn_fake::FakeServer srv;
    srv.sasl().check = [](const std::string &, const std::string &) { return true; };
    std::string trace = OdbcConfigEnv::config->dir() + "/entry-trace.log";
    std::string dsn = unique_dsn("entry");
    OdbcConfigEnv::config->add_dsn(dsn, {{"Server", "127.0.0.1"},
                                         {"Port", std::to_string(srv.port())},
                                         {"Authentication", "LDAP"},
                                         {"Logging", "yes"},
                                         {"LogFile", trace}});
    std::string in = "DSN=" + dsn + ";UID=u;PWD={se;cret1};AccessToken=tok3n1";
    std::u16string in16 = u"DSN=" + u16(dsn) + u";UID=u;password=secret4;AccessToken=tok3n4";
    std::u16string dsn16 = u16(dsn), user16 = u"u", pw16 = u"secret3";
    for (int i = 0; i < 2; i++) {
        ASSERT_EQ(driver_connect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
            << diags();
        ASSERT_EQ(disconnect(dbc), SQL_SUCCESS);
    }
    ASSERT_EQ(connect(dbc, (SQLCHAR *)dsn.c_str(), SQL_NTS, (SQLCHAR *)"u", SQL_NTS, (SQLCHAR *)"secret2", 7),
              SQL_SUCCESS)
        << diags();
    ASSERT_EQ(disconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(driver_connect_w(dbc, nullptr, (SQLWCHAR *)in16.c_str(), SQL_NTS, nullptr, 0, nullptr, 0), SQL_SUCCESS)
        << diags();
    ASSERT_EQ(disconnect(dbc), SQL_SUCCESS);
    ASSERT_EQ(connect_w(dbc, (SQLWCHAR *)dsn16.c_str(), SQL_NTS, (SQLWCHAR *)user16.c_str(), SQL_NTS,
                        (SQLWCHAR *)pw16.c_str(), SQL_NTS),
              SQL_SUCCESS)
        << diags();
    ASSERT_EQ(disconnect(dbc), SQL_SUCCESS);
    std::string log = read_file(trace);
    EXPECT_NE(log.find("SQLDriverConnect: input_handle="), std::string::npos) << log;
    EXPECT_NE(log.find("con_str_in='DSN=" + dsn + ";UID=u;PWD=***;AccessToken=***'"), std::string::npos) << log;
    EXPECT_NE(log.find("con_str_in='DSN=" + dsn + ";UID=u;password=***;AccessToken=***'"), std::string::npos) << log;
    EXPECT_NE(log.find("SQLConnect: input_handle="), std::string::npos) << log;
    EXPECT_NE(log.find("SQLConnectW: input_handle="), std::string::npos) << log;
    EXPECT_NE(log.find("authentication = '***'"), std::string::npos) << log;
    for (const char *secret : {"cret1", "tok3n1", "secret2", "secret3", "secret4", "tok3n4"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in\n" << log;
}

TEST_F(Direct, DriverTestSuccessAndFailureTexts) {
    {
        tarn_fake::FakeServer srv(tarn_fake::Framing::NoSasl);
        SpkConnectInfo *info = info_for(srv.port(), 1);
        char msg[4096];
        memset(msg, '#', sizeof msg);
        EXPECT_EQ(driver_test(info, msg, sizeof msg), 0);
        EXPECT_STREQ(msg, "Connected and authenticated with Apache Spark");
        EXPECT_EQ(srv.open_sessions(), 0);   // closed again
        EXPECT_EQ(srv.records("OpenSession").size(), 1u);
        free(info);
    }
    {
        SpkConnectInfo *info = info_for(closed_port(), 1);
        char msg[4096];
        EXPECT_EQ(driver_test(info, msg, sizeof msg), 1);
        EXPECT_EQ(std::string(msg).rfind("[Quillmark][Tarnwell]Client unable to establish connection: connecting fails: '", 0),
                  0u)
            << msg;
        EXPECT_LE(strlen(msg), 1023u);

        // A small buffer is cut and terminated.
        char small[24];
        memset(small, '#', sizeof small);
        EXPECT_EQ(driver_test(info, small, 20), 1);
        EXPECT_EQ(std::string(small), std::string(msg).substr(0, 19));
        EXPECT_EQ(small[20], '#');
        free(info);
    }
    {
        tarn_fake::FakeServer srv;
        srv.sasl().check = [](const std::string &u, const std::string &p) { return u == "Jürgen" && p == "ok"; };
        SpkConnectInfo *info = info_for(srv.port(), 2);
        strcpy(info->uid, "Jürgen");
        strcpy(info->pwd, "bad");
        char msg[1024];
        EXPECT_EQ(driver_test(info, msg, sizeof msg), 1);
        EXPECT_NE(std::string(msg).find("Error validating the login"), std::string::npos) << msg;
        strcpy(info->pwd, "ok");
        EXPECT_EQ(driver_test(info, msg, sizeof msg), 0) << msg;
        free(info);
    }
    char msg[64];
    EXPECT_EQ(driver_test(nullptr, msg, sizeof msg), 1);
    EXPECT_EQ(driver_test(nullptr, nullptr, 0), 1);
}

}  // namespace
