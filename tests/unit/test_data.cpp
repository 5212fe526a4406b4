// Value conversion: the conversion matrix, every range edge, NULL handling,
// piecewise reads with guard bytes, exact doubles, dates and timestamps, and
// spk_get_data over a statement's descriptors.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "spk_data.h"
#include "spk_desc.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_handles.h"
#include "spk_log.h"
#include "spk_string.h"

namespace {

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardLen = 8;
constexpr SQLLEN kUnset = -777;
constexpr int kColumn = 3;

// ---------------------------------------------------------------------------
// Values

SpkValue null_value() { return SpkValue{SPK_VALUE_NONE, 0, 0.0, nullptr, 0}; }
SpkValue I(int64_t i) { return SpkValue{SPK_VALUE_INT, i, 0.0, nullptr, 0}; }
SpkValue B(bool b) { return SpkValue{SPK_VALUE_BOOL, b ? 1 : 0, 0.0, nullptr, 0}; }
SpkValue D(double d) { return SpkValue{SPK_VALUE_DOUBLE, 0, d, nullptr, 0}; }
// Text values point at string literals (or strings the test keeps alive).
SpkValue S(const char *s) { return SpkValue{SPK_VALUE_STRING, 0, 0.0, s, strlen(s)}; }
SpkValue S(const std::string &s) { return SpkValue{SPK_VALUE_STRING, 0, 0.0, s.data(), s.size()}; }
SpkValue Bin(const char *s, size_t n) { return SpkValue{SPK_VALUE_BINARY, 0, 0.0, s, n}; }

// Expected buffer contents.
std::string Z(const std::string &s) { return s + std::string(1, '\0'); }
std::string W(const std::u16string &s) {
    std::u16string t = s + u'\0';
    return std::string(reinterpret_cast<const char *>(t.data()), 2 * t.size());
}
template <typename T> std::string bytes_of(T v) { return std::string(reinterpret_cast<const char *>(&v), sizeof v); }
std::string date_of(int y, int m, int d) {
    SQL_DATE_STRUCT s = {(SQLSMALLINT)y, (SQLUSMALLINT)m, (SQLUSMALLINT)d};
    return bytes_of(s);
}
std::string time_of(int h, int m, int s) {
    SQL_TIME_STRUCT t = {(SQLUSMALLINT)h, (SQLUSMALLINT)m, (SQLUSMALLINT)s};
    return bytes_of(t);
}
std::string ts_of(int y, int mo, int d, int h, int mi, int s, uint32_t f) {
    SQL_TIMESTAMP_STRUCT t;
    memset(&t, 0, sizeof t);
    t.year = (SQLSMALLINT)y;
    t.month = (SQLUSMALLINT)mo;
    t.day = (SQLUSMALLINT)d;
    t.hour = (SQLUSMALLINT)h;
    t.minute = (SQLUSMALLINT)mi;
    t.second = (SQLUSMALLINT)s;
    t.fraction = f;
    return bytes_of(t);
}
std::string numeric_of(int precision, int scale, int sign, unsigned __int128 mag) {
    SQL_NUMERIC_STRUCT n;
    memset(&n, 0, sizeof n);
    n.precision = (SQLCHAR)precision;
    n.scale = (SQLSCHAR)scale;
    n.sign = (SQLCHAR)sign;
    for (int i = 0; i < 16; i++) n.val[i] = (SQLCHAR)(mag >> (8 * i));
    return bytes_of(n);
}

// Fixed sizes of the C types (0: variable).
size_t fixed_size(int c_type) {
    switch (c_type) {
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT: return 2;
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_FLOAT: return 4;
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_DOUBLE: return 8;
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_C_BIT: return 1;
    case SQL_C_DATE:
    case SQL_C_TYPE_DATE:
    case SQL_C_TIME:
    case SQL_C_TYPE_TIME: return 6;
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_TIMESTAMP: return 16;
    case SQL_C_NUMERIC: return 19;
    case SQL_C_GUID: return 16;
    default: return 0;
    }
}

const int ALL_C_TYPES[] = {
    SQL_C_CHAR,     SQL_C_WCHAR,     SQL_C_BINARY,  SQL_C_SHORT,     SQL_C_SSHORT,         SQL_C_USHORT,
    SQL_C_LONG,     SQL_C_SLONG,     SQL_C_ULONG,   SQL_C_SBIGINT,   SQL_C_UBIGINT,        SQL_C_TINYINT,
    SQL_C_UTINYINT, SQL_C_STINYINT,  SQL_C_BIT,     SQL_C_DOUBLE,    SQL_C_FLOAT,          SQL_C_DATE,
    SQL_C_TYPE_DATE, SQL_C_TIME,     SQL_C_TYPE_TIME, SQL_C_TIMESTAMP, SQL_C_TYPE_TIMESTAMP, SQL_C_NUMERIC,
    SQL_C_GUID,
};

// ---------------------------------------------------------------------------
// One conversion into a guarded buffer.

struct Out {
    SQLRETURN rc;
    std::vector<std::string> states;
    std::vector<int> columns;
    SQLLEN ind;
    std::string data;        // the payload bytes after the call
    bool guards_ok;
    bool untouched;          // payload still all guard bytes, indicator unset
    std::string state() const { return states.empty() ? "" : states[0]; }
};

class Data : public ::testing::Test {
  protected:
    SpkEnvironment *env = nullptr;
    SpkConnection *conn = nullptr;
    SpkStatement *stmt = nullptr;

    void SetUp() override {
        env = spk_env_new();
        conn = spk_conn_new(env, 3);
        stmt = spk_stmt_new(conn);
    }
    void TearDown() override {
        spk_data_value_hook = spk_column_value;
        spk_env_free(env);
    }

    static SpkField field(int sql_type) {
        SpkField f;
        spk_field_init(&f);
        f.concise_type = sql_type;
        f.type = sql_type;
        return f;
    }

    std::vector<std::string> diag_states(std::vector<int> *columns) {
        std::vector<std::string> out;
        for (int i = 1;; i++) {
            const SpkError *e = spk_error_record(stmt, i);
            if (!e) break;
            char *s = spk_str_to_latin1(e->sqlstate);
            out.push_back(s ? s : "");
            free(s);
            if (columns) columns->push_back(e->column_number);
        }
        return out;
    }

    // Converts `v` into a buffer of `cap` bytes (at least the target's fixed
    // size is allocated) with guard bytes on both sides, the record's piece
    // state carried in `rec`.
    Out convert(SpkField &rec, const SpkValue &v, int c_type, SQLLEN cap, bool with_indicator = true,
                bool with_target = true) {
        size_t payload = cap > 0 ? (size_t)cap : 0;
        if (payload < fixed_size(c_type)) payload = fixed_size(c_type);
        std::vector<unsigned char> mem(payload + 2 * kGuardLen, kGuard);
        SQLLEN ind = kUnset;
        spk_clear_errors(stmt);
        Out o;
        o.rc = spk_convert_value(stmt, kColumn, &v, &rec, c_type, with_target ? mem.data() + kGuardLen : nullptr,
                                 cap, with_indicator ? &ind : nullptr, nullptr);
        o.states = diag_states(&o.columns);
        o.ind = ind;
        o.data.assign(reinterpret_cast<const char *>(mem.data() + kGuardLen), payload);
        o.guards_ok = true;
        for (size_t i = 0; i < kGuardLen; i++) {
            if (mem[i] != kGuard || mem[kGuardLen + payload + i] != kGuard) o.guards_ok = false;
        }
        o.untouched = ind == kUnset && o.data == std::string(payload, (char)kGuard);
        return o;
    }

