// Connection settings: value rules, connection strings, DSN reading in both
// modes against a private odbc.ini, the output connection string and the
// completion record.
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <optional>
#include <sstream>
#include <string>

#include "connect/spk_installer.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"
#include "core/spk_handle.h"
#include "core/spk_log.h"
#include "spk_connect_info.h"
#include "spk_keywords.h"
#include "tarn_test_support.h"

namespace {

using Text = std::optional<std::string>;   // UTF-8; nullopt = none

std::string utf8_of(const SpkString *s) {
    char *p = spk_str_to_utf8(s);
    std::string out = p ? p : "";
    free(p);
    return out;
}

Text text_of(const SpkString *s) {
    if (!s) return std::nullopt;
    return utf8_of(s);
}

struct Str {
    SpkString *s;
    explicit Str(SpkString *p) : s(p) {}
    ~Str() { spk_str_free(s); }
    Str(const Str &) = delete;
    Str &operator=(const Str &) = delete;
};

SpkString *wide(const std::u16string &text) {
    static const spk_unit none = 0;
    return spk_str_from_wide(text.empty() ? &none : (const spk_unit *)text.data(), (long)text.size());
}

// A connection on its own environment.
struct Conn {
    SpkEnvironment *env;
    SpkConnection *c;
    Conn() : env(spk_env_new()), c(spk_conn_new(env, 3)) {}
    ~Conn() {
        spk_conn_free(c, true);
        spk_env_free(env);
    }
    int parse(const std::u16string &s) {
        Str in(wide(s));
        return parse_connection_string(c, in.s);
    }
    std::string out(bool masked = false) {
        Str o(masked ? make_output_connection_string_masked(c) : make_output_connection_string(c));
        return utf8_of(o.s);
    }
};

// The private odbc.ini, written once: the installer library caches what it
// read per section and key, so every case uses its own data source.
class OdbcIni : public ::testing::Environment {
  public:
    static tarn_test::PrivateOdbcConfig *config;
    static std::string trace;
    void SetUp() override {
        config = new tarn_test::PrivateOdbcConfig();
        trace = config->dir() + "/trace.log";
        config->add_dsn("full", {{"Server", "dsnhost"},
                                 {"Port", "1234"},
                                 {"User", "dsnuser"},
                                 {"Password", "dsnpw;x"},
                                 {"Col_Length", "512"},
                                 {"Encrypt", "yes"},
                                 {"TrustServerCertificate", "true"},
                                 {"CertificateFile", "/ca.pem"},
                                 {"Authentication", "LDAP"},
                                 {"AccessToken", "dsntok"},
                                 {"KrbPrinciple", "hive/x@R"},
                                 {"GSSLIB", "libgss.so"},
                                 {"GSSFLAG", "0x20"},
                                 {"HttpUri", "/cli"},
                                 {"Description", "not read"}});
        config->add_dsn("traced", {{"Server", "dsnhost"},
                                   {"User", "dsnuser"},
                                   {"Password", "dsnsecret"},
                                   {"AccessToken", "dsntoken"},
                                   {"Logging", "yes"},
                                   {"LogFile", trace}});
        config->add_dsn("empty", {});
        config->add_dsn("blank", {{"Server", ""}, {"Port", ""}, {"Col_Length", ""}, {"Authentication", ""}});
        config->add_dsn("lower", {{"server", "lowhost"}, {"PORT", "77"}, {"authentication", "kerb"}});
        config->add_dsn("sérvice", {{"Server", "hôte"}, {"User", "Jürgen €"}});
        config->add_dsn("switches", {{"Encrypt", "0x3"}, {"TrustServerCertificate", "on"}, {"Authentication", "0x6"},
                                     {"Logging", "onerror"}, {"LogFile", config->dir() + "/x.log"}});
        config->add_dsn("longlog", {{"Server", "h"}, {"LogFile", std::string(300, 'a')}});
        // More key names than the 8192-byte key list holds; "Server" and
        // "Port" sort after all of them.
        std::map<std::string, std::string> many = {{"Server", "manyhost"}, {"Port", "4321"}};
        for (int i = 0; i < 300; i++) many.emplace("Filler_key_with_a_long_name_" + std::to_string(1000 + i), "x");
        config->add_dsn("manykeys", many);
    }
    void TearDown() override {
        delete config;
        config = nullptr;
    }
};
tarn_test::PrivateOdbcConfig *OdbcIni::config = nullptr;
std::string OdbcIni::trace;
const ::testing::Environment *const odbc_ini_env = ::testing::AddGlobalTestEnvironment(new OdbcIni);

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

// ---------------------------------------------------------------------------
// Value rules

struct RuleCase {
    int rule;
    const char *text;
    int32_t expected;
};

TEST(SettingsRules, ValuesFollowTheirRule) {
    const RuleCase cases[] = {
        {SPK_RULE_DECIMAL, "1234", 1234},
        {SPK_RULE_DECIMAL, "  -12x", -12},
        {SPK_RULE_DECIMAL, "+7", 7},
        {SPK_RULE_DECIMAL, "0x10", 0},
        {SPK_RULE_DECIMAL, "010", 10},
        {SPK_RULE_DECIMAL, "", 0},
        {SPK_RULE_DECIMAL, "abc", 0},
        {SPK_RULE_DECIMAL, "99999999999", INT32_MAX},
        {SPK_RULE_DECIMAL, "-99999999999", INT32_MIN},
        {SPK_RULE_AUTO_BASE, "0x10", 16},
        {SPK_RULE_AUTO_BASE, "0X1f", 31},
        {SPK_RULE_AUTO_BASE, "010", 8},
        {SPK_RULE_AUTO_BASE, "08", 0},
        {SPK_RULE_AUTO_BASE, "0x", 0},
        {SPK_RULE_AUTO_BASE, " -0x10", -16},
        {SPK_RULE_AUTO_BASE, "0xFFFFFFFFFF", INT32_MAX},
        {SPK_RULE_LOGGING, "yes", 0x1F},
        {SPK_RULE_LOGGING, "TRUE", 0x1F},
        {SPK_RULE_LOGGING, "On", 0x1F},
        {SPK_RULE_LOGGING, "onerror", 0x5F},
        {SPK_RULE_LOGGING, "Error", 0x5F},
        {SPK_RULE_LOGGING, "process", 0x3F},
        {SPK_RULE_LOGGING, "no", 0},
        {SPK_RULE_LOGGING, "OFF", 0},
        {SPK_RULE_LOGGING, "0x10", 16},
        {SPK_RULE_LOGGING, "020", 16},
        {SPK_RULE_LOGGING, "yes ", 0},
        {SPK_RULE_SWITCH, "on", 1},
        {SPK_RULE_SWITCH, "Yes", 1},
        {SPK_RULE_SWITCH, "false", 0},
        {SPK_RULE_SWITCH, "0x2", 2},
        {SPK_RULE_TRUST_DSN, "true", 1},
        {SPK_RULE_TRUST_DSN, "YES", 1},
        {SPK_RULE_TRUST_DSN, "no", 0},
        {SPK_RULE_TRUST_DSN, "on", 0},
        {SPK_RULE_TRUST_DSN, "07", 7},
        {SPK_RULE_TRUST_KEYWORD, "true", 1},
        {SPK_RULE_TRUST_KEYWORD, "1", 0},
        {SPK_RULE_TRUST_KEYWORD, "on", 0},
        {SPK_RULE_AUTH_DSN, "none", 0},
        {SPK_RULE_AUTH_DSN, "NoSasl", 1},
        {SPK_RULE_AUTH_DSN, "ldap", 2},
        {SPK_RULE_AUTH_DSN, "kerb", 3},
        {SPK_RULE_AUTH_DSN, "KERBEROS", 3},
        {SPK_RULE_AUTH_DSN, "ad", 4},
        {SPK_RULE_AUTH_DSN, "basic", 5},
        {SPK_RULE_AUTH_DSN, "http_basic", 5},
        {SPK_RULE_AUTH_DSN, "OAuth", 6},
        {SPK_RULE_AUTH_DSN, "HTTP_OAUTH", 6},
        {SPK_RULE_AUTH_DSN, "0x6", 0},
        {SPK_RULE_AUTH_DSN, "9", 9},
        {SPK_RULE_AUTH_KEYWORD, "0x6", 6},
        {SPK_RULE_AUTH_KEYWORD, "kerberos", 3},
    };
    for (const RuleCase &c : cases)
        EXPECT_EQ(spk_rule_value(c.rule, c.text), c.expected) << "rule " << c.rule << " text '" << c.text << "'";
}

TEST(SettingsRules, OneTableServesKeysKeywordsAndOutput) {
    EXPECT_EQ(spk_keyword_find("SSL"), spk_keyword(SPK_SET_ENCRYPT));
    EXPECT_EQ(spk_keyword_find("Encrypt"), nullptr);   // the DSN key is not a keyword
    EXPECT_EQ(spk_keyword_find("password"), spk_keyword(SPK_SET_PWD));
    EXPECT_EQ(spk_keyword_find("USER"), spk_keyword(SPK_SET_UID));
    EXPECT_EQ(spk_keyword_find("DRIVER"), nullptr);
    EXPECT_STREQ(spk_keyword(SPK_SET_ENCRYPT)->dsn_key, "Encrypt");
    EXPECT_EQ(spk_keyword(SPK_SET_DESCRIPTION)->keyword, nullptr);
    for (int id = 0; id < SPK_SET_COUNT; id++) EXPECT_EQ(spk_keyword(id)->id, id);
    EXPECT_STREQ(spk_auth_out_name(1), "NoSASL");
    EXPECT_STREQ(spk_auth_out_name(42), "NoSASL");
    EXPECT_EQ(spk_auth_out_name(0), nullptr);
    for (int code = 0; code < SPK_AUTH_CODE_COUNT; code++) EXPECT_EQ(spk_auth_code_from_name(spk_auth_names[code]), code);
}

// ---------------------------------------------------------------------------
// Connection strings (no DSN: nothing is read from odbc.ini)

struct Expect {
    Text dsn, uid, pwd, server;
    int32_t port = 0, col_length = 256, encrypt = 0, trust = 0, auth = 0, gss_flag = 0;
    Text certificate_file, access_token, krb_principle, gss_lib, http_uri;
    uint32_t log_flags = 0;
    std::string log_file;
};

void expect_settings(SpkConnection *c, const Expect &e, const std::string &what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(text_of(c->dsn), e.dsn);
    EXPECT_EQ(text_of(c->uid), e.uid);
    EXPECT_EQ(text_of(c->pwd), e.pwd);
    EXPECT_EQ(text_of(c->server), e.server);
    EXPECT_EQ(c->port, e.port);
    EXPECT_EQ(c->col_length, e.col_length);
    EXPECT_EQ(c->encrypt, e.encrypt);
    EXPECT_EQ(c->trust_server_certificate, e.trust);
    EXPECT_EQ(c->authentication, e.auth);
    EXPECT_EQ(c->gss_flag, e.gss_flag);
    EXPECT_EQ(text_of(c->certificate_file), e.certificate_file);
    EXPECT_EQ(text_of(c->access_token), e.access_token);
    EXPECT_EQ(text_of(c->krb_principle), e.krb_principle);
    EXPECT_EQ(text_of(c->gss_lib), e.gss_lib);
    EXPECT_EQ(text_of(c->http_uri), e.http_uri);
    EXPECT_EQ(c->log_flags, e.log_flags);
    EXPECT_EQ(std::string(c->log_file), e.log_file);
}

struct StringCase {
    std::u16string in;
    Expect expect;
};

Expect with(std::initializer_list<std::pair<const char *, const char *>> texts, Expect e = {}) {
    for (auto &t : texts) {
        std::string k = t.first;
        if (k == "uid") e.uid = t.second;
        else if (k == "pwd") e.pwd = t.second;
        else if (k == "server") e.server = t.second;
        else if (k == "cert") e.certificate_file = t.second;
        else if (k == "token") e.access_token = t.second;
        else if (k == "krb") e.krb_principle = t.second;
        else if (k == "gsslib") e.gss_lib = t.second;
        else if (k == "uri") e.http_uri = t.second;
        else ADD_FAILURE() << "bad key " << k;
    }
    return e;
}

Expect numbers(int32_t port, int32_t col_length, int32_t encrypt, int32_t trust, int32_t auth, int32_t gss_flag) {
    Expect e;
    e.port = port;
    e.col_length = col_length;
    e.encrypt = encrypt;
    e.trust = trust;
    e.auth = auth;
    e.gss_flag = gss_flag;
    return e;
}

TEST(SettingsConnectionString, KeywordsValuesAndOccurrences) {
    Expect logging;
    logging.log_flags = 95;
    Expect logging_hex;
    logging_hex.log_flags = 16;
    const StringCase cases[] = {
        {u"", {}},
        {u"SERVER=h;PORT=1;PORT=2", with({{"server", "h"}}, numbers(2, 256, 0, 0, 0, 0))},
        {u"server=a;SERVER=b", with({{"server", "a"}})},
        {u"SERVER=;SERVER=b", with({{"server", ""}})},
        {u"UID=;UID=bob;user=al", with({{"uid", "bob"}})},
        {u"user=al;uid=bob", with({{"uid", "al"}})},
        {u"PWD=;password=pw;PWD=other", with({{"pwd", "pw"}})},
        {u"PWD={a;b}", with({{"pwd", "a;b"}})},
        {u"PWD={a}}b;c};UID=u", with({{"pwd", "a}b;c"}, {"uid", "u"}})},
        {u"PWD={x=y};UID=u", with({{"pwd", "x=y"}, {"uid", "u"}})},
        {u"PWD=x=y", with({{"pwd", "x=y"}})},
        {u"PWD={a;b", with({{"pwd", "a;b"}})},
        {u"PWD={}", {}},
        {u"PWD={ a }", with({{"pwd", " a "}})},
        {u"UID =bob", {}},
        {u" UID=bob", {}},
        {u"UID= bob ", with({{"uid", " bob "}})},
        {u";;UID=a;;;SERVER=s;", with({{"uid", "a"}, {"server", "s"}})},
        {u"DRIVER={Quillmark Tarnwell};SERVER=x", with({{"server", "x"}})},
        {u"Foo={a;UID=b};UID=c", with({{"uid", "c"}})},
        {u"UID", {}},
        {u"ssl=on", numbers(0, 256, 1, 0, 0, 0)},
        {u"SSL=0x2;ssl=no", {}},
        {u"Encrypt=yes", {}},
        {u"TrustServerCertificate=true", numbers(0, 256, 0, 1, 0, 0)},
        {u"TrustServerCertificate=on", {}},
        {u"Authentication=kerb", numbers(0, 256, 0, 0, 3, 0)},
        {u"Authentication=0x5", numbers(0, 256, 0, 0, 5, 0)},
        {u"Authentication=9", numbers(0, 256, 0, 0, 9, 0)},
        {u"Authentication=LDAP;authentication=NOSASL", numbers(0, 256, 0, 0, 1, 0)},
        {u"GSSFLAG=0x10", numbers(0, 256, 0, 0, 0, 16)},
        {u"gssflag=010", numbers(0, 256, 0, 0, 0, 8)},
        {u"PORT=abc", {}},
        {u"PORT=-7;COL_LENGTH=-1", {}},
        {u"PORT= 10001x;COL_LENGTH=1024", numbers(10001, 1024, 0, 0, 0, 0)},
        {u"PORT=\u0131\u0132", {}},   // low bytes are digits, the characters are not
        {u"logging=onerror", logging},
        {u"Logging=yes;LOGGING=0x10", logging_hex},
        {u"CertificateFile=;CertificateFile=/c.pem;CertificateFile=/d.pem", with({{"cert", "/c.pem"}})},
        {u"AccessToken=t1;AccessToken=t2", with({{"token", "t1"}})},
        {u"KrbPrinciple=hive/h@R;GSSLIB=libg.so;HttpUri=/cliservice",
         with({{"krb", "hive/h@R"}, {"gsslib", "libg.so"}, {"uri", "/cliservice"}})},
        {u"UID=J\u00fcrgen \u20ac;PWD=\U0001F600", with({{"uid", "Jürgen €"}, {"pwd", "\U0001F600"}})},
        {u"\u00dcID=x;\u0155ID=y", {}},   // U+0155 narrows to 'U'
    };
    for (const StringCase &c : cases) {
        Conn conn;
        ASSERT_EQ(conn.parse(c.in), 0);
        std::string what(c.in.begin(), c.in.end());
        expect_settings(conn.c, c.expect, "connection string case #" + std::to_string(&c - cases));
    }
}

TEST(SettingsConnectionString, LogFileIsSetClearedAndNeverCut) {
    Conn conn;
    ASSERT_EQ(conn.parse(u"LogFile=/tmp/a.log"), 0);
    EXPECT_STREQ(conn.c->log_file, "/tmp/a.log");
    ASSERT_EQ(conn.parse(u"SERVER=x"), 0);
    EXPECT_STREQ(conn.c->log_file, "/tmp/a.log");   // kept between connects
    std::u16string long_name = u"LogFile=" + std::u16string(300, u'b');
    ASSERT_EQ(conn.parse(long_name), 0);
    EXPECT_STREQ(conn.c->log_file, "/tmp/a.log");   // too long: refused, not cut
    ASSERT_EQ(conn.parse(u"LogFile=/tmp/a;LogFile="), 0);
    EXPECT_STREQ(conn.c->log_file, "");
}

TEST(SettingsConnectionString, ParsingClearsTheEarlierSettings) {
    Conn conn;
    ASSERT_EQ(conn.parse(u"UID=a;PWD=b;SERVER=c;PORT=5;ssl=1;AccessToken=t;GSSLIB=g"), 0);
    ASSERT_EQ(conn.parse(u"SERVER=d"), 0);
    expect_settings(conn.c, with({{"server", "d"}}), "second parse");
}

TEST(SettingsConnectionString, MaskingHidesPasswordsAndTokensOnly) {
    struct Case {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"UID=u;PWD=secret;x=1", "UID=u;PWD=***;x=1"},
        {u"password={a;b}};c};SERVER=s", "password=***;SERVER=s"},
        {u"AccessToken=tok", "AccessToken=***"},
        {u"accesstoken={t;t}", "accesstoken=***"},
        {u"PWD=;UID=a", "PWD=;UID=a"},
        {u"pwd =x;PWD=y;PWD=z", "pwd =x;PWD=***;PWD=***"},
        {u"PWD={unterminated;UID=x", "PWD=***"},
        {u"", ""},
    };
    for (auto &c : cases) {
        Str in(wide(c.in));
        Str out(spk_mask_connection_string(in.s));
        ASSERT_NE(out.s, nullptr);
        EXPECT_EQ(utf8_of(out.s), c.out);
    }
    EXPECT_EQ(spk_mask_connection_string(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Output connection string

TEST(SettingsOutputString, ItemsOrderAndBraces) {
    struct Case {
        std::u16string in;
        std::string out;
    } cases[] = {
        {u"SERVER=h", "DRIVER={Quillmark Tarnwell};SERVER=h;"},
        {u"SERVER=h;PORT=10000;COL_LENGTH=256;Authentication=NONE", "DRIVER={Quillmark Tarnwell};SERVER=h;"},
        {u"GSSFLAG=0x20;HttpUri=/x;GSSLIB=g;KrbPrinciple=k;AccessToken=t;Authentication=nosasl;CertificateFile=c;"
         u"TrustServerCertificate=yes;ssl=1;COL_LENGTH=100;PORT=1234;SERVER=h;PWD={a;b};UID=u",
         "DRIVER={Quillmark Tarnwell};UID=u;PWD={a;b};SERVER=h;PORT=1234;COL_LENGTH=100;ssl=yes;"
         "TrustServerCertificate=Yes;CertificateFile=c;Authentication=NoSASL;AccessToken=t;KrbPrinciple=k;GSSLIB=g;"
         "GSSFLAG=32;HttpUri=/x;"},
        {u"PWD={a}}b};SERVER=h", "DRIVER={Quillmark Tarnwell};PWD={a}}b};SERVER=h;"},
        {u"PWD={{x};SERVER=h", "DRIVER={Quillmark Tarnwell};PWD={{x};SERVER=h;"},
        {u"PWD=x=y;SERVER=h", "DRIVER={Quillmark Tarnwell};PWD={x=y};SERVER=h;"},
        {u"UID= lead;PWD=trail ;SERVER=mid dle", "DRIVER={Quillmark Tarnwell};UID={ lead};PWD={trail };SERVER=mid dle;"},
        {u"SERVER=", "DRIVER={Quillmark Tarnwell};SERVER=;"},
        {u"Authentication=9;Authentication=0x9", "DRIVER={Quillmark Tarnwell};Authentication=NoSASL;"},
        {u"Authentication=OAUTH", "DRIVER={Quillmark Tarnwell};Authentication=HTTP_OAUTH;"},
        {u"UID=J\u00fcrgen", "DRIVER={Quillmark Tarnwell};UID=Jürgen;"},
    };
    for (auto &c : cases) {
        Conn conn;
        ASSERT_EQ(conn.parse(c.in), 0);
        EXPECT_EQ(conn.out(), c.out);
    }
}

TEST(SettingsOutputString, ReparsingTheOutputGivesTheSameSettings) {
    const std::u16string inputs[] = {
        u"UID={;x}}};PWD={a;b=c} ;SERVER={ h };PORT=4;COL_LENGTH=9;ssl=yes;TrustServerCertificate=true;"
        u"CertificateFile={c;d};Authentication=HTTP_BASIC;AccessToken=={};KrbPrinciple=k;GSSLIB=g;GSSFLAG=7;HttpUri=/u",
        u"SERVER=;UID=x",
    };
    for (const auto &in : inputs) {
        Conn a, b;
        ASSERT_EQ(a.parse(in), 0);
        std::string out = a.out();
        std::u16string out16;
        Str s(spk_str_from_utf8(out.c_str(), SQL_NTS));
        out16.assign((const char16_t *)s.s->units, s.s->length);
        ASSERT_EQ(b.parse(out16), 0);
        EXPECT_EQ(b.out(), out);
        EXPECT_EQ(text_of(b.c->pwd), text_of(a.c->pwd));
        EXPECT_EQ(text_of(b.c->uid), text_of(a.c->uid));
        EXPECT_EQ(text_of(b.c->server), text_of(a.c->server));
        EXPECT_EQ(text_of(b.c->access_token), text_of(a.c->access_token));
        EXPECT_EQ(b.c->authentication, a.c->authentication);
        EXPECT_EQ(b.c->encrypt, a.c->encrypt);
    }
}

TEST(SettingsOutputString, MaskedOutputHidesSecrets) {
    Conn conn;
    ASSERT_EQ(conn.parse(u"UID=u;PWD=p;SERVER=h;AccessToken=t"), 0);
    EXPECT_EQ(conn.out(true), "DRIVER={Quillmark Tarnwell};UID=u;PWD=***;SERVER=h;AccessToken=***;");
    EXPECT_EQ(conn.out(false), "DRIVER={Quillmark Tarnwell};UID=u;PWD=p;SERVER=h;AccessToken=t;");
}

// ---------------------------------------------------------------------------
// DSN reading

Expect full_dsn() {
    Expect e = with({{"uid", "dsnuser"},
                     {"pwd", "dsnpw;x"},
                     {"server", "dsnhost"},
                     {"cert", "/ca.pem"},
                     {"token", "dsntok"},
                     {"krb", "hive/x@R"},
                     {"gsslib", "libgss.so"},
                     {"uri", "/cli"}},
                    numbers(1234, 512, 1, 1, 2, 32));
    e.dsn = "full";
    return e;
}

int connect_mode(SpkConnection *c, const char16_t *dsn, const char16_t *uid, const char16_t *pwd) {
    Str d(dsn ? wide(dsn) : nullptr), u(uid ? wide(uid) : nullptr), p(pwd ? wide(pwd) : nullptr);
    return spk_settings_for_connect(c, d.s, u.s, p.s);
}

TEST(SettingsDsn, ConnectModeReadsEveryKey) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"full", nullptr, nullptr), 0);
    expect_settings(conn.c, full_dsn(), "full");
    EXPECT_EQ(conn.out(), "DSN=full;UID=dsnuser;PWD={dsnpw;x};SERVER=dsnhost;PORT=1234;COL_LENGTH=512;ssl=yes;"
                          "TrustServerCertificate=Yes;CertificateFile=/ca.pem;Authentication=LDAP;AccessToken=dsntok;"
                          "KrbPrinciple=hive/x@R;GSSLIB=libgss.so;GSSFLAG=32;HttpUri=/cli;");
}

