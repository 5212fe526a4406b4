// Driver information through the shared body of SQLGetInfo / SQLGetInfoW:
// the complete set of known info types, integer widths, text answers for
// ANSI (UTF-8) and wide callers with guard bytes around every buffer,
// truncation, bad lengths and the differences between the two twins.
// Also the name -> SQL_API_ mapping behind SQLGetFunctions.
#include <gtest/gtest.h>

#include "tarn_core_support.h"

#include <sql.h>
#include <sqlext.h>

#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <set>
#include <string>
#include <vector>

#include "TCLIService.h"
#include "fake_server.h"
#include "spk_alloc.h"
#include "spk_err.h"
#include "spk_handles.h"
#include "spk_info.h"
#include "exec/spk_escape.h"
#include "spk_log.h"
#include "spk_logon.h"
#include "spk_string.h"

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardLen = 16;

// UTF-8 -> UTF-16 units (test-side, independent of the driver's decoder for
// the plain texts used here: ASCII and Latin-1 letters).
std::u16string utf16(const std::string &utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned char c = (unsigned char)utf8[i];
        if (c < 0x80) {
            out.push_back(c);
            i += 1;
        } else if ((c & 0xE0) == 0xC0) {
            out.push_back((char16_t)(((c & 0x1F) << 6) | ((unsigned char)utf8[i + 1] & 0x3F)));
            i += 2;
        } else {
            out.push_back((char16_t)(((c & 0x0F) << 12) | (((unsigned char)utf8[i + 1] & 0x3F) << 6) |
                                     ((unsigned char)utf8[i + 2] & 0x3F)));
            i += 3;
        }
    }
    return out;
}

std::string sqlstates(void *h) {
    std::string out;
    for (int i = 1; i <= spk_error_count(h); i++) {
        char *s = spk_str_to_utf8(spk_error_record(h, i)->sqlstate);
        if (!out.empty()) out += ",";
        out += s;
        free(s);
    }
    return out;
}

// One call with `size` bytes of room, surrounded by guard bytes.
struct Answer {
    SQLRETURN rc;
    SQLSMALLINT length;     // -999: not written
    std::vector<unsigned char> bytes;   // the `size` bytes of room after the call
    std::string states;
};

class Info : public ::testing::Test {
  protected:
    SQLHANDLE env = nullptr;
    SQLHANDLE dbc = nullptr;
    SpkConnection *conn = nullptr;

    void SetUp() override {
        ASSERT_EQ(SQL_SUCCESS, spk_alloc_handle(SQL_HANDLE_ENV, nullptr, &env, SQL_OV_ODBC3));
        ASSERT_EQ(SQL_SUCCESS, spk_alloc_handle(SQL_HANDLE_DBC, env, &dbc, SQL_OV_ODBC3));
        conn = (SpkConnection *)dbc;
    }
    void TearDown() override {
        if (dbc) spk_free_handle(SQL_HANDLE_DBC, dbc);
        if (env) spk_free_handle(SQL_HANDLE_ENV, env);
    }

    // `size` bytes of room; `null_buffer` passes a null InfoValue instead.
    Answer ask(int wide, unsigned type, long size, bool null_buffer = false, SQLSMALLINT buffer_length = -1000) {
        if (buffer_length == -1000) buffer_length = (SQLSMALLINT)size;
        std::vector<unsigned char> mem((size_t)size + 2 * kGuardLen, kGuard);
        unsigned char *buf = mem.data() + kGuardLen;
        Answer a;
        a.length = -999;
        spk_clear_errors(conn);
        a.rc = spk_get_info(conn, wide ? "SQLGetInfoW" : "SQLGetInfo", wide, (SQLUSMALLINT)type,
                            null_buffer ? nullptr : buf, buffer_length, &a.length);
        for (size_t i = 0; i < kGuardLen; i++) {
            EXPECT_EQ(mem[i], kGuard) << "underrun, type " << type << " wide " << wide;
            EXPECT_EQ(mem[kGuardLen + size + i], kGuard) << "overrun, type " << type << " wide " << wide;
        }
        a.bytes.assign(buf, buf + size);
        a.states = sqlstates(conn);
        return a;
    }

    // Text answer read back: ANSI as bytes up to the NUL, wide as units up to 0.
    static std::string ansi_text(const Answer &a) {
        return std::string((const char *)a.bytes.data(), strnlen((const char *)a.bytes.data(), a.bytes.size()));
    }
    static std::u16string wide_text(const Answer &a) {
        std::u16string s;
        for (size_t i = 0; i + 1 < a.bytes.size(); i += 2) {
            char16_t u;
            memcpy(&u, &a.bytes[i], 2);
            if (u == 0) return s;
            s.push_back(u);
        }
        ADD_FAILURE() << "no terminator";
        return s;
    }
};

