// Diagnostics: posting (order, message forms, return codes), server
// statuses, and the readers behind SQLGetDiagRec(W) / SQLGetDiagField(W),
// with guard bytes around every output buffer.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "core/spk_err.h"
#include "core/spk_log.h"
#include "spk_handles.h"
#include "spk_string.h"

namespace {

std::string narrow(const SpkString *s) {
    std::string out;
    for (int i = 0; i < spk_str_length(s); i++) out += (char)(s->units[i] & 0xFF);
    return out;
}

std::string utf8(const SpkString *s) {
    size_t n = 0;
    char *b = spk_str_to_utf8_n(s, &n);
    std::string out(b ? b : "", n);
    free(b);
    return out;
}

std::u16string u16(const char *ascii) {
    std::u16string s;
    while (*ascii) s += (char16_t)(unsigned char)*ascii++;
    return s;
}

// A buffer with guard bytes on both sides.
class Guarded {
  public:
    static const size_t GUARD = 32;
    explicit Guarded(size_t length) : length_(length), mem_(GUARD * 2 + length, 0xAB) {
        memset(mem_.data() + GUARD, 0xCD, length);
    }
    void *ptr() { return mem_.data() + GUARD; }
    const char *chars() const { return reinterpret_cast<const char *>(mem_.data() + GUARD); }
    const char16_t *units() const { return reinterpret_cast<const char16_t *>(mem_.data() + GUARD); }
    bool untouched_from(size_t from) const {
        for (size_t i = GUARD + from; i < GUARD + length_; i++)
            if (mem_[i] != 0xCD) return false;
        return true;
    }
    bool guards_intact() const {
        for (size_t i = 0; i < GUARD; i++)
            if (mem_[i] != 0xAB || mem_[GUARD + length_ + i] != 0xAB) return false;
        return true;
    }

  private:
    size_t length_;
    std::vector<unsigned char> mem_;
};

// A small handle tree built by hand: environment, connection, statement,
// descriptor.
class Diag : public ::testing::Test {
  protected:
    void SetUp() override {
        env = new SpkEnvironment();
        env->tag = SPK_ENVIRONMENT_HANDLE;
        conn = new SpkConnection();
        conn->tag = SPK_CONNECTION_HANDLE;
        conn->parent = env;
        stmt = new SpkStatement();
        stmt->tag = SPK_STATEMENT_HANDLE;
        stmt->parent = conn;
        desc = new SpkDescriptor();
        desc->tag = SPK_DESCRIPTOR_HANDLE;
        desc->parent = conn;
    }
    void TearDown() override {
        for (SpkHandle *h : std::initializer_list<SpkHandle *>{env, conn, stmt, desc}) spk_clear_errors(h);
        spk_str_free(conn->dsn);
        delete desc;
        delete stmt;
        delete conn;
        delete env;
    }
    std::string states(void *h) {
        std::string out;
        for (int i = 1; const SpkError *e = spk_error_record(h, i); i++) out += narrow(e->sqlstate) + " ";
        return out;
    }
    const SpkError *rec(void *h, int n) { return spk_error_record(h, n); }

