// Parameters: binding, checks, data at execution, literals and parameter
// arrays.
#include "spk_param.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <unordered_map>
#include <vector>

#include "spk_desc.h"
#include "spk_err.h"
#include "spk_log.h"
#include "spk_operation.h"
#include "spk_sql.h"
#include "spk_stmt.h"

// ---------------------------------------------------------------------------
// State hung on a statement: the data collected by SQLPutData, the
// data-at-execution position, and the parameter set being executed.

namespace {

struct DaeValue {
    std::string bytes;
    bool is_null = false;
    bool put = false;          // SQLPutData has been called for it in this sequence
};

}  // namespace

struct SpkParamState {
    // Data-at-execution values by (set, parameter index).
    std::unordered_map<uint64_t, DaeValue> dae;
    int64_t dae_set = -1;          // set of the current / active data-at-execution parameter
    int32_t dae_active = -1;       // parameter receiving SQLPutData (0-based), -1 none
    int32_t dae_origin = 0;        // 11 SQLExecDirect, 12 SQLExecute
    // What spk_fixup_params renders: one set, or a prepared text.
    int64_t set = 0;
    bool use_text = false;
    std::string text;
};

static uint64_t dae_key(int64_t set, int param) { return ((uint64_t)set << 16) | (uint32_t)(param & 0xFFFF); }

static SpkParamState *param_state(SpkStatement *stmt) {
    if (!stmt->param_state) stmt->param_state = new SpkParamState();
    return stmt->param_state;
}

void spk_param_release(SpkStatement *stmt) {
    delete stmt->param_state;
    stmt->param_state = nullptr;
}

bool spk_param_cancel_dae(SpkStatement *stmt) {
    bool pending = stmt->dae_current >= 0 || (stmt->param_state && stmt->param_state->dae_active >= 0);
    stmt->dae_current = -1;
    if (stmt->param_state) {
        stmt->param_state->dae_active = -1;
        stmt->param_state->dae_set = -1;
    }
    return pending;
}

// ---------------------------------------------------------------------------
// Type classes

namespace {

enum SqlClass {
    K_TEXT,        // character types, GUID
    K_INTEGER,     // TINYINT .. BIGINT
    K_DECIMAL,     // NUMERIC, DECIMAL
    K_FLOAT,       // REAL, FLOAT, DOUBLE
    K_BIT,
    K_BINARY,
    K_DATE,
    K_TIME,
    K_TIMESTAMP,
};

SqlClass sql_class(int sql_type) {
    switch (sql_type) {
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return K_INTEGER;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return K_DECIMAL;
    case SQL_REAL:
    case SQL_FLOAT:
    case SQL_DOUBLE: return K_FLOAT;
    case SQL_BIT: return K_BIT;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return K_BINARY;
    case SQL_DATE:
    case SQL_TYPE_DATE: return K_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME: return K_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return K_TIMESTAMP;
    default: return K_TEXT;
    }
}


bool is_char_c_type(int t) { return t == SQL_C_CHAR || t == SQL_VARCHAR || t == SQL_LONGVARCHAR; }
bool is_wide_c_type(int t) { return t == SQL_C_WCHAR || t == SQL_WVARCHAR || t == SQL_WLONGVARCHAR; }
bool is_binary_c_type(int t) { return t == SQL_C_BINARY || t == SQL_VARBINARY || t == SQL_LONGVARBINARY; }

// Size of a fixed-size C type; 0 for character and binary types (and for
// types the renderer refuses).
size_t fixed_size(int c_type) {
    switch (c_type) {
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_TINYINT:
    case SQL_C_STINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_BIT: return 1;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_BIGINT:
    case SQL_C_DOUBLE:
    case SQL_FLOAT: return 8;
    case SQL_C_NUMERIC:
    case SQL_DECIMAL: return sizeof(SQL_NUMERIC_STRUCT);
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: return sizeof(SQL_DATE_STRUCT);
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return sizeof(SQL_TIME_STRUCT);
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return sizeof(SQL_TIMESTAMP_STRUCT);
    case SQL_C_GUID: return sizeof(SQLGUID);
    default: return 0;
    }
}

// ---------------------------------------------------------------------------
// Text helpers

bool is_blank(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }
bool is_digit(char c) { return c >= '0' && c <= '9'; }

void trim(const char **s, size_t *n) {
    while (*n > 0 && is_blank(**s)) (*s)++, (*n)--;
    while (*n > 0 && is_blank((*s)[*n - 1])) (*n)--;
}

bool equals_nocase(const char *s, size_t n, const char *word) {
    size_t k = strlen(word);
    if (n != k) return false;
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        if (c >= 'A' && c <= 'Z') c = (char)(c - 'A' + 'a');
        if (c != word[i]) return false;
    }
    return true;
}

// Appends code point `cp` as UTF-8.
void put_utf8(std::string *out, uint32_t cp) {
    char b[4];
    int n = spk_utf8_encode_unit(cp, b);
    out->append(b, (size_t)n);
}

// Checks that bytes are well-formed UTF-8.
bool utf8_valid(const char *s, size_t n) {
    const unsigned char *p = reinterpret_cast<const unsigned char *>(s);
    for (size_t i = 0; i < n;) {
        if (p[i] < 0x80) {
            i++;
            continue;
        }
        int used = 0;
        uint32_t cp = spk_utf8_decode(p + i, n - i, &used);
        if (cp == 0xFFFD && !(used == 3 && p[i] == 0xEF && p[i + 1] == 0xBF && p[i + 2] == 0xBD)) return false;
        i += (size_t)used;
    }
    return true;
}

