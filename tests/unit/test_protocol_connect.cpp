// Connecting against the fake server: the SASL PLAIN exchange and its wire
// bytes, the framing after it, OpenSession, CloseSession, GetInfo, and how
// the connection behaves when the server misbehaves or goes away.
#include <gtest/gtest.h>
#include <thrift/TOutput.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>
#include <unistd.h>

#include "fake_client.h"
#include "fake_server.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_log.h"
#include "spk_logon.h"
#include "spk_sasl.h"
#include "spk_string.h"
#include "spk_tcli.h"
#include "spk_transport.h"

using tarn_fake::Fault;
using tarn_fake::FakeServer;
using tarn_fake::Framing;
using tarn_fake::TestConnection;

namespace {

const std::string kPrefix = "[Quillmark][Tarnwell]";
const std::string kGeneral = kPrefix + "General error: ";
const std::string kRefused = kPrefix + "Invalid authorization specification: ";
const std::string kNoConnect = kPrefix + "Client unable to establish connection: ";
const std::string kLink = kPrefix + "Communication link failure: ";

std::string bytes(const char *data, size_t n) { return std::string(data, n); }

// OpenSession as it must go on the wire: strict header, protocol 9 and the
// two configuration entries, nothing else.
std::string open_session_message() {
    static const unsigned char m[] = {
        0x80, 0x01, 0x00, 0x01,                                                       // strict version, T_CALL
        0x00, 0x00, 0x00, 0x0B, 'O', 'p', 'e', 'n', 'S', 'e', 's', 's', 'i', 'o', 'n',  // name
        0x00, 0x00, 0x00, 0x00,                                                       // seqid 0
        0x0C, 0x00, 0x01,                                                             // req: struct, id 1
        0x08, 0x00, 0x01, 0x00, 0x00, 0x00, 0x09,                                     // client_protocol = 9
        0x0D, 0x00, 0x04, 0x0B, 0x0B, 0x00, 0x00, 0x00, 0x03,                         // configuration, 3 entries
        0x00, 0x00, 0x00, 0x0E, 'U', 's', 'e', 'N', 'a', 't', 'i', 'v', 'e', 'Q', 'u', 'e', 'r', 'y',
        0x00, 0x00, 0x00, 0x01, '0',
        0x00, 0x00, 0x00, 0x08, 'U', 's', 'e', 'P', 'r', 'o', 'x', 'y',
        0x00, 0x00, 0x00, 0x01, '0',
    };
    // The hold of a status poll, so that a cancel goes out promptly.
    static const char poll[] = "\x00\x00\x00\x21hive.server2.long.polling.timeout\x00\x00\x00\x05" "200ms";
    return std::string((const char *)m, sizeof m) + std::string(poll, sizeof poll - 1) + std::string("\0\0", 2);
}

std::string start_frame() { return bytes("\x01\x00\x00\x00\x05PLAIN", 10); }

std::string plain_frame(const std::string &payload) {
    std::string f(1, '\x02');
    f += tarn_fake::be32((uint32_t)payload.size());
    return f + payload;
}

struct TempFile {
    std::string path;
    TempFile() {
        char name[] = "/tmp/tarn_proto_XXXXXX";
        int fd = mkstemp(name);
        if (fd >= 0) close(fd);
        path = name;
    }
    ~TempFile() { unlink(path.c_str()); }
    std::string read() const {
        std::ifstream in(path, std::ios::binary);
        std::stringstream ss;
        ss << in.rdbuf();
        return ss.str();
    }
};

void trace_to(SpkConnection *conn, const TempFile &f) {
    conn->log_flags = LOG_ENTRY | LOG_EXIT | LOG_DETAIL | LOG_ERROR | LOG_PKTDUMP;
    snprintf(conn->log_file, sizeof conn->log_file, "%s", f.path.c_str());
}

void expect_torn_down(const TestConnection &tc) {
    EXPECT_EQ(tc.conn->connected, 0);
    EXPECT_EQ(tc.conn->transport_stack, nullptr);
}

std::string utf8_of(const SpkString *s) {
    char *b = spk_str_to_utf8(s);
    std::string out = b ? b : "";
    free(b);
    return out;
}

}  // namespace

// ---------------------------------------------------------------------------
// Wire bytes