    SpkEnvironment *env;
    SpkConnection *conn;
    SpkStatement *stmt;
    SpkDescriptor *desc;
};

// ---------------------------------------------------------------------------
// Posting

TEST_F(Diag, RecordsAreKeptInDescendingSqlstateOrder) {
    spk_post_error(stmt, "01004", 1, nullptr);
    spk_post_error(stmt, "HY000", 2, nullptr);
    spk_post_error(stmt, "01004", 3, nullptr);
    ASSERT_EQ(spk_error_count(stmt), 3);
    EXPECT_EQ(states(stmt), "HY000 01004 01004 ");
    EXPECT_EQ(rec(stmt, 2)->native, 1);   // the earlier 01004 stays first
    EXPECT_EQ(rec(stmt, 3)->native, 3);

    spk_clear_errors(stmt);
    for (const char *s : {"08S01", "01S02", "IM001", "42000", "HY092", "HYC00", "07009", "S1009"})
        spk_post_error(stmt, s, 0, nullptr);
    EXPECT_EQ(states(stmt), "S1009 IM001 HYC00 HY092 42000 08S01 07009 01S02 ");
    spk_clear_errors(stmt);
    EXPECT_EQ(spk_error_count(stmt), 0);
    EXPECT_EQ(stmt->diagnostics, nullptr);
}

TEST_F(Diag, MessageForms) {
    struct {
        const char *state;
        const char *expected;
    } cases[] = {
        {"HY000", "[Quillmark][Tarnwell]General error: unexpected option 7 supplied to SQLFreeStmt"},
        {"42000", "[Quillmark][Tarnwell]unexpected option 7 supplied to SQLFreeStmt"},
        {"01S02", "[Quillmark][Tarnwell]unexpected option 7 supplied to SQLFreeStmt"},
    };
    for (auto &c : cases) {
        spk_clear_errors(conn);
        spk_post_error(conn, c.state, 0, "unexpected option %d supplied to SQLFreeStmt", 7);
        ASSERT_EQ(spk_error_count(conn), 1);
        EXPECT_EQ(narrow(rec(conn, 1)->message), c.expected);
        EXPECT_EQ(narrow(rec(conn, 1)->sqlstate), c.state);
    }
    struct {
        const char *state;
        const char *expected;
    } bare[] = {{"HY001", "[Quillmark][Tarnwell]Memory allocation error"},
                {"42000", "[Quillmark][Tarnwell]"},
                {"01004", "[Quillmark][Tarnwell]String data, right truncation"},
                {"HY017", "[Quillmark][Tarnwell]Invalid use of an automatically allocated descriptor handle"}};
    for (auto &c : bare) {
        spk_clear_errors(conn);
        spk_post_error(conn, c.state, 0, nullptr);
        EXPECT_EQ(narrow(rec(conn, 1)->message), c.expected);
    }
}

TEST_F(Diag, ReturnCodesAndFields) {
    EXPECT_EQ(spk_post_error(stmt, "HY000", 0, nullptr), SQL_ERROR);
    EXPECT_EQ(spk_post_error(stmt, "01004", 0, nullptr), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(spk_post_error(stmt, "01S07", 0, nullptr), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(spk_post_error(stmt, "08S01", 0, nullptr), SQL_ERROR);
    EXPECT_EQ(spk_post_column_error(stmt, "22003", 17, 4, "column %d", 4), SQL_ERROR);
    const SpkError *e = rec(stmt, 1);   // 22003 sorts before 08S01 and 01*
    ASSERT_EQ(narrow(e->sqlstate), "HY000");
    EXPECT_EQ(e->column_number, -1);
    EXPECT_EQ(e->row_number, 0);
    e = rec(stmt, 2);
    ASSERT_EQ(narrow(e->sqlstate), "22003");
    EXPECT_EQ(e->column_number, 4);
    EXPECT_EQ(e->native, 17);
    EXPECT_EQ(narrow(e->message), "[Quillmark][Tarnwell]Numeric value out of range: column 4");
    // No handle: the code is still returned, nothing is touched.
    EXPECT_EQ(spk_post_error(nullptr, "HY009", 0, "x %d", 1), SQL_ERROR);
    EXPECT_EQ(spk_post_error(nullptr, "01004", 0, nullptr), SQL_SUCCESS_WITH_INFO);
}

TEST_F(Diag, LongMessagesAreCutAt1023Characters) {
    std::string big(3000, 'x');
    spk_post_error(stmt, "HY000", 0, "%s", big.c_str());
    std::string m = narrow(rec(stmt, 1)->message);
    EXPECT_LE(m.size(), 1023u);
    EXPECT_GT(m.size(), 900u);
    EXPECT_EQ(m.substr(0, 36), "[Quillmark][Tarnwell]General error: ");
    EXPECT_EQ(m.substr(m.size() - 3), "...");
}

TEST_F(Diag, CopyErrorInsertsAtItsPlace) {
    spk_post_error(stmt, "HY000", 5, "inner");
    spk_post_error(conn, "01004", 0, nullptr);
    spk_post_error(conn, "IM001", 0, nullptr);
    spk_copy_error(conn, rec(stmt, 1));
    EXPECT_EQ(states(conn), "IM001 HY000 01004 ");
    const SpkError *c = rec(conn, 2);
    EXPECT_EQ(c->native, 5);
    EXPECT_EQ(narrow(c->message), "[Quillmark][Tarnwell]General error: inner");
    EXPECT_NE(c->message, rec(stmt, 1)->message);   // a copy, not shared
}

TEST_F(Diag, PostingIsTracedWhenDetailIsOn) {
    stmt->log_flags = LOG_DETAIL;   // the connection's log_file is empty: standard error
    ::testing::internal::CaptureStderr();
    spk_post_error(stmt, "HY024", 9, "value %d", 5);
    SpkStatusInfo st = {3, nullptr, 0, 0, nullptr};
    spk_post_status(stmt, &st);
    stmt->log_flags = 0;
    spk_post_error(stmt, "HY000", 0, "quiet");
    std::string err = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(err.find("Posting Internal Error state='HY024' text='[Quillmark][Tarnwell]Invalid argument value: "
                       "value 5', native=9"),
              std::string::npos)
        << err;
    EXPECT_NE(err.find("Status 3 ERROR_STATUS"), std::string::npos) << err;
    EXPECT_EQ(err.find("quiet"), std::string::npos);
}

// ---------------------------------------------------------------------------
// Server statuses

TEST_F(Diag, StatusWithoutFieldsIsGeneralError) {
    SpkStatusInfo st = {3, nullptr, 0, 0, nullptr};
    EXPECT_EQ(spk_post_status(stmt, &st), SQL_ERROR);
    const SpkError *e = rec(stmt, 1);
    ASSERT_NE(e, nullptr);
    EXPECT_EQ(narrow(e->sqlstate), "HY000");
    EXPECT_EQ(e->native, 0);
    EXPECT_EQ(narrow(e->message), "[Quillmark][Tarnwell]General Error");
}

TEST_F(Diag, StatusCarriesServerFields) {
    SpkStatusInfo st = {3, "42S02", 1, 10, "Table or view not found: caf\xC3\xA9"};
    EXPECT_EQ(spk_post_status(stmt, &st), SQL_ERROR);
    const SpkError *e = rec(stmt, 1);
    EXPECT_EQ(narrow(e->sqlstate), "42S02");
    EXPECT_EQ(e->native, 10);
    EXPECT_EQ(utf8(e->message), "[Quillmark][Tarnwell]Table or view not found: caf\xC3\xA9");

    SpkStatusInfo warn = {1, "01000", 0, 99, "careful"};
    EXPECT_EQ(spk_post_status(conn, &warn), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(rec(conn, 1)->native, 0);   // the code was not set
    // A malformed state is replaced by HY000.
    SpkStatusInfo odd = {3, "", 0, 0, "x"};
    spk_post_status(desc, &odd);
    EXPECT_EQ(narrow(rec(desc, 1)->sqlstate), "HY000");
}

TEST_F(Diag, LongServerMessageIsCutOnACharacterBoundary) {
    std::string msg;
    for (int i = 0; i < 700; i++) msg += "\xC3\xA9";   // 1400 bytes of e-acute
    SpkStatusInfo st = {3, "HY000", 0, 0, msg.c_str()};
    spk_post_status(stmt, &st);
    const SpkError *e = rec(stmt, 1);
    int n = spk_str_length(e->message);
    ASSERT_GT(n, 500);
    EXPECT_LE(utf8(e->message).size(), 1023u);
    for (int i = 21; i < n - 3; i++) ASSERT_EQ(e->message->units[i], 0xE9) << i;
    EXPECT_EQ(narrow(e->message).substr(n - 3), "...");
}

TEST(Status, CodeNames) {
    EXPECT_STREQ(spk_status_code_name(0), "SUCCESS_STATUS");
    EXPECT_STREQ(spk_status_code_name(1), "SUCCESS_WITH_INFO_STATUS");
    EXPECT_STREQ(spk_status_code_name(2), "STILL_EXECUTING_STATUS");
    EXPECT_STREQ(spk_status_code_name(3), "ERROR_STATUS");
    EXPECT_STREQ(spk_status_code_name(4), "INVALID_HANDLE_STATUS");
    EXPECT_NE(spk_status_code_name(77), nullptr);
}

TEST(ErrorTable, Texts) {
    EXPECT_STREQ(spk_error_text("HY000"), "General error");
    EXPECT_STREQ(spk_error_text("HY090"), "Invalid string or buffer length");
    EXPECT_STREQ(spk_error_text("S1092"), "Option type out of range");
    EXPECT_EQ(spk_error_text("42000"), nullptr);
    EXPECT_EQ(spk_error_text("01S02"), nullptr);
    EXPECT_EQ(spk_error_text("ZZZZZ"), nullptr);
}

// ---------------------------------------------------------------------------
// SQLGetDiagRec(W)

const std::string THIRTY = "abcdefghijklmnopqrstuvwxyz1234";   // 30 characters

TEST_F(Diag, RecNumbersOutsideTheListGiveNoData) {
    spk_post_error(stmt, "HY000", 0, nullptr);
    for (int wide : {0, 1}) {
        for (int n : {0, -1, 2, 100}) {
            EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, stmt, n, wide, nullptr, nullptr, nullptr, 0, nullptr),
                      SQL_NO_DATA)
                << n;
        }
    }
}

TEST_F(Diag, RecChecksHandleAndLength) {
    spk_post_error(stmt, "HY000", 0, nullptr);
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_DBC, stmt, 1, 1, nullptr, nullptr, nullptr, 0, nullptr),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, nullptr, 1, 1, nullptr, nullptr, nullptr, 0, nullptr),
              SQL_INVALID_HANDLE);
    EXPECT_EQ(spk_diag_get_rec(99, stmt, 1, 1, nullptr, nullptr, nullptr, 0, nullptr), SQL_INVALID_HANDLE);
    Guarded buf(16);
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, stmt, 1, 0, nullptr, nullptr, buf.ptr(), -1, nullptr), SQL_ERROR);
    EXPECT_TRUE(buf.untouched_from(0));
    EXPECT_EQ(spk_error_count(stmt), 1);
}

