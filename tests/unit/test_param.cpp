// Parameter literals: every value kind against every SQL type class, the
// lengths an application may give, and the values that must be refused.
#include <gtest/gtest.h>

#include <sql.h>
#include <sqlext.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <string>

#include "core/spk_desc.h"
#include "core/spk_handle.h"
#include "exec/spk_param.h"
#include "spk_handles.h"
#include "tarn_core_support.h"

namespace {

template <typename T>
std::string bytes_of(T v) {
    return std::string(reinterpret_cast<const char *>(&v), sizeof v);
}

std::string wide(const std::u16string &s) { return std::string(reinterpret_cast<const char *>(s.data()), s.size() * 2); }

SQL_NUMERIC_STRUCT numeric(uint64_t mag, int scale, int sign) {
    SQL_NUMERIC_STRUCT n{};
    n.precision = 38;
    n.scale = (SQLSCHAR)scale;
    n.sign = (SQLCHAR)sign;
    for (int i = 0; i < 8; i++) n.val[i] = (SQLCHAR)(mag >> (8 * i));
    return n;
}

struct Case {
    const char *label;
    int c_type;
    int sql_type;
    std::string data;
    int64_t length;           // as the indicator says
    const char *want;         // the literal, or null when `state` is expected
    const char *state = nullptr;
};

const int64_t NTS = SQL_NTS;

std::vector<Case> cases() {
    SQL_DATE_STRUCT leap_day{2024, 2, 29};
    SQL_DATE_STRUCT bad_day{2023, 2, 29};
    SQL_TIME_STRUCT noon{12, 0, 5};
    SQL_TIMESTAMP_STRUCT ts{2024, 1, 31, 10, 11, 12, 123456789};
    SQL_TIMESTAMP_STRUCT ts0{1999, 12, 31, 23, 59, 59, 0};
    SQLGUID guid{0x01020304, 0x0506, 0x0708, {9, 10, 11, 12, 13, 14, 15, 16}};
    return {
        // character data as text
        {"plain", SQL_C_CHAR, SQL_VARCHAR, "abc", NTS, "'abc'"},
        {"quote", SQL_C_CHAR, SQL_VARCHAR, "O'Brien", NTS, "'O\\'Brien'"},
        {"backslash", SQL_C_CHAR, SQL_VARCHAR, "a\\b", NTS, "'a\\\\b'"},
        {"line breaks", SQL_C_CHAR, SQL_VARCHAR, "a\nb\rc", NTS, "'a\\nb\\rc'"},
        {"nul inside", SQL_C_CHAR, SQL_VARCHAR, std::string("a\0b", 3), 3, "'a\\u0000b'"},
        {"by length", SQL_C_CHAR, SQL_VARCHAR, "abcdef", 3, "'abc'"},
        {"empty", SQL_C_CHAR, SQL_VARCHAR, "", 0, "''"},
        {"null", SQL_C_CHAR, SQL_VARCHAR, "x", SQL_NULL_DATA, "null"},
        {"injection text", SQL_C_CHAR, SQL_VARCHAR, "x' OR '1'='1", NTS, "'x\\' OR \\'1\\'=\\'1'"},
        {"trailing backslash", SQL_C_CHAR, SQL_VARCHAR, "x\\", NTS, "'x\\\\'"},
        {"utf8", SQL_C_CHAR, SQL_WVARCHAR, "h\xc3\xa9", NTS, "'h\xc3\xa9'"},
        {"bad utf8", SQL_C_CHAR, SQL_VARCHAR, "\xc0\xa7", NTS, nullptr, "22018"},
        {"bad length", SQL_C_CHAR, SQL_VARCHAR, "x", -7, nullptr, "HY090"},
        {"wide emoji", SQL_C_WCHAR, SQL_WVARCHAR, wide(u"a\U0001F600'"), NTS, "'a\xf0\x9f\x98\x80\\''"},
        {"wide by bytes", SQL_C_WCHAR, SQL_WVARCHAR, wide(u"abcd"), 4, "'ab'"},
        {"wide lone surrogate", SQL_C_WCHAR, SQL_WVARCHAR, wide(u"a\xd800" "b"), NTS, nullptr, "22018"},
        {"wide odd bytes", SQL_C_WCHAR, SQL_WVARCHAR, wide(u"ab"), 3, nullptr, "HY090"},
        {"text to guid", SQL_C_CHAR, SQL_GUID, "x'", NTS, "'x\\''"},
        {"text to time", SQL_C_CHAR, SQL_TYPE_TIME, "10:11:12", NTS, "'10:11:12'"},
        // character data for numbers must be a number
        {"int text", SQL_C_CHAR, SQL_INTEGER, " 42 ", NTS, "42"},
        {"negative text", SQL_C_CHAR, SQL_BIGINT, "-9223372036854775808", NTS, "-9223372036854775808"},
        {"plus sign", SQL_C_CHAR, SQL_INTEGER, "+7", NTS, "7"},
        {"injection int", SQL_C_CHAR, SQL_INTEGER, "1 OR 1=1", NTS, nullptr, "22018"},
        {"injection int 0", SQL_C_CHAR, SQL_INTEGER, "0 OR 1=1", NTS, nullptr, "22018"},
        {"comment int", SQL_C_CHAR, SQL_INTEGER, "1--", NTS, nullptr, "22018"},
        {"empty int", SQL_C_CHAR, SQL_INTEGER, "", NTS, nullptr, "22018"},
        {"decimal text", SQL_C_CHAR, SQL_DECIMAL, "-123.4500", NTS, "-123.4500"},
        {"decimal exponent", SQL_C_CHAR, SQL_DECIMAL, "1.25e3", NTS, "1250"},
        {"decimal small exponent", SQL_C_CHAR, SQL_NUMERIC, "12.5E-3", NTS, "0.0125"},
        {"double text", SQL_C_CHAR, SQL_DOUBLE, "1.5", NTS, "1.5D"},
        {"double exponent", SQL_C_CHAR, SQL_DOUBLE, "1e308", NTS, "1e308D"},
        {"double nan text", SQL_C_CHAR, SQL_DOUBLE, "NaN", NTS, "CAST('NaN' AS DOUBLE)"},
        {"double inf text", SQL_C_CHAR, SQL_FLOAT, "-Infinity", NTS, "CAST('-Infinity' AS DOUBLE)"},
        {"float text", SQL_C_CHAR, SQL_REAL, ".5", NTS, ".5D"},
        {"nan to int", SQL_C_CHAR, SQL_INTEGER, "NaN", NTS, nullptr, "22018"},
        {"wide number", SQL_C_WCHAR, SQL_INTEGER, wide(u"12"), NTS, "12"},
        // booleans
        {"bit 1", SQL_C_CHAR, SQL_BIT, "1", NTS, "true"},
        {"bit true", SQL_C_CHAR, SQL_BIT, "TRUE", NTS, "true"},
        {"bit false", SQL_C_CHAR, SQL_BIT, "False", NTS, "false"},
        {"bit 0", SQL_C_CHAR, SQL_BIT, "0", NTS, "false"},
        {"bit junk", SQL_C_CHAR, SQL_BIT, "yes", NTS, nullptr, "22018"},
        {"c bit", SQL_C_BIT, SQL_BIT, bytes_of<unsigned char>(1), 1, "true"},
        {"c bit to int", SQL_C_BIT, SQL_INTEGER, bytes_of<unsigned char>(0), 1, "0"},
        // dates and times from text
        {"date text", SQL_C_CHAR, SQL_TYPE_DATE, "2024-02-29", NTS, "DATE '2024-02-29'"},
        {"date short fields", SQL_C_CHAR, SQL_TYPE_DATE, "2024-2-9", NTS, "DATE '2024-02-09'"},
        {"date invalid", SQL_C_CHAR, SQL_TYPE_DATE, "2023-02-29", NTS, nullptr, "22018"},
        {"date injection", SQL_C_CHAR, SQL_TYPE_DATE, "2024-01-01' OR '1'='1", NTS, nullptr, "22018"},
        {"timestamp text", SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "2024-01-31 10:11:12.123456", NTS,
         "TIMESTAMP '2024-01-31 10:11:12.123456'"},
        {"timestamp T", SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "2024-01-31T10:11", NTS, "TIMESTAMP '2024-01-31 10:11:00'"},
        {"timestamp date only", SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "2024-01-31", NTS, "TIMESTAMP '2024-01-31'"},
        {"timestamp junk", SQL_C_CHAR, SQL_TYPE_TIMESTAMP, "yesterday", NTS, nullptr, "22018"},
        // binary
        {"binary", SQL_C_BINARY, SQL_VARBINARY, "\x01\xab", 2, "X'01AB'"},
        {"binary empty", SQL_C_BINARY, SQL_BINARY, "", 0, "X''"},
        {"binary no length", SQL_C_BINARY, SQL_VARBINARY, "\x01", SPK_PARAM_NO_LENGTH, nullptr, "07006"},
        {"binary nts", SQL_C_BINARY, SQL_VARBINARY, "\x01", NTS, nullptr, "HY090"},
        {"binary to text", SQL_C_BINARY, SQL_VARCHAR, "ab", 2, nullptr, "07006"},
        {"text to binary", SQL_C_CHAR, SQL_VARBINARY, "ab", NTS, "X'6162'"},
        // integers
        {"long", SQL_C_SLONG, SQL_INTEGER, bytes_of<int32_t>(42), 0, "42"},
        {"long to text", SQL_C_LONG, SQL_VARCHAR, bytes_of<int32_t>(-42), 0, "'-42'"},
        {"long to double", SQL_C_LONG, SQL_DOUBLE, bytes_of<int32_t>(-3), 0, "-3D"},
        {"long to bit", SQL_C_LONG, SQL_BIT, bytes_of<int32_t>(5), 0, "true"},
        {"long to date", SQL_C_LONG, SQL_TYPE_DATE, bytes_of<int32_t>(5), 0, nullptr, "07006"},
        {"long to binary", SQL_C_LONG, SQL_VARBINARY, bytes_of<int32_t>(5), 0, nullptr, "07006"},
        {"int64 min", SQL_C_SBIGINT, SQL_BIGINT, bytes_of<int64_t>(std::numeric_limits<int64_t>::min()), 0,
         "-9223372036854775808"},
        {"int64 max", SQL_C_SBIGINT, SQL_BIGINT, bytes_of<int64_t>(std::numeric_limits<int64_t>::max()), 0,
         "9223372036854775807"},
        {"uint64 max", SQL_C_UBIGINT, SQL_DECIMAL, bytes_of<uint64_t>(UINT64_MAX), 0, "18446744073709551615"},
        {"ulong", SQL_C_ULONG, SQL_BIGINT, bytes_of<uint32_t>(4294967295u), 0, "4294967295"},
        {"short", SQL_C_SSHORT, SQL_SMALLINT, bytes_of<int16_t>(-32768), 0, "-32768"},
        {"ushort", SQL_C_USHORT, SQL_INTEGER, bytes_of<uint16_t>(65535), 0, "65535"},
        {"tinyint", SQL_C_STINYINT, SQL_TINYINT, bytes_of<int8_t>(-128), 0, "-128"},
        {"utinyint", SQL_C_UTINYINT, SQL_TINYINT, bytes_of<uint8_t>(255), 0, "255"},
        // floating point: the shortest text that reads back the same
        {"double 1.5", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(1.5), 0, "1.5D"},
        {"double 0.1", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(0.1), 0, "0.1D"},
        {"double third", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(1.0 / 3), 0, "0.3333333333333333D"},
        {"double seven digits", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(1234567.0), 0, "1234567D"},
        {"double 1e308", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(1e308), 0, "1e+308D"},
        {"double max", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(std::numeric_limits<double>::max()), 0,
         "1.7976931348623157e+308D"},
        {"double denormal", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(5e-324), 0, "5e-324D"},
        {"double -0", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(-0.0), 0, "-0D"},
        {"double nan", SQL_C_DOUBLE, SQL_DOUBLE, bytes_of(std::nan("")), 0, "CAST('NaN' AS DOUBLE)"},
        {"double inf", SQL_C_DOUBLE, SQL_REAL, bytes_of(HUGE_VAL), 0, "CAST('Infinity' AS DOUBLE)"},
        {"double -inf", SQL_C_DOUBLE, SQL_FLOAT, bytes_of(-HUGE_VAL), 0, "CAST('-Infinity' AS DOUBLE)"},
        {"double nan to int", SQL_C_DOUBLE, SQL_INTEGER, bytes_of(std::nan("")), 0, nullptr, "22003"},
        {"double nan to text", SQL_C_DOUBLE, SQL_VARCHAR, bytes_of(std::nan("")), 0, "'NaN'"},
        {"double to decimal", SQL_C_DOUBLE, SQL_DECIMAL, bytes_of(0.0001), 0, "0.0001"},
        {"double to text", SQL_C_DOUBLE, SQL_VARCHAR, bytes_of(2.5), 0, "'2.5'"},
        {"float 0.1", SQL_C_FLOAT, SQL_REAL, bytes_of(0.1f), 0, "0.1D"},
        {"float big", SQL_C_FLOAT, SQL_FLOAT, bytes_of(16777216.0f), 0, "16777216D"},
        // numeric structures
        {"numeric scale 2", SQL_C_NUMERIC, SQL_DECIMAL, bytes_of(numeric(12345, 2, 0)), 0, "-123.45"},
        {"numeric scale 5", SQL_C_NUMERIC, SQL_DECIMAL, bytes_of(numeric(12345, 5, 1)), 0, "0.12345"},
        {"numeric trailing zeros", SQL_C_NUMERIC, SQL_DECIMAL, bytes_of(numeric(100, 2, 1)), 0, "1"},
        {"numeric negative scale", SQL_C_NUMERIC, SQL_DECIMAL, bytes_of(numeric(12, -3, 1)), 0, "12000"},
        {"numeric to text", SQL_C_NUMERIC, SQL_VARCHAR, bytes_of(numeric(5, 1, 1)), 0, "'0.5'"},
        // date and time structures
        {"date", SQL_C_TYPE_DATE, SQL_TYPE_DATE, bytes_of(leap_day), 0, "DATE '2024-02-29'"},
        {"date as varchar", SQL_C_TYPE_DATE, SQL_VARCHAR, bytes_of(leap_day), 0, "DATE '2024-02-29'"},
        {"bad date", SQL_C_TYPE_DATE, SQL_TYPE_DATE, bytes_of(bad_day), 0, nullptr, "22008"},
        {"date to int", SQL_C_TYPE_DATE, SQL_INTEGER, bytes_of(leap_day), 0, nullptr, "07006"},
        {"time", SQL_C_TYPE_TIME, SQL_TYPE_TIME, bytes_of(noon), 0, "'12:00:05'"},
        {"timestamp", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIMESTAMP, bytes_of(ts), 0,
         "TIMESTAMP '2024-01-31 10:11:12.123456'"},
        {"timestamp whole", SQL_C_TIMESTAMP, SQL_TYPE_TIMESTAMP, bytes_of(ts0), 0, "TIMESTAMP '1999-12-31 23:59:59'"},
        {"timestamp to time", SQL_C_TYPE_TIMESTAMP, SQL_TYPE_TIME, bytes_of(ts), 0, "'10:11:12.123456'"},
        {"guid", SQL_C_GUID, SQL_GUID, bytes_of(guid), 0, "'01020304-0506-0708-090A-0B0C0D0E0F10'"},
        {"guid to int", SQL_C_GUID, SQL_INTEGER, bytes_of(guid), 0, nullptr, "07006"},
        {"interval", SQL_C_INTERVAL_DAY, SQL_VARCHAR, std::string(sizeof(SQL_INTERVAL_STRUCT), '\0'), 0, nullptr,
         "07006"},
    };
}

struct Handles {
    SpkEnvironment *env = spk_env_new();
    SpkConnection *conn = spk_conn_new(env, 3);
    SpkStatement *stmt = spk_stmt_new(conn);
    ~Handles() {
        spk_stmt_free(stmt, true);
        spk_conn_free(conn, true);
        spk_env_free(env);
    }
};

TEST(ParamRender, EveryValueKindAgainstEverySqlTypeClass) {
    Handles h;
    for (const Case &k : cases()) {
        spk_clear_errors(h.stmt);
        // An exact-size heap copy, so that reading past the value is caught.
        std::vector<char> copy(k.data.begin(), k.data.end());
        if (k.length == SQL_NTS) copy.push_back('\0'), copy.push_back('\0');
        SpkParamValue v{k.c_type, k.sql_type, copy.data(), k.length, 0};
        std::string out;
        int rc = spk_param_render(h.stmt, 3, &v, &out);
        if (k.want) {
            EXPECT_EQ(rc, 0) << k.label << ": " << tarn_test::first_message(h.stmt);
            EXPECT_EQ(out, k.want) << k.label;
        } else {
            EXPECT_EQ(rc, -1) << k.label << " gave " << out;
            EXPECT_EQ(tarn_test::first_state(h.stmt), k.state) << k.label << ": " << tarn_test::first_message(h.stmt);
            const SpkError *e = spk_error_record(h.stmt, 1);
            if (e) {
                EXPECT_EQ(e->column_number, 3) << k.label;
            }
        }
    }
}

TEST(ParamRender, UnterminatedTextStopsAtThePositiveBufferLength) {
    Handles h;
    std::vector<char> narrow{'a', 'b', 'c'};
    SpkParamValue v{SQL_C_CHAR, SQL_VARCHAR, narrow.data(), SPK_PARAM_NO_LENGTH, 3};
    std::string out;
    ASSERT_EQ(spk_param_render(h.stmt, 1, &v, &out), 0);
    EXPECT_EQ(out, "'abc'");
    v.length = SQL_NTS;
    ASSERT_EQ(spk_param_render(h.stmt, 1, &v, &out), 0);
    EXPECT_EQ(out, "'abc'");
    std::u16string w = u"xyz";
    std::vector<char> units(reinterpret_cast<const char *>(w.data()), reinterpret_cast<const char *>(w.data()) + 6);
    SpkParamValue wv{SQL_C_WCHAR, SQL_WVARCHAR, units.data(), SPK_PARAM_NO_LENGTH, 4};
    ASSERT_EQ(spk_param_render(h.stmt, 1, &wv, &out), 0);
    EXPECT_EQ(out, "'xy'");
    // With buffer length 0 the indicator decides.
    wv.buffer_length = 0;
    wv.length = 6;
    ASSERT_EQ(spk_param_render(h.stmt, 1, &wv, &out), 0);
    EXPECT_EQ(out, "'xyz'");
}

// Unbinding (both pointers null) is refused by the Driver Manager, so it is
// tested here: the descriptor shrinks only past the last bound record.
TEST(ParamBind, UnbindingShrinksFromTheEnd) {
    Handles h;
    SQLINTEGER v = 1;
    SQLLEN ind = 0;
    ASSERT_EQ(spk_bind_parameter(h.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(spk_bind_parameter(h.stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &v, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(spk_bind_parameter(h.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, nullptr, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(h.stmt->apd->count, 2);
    EXPECT_EQ(spk_bind_parameter(h.stmt, 3, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, nullptr, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(h.stmt->apd->count, 2);
    EXPECT_EQ(spk_bind_parameter(h.stmt, 2, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, nullptr, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(h.stmt->apd->count, 0);
    // A default C type follows the SQL type; an unknown C type is HY003.
    ASSERT_EQ(spk_bind_parameter(h.stmt, 1, SQL_PARAM_INPUT, SQL_C_DEFAULT, SQL_DOUBLE, 0, 0, &v, 0, nullptr),
              SQL_SUCCESS);
    EXPECT_EQ(spk_desc_record(h.stmt->apd, 1)->concise_type, SQL_C_DOUBLE);
    EXPECT_EQ(spk_desc_record(h.stmt->apd, 1)->bound_c_type, SQL_DOUBLE);
    EXPECT_EQ(spk_bind_parameter(h.stmt, 1, SQL_PARAM_INPUT, 77, SQL_DOUBLE, 0, 0, &v, 0, nullptr), SQL_ERROR);
    EXPECT_EQ(tarn_test::first_state(h.stmt), "HY003");
}

}  // namespace
