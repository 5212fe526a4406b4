// Counted UTF-16 strings, the UTF-8 routines and the string builder.  This
// file stands alone (no diagnostics, no handles) so that the setup library
// can use it too; the writers into application buffers live in spk_err.cpp.
#include "spk_string.h"

#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

const uint32_t REPLACEMENT = 0xFFFD;

bool is_high_surrogate(uint32_t u) { return u >= 0xD800 && u <= 0xDBFF; }
bool is_low_surrogate(uint32_t u) { return u >= 0xDC00 && u <= 0xDFFF; }

SpkString *new_string() {
    SpkString *s = static_cast<SpkString *>(malloc(sizeof(SpkString)));
    if (s) {
        s->units = nullptr;
        s->length = 0;
        s->borrowed = 0;
    }
    return s;
}

spk_unit *alloc_units(size_t n) {
    if (n == 0 || n > UINT32_MAX || n > SIZE_MAX / sizeof(spk_unit)) return nullptr;
    return static_cast<spk_unit *>(malloc(n * sizeof(spk_unit)));
}

// The code point starting at units[i] (a surrogate pair counts as one) and
// the number of units it takes.  A lone surrogate stands for itself.
uint32_t next_code_point(const spk_unit *units, size_t length, size_t i, int *taken) {
    uint32_t u = units[i];
    if (is_high_surrogate(u) && i + 1 < length && is_low_surrogate(units[i + 1])) {
        *taken = 2;
        return 0x10000 + ((u - 0xD800) << 10) + (units[i + 1] - 0xDC00);
    }
    *taken = 1;
    return u;
}

// Bytes that spk_utf8_encode_unit writes for a code point.
int utf8_size(uint32_t cp) {
    if (cp < 0x80) return 1;
    if (cp < 0x800) return 2;
    if (cp < 0x10000) return 3;   // lone surrogates become U+FFFD: also 3
    if (cp <= 0x10FFFF) return 4;
    return 3;                     // U+FFFD
}

// Number of units that `n` bytes of UTF-8 decode into (n < 0: up to the NUL).
size_t utf8_unit_count(const unsigned char *p, size_t n) {
    size_t count = 0;
    size_t i = 0;
    while (i < n) {
        int used;
        uint32_t cp = spk_utf8_decode(p + i, n - i, &used);
        count += cp >= 0x10000 ? 2 : 1;
        i += (size_t)used;
    }
    return count;
}

size_t utf8_decode_into(const unsigned char *p, size_t n, spk_unit *out) {
    size_t k = 0;
    size_t i = 0;
    while (i < n) {
        int used;
        uint32_t cp = spk_utf8_decode(p + i, n - i, &used);
        if (cp >= 0x10000) {
            cp -= 0x10000;
            out[k++] = (spk_unit)(0xD800 + (cp >> 10));
            out[k++] = (spk_unit)(0xDC00 + (cp & 0x3FF));
        } else {
            out[k++] = (spk_unit)cp;
        }
        i += (size_t)used;
    }
    return k;
}

}  // namespace

// ---------------------------------------------------------------------------
// The string object

SpkString *spk_str_alloc(size_t n) {
    SpkString *s = new_string();
    if (!s || n == 0) return s;
    s->units = alloc_units(n);
    if (!s->units) {
        free(s);
        return nullptr;
    }
    s->length = (uint32_t)n;
    return s;
}

SpkString *spk_str_adopt(spk_unit *units, size_t n) {
    if (n > UINT32_MAX) return nullptr;
    SpkString *s = new_string();
    if (!s) return nullptr;
    if (n == 0 || !units) {
        free(units);   // ours now, and an empty string keeps no units
        return s;
    }
    s->units = units;
    s->length = (uint32_t)n;
    return s;
}

void spk_str_free(SpkString *s) {
    if (!s) return;
    if (!s->borrowed) free(s->units);
    free(s);
}

int spk_str_length(const SpkString *s) {
    if (!s || !s->units) return 0;
    return (int)s->length;
}

int spk_str_bytes(const SpkString *s) { return spk_str_length(s) * 2; }

spk_unit *spk_str_units(const SpkString *s) { return s ? s->units : nullptr; }

bool spk_text_length_ok(long n) { return n >= 0 || n == SQL_NTS; }

SpkString *spk_str_from_latin1_n(const char *bytes, size_t n) {
    if (!bytes || n == 0) return spk_str_alloc(0);
    SpkString *s = spk_str_alloc(n);
    if (!s) return nullptr;
    for (size_t i = 0; i < n; i++) s->units[i] = (unsigned char)bytes[i];
    return s;
}

SpkString *spk_str_from_latin1(const char *bytes) {
    return spk_str_from_latin1_n(bytes, bytes ? strlen(bytes) : 0);
}

