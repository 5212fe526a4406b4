// Connection settings: the connection string, the data source's keys in
// odbc.ini, the completion record, and the output connection string.
#include "connect/spk_settings.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "connect/spk_installer.h"
#include "core/spk_err.h"
#include "core/spk_log.h"
#include "spk_keywords.h"

namespace {

// Sizes of the installer reads.
constexpr int SPK_KEY_LIST_SIZE = 8192;
constexpr int SPK_VALUE_SIZE = 2048;
// A key list that fills the buffer this far may have been cut by the
// installer (it stops before a name that does not fit): read keys directly.
constexpr int SPK_KEY_LIST_SAFE = SPK_KEY_LIST_SIZE - 1024;

constexpr int32_t SPK_UNSET = -1;
constexpr int32_t SPK_DEFAULT_LOGIN_TIMEOUT = 60;
constexpr int32_t SPK_DEFAULT_SOCKET_TIMEOUT = 300;
constexpr int32_t SPK_DEFAULT_MAX_MESSAGE_MB = 256;
constexpr int32_t SPK_MAX_MESSAGE_MB = 2047;   // what a Thrift length can say
constexpr int32_t SPK_DEFAULT_ROWS_PER_FETCH = 10000;
// The largest default string length (16 MiB).
constexpr int32_t SPK_COL_LENGTH_MAX = 1 << 24;

typedef std::vector<spk_unit> Units;

SpkString **spk_text_field(SpkConnection *c, int id) {
    switch (id) {
    case SPK_SET_DSN: return &c->dsn;
    case SPK_SET_UID: return &c->uid;
    case SPK_SET_PWD: return &c->pwd;
    case SPK_SET_SERVER: return &c->server;
    case SPK_SET_CERTIFICATE_FILE: return &c->certificate_file;
    case SPK_SET_ACCESS_TOKEN: return &c->access_token;
    case SPK_SET_KRB_PRINCIPLE: return &c->krb_principle;
    case SPK_SET_GSS_LIB: return &c->gss_lib;
    case SPK_SET_HTTP_URI: return &c->http_uri;
    case SPK_SET_DATABASE: return &c->database;
    case SPK_SET_DRIVER: return &c->driver;
    default: return nullptr;
    }
}

int32_t *spk_number_field(SpkConnection *c, int id) {
    switch (id) {
    case SPK_SET_PORT: return &c->port;
    case SPK_SET_COL_LENGTH: return &c->col_length;
    case SPK_SET_ENCRYPT: return &c->encrypt;
    case SPK_SET_TRUST_SERVER_CERTIFICATE: return &c->trust_server_certificate;
    case SPK_SET_AUTHENTICATION: return &c->authentication;
    case SPK_SET_GSS_FLAG: return &c->gss_flag;
    case SPK_SET_LOGIN_TIMEOUT: return &c->login_timeout;
    case SPK_SET_SOCKET_TIMEOUT: return &c->socket_timeout;
    case SPK_SET_MAX_MESSAGE_SIZE: return &c->max_message_size;
    case SPK_SET_ASYNC_EXEC: return &c->async_exec;
    case SPK_SET_ROWS_PER_FETCH: return &c->rows_per_fetch;
    case SPK_SET_PREFETCH: return &c->prefetch;
    default: return nullptr;
    }
}

const int spk_text_ids[] = {SPK_SET_DSN,           SPK_SET_UID,           SPK_SET_PWD,
                            SPK_SET_SERVER,        SPK_SET_CERTIFICATE_FILE, SPK_SET_ACCESS_TOKEN,
                            SPK_SET_KRB_PRINCIPLE, SPK_SET_GSS_LIB,       SPK_SET_HTTP_URI,
                            SPK_SET_DATABASE,      SPK_SET_DRIVER};
const int spk_number_ids[] = {SPK_SET_PORT,           SPK_SET_COL_LENGTH, SPK_SET_ENCRYPT,
                              SPK_SET_TRUST_SERVER_CERTIFICATE, SPK_SET_AUTHENTICATION, SPK_SET_GSS_FLAG,
                              SPK_SET_LOGIN_TIMEOUT, SPK_SET_SOCKET_TIMEOUT, SPK_SET_MAX_MESSAGE_SIZE,
                              SPK_SET_ASYNC_EXEC, SPK_SET_ROWS_PER_FETCH, SPK_SET_PREFETCH};

void spk_settings_set_numbers(SpkConnection *c, int32_t value) {
    for (int id : spk_number_ids) *spk_number_field(c, id) = value;
}

// Unset numbers take their defaults.
void spk_settings_defaults(SpkConnection *c) {
    if (c->port < 0) c->port = 0;
    // A string length of 0 would give clients a buffer that holds nothing;
    // an absurd one, a buffer they cannot allocate.
    if (c->col_length <= 0) c->col_length = 256;
    if (c->col_length > SPK_COL_LENGTH_MAX) c->col_length = SPK_COL_LENGTH_MAX;
    if (c->encrypt < 0) c->encrypt = 0;
    if (c->trust_server_certificate < 0) c->trust_server_certificate = 0;
    if (c->authentication < 0) c->authentication = 0;
    if (c->gss_flag < 0) c->gss_flag = 0;
    // A silent server never holds a connect or a request for ever.
    if (c->login_timeout < 0) c->login_timeout = SPK_DEFAULT_LOGIN_TIMEOUT;
    if (c->socket_timeout < 0) c->socket_timeout = SPK_DEFAULT_SOCKET_TIMEOUT;
    if (c->max_message_size <= 0) c->max_message_size = SPK_DEFAULT_MAX_MESSAGE_MB;
    if (c->max_message_size > SPK_MAX_MESSAGE_MB) c->max_message_size = SPK_MAX_MESSAGE_MB;
    if (c->async_exec < 0) c->async_exec = 1;
    if (c->rows_per_fetch <= 0) c->rows_per_fetch = SPK_DEFAULT_ROWS_PER_FETCH;
    if (c->prefetch < 0) c->prefetch = 1;
}

int spk_oom(SpkConnection *c) {
    spk_post_error(c, "HY001", 0, nullptr);
    return -1;
}

// An Authentication value that names no method is an error, never NONE.
int spk_unknown_auth(SpkConnection *c, const char *value) {
    SPK_LOG(c, LOG_ERROR, "unknown Authentication value '%s'", value);
    spk_post_error(c, "08001", 0, "unknown Authentication value '%s'", value);
    return -1;
}

// Replaces a text setting; 0, or -1 with HY001 posted.
int spk_set_text(SpkConnection *c, SpkString **field, SpkString *value) {
    if (!value) return spk_oom(c);
    spk_str_free(*field);
    *field = value;
    return 0;
}

// The trace file name: a name that does not fit is refused (a cut name
// would send the trace somewhere else) and the old name kept.
void spk_set_log_file(SpkConnection *c, const char *bytes, size_t n, const char *source) {
    if (n >= sizeof c->log_file) {
        SPK_LOG(c, LOG_CONTINUATION, "%s: LogFile value of %d bytes is too long, ignored", source, (int)n);
        return;
    }
    memcpy(c->log_file, bytes, n);
    c->log_file[n] = 0;
}

bool spk_units_equal_word(const spk_unit *u, size_t n, const char *word) {
    size_t i = 0;
    for (; i < n && word[i]; i++) {
        spk_unit a = u[i];
        unsigned char b = (unsigned char)word[i];
        if (a >= 0x80) return false;
        if (a >= 'a' && a <= 'z') a = (spk_unit)(a - 'a' + 'A');
        if (b >= 'a' && b <= 'z') b = (unsigned char)(b - 'a' + 'A');
        if (a != b) return false;
    }
    return i == n && !word[i];
}

// Keyword lookup over UTF-16 units; units outside ASCII never match.
const SpkKeyword *spk_keyword_find_units(const spk_unit *u, size_t n) {
    for (const SpkKeyword &k : spk_keywords) {
        if (k.keyword && spk_units_equal_word(u, n, k.keyword)) return &k;
        if (k.keyword_alias && spk_units_equal_word(u, n, k.keyword_alias)) return &k;
    }
    return nullptr;
}

std::string spk_units_to_utf8(const spk_unit *u, size_t n) {
    std::string out;
    out.reserve(n);
    for (size_t i = 0; i < n; i++) {
        char buf[4];
        uint32_t cp = u[i];
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (u[i + 1] - 0xDC00);
            i++;
        }
        int k = spk_utf8_encode_unit(cp, buf);
        out.append(buf, (size_t)k);
    }
    return out;
}