TEST_F(Diag, RecWideReturnsEverything) {
    spk_post_error(conn, "HY000", 0, nullptr);
    spk_post_error(conn, "42000", 1234, "%s", THIRTY.c_str());
    Guarded state(12), msg(200);
    int32_t native = 0;
    SQLSMALLINT len = 0;
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_DBC, conn, 2, 1, state.ptr(), &native, msg.ptr(), 100, &len), SQL_SUCCESS);
    EXPECT_EQ(std::u16string(state.units(), 6), std::u16string(u"42000\0", 6));
    EXPECT_TRUE(state.guards_intact());
    EXPECT_EQ(native, 1234);
    std::string expect = "[Quillmark][Tarnwell]" + THIRTY;
    EXPECT_EQ(len, (SQLSMALLINT)expect.size());
    EXPECT_EQ(std::u16string(msg.units()), u16(expect.c_str()));
    EXPECT_TRUE(msg.untouched_from((expect.size() + 1) * 2));
    EXPECT_TRUE(msg.guards_intact());
}

TEST_F(Diag, RecWideTruncatesWithoutPosting) {
    spk_post_error(stmt, "42000", 0, "%s", THIRTY.c_str());   // 21 + 30 = 51 characters
    Guarded msg(20);
    SQLSMALLINT len = 0;
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, stmt, 1, 1, nullptr, nullptr, msg.ptr(), 10, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 51);
    EXPECT_EQ(std::u16string(msg.units()), u"[Quillmar");
    EXPECT_TRUE(msg.guards_intact());
    EXPECT_EQ(spk_error_count(stmt), 1);
}