TEST(ProtocolConnect, AnonymousLogonSendsExactFramesThenFramedOpenSession) {
    FakeServer srv;
    TestConnection tc;
    tc.target(srv, AUTH_NONE);
    tc.set_text(&tc.conn->uid, "joe");      // ignored by AUTH_NONE
    tc.set_text(&tc.conn->pwd, "secret");
    ASSERT_EQ(spk_connect(tc.conn), 0) << TestConnection::message(tc.conn);
    EXPECT_EQ(tc.conn->connected, 1);
    EXPECT_EQ(srv.open_sessions(), 1);

    auto recs = srv.records();
    ASSERT_GE(recs.size(), 3u);
    EXPECT_EQ(recs[0].name, "SASL");
    EXPECT_EQ(recs[0].wire, start_frame());
    EXPECT_EQ(recs[1].name, "SASL");
    std::string payload = bytes("\0anonymous\0openguest", 20);
    EXPECT_EQ(recs[1].wire, plain_frame(payload));
    EXPECT_EQ((unsigned char)recs[1].wire[4], 20);
    EXPECT_EQ(recs[2].name, "OpenSession");
    EXPECT_EQ(recs[2].message, open_session_message());
    EXPECT_EQ(recs[2].wire, tarn_fake::be32((uint32_t)open_session_message().size()) + open_session_message());
}

TEST(ProtocolConnect, NoSaslSendsTheBareMessage) {
    FakeServer srv(Framing::NoSasl);
    TestConnection tc;
    tc.target(srv, AUTH_NOSASL);
    ASSERT_EQ(spk_connect(tc.conn), 0) << TestConnection::message(tc.conn);
    auto recs = srv.records();
    ASSERT_EQ(recs.size(), 1u);
    EXPECT_EQ(recs[0].name, "OpenSession");
    EXPECT_EQ(recs[0].wire, open_session_message());

    auto args = tarn_fake::decode_args<tcli::TCLIService_OpenSession_args>(recs[0].message);
    EXPECT_FALSE(args.req.__isset.username);
    EXPECT_FALSE(args.req.__isset.password);
}

TEST(ProtocolConnect, LdapPlainPayloads) {
    struct Case {
        const char *uid;   // null: none
        const char *pwd;
        std::string payload;
    } cases[] = {
        {"joe", "pw", bytes("\0joe\0pw", 7)},
        {"joe", nullptr, bytes("\0joe\0", 5)},
        {nullptr, "pw", bytes("\0\0pw", 4)},
        {nullptr, nullptr, bytes("\0anonymous\0openguest", 20)},
        {"", "", bytes("\0\0", 2)},
        {"j\xC3\xB6rg", "p\xE2\x82\xAC", bytes("\0j\xC3\xB6rg\0p\xE2\x82\xAC", 11)},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.payload.size());
        FakeServer srv;
        TestConnection tc;
        tc.target(srv, AUTH_LDAP);
        tc.set_text(&tc.conn->uid, c.uid);
        tc.set_text(&tc.conn->pwd, c.pwd);
        ASSERT_EQ(spk_connect(tc.conn), 0) << TestConnection::message(tc.conn);
        auto sasl = srv.records("SASL");
        ASSERT_EQ(sasl.size(), 2u);
        EXPECT_EQ(sasl[0].wire, start_frame());
        EXPECT_EQ(sasl[1].wire, plain_frame(c.payload));
    }
}

TEST(ProtocolConnect, ServerCheckSeesUserAndPassword) {
    FakeServer srv;
    std::string seen_user, seen_password;
    srv.sasl().check = [&](const std::string &u, const std::string &p) {
        seen_user = u;
        seen_password = p;
        return true;
    };
    TestConnection tc;
    tc.target(srv, AUTH_LDAP);
    tc.set_text(&tc.conn->uid, "analyst");
    tc.set_text(&tc.conn->pwd, "pa:ss word");
    ASSERT_EQ(spk_connect(tc.conn), 0);
    EXPECT_EQ(seen_user, "analyst");
    EXPECT_EQ(seen_password, "pa:ss word");
}

// ---------------------------------------------------------------------------
// SASL failures