// UTF-16 units to UTF-8.  A surrogate without its partner fails (strict) or
// becomes U+FFFD.
bool utf16_to_utf8(const spk_unit *u, size_t n, std::string *out, bool strict) {
    out->reserve(out->size() + n);
    for (size_t i = 0; i < n; i++) {
        uint32_t c = u[i];
        if (c < 0x80) {
            out->push_back((char)c);
            continue;
        }
        if (c >= 0xD800 && c <= 0xDBFF && i + 1 < n && u[i + 1] >= 0xDC00 && u[i + 1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (uint32_t)(u[i + 1] - 0xDC00);
            i++;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            if (strict) return false;
            c = 0xFFFD;
        }
        put_utf8(out, c);
    }
    return true;
}

// A Spark string literal of UTF-8 text: quote, backslash, line feed,
// carriage return and NUL escaped.
void put_string_literal(std::string *out, const char *s, size_t n) {
    out->reserve(out->size() + n + 2);
    out->push_back('\'');
    for (size_t i = 0; i < n; i++) {
        char c = s[i];
        switch (c) {
        case '\'': out->append("\\'"); break;
        case '\\': out->append("\\\\"); break;
        case '\n': out->append("\\n"); break;
        case '\r': out->append("\\r"); break;
        case '\0': out->append("\\u0000"); break;
        default: out->push_back(c);
        }
    }
    out->push_back('\'');
}

void put_hex_literal(std::string *out, const unsigned char *p, size_t n) {
    static const char hex[] = "0123456789ABCDEF";
    out->reserve(out->size() + 2 * n + 3);
    out->append("X'");
    for (size_t i = 0; i < n; i++) {
        out->push_back(hex[p[i] >> 4]);
        out->push_back(hex[p[i] & 15]);
    }
    out->push_back('\'');
}

// ---------------------------------------------------------------------------
// Numbers

// Decimal text [ws][+|-](digits[.digits]|.digits)[(e|E)[+|-]digits][ws],
// written back without white space or a plus sign.  With `plain`, an
// exponent is folded into the digits (so that DECIMAL values stay exact)
// unless that would make the text very long.
bool read_number(const char *s, size_t n, bool plain, std::string *out) {
    trim(&s, &n);
    size_t i = 0;
    bool neg = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) neg = s[i++] == '-';
    size_t ip = i;
    while (i < n && is_digit(s[i])) i++;
    size_t in = i - ip;
    size_t fp = i, fn = 0;
    bool point = false;
    if (i < n && s[i] == '.') {
        point = true;
        fp = ++i;
        while (i < n && is_digit(s[i])) i++;
        fn = i - fp;
    }
    if (in + fn == 0) return false;
    bool has_exp = false;
    long long exp = 0;
    size_t ep = i;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        has_exp = true;
        i++;
        bool eneg = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) eneg = s[i++] == '-';
        if (i >= n || !is_digit(s[i])) return false;
        while (i < n && is_digit(s[i])) {
            if (exp < 100000000) exp = exp * 10 + (s[i] - '0');
            i++;
        }
        if (eneg) exp = -exp;
    }
    if (i != n) return false;
    out->clear();
    if (neg) out->push_back('-');
    if (!has_exp || !plain || exp > 200 || exp < -200) {
        out->append(s + ip, in);
        if (point) out->push_back('.');
        out->append(s + fp, fn);
        if (has_exp) out->append(s + ep, n - ep);
        return true;
    }
    // Fold the exponent: the digits stay, the point moves.
    std::string digits(s + ip, in);
    digits.append(s + fp, fn);
    long long pointpos = (long long)in + exp;   // digits before the point
    if (pointpos <= 0) {
        out->append("0.");
        out->append((size_t)(-pointpos), '0');
        out->append(digits);
    } else if ((size_t)pointpos >= digits.size()) {
        out->append(digits);
        out->append((size_t)pointpos - digits.size(), '0');
    } else {
        out->append(digits, 0, (size_t)pointpos);
        out->push_back('.');
        out->append(digits, (size_t)pointpos, std::string::npos);
    }
    return true;
}

// The shortest text that reads back as the same value (double or float).
// `fixed_ok` allows a plain form (no exponent) when it is short.
template <typename T>
void put_shortest(std::string *out, T v, bool fixed_ok) {
    char buf[400];
    std::to_chars_result r{};
    if (fixed_ok) {
        r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::fixed);
        if (r.ec == std::errc() && r.ptr - buf <= 40) {
            out->append(buf, (size_t)(r.ptr - buf));
            return;
        }
    }
    r = std::to_chars(buf, buf + sizeof buf, v);
    out->append(buf, (size_t)(r.ptr - buf));
}

}  // namespace

// The decimal text of a numeric structure.
static std::string numeric_text(const SQL_NUMERIC_STRUCT &ns) {
    unsigned __int128 mag = 0;
    for (int i = 15; i >= 0; i--) mag = (mag << 8) | ns.val[i];
    char rev[48];
    int nd = 0;
    do {
        rev[nd++] = (char)('0' + (int)(mag % 10));
        mag /= 10;
    } while (mag != 0);
    std::string digits;
    for (int i = nd - 1; i >= 0; i--) digits.push_back(rev[i]);
    int scale = (signed char)ns.scale;
    std::string out;
    if (ns.sign == 0) out.push_back('-');
    if (scale <= 0) {
        out += digits;
        out.append((size_t)-scale, '0');
        return out;
    }
    std::string frac;
    if ((size_t)scale < digits.size()) {
        out.append(digits, 0, digits.size() - (size_t)scale);
        frac = digits.substr(digits.size() - (size_t)scale);
    } else {
        out.push_back('0');
        frac.assign((size_t)scale - digits.size(), '0');
        frac += digits;
    }
    while (!frac.empty() && frac.back() == '0') frac.pop_back();
    if (!frac.empty()) {
        out.push_back('.');
        out += frac;
    }
    return out;
}

// ---------------------------------------------------------------------------
// Dates and times

namespace {

bool leap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

bool date_ok(int y, int m, int d) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (y < 0 || y > 9999 || m < 1 || m > 12 || d < 1) return false;
    return d <= days[m - 1] + (m == 2 && leap(y) ? 1 : 0);
}

bool time_ok(int h, int m, int s) { return h >= 0 && h <= 23 && m >= 0 && m <= 59 && s >= 0 && s <= 59; }

bool read_digits(const char *s, size_t n, size_t *i, size_t min, size_t max, int *out) {
    size_t k = 0;
    int v = 0;
    while (*i < n && k < max && is_digit(s[*i])) v = v * 10 + (s[(*i)++] - '0'), k++;
    if (k < min || (*i < n && is_digit(s[*i]))) return false;
    *out = v;
    return true;
}