TEST_F(Diag, RecAnsiIsUtf8CountedInBytes) {
    SpkStatusInfo st = {3, "HY000", 0, 0, "caf\xC3\xA9 \xE2\x82\xAC"};   // 6 characters, 9 bytes
    spk_post_status(stmt, &st);
    const std::string full = "[Quillmark][Tarnwell]caf\xC3\xA9 \xE2\x82\xAC";   // 30 bytes
    SQLSMALLINT len = 0;
    // Length only: bytes, whatever the buffer.
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, stmt, 1, 0, nullptr, nullptr, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 30);
    Guarded big(40), state(8);
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, stmt, 1, 0, state.ptr(), nullptr, big.ptr(), 40, &len), SQL_SUCCESS);
    EXPECT_EQ(std::string(big.chars()), full);
    EXPECT_EQ(std::string(state.chars(), 6), std::string("HY000\0", 6));
    EXPECT_TRUE(state.untouched_from(6));
    EXPECT_TRUE(big.guards_intact() && state.guards_intact());
    // 29 bytes of room: the euro sign (3 bytes) does not fit whole.
    Guarded cut(30);
    EXPECT_EQ(spk_diag_get_rec(SQL_HANDLE_STMT, stmt, 1, 0, nullptr, nullptr, cut.ptr(), 30, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 30);
    EXPECT_EQ(std::string(cut.chars()), "[Quillmark][Tarnwell]caf\xC3\xA9 ");
    EXPECT_TRUE(cut.guards_intact());
    // Inside the two-byte e-acute.
    Guarded cut2(26);
    spk_diag_get_rec(SQL_HANDLE_STMT, stmt, 1, 0, nullptr, nullptr, cut2.ptr(), 26, &len);
    EXPECT_EQ(std::string(cut2.chars()), "[Quillmark][Tarnwell]caf");
    EXPECT_TRUE(cut2.guards_intact());
    EXPECT_EQ(spk_error_count(stmt), 1);
}