// ---------------------------------------------------------------------------
// Connection-string items

struct SpkConnItem {
    size_t key_start, key_end;       // keyword units
    bool has_value;                  // an "=" was found
    size_t raw_start, raw_end;       // the value as written (braces included)
    Units value;                     // the value with braces resolved
};

bool spk_is_blank(spk_unit c) { return c == ' ' || c == '\t'; }

// Reads the item starting at *pos; false at the end of the string.  Items
// are separated by ";".  A value that begins with "{" runs to the matching
// "}", where "}}" stands for one "}" and ";" or "=" are plain characters;
// text after the closing brace up to the next ";" is kept as written.
bool spk_next_item(const spk_unit *u, size_t n, size_t *pos, SpkConnItem *item) {
    size_t p = *pos;
    while (p < n && u[p] == ';') p++;   // empty items
    if (p >= n) {
        *pos = p;
        return false;
    }
    // Blanks around the keyword and after the '=' are not part of them.
    while (p < n && spk_is_blank(u[p])) p++;
    item->key_start = p;
    while (p < n && u[p] != '=' && u[p] != ';') p++;
    item->key_end = p;
    while (item->key_end > item->key_start && spk_is_blank(u[item->key_end - 1])) item->key_end--;
    item->value.clear();
    item->has_value = p < n && u[p] == '=';
    if (!item->has_value) {
        item->raw_start = item->raw_end = p;
        *pos = p;
        return true;
    }
    p++;
    while (p < n && spk_is_blank(u[p])) p++;
    item->raw_start = p;
    if (p < n && u[p] == '{') {
        p++;
        for (; p < n; p++) {
            if (u[p] == '}') {
                if (p + 1 < n && u[p + 1] == '}') {
                    item->value.push_back('}');
                    p++;
                    continue;
                }
                p++;
                break;
            }
            item->value.push_back(u[p]);
        }
    }
    // Blanks before the ';' are not part of the value (inside braces they are).
    size_t kept = item->value.size();
    if (p == item->raw_start) kept = 0;
    for (; p < n && u[p] != ';'; p++) item->value.push_back(u[p]);
    while (item->value.size() > kept && spk_is_blank(item->value.back())) item->value.pop_back();
    item->raw_end = p;
    *pos = p;
    return true;
}

