// Value conversion to application types.
//
// The conversion matrix is a table of (source group, target) -> converter;
// a missing pair is refused in one place (07006).  Converters return a
// status that one function (report) maps to the SQLSTATEs.  Typed values
// (integers, doubles) convert directly; text (strings, decimals, dates,
// timestamps) is parsed strictly.  Nothing is allocated per value: numbers
// and dates are formatted into stack buffers, strings are read in place.
#include "spk_data.h"

#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>
#include <limits>

#include "spk_desc.h"
#include "spk_err.h"
#include "spk_log.h"
#include "spk_operation.h"
#include "spk_string.h"

void (*spk_data_value_hook)(SpkStatement *stmt, int column, SpkValue *out) = spk_column_value;

namespace {

// ---------------------------------------------------------------------------
// Source groups and targets

enum Group {
    G_INTEGER,
    G_DOUBLE,
    G_NUMERIC,
    G_CHAR,
    G_WCHAR,
    G_BINARY,
    G_DATE,
    G_TIME,
    G_TIMESTAMP,
    G_COUNT,
    G_OTHER = G_COUNT,
};

Group group_of(int sql_type) {
    switch (sql_type) {
    case SQL_BIT:
    case SQL_TINYINT:
    case SQL_SMALLINT:
    case SQL_INTEGER:
    case SQL_BIGINT: return G_INTEGER;
    case SQL_DOUBLE:
    case SQL_REAL:
    case SQL_FLOAT: return G_DOUBLE;
    case SQL_NUMERIC:
    case SQL_DECIMAL: return G_NUMERIC;
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR: return G_CHAR;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return G_WCHAR;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return G_BINARY;
    case SQL_DATE:
    case SQL_TYPE_DATE: return G_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME: return G_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return G_TIMESTAMP;
    default: return G_OTHER;
    }
}

enum Target {
    T_CHAR,
    T_WCHAR,
    T_BINARY,
    T_SSHORT,
    T_USHORT,
    T_SLONG,
    T_ULONG,
    T_SBIGINT,
    T_UBIGINT,
    T_UTINY,
    T_STINY,
    T_BIT,
    T_DOUBLE,
    T_FLOAT,
    T_DATE,
    T_TIME,
    T_TIMESTAMP,
    T_NUMERIC,
    T_GUID,
    T_COUNT,
    T_NONE = -1,
};

Target target_of(int c_type) {
    switch (c_type) {
    case SQL_C_CHAR: return T_CHAR;
    case SQL_C_WCHAR: return T_WCHAR;
    case SQL_C_BINARY: return T_BINARY;
    case SQL_C_SHORT:
    case SQL_C_SSHORT: return T_SSHORT;
    case SQL_C_USHORT: return T_USHORT;
    case SQL_C_LONG:
    case SQL_C_SLONG: return T_SLONG;
    case SQL_C_ULONG: return T_ULONG;
    case SQL_C_SBIGINT: return T_SBIGINT;
    case SQL_C_UBIGINT: return T_UBIGINT;
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT: return T_UTINY;
    case SQL_C_STINYINT: return T_STINY;
    case SQL_C_BIT: return T_BIT;
    case SQL_C_DOUBLE: return T_DOUBLE;
    case SQL_C_FLOAT: return T_FLOAT;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE: return T_DATE;
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return T_TIME;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return T_TIMESTAMP;
    case SQL_C_NUMERIC: return T_NUMERIC;
    case SQL_C_GUID: return T_GUID;
    default: return T_NONE;
    }
}

// Trace names of the targets ("getting sshort", "invalid get_sshort on type %d").
const char *const TARGET_NAME[T_COUNT] = {
    "char",  "wchar", "binary", "sshort", "ushort", "slong", "ulong", "sbigint", "ubigint", "utiny",
    "stiny", "bit",   "double", "float",  "date",   "time",  "timestamp", "numeric", "guid",
};

// ---------------------------------------------------------------------------
// Statuses and their one mapping to SQLSTATEs

enum Status {
    ST_OK,          // whole value written
    ST_PROBE,       // only the length was asked for; piece state unchanged
    ST_PIECE,       // 01004: a piece written, more remains
    ST_TRUNCATED,   // 01004: written truncated, the rest is dropped (fraction digits)
    ST_FRACTION,    // 01S07: fractional part lost
    ST_RANGE,       // 22003
    ST_DT_RANGE,    // 22008: a date that the structure cannot hold
    ST_INVALID,     // 22018
    ST_REFUSED,     // 07006
    ST_NO_INDICATOR,// 22002
    ST_BAD_LENGTH,  // HY090
};

SQLRETURN report(void *handle, int column, Status s) {
    switch (s) {
    case ST_OK:
    case ST_PROBE: return SQL_SUCCESS;
    case ST_PIECE:
    case ST_TRUNCATED: return spk_post_column_error(handle, "01004", 0, column, nullptr);
    case ST_FRACTION: return spk_post_column_error(handle, "01S07", 0, column, nullptr);
    case ST_RANGE: return spk_post_column_error(handle, "22003", 0, column, nullptr);
    case ST_DT_RANGE: return spk_post_column_error(handle, "22008", 0, column, nullptr);
    case ST_INVALID: return spk_post_column_error(handle, "22018", 0, column, nullptr);
    case ST_REFUSED: return spk_post_column_error(handle, "07006", 0, column, nullptr);
    case ST_NO_INDICATOR: return spk_post_column_error(handle, "22002", 0, column, nullptr);
    case ST_BAD_LENGTH: return spk_post_column_error(handle, "HY090", 0, column, nullptr);
    }
    return SQL_ERROR;
}

// ---------------------------------------------------------------------------
// The conversion context

struct Conv {
    const SpkValue *v;
    SpkField *rec;
    Group group;
    Target target;
    unsigned char *out;     // target buffer (may be null)
    SQLLEN cap;             // buffer length
    SQLLEN *ind;
    SQLLEN *len;            // null when it is the indicator
    // The value as text (strings and byte strings in place; numbers formatted
    // into `buf`).
    const char *text;
    size_t text_len;
    char buf[48];
    // SQL_C_NUMERIC: the precision and scale the application asked for in
    // its row descriptor; -1 when it asked for none.
    int num_precision = -1, num_scale = -1;
};

void put_length(Conv &c, SQLLEN n) {
    if (c.ind) *c.ind = n;
    if (c.len) *c.len = n;
}

bool is_number_kind(const SpkValue *v) {
    return v->kind == SPK_VALUE_INT || v->kind == SPK_VALUE_BOOL || v->kind == SPK_VALUE_DOUBLE;
}

bool is_space(char ch) {
    return ch == ' ' || ch == '\t' || ch == '\n' || ch == '\r' || ch == '\f' || ch == '\v';
}

bool is_digit(char ch) { return ch >= '0' && ch <= '9'; }

// Doubles as text: the shortest digits that read back to the same value,
// laid out as Spark shows them (plain between 1E-3 and 1E7, otherwise
// D.DDDE[-]N; always a fractional digit; NaN, Infinity, -Infinity, -0.0).
size_t format_double(double d, char *out) {
    char *o = out;
    if (std::isnan(d)) {
        memcpy(out, "NaN", 3);
        return 3;
    }
    if (std::isinf(d)) {
        if (d < 0) *o++ = '-';
        memcpy(o, "Infinity", 8);
        return (size_t)(o - out) + 8;
    }
    if (d == 0) {
        if (std::signbit(d)) *o++ = '-';
        memcpy(o, "0.0", 3);
        return (size_t)(o - out) + 3;
    }
    char sci[40];
    auto r = std::to_chars(sci, sci + sizeof sci, d, std::chars_format::scientific);
    const char *p = sci;
    const char *end = r.ptr;
    if (*p == '-') {
        *o++ = '-';
        p++;
    }
    char digits[24];
    int nd = 0;
    while (p < end && *p != 'e') {
        if (is_digit(*p) && nd < (int)sizeof digits) digits[nd++] = *p;
        p++;
    }
    int exp = 0;
    std::from_chars(p + 1 + (p[1] == '+' ? 1 : 0), end, exp);   // "e+NN" / "e-NN"
    if (exp >= -3 && exp < 7) {
        if (exp >= 0) {
            for (int i = 0; i <= exp; i++) *o++ = i < nd ? digits[i] : '0';
            *o++ = '.';
            if (nd > exp + 1) {
                for (int i = exp + 1; i < nd; i++) *o++ = digits[i];
            } else {
                *o++ = '0';
            }
        } else {
            *o++ = '0';
            *o++ = '.';
            for (int i = 0; i < -exp - 1; i++) *o++ = '0';
            for (int i = 0; i < nd; i++) *o++ = digits[i];
        }
    } else {
        *o++ = digits[0];
        *o++ = '.';
        if (nd > 1) {
            for (int i = 1; i < nd; i++) *o++ = digits[i];
        } else {
            *o++ = '0';
        }
        *o++ = 'E';
        o = std::to_chars(o, o + 8, exp).ptr;
    }
    return (size_t)(o - out);
}

// Sets c.text / c.text_len to the value's text form.
void text_view(Conv &c) {
    const SpkValue *v = c.v;
    switch (v->kind) {
    case SPK_VALUE_INT: {
        auto r = std::to_chars(c.buf, c.buf + sizeof c.buf, (long long)v->i);
        c.text = c.buf;
        c.text_len = (size_t)(r.ptr - c.buf);
        return;
    }
    case SPK_VALUE_BOOL:
        c.buf[0] = v->i ? '1' : '0';
        c.text = c.buf;
        c.text_len = 1;
        return;
    case SPK_VALUE_DOUBLE:
        c.text = c.buf;
        c.text_len = format_double(v->d, c.buf);
        return;
    default:
        c.text = v->bytes ? v->bytes : "";
        c.text_len = v->bytes ? v->length : 0;
        return;
    }
}

// The bytes of the value not yet returned: [text + offset, text + text_len).
size_t piece_offset(const Conv &c) {
    size_t off = c.rec->data_offset > 0 ? (size_t)c.rec->data_offset : 0;
    return off > c.text_len ? c.text_len : off;
}

void advance(Conv &c, size_t n) { c.rec->data_offset = (int32_t)(piece_offset(c) + n); }

// ---------------------------------------------------------------------------
// Decimal text: [ws][+|-]digits[.digits][(e|E)[+|-]digits][ws], at least one
// digit.  Nothing is copied: the parts point into the text.

struct Decimal {
    bool neg;
    const char *ip;     // integer digits
    size_t in;
    const char *fp;     // fraction digits
    size_t fn;
    int64_t exp;        // decimal exponent
    const char *end;    // just past the number (before trailing white space)
};

bool parse_decimal(const char *s, size_t n, Decimal *d) {
    size_t i = 0;
    while (i < n && is_space(s[i])) i++;
    d->neg = false;
    if (i < n && (s[i] == '+' || s[i] == '-')) {
        d->neg = s[i] == '-';
        i++;
    }
    d->ip = s + i;
    while (i < n && is_digit(s[i])) i++;
    d->in = (size_t)(s + i - d->ip);
    d->fp = s + i;
    d->fn = 0;
    if (i < n && s[i] == '.') {
        i++;
        d->fp = s + i;
        while (i < n && is_digit(s[i])) i++;
        d->fn = (size_t)(s + i - d->fp);
    }
    if (d->in + d->fn == 0) return false;
    d->exp = 0;
    if (i < n && (s[i] == 'e' || s[i] == 'E')) {
        i++;
        bool eneg = false;
        if (i < n && (s[i] == '+' || s[i] == '-')) {
            eneg = s[i] == '-';
            i++;
        }
        if (i >= n || !is_digit(s[i])) return false;
        int64_t e = 0;
        while (i < n && is_digit(s[i])) {
            if (e < 1000000000) e = e * 10 + (s[i] - '0');
            i++;
        }
        d->exp = eneg ? -e : e;
    }
    d->end = s + i;
    while (i < n && is_space(s[i])) i++;
    return i == n;
}

// Digit k of the decimal's digits (integer digits, then fraction digits).
int decimal_digit(const Decimal &d, size_t k) { return (k < d.in ? d.ip[k] : d.fp[k - d.in]) - '0'; }

// Number of digits before the point once the exponent is applied.
int64_t decimal_point(const Decimal &d) { return (int64_t)d.in + d.exp; }

// The integer part's magnitude (saturating: `overflow`), and whether a
// non-zero fraction digit is dropped.
void decimal_integer(const Decimal &d, uint64_t *mag, bool *overflow, bool *fraction) {
    const size_t total = d.in + d.fn;
    const int64_t point = decimal_point(d);
    uint64_t m = 0;
    bool ovf = false;
    size_t k = 0;
    for (; (int64_t)k < point && k < total; k++) {
        unsigned dig = (unsigned)decimal_digit(d, k);
        if (m > (UINT64_MAX - dig) / 10) {
            ovf = true;
        } else {
            m = m * 10 + dig;
        }
    }
    for (int64_t zeros = point - (int64_t)total; zeros > 0 && m != 0 && !ovf; zeros--) {
        if (m > UINT64_MAX / 10) {
            ovf = true;
        } else {
            m *= 10;
        }
    }
    bool frac = false;
    for (; k < total; k++) {
        if (decimal_digit(d, k) != 0) {
            frac = true;
            break;
        }
    }
    *mag = m;
    *overflow = ovf;
    *fraction = frac;
}

// ---------------------------------------------------------------------------
// Integer targets

struct IntRange {
    uint64_t neg_max;    // largest magnitude of a negative value
    uint64_t pos_max;
    double lo;           // the same bounds for doubles: lo <= t < hi_excl
    double hi_excl;
    int size;
    bool is_signed;
};

const IntRange *int_range(Target t) {
    static const IntRange ranges[] = {
        {32768u, 32767u, -32768.0, 32768.0, 2, true},                                      // T_SSHORT
        {0, 65535u, 0.0, 65536.0, 2, false},                                               // T_USHORT
        {2147483648u, 2147483647u, -2147483648.0, 2147483648.0, 4, true},                 // T_SLONG
        {0, 4294967295u, 0.0, 4294967296.0, 4, false},                                     // T_ULONG
        {9223372036854775808u, 9223372036854775807u, -9223372036854775808.0, 9223372036854775808.0, 8,
         true},                                                                            // T_SBIGINT
        {0, 18446744073709551615u, 0.0, 18446744073709551616.0, 8, false},                 // T_UBIGINT
        {0, 255u, 0.0, 256.0, 1, false},                                                   // T_UTINY
        {128u, 127u, -128.0, 128.0, 1, true},                                              // T_STINY
        {0, 1u, 0.0, 2.0, 1, false},                                                       // T_BIT
    };
    if (t < T_SSHORT || t > T_BIT) return nullptr;
    return &ranges[t - T_SSHORT];
}

// The value as an integer of the range: sign and magnitude, or a status.
Status value_integer(Conv &c, const IntRange &r, bool *neg, uint64_t *mag) {
    const SpkValue *v = c.v;
    bool fraction = false;
    if (v->kind == SPK_VALUE_INT || v->kind == SPK_VALUE_BOOL) {
        *neg = v->i < 0;
        *mag = *neg ? 0 - (uint64_t)v->i : (uint64_t)v->i;
    } else if (v->kind == SPK_VALUE_DOUBLE) {
        if (std::isnan(v->d)) return ST_RANGE;
        double t = std::trunc(v->d);
        if (!(t >= r.lo && t < r.hi_excl)) return ST_RANGE;
        *neg = t < 0;
        *mag = *neg ? (uint64_t)(-t) : (uint64_t)t;
        fraction = t != v->d;
        return fraction ? ST_FRACTION : ST_OK;
    } else {
        text_view(c);
        Decimal d;
        if (!parse_decimal(c.text, c.text_len, &d)) return ST_INVALID;
        bool overflow;
        decimal_integer(d, mag, &overflow, &fraction);
        if (overflow) return ST_RANGE;
        *neg = d.neg && *mag != 0;
    }
    if (*neg ? *mag > r.neg_max : *mag > r.pos_max) return ST_RANGE;
    return fraction ? ST_FRACTION : ST_OK;
}

void store_integer(unsigned char *out, const IntRange &r, bool neg, uint64_t mag) {
    uint64_t bits = neg ? 0 - mag : mag;   // two's complement of the value
    switch (r.size) {
    case 1: {
        uint8_t x = (uint8_t)bits;
        memcpy(out, &x, 1);
        break;
    }
    case 2: {
        uint16_t x = (uint16_t)bits;
        memcpy(out, &x, 2);
        break;
    }
    case 4: {
        uint32_t x = (uint32_t)bits;
        memcpy(out, &x, 4);
        break;
    }
    default: memcpy(out, &bits, 8); break;
    }
}

Status cv_integer(Conv &c) {
    const IntRange &r = *int_range(c.target);
    bool neg = false;
    uint64_t mag = 0;
    Status s = value_integer(c, r, &neg, &mag);
    if (s != ST_OK && s != ST_FRACTION) return s;
    put_length(c, r.size);
    if (!c.out) return ST_PROBE;
    store_integer(c.out, r, neg, mag);
    return s;
}

// ---------------------------------------------------------------------------
// Floating targets

bool equals_nocase(const char *s, size_t n, const char *word) {
    size_t w = strlen(word);
    if (n != w) return false;
    for (size_t i = 0; i < n; i++) {
        char ch = s[i];
        if (ch >= 'A' && ch <= 'Z') ch = (char)(ch - 'A' + 'a');
        if (ch != word[i]) return false;
    }
    return true;
}

// Text into a double or a float, correctly rounded from the text itself.
template <typename F> Status text_floating(const char *s, size_t n, F *out) {
    size_t a = 0, b = n;
    while (a < b && is_space(s[a])) a++;
    while (b > a && is_space(s[b - 1])) b--;
    bool neg = false;
    size_t w = a;
    if (w < b && (s[w] == '+' || s[w] == '-')) {
        neg = s[w] == '-';
        w++;
    }
    if (equals_nocase(s + w, b - w, "nan")) {
        *out = std::numeric_limits<F>::quiet_NaN();
        return ST_OK;
    }
    if (equals_nocase(s + w, b - w, "inf") || equals_nocase(s + w, b - w, "infinity")) {
        *out = neg ? -std::numeric_limits<F>::infinity() : std::numeric_limits<F>::infinity();
        return ST_OK;
    }
    Decimal d;
    if (!parse_decimal(s, n, &d)) return ST_INVALID;
    const char *p = d.ip - (d.neg ? 1 : 0);     // "-digits..." or "digits..."
    if (d.in == 0) p = d.fp - 1 - (d.neg ? 1 : 0);   // ".digits" / "-.digits"
    F value = 0;
    auto r = std::from_chars(p, d.end, value, std::chars_format::general);
    if (r.ec == std::errc::result_out_of_range) {
        // Overflow or underflow: underflow (the value is below 1) reads as zero.
        size_t total = d.in + d.fn, k = 0;
        while (k < total && decimal_digit(d, k) == 0) k++;
        if (k == total || decimal_point(d) - (int64_t)k <= 0) {
            *out = neg ? -F(0) : F(0);
            return ST_OK;
        }
        return ST_RANGE;
    }
    if (r.ec != std::errc() || r.ptr != d.end) return ST_INVALID;
    *out = value;
    return ST_OK;
}

Status cv_floating(Conv &c) {
    const SpkValue *v = c.v;
    double d = 0;
    float f = 0;
    const bool single = c.target == T_FLOAT;
    if (v->kind == SPK_VALUE_INT || v->kind == SPK_VALUE_BOOL) {
        d = (double)v->i;
        f = (float)v->i;
    } else if (v->kind == SPK_VALUE_DOUBLE) {
        d = v->d;
        f = (float)v->d;
        if (single && std::isfinite(d) && !std::isfinite(f)) return ST_RANGE;
    } else {
        text_view(c);
        Status s = single ? text_floating(c.text, c.text_len, &f) : text_floating(c.text, c.text_len, &d);
        if (s != ST_OK) return s;
    }
    put_length(c, single ? 4 : 8);
    if (!c.out) return ST_PROBE;
    if (single) {
        memcpy(c.out, &f, 4);
    } else {
        memcpy(c.out, &d, 8);
    }
    return ST_OK;
}

// ---------------------------------------------------------------------------
// SQL_C_NUMERIC

// Decimal digits of a magnitude (0 has none).
int digit_count(unsigned __int128 m) {
    int digits = 0;
    while (m > UINT64_MAX) {
        m /= 10;
        digits++;
    }
    for (uint64_t x = (uint64_t)m; x != 0; x /= 10) digits++;
    return digits;
}

// A decimal (text, or a double's shortest digits) into the structure.  The
// scale is the number of digits after the point (at most 127; further
// non-zero digits are dropped with 01S07), the precision the number of
// digits of the value (at least the scale, at least 1).
Status decimal_numeric(const Decimal &d, SQL_NUMERIC_STRUCT *n) {
    const size_t total = d.in + d.fn;
    const int64_t point = decimal_point(d);
    int64_t scale = (int64_t)total - point;
    if (scale < 0) scale = 0;
    bool fraction = false;
    size_t keep = total;   // digits used
    if (scale > 127) {
        // The last (scale - 127) fraction digits go; past the digits there
        // are only the zeros between the point and the first digit.
        const int64_t drop = scale - 127;
        keep = drop >= (int64_t)total ? 0 : total - (size_t)drop;
        for (size_t k = keep; k < total; k++) {
            if (decimal_digit(d, k) != 0) fraction = true;
        }
        scale = 127;
    }
    unsigned __int128 m = 0;
    const unsigned __int128 max = ~(unsigned __int128)0;
    for (size_t k = 0; k < keep; k++) {
        unsigned dig = (unsigned)decimal_digit(d, k);
        if (m > (max - dig) / 10) return ST_RANGE;
        m = m * 10 + dig;
    }
    for (int64_t zeros = point - (int64_t)total; zeros > 0 && m != 0; zeros--) {
        if (m > max / 10) return ST_RANGE;
        m *= 10;
    }
    int precision = digit_count(m);
    if (precision < scale) precision = (int)scale;
    if (precision < 1) precision = 1;
    memset(n, 0, sizeof *n);
    n->precision = (SQLCHAR)precision;
    n->scale = (SQLSCHAR)scale;
    n->sign = d.neg ? 0 : 1;
    for (int i = 0; i < 16; i++) {
        n->val[i] = (SQLCHAR)(m & 0xFF);
        m >>= 8;
    }
    return fraction ? ST_FRACTION : ST_OK;
}

Status value_numeric(Conv &c, SQL_NUMERIC_STRUCT *n) {
    const SpkValue *v = c.v;
    if (v->kind == SPK_VALUE_INT || v->kind == SPK_VALUE_BOOL) {
        bool neg = v->i < 0;
        uint64_t mag = neg ? 0 - (uint64_t)v->i : (uint64_t)v->i;
        int digits = 0;
        for (uint64_t x = mag; x != 0; x /= 10) digits++;
        memset(n, 0, sizeof *n);
        n->precision = (SQLCHAR)(digits ? digits : 1);
        n->scale = 0;
        n->sign = neg ? 0 : 1;
        for (int i = 0; i < 8; i++) n->val[i] = (SQLCHAR)(mag >> (8 * i));
        return ST_OK;
    }
    Decimal d;
    char sci[40];   // the double's digits; `d` points into it
    if (v->kind == SPK_VALUE_DOUBLE) {
        if (!std::isfinite(v->d)) return ST_RANGE;
        auto r = std::to_chars(sci, sci + sizeof sci, v->d, std::chars_format::scientific);
        if (!parse_decimal(sci, (size_t)(r.ptr - sci), &d)) return ST_RANGE;
    } else {
        text_view(c);
        if (!parse_decimal(c.text, c.text_len, &d)) return ST_INVALID;
    }
    return decimal_numeric(d, n);
}

// Brings the structure to the scale and precision asked for: digits past
// the scale go (01S07 when not zero), a value with more digits than the
// precision is out of range.
Status numeric_rescale(SQL_NUMERIC_STRUCT *n, int precision, int scale, Status s) {
    unsigned __int128 m = 0;
    for (int i = 15; i >= 0; i--) m = (m << 8) | n->val[i];
    const unsigned __int128 max = ~(unsigned __int128)0;
    for (int k = n->scale; k < scale; k++) {
        if (m > max / 10) return ST_RANGE;
        m *= 10;
    }
    for (int k = n->scale; k > scale; k--) {
        if (m % 10 != 0) s = ST_FRACTION;
        m /= 10;
    }
    if (digit_count(m) > precision) return ST_RANGE;
    n->precision = (SQLCHAR)precision;
    n->scale = (SQLSCHAR)scale;
    for (int i = 0; i < 16; i++) {
        n->val[i] = (SQLCHAR)(m & 0xFF);
        m >>= 8;
    }
    return s;
}

Status cv_numeric(Conv &c) {
    SQL_NUMERIC_STRUCT n;
    Status s = value_numeric(c, &n);
    if (s != ST_OK && s != ST_FRACTION) return s;
    if (c.num_precision > 0) {
        s = numeric_rescale(&n, c.num_precision, c.num_scale, s);
        if (s != ST_OK && s != ST_FRACTION) return s;
    }
    put_length(c, (SQLLEN)sizeof n);
    if (!c.out) return ST_PROBE;
    memcpy(c.out, &n, sizeof n);
    return s;
}

// ---------------------------------------------------------------------------
// Dates, times and timestamps: YYYY-MM-DD, hh:mm:ss[.f...], or both joined by
// a space (or 'T').  Fraction digits are read by position (.5 is half a
// second).  Fields are checked; anything else is 22018.

struct DateTime {
    int year, month, day, hour, minute, second;
    uint32_t fraction;   // nanoseconds
    bool has_date, has_time;
    bool fraction_lost;  // non-zero digits beyond nanoseconds
};

bool read_field(const char *s, size_t n, size_t *i, int min_digits, int max_digits, int *out) {
    int v = 0, k = 0;
    while (*i < n && k < max_digits && is_digit(s[*i])) {
        v = v * 10 + (s[*i] - '0');
        (*i)++;
        k++;
    }
    if (k < min_digits || (*i < n && is_digit(s[*i]))) return false;
    *out = v;
    return true;
}

bool parse_time_part(const char *s, size_t n, size_t *i, DateTime *dt) {
    if (!read_field(s, n, i, 1, 2, &dt->hour) || *i >= n || s[*i] != ':') return false;
    (*i)++;
    if (!read_field(s, n, i, 1, 2, &dt->minute) || *i >= n || s[*i] != ':') return false;
    (*i)++;
    if (!read_field(s, n, i, 1, 2, &dt->second)) return false;
    if (*i < n && s[*i] == '.') {
        (*i)++;
        int k = 0;
        uint32_t f = 0;
        while (*i < n && is_digit(s[*i])) {
            if (k < 9) {
                f = f * 10 + (uint32_t)(s[*i] - '0');
            } else if (s[*i] != '0') {
                dt->fraction_lost = true;
            }
            k++;
            (*i)++;
        }
        if (k == 0) return false;
        for (; k < 9; k++) f *= 10;
        dt->fraction = f;
    }
    dt->has_time = true;
    return dt->hour <= 23 && dt->minute <= 59 && dt->second <= 59;
}

bool leap_year(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }

// A month of 1 to 12 and a day that month has.
bool valid_date(int year, int month, int day) {
    static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month < 1 || month > 12 || day < 1) return false;
    return day <= days[month - 1] + (month == 2 && leap_year(year) ? 1 : 0);
}

