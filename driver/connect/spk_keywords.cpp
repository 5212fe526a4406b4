// The connection-settings table and the value rules.  No dependency on the
// rest of the driver, so the setup library can build this file as it is.
#include "spk_keywords.h"

#include <climits>
#include <cstddef>

// clang-format off
const SpkKeyword spk_keywords[SPK_SET_COUNT] = {
    // id                                dsn key                   dsn rule              keyword                   alias        keyword rule            occurrence                 output keyword            secret
    {SPK_SET_DSN,                        nullptr,                  SPK_RULE_NONE,        "dsn",                    nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST,           "DSN",                    0},
    {SPK_SET_DESCRIPTION,                "Description",            SPK_RULE_NONE,        nullptr,                  nullptr,     SPK_RULE_NONE,          SPK_OCCUR_FIRST,           nullptr,                  0},
    {SPK_SET_UID,                        "User",                   SPK_RULE_TEXT,        "uid",                    "user",      SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "UID",                    0},
    {SPK_SET_PWD,                        "Password",               SPK_RULE_TEXT,        "pwd",                    "password",  SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "PWD",                    1},
    {SPK_SET_SERVER,                     "Server",                 SPK_RULE_TEXT,        "server",                 nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST,           "SERVER",                 0},
    {SPK_SET_PORT,                       "Port",                   SPK_RULE_DECIMAL,     "port",                   nullptr,     SPK_RULE_DECIMAL,       SPK_OCCUR_LAST,            "PORT",                   0},
    {SPK_SET_COL_LENGTH,                 "Col_Length",             SPK_RULE_DECIMAL,     "col_length",             nullptr,     SPK_RULE_DECIMAL,       SPK_OCCUR_LAST,            "COL_LENGTH",             0},
    {SPK_SET_LOGGING,                    "Logging",                SPK_RULE_LOGGING,     "logging",                nullptr,     SPK_RULE_LOGGING,       SPK_OCCUR_LAST,            nullptr,                  0},
    {SPK_SET_LOG_FILE,                   "LogFile",                SPK_RULE_TEXT,        "logfile",                nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_LAST,            nullptr,                  0},
    {SPK_SET_ENCRYPT,                    "Encrypt",                SPK_RULE_SWITCH,      "ssl",                    nullptr,     SPK_RULE_SWITCH,        SPK_OCCUR_LAST,            "Encrypt",                0},
    {SPK_SET_TRUST_SERVER_CERTIFICATE,   "TrustServerCertificate", SPK_RULE_TRUST_DSN,   "TrustServerCertificate", nullptr,     SPK_RULE_TRUST_KEYWORD, SPK_OCCUR_LAST,            "TrustServerCertificate", 0},
    {SPK_SET_CERTIFICATE_FILE,           "CertificateFile",        SPK_RULE_TEXT,        "CertificateFile",        nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "CertificateFile",        0},
    {SPK_SET_AUTHENTICATION,             "Authentication",         SPK_RULE_AUTH_DSN,    "Authentication",         nullptr,     SPK_RULE_AUTH_KEYWORD,  SPK_OCCUR_LAST,            "Authentication",         0},
    {SPK_SET_ACCESS_TOKEN,               "AccessToken",            SPK_RULE_TEXT,        "AccessToken",            nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "AccessToken",            1},
    {SPK_SET_KRB_PRINCIPLE,              "KrbPrinciple",           SPK_RULE_TEXT,        "KrbPrinciple",           nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "KrbPrinciple",           0},
    {SPK_SET_GSS_LIB,                    "GSSLIB",                 SPK_RULE_TEXT,        "GSSLIB",                 nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "GSSLIB",                 0},
    {SPK_SET_GSS_FLAG,                   "GSSFLAG",                SPK_RULE_AUTO_BASE,   "GSSFLAG",                nullptr,     SPK_RULE_AUTO_BASE,     SPK_OCCUR_LAST,            "GSSFLAG",                0},
    {SPK_SET_HTTP_URI,                   "HttpUri",                SPK_RULE_TEXT,        "HttpUri",                nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "HttpUri",                0},
    {SPK_SET_DATABASE,                   "Database",               SPK_RULE_TEXT,        "Database",               "Schema",    SPK_RULE_TEXT,          SPK_OCCUR_FIRST_NON_EMPTY, "Database",               0},
    {SPK_SET_DRIVER,                     nullptr,                  SPK_RULE_NONE,        "Driver",                 nullptr,     SPK_RULE_TEXT,          SPK_OCCUR_FIRST,           nullptr,                  0},
    {SPK_SET_LOGIN_TIMEOUT,              "LoginTimeout",           SPK_RULE_DECIMAL,     "LoginTimeout",           nullptr,     SPK_RULE_DECIMAL,       SPK_OCCUR_LAST,            "LoginTimeout",           0},
    {SPK_SET_SOCKET_TIMEOUT,             "SocketTimeout",          SPK_RULE_DECIMAL,     "SocketTimeout",          nullptr,     SPK_RULE_DECIMAL,       SPK_OCCUR_LAST,            "SocketTimeout",          0},
    {SPK_SET_MAX_MESSAGE_SIZE,           "MaxMessageSize",         SPK_RULE_DECIMAL,     "MaxMessageSize",         nullptr,     SPK_RULE_DECIMAL,       SPK_OCCUR_LAST,            "MaxMessageSize",         0},
    {SPK_SET_ASYNC_EXEC,                 "AsyncExec",              SPK_RULE_SWITCH,      "AsyncExec",              nullptr,     SPK_RULE_SWITCH,        SPK_OCCUR_LAST,            "AsyncExec",              0},
    {SPK_SET_ROWS_PER_FETCH,             "RowsPerFetch",           SPK_RULE_DECIMAL,     "RowsPerFetch",           nullptr,     SPK_RULE_DECIMAL,       SPK_OCCUR_LAST,            "RowsPerFetch",           0},
    {SPK_SET_PREFETCH,                   "Prefetch",               SPK_RULE_SWITCH,      "Prefetch",               nullptr,     SPK_RULE_SWITCH,        SPK_OCCUR_LAST,            "Prefetch",               0},
};
// clang-format on