// ---------------------------------------------------------------------------
// The set of known info types, and integer answers

enum Width { W16, W32 };
struct IntCase {
    unsigned type;
    Width width;
    uint32_t ansi;
    uint32_t wide;
};

std::vector<IntCase> int_cases() {
    // Capability claims are run on a real server by the spark tests; the
    // function masks are checked against the scanner's table below.
    std::vector<IntCase> c = {
        {9, W16, 0, 0},        {15, W16, 1, 1},       {23, W16, 2, 2},     {24, W16, 2, 2},
        {28, W16, 4, 4},       {30, W16, 128, 128},   {31, W16, 128, 128}, {35, W16, 128, 128},
        {46, W16, 0, 0},       {75, W16, 1, 1},       {85, W16, 1, 1},     {93, W16, 4, 4},
        {107, W16, 128, 128},  {1024, W16, 2, 2},   {10005, W16, 128, 128},
        {74, W16, SQL_CN_ANY, SQL_CN_ANY}, {88, W16, SQL_GB_GROUP_BY_CONTAINS_SELECT, SQL_GB_GROUP_BY_CONTAINS_SELECT},
        {8, W32, 1, 1},        {26, W32, 0, 0},       {44, W32, 1, 1},
        {72, W32, 0, 0},       {81, W32, 1, 1},
        {108, W32, 0x80000, 0x80000}, {112, W32, 0x80000, 0x80000}, {118, W32, 1, 1}, {146, W32, 1, 1},
        {152, W32, SQL_OIC_CORE, SQL_OIC_CORE}, {153, W32, 2, 2}, {154, W32, 3, 3}, {160, W32, 0x1E07, 0x1E07}, {166, W32, 2, 2},
        {169, W32, 0x7F, 0x7F}, {1199, W32, 2, 2},    {8196, W32, 2, 2},   {10021, W32, 2, 2},
        {48, W32, 3, 3},       {91, W32, 5, 5},       {95, W32, 0x17, 0x17}, {96, W32, 3, 3},
        {109, W32, 0x1FE, 0x1FE}, {110, W32, 0x1FE, 0x1FE}, {115, W32, 0x7F, 0x7F}, {65003, W32, 0x7F, 0x7F},
        {119, W32, 5, 5},      {155, W32, 5, 5},      {159, W32, 0x3F, 0x3F}, {161, W32, 0x1DA, 0x1DA},
        {164, W32, 0xEE, 0xEE}, {165, W32, 0xF, 0xF},
    };
    // CONVERT targets by source, as Spark's CAST takes them.
    const uint32_t text = SQL_CVT_CHAR | SQL_CVT_VARCHAR | SQL_CVT_LONGVARCHAR | SQL_CVT_WCHAR | SQL_CVT_WVARCHAR |
                          SQL_CVT_WLONGVARCHAR;
    const uint32_t number = SQL_CVT_NUMERIC | SQL_CVT_DECIMAL | SQL_CVT_INTEGER | SQL_CVT_SMALLINT | SQL_CVT_FLOAT |
                            SQL_CVT_REAL | SQL_CVT_DOUBLE | SQL_CVT_TINYINT | SQL_CVT_BIGINT | SQL_CVT_BIT;
    const uint32_t binary = SQL_CVT_BINARY | SQL_CVT_VARBINARY | SQL_CVT_LONGVARBINARY;
    const uint32_t datetime = SQL_CVT_DATE | SQL_CVT_TIMESTAMP;
    for (unsigned t : {SQL_CONVERT_BIGINT, SQL_CONVERT_BIT, SQL_CONVERT_DECIMAL, SQL_CONVERT_DOUBLE, SQL_CONVERT_FLOAT,
                       SQL_CONVERT_INTEGER, SQL_CONVERT_NUMERIC, SQL_CONVERT_REAL, SQL_CONVERT_SMALLINT,
                       SQL_CONVERT_TINYINT})
        c.push_back({t, W32, text | number, text | number});
    for (unsigned t : {SQL_CONVERT_CHAR, SQL_CONVERT_VARCHAR, SQL_CONVERT_LONGVARCHAR, SQL_CONVERT_WCHAR,
                       SQL_CONVERT_WVARCHAR, SQL_CONVERT_WLONGVARCHAR})
        c.push_back({t, W32, text | number | binary | datetime, text | number | binary | datetime});
    for (unsigned t : {SQL_CONVERT_DATE, SQL_CONVERT_TIMESTAMP}) c.push_back({t, W32, text | datetime, text | datetime});
    for (unsigned t : {SQL_CONVERT_BINARY, SQL_CONVERT_VARBINARY, SQL_CONVERT_LONGVARBINARY})
        c.push_back({t, W32, text | binary, text | binary});
    // The scalar functions: what the scanner translates.
    for (auto [t, group] : {std::pair<unsigned, int>{SQL_STRING_FUNCTIONS, SPK_FN_STRING},
                            {SQL_NUMERIC_FUNCTIONS, SPK_FN_NUMERIC},
                            {SQL_TIMEDATE_FUNCTIONS, SPK_FN_TIMEDATE},
                            {SQL_SYSTEM_FUNCTIONS, SPK_FN_SYSTEM}})
        c.push_back({t, W32, spk_fn_escape_mask(group), spk_fn_escape_mask(group)});
    for (unsigned t : {0, 1, 12, 22, 32, 33, 34, 84, 97, 98, 99, 100, 101, 106, 114, 116})
        c.push_back({t, W16, 0, 0});
    std::vector<unsigned> zero32 = {43, 78, 79, 80, 82, 83, 86, 92, 102, 104, 105,
                                    117, 167, 168, 170, 172, 173, 1029, 10001, 10022, 10023, 66, 123, 124};
    for (unsigned t = 127; t <= 134; t++) zero32.push_back(t);
    for (unsigned t : {120, 121}) zero32.push_back(t);
    for (unsigned t = 136; t <= 145; t++) zero32.push_back(t);
    for (unsigned t = 147; t <= 151; t++) zero32.push_back(t);
    for (unsigned t = 156; t <= 158; t++) zero32.push_back(t);
    for (unsigned t : {162, 163}) zero32.push_back(t);
    for (unsigned t : zero32) c.push_back({t, W32, 0, 0});
    return c;
}