    Out convert(int sql_type, const SpkValue &v, int c_type, SQLLEN cap = 64) {
        SpkField rec = field(sql_type);
        return convert(rec, v, c_type, cap);
    }
};

// ---------------------------------------------------------------------------
// The matrix: which (column type, target) pairs convert and which are
// refused with 07006.  Every SQL type of every group, every C type.

struct Source {
    int sql_type;
    SpkValue value;
    int group;   // column of the grid below; -1: outside every group
};

const Source SOURCES[] = {
    {SQL_BIT, B(true), 0},
    {SQL_TINYINT, I(1), 0},
    {SQL_SMALLINT, I(1), 0},
    {SQL_INTEGER, I(1), 0},
    {SQL_BIGINT, I(1), 0},
    {SQL_DOUBLE, D(1.0), 1},
    {SQL_REAL, D(1.0), 1},
    {SQL_FLOAT, D(1.0), 1},
    {SQL_NUMERIC, S("1"), 2},
    {SQL_DECIMAL, S("1"), 2},
    {SQL_CHAR, S("1"), 3},
    {SQL_VARCHAR, S("1"), 3},
    {SQL_LONGVARCHAR, S("1"), 3},
    {SQL_WCHAR, S("1"), 4},
    {SQL_WVARCHAR, S("1"), 4},
    {SQL_WLONGVARCHAR, S("1"), 4},
    {SQL_BINARY, Bin("\x01", 1), 5},
    {SQL_VARBINARY, Bin("\x01", 1), 5},
    {SQL_LONGVARBINARY, Bin("\x01", 1), 5},
    {SQL_DATE, S("2021-03-04"), 6},
    {SQL_TYPE_DATE, S("2021-03-04"), 6},
    {SQL_TIME, S("05:06:07"), 7},
    {SQL_TYPE_TIME, S("05:06:07"), 7},
    {SQL_TIMESTAMP, S("2021-03-04 05:06:07"), 8},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07"), 8},
    {SQL_GUID, S("1"), -1},
    {0, S("1"), -1},
    {SQL_INTERVAL_DAY, S("1"), -1},
    {-150, S("1"), -1},
};


// Columns: integer, double, numeric, character, wide character, binary,
// date, time, timestamp.  X converts, '.' is refused.
struct MatrixRow {
    int c_type;
    const char *cells;
};
const MatrixRow MATRIX[] = {
    {SQL_C_CHAR, "XXXXXXXXX"},      {SQL_C_WCHAR, "XXXXX.XXX"},     {SQL_C_BINARY, "XXXXXXXXX"},
    {SQL_C_SHORT, "XXXXX...."},     {SQL_C_SSHORT, "XXXXX...."},    {SQL_C_USHORT, "XXXXX...."},
    {SQL_C_LONG, "XXXXX...."},      {SQL_C_SLONG, "XXXXX...."},     {SQL_C_ULONG, "XXXXX...."},
    {SQL_C_SBIGINT, "XXXXX...."},   {SQL_C_UBIGINT, "XXXXX...."},   {SQL_C_TINYINT, "XXXXX...."},
    {SQL_C_UTINYINT, "XXXXX...."},  {SQL_C_STINYINT, "XXXXX...."},  {SQL_C_BIT, "XXXXX...."},
    {SQL_C_DOUBLE, "XXXXX...."},    {SQL_C_FLOAT, "XXXXX...."},     {SQL_C_DATE, "...XX.X.X"},
    {SQL_C_TYPE_DATE, "...XX.X.X"}, {SQL_C_TIME, "...XX..XX"},      {SQL_C_TYPE_TIME, "...XX..XX"},
    {SQL_C_TIMESTAMP, "...XX.XXX"}, {SQL_C_TYPE_TIMESTAMP, "...XX.XXX"}, {SQL_C_NUMERIC, "XXXX....."},
    {SQL_C_GUID, "........."},
};

TEST_F(Data, MatrixConvertsOrRefusesEveryPair) {
    for (const MatrixRow &row : MATRIX) {
        for (const Source &src : SOURCES) {
            bool allowed = src.group >= 0 && row.cells[src.group] == 'X';
            Out o = convert(src.sql_type, src.value, row.c_type);
            SCOPED_TRACE(testing::Message() << "c_type " << row.c_type << " sql_type " << src.sql_type);
            EXPECT_TRUE(o.guards_ok);
            if (allowed) {
                // Converts (the character value "1" is no date: 22018, not 07006).
                EXPECT_NE("07006", o.state());
            } else {
                EXPECT_EQ(SQL_ERROR, o.rc);
                ASSERT_EQ(std::vector<std::string>{"07006"}, o.states);
                EXPECT_EQ(kColumn, o.columns[0]);
                EXPECT_TRUE(o.untouched);
            }
        }
    }
}

TEST_F(Data, UnknownTargetTypesAreRefused) {
    for (int c_type : {1234, SQL_C_INTERVAL_DAY, SQL_C_DEFAULT + 1, 0, SQL_ARD_TYPE}) {
        Out o = convert(SQL_VARCHAR, S("1"), c_type);
        EXPECT_EQ(SQL_ERROR, o.rc) << c_type;
        EXPECT_EQ(std::vector<std::string>{"07006"}, o.states) << c_type;
        EXPECT_TRUE(o.untouched);
    }
}

// ---------------------------------------------------------------------------
// Cells: values and what each target receives.

struct Cell {
    int sql_type;
    SpkValue value;
    int c_type;
    SQLLEN cap;
    SQLRETURN rc;
    const char *state;       // "" for none
    SQLLEN ind;              // kUnset: not checked (error rows: must stay unset)
    std::string out;         // leading payload bytes expected
};

const double kThird = 1.0 / 3.0;

const Cell CELLS[] = {
    // integer columns
    {SQL_INTEGER, I(42), SQL_C_CHAR, 64, SQL_SUCCESS, "", 2, Z("42")},
    {SQL_INTEGER, I(-42), SQL_C_WCHAR, 64, SQL_SUCCESS, "", 6, W(u"-42")},
    {SQL_BIGINT, I(INT64_MIN), SQL_C_CHAR, 64, SQL_SUCCESS, "", 20, Z("-9223372036854775808")},
    {SQL_BIT, B(true), SQL_C_CHAR, 64, SQL_SUCCESS, "", 1, Z("1")},
    {SQL_BIT, B(true), SQL_C_BIT, 0, SQL_SUCCESS, "", 1, std::string("\x01", 1)},
    {SQL_INTEGER, I(42), SQL_C_BINARY, 4, SQL_SUCCESS, "", 4, bytes_of<int32_t>(42)},
    {SQL_SMALLINT, I(-2), SQL_C_BINARY, 8, SQL_SUCCESS, "", 2, bytes_of<int16_t>(-2)},
    {SQL_BIGINT, I(5000000000), SQL_C_BINARY, 8, SQL_SUCCESS, "", 8, bytes_of<int64_t>(5000000000)},
    {SQL_TINYINT, I(-5), SQL_C_BINARY, 1, SQL_SUCCESS, "", 1, std::string("\xFB", 1)},
    {SQL_INTEGER, I(42), SQL_C_BINARY, 3, SQL_ERROR, "22003", kUnset, ""},
    {SQL_INTEGER, I(40000), SQL_C_SSHORT, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_BIGINT, I(5000000000), SQL_C_SLONG, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_BIGINT, I(5000000000), SQL_C_ULONG, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_BIGINT, I(5000000000), SQL_C_SBIGINT, 0, SQL_SUCCESS, "", 8, bytes_of<int64_t>(5000000000)},
    {SQL_INTEGER, I(42), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(42.0)},
    {SQL_INTEGER, I(42), SQL_C_FLOAT, 0, SQL_SUCCESS, "", 4, bytes_of(42.0f)},
    {SQL_INTEGER, I(42), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(2, 0, 1, 42)},
    {SQL_BIGINT, I(INT64_MIN), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19,
     numeric_of(19, 0, 0, (unsigned __int128)1 << 63)},
    {SQL_TINYINT, I(-5), SQL_C_STINYINT, 0, SQL_SUCCESS, "", 1, std::string("\xFB", 1)},
    {SQL_TINYINT, I(-5), SQL_C_UTINYINT, 0, SQL_ERROR, "22003", kUnset, ""},

    // double columns
    {SQL_DOUBLE, D(12.5), SQL_C_SSHORT, 0, SQL_SUCCESS_WITH_INFO, "01S07", 2, bytes_of<int16_t>(12)},
    {SQL_DOUBLE, D(-12.5), SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07", 4, bytes_of<int32_t>(-12)},
    {SQL_DOUBLE, D(-1), SQL_C_ULONG, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DOUBLE, D(3000000000.0), SQL_C_ULONG, 0, SQL_SUCCESS, "", 4, bytes_of<uint32_t>(3000000000u)},
    {SQL_DOUBLE, D(3.14159265358979), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(3.14159265358979)},
    {SQL_DOUBLE, D(3.14159265358979), SQL_C_CHAR, 64, SQL_SUCCESS, "", 16, Z("3.14159265358979")},
    {SQL_DOUBLE, D(1.5e10), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(11, 0, 1, 15000000000ull)},
    {SQL_DOUBLE, D(0.1), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(1, 1, 1, 1)},
    {SQL_DOUBLE, D(-2.5e-3), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(4, 4, 0, 25)},
    {SQL_DOUBLE, D(NAN), SQL_C_NUMERIC, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DOUBLE, D(NAN), SQL_C_SLONG, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DOUBLE, D(INFINITY), SQL_C_SBIGINT, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DOUBLE, D(2.5), SQL_C_BINARY, 8, SQL_SUCCESS, "", 8, bytes_of(2.5)},
    {SQL_REAL, D(0.1), SQL_C_BINARY, 8, SQL_SUCCESS, "", 4, bytes_of(0.1f)},
    {SQL_REAL, D(0.1), SQL_C_FLOAT, 0, SQL_SUCCESS, "", 4, bytes_of(0.1f)},
    {SQL_REAL, D(0.1), SQL_C_CHAR, 64, SQL_SUCCESS, "", 3, Z("0.1")},
    {SQL_REAL, D(0.1), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(0.1)},
    {SQL_DOUBLE, D(1e300), SQL_C_FLOAT, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DOUBLE, D(-INFINITY), SQL_C_FLOAT, 0, SQL_SUCCESS, "", 4, bytes_of(-INFINITY)},
    {SQL_DOUBLE, D(0.5), SQL_C_BIT, 0, SQL_SUCCESS_WITH_INFO, "01S07", 1, std::string("\x00", 1)},
    {SQL_DOUBLE, D(1.5), SQL_C_BIT, 0, SQL_SUCCESS_WITH_INFO, "01S07", 1, std::string("\x01", 1)},
    {SQL_DOUBLE, D(2.0), SQL_C_BIT, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DOUBLE, D(-0.5), SQL_C_UTINYINT, 0, SQL_SUCCESS_WITH_INFO, "01S07", 1, std::string("\x00", 1)},
    {SQL_DOUBLE, D(-128.9), SQL_C_STINYINT, 0, SQL_SUCCESS_WITH_INFO, "01S07", 1, std::string("\x80", 1)},

    // numeric columns (Spark sends decimals as plain text)
    {SQL_NUMERIC, S("-123.45"), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(5, 2, 0, 12345)},
    {SQL_NUMERIC, S("-123.45"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 7, Z("-123.45")},
    {SQL_NUMERIC, S("0.05"), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(2, 2, 1, 5)},
    {SQL_NUMERIC, S("1.50"), SQL_C_BINARY, 19, SQL_SUCCESS, "", 19, numeric_of(3, 2, 1, 150)},
    {SQL_NUMERIC, S("340282366920938463463374607431768211455"), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19,
     numeric_of(39, 0, 1, ~(unsigned __int128)0)},
    {SQL_NUMERIC, S("340282366920938463463374607431768211456"), SQL_C_NUMERIC, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_NUMERIC, S("1e-200"), SQL_C_NUMERIC, 0, SQL_SUCCESS_WITH_INFO, "01S07", 19, numeric_of(127, 127, 1, 0)},
    {SQL_NUMERIC, S("12.00"), SQL_C_SLONG, 0, SQL_SUCCESS, "", 4, bytes_of<int32_t>(12)},
    {SQL_NUMERIC, S("12.50"), SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07", 4, bytes_of<int32_t>(12)},
    {SQL_NUMERIC, S("-12.50"), SQL_C_ULONG, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_NUMERIC, S("123.45"), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(123.45)},
    {SQL_NUMERIC, S("abc"), SQL_C_BINARY, 19, SQL_ERROR, "22018", kUnset, ""},
    {SQL_NUMERIC, S("99999999999999999999.5"), SQL_C_SBIGINT, 0, SQL_ERROR, "22003", kUnset, ""},

    // character columns
    {SQL_VARCHAR, S(" 42 "), SQL_C_SSHORT, 0, SQL_SUCCESS, "", 2, bytes_of<int16_t>(42)},
    {SQL_VARCHAR, S("+42"), SQL_C_SSHORT, 0, SQL_SUCCESS, "", 2, bytes_of<int16_t>(42)},
    {SQL_VARCHAR, S("4x2"), SQL_C_SSHORT, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S(""), SQL_C_SLONG, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("."), SQL_C_SLONG, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("--1"), SQL_C_SLONG, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("1e3"), SQL_C_SLONG, 0, SQL_SUCCESS, "", 4, bytes_of<int32_t>(1000)},
    {SQL_VARCHAR, S("15e-1"), SQL_C_SLONG, 0, SQL_SUCCESS_WITH_INFO, "01S07", 4, bytes_of<int32_t>(1)},
    {SQL_VARCHAR, S("abc"), SQL_C_DOUBLE, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("abc"), SQL_C_FLOAT, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("abc"), SQL_C_UTINYINT, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("abc"), SQL_C_STINYINT, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("abc"), SQL_C_BIT, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("abc"), SQL_C_NUMERIC, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("1e"), SQL_C_DOUBLE, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("0x10"), SQL_C_DOUBLE, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S(" 2.5 "), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(2.5)},
    {SQL_VARCHAR, S("0.1"), SQL_C_FLOAT, 0, SQL_SUCCESS, "", 4, bytes_of(0.1f)},
    {SQL_VARCHAR, S("1e400"), SQL_C_DOUBLE, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_VARCHAR, S("1e39"), SQL_C_FLOAT, 0, SQL_ERROR, "22003", kUnset, ""},
    {SQL_VARCHAR, S("1e-400"), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(0.0)},
    {SQL_VARCHAR, S("-1e-400"), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(-0.0)},
    {SQL_VARCHAR, S("5e-324"), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of(5e-324)},
    {SQL_VARCHAR, S("-Infinity"), SQL_C_DOUBLE, 0, SQL_SUCCESS, "", 8, bytes_of<double>(-INFINITY)},
    {SQL_VARCHAR, S("1.5"), SQL_C_BIT, 0, SQL_SUCCESS_WITH_INFO, "01S07", 1, std::string("\x01", 1)},
    {SQL_VARCHAR, S("42"), SQL_C_NUMERIC, 0, SQL_SUCCESS, "", 19, numeric_of(2, 0, 1, 42)},
    {SQL_VARCHAR, S("h\xC3\xA9llo"), SQL_C_BINARY, 64, SQL_SUCCESS, "", 6, "h\xC3\xA9llo"},
    {SQL_VARCHAR, S("h\xC3\xA9llo"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 6, Z("h\xC3\xA9llo")},
    {SQL_VARCHAR, S("h\xC3\xA9llo"), SQL_C_WCHAR, 64, SQL_SUCCESS, "", 10, W(u"h\u00E9llo")},
    {SQL_WVARCHAR, S("\xF0\x9F\x98\x80"), SQL_C_WCHAR, 64, SQL_SUCCESS, "", 4, W(u"\U0001F600")},
    {SQL_VARCHAR, S("a\x80z"), SQL_C_WCHAR, 64, SQL_SUCCESS, "", 6, W(u"a\uFFFDz")},
    {SQL_VARCHAR, S("2021-03-04 05:06:07.123456"), SQL_C_TIMESTAMP, 0, SQL_SUCCESS, "", 16,
     ts_of(2021, 3, 4, 5, 6, 7, 123456000)},
    {SQL_VARCHAR, S("2021-03-04"), SQL_C_TYPE_TIMESTAMP, 0, SQL_SUCCESS, "", 16, ts_of(2021, 3, 4, 0, 0, 0, 0)},
    {SQL_VARCHAR, S("2021-03-04 05:06:07"), SQL_C_DATE, 0, SQL_SUCCESS_WITH_INFO, "01S07", 6, date_of(2021, 3, 4)},
    {SQL_VARCHAR, S("2021-03-04 05:06:07"), SQL_C_TIME, 0, SQL_SUCCESS, "", 6, time_of(5, 6, 7)},
    {SQL_VARCHAR, S("05:06:07"), SQL_C_TYPE_TIME, 0, SQL_SUCCESS, "", 6, time_of(5, 6, 7)},
    {SQL_VARCHAR, S("05:06:07"), SQL_C_TYPE_DATE, 0, SQL_ERROR, "22018", kUnset, ""},
    {SQL_VARCHAR, S("05:06:07"), SQL_C_TYPE_TIMESTAMP, 0, SQL_ERROR, "22018", kUnset, ""},

    // binary columns
    {SQL_VARBINARY, Bin("\x00\xAB\x10", 3), SQL_C_CHAR, 7, SQL_SUCCESS, "", 6, Z("00AB10")},
    {SQL_VARBINARY, Bin("\x00\xAB\x10", 3), SQL_C_BINARY, 3, SQL_SUCCESS, "", 3, std::string("\x00\xAB\x10", 3)},
    {SQL_VARBINARY, Bin("", 0), SQL_C_BINARY, 3, SQL_SUCCESS, "", 0, std::string("\xA5\xA5\xA5", 3)},
    {SQL_VARBINARY, Bin("", 0), SQL_C_CHAR, 3, SQL_SUCCESS, "", 0, Z("")},

    // dates, times, timestamps (Spark sends them as text)
    {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 10, Z("2021-03-04")},
    {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_WCHAR, 64, SQL_SUCCESS, "", 20, W(u"2021-03-04")},
    {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_TYPE_DATE, 0, SQL_SUCCESS, "", 6, date_of(2021, 3, 4)},
    {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_TIMESTAMP, 0, SQL_SUCCESS, "", 16, ts_of(2021, 3, 4, 0, 0, 0, 0)},
    {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_BINARY, 6, SQL_SUCCESS, "", 6, date_of(2021, 3, 4)},
    {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_BINARY, 5, SQL_ERROR, "22003", kUnset, ""},
    {SQL_DATE, S("2020-02-29"), SQL_C_DATE, 0, SQL_SUCCESS, "", 6, date_of(2020, 2, 29)},
    {SQL_TYPE_TIME, S("05:06:07"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 8, Z("05:06:07")},
    {SQL_TYPE_TIME, S("05:06:07"), SQL_C_TIMESTAMP, 0, SQL_SUCCESS, "", 16, ts_of(0, 0, 0, 5, 6, 7, 0)},
    {SQL_TYPE_TIME, S("05:06:07"), SQL_C_BINARY, 6, SQL_SUCCESS, "", 6, time_of(5, 6, 7)},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 19, Z("2021-03-04 05:06:07")},
    // A date or time that drops a non-zero part of a timestamp says so.
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), SQL_C_DATE, 0, SQL_SUCCESS_WITH_INFO, "01S07", 6,
     date_of(2021, 3, 4)},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 00:00:00"), SQL_C_DATE, 0, SQL_SUCCESS, "", 6, date_of(2021, 3, 4)},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), SQL_C_TIME, 0, SQL_SUCCESS_WITH_INFO, "01S07", 6,
     time_of(5, 6, 7)},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07"), SQL_C_TIME, 0, SQL_SUCCESS, "", 6, time_of(5, 6, 7)},
    // Years beyond 0000-9999 as Spark writes them, as text and structures;
    // one the structure cannot hold is 22008.
    {SQL_TYPE_DATE, S("+10000-01-01"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 12, Z("+10000-01-01")},
    {SQL_TYPE_DATE, S("+10000-01-01"), SQL_C_TYPE_DATE, 0, SQL_SUCCESS, "", 6, date_of(10000, 1, 1)},
    {SQL_TYPE_DATE, S("-0044-03-15"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 11, Z("-0044-03-15")},
    {SQL_TYPE_DATE, S("-0044-03-15"), SQL_C_TYPE_DATE, 0, SQL_SUCCESS, "", 6, date_of(-44, 3, 15)},
    {SQL_TYPE_TIMESTAMP, S("+10000-01-01 05:06:07.5"), SQL_C_CHAR, 64, SQL_SUCCESS, "", 28,
     Z("+10000-01-01 05:06:07.500000")},
    {SQL_TYPE_TIMESTAMP, S("-0044-03-15 05:06:07"), SQL_C_TYPE_TIMESTAMP, 0, SQL_SUCCESS, "", 16,
     ts_of(-44, 3, 15, 5, 6, 7, 0)},
    {SQL_TYPE_DATE, S("+40000-01-01"), SQL_C_TYPE_DATE, 0, SQL_ERROR, "22008", kUnset, ""},
    {SQL_TYPE_DATE, S("+40000-01-01"), SQL_C_WCHAR, 64, SQL_SUCCESS, "", 24, W(u"+40000-01-01")},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), SQL_C_BINARY, 16, SQL_SUCCESS, "", 16,
     ts_of(2021, 3, 4, 5, 6, 7, 500000000)},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04T05:06:07"), SQL_C_TIMESTAMP, 0, SQL_SUCCESS, "", 16,
     ts_of(2021, 3, 4, 5, 6, 7, 0)},
    {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.1234567891"), SQL_C_TIMESTAMP, 0, SQL_SUCCESS_WITH_INFO, "01S07",
     16, ts_of(2021, 3, 4, 5, 6, 7, 123456789)},
};

TEST_F(Data, Cells) {
    int n = 0;
    for (const Cell &c : CELLS) {
        SCOPED_TRACE(testing::Message() << "cell " << n++ << " sql_type " << c.sql_type << " c_type " << c.c_type);
        Out o = convert(c.sql_type, c.value, c.c_type, c.cap);
        EXPECT_EQ(c.rc, o.rc);
        if (*c.state) {
            ASSERT_EQ(std::vector<std::string>{c.state}, o.states);
            EXPECT_EQ(kColumn, o.columns[0]);
        } else {
            EXPECT_TRUE(o.states.empty()) << o.state();
        }
        EXPECT_TRUE(o.guards_ok);
        if (c.rc == SQL_ERROR) {
            EXPECT_TRUE(o.untouched) << "a failed conversion writes nothing";
            continue;
        }
        EXPECT_EQ(c.ind, o.ind);
        ASSERT_LE(c.out.size(), o.data.size());
        EXPECT_EQ(c.out, o.data.substr(0, c.out.size()));
    }
}

// ---------------------------------------------------------------------------
// Range edges of every integer target, from integer, double and text columns.

struct Edge {
    int c_type;
    int sql_type;
    SpkValue value;
    bool in_range;
    int64_t expect;        // the stored value (signed view), when in range
    uint64_t expect_u;     // the stored value (unsigned view)
};

const Edge EDGES[] = {
    {SQL_C_SSHORT, SQL_INTEGER, I(-32768), true, -32768, 0},
    {SQL_C_SSHORT, SQL_INTEGER, I(-32769), false, 0, 0},
    {SQL_C_SSHORT, SQL_INTEGER, I(32767), true, 32767, 0},
    {SQL_C_SSHORT, SQL_INTEGER, I(32768), false, 0, 0},
    {SQL_C_SHORT, SQL_DOUBLE, D(32767.9), true, 32767, 0},
    {SQL_C_SHORT, SQL_DOUBLE, D(32768.0), false, 0, 0},
    {SQL_C_USHORT, SQL_INTEGER, I(0), true, 0, 0},
    {SQL_C_USHORT, SQL_INTEGER, I(-1), false, 0, 0},
    {SQL_C_USHORT, SQL_INTEGER, I(65535), true, 0, 65535},
    {SQL_C_USHORT, SQL_VARCHAR, S("65536"), false, 0, 0},
    {SQL_C_SLONG, SQL_BIGINT, I(2147483647), true, 2147483647, 0},
    {SQL_C_SLONG, SQL_BIGINT, I(2147483648), false, 0, 0},
    {SQL_C_SLONG, SQL_BIGINT, I(-2147483648LL), true, -2147483648LL, 0},
    {SQL_C_LONG, SQL_BIGINT, I(-2147483649LL), false, 0, 0},
    {SQL_C_SLONG, SQL_VARCHAR, S("-2147483649"), false, 0, 0},
    {SQL_C_SLONG, SQL_NUMERIC, S("2147483647.99"), true, 2147483647, 0},
    {SQL_C_ULONG, SQL_BIGINT, I(4294967295LL), true, 0, 4294967295u},
    {SQL_C_ULONG, SQL_BIGINT, I(4294967296LL), false, 0, 0},
    {SQL_C_ULONG, SQL_DOUBLE, D(4294967295.5), true, 0, 4294967295u},
    {SQL_C_ULONG, SQL_DOUBLE, D(4294967296.0), false, 0, 0},
    {SQL_C_SBIGINT, SQL_BIGINT, I(INT64_MAX), true, INT64_MAX, 0},
    {SQL_C_SBIGINT, SQL_BIGINT, I(INT64_MIN), true, INT64_MIN, 0},
    {SQL_C_SBIGINT, SQL_VARCHAR, S("9223372036854775807"), true, INT64_MAX, 0},
    {SQL_C_SBIGINT, SQL_VARCHAR, S("9223372036854775808"), false, 0, 0},
    {SQL_C_SBIGINT, SQL_VARCHAR, S("-9223372036854775808"), true, INT64_MIN, 0},
    {SQL_C_SBIGINT, SQL_VARCHAR, S("-9223372036854775809"), false, 0, 0},
    {SQL_C_SBIGINT, SQL_DOUBLE, D(9223372036854774784.0), true, 9223372036854774784LL, 0},
    {SQL_C_SBIGINT, SQL_DOUBLE, D(9223372036854775808.0), false, 0, 0},
    {SQL_C_SBIGINT, SQL_DOUBLE, D(-9223372036854775808.0), true, INT64_MIN, 0},
    {SQL_C_SBIGINT, SQL_DOUBLE, D(-9223372036854777856.0), false, 0, 0},
    {SQL_C_UBIGINT, SQL_VARCHAR, S("18446744073709551615"), true, 0, UINT64_MAX},
    {SQL_C_UBIGINT, SQL_VARCHAR, S("18446744073709551616"), false, 0, 0},
    {SQL_C_UBIGINT, SQL_VARCHAR, S("-1"), false, 0, 0},
    {SQL_C_UBIGINT, SQL_VARCHAR, S("-0"), true, 0, 0},
    {SQL_C_UBIGINT, SQL_DOUBLE, D(18446744073709549568.0), true, 0, 18446744073709549568ull},
    {SQL_C_UBIGINT, SQL_DOUBLE, D(18446744073709551616.0), false, 0, 0},
    {SQL_C_UBIGINT, SQL_DOUBLE, D(9223372036854775808.0), true, 0, 9223372036854775808ull},
    {SQL_C_UBIGINT, SQL_BIGINT, I(INT64_MAX), true, 0, (uint64_t)INT64_MAX},
    {SQL_C_UBIGINT, SQL_BIGINT, I(-1), false, 0, 0},
    {SQL_C_UTINYINT, SQL_INTEGER, I(255), true, 0, 255},
    {SQL_C_UTINYINT, SQL_INTEGER, I(256), false, 0, 0},
    {SQL_C_TINYINT, SQL_INTEGER, I(-1), false, 0, 0},
    {SQL_C_UTINYINT, SQL_DOUBLE, D(255.99), true, 0, 255},
    {SQL_C_UTINYINT, SQL_DOUBLE, D(256.0), false, 0, 0},
    {SQL_C_STINYINT, SQL_INTEGER, I(-128), true, -128, 0},
    {SQL_C_STINYINT, SQL_INTEGER, I(-129), false, 0, 0},
    {SQL_C_STINYINT, SQL_INTEGER, I(127), true, 127, 0},
    {SQL_C_STINYINT, SQL_VARCHAR, S("128"), false, 0, 0},
    {SQL_C_BIT, SQL_INTEGER, I(0), true, 0, 0},
    {SQL_C_BIT, SQL_INTEGER, I(1), true, 1, 1},
    {SQL_C_BIT, SQL_INTEGER, I(2), false, 0, 0},
    {SQL_C_BIT, SQL_INTEGER, I(-1), false, 0, 0},
    {SQL_C_BIT, SQL_VARCHAR, S("1.0"), true, 1, 1},
};

TEST_F(Data, IntegerRangeEdges) {
    int n = 0;
    for (const Edge &e : EDGES) {
        SCOPED_TRACE(testing::Message() << "edge " << n++ << " c_type " << e.c_type);
        Out o = convert(e.sql_type, e.value, e.c_type, 0);
        EXPECT_TRUE(o.guards_ok);
        if (!e.in_range) {
            EXPECT_EQ(SQL_ERROR, o.rc);
            EXPECT_EQ(std::vector<std::string>{"22003"}, o.states);
            EXPECT_TRUE(o.untouched);
            continue;
        }
        EXPECT_NE(SQL_ERROR, o.rc) << o.state();
        const size_t size = fixed_size(e.c_type);
        EXPECT_EQ((SQLLEN)size, o.ind);
        int64_t s = 0;
        uint64_t u = 0;
        switch (size) {
        case 1: s = (int8_t)o.data[0]; u = (uint8_t)o.data[0]; break;
        case 2: { int16_t x; memcpy(&x, o.data.data(), 2); s = x; u = (uint16_t)x; break; }
        case 4: { int32_t x; memcpy(&x, o.data.data(), 4); s = x; u = (uint32_t)x; break; }
        default: memcpy(&s, o.data.data(), 8); u = (uint64_t)s; break;
        }
        if (e.expect_u || (e.expect == 0 && e.expect_u == 0)) {
            EXPECT_EQ(e.expect_u, u);
        } else {
            EXPECT_EQ(e.expect, s);
        }
    }
}

// ---------------------------------------------------------------------------
// NULL: every target, with and without an indicator.

TEST_F(Data, NullWithIndicatorIsNullDataForEveryTarget) {
    for (int c_type : ALL_C_TYPES) {
        for (int sql_type : {SQL_INTEGER, SQL_VARCHAR, SQL_TYPE_TIMESTAMP}) {
            SpkField rec = field(sql_type);
            SQLLEN len = kUnset;
            unsigned char buf[32];
            memset(buf, kGuard, sizeof buf);
            SQLLEN ind = kUnset;
            spk_clear_errors(stmt);
            SpkValue v = null_value();
            EXPECT_EQ(SQL_SUCCESS, spk_convert_value(stmt, kColumn, &v, &rec, c_type, buf, sizeof buf, &ind, &len))
                << c_type;
            EXPECT_EQ(SQL_NULL_DATA, ind);
            EXPECT_EQ(0, len);
            EXPECT_EQ(0, spk_error_count(stmt));
            for (unsigned char b : buf) EXPECT_EQ(kGuard, b);
            // The NULL has been returned: the next read has no data.
            EXPECT_EQ(SQL_NO_DATA, spk_convert_value(stmt, kColumn, &v, &rec, c_type, buf, sizeof buf, &ind, &len));
        }
    }
}

TEST_F(Data, NullWithoutIndicatorIs22002) {
    for (int c_type : ALL_C_TYPES) {
        SpkField rec = field(SQL_VARCHAR);
        Out o = convert(rec, null_value(), c_type, 16, /*with_indicator=*/false);
        EXPECT_EQ(SQL_ERROR, o.rc) << c_type;
        ASSERT_EQ(std::vector<std::string>{"22002"}, o.states) << c_type;
        EXPECT_EQ(kColumn, o.columns[0]);
        EXPECT_TRUE(o.guards_ok);
        EXPECT_EQ(o.data, std::string(o.data.size(), (char)kGuard));
    }
}

// ---------------------------------------------------------------------------
// Exact doubles: numeric targets get the value itself, character targets the
// shortest text that reads back to it.

struct DoubleText {
    double d;
    const char *text;
};
const DoubleText DOUBLE_TEXTS[] = {
    {0.1, "0.1"},
    {kThird, "0.3333333333333333"},
    {2.0 / 3.0, "0.6666666666666666"},
    {1e308, "1.0E308"},
    {1.7976931348623157e308, "1.7976931348623157E308"},
    {-0.0, "-0.0"},
    {0.0, "0.0"},
    {5e-324, "5.0E-324"},   // the shortest digits that read back
    {1.0, "1.0"},
    {100.0, "100.0"},
    {-2.5, "-2.5"},
    {1234567.0, "1234567.0"},
    {1e7, "1.0E7"},
    {12345678.9, "1.23456789E7"},
    {0.001, "0.001"},
    {0.0001, "1.0E-4"},
    {-1.5e-10, "-1.5E-10"},
    {123456.789, "123456.789"},
    {9007199254740993.0, "9.007199254740992E15"},
    {NAN, "NaN"},
    {INFINITY, "Infinity"},
    {-INFINITY, "-Infinity"},
};

TEST_F(Data, DoublesAreExact) {
    for (const DoubleText &t : DOUBLE_TEXTS) {
        SCOPED_TRACE(t.text);
        // Character text, narrow and wide.
        Out o = convert(SQL_DOUBLE, D(t.d), SQL_C_CHAR, 64);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        EXPECT_EQ((SQLLEN)strlen(t.text), o.ind);
        EXPECT_EQ(Z(t.text), o.data.substr(0, strlen(t.text) + 1));
        std::u16string wide(t.text, t.text + strlen(t.text));
        o = convert(SQL_DOUBLE, D(t.d), SQL_C_WCHAR, 64);
        EXPECT_EQ(W(wide), o.data.substr(0, 2 * wide.size() + 2));
        // The text reads back to the same double.
        double back = strtod(t.text, nullptr);
        if (std::isnan(t.d)) {
            EXPECT_TRUE(std::isnan(back));
        } else {
            EXPECT_EQ(0, memcmp(&back, &t.d, 8));
        }
        // The double target gets the very bits.
        o = convert(SQL_DOUBLE, D(t.d), SQL_C_DOUBLE, 0);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        EXPECT_EQ(bytes_of(t.d), o.data.substr(0, 8));
        // And so does a text column holding the text.
        Out from_text = convert(SQL_VARCHAR, S(t.text), SQL_C_DOUBLE, 0);
        EXPECT_EQ(SQL_SUCCESS, from_text.rc) << from_text.state();
        double parsed;
        memcpy(&parsed, from_text.data.data(), 8);
        if (std::isnan(t.d)) {
            EXPECT_TRUE(std::isnan(parsed));
        } else {
            EXPECT_EQ(0, memcmp(&parsed, &t.d, 8));
        }
    }
}

TEST_F(Data, FloatColumnsArriveAsDoublesAndStayExact) {
    // Spark sends FLOAT 0.1f as the double 0.1 (the float's shortest text).
    for (float f : {0.1f, 1.0f / 3.0f, 3.4028235e38f, 1e-45f, -7.25f}) {
        char text[32];
        snprintf(text, sizeof text, "%.9g", (double)f);
        double wire = strtod(text, nullptr);
        Out o = convert(SQL_REAL, D(wire), SQL_C_FLOAT, 0);
        EXPECT_EQ(SQL_SUCCESS, o.rc) << text;
        EXPECT_EQ(bytes_of(f), o.data.substr(0, 4)) << text;
    }
}

// ---------------------------------------------------------------------------
// Timestamps: fraction digits by position; character output with six digits.

struct Fraction {
    const char *text;
    uint32_t ns;
    const char *out;
};
const Fraction FRACTIONS[] = {
    {"2021-03-04 12:00:00", 0, "2021-03-04 12:00:00"},
    {"2021-03-04 12:00:00.5", 500000000, "2021-03-04 12:00:00.500000"},
    {"2021-03-04 12:00:00.05", 50000000, "2021-03-04 12:00:00.050000"},
    {"2021-03-04 12:00:00.005", 5000000, "2021-03-04 12:00:00.005000"},
    {"2021-03-04 12:00:00.1234", 123400000, "2021-03-04 12:00:00.123400"},
    {"2021-03-04 12:00:00.12345", 123450000, "2021-03-04 12:00:00.123450"},
    {"2021-03-04 12:00:00.000001", 1000, "2021-03-04 12:00:00.000001"},
    {"2021-03-04 12:00:00.999999", 999999000, "2021-03-04 12:00:00.999999"},
    {"2021-03-04 12:00:00.0", 0, "2021-03-04 12:00:00"},
    {"2021-03-04 12:00:00.123456789", 123456789, "2021-03-04 12:00:00.123456789"},
    {"0001-01-01 00:00:00", 0, "0001-01-01 00:00:00"},
    {"9999-12-31 23:59:59.999999", 999999000, "9999-12-31 23:59:59.999999"},
};

TEST_F(Data, TimestampFractionsByPosition) {
    for (const Fraction &f : FRACTIONS) {
        SCOPED_TRACE(f.text);
        Out o = convert(SQL_TYPE_TIMESTAMP, S(f.text), SQL_C_TYPE_TIMESTAMP, 0);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        SQL_TIMESTAMP_STRUCT ts;
        memcpy(&ts, o.data.data(), sizeof ts);
        int y, mo, d, h, mi, sec;
        ASSERT_EQ(6, sscanf(f.text, "%d-%d-%d %d:%d:%d", &y, &mo, &d, &h, &mi, &sec));
        EXPECT_EQ(ts_of(y, mo, d, h, mi, sec, f.ns), o.data.substr(0, 16));
        o = convert(SQL_TYPE_TIMESTAMP, S(f.text), SQL_C_CHAR, 64);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        EXPECT_EQ((SQLLEN)strlen(f.out), o.ind);
        EXPECT_EQ(Z(f.out), o.data.substr(0, strlen(f.out) + 1));
    }
}

TEST_F(Data, DateTimeTextThatDoesNotParseIs22018) {
    struct Bad {
        int sql_type;
        const char *text;
    };
    const Bad bad[] = {
        {SQL_TYPE_DATE, "2021-13-01"},          {SQL_TYPE_DATE, "2021-02-29"},
        {SQL_TYPE_DATE, "2100-02-29"},          {SQL_TYPE_DATE, "2021-04-31"},
        {SQL_TYPE_DATE, "2021-00-10"},          {SQL_TYPE_DATE, "abcd-ef-gh"},
        {SQL_TYPE_DATE, "2021-03-04x"},         {SQL_TYPE_DATE, "21-03-04"},
        {SQL_TYPE_DATE, ""},                    {SQL_TYPE_DATE, "2021-03-04 05:06:07"},
        {SQL_TYPE_TIME, "24:00:00"},            {SQL_TYPE_TIME, "12:60:00"},
        {SQL_TYPE_TIME, "12:00:60"},            {SQL_TYPE_TIME, "12:00"},
        {SQL_TYPE_TIME, "2021-03-04"},          {SQL_TYPE_TIMESTAMP, "2021-03-04 25:00:00"},
        {SQL_TYPE_TIMESTAMP, "2021-03-04 05:06:07."}, {SQL_TYPE_TIMESTAMP, "2021-03-04 05:06:07.5Z"},
        {SQL_TYPE_TIMESTAMP, "2021-03-04  05:06:07"}, {SQL_TYPE_TIMESTAMP, "not a time"},
        {SQL_TYPE_TIMESTAMP, "05:06:07"},      {SQL_VARCHAR, "2021-02-30"},
        {SQL_VARCHAR, "2021/03/04"},
    };
    for (const Bad &b : bad) {
        for (int c_type : {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY, SQL_C_DATE, SQL_C_TIME, SQL_C_TIMESTAMP}) {
            if (b.sql_type == SQL_VARCHAR && c_type != SQL_C_DATE && c_type != SQL_C_TIMESTAMP) continue;
            Out o = convert(b.sql_type, S(b.text), c_type, 64);
            if (o.state() == "07006") continue;   // a refused pair, not a parse
            SCOPED_TRACE(testing::Message() << "'" << b.text << "' c_type " << c_type);
            EXPECT_EQ(SQL_ERROR, o.rc);
            EXPECT_EQ(std::vector<std::string>{"22018"}, o.states);
            EXPECT_TRUE(o.untouched);
        }
    }
}

// ---------------------------------------------------------------------------
// Whole texts (numbers, dates) that do not fit: fraction digits may be cut
// (01004); anything more is 22003.

TEST_F(Data, WholeTextTruncation) {
    struct Case {
        int sql_type;
        SpkValue value;
        int c_type;
        SQLLEN cap;
        SQLRETURN rc;
        const char *state;
        SQLLEN ind;
        std::string out;
    };
    const Case cases[] = {
        {SQL_INTEGER, I(12345), SQL_C_CHAR, 6, SQL_SUCCESS, "", 5, Z("12345")},
        {SQL_INTEGER, I(12345), SQL_C_CHAR, 5, SQL_ERROR, "22003", kUnset, ""},
        {SQL_INTEGER, I(-1), SQL_C_CHAR, 2, SQL_ERROR, "22003", kUnset, ""},
        {SQL_DOUBLE, D(123.456), SQL_C_CHAR, 6, SQL_SUCCESS_WITH_INFO, "01004", 7, Z("123.4")},
        {SQL_DOUBLE, D(123.456), SQL_C_CHAR, 4, SQL_SUCCESS_WITH_INFO, "01004", 7, Z("123")},
        {SQL_DOUBLE, D(123.456), SQL_C_CHAR, 3, SQL_ERROR, "22003", kUnset, ""},
        {SQL_DOUBLE, D(1e308), SQL_C_CHAR, 7, SQL_ERROR, "22003", kUnset, ""},
        {SQL_DOUBLE, D(1e308), SQL_C_CHAR, 8, SQL_SUCCESS, "", 7, Z("1.0E308")},
        {SQL_DOUBLE, D(123.456), SQL_C_WCHAR, 10, SQL_SUCCESS_WITH_INFO, "01004", 14, W(u"123.")},
        {SQL_DOUBLE, D(123.456), SQL_C_WCHAR, 7, SQL_ERROR, "22003", kUnset, ""},
        {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), SQL_C_CHAR, 20, SQL_SUCCESS_WITH_INFO, "01004", 26,
         Z("2021-03-04 05:06:07")},
        {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), SQL_C_CHAR, 19, SQL_ERROR, "22003", kUnset, ""},
        {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), SQL_C_WCHAR, 46, SQL_SUCCESS_WITH_INFO, "01004", 52,
         W(u"2021-03-04 05:06:07.50")},
        {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_CHAR, 10, SQL_ERROR, "22003", kUnset, ""},
        {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_CHAR, 11, SQL_SUCCESS, "", 10, Z("2021-03-04")},
    };
    int n = 0;
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << "case " << n++);
        SpkField rec = field(c.sql_type);
        Out o = convert(rec, c.value, c.c_type, c.cap);
        EXPECT_EQ(c.rc, o.rc);
        EXPECT_EQ(*c.state ? std::vector<std::string>{c.state} : std::vector<std::string>{}, o.states);
        EXPECT_TRUE(o.guards_ok);
        if (c.rc == SQL_ERROR) {
            EXPECT_TRUE(o.untouched);
            // Nothing was returned: a bigger buffer still gets the value.
            EXPECT_EQ(0, rec.data_done);
            Out again = convert(rec, c.value, c.c_type, 64);
            EXPECT_NE(SQL_ERROR, again.rc);
            continue;
        }
        EXPECT_EQ(c.ind, o.ind);
        EXPECT_EQ(c.out, o.data.substr(0, c.out.size()));
        // A number is returned whole or not at all: the next read has no data.
        Out next = convert(rec, c.value, c.c_type, 64);
        EXPECT_EQ(SQL_NO_DATA, next.rc);
    }
}

