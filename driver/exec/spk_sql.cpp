// SQL text processing: the statement scanner and the derived parameter query.
#include "spk_sql.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "core/spk_err.h"
#include "core/spk_log.h"
#include "spk_escape.h"

namespace {

// ---------------------------------------------------------------------------
// Character classes (ASCII only; everything at or above U+0080 is a letter
// of some identifier, never punctuation, white space or a keyword letter).

bool is_ws(spk_unit c) {
    return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\v' || c == '\f';
}
bool is_bom(spk_unit c) {
    return c == 0xFEFF || c == 0xFFFE;
}
bool is_letter(spk_unit c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}
bool is_digit(spk_unit c) {
    return c >= '0' && c <= '9';
}
// A character that continues an unquoted word.
bool is_ident(spk_unit c) {
    return is_letter(c) || is_digit(c) || c == '_' || c >= 0x80;
}
spk_unit lower(spk_unit c) {
    return (c >= 'A' && c <= 'Z') ? (spk_unit)(c + 32) : c;
}
// A word may be a keyword only when the character before it ends a token:
// not a qualifier dot and not a variable or named-parameter sigil.
bool keyword_may_follow(spk_unit c) {
    return !is_ident(c) && c != '.' && c != ':' && c != '@' && c != '$';
}
bool keyword_may_precede(spk_unit c) {
    return !is_ident(c) && c != '.';
}

// Case-insensitive comparison of u[a, b) with an ASCII lower-case word.
bool word_is(const spk_unit *u, size_t a, size_t b, const char *word) {
    size_t n = strlen(word);
    if (b - a != n) return false;
    for (size_t k = 0; k < n; k++) {
        if (lower(u[a + k]) != (spk_unit)word[k]) return false;
    }
    return true;
}

size_t word_end(const spk_unit *u, size_t n, size_t i) {
    while (i < n && is_ident(u[i])) i++;
    return i;
}

// ---------------------------------------------------------------------------
// Skipping quoted text and comments over u[i, n).  Each returns the index
// just past the construct, or n when it does not end.

// A string literal starting at u[i], a single or double quote (in Spark both
// quote strings).  Backslash escapes are honoured unless the literal is raw
// (r'...'); a doubled quote stands for itself.
size_t skip_literal(const spk_unit *u, size_t n, size_t i, bool raw, bool *closed = nullptr) {
    if (closed) *closed = false;
    spk_unit q = u[i++];
    while (i < n) {
        spk_unit c = u[i];
        if (c == '\\' && !raw) {
            i += 2;
            continue;
        }
        if (c == q) {
            if (i + 1 < n && u[i + 1] == q) {
                i += 2;
                continue;
            }
            if (closed) *closed = true;
            return i + 1;
        }
        i++;
    }
    return n;
}

// A quoted identifier starting at u[i] (a backtick); a doubled quote stands
// for itself.
size_t skip_identifier(const spk_unit *u, size_t n, size_t i) {
    spk_unit q = u[i++];
    while (i < n) {
        if (u[i] == q) {
            if (i + 1 < n && u[i + 1] == q) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        i++;
    }
    return n;
}

// A block comment starting at u[i] == '/', u[i + 1] == '*'; comments nest.
// Sets *closed to whether the comment ends.
size_t skip_block_comment(const spk_unit *u, size_t n, size_t i, bool *closed) {
    int depth = 0;
    while (i < n) {
        if (u[i] == '/' && i + 1 < n && u[i + 1] == '*') {
            depth++;
            i += 2;
        } else if (u[i] == '*' && i + 1 < n && u[i + 1] == '/') {
            i += 2;
            if (--depth == 0) {
                *closed = true;
                return i;
            }
        } else {
            i++;
        }
    }
    *closed = false;
    return n;
}

// A line comment starting at "--": up to (not including) the next CR or LF.
size_t skip_line_comment(const spk_unit *u, size_t n, size_t i) {
    while (i < n && u[i] != '\r' && u[i] != '\n') i++;
    return i;
}

// Is the quote at u[i] the start of a raw literal r'...' (an r that is a
// word of its own just before it)?  `lo` is where the text starts.
bool raw_prefix(const spk_unit *u, size_t i, size_t lo) {
    if (i < lo + 1 || (u[i - 1] != 'r' && u[i - 1] != 'R')) return false;
    return i < lo + 2 || !is_ident(u[i - 2]);
}

// Skips white space, byte-order marks and comments (and, if asked, opening
// parentheses) from u[i].
size_t skip_trivia(const spk_unit *u, size_t n, size_t i, bool parens) {
    while (i < n) {
        spk_unit c = u[i];
        if (is_ws(c) || is_bom(c) || (parens && c == '(')) {
            i++;
        } else if (c == '-' && i + 1 < n && u[i + 1] == '-') {
            i = skip_line_comment(u, n, i);
        } else if (c == '/' && i + 1 < n && u[i + 1] == '*') {
            bool closed;
            i = skip_block_comment(u, n, i, &closed);
        } else {
            break;
        }
    }
    return i;
}

// ---------------------------------------------------------------------------
// A growable buffer of units with one flag byte per unit.

enum : uint8_t {
    F_CODE = 1,   // unquoted, uncommented text
    F_TOP = 2,    // ... at parenthesis and brace depth 0
    F_MARK = 4,   // a parameter marker
};

struct Buf {
    spk_unit *u = nullptr;
    uint8_t *f = nullptr;
    size_t len = 0;
    size_t cap = 0;
    bool failed = false;

    ~Buf() {
        free(u);
        free(f);
    }
    bool reserve(size_t want) {
        if (failed) return false;
        if (want <= cap) return true;
        size_t c = cap ? cap : 64;
        while (c < want) c *= 2;
        spk_unit *nu = (spk_unit *)realloc(u, c * sizeof(spk_unit));
        if (!nu) {
            failed = true;
            return false;
        }
        u = nu;
        uint8_t *nf = (uint8_t *)realloc(f, c);
        if (!nf) {
            failed = true;
            return false;
        }
        f = nf;
        cap = c;
        return true;
    }
    void push(spk_unit c, uint8_t flag = 0) {
        if (!reserve(len + 1)) return;
        u[len] = c;
        f[len] = flag;
        len++;
    }
    void push_units(const spk_unit *s, size_t n, uint8_t flag = 0) {
        if (!reserve(len + n)) return;
        memcpy(u + len, s, n * sizeof(spk_unit));
        memset(f + len, flag, n);
        len += n;
    }
    void push_ascii(const char *s, uint8_t flag = 0) {
        while (*s) push((spk_unit)(unsigned char)*s++, flag);
    }
    // Copies src[a, b) with its flags.
    void push_copy(const Buf &src, size_t a, size_t b) {
        if (!reserve(len + (b - a))) return;
        memcpy(u + len, src.u + a, (b - a) * sizeof(spk_unit));
        memcpy(f + len, src.f + a, b - a);
        len += b - a;
    }
    spk_unit last() const {
        return len ? u[len - 1] : 0;
    }
    SpkString *to_string() const {
        if (failed) return nullptr;
        SpkString *s = spk_str_alloc(len);
        if (s && len) memcpy(s->units, u, len * sizeof(spk_unit));
        return s;
    }
};

// ---------------------------------------------------------------------------
// The scan

const char *const KEYWORDS[] = {"where", "from", "into", "set", "group", "having", "order", "values", "limit"};
enum { KW_WHERE, KW_FROM, KW_INTO, KW_SET, KW_GROUP, KW_HAVING, KW_ORDER, KW_VALUES, KW_LIMIT, KW_COUNT };

int32_t *keyword_slot(SpkSqlScan *s, int k) {
    switch (k) {
    case KW_WHERE: return &s->where_offset;
    case KW_FROM: return &s->from_offset;
    case KW_INTO: return &s->into_offset;
    case KW_SET: return &s->set_offset;
    case KW_GROUP: return &s->group_offset;
    case KW_HAVING: return &s->having_offset;
    case KW_ORDER: return &s->order_offset;
    case KW_VALUES: return &s->values_offset;
    default: return &s->limit_offset;
    }
}

// Finds the first top-level occurrence of each clause keyword in the output.
void find_keywords(const Buf &out, SpkSqlScan *scan) {
    bool found[KW_COUNT] = {};
    size_t i = 0;
    while (i < out.len) {
        spk_unit c = out.u[i];
        if (!is_ident(c) || !(out.f[i] & F_CODE)) {
            i++;
            continue;
        }
        size_t j = word_end(out.u, out.len, i);
        bool top = true;
        for (size_t k = i; k < j; k++) {
            if ((out.f[k] & (F_CODE | F_TOP)) != (F_CODE | F_TOP)) top = false;
        }
        if (top && is_letter(c) && (i == 0 || keyword_may_follow(out.u[i - 1])) &&
            (j == out.len || keyword_may_precede(out.u[j]))) {
            for (int k = 0; k < KW_COUNT; k++) {
                if (!found[k] && word_is(out.u, i, j, KEYWORDS[k])) {
                    found[k] = true;
                    *keyword_slot(scan, k) = (int32_t)i - 1;
                }
            }
        }
        i = j;
    }
}

// The number after a top-level LIMIT, or -1.
int64_t limit_value(const Buf &out, int32_t limit_offset) {
    if (limit_offset < 0) return -1;
    size_t i = (size_t)(limit_offset + 1) + 5;
    while (i < out.len && is_ws(out.u[i])) i++;
    if (i >= out.len || !is_digit(out.u[i])) return -1;
    int64_t v = 0;
    while (i < out.len && is_digit(out.u[i])) {
        int d = out.u[i] - '0';
        if (v > (INT64_MAX - d) / 10) return -1;
        v = v * 10 + d;
        i++;
    }
    if (i < out.len && is_ident(out.u[i])) return -1;
    return v;
}

// ---------------------------------------------------------------------------
// ODBC escapes.  Each escape is rewritten when its closing brace arrives, so
// an inner escape is already Spark SQL when the outer one is read.  Only
// units flagged F_CODE (outside literals and comments) are structure.

struct Range {
    size_t a, b;
};

bool code_at(const Buf &out, size_t i, spk_unit c) {
    return out.u[i] == c && (out.f[i] & F_CODE);
}

size_t skip_ws_in(const Buf &out, size_t i, size_t e) {
    while (i < e && is_ws(out.u[i])) i++;
    return i;
}

Range trim(const Buf &out, size_t a, size_t b) {
    while (a < b && is_ws(out.u[a])) a++;
    while (b > a && is_ws(out.u[b - 1])) b--;
    return {a, b};
}

enum { MAX_ARGS = 8 };

// The arguments of a call whose '(' is at out[p] and that must end just
// before position e (trailing blanks allowed).  Returns the argument count,
// or -1 when the text is not such a call.
int split_args(const Buf &out, size_t p, size_t e, Range *args) {
    int depth = 0;
    size_t start = p + 1;
    int count = 0;
    for (size_t i = p; i < e; i++) {
        if (!(out.f[i] & F_CODE)) continue;
        spk_unit c = out.u[i];
        if (c == '(' || c == '[') {
            depth++;
        } else if (c == ')' || c == ']') {
            if (--depth == 0) {
                if (c != ')' || skip_ws_in(out, i + 1, e) != e) return -1;
                Range r = trim(out, start, i);
                if (count == 0 && r.a == r.b) return 0;
                if (count == MAX_ARGS || r.a == r.b) return -1;
                args[count++] = r;
                return count;
            }
        } else if (c == ',' && depth == 1) {
            Range r = trim(out, start, i);
            if (count == MAX_ARGS || r.a == r.b) return -1;
            args[count++] = r;
            start = i + 1;
        }
    }
    return -1;
}

// Writes a function template (see spk_escape.h) with its arguments.
bool expand(Buf &rep, const Buf &out, const char *t, const Range *args, int nargs) {
    for (; *t; t++) {
        if (*t != '$') {
            rep.push((spk_unit)*t, F_CODE);
            continue;
        }
        t++;
        if (*t == '*') {
            for (int k = 0; k < nargs; k++) {
                if (k) rep.push_ascii(", ", F_CODE);
                rep.push_copy(out, args[k].a, args[k].b);
            }
            continue;
        }
        char kind = 0;
        if (*t == 'T' || *t == 'I') kind = *t++;
        int k = *t - '1';
        if (k < 0 || k >= nargs) return false;
        if (!kind) {
            rep.push_copy(out, args[k].a, args[k].b);
            continue;
        }
        const spk_unit *w = out.u + args[k].a;
        size_t n = args[k].b - args[k].a;
        const char *spark = kind == 'T' ? spk_convert_type(w, n) : spk_interval_unit(w, n);
        if (!spark) return false;
        rep.push_ascii(spark, F_CODE);
    }
    return !rep.failed;
}

// {fn name(args)} from out[p] (the function name) to the '}' at e.
bool translate_fn(Buf &rep, const Buf &out, size_t p, size_t e) {
    size_t q = word_end(out.u, e, p);
    if (q == p) return false;
    size_t open = skip_ws_in(out, q, e);
    Range args[MAX_ARGS];
    int nargs = 0;
    if (open < e) {
        if (!code_at(out, open, '(')) return false;
        nargs = split_args(out, open, e, args);
        if (nargs < 0) return false;
    }
    const SpkFnEscape *f = spk_fn_escape_find(out.u + p, q - p);
    if (!f) {
        // A function ODBC does not define: Spark's own, called as written.
        rep.push_copy(out, p, q);
        if (open < e) rep.push_copy(out, open, trim(out, open, e).b);
        return !rep.failed;
    }
    if (nargs < f->min_args || nargs > f->max_args) return false;
    return expand(rep, out, f->spark, args, nargs);
}

// {d '...'}, {t '...'}, {ts '...'}: the keyword and one literal.
bool translate_datetime(Buf &rep, const Buf &out, const char *kw, size_t p, size_t e) {
    p = skip_ws_in(out, p, e);
    if (p >= e || out.u[p] != '\'') return false;
    bool closed;
    size_t lit_end = skip_literal(out.u, e, p, false, &closed);
    if (!closed || skip_ws_in(out, lit_end, e) != e) return false;
    rep.push_ascii(kw, F_CODE);
    rep.push_copy(out, p, lit_end);
    return !rep.failed;
}

// Rewrites the escape that runs from the '{' at out[s] to the '}' that ends
// the output.  An escape that is not understood stays as written.
void rewrite_escape(Buf &out, size_t s) {
    size_t e = out.len - 1;
    size_t p = skip_ws_in(out, s + 1, e);
    size_t q = p;
    while (q < e && is_letter(out.u[q])) q++;
    Buf rep;
    bool done = false;
    if (q > p && q < e && !is_ws(out.u[q]) && out.u[q] != '\'') return;
    if (word_is(out.u, p, q, "d")) {
        done = translate_datetime(rep, out, "DATE ", q, e);
    } else if (word_is(out.u, p, q, "t")) {
        done = translate_datetime(rep, out, "TIME ", q, e);
    } else if (word_is(out.u, p, q, "ts")) {
        done = translate_datetime(rep, out, "TIMESTAMP ", q, e);
    } else if (word_is(out.u, p, q, "fn")) {
        done = translate_fn(rep, out, skip_ws_in(out, q, e), e);
    } else if (word_is(out.u, p, q, "oj")) {
        Range r = trim(out, q, e);
        rep.push_copy(out, r.a, r.b);
        done = r.a < r.b && !rep.failed;
    } else if (word_is(out.u, p, q, "call")) {
        Range r = trim(out, q, e);
        rep.push_ascii("CALL ", F_CODE);
        rep.push_copy(out, r.a, r.b);
        done = r.a < r.b && !rep.failed;
    }
    if (!done) {
        if (rep.failed) out.failed = true;
        return;
    }
    out.len = s;
    out.push_copy(rep, 0, rep.len);
}

// {escape 'c'} at in[i] ('{'): the LIKE escape clause, read before the
// literal rules would take a backslash as escaping the closing quote.
// Returns the index after the '}', or i when the text is not such a clause.
size_t escape_clause(Buf &out, const spk_unit *in, size_t n, size_t i) {
    size_t p = i + 1;
    while (p < n && is_ws(in[p])) p++;
    size_t q = word_end(in, n, p);
    if (!word_is(in, p, q, "escape")) return i;
    while (q < n && is_ws(in[q])) q++;
    if (q + 2 >= n || in[q] != '\'') return i;
    spk_unit c = in[q + 1];
    size_t r = q + 2;
    if (c == '\'' && r < n && in[r] == '\'') r++;   // '''' writes a quote
    if (r >= n || in[r] != '\'') return i;
    r++;
    while (r < n && is_ws(in[r])) r++;
    if (r >= n || in[r] != '}') return i;
    out.push_ascii("ESCAPE '", F_CODE);
    if (c == '\\' || c == '\'') out.push('\\');
    out.push(c);
    out.push('\'');
    return r + 1;
}

// SET answers with key/value rows (all settings, one setting, or the one it
// sets), so it is not among these.
const char *const NO_ROWS[] = {"insert", "update", "delete", "merge", "create", "drop",
                               "alter", "truncate", "use", "cache", "uncache", "refresh", "analyze",
                               "msck", "add", "reset", "grant", "revoke", "load"};

bool changes_state(const spk_unit *u, size_t a, size_t b) {
    for (const char *w : NO_ROWS) {
        if (word_is(u, a, b, w)) return true;
    }
    return false;
}

// The statement after the common table expressions of a WITH that begins at
// u[i]: the first word that follows a parenthesis closed back to depth 0,
// other than AS.
int32_t with_returns_rows(const spk_unit *u, size_t n, size_t i) {
    int depth = 0;
    bool after_close = false;
    while (i < n) {
        spk_unit c = u[i];
        if (c == '\'' || c == '"') {
            i = skip_literal(u, n, i, raw_prefix(u, i, 0));
            after_close = false;
        } else if (c == '`') {
            i = skip_identifier(u, n, i);
            after_close = false;
        } else if ((c == '-' && i + 1 < n && u[i + 1] == '-') || (c == '/' && i + 1 < n && u[i + 1] == '*') ||
                   is_ws(c) || is_bom(c)) {
            i = skip_trivia(u, n, i, false);
        } else if (c == '(') {
            depth++;
            after_close = false;
            i++;
        } else if (c == ')') {
            if (depth > 0) depth--;
            after_close = depth == 0;
            i++;
        } else if (is_ident(c)) {
            size_t j = word_end(u, n, i);
            if (after_close && depth == 0 && !word_is(u, i, j, "as")) return changes_state(u, i, j) ? 0 : 1;
            after_close = false;
            i = j;
        } else {
            after_close = false;
            i++;
        }
    }
    return 1;
}

// Whether a top-level word of u[i, n) is `word` (quotes, identifiers,
// comments and parenthesised text hide words).
bool top_level_word(const spk_unit *u, size_t n, size_t i, const char *word) {
    int depth = 0;
    while (i < n) {
        spk_unit c = u[i];
        if (c == '\'' || c == '"') {
            i = skip_literal(u, n, i, raw_prefix(u, i, 0));
        } else if (c == '`') {
            i = skip_identifier(u, n, i);
        } else if ((c == '-' && i + 1 < n && u[i + 1] == '-') || (c == '/' && i + 1 < n && u[i + 1] == '*') ||
                   is_ws(c) || is_bom(c)) {
            i = skip_trivia(u, n, i, false);
        } else if (c == '(') {
            depth++;
            i++;
        } else if (c == ')') {
            if (depth > 0) depth--;
            i++;
        } else if (is_ident(c)) {
            size_t j = word_end(u, n, i);
            if (depth == 0 && word_is(u, i, j, word)) return true;
            i = j;
        } else {
            i++;
        }
    }
    return false;
}

// Statements that only read: the words a query can begin with.
const char *const QUERY_WORDS[] = {"select", "values", "table", "show", "describe", "desc", "explain"};

}  // namespace

// ---------------------------------------------------------------------------

int32_t spk_sql_statement_end(const SpkString *text) {
    const spk_unit *u = text ? text->units : nullptr;
    size_t n = u ? text->length : 0;
    size_t end = 0;
    size_t i = 0;
    while (i < n) {
        spk_unit c = u[i];
        if (c == '\'' || c == '"') {
            i = skip_literal(u, n, i, raw_prefix(u, i, 0));
            end = i;
        } else if (c == '`') {
            i = skip_identifier(u, n, i);
            end = i;
        } else if ((c == '-' && i + 1 < n && u[i + 1] == '-') || (c == '/' && i + 1 < n && u[i + 1] == '*') ||
                   is_ws(c) || is_bom(c)) {
            i = skip_trivia(u, n, i, false);
        } else if (c == ';') {
            i++;
        } else {
            end = ++i;
        }
    }
    return (int32_t)end;
}

int32_t spk_sql_is_query(const SpkString *text) {
    const spk_unit *u = text ? text->units : nullptr;
    size_t n = u ? text->length : 0;
    size_t i = skip_trivia(u, n, 0, true);
    if (i >= n || !is_ident(u[i])) return 0;
    size_t j = word_end(u, n, i);
    if (word_is(u, i, j, "with")) return with_returns_rows(u, n, j) && !top_level_word(u, n, j, "insert");
    // FROM t SELECT ... reads; FROM t INSERT ... writes.
    if (word_is(u, i, j, "from")) return !top_level_word(u, n, j, "insert");
    for (const char *w : QUERY_WORDS)
        if (word_is(u, i, j, w)) return 1;
    return 0;
}

void spk_markers_free(SpkMarker *list) {
    while (list) {
        SpkMarker *next = list->next;
        free(list);
        list = next;
    }
}

const SpkMarker *spk_marker_by_number(const SpkMarker *list, int32_t number) {
    for (; list; list = list->next) {
        if (list->number == number) return list;
    }
    return nullptr;
}

void spk_sql_scan_init(SpkSqlScan *scan) {
    memset(scan, 0, sizeof *scan);
    scan->verb = SPK_VERB_OTHER;
    scan->verb_start = scan->verb_end = -1;
    scan->where_offset = scan->from_offset = scan->into_offset = scan->set_offset = -1;
    scan->group_offset = scan->having_offset = scan->order_offset = scan->values_offset = -1;
    scan->limit_offset = -1;
    scan->existing_limit = -1;
}

void spk_sql_scan_clear(SpkSqlScan *scan) {
    spk_markers_free(scan->markers);
    spk_sql_scan_init(scan);
}

int32_t spk_sql_verb_kind(const char *verb) {
    if (!verb) return SPK_VERB_OTHER;
    char v[4] = {};
    for (int k = 0; k < 3 && verb[k]; k++) {
        char c = verb[k];
        v[k] = (c >= 'A' && c <= 'Z') ? (char)(c + 32) : c;
    }
    if (strncmp(v, "sel", 3) == 0) return SPK_VERB_SELECT;
    if (strncmp(v, "set", 3) == 0) return SPK_VERB_SET;
    if (v[0] == 'd') return SPK_VERB_DELETE;
    if (strncmp(v, "up", 2) == 0) return SPK_VERB_UPDATE;
    if (v[0] == 'i') return SPK_VERB_INSERT;
    return SPK_VERB_OTHER;
}

int32_t spk_sql_returns_rows(const SpkString *text) {
    const spk_unit *u = text ? text->units : nullptr;
    size_t n = u ? text->length : 0;
    size_t i = skip_trivia(u, n, 0, true);
    if (i >= n) return 0;
    if (!is_ident(u[i])) return 1;
    size_t j = word_end(u, n, i);
    if (word_is(u, i, j, "with")) return with_returns_rows(u, n, j);
    if (word_is(u, i, j, "from")) return top_level_word(u, n, j, "insert") ? 0 : 1;
    return changes_state(u, i, j) ? 0 : 1;
}

SpkString *spk_process_sql(void *handle, const SpkString *text, SpkSqlScan *scan, int noscan) {
    spk_sql_scan_clear(scan);
    SPK_LOG(handle, LOG_DETAIL, "at start of spk_process_sql input string '%S'", text);

    const spk_unit *in = text ? text->units : nullptr;
    size_t n = in ? text->length : 0;

    Buf out;
    out.reserve(n + n / 4 + 16);

    enum { Q_NONE, Q_LITERAL, Q_BACKTICK } quote = Q_NONE;
    spk_unit literal_quote = '\'';
    bool raw = false;
    int paren = 0;
    std::vector<size_t> braces;   // output positions of the open escapes' '{'
    int vlen = 0;
    bool verb_done = false;
    int32_t count = 0;
    SpkMarker *markers = nullptr;
    bool marker_failed = false;

    size_t i = 0;
    while (i < n && !out.failed) {
        spk_unit c = in[i];

        if (quote == Q_LITERAL) {
            out.push(c);
            if (c == '\\' && !raw && i + 1 < n) {
                out.push(in[i + 1]);
                i += 2;
                continue;
            }
            if (c == literal_quote) {
                if (i + 1 < n && in[i + 1] == literal_quote) {
                    out.push(c);
                    i += 2;
                    continue;
                }
                quote = Q_NONE;
            }
            i++;
            continue;
        }
        if (quote == Q_BACKTICK) {
            out.push(c);
            if (c == '`') quote = Q_NONE;   // a doubled `` closes and reopens
            i++;
            continue;
        }

        // Outside quotes.  Nothing written yet: leading blanks go.
        if (out.len == 0 && (is_ws(c) || is_bom(c)) && !noscan) {
            i++;
            continue;
        }
        uint8_t flag = F_CODE | ((paren == 0 && braces.empty()) ? F_TOP : 0);
        switch (c) {
        case '\'':
        case '"':
            // In Spark both quote string literals.
            raw = out.len >= 1 && (out.f[out.len - 1] & F_CODE) && raw_prefix(out.u, out.len, 0);
            out.push(c);
            quote = Q_LITERAL;
            literal_quote = c;
            i++;
            continue;
        case '`':
            out.push('`');
            quote = Q_BACKTICK;
            i++;
            continue;
        case '-':
            if (i + 1 < n && in[i + 1] == '-') {
                size_t j = skip_line_comment(in, n, i);
                out.push_units(in + i, j - i);
                i = j;
                continue;
            }
            break;
        case '/':
            if (i + 1 < n && in[i + 1] == '*') {
                bool closed;
                size_t j = skip_block_comment(in, n, i, &closed);
                if ((i + 2 < n && in[i + 2] == '+') || !closed || noscan) {
                    // Optimizer hints are kept as written, and so is a
                    // comment that does not end (the server rejects it).
                    out.push_units(in + i, j - i);
                    i = j;
                    continue;
                }
                i = j;
                // The comment separated two tokens: keep them apart.
                if (out.len > 0 && !is_ws(out.last()) && i < n && !is_ws(in[i]) && !is_bom(in[i])) {
                    out.push(' ', flag);
                    if (vlen > 0) verb_done = true;
                }
                continue;
            }
            break;
        case '?': {
            SpkMarker *m = (SpkMarker *)malloc(sizeof(SpkMarker));
            if (!m) {
                marker_failed = true;
                i = n;
                continue;
            }
            m->position = (int32_t)out.len;
            m->number = ++count;
            m->next = markers;
            markers = m;
            out.push(c, flag | F_MARK);
            i++;
            continue;
        }
        case '{':
            if (noscan) break;
            if (size_t j = escape_clause(out, in, n, i); j != i) {
                i = j;
                continue;
            }
            braces.push_back(out.len);
            out.push(c, flag);
            i++;
            continue;
        case '}':
            if (noscan) break;
            out.push(c, flag);
            if (!braces.empty()) {
                size_t start = braces.back();
                braces.pop_back();
                rewrite_escape(out, start);
            }
            i++;
            continue;
        case 0xFEFF:
        case 0xFFFE:
            if (noscan) break;
            i++;
            continue;
        default:
            break;
        }

        // An ordinary character.
        if (!verb_done && c != '[' && c != ']') {
            if (is_ws(c)) {
                if (vlen > 0) verb_done = true;
            } else if (c >= 0x80) {
                verb_done = true;
            } else {
                if (vlen == 0) scan->verb_start = (int32_t)out.len;
                scan->verb_text[vlen++] = (char)c;
                scan->verb_end = (int32_t)out.len + 1;
                if (vlen == SPK_SQL_VERB_MAX) verb_done = true;
            }
        }
        if (c == '(') {
            paren++;
        } else if (c == ')' && paren > 0) {
            paren--;
        }
        out.push(c, flag);
        i++;
    }

    if (out.failed || marker_failed || out.len > INT32_MAX) {
        spk_markers_free(markers);
        spk_sql_scan_clear(scan);
        spk_post_error(handle, "HY001", 0, "failed processing SQL");
        return nullptr;
    }

    // Escapes move text: the markers stand where their flags ended up.  No
    // translation reorders or drops arguments, so the k-th flagged unit is
    // marker k.
    {
        std::vector<int32_t> at;
        for (size_t k = 0; k < out.len; k++)
            if (out.f[k] & F_MARK) at.push_back((int32_t)k);
        if ((int32_t)at.size() == count)
            for (SpkMarker *m = markers; m; m = m->next) m->position = at[(size_t)m->number - 1];
    }
    scan->markers = markers;
    scan->param_count = count;
    scan->verb_text[vlen] = 0;
    scan->verb = spk_sql_verb_kind(scan->verb_text);
    find_keywords(out, scan);
    scan->existing_limit = limit_value(out, scan->limit_offset);
    scan->returns_rows = spk_sql_returns_rows(text);

    SpkString *result = out.to_string();
    if (!result) {
        spk_sql_scan_clear(scan);
        spk_post_error(handle, "HY001", 0, "failed processing SQL");
        return nullptr;
    }
    SPK_LOG(handle, LOG_PKTDUMP, "at end of spk_process_sql output string %T", (const void *)out.u, (int)out.len);
    SPK_LOG(handle, LOG_PKTDUMP,
            "initial verb '%s', from_offset=%d, where_offset=%d, into_offset=%d, set_offset=%d, "
            "group_offset=%d, order_offset=%d, values_offset=%d, into_offset=%d, limit_offset=%d",
            scan->verb_text, scan->from_offset, scan->where_offset, scan->into_offset, scan->set_offset,
            scan->group_offset, scan->order_offset, scan->values_offset, scan->into_offset, scan->limit_offset);
    SPK_LOG(handle, LOG_PKTDUMP, "parameter count=%d", count);
    return result;
}

// ---------------------------------------------------------------------------
// The derived parameter query

namespace {

// The column list shared by the SET and WHERE scanners.
struct ColumnList {
    Buf buf;
    int32_t counter = 0;      // highest marker number placed so far
    int32_t param_count = 0;
    int32_t *positions = nullptr;   // positions[k - 1]: where marker k stands (ascending)