bool spk_needs_braces(const Units &v) {
    if (v.empty()) return false;
    if (v.front() == ' ' || v.back() == ' ') return true;
    for (spk_unit c : v)
        if (c == ';' || c == '{' || c == '}' || c == '=') return true;
    return false;
}

void spk_append_ascii(Units *out, const char *text) {
    for (; *text; text++) out->push_back((unsigned char)*text);
}

void spk_append_value(Units *out, const spk_unit *v, size_t n) {
    Units value(v, v + n);
    if (!spk_needs_braces(value)) {
        out->insert(out->end(), value.begin(), value.end());
        return;
    }
    out->push_back('{');
    for (spk_unit c : value) {
        out->push_back(c);
        if (c == '}') out->push_back('}');
    }
    out->push_back('}');
}

void spk_append_item(Units *out, const char *keyword, const SpkString *value) {
    spk_append_ascii(out, keyword);
    out->push_back('=');
    spk_append_value(out, spk_str_units(value), (size_t)spk_str_length(value));
    out->push_back(';');
}

void spk_append_number(Units *out, const char *keyword, int32_t value) {
    spk_append_ascii(out, keyword);
    out->push_back('=');
    spk_append_ascii(out, std::to_string(value).c_str());
    out->push_back(';');
}

SpkString *spk_units_to_string(const Units &u) {
    static const spk_unit none = 0;
    return spk_str_from_wide(u.empty() ? &none : u.data(), (long)u.size());
}