// "YYYY-M[M]-D[D]", optionally followed (when `with_time`) by a space or T
// and "H[H]:MM[:SS[.fraction]]".  Rewritten in the canonical layout into
// *out; false when the text is not such a value.
bool read_datetime(const char *s, size_t n, bool with_time, std::string *out) {
    trim(&s, &n);
    size_t i = 0;
    int y, mo, d, h = 0, mi = 0, se = 0;
    if (!read_digits(s, n, &i, 4, 4, &y) || i >= n || s[i++] != '-') return false;
    if (!read_digits(s, n, &i, 1, 2, &mo) || i >= n || s[i++] != '-') return false;
    if (!read_digits(s, n, &i, 1, 2, &d) || !date_ok(y, mo, d)) return false;
    char buf[64];
    int len = snprintf(buf, sizeof buf, "%04d-%02d-%02d", y, mo, d);
    out->assign(buf, (size_t)len);
    if (i == n) return true;
    if (!with_time || (s[i] != ' ' && s[i] != 'T')) return false;
    i++;
    if (!read_digits(s, n, &i, 1, 2, &h) || i >= n || s[i++] != ':') return false;
    if (!read_digits(s, n, &i, 2, 2, &mi)) return false;
    if (i < n && s[i] == ':') {
        i++;
        if (!read_digits(s, n, &i, 2, 2, &se)) return false;
    }
    if (!time_ok(h, mi, se)) return false;
    len = snprintf(buf, sizeof buf, " %02d:%02d:%02d", h, mi, se);
    out->append(buf, (size_t)len);
    if (i < n && s[i] == '.') {
        size_t f = ++i;
        while (i < n && is_digit(s[i]) && i - f < 9) i++;
        if (i == f) return false;
        out->push_back('.');
        out->append(s + f, i - f);
    }
    return i == n;
}

void put_timestamp_fields(std::string *out, int y, int mo, int d, int h, int mi, int s, uint32_t fraction) {
    char buf[64];
    int len = fraction / 1000 != 0
                  ? snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d.%06u", y, mo, d, h, mi, s, fraction / 1000)
                  : snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", y, mo, d, h, mi, s);
    out->append(buf, (size_t)len);
}

// ---------------------------------------------------------------------------
// The renderer

struct Render {
    void *handle;
    int number;
    const SpkParamValue *v;
    SqlClass k;
    std::string *out;

    int fail(const char *state, const char *message) const {
        spk_post_column_error(handle, state, 0, number, "%s (parameter %d)", message, number);
        return -1;
    }
    int refuse() const {
        spk_post_column_error(handle, "07006", 0, number,
                              "C type %d cannot be sent as SQL type %d (parameter %d)", v->c_type, v->sql_type,
                              number);
        return -1;
    }
};

// Character data (already UTF-8) as the SQL type asks.
int render_text(const Render &r, const char *s, size_t n) {
    std::string *out = r.out;
    switch (r.k) {
    case K_TEXT:
    case K_TIME:
        put_string_literal(out, s, n);
        return 0;
    case K_BINARY:
        put_hex_literal(out, reinterpret_cast<const unsigned char *>(s), n);
        return 0;
    case K_INTEGER:
    case K_DECIMAL:
    case K_FLOAT: {
        std::string num;
        if (read_number(s, n, r.k == K_DECIMAL, &num)) {
            out->append(num);
            if (r.k == K_FLOAT) out->push_back('D');
            return 0;
        }
        const char *t = s;
        size_t tn = n;
        trim(&t, &tn);
        if (r.k == K_FLOAT) {
            if (equals_nocase(t, tn, "nan")) return out->append("CAST('NaN' AS DOUBLE)"), 0;
            if (equals_nocase(t, tn, "infinity") || equals_nocase(t, tn, "+infinity") || equals_nocase(t, tn, "inf"))
                return out->append("CAST('Infinity' AS DOUBLE)"), 0;
            if (equals_nocase(t, tn, "-infinity") || equals_nocase(t, tn, "-inf"))
                return out->append("CAST('-Infinity' AS DOUBLE)"), 0;
        }
        return r.fail("22018", "character value is not a number");
    }
    case K_BIT: {
        const char *t = s;
        size_t tn = n;
        trim(&t, &tn);
        if (equals_nocase(t, tn, "1") || equals_nocase(t, tn, "true")) return out->append("true"), 0;
        if (equals_nocase(t, tn, "0") || equals_nocase(t, tn, "false")) return out->append("false"), 0;
        return r.fail("22018", "character value is not a boolean");
    }
    case K_DATE:
    case K_TIMESTAMP: {
        std::string text;
        if (!read_datetime(s, n, r.k == K_TIMESTAMP, &text))
            return r.fail("22018", r.k == K_DATE ? "character value is not a date" : "character value is not a timestamp");
        out->append(r.k == K_DATE ? "DATE '" : "TIMESTAMP '");
        out->append(text);
        out->push_back('\'');
        return 0;
    }
    }
    return r.refuse();
}

// A number's text as the SQL type asks; `text` is a plain decimal number.
int render_number_text(const Render &r, const std::string &text, bool nonzero) {
    switch (r.k) {
    case K_TEXT:
        put_string_literal(r.out, text.data(), text.size());
        return 0;
    case K_INTEGER:
    case K_DECIMAL:
        r.out->append(text);
        return 0;
    case K_FLOAT:
        r.out->append(text);
        r.out->push_back('D');
        return 0;
    case K_BIT:
        r.out->append(nonzero ? "true" : "false");
        return 0;
    default: return r.refuse();
    }
}

template <typename T>
int render_integer(const Render &r, const void *p) {
    T v;
    memcpy(&v, p, sizeof v);
    char buf[32];
    auto res = std::to_chars(buf, buf + sizeof buf, v);
    return render_number_text(r, std::string(buf, res.ptr), v != 0);
}

int render_double(const Render &r, double d, bool is_float) {
    if (std::isnan(d) || std::isinf(d)) {
        const char *word = std::isnan(d) ? "NaN" : d > 0 ? "Infinity" : "-Infinity";
        if (r.k == K_FLOAT) {
            r.out->append("CAST('").append(word).append("' AS DOUBLE)");
            return 0;
        }
        if (r.k == K_TEXT) return put_string_literal(r.out, word, strlen(word)), 0;
        if (r.k == K_BIT) return render_number_text(r, "1", true);
        return r.fail("22003", "value is out of range for the SQL type");
    }
    std::string text;
    bool fixed_ok = r.k == K_INTEGER || r.k == K_DECIMAL;
    if (is_float)
        put_shortest(&text, (float)d, fixed_ok);
    else
        put_shortest(&text, d, fixed_ok);
    return render_number_text(r, text, d != 0);
}

}  // namespace

