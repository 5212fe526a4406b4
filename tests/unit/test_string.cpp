// Driver strings: constructors, UTF-8 both ways, the brace-aware scanners,
// the string builder and the three writers that copy text into application
// buffers (checked with guard bytes around every buffer).
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/spk_err.h"
#include "spk_string.h"

namespace {

using Units = std::vector<spk_unit>;

Units units_of(const SpkString *s) {
    if (!s || !s->units) return {};
    return Units(s->units, s->units + s->length);
}

Units ascii(const char *text) {
    Units u;
    while (*text) u.push_back((unsigned char)*text++);
    return u;
}

struct StrPtr {
    SpkString *s;
    explicit StrPtr(SpkString *p) : s(p) {}
    ~StrPtr() { spk_str_free(s); }
    StrPtr(const StrPtr &) = delete;
    StrPtr &operator=(const StrPtr &) = delete;
};

std::string hex(const std::string &bytes) {
    std::string out;
    char b[4];
    for (unsigned char c : bytes) {
        snprintf(b, sizeof b, "%02X ", c);
        out += b;
    }
    return out;
}

// ---------------------------------------------------------------------------
// UTF-8 decoding

struct DecodeCase {
    const char *name;
    std::string bytes;
    long n;          // SQL_NTS or a count
    Units expected;
};

class Utf8Decode : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(Utf8Decode, GivesUnits) {
    const DecodeCase &c = GetParam();
    // The bytes live in a heap block of exactly their size (plus the NUL for
    // SQL_NTS cases), so reading past the count is caught by the sanitizer.
    size_t size = c.n == SQL_NTS ? c.bytes.size() + 1 : (size_t)c.n;
    char *block = static_cast<char *>(malloc(size ? size : 1));
    memcpy(block, c.bytes.data(), size < c.bytes.size() ? size : c.bytes.size());
    if (c.n == SQL_NTS) block[c.bytes.size()] = 0;
    StrPtr s(spk_str_from_utf8(block, c.n));
    free(block);
    ASSERT_NE(s.s, nullptr);
    EXPECT_EQ(units_of(s.s), c.expected);
    EXPECT_EQ(s.s->borrowed, 0u);
}

const spk_unit R = 0xFFFD;

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Decode,
    ::testing::Values(
        DecodeCase{"ascii", "abc", SQL_NTS, ascii("abc")},
        DecodeCase{"two_byte", "\xC3\xA9", SQL_NTS, {0x00E9}},
        DecodeCase{"three_byte", "\xE2\x82\xAC", SQL_NTS, {0x20AC}},
        DecodeCase{"four_byte_to_pair", "\xF0\x9F\x98\x80", SQL_NTS, {0xD83D, 0xDE00}},
        DecodeCase{"highest_code_point", "\xF4\x8F\xBF\xBF", SQL_NTS, {0xDBFF, 0xDFFF}},
        DecodeCase{"range_ends", "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF", SQL_NTS,
                   {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF}},
        DecodeCase{"stray_continuation", "\x80" "a", SQL_NTS, {R, 'a'}},
        DecodeCase{"missing_continuation", "\xE2" "A", SQL_NTS, {R, 'A'}},
        DecodeCase{"truncated_at_nul", "\xE2\x82", SQL_NTS, {R, R}},
        DecodeCase{"truncated_by_count", "\xE2\x82\xAC", 2, {R, R}},
        DecodeCase{"four_byte_cut_by_count", "x\xF0\x9F\x98\x80", 4, {'x', R, R, R}},
        DecodeCase{"overlong_quote", "\xC0\xA7", SQL_NTS, {R, R}},
        DecodeCase{"overlong_three_byte", "\xE0\x80\xAF", SQL_NTS, {R, R, R}},
        DecodeCase{"encoded_surrogate", "\xED\xA0\x80", SQL_NTS, {R, R, R}},
        DecodeCase{"above_unicode", "\xF4\x90\x80\x80", SQL_NTS, {R, R, R, R}},
        DecodeCase{"five_byte_lead", "\xF8\x88\x80\x80\x80", SQL_NTS, {R, R, R, R, R}},
        DecodeCase{"lead_ff", "\xFF" "b", SQL_NTS, {R, 'b'}},
        DecodeCase{"embedded_zero_counted", std::string("a\0b", 3), 3, {'a', 0, 'b'}},
        DecodeCase{"nts_stops_at_zero", std::string("a\0b", 3), SQL_NTS, {'a'}},
        DecodeCase{"zero_count", "abc", 0, {}}),
    [](const ::testing::TestParamInfo<DecodeCase> &i) { return std::string(i.param.name); });