struct TextCase {
    unsigned type;
    std::string ansi;   // UTF-8
    std::string wide;   // UTF-8 of the wide answer
};

const char *kKeywords =
    "BREAK,BROWSE,BULK,CHECKPOINT,CLUSTERED,COMMITTED,COMPUTE,CONFIRM,CONTROLROW,DATABASE,DBCC,DISK,DISTRIBUTED,"
    "DUMMY,DUMP,ERRLVL,ERROREXIT,EXIT,FILE,FILLFACTOR,FLOPPY,HOLDLOCK,IDENTITY_INSERT,IDENTITYCOL,IF,KILL,LINENO,"
    "LOAD,MIRROREXIT,NONCLUSTERED,OFF,OFFSETS,ONCE,OVER,PERCENT,PERM,PERMANENT,PLAN,PRINT,PROC,PROCESSEXIT,"
    "RAISERROR,READ,READTEXT,RECONFIGURE,REPEATABLE,RETURN,ROWCOUNT,RULE,SAVE,SERIALIZABLE,SETUSER,SHUTDOWN,"
    "STATISTICS,TAPE,TEMP,TEXTSIZE,TOP,TRAN,TRIGGER,TRUNCATE,TSEQUEL,UNCOMMITTED,UPDATETEXT,USE,WAITFOR,WHILE,"
    "WRITETEXT";

std::vector<TextCase> text_cases() {
    std::vector<TextCase> c = {
        {6, "libtarndrv.so", "libtarndrv.so"},
        {7, "01.00.0000", "01.00.0000"},
        {10, "03.51.0000", "03.51.0000"},
        {14, "\\", "\\"},
        {16, "", ""},            // no database name: an empty string
        {19, "Y", "Y"},
        {29, "`", "`"},
        {39, "database", "database"},
        {40, "stored procedure", "stored procedure"},
        {41, "", ""},
        {42, "", ""},
        {45, "table", "table"},
        {77, "03.51", "03.51"},
        {89, kKeywords, kKeywords},
        {94, "", ""},
        {113, "Y", "Y"},
        {10000, "1995", "1995"},
        {10002, "Y", "Y"},
        {10003, "N", "N"},
        {10004, "UTF-8", "UTF-8"},
    };
    for (unsigned t : {11, 20, 21, 25, 36, 37, 73, 90, 103, 111}) c.push_back({t, "N", "N"});
    for (unsigned t : {27, 38, 87}) c.push_back({t, "Y", "Y"});
    return c;
}

// Types answered from the connection's settings or from the server.
const std::set<unsigned> kOtherTypes = {2, 47, 13, 17, 18};

TEST_F(Info, KnownTypesAreExactlyTheTable) {
    std::set<unsigned> expected = kOtherTypes;
    for (auto &c : int_cases()) EXPECT_TRUE(expected.insert(c.type).second) << "duplicate case " << c.type;
    for (auto &c : text_cases()) EXPECT_TRUE(expected.insert(c.type).second) << "duplicate case " << c.type;
    for (unsigned t = 0; t <= 0xFFFF; t++)
        EXPECT_EQ(expected.count(t) == 1, spk_info_lookup(t) != nullptr) << "info type " << t;
    for (unsigned t : {3, 4, 5, 76, 135, 171}) EXPECT_EQ(nullptr, spk_info_lookup(t));
}