TEST_F(Diag, RecOnEveryHandleType) {
    struct {
        SQLSMALLINT type;
        void *h;
    } cases[] = {{SQL_HANDLE_ENV, env}, {SQL_HANDLE_DBC, conn}, {SQL_HANDLE_STMT, stmt}, {SQL_HANDLE_DESC, desc}};
    for (auto &c : cases) {
        spk_post_error(c.h, "HY092", 3, nullptr);
        int32_t native = 0;
        EXPECT_EQ(spk_diag_get_rec(c.type, c.h, 1, 1, nullptr, &native, nullptr, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(native, 3);
    }
}

// ---------------------------------------------------------------------------
// SQLGetDiagField(W)

TEST_F(Diag, FieldMessageWideCountsBytes) {
    spk_post_error(stmt, "42000", 0, "%s", "123456789");   // 21 + 9 = 30 characters
    Guarded buf(20);
    SQLSMALLINT len = 0;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, 1, buf.ptr(), 20, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(len, 60);
    EXPECT_EQ(std::u16string(buf.units()), u"[Quillmar");
    EXPECT_TRUE(buf.guards_intact());
    EXPECT_EQ(spk_error_count(stmt), 1);
    // Odd buffer lengths use whole units only.
    Guarded odd(61);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, 1, odd.ptr(), 61, &len),
              SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(std::u16string(odd.units()).size(), 29u);
    EXPECT_TRUE(odd.guards_intact());
    Guarded fits(62);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, 1, fits.ptr(), 62, &len),
              SQL_SUCCESS);
    EXPECT_EQ(std::u16string(fits.units()), u"[Quillmark][Tarnwell]123456789");
}

TEST_F(Diag, FieldTextWithoutBufferGivesLength) {
    SpkStatusInfo st = {3, "HY000", 0, 0, "\xC3\xA9"};
    spk_post_status(stmt, &st);
    SQLSMALLINT len = 0;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, 0, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 23);   // UTF-8 bytes
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, 1, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 44);   // 22 units
    Guarded buf(8);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_MESSAGE_TEXT, 0, buf.ptr(), -2, &len), SQL_ERROR);
    EXPECT_TRUE(buf.untouched_from(0));
    EXPECT_EQ(spk_error_count(stmt), 1);
}