int spk_param_render(void *handle, int number, const SpkParamValue *v, std::string *out) {
    Render r{handle, number, v, sql_class(v->sql_type), out};
    out->clear();
    if (v->length == SQL_NULL_DATA) {
        out->append("null");
        return 0;
    }
    int c = v->c_type;
    if (v->length < 0 && v->length != SQL_NTS && v->length != SPK_PARAM_NO_LENGTH)
        return r.fail("HY090", "invalid string or buffer length");
    const char *data = static_cast<const char *>(v->data);

    if (is_char_c_type(c) || is_wide_c_type(c) || is_binary_c_type(c)) {
        size_t n;
        if (!data) {
            if (v->length > 0) return r.fail("HY009", "no data for a non-empty value");
            data = "";
            n = 0;
        } else if (v->length >= 0) {
            n = (size_t)v->length;
        } else if (is_binary_c_type(c)) {
            if (v->length == SQL_NTS) return r.fail("HY090", "binary data cannot be null-terminated");
            return r.fail("07006", "binary type found without length information");
        } else if (is_wide_c_type(c)) {
            size_t max_units = v->buffer_length > 0 ? (size_t)v->buffer_length / 2 : SIZE_MAX / 2;
            const spk_unit *u = reinterpret_cast<const spk_unit *>(data);
            size_t k = 0;
            while (k < max_units && u[k] != 0) k++;
            n = k * 2;
        } else {
            n = v->buffer_length > 0 ? strnlen(data, (size_t)v->buffer_length) : strlen(data);
        }
        if (is_binary_c_type(c)) {
            if (r.k != K_BINARY) return r.refuse();
            put_hex_literal(out, reinterpret_cast<const unsigned char *>(data), n);
            return 0;
        }
        if (is_wide_c_type(c)) {
            if (n % 2 != 0) return r.fail("HY090", "wide character data of an odd number of bytes");
            std::vector<spk_unit> units(n / 2);
            if (n) memcpy(units.data(), data, n);
            std::string text;
            if (!utf16_to_utf8(units.data(), units.size(), &text, true))
                return r.fail("22018", "wide character data holds a lone surrogate");
            if (r.k == K_BINARY) {
                put_hex_literal(out, reinterpret_cast<const unsigned char *>(data), n);
                return 0;
            }
            return render_text(r, text.data(), text.size());
        }
        if (r.k != K_BINARY && !utf8_valid(data, n)) return r.fail("22018", "character data is not valid UTF-8");
        return render_text(r, data, n);
    }

    if (!data) return r.fail("HY009", "no data");
    switch (c) {
    case SQL_C_LONG:
    case SQL_C_SLONG: return render_integer<int32_t>(r, data);
    case SQL_C_ULONG: return render_integer<uint32_t>(r, data);
    case SQL_C_SHORT:
    case SQL_C_SSHORT: return render_integer<int16_t>(r, data);
    case SQL_C_USHORT: return render_integer<uint16_t>(r, data);
    case SQL_C_TINYINT:
    case SQL_C_STINYINT: return render_integer<int8_t>(r, data);
    case SQL_C_UTINYINT: return render_integer<uint8_t>(r, data);
    case SQL_C_SBIGINT:
    case SQL_BIGINT: return render_integer<int64_t>(r, data);
    case SQL_C_UBIGINT: return render_integer<uint64_t>(r, data);
    case SQL_C_BIT: {
        unsigned char b = (unsigned char)data[0];
        return render_number_text(r, b ? "1" : "0", b != 0);
    }
    case SQL_C_DOUBLE:
    case SQL_FLOAT: {
        double d;
        memcpy(&d, data, sizeof d);
        return render_double(r, d, false);
    }
    case SQL_C_FLOAT: {
        float f;
        memcpy(&f, data, sizeof f);
        return render_double(r, (double)f, true);
    }
    case SQL_C_NUMERIC:
    case SQL_DECIMAL: {
        SQL_NUMERIC_STRUCT ns;
        memcpy(&ns, data, sizeof ns);
        std::string text = numeric_text(ns);
        bool nonzero = text.find_first_not_of("-0.") != std::string::npos;
        return render_number_text(r, text, nonzero);
    }
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: {
        SQL_DATE_STRUCT ds;
        memcpy(&ds, data, sizeof ds);
        if (r.k != K_DATE && r.k != K_TIMESTAMP && r.k != K_TEXT) return r.refuse();
        if (!date_ok(ds.year, ds.month, ds.day)) return r.fail("22008", "invalid date");
        char buf[40];
        int len = snprintf(buf, sizeof buf, "DATE '%04d-%02d-%02d'", ds.year, ds.month, ds.day);
        out->append(buf, (size_t)len);
        return 0;
    }
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: {
        SQL_TIME_STRUCT ts;
        memcpy(&ts, data, sizeof ts);
        if (r.k != K_TIME && r.k != K_TEXT) return r.refuse();
        if (!time_ok(ts.hour, ts.minute, ts.second)) return r.fail("22008", "invalid time");
        char buf[40];
        int len = snprintf(buf, sizeof buf, "'%02d:%02d:%02d'", ts.hour, ts.minute, ts.second);
        out->append(buf, (size_t)len);
        return 0;
    }
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: {
        SQL_TIMESTAMP_STRUCT ts;
        memcpy(&ts, data, sizeof ts);
        if (!date_ok(ts.year, ts.month, ts.day) || !time_ok(ts.hour, ts.minute, ts.second) ||
            ts.fraction > 999999999u)
            return r.fail("22008", "invalid timestamp");
        if (r.k == K_TIME) {
            char buf[40];
            int len = ts.fraction / 1000 != 0
                          ? snprintf(buf, sizeof buf, "'%02d:%02d:%02d.%06u'", ts.hour, ts.minute, ts.second,
                                     (unsigned)(ts.fraction / 1000))
                          : snprintf(buf, sizeof buf, "'%02d:%02d:%02d'", ts.hour, ts.minute, ts.second);
            out->append(buf, (size_t)len);
            return 0;
        }
        if (r.k != K_DATE && r.k != K_TIMESTAMP && r.k != K_TEXT) return r.refuse();
        out->append("TIMESTAMP '");
        put_timestamp_fields(out, ts.year, ts.month, ts.day, ts.hour, ts.minute, ts.second, ts.fraction);
        out->push_back('\'');
        return 0;
    }
    case SQL_C_GUID: {
        if (r.k != K_TEXT) return r.refuse();
        SQLGUID g;
        memcpy(&g, data, sizeof g);
        char buf[40];
        int len = snprintf(buf, sizeof buf, "%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X", (unsigned)g.Data1,
                           g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2], g.Data4[3], g.Data4[4], g.Data4[5],
                           g.Data4[6], g.Data4[7]);
        put_string_literal(out, buf, (size_t)len);
        return 0;
    }
    default:
        spk_post_column_error(handle, "07006", 0, number,
                              "unexpected source type %d found in get_char_from_param for param %d", c, number);
        return -1;
    }
}

// ---------------------------------------------------------------------------
// Bound values