TEST(Utf8, NullSourceAndBadLengths) {
    EXPECT_EQ(spk_str_from_utf8(nullptr, SQL_NTS), nullptr);
    EXPECT_EQ(spk_str_from_utf8("abc", -1), nullptr);
    EXPECT_EQ(spk_str_from_utf8("abc", -100), nullptr);
    StrPtr empty(spk_str_from_utf8("", SQL_NTS));
    ASSERT_NE(empty.s, nullptr);
    EXPECT_EQ(spk_str_length(empty.s), 0);
    EXPECT_TRUE(spk_text_length_ok(SQL_NTS));
    EXPECT_TRUE(spk_text_length_ok(0));
    EXPECT_FALSE(spk_text_length_ok(-1));
}

TEST(Utf8, SequenceLength) {
    struct {
        unsigned char lead;
        int n;
    } cases[] = {{0x00, 1}, {0x7F, 1}, {0x80, 1}, {0xBF, 1}, {0xC2, 2}, {0xDF, 2},
                 {0xE0, 3}, {0xEF, 3}, {0xF0, 4}, {0xF4, 4}};
    for (auto &c : cases) EXPECT_EQ(spk_utf8_sequence_length(c.lead), c.n) << (int)c.lead;
}

// ---------------------------------------------------------------------------
// UTF-8 encoding

struct EncodeCase {
    const char *name;
    Units units;
    std::string bytes;
};

class Utf8Encode : public ::testing::TestWithParam<EncodeCase> {};