bool parse_datetime(const char *s, size_t n, DateTime *dt) {
    memset(dt, 0, sizeof *dt);
    size_t i = 0;
    while (i < n && is_space(s[i])) i++;
    while (n > i && is_space(s[n - 1])) n--;
    // A date starts with four or more year digits (Spark writes years past
    // 9999 with '+' and years before 1 with '-') and a '-'; a time with one
    // or two digits and a ':'.
    size_t y = i + (i < n && (s[i] == '+' || s[i] == '-') ? 1 : 0);
    size_t year_digits = 0;
    while (y + year_digits < n && is_digit(s[y + year_digits])) year_digits++;
    if (year_digits >= 4 && y + year_digits < n && s[y + year_digits] == '-') {
        bool negative = s[i] == '-';
        i = y;
        if (!read_field(s, n, &i, 4, 9, &dt->year) || s[i] != '-') return false;
        if (negative) dt->year = -dt->year;
        i++;
        if (!read_field(s, n, &i, 1, 2, &dt->month) || i >= n || s[i] != '-') return false;
        i++;
        if (!read_field(s, n, &i, 1, 2, &dt->day)) return false;
        if (!valid_date(dt->year, dt->month, dt->day)) return false;
        dt->has_date = true;
        if (i == n) return true;
        if (s[i] != ' ' && s[i] != 'T') return false;
        i++;
    }
    if (!parse_time_part(s, n, &i, dt)) return false;
    return i == n;
}