namespace {

bool is_dae_indicator(SQLLEN ind) { return ind == SQL_DATA_AT_EXEC || ind <= SQL_LEN_DATA_AT_EXEC_OFFSET; }

struct Bound {
    void *data;
    bool has_indicator, has_length;
    SQLLEN indicator, length;    // the values (packed rows may leave them unaligned)
};

SQLLEN read_len(const void *p) {
    SQLLEN v;
    memcpy(&v, p, sizeof v);
    return v;
}

// The address of parameter record `f`'s value, and its indicator and length,
// for parameter set `set`, honouring the bind type and the bind offset.
Bound bound_at(const SpkDescriptor *apd, const SpkField *f, int64_t set) {
    int64_t bind_type = (int32_t)apd->bind_type;
    int64_t offset = apd->bind_offset_ptr ? (int64_t)read_len(apd->bind_offset_ptr) : 0;
    int64_t element = fixed_size(f->concise_type);
    if (element == 0) element = f->octet_length;
    int64_t data_step = bind_type > 0 ? bind_type * set : element * set;
    int64_t ind_step = bind_type > 0 ? bind_type * set : (int64_t)sizeof(SQLLEN) * set;
    Bound b{};
    b.data = f->data_ptr ? (char *)f->data_ptr + data_step + offset : nullptr;
    b.has_indicator = f->indicator_ptr != nullptr;
    if (b.has_indicator) b.indicator = read_len((char *)f->indicator_ptr + ind_step + offset);
    b.has_length = f->octet_length_ptr && f->octet_length_ptr != f->indicator_ptr;
    if (b.has_length) b.length = read_len((char *)f->octet_length_ptr + ind_step + offset);
    return b;
}

bool record_bound(const SpkField *f) { return f->data_ptr || f->indicator_ptr || f->octet_length_ptr; }

}  // namespace

int spk_param_text(SpkStatement *stmt, int number, int64_t set, std::string *out) {
    SpkDescriptor *apd = stmt->apd;
    SpkField *f = spk_desc_record(apd, number);
    if (!f || number < 1 || !record_bound(f)) {
        spk_post_column_error(stmt, "07002", 0, number, "Parameter %d is not bound", number - 1);
        return -1;
    }
    Bound b = bound_at(apd, f, set);
    SpkParamValue v;
    v.c_type = f->concise_type;
    v.sql_type = f->bound_c_type;
    v.data = b.data;
    v.buffer_length = f->octet_length;
    v.length = SPK_PARAM_NO_LENGTH;
    if (b.has_indicator && b.indicator == SQL_NULL_DATA) {
        v.length = SQL_NULL_DATA;
    } else if (b.has_indicator && is_dae_indicator(b.indicator)) {
        SpkParamState *ps = param_state(stmt);
        auto it = ps->dae.find(dae_key(set, number - 1));
        if (it == ps->dae.end() || it->second.is_null) {
            v.length = SQL_NULL_DATA;
        } else if (fixed_size(v.c_type) > it->second.bytes.size()) {
            spk_post_column_error(stmt, "HY000", 0, number, "no data was sent for parameter %d", number);
            return -1;
        } else {
            v.data = it->second.bytes.data();
            v.length = (int64_t)it->second.bytes.size();
            v.buffer_length = 0;
        }
    } else if (b.has_length) {
        v.length = b.length;
    } else if (b.has_indicator) {
        v.length = b.indicator;
    }
    if (fixed_size(v.c_type) != 0 && v.length >= 0) v.length = (int64_t)fixed_size(v.c_type);
    return spk_param_render(stmt, number, &v, out);
}

// ---------------------------------------------------------------------------
// Statement text with the markers replaced

namespace {

// The processed text cut at its markers: segment i is the text before marker
// i (in text order), the last segment the text after the last marker.
struct Template {
    std::vector<std::string> segments;
    std::vector<int> numbers;   // parameter number of marker i
};

// Markers of `stmt` within [from, to) of the processed text, in text order.
std::vector<const SpkMarker *> markers_in(const SpkStatement *stmt, int32_t from, int32_t to) {
    std::vector<const SpkMarker *> list;
    for (const SpkMarker *m = stmt->markers; m; m = m->next)
        if (m->position >= from && m->position < to) list.push_back(m);
    std::reverse(list.begin(), list.end());
    return list;
}

void make_template(const SpkStatement *stmt, int32_t from, int32_t to, Template *t) {
    const spk_unit *u = spk_str_units(stmt->processed_sql);
    t->segments.clear();
    t->numbers.clear();
    int32_t at = from;
    for (const SpkMarker *m : markers_in(stmt, from, to)) {
        std::string seg;
        utf16_to_utf8(u + at, (size_t)(m->position - at), &seg, false);
        t->segments.push_back(std::move(seg));
        t->numbers.push_back(m->number);
        at = m->position + 1;
    }
    std::string seg;
    utf16_to_utf8(u + at, (size_t)(to - at), &seg, false);
    t->segments.push_back(std::move(seg));
}

// Appends the template filled with the values of parameter set `set`.
int fill_template(SpkStatement *stmt, const Template &t, int64_t set, std::string *out) {
    std::string literal;
    for (size_t i = 0; i < t.numbers.size(); i++) {
        out->append(t.segments[i]);
        if (spk_param_text(stmt, t.numbers[i], set, &literal) != 0) {
            SPK_LOG(stmt, LOG_ERROR, "Failed to get parameter for fixup");
            return -1;
        }
        // Spaces keep the literal apart from its neighbours: "5-?" with -1
        // must not become a comment, "X?" must not become a binary literal.
        out->push_back(' ');
        out->append(literal);
        out->push_back(' ');
    }
    out->append(t.segments.back());
    return 0;
}

}  // namespace

int spk_fixup_params(SpkStatement *stmt, std::string *out) {
    out->clear();
    SpkParamState *ps = stmt->param_state;
    if (stmt->markers && ps && ps->use_text) {
        *out = ps->text;
        return 0;
    }
    if (!stmt->markers) {
        size_t len = 0;
        char *utf8 = spk_str_to_utf8_n(stmt->processed_sql, &len);
        if (!utf8) return spk_post_error(stmt, "HY001", 0, nullptr), -1;
        out->assign(utf8, len);
        free(utf8);
        return 0;
    }
    SPK_LOG(stmt, LOG_DETAIL, "Fixup '%S'", stmt->processed_sql);
    Template t;
    make_template(stmt, 0, (int32_t)spk_str_length(stmt->processed_sql), &t);
    if (fill_template(stmt, t, ps ? ps->set : 0, out) != 0) return -1;
    SPK_LOG(stmt, LOG_PKTDUMP, "After Fixup '%q'", out->data(), (int)out->size());
    return 0;
}