TEST(SettingsDsn, ConnectModeArgumentsBeatTheDsn) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"full", u"arg", u""), 0);
    Expect e = full_dsn();
    e.uid = "arg";
    e.pwd = "";   // an empty password argument is a password
    expect_settings(conn.c, e, "arguments");
}

TEST(SettingsDsn, ConnectModeDefaultsAndClearing) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"full", nullptr, nullptr), 0);
    ASSERT_EQ(connect_mode(conn.c, u"empty", nullptr, nullptr), 0);
    Expect e;
    e.dsn = "empty";
    expect_settings(conn.c, e, "empty DSN after a full one");
    ASSERT_EQ(connect_mode(conn.c, u"blank", nullptr, nullptr), 0);
    e.dsn = "blank";
    expect_settings(conn.c, e, "blank values count as unset");
    ASSERT_EQ(connect_mode(conn.c, u"no such dsn", nullptr, nullptr), 0);
    e.dsn = "no such dsn";
    expect_settings(conn.c, e, "missing DSN");
}

TEST(SettingsDsn, KeyNamesIgnoreCase) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"lower", nullptr, nullptr), 0);
    Expect e = with({{"server", "lowhost"}}, numbers(77, 256, 0, 0, 3, 0));
    e.dsn = "lower";
    expect_settings(conn.c, e, "connect mode");
    Conn conn2;
    ASSERT_EQ(conn2.parse(u"dSn=lower"), 0);
    expect_settings(conn2.c, e, "driver-connect mode");
}