// Reads the value as the layout its group and the target allow.
Status value_datetime(Conv &c, DateTime *dt) {
    text_view(c);
    if (is_number_kind(c.v) || !parse_datetime(c.text, c.text_len, dt)) return ST_INVALID;
    bool ok;
    switch (c.group) {
    case G_DATE: ok = dt->has_date && !dt->has_time; break;
    case G_TIME: ok = dt->has_time && !dt->has_date; break;
    case G_TIMESTAMP: ok = dt->has_date; break;
    default: ok = true; break;   // character columns: any of the three layouts
    }
    if (!ok) return ST_INVALID;
    switch (c.target) {
    case T_DATE: ok = dt->has_date; break;
    case T_TIME: ok = dt->has_time; break;
    case T_TIMESTAMP: ok = dt->has_date || c.group == G_TIME; break;
    default: break;   // character output: as the group says
    }
    return ok ? ST_OK : ST_INVALID;
}

Status cv_datetime(Conv &c) {
    DateTime dt;
    Status s = value_datetime(c, &dt);
    if (s != ST_OK) return s;
    // A date keeps no time and a time keeps no fraction: dropping a non-zero
    // one is 01S07, as are digits beyond nanoseconds.
    bool dropped = dt.fraction_lost;
    if (c.target == T_DATE) dropped = dt.has_time && (dt.hour || dt.minute || dt.second || dt.fraction);
    if (c.target == T_TIME) dropped = dt.fraction != 0;
    s = dropped ? ST_FRACTION : ST_OK;
    if (c.target != T_TIME && (dt.year < SHRT_MIN || dt.year > SHRT_MAX)) return ST_DT_RANGE;
    if (c.target == T_DATE) {
        SQL_DATE_STRUCT d = {(SQLSMALLINT)dt.year, (SQLUSMALLINT)dt.month, (SQLUSMALLINT)dt.day};
        put_length(c, (SQLLEN)sizeof d);
        if (!c.out) return ST_PROBE;
        memcpy(c.out, &d, sizeof d);
    } else if (c.target == T_TIME) {
        SQL_TIME_STRUCT t = {(SQLUSMALLINT)dt.hour, (SQLUSMALLINT)dt.minute, (SQLUSMALLINT)dt.second};
        put_length(c, (SQLLEN)sizeof t);
        if (!c.out) return ST_PROBE;
        memcpy(c.out, &t, sizeof t);
    } else {
        SQL_TIMESTAMP_STRUCT ts = {(SQLSMALLINT)dt.year,   (SQLUSMALLINT)dt.month,  (SQLUSMALLINT)dt.day,
                                   (SQLUSMALLINT)dt.hour,  (SQLUSMALLINT)dt.minute, (SQLUSMALLINT)dt.second,
                                   (SQLUINTEGER)dt.fraction};
        put_length(c, (SQLLEN)sizeof ts);
        if (!c.out) return ST_PROBE;
        memcpy(c.out, &ts, sizeof ts);
    }
    return s;
}