const char *const spk_auth_names[SPK_AUTH_CODE_COUNT] = {
    "NONE", "NOSASL", "LDAP", "Kerberos", "AD", "HTTP_BASIC", "HTTP_OAUTH",
};

static const char *const spk_auth_out_names[SPK_AUTH_CODE_COUNT] = {
    nullptr, "NoSASL", "LDAP", "Kerberos", "AD", "HTTP_BASIC", "HTTP_OAUTH",
};

const SpkKeyword *spk_keyword(int id) {
    if (id < 0 || id >= SPK_SET_COUNT) return nullptr;
    return &spk_keywords[id];
}

static int spk_ascii_upper(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

bool spk_word_equal(const char *a, const char *b) {
    if (!a || !b) return false;
    for (;; a++, b++) {
        if (spk_ascii_upper((unsigned char)*a) != spk_ascii_upper((unsigned char)*b)) return false;
        if (!*a) return true;
    }
}

const SpkKeyword *spk_keyword_find(const char *name) {
    for (const SpkKeyword &k : spk_keywords) {
        if ((k.keyword && spk_word_equal(name, k.keyword)) || (k.keyword_alias && spk_word_equal(name, k.keyword_alias)))
            return &k;
    }
    return nullptr;
}

const SpkKeyword *spk_keyword_find_any(const char *name) {
    for (const SpkKeyword &k : spk_keywords)
        if (k.dsn_key && spk_word_equal(name, k.dsn_key)) return &k;
    return spk_keyword_find(name);
}

int spk_auth_code_from_name(const char *text) {
    for (int code = 0; code < SPK_AUTH_CODE_COUNT; code++)
        if (spk_word_equal(text, spk_auth_names[code])) return code;
    if (spk_word_equal(text, "Kerb")) return 3;
    if (spk_word_equal(text, "BASIC")) return 5;
    if (spk_word_equal(text, "OAUTH")) return 6;
    return -1;
}

const char *spk_auth_out_name(int code) {
    if (code == 0) return nullptr;
    if (code < 0 || code >= SPK_AUTH_CODE_COUNT) return spk_auth_out_names[1];
    return spk_auth_out_names[code];
}

bool spk_auth_value_known(const char *text) {
    if (!text) return true;
    while (*text == ' ' || *text == '\t') text++;
    if (!*text) return true;
    if (spk_auth_code_from_name(text) >= 0) return true;
    if (*text < '0' || *text > '9') return false;
    int32_t code = spk_parse_auto_base(text);
    return code >= 0 && code < SPK_AUTH_CODE_COUNT;
}

static int spk_digit_value(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return 99;
}

static int32_t spk_parse_number(const char *p, bool auto_base) {
    if (!p) return 0;
    while (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r' || *p == '\f' || *p == '\v') p++;
    bool negative = false;
    if (*p == '+' || *p == '-') negative = *p++ == '-';
    int base = 10;
    if (auto_base && p[0] == '0') {
        if ((p[1] == 'x' || p[1] == 'X') && spk_digit_value(p[2]) < 16) {
            base = 16;
            p += 2;
        } else {
            base = 8;
        }
    }
    int64_t value = 0;
    for (int d; (d = spk_digit_value(*p)) < base; p++) {
        value = value * base + d;
        if (value > (int64_t)INT32_MAX + 1) value = (int64_t)INT32_MAX + 1;   // clamp, keeps going
    }
    if (negative) value = -value;
    if (value > INT32_MAX) value = INT32_MAX;
    return (int32_t)value;
}

int32_t spk_parse_decimal(const char *text) { return spk_parse_number(text, false); }
int32_t spk_parse_auto_base(const char *text) { return spk_parse_number(text, true); }

static bool spk_word_in(const char *text, const char *const *words) {
    for (; *words; words++)
        if (spk_word_equal(text, *words)) return true;
    return false;
}

int32_t spk_rule_value(int rule, const char *text) {
    static const char *const yes_true_on[] = {"yes", "true", "on", nullptr};
    static const char *const yes_true[] = {"yes", "true", nullptr};
    static const char *const no_off[] = {"no", "off", nullptr};
    static const char *const no_off_false[] = {"no", "off", "false", nullptr};
    static const char *const on_error[] = {"onerror", "error", nullptr};
    if (!text) text = "";
    switch (rule) {
    case SPK_RULE_DECIMAL: return spk_parse_decimal(text);
    case SPK_RULE_AUTO_BASE: return spk_parse_auto_base(text);
    case SPK_RULE_LOGGING:
        if (spk_word_in(text, yes_true_on)) return 0x1F;
        if (spk_word_in(text, on_error)) return 0x5F;
        if (spk_word_equal(text, "process")) return 0x3F;
        if (spk_word_in(text, no_off)) return 0;
        return spk_parse_auto_base(text);
    case SPK_RULE_SWITCH:
        if (spk_word_in(text, yes_true_on)) return 1;
        if (spk_word_in(text, no_off_false)) return 0;
        return spk_parse_auto_base(text);
    case SPK_RULE_TRUST_DSN:
        if (spk_word_in(text, yes_true)) return 1;
        if (spk_word_equal(text, "no")) return 0;
        return spk_parse_decimal(text);
    case SPK_RULE_TRUST_KEYWORD: return spk_word_in(text, yes_true) ? 1 : 0;
    case SPK_RULE_AUTH_DSN:
    case SPK_RULE_AUTH_KEYWORD: {
        int code = spk_auth_code_from_name(text);
        if (code >= 0) return code;
        return rule == SPK_RULE_AUTH_DSN ? spk_parse_decimal(text) : spk_parse_auto_base(text);
    }
    default: return 0;
    }
}