TEST(ProtocolConnect, SaslFailuresAreReportedAndTearDown) {
    struct Case {
        const char *what;
        std::function<void(tarn_fake::SaslScript &)> script;
        std::string message;   // full message, or a prefix when `prefix`
        bool prefix;
    } cases[] = {
        {"BAD with text", [](auto &s) { s.status = 3, s.payload = "bad password"; },
         kRefused + "SASL Error response: (3,12) bad password", false},
        {"ERROR with text", [](auto &s) { s.status = 4, s.payload = "server failed"; },
         kNoConnect + "SASL Error response: (4,13) server failed", false},
        {"OK instead of COMPLETE", [](auto &s) { s.status = 2, s.payload = "more"; },
         kNoConnect + "SASL Error response: (2,4) more", false},
        {"unexpected byte 7", [](auto &s) { s.status = 7; }, kNoConnect + "SASL Error response: Unexpected byte 7", false},
        {"unexpected byte 200", [](auto &s) { s.status = 200, s.payload = "x"; },
         kNoConnect + "SASL Error response: Unexpected byte 200", false},
        {"long text cut to 511 bytes",
         [](auto &s) { s.raw = std::string("\x03\x00\x00\x07\xD0", 5) + std::string(2000, 'x'); },
         kRefused + "SASL Error response: (3,2000) " + std::string(511, 'x'), false},
        {"text shorter than announced",
         [](auto &s) { s.raw = std::string("\x04\x00\x00\x00\x40", 5) + "short"; },
         kNoConnect + "SASL Error response: (4,64) short", false},
        {"login refused", [](auto &s) { s.check = [](auto &, auto &) { return false; }; },
         kRefused + "SASL Error response: (3,26) Error validating the login", false},
        {"dropped after the PLAIN frame", [](auto &s) { s.drop = true; }, kNoConnect + "read fails: '", true},
        {"dropped on accept", [](auto &s) { s.drop_on_accept = true; }, kNoConnect + "read fails: '", true},
        {"half a header", [](auto &s) { s.raw = std::string("\x05\x00", 2); }, kNoConnect + "read fails: '", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakeServer srv;
        c.script(srv.sasl());
        TestConnection tc;
        tc.target(srv, AUTH_NONE);
        EXPECT_EQ(spk_connect(tc.conn), -1);
        ASSERT_EQ(TestConnection::count(tc.conn), 1);
        // A refusal of the credentials is 28000, anything else 08001.
        EXPECT_EQ(TestConnection::sqlstate(tc.conn), c.message.rfind(kRefused, 0) == 0 ? "28000" : "08001");
        std::string got = TestConnection::message(tc.conn);
        if (c.prefix)
            EXPECT_EQ(got.substr(0, c.message.size()), c.message) << got;
        else
            EXPECT_EQ(got, c.message);
        expect_torn_down(tc);
        EXPECT_TRUE(srv.records("OpenSession").empty());
    }
}

// ---------------------------------------------------------------------------
// Connect failures before and after the socket

TEST(ProtocolConnect, RefusedConnection) {
    int port;
    {
        FakeServer gone;
        port = gone.port();
    }
    TestConnection tc;
    tc.set_text(&tc.conn->server, "127.0.0.1");
    tc.conn->port = port;
    EXPECT_EQ(spk_connect(tc.conn), -1);
    std::string m = TestConnection::message(tc.conn);
    EXPECT_EQ(TestConnection::sqlstate(tc.conn), "08001");
    EXPECT_EQ(m.substr(0, kNoConnect.size() + 19), kNoConnect + "connecting fails: '") << m;
    EXPECT_NE(m.find("refused"), std::string::npos) << m;
    expect_torn_down(tc);
}

TEST(ProtocolConnect, MethodsThisBuildCannotServeFailWithoutTraffic) {
    struct Case {
        int authentication;
        int encrypt;
        std::string text;
    } cases[] = {
        {9, 0, "Unsupported authentication method 9"},
        {-2, 0, "Unsupported authentication method -2"},
        {7, 1, "Unsupported authentication method 7"},
        {AUTH_HTTP_OAUTH, 0, "OAUTH Authentication requires a AccessToken"},
        {AUTH_HTTP_OAUTH, 1, "OAUTH Authentication requires a AccessToken"},
    };
    FakeServer srv;
    for (const Case &c : cases) {
        SCOPED_TRACE(c.text);
        TestConnection tc;
        tc.target(srv, c.authentication);
        tc.conn->authentication = c.authentication;
        tc.conn->encrypt = c.encrypt;
        EXPECT_EQ(spk_connect(tc.conn), -1);
        EXPECT_EQ(TestConnection::sqlstate(tc.conn), "HY000");
        EXPECT_EQ(TestConnection::message(tc.conn), kGeneral + c.text);
        expect_torn_down(tc);
    }
    EXPECT_EQ(srv.connections(), 0);
}

TEST(ProtocolConnect, NoServerMeansLocalhostAndPortZeroMeans10000) {
    TempFile trace;
    TestConnection tc;
    trace_to(tc.conn, trace);
    tc.conn->authentication = 9;   // fails before any traffic
    EXPECT_EQ(spk_connect(tc.conn), -1);
    std::string log = trace.read();
    EXPECT_NE(log.find("connecting to 'localhost':10000"), std::string::npos) << log;
    EXPECT_NE(log.find("spk_connect, ret=-1"), std::string::npos) << log;
}

TEST(ProtocolConnect, OpenSessionFailures) {
    std::string missing_status = tarn_fake::message_bytes("OpenSession", 2, 0, [](auto &p) {
        p.writeStructBegin("result");
        p.writeFieldBegin("success", apache::thrift::protocol::T_STRUCT, 0);
        p.writeStructBegin("TOpenSessionResp");
        p.writeFieldBegin("serverProtocolVersion", apache::thrift::protocol::T_I32, 2);
        p.writeI32(9);
        p.writeFieldEnd();
        p.writeFieldStop();
        p.writeStructEnd();
        p.writeFieldEnd();
        p.writeFieldStop();
        p.writeStructEnd();
    });
    std::string no_success = tarn_fake::message_bytes("OpenSession", 2, 0, [](auto &p) {
        p.writeStructBegin("result");
        p.writeFieldStop();
        p.writeStructEnd();
    });
    struct Case {
        const char *what;
        Framing framing;
        std::function<void(FakeServer &)> setup;
        std::string message;
        bool prefix;
    } cases[] = {
        {"no session handle", Framing::Sasl,
         [](FakeServer &s) {
             s.handlers().OpenSession = [](auto &, tcli::TOpenSessionResp &r) { r.__isset.sessionHandle = false; };
         },
         kNoConnect + "failed to get session handle", false},
        {"application exception", Framing::Sasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::AppException, "boom"); },
         kNoConnect + "open session: 'application error: boom'", false},
        {"reply of type call", Framing::Sasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::WrongMessageType, "", 1); },
         kNoConnect + "open session: 'invalid message type 1, expected T_REPLY'", false},
        {"reply of type oneway", Framing::NoSasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::WrongMessageType, "", 4); },
         kNoConnect + "open session: 'invalid message type 4, expected T_REPLY'", false},
        {"reply to another call", Framing::Sasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::WrongName, "CloseSession"); },
         kNoConnect + "open session: 'wrong method name CloseSession, expected OpenSession'", false},
        {"required field missing", Framing::Sasl,
         [&](FakeServer &s) { s.fail_next("OpenSession", Fault::Raw, missing_status); },
         kNoConnect + "open session: 'missing field'", false},
        {"no result", Framing::NoSasl, [&](FakeServer &s) { s.fail_next("OpenSession", Fault::Raw, no_success); },
         kNoConnect + "open session: 'OpenSession failed: unknown result'", false},
        {"dropped", Framing::Sasl, [](FakeServer &s) { s.fail_next("OpenSession", Fault::Drop); },
         kNoConnect + "open session: '", true},
        {"dropped mid reply", Framing::Sasl, [](FakeServer &s) { s.fail_next("OpenSession", Fault::DropMidReply); },
         kNoConnect + "open session: '", true},
        {"dropped mid reply, no frames", Framing::NoSasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::DropMidReply); }, kNoConnect + "open session: '", true},
        {"an HTTP answer", Framing::NoSasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::Garbage, "HTTP/1.1 400 Bad Request\r\n\r\n"); },
         kNoConnect + "open session: '", true},
        {"an absurd frame length", Framing::Sasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::Garbage, std::string("\x7f\xff\xff\xff", 4)); },
         kNoConnect + "open session: '", true},
        {"a negative frame length", Framing::Sasl,
         [](FakeServer &s) { s.fail_next("OpenSession", Fault::Garbage, std::string("\xff\xff\xff\xf0", 4)); },
         kNoConnect + "open session: '", true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakeServer srv(c.framing);
        c.setup(srv);
        TestConnection tc;
        tc.target(srv);
        EXPECT_EQ(spk_connect(tc.conn), -1);
        EXPECT_EQ(TestConnection::sqlstate(tc.conn), "08001");
        std::string got = TestConnection::message(tc.conn);
        if (c.prefix) {
            EXPECT_EQ(got.substr(0, c.message.size()), c.message) << got;
            EXPECT_GT(got.size(), c.message.size() + 1) << "the runtime's own text is missing";
        } else {
            EXPECT_EQ(got, c.message);
        }
        expect_torn_down(tc);
    }
}