char *put_digits(char *o, unsigned v, int width) {
    for (int i = width - 1; i >= 0; i--) {
        o[i] = (char)('0' + v % 10);
        v /= 10;
    }
    return o + width;
}

// The text of a date, time or timestamp value, and how much of it must
// survive truncation (only fraction digits may be cut).
Status datetime_text(Conv &c, char *out, size_t *len, size_t *keep) {
    DateTime dt;
    Status s = value_datetime(c, &dt);
    if (s != ST_OK) return s;
    char *o = out;
    if (c.group == G_DATE || c.group == G_TIMESTAMP) {
        // Years outside 0000-9999 as Spark writes them: -0044, +10000.
        if (dt.year < 0 || dt.year > 9999) *o++ = dt.year < 0 ? '-' : '+';
        unsigned year = (unsigned)(dt.year < 0 ? -dt.year : dt.year);
        int width = 4;
        for (unsigned x = year / 10000; x != 0; x /= 10) width++;
        o = put_digits(o, year, width);
        *o++ = '-';
        o = put_digits(o, (unsigned)dt.month, 2);
        *o++ = '-';
        o = put_digits(o, (unsigned)dt.day, 2);
        if (c.group == G_TIMESTAMP) *o++ = ' ';
    }
    if (c.group == G_TIME || c.group == G_TIMESTAMP) {
        o = put_digits(o, (unsigned)dt.hour, 2);
        *o++ = ':';
        o = put_digits(o, (unsigned)dt.minute, 2);
        *o++ = ':';
        o = put_digits(o, (unsigned)dt.second, 2);
    }
    *keep = (size_t)(o - out);
    if (c.group == G_TIMESTAMP && dt.fraction != 0) {
        *o++ = '.';
        if (dt.fraction % 1000 == 0) {
            o = put_digits(o, dt.fraction / 1000, 6);
        } else {
            o = put_digits(o, dt.fraction, 9);
        }
    }
    *len = (size_t)(o - out);
    return ST_OK;
}