TEST(SettingsDsn, SectionNameAndValuesAreUtf8) {
    Expect e = with({{"server", "hôte"}, {"uid", "Jürgen €"}});
    e.dsn = "sérvice";
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"s\u00e9rvice", nullptr, nullptr), 0);
    expect_settings(conn.c, e, "connect mode");
    Conn conn2;
    ASSERT_EQ(conn2.parse(u"DSN=s\u00e9rvice"), 0);
    expect_settings(conn2.c, e, "driver-connect mode");
}

TEST(SettingsDsn, SwitchValuesFromTheDsn) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"switches", nullptr, nullptr), 0);
    EXPECT_EQ(conn.c->encrypt, 3);
    EXPECT_EQ(conn.c->trust_server_certificate, 0);   // "on" is not a TrustServerCertificate word
    EXPECT_EQ(conn.c->authentication, 0);             // decimal: "0x6" reads as 0
    EXPECT_EQ(conn.c->log_flags, 0x5Fu);
    EXPECT_EQ(std::string(conn.c->log_file), OdbcIni::config->dir() + "/x.log");
}

TEST(SettingsDsn, KeysBeyondACutKeyListAreStillRead) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"manykeys", nullptr, nullptr), 0);
    EXPECT_EQ(text_of(conn.c->server), Text("manyhost"));
    EXPECT_EQ(conn.c->port, 4321);
}

