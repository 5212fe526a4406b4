// The fetch engine without a server: the value accessor over every column
// member and null bitmaps of every length, the addresses of bound buffers,
// binding and unbinding, rowsets filled from a batch already in hand
// (statuses, rows processed, warnings and errors inside a rowset, the row
// limit), and the argument and cursor-state checks of SQLBindCol and
// SQLGetData.
#include <gtest/gtest.h>

#include "tarn_core_support.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "fake_results.h"
#include "fake_server.h"
#include "spk_desc.h"
#include "spk_err.h"
#include "spk_fetch.h"
#include "spk_handle.h"
#include "spk_handles.h"
#include "spk_operation.h"
#include "spk_string.h"

namespace {

using tarn_test::first_message;
using tarn_test::first_state;
using tarn_test::states;




class FetchUnit : public ::testing::Test {
  protected:
    SpkEnvironment *env = nullptr;
    SpkConnection *conn = nullptr;
    SpkStatement *stmt = nullptr;

    void SetUp() override {
        env = spk_env_new();
        conn = spk_conn_new(env, 3);
        stmt = spk_stmt_new(conn);
    }
    void TearDown() override { spk_env_free(env); }

    SpkOperation *op() { return stmt->operation; }

    // The statement's result as if described from a schema of these SQL types.
    void describe(const std::vector<int> &sql_types) {
        SpkDescriptor *ird = stmt->implicit_ird;
        ASSERT_EQ(spk_desc_reset(ird, (int)sql_types.size()), 0);
        for (size_t i = 0; i < sql_types.size(); i++) {
            SpkField *f = spk_desc_record(ird, (int)i + 1);
            f->concise_type = f->type = sql_types[i];
            f->precision = sql_types[i] == SQL_DECIMAL ? 10 : 0;
        }
        ird->described_count = (int)sql_types.size();
        ird->described = 1;
        stmt->described = 1;
    }

    // A batch in hand, positioned before its first row; the server is
    // known to have nothing after it.
    void load(const std::vector<tcli::TColumn> &columns) {
        SpkOperation *o = op();
        tcli::TRowSet rows;
        rows.__set_columns(columns);
        spk_batch_from_row_set(rows, &o->batch);
        o->has_row_set = true;
        o->has_op = true;   // rows come from an open operation
        o->active_rows = columns.empty() ? 0 : (int32_t)tarn_fake::column_rows(columns[0]);
        o->current_row = -1;
        o->end_of_data = true;
        o->rows_delivered = 0;
        stmt->state = SPK_STMT_CURSOR;
    }