TEST_F(Info, IntegerAnswersHaveTheirWidthAndValue) {
    for (auto &c : int_cases()) {
        size_t width = c.width == W16 ? 2 : 4;
        for (int wide = 0; wide <= 1; wide++) {
            SCOPED_TRACE("type " + std::to_string(c.type) + (wide ? " wide" : " ansi"));
            // The room after the value must stay untouched: 8 bytes offered.
            Answer a = ask(wide, c.type, 8);
            EXPECT_EQ(SQL_SUCCESS, a.rc);
            EXPECT_EQ((SQLSMALLINT)width, a.length);
            uint32_t want = wide ? c.wide : c.ansi;
            if (width == 2) {
                uint16_t v;
                memcpy(&v, a.bytes.data(), 2);
                EXPECT_EQ(want, v);
            } else {
                uint32_t v;
                memcpy(&v, a.bytes.data(), 4);
                EXPECT_EQ(want, v);
            }
            for (size_t i = width; i < 8; i++) EXPECT_EQ(kGuard, a.bytes[i]) << "byte " << i << " written";
        }
    }
}

TEST_F(Info, IntegerAnswerIgnoresBufferLengthAndNullValue) {
    Answer a = ask(0, SQL_MAX_CHAR_LITERAL_LEN, 4, false, -5);
    EXPECT_EQ(SQL_SUCCESS, a.rc);
    uint32_t v;
    memcpy(&v, a.bytes.data(), 4);
    EXPECT_EQ(0x80000u, v);
    Answer n = ask(1, SQL_MAX_COLUMN_NAME_LEN, 0, true);
    EXPECT_EQ(SQL_SUCCESS, n.rc);
    EXPECT_EQ(2, n.length);
}

TEST_F(Info, TextAnswersAnsiAndWide) {
    for (auto &c : text_cases()) {
        SCOPED_TRACE("type " + std::to_string(c.type));
        Answer a = ask(0, c.type, 1000);
        EXPECT_EQ(SQL_SUCCESS, a.rc) << a.states;
        EXPECT_EQ(c.ansi, ansi_text(a));
        EXPECT_EQ((SQLSMALLINT)c.ansi.size(), a.length);
        EXPECT_EQ(0, a.bytes[c.ansi.size()]);

        std::u16string want = utf16(c.wide);
        Answer w = ask(1, c.type, 2000);
        EXPECT_EQ(SQL_SUCCESS, w.rc) << w.states;
        EXPECT_EQ(want, wide_text(w));
        EXPECT_EQ((SQLSMALLINT)(want.size() * 2), w.length);
    }
}

TEST_F(Info, AnsiTruncation) {
    Answer a = ask(0, SQL_DRIVER_ODBC_VER, 3);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, a.rc);
    EXPECT_EQ("01004", a.states);
    EXPECT_EQ(5, a.length);
    EXPECT_EQ(std::string("03", 3), std::string((char *)a.bytes.data(), 3));

    // Exactly the length: no room for the NUL.
    Answer b = ask(0, SQL_DRIVER_ODBC_VER, 5);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, b.rc);
    EXPECT_EQ("03.5", ansi_text(b));
    EXPECT_EQ(5, b.length);
    Answer c = ask(0, SQL_DRIVER_ODBC_VER, 6);
    EXPECT_EQ(SQL_SUCCESS, c.rc);
    EXPECT_EQ("03.51", ansi_text(c));

}

TEST_F(Info, WideLengthsInBytes) {
    Answer a = ask(1, SQL_DRIVER_NAME, 100);
    EXPECT_EQ(SQL_SUCCESS, a.rc);
    EXPECT_EQ(26, a.length);
    EXPECT_EQ(u"libtarndrv.so", wide_text(a));

    // 10 bytes: 4 units and a terminator.
    Answer b = ask(1, SQL_DRIVER_NAME, 10);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, b.rc);
    EXPECT_EQ("01004", b.states);
    EXPECT_EQ(26, b.length);
    EXPECT_EQ(u"libt", wide_text(b));

    // 26 bytes are the text without room for its terminator.
    Answer c = ask(1, SQL_DRIVER_NAME, 26);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, c.rc);
    EXPECT_EQ(u"libtarndrv.s", wide_text(c));
    Answer d = ask(1, SQL_DRIVER_NAME, 28);
    EXPECT_EQ(SQL_SUCCESS, d.rc);

    // An odd byte count uses whole units only; the last byte stays untouched.
    Answer e = ask(1, SQL_DRIVER_NAME, 7);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, e.rc);
    EXPECT_EQ(u"li", wide_text(e));
    EXPECT_EQ(kGuard, e.bytes[6]);
}