// ---------------------------------------------------------------------------
// Character and wide-character output

// A whole text that cannot be resumed (numbers, dates): all of it, or cut
// after at least `keep` characters with 01004, or 22003 when even those do
// not fit.
Status write_whole(Conv &c, const char *text, size_t n, size_t keep) {
    const bool wide = c.target == T_WCHAR;
    if (c.out && c.cap < 0) return ST_BAD_LENGTH;
    const SQLLEN full = (SQLLEN)(wide ? 2 * n : n);
    if (!c.out || c.cap == 0) {
        put_length(c, full);
        return ST_PROBE;
    }
    // Characters that fit besides the terminator.
    const SQLLEN room = wide ? c.cap / 2 - 1 : c.cap - 1;
    size_t take = n;
    Status st = ST_OK;
    if ((SQLLEN)n > room) {
        if (room < (SQLLEN)keep) return ST_RANGE;
        take = (size_t)room;
        st = ST_TRUNCATED;
    }
    put_length(c, full);
    if (wide) {
        for (size_t i = 0; i < take; i++) {
            uint16_t u = (unsigned char)text[i];
            memcpy(c.out + 2 * i, &u, 2);
        }
        memset(c.out + 2 * take, 0, 2);
    } else {
        memcpy(c.out, text, take);
        c.out[take] = 0;
    }
    return st;
}

// How much of a number's text must survive truncation: the whole-number
// digits of a plain number; all of an exponent form or a special value.
size_t number_keep(const char *s, size_t n) {
    const void *point = memchr(s, '.', n);
    if (!point || memchr(s, 'E', n)) return n;
    return (size_t)((const char *)point - s);
}

Status cv_char_text(Conv &c);
Status cv_wchar_text(Conv &c);

Status cv_char_number(Conv &c) {
    if (!is_number_kind(c.v)) return c.target == T_WCHAR ? cv_wchar_text(c) : cv_char_text(c);
    text_view(c);
    return write_whole(c, c.text, c.text_len, number_keep(c.text, c.text_len));
}

Status cv_char_datetime(Conv &c) {
    char text[40];
    size_t n = 0, keep = 0;
    Status s = datetime_text(c, text, &n, &keep);
    if (s != ST_OK) return s;
    return write_whole(c, text, n, keep);
}

// Bytes of whole UTF-8 sequences from the start of `s` (at most `room`).
size_t utf8_prefix(const char *s, size_t n, size_t room) {
    size_t used = 0;
    while (used < n) {
        int consumed = 1;
        spk_utf8_decode((const unsigned char *)s + used, n - used, &consumed);
        if (consumed < 1) consumed = 1;
        if (used + (size_t)consumed > room) break;
        used += (size_t)consumed;
    }
    return used;
}

// Character pieces: the UTF-8 text from data_offset, cut only between
// sequences.
Status cv_char_text(Conv &c) {
    text_view(c);
    if (c.out && c.cap < 0) return ST_BAD_LENGTH;
    const size_t off = piece_offset(c);
    const char *s = c.text + off;
    const size_t rest = c.text_len - off;
    put_length(c, (SQLLEN)rest);
    if (!c.out || c.cap == 0) return ST_PROBE;
    const size_t room = (size_t)c.cap - 1;
    if (rest <= room) {
        memcpy(c.out, s, rest);
        c.out[rest] = 0;
        return ST_OK;
    }
    size_t take = utf8_prefix(s, rest, room);
    // When not even the next character fits, the piece ends inside it:
    // pieces that carry nothing would never reach the end of the value.
    if (take == 0) take = room;
    memcpy(c.out, s, take);
    c.out[take] = 0;
    advance(c, take);
    return ST_PIECE;
}

// Binary as hexadecimal text, two digits a byte, pieces of whole bytes.
Status cv_char_hex(Conv &c) {
    static const char HEX[] = "0123456789ABCDEF";
    text_view(c);
    if (c.out && c.cap < 0) return ST_BAD_LENGTH;
    const size_t off = piece_offset(c);
    const unsigned char *s = (const unsigned char *)c.text + off;
    const size_t rest = c.text_len - off;
    put_length(c, (SQLLEN)(2 * rest));
    if (!c.out || c.cap == 0) return ST_PROBE;
    const size_t room = ((size_t)c.cap - 1) / 2;
    const size_t take = rest <= room ? rest : room;
    for (size_t i = 0; i < take; i++) {
        c.out[2 * i] = (unsigned char)HEX[s[i] >> 4];
        c.out[2 * i + 1] = (unsigned char)HEX[s[i] & 0xF];
    }
    c.out[2 * take] = 0;
    if (take == rest) return ST_OK;
    advance(c, take);
    return ST_PIECE;
}

// Wide pieces: the UTF-8 text from data_offset as UTF-16; characters above
// U+FFFF become surrogate pairs.  A piece ends inside a pair only when the
// buffer holds a single unit: data_offset then rests two bytes into the
// character's four-byte sequence, and the next piece starts with the low
// half (a valid sequence boundary never lies there).
Status cv_wchar_text(Conv &c) {
    text_view(c);
    if (c.out && c.cap < 0) return ST_BAD_LENGTH;
    size_t off = piece_offset(c);
    uint16_t low_half = 0;
    if (off >= 2 && off + 2 <= c.text_len) {
        int consumed = 1;
        uint32_t cp = spk_utf8_decode((const unsigned char *)c.text + off - 2, c.text_len - off + 2, &consumed);
        if (consumed == 4 && cp > 0xFFFF) {
            low_half = (uint16_t)(0xDC00 + ((cp - 0x10000) & 0x3FF));
            off += 2;
        }
    }
    const unsigned char *s = (const unsigned char *)c.text + off;
    const size_t rest = c.text_len - off;
    size_t units = low_half ? 1 : 0;
    for (size_t i = 0; i < rest;) {
        int consumed = 1;
        uint32_t cp = spk_utf8_decode(s + i, rest - i, &consumed);
        if (consumed < 1) consumed = 1;
        units += cp > 0xFFFF ? 2 : 1;
        i += (size_t)consumed;
    }
    put_length(c, (SQLLEN)(2 * units));
    if (!c.out || c.cap == 0) return ST_PROBE;
    const SQLLEN room = c.cap / 2 - 1;
    if (room < 0) return ST_PIECE;   // not even room for the terminator
    size_t written = 0, i = 0;
    if (room == 0 && units > 0) {   // room for the terminator only
        memset(c.out, 0, 2);
        return ST_PIECE;
    }
    if (low_half) {
        memcpy(c.out, &low_half, 2);
        written = 1;
    }
    while (i < rest) {
        int consumed = 1;
        uint32_t cp = spk_utf8_decode(s + i, rest - i, &consumed);
        if (consumed < 1) consumed = 1;
        const size_t need = cp > 0xFFFF ? 2 : 1;
        uint16_t u[2];
        if (need == 2) {
            cp -= 0x10000;
            u[0] = (uint16_t)(0xD800 + (cp >> 10));
            u[1] = (uint16_t)(0xDC00 + (cp & 0x3FF));
        } else {
            u[0] = (uint16_t)cp;
        }
        if ((SQLLEN)(written + need) > room) {
            if (written == 0 && room == 1) {
                // Only the high half fits: end the piece inside the pair.
                memcpy(c.out, u, 2);
                memset(c.out + 2, 0, 2);
                c.rec->data_offset = (int32_t)(off + i + 2);
                return ST_PIECE;
            }
            break;
        }
        memcpy(c.out + 2 * written, u, 2 * need);
        written += need;
        i += (size_t)consumed;
    }
    memset(c.out + 2 * written, 0, 2);
    if (i == rest) return ST_OK;
    c.rec->data_offset = (int32_t)(off + i);
    return ST_PIECE;
}