SpkString *spk_output_string(SpkConnection *c, bool masked) {
    spk_unit star_units[3] = {'*', '*', '*'};
    SpkString stars = {star_units, 3, 1};
    Units out;
    // The data source, or the driver as the application named it, so that
    // the string connects again.
    if (c->dsn) {
        spk_append_item(&out, "DSN", c->dsn);
    } else if (c->driver && spk_str_length(c->driver) > 0) {
        spk_append_ascii(&out, "DRIVER=");
        Units name(spk_str_units(c->driver), spk_str_units(c->driver) + spk_str_length(c->driver));
        out.push_back('{');
        for (spk_unit ch : name) {
            out.push_back(ch);
            if (ch == '}') out.push_back('}');
        }
        spk_append_ascii(&out, "};");
    } else {
        spk_append_ascii(&out, "DRIVER={" SPK_DRIVER_NAME "};");
    }
    if (c->uid) spk_append_item(&out, "UID", c->uid);
    if (c->pwd) spk_append_item(&out, "PWD", masked ? &stars : c->pwd);
    if (c->server) spk_append_item(&out, "SERVER", c->server);
    if (c->port > 0 && c->port != 10000) spk_append_number(&out, "PORT", c->port);
    if (c->col_length > 0 && c->col_length != 256) spk_append_number(&out, "COL_LENGTH", c->col_length);
    // Written with the keyword the connection string reads ("Encrypt" is a
    // DSN key only), so that reconnecting with this string keeps TLS on.
    if (c->encrypt) spk_append_ascii(&out, "ssl=yes;");
    if (c->trust_server_certificate) spk_append_ascii(&out, "TrustServerCertificate=Yes;");
    if (c->certificate_file) spk_append_item(&out, "CertificateFile", c->certificate_file);
    if (const char *name = spk_auth_out_name(c->authentication)) {
        spk_append_ascii(&out, "Authentication=");
        spk_append_ascii(&out, name);
        out.push_back(';');
    }
    if (c->access_token) spk_append_item(&out, "AccessToken", masked ? &stars : c->access_token);
    if (c->krb_principle) spk_append_item(&out, "KrbPrinciple", c->krb_principle);
    if (c->gss_lib) spk_append_item(&out, "GSSLIB", c->gss_lib);
    if (c->gss_flag) spk_append_number(&out, "GSSFLAG", c->gss_flag);
    if (c->http_uri) spk_append_item(&out, "HttpUri", c->http_uri);
    if (c->database) spk_append_item(&out, "Database", c->database);
    if (c->login_timeout != SPK_DEFAULT_LOGIN_TIMEOUT && c->login_timeout >= 0)
        spk_append_number(&out, "LoginTimeout", c->login_timeout);
    if (c->socket_timeout != SPK_DEFAULT_SOCKET_TIMEOUT && c->socket_timeout >= 0)
        spk_append_number(&out, "SocketTimeout", c->socket_timeout);
    if (c->max_message_size > 0 && c->max_message_size != SPK_DEFAULT_MAX_MESSAGE_MB)
        spk_append_number(&out, "MaxMessageSize", c->max_message_size);
    if (c->async_exec == 0) spk_append_ascii(&out, "AsyncExec=0;");
    if (c->rows_per_fetch > 0 && c->rows_per_fetch != SPK_DEFAULT_ROWS_PER_FETCH)
        spk_append_number(&out, "RowsPerFetch", c->rows_per_fetch);
    if (c->prefetch == 0) spk_append_ascii(&out, "Prefetch=0;");
    return spk_units_to_string(out);
}

// ---------------------------------------------------------------------------
// odbc.ini

struct SpkDsnReader {
    SpkConnection *conn;
    std::string section;
    std::vector<char> keys;    // NUL-separated key names
    bool have_list;
    const char *source;        // "SQLConnect" or "SQLDriverConnect"
    int mode;
};

// Reads one key into `value` (SPK_VALUE_SIZE bytes); returns its length.
int spk_dsn_read(SpkDsnReader *r, const char *key, char *value) {
    value[0] = 0;
    if (r->have_list) {
        bool found = false;
        for (const char *k = r->keys.data(); *k; k += strlen(k) + 1) {
            if (spk_word_equal(k, key)) {
                found = true;
                break;
            }
        }
        if (!found) return 0;
    }
    return spk_ini_get(r->section.c_str(), key, "", value, SPK_VALUE_SIZE);
}

void spk_dsn_open(SpkDsnReader *r, SpkConnection *conn, int mode) {
    r->conn = conn;
    r->mode = mode;
    r->source = mode == SPK_DSN_CONNECT_MODE ? "SQLConnect" : "SQLDriverConnect";
    r->section = spk_units_to_utf8(spk_str_units(conn->dsn), (size_t)spk_str_length(conn->dsn));
    r->keys.assign(SPK_KEY_LIST_SIZE, 0);
    int n = spk_ini_get(r->section.c_str(), nullptr, "", r->keys.data(), SPK_KEY_LIST_SIZE);
    r->have_list = n > 0 && n < SPK_KEY_LIST_SAFE;
}