SpkString *spk_str_from_wide(const spk_unit *units, long n) {
    if (!units || !spk_text_length_ok(n)) return nullptr;
    size_t len = n == SQL_NTS ? spk_wide_length(units) : (size_t)n;
    SpkString *s = spk_str_alloc(len);
    if (s && len) memcpy(s->units, units, len * sizeof(spk_unit));
    return s;
}

SpkString *spk_str_wrap_wide(spk_unit *units, long n) {
    if (!units || !spk_text_length_ok(n)) return nullptr;
    size_t len = n == SQL_NTS ? spk_wide_length(units) : (size_t)n;
    if (len > UINT32_MAX) return nullptr;
    SpkString *s = new_string();
    if (!s || len == 0) return s;
    s->units = units;
    s->length = (uint32_t)len;
    s->borrowed = 1;
    return s;
}

SpkString *spk_str_from_utf8(const char *bytes, long n) {
    if (!bytes || !spk_text_length_ok(n)) return nullptr;
    const unsigned char *p = reinterpret_cast<const unsigned char *>(bytes);
    size_t len = n == SQL_NTS ? strlen(bytes) : (size_t)n;
    size_t units = utf8_unit_count(p, len);
    SpkString *s = spk_str_alloc(units);
    if (s && units) utf8_decode_into(p, len, s->units);
    return s;
}

SpkString *spk_str_from_text(const void *p, long n, int is_utf8) {
    if (is_utf8) return spk_str_from_utf8(static_cast<const char *>(p), n);
    return spk_str_from_wide(static_cast<const spk_unit *>(p), n);
}

SpkString *spk_str_copy(const SpkString *s) {
    if (!s) return nullptr;
    size_t len = (size_t)spk_str_length(s);
    SpkString *c = spk_str_alloc(len);
    if (c && len) memcpy(c->units, s->units, len * sizeof(spk_unit));
    return c;
}

SpkString *spk_str_sub(const SpkString *s, long start, long len) {
    if (!s) return nullptr;
    long total = spk_str_length(s);
    if (start < 0) start = 0;
    if (start > total) start = total;
    long rest = total - start;
    if (len < 0 || len > rest) len = rest;
    SpkString *c = spk_str_alloc((size_t)len);
    if (c && len) memcpy(c->units, s->units + start, (size_t)len * sizeof(spk_unit));
    return c;
}

int spk_str_append(SpkString *a, const SpkString *b) {
    if (!a) return -1;
    size_t la = (size_t)spk_str_length(a);
    size_t lb = (size_t)spk_str_length(b);
    if (lb == 0) return 0;
    if (la + lb > UINT32_MAX) return -1;
    spk_unit *units = alloc_units(la + lb);
    if (!units) return -1;
    if (la) memcpy(units, a->units, la * sizeof(spk_unit));
    memcpy(units + la, b->units, lb * sizeof(spk_unit));
    if (!a->borrowed) free(a->units);
    a->units = units;
    a->length = (uint32_t)(la + lb);
    a->borrowed = 0;
    return 0;
}

char *spk_str_to_latin1(const SpkString *s) {
    if (!s) return nullptr;
    size_t len = (size_t)spk_str_length(s);
    char *out = static_cast<char *>(malloc(len + 1));
    if (!out) return nullptr;
    for (size_t i = 0; i < len; i++) out[i] = (char)(s->units[i] & 0xFF);
    out[len] = 0;
    return out;
}

size_t spk_str_utf8_length(const SpkString *s) {
    size_t len = (size_t)spk_str_length(s);
    size_t bytes = 0;
    for (size_t i = 0; i < len;) {
        int taken;
        bytes += (size_t)utf8_size(next_code_point(s->units, len, i, &taken));
        i += (size_t)taken;
    }
    return bytes;
}

char *spk_str_to_utf8_n(const SpkString *s, size_t *out_len) {
    if (out_len) *out_len = 0;
    if (!s) return nullptr;
    size_t bytes = spk_str_utf8_length(s);
    char *out = static_cast<char *>(malloc(bytes + 1));
    if (!out) return nullptr;
    size_t len = (size_t)spk_str_length(s);
    size_t k = 0;
    for (size_t i = 0; i < len;) {
        int taken;
        k += (size_t)spk_utf8_encode_unit(next_code_point(s->units, len, i, &taken), out + k);
        i += (size_t)taken;
    }
    out[k] = 0;
    if (out_len) *out_len = k;
    return out;
}

char *spk_str_to_utf8(const SpkString *s) { return spk_str_to_utf8_n(s, nullptr); }