TEST_F(Info, EmptyRoomAndNullBuffer) {
    for (int wide = 0; wide <= 1; wide++) {
        SCOPED_TRACE(wide ? "wide" : "ansi");
        Answer z = ask(wide, SQL_TABLE_TERM, 0);
        EXPECT_EQ(SQL_SUCCESS_WITH_INFO, z.rc);
        EXPECT_EQ(wide ? 10 : 5, z.length);

        Answer n = ask(wide, SQL_KEYWORDS, 0, true, 0);
        EXPECT_EQ(SQL_SUCCESS, n.rc);
        EXPECT_EQ((SQLSMALLINT)(strlen(kKeywords) * (wide ? 2 : 1)), n.length);
        EXPECT_EQ("", n.states);

        // A one-byte wide buffer has no room for a unit and is left alone.
        Answer one = ask(wide, SQL_TABLE_TERM, 1);
        EXPECT_EQ(SQL_SUCCESS_WITH_INFO, one.rc);
        if (wide) EXPECT_EQ(kGuard, one.bytes[0]);
        else EXPECT_EQ(0, one.bytes[0]);
    }
}

TEST_F(Info, NegativeBufferLengthForTextIsHY090) {
    for (int wide = 0; wide <= 1; wide++) {
        for (bool null_buffer : {false, true}) {
            SCOPED_TRACE(std::string(wide ? "wide" : "ansi") + (null_buffer ? " null" : " buffer"));
            Answer a = ask(wide, SQL_DRIVER_NAME, 16, null_buffer, -1);
            EXPECT_EQ(SQL_ERROR, a.rc);
            EXPECT_EQ("HY090", a.states);
            EXPECT_EQ(-999, a.length);
            for (unsigned char b : a.bytes) EXPECT_EQ(kGuard, b);
        }
    }
}

TEST_F(Info, UnknownTypeIsHYC00AndWritesNothing) {
    for (unsigned t : {3u, 4u, 5u, 76u, 135u, 171u, 174u, 999u, 10006u, 65535u}) {
        for (int wide = 0; wide <= 1; wide++) {
            Answer a = ask(wide, t, 8);
            EXPECT_EQ(SQL_ERROR, a.rc) << t;
            EXPECT_EQ("HYC00", a.states) << t;
            EXPECT_EQ(-999, a.length) << t;
            for (unsigned char b : a.bytes) EXPECT_EQ(kGuard, b);
        }
    }
}

TEST_F(Info, DatabaseNameIsAnEmptyTerminatedString) {
    Answer a = ask(0, SQL_DATABASE_NAME, 8);
    EXPECT_EQ(SQL_SUCCESS, a.rc);
    EXPECT_EQ(0, a.length);
    EXPECT_EQ(0, a.bytes[0]);
    EXPECT_EQ(kGuard, a.bytes[1]);
    Answer w = ask(1, SQL_DATABASE_NAME, 8);
    EXPECT_EQ(SQL_SUCCESS, w.rc);
    EXPECT_EQ(0, w.length);
    EXPECT_EQ(0, w.bytes[0]);
    EXPECT_EQ(0, w.bytes[1]);
    EXPECT_EQ(kGuard, w.bytes[2]);
}

TEST_F(Info, DataSourceAndUserNameComeFromTheConnection) {
    // Absent settings read as empty strings.
    for (unsigned t : {SQL_DATA_SOURCE_NAME, SQL_USER_NAME}) {
        Answer a = ask(0, t, 8);
        EXPECT_EQ(SQL_SUCCESS, a.rc);
        EXPECT_EQ(0, a.length);
        EXPECT_EQ("", ansi_text(a));
    }
    const char *dsn = "Pr\xC3\xBC" "fung \xE2\x82\xAC";   // "Prüfung €"
    conn->dsn = spk_str_from_utf8(dsn, SQL_NTS);
    conn->uid = spk_str_from_utf8("analyst", SQL_NTS);

    Answer a = ask(0, SQL_DATA_SOURCE_NAME, 64);
    EXPECT_EQ(SQL_SUCCESS, a.rc);
    EXPECT_EQ(dsn, ansi_text(a));
    EXPECT_EQ((SQLSMALLINT)strlen(dsn), a.length);
    Answer w = ask(1, SQL_DATA_SOURCE_NAME, 64);
    EXPECT_EQ(u"Pr\u00FCfung \u20AC", wide_text(w));
    EXPECT_EQ(18, w.length);

    Answer u = ask(1, SQL_USER_NAME, 64);
    EXPECT_EQ(u"analyst", wide_text(u));
    // Truncating in the middle of the euro sign's three bytes keeps it out.
    Answer t = ask(0, SQL_DATA_SOURCE_NAME, 11);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, t.rc);
    EXPECT_EQ("Pr\xC3\xBC" "fung ", ansi_text(t));
}