// The DSN's value for a setting, applied when the setting is still unset.
// 0, or -1 when memory ran out.
int spk_dsn_apply(SpkDsnReader *r, int id) {
    SpkConnection *c = r->conn;
    const SpkKeyword *k = spk_keyword(id);
    const char *src = r->source;
    bool connect_mode = r->mode == SPK_DSN_CONNECT_MODE;
    char value[SPK_VALUE_SIZE];

    if (SpkString **field = spk_text_field(c, id)) {
        if (*field) return 0;
        int n = spk_dsn_read(r, k->dsn_key, value);
        if (n <= 0) return 0;
        if (spk_set_text(c, field, spk_str_from_utf8(value, n)) < 0) return -1;
        switch (id) {
        case SPK_SET_PWD: SPK_LOG(c, LOG_CONTINUATION, "%s: Password found in ini file", src); break;
        case SPK_SET_ACCESS_TOKEN: SPK_LOG(c, LOG_CONTINUATION, "%s: AccessToken found in ini file", src); break;
        case SPK_SET_UID: SPK_LOG(c, LOG_CONTINUATION, "%s: User found in ini file value '%s'", src, value); break;
        case SPK_SET_SERVER:
            SPK_LOG(c, LOG_CONTINUATION, connect_mode ? "%s: Server found in ini file value '%s'"
                                                      : "%s: SERVER found in ini file value '%s'", src, value);
            break;
        case SPK_SET_CERTIFICATE_FILE:
            if (connect_mode)
                SPK_LOG(c, LOG_CONTINUATION, "%s: CertificateFile found in ini file, setting file from ini value '%S'",
                        src, *field);
            else
                SPK_LOG(c, LOG_CONTINUATION, "%s: CertificateFile found in ini file value '%s'", src, value);
            break;
        case SPK_SET_GSS_LIB:
            if (connect_mode)
                SPK_LOG(c, LOG_CONTINUATION, "%s: GSSLIB found in ini file, setting lib from ini value '%S'", src,
                        *field);
            else
                SPK_LOG(c, LOG_CONTINUATION, "%s: GSSLIB found in ini file value '%s'", src, value);
            break;
        default: SPK_LOG(c, LOG_CONTINUATION, "%s: %s found in ini file value '%s'", src, k->dsn_key, value); break;
        }
        return 0;
    }

    if (id == SPK_SET_LOGGING) {
        // Connect mode: a non-empty value replaces the mask.  Driver-connect
        // mode: read only while tracing is off (an empty value gives 0).
        if (!connect_mode && c->log_flags != 0) return 0;
        int n = spk_dsn_read(r, k->dsn_key, value);
        if (n > 0 || !connect_mode) c->log_flags = (uint32_t)spk_rule_value(k->dsn_rule, value);
        if (n > 0) SPK_LOG(c, LOG_CONTINUATION, "%s: Logging found in ini file value '%s'", src, value);
        return 0;
    }
    if (id == SPK_SET_LOG_FILE) {
        if (!connect_mode && c->log_file[0]) return 0;
        int n = spk_dsn_read(r, k->dsn_key, value);
        if (n > 0) {
            spk_set_log_file(c, value, (size_t)n, src);
            SPK_LOG(c, LOG_CONTINUATION, "%s: LogFile found in ini file value '%s'", src, value);
        }
        return 0;
    }

    int32_t *field = spk_number_field(c, id);
    if (!field) return 0;
    // Port, column length and encryption count as unset while negative; the
    // others only at the marker itself.
    bool below_zero = id == SPK_SET_PORT || id == SPK_SET_COL_LENGTH || id == SPK_SET_ENCRYPT;
    if (below_zero ? *field >= 0 : *field != SPK_UNSET) return 0;
    int n = spk_dsn_read(r, k->dsn_key, value);
    if (n <= 0) {
        if (connect_mode && id == SPK_SET_PORT) SPK_LOG(c, LOG_CONTINUATION, "%s: using default port setting", src);
        if (connect_mode && id == SPK_SET_COL_LENGTH)
            SPK_LOG(c, LOG_CONTINUATION, "%s: using default col length", src);
        return 0;
    }
    if (id == SPK_SET_AUTHENTICATION && !spk_auth_value_known(value)) return spk_unknown_auth(c, value);
    *field = spk_rule_value(k->dsn_rule, value);
    switch (id) {
    case SPK_SET_PORT:
        if (connect_mode)
            SPK_LOG(c, LOG_CONTINUATION, "%s: port found in ini file, setting port to %d from ini value '%s'", src,
                    *field, value);
        else
            SPK_LOG(c, LOG_CONTINUATION, "%s: port found in ini file value '%s'", src, value);
        break;
    case SPK_SET_GSS_FLAG:
        if (connect_mode)
            SPK_LOG(c, LOG_CONTINUATION, "%s: GSSFLAG found in ini file, setting flag from ini value '%d'", src,
                    *field);
        else
            SPK_LOG(c, LOG_CONTINUATION, "%s: GSSFLAG found in ini file value '%s'", src, value);
        break;
    default: SPK_LOG(c, LOG_CONTINUATION, "%s: %s found in ini file value '%s'", src, k->dsn_key, value); break;
    }
    return 0;
}