TEST(SettingsDsn, LongLogFileIsRefused) {
    Conn conn;
    ASSERT_EQ(connect_mode(conn.c, u"longlog", nullptr, nullptr), 0);
    EXPECT_STREQ(conn.c->log_file, "");
    EXPECT_EQ(text_of(conn.c->server), Text("h"));
}

TEST(SettingsDsn, DriverConnectModeConnectionStringWins) {
    Conn conn;
    ASSERT_EQ(conn.parse(u"DSN=full"), 0);
    expect_settings(conn.c, full_dsn(), "DSN only");

    Conn conn2;
    ASSERT_EQ(conn2.parse(u"DSN=full;SERVER=cs;PORT=5;UID=csu;PWD={p;w};ssl=no;TrustServerCertificate=no;"
                          u"Authentication=NONE;GSSFLAG=0;COL_LENGTH=64;CertificateFile=/c2;AccessToken=t2;"
                          u"KrbPrinciple=k2;GSSLIB=g2;HttpUri=/h2"),
              0);
    Expect e = with({{"uid", "csu"},
                     {"pwd", "p;w"},
                     {"server", "cs"},
                     {"cert", "/c2"},
                     {"token", "t2"},
                     {"krb", "k2"},
                     {"gsslib", "g2"},
                     {"uri", "/h2"}},
                    numbers(5, 64, 0, 0, 0, 0));
    e.dsn = "full";
    expect_settings(conn2.c, e, "connection string beats the DSN");
}

