// SQL text processing: rewriting (quotes, comments, byte-order marks,
// escapes), markers, verbs, clause offsets, the returns-rows classification
// and the derived parameter query with its WHERE and SET list scanners.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/spk_err.h"
#include "core/spk_handle.h"
#include "core/spk_log.h"
#include "exec/spk_escape.h"
#include "exec/spk_sql.h"
#include "tarn_fn_cases.h"
#include "spk_handles.h"
#include "spk_string.h"

namespace {

// An exact-length copy (no terminator after it), so that reading past the
// end is caught by the address sanitizer.
SpkString *make(const std::u16string &s) {
    return spk_str_from_wide(reinterpret_cast<const spk_unit *>(s.data()), (long)s.size());
}

std::u16string text(const SpkString *s) {
    if (!s || !s->units) return u"";
    return std::u16string(reinterpret_cast<const char16_t *>(s->units), s->length);
}

std::string ascii(const std::u16string &s) {
    std::string out;
    for (char16_t c : s) out += c < 0x80 ? (char)c : '#';
    return out;
}

// A bare handle for diagnostics.
struct FakeStatement {
    SpkHandle h{};
    FakeStatement() { h.tag = SPK_STATEMENT_HANDLE; }
    ~FakeStatement() { spk_clear_errors(&h); }
    void *ptr() { return &h; }
    std::string state() const {
        if (spk_error_count(&h) == 0) return "";
        return ascii(text(spk_error_record(&h, 1)->sqlstate));
    }
    std::string message() const {
        if (spk_error_count(&h) == 0) return "";
        return ascii(text(spk_error_record(&h, 1)->message));
    }
};

struct Processed {
    std::u16string out;
    SpkSqlScan scan;
    bool ok;
    explicit Processed(const std::u16string &in, void *handle = nullptr) {
        spk_sql_scan_init(&scan);
        SpkString *s = make(in);
        SpkString *r = spk_process_sql(handle, s, &scan);
        ok = r != nullptr;
        out = text(r);
        spk_str_free(r);
        spk_str_free(s);
    }
    ~Processed() { spk_sql_scan_clear(&scan); }
    // Marker positions in text order.
    std::vector<int> positions() const {
        std::vector<int> v;
        for (const SpkMarker *m = scan.markers; m; m = m->next) v.insert(v.begin(), m->position);
        return v;
    }
};

// ---------------------------------------------------------------------------
// Rewriting

struct RewriteCase {
    std::u16string in;
    std::u16string out;
    int markers;
};

const RewriteCase REWRITES[] = {
    // Double-quoted text is a Spark string literal: sent as written, and it
    // hides markers, keywords and escapes.
    {u"SELECT \"a\"\"b\" FROM t", u"SELECT \"a\"\"b\" FROM t", 0},
    {u"select \"dq\" as d", u"select \"dq\" as d", 0},
    {u"SELECT \"a`b\", \"c\\\"?\" FROM t", u"SELECT \"a`b\", \"c\\\"?\" FROM t", 0},
    {u"SELECT \"x?\" FROM t WHERE a = ?", u"SELECT \"x?\" FROM t WHERE a = ?", 1},
    {u"SELECT \"it's {fn ucase(x)}\", 'a\"b' FROM t", u"SELECT \"it's {fn ucase(x)}\", 'a\"b' FROM t", 0},
    // Backtick-quoted identifiers stay as written, doubled backticks included.
    {u"SELECT `a\"b`, `c``d?` FROM t", u"SELECT `a\"b`, `c``d?` FROM t", 0},
    // Literals hide markers; doubled quotes and backslash escapes stay inside.
    {u"SELECT 'it''s ?' FROM t WHERE x = ?", u"SELECT 'it''s ?' FROM t WHERE x = ?", 1},
    {u"SELECT 'it\\'s ?', ? FROM t", u"SELECT 'it\\'s ?', ? FROM t", 1},
    {u"SELECT r'C:\\', ? FROM t", u"SELECT r'C:\\', ? FROM t", 1},
    {u"SELECT '{d ''2020-01-01''}' FROM t", u"SELECT '{d ''2020-01-01''}' FROM t", 0},
    // Line comments are kept; block comments go; hints stay.
    {u"select * from t -- where ?", u"select * from t -- where ?", 0},
    {u"select * -- ?\nfrom t where a = ?", u"select * -- ?\nfrom t where a = ?", 1},
    {u"select * /* where ? */ from t", u"select *  from t", 0},
    {u"select a/**/from t", u"select a from t", 0},
    {u"select 1 /* a /* b */ ? */ + ?", u"select 1  + ?", 1},
    {u"select 1 /* ? unterminated", u"select 1 /* ? unterminated", 0},
    {u"select /*+ BROADCAST(u) ? */ * from t", u"select /*+ BROADCAST(u) ? */ * from t", 0},
    {u"/* lead */ select 1", u"select 1", 0},
    // Escapes.
    {u"SELECT * FROM t WHERE d = {d '2020-01-02'}", u"SELECT * FROM t WHERE d = DATE '2020-01-02'", 0},
    {u"SELECT {t '10:11:12'}", u"SELECT TIME '10:11:12'", 0},
    {u"SELECT {ts '2024-01-31 10:11:12.5'}", u"SELECT TIMESTAMP '2024-01-31 10:11:12.5'", 0},
    {u"SELECT {TS '2024-01-31 10:11:12'}", u"SELECT TIMESTAMP '2024-01-31 10:11:12'", 0},
    {u"SELECT { d   '2020-01-02'  }, 1", u"SELECT DATE '2020-01-02', 1", 0},
    {u"SELECT {d'2020-01-02'}", u"SELECT DATE '2020-01-02'", 0},
    {u"SELECT {d /* c */ '2020-01-02'}", u"SELECT DATE '2020-01-02'", 0},
    {u"SELECT {fn UCASE(x)} FROM t", u"SELECT upper(x) FROM t", 0},
    {u"SELECT {fn CONCAT({d '2020-01-01'}, 'x')}", u"SELECT concat(DATE '2020-01-01', 'x')", 0},
    {u"SELECT {fn ucase({fn concat(?, {fn lcase(?)})})} FROM t WHERE a = ?",
     u"SELECT upper(concat(?, lower(?))) FROM t WHERE a = ?", 3},
    {u"SELECT * FROM {oj t LEFT OUTER JOIN u ON t.a = u.a}", u"SELECT * FROM t LEFT OUTER JOIN u ON t.a = u.a", 0},
    {u"{call p(?, ?)}", u"CALL p(?, ?)", 2},
    {u"{ call p }", u"CALL p", 0},
    {u"SELECT * FROM t WHERE a LIKE 'x\\_%' {escape '\\'}", u"SELECT * FROM t WHERE a LIKE 'x\\_%' ESCAPE '\\\\'", 0},
    {u"SELECT * FROM t WHERE a LIKE 'x!_%' { ESCAPE '!' } AND b = ?", u"SELECT * FROM t WHERE a LIKE 'x!_%' ESCAPE '!' AND b = ?", 1},
    {u"SELECT {fn ucase('}')}, {fn ucase(\"{\")}", u"SELECT upper('}'), upper(\"{\")", 0},
    {u"SELECT {fn ucase(x, y)}", u"SELECT {fn ucase(x, y)}", 0},
    {u"SELECT {fn ucase(x}", u"SELECT {fn ucase(x}", 0},
    {u"SELECT {fn ucase(x) y}", u"SELECT {fn ucase(x) y}", 0},
    {u"SELECT {fn convert(?, SQL_BIGINT)}", u"SELECT CAST(? AS BIGINT)", 1},
    {u"SELECT {fn convert(x, SQL_GUID)}", u"SELECT {fn convert(x, SQL_GUID)}", 0},
    {u"SELECT {fn timestampadd(SQL_TSI_FRAC_SECOND, 1, t)}", u"SELECT {fn timestampadd(SQL_TSI_FRAC_SECOND, 1, t)}", 0},
    {u"SELECT {fn sha2(x, 256)}", u"SELECT sha2(x, 256)", 0},
    {u"SELECT ${var}, {?}", u"SELECT ${var}, {?}", 1},
    {u"SELECT {dummy '2020-01-01'}", u"SELECT {dummy '2020-01-01'}", 0},
    {u"SELECT {d}", u"SELECT {d}", 0},
    {u"SELECT {d ?}", u"SELECT {d ?}", 1},
    {u"SELECT {d '2020-01-01' + ?}", u"SELECT {d '2020-01-01' + ?}", 1},
    {u"SELECT {d '2020-01-01'", u"SELECT {d '2020-01-01'", 0},
    {u"SELECT } {d '2020-01-01'}", u"SELECT } DATE '2020-01-01'", 0},
    // Byte-order marks go outside quotes and stay inside them.
    {u"\uFEFFSELECT 1", u"SELECT 1", 0},
    {u" \uFEFF  SELECT\uFFFE 1", u"SELECT 1", 0},
    {u"SELECT '\uFEFF', `\uFEFF` FROM t", u"SELECT '\uFEFF', `\uFEFF` FROM t", 0},
    // Leading white space and empty texts.
    {u"  \t\r\n select 1", u"select 1", 0},
    {u"   ", u"", 0},
    {u"", u"", 0},
    // Unterminated quotes keep the rest of the text inside them.
    {u"select 'abc ? from t", u"select 'abc ? from t", 0},
    {u"select \"abc ? from t", u"select \"abc ? from t", 0},
    {u"select `abc ? from t", u"select `abc ? from t", 0},
    {u"select 'abc\\", u"select 'abc\\", 0},
    {u"select * from t --", u"select * from t --", 0},
    {u"select {", u"select {", 0},
    // Characters above U+FFFF (surrogate pairs) pass whole, in every state.
    {u"select '\U0001F600', \"\U0001F600\", `\U0001F600` from t where \U0001F600 = ?",
     u"select '\U0001F600', \"\U0001F600\", `\U0001F600` from t where \U0001F600 = ?", 1},
    {u"\U0001F600 ?", u"\U0001F600 ?", 1},
    // Brackets are subscripts, not quotes: markers inside them count.
    {u"select m[']'], a[?] from t where b = ?", u"select m[']'], a[?] from t where b = ?", 2},
};

TEST(SqlProcess, RewritesAndCountsMarkers) {
    for (const RewriteCase &c : REWRITES) {
        Processed p(c.in);
        ASSERT_TRUE(p.ok) << ascii(c.in);
        EXPECT_EQ(ascii(p.out), ascii(c.out)) << "input: " << ascii(c.in);
        EXPECT_TRUE(p.out == c.out) << "input: " << ascii(c.in);
        EXPECT_EQ(p.scan.param_count, c.markers) << ascii(c.in);
        int listed = 0;
        for (const SpkMarker *m = p.scan.markers; m; m = m->next) {
            listed++;
            ASSERT_GE(m->position, 0);
            ASSERT_LT((size_t)m->position, p.out.size());
            EXPECT_EQ(p.out[m->position], u'?') << ascii(c.in);
        }
        EXPECT_EQ(listed, c.markers);
    }
}

// A processed text scans to itself with the same results: the derived
// parameter query relies on it.
TEST(SqlProcess, ProcessingTwiceChangesNothing) {
    for (const RewriteCase &c : REWRITES) {
        Processed once(c.in);
        Processed twice(once.out);
        EXPECT_TRUE(twice.out == once.out) << ascii(c.in);
        EXPECT_EQ(twice.positions(), once.positions()) << ascii(c.in);
        EXPECT_EQ(twice.scan.verb, once.scan.verb);
        EXPECT_EQ(twice.scan.where_offset, once.scan.where_offset);
        EXPECT_EQ(twice.scan.from_offset, once.scan.from_offset);
        EXPECT_EQ(twice.scan.limit_offset, once.scan.limit_offset);
    }
}

TEST(SqlProcess, MarkersAreNumberedAndListedNewestFirst) {
    Processed p(u"SELECT 'it''s ?' FROM t WHERE x = ?");
    ASSERT_EQ(p.scan.param_count, 1);
    ASSERT_NE(p.scan.markers, nullptr);
    EXPECT_EQ(p.scan.markers->number, 1);
    EXPECT_EQ(p.scan.markers->position, 34);
    EXPECT_EQ(p.scan.markers->next, nullptr);

    Processed q(u"insert into t values (?, {d '2020-01-01'}, ?, /* ? */ ?)");
    EXPECT_EQ(ascii(q.out), "insert into t values (?, DATE '2020-01-01', ?,  ?)");
    ASSERT_EQ(q.scan.param_count, 3);
    const SpkMarker *m = q.scan.markers;
    ASSERT_NE(m, nullptr);
    EXPECT_EQ(m->number, 3);
    EXPECT_EQ(m->position, 48);
    ASSERT_NE(m->next, nullptr);
    EXPECT_EQ(m->next->number, 2);
    EXPECT_EQ(m->next->position, 44);
    ASSERT_NE(m->next->next, nullptr);
    EXPECT_EQ(m->next->next->number, 1);
    EXPECT_EQ(m->next->next->position, 22);
    EXPECT_EQ(m->next->next->next, nullptr);
    EXPECT_EQ(spk_marker_by_number(q.scan.markers, 2), m->next);
    EXPECT_EQ(spk_marker_by_number(q.scan.markers, 4), nullptr);
}

TEST(SqlProcess, NullTextIsEmpty) {
    SpkSqlScan scan;
    spk_sql_scan_init(&scan);
    SpkString *r = spk_process_sql(nullptr, nullptr, &scan);
    ASSERT_NE(r, nullptr);
    EXPECT_EQ(spk_str_length(r), 0);
    EXPECT_EQ(scan.verb, SPK_VERB_OTHER);
    EXPECT_EQ(scan.param_count, 0);
    EXPECT_EQ(scan.returns_rows, 0);
    spk_str_free(r);
}

TEST(SqlProcess, RescanReplacesPreviousResults) {
    SpkSqlScan scan;
    spk_sql_scan_init(&scan);
    SpkString *a = make(u"select a from t where b = ? and c = ?");
    SpkString *b = make(u"set x = 1");
    SpkString *r1 = spk_process_sql(nullptr, a, &scan);
    EXPECT_EQ(scan.param_count, 2);
    SpkString *r2 = spk_process_sql(nullptr, b, &scan);   // frees the old markers
    EXPECT_EQ(scan.param_count, 0);
    EXPECT_EQ(scan.markers, nullptr);
    EXPECT_EQ(scan.where_offset, -1);
    EXPECT_EQ(scan.from_offset, -1);
    EXPECT_EQ(scan.verb, SPK_VERB_SET);
    for (SpkString *s : {a, b, r1, r2}) spk_str_free(s);
    spk_sql_scan_clear(&scan);
}

// ---------------------------------------------------------------------------
// Verbs

struct VerbCase {
    std::u16string in;
    const char *verb;
    int kind;
};

TEST(SqlProcess, VerbAndKind) {
    const VerbCase cases[] = {
        {u"select 1", "select", SPK_VERB_SELECT},
        {u"  SELECT\t1", "SELECT", SPK_VERB_SELECT},
        {u"SET a=1", "SET", SPK_VERB_SET},
        {u"delete from t", "delete", SPK_VERB_DELETE},
        {u"describe t", "describe", SPK_VERB_DELETE},
        {u"desc t", "desc", SPK_VERB_DELETE},
        {u"drop table t", "drop", SPK_VERB_DELETE},
        {u"update t set a=1", "update", SPK_VERB_UPDATE},
        {u"insert into t values (1)", "insert", SPK_VERB_INSERT},
        {u"if", "if", SPK_VERB_INSERT},
        {u"with x as (select 1) select * from x", "with", SPK_VERB_OTHER},
        {u"show tables", "show", SPK_VERB_OTHER},
        {u"(select 1)", "(select", SPK_VERB_OTHER},
        {u"{call p(?)}", "call", SPK_VERB_OTHER},
        {u"-- note\nselect 1", "select", SPK_VERB_SELECT},
        {u"/* note */ update t set a = 1", "update", SPK_VERB_UPDATE},
        {u"sel/**/ect 1", "sel", SPK_VERB_SELECT},
        {u"select\u00e9 1", "select", SPK_VERB_SELECT},
        {u"\u00e9select 1", "", SPK_VERB_OTHER},
        {u"", "", SPK_VERB_OTHER},
        {u"   ", "", SPK_VERB_OTHER},
        {std::u16string(100, u'x'), "xxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxxx", SPK_VERB_OTHER},
    };
    for (const VerbCase &c : cases) {
        Processed p(c.in);
        EXPECT_STREQ(p.scan.verb_text, c.verb) << ascii(c.in);
        EXPECT_EQ(p.scan.verb, c.kind) << ascii(c.in);
    }
    EXPECT_EQ(spk_sql_verb_kind(nullptr), SPK_VERB_OTHER);
    EXPECT_EQ(spk_sql_verb_kind("UPSERT"), SPK_VERB_UPDATE);
    EXPECT_EQ(spk_sql_verb_kind("u"), SPK_VERB_OTHER);
}

// ---------------------------------------------------------------------------
// Clause keywords

struct OffsetCase {
    std::u16string in;
    int where, from, into, set, group, having, order, values, limit;
    long long existing_limit;
};

TEST(SqlProcess, ClauseOffsets) {
    const OffsetCase cases[] = {
        {u"select a from t where b = 1 group by a having count(*) > 1 order by a limit 10",
         15, 8, -1, -1, 27, 38, 58, -1, 69, 10},
        // Only top-level keywords count: the inner FROM is inside parentheses.
        {u"SELECT (SELECT max(a) FROM u) FROM t WHERE b = ?", 36, 29, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select * /* where ? */ from t", -1, 9, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select * from t -- where ?", -1, 8, -1, -1, -1, -1, -1, -1, -1, -1},
        // Keywords inside literals and identifiers do not count.
        {u"select 'from', \"where\", `limit` from t", -1, 31, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select a.from, from_x, xfrom, `a`from t", -1, 32, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select*from t", -1, 6, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select a from t where(a=1)", 15, 8, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select :from, @where, $limit from t", -1, 28, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"insert into t (a, b) values (?, ?)", -1, -1, 6, -1, -1, -1, -1, 20, -1, -1},
        {u"insert into t(a,b)values(?,?)", -1, -1, 6, -1, -1, -1, -1, 17, -1, -1},
        {u"update t set a = ?, b = ? where c = ?", 25, -1, -1, 8, -1, -1, -1, -1, -1, -1},
        {u"select a from (select b from u where c = 1 limit 5) x limit ?", -1, 8, -1, -1, -1, -1, -1, -1, 53, -1},
        {u"select a from t limit 99999999999999999999", -1, 8, -1, -1, -1, -1, -1, -1, 15, -1},
        {u"select a from t limit 5x", -1, 8, -1, -1, -1, -1, -1, -1, 15, -1},
        {u"select a from t LIMIT\n7;", -1, 8, -1, -1, -1, -1, -1, -1, 15, 7},
        {u"select {fn f(a from b)} from t", -1, 18, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select a from t where b = '\U0001F600' and c = ?", 15, 8, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select a fromage from t", -1, 16, -1, -1, -1, -1, -1, -1, -1, -1},
        {u"select a from\u00e9 from t", -1, 14, -1, -1, -1, -1, -1, -1, -1, -1},
    };
    for (const OffsetCase &c : cases) {
        Processed p(c.in);
        const SpkSqlScan &s = p.scan;
        SCOPED_TRACE(ascii(c.in));
        EXPECT_EQ(s.where_offset, c.where);
        EXPECT_EQ(s.from_offset, c.from);
        EXPECT_EQ(s.into_offset, c.into);
        EXPECT_EQ(s.set_offset, c.set);
        EXPECT_EQ(s.group_offset, c.group);
        EXPECT_EQ(s.having_offset, c.having);
        EXPECT_EQ(s.order_offset, c.order);
        EXPECT_EQ(s.values_offset, c.values);
        EXPECT_EQ(s.limit_offset, c.limit);
        EXPECT_EQ(s.existing_limit, c.existing_limit);
    }
}

// The offsets point into the processed text, after comments went and
// escapes were rewritten.
TEST(SqlProcess, OffsetsRefertoProcessedText) {
    Processed p(u"select {ts '2020-01-01 00:00:00'} /* x */ from t /* y */ where a = ?");
    EXPECT_EQ(ascii(p.out), "select TIMESTAMP '2020-01-01 00:00:00'  from t  where a = ?");
    ASSERT_GT(p.scan.from_offset, 0);
    EXPECT_EQ(ascii(p.out.substr(p.scan.from_offset, 6)), " from ");
    ASSERT_GT(p.scan.where_offset, 0);
    EXPECT_EQ(ascii(p.out.substr(p.scan.where_offset, 7)), " where ");
    EXPECT_EQ(p.positions(), std::vector<int>{(int)p.out.size() - 1});
}

// ---------------------------------------------------------------------------
// Does the statement leave a cursor?

struct RowsCase {
    std::u16string in;
    int rows;
};

TEST(SqlReturnsRows, ClassifiesOnFirstKeyword) {
    const RowsCase cases[] = {
        {u"SELECT 1", 1},
        {u"select 1", 1},
        {u"WITH x AS (SELECT 1) SELECT * FROM x", 1},
        {u"SHOW TABLES", 1},
        {u"DESCRIBE t", 1},
        {u"desc t", 1},
        {u"EXPLAIN SELECT 1", 1},
        {u"VALUES (1), (2)", 1},
        {u"TABLE t", 1},
        {u"FROM t SELECT a", 1},
        {u"(SELECT 1) UNION (SELECT 2)", 1},
        {u"  ((select 1))", 1},
        {u"\uFEFF select 1", 1},
        {u"-- c\n/* d /* nested */ */ ( select 1)", 1},
        {u"/*+ hint */ select 1", 1},
        {u"LIST FILE", 1},
        {u"frobnicate", 1},
        {u"{call p(?)}", 1},
        {u"INSERT INTO t VALUES (1)", 0},
        {u"insert overwrite table t select 1", 0},
        {u"FROM src INSERT OVERWRITE TABLE dst SELECT *", 0},
        {u"FROM src SELECT *", 1},
        {u"UPDATE t SET a = 1", 0},
        {u"DELETE FROM t", 0},
        {u"MERGE INTO t USING u ON t.a = u.a WHEN MATCHED THEN DELETE", 0},
        {u"SET spark.sql.x = 1", 1},   // answered with its key/value row
        {u"CREATE TABLE t (a INT)", 0},
        {u"DROP TABLE t", 0},
        {u"ALTER TABLE t ADD COLUMNS (b INT)", 0},
        {u"TRUNCATE TABLE t", 0},
        {u"USE db", 0},
        {u"CACHE TABLE t", 0},
        {u"UNCACHE TABLE t", 0},
        {u"REFRESH TABLE t", 0},
        {u"ANALYZE TABLE t COMPUTE STATISTICS", 0},
        {u"MSCK REPAIR TABLE t", 0},
        {u"ADD JAR x.jar", 0},
        {u"RESET", 0},
        {u"GRANT SELECT ON t TO u", 0},
        {u"REVOKE SELECT ON t FROM u", 0},
        {u"LOAD DATA INPATH 'x' INTO TABLE t", 0},
        {u"/* c */ (insert into t values (1))", 0},
        // A WITH is decided by the statement after its definitions.
        {u"WITH x (a) AS (SELECT 1), y AS (SELECT ')') INSERT INTO t SELECT * FROM x", 0},
        {u"with x as (select 1) /* c */ select * from x", 1},
        {u"WITH x AS (SELECT 1) (SELECT * FROM x)", 1},
        {u"WITH", 1},
        {u"selected", 1},
        {u"inserted", 1},
        {u"", 0},
        {u"  -- only a comment", 0},
        {u"/* unterminated", 0},
        {u"(((", 0},
    };
    for (const RowsCase &c : cases) {
        SpkString *s = make(c.in);
        EXPECT_EQ(spk_sql_returns_rows(s), c.rows) << ascii(c.in);
        Processed p(c.in);
        EXPECT_EQ(p.scan.returns_rows, c.rows) << ascii(c.in);
        spk_str_free(s);
    }
    EXPECT_EQ(spk_sql_returns_rows(nullptr), 0);
}

// Only what reads may be sent to describe it before it runs, and the
// LIMIT 0 of that describe lands after the last token.
TEST(SqlDescribable, QueriesByTheirTextAndWhereTheyEnd) {
    struct Case {
        const char16_t *in;
        int query;
        const char16_t *body;   // the text up to its last token
    } cases[] = {
        {u"SELECT 1", 1, u"SELECT 1"},
        {u"SELECT 1 -- note", 1, u"SELECT 1"},
        {u"SELECT 1;", 1, u"SELECT 1"},
        {u"SELECT 1 ; -- a\n /* b */ ;\n", 1, u"SELECT 1"},
        {u"SELECT ';' AS x -- 'quoted'", 1, u"SELECT ';' AS x"},
        {u"SELECT `a;b` FROM t;", 1, u"SELECT `a;b` FROM t"},
        {u"with x as (select 1) select * from x", 1, nullptr},
        {u"WITH x AS (SELECT 1) INSERT INTO t SELECT * FROM x", 0, nullptr},
        {u"FROM src SELECT *", 1, nullptr},
        {u"FROM src INSERT OVERWRITE TABLE dst SELECT *", 0, nullptr},
        {u"VALUES (1), (2)", 1, nullptr},
        {u"TABLE t", 1, nullptr},
        {u"SHOW TABLES", 1, nullptr},
        {u"DESCRIBE t", 1, nullptr},
        {u"EXPLAIN SELECT 1", 1, nullptr},
        {u"SET spark.sql.ansi.enabled", 0, nullptr},
        {u"INSERT INTO t VALUES (1)", 0, nullptr},
        {u"CACHE TABLE t", 0, nullptr},
        {u"CALL p(1)", 0, nullptr},
        {u"(SELECT 1)", 1, nullptr},
        {u"", 0, u""},
    };
    for (const Case &c : cases) {
        SpkString *s = make(c.in);
        EXPECT_EQ(spk_sql_is_query(s), c.query) << ascii(c.in);
        if (c.body) {
            SpkString *b = make(c.body);
            EXPECT_EQ(spk_sql_statement_end(s), spk_str_length(b)) << ascii(c.in);
            spk_str_free(b);
        }
        spk_str_free(s);
    }
}

// ---------------------------------------------------------------------------
// The derived parameter query

struct DescribeCase {
    std::u16string in;
    const char *sql;       // null: no query
    const char *sqlstate;  // posted when there is no query ("" for none)
};

TEST(SqlDescribeParam, BuildsQueries) {
    const DescribeCase cases[] = {
        {u"select a from t where b = ? and c like ?",
         "select b,CAST( '' AS VARCHAR( 8000 )) AS ParamAsLike from t ", ""},
        {u"insert into t (a, b) values (?, ?)", "select a, b from  t ", ""},
        {u"insert into t values (?)", "select * from  t", ""},
        {u"insert into t(a,b)values(?,?)", "select a,b from  t", ""},
        {u"insert t values (?)", "select * from t", ""},
        {u"insert into table db.t (a) values (?)", "select a from  db.t ", ""},
        {u"insert overwrite table t values (?)", "select * from  t", ""},
        {u"insert into `my t` partition (p = 'x') (a, b) values (?, ?)", "select a, b from  `my t`", ""},
        {u"insert into `my t` values (?)", "select * from  `my t`", ""},
        // Each SET assignment describes its own marker.
        {u"update t set a = ?, b = ? where c = ?", "select a,b,c from  t", ""},
        {u"update t set a = @P1, b = @P2 where c = ? and d = ?", "select a,b from  t", ""},
        {u"update t set a = @P9 where b = ?", "select b from  t", ""},
        {u"update t set a = 1, b = ?", "select b from  t", ""},
        {u"update t set a = coalesce(?, 0), b = f(1, 2) where c in (?, ?)", "select a,c,c from  t", ""},
        {u"delete from t where a = ? and b <> ?", "select a,b from t ", ""},
        // Markers that no predicate describes take the next described one.
        {u"select a from t join u on t.x = ? where b = ?", "select b,b from t join u on t.x = ? ", ""},
        {u"select a from t where a between ? and ? or b in (?, ?, ?)", "select a,a,b,b,b from t ", ""},
        {u"select a from t where a not in (?, ?) and b not like ?",
         "select a,a,CAST( '' AS VARCHAR( 8000 )) AS ParamAsLike from t ", ""},
        {u"select a from t where ? = b", "select b from t ", ""},
        {u"select a from t where (? = b) and c = ?", "select b,c from t ", ""},
        {u"select a from t where ? between lo and hi", "select lo from t ", ""},
        {u"select a from t where (a = ? or b = ?) and c <=> ?", "select a,b,c from t ", ""},
        {u"select a from t where (x and y = ?)", "select y from t ", ""},
        {u"select a from t where f(a and b) = ?", "select f(a and b) from t ", ""},
        {u"select a from t where (a + b) * 2 >= ?", "select (a + b) * 2 from t ", ""},
        {u"select a from t where x = 1 and (a = ?)", "select a from t ", ""},
        {u"select a from t where a = ? and c in (select c from u where d = ?) and e = ?",
         "select a,e,e from t ", ""},
        {u"select a from t where a = ? group by a order by a", "select a from t ", ""},
        {u"select a from t where a = ? limit 10", "select a from t ", ""},
        {u"select a from t where a = '=' and b = ?", "select b from t ", ""},
        {u"select a from t where \"a b\" = ?", "select \"a b\" from t ", ""},
        {u"select a from t where `a = ?` = ?", "select `a = ?` from t ", ""},
        {u"select a from t where a = ? /* and b = ? */", "select a from t ", ""},
        {u"select a from t where a = {d '2020-01-01'} and b = ?", "select b from t ", ""},
        // Failures.
        {u"select ? from t where a = ?", nullptr, "07009"},
        {u"select ?", nullptr, "07009"},
        {u"select a from t limit ?", nullptr, "42000"},
        {u"select a from t where a = b = ?", nullptr, "42000"},
        {u"select a from t where ? and a = 1", nullptr, "42000"},
        {u"select a from t where ? in (1, 2)", nullptr, "42000"},
        {u"select a from t where (a = ?", nullptr, "42000"},
        {u"select a from t where a = ?)", nullptr, "42000"},
        {u"select a from t where a = ? union select b from u", nullptr, "42000"},
        {u"select a from t where f(?)", nullptr, "42000"},
        {u"select a from t where = ?", nullptr, "42000"},
        {u"update t set a = ?, b where c = 1", nullptr, "42000"},
        {u"update t set a = b = ?", nullptr, "42000"},
        {u"update t set a = (?", nullptr, "42000"},
        {u"insert into t () values (?)", nullptr, "42000"},
        {u"insert into t (a, b values (?)", nullptr, "42000"},
        {u"insert into t select ?", nullptr, "42000"},
        {u"show tables like ?", nullptr, "42000"},
        {u"{call p(?)}", nullptr, "42000"},
        // No markers: nothing to describe, nothing posted.
        {u"select a from t where b = 1", nullptr, ""},
        {u"", nullptr, ""},
    };
    for (const DescribeCase &c : cases) {
        SCOPED_TRACE(ascii(c.in));
        Processed p(c.in);
        SpkString *processed = make(p.out);
        FakeStatement st;
        SpkString *sql = spk_describe_param_sql(st.ptr(), processed);
        if (c.sql) {
            EXPECT_NE(sql, nullptr) << st.message();
            EXPECT_EQ(ascii(text(sql)), c.sql);
            EXPECT_EQ(spk_error_count(st.ptr()), 0);
        } else {
            EXPECT_EQ(sql, nullptr) << ascii(text(sql));
            EXPECT_EQ(st.state(), c.sqlstate);
        }
        spk_str_free(sql);
        spk_str_free(processed);
    }
    EXPECT_EQ(spk_describe_param_sql(nullptr, nullptr), nullptr);
}

TEST(SqlDescribeParam, DiagnosticTexts) {
    FakeStatement a, b;
    Processed p(u"select a from t where a = b = ?");
    SpkString *s = make(p.out);
    EXPECT_EQ(spk_describe_param_sql(a.ptr(), s), nullptr);
    EXPECT_EQ(a.message(), "[Quillmark][Tarnwell]Syntax error or access violation");
    spk_str_free(s);

    Processed q(u"select ? from t where a = ?");
    s = make(q.out);
    EXPECT_EQ(spk_describe_param_sql(b.ptr(), s), nullptr);
    EXPECT_EQ(b.state(), "07009");
    EXPECT_EQ(b.message(), "[Quillmark][Tarnwell]Invalid descriptor index");
    spk_str_free(s);
}

// The derived query is itself a processed text that scans cleanly.
TEST(SqlDescribeParam, DerivedQueryScans) {
    Processed p(u"select a from t where b = ? and c like ?");
    SpkString *s = make(p.out);
    SpkString *sql = spk_describe_param_sql(nullptr, s);
    ASSERT_NE(sql, nullptr);
    Processed d(text(sql));
    EXPECT_TRUE(d.out == text(sql));
    EXPECT_EQ(d.scan.param_count, 0);
    EXPECT_EQ(d.scan.verb, SPK_VERB_SELECT);
    EXPECT_EQ(d.scan.from_offset, 52);
    spk_str_free(sql);
    spk_str_free(s);
}

// ---------------------------------------------------------------------------
// The list scanners on their own

struct ListCase {
    bool where;
    std::u16string in;   // processed text; the slice starts after the first '|'
    int counter_in;
    const char *list;    // null: the scanner fails
    int counter_out;
};

TEST(SqlParamLists, ScanSlices) {
    const ListCase cases[] = {
        {true, u"x|a = ? and b > ?", 0, "a,b", 2},
        {true, u"x|a = ? and b > ?", 1, "b", 2},
        {true, u"x|a = ? and b > ?", 2, "", 2},
        {true, u"x|a like ?", 0, "CAST( '' AS VARCHAR( 8000 )) AS ParamAsLike", 1},
        {true, u"x|  spaced   =   ?  ", 0, "spaced", 1},
        {true, u"x|a in (?, (?))", 0, "a,a", 2},
        {true, u"x|a = ? and a = ? = 1", 0, nullptr, 0},
        {true, u"x|a = (select max(b) from u where c = ?) and d = ?", 0, "d,d", 2},
        {true, u"x|(select 1) = ?", 0, "(select 1)", 1},
        {true, u"x|select", 0, nullptr, 0},
        {true, u"x|a = ? /* unterminated ) ?", 0, "a", 1},
        {true, u"x|a = 'unterminated ?", 0, "", 0},
        {false, u"x|a = ?, b = ?", 0, "a,b", 2},
        {false, u"x|a = @P2, b = ?, c = ?", 0, "a,a", 2},
        {false, u"x|a = @P3, b = ?, c = ?", 0, "b,c", 2},
        {false, u"x|a = f(?, ?), b = 1", 0, "a,a", 2},
        {false, u"x|a = 1", 0, "", 0},
        {false, u"x|a", 0, nullptr, 0},
        {false, u"x|a = ?)", 0, nullptr, 0},
        {false, u"x|a = @P99999999999, b = ?", 0, "b", 1},
    };
    for (const ListCase &c : cases) {
        SCOPED_TRACE(ascii(c.in));
        Processed p(c.in);
        SpkString *s = make(p.out);
        int start = (int)p.out.find(u'|') + 1;
        SpkString *list = nullptr;
        int32_t counter = c.counter_in;
        int rc = c.where ? spk_where_param_columns(s, p.scan.markers, start, (int)p.out.size(), &list, &counter)
                         : spk_set_param_columns(s, p.scan.markers, start, (int)p.out.size(), &list, &counter);
        if (c.list) {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(ascii(text(list)), c.list);
            EXPECT_EQ(counter, c.counter_out);
        } else {
            EXPECT_EQ(rc, -1);
            EXPECT_EQ(list, nullptr);
            EXPECT_EQ(counter, c.counter_in);
        }
        spk_str_free(list);
        spk_str_free(s);
    }
}

TEST(SqlParamLists, AppendsToAnExistingList) {
    Processed p(u"update t set a = ? where b = ?");
    SpkString *s = make(p.out);
    SpkString *list = nullptr;
    int32_t counter = 0;
    ASSERT_EQ(spk_set_param_columns(s, p.scan.markers, p.scan.set_offset + 4, p.scan.where_offset, &list, &counter), 0);
    ASSERT_EQ(spk_where_param_columns(s, p.scan.markers, p.scan.where_offset + 6, (int)p.out.size(), &list, &counter), 0);
    EXPECT_EQ(ascii(text(list)), "a,b");
    EXPECT_EQ(counter, 2);
    // Bad slices are refused.
    EXPECT_EQ(spk_where_param_columns(s, p.scan.markers, 5, 2, &list, &counter), -1);
    EXPECT_EQ(spk_where_param_columns(s, p.scan.markers, 0, (int)p.out.size() + 1, &list, &counter), -1);
    EXPECT_EQ(spk_where_param_columns(nullptr, p.scan.markers, 0, 0, &list, &counter), -1);
    EXPECT_EQ(ascii(text(list)), "a,b");
    spk_str_free(list);
    spk_str_free(s);
}

// ODBC scalar functions: each translation, and every function the driver
// translates has a case (the same table runs on a real server).
TEST(SqlProcess, FunctionEscapes) {
    for (const TarnFnCase &c : TARN_FN_CASES) {
        std::u16string in(c.escape, c.escape + strlen(c.escape));
        Processed p(u"SELECT " + in + u", ?");
        EXPECT_EQ(ascii(p.out), std::string("SELECT ") + c.translated + ", ?");
        ASSERT_EQ(p.positions().size(), 1u);
        EXPECT_EQ((size_t)p.positions()[0], p.out.size() - 1);
    }
    for (const SpkFnEscape *f = spk_fn_escapes(); f->name; f++) {
        bool covered = false;
        for (const TarnFnCase &c : TARN_FN_CASES) {
            std::string e = c.escape;
            for (char &ch : e) ch = (char)tolower((unsigned char)ch);
            if (e.rfind(std::string("{fn ") + f->name + "(", 0) == 0) covered = true;
        }
        EXPECT_TRUE(covered) << f->name;
    }
}

// SQL_ATTR_NOSCAN: the text goes out exactly as written; markers and clause
// keywords are still found.
TEST(SqlProcess, NoScanSendsTextAsWritten) {
    const std::u16string texts[] = {
        u"  select {fn ucase(a)}, {d '2020-01-01'} /* c */ from t where b = ? -- x",
        u"\uFEFFselect 1 /* open",
        u"{call p(?)}",
    };
    for (const std::u16string &t : texts) {
        SpkSqlScan scan;
        spk_sql_scan_init(&scan);
        SpkString *s = make(t);
        SpkString *r = spk_process_sql(nullptr, s, &scan, 1);
        ASSERT_NE(r, nullptr);
        EXPECT_TRUE(text(r) == t) << ascii(t);
        for (const SpkMarker *m = scan.markers; m; m = m->next) EXPECT_EQ(t[m->position], u'?');
        spk_str_free(r);
        spk_str_free(s);
        spk_sql_scan_clear(&scan);
    }
    Processed scanned(texts[0]);
    EXPECT_EQ(ascii(scanned.out), "select upper(a), DATE '2020-01-01'  from t where b = ? -- x");
    EXPECT_GT(scanned.scan.where_offset, 0);
}

// ---------------------------------------------------------------------------
// Robustness: every prefix of awkward texts scans without reading past its
// end (exact-length buffers under the address sanitizer) and keeps its
// invariants.

TEST(SqlProcess, EveryPrefixOfAwkwardTexts) {
    const std::u16string texts[] = {
        u"select \"a\"\"b`\", 'c''d\\'e', `f``g`, {d '2020-01-01'}, {ts'x'}, {fn f({t '1'})} /*+ h */ "
        u"/* a /* b */ c */ -- d\n from t where a = ? and b like ? limit 5",
        u"\uFEFF\U0001F600{\U0001F600'\U0001F600\"\U0001F600`\U0001F600?--\U0001F600/*\U0001F600*/",
        u"update t set a = @P1, b = ? where (c = ? or ? = d) and e in (select f from g where h = ?)",
        u"insert into `t` partition (p = '(') (a, b) values (?, {d '2020-01-01'})",
    };
    for (const std::u16string &t : texts) {
        for (size_t n = 0; n <= t.size(); n++) {
            std::u16string prefix = t.substr(0, n);
            Processed p(prefix);
            ASSERT_TRUE(p.ok);
            // A surrogate pair is never split: every high surrogate of the
            // output is followed by a low one unless the input ended there.
            for (size_t k = 0; k + 1 < p.out.size(); k++) {
                if (p.out[k] >= 0xD800 && p.out[k] < 0xDC00) {
                    EXPECT_TRUE(p.out[k + 1] >= 0xDC00 && p.out[k + 1] < 0xE000);
                }
            }
            for (const SpkMarker *m = p.scan.markers; m; m = m->next) ASSERT_EQ(p.out[m->position], u'?');
            SpkString *s = make(p.out);
            FakeStatement st;
            SpkString *sql = spk_describe_param_sql(st.ptr(), s);
            spk_str_free(sql);
            spk_str_free(s);
            SpkString *raw = make(prefix);
            spk_sql_returns_rows(raw);
            spk_str_free(raw);
        }
    }
}

// Many markers: one pass each, and every marker described.
TEST(SqlDescribeParam, LargeInList) {
    const int n = 20000;
    std::u16string in = u"select a from t where a in (";
    for (int k = 0; k < n; k++) in += k ? u", ?" : u"?";
    in += u") and b = ?";
    Processed p(in);
    ASSERT_EQ(p.scan.param_count, n + 1);
    SpkString *s = make(p.out);
    SpkString *sql = spk_describe_param_sql(nullptr, s);
    ASSERT_NE(sql, nullptr);
    std::string want = "select a";
    for (int k = 1; k < n; k++) want += ",a";
    want += ",b from t ";
    EXPECT_TRUE(ascii(text(sql)) == want);
    spk_str_free(sql);
    spk_str_free(s);
}

// ---------------------------------------------------------------------------
// Trace records, on a real statement handle writing to a file.

TEST(SqlTrace, ScanAndDescribeAreTraced) {
    char tmpl[] = "/tmp/tarn_sql_XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    std::string path = std::string(tmpl) + "/trace.log";
    SpkEnvironment *env = spk_env_new();
    SpkConnection *conn = spk_conn_new(env, 3);
    SpkStatement *stmt = spk_stmt_new(conn);
    snprintf(conn->log_file, sizeof conn->log_file, "%s", path.c_str());
    conn->log_flags = stmt->log_flags = LOG_DETAIL | LOG_PKTDUMP;

    SpkSqlScan scan;
    spk_sql_scan_init(&scan);
    SpkString *in = make(u"select a from t where b = ? and c like ?");
    SpkString *out = spk_process_sql(stmt, in, &scan);
    ASSERT_NE(out, nullptr);
    SpkString *sql = spk_describe_param_sql(stmt, out);
    ASSERT_NE(sql, nullptr);
    SpkString *bad = make(u"select ? from t where a = ?");
    EXPECT_EQ(spk_describe_param_sql(stmt, bad), nullptr);
    EXPECT_EQ(spk_error_count(stmt), 1);

    std::ifstream f(path);
    std::stringstream all;
    all << f.rdbuf();
    std::string log = all.str();
    for (const char *want :
         {"at start of spk_process_sql input string 'select a from t where b = ? and c like ?'",
          "at end of spk_process_sql output string", "initial verb 'select', from_offset=8, where_offset=15",
          "parameter count=2", "describe param string = select b,CAST( '' AS VARCHAR( 8000 )) AS ParamAsLike from t",
          "param_count=2, type=1, where_offset=15, from_offset=8, set_offset=-1, values_offset=-1",
          "malformed query (param before from)"}) {
        EXPECT_NE(log.find(want), std::string::npos) << want << "\n" << log;
    }
    for (SpkString *x : {in, out, sql, bad}) spk_str_free(x);
    spk_sql_scan_clear(&scan);
    spk_stmt_free(stmt, true);
    spk_conn_free(conn, true);
    spk_env_free(env);
    unlink(path.c_str());
    rmdir(tmpl);
}

}  // namespace