// Trace line for a keyword taken from the connection string.
void spk_log_keyword(SpkConnection *c, int id) {
    if (!c->log_flags) return;
    const char *src = "SQLDriverConnect";
    switch (id) {
    case SPK_SET_DSN: SPK_LOG(c, LOG_CONTINUATION, "%s: Dsn found in connect string '%S'", src, c->dsn); break;
    case SPK_SET_UID: SPK_LOG(c, LOG_CONTINUATION, "%s: User found in connect string '%S'", src, c->uid); break;
    case SPK_SET_PWD: SPK_LOG(c, LOG_CONTINUATION, "%s: Password found in connect string", src); break;
    case SPK_SET_SERVER: SPK_LOG(c, LOG_CONTINUATION, "%s: SERVER found in connect string '%S'", src, c->server); break;
    case SPK_SET_PORT: SPK_LOG(c, LOG_CONTINUATION, "%s: Port found in connect string %d", src, c->port); break;
    case SPK_SET_COL_LENGTH:
        SPK_LOG(c, LOG_CONTINUATION, "%s: Col_Length found in connect string %d", src, c->col_length);
        break;
    case SPK_SET_LOGGING:
        SPK_LOG(c, LOG_CONTINUATION, "%s: Logging found in connect string %d", src, (int)c->log_flags);
        break;
    case SPK_SET_LOG_FILE:
        SPK_LOG(c, LOG_CONTINUATION, "%s: LogFile found in connect string '%s'", src, c->log_file);
        break;
    case SPK_SET_ENCRYPT: SPK_LOG(c, LOG_CONTINUATION, "%s: Encrypt found in connect string %d", src, c->encrypt); break;
    case SPK_SET_TRUST_SERVER_CERTIFICATE:
        SPK_LOG(c, LOG_CONTINUATION, "%s: TrustServerCertificate found in connect string %d", src,
                c->trust_server_certificate);
        break;
    case SPK_SET_CERTIFICATE_FILE:
        SPK_LOG(c, LOG_CONTINUATION, "%s: CertificateFile found in connect string '%S'", src, c->certificate_file);
        break;
    case SPK_SET_AUTHENTICATION:
        SPK_LOG(c, LOG_CONTINUATION, "%s: Authentication found in connect string %d", src, c->authentication);
        break;
    case SPK_SET_ACCESS_TOKEN:
        SPK_LOG(c, LOG_CONTINUATION, "%s: AccessToken found in connect string '***'", src);
        break;
    case SPK_SET_KRB_PRINCIPLE:
        SPK_LOG(c, LOG_CONTINUATION, "%s: KrbPrinciple found in connect string '%S'", src, c->krb_principle);
        break;
    case SPK_SET_GSS_LIB: SPK_LOG(c, LOG_CONTINUATION, "%s: GSSLIB found in connect string '%S'", src, c->gss_lib); break;
    case SPK_SET_GSS_FLAG: SPK_LOG(c, LOG_CONTINUATION, "%s: GSSFLAG found in connect string %d", src, c->gss_flag); break;
    case SPK_SET_HTTP_URI:
        SPK_LOG(c, LOG_CONTINUATION, "%s: HttpUri found in connect string '%S'", src, c->http_uri);
        break;
    default: break;
    }
}

// One item of the connection string.  0, or -1 when memory ran out.
int spk_apply_keyword(SpkConnection *c, const SpkKeyword *k, const Units &value) {
    int id = k->id;
    if (SpkString **field = spk_text_field(c, id)) {
        if (k->occurrence == SPK_OCCUR_FIRST && *field) return 0;
        if (k->occurrence == SPK_OCCUR_FIRST_NON_EMPTY && (value.empty() || *field)) return 0;
        if (spk_set_text(c, field, spk_units_to_string(value)) < 0) return -1;
        spk_log_keyword(c, id);
        return 0;
    }
    std::string bytes = spk_units_to_utf8(value.data(), value.size());
    if (id == SPK_SET_LOG_FILE) {
        spk_set_log_file(c, bytes.data(), bytes.size(), "SQLDriverConnect");
        spk_log_keyword(c, id);
        return 0;
    }
    if (id == SPK_SET_LOGGING) {
        c->log_flags = (uint32_t)spk_rule_value(k->keyword_rule, bytes.c_str());
        spk_log_keyword(c, id);
        return 0;
    }
    if (id == SPK_SET_AUTHENTICATION && !spk_auth_value_known(bytes.c_str())) return spk_unknown_auth(c, bytes.c_str());
    if (int32_t *field = spk_number_field(c, id)) {
        *field = spk_rule_value(k->keyword_rule, bytes.c_str());
        spk_log_keyword(c, id);
    }
    return 0;
}