TEST(SettingsDsn, DriverConnectModeFirstDsnAndEmptyServer) {
    Conn conn;
    ASSERT_EQ(conn.parse(u"DSN=full;DSN=lower;SERVER="), 0);
    Expect e = full_dsn();
    e.server = "";   // an empty SERVER keyword is not replaced by the DSN
    expect_settings(conn.c, e, "first DSN");

    Conn conn2;
    ASSERT_EQ(conn2.parse(u"DSN=blank"), 0);
    Expect b;
    b.dsn = "blank";
    expect_settings(conn2.c, b, "blank DSN values");

    Conn conn3;
    ASSERT_EQ(conn3.parse(u"DSN=switches;ssl=1"), 0);
    EXPECT_EQ(conn3.c->encrypt, 1);
    EXPECT_EQ(conn3.c->trust_server_certificate, 0);
    EXPECT_EQ(conn3.c->authentication, 0);
}

TEST(SettingsDsn, DriverConnectModeLoggingOnlyWhileOff) {
    Conn conn;
    conn.c->log_flags = 0;
    std::string other = OdbcIni::config->dir() + "/mine.log";
    std::u16string in = u"LogFile=" + std::u16string(other.begin(), other.end()) + u";Logging=0x2;DSN=switches";
    ASSERT_EQ(conn.parse(in), 0);
    EXPECT_EQ(conn.c->log_flags, 2u);                  // set by the connection string, DSN not read
    EXPECT_EQ(std::string(conn.c->log_file), other);   // likewise
}