// ---------------------------------------------------------------------------
// Binding

SQLRETURN spk_bind_parameter(SpkStatement *stmt, int n, int io_type, int c_type, int sql_type, SQLULEN column_size,
                             int decimal_digits, void *value, SQLLEN buffer_length, SQLLEN *indicator) {
    SpkDescriptor *apd = stmt->apd;
    if (n < 1) return spk_post_error(stmt, "07009", 0, nullptr);
    if (!value && !indicator) {
        SPK_LOG(stmt, LOG_DETAIL, "unbinding parameters %d", n);
        if (apd->count == 0) return SQL_SUCCESS;
        SPK_LOG(stmt, LOG_DETAIL, "check if cleaup can be done %d, %d", n, (int)apd->count);
        if (n > apd->count) {
            SPK_LOG(stmt, LOG_DETAIL, "unbinding past end");
            return SQL_SUCCESS;
        }
        spk_field_clear(spk_desc_record(apd, n));
        if (n == apd->count) {
            SPK_LOG(stmt, LOG_DETAIL, "truncating apd list at %d", n);
            int last = n;
            while (last > 0 && !record_bound(spk_desc_record(apd, last))) last--;
            SPK_LOG(stmt, LOG_DETAIL, "truncating apd list to %d", last);
            if (last == 0) SPK_LOG(stmt, LOG_DETAIL, "unbinding all");
            spk_desc_shrink(apd, last);
        }
        return SQL_SUCCESS;
    }
    SPK_LOG(stmt, LOG_DETAIL, "binding parameter %d", n);
    if (c_type != SQL_C_DEFAULT && !spk_is_c_type(c_type)) {
        SPK_LOG(stmt, LOG_ERROR, "SQLBindParameter: invalid c-type");
        return spk_post_error(stmt, "HY003", 0, nullptr);
    }
    if (!spk_is_sql_type(sql_type)) {
        SPK_LOG(stmt, LOG_ERROR, "SQLBindParameter: invalid sql-type");
        return spk_post_error(stmt, "HY004", 0, nullptr);
    }
    switch (io_type) {
    case SQL_PARAM_INPUT: break;
    case SQL_PARAM_INPUT_OUTPUT:
    case SQL_PARAM_OUTPUT:
    case SQL_PARAM_INPUT_OUTPUT_STREAM:
    case SQL_PARAM_OUTPUT_STREAM:
        // Spark statements return no parameter values.
        return spk_post_error(stmt, "HYC00", 0, "output parameters are not supported");
    default: return spk_post_error(stmt, "HY105", 0, nullptr);
    }
    if (buffer_length < 0 && buffer_length != SQL_SETPARAM_VALUE_MAX) return spk_post_error(stmt, "HY090", 0, nullptr);
    if (c_type == SQL_C_DEFAULT) c_type = spk_default_c_type(sql_type, 1);
    if ((sql_type == SQL_NUMERIC || sql_type == SQL_DECIMAL) && column_size == 0) {
        SPK_LOG(stmt, LOG_ERROR, "BindParameter: invalid precision value");
        return spk_post_error(stmt, "HY104", 0, nullptr);
    }
    if (spk_desc_grow(apd, n) != 0 || spk_desc_grow(stmt->ipd, n) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLBindParameter: failed to expand descriptor");
        return spk_post_error(stmt, "HY001", 0, "failed expanding descriptor");
    }
    SpkField *f = spk_desc_record(apd, n);
    // SQL_SETPARAM_VALUE_MAX (SQLBindParam, SQLSetParam) says the length is
    // not known: character values then run to their terminator.
    f->octet_length = buffer_length < 0 ? 0 : buffer_length;
    f->concise_type = c_type;
    auto move_diagnostics = [&]() {
        for (const SpkError *e = apd->diagnostics; e; e = e->next) spk_copy_error(stmt, e);
        spk_clear_errors(apd);
        return (SQLRETURN)SQL_ERROR;
    };
    if (spk_update_desc_type(apd, f, SPK_TYPE_FROM_CONCISE) != 0) return move_diagnostics();
    f = spk_desc_record(apd, n);
    f->octet_length = buffer_length < 0 ? 0 : buffer_length;
    f->data_ptr = value;
    f->indicator_ptr = indicator;
    f->octet_length_ptr = indicator;
    f->precision = (int64_t)column_size;
    f->scale = decimal_digits;
    f->parameter_type = io_type;
    f->bound_c_type = sql_type;
    if (spk_check_desc_record(apd, f) != 0) return move_diagnostics();
    if (spk_stmt_has_text(stmt)) stmt->re_prepare = 1;
    return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Checks before execution

int spk_check_params(SpkStatement *stmt) {
    int n = stmt->param_count;
    SpkDescriptor *apd = stmt->apd;
    SPK_LOG(stmt, LOG_DETAIL, "spk_check_params, stmt_field_count=%d", n);
    if (n == 0) return 0;
    if (apd->count < n) {
        SPK_LOG(stmt, LOG_ERROR, "Inconnect number of bound parameters %d %d", n, (int)apd->count);
        spk_post_error(stmt, "07002", 0, nullptr);
        return -1;
    }
    SPK_LOG(stmt, LOG_DETAIL, "spk_check_params, stmt_field_count=%d, apd->field_count=%d", n, (int)apd->count);
    for (int i = 1; i <= n; i++) {
        const SpkField *f = spk_desc_record(apd, i);
        SPK_LOG(stmt, LOG_DETAIL, "Checking param %d, ind=%p data=%p", i - 1, f->indicator_ptr, f->data_ptr);
        if (!f->data_ptr && !f->indicator_ptr) {
            spk_post_column_error(stmt, "07002", 0, i, "Parameter %d is not bound", i - 1);
            return -1;
        }
    }
    return 0;
}

namespace {

int64_t paramset_size(const SpkStatement *stmt) {
    uint64_t n = stmt->apd->array_size;
    return n < 1 ? 1 : (int64_t)n;
}

bool set_ignored(const SpkStatement *stmt, int64_t set) {
    const SQLUSMALLINT *ops = static_cast<const SQLUSMALLINT *>(stmt->apd->array_status_ptr);
    return ops && ops[set] == SQL_PARAM_IGNORE;
}

// The next data-at-execution parameter at or after (set, param), in set
// order then parameter order.  False when there is none.
bool find_dae(SpkStatement *stmt, int64_t *set, int *param) {
    SpkDescriptor *apd = stmt->apd;
    int n = stmt->param_count < apd->count ? stmt->param_count : apd->count;
    int64_t sets = paramset_size(stmt);
    for (int64_t s = *set; s < sets; s++) {
        if (set_ignored(stmt, s)) continue;
        for (int p = s == *set ? *param : 0; p < n; p++) {
            const SpkField *f = spk_desc_record(apd, p + 1);
            Bound b = bound_at(apd, f, s);
            SPK_LOG(stmt, LOG_DETAIL, "Checking param %d, ind=%p data=%p", p, f->indicator_ptr, b.data);
            if (b.has_indicator && is_dae_indicator(b.indicator)) {
                SPK_LOG(stmt, LOG_DETAIL, "data at exec parameter found (%d,%d)", p, (int)b.indicator);
                *set = s;
                *param = p;
                return true;
            }
        }
    }
    return false;
}

}  // namespace

int spk_check_dae(SpkStatement *stmt, int origin) {
    SpkParamState *ps = param_state(stmt);
    SPK_LOG(stmt, LOG_DETAIL, "spk_check_dae, stmt_field_count=%d", (int)stmt->param_count);
    SPK_LOG(stmt, LOG_DETAIL, "spk_check_dae, stmt_field_count=%d, apd->field_count=%d", (int)stmt->param_count,
            (int)stmt->apd->count);
    ps->dae.clear();
    ps->dae_origin = origin;
    spk_param_cancel_dae(stmt);
    if (stmt->param_count == 0) return 0;
    int64_t set = 0;
    int param = 0;
    if (!find_dae(stmt, &set, &param)) return 0;
    stmt->dae_current = param;
    ps->dae_set = set;
    return SQL_NEED_DATA;
}

// ---------------------------------------------------------------------------
// Data at execution

SQLRETURN spk_param_data(SpkStatement *stmt, SQLPOINTER *value) {
    SpkParamState *ps = param_state(stmt);
    SPK_LOG(stmt, LOG_DETAIL, "SQLParamData: active_dae_param=%d", (int)ps->dae_active);
    SPK_LOG(stmt, LOG_PKTDUMP, "current_dae_param=%d", (int)stmt->dae_current);
    if (stmt->dae_current < 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLParamData: parameter number not selected (%d)", (int)stmt->dae_current);
        return spk_post_error(stmt, "HY010", 0, "SQLParamData: parameter number not selected (%d)",
                              (int)stmt->dae_current);
    }
    if (stmt->dae_current >= stmt->apd->count) {
        SPK_LOG(stmt, LOG_ERROR, "parameter number out of range (%d:%d)", (int)stmt->dae_current,
                (int)stmt->apd->count);
        return spk_post_error(stmt, "HY000", 0, "internal error: parameter number out of range (%d:%d)",
                              (int)stmt->dae_current, (int)stmt->apd->count);
    }
    if (ps->dae_active >= 0) {
        // The active parameter has its data: look for the next one.
        int64_t set = ps->dae_set;
        int param = ps->dae_active + 1;
        if (find_dae(stmt, &set, &param)) {
            SPK_LOG(stmt, LOG_PKTDUMP, "next data at execution parameter found %d", param);
            stmt->dae_current = param;
            ps->dae_set = set;
        } else {
            spk_param_cancel_dae(stmt);
            if (ps->dae_origin != 11 && ps->dae_origin != 12)
                return spk_post_error(stmt, "HY010", 0, "no execution is waiting for data");
            return spk_stmt_run(stmt);
        }
    }
    ps->dae_active = stmt->dae_current;
    DaeValue &dv = ps->dae[dae_key(ps->dae_set, ps->dae_active)];
    dv = DaeValue();
    if (value) {
        SpkField *f = spk_desc_record(stmt->apd, ps->dae_active + 1);
        *value = bound_at(stmt->apd, f, ps->dae_set).data;
    }
    return SQL_NEED_DATA;
}

int spk_output_dae_param_data(SpkStatement *stmt, int p, const void *data, SQLLEN length) {
    SpkParamState *ps = param_state(stmt);
    SPK_LOG(stmt, LOG_DETAIL, "spk_output_dae_param_data: param=%d, data=%p, len=%d", p, data, (int)length);
    DaeValue &dv = ps->dae[dae_key(ps->dae_set, p)];
    const SpkField *f = spk_desc_record(stmt->apd, p + 1);
    int c = f->concise_type;
    if (length == SQL_NULL_DATA) {
        if (dv.put) return spk_post_error(stmt, "HY020", 0, "a null value cannot follow data"), -1;
        dv.is_null = true;
        dv.put = true;
        return 0;
    }
    if (dv.is_null) return spk_post_error(stmt, "HY020", 0, "data cannot follow a null value"), -1;
    if (length < 0 && length != SQL_NTS) {
        SPK_LOG(stmt, LOG_PKTDUMP, "spk_output_dae_param_data: invalid string or buffer length %d", (int)length);
        return spk_post_error(stmt, "HY090", 0, nullptr), -1;
    }
    size_t fixed = fixed_size(c);
    if (fixed != 0) {
        if (dv.put) return spk_post_error(stmt, "HY019", 0, nullptr), -1;
        if (!data) return spk_post_error(stmt, "HY009", 0, nullptr), -1;
        dv.bytes.assign(static_cast<const char *>(data), fixed);
        dv.put = true;
        return 0;
    }
    size_t n;
    if (length >= 0) {
        n = (size_t)length;
    } else if (is_wide_c_type(c)) {
        n = data ? spk_wide_length(static_cast<const spk_unit *>(data)) * 2 : 0;
    } else if (is_char_c_type(c)) {
        n = data ? strlen(static_cast<const char *>(data)) : 0;
    } else {
        return spk_post_error(stmt, "HY090", 0, nullptr), -1;
    }
    if (!data && n > 0) return spk_post_error(stmt, "HY009", 0, nullptr), -1;
    if (n) dv.bytes.append(static_cast<const char *>(data), n);
    dv.put = true;
    return 0;
}

SQLRETURN spk_put_data(SpkStatement *stmt, const void *data, SQLLEN length) {
    SpkParamState *ps = param_state(stmt);
    if (ps->dae_active < 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLPutData: parameter number not selected (%d)", (int)ps->dae_active);
        return spk_post_error(stmt, "HY010", 0, "SQLPutData: parameter number not selected (%d)",
                              (int)ps->dae_active);
    }
    if (spk_output_dae_param_data(stmt, ps->dae_active, data, length) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLPutData: failed putting data");
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Execution of every parameter set

namespace {

// The one-row VALUES list of an INSERT: [open, close] of its parentheses in
// the processed text, or false when the statement is not such an INSERT
// (several rows, a query, markers outside the row, text after the row).
bool values_row(const SpkStatement *stmt, int32_t *open, int32_t *close) {
    if (stmt->verb != SPK_VERB_INSERT || stmt->values_offset < 0 || !stmt->markers) return false;
    const spk_unit *u = spk_str_units(stmt->processed_sql);
    int32_t n = (int32_t)spk_str_length(stmt->processed_sql);
    int32_t i = stmt->values_offset + 1 + 6;   // past "values"
    auto blank = [](spk_unit c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f'; };
    // INSERT OVERWRITE run once per set keeps only the last row: it is not
    // the same statement as one multi-row INSERT OVERWRITE.
    static const char word[] = "overwrite";
    for (int32_t k = 0; k + 9 <= stmt->values_offset; k++) {
        int32_t j = 0;
        while (j < 9 && (u[k + j] | 0x20) == word[j]) j++;
        if (j == 9) return false;
    }
    while (i < n && blank(u[i])) i++;
    if (i >= n || u[i] != '(') return false;
    *open = i;
    int depth = 0;
    for (; i < n; i++) {
        spk_unit c = u[i];
        if (c == '\'' || c == '"' || c == '`') {
            spk_unit q = c;
            for (i++; i < n && u[i] != q; i++)
                if (u[i] == '\\' && q != '`') i++;
            if (i >= n) return false;
            continue;
        }
        if ((c == '-' && i + 1 < n && u[i + 1] == '-') || (c == '/' && i + 1 < n && u[i + 1] == '*')) return false;
        if (c == '(') depth++;
        if (c == ')' && --depth == 0) break;
    }
    if (i >= n) return false;
    *close = i;
    for (int32_t k = i + 1; k < n; k++)
        if (!blank(u[k]) && u[k] != ';') return false;
    for (const SpkMarker *m = stmt->markers; m; m = m->next)
        if (m->position < *open || m->position > *close) return false;
    return true;
}

struct ArrayRun {
    SpkStatement *stmt;
    SQLUSMALLINT *status;
    int64_t processed = 0;
    int64_t ok = 0, failed = 0, with_info = 0;
    int64_t rows = 0;
    bool rows_valid = true;

    void mark(int64_t set, SQLUSMALLINT s) {
        if (status) status[set] = s;
    }
};

// Runs the text prepared in the state (or the current set) and books the
// outcome for sets [first, first + count) listed in `sets`.
void run_once(ArrayRun &run, const std::vector<int64_t> &sets) {
    SpkStatement *stmt = run.stmt;
    int before = spk_error_count(stmt);
    int rc = spk_execute_query(stmt);
    bool info = rc == 0 && spk_error_count(stmt) > before;
    for (int64_t s : sets) {
        run.mark(s, rc != 0 ? SQL_PARAM_ERROR : info ? SQL_PARAM_SUCCESS_WITH_INFO : SQL_PARAM_SUCCESS);
        run.processed++;
    }
    if (rc != 0) {
        run.failed += (int64_t)sets.size();
        return;
    }
    run.ok += (int64_t)sets.size();
    if (info) run.with_info += (int64_t)sets.size();
    if (stmt->row_count_valid)
        run.rows += stmt->row_count;
    else
        run.rows_valid = false;
}

}  // namespace

SQLRETURN spk_execute_params(SpkStatement *stmt) {
    SpkParamState *ps = param_state(stmt);
    ps->use_text = false;
    ps->set = 0;
    int64_t sets = stmt->markers ? paramset_size(stmt) : 1;
    SQLULEN *processed = static_cast<SQLULEN *>(stmt->ipd->rows_processed_ptr);
    ArrayRun run;
    run.stmt = stmt;
    run.status = stmt->markers ? static_cast<SQLUSMALLINT *>(stmt->ipd->array_status_ptr) : nullptr;
    if (processed) *processed = 0;
    if (sets == 1 && !(stmt->markers && set_ignored(stmt, 0))) {
        std::vector<int64_t> one{0};
        run_once(run, one);
        if (processed && stmt->markers) *processed = 1;
        return run.failed ? SQL_ERROR : SQL_SUCCESS;
    }
    if (stmt->returns_rows) {
        return spk_post_error(stmt, "HYC00", 0,
                              "a statement that returns rows cannot run with an array of parameters");
    }
    for (int64_t s = 0; s < sets; s++) run.mark(s, SQL_PARAM_UNUSED);

    int32_t open = 0, close = 0;
    if (values_row(stmt, &open, &close)) {
        // One INSERT carries many rows: prefix, rows joined by commas, suffix.
        int32_t len = (int32_t)spk_str_length(stmt->processed_sql);
        Template head, row, tail;
        make_template(stmt, 0, open, &head);
        make_template(stmt, open, close + 1, &row);
        make_template(stmt, close + 1, len, &tail);
        std::string chunk, one;
        std::vector<int64_t> members;
        auto flush = [&]() {
            if (members.empty()) return;
            ps->text = head.segments[0];
            ps->text += chunk;
            ps->text += tail.segments[0];
            ps->use_text = true;
            SPK_LOG(stmt, LOG_DETAIL, "executing %d parameter sets in one statement of %l bytes", (int)members.size(),
                    (long long)ps->text.size());
            run_once(run, members);
            chunk.clear();
            members.clear();
        };
        for (int64_t s = 0; s < sets; s++) {
            if (set_ignored(stmt, s)) continue;
            one.clear();
            if (fill_template(stmt, row, s, &one) != 0) {
                run.mark(s, SQL_PARAM_ERROR);
                run.processed++;
                run.failed++;
                continue;
            }
            if (!members.empty() && chunk.size() + one.size() + 2 > (size_t)SPK_PARAM_BATCH_BYTES) flush();
            if (!members.empty()) chunk += ", ";
            chunk += one;
            members.push_back(s);
        }
        flush();
        ps->use_text = false;
        ps->text.clear();
        ps->text.shrink_to_fit();
    } else {
        for (int64_t s = 0; s < sets; s++) {
            if (set_ignored(stmt, s)) continue;
            ps->set = s;
            std::vector<int64_t> one{s};
            run_once(run, one);
        }
        ps->set = 0;
    }
    if (processed) *processed = (SQLULEN)run.processed;
    stmt->row_count = run.rows_valid && run.ok ? run.rows : -1;
    stmt->row_count_valid = run.rows_valid && run.ok ? 1 : 0;
    SPK_LOG(stmt, LOG_DETAIL, "parameter sets: %l processed, %l failed", (long long)run.processed,
            (long long)run.failed);
    if (run.failed == 0) return run.with_info ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    return run.ok ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
}