// Reads every DSN key in the order of the mode.  The trace file is read
// before the trace mask, so that the records of the reading itself already
// go to that file.
const int spk_connect_order[] = {
    SPK_SET_SERVER,  SPK_SET_LOG_FILE,       SPK_SET_LOGGING,        SPK_SET_PORT,
    SPK_SET_UID,     SPK_SET_PWD,            SPK_SET_COL_LENGTH,     SPK_SET_ENCRYPT,
    SPK_SET_TRUST_SERVER_CERTIFICATE,        SPK_SET_CERTIFICATE_FILE, SPK_SET_AUTHENTICATION,
    SPK_SET_ACCESS_TOKEN, SPK_SET_KRB_PRINCIPLE, SPK_SET_GSS_LIB,    SPK_SET_GSS_FLAG,
    SPK_SET_HTTP_URI, SPK_SET_DATABASE, SPK_SET_LOGIN_TIMEOUT, SPK_SET_SOCKET_TIMEOUT,
    SPK_SET_MAX_MESSAGE_SIZE, SPK_SET_ASYNC_EXEC, SPK_SET_ROWS_PER_FETCH, SPK_SET_PREFETCH,
};
const int spk_driver_connect_order[] = {
    SPK_SET_UID,     SPK_SET_PWD,            SPK_SET_SERVER,         SPK_SET_COL_LENGTH,
    SPK_SET_PORT,    SPK_SET_LOG_FILE,       SPK_SET_LOGGING,        SPK_SET_ENCRYPT,
    SPK_SET_TRUST_SERVER_CERTIFICATE,        SPK_SET_CERTIFICATE_FILE, SPK_SET_AUTHENTICATION,
    SPK_SET_ACCESS_TOKEN, SPK_SET_KRB_PRINCIPLE, SPK_SET_GSS_LIB,    SPK_SET_GSS_FLAG,
    SPK_SET_HTTP_URI, SPK_SET_DATABASE, SPK_SET_LOGIN_TIMEOUT, SPK_SET_SOCKET_TIMEOUT,
    SPK_SET_MAX_MESSAGE_SIZE, SPK_SET_ASYNC_EXEC, SPK_SET_ROWS_PER_FETCH, SPK_SET_PREFETCH,
};

SpkString *spk_bounded_utf8(const char *text, size_t size) {
    size_t n = strnlen(text, size);
    if (n == 0) return spk_str_from_latin1("");
    return spk_str_from_utf8(text, (long)n);
}

}   // namespace

// ---------------------------------------------------------------------------

void spk_settings_clear(SpkConnection *conn) {
    for (int id : spk_text_ids) {
        SpkString **f = spk_text_field(conn, id);
        spk_str_free(*f);
        *f = nullptr;
    }
    spk_settings_set_numbers(conn, 0);
}

int read_dsn_settings(SpkConnection *conn, int mode) {
    if (!conn->dsn || spk_str_length(conn->dsn) == 0) return 0;
    SpkDsnReader reader;
    spk_dsn_open(&reader, conn, mode);
    if (mode == SPK_DSN_CONNECT_MODE) {
        for (int id : spk_connect_order)
            if (spk_dsn_apply(&reader, id) < 0) return -1;
    } else {
        for (int id : spk_driver_connect_order)
            if (spk_dsn_apply(&reader, id) < 0) return -1;
    }
    return 0;
}

int spk_settings_for_connect(SpkConnection *conn, const SpkString *dsn, const SpkString *uid, const SpkString *pwd) {
    spk_settings_clear(conn);
    spk_settings_set_numbers(conn, SPK_UNSET);
    const SpkString *args[3] = {dsn, uid, pwd};
    SpkString **fields[3] = {&conn->dsn, &conn->uid, &conn->pwd};
    for (int i = 0; i < 3; i++) {
        if (!args[i]) continue;
        if (spk_set_text(conn, fields[i], spk_str_copy(args[i])) < 0) {
            spk_settings_defaults(conn);
            return -1;
        }
    }
    int rc = read_dsn_settings(conn, SPK_DSN_CONNECT_MODE);
    spk_settings_defaults(conn);
    return rc;
}

int parse_connection_string(SpkConnection *conn, const SpkString *conn_str) {
    spk_settings_clear(conn);
    spk_settings_set_numbers(conn, SPK_UNSET);
    const spk_unit *u = spk_str_units(conn_str);
    size_t n = u ? (size_t)spk_str_length(conn_str) : 0;
    size_t pos = 0;
    SpkConnItem item;
    int rc = 0;
    while (rc == 0 && spk_next_item(u, n, &pos, &item)) {
        const SpkKeyword *k = spk_keyword_find_units(u + item.key_start, item.key_end - item.key_start);
        if (!k || k->keyword_rule == SPK_RULE_NONE) continue;
        rc = spk_apply_keyword(conn, k, item.value);
    }
    if (rc == 0 && conn->dsn) rc = read_dsn_settings(conn, SPK_DSN_DRIVER_CONNECT_MODE);
    spk_settings_defaults(conn);
    return rc;
}

