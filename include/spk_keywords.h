// The one table of connection settings: DSN keys in odbc.ini, connection-
// string keywords, the output connection string, and the value rules of
// each.  Shared by the driver and the setup library; plain C strings only.
#pragma once

#include <cstdint>

#define SPK_DRIVER_NAME "Quillmark Tarnwell"
#define SPK_ODBC_INI "odbc.ini"

enum SpkSettingId {
    SPK_SET_DSN,
    SPK_SET_DESCRIPTION,
    SPK_SET_UID,
    SPK_SET_PWD,
    SPK_SET_SERVER,
    SPK_SET_PORT,
    SPK_SET_COL_LENGTH,
    SPK_SET_LOGGING,
    SPK_SET_LOG_FILE,
    SPK_SET_ENCRYPT,
    SPK_SET_TRUST_SERVER_CERTIFICATE,
    SPK_SET_CERTIFICATE_FILE,
    SPK_SET_AUTHENTICATION,
    SPK_SET_ACCESS_TOKEN,
    SPK_SET_KRB_PRINCIPLE,
    SPK_SET_GSS_LIB,
    SPK_SET_GSS_FLAG,
    SPK_SET_HTTP_URI,
    SPK_SET_DATABASE,        // the database the session opens in
    SPK_SET_DRIVER,          // the driver the application named (connection string only)
    SPK_SET_LOGIN_TIMEOUT,   // seconds for all of connect (0: none)
    SPK_SET_SOCKET_TIMEOUT,  // seconds for one request and its reply (0: none)
    SPK_SET_MAX_MESSAGE_SIZE,// MiB one server reply may take
    SPK_SET_ASYNC_EXEC,      // statements run asynchronously and can be cancelled (1), or in one call (0)
    SPK_SET_ROWS_PER_FETCH,  // rows asked for in one FetchResults
    SPK_SET_PREFETCH,        // the next batch is asked for while the current one is read (1), or not (0)
    SPK_SET_COUNT
};

// How a value text becomes a setting.
enum SpkValueRule {
    SPK_RULE_NONE,           // not read from this source
    SPK_RULE_TEXT,
    SPK_RULE_DECIMAL,        // optional blanks and sign, decimal digits
    SPK_RULE_AUTO_BASE,      // the same with 0x (hexadecimal) and 0 (octal) prefixes
    SPK_RULE_LOGGING,        // yes/true/on 0x1F, onerror/error 0x5F, process 0x3F, no/off 0, else auto base
    SPK_RULE_SWITCH,         // yes/true/on 1, no/off/false 0, else auto base
    SPK_RULE_TRUST_DSN,      // yes/true 1, no 0, else decimal
    SPK_RULE_TRUST_KEYWORD,  // yes/true 1, anything else 0
    SPK_RULE_AUTH_DSN,       // method names, else decimal
    SPK_RULE_AUTH_KEYWORD,   // method names, else auto base
};

// Which occurrence of a connection-string keyword counts.
enum SpkOccurrence {
    SPK_OCCUR_FIRST,           // the first, an empty value included
    SPK_OCCUR_FIRST_NON_EMPTY, // the first with a non-empty value
    SPK_OCCUR_LAST,            // the last
};

struct SpkKeyword {
    int id;                    // SpkSettingId
    const char *dsn_key;       // key in odbc.ini as the setup library writes it; null: none
    int dsn_rule;              // SpkValueRule for the DSN value
    const char *keyword;       // connection-string keyword; null: none
    const char *keyword_alias; // second spelling of the keyword; null: none
    int keyword_rule;          // SpkValueRule for the connection-string value
    int occurrence;            // SpkOccurrence
    const char *out_keyword;   // name in the output connection string; null: not written
    int secret;                // 1: the value is never written to a trace
};

extern const SpkKeyword spk_keywords[SPK_SET_COUNT];
const SpkKeyword *spk_keyword(int id);
// The entry whose keyword or alias equals `name` (ASCII case-insensitive), or null.
const SpkKeyword *spk_keyword_find(const char *name);
// The entry whose DSN key, keyword or alias equals `name` (installer
// attribute lists use either spelling), or null.
const SpkKeyword *spk_keyword_find_any(const char *name);

// Authentication method names in the order of their codes (0..6), as the
// setup library writes them.
#define SPK_AUTH_CODE_COUNT 7
extern const char *const spk_auth_names[SPK_AUTH_CODE_COUNT];
// The code of a method name ("Kerb", "BASIC" and "OAUTH" included), or -1.
int spk_auth_code_from_name(const char *text);
// The method name written in the output connection string; null for 0.
const char *spk_auth_out_name(int code);
// Whether an Authentication value names a method: a method name, a number
// of one (0..6), or nothing (the default).
bool spk_auth_value_known(const char *text);

// Switch values as the setup library writes them.
#define SPK_WORD_YES "Yes"
#define SPK_WORD_NO "No"

// ASCII case-insensitive equality of two NUL-terminated texts.
bool spk_word_equal(const char *a, const char *b);
// Number rules; out-of-range values are clamped to the 32-bit range.
int32_t spk_parse_decimal(const char *text);
int32_t spk_parse_auto_base(const char *text);
// The value of a numeric rule (every rule but SPK_RULE_TEXT and SPK_RULE_NONE).
int32_t spk_rule_value(int rule, const char *text);