TEST(ProtocolConnect, OpenSessionErrorStatusWithoutHandleKeepsTheServerReason) {
    FakeServer srv;
    srv.handlers().OpenSession = [](auto &, tcli::TOpenSessionResp &r) {
        r.__isset.sessionHandle = false;
        r.status = tarn_fake::error_status("Failed to open new session: access denied", "28000", 17);
    };
    TestConnection tc;
    tc.target(srv);
    EXPECT_EQ(spk_connect(tc.conn), -1);
    ASSERT_EQ(TestConnection::count(tc.conn), 2);
    EXPECT_EQ(TestConnection::sqlstate(tc.conn, 1), "28000");
    EXPECT_EQ(TestConnection::native(tc.conn, 1), 17);
    EXPECT_EQ(TestConnection::message(tc.conn, 1), kPrefix + "Failed to open new session: access denied");
    EXPECT_EQ(TestConnection::message(tc.conn, 2), kNoConnect + "failed to get session handle");
}

TEST(ProtocolConnect, OpenSessionStatusIsNotExaminedWhenAHandleCame) {
    FakeServer srv;
    srv.handlers().OpenSession = [](auto &, tcli::TOpenSessionResp &r) {
        r.status = tarn_fake::error_status("odd but harmless");
    };
    TestConnection tc;
    tc.target(srv);
    EXPECT_EQ(spk_connect(tc.conn), 0);
    EXPECT_EQ(TestConnection::count(tc.conn), 0);
}