TEST_P(Utf8Encode, GivesBytes) {
    const EncodeCase &c = GetParam();
    StrPtr s(spk_str_from_wide(c.units.data(), (long)c.units.size()));
    ASSERT_NE(s.s, nullptr);
    size_t len = 99;
    char *out = spk_str_to_utf8_n(s.s, &len);
    ASSERT_NE(out, nullptr);
    EXPECT_EQ(hex(std::string(out, len)), hex(c.bytes));
    EXPECT_EQ(out[len], 0);
    EXPECT_EQ(spk_str_utf8_length(s.s), c.bytes.size());
    free(out);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, Utf8Encode,
    ::testing::Values(
        EncodeCase{"euro", {0x20AC}, "\xE2\x82\xAC"},
        EncodeCase{"range_ends", {0x7F, 0x80, 0x7FF, 0x800, 0xFFFF},
                   "\x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xEF\xBF\xBF"},
        EncodeCase{"pair_is_one_sequence", {0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        EncodeCase{"lone_high_then_ascii", {0xD83D, 'a'}, "\xEF\xBF\xBD" "a"},
        EncodeCase{"lone_high_at_end", {'a', 0xD800}, "a\xEF\xBF\xBD"},
        EncodeCase{"lone_low", {0xDE00}, "\xEF\xBF\xBD"},
        EncodeCase{"reversed_pair", {0xDE00, 0xD83D}, "\xEF\xBF\xBD\xEF\xBF\xBD"},
        EncodeCase{"embedded_zero", {'a', 0, 'b'}, std::string("a\0b", 3)}),
    [](const ::testing::TestParamInfo<EncodeCase> &i) { return std::string(i.param.name); });

TEST(Utf8, EveryCodePointRoundTrips) {
    Units all;
    for (uint32_t cp = 1; cp <= 0x10FFFF; cp += (cp < 0x10000 ? 1 : 37)) {
        if (cp >= 0xD800 && cp <= 0xDFFF) continue;
        if (cp >= 0x10000) {
            all.push_back((spk_unit)(0xD800 + ((cp - 0x10000) >> 10)));
            all.push_back((spk_unit)(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            all.push_back((spk_unit)cp);
        }
    }
    StrPtr s(spk_str_from_wide(all.data(), (long)all.size()));
    char *bytes = spk_str_to_utf8(s.s);
    ASSERT_NE(bytes, nullptr);
    StrPtr back(spk_str_from_utf8(bytes, SQL_NTS));
    free(bytes);
    EXPECT_TRUE(units_of(back.s) == all);
}

TEST(Strings, NarrowingKeepsLowByte) {
    spk_unit euro = 0x20AC;
    StrPtr s(spk_str_from_wide(&euro, 1));
    char *latin = spk_str_to_latin1(s.s);
    EXPECT_EQ(hex(latin), "AC ");
    free(latin);
    StrPtr empty(spk_str_alloc(0));
    latin = spk_str_to_latin1(empty.s);
    EXPECT_STREQ(latin, "");
    free(latin);
    char *utf8 = spk_str_to_utf8(empty.s);
    EXPECT_STREQ(utf8, "");
    free(utf8);
    EXPECT_EQ(spk_str_to_latin1(nullptr), nullptr);
    EXPECT_EQ(spk_str_to_utf8(nullptr), nullptr);
}

// ---------------------------------------------------------------------------
// Constructors

TEST(Strings, FromWide) {
    const spk_unit five[] = {'h', 'e', 'l', 'l', 'o', 0, 'x'};
    StrPtr a(spk_str_from_wide(five, SQL_NTS));
    EXPECT_EQ(units_of(a.s), ascii("hello"));
    StrPtr b(spk_str_from_wide(five, 0));
    ASSERT_NE(b.s, nullptr);
    EXPECT_EQ(spk_str_length(b.s), 0);
    EXPECT_EQ(spk_str_units(b.s), nullptr);
    EXPECT_EQ(spk_str_from_wide(nullptr, SQL_NTS), nullptr);
    EXPECT_EQ(spk_str_from_wide(five, -7), nullptr);
    StrPtr c(spk_str_from_wide(five, 7));   // counted: the zero unit is kept
    EXPECT_EQ(spk_str_length(c.s), 7);
    EXPECT_EQ(spk_str_bytes(c.s), 14);
    StrPtr t(spk_str_from_text(five, SQL_NTS, 0));
    EXPECT_EQ(units_of(t.s), ascii("hello"));
    StrPtr u(spk_str_from_text("h\xC3\xA9", SQL_NTS, 1));
    EXPECT_EQ(units_of(u.s), (Units{'h', 0xE9}));
}

TEST(Strings, WrapBorrowsWithoutCopy) {
    spk_unit text[] = {'a', 'b', 'c', 0};
    SpkString *w = spk_str_wrap_wide(text, SQL_NTS);
    ASSERT_NE(w, nullptr);
    EXPECT_EQ(w->units, text);
    EXPECT_EQ(w->length, 3u);
    EXPECT_EQ(w->borrowed, 1u);
    spk_str_free(w);   // must not free the stack array (the sanitizer would say so)
    EXPECT_EQ(spk_str_wrap_wide(nullptr, 3), nullptr);

    // Appending to a borrowed string makes it own a copy.
    SpkString *v = spk_str_wrap_wide(text, 2);
    StrPtr tail(spk_str_from_latin1("Z"));
    ASSERT_EQ(spk_str_append(v, tail.s), 0);
    EXPECT_EQ(units_of(v), ascii("abZ"));
    EXPECT_EQ(v->borrowed, 0u);
    EXPECT_EQ(text[2], 'c');
    spk_str_free(v);
}

TEST(Strings, Latin1) {
    StrPtr a(spk_str_from_latin1("\xE9t\xE9"));
    EXPECT_EQ(units_of(a.s), (Units{0xE9, 't', 0xE9}));
    StrPtr n(spk_str_from_latin1(nullptr));
    ASSERT_NE(n.s, nullptr);
    EXPECT_EQ(spk_str_length(n.s), 0);
    StrPtr m(spk_str_from_latin1_n("ab\0c", 4));
    EXPECT_EQ(units_of(m.s), (Units{'a', 'b', 0, 'c'}));
    StrPtr z(spk_str_from_latin1_n(nullptr, 5));
    ASSERT_NE(z.s, nullptr);
    EXPECT_EQ(spk_str_length(z.s), 0);
}

TEST(Strings, AllocAdoptCopy) {
    StrPtr e(spk_str_alloc(0));
    ASSERT_NE(e.s, nullptr);
    EXPECT_EQ(spk_str_length(e.s), 0);
    spk_unit *buf = static_cast<spk_unit *>(malloc(3 * sizeof(spk_unit)));
    buf[0] = 'x', buf[1] = 'y', buf[2] = 'z';
    StrPtr a(spk_str_adopt(buf, 3));
    EXPECT_EQ(units_of(a.s), ascii("xyz"));
    StrPtr c(spk_str_copy(a.s));
    EXPECT_NE(c.s->units, a.s->units);
    EXPECT_EQ(units_of(c.s), ascii("xyz"));
    EXPECT_EQ(spk_str_copy(nullptr), nullptr);
    // Adopting zero units takes the buffer over and releases it.
    StrPtr z(spk_str_adopt(static_cast<spk_unit *>(malloc(8)), 0));
    EXPECT_EQ(spk_str_units(z.s), nullptr);
    EXPECT_EQ(spk_str_length(nullptr), 0);
    EXPECT_EQ(spk_str_bytes(nullptr), 0);
    spk_str_free(nullptr);
}

TEST(Strings, Sub) {
    StrPtr s(spk_str_from_latin1("abcdef"));
    struct {
        long start, len;
        const char *expected;
    } cases[] = {{0, -1, "abcdef"}, {2, 2, "cd"}, {4, 10, "ef"}, {6, -1, ""},
                 {9, 2, ""},        {-3, 2, "ab"}, {1, 0, ""},   {0, -5, "abcdef"}};
    for (auto &c : cases) {
        StrPtr sub(spk_str_sub(s.s, c.start, c.len));
        ASSERT_NE(sub.s, nullptr);
        EXPECT_EQ(units_of(sub.s), ascii(c.expected)) << c.start << "," << c.len;
    }
    EXPECT_EQ(spk_str_sub(nullptr, 0, 1), nullptr);
}

TEST(Strings, Append) {
    StrPtr a(spk_str_from_latin1("ab"));
    StrPtr b(spk_str_from_latin1("cde"));
    StrPtr empty(spk_str_alloc(0));
    ASSERT_EQ(spk_str_append(a.s, b.s), 0);
    ASSERT_EQ(spk_str_append(a.s, empty.s), 0);
    ASSERT_EQ(spk_str_append(a.s, nullptr), 0);
    EXPECT_EQ(units_of(a.s), ascii("abcde"));
    ASSERT_EQ(spk_str_append(empty.s, b.s), 0);
    EXPECT_EQ(units_of(empty.s), ascii("cde"));
    EXPECT_EQ(spk_str_append(nullptr, b.s), -1);
}

// ---------------------------------------------------------------------------
// Scanning

TEST(Strings, SplitUnbraced) {
    struct {
        const char *text, *head, *tail;
    } cases[] = {
        {"PWD={a;b};UID=x", "PWD={a;b}", "UID=x"},
        {"DSN=x", "DSN=x", ""},
        {";rest", "", "rest"},
        {"A={{;}};B", "A={{;}}", "B"},
        {"PWD=a}b;UID=x", "PWD=a}b", "UID=x"},   // a stray } does not hide what follows
        {"", "", ""},
    };
    for (auto &c : cases) {
        StrPtr s(spk_str_from_latin1(c.text));
        SpkString *head = nullptr, *tail = nullptr;
        spk_str_split_unbraced(s.s, ';', &head, &tail);
        ASSERT_NE(head, nullptr);
        ASSERT_NE(tail, nullptr);
        EXPECT_EQ(units_of(head), ascii(c.head)) << c.text;
        EXPECT_EQ(units_of(tail), ascii(c.tail)) << c.text;
        spk_str_free(head);
        spk_str_free(tail);
    }
}

TEST(Strings, FindUnbraced) {
    StrPtr s(spk_str_from_latin1("a={x=y}=b"));
    int failed = 7;
    EXPECT_EQ(spk_str_find_unbraced(0, s.s, '=', &failed), 1);
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(spk_str_find_unbraced(2, s.s, '=', &failed), 7);
    EXPECT_EQ(spk_str_find_unbraced(8, s.s, '=', &failed), 9);   // none: the length
    EXPECT_EQ(failed, 0);
    EXPECT_EQ(spk_str_find_unbraced(10, s.s, '=', &failed), 0);
    EXPECT_EQ(failed, 1);
}

TEST(Strings, CompareNocase) {
    struct {
        const char *s, *b;
        int expected;
    } cases[] = {{"Server", "SERVER", 0}, {"Serve", "Server", -1}, {"Servers", "Server", 1},
                 {"", "", 0},             {"a", "B", -1},          {"b", "A", 1},
                 {"", "x", -1},           {"x", "", 1}};
    for (auto &c : cases) {
        StrPtr s(spk_str_from_latin1(c.s));
        EXPECT_EQ(spk_str_compare_nocase(s.s, c.b), c.expected) << c.s << " vs " << c.b;
    }
    spk_unit high = 0x0141;   // low byte 'A'
    StrPtr w(spk_str_from_wide(&high, 1));
    EXPECT_EQ(spk_str_compare_nocase(w.s, "a"), 0);
}

TEST(Strings, Lengths) {
    const spk_unit w[] = {'a', 'b', 'c', 'd', 0};
    EXPECT_EQ(spk_wide_length(w), 4u);
    EXPECT_EQ(spk_wide_length(nullptr), 0u);
    EXPECT_EQ(spk_wide_length_bounded(w, 10, 100), 4u);
    EXPECT_EQ(spk_wide_length_bounded(w, 2, 100), 2u);
    EXPECT_EQ(spk_wide_length_bounded(w, 10, 7), 3u);
    EXPECT_EQ(spk_narrow_length_bounded("abcdef", 3, 0), 3u);
    EXPECT_EQ(spk_narrow_length_bounded("abcdef", 0, 4), 4u);
    EXPECT_EQ(spk_narrow_length_bounded("abcdef", 2, 5), 5u);
    EXPECT_EQ(spk_narrow_length_bounded("ab", 2, 50), 2u);
    EXPECT_EQ(spk_narrow_length_bounded(nullptr, 2, 50), 0u);
}

// ---------------------------------------------------------------------------
// The string builder

TEST(Format, Conversions) {
    StrPtr sel(spk_str_from_latin1("select 1"));
    StrPtr empty(spk_str_alloc(0));
    struct {
        SpkString *s;
        Units expected;
    } cases[] = {
        {spk_format("%S LIMIT 0", sel.s), ascii("select 1 LIMIT 0")},
        {spk_format("%S'%u'%S", empty.s, "a'b", empty.s), ascii("'a\\'b'")},
        {spk_format("'%u'", "c:\\x\ny\rz"), ascii("'c:\\\\x\\ny\\rz'")},
        {spk_format("%u", "\xC3\xA9\xF0\x9F\x98\x80"), Units{0xE9, 0xD83D, 0xDE00}},
        {spk_format("%u", "\xC0\xA7"), Units{R, R}},   // an overlong quote is no quote
        {spk_format("%d|%d|%d", 0, -42, 2147483647), ascii("0|-42|2147483647")},
        {spk_format("[%S]", (SpkString *)nullptr), ascii("[(nul)]")},
        {spk_format("%s=%s", "k\xE9", "v"), Units{'k', 0xE9, '=', 'v'}},
        {spk_format(""), Units{}},
    };
    for (auto &c : cases) {
        ASSERT_NE(c.s, nullptr);
        EXPECT_EQ(units_of(c.s), c.expected);
        spk_str_free(c.s);
    }
}

TEST(Format, KeepsZeroUnitsOfStrings) {
    const spk_unit w[] = {'a', 0, 'b'};
    StrPtr s(spk_str_from_wide(w, 3));
    StrPtr f(spk_format("<%S>", s.s));
    EXPECT_EQ(units_of(f.s), (Units{'<', 'a', 0, 'b', '>'}));
}

TEST(Format, GrowsPastItsFirstBlock) {
    std::string big(2500, 'q');
    StrPtr b(spk_str_from_latin1(big.c_str()));
    StrPtr f(spk_format("%S-%S-%d", b.s, b.s, 7));
    ASSERT_NE(f.s, nullptr);
    ASSERT_EQ(spk_str_length(f.s), 5003);
    EXPECT_EQ(f.s->units[2499], 'q');
    EXPECT_EQ(f.s->units[2500], '-');
    EXPECT_EQ(f.s->units[5001], '-');
    EXPECT_EQ(f.s->units[5002], '7');
}

TEST(Format, UnknownConversionIsReportedAndSkipped) {
    ::testing::internal::CaptureStderr();
    StrPtr f(spk_format("a%xb%d", 5));
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ(units_of(f.s), ascii("ab5"));
    EXPECT_EQ(err, "tarndrv: internal error, unhandled format 'x'\n");
}

// ---------------------------------------------------------------------------
// Copying into application buffers

// A buffer of `length` bytes with guard bytes on both sides.  Unwritten
// bytes of the buffer keep the fill value.
class Guarded {
  public:
    static const size_t GUARD = 32;
    static const unsigned char FILL = 0xCD;
    static const unsigned char GUARD_BYTE = 0xAB;
    explicit Guarded(long length) : length_(length < 0 ? 0 : (size_t)length), mem_(GUARD * 2 + length_ + 1) {
        memset(mem_.data(), GUARD_BYTE, mem_.size());
        memset(mem_.data() + GUARD, FILL, length_);
    }
    void *ptr() { return mem_.data() + GUARD; }
    const unsigned char *bytes() const { return mem_.data() + GUARD; }
    const spk_unit *units() const { return reinterpret_cast<const spk_unit *>(bytes()); }
    bool guards_intact() const {
        for (size_t i = 0; i < GUARD; i++)
            if (mem_[i] != GUARD_BYTE) return false;
        for (size_t i = GUARD + length_; i < mem_.size(); i++)
            if (mem_[i] != GUARD_BYTE) return false;
        return true;
    }
    // True when bytes [from, length) still hold the fill value.
    bool untouched_from(size_t from) const {
        for (size_t i = from; i < length_; i++)
            if (bytes()[i] != FILL) return false;
        return true;
    }

  private:
    size_t length_;
    std::vector<unsigned char> mem_;
};

// A statement-shaped handle to receive 01004 / HY090.
class CopyTest : public ::testing::Test {
  protected:
    void SetUp() override {
        stmt = new SpkStatement();
        stmt->tag = SPK_STATEMENT_HANDLE;
    }
    void TearDown() override {
        spk_clear_errors(stmt);
        delete stmt;
    }
    std::string states() {
        std::string out;
        for (int i = 1; const SpkError *e = spk_error_record(stmt, i); i++) {
            for (int k = 0; k < spk_str_length(e->sqlstate); k++) out += (char)e->sqlstate->units[k];
            out += ' ';
        }
        return out;
    }
    SpkStatement *stmt = nullptr;
};

enum Writer { WIDE_BYTES, WIDE_CHARS, ANSI };

short run(Writer w, void *h, const SpkString *s, void *buf, long len, long *out) {
    switch (w) {
    case WIDE_BYTES: return spk_copy_wide_bytes(h, s, buf, len, out);
    case WIDE_CHARS: return spk_copy_wide_chars(h, s, buf, len, out);
    default: return spk_copy_ansi(h, s, buf, len, out);
    }
}

struct CopyCase {
    const char *name;
    Writer writer;
    Units text;
    long buffer_length;
    short rc;
    long reported;
    std::string stored;    // bytes expected in the buffer, terminator included; "" = nothing
};

class CopyRules : public CopyTest, public ::testing::WithParamInterface<CopyCase> {};

std::string wide_bytes(const Units &u, bool terminate = true) {
    std::string s(reinterpret_cast<const char *>(u.data()), u.size() * 2);
    if (terminate) s += std::string(2, '\0');
    return s;
}

TEST_P(CopyRules, StoresReportsAndPosts) {
    const CopyCase &c = GetParam();
    StrPtr s(spk_str_from_wide(c.text.data(), (long)c.text.size()));
    // BufferLength counts units for the character writer, bytes otherwise.
    long bytes = c.writer == WIDE_CHARS ? c.buffer_length * 2 : c.buffer_length;
    Guarded buf(bytes);
    long reported = -12345;
    short rc = run(c.writer, stmt, s.s, buf.ptr(), c.buffer_length, &reported);
    EXPECT_EQ(rc, c.rc);
    EXPECT_EQ(reported, c.reported);
    EXPECT_EQ(hex(std::string(reinterpret_cast<const char *>(buf.bytes()), c.stored.size())), hex(c.stored));
    EXPECT_TRUE(buf.untouched_from(c.stored.size()));
    EXPECT_TRUE(buf.guards_intact());
    EXPECT_EQ(states(), c.rc == SQL_SUCCESS_WITH_INFO ? "01004 " : "");

    // Without a handle nothing is posted, the rest is the same.
    spk_clear_errors(stmt);
    Guarded again(bytes);
    long reported2 = -1;
    EXPECT_EQ(run(c.writer, nullptr, s.s, again.ptr(), c.buffer_length, &reported2), c.rc);
    EXPECT_EQ(reported2, c.reported);
    EXPECT_TRUE(again.guards_intact());
    EXPECT_EQ(states(), "");
}

const Units TEN = ascii("0123456789");
// 'a', e-acute (2 bytes in UTF-8), euro (3), U+1F600 (a pair; 4)
const Units MIXED = {'a', 0xE9, 0x20AC, 0xD83D, 0xDE00};
const std::string MIXED_UTF8 = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
const Units PAIR_AT_CUT = {'a', 'b', 0xD83D, 0xDE00, 'c'};

INSTANTIATE_TEST_SUITE_P(
    Cases, CopyRules,
    ::testing::Values(
        // wide, lengths in bytes
        CopyCase{"wb_fits", WIDE_BYTES, TEN, 22, SQL_SUCCESS, 20, wide_bytes(TEN)},
        CopyCase{"wb_ten_bytes", WIDE_BYTES, TEN, 10, SQL_SUCCESS_WITH_INFO, 20, wide_bytes(ascii("0123"))},
        CopyCase{"wb_no_room_for_terminator", WIDE_BYTES, TEN, 20, SQL_SUCCESS_WITH_INFO, 20,
                 wide_bytes(ascii("012345678"))},
        CopyCase{"wb_odd_length", WIDE_BYTES, TEN, 21, SQL_SUCCESS_WITH_INFO, 20, wide_bytes(ascii("012345678"))},
        CopyCase{"wb_odd_fits", WIDE_BYTES, TEN, 23, SQL_SUCCESS, 20, wide_bytes(TEN)},
        CopyCase{"wb_one_byte", WIDE_BYTES, TEN, 1, SQL_SUCCESS_WITH_INFO, 20, ""},
        CopyCase{"wb_zero", WIDE_BYTES, TEN, 0, SQL_SUCCESS_WITH_INFO, 20, ""},
        CopyCase{"wb_two_bytes", WIDE_BYTES, TEN, 2, SQL_SUCCESS_WITH_INFO, 20, std::string(2, '\0')},
        CopyCase{"wb_empty", WIDE_BYTES, {}, 2, SQL_SUCCESS, 0, std::string(2, '\0')},
        CopyCase{"wb_pair_not_split", WIDE_BYTES, PAIR_AT_CUT, 8, SQL_SUCCESS_WITH_INFO, 10,
                 wide_bytes(ascii("ab"))},
        CopyCase{"wb_pair_kept_whole", WIDE_BYTES, PAIR_AT_CUT, 10, SQL_SUCCESS_WITH_INFO, 10,
                 wide_bytes({'a', 'b', 0xD83D, 0xDE00})},
        // wide, lengths in characters
        CopyCase{"wc_fits", WIDE_CHARS, TEN, 11, SQL_SUCCESS, 10, wide_bytes(TEN)},
        CopyCase{"wc_exact", WIDE_CHARS, TEN, 10, SQL_SUCCESS_WITH_INFO, 10, wide_bytes(ascii("012345678"))},
        CopyCase{"wc_one", WIDE_CHARS, TEN, 1, SQL_SUCCESS_WITH_INFO, 10, std::string(2, '\0')},
        CopyCase{"wc_zero", WIDE_CHARS, TEN, 0, SQL_SUCCESS_WITH_INFO, 10, ""},
        CopyCase{"wc_pair_not_split", WIDE_CHARS, PAIR_AT_CUT, 4, SQL_SUCCESS_WITH_INFO, 5, wide_bytes(ascii("ab"))},
        // ANSI (UTF-8, lengths in bytes)
        CopyCase{"an_fits", ANSI, MIXED, 11, SQL_SUCCESS, 10, MIXED_UTF8 + std::string(1, '\0')},
        CopyCase{"an_exact", ANSI, MIXED, 10, SQL_SUCCESS_WITH_INFO, 10, std::string("a\xC3\xA9\xE2\x82\xAC\0", 7)},
        CopyCase{"an_after_two_byte", ANSI, MIXED, 4, SQL_SUCCESS_WITH_INFO, 10, std::string("a\xC3\xA9\0", 4)},
        CopyCase{"an_inside_two_byte", ANSI, MIXED, 3, SQL_SUCCESS_WITH_INFO, 10, std::string("a\0", 2)},
        CopyCase{"an_inside_four_byte", ANSI, MIXED, 9, SQL_SUCCESS_WITH_INFO, 10,
                 std::string("a\xC3\xA9\xE2\x82\xAC\0", 7)},
        CopyCase{"an_one", ANSI, MIXED, 1, SQL_SUCCESS_WITH_INFO, 10, std::string(1, '\0')},
        CopyCase{"an_zero", ANSI, MIXED, 0, SQL_SUCCESS_WITH_INFO, 10, ""},
        CopyCase{"an_ten_ascii", ANSI, TEN, 10, SQL_SUCCESS_WITH_INFO, 10, std::string("012345678\0", 10)},
        CopyCase{"an_lone_surrogate", ANSI, {'x', 0xDC00}, 5, SQL_SUCCESS, 4, std::string("x\xEF\xBF\xBD\0", 5)},
        CopyCase{"an_embedded_zero", ANSI, {'a', 0, 'b'}, 4, SQL_SUCCESS, 3, std::string("a\0b\0", 4)}),
    [](const ::testing::TestParamInfo<CopyCase> &i) { return std::string(i.param.name); });

TEST_F(CopyTest, NullBufferStoresOnlyTheLength) {
    StrPtr s(spk_str_from_wide(MIXED.data(), (long)MIXED.size()));
    long n = -1;
    EXPECT_EQ(spk_copy_wide_bytes(stmt, s.s, nullptr, 0, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(spk_copy_wide_chars(stmt, s.s, nullptr, 0, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 5);
    EXPECT_EQ(spk_copy_ansi(stmt, s.s, nullptr, -5, &n), SQL_SUCCESS);
    EXPECT_EQ(n, 10);
    EXPECT_EQ(states(), "");
    // No length pointer either: still fine.
    Guarded buf(32);
    EXPECT_EQ(spk_copy_ansi(stmt, s.s, buf.ptr(), 32, nullptr), SQL_SUCCESS);
    EXPECT_TRUE(buf.guards_intact());
}

TEST_F(CopyTest, NullStringIsEmpty) {
    for (Writer w : {WIDE_BYTES, WIDE_CHARS, ANSI}) {
        Guarded buf(4);
        long n = -1;
        EXPECT_EQ(run(w, stmt, nullptr, buf.ptr(), 4, &n), SQL_SUCCESS);
        EXPECT_EQ(n, 0);
        EXPECT_EQ(buf.bytes()[0], 0);
        EXPECT_TRUE(buf.guards_intact());
    }
}

TEST_F(CopyTest, NegativeLengthWithBufferIsHY090) {
    StrPtr s(spk_str_from_latin1("abc"));
    for (Writer w : {WIDE_BYTES, WIDE_CHARS, ANSI}) {
        spk_clear_errors(stmt);
        Guarded buf(8);
        long n = -77;
        EXPECT_EQ(run(w, stmt, s.s, buf.ptr(), -1, &n), SQL_ERROR);
        EXPECT_EQ(n, -77);
        EXPECT_TRUE(buf.untouched_from(0));
        EXPECT_TRUE(buf.guards_intact());
        EXPECT_EQ(states(), "HY090 ");
        EXPECT_EQ(run(w, nullptr, s.s, buf.ptr(), -1, &n), SQL_ERROR);
    }
}

}  // namespace