// Every item answers the same through the ANSI and the wide export.
TEST_F(Info, AnsiAndWideAgreeOnEveryItem) {
    int count = 0;
    const SpkInfoEntry *table = spk_info_table(&count);
    for (int i = 0; i < count; i++) {
        unsigned t = table[i].type;
        if (kOtherTypes.count(t)) continue;
        SCOPED_TRACE("type " + std::to_string(t));
        Answer a = ask(0, t, 1000);
        Answer w = ask(1, t, 2000);
        ASSERT_EQ(a.rc, w.rc);
        if (table[i].kind == SPK_INFO_U16 || table[i].kind == SPK_INFO_U32) {
            EXPECT_EQ(a.length, w.length);
            EXPECT_EQ(0, memcmp(a.bytes.data(), w.bytes.data(), (size_t)a.length));
        } else {
            EXPECT_EQ(utf16(ansi_text(a)), wide_text(w));
        }
    }
}

// The function masks report exactly what the scanner translates.
TEST_F(Info, FunctionMasksAreTheTranslatedFunctions) {
    const std::pair<unsigned, int> groups[] = {{SQL_STRING_FUNCTIONS, SPK_FN_STRING},
                                               {SQL_NUMERIC_FUNCTIONS, SPK_FN_NUMERIC},
                                               {SQL_TIMEDATE_FUNCTIONS, SPK_FN_TIMEDATE},
                                               {SQL_SYSTEM_FUNCTIONS, SPK_FN_SYSTEM}};
    for (auto [type, group] : groups) {
        const SpkInfoEntry *e = spk_info_lookup(type);
        ASSERT_NE(nullptr, e);
        EXPECT_EQ(spk_fn_escape_mask(group), e->value) << "type " << type;
    }
    EXPECT_EQ(spk_fn_escape_mask(SPK_FN_CONVERT), spk_info_lookup(SQL_CONVERT_FUNCTIONS)->value & SQL_FN_CVT_CONVERT);
    EXPECT_EQ(spk_interval_mask(), spk_info_lookup(SQL_TIMEDATE_ADD_INTERVALS)->value);
    EXPECT_EQ(spk_interval_mask(), spk_info_lookup(SQL_TIMEDATE_DIFF_INTERVALS)->value);
    // Every CONVERT target claimed for some source has a Spark type.
    const std::pair<uint32_t, const char16_t *> targets[] = {
        {SQL_CVT_CHAR, u"SQL_CHAR"}, {SQL_CVT_NUMERIC, u"SQL_NUMERIC"}, {SQL_CVT_DECIMAL, u"SQL_DECIMAL"},
        {SQL_CVT_INTEGER, u"SQL_INTEGER"}, {SQL_CVT_SMALLINT, u"SQL_SMALLINT"}, {SQL_CVT_FLOAT, u"SQL_FLOAT"},
        {SQL_CVT_REAL, u"SQL_REAL"}, {SQL_CVT_DOUBLE, u"SQL_DOUBLE"}, {SQL_CVT_VARCHAR, u"SQL_VARCHAR"},
        {SQL_CVT_LONGVARCHAR, u"SQL_LONGVARCHAR"}, {SQL_CVT_BINARY, u"SQL_BINARY"},
        {SQL_CVT_VARBINARY, u"SQL_VARBINARY"}, {SQL_CVT_BIT, u"SQL_BIT"}, {SQL_CVT_TINYINT, u"SQL_TINYINT"},
        {SQL_CVT_BIGINT, u"SQL_BIGINT"}, {SQL_CVT_DATE, u"SQL_DATE"}, {SQL_CVT_TIMESTAMP, u"SQL_TIMESTAMP"},
        {SQL_CVT_LONGVARBINARY, u"SQL_LONGVARBINARY"}, {SQL_CVT_WCHAR, u"SQL_WCHAR"},
        {SQL_CVT_WVARCHAR, u"SQL_WVARCHAR"}, {SQL_CVT_WLONGVARCHAR, u"SQL_WLONGVARCHAR"}};
    uint32_t claimed = 0;
    for (unsigned t = SQL_CONVERT_BIGINT; t <= SQL_CONVERT_LONGVARBINARY; t++) claimed |= spk_info_lookup(t)->value;
    uint32_t named = 0;
    for (auto [bit, word] : targets) {
        std::u16string w(word);
        if (spk_convert_type(reinterpret_cast<const spk_unit *>(w.data()), w.size())) named |= bit;
    }
    EXPECT_EQ(claimed, claimed & named);
}