size_t spk_str_utf8_prefix(const SpkString *s, char *out, size_t cap) {
    size_t len = (size_t)spk_str_length(s);
    size_t k = 0;
    for (size_t i = 0; i < len;) {
        int taken;
        uint32_t cp = next_code_point(s->units, len, i, &taken);
        if (k + (size_t)utf8_size(cp) > cap) break;
        k += (size_t)spk_utf8_encode_unit(cp, out + k);
        i += (size_t)taken;
    }
    return k;
}

// ---------------------------------------------------------------------------
// Brace-aware scanning (connection strings: a value in {} may hold ; and =)

long spk_str_find_unbraced(long start, const SpkString *s, spk_unit ch, int *failed) {
    long len = spk_str_length(s);
    if (failed) *failed = 0;
    if (start < 0 || start > len) {
        if (failed) *failed = 1;
        return 0;
    }
    long depth = 0;
    for (long i = start; i < len; i++) {
        spk_unit u = s->units[i];
        if (u == '{') {
            depth++;
        } else if (u == '}') {
            // A stray closing brace outside any braces is an ordinary
            // character; it must not hide the separators after it.
            if (depth > 0) depth--;
        } else if (depth == 0 && u == ch) {
            return i;
        }
    }
    return len;
}

void spk_str_split_unbraced(const SpkString *s, spk_unit ch, SpkString **head, SpkString **tail) {
    *head = nullptr;
    *tail = nullptr;
    if (!s) return;
    long len = spk_str_length(s);
    long pos = spk_str_find_unbraced(0, s, ch);
    *head = spk_str_sub(s, 0, pos);
    *tail = spk_str_sub(s, pos < len ? pos + 1 : len, -1);
    if (!*head || !*tail) {
        spk_str_free(*head);
        spk_str_free(*tail);
        *head = nullptr;
        *tail = nullptr;
    }
}

static int upper_byte(int c) { return (c >= 'a' && c <= 'z') ? c - 'a' + 'A' : c; }

int spk_str_compare_nocase(const SpkString *s, const char *b) {
    long len = spk_str_length(s);
    if (!b) b = "";
    long i = 0;
    for (; i < len && b[i]; i++) {
        int x = upper_byte(s->units[i] & 0xFF);
        int y = upper_byte((unsigned char)b[i]);
        if (x != y) return x > y ? 1 : -1;
    }
    if (i == len) return b[i] ? -1 : 0;
    return 1;
}

size_t spk_wide_length(const spk_unit *units) {
    if (!units) return 0;
    size_t n = 0;
    while (units[n]) n++;
    return n;
}

size_t spk_wide_length_bounded(const spk_unit *units, size_t max_units, size_t max_bytes) {
    if (!units) return 0;
    size_t limit = max_units < max_bytes / 2 ? max_units : max_bytes / 2;
    size_t n = 0;
    while (n < limit && units[n]) n++;
    return n;
}

size_t spk_narrow_length_bounded(const char *bytes, size_t a, size_t b) {
    if (!bytes) return 0;
    if (a == 0) a = b;
    if (b == 0) b = a;
    size_t limit = a > b ? a : b;
    size_t n = 0;
    while (n < limit && bytes[n]) n++;
    return n;
}

// ---------------------------------------------------------------------------
// UTF-8