TEST(SettingsDsn, TracesNeverShowSecrets) {
    std::remove(OdbcIni::trace.c_str());
    {
        Conn conn;
        ASSERT_EQ(connect_mode(conn.c, u"traced", nullptr, nullptr), 0);
        EXPECT_EQ(conn.c->log_flags, 0x1Fu);
        ASSERT_EQ(conn.parse(u"DSN=traced;PWD=cssecret;AccessToken=cstoken"), 0);
        ASSERT_EQ(conn.parse(u"DSN=traced"), 0);
    }
    std::string log = read_file(OdbcIni::trace);
    EXPECT_NE(log.find("SQLConnect: Password found in ini file"), std::string::npos) << log;
    EXPECT_NE(log.find("SQLDriverConnect: Password found in connect string"), std::string::npos) << log;
    EXPECT_NE(log.find("SQLConnect: User found in ini file value 'dsnuser'"), std::string::npos) << log;
    for (const char *secret : {"dsnsecret", "dsntoken", "cssecret", "cstoken"})
        EXPECT_EQ(log.find(secret), std::string::npos) << secret << " in\n" << log;
}

// ---------------------------------------------------------------------------
// The installer's key list

TEST(SettingsInstaller, KeyListAndValuesAreAlwaysTerminated) {
    char buf[64];
    memset(buf, '#', sizeof buf);
    int n = spk_ini_get("lower", nullptr, "", buf, 40);
    ASSERT_GT(n, 0);
    ASSERT_LT(n, 39);
    std::string names;
    for (const char *k = buf; *k; k += strlen(k) + 1) names += std::string(k) + ",";
    EXPECT_EQ(names, "Driver,PORT,authentication,server,");
    EXPECT_EQ(buf[40], '#');

    memset(buf, '#', sizeof buf);
    n = spk_ini_get("lower", "SERVER", "", buf, 4);
    EXPECT_EQ(n, 3);
    EXPECT_STREQ(buf, "low");
    EXPECT_EQ(buf[4], '#');

    EXPECT_EQ(spk_ini_get("lower", "missing", "", buf, 10), 0);
    EXPECT_STREQ(buf, "");
    EXPECT_EQ(spk_ini_get(nullptr, "x", "", buf, 10), 0);
    EXPECT_EQ(spk_ini_get("lower", "server", "", buf, 0), 0);
}