// ---------------------------------------------------------------------------
// Piecewise reads

TEST_F(Data, CharPiecesOfTheAlphabet) {
    SpkField rec = field(SQL_VARCHAR);
    SpkValue v = S("abcdefghijklmnopqrstuvwxyz");
    Out o = convert(rec, v, SQL_C_CHAR, 10);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, o.rc);
    EXPECT_EQ(std::vector<std::string>{"01004"}, o.states);
    EXPECT_EQ(kColumn, o.columns[0]);
    EXPECT_EQ(26, o.ind);
    EXPECT_EQ(Z("abcdefghi"), o.data);
    o = convert(rec, v, SQL_C_CHAR, 10);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, o.rc);
    EXPECT_EQ(17, o.ind);
    EXPECT_EQ(Z("jklmnopqr"), o.data);
    o = convert(rec, v, SQL_C_CHAR, 10);
    EXPECT_EQ(SQL_SUCCESS, o.rc);
    EXPECT_TRUE(o.states.empty());
    EXPECT_EQ(8, o.ind);
    EXPECT_EQ(Z("stuvwxyz"), o.data.substr(0, 9));
    EXPECT_TRUE(o.guards_ok);
    o = convert(rec, v, SQL_C_CHAR, 10);
    EXPECT_EQ(SQL_NO_DATA, o.rc);
    EXPECT_TRUE(o.untouched);
}