TEST(ProtocolConnect, ConnectingTwiceIsRefused) {
    FakeServer srv;
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    EXPECT_EQ(spk_connect(tc.conn), -1);
    EXPECT_EQ(TestConnection::sqlstate(tc.conn), "08002");
    EXPECT_EQ(tc.conn->connected, 1);
    EXPECT_EQ(srv.open_sessions(), 1);
}

// ---------------------------------------------------------------------------
// Disconnect

TEST(ProtocolConnect, DisconnectSendsCloseSessionWithTheSessionHandle) {
    for (Framing framing : {Framing::Sasl, Framing::NoSasl}) {
        FakeServer srv(framing);
        tcli::TSessionHandle issued;
        srv.handlers().OpenSession = [&](auto &, tcli::TOpenSessionResp &r) { issued = r.sessionHandle; };
        TestConnection tc;
        tc.target(srv);
        ASSERT_EQ(spk_connect(tc.conn), 0);
        EXPECT_EQ(spk_disconnect(tc.conn), 0);
        expect_torn_down(tc);
        EXPECT_EQ(srv.open_sessions(), 0);
        auto closes = srv.records("CloseSession");
        ASSERT_EQ(closes.size(), 1u);
        auto args = tarn_fake::decode_args<tcli::TCLIService_CloseSession_args>(closes[0].message);
        EXPECT_EQ(args.req.sessionHandle.sessionId.guid, issued.sessionId.guid);
        EXPECT_EQ(args.req.sessionHandle.sessionId.secret, issued.sessionId.secret);
        EXPECT_EQ(args.req.sessionHandle.sessionId.guid.size(), 16u);
    }
}

TEST(ProtocolConnect, FailedCloseSessionPostsNothingAndDisconnectCompletes) {
    FakeServer srv;
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    srv.fail_next("CloseSession", Fault::AppException, "cannot close");
    EXPECT_EQ(spk_close_session(tc.conn), -6);
    EXPECT_EQ(TestConnection::count(tc.conn), 0);
    ASSERT_NE(tc.conn->transport_stack, nullptr);
    EXPECT_NE(tc.conn->transport_stack->session_handle, nullptr);   // kept after a failure
    EXPECT_EQ(spk_disconnect(tc.conn), 0);
    EXPECT_EQ(TestConnection::count(tc.conn), 0);
    expect_torn_down(tc);
}