    ~ColumnList() { free(positions); }
    // Indexes the markers of the text; false when memory runs out.
    bool index(const SpkMarker *markers) {
        param_count = markers ? markers->number : 0;
        if (param_count == 0) return true;
        positions = (int32_t *)malloc(sizeof(int32_t) * (size_t)param_count);
        if (!positions) return false;
        for (; markers; markers = markers->next) {
            if (markers->number >= 1 && markers->number <= param_count) positions[markers->number - 1] = markers->position;
        }
        return true;
    }
};

const char PARAM_AS_LIKE[] = "CAST( '' AS VARCHAR( 8000 )) AS ParamAsLike";

// Places u[a, b) for marker `k`: repeated for every marker up to k that has
// no column yet.  Returns -1 for an expression that cannot stand as a column.
int place(ColumnList *l, const spk_unit *u, size_t a, size_t b, int32_t k, bool like) {
    while (a < b && is_ws(u[a])) a++;
    while (b > a && is_ws(u[b - 1])) b--;
    if (k < 1 || k > l->param_count) return -1;
    if (a == b && !like) return -1;
    while (l->counter < k) {
        if (l->buf.len > 0) l->buf.push(',');
        if (like)
            l->buf.push_ascii(PARAM_AS_LIKE);
        else
            l->buf.push_units(u + a, b - a);
        l->counter++;
    }
    return 0;
}

// Marker number of a '?' at position p of the processed text, or 0.
int32_t marker_at(const ColumnList *l, size_t p) {
    int32_t lo = 0, hi = l->param_count;
    while (lo < hi) {
        int32_t mid = lo + (hi - lo) / 2;
        if ((size_t)l->positions[mid] < p)
            lo = mid + 1;
        else
            hi = mid;
    }
    return (lo < l->param_count && (size_t)l->positions[lo] == p) ? lo + 1 : 0;
}

// Skips a quoted construct or comment at u[i] within [.., end); returns the
// index after it, or i when u[i] starts none.  *open is set when a block
// comment does not end.
size_t skip_quoted(const spk_unit *u, size_t lo, size_t end, size_t i, bool *open) {
    spk_unit c = u[i];
    if (c == '\'' || c == '"') return skip_literal(u, end, i, raw_prefix(u, i, lo));
    if (c == '`') return skip_identifier(u, end, i);
    if (c == '-' && i + 1 < end && u[i + 1] == '-') return skip_line_comment(u, end, i);
    if (c == '/' && i + 1 < end && u[i + 1] == '*') {
        bool closed;
        size_t j = skip_block_comment(u, end, i, &closed);
        if (!closed) *open = true;
        return j;
    }
    return i;
}

enum { OP_NONE, OP_CMP, OP_BETWEEN, OP_IN, OP_LIKE };
enum { MAX_DEPTH = 128 };

// Is the '(' at u[i] a call or subscript (after a name) rather than a group?
bool paren_is_call(const spk_unit *u, size_t start, size_t i) {
    size_t p = i;
    while (p > start && is_ws(u[p - 1])) p--;
    if (p == start) return false;
    spk_unit c = u[p - 1];
    if (c == ')' || c == ']' || c == '`') return true;
    if (!is_ident(c)) return false;
    size_t w = p;
    while (w > start && is_ident(u[w - 1])) w--;
    return !(word_is(u, w, p, "and") || word_is(u, w, p, "or") || word_is(u, w, p, "not"));
}

int where_columns(const spk_unit *u, size_t start, size_t end, ColumnList *l) {
    int depth = 0;
    size_t open_pos[MAX_DEPTH + 1];
    bool group[MAX_DEPTH + 1];     // the parenthesis opened a group that began a predicate
    size_t saved_start[MAX_DEPTH + 1];
    int saved_depth[MAX_DEPTH + 1];
    int sub_depth = 0;             // depth of the sub-select's parenthesis, 0 outside one
    size_t pred_start = start;
    int pred_depth = 0;
    int op = OP_NONE;
    size_t op_pos = 0, op_end = 0, expr_start = 0, between_and = 0;
    int op_depth = 0;
    bool between_pending = false;
    int32_t pending = 0;           // highest marker seen before the operator

    // The expression before the operator (without the NOT of NOT IN, NOT LIKE...).
    auto expr_end = [&]() -> size_t {
        size_t b = op_pos;
        if (op == OP_CMP) return b;
        while (b > expr_start && is_ws(u[b - 1])) b--;
        if (b >= expr_start + 3 && word_is(u, b - 3, b, "not") && (b == expr_start + 3 || !is_ident(u[b - 4])))
            b -= 3;
        return b;
    };
    auto set_op = [&](int kind, size_t a, size_t b) {
        op = kind;
        op_pos = a;
        op_end = b;
        op_depth = depth;
        expr_start = pred_start;
        if (depth > 0 && open_pos[depth] + 1 > expr_start) expr_start = open_pos[depth] + 1;
        between_pending = kind == OP_BETWEEN;
    };
    // Ends the predicate at position p: a marker before the operator takes
    // the expression after it.
    auto finish = [&](size_t p) -> int {
        int rc = 0;
        if (pending > 0 && op != OP_NONE) {
            size_t b = (op == OP_BETWEEN && !between_pending) ? between_and : p;
            rc = place(l, u, op_end, b, pending, op == OP_LIKE);
        }
        op = OP_NONE;
        pending = 0;
        between_pending = false;
        return rc;
    };

    size_t i = start;
    while (i < end) {
        spk_unit c = u[i];
        bool open_comment = false;
        size_t j = skip_quoted(u, start, end, i, &open_comment);
        if (j != i) {
            if (open_comment) break;
            i = j;
            continue;
        }
        if (c == '(') {
            if (depth + 1 > MAX_DEPTH) return -1;
            bool starts_group = !sub_depth && op == OP_NONE && pending == 0 && !paren_is_call(u, start, i);
            depth++;
            open_pos[depth] = i;
            group[depth] = starts_group;
            if (starts_group) {
                saved_start[depth] = pred_start;
                saved_depth[depth] = pred_depth;
                pred_start = i + 1;
                pred_depth = depth;
            }
            i++;
            continue;
        }
        if (c == ')') {
            if (depth == 0) return -1;
            if (sub_depth && depth > sub_depth) {
                // inside a sub-select
            } else if (sub_depth) {
                sub_depth = 0;
                if (op == OP_NONE && group[depth] && pending == 0) {
                    pred_start = saved_start[depth];
                    pred_depth = saved_depth[depth];
                }
            } else if (op != OP_NONE && depth - 1 < op_depth) {
                // The group holding the operator ends: so does the predicate.
                if (finish(i) < 0) return -1;
                pred_start = i + 1;
                pred_depth = depth - 1;
            } else if (op == OP_NONE && group[depth] && pending == 0) {
                // A parenthesised operand: the predicate goes on around it.
                pred_start = saved_start[depth];
                pred_depth = saved_depth[depth];
            }
            depth--;
            i++;
            continue;
        }
        if (is_ident(c)) {
            j = word_end(u, end, i);
            bool boundary = (i == start || keyword_may_follow(u[i - 1])) && (j == end || keyword_may_precede(u[j]));
            if (!boundary) {
                i = j;
                continue;
            }
            if (word_is(u, i, j, "select")) {
                if (depth == 0) return -1;
                if (!sub_depth) sub_depth = depth;
            } else if (sub_depth) {
                // the words of a sub-select mean nothing here
            } else if (word_is(u, i, j, "and") || word_is(u, i, j, "or")) {
                if (op == OP_BETWEEN && between_pending && depth == op_depth && word_is(u, i, j, "and")) {
                    between_pending = false;
                    between_and = i;
                } else if (op == OP_NONE) {
                    if (depth <= pred_depth) {
                        if (pending) return -1;
                        pred_start = j;
                        pred_depth = depth;
                    }
                } else if (depth <= op_depth) {
                    if (finish(i) < 0) return -1;
                    pred_start = j;
                    pred_depth = depth;
                }
            } else {
                int kind = OP_NONE;
                if (word_is(u, i, j, "between"))
                    kind = OP_BETWEEN;
                else if (word_is(u, i, j, "in"))
                    kind = OP_IN;
                else if (word_is(u, i, j, "like") || word_is(u, i, j, "ilike") || word_is(u, i, j, "rlike") ||
                         word_is(u, i, j, "regexp"))
                    kind = OP_LIKE;
                if (kind != OP_NONE) {
                    if (op != OP_NONE) return -1;
                    if (pending && kind != OP_BETWEEN) return -1;
                    set_op(kind, i, j);
                }
            }
            i = j;
            continue;
        }
        if (sub_depth) {
            i++;
            continue;
        }
        if (c == '<' || c == '=' || c == '>' || c == '!') {
            size_t len = 1;
            if (c == '<' && i + 2 < end && u[i + 1] == '=' && u[i + 2] == '>') {
                len = 3;
            } else if (i + 1 < end && (u[i + 1] == '<' || u[i + 1] == '=' || u[i + 1] == '>')) {
                len = 2;
            } else if (c == '!') {
                i++;   // logical NOT
                continue;
            }
            if (op != OP_NONE) return -1;
            set_op(OP_CMP, i, i + len);
            i += len;
            continue;
        }
        if (c == '?') {
            int32_t k = marker_at(l, i);
            if (k > 0) {
                if (op != OP_NONE) {
                    if (place(l, u, expr_start, expr_end(), k, op == OP_LIKE) < 0) return -1;
                } else if (k > pending) {
                    pending = k;
                }
            }
            i++;
            continue;
        }
        i++;
    }
    if (depth != 0) return -1;
    return finish(end);
}

int set_columns(const spk_unit *u, size_t start, size_t end, ColumnList *l) {
    int depth = 0;
    size_t item = start;
    size_t eq = 0;
    bool have_eq = false;
    int32_t highest = 0;

    auto finish = [&](size_t p) -> int {
        if (!have_eq) return -1;
        size_t a = eq + 1, b = p;
        while (a < b && is_ws(u[a])) a++;
        while (b > a && is_ws(u[b - 1])) b--;
        int32_t k = 0;
        if (b - a >= 3 && u[a] == '@' && (u[a + 1] == 'P' || u[a + 1] == 'p')) {
            size_t d = a + 2;
            int64_t v = 0;
            while (d < b && is_digit(u[d]) && v <= INT32_MAX) v = v * 10 + (u[d++] - '0');
            if (d == b && v <= INT32_MAX) k = (int32_t)v;
        }
        if (k > l->param_count) k = 0;   // a name that matches no marker of the text
        if (k == 0) k = highest;
        int rc = k > 0 ? place(l, u, item, eq, k, false) : 0;
        have_eq = false;
        highest = 0;
        return rc;
    };

    size_t i = start;
    while (i < end) {
        spk_unit c = u[i];
        bool open_comment = false;
        size_t j = skip_quoted(u, start, end, i, &open_comment);
        if (j != i) {
            if (open_comment) break;
            i = j;
            continue;
        }
        if (c == '(') {
            depth++;
        } else if (c == ')') {
            if (depth == 0) return -1;
            depth--;
        } else if (c == '=' && depth == 0) {
            if (have_eq) return -1;
            have_eq = true;
            eq = i;
        } else if (c == ',' && depth == 0) {
            if (finish(i) < 0) return -1;
            item = i + 1;
        } else if (c == '?' && have_eq) {
            int32_t k = marker_at(l, i);
            if (k > highest) highest = k;
        }
        i++;
    }
    if (depth != 0) return -1;
    return finish(end);
}

int run_list_scanner(bool where, const SpkString *processed, const SpkMarker *markers, int32_t start,
                     int32_t end, SpkString **list, int32_t *counter) {
    if (!processed || !list || !counter) return -1;
    size_t n = spk_str_length(processed);
    if (start < 0 || end < start || (size_t)end > n) return -1;
    ColumnList l;
    l.counter = *counter;
    if (!l.index(markers)) return -2;
    if (*list && spk_str_length(*list) > 0) l.buf.push_units((*list)->units, (*list)->length);
    int rc = where ? where_columns(processed->units, start, end, &l) : set_columns(processed->units, start, end, &l);
    if (rc < 0) return -1;
    SpkString *s = l.buf.to_string();
    if (!s) return -2;
    spk_str_free(*list);
    *list = s;
    *counter = l.counter;
    return 0;
}

// End of the WHERE clause that starts after position `where`.
size_t where_clause_end(const SpkSqlScan &s, size_t len) {
    size_t end = len;
    for (int32_t o : {s.group_offset, s.having_offset, s.order_offset, s.limit_offset}) {
        if (o > s.where_offset && (size_t)o < end) end = (size_t)o;
    }
    return end;
}

bool all_blank(const spk_unit *u, size_t a, size_t b) {
    for (size_t k = a; k < b; k++) {
        if (!is_ws(u[k])) return false;
    }
    return true;
}

// Index just past a parenthesised group starting at u[i] == '(', or 0.
size_t skip_group(const spk_unit *u, size_t end, size_t i) {
    int depth = 0;
    while (i < end) {
        bool open_comment = false;
        size_t j = skip_quoted(u, 0, end, i, &open_comment);
        if (j != i) {
            if (open_comment) return 0;
            i = j;
            continue;
        }
        if (u[i] == '(') depth++;
        if (u[i] == ')' && --depth == 0) return i + 1;
        i++;
    }
    return 0;
}

size_t skip_ws(const spk_unit *u, size_t end, size_t i) {
    while (i < end && is_ws(u[i])) i++;
    return i;
}

// INSERT [INTO | OVERWRITE] [TABLE] name [PARTITION (...)] [(columns)] VALUES ...
// Returns the derived text through *out, or -1 when the head is not understood.
int insert_columns(const spk_unit *u, const SpkSqlScan &s, Buf *out) {
    size_t values = (size_t)s.values_offset + 1;   // the V of VALUES
    size_t pos;
    if (s.into_offset > 0) {
        if (s.into_offset >= s.values_offset) return -1;
        pos = (size_t)s.into_offset + 5;
    } else {
        pos = (size_t)s.verb_end;
        size_t w = skip_ws(u, values, pos);
        size_t we = word_end(u, values, w);
        if (word_is(u, w, we, "overwrite")) pos = we;
        else if (pos < values && is_ws(u[pos])) pos++;
    }
    {
        size_t w = skip_ws(u, values, pos);
        size_t we = word_end(u, values, w);
        if (word_is(u, w, we, "table")) pos = we;
    }
    size_t name = skip_ws(u, values, pos);
    size_t q = name;
    while (q < values) {
        if (u[q] == '`') q = skip_identifier(u, values, q);
        else if (is_ident(u[q]) || u[q] == '.') q++;
        else break;
    }
    if (q == name) return -1;
    size_t name_end = q;
    bool partition = false;
    q = skip_ws(u, values, q);
    size_t we = word_end(u, values, q);
    if (word_is(u, q, we, "partition")) {
        q = skip_ws(u, values, we);
        if (q >= values || u[q] != '(') return -1;
        q = skip_group(u, values, q);
        if (q == 0) return -1;
        q = skip_ws(u, values, q);
        partition = true;
    }
    out->push_ascii("select ");
    if (q < values && u[q] == '(') {
        size_t close = skip_group(u, values, q);
        if (close == 0 || !all_blank(u, close, values) || all_blank(u, q + 1, close - 1)) return -1;
        out->push_units(u + q + 1, close - 1 - (q + 1));
        out->push_ascii(" from ");
        out->push_units(u + pos, (partition ? name_end : q) - pos);
    } else {
        if (!all_blank(u, q, values)) return -1;
        out->push_ascii("* from ");
        out->push_units(u + pos, (partition ? name_end : (size_t)s.values_offset) - pos);
    }
    return 0;
}

}  // namespace

int spk_where_param_columns(const SpkString *processed, const SpkMarker *markers, int32_t start, int32_t end,
                            SpkString **list, int32_t *counter) {
    return run_list_scanner(true, processed, markers, start, end, list, counter);
}

int spk_set_param_columns(const SpkString *processed, const SpkMarker *markers, int32_t start, int32_t end,
                          SpkString **list, int32_t *counter) {
    return run_list_scanner(false, processed, markers, start, end, list, counter);
}

SpkString *spk_describe_param_sql(void *handle, const SpkString *processed) {
    SpkSqlScan s;
    spk_sql_scan_init(&s);
    // Scanning a processed text again changes nothing and gives back every
    // offset of the first scan.
    SpkString *t = spk_process_sql(handle, processed, &s);
    if (!t) return nullptr;
    SPK_LOG(handle, LOG_DETAIL,
            "describe param string = %S, param_count=%d, type=%d, where_offset=%d, from_offset=%d, "
            "set_offset=%d, values_offset=%d",
            t, s.param_count, s.verb, s.where_offset, s.from_offset, s.set_offset, s.values_offset);

    const spk_unit *u = t->units;
    size_t len = t->length;
    ColumnList l;
    Buf out;
    enum { OK, NONE, BAD_SYNTAX, BAD_INDEX, NO_MEMORY } result = OK;

    if (s.param_count == 0) {
        SPK_LOG(handle, LOG_DETAIL, "describe param returns NULL");
        result = NONE;
    } else if (!l.index(s.markers)) {
        result = NO_MEMORY;
    } else if ((s.verb == SPK_VERB_SELECT || s.verb == SPK_VERB_DELETE) && s.where_offset > 0 &&
               s.from_offset > 0 && s.from_offset < s.where_offset) {
        const SpkMarker *first = spk_marker_by_number(s.markers, 1);
        if (first && first->position > 0 && first->position < s.from_offset) {
            SPK_LOG(handle, LOG_DETAIL, "malformed query (param before from)");
            result = BAD_INDEX;
        } else if (where_columns(u, (size_t)s.where_offset + 6, where_clause_end(s, len), &l) < 0 ||
                   l.buf.len == 0) {
            result = BAD_SYNTAX;
        } else {
            out.push_ascii("select ");
            out.push_units(l.buf.u, l.buf.len);
            out.push(' ');
            out.push_units(u + s.from_offset + 1, (size_t)(s.where_offset - s.from_offset));
        }
    } else if (s.verb == SPK_VERB_SELECT && s.from_offset < 0) {
        SPK_LOG(handle, LOG_DETAIL, "malformed query (select without from)");
        result = BAD_INDEX;
    } else if (s.verb == SPK_VERB_INSERT && s.values_offset > 0 && s.verb_end > 0) {
        if (insert_columns(u, s, &out) < 0) result = BAD_SYNTAX;
    } else if (s.verb == SPK_VERB_UPDATE && s.set_offset > 0 && s.verb_end > 0 && s.verb_end <= s.set_offset) {
        bool where = s.where_offset > s.set_offset;
        size_t stop = where ? (size_t)s.where_offset : len;
        if (set_columns(u, (size_t)s.set_offset + 4, stop, &l) < 0 ||
            (where && where_columns(u, (size_t)s.where_offset + 6, where_clause_end(s, len), &l) < 0) ||
            l.buf.len == 0) {
            result = BAD_SYNTAX;
        } else {
            out.push_ascii("select ");
            out.push_units(l.buf.u, l.buf.len);
            out.push_ascii(" from ");
            out.push_units(u + s.verb_end, (size_t)(s.set_offset - s.verb_end));
        }
    } else {
        SPK_LOG(handle, LOG_DETAIL, "malformed query");
        result = BAD_SYNTAX;
    }

    SpkString *sql = nullptr;
    if (result == OK && !l.buf.failed) sql = out.to_string();
    if ((result == OK && !sql) || result == NO_MEMORY) {
        spk_post_error(handle, "HY001", 0, "failed processing SQL");
    } else if (result == OK) {
        SPK_LOG(handle, LOG_DETAIL, "describe param string = %S", sql);
    } else if (result == BAD_INDEX) {
        spk_post_error(handle, "07009", 0, nullptr);
    } else if (result == BAD_SYNTAX) {
        spk_post_error(handle, "42000", 0, "Syntax error or access violation");
    }
    spk_str_free(t);
    spk_sql_scan_clear(&s);
    return sql;
}