TEST_F(Data, LengthOnlyReadsLeaveThePieceState) {
    const struct {
        int sql_type;
        SpkValue value;
        int c_type;
        SQLLEN full;
    } cases[] = {
        {SQL_VARCHAR, S("hello"), SQL_C_CHAR, 5},
        {SQL_VARCHAR, S("h\xC3\xA9llo"), SQL_C_WCHAR, 10},
        {SQL_VARBINARY, Bin("\x01\x02", 2), SQL_C_BINARY, 2},
        {SQL_VARBINARY, Bin("\x01\x02", 2), SQL_C_CHAR, 4},
        {SQL_INTEGER, I(12345), SQL_C_CHAR, 5},
        {SQL_DOUBLE, D(0.5), SQL_C_WCHAR, 6},
        {SQL_TYPE_DATE, S("2021-03-04"), SQL_C_CHAR, 10},
        {SQL_INTEGER, I(7), SQL_C_BINARY, 4},
        {SQL_VARCHAR, S(""), SQL_C_CHAR, 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(testing::Message() << "sql_type " << c.sql_type << " c_type " << c.c_type);
        SpkField rec = field(c.sql_type);
        // Buffer length 0, then a null target: the length, SQL_SUCCESS, nothing written.
        Out o = convert(rec, c.value, c.c_type, 0);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        EXPECT_TRUE(o.states.empty());
        EXPECT_EQ(c.full, o.ind);
        o = convert(rec, c.value, c.c_type, 64, true, /*with_target=*/false);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        EXPECT_EQ(c.full, o.ind);
        // Then the whole value from its start.
        o = convert(rec, c.value, c.c_type, 64);
        EXPECT_EQ(SQL_SUCCESS, o.rc);
        EXPECT_EQ(c.full, o.ind);
        EXPECT_EQ(SQL_NO_DATA, convert(rec, c.value, c.c_type, 64).rc);
    }
}

TEST_F(Data, Utf8PiecesNeverSplitASequence) {
    // a, e-acute (2 bytes), euro (3), grinning face (4), b.
    const std::string text = "a\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80" "b";
    SpkValue v = S(text);
    // Buffer 5: room for 4 bytes a piece.
    SpkField rec = field(SQL_VARCHAR);
    const struct {
        SQLRETURN rc;
        SQLLEN ind;
        std::string data;
    } expect[] = {
        {SQL_SUCCESS_WITH_INFO, 11, Z("a\xC3\xA9")},
        {SQL_SUCCESS_WITH_INFO, 8, Z("\xE2\x82\xAC")},
        {SQL_SUCCESS_WITH_INFO, 5, Z("\xF0\x9F\x98\x80")},
        {SQL_SUCCESS, 1, Z("b")},
    };
    for (const auto &e : expect) {
        Out o = convert(rec, v, SQL_C_CHAR, 5);
        EXPECT_EQ(e.rc, o.rc);
        EXPECT_EQ(e.ind, o.ind);
        EXPECT_EQ(e.data, o.data.substr(0, e.data.size()));
        EXPECT_TRUE(o.guards_ok);
    }
    EXPECT_EQ(SQL_NO_DATA, convert(rec, v, SQL_C_CHAR, 5).rc);

    // Every buffer size: the pieces are whole sequences and reassemble the text.
    for (SQLLEN cap = 5; cap <= 14; cap++) {
        SpkField r = field(SQL_VARCHAR);
        std::string joined;
        for (int guard = 0; guard < 20; guard++) {
            Out o = convert(r, v, SQL_C_CHAR, cap);
            ASSERT_TRUE(o.guards_ok);
            if (o.rc == SQL_NO_DATA) break;
            ASSERT_NE(SQL_ERROR, o.rc);
            std::string piece(o.data.c_str());
            SpkString *decoded = spk_str_from_utf8(piece.data(), (long)piece.size());
            char *again = spk_str_to_utf8(decoded);
            EXPECT_EQ(piece, std::string(again)) << "piece is not whole UTF-8 at cap " << cap;
            free(again);
            spk_str_free(decoded);
            joined += piece;
        }
        EXPECT_EQ(text, joined) << "cap " << cap;
    }

    // A buffer too small for the next whole character still makes progress:
    // the piece ends inside the character (the bytes reassemble), so a
    // reader that loops until SQL_SUCCESS always finishes.
    for (SQLLEN cap = 2; cap <= 4; cap++) {
        SpkField r = field(SQL_VARCHAR);
        std::string joined;
        int calls = 0;
        for (;;) {
            Out o = convert(r, v, SQL_C_CHAR, cap);
            ASSERT_TRUE(o.guards_ok);
            ASSERT_LT(++calls, 20) << "no progress at cap " << cap;
            if (o.rc == SQL_NO_DATA) break;
            std::string piece(o.data.c_str());
            EXPECT_FALSE(piece.empty()) << "cap " << cap;
            joined += piece;
            if (o.rc == SQL_SUCCESS) break;
        }
        EXPECT_EQ(text, joined) << "cap " << cap;
    }
}

TEST_F(Data, WidePieces) {
    // Five letters, the second e-acute: 6 UTF-8 bytes, 5 characters.
    SpkField rec = field(SQL_VARCHAR);
    SpkValue v = S("h\xC3\xA9llo");
    Out o = convert(rec, v, SQL_C_WCHAR, 6);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, o.rc);
    EXPECT_EQ(std::vector<std::string>{"01004"}, o.states);
    EXPECT_EQ(10, o.ind);
    EXPECT_EQ(W(u"h\u00E9"), o.data);
    o = convert(rec, v, SQL_C_WCHAR, 6);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, o.rc);
    EXPECT_EQ(6, o.ind);
    EXPECT_EQ(W(u"ll"), o.data);
    o = convert(rec, v, SQL_C_WCHAR, 6);
    EXPECT_EQ(SQL_SUCCESS, o.rc);
    EXPECT_EQ(2, o.ind);
    EXPECT_EQ(W(u"o"), o.data.substr(0, 4));
    EXPECT_TRUE(o.guards_ok);
    EXPECT_EQ(SQL_NO_DATA, convert(rec, v, SQL_C_WCHAR, 6).rc);
}