TEST(ProtocolConnect, DisconnectOfAConnectionWhoseServerVanished) {
    auto srv = std::make_unique<FakeServer>();
    TestConnection tc;
    tc.target(*srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    srv.reset();
    EXPECT_EQ(spk_disconnect(tc.conn), 0);
    EXPECT_EQ(TestConnection::count(tc.conn), 0);
    expect_torn_down(tc);
}

// ---------------------------------------------------------------------------
// GetInfo

TEST(ProtocolGetInfo, StringAnswers) {
    FakeServer srv;
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    struct Case {
        int type;
        const char *text;
    } cases[] = {{13, "Spark SQL"}, {17, "Spark SQL"}, {18, "4.0.1"}};
    for (const Case &c : cases) {
        SpkString *out = nullptr;
        EXPECT_EQ(spk_get_string_info(tc.conn, c.type, &out), 0);
        EXPECT_EQ(utf8_of(out), c.text);
        spk_str_free(out);
    }
    auto infos = srv.records("GetInfo");
    ASSERT_EQ(infos.size(), 3u);
    auto args = tarn_fake::decode_args<tcli::TCLIService_GetInfo_args>(infos[2].message);
    EXPECT_EQ((int)args.req.infoType, 18);
    EXPECT_EQ(args.req.sessionHandle.sessionId.guid.size(), 16u);
}

TEST(ProtocolGetInfo, Outcomes) {
    struct Case {
        const char *what;
        std::function<void(FakeServer &)> setup;
        int result;
        const char *text;        // expected text, null: none
        const char *sqlstate;    // expected first diagnostic, null: none
        int native;
        std::string message;
    } cases[] = {
        {"no string value",
         [](FakeServer &s) {
             s.handlers().GetInfo = [](auto &, tcli::TGetInfoResp &r) {
                 r.infoValue = tcli::TGetInfoValue();
                 r.infoValue.__set_smallIntValue(5);
             };
         },
         0, nullptr, nullptr, 0, ""},
        {"UTF-8 text",
         [](FakeServer &s) {
             s.handlers().GetInfo = [](auto &, tcli::TGetInfoResp &r) {
                 r.infoValue.__set_stringValue("Sp\xC3\xA4rk \xE2\x98\x83");
             };
         },
         0, "Sp\xC3\xA4rk \xE2\x98\x83", nullptr, 0, ""},
        {"error status",
         [](FakeServer &s) {
             s.handlers().GetInfo = [](auto &, tcli::TGetInfoResp &r) {
                 r.status = tarn_fake::error_status("no such item", "HYC00", 42);
             };
         },
         -1, nullptr, "HYC00", 42, kPrefix + "no such item"},
        {"success with info",
         [](FakeServer &s) {
             s.handlers().GetInfo = [](auto &, tcli::TGetInfoResp &r) {
                 r.status = tarn_fake::error_status("take note", "01000", 0,
                                                    tcli::TStatusCode::SUCCESS_WITH_INFO_STATUS);
             };
         },
         -1, nullptr, "01000", 0, kPrefix + "take note"},
        {"bare error status",
         [](FakeServer &s) {
             s.handlers().GetInfo = [](auto &, tcli::TGetInfoResp &r) { r.status = tarn_fake::error_status(""); };
         },
         -1, nullptr, "HY000", 0, kPrefix + "General Error"},
        {"application exception", [](FakeServer &s) { s.fail_next("GetInfo", Fault::AppException, "nope"); }, -1,
         nullptr, "HY000", 0, kGeneral + "t_c_l_i_service_if_get_info fails: 'application error: nope'"},
        {"reply of another call", [](FakeServer &s) { s.fail_next("GetInfo", Fault::WrongName, "GetInfoX"); }, -1,
         nullptr, "08S01", 0,
         kLink + "t_c_l_i_service_if_get_info fails: 'wrong method name GetInfoX, expected GetInfo'"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        FakeServer srv;
        c.setup(srv);
        TestConnection tc;
        tc.target(srv);
        ASSERT_EQ(spk_connect(tc.conn), 0);
        SpkString *out = nullptr;
        EXPECT_EQ(spk_get_string_info(tc.conn, 17, &out), c.result);
        if (c.text)
            EXPECT_EQ(utf8_of(out), c.text);
        else
            EXPECT_EQ(out, nullptr);
        spk_str_free(out);
        if (c.sqlstate) {
            EXPECT_EQ(TestConnection::sqlstate(tc.conn), c.sqlstate);
            EXPECT_EQ(TestConnection::native(tc.conn), c.native);
            EXPECT_EQ(TestConnection::message(tc.conn), c.message);
        } else {
            EXPECT_EQ(TestConnection::count(tc.conn), 0);
        }
    }
}

TEST(ProtocolGetInfo, AnItemTheServerCannotAnswerCostsTheConnection) {
    // The real server drops the connection for an item it does not know.
    FakeServer srv;
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    SpkString *out = nullptr;
    EXPECT_EQ(spk_get_string_info(tc.conn, 47, &out), -1);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(TestConnection::sqlstate(tc.conn), "08S01");
    EXPECT_EQ(TestConnection::message(tc.conn), kLink + "t_c_l_i_service_if_get_info fails: 'No more data to read.'");
    EXPECT_TRUE(spk_tcli_broken(tc.conn));
}

TEST(ProtocolTrace, Names) {
    char buffer[16];
    struct {
        int value;
        const char *name;
    } infos[] = {{13, "T_GET_INFO_TYPE_CLI_SERVER_NAME"},
                 {17, "T_GET_INFO_TYPE_CLI_DBMS_NAME"},
                 {18, "T_GET_INFO_TYPE_CLI_DBMS_VER"},
                 {0, "T_GET_INFO_TYPE_CLI_MAX_DRIVER_CONNECTIONS"},
                 {10006, "T_GET_INFO_TYPE_CLI_ODBC_KEYWORDS"},
                 {3, "3"},
                 {-7, "-7"}},
      types[] = {{0, "T_TYPE_ID_BOOLEAN_TYPE"},
                 {15, "T_TYPE_ID_DECIMAL_TYPE"},
                 {22, "T_TYPE_ID_TIMESTAMPLOCALTZ_TYPE"},
                 {23, "23"},
                 {-1, "-1"}};
    for (auto &c : infos) EXPECT_STREQ(spk_info_type_name(c.value, buffer), c.name);
    for (auto &c : types) EXPECT_STREQ(spk_type_id_name(c.value, buffer), c.name);
}

TEST(ProtocolTrace, StatusAndInfoRecords) {
    TempFile trace;
    FakeServer srv;
    int code = 3;
    srv.handlers().GetInfo = [&](auto &, tcli::TGetInfoResp &r) {
        r.status = tarn_fake::error_status("x", "", 0, (tcli::TStatusCode::type)code);
    };
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    trace_to(tc.conn, trace);
    SpkString *out = nullptr;
    EXPECT_EQ(spk_get_string_info(tc.conn, 17, &out), -1);
    code = 9;
    EXPECT_EQ(spk_get_string_info(tc.conn, 18, &out), -1);
    std::string log = trace.read();
    EXPECT_NE(log.find("spk_get_string_info: 17 (T_GET_INFO_TYPE_CLI_DBMS_NAME)"), std::string::npos) << log;
    EXPECT_NE(log.find("Status 3 T_STATUS_CODE_ERROR_STATUS"), std::string::npos) << log;
    EXPECT_NE(log.find("Status 9 9"), std::string::npos) << log;
    EXPECT_NE(log.find("spk_get_string_info: 18: -1, '"), std::string::npos) << log;
}

// ---------------------------------------------------------------------------
// A server that goes away or goes quiet

TEST(ProtocolBroken, DroppedPeerGivesAnErrorAndTheConnectionReportsItselfBroken) {
    FakeServer srv;
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    srv.fail_next("GetInfo", Fault::Drop);
    SpkString *out = nullptr;
    EXPECT_EQ(spk_get_string_info(tc.conn, 17, &out), -1);
    std::string first = TestConnection::message(tc.conn);
    std::string expected = kLink + "t_c_l_i_service_if_get_info fails: '";
    EXPECT_EQ(first.substr(0, expected.size()), expected) << first;
    EXPECT_TRUE(spk_tcli_broken(tc.conn));

    spk_clear_errors(tc.conn);
    size_t seen = srv.records().size();
    EXPECT_EQ(spk_get_string_info(tc.conn, 18, &out), -1);
    EXPECT_EQ(TestConnection::sqlstate(tc.conn), "08S01");
    std::string second = TestConnection::message(tc.conn);
    EXPECT_EQ(second.substr(0, kPrefix.size() + 27), kPrefix + "Communication link failure:") << second;
    EXPECT_EQ(srv.records().size(), seen) << "nothing more may go to the server";

    spk_clear_errors(tc.conn);
    EXPECT_EQ(spk_disconnect(tc.conn), 0);
    EXPECT_EQ(TestConnection::count(tc.conn), 0);
    expect_torn_down(tc);
}

TEST(ProtocolBroken, WritingToAVanishedPeerDoesNotRaiseSigpipe) {
    struct sigaction old_action;
    struct sigaction dfl {};
    dfl.sa_handler = SIG_DFL;
    sigaction(SIGPIPE, &dfl, &old_action);   // a raised SIGPIPE would end this test process
    for (Framing framing : {Framing::Sasl, Framing::NoSasl}) {
        auto srv = std::make_unique<FakeServer>(framing);
        TestConnection tc;
        tc.target(*srv);
        ASSERT_EQ(spk_connect(tc.conn), 0);
        srv.reset();
        usleep(50 * 1000);
        SpkStatement *stmt = spk_stmt_new(tc.conn);
        tcli::TOperationHandle op;
        std::string big(16 << 20, 'x');
        EXPECT_EQ(spk_tcli_execute_statement(stmt, "SELECT '" + big + "'", &op), -1);
        std::string m = TestConnection::message(stmt);
        std::string expected = kLink + "t_c_l_i_service_if_execute_statement fails: '";
        EXPECT_EQ(m.substr(0, expected.size()), expected) << m;
        EXPECT_TRUE(spk_tcli_broken(tc.conn));
    }
    sigaction(SIGPIPE, &old_action, nullptr);
}

TEST(ProtocolBroken, SilentServerTimesOutWithTheConnectionTimeout) {
    FakeServer srv;
    TestConnection tc;
    tc.target(srv);
    tc.conn->attrs.connection_timeout = 1;
    ASSERT_EQ(spk_connect(tc.conn), 0);
    srv.fail_next("GetInfo", Fault::Silent);
    auto start = std::chrono::steady_clock::now();
    SpkString *out = nullptr;
    EXPECT_EQ(spk_get_string_info(tc.conn, 17, &out), -1);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_LT(waited, std::chrono::seconds(5));
    EXPECT_GE(waited, std::chrono::milliseconds(900));
    EXPECT_TRUE(spk_tcli_broken(tc.conn));
}

TEST(ProtocolBroken, SilentServerDuringLogonTimesOutWithTheLoginTimeout) {
    FakeServer srv;
    srv.fail_next("OpenSession", Fault::Silent);
    TestConnection tc;
    tc.target(srv);
    tc.conn->attrs.login_timeout = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(spk_connect(tc.conn), -1);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));
    std::string m = TestConnection::message(tc.conn);
    EXPECT_EQ(TestConnection::sqlstate(tc.conn), "HYT00");
    const std::string timeout = kPrefix + "Timeout expired: open session: '";
    EXPECT_EQ(m.substr(0, timeout.size()), timeout) << m;
    expect_torn_down(tc);
}