// ---------------------------------------------------------------------------
// The completion and test record

void put(char (&field)[1024], const std::string &text) {
    memset(field, 0, sizeof field);
    memcpy(field, text.data(), text.size());
}

TEST(SettingsConnectInfo, RecordRoundTrip) {
    SpkConnectInfo *info = (SpkConnectInfo *)calloc(1, sizeof(SpkConnectInfo));
    put(info->dsn, "");
    put(info->uid, "Jürgen");
    put(info->pwd, "p;w}");
    put(info->server, "host");
    info->port = 10001;
    put(info->col_length, "512");
    info->logging = 1;
    put(info->log_file, OdbcIni::config->dir() + "/info.log");
    info->encrypt = 1;
    info->trust_server_certificate = 1;
    put(info->certificate_file, "");
    info->authentication = 6;
    put(info->krb_principle, "k");
    put(info->http_uri, "/h");
    put(info->access_token, "tok");

    Conn conn;
    ASSERT_EQ(conn.parse(u"GSSLIB=g;GSSFLAG=4;CertificateFile=/old"), 0);
    ASSERT_EQ(apply_connect_info(conn.c, info), 0);
    Expect e = with({{"uid", "Jürgen"}, {"pwd", "p;w}"}, {"server", "host"}, {"krb", "k"}, {"uri", "/h"},
                     {"token", "tok"}, {"gsslib", "g"}},
                    numbers(10001, 512, 1, 1, 6, 4));
    e.log_flags = 0x1F;   // an empty DSN is none, never "DSN=;"
    e.log_file = OdbcIni::config->dir() + "/info.log";
    expect_settings(conn.c, e, "applied record");
    // And back into a record (what the completion dialog is shown): the same bytes.
    SpkConnectInfo *back = (SpkConnectInfo *)malloc(sizeof(SpkConnectInfo));
    spk_settings_to_connect_info(conn.c, back);
    EXPECT_EQ(memcmp(back, info, sizeof *info), 0);
    free(back);
    std::string out = conn.out();
    EXPECT_EQ(out, "DRIVER={Quillmark Tarnwell};UID=Jürgen;PWD={p;w}}};SERVER=host;PORT=10001;COL_LENGTH=512;ssl=yes;"
                   "TrustServerCertificate=Yes;Authentication=HTTP_OAUTH;AccessToken=tok;KrbPrinciple=k;GSSLIB=g;"
                   "GSSFLAG=4;HttpUri=/h;");

    // Back through the connection string: the same settings.
    Conn again;
    again.c->log_flags = 0x1F;
    memcpy(again.c->log_file, conn.c->log_file, sizeof again.c->log_file);
    Str s(spk_str_from_utf8(out.c_str(), SQL_NTS));
    ASSERT_EQ(parse_connection_string(again.c, s.s), 0);
    expect_settings(again.c, e, "re-parsed output");

    // A trace mask other than the dialog's "on" travels as it is.
    info->logging = 0x5F;
    ASSERT_EQ(apply_connect_info(conn.c, info), 0);
    EXPECT_EQ(conn.c->log_flags, 0x5Fu);
    free(info);
}

TEST(SettingsConnectInfo, UnterminatedTextsStayInsideTheirFields) {
    SpkConnectInfo *info = (SpkConnectInfo *)malloc(sizeof(SpkConnectInfo));
    memset(info, 'A', sizeof *info);
    info->port = 1;
    info->logging = 0;
    info->encrypt = 0;
    info->trust_server_certificate = 0;
    info->authentication = 1;
    Conn conn;
    ASSERT_EQ(apply_connect_info(conn.c, info), 0);
    EXPECT_EQ(spk_str_length(conn.c->uid), 1024);
    EXPECT_EQ(spk_str_length(conn.c->access_token), 1024);
    EXPECT_EQ(conn.c->col_length, 0);
    EXPECT_STREQ(conn.c->log_file, "");   // 1024 bytes do not fit: refused
    EXPECT_EQ(conn.c->log_flags, 0u);
    free(info);
}

}  // namespace
