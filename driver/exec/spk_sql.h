// SQL text processing: the one scanner every statement text passes through
// before it reaches the server, and the derived SELECT that describes a
// statement's parameters.
//
// The scanner rewrites the text in one left-to-right pass:
//   - Spark's own SQL passes as written: single- and double-quoted text are
//     string literals, backtick-quoted identifiers stay as they are;
//   - block comments are dropped (a comment that was the only separator
//     between two tokens leaves one space); optimizer hints /*+ ... */, line
//     comments and a block comment that does not end are kept;
//   - byte-order marks outside quotes are dropped;
//   - the ODBC escapes become Spark SQL: {d '...'}, {t '...'}, {ts '...'}
//     typed literals, {fn ...} scalar functions (spk_escape.h), {oj ...} the
//     join inside, {call p(...)} CALL p(...), {escape 'c'} ESCAPE 'c'; an
//     escape that is not understood stays as written;
// and records the parameter markers, the first word (verb) and where the
// first top-level clause keywords stand.  Quotes, identifiers and comments
// hide markers, keywords and escapes.  With `noscan` (SQL_ATTR_NOSCAN) the
// text goes out exactly as written; only markers, verb and keywords are
// recorded.
#pragma once

#include <cstdint>

#include "spk_handles.h"
#include "spk_string.h"

// One parameter marker '?' of a processed text.
struct SpkMarker {
    int32_t position;      // index of the '?' in the processed text
    int32_t number;        // 1 for the first marker of the text, 2 for the second...
    SpkMarker *next;       // lists are kept newest first (last marker of the text at the head)
};

void spk_markers_free(SpkMarker *list);
// The marker of the given number, or null.
const SpkMarker *spk_marker_by_number(const SpkMarker *list, int32_t number);

enum { SPK_SQL_VERB_MAX = 63 };

// Results of one scan.  A statement copies what it keeps: markers move to the
// statement (set `markers` to null here afterwards), the rest are values.
struct SpkSqlScan {
    SpkMarker *markers;            // owned by the scan; newest first
    int32_t param_count;           // number of markers
    int32_t verb;                  // SPK_VERB_*
    char verb_text[SPK_SQL_VERB_MAX + 1];
    int32_t verb_start, verb_end;  // the verb's extent in the processed text (-1 when empty)
    int32_t returns_rows;          // 1 when the statement leaves a cursor
    // Position in the processed text of the character just before the first
    // top-level occurrence of each keyword; -1 when it does not occur (or
    // stands at the very start of the text).
    int32_t where_offset, from_offset, into_offset, set_offset, group_offset;
    int32_t having_offset, order_offset, values_offset, limit_offset;
    int64_t existing_limit;        // the number after a top-level LIMIT, -1 when there is none
};

void spk_sql_scan_init(SpkSqlScan *scan);
// Frees the markers and resets everything (safe on an initialised scan).
void spk_sql_scan_clear(SpkSqlScan *scan);

// Scans and rewrites `text`.  Returns the processed text (a new string owned
// by the caller; an empty string for an empty or all-blank text) and fills
// `scan` (its previous contents are freed first).  On memory exhaustion posts
// HY001 "failed processing SQL" on `handle` (which may be null) and returns
// null with `scan` cleared.  A null text is treated as empty.
SpkString *spk_process_sql(void *handle, const SpkString *text, SpkSqlScan *scan, int noscan = 0);

// Statement kind from a verb (compared in lower case): "sel..." SELECT,
// "set..." SET, "d..." DELETE, "up..." UPDATE, "i..." INSERT, else OTHER.
int32_t spk_sql_verb_kind(const char *verb);

// 1 when the statement leaves a cursor, decided on its first keyword after
// leading white space, comments, opening parentheses and byte-order marks:
// queries (SELECT, WITH, SHOW, DESCRIBE, DESC, EXPLAIN, VALUES, TABLE, FROM),
// SET (its key/value rows) and unknown words do, statements that change data
// or state do not.  A WITH is decided by the statement that follows its
// common table expressions, a FROM by whether it inserts.
// An empty text (or one of nothing but comments) gives 0.
int32_t spk_sql_returns_rows(const SpkString *text);

// The length of the text without what trails its last token: white space,
// comments and semicolons.
int32_t spk_sql_statement_end(const SpkString *text);

// 1 when the text is a query by its first keyword (SELECT, VALUES, TABLE,
// SHOW, DESCRIBE, DESC, EXPLAIN, a WITH or FROM that inserts nothing): the
// only statements that may be sent to describe them before they run.
int32_t spk_sql_is_query(const SpkString *text);

// The SELECT whose result columns describe the parameters of the processed
// text `processed` (as returned by spk_process_sql), in marker order; null
// when there are no markers or no such query can be built.  Failures post
// 07009 or 42000 "Syntax error or access violation" on `handle` (out of
// memory: HY001).
SpkString *spk_describe_param_sql(void *handle, const SpkString *processed);

// The two list scanners behind it, exposed for testing.  Each appends, for
// the markers found in processed[start, end), column expressions to the list
// *list (null stands for an empty list; on success *list is replaced by a new
// string, which the caller frees), `counter` holding the highest marker
// number placed so far.  Return 0; -1 when the text is not understood (list
// and counter unchanged); -2 out of memory.  Nothing is posted.
int spk_where_param_columns(const SpkString *processed, const SpkMarker *markers, int32_t start,
                            int32_t end, SpkString **list, int32_t *counter);
int spk_set_param_columns(const SpkString *processed, const SpkMarker *markers, int32_t start,
                          int32_t end, SpkString **list, int32_t *counter);