// ---------------------------------------------------------------------------
// SQL_C_BINARY

// Bytes pieces: the text or bytes from data_offset, no terminator.
Status cv_binary_bytes(Conv &c) {
    text_view(c);
    if (c.out && c.cap < 0) return ST_BAD_LENGTH;
    const size_t off = piece_offset(c);
    const size_t rest = c.text_len - off;
    put_length(c, (SQLLEN)rest);
    if (!c.out || c.cap == 0) return ST_PROBE;
    if (rest <= (size_t)c.cap) {
        if (rest) memcpy(c.out, c.text + off, rest);
        return ST_OK;
    }
    memcpy(c.out, c.text + off, (size_t)c.cap);
    advance(c, (size_t)c.cap);
    return ST_PIECE;
}

// The value's in-memory image: the integer in the column's width, the
// double (or the float of a REAL column), SQL_NUMERIC_STRUCT, or the date,
// time or timestamp structure.  A buffer shorter than the image is 22003.
Status cv_binary_image(Conv &c) {
    unsigned char image[sizeof(SQL_TIMESTAMP_STRUCT) + sizeof(SQL_NUMERIC_STRUCT)];
    size_t size = 0;
    Status s = ST_OK;
    const int sql_type = c.rec->concise_type;
    switch (c.group) {
    case G_INTEGER: {
        Target t = T_SBIGINT;
        switch (sql_type) {
        case SQL_BIT: t = T_BIT; break;
        case SQL_TINYINT: t = c.rec->is_unsigned ? T_UTINY : T_STINY; break;
        case SQL_SMALLINT: t = c.rec->is_unsigned ? T_USHORT : T_SSHORT; break;
        case SQL_INTEGER: t = c.rec->is_unsigned ? T_ULONG : T_SLONG; break;
        default: t = c.rec->is_unsigned ? T_UBIGINT : T_SBIGINT; break;
        }
        const IntRange &r = *int_range(t);
        bool neg = false;
        uint64_t mag = 0;
        s = value_integer(c, r, &neg, &mag);
        if (s != ST_OK && s != ST_FRACTION) return s;
        store_integer(image, r, neg, mag);
        size = (size_t)r.size;
        break;
    }
    case G_DOUBLE: {
        Conv inner = c;
        inner.target = sql_type == SQL_REAL ? T_FLOAT : T_DOUBLE;
        inner.out = image;
        inner.ind = inner.len = nullptr;
        s = cv_floating(inner);
        if (s != ST_OK) return s;
        size = inner.target == T_FLOAT ? 4 : 8;
        break;
    }
    case G_NUMERIC: {
        SQL_NUMERIC_STRUCT n;
        s = value_numeric(c, &n);
        if (s != ST_OK && s != ST_FRACTION) return s;
        memcpy(image, &n, sizeof n);
        size = sizeof n;
        break;
    }
    default: {   // date, time, timestamp: the structure of the column's own type
        Conv inner = c;
        inner.target = c.group == G_DATE ? T_DATE : c.group == G_TIME ? T_TIME : T_TIMESTAMP;
        inner.out = image;
        SQLLEN n = 0;
        inner.ind = &n;
        inner.len = nullptr;
        s = cv_datetime(inner);
        if (s != ST_OK && s != ST_FRACTION) return s;
        size = (size_t)n;
        break;
    }
    }
    if (c.out && c.cap < 0) return ST_BAD_LENGTH;
    if (c.out && c.cap > 0 && (size_t)c.cap < size) return ST_RANGE;
    put_length(c, (SQLLEN)size);
    if (!c.out || c.cap == 0) return ST_PROBE;
    memcpy(c.out, image, size);
    return s;
}

// ---------------------------------------------------------------------------
// The conversion matrix

typedef Status (*Converter)(Conv &);

// Short names for the table.
constexpr Converter NUMTXT = cv_char_number, TXT = cv_char_text, WTXT = cv_wchar_text, HEX = cv_char_hex,
                    DTTXT = cv_char_datetime, IMAGE = cv_binary_image, BYTES = cv_binary_bytes, INT = cv_integer,
                    FLT = cv_floating, DT = cv_datetime, NUM = cv_numeric, NO = nullptr;

const Converter MATRIX[T_COUNT][G_COUNT] = {
    //              integer double  numeric character wide   binary date   time   timestamp
    /* CHAR      */ {NUMTXT, NUMTXT, TXT,    TXT,      TXT,   HEX,   DTTXT, DTTXT, DTTXT},
    /* WCHAR     */ {NUMTXT, NUMTXT, WTXT,   WTXT,     WTXT,  NO,    DTTXT, DTTXT, DTTXT},
    /* BINARY    */ {IMAGE,  IMAGE,  IMAGE,  BYTES,    BYTES, BYTES, IMAGE, IMAGE, IMAGE},
    /* SSHORT    */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* USHORT    */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* SLONG     */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* ULONG     */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* SBIGINT   */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* UBIGINT   */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* UTINY     */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* STINY     */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* BIT       */ {INT,    INT,    INT,    INT,      INT,   NO,    NO,    NO,    NO},
    /* DOUBLE    */ {FLT,    FLT,    FLT,    FLT,      FLT,   NO,    NO,    NO,    NO},
    /* FLOAT     */ {FLT,    FLT,    FLT,    FLT,      FLT,   NO,    NO,    NO,    NO},
    /* DATE      */ {NO,     NO,     NO,     DT,       DT,    NO,    DT,    NO,    DT},
    /* TIME      */ {NO,     NO,     NO,     DT,       DT,    NO,    NO,    DT,    DT},
    /* TIMESTAMP */ {NO,     NO,     NO,     DT,       DT,    NO,    DT,    DT,    DT},
    /* NUMERIC   */ {NUM,    NUM,    NUM,    NUM,      NO,    NO,    NO,    NO,    NO},
    /* GUID      */ {NO,     NO,     NO,     NO,       NO,    NO,    NO,    NO,    NO},
};

}  // namespace

// ---------------------------------------------------------------------------

int spk_data_default_c_type(int sql_type, int is_unsigned) {
    switch (sql_type) {
    case SQL_CHAR:
    case SQL_VARCHAR:
    case SQL_LONGVARCHAR:
    case SQL_NUMERIC:
    case SQL_DECIMAL:
    case SQL_GUID: return SQL_C_CHAR;
    case SQL_WCHAR:
    case SQL_WVARCHAR:
    case SQL_WLONGVARCHAR: return SQL_C_WCHAR;
    case SQL_BIT: return SQL_C_BIT;
    case SQL_TINYINT: return is_unsigned ? SQL_C_UTINYINT : SQL_C_STINYINT;
    case SQL_SMALLINT: return is_unsigned ? SQL_C_USHORT : SQL_C_SSHORT;
    case SQL_INTEGER: return is_unsigned ? SQL_C_ULONG : SQL_C_SLONG;
    case SQL_BIGINT: return is_unsigned ? SQL_C_UBIGINT : SQL_C_SBIGINT;
    case SQL_FLOAT:
    case SQL_DOUBLE: return SQL_C_DOUBLE;
    case SQL_REAL: return SQL_C_FLOAT;
    case SQL_DATE:
    case SQL_TYPE_DATE: return SQL_C_TYPE_DATE;
    case SQL_TIME:
    case SQL_TYPE_TIME: return SQL_C_TYPE_TIME;
    case SQL_TIMESTAMP:
    case SQL_TYPE_TIMESTAMP: return SQL_C_TYPE_TIMESTAMP;
    case SQL_BINARY:
    case SQL_VARBINARY:
    case SQL_LONGVARBINARY: return SQL_C_BINARY;
    default: return sql_type;
    }
}