TEST_F(Info, TracedAnswers) {
    char dir[] = "/tmp/tarn-info-XXXXXX";
    ASSERT_TRUE(mkdtemp(dir));
    std::string path = std::string(dir) + "/trace.log";
    snprintf(conn->log_file, sizeof conn->log_file, "%s", path.c_str());
    conn->log_flags = LOG_ENTRY | LOG_EXIT | LOG_DETAIL | LOG_ERROR;
    ask(0, SQL_DRIVER_HSTMT, 8);
    ask(1, SQL_DRIVER_NAME, 64);
    ask(0, SQL_DATABASE_NAME, 8);
    ask(0, SQL_TXN_CAPABLE, 8);
    ask(0, SQL_DBMS_NAME, 8);    // not connected
    conn->log_flags = 0;
    std::ifstream in(path);
    std::stringstream text;
    text << in.rdbuf();
    std::string log = text.str();
    EXPECT_NE(std::string::npos, log.find("SQLGetInfo: unexpected info_type 5")) << log;
    EXPECT_NE(std::string::npos, log.find("libtarndrv.so")) << log;
    EXPECT_NE(std::string::npos, log.find("SQLGetInfo: info_type 46 is 0")) << log;
    unlink(path.c_str());
    rmdir(dir);
}

// ---------------------------------------------------------------------------
// Server name, DBMS name and DBMS version: asked from the server

using tarn_test::first_message;

TEST_F(Info, ServerAnswersNeedAConnection) {
    for (unsigned t : {SQL_SERVER_NAME, SQL_DBMS_NAME, SQL_DBMS_VER}) {
        Answer a = ask(0, t, 16);
        EXPECT_EQ(SQL_ERROR, a.rc) << t;
        EXPECT_NE("", a.states) << t;
        for (unsigned char b : a.bytes) EXPECT_EQ(kGuard, b);
    }
}

class ServerInfo : public Info {
  protected:
    tarn_fake::FakeServer srv;
    void SetUp() override {
        Info::SetUp();
        conn->server = spk_str_from_utf8("127.0.0.1", SQL_NTS);
        conn->port = srv.port();
        conn->authentication = AUTH_NONE;
        ASSERT_EQ(0, spk_connect(conn)) << sqlstates(conn) << " " << first_message(conn);
        srv.clear_records();
    }
    void TearDown() override {
        spk_close_session(conn);
        spk_disconnect(conn);
        Info::TearDown();
    }
    void answer_with(std::function<void(tcli::TGetInfoResp &)> edit) {
        srv.handlers().GetInfo = [edit](const tcli::TGetInfoReq &, tcli::TGetInfoResp &r) { edit(r); };
    }
};

TEST_F(ServerInfo, AnswersComeFromGetInfoWithTheSameNumber) {
    struct {
        unsigned type;
        const char *text;
    } cases[] = {{SQL_SERVER_NAME, "Spark SQL"}, {SQL_DBMS_NAME, "Spark SQL"}, {SQL_DBMS_VER, "4.0.1"}};
    for (auto &c : cases) {
        srv.clear_records();
        Answer a = ask(0, c.type, 32);
        EXPECT_EQ(SQL_SUCCESS, a.rc) << a.states;
        EXPECT_EQ(c.text, ansi_text(a));
        EXPECT_EQ((SQLSMALLINT)strlen(c.text), a.length);
        Answer w = ask(1, c.type, 64);
        EXPECT_EQ(SQL_SUCCESS, w.rc) << w.states;
        EXPECT_EQ(utf16(c.text), wide_text(w));
        EXPECT_EQ((SQLSMALLINT)(2 * strlen(c.text)), w.length);

        auto recs = srv.records("GetInfo");
        ASSERT_EQ(2u, recs.size());
        for (auto &r : recs)
            EXPECT_EQ((int)c.type, (int)tarn_fake::decode_args<tcli::TCLIService_GetInfo_args>(r.message).req.infoType);
    }
}

TEST_F(ServerInfo, NonAsciiAnswerIsUtf8ForAnsiAndUtf16ForWide) {
    answer_with([](tcli::TGetInfoResp &r) { r.infoValue.__set_stringValue("Sp\xC3\xA4rk \xE2\x9C\x93"); });
    Answer a = ask(0, SQL_DBMS_NAME, 32);
    EXPECT_EQ(SQL_SUCCESS, a.rc);
    EXPECT_EQ("Sp\xC3\xA4rk \xE2\x9C\x93", ansi_text(a));
    EXPECT_EQ(10, a.length);
    Answer w = ask(1, SQL_DBMS_NAME, 32);
    EXPECT_EQ(u"Sp\u00E4rk \u2713", wide_text(w));
    EXPECT_EQ(14, w.length);
    // Room for 8 bytes and the NUL: the check mark's three bytes do not fit.
    Answer t = ask(0, SQL_DBMS_NAME, 9);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, t.rc);
    EXPECT_EQ("01004", t.states);
    EXPECT_EQ("Sp\xC3\xA4rk ", ansi_text(t));
}

