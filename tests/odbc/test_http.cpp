// Thrift over HTTP (and HTTPS) through the Driver Manager against the fake
// server's HTTP front end: the exact request, Basic and Bearer, the session
// cookie, replies in every framing, hostile replies, header injection, the
// trace, and the certificate checks of the TLS endpoint.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "fake_http.h"
#include "fake_relay.h"
#include "tarn_odbc_connection.h"
#include "tarn_test_support.h"

using namespace tarn_test;
using tarn_fake::FakeHttpServer;
using tarn_fake::HttpReply;
using tarn_fake::HttpRequest;

namespace {

PrivateOdbcConfig &odbc_config() {
    static PrivateOdbcConfig config;
    return config;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// Lower-case version-4 UUID text: 8-4-4-4-12 hex digits, version 4, variant 10.
bool is_uuid4(const std::string &t) {
    if (t.size() != 36) return false;
    for (size_t i = 0; i < t.size(); i++) {
        bool dash = i == 8 || i == 13 || i == 18 || i == 23;
        if (dash != (t[i] == '-')) return false;
        if (!dash && !isdigit((unsigned char)t[i]) && (t[i] < 'a' || t[i] > 'f')) return false;
    }
    return t[14] == '4' && strchr("89ab", t[19]) != nullptr;
}

class Http : public ::testing::Test {
  protected:
    bool configured = (odbc_config(), true);   // before the Driver Manager is first used
    OdbcConnection odbc;
    SQLHDBC dbc = odbc.dbc;

    SQLRETURN connect(const FakeHttpServer &srv, const std::string &rest) {
        std::string s = "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(srv.port()) + ";" + rest;
        return SQLDriverConnect(dbc, nullptr, (SQLCHAR *)s.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                SQL_DRIVER_NOPROMPT);
    }
    // Runs one statement on a fresh handle; its diagnostics, or "" on success.
    std::string run(const char *sql) {
        SQLHSTMT st;
        EXPECT_EQ(SQL_SUCCESS, SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st));
        SQLRETURN rc = SQLExecDirect(st, (SQLCHAR *)sql, SQL_NTS);
        std::string d = SQL_SUCCEEDED(rc) ? "" : diag_text(SQL_HANDLE_STMT, st);
        SQLFreeHandle(SQL_HANDLE_STMT, st);
        return SQL_SUCCEEDED(rc) || !d.empty() ? d : "error without diagnostic";
    }
    std::string diags() { return odbc.diag(); }
};

TEST_F(Http, RequestBytesAreExactAndBasicCredentialsAreSent) {
    FakeHttpServer srv;
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_BASIC;UID=alice;PWD=secret;HttpUri=/gateway/cli"))
        << diags();
    ASSERT_EQ("", run("SELECT 1"));
    auto reqs = srv.requests();
    ASSERT_GE(reqs.size(), 2u);
    const HttpRequest &r = reqs[0];
    std::string tag = r.header("x-thriftserver-session-tag");
    ASSERT_TRUE(is_uuid4(tag)) << tag;
    std::string expected = "POST /gateway/cli HTTP/1.1\r\n"
                           "Host: 127.0.0.1:" + std::to_string(srv.port()) + "\r\n"
                           "Content-Type: application/x-thrift\r\n"
                           "Content-Length: " + std::to_string(r.body.size()) + "\r\n"
                           "Accept: application/x-thrift\r\n"
                           "User-Agent: Quillmark ODBC\r\n"
                           "Cache-Control: no-cache\r\n"
                           "Authorization: Basic YWxpY2U6c2VjcmV0\r\n"
                           "X-Thriftserver-Session-Tag: " + tag + "\r\n"
                           "\r\n" + r.body;
    EXPECT_EQ(expected, r.wire);
    EXPECT_EQ("OpenSession", r.body.substr(8, 11));
    for (const HttpRequest &q : reqs) {
        EXPECT_EQ(tag, q.header("x-thriftserver-session-tag"));
        EXPECT_EQ(1, q.connection);   // one kept-alive connection
    }
}

TEST_F(Http, DefaultPathAndAnonymousCredentials) {
    FakeHttpServer srv;
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_BASIC")) << diags();
    auto reqs = srv.requests();
    ASSERT_FALSE(reqs.empty());
    EXPECT_EQ("POST /cliservice HTTP/1.1", reqs[0].request_line);
    EXPECT_EQ("Basic YW5vbnltb3VzOm9wZW5ndWVzdA==", reqs[0].header("authorization"));   // anonymous:openguest
}

TEST_F(Http, Ipv6HostIsBracketed) {
    FakeHttpServer srv(std::nullopt, true);
    std::string s = "Driver=tarndrv;Server=::1;Port=" + std::to_string(srv.port()) + ";Authentication=HTTP_BASIC";
    ASSERT_EQ(SQL_SUCCESS, SQLDriverConnect(dbc, nullptr, (SQLCHAR *)s.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                            SQL_DRIVER_NOPROMPT))
        << diags();
    ASSERT_FALSE(srv.requests().empty());
    EXPECT_EQ("[::1]:" + std::to_string(srv.port()), srv.requests()[0].header("host"));
}

TEST_F(Http, BearerTokenIsSentAndRequired) {
    FakeHttpServer srv;
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_OAUTH;AccessToken=tok.en-123;UID=ignored")) << diags();
    ASSERT_FALSE(srv.requests().empty());
    EXPECT_EQ("Bearer tok.en-123", srv.requests()[0].header("authorization"));
    SQLDisconnect(dbc);

    FakeHttpServer quiet;
    EXPECT_EQ(SQL_ERROR, connect(quiet, "Authentication=HTTP_OAUTH"));
    EXPECT_NE(std::string::npos, diags().find("HY000:[Quillmark][Tarnwell]General error: OAUTH Authentication requires a AccessToken"))
        << diags();
    EXPECT_TRUE(quiet.requests().empty());
}

TEST_F(Http, UnauthorizedIsAnAuthorizationError) {
    FakeHttpServer srv;
    srv.authorize = [](const HttpRequest &) { return false; };
    EXPECT_EQ(SQL_ERROR, connect(srv, "Authentication=HTTP_BASIC;UID=a;PWD=wrong"));
    std::string d = diags();
    EXPECT_EQ(0u, d.find("28000:")) << d;
    EXPECT_NE(std::string::npos, d.find("Unexpected reply code 401 (Unauthorized)")) << d;
}

TEST_F(Http, ControlCharactersInCredentialsOrPathAreRefusedBeforeSending) {
    const char *cases[] = {
        "Authentication=HTTP_OAUTH;AccessToken={abc\r\nX-Injected: 1}",
        "Authentication=HTTP_OAUTH;AccessToken={abc\ndef}",
        "Authentication=HTTP_BASIC;UID={bob\r\nX-Injected: 1};PWD=x",
        "Authentication=HTTP_BASIC;UID=bob;PWD=x;HttpUri={cli HTTP/1.0\r\nX-Injected: 1}",
    };
    for (const char *c : cases) {
        FakeHttpServer srv;
        EXPECT_EQ(SQL_ERROR, connect(srv, c)) << c;
        std::string d = diags();
        EXPECT_TRUE(d.find("line break") != std::string::npos || d.find("control character") != std::string::npos)
            << c << " -> " << d;
        EXPECT_TRUE(srv.requests().empty()) << c;
    }
}

// Reply framings the driver must read: each case rewrites every reply.
struct ReplyCase {
    const char *name;
    std::function<HttpReply(const std::string &body)> make;
};

std::string chunked(const std::string &body, const std::string &trailer) {
    size_t half = body.size() / 2;
    char size1[32], size2[32];
    snprintf(size1, sizeof size1, "%zx;ext=1", half);
    snprintf(size2, sizeof size2, "%zX", body.size() - half);
    return "HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n" + std::string(size1) + "\r\n" + body.substr(0, half) +
           "\r\n" + size2 + "\r\n" + body.substr(half) + "\r\n0\r\n" + trailer + "\r\n";
}

TEST_F(Http, RepliesInEveryFramingAreRead) {
    const ReplyCase cases[] = {
        {"chunked with trailers",
         [](const std::string &b) { return HttpReply{chunked(b, "X-Checksum: 1\r\nX-Other: 2\r\n")}; }},
        {"chunked without trailers", [](const std::string &b) { return HttpReply{chunked(b, "")}; }},
        {"5000-character header line",
         [](const std::string &b) {
             return HttpReply{"HTTP/1.1 200 OK\r\nX-Long: " + std::string(5000, 'x') +
                              "\r\ncontent-length: " + std::to_string(b.size()) + "\r\n\r\n" + b};
         }},
        {"interim 100 Continue",
         [](const std::string &b) { return HttpReply{"HTTP/1.1 100 Continue\r\n\r\n" + FakeHttpServer::ok_reply(b)}; }},
        {"connection closed after each reply",
         [](const std::string &b) { return HttpReply{FakeHttpServer::ok_reply(b, "Connection: close\r\n"), true}; }},
        {"body ended by the close",
         [](const std::string &b) { return HttpReply{"HTTP/1.1 200 OK\r\n\r\n" + b, true}; }},
    };
    for (const ReplyCase &c : cases) {
        FakeHttpServer srv;
        srv.respond = [&](const HttpRequest &, const std::string &reply) { return c.make(reply); };
        ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_BASIC;UID=u;PWD=p")) << c.name << ": " << diags();
        EXPECT_EQ("", run("SELECT 1")) << c.name;
        EXPECT_EQ("", run("SELECT 2")) << c.name;
        EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc)) << c.name;
    }
}