TEST_F(Data, WidePiecesSplitASurrogatePairOnlyWhenNothingElseFits) {
    // a, U+1F600 (a pair), b, U+10348 (a pair), e-acute.
    const std::string text = "a\xF0\x9F\x98\x80" "b\xF0\x90\x8D\x88\xC3\xA9";
    const std::u16string units = u"a\U0001F600b\U00010348\u00E9";
    SpkValue v = S(text);
    for (SQLLEN cap = 3; cap <= 16; cap++) {
        SpkField rec = field(SQL_WVARCHAR);
        std::u16string joined;
        SQLLEN expect_ind = 2 * (SQLLEN)units.size();
        int stuck = 0;
        for (int guard = 0; guard < 40; guard++) {
            Out o = convert(rec, v, SQL_C_WCHAR, cap);
            ASSERT_TRUE(o.guards_ok) << cap;
            if (o.rc == SQL_NO_DATA) break;
            ASSERT_NE(SQL_ERROR, o.rc);
            EXPECT_EQ(expect_ind, o.ind) << "cap " << cap;
            std::u16string piece;
            for (size_t i = 0; i + 1 < o.data.size(); i += 2) {
                char16_t u;
                memcpy(&u, o.data.data() + i, 2);
                if (u == 0) break;
                piece += u;
            }
            if (!piece.empty() && cap >= 6) {
                EXPECT_FALSE(piece.back() >= 0xD800 && piece.back() <= 0xDBFF) << "piece ends in a high surrogate";
                EXPECT_FALSE(piece.front() >= 0xDC00 && piece.front() <= 0xDFFF) << "piece starts with a low surrogate";
            }
            if (piece.empty() && ++stuck > 2) break;   // buffer too small for a pair
            joined += piece;
            expect_ind -= 2 * (SQLLEN)piece.size();
        }
        // From room for one unit on, every read makes progress (a pair is
        // split only when the buffer holds a single unit).
        if (cap >= 4) {
            EXPECT_EQ(units, joined) << "cap " << cap;
            EXPECT_EQ(0, stuck) << "cap " << cap;
        }
    }
}