TEST_F(ServerInfo, AnswerWithoutTextIsAnEmptyString) {
    answer_with([](tcli::TGetInfoResp &r) { r.infoValue = tcli::TGetInfoValue(); });
    for (int wide = 0; wide <= 1; wide++) {
        Answer a = ask(wide, SQL_DBMS_VER, 8);
        EXPECT_EQ(SQL_SUCCESS, a.rc) << a.states;
        EXPECT_EQ(0, a.length);
        EXPECT_EQ(0, a.bytes[0]);
        EXPECT_EQ(wide ? 0 : kGuard, a.bytes[1]);
    }
}

TEST_F(ServerInfo, ErrorStatusIsReturnedWithTheServersMessage) {
    answer_with([](tcli::TGetInfoResp &r) {
        r.infoValue.__set_stringValue("ignored");
        r.status = tarn_fake::error_status("GetInfo refused", "42000", 17);
    });
    for (int wide = 0; wide <= 1; wide++) {
        Answer a = ask(wide, SQL_SERVER_NAME, 16);
        EXPECT_EQ(SQL_ERROR, a.rc);
        EXPECT_EQ("42000", a.states);
        EXPECT_NE(std::string::npos, first_message(conn).find("GetInfo refused")) << first_message(conn);
        EXPECT_EQ(17, spk_error_record(conn, 1)->native);
        EXPECT_EQ(-999, a.length);
        for (unsigned char b : a.bytes) EXPECT_EQ(kGuard, b);
    }
}

TEST_F(ServerInfo, BrokenConnectionIsAnError) {
    srv.fail_next("GetInfo", tarn_fake::Fault::DropMidReply);
    Answer a = ask(0, SQL_DBMS_NAME, 16);
    EXPECT_EQ(SQL_ERROR, a.rc);
    EXPECT_NE("", a.states);
    for (unsigned char b : a.bytes) EXPECT_EQ(kGuard, b);
}

// ---------------------------------------------------------------------------
// Names -> SQL_API_ identifiers

TEST(FunctionNames, AnsiAndWideNamesMapToOneIdentifier) {
    struct Case {
        const char *name;
        int id;
    } cases[] = {
        {"SQLGetInfo", SQL_API_SQLGETINFO},
        {"SQLGetInfoW", SQL_API_SQLGETINFO},
        {"SQLColAttribute", SQL_API_SQLCOLATTRIBUTE},
        {"SQLColAttributesW", SQL_API_SQLCOLATTRIBUTES},
        {"SQLAllocHandle", SQL_API_SQLALLOCHANDLE},
        {"SQLAllocHandleStd", SQL_API_SQLALLOCHANDLESTD},
        {"SQLGetDescRec", SQL_API_SQLGETDESCREC},
        {"SQLFetchScroll", SQL_API_SQLFETCHSCROLL},
        {"SQLFetch", SQL_API_SQLFETCH},
        {"SQLDriverConnectW", SQL_API_SQLDRIVERCONNECT},
        {"SQLGetInfoWide", -1},
        {"SQLGetInf", -1},
        {"SQLGetInfoWW", -1},
        {"driver_test", -1},
        {"", -1},
        {nullptr, -1},
    };
    for (auto &c : cases) EXPECT_EQ(c.id, spk_function_id(c.name)) << (c.name ? c.name : "(null)");
}

TEST(FunctionNames, BitmapAndSingleAnswersAgree) {
    SQLUSMALLINT words[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE + 1];
    words[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE] = 0xBEEF;
    spk_functions_bitmap(words);
    EXPECT_EQ(0xBEEF, words[SQL_API_ODBC3_ALL_FUNCTIONS_SIZE]);
    for (unsigned id = 0; id < SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16; id++)
        EXPECT_EQ((words[id / 16] >> (id % 16)) & 1, spk_function_supported(id)) << id;
    EXPECT_EQ(0, spk_function_supported(0));
    EXPECT_EQ(0, spk_function_supported(SQL_API_ODBC3_ALL_FUNCTIONS_SIZE * 16));
    EXPECT_EQ(0, spk_function_supported(0xFFFF));
    // The functions of this part are always there.
    EXPECT_EQ(1, spk_function_supported(SQL_API_SQLGETINFO));
    EXPECT_EQ(1, spk_function_supported(SQL_API_SQLGETFUNCTIONS));
    EXPECT_EQ(0, spk_function_supported(SQL_API_SQLDRIVERS));
    EXPECT_EQ(0, spk_function_supported(SQL_API_SQLDATASOURCES));
}

}  // namespace