TEST_F(Diag, FieldOrigins) {
    struct {
        const char *state;
        int identifier;
        const char *expected;
    } cases[] = {
        {"01S02", SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"}, {"01004", SQL_DIAG_SUBCLASS_ORIGIN, "ISO 9075"},
        {"08S01", SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"}, {"HY105", SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"},
        {"IM009", SQL_DIAG_SUBCLASS_ORIGIN, "ISO 9075"}, {"IM012", SQL_DIAG_SUBCLASS_ORIGIN, "ODBC 3.0"},
        {"IM001", SQL_DIAG_CLASS_ORIGIN, "ODBC 3.0"},    {"HY000", SQL_DIAG_CLASS_ORIGIN, "ISO 9075"},
    };
    for (auto &c : cases) {
        spk_clear_errors(stmt);
        spk_post_error(stmt, c.state, 0, nullptr);
        for (int wide : {0, 1}) {
            Guarded buf(40);
            SQLSMALLINT len = 0;
            EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, c.identifier, wide, buf.ptr(), 40, &len),
                      SQL_SUCCESS);
            EXPECT_EQ(len, wide ? 16 : 8);
            std::string got;
            if (wide) {
                std::u16string w(buf.units());
                got.assign(w.begin(), w.end());
            } else {
                got = buf.chars();
            }
            EXPECT_EQ(got, c.expected) << c.state;
            EXPECT_TRUE(buf.guards_intact());
        }
    }
}

TEST_F(Diag, FieldRecordValues) {
    spk_post_column_error(stmt, "07006", 77, 3, nullptr);
    SQLSMALLINT len = 0;
    SQLINTEGER i32 = 0;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_NATIVE, 0, &i32, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(i32, 77);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_COLUMN_NUMBER, 1, &i32, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(i32, 3);
    SQLLEN row = 55;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_ROW_NUMBER, 0, &row, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(row, 0);
    EXPECT_EQ(len, 8);
    Guarded st(12);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_SQLSTATE, 1, st.ptr(), 12, &len), SQL_SUCCESS);
    EXPECT_EQ(std::u16string(st.units()), u"07006");
    EXPECT_EQ(len, 10);
    EXPECT_TRUE(st.guards_intact());
    // Unknown identifiers and record numbers.
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, 9999, 0, &i32, 0, &len), SQL_ERROR);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_NATIVE, 0, &i32, 0, &len), SQL_ERROR);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 2, SQL_DIAG_NATIVE, 0, &i32, 0, &len), SQL_NO_DATA);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_ENV, stmt, 1, SQL_DIAG_NATIVE, 0, &i32, 0, &len), SQL_INVALID_HANDLE);
}

TEST_F(Diag, FieldNumberOnEveryHandle) {
    spk_post_error(desc, "HY091", 0, nullptr);
    spk_post_error(desc, "07009", 0, nullptr);
    struct {
        SQLSMALLINT type;
        void *h;
        SQLINTEGER n;
    } cases[] = {{SQL_HANDLE_ENV, env, 0}, {SQL_HANDLE_DBC, conn, 0}, {SQL_HANDLE_DESC, desc, 2}};
    for (auto &c : cases) {
        SQLINTEGER n = -1;
        SQLSMALLINT len = 0;
        EXPECT_EQ(spk_diag_get_field(c.type, c.h, 0, SQL_DIAG_NUMBER, 0, &n, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(n, c.n);
        EXPECT_EQ(len, 4);
    }
}

TEST_F(Diag, FieldRowCount) {
    spk_post_error(stmt, "01004", 0, nullptr);
    SQLLEN v = -1;
    SQLSMALLINT len = 0;
    // No count from the last statement: an unknown identifier.
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_ROW_COUNT, 0, &v, 0, &len), SQL_ERROR);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 5, SQL_DIAG_ROW_COUNT, 0, &v, 0, &len), SQL_NO_DATA);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_ROW_COUNT, 0, &v, 0, &len), SQL_ERROR);
    stmt->row_count = 12345678901LL;
    stmt->row_count_valid = 1;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_ROW_COUNT, 0, &v, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(v, 12345678901LL);
    EXPECT_EQ(len, 8);
    stmt->cursor_row_count = 42;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_CURSOR_ROW_COUNT, 1, &v, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(v, 42);
}