int spk_utf8_encode_unit(uint32_t cp, char *out) {
    unsigned char *o = reinterpret_cast<unsigned char *>(out);
    // A surrogate that did not pair up is not a character; UTF-8 has no
    // valid form for it.
    if ((cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF) cp = REPLACEMENT;
    if (cp < 0x80) {
        o[0] = (unsigned char)cp;
        return 1;
    }
    if (cp < 0x800) {
        o[0] = (unsigned char)(0xC0 | (cp >> 6));
        o[1] = (unsigned char)(0x80 | (cp & 0x3F));
        return 2;
    }
    if (cp < 0x10000) {
        o[0] = (unsigned char)(0xE0 | (cp >> 12));
        o[1] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
        o[2] = (unsigned char)(0x80 | (cp & 0x3F));
        return 3;
    }
    o[0] = (unsigned char)(0xF0 | (cp >> 18));
    o[1] = (unsigned char)(0x80 | ((cp >> 12) & 0x3F));
    o[2] = (unsigned char)(0x80 | ((cp >> 6) & 0x3F));
    o[3] = (unsigned char)(0x80 | (cp & 0x3F));
    return 4;
}

int spk_utf8_sequence_length(unsigned char lead) {
    if (lead < 0x80) return 1;
    if ((lead & 0xE0) == 0xC0) return 2;
    if ((lead & 0xF0) == 0xE0) return 3;
    if (lead >= 0xF0) return 4;
    return 1;
}

// One character from at most `avail` bytes.  Anything that is not a complete,
// shortest-form encoding of a Unicode scalar value (stray continuation byte,
// missing continuation byte, a sequence cut off by the end of the text,
// overlong form, encoded surrogate, value above U+10FFFF) gives U+FFFD and
// consumes one byte, so decoding resynchronises on the next byte.
uint32_t spk_utf8_decode(const unsigned char *p, size_t avail, int *consumed) {
    *consumed = 1;
    if (avail == 0) return REPLACEMENT;
    unsigned char lead = p[0];
    if (lead < 0x80) return lead;
    int n;
    uint32_t cp, min;
    if ((lead & 0xE0) == 0xC0) {
        n = 2, cp = lead & 0x1F, min = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        n = 3, cp = lead & 0x0F, min = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        n = 4, cp = lead & 0x07, min = 0x10000;
    } else {
        return REPLACEMENT;
    }
    if ((size_t)n > avail) return REPLACEMENT;
    for (int i = 1; i < n; i++) {
        if ((p[i] & 0xC0) != 0x80) return REPLACEMENT;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return REPLACEMENT;
    *consumed = n;
    return cp;
}

// ---------------------------------------------------------------------------
// The string builder

namespace {

struct Builder {
    spk_unit *units;
    size_t length;
    size_t capacity;
    bool failed;
};

const size_t FORMAT_STEP = 1024;

bool reserve(Builder *b, size_t extra) {
    if (b->failed) return false;
    if (b->length + extra <= b->capacity) return true;
    size_t need = b->length + extra;
    size_t cap = b->capacity;
    while (cap < need) cap += FORMAT_STEP;
    if (cap > UINT32_MAX) {
        b->failed = true;
        return false;
    }
    spk_unit *grown = static_cast<spk_unit *>(realloc(b->units, cap * sizeof(spk_unit)));
    if (!grown) {
        b->failed = true;
        return false;
    }
    b->units = grown;
    b->capacity = cap;
    return true;
}

void put(Builder *b, spk_unit u) {
    if (reserve(b, 1)) b->units[b->length++] = u;
}

void put_ascii(Builder *b, const char *text) {
    while (*text) put(b, (unsigned char)*text++);
}

}  // namespace

SpkString *spk_format(const char *format, ...) {
    Builder b = {nullptr, 0, 0, false};
    b.units = alloc_units(FORMAT_STEP);
    if (!b.units) return nullptr;
    b.capacity = FORMAT_STEP;

    va_list ap;
    va_start(ap, format);
    for (const char *f = format ? format : ""; *f && !b.failed; f++) {
        if (*f != '%') {
            put(&b, (unsigned char)*f);
            continue;
        }
        char conv = *++f;
        if (!conv) break;
        switch (conv) {
        case 'S': {
            const SpkString *s = va_arg(ap, const SpkString *);
            if (!s) {
                put_ascii(&b, "(nul)");
                break;
            }
            size_t len = (size_t)spk_str_length(s);
            if (len && reserve(&b, len)) {
                memcpy(b.units + b.length, s->units, len * sizeof(spk_unit));
                b.length += len;
            }
            break;
        }
        case 's': {
            const char *s = va_arg(ap, const char *);
            if (s) put_ascii(&b, s);
            break;
        }
        case 'u': {
            // Text for the inside of a quoted SQL literal: quote, backslash
            // and line breaks are escaped by character value (an overlong
            // encoding never decodes to one of them, see spk_utf8_decode).
            const unsigned char *p = va_arg(ap, const unsigned char *);
            if (!p) break;
            size_t n = strlen(reinterpret_cast<const char *>(p));
            for (size_t i = 0; i < n;) {
                int used;
                uint32_t cp = spk_utf8_decode(p + i, n - i, &used);
                i += (size_t)used;
                switch (cp) {
                case '\'': put_ascii(&b, "\\'"); break;
                case '\\': put_ascii(&b, "\\\\"); break;
                case '\n': put_ascii(&b, "\\n"); break;
                case '\r': put_ascii(&b, "\\r"); break;
                default:
                    if (cp >= 0x10000) {
                        cp -= 0x10000;
                        put(&b, (spk_unit)(0xD800 + (cp >> 10)));
                        put(&b, (spk_unit)(0xDC00 + (cp & 0x3FF)));
                    } else {
                        put(&b, (spk_unit)cp);
                    }
                }
            }
            break;
        }
        case 'd': {
            char digits[16];
            snprintf(digits, sizeof digits, "%d", va_arg(ap, int));
            put_ascii(&b, digits);
            break;
        }
        default:
            fprintf(stderr, "tarndrv: internal error, unhandled format '%c'\n", conv);
            break;
        }
    }
    va_end(ap);

    if (b.failed) {
        free(b.units);
        return nullptr;
    }
    SpkString *s = new_string();
    if (!s) {
        free(b.units);
        return nullptr;
    }
    if (b.length == 0) {
        free(b.units);
    } else {
        s->units = b.units;
        s->length = (uint32_t)b.length;
    }
    return s;
}