TEST_F(Data, BinaryPieces) {
    const std::string bytes("\x00\x01\x02\xFF\x80", 5);
    SpkValue v = Bin(bytes.data(), bytes.size());
    SpkField rec = field(SQL_VARBINARY);
    const struct {
        SQLRETURN rc;
        SQLLEN ind;
        std::string data;
    } expect[] = {
        {SQL_SUCCESS_WITH_INFO, 5, std::string("\x00\x01", 2)},
        {SQL_SUCCESS_WITH_INFO, 3, std::string("\x02\xFF", 2)},
        {SQL_SUCCESS, 1, std::string("\x80\xA5", 2)},   // one byte, no terminator
    };
    for (const auto &e : expect) {
        Out o = convert(rec, v, SQL_C_BINARY, 2);
        EXPECT_EQ(e.rc, o.rc);
        EXPECT_EQ(e.ind, o.ind);
        EXPECT_EQ(e.data, o.data);
        EXPECT_TRUE(o.guards_ok);
    }
    EXPECT_EQ(SQL_NO_DATA, convert(rec, v, SQL_C_BINARY, 2).rc);

    // Reassembly at every buffer size, character column read as bytes too.
    for (SQLLEN cap = 1; cap <= 6; cap++) {
        for (int sql_type : {SQL_VARBINARY, SQL_VARCHAR}) {
            SpkField r = field(sql_type);
            SpkValue value = sql_type == SQL_VARCHAR ? S(bytes) : v;
            std::string joined;
            for (int guard = 0; guard < 10; guard++) {
                Out o = convert(r, value, SQL_C_BINARY, cap);
                ASSERT_TRUE(o.guards_ok);
                if (o.rc == SQL_NO_DATA) break;
                ASSERT_NE(SQL_ERROR, o.rc);
                joined += o.data.substr(0, std::min<size_t>((size_t)cap, (size_t)o.ind));
            }
            EXPECT_EQ(bytes, joined);
        }
    }
}