TEST_F(Diag, FieldStatementOnlyIdentifiersElsewhere) {
    conn->row_count_valid = 1;
    for (int id : {SQL_DIAG_ROW_COUNT, SQL_DIAG_DYNAMIC_FUNCTION, SQL_DIAG_DYNAMIC_FUNCTION_CODE,
                   SQL_DIAG_CURSOR_ROW_COUNT}) {
        char buf[64];
        SQLSMALLINT len = 0;
        EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_DBC, conn, 0, id, 0, buf, 64, &len), SQL_ERROR) << id;
        EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_DESC, desc, 1, id, 1, buf, 64, &len), SQL_ERROR) << id;
    }
}

TEST_F(Diag, FieldDynamicFunction) {
    struct {
        int verb;
        SQLINTEGER code;
        const char *text;
    } cases[] = {{SPK_VERB_SELECT, 85, "SELECT CURSOR"}, {SPK_VERB_DELETE, 19, "DELETE WHERE"},
                 {SPK_VERB_UPDATE, 82, "UPDATE WHERE"},  {SPK_VERB_INSERT, 50, "INSERT"},
                 {SPK_VERB_SET, 0, ""},                  {SPK_VERB_OTHER, 0, ""}};
    for (auto &c : cases) {
        stmt->verb = c.verb;
        SQLINTEGER code = -1;
        SQLSMALLINT len = 0;
        EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_DYNAMIC_FUNCTION_CODE, 0, &code, 0, &len),
                  SQL_SUCCESS);
        EXPECT_EQ(code, c.code);
        Guarded buf(32);
        EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 0, SQL_DIAG_DYNAMIC_FUNCTION, 0, buf.ptr(), 32, &len),
                  SQL_SUCCESS);
        EXPECT_EQ(std::string(buf.chars()), c.text);
        EXPECT_EQ(len, (SQLSMALLINT)strlen(c.text));
        EXPECT_TRUE(buf.guards_intact());
    }
}

TEST_F(Diag, FieldConnectionAndServerName) {
    spk_post_error(env, "HY000", 0, nullptr);
    spk_post_error(conn, "HY000", 0, nullptr);
    spk_post_error(stmt, "HY000", 0, nullptr);
    char expected[64];
    spk_sformat(expected, sizeof expected, "NetConn: %p", (void *)conn);
    ASSERT_EQ(std::string(expected).substr(0, 9), "NetConn: ");

    SQLSMALLINT len = 0;
    for (auto [type, h] : {std::pair<int, void *>{SQL_HANDLE_STMT, stmt}, {SQL_HANDLE_DBC, conn}}) {
        Guarded buf(64);
        EXPECT_EQ(spk_diag_get_field(type, h, 1, SQL_DIAG_CONNECTION_NAME, 0, buf.ptr(), 64, &len), SQL_SUCCESS);
        EXPECT_EQ(std::string(buf.chars()), expected);
        EXPECT_TRUE(buf.guards_intact());
    }
    Guarded e(64);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_ENV, env, 1, SQL_DIAG_CONNECTION_NAME, 0, e.ptr(), 64, &len), SQL_ERROR);

    // No data source name yet: an empty text.
    Guarded none(16);
    len = 99;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_SERVER_NAME, 1, none.ptr(), 16, &len),
              SQL_SUCCESS);
    EXPECT_EQ(len, 0);
    EXPECT_EQ(none.units()[0], 0);
    EXPECT_TRUE(none.untouched_from(2));
    len = 99;
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_ENV, env, 1, SQL_DIAG_SERVER_NAME, 0, none.ptr(), 16, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 0);

    conn->dsn = spk_str_from_utf8("Sp\xC3\xA4rk", SQL_NTS);
    Guarded w(32), a(32);
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_SERVER_NAME, 1, w.ptr(), 32, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 10);
    EXPECT_EQ(std::u16string(w.units()), u"Sp\u00E4rk");
    EXPECT_EQ(spk_diag_get_field(SQL_HANDLE_DBC, conn, 1, SQL_DIAG_SERVER_NAME, 0, a.ptr(), 32, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 6);
    EXPECT_EQ(std::string(a.chars()), "Sp\xC3\xA4rk");
    EXPECT_TRUE(w.guards_intact() && a.guards_intact());
    // Reading never changes the records.
    EXPECT_EQ(spk_error_count(stmt), 1);
    EXPECT_EQ(spk_error_count(conn), 1);
}

}  // namespace