// ---------------------------------------------------------------------------
// Trace

TEST(ProtocolTrace, PasswordNeverReachesTheTrace) {
    TempFile trace;
    FakeServer srv;
    TestConnection tc;
    tc.target(srv, AUTH_LDAP);
    trace_to(tc.conn, trace);
    tc.set_text(&tc.conn->uid, "analyst");
    tc.set_text(&tc.conn->pwd, "Zq7-secret");
    ASSERT_EQ(spk_connect(tc.conn), 0);
    std::string log = trace.read();
    EXPECT_NE(log.find("Sending Auth"), std::string::npos) << log;
    EXPECT_NE(log.find("Auth Buffer"), std::string::npos) << log;
    EXPECT_NE(log.find("analyst"), std::string::npos) << log;
    EXPECT_EQ(log.find("Zq7"), std::string::npos) << log;
    EXPECT_EQ(log.find("5a 71 37"), std::string::npos) << log;   // the password in hexadecimal, either case
    EXPECT_EQ(log.find("5A 71 37"), std::string::npos) << log;
    EXPECT_NE(log.find("74 00 2A 2A"), std::string::npos) << log;   // "t", NUL, the mask
    // The password really went to the server.
    EXPECT_NE(srv.records("SASL")[1].wire.find("Zq7-secret"), std::string::npos);
}