TEST_F(Http, HostileRepliesFailTheCallCleanly) {
    const ReplyCase cases[] = {
        {"close in the middle of the body",
         [](const std::string &b) {
             return HttpReply{"HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(b.size()) + "\r\n\r\n" +
                                  b.substr(0, b.size() / 2),
                              true};
         }},
        {"2^31 Content-Length",
         [](const std::string &) { return HttpReply{"HTTP/1.1 200 OK\r\nContent-Length: 2147483648\r\n\r\nabc"}; }},
        {"2^64 Content-Length",
         [](const std::string &) {
             return HttpReply{"HTTP/1.1 200 OK\r\nContent-Length: 18446744073709551616\r\n\r\nabc"};
         }},
        {"negative Content-Length",
         [](const std::string &) { return HttpReply{"HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nabc"}; }},
        {"huge chunk size",
         [](const std::string &) {
             return HttpReply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nffffffffffffffff\r\nabc"};
         }},
        {"close in the middle of a chunk",
         [](const std::string &) {
             return HttpReply{"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n100\r\nabc", true};
         }},
        {"endless header line",
         [](const std::string &) { return HttpReply{"HTTP/1.1 200 OK\r\nX: " + std::string(100000, 'y'), true}; }},
        {"no status line", [](const std::string &) { return HttpReply{"garbage\r\n\r\n", true}; }},
        {"server error", [](const std::string &) { return HttpReply{"HTTP/1.1 500 Server Error\r\nContent-Length: 0\r\n\r\n"}; }},
    };
    for (const ReplyCase &c : cases) {
        FakeHttpServer srv;
        ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_BASIC;UID=u;PWD=p")) << diags();
        srv.respond = [&](const HttpRequest &, const std::string &reply) {
            return std::optional<HttpReply>(c.make(reply));
        };
        std::string d = run("SELECT 1");
        EXPECT_EQ(0u, d.find("08S01:")) << c.name << ": " << d;
        EXPECT_EQ(SQL_SUCCESS, SQLDisconnect(dbc)) << c.name;
    }
}