TEST_F(Data, HexPiecesOfBinary) {
    SpkValue v = Bin("\x00\xAB\x10", 3);
    SpkField rec = field(SQL_VARBINARY);
    Out o = convert(rec, v, SQL_C_CHAR, 4);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, o.rc);
    EXPECT_EQ(std::vector<std::string>{"01004"}, o.states);
    EXPECT_EQ(6, o.ind);
    EXPECT_EQ(Z("00"), o.data.substr(0, 3));
    o = convert(rec, v, SQL_C_CHAR, 4);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, o.rc);
    EXPECT_EQ(4, o.ind);
    EXPECT_EQ(Z("AB"), o.data.substr(0, 3));
    o = convert(rec, v, SQL_C_CHAR, 4);
    EXPECT_EQ(SQL_SUCCESS, o.rc);
    EXPECT_EQ(2, o.ind);
    EXPECT_EQ(Z("10"), o.data.substr(0, 3));
    EXPECT_TRUE(o.guards_ok);
    EXPECT_EQ(SQL_NO_DATA, convert(rec, v, SQL_C_CHAR, 4).rc);
}

TEST_F(Data, NegativeBufferLengthIsHY090) {
    for (int c_type : {SQL_C_CHAR, SQL_C_WCHAR, SQL_C_BINARY}) {
        Out o = convert(SQL_VARCHAR, S("x"), c_type, -5);
        EXPECT_EQ(SQL_ERROR, o.rc);
        EXPECT_EQ(std::vector<std::string>{"HY090"}, o.states);
    }
    // Fixed-size targets ignore the buffer length.
    Out o = convert(SQL_INTEGER, I(7), SQL_C_SLONG, -5);
    EXPECT_EQ(SQL_SUCCESS, o.rc);
    EXPECT_EQ(bytes_of<int32_t>(7), o.data.substr(0, 4));
}

// ---------------------------------------------------------------------------
// SQL_C_DEFAULT

TEST_F(Data, DefaultTypes) {
    const struct {
        int sql_type;
        SpkValue value;
        SQLLEN ind;
        std::string out;
    } cases[] = {
        {SQL_INTEGER, I(-7), 4, bytes_of<int32_t>(-7)},
        {SQL_SMALLINT, I(-7), 2, bytes_of<int16_t>(-7)},
        {SQL_BIGINT, I(5000000000), 8, bytes_of<int64_t>(5000000000)},
        {SQL_TINYINT, I(-7), 1, std::string("\xF9", 1)},       // signed: Spark's TINYINT
        {SQL_BIT, B(true), 1, std::string("\x01", 1)},
        {SQL_DOUBLE, D(0.1), 8, bytes_of(0.1)},
        {SQL_REAL, D(0.1), 4, bytes_of(0.1f)},
        {SQL_NUMERIC, S("-1.5"), 4, Z("-1.5")},
        {SQL_VARCHAR, S("xy"), 2, Z("xy")},
        {SQL_WVARCHAR, S("xy"), 4, W(u"xy")},
        {SQL_VARBINARY, Bin("\x01\x02", 2), 2, std::string("\x01\x02", 2)},
        {SQL_TYPE_DATE, S("2021-03-04"), 6, date_of(2021, 3, 4)},
        {SQL_TYPE_TIME, S("05:06:07"), 6, time_of(5, 6, 7)},
        {SQL_TYPE_TIMESTAMP, S("2021-03-04 05:06:07.5"), 16, ts_of(2021, 3, 4, 5, 6, 7, 500000000)},
        {SQL_TIMESTAMP, S("2021-03-04 05:06:07"), 16, ts_of(2021, 3, 4, 5, 6, 7, 0)},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.sql_type);
        Out o = convert(c.sql_type, c.value, SQL_C_DEFAULT, 32);
        EXPECT_EQ(SQL_SUCCESS, o.rc) << o.state();
        EXPECT_TRUE(o.guards_ok);
        EXPECT_EQ(c.ind, o.ind);
        EXPECT_EQ(c.out, o.data.substr(0, c.out.size()));
    }
    SpkField unsigned_tiny = field(SQL_TINYINT);
    unsigned_tiny.is_unsigned = 1;
    EXPECT_EQ(SQL_C_UTINYINT, spk_data_default_c_type(SQL_TINYINT, 1));
    EXPECT_EQ(SQL_C_STINYINT, spk_data_default_c_type(SQL_TINYINT, 0));
    EXPECT_EQ(SQL_C_CHAR, spk_data_default_c_type(SQL_GUID, 0));
    Out o = convert(unsigned_tiny, I(200), SQL_C_DEFAULT, 8);
    EXPECT_EQ(SQL_SUCCESS, o.rc);
    EXPECT_EQ(1, o.ind);
    EXPECT_TRUE(o.guards_ok);
    EXPECT_EQ(std::string("\xC8", 1), o.data.substr(0, 1));
    // A type without a default stays itself and is refused.
    Out other = convert(SQL_INTERVAL_DAY, S("1"), SQL_C_DEFAULT, 32);
    EXPECT_EQ(SQL_ERROR, other.rc);
    EXPECT_EQ(std::vector<std::string>{"07006"}, other.states);
}