namespace {

SQLRETURN convert_value(void *handle, int column_number, const SpkValue *value, SpkField *record, int c_type,
                        void *target, SQLLEN buffer_length, SQLLEN *indicator, SQLLEN *length,
                        const SpkField *app) {
    if (!record) return spk_post_column_error(handle, "HY000", 0, column_number, "no descriptor record");
    if (record->data_done) return SQL_NO_DATA;
    if (length == indicator) length = nullptr;
    if (c_type == SQL_C_DEFAULT) c_type = spk_data_default_c_type(record->concise_type, record->is_unsigned);
    const Target t = target_of(c_type);
    if (t == T_NONE) {
        SPK_LOG(handle, LOG_ERROR, "spk_get_data: unknown target type %d", c_type);
        return report(handle, column_number, ST_REFUSED);
    }
    SPK_LOG(handle, LOG_DETAIL, "getting %s from %d", TARGET_NAME[t], record->concise_type);

    static const SpkValue null_value = {SPK_VALUE_NONE, 0, 0.0, nullptr, 0};
    if (!value) value = &null_value;
    if (value->kind < SPK_VALUE_NONE || value->kind > SPK_VALUE_BINARY)
        return spk_post_column_error(handle, "HY000", 0, column_number, "unknown value kind %d", value->kind);
    if (value->kind == SPK_VALUE_NONE) {
        SPK_LOG(handle, LOG_DETAIL, "data is SQL_NULL");
        if (!indicator) return report(handle, column_number, ST_NO_INDICATOR);
        *indicator = SQL_NULL_DATA;
        if (length) *length = 0;
        record->data_done = 1;
        return SQL_SUCCESS;
    }

    const Group g = group_of(record->concise_type);
    const Converter fn = g == G_OTHER ? nullptr : MATRIX[t][g];
    if (!fn) {
        if (g == G_OTHER || g < G_DATE)
            SPK_LOG(handle, LOG_ERROR, "invalid get_%s on type %d", TARGET_NAME[t], record->concise_type);
        return report(handle, column_number, ST_REFUSED);
    }

    Conv c;
    c.v = value;
    c.rec = record;
    c.group = g;
    c.target = t;
    c.out = static_cast<unsigned char *>(target);
    c.cap = buffer_length;
    c.ind = indicator;
    c.len = length;
    c.text = "";
    c.text_len = 0;
    if (t == T_NUMERIC && app && app->concise_type == SQL_C_NUMERIC && app->precision >= 1 &&
        app->precision <= 38 && app->scale >= 0 && app->scale <= app->precision) {
        c.num_precision = (int)app->precision;
        c.num_scale = (int)app->scale;
    }
    const Status s = fn(c);
    // A whole value (or its last piece) ends the column for this row; a
    // piece with more to come, a length-only call and a failure leave it.
    if (s == ST_OK || s == ST_TRUNCATED || s == ST_FRACTION) record->data_done = 1;
    const SQLRETURN rc = report(handle, column_number, s);
    SPK_LOG(handle, LOG_DETAIL, "finished getting %s return=%r", TARGET_NAME[t], (int)rc);
    return rc;
}

}  // namespace

SQLRETURN spk_convert_value(void *handle, int column_number, const SpkValue *value, SpkField *record,
                            int c_type, void *target, SQLLEN buffer_length, SQLLEN *indicator,
                            SQLLEN *length) {
    return convert_value(handle, column_number, value, record, c_type, target, buffer_length, indicator, length,
                         nullptr);
}

SQLRETURN spk_get_data(SpkStatement *stmt, int column_number, int target_type, void *target,
                       SQLLEN buffer_length, SQLLEN *indicator, SQLLEN *length, SpkDescriptor *ird,
                       SpkDescriptor *ard) {
    SPK_LOG(stmt, LOG_DETAIL,
            "spk_get_data stmt=%p, column_number=%d, target_type=%d, target_value=%p. buffer_length=%d, "
            "strlen_or_ind=%p, oct_ptr=%p, fields=%p, afields=%p",
            (void *)stmt, column_number, target_type, target, (int)buffer_length, (void *)indicator,
            (void *)length, (void *)ird, (void *)ard);
    if (!ird) return spk_post_column_error(stmt, "HY000", 0, column_number, "no implementation row descriptor");
    // Column 0 is the bookmark: its own record, the row number.
    SpkField *record = column_number < 0 ? nullptr : spk_desc_record(ird, column_number);
    if (!record) {
        SPK_LOG(stmt, LOG_ERROR, "Invalid descriptor index %d", column_number);
        return spk_post_column_error(stmt, "07009", 0, column_number, nullptr);
    }
    SPK_LOG(stmt, LOG_DETAIL, "spk_get_data column_number %d of %d", column_number, (int)ird->count);
    if (record->data_done) return SQL_NO_DATA;
    if (target_type == SQL_ARD_TYPE) {
        const SpkField *a = ard ? spk_desc_record(ard, column_number) : nullptr;
        target_type = a ? a->concise_type : SQL_C_DEFAULT;
        if (target_type == SQL_ARD_TYPE || target_type == 0) target_type = SQL_C_DEFAULT;
    }
    if (column_number == 0) {
        // The bookmark is the row's number in the result, as an unsigned
        // 64-bit integer or its 8 bytes.
        uint64_t row = (uint64_t)stmt->row_number;
        if (target_type != SQL_C_UBIGINT && target_type != SQL_C_BINARY && target_type != SQL_C_DEFAULT)
            return report(stmt, 0, ST_REFUSED);
        if (target_type == SQL_C_BINARY && target && buffer_length < (SQLLEN)sizeof row)
            return report(stmt, 0, ST_RANGE);
        if (target) memcpy(target, &row, sizeof row);
        if (indicator) *indicator = (SQLLEN)sizeof row;
        if (length && length != indicator) *length = (SQLLEN)sizeof row;
        if (target) record->data_done = 1;
        return SQL_SUCCESS;
    }
    SpkValue value = {SPK_VALUE_NONE, 0, 0.0, nullptr, 0};
    spk_data_value_hook(stmt, column_number, &value);
    const SpkField *app = ard && column_number >= 1 && column_number <= ard->count
                              ? spk_desc_record(ard, column_number)
                              : nullptr;
    return convert_value(stmt, column_number, &value, record, target_type, target, buffer_length, indicator,
                         length, app);
}

// ---------------------------------------------------------------------------
// Runs of rows