TEST_F(Http, SessionCookieReplacesTheCredentialsAndExpires) {
    FakeHttpServer srv;
    srv.extra_headers = "Set-Cookie: hive.server2.auth=c00kie; Max-Age=86400; HttpOnly\r\n";
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_BASIC;UID=u;PWD=p")) << diags();
    ASSERT_EQ("", run("SELECT 1"));
    auto reqs = srv.requests();
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_EQ("", reqs[0].header("cookie"));
    for (size_t i = 1; i < reqs.size(); i++) {
        EXPECT_EQ("hive.server2.auth=c00kie", reqs[i].header("cookie"));
        EXPECT_EQ("", reqs[i].header("authorization"));
    }
    // The server forgets the cookie: one retry with the credentials.
    srv.authorize = [](const HttpRequest &r) { return !r.header("authorization").empty(); };
    srv.clear_requests();
    ASSERT_EQ("", run("SELECT 2"));
    reqs = srv.requests();
    ASSERT_GE(reqs.size(), 2u);
    EXPECT_NE("", reqs[0].header("cookie"));
    EXPECT_EQ(reqs[0].body, reqs[1].body);
    EXPECT_EQ("Basic dTpw", reqs[1].header("authorization"));
}

TEST_F(Http, TraceHidesCredentialsAndCookies) {
    std::string dir = make_temp_dir("tarn-http-trace");
    std::string trace = dir + "/trace.log";
    FakeHttpServer srv;
    srv.extra_headers = "Set-Cookie: hive.server2.auth=c00kie\r\n";
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_BASIC;UID=alice;PWD=secret;Logging=yes;LogFile=" + trace))
        << diags();
    ASSERT_EQ("", run("SELECT 1"));
    SQLDisconnect(dbc);
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_OAUTH;AccessToken=t0ken;Logging=yes;LogFile=" + trace))
        << diags();
    SQLDisconnect(dbc);
    std::string text = read_file(trace);
    EXPECT_NE(std::string::npos, text.find("Basic ***")) << text.substr(0, 2000);
    EXPECT_NE(std::string::npos, text.find("Bearer ***"));
    for (const char *secret : {"YWxpY2U6c2VjcmV0", "secret", "t0ken", "c00kie"})
        EXPECT_EQ(std::string::npos, text.find(secret)) << secret;
    remove_tree(dir);
}

// ---------------------------------------------------------------------------
// HTTPS: the certificate decision.