// ---------------------------------------------------------------------------
// spk_get_data over a statement: records, bookmark, SQL_ARD_TYPE, the two
// output pointers.

std::vector<SpkValue> g_row;

void row_values(SpkStatement *, int column, SpkValue *out) {
    if (column >= 1 && (size_t)column <= g_row.size()) {
        *out = g_row[(size_t)column - 1];
    } else {
        *out = null_value();
    }
}

class GetData : public Data {
  protected:
    void SetUp() override {
        Data::SetUp();
        spk_data_value_hook = row_values;
        g_row = {S("first"), I(42), D(2.5)};
        ASSERT_EQ(0, spk_desc_grow(stmt->ird, 3));
        spk_desc_record(stmt->ird, 1)->concise_type = SQL_VARCHAR;
        spk_desc_record(stmt->ird, 2)->concise_type = SQL_INTEGER;
        spk_desc_record(stmt->ird, 3)->concise_type = SQL_DOUBLE;
    }
    SQLRETURN get(int column, int type, void *target, SQLLEN cap, SQLLEN *ind, SQLLEN *len = nullptr,
                  bool with_ard = true) {
        spk_clear_errors(stmt);
        return spk_get_data(stmt, column, type, target, cap, ind, len, stmt->ird, with_ard ? stmt->ard : nullptr);
    }
};

TEST_F(GetData, ReadsTheColumnsOfTheRow) {
    char text[16];
    SQLLEN ind = kUnset, len = kUnset;
    EXPECT_EQ(SQL_SUCCESS, get(1, SQL_C_CHAR, text, sizeof text, &ind, &len));
    EXPECT_STREQ("first", text);
    EXPECT_EQ(5, ind);
    EXPECT_EQ(5, len);
    EXPECT_EQ(SQL_NO_DATA, get(1, SQL_C_CHAR, text, sizeof text, &ind));
    EXPECT_EQ(1, spk_desc_record(stmt->ird, 1)->data_done);

    int32_t v = 0;
    ind = kUnset;
    EXPECT_EQ(SQL_SUCCESS, get(2, SQL_C_SLONG, &v, 0, &ind, &ind));
    EXPECT_EQ(42, v);
    EXPECT_EQ(4, ind);

    double d = 0;
    EXPECT_EQ(SQL_SUCCESS, get(3, SQL_C_DEFAULT, &d, 0, &ind));
    EXPECT_EQ(2.5, d);
    EXPECT_EQ(8, ind);
}

TEST_F(GetData, ColumnsOutsideTheResultAre07009) {
    char text[8];
    SQLLEN ind;
    for (int column : {4, 100, -1}) {
        EXPECT_EQ(SQL_ERROR, get(column, SQL_C_CHAR, text, sizeof text, &ind)) << column;
        ASSERT_EQ(1, spk_error_count(stmt));
        char *s = spk_str_to_latin1(spk_error_record(stmt, 1)->sqlstate);
        EXPECT_STREQ("07009", s);
        free(s);
    }
}

TEST_F(GetData, BookmarkIsTheRowNumber) {
    stmt->row_number = 7;
    unsigned char bytes[16];
    memset(bytes, kGuard, sizeof bytes);
    SQLLEN ind = kUnset;
    EXPECT_EQ(SQL_SUCCESS, get(0, SQL_C_VARBOOKMARK, bytes, sizeof bytes, &ind));
    EXPECT_EQ(8, ind);
    uint64_t row = 0;
    memcpy(&row, bytes, sizeof row);
    EXPECT_EQ(7u, row);
    EXPECT_EQ(kGuard, bytes[8]);
    // The bookmark's piece state is its own record's.
    EXPECT_EQ(0, spk_desc_record(stmt->ird, 1)->data_done);
    EXPECT_EQ(SQL_NO_DATA, get(0, SQL_C_VARBOOKMARK, bytes, sizeof bytes, &ind));
    stmt->ird->bookmark_record.data_done = 0;
    row = 0;
    EXPECT_EQ(SQL_SUCCESS, get(0, SQL_C_UBIGINT, &row, 0, &ind));
    EXPECT_EQ(7u, row);
    // A variable bookmark needs room for its 8 bytes.
    stmt->ird->bookmark_record.data_done = 0;
    EXPECT_EQ(SQL_ERROR, get(0, SQL_C_VARBOOKMARK, bytes, 4, &ind));
}

// SQL_C_NUMERIC takes the precision and scale the application set in its row
// descriptor.
TEST_F(GetData, NumericFollowsTheApplicationRecord) {
    g_row = {S("123.456")};
    spk_desc_record(stmt->ird, 1)->concise_type = SQL_DECIMAL;
    ASSERT_EQ(0, spk_desc_grow(stmt->ard, 1));
    SpkField *a = spk_desc_record(stmt->ard, 1);
    a->concise_type = SQL_C_NUMERIC;
    struct Case {
        int precision, scale;
        SQLRETURN rc;
        const char *state;
        unsigned value;   // the unscaled magnitude
    } cases[] = {
        {10, 5, SQL_SUCCESS, "", 12345600},
        {10, 2, SQL_SUCCESS_WITH_INFO, "01S07", 12345},
        {10, 0, SQL_SUCCESS_WITH_INFO, "01S07", 123},
        {4, 2, SQL_ERROR, "22003", 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(testing::Message() << c.precision << "," << c.scale);
        a->precision = c.precision;
        a->scale = c.scale;
        spk_desc_record(stmt->ird, 1)->data_done = 0;
        SQL_NUMERIC_STRUCT n;
        memset(&n, 0, sizeof n);
        SQLLEN ind = kUnset;
        EXPECT_EQ(c.rc, get(1, SQL_C_NUMERIC, &n, sizeof n, &ind));
        std::vector<std::string> states = diag_states(nullptr);
        EXPECT_EQ(c.state, states.empty() ? std::string() : states[0]);
        if (c.rc == SQL_ERROR) continue;
        EXPECT_EQ(c.precision, n.precision);
        EXPECT_EQ(c.scale, n.scale);
        EXPECT_EQ(1, n.sign);
        unsigned v = 0;
        memcpy(&v, n.val, sizeof v);
        EXPECT_EQ(c.value, v);
    }
}

TEST_F(GetData, ArdTypeUsesTheApplicationRecord) {
    ASSERT_EQ(0, spk_desc_grow(stmt->ard, 2));
    spk_desc_record(stmt->ard, 2)->concise_type = SQL_C_CHAR;
    char text[8];
    SQLLEN ind = kUnset;
    EXPECT_EQ(SQL_SUCCESS, get(2, SQL_ARD_TYPE, text, sizeof text, &ind));
    EXPECT_STREQ("42", text);
    // Without an application record: the column's default type.
    double d = 0;
    EXPECT_EQ(SQL_SUCCESS, get(3, SQL_ARD_TYPE, &d, 0, &ind, nullptr, false));
    EXPECT_EQ(2.5, d);
    // A record that was never typed: the default type as well.
    int32_t v = 0;
    spk_desc_record(stmt->ird, 2)->data_done = 0;
    spk_desc_record(stmt->ard, 2)->concise_type = 0;
    EXPECT_EQ(SQL_SUCCESS, get(2, SQL_ARD_TYPE, &v, 0, &ind));
    EXPECT_EQ(42, v);
}

TEST_F(GetData, BeforeAnyRowEveryColumnIsNull) {
    g_row.clear();
    SQLLEN ind = kUnset;
    char text[8];
    EXPECT_EQ(SQL_SUCCESS, get(1, SQL_C_CHAR, text, sizeof text, &ind));
    EXPECT_EQ(SQL_NULL_DATA, ind);
}

TEST_F(GetData, TracedCallsFormatTheirRecords) {
    spk_log_ring_reset();
    stmt->log_flags = LOG_DETAIL | LOG_IN_MEMORY;
    char text[4];
    SQLLEN ind;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, get(1, SQL_C_CHAR, text, sizeof text, &ind));
    EXPECT_EQ(SQL_ERROR, get(2, SQL_C_GUID, text, sizeof text, &ind));
    EXPECT_EQ(SQL_ERROR, get(2, 1234, text, sizeof text, &ind));
    EXPECT_EQ(SQL_ERROR, get(9, SQL_C_CHAR, text, sizeof text, &ind));
    g_row[2] = null_value();
    EXPECT_EQ(SQL_SUCCESS, get(3, SQL_C_DOUBLE, text, sizeof text, &ind));
    EXPECT_GT(spk_log_ring_size(), 5u);
    stmt->log_flags = 0;
    spk_log_ring_reset();
}

TEST_F(GetData, PiecesContinueAcrossCallsAndTypes) {
    g_row = {S("abcdefghij")};
    char part[5];
    SQLLEN ind = kUnset;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, get(1, SQL_C_CHAR, part, sizeof part, &ind));
    EXPECT_STREQ("abcd", part);
    EXPECT_EQ(10, ind);
    char16_t wide[8];
    EXPECT_EQ(SQL_SUCCESS, get(1, SQL_C_WCHAR, wide, sizeof wide, &ind));
    EXPECT_EQ(std::u16string(u"efghij"), std::u16string(wide));
    EXPECT_EQ(12, ind);
    EXPECT_EQ(SQL_NO_DATA, get(1, SQL_C_CHAR, part, sizeof part, &ind));
}

}  // namespace