    SQLRETURN bind(int column, int type, void *value, SQLLEN length, SQLLEN *ind) {
        spk_clear_errors(stmt);
        return spk_bind_col(stmt, column, type, value, length, ind);
    }
    SQLRETURN get(int column, int type, void *value, SQLLEN length, SQLLEN *ind) {
        spk_clear_errors(stmt);
        return spk_sql_get_data(stmt, column, type, value, length, ind);
    }
    SQLRETURN fetch(int orientation = SQL_FETCH_NEXT) {
        spk_clear_errors(stmt);
        return spk_fetch(stmt, orientation, 0);
    }
};

// ---------------------------------------------------------------------------
// Value accessor

struct MemberCase {
    const char *name;
    // A column of 20 rows whose row r holds a value derived from r.
    std::function<tcli::TColumn()> make;
    int kind;
    std::function<void(const SpkValue &, int)> check;
};

std::vector<MemberCase> member_cases() {
    using namespace tarn_fake;
    auto seq = [](auto f) {
        using T = decltype(f(0));
        std::vector<std::optional<T>> v;
        for (int r = 0; r < 20; r++) v.push_back(f(r));
        return v;
    };
    return {
        {"bool", [=] { return bool_column(seq([](int r) { return r % 2 == 1; })); }, SPK_VALUE_BOOL,
         [](const SpkValue &v, int r) { EXPECT_EQ(v.i, r % 2); }},
        {"byte", [=] { return byte_column(seq([](int r) { return (int8_t)(-r); })); }, SPK_VALUE_INT,
         [](const SpkValue &v, int r) { EXPECT_EQ(v.i, -r); }},
        {"i16", [=] { return i16_column(seq([](int r) { return (int16_t)(-30000 + r); })); }, SPK_VALUE_INT,
         [](const SpkValue &v, int r) { EXPECT_EQ(v.i, -30000 + r); }},
        {"i32", [=] { return i32_column(seq([](int r) { return (int32_t)(2000000000 + r); })); }, SPK_VALUE_INT,
         [](const SpkValue &v, int r) { EXPECT_EQ(v.i, 2000000000 + r); }},
        {"i64", [=] { return i64_column(seq([](int r) { return (int64_t)INT64_MIN + r; })); }, SPK_VALUE_INT,
         [](const SpkValue &v, int r) { EXPECT_EQ(v.i, INT64_MIN + r); }},
        {"double", [=] { return double_column(seq([](int r) { return 3.14159265358979 * r; })); }, SPK_VALUE_DOUBLE,
         [](const SpkValue &v, int r) { EXPECT_EQ(v.d, 3.14159265358979 * r); }},
        // Text and bytes with an embedded NUL: the length is the value's own.
        {"string", [=] { return string_column(seq([](int r) { return std::string("s\0", 2) + std::to_string(r); })); },
         SPK_VALUE_STRING,
         [](const SpkValue &v, int r) {
             EXPECT_EQ(std::string(v.bytes, v.length), std::string("s\0", 2) + std::to_string(r));
         }},
        {"binary", [=] { return binary_column(seq([](int r) { return std::string(3, (char)r); })); },
         SPK_VALUE_BINARY, [](const SpkValue &v, int r) { EXPECT_EQ(std::string(v.bytes, v.length), std::string(3, (char)r)); }},
    };
}

TEST_F(FetchUnit, AccessorReadsEveryMemberWithNullBitmapsOfEveryLength) {
    struct Bitmap {
        const char *name;
        std::string bits;
        std::vector<int> null_rows;
    };
    const Bitmap bitmaps[] = {
        {"empty", "", {}},
        {"one byte of three", std::string("\x05", 1), {0, 2}},            // rows 8..19 past the bitmap
        {"two bytes", std::string("\x80\x01", 2), {7, 8}},
        {"exact", std::string("\x00\x00\x0f", 3), {16, 17, 18, 19}},
        {"padded", std::string("\x00\x00\x00\xff\xff", 5), {}},           // bits past the rows mean nothing
    };
    for (const MemberCase &m : member_cases()) {
        for (const Bitmap &b : bitmaps) {
            SCOPED_TRACE(std::string(m.name) + " / " + b.name);
            load({tarn_fake::with_null_bitmap(m.make(), b.bits)});
            for (int r = 0; r < 20; r++) {
                op()->current_row = r;
                SpkValue v;
                memset(&v, 0x5a, sizeof v);
                spk_column_value(stmt, 1, &v);
                bool is_null = std::find(b.null_rows.begin(), b.null_rows.end(), r) != b.null_rows.end();
                if (is_null) {
                    EXPECT_EQ(v.kind, SPK_VALUE_NONE) << "row " << r;
                } else {
                    ASSERT_EQ(v.kind, m.kind) << "row " << r;
                    m.check(v, r);
                }
            }
        }
    }
}

TEST_F(FetchUnit, AccessorHandsStringsOverInPlace) {
    load({tarn_fake::string_column({"alpha", "beta"}), tarn_fake::binary_column({std::string("\x00\x01", 2), "z"})});
    op()->current_row = 1;
    SpkValue v;
    spk_column_value(stmt, 1, &v);
    size_t length = 0;
    EXPECT_EQ(v.bytes, op()->batch.columns[0].bytes(1, &length));
    EXPECT_EQ(length, 4u);
    spk_column_value(stmt, 2, &v);
    EXPECT_EQ(v.bytes, op()->batch.columns[1].bytes(1, &length));
}

TEST_F(FetchUnit, AccessorGivesNoValueOutsideTheBatch) {
    SpkValue v;
    spk_column_value(stmt, 1, &v);   // no batch at all
    EXPECT_EQ(v.kind, SPK_VALUE_NONE);
    tcli::TColumn unset;             // a column with no member
    load({tarn_fake::i32_column({1, 2, 3}), tarn_fake::i32_column({1}), unset});
    op()->current_row = 2;
    for (int column : {0, -1, 4, 1000}) {
        spk_column_value(stmt, column, &v);
        EXPECT_EQ(v.kind, SPK_VALUE_NONE) << column;
    }
    spk_column_value(stmt, 2, &v);   // the row is past this column's values
    EXPECT_EQ(v.kind, SPK_VALUE_NONE);
    spk_column_value(stmt, 3, &v);
    EXPECT_EQ(v.kind, SPK_VALUE_NONE);
    spk_column_value(stmt, 1, &v);
    EXPECT_EQ(v.kind, SPK_VALUE_INT);
    EXPECT_EQ(v.i, 3);
    for (int row : {-1, 3}) {
        op()->current_row = row;
        spk_column_value(stmt, 1, &v);
        EXPECT_EQ(v.kind, SPK_VALUE_NONE) << row;
    }
}

// ---------------------------------------------------------------------------
// Addresses of bound buffers

TEST_F(FetchUnit, PointersForColumnWiseAndRowWiseBinding) {
    static char base[8192];
    struct Case {
        const char *name;
        uint32_t bind_type;
        SQLLEN offset;       // -1: no offset pointer
        int c_type;
        int64_t octet_length;
        int row;
        ptrdiff_t data, ind;
    };
    const Case cases[] = {
        {"slong row 0", 0, -1, SQL_C_SLONG, 4, 0, 0, 0},
        {"slong row 1", 0, -1, SQL_C_SLONG, 4, 1, 4, 8},
        {"slong row 2", 0, -1, SQL_C_SLONG, 4, 2, 8, 16},
        {"char 21 row 2", 0, -1, SQL_C_CHAR, 21, 2, 42, 16},
        {"double row 3", 0, -1, SQL_C_DOUBLE, 8, 3, 24, 24},
        {"timestamp row 2", 0, -1, SQL_C_TIMESTAMP, 16, 2, 32, 16},
        {"numeric row 1", 0, -1, SQL_C_NUMERIC, 19, 1, 19, 8},
        {"bit row 5", 0, -1, SQL_C_BIT, 1, 5, 5, 40},
        {"column-wise with offset", 0, 100, SQL_C_SLONG, 4, 2, 108, 116},
        {"row-wise 40 offset 1000 row 2", 40, 1000, SQL_C_SLONG, 4, 2, 1080, 1080},
        {"row-wise char", 64, -1, SQL_C_CHAR, 21, 3, 192, 192},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        SpkDescriptor *ard = stmt->ard;
        ard->bind_type = c.bind_type;
        SQLLEN offset = c.offset;
        ard->bind_offset_ptr = c.offset >= 0 ? &offset : nullptr;
        SpkField f;
        spk_field_init(&f);
        f.concise_type = c.c_type;
        f.octet_length = c.octet_length;
        f.data_ptr = base;
        f.indicator_ptr = base + 4000;
        f.octet_length_ptr = base + 4000;
        stmt->row_offset = c.row;
        void *data;
        SQLLEN *ind, *len;
        get_pointers_from_cols(stmt, &f, ard, spk_field_stride(ard, &f, f.octet_length), &data, &ind, &len);
        EXPECT_EQ((char *)data - base, c.data);
        EXPECT_EQ((char *)ind - (base + 4000), c.ind);
        EXPECT_EQ(len, nullptr);   // the same as the indicator: written once
        // Separate length buffer: same step, its own base.
        f.octet_length_ptr = base + 6000;
        get_pointers_from_cols(stmt, &f, ard, spk_field_stride(ard, &f, f.octet_length), &data, &ind, &len);
        EXPECT_EQ((char *)len - (base + 6000), c.ind);
        // Absent bases stay absent.
        f.data_ptr = nullptr;
        f.indicator_ptr = nullptr;
        get_pointers_from_cols(stmt, &f, ard, 4, &data, &ind, &len);
        EXPECT_EQ(data, nullptr);
        EXPECT_EQ(ind, nullptr);
        EXPECT_NE(len, nullptr);
        spk_field_destroy(&f);
        ard->bind_offset_ptr = nullptr;
    }
}

// ---------------------------------------------------------------------------
// Binding

TEST_F(FetchUnit, BindSetsTheRecordAndUnbindShrinksTheDescriptor) {
    SpkDescriptor *ard = stmt->ard;
    char buf[32];
    SQLLEN ind;
    SQLINTEGER n;
    ASSERT_EQ(bind(3, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_EQ(ard->count, 3);
    SpkField *r3 = spk_desc_record(ard, 3);
    EXPECT_EQ(r3->concise_type, SQL_C_CHAR);
    EXPECT_EQ(r3->bound_c_type, SQL_C_CHAR);
    EXPECT_EQ(r3->octet_length, 32);
    EXPECT_EQ(r3->data_ptr, buf);
    EXPECT_EQ(r3->indicator_ptr, &ind);
    EXPECT_EQ(r3->octet_length_ptr, &ind);
    ASSERT_EQ(bind(5, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(ard->count, 5);
    EXPECT_EQ(spk_desc_record(ard, 5)->octet_length, 4);
    ASSERT_EQ(bind(1, SQL_C_TYPE_TIMESTAMP, buf, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(spk_desc_record(ard, 1)->type, SQL_DATETIME);
    EXPECT_EQ(spk_desc_record(ard, 1)->octet_length, 16);

    struct Step {
        int column;
        int count_after;
    };
    // Unbinding past the end changes nothing; unbinding the highest bound
    // column shrinks to the next bound one; unbinding the last bound one
    // frees the records.
    const Step steps[] = {{9, 5}, {3, 5}, {5, 1}, {1, 0}};
    for (const Step &s : steps) {
        ASSERT_EQ(bind(s.column, SQL_C_CHAR, nullptr, 0, nullptr), SQL_SUCCESS);
        EXPECT_EQ(ard->count, s.count_after) << "after unbinding " << s.column;
    }
    EXPECT_EQ(ard->records, nullptr);
    EXPECT_EQ(bind(4, SQL_C_CHAR, nullptr, 0, nullptr), SQL_SUCCESS);   // nothing to unbind
    EXPECT_EQ(ard->count, 0);
}

TEST_F(FetchUnit, BindDefaultFollowsTheColumnType) {
    describe({SQL_INTEGER, SQL_DECIMAL, SQL_BIGINT, SQL_VARCHAR});
    stmt->state = SPK_STMT_PREPARED;
    stmt->state = SPK_STMT_CURSOR;
    char buf[32];
    SQLLEN ind;
    const int expected[] = {SQL_C_SLONG, SQL_C_CHAR, SQL_C_SBIGINT, SQL_C_CHAR};
    for (int c = 1; c <= 4; c++) {
        ASSERT_EQ(bind(c, SQL_C_DEFAULT, buf, sizeof buf, &ind), SQL_SUCCESS) << c;
        EXPECT_EQ(spk_desc_record(stmt->ard, c)->concise_type, expected[c - 1]) << c;
        EXPECT_EQ(spk_desc_record(stmt->ard, c)->bound_c_type, expected[c - 1]) << c;
    }
    // A numeric target keeps a usable precision whatever the column.
    ASSERT_EQ(bind(4, SQL_C_NUMERIC, buf, sizeof buf, &ind), SQL_SUCCESS) << first_message(stmt);
    ASSERT_EQ(bind(2, SQL_C_NUMERIC, buf, sizeof buf, &ind), SQL_SUCCESS) << first_message(stmt);
    EXPECT_EQ(spk_desc_record(stmt->ard, 2)->precision, 10);
}

TEST_F(FetchUnit, BindRefusesBadInputAndKeepsTheBinding) {
    describe({SQL_INTEGER, SQL_VARCHAR});
    SQLINTEGER n;
    SQLLEN ind;
    ASSERT_EQ(bind(1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    struct Case {
        int column;
        int type;
        SQLLEN length;
        const char *state;
    };
    const Case cases[] = {
        {1, 0, 4, "HY003"},
        {1, 3, 4, "HY003"},     // SQL_DECIMAL is no C type
        {1, 12345, 4, "HY003"},
        {1, SQL_ARD_TYPE, 4, "HY003"},
        {1, SQL_C_INTERVAL_DAY, 4, "HYC00"},
        {1, SQL_C_CHAR, -1, "HY090"},
        {0, SQL_C_SLONG, 8, "07006"},
        {0, SQL_C_DEFAULT, 8, "07006"},
    };
    for (const Case &c : cases) {
        EXPECT_EQ(bind(c.column, c.type, &n, c.length, &ind), SQL_ERROR) << c.state;
        EXPECT_EQ(first_state(stmt), c.state);
    }
    SpkField *r1 = spk_desc_record(stmt->ard, 1);
    EXPECT_EQ(r1->concise_type, SQL_C_SLONG);
    EXPECT_EQ(r1->data_ptr, &n);
    EXPECT_EQ(stmt->ard->count, 1);

    // A column past a described result: refused while the result is there,
    // accepted for a statement not yet run.
    stmt->state = SPK_STMT_CURSOR;
    EXPECT_EQ(bind(3, SQL_C_SLONG, &n, 0, &ind), SQL_ERROR);
    EXPECT_EQ(first_state(stmt), "07009");
    stmt->state = SPK_STMT_PREPARED;
    EXPECT_EQ(bind(3, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->count, 3);
    // Both bookmark types are accepted for column 0.
    EXPECT_EQ(bind(0, SQL_C_VARBOOKMARK, &n, sizeof n, &ind), SQL_SUCCESS);
    EXPECT_EQ(bind(0, SQL_C_BOOKMARK, &n, sizeof n, &ind), SQL_SUCCESS);
}

// ---------------------------------------------------------------------------
// Rowsets from a batch in hand

TEST_F(FetchUnit, RowsetStatusesAndRowsProcessed) {
    describe({SQL_INTEGER});
    std::vector<std::optional<int32_t>> v;
    for (int i = 1; i <= 6; i++) v.push_back(i);
    load({tarn_fake::i32_column(v)});
    SQLINTEGER values[4];
    SQLLEN inds[4];
    SQLUSMALLINT status[5];
    SQLULEN processed = 0;
    stmt->ard->array_size = 4;
    stmt->ird->array_status_ptr = status;
    stmt->ird->rows_processed_ptr = &processed;
    ASSERT_EQ(bind(1, SQL_C_SLONG, values, 0, inds), SQL_SUCCESS);

    struct Call {
        SQLRETURN rc;
        SQLULEN processed;
        std::vector<SQLUSMALLINT> status;
        std::vector<SQLINTEGER> values;
    };
    const Call calls[] = {
        {SQL_SUCCESS, 4, {0, 0, 0, 0}, {1, 2, 3, 4}},
        {SQL_SUCCESS, 2, {0, 0, SQL_ROW_NOROW, SQL_ROW_NOROW}, {5, 6}},
        {SQL_NO_DATA, 0, {SQL_ROW_NOROW, SQL_ROW_NOROW, SQL_ROW_NOROW, SQL_ROW_NOROW}, {}},
        {SQL_NO_DATA, 0, {SQL_ROW_NOROW, SQL_ROW_NOROW, SQL_ROW_NOROW, SQL_ROW_NOROW}, {}},
    };
    for (const Call &c : calls) {
        memset(status, 0xEE, sizeof status);
        processed = 99;
        EXPECT_EQ(fetch(), c.rc);
        EXPECT_EQ(processed, c.processed);
        for (int i = 0; i < 4; i++) EXPECT_EQ(status[i], c.status[i]) << i;
        EXPECT_EQ(status[4], 0xEEEE);
        for (size_t i = 0; i < c.values.size(); i++) EXPECT_EQ(values[i], c.values[i]);
    }
}

TEST_F(FetchUnit, ErrorsAndWarningsInsideARowset) {
    describe({SQL_VARCHAR});
    SQLINTEGER values[4];
    SQLLEN inds[4];
    SQLUSMALLINT status[4];
    SQLULEN processed = 0;
    stmt->ird->array_status_ptr = status;
    stmt->ird->rows_processed_ptr = &processed;
    ASSERT_EQ(bind(1, SQL_C_SLONG, values, 0, inds), SQL_SUCCESS);

    // Array size 4: the failing row is marked, named, and counted; the
    // rowset goes on past it.
    stmt->ard->array_size = 4;
    load({tarn_fake::string_column({"1", "2", "x", "4", "5"})});
    EXPECT_EQ(fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(first_state(stmt), "22018");
    EXPECT_EQ(spk_error_record(stmt, 1)->row_number, 3);
    EXPECT_EQ(processed, 4u);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[2], SQL_ROW_ERROR);
    EXPECT_EQ(status[3], SQL_ROW_SUCCESS);
    EXPECT_EQ(values[3], 4);
    EXPECT_EQ(fetch(), SQL_SUCCESS);
    EXPECT_EQ(processed, 1u);
    EXPECT_EQ(values[0], 5);

    // A fractional value warns on its row only.
    load({tarn_fake::string_column({"1", "2.5", "3"})});
    EXPECT_EQ(fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(first_state(stmt), "01S07");
    EXPECT_EQ(processed, 3u);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[1], SQL_ROW_SUCCESS_WITH_INFO);
    EXPECT_EQ(status[2], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[3], SQL_ROW_NOROW);
    EXPECT_EQ(values[1], 2);

    // Array size 1: the row's own return code.
    stmt->ard->array_size = 1;
    load({tarn_fake::string_column({"x", "7"})});
    EXPECT_EQ(fetch(), SQL_ERROR);
    EXPECT_EQ(status[0], SQL_ROW_ERROR);
    EXPECT_EQ(processed, 1u);
    EXPECT_EQ(fetch(), SQL_SUCCESS);
    EXPECT_EQ(values[0], 7);
}

// A rowset is filled column by column from the batch in hand; every value
// must come out as the row-by-row path (array size 1) gives it, warnings and
// errors on the same rows, whatever the pair of types and the buffer.
TEST_F(FetchUnit, RowsetsColumnByColumnAsRowByRow) {
    using namespace tarn_fake;
    using S = std::optional<std::string>;
    const std::vector<S> texts = {"abc", "", std::nullopt, "\xc3\xa9\xc3\xa9\xc3\xa9", std::string(40, 'w'), "12",
                                  " 7 ", "x"};
    const std::vector<S> decimals = {"1.50", "-0.01", std::nullopt, "123456789.12", "0.00"};
    const std::vector<S> dates = {"2020-01-01", "2024-02-29", std::nullopt, "2020-02-30", "+10000-01-01",
                                  "0001-12-31", "2021-2-3",   "1999-12-31 00:00:00"};
    const std::vector<S> stamps = {"2020-09-13 12:26:40",        "2020-09-13 12:26:40.123", std::nullopt,
                                   "2020-09-13 12:26:40.1234567891", "2020-09-13T01:02:03",   "2020-13-01 00:00:00",
                                   "2020-09-13 24:00:00",        "2020-09-13 00:00:00.",    "1970-01-01 00:00:00.000000001"};
    struct Case {
        const char *name;
        int sql_type;
        std::function<tcli::TColumn()> column;
        int c_type;
        SQLLEN buffer;
        bool indicator;
    };
    auto i64s = [] { return i64_column({0, -1, INT64_MAX, std::nullopt, INT64_MIN, 40000, 7}); };
    auto i32s = [] { return i32_column({5, -70000, std::nullopt, 255, -1, INT32_MAX}); };
    auto doubles = [] { return double_column({0.5, -1e300, std::nullopt, 3.0, 1e-320, 2.5e9}); };
    const Case cases[] = {
        {"bigint sbigint", SQL_BIGINT, i64s, SQL_C_SBIGINT, 8, true},
        {"bigint slong", SQL_BIGINT, i64s, SQL_C_SLONG, 4, true},
        {"bigint ubigint", SQL_BIGINT, i64s, SQL_C_UBIGINT, 8, true},
        {"bigint char", SQL_BIGINT, i64s, SQL_C_CHAR, 6, true},
        {"bigint bit", SQL_BIGINT, i64s, SQL_C_BIT, 1, true},
        {"bigint, nulls without indicator", SQL_BIGINT, i64s, SQL_C_SBIGINT, 8, false},
        {"int sshort", SQL_INTEGER, i32s, SQL_C_SSHORT, 2, true},
        {"int utinyint", SQL_INTEGER, i32s, SQL_C_UTINYINT, 1, true},
        {"int double", SQL_INTEGER, i32s, SQL_C_DOUBLE, 8, true},
        {"smallint", SQL_SMALLINT, [] { return i16_column({1, -32768, std::nullopt, 32767}); }, SQL_C_SSHORT, 2, true},
        {"tinyint", SQL_TINYINT, [] { return byte_column({1, -128, std::nullopt, 127}); }, SQL_C_UTINYINT, 1, true},
        {"boolean bit", SQL_BIT, [] { return bool_column({true, false, std::nullopt, true}); }, SQL_C_BIT, 1, true},
        {"boolean char", SQL_BIT, [] { return bool_column({true, false, std::nullopt}); }, SQL_C_CHAR, 4, true},
        {"double double", SQL_DOUBLE, doubles, SQL_C_DOUBLE, 8, true},
        {"double float", SQL_DOUBLE, doubles, SQL_C_FLOAT, 4, true},
        {"double slong", SQL_DOUBLE, doubles, SQL_C_SLONG, 4, true},
        {"varchar char 10", SQL_VARCHAR, [&] { return string_column(texts); }, SQL_C_CHAR, 10, true},
        {"varchar char 100", SQL_VARCHAR, [&] { return string_column(texts); }, SQL_C_CHAR, 100, true},
        {"varchar char 1", SQL_VARCHAR, [&] { return string_column(texts); }, SQL_C_CHAR, 1, true},
        {"varchar wchar", SQL_VARCHAR, [&] { return string_column(texts); }, SQL_C_WCHAR, 100, true},
        {"varchar wchar 8", SQL_VARCHAR, [&] { return string_column(texts); }, SQL_C_WCHAR, 8, true},
        {"decimal wchar", SQL_DECIMAL, [&] { return string_column(decimals); }, SQL_C_WCHAR, 12, true},
        {"varchar slong", SQL_VARCHAR, [&] { return string_column(texts); }, SQL_C_SLONG, 4, true},
        {"decimal char", SQL_DECIMAL, [&] { return string_column(decimals); }, SQL_C_CHAR, 8, true},
        {"decimal numeric", SQL_DECIMAL, [&] { return string_column(decimals); }, SQL_C_NUMERIC,
         sizeof(SQL_NUMERIC_STRUCT), true},
        {"decimal double", SQL_DECIMAL, [&] { return string_column(decimals); }, SQL_C_DOUBLE, 8, true},
        {"date date", SQL_TYPE_DATE, [&] { return string_column(dates); }, SQL_C_TYPE_DATE,
         sizeof(SQL_DATE_STRUCT), true},
        {"date timestamp", SQL_TYPE_DATE, [&] { return string_column(dates); }, SQL_C_TYPE_TIMESTAMP,
         sizeof(SQL_TIMESTAMP_STRUCT), true},
        {"date char", SQL_TYPE_DATE, [&] { return string_column(dates); }, SQL_C_CHAR, 20, true},
        {"timestamp timestamp", SQL_TYPE_TIMESTAMP, [&] { return string_column(stamps); }, SQL_C_TYPE_TIMESTAMP,
         sizeof(SQL_TIMESTAMP_STRUCT), true},
        {"timestamp date", SQL_TYPE_TIMESTAMP, [&] { return string_column(stamps); }, SQL_C_TYPE_DATE,
         sizeof(SQL_DATE_STRUCT), true},
        {"timestamp char", SQL_TYPE_TIMESTAMP, [&] { return string_column(stamps); }, SQL_C_CHAR, 24, true},
        {"binary binary", SQL_VARBINARY, [] { return binary_column({std::string("\0\1", 2), std::nullopt, "abc"}); },
         SQL_C_BINARY, 2, true},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.name);
        describe({SQL_INTEGER, c.sql_type});
        const tcli::TColumn column = c.column();
        const size_t rows = column_rows(column);
        std::vector<std::optional<int32_t>> ids;
        for (size_t r = 0; r < rows; r++) ids.push_back((int32_t)r);
        const size_t width = (size_t)c.buffer;
        // Row by row: each row's bytes, indicator, return code and SQLSTATEs.
        struct Row {
            std::vector<unsigned char> bytes;
            SQLLEN ind;
            SQLRETURN rc;
            std::vector<std::string> states;
        };
        std::vector<Row> single(rows);
        load({i32_column(ids), column});
        stmt->ard->array_size = 1;
        std::vector<unsigned char> buf(width * (rows + 1), 0xCC);
        std::vector<SQLLEN> inds(rows + 1, -7);
        SQLINTEGER id[64];
        ASSERT_EQ(bind(1, SQL_C_SLONG, id, 0, nullptr), SQL_SUCCESS);
        for (size_t r = 0; r < rows; r++) {
            std::fill(buf.begin(), buf.end(), 0xCC);
            inds[0] = -7;
            ASSERT_EQ(bind(2, c.c_type, buf.data(), c.buffer, c.indicator ? inds.data() : nullptr), SQL_SUCCESS);
            single[r].rc = fetch();
            single[r].bytes.assign(buf.begin(), buf.begin() + (long)width);
            single[r].ind = inds[0];
            for (const std::string &st : states(stmt)) single[r].states.push_back(st + "@" + std::to_string(r + 1));
        }
        EXPECT_EQ(fetch(), SQL_NO_DATA);
        // SQLGetData of each row gives the same as the bound column (but for
        // SQL_C_NUMERIC, whose bound precision and scale are the binding's).
        load({i32_column(ids), column});
        ASSERT_EQ(bind(2, c.c_type, nullptr, 0, nullptr), SQL_SUCCESS);
        for (size_t r = 0; r < rows && c.c_type != SQL_C_NUMERIC; r++) {
            SCOPED_TRACE(r);
            ASSERT_EQ(fetch(), SQL_SUCCESS);
            std::fill(buf.begin(), buf.end(), 0xCC);
            inds[0] = -7;
            SQLRETURN got = get(2, c.c_type, buf.data(), c.buffer, c.indicator ? inds.data() : nullptr);
            EXPECT_EQ(got, single[r].rc);
            std::vector<std::string> seen;
            for (const std::string &st : states(stmt)) seen.push_back(st + "@" + std::to_string(r + 1));
            EXPECT_EQ(seen, single[r].states);
            if (got == SQL_ERROR) continue;
            EXPECT_EQ(std::vector<unsigned char>(buf.begin(), buf.begin() + (long)width), single[r].bytes);
            if (c.indicator) {
                EXPECT_EQ(inds[0], single[r].ind);
            }
        }
        // The whole batch in one rowset.
        load({i32_column(ids), column});
        stmt->ard->array_size = rows + 1;
        std::fill(buf.begin(), buf.end(), 0xCC);
        std::fill(inds.begin(), inds.end(), -7);
        std::vector<SQLUSMALLINT> status(rows + 1, 0xEEEE);
        SQLULEN processed = 0;
        stmt->ird->array_status_ptr = status.data();
        stmt->ird->rows_processed_ptr = &processed;
        ASSERT_EQ(bind(2, c.c_type, buf.data(), c.buffer, c.indicator ? inds.data() : nullptr), SQL_SUCCESS);
        SQLRETURN rc = fetch();
        // Records are ranked (errors first): compared as sets of SQLSTATE and row.
        std::vector<std::string> all = states(stmt);
        for (size_t i = 0; i < all.size(); i++) all[i] += "@" + std::to_string(spk_error_record(stmt, (int)i + 1)->row_number);
        std::sort(all.begin(), all.end());
        std::vector<std::string> expected_states;
        bool any_problem = false;
        for (size_t r = 0; r < rows; r++) {
            SCOPED_TRACE(r);
            const Row &one = single[r];
            SQLUSMALLINT want = one.rc == SQL_SUCCESS ? SQL_ROW_SUCCESS
                                : one.rc == SQL_SUCCESS_WITH_INFO ? SQL_ROW_SUCCESS_WITH_INFO
                                                                  : SQL_ROW_ERROR;
            EXPECT_EQ(status[r], want);
            EXPECT_EQ(id[r], (SQLINTEGER)r);
            any_problem = any_problem || one.rc != SQL_SUCCESS;
            expected_states.insert(expected_states.end(), one.states.begin(), one.states.end());
            if (want == SQL_ROW_ERROR) continue;
            EXPECT_EQ(std::vector<unsigned char>(buf.begin() + (long)(r * width), buf.begin() + (long)((r + 1) * width)),
                      one.bytes);
            if (c.indicator) {
                EXPECT_EQ(inds[r], one.ind);
            }
        }
        std::sort(expected_states.begin(), expected_states.end());
        EXPECT_EQ(status[rows], SQL_ROW_NOROW);
        EXPECT_EQ(processed, rows);
        EXPECT_EQ(rc, any_problem ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS);
        EXPECT_EQ(all, expected_states);
        stmt->ird->array_status_ptr = nullptr;
        stmt->ird->rows_processed_ptr = nullptr;
        ASSERT_EQ(bind(2, c.c_type, nullptr, 0, nullptr), SQL_SUCCESS);
    }
}

// Row-wise binding with a bind offset: the rows of a rowset land in their
// structs, nulls and lengths included, whether they go column by column or
// (from the row with a warning on) row by row.
TEST_F(FetchUnit, RowWiseRowsetWithABindOffset) {
    using namespace tarn_fake;
    describe({SQL_BIGINT, SQL_VARCHAR, SQL_TYPE_TIMESTAMP});
    load({i64_column({1, std::nullopt, 3, 4, 5}), string_column({"a", "bb", std::nullopt, "toolongvalue", "e"}),
          string_column({"2020-01-02 03:04:05", "2020-01-02 03:04:05.5", "2021-12-31 23:59:59", std::nullopt,
                         "1999-01-01 00:00:00"})});
    struct Row {
        SQLBIGINT id;
        SQLLEN id_ind;
        char text[6];
        SQLLEN text_ind;
        SQLLEN text_len;
        SQL_TIMESTAMP_STRUCT ts;
        SQLLEN ts_ind;
    };
    std::vector<Row> rows(7);
    memset(rows.data(), 0xCC, rows.size() * sizeof(Row));
    // The buffers bound are one row before the first struct; the offset moves them on.
    SQLLEN offset = (SQLLEN)sizeof(Row);
    char *base = (char *)rows.data() - sizeof(Row);
    Row *b = (Row *)base;
    stmt->ard->bind_type = sizeof(Row);
    stmt->ard->bind_offset_ptr = &offset;
    stmt->ard->array_size = 6;
    SQLUSMALLINT status[6];
    SQLULEN processed = 0;
    stmt->ird->array_status_ptr = status;
    stmt->ird->rows_processed_ptr = &processed;
    ASSERT_EQ(bind(1, SQL_C_SBIGINT, &b->id, 0, &b->id_ind), SQL_SUCCESS);
    ASSERT_EQ(bind(2, SQL_C_CHAR, b->text, sizeof b->text, &b->text_ind), SQL_SUCCESS);
    stmt->ard->records[1].octet_length_ptr = &b->text_len;
    ASSERT_EQ(bind(3, SQL_C_TYPE_TIMESTAMP, &b->ts, 0, &b->ts_ind), SQL_SUCCESS);
    EXPECT_EQ(fetch(), SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(processed, 5u);
    EXPECT_EQ(states(stmt), (std::vector<std::string>{"01004"}));
    const SQLUSMALLINT want_status[] = {SQL_ROW_SUCCESS, SQL_ROW_SUCCESS, SQL_ROW_SUCCESS,
                                        SQL_ROW_SUCCESS_WITH_INFO, SQL_ROW_SUCCESS, SQL_ROW_NOROW};
    for (int r = 0; r < 6; r++) EXPECT_EQ(status[r], want_status[r]) << r;
    EXPECT_EQ(rows[0].id, 1);
    EXPECT_EQ(rows[1].id_ind, SQL_NULL_DATA);
    EXPECT_EQ(rows[4].id, 5);
    EXPECT_STREQ(rows[1].text, "bb");
    EXPECT_EQ(rows[1].text_ind, 2);
    EXPECT_EQ(rows[1].text_len, 2);
    EXPECT_EQ(rows[2].text_ind, SQL_NULL_DATA);
    EXPECT_STREQ(rows[3].text, "toolo");
    EXPECT_EQ(rows[3].text_ind, 12);
    EXPECT_EQ(rows[1].ts.fraction, 500000000u);
    EXPECT_EQ(rows[2].ts.year, 2021);
    EXPECT_EQ(rows[2].ts.second, 59);
    EXPECT_EQ(rows[3].ts_ind, SQL_NULL_DATA);
    EXPECT_EQ(rows[4].ts.year, 1999);
    EXPECT_EQ(rows[4].ts_ind, (SQLLEN)sizeof(SQL_TIMESTAMP_STRUCT));
    // Nothing past the rows fetched is touched.
    const unsigned char *tail = (const unsigned char *)&rows[5];
    for (size_t i = 0; i < 2 * sizeof(Row); i++) ASSERT_EQ(tail[i], 0xCC) << i;
    stmt->ard->bind_offset_ptr = nullptr;
    stmt->ird->array_status_ptr = nullptr;
    stmt->ird->rows_processed_ptr = nullptr;
}

TEST_F(FetchUnit, RowLimitInsideABatch) {
    describe({SQL_INTEGER});
    load({tarn_fake::i32_column({1, 2, 3, 4, 5, 6})});
    stmt->attrs.max_rows = 3;
    for (int i = 0; i < 3; i++) EXPECT_EQ(fetch(), SQL_SUCCESS);
    EXPECT_EQ(fetch(), SQL_NO_DATA);
    SQLINTEGER v;
    SQLLEN ind;
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);   // past the end
    EXPECT_EQ(first_state(stmt), "24000");
}

TEST_F(FetchUnit, OrientationOtherThanNextReadsNothing) {
    describe({SQL_INTEGER});
    load({tarn_fake::i32_column({1, 2})});
    for (int o : {SQL_FETCH_FIRST, SQL_FETCH_LAST, SQL_FETCH_PRIOR, SQL_FETCH_ABSOLUTE, SQL_FETCH_RELATIVE,
                  SQL_FETCH_BOOKMARK, 0, 99}) {
        EXPECT_EQ(fetch(o), SQL_ERROR);
        EXPECT_EQ(first_state(stmt), "HY106");
        EXPECT_EQ(op()->current_row, -1);
    }
}

TEST_F(FetchUnit, FetchWithoutACursor) {
    SQLUSMALLINT status[1] = {0xEEEE};
    stmt->ird->array_status_ptr = status;
    EXPECT_EQ(fetch(), SQL_ERROR);
    EXPECT_EQ(first_state(stmt), "HY010");   // nothing executed
    EXPECT_NE(first_message(stmt).find("NULL op handle in fectch"), std::string::npos) << first_message(stmt);
    EXPECT_EQ(status[0], SQL_ROW_ERROR);
    stmt->state = SPK_STMT_CURSOR;                       // executed, but no rows to read
    EXPECT_EQ(fetch(), SQL_ERROR);
    EXPECT_EQ(first_state(stmt), "24000");
    EXPECT_NE(first_message(stmt).find("NULL op handle in fectch"), std::string::npos);
}

TEST_F(FetchUnit, EachRowStartsWithFreshPieceState) {
    describe({SQL_VARCHAR});
    load({tarn_fake::string_column({"first", "second"})});
    char buf[16];
    SQLLEN ind;
    ASSERT_EQ(fetch(), SQL_SUCCESS);
    ASSERT_EQ(get(1, SQL_C_CHAR, buf, 4, &ind), SQL_SUCCESS_WITH_INFO);
    ASSERT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "st");
    EXPECT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_NO_DATA);
    ASSERT_EQ(fetch(), SQL_SUCCESS);
    ASSERT_EQ(get(1, SQL_C_CHAR, buf, sizeof buf, &ind), SQL_SUCCESS);
    EXPECT_STREQ(buf, "second");
}

TEST_F(FetchUnit, BoundBookmarkAloneIsTransferred) {
    describe({SQL_VARCHAR});
    load({tarn_fake::string_column({"key1"})});
    stmt->attrs.use_bookmarks = SQL_UB_VARIABLE;
    unsigned char bm[16];
    memset(bm, 0xEE, sizeof bm);
    SQLLEN ind = 0;
    ASSERT_EQ(bind(0, SQL_C_VARBOOKMARK, bm, sizeof bm, &ind), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard->count, 0);
    ASSERT_EQ(fetch(), SQL_SUCCESS) << first_message(stmt);
    // The bookmark is the row number.
    EXPECT_EQ(ind, 8);
    uint64_t row = 0;
    memcpy(&row, bm, sizeof row);
    EXPECT_EQ(row, 1u);
}

TEST_F(FetchUnit, RetrieveDataOffLeavesBuffersAlone) {
    describe({SQL_INTEGER});
    load({tarn_fake::i32_column({5})});
    SQLINTEGER v = -1;
    SQLLEN ind = -7;
    ASSERT_EQ(bind(1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    stmt->attrs.retrieve_data = SQL_RD_OFF;
    ASSERT_EQ(fetch(), SQL_SUCCESS);
    EXPECT_EQ(v, -1);
    EXPECT_EQ(ind, -7);
    SQLINTEGER got = 0;
    ASSERT_EQ(get(1, SQL_C_SLONG, &got, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(got, 5);
}

TEST_F(FetchUnit, ColumnsBoundPastTheResultAreNeverWritten) {
    describe({SQL_INTEGER});
    load({tarn_fake::i32_column({5, 6})});
    SQLINTEGER v = 0, past = -1;
    SQLLEN ind = 0, past_ind = -7;
    ASSERT_EQ(bind(1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    stmt->state = SPK_STMT_PREPARED;   // bound before the statement was run
    op()->has_op = false;
    ASSERT_EQ(bind(7, SQL_C_SLONG, &past, 0, &past_ind), SQL_SUCCESS);
    stmt->state = SPK_STMT_CURSOR;
    op()->has_op = true;
    ASSERT_EQ(fetch(), SQL_SUCCESS);
    ASSERT_EQ(fetch(), SQL_SUCCESS);
    EXPECT_EQ(v, 6);
    EXPECT_EQ(past, -1);
    EXPECT_EQ(past_ind, -7);
}

// ---------------------------------------------------------------------------
// SQLGetData checks

TEST_F(FetchUnit, GetDataArgumentAndStateChecks) {
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
    EXPECT_EQ(first_state(stmt), "HY010");
    describe({SQL_INTEGER, SQL_VARCHAR});
    load({tarn_fake::i32_column({5}), tarn_fake::string_column({"x"})});
    stmt->state = SPK_STMT_CURSOR;
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);   // before the first fetch
    EXPECT_EQ(first_state(stmt), "24000");
    ASSERT_EQ(fetch(), SQL_SUCCESS);

    struct Case {
        int column;
        int type;
        bool null_target;
        SQLLEN length;
        const char *state;
    };
    const Case cases[] = {
        {1, 12345, false, 4, "HY003"},
        {1, SQL_C_INTERVAL_YEAR, false, 4, "HYC00"},
        {2, SQL_C_CHAR, false, -1, "HY090"},
        {2, SQL_C_CHAR, true, 10, "HY009"},
        {3, SQL_C_SLONG, false, 4, "07009"},
        {0, SQL_C_VARBOOKMARK, false, 4, "07009"},   // bookmarks are off
    };
    for (const Case &c : cases) {
        EXPECT_EQ(get(c.column, c.type, c.null_target ? nullptr : &v, c.length, &ind), SQL_ERROR) << c.state;
        EXPECT_EQ(first_state(stmt), c.state);
    }
    stmt->attrs.use_bookmarks = SQL_UB_VARIABLE;
    EXPECT_EQ(get(0, SQL_C_SLONG, &v, 4, &ind), SQL_ERROR);
    EXPECT_EQ(first_state(stmt), "HY003");
    char bm[8];
    EXPECT_EQ(get(0, SQL_C_VARBOOKMARK, bm, sizeof bm, &ind), SQL_SUCCESS) << first_message(stmt);
    // A length-only call with no buffer is allowed.
    EXPECT_TRUE(SQL_SUCCEEDED(get(2, SQL_C_CHAR, nullptr, 0, &ind))) << first_message(stmt);
    EXPECT_EQ(ind, 1);
    EXPECT_EQ(get(1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(v, 5);
}

}  // namespace