class Https : public Http {
  protected:
    static inline std::string pki, other_pki;
    static void SetUpTestSuite() {
        pki = make_temp_dir("tarn-pki");
        other_pki = make_temp_dir("tarn-pki-other");
        for (const std::string &d : {pki, other_pki}) {
            std::string cmd = std::string("bash ") + TARN_SOURCE_DIR + "/scripts/gen-tls.sh " + d + " >/dev/null 2>&1";
            ASSERT_EQ(0, system(cmd.c_str())) << cmd;
        }
    }
    static void TearDownTestSuite() {
        remove_tree(pki);
        remove_tree(other_pki);
    }
    void TearDown() override {
        unsetenv("SSL_CERT_FILE");
        unsetenv("SSL_CERT_DIR");
    }
    tarn_fake::TlsFiles files() { return {pki + "/server.pem", pki + "/server.key"}; }
};

TEST_F(Https, CertificateFileTrustsTheServer) {
    FakeHttpServer srv(files());
    ASSERT_EQ(SQL_SUCCESS, connect(srv, "Authentication=HTTP_OAUTH;AccessToken=t;ssl=yes;CertificateFile=" + pki +
                                            "/ca.pem"))
        << diags();
    EXPECT_EQ("", run("SELECT 1"));
    ASSERT_FALSE(srv.requests().empty());
    EXPECT_EQ("Bearer t", srv.requests()[0].header("authorization"));
}

TEST_F(Https, CertificateDecisions) {
    struct Case {
        const char *name;
        std::string keys;
        const char *ssl_cert_file;   // null: leave unset
        const char *ssl_cert_dir;
        const char *error;           // null: the connect succeeds
    };
    std::string hashed = make_temp_dir("tarn-certdir");
    std::string link_cmd = "cd " + hashed + " && ln -s " + pki + "/ca.pem $(openssl x509 -hash -noout -in " + pki +
                           "/ca.pem).0";
    ASSERT_EQ(0, system(link_cmd.c_str()));
    std::string empty_dir = make_temp_dir("tarn-certdir-empty");
    std::string ca = pki + "/ca.pem", other_ca = other_pki + "/ca.pem";
    const Case cases[] = {
        {"system store from SSL_CERT_FILE", "", ca.c_str(), empty_dir.c_str(), nullptr},
        {"system store from SSL_CERT_DIR", "", "/nonexistent.pem", hashed.c_str(), nullptr},
        {"empty system store", "", "/nonexistent.pem", empty_dir.c_str(), "certificate verification failed"},
        {"another CA", ";CertificateFile=" + other_ca, nullptr, nullptr, "not signed by a trusted authority"},
        {"unreadable certificate file", ";CertificateFile=/nonexistent/ca.pem", nullptr, nullptr,
         "cannot load the certificate file '/nonexistent/ca.pem'"},
        {"trust the server", ";TrustServerCertificate=yes", "/nonexistent.pem", empty_dir.c_str(), nullptr},
    };
    for (const Case &c : cases) {
        if (c.ssl_cert_file) setenv("SSL_CERT_FILE", c.ssl_cert_file, 1);
        else unsetenv("SSL_CERT_FILE");
        if (c.ssl_cert_dir) setenv("SSL_CERT_DIR", c.ssl_cert_dir, 1);
        else unsetenv("SSL_CERT_DIR");
        FakeHttpServer srv(files());
        SQLRETURN rc = connect(srv, "Authentication=HTTP_BASIC;ssl=yes" + c.keys);
        if (!c.error) {
            EXPECT_EQ(SQL_SUCCESS, rc) << c.name << ": " << diags();
        } else {
            EXPECT_EQ(SQL_ERROR, rc) << c.name;
            EXPECT_NE(std::string::npos, diags().find(c.error)) << c.name << ": " << diags();
            EXPECT_EQ(0u, diags().find("08001:")) << c.name << ": " << diags();
        }
        SQLDisconnect(dbc);
    }
    remove_tree(hashed);
    remove_tree(empty_dir);
}

TEST_F(Https, CertificateForAnotherHostIsRefusedUnlessTrusted) {
    FakeHttpServer srv(files());
    tarn_fake::TcpRelay relay("127.0.0.2", srv.port());   // the certificate names localhost and 127.0.0.1 only
    std::string s = "Driver=tarndrv;Server=127.0.0.2;Port=" + std::to_string(relay.port()) +
                    ";Authentication=HTTP_BASIC;ssl=yes;CertificateFile=" + pki + "/ca.pem";
    EXPECT_EQ(SQL_ERROR, SQLDriverConnect(dbc, nullptr, (SQLCHAR *)s.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                          SQL_DRIVER_NOPROMPT));
    EXPECT_NE(std::string::npos, diags().find("does not name '127.0.0.2'")) << diags();
    s += ";TrustServerCertificate=yes";
    EXPECT_EQ(SQL_SUCCESS, SQLDriverConnect(dbc, nullptr, (SQLCHAR *)s.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                            SQL_DRIVER_NOPROMPT))
        << diags();
}

}  // namespace