SpkString *make_output_connection_string(SpkConnection *conn) { return spk_output_string(conn, false); }

SpkString *make_output_connection_string_masked(SpkConnection *conn) { return spk_output_string(conn, true); }

SpkString *spk_mask_connection_string(const SpkString *conn_str) {
    if (!conn_str) return nullptr;
    const spk_unit *u = spk_str_units(conn_str);
    size_t n = u ? (size_t)spk_str_length(conn_str) : 0;
    Units out;
    size_t pos = 0, copied = 0;
    SpkConnItem item;
    while (spk_next_item(u, n, &pos, &item)) {
        const SpkKeyword *k = spk_keyword_find_units(u + item.key_start, item.key_end - item.key_start);
        if (!k || !k->secret || item.raw_end == item.raw_start) continue;
        out.insert(out.end(), u + copied, u + item.raw_start);
        spk_append_ascii(&out, "***");
        copied = item.raw_end;
    }
    if (n > copied) out.insert(out.end(), u + copied, u + n);
    return spk_units_to_string(out);
}

int apply_connect_info(SpkConnection *conn, const SpkConnectInfo *info) {
    struct {
        SpkString **field;
        const char *text;
        bool empty_is_none;
    } texts[] = {
        {&conn->dsn, info->dsn, true},
        {&conn->uid, info->uid, false},
        {&conn->pwd, info->pwd, false},
        {&conn->server, info->server, true},
        {&conn->certificate_file, info->certificate_file, true},
        {&conn->krb_principle, info->krb_principle, true},
        {&conn->http_uri, info->http_uri, true},
        {&conn->access_token, info->access_token, true},
    };
    for (auto &t : texts) {
        if (t.empty_is_none && strnlen(t.text, 1024) == 0) {
            spk_str_free(*t.field);
            *t.field = nullptr;
            continue;
        }
        if (spk_set_text(conn, t.field, spk_bounded_utf8(t.text, 1024)) < 0) return -1;
    }
    conn->port = info->port;
    conn->authentication = info->authentication;
    char col_length[sizeof info->col_length + 1];
    memcpy(col_length, info->col_length, sizeof info->col_length);
    col_length[sizeof info->col_length] = 0;
    conn->col_length = spk_parse_decimal(col_length);
    conn->log_flags = info->logging == 1 ? 0x1F : (uint32_t)info->logging;
    spk_set_log_file(conn, info->log_file, strnlen(info->log_file, sizeof info->log_file), "apply_connect_info");
    conn->encrypt = info->encrypt;
    conn->trust_server_certificate = info->trust_server_certificate;
    return 0;
}

namespace {
void spk_record_text(char *out, size_t size, const SpkString *value) {
    out[0] = 0;
    if (!value) return;
    size_t n = 0;
    char *text = spk_str_to_utf8_n(value, &n);
    if (!text) return;
    spk_copy_record_text(out, size, text, n);
    free(text);
}
}   // namespace

void spk_settings_to_connect_info(SpkConnection *conn, SpkConnectInfo *info) {
    memset(info, 0, sizeof *info);
    spk_record_text(info->dsn, sizeof info->dsn, conn->dsn);
    spk_record_text(info->uid, sizeof info->uid, conn->uid);
    spk_record_text(info->pwd, sizeof info->pwd, conn->pwd);
    spk_record_text(info->server, sizeof info->server, conn->server);
    info->port = conn->port ? conn->port : 10000;
    snprintf(info->col_length, sizeof info->col_length, "%d", (int)conn->col_length);
    info->logging = conn->log_flags == 0x1F ? 1 : (int32_t)conn->log_flags;
    memcpy(info->log_file, conn->log_file, strnlen(conn->log_file, sizeof conn->log_file - 1));
    info->encrypt = conn->encrypt;
    info->trust_server_certificate = conn->trust_server_certificate;
    spk_record_text(info->certificate_file, sizeof info->certificate_file, conn->certificate_file);
    info->authentication = conn->authentication;
    spk_record_text(info->krb_principle, sizeof info->krb_principle, conn->krb_principle);
    spk_record_text(info->http_uri, sizeof info->http_uri, conn->http_uri);
    spk_record_text(info->access_token, sizeof info->access_token, conn->access_token);
}