TEST(ProtocolTrace, ThriftMessagesGoToTheTraceNotToStderr) {
    int port;
    {
        FakeServer gone;
        port = gone.port();
    }
    TempFile trace;
    TestConnection tc;
    tc.set_text(&tc.conn->server, "127.0.0.1");
    tc.conn->port = port;
    trace_to(tc.conn, trace);
    testing::internal::CaptureStderr();
    EXPECT_EQ(spk_connect(tc.conn), -1);
    {
        // What the runtime itself prints during a connection's exchange.
        SpkTransportGuard guard(tc.conn);
        apache::thrift::GlobalOutput("TSocket::open() connect() <Host: 127.0.0.1>");
    }
    std::string err = testing::internal::GetCapturedStderr();
    EXPECT_EQ(err.find("TSocket"), std::string::npos) << err;
    std::string log = trace.read();
    EXPECT_NE(log.find("Thrift: "), std::string::npos) << log;
    EXPECT_NE(log.find("connecting fails: '"), std::string::npos) << log;
}

// ---------------------------------------------------------------------------
// One connection, many threads

TEST(ProtocolConcurrency, ExchangesOfOneConnectionNeverInterleave) {
    FakeServer srv;
    srv.handlers().GetInfo = [](const tcli::TGetInfoReq &req, tcli::TGetInfoResp &r) {
        r.status = tarn_fake::ok_status();
        r.infoValue.__set_stringValue("answer " + std::to_string((int)req.infoType) + std::string(3000, '.'));
    };
    TestConnection tc;
    tc.target(srv);
    ASSERT_EQ(spk_connect(tc.conn), 0);
    const int kThreads = 4, kCalls = 40;
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; t++) {
        threads.emplace_back([&, t] {
            int type = 13 + t;
            for (int i = 0; i < kCalls; i++) {
                std::string text;
                bool has = false;
                if (spk_tcli_get_info(tc.conn, type, &text, &has) != 0 || !has ||
                    text != "answer " + std::to_string(type) + std::string(3000, '.'))
                    wrong++;
            }
        });
    }
    for (auto &th : threads) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_EQ(srv.records("GetInfo").size(), (size_t)(kThreads * kCalls));
    EXPECT_FALSE(spk_tcli_broken(tc.conn));
}