namespace {

enum RunKernel { K_GENERIC, K_INTEGER, K_DOUBLE, K_TEXT, K_WTEXT, K_DATE, K_DATE_TIMESTAMP, K_TIMESTAMP };

bool two_digits(const char *s, int *out) {
    if (!is_digit(s[0]) || !is_digit(s[1])) return false;
    *out = (s[0] - '0') * 10 + (s[1] - '0');
    return true;
}

// "YYYY-MM-DD", as Spark writes the dates of years 0 to 9999.
bool spark_date(const char *s, size_t n, SQL_DATE_STRUCT *d) {
    if (n < 10 || s[4] != '-' || s[7] != '-') return false;
    int hi, lo, month, day;
    if (!two_digits(s, &hi) || !two_digits(s + 2, &lo) || !two_digits(s + 5, &month) || !two_digits(s + 8, &day))
        return false;
    int year = hi * 100 + lo;
    if (!valid_date(year, month, day)) return false;
    d->year = (SQLSMALLINT)year;
    d->month = (SQLUSMALLINT)month;
    d->day = (SQLUSMALLINT)day;
    return true;
}

// "YYYY-MM-DD hh:mm:ss[.f...]" with at most nine fraction digits.
bool spark_timestamp(const char *s, size_t n, SQL_TIMESTAMP_STRUCT *ts) {
    SQL_DATE_STRUCT d;
    if (n < 19 || n == 20 || n > 29 || !spark_date(s, 10, &d) || s[10] != ' ' || s[13] != ':' || s[16] != ':')
        return false;
    int hour, minute, second;
    if (!two_digits(s + 11, &hour) || !two_digits(s + 14, &minute) || !two_digits(s + 17, &second)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    uint32_t fraction = 0;
    if (n > 19) {
        if (s[19] != '.') return false;
        size_t k = 20;
        for (; k < n; k++) {
            if (!is_digit(s[k])) return false;
            fraction = fraction * 10 + (uint32_t)(s[k] - '0');
        }
        for (k -= 20; k < 9; k++) fraction *= 10;
    }
    *ts = {d.year, d.month, d.day, (SQLUSMALLINT)hour, (SQLUSMALLINT)minute, (SQLUSMALLINT)second, fraction};
    return true;
}

RunKernel run_kernel(const SpkBatchColumn &col, Group g, Target t) {
    switch (col.kind) {
    case SPK_BATCH_BOOL:
    case SPK_BATCH_BYTE:
    case SPK_BATCH_I16:
    case SPK_BATCH_I32:
    case SPK_BATCH_I64: return g == G_INTEGER && int_range(t) ? K_INTEGER : K_GENERIC;
    case SPK_BATCH_DOUBLE: return g == G_DOUBLE && t == T_DOUBLE ? K_DOUBLE : K_GENERIC;
    case SPK_BATCH_STRING:
        if (t == T_CHAR && MATRIX[T_CHAR][g] == TXT) return K_TEXT;
        if (t == T_WCHAR && MATRIX[T_WCHAR][g] == WTXT) return K_WTEXT;
        if (g == G_DATE && t == T_DATE) return K_DATE;
        if (g == G_DATE && t == T_TIMESTAMP) return K_DATE_TIMESTAMP;
        if (g == G_TIMESTAMP && t == T_TIMESTAMP) return K_TIMESTAMP;
        return K_GENERIC;
    default: return K_GENERIC;
    }
}

void run_put_length(SQLLEN *ind, SQLLEN *len, SQLLEN n) {
    if (ind) *ind = n;
    if (len) *len = n;
}

// One value by the loops' own conversions; false when it is not theirs to
// convert (then nothing is written).
inline bool fast_value(RunKernel kernel, const SpkBatchColumn &col, size_t r, const IntRange *range, char *out,
                       SQLLEN buffer_length, SQLLEN *ind, SQLLEN *len) {
    switch (kernel) {
    case K_INTEGER: {
        int64_t v = col.integer(r);
        bool neg = v < 0;
        uint64_t mag = neg ? 0 - (uint64_t)v : (uint64_t)v;
        if (neg ? mag > range->neg_max : mag > range->pos_max) return false;
        store_integer((unsigned char *)out, *range, neg, mag);
        run_put_length(ind, len, range->size);
        return true;
    }
    case K_DOUBLE: {
        double d = col.number<double>(r);
        memcpy(out, &d, 8);
        run_put_length(ind, len, 8);
        return true;
    }
    case K_TEXT: {
        size_t n;
        const char *s = col.bytes(r, &n);
        if (buffer_length <= 0 || (SQLLEN)n >= buffer_length) return false;
        memcpy(out, s, n);
        out[n] = 0;
        run_put_length(ind, len, (SQLLEN)n);
        return true;
    }
    case K_WTEXT: {
        // ASCII only: each byte is its own UTF-16 unit.
        size_t n;
        const unsigned char *s = (const unsigned char *)col.bytes(r, &n);
        if (buffer_length <= 0 || (SQLLEN)(2 * n) + 2 > buffer_length) return false;
        unsigned char high = 0;
        for (size_t i = 0; i < n; i++) high |= s[i];
        if (high & 0x80) return false;
        for (size_t i = 0; i < n; i++) {
            uint16_t u = s[i];
            memcpy(out + 2 * i, &u, 2);
        }
        memset(out + 2 * n, 0, 2);
        run_put_length(ind, len, (SQLLEN)(2 * n));
        return true;
    }
    case K_DATE:
    case K_DATE_TIMESTAMP: {
        size_t n;
        const char *s = col.bytes(r, &n);
        SQL_DATE_STRUCT d;
        if (n != 10 || !spark_date(s, n, &d)) return false;
        if (kernel == K_DATE) {
            memcpy(out, &d, sizeof d);
            run_put_length(ind, len, (SQLLEN)sizeof d);
        } else {
            SQL_TIMESTAMP_STRUCT ts = {d.year, d.month, d.day, 0, 0, 0, 0};
            memcpy(out, &ts, sizeof ts);
            run_put_length(ind, len, (SQLLEN)sizeof ts);
        }
        return true;
    }
    case K_TIMESTAMP: {
        size_t n;
        const char *s = col.bytes(r, &n);
        SQL_TIMESTAMP_STRUCT ts;
        if (!spark_timestamp(s, n, &ts)) return false;
        memcpy(out, &ts, sizeof ts);
        run_put_length(ind, len, (SQLLEN)sizeof ts);
        return true;
    }
    case K_GENERIC: break;
    }
    return false;
}

int resolve_c_type(int c_type, const SpkField *record) {
    if (c_type == SQL_ARD_TYPE) c_type = SQL_C_DEFAULT;
    if (c_type == SQL_C_DEFAULT) c_type = spk_data_default_c_type(record->concise_type, record->is_unsigned);
    return c_type;
}

}  // namespace

bool spk_convert_fast(const SpkBatchColumn &col, size_t row, SpkField *record, int c_type, void *target,
                      SQLLEN buffer_length, SQLLEN *indicator, SpkGetDataPlan *plan) {
    if (!record || record->data_done || record->data_offset != 0) return false;
    if (plan->c_type != c_type || plan->kind != col.kind || plan->sql_type != record->concise_type) {
        plan->c_type = c_type;
        plan->kind = col.kind;
        plan->sql_type = record->concise_type;
        plan->kernel = K_GENERIC;
        if (c_type == SQL_ARD_TYPE) return false;
        const Target t = target_of(resolve_c_type(c_type, record));
        const Group g = group_of(record->concise_type);
        if (t == T_NONE || g == G_OTHER) return false;
        plan->kernel = run_kernel(col, g, t);
        plan->target = t;
    }
    if (plan->kernel == K_GENERIC) return false;
    if (row >= col.count || col.is_null(row)) {
        if (!indicator) return false;
        *indicator = SQL_NULL_DATA;
    } else {
        if (!target) return false;
        if (!fast_value((RunKernel)plan->kernel, col, row, int_range((Target)plan->target), (char *)target,
                        buffer_length, indicator, nullptr))
            return false;
    }
    record->data_done = 1;
    return true;
}

size_t spk_convert_run(int column_number, const SpkBatchColumn &col, size_t first, size_t count,
                       const SpkField *record, const SpkField *app, int c_type, const SpkRunTarget &to) {
    if (!record) return 0;
    c_type = resolve_c_type(c_type, record);
    const Target t = target_of(c_type);
    const Group g = group_of(record->concise_type);
    if (t == T_NONE || g == G_OTHER) return 0;
    const RunKernel kernel = to.data ? run_kernel(col, g, t) : K_GENERIC;
    const IntRange *range = int_range(t);
    SQLLEN *length_of_indicator = to.length == to.indicator ? nullptr : to.length;
    SpkField scratch = *record;
    for (size_t k = 0; k < count; k++) {
        const size_t r = first + k;
        char *out = to.data ? to.data + k * to.data_step : nullptr;
        SQLLEN *ind = to.indicator ? (SQLLEN *)((char *)to.indicator + k * to.length_step) : nullptr;
        SQLLEN *len = length_of_indicator ? (SQLLEN *)((char *)length_of_indicator + k * to.length_step) : nullptr;
        if (r >= col.count || col.is_null(r)) {
            if (!ind) return k;
            *ind = SQL_NULL_DATA;
            if (len) *len = 0;
            continue;
        }
        if (fast_value(kernel, col, r, range, out, to.buffer_length, ind, len)) continue;
        // Any other value, or one the loops above leave alone: the general
        // conversion, on a copy of the record's piece state.
        SpkValue v;
        spk_batch_value(col, r, &v);
        scratch.data_done = 0;
        scratch.data_offset = 0;
        if (convert_value(nullptr, column_number, &v, &scratch, c_type, out, to.buffer_length, ind, len, app) !=
            SQL_SUCCESS)
            return k;
    }
    return count;
}
