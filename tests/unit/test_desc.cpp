// Descriptors: header and record fields by role, type derivation, the
// consistency check, the record array, text fields with guard bytes, record
// reads and writes, describe on demand, and the exports through the frame.
#include <gtest/gtest.h>

#include "tarn_core_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "spk_desc.h"
#include "spk_err.h"
#include "spk_handle.h"
#include "spk_handles.h"
#include "spk_log.h"
#include "spk_string.h"
#include "tarn_test_support.h"

namespace {

using tarn_test::first_message;
using tarn_test::first_state;
using tarn_test::states;
std::string text_of(const SpkString *s) { return tarn_test::text_of(s, "<none>"); }

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardLen = 8;





std::u16string wide(const char16_t *s) { return std::u16string(s); }

// A statement with its four implicit descriptors, plus one explicit
// descriptor, all under one connection.
class Desc : public ::testing::Test {
  protected:
    SpkEnvironment *env = nullptr;
    SpkConnection *conn = nullptr;
    SpkStatement *stmt = nullptr;
    SpkDescriptor *explicit_desc = nullptr;
    int (*saved_stmt_hook)(SpkStatement *) = nullptr;
    int (*saved_params_hook)(SpkStatement *) = nullptr;

    void SetUp() override {
        env = spk_env_new();
        conn = spk_conn_new(env, 3);
        stmt = spk_stmt_new(conn);
        explicit_desc = spk_desc_new(conn, nullptr, 1);
        saved_stmt_hook = spk_desc_describe_stmt_hook;
        saved_params_hook = spk_desc_describe_params_hook;
    }
    void TearDown() override {
        spk_desc_describe_stmt_hook = saved_stmt_hook;
        spk_desc_describe_params_hook = saved_params_hook;
        spk_env_free(env);
    }

    SpkDescriptor *by_role(int role) {
        switch (role) {
        case SPK_DESC_IRD: return stmt->ird;
        case SPK_DESC_IPD: return stmt->ipd;
        case SPK_DESC_ARD: return stmt->ard;
        case SPK_DESC_APD: return stmt->apd;
        default: return explicit_desc;
        }
    }

    // The calls as the exports make them: diagnostics cleared first.
    SQLRETURN set(SpkDescriptor *d, int rec, int id, intptr_t value, long buffer_length = 0, int wide_call = 0) {
        spk_clear_errors(d);
        return spk_desc_set_field(d, rec, id, (void *)value, buffer_length, wide_call, "SQLSetDescField");
    }
    SQLRETURN setp(SpkDescriptor *d, int rec, int id, const void *value, long buffer_length = SQL_NTS,
                   int wide_call = 0) {
        spk_clear_errors(d);
        return spk_desc_set_field(d, rec, id, const_cast<void *>(value), buffer_length, wide_call, "SQLSetDescField");
    }
    SQLRETURN get(SpkDescriptor *d, int rec, int id, void *value, long buffer_length, SQLINTEGER *len,
                  int wide_call = 0) {
        spk_clear_errors(d);
        return spk_desc_get_field(d, rec, id, value, buffer_length, len, wide_call, "SQLGetDescField");
    }

    // Reads a numeric field, checking that exactly sizeof(T) bytes are
    // written and reported.
    template <typename T> T num(SpkDescriptor *d, int rec, int id) {
        unsigned char mem[sizeof(T) + 2 * kGuardLen];
        memset(mem, kGuard, sizeof mem);
        SQLINTEGER len = -1;
        EXPECT_EQ(SQL_SUCCESS, get(d, rec, id, mem + kGuardLen, 0, &len)) << "field " << id << " " << first_state(d);
        EXPECT_EQ((SQLINTEGER)sizeof(T), len) << "field " << id;
        for (size_t i = 0; i < kGuardLen; i++) {
            EXPECT_EQ(kGuard, mem[i]) << "underrun, field " << id;
            EXPECT_EQ(kGuard, mem[kGuardLen + sizeof(T) + i]) << "overrun, field " << id;
        }
        T v;
        memcpy(&v, mem + kGuardLen, sizeof v);
        return v;
    }

    // Reads a text field through the ANSI rule into a buffer of `size`
    // bytes surrounded by guard bytes.
    struct TextResult {
        SQLRETURN rc;
        std::string text;
        SQLINTEGER length;
    };
    TextResult ansi_text(SpkDescriptor *d, int rec, int id, long size) {
        std::vector<unsigned char> mem(size + 2 * kGuardLen, kGuard);
        SQLINTEGER len = -1;
        SQLRETURN rc = get(d, rec, id, mem.data() + kGuardLen, size, &len);
        for (size_t i = 0; i < kGuardLen; i++) {
            EXPECT_EQ(kGuard, mem[i]);
            EXPECT_EQ(kGuard, mem[kGuardLen + size + i]) << "overrun, size " << size;
        }
        std::string text;
        if (size > 0) {
            const char *p = (const char *)mem.data() + kGuardLen;
            size_t n = strnlen(p, size);
            EXPECT_LT(n, (size_t)size) << "not terminated";
            text.assign(p, n);
        }
        return {rc, text, len};
    }
    struct WideResult {
        SQLRETURN rc;
        std::u16string text;
        SQLINTEGER length;
    };
    WideResult wide_text(SpkDescriptor *d, int rec, int id, long size_bytes) {
        std::vector<unsigned char> mem(size_bytes + 2 * kGuardLen, kGuard);
        SQLINTEGER len = -1;
        SQLRETURN rc = get(d, rec, id, mem.data() + kGuardLen, size_bytes, &len, 1);
        for (size_t i = 0; i < kGuardLen; i++) {
            EXPECT_EQ(kGuard, mem[i]);
            EXPECT_EQ(kGuard, mem[kGuardLen + size_bytes + i]) << "overrun, size " << size_bytes;
        }
        std::u16string text;
        size_t units = size_bytes / 2;
        for (size_t i = 0; i < units; i++) {
            char16_t u;
            memcpy(&u, mem.data() + kGuardLen + 2 * i, 2);
            if (u == 0) break;
            text.push_back(u);
            EXPECT_LT(i + 1, units) << "not terminated";
        }
        return {rc, text, len};
    }
};

// ---------------------------------------------------------------------------
// Header fields

TEST_F(Desc, HeaderFieldsStartAtTheirDefaultsWithTheirWidths) {
    struct Case {
        int role;
        int alloc_type;
    } cases[] = {{SPK_DESC_IRD, SQL_DESC_ALLOC_AUTO}, {SPK_DESC_IPD, SQL_DESC_ALLOC_AUTO},
                 {SPK_DESC_ARD, SQL_DESC_ALLOC_AUTO}, {SPK_DESC_APD, SQL_DESC_ALLOC_AUTO},
                 {SPK_DESC_UNOWNED, SQL_DESC_ALLOC_USER}};
    stmt->described = 1;   // no describe step for the IRD
    for (const Case &c : cases) {
        SpkDescriptor *d = by_role(c.role);
        SCOPED_TRACE(c.role);
        EXPECT_EQ(c.role, spk_desc_role(d));
        EXPECT_EQ(c.alloc_type, num<SQLSMALLINT>(d, 0, SQL_DESC_ALLOC_TYPE));
        EXPECT_EQ(0, num<SQLSMALLINT>(d, 0, SQL_DESC_COUNT));
        EXPECT_EQ(1u, num<SQLULEN>(d, 0, SQL_DESC_ARRAY_SIZE));
        EXPECT_EQ(0, num<SQLINTEGER>(d, 0, SQL_DESC_BIND_TYPE));
        EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 0, SQL_DESC_ARRAY_STATUS_PTR));
        EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 0, SQL_DESC_BIND_OFFSET_PTR));
        EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 0, SQL_DESC_ROWS_PROCESSED_PTR));
    }
}

TEST_F(Desc, HeaderFieldsAreWritableOnlyWhereTheRoleAllows) {
    struct Case {
        int id;
        int role;
        const char *state;   // "" = success
    } cases[] = {
        {SQL_DESC_ARRAY_SIZE, SPK_DESC_ARD, ""},          {SQL_DESC_ARRAY_SIZE, SPK_DESC_APD, ""},
        {SQL_DESC_ARRAY_SIZE, SPK_DESC_IRD, "HY016"},     {SQL_DESC_ARRAY_SIZE, SPK_DESC_IPD, "HY016"},
        {SQL_DESC_ARRAY_SIZE, SPK_DESC_UNOWNED, "HY016"}, {SQL_DESC_BIND_TYPE, SPK_DESC_ARD, ""},
        {SQL_DESC_BIND_TYPE, SPK_DESC_IPD, "HY016"},      {SQL_DESC_BIND_OFFSET_PTR, SPK_DESC_APD, ""},
        {SQL_DESC_BIND_OFFSET_PTR, SPK_DESC_IRD, "HY016"}, {SQL_DESC_ARRAY_STATUS_PTR, SPK_DESC_IRD, ""},
        {SQL_DESC_ARRAY_STATUS_PTR, SPK_DESC_UNOWNED, ""}, {SQL_DESC_ROWS_PROCESSED_PTR, SPK_DESC_IPD, ""},
        {SQL_DESC_COUNT, SPK_DESC_IPD, ""},               {SQL_DESC_COUNT, SPK_DESC_ARD, ""},
        {SQL_DESC_COUNT, SPK_DESC_IRD, "HY016"},          {SQL_DESC_COUNT, SPK_DESC_UNOWNED, "HY016"},
        {SQL_DESC_ALLOC_TYPE, SPK_DESC_ARD, "HY091"},
    };
    stmt->described = 1;
    for (const Case &c : cases) {
        SpkDescriptor *d = by_role(c.role);
        SCOPED_TRACE(std::to_string(c.id) + " role " + std::to_string(c.role));
        uint64_t before = 0;
        ASSERT_EQ(0, spk_desc_get_header_field(d, c.id, &before));
        SQLRETURN rc = set(d, 0, c.id, 2);
        if (*c.state) {
            EXPECT_EQ(SQL_ERROR, rc);
            EXPECT_EQ(std::vector<std::string>{c.state}, states(d));
            uint64_t after = 0;
            spk_desc_get_header_field(d, c.id, &after);
            EXPECT_EQ(before, after) << "a refused value must not be stored";
        } else {
            EXPECT_EQ(SQL_SUCCESS, rc) << first_state(d);
            uint64_t after = 0;
            spk_desc_get_header_field(d, c.id, &after);
            EXPECT_EQ(2u, after);
        }
    }
}

TEST_F(Desc, ExplicitDescriptorHeaderIsWritableOnlyWhileAStatementUsesIt) {
    SpkDescriptor *d = explicit_desc;
    EXPECT_EQ(SQL_ERROR, set(d, 0, SQL_DESC_ARRAY_SIZE, 10));
    EXPECT_EQ("HY016", first_state(d));
    // What SQL_ATTR_APP_ROW_DESC does.
    stmt->ard = d;
    d->owner = stmt;
    EXPECT_EQ(SPK_DESC_ARD, spk_desc_role(d));
    EXPECT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_ARRAY_SIZE, 10));
    EXPECT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 2));
    EXPECT_EQ(10u, num<SQLULEN>(d, 0, SQL_DESC_ARRAY_SIZE));
    stmt->ard = stmt->implicit_ard;
    d->owner = nullptr;
    EXPECT_EQ(SQL_ERROR, set(d, 0, SQL_DESC_COUNT, 0));
    EXPECT_EQ("HY016", first_state(d));
    EXPECT_EQ(2, num<SQLSMALLINT>(d, 0, SQL_DESC_COUNT));
}

TEST_F(Desc, ArraySizeZeroIsStoredAsOne) {
    EXPECT_EQ(SQL_SUCCESS, set(stmt->ard, 0, SQL_DESC_ARRAY_SIZE, 0));
    EXPECT_EQ(1u, stmt->ard->array_size);
    EXPECT_EQ(SQL_SUCCESS, set(stmt->apd, 0, SQL_DESC_ARRAY_SIZE, (intptr_t)5000000000LL));
    EXPECT_EQ(5000000000ULL, stmt->apd->array_size);
}

TEST_F(Desc, HeaderSettersForStatementAttributes) {
    // The statement attribute code picks the descriptor itself: no role check.
    int status[4];
    EXPECT_EQ(0, spk_desc_set_header_field(stmt->ird, SQL_DESC_ARRAY_STATUS_PTR, status, stmt));
    EXPECT_EQ((void *)status, stmt->ird->array_status_ptr);
    EXPECT_EQ(0, spk_desc_set_header_field(stmt->ard, SQL_DESC_ARRAY_SIZE, (void *)0, stmt));
    EXPECT_EQ(1u, stmt->ard->array_size);
    EXPECT_EQ(0, spk_desc_set_header_field(stmt->apd, SQL_DESC_BIND_TYPE, (void *)(intptr_t)24, stmt));
    uint64_t v = 0;
    EXPECT_EQ(0, spk_desc_get_header_field(stmt->apd, SQL_DESC_BIND_TYPE, &v));
    EXPECT_EQ(24u, v);
    EXPECT_EQ(0, spk_desc_get_header_field(stmt->ird, SQL_DESC_ARRAY_STATUS_PTR, &v));
    EXPECT_EQ((uint64_t)(uintptr_t)status, v);
    // Unknown identifiers are posted where the caller says.
    EXPECT_EQ(-1, spk_desc_set_header_field(stmt->ard, SQL_DESC_COUNT, (void *)1, stmt));
    EXPECT_EQ("HY091", first_state(stmt));
    EXPECT_TRUE(states(stmt->ard).empty());
    EXPECT_EQ(-1, spk_desc_get_header_field(stmt->ard, SQL_DESC_TYPE, &v));
}

// ---------------------------------------------------------------------------
// The record array

TEST_F(Desc, CountGrowsAndShrinksTheRecordsAndFreesTheirStrings) {
    SpkDescriptor *d = stmt->ard;
    ASSERT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 3));
    EXPECT_EQ(3, d->count);
    for (int rec = 1; rec <= 3; rec++) {
        // Fresh records: unnamed, input parameters, no type.
        EXPECT_EQ(SQL_UNNAMED, num<SQLSMALLINT>(d, rec, SQL_DESC_UNNAMED));
        EXPECT_EQ(SQL_PARAM_INPUT, num<SQLSMALLINT>(d, rec, SQL_DESC_PARAMETER_TYPE));
        EXPECT_EQ(0, num<SQLSMALLINT>(d, rec, SQL_DESC_CONCISE_TYPE));
        // Every record gets strings of its own (type names, literal affixes).
        ASSERT_EQ(SQL_SUCCESS, set(d, rec, SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP));
    }
    char buf[8];
    SQLINTEGER len;
    EXPECT_EQ(SQL_ERROR, get(d, 4, SQL_DESC_TYPE, buf, 0, &len));
    EXPECT_EQ(std::vector<std::string>{"07009"}, states(d));

    ASSERT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 1));   // records 2 and 3 freed (ASan checks)
    EXPECT_EQ(1, num<SQLSMALLINT>(d, 0, SQL_DESC_COUNT));
    EXPECT_EQ(SQL_ERROR, get(d, 2, SQL_DESC_TYPE, buf, 0, &len));
    EXPECT_EQ("07009", first_state(d));
    EXPECT_EQ("timestamp", text_of(d->records[0].type_name));

    // Growing again gives fresh records, not the old contents.
    ASSERT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 2));
    EXPECT_EQ(0, num<SQLSMALLINT>(d, 2, SQL_DESC_CONCISE_TYPE));
    EXPECT_EQ(nullptr, d->records[1].type_name);

    ASSERT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 0));
    EXPECT_EQ(0, d->count);
    EXPECT_EQ(nullptr, d->records);
}

TEST_F(Desc, BadRecordNumbersAndCounts) {
    struct Case {
        int role;
        int rec;
        bool write;
        const char *state;
    } cases[] = {
        {SPK_DESC_ARD, -1, false, "07009"}, {SPK_DESC_ARD, -1, true, "07009"}, {SPK_DESC_ARD, 1, false, "07009"},
        {SPK_DESC_APD, 0, false, "07009"},  {SPK_DESC_IPD, 0, false, "07009"}, {SPK_DESC_IPD, 0, true, "07009"},
        {SPK_DESC_ARD, 0, false, ""},       {SPK_DESC_ARD, 0, true, ""},       {SPK_DESC_APD, 0, true, ""},
        {SPK_DESC_IRD, 0, false, ""},       {SPK_DESC_UNOWNED, 0, false, ""},  {SPK_DESC_IRD, 1, true, "HY016"},
        {SPK_DESC_IRD, 0, true, "HY016"},
    };
    stmt->described = 1;
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.role) + " rec " + std::to_string(c.rec) + (c.write ? " write" : " read"));
        SpkDescriptor *d = by_role(c.role);
        SQLRETURN rc;
        if (c.write) {
            rc = set(d, c.rec, SQL_DESC_OCTET_LENGTH, 4);
        } else {
            SQLSMALLINT v;
            rc = get(d, c.rec, SQL_DESC_TYPE, &v, 0, nullptr);
        }
        EXPECT_EQ(*c.state ? SQL_ERROR : SQL_SUCCESS, rc);
        EXPECT_EQ(*c.state ? std::vector<std::string>{c.state} : std::vector<std::string>{}, states(d));
        EXPECT_EQ(0, d->count) << "nothing grows on a refused call";
    }
    EXPECT_EQ(SQL_ERROR, set(stmt->ard, 0, SQL_DESC_COUNT, -2));
    EXPECT_EQ("07009", first_state(stmt->ard));
    // The count is a 16-bit field: 0x10002 carries 2.
    EXPECT_EQ(SQL_SUCCESS, set(stmt->ard, 0, SQL_DESC_COUNT, 0x10002));
    EXPECT_EQ(2, stmt->ard->count);
}

TEST_F(Desc, WritingPastTheEndGrowsTheRecords) {
    EXPECT_EQ(SQL_SUCCESS, set(stmt->apd, 5, SQL_DESC_CONCISE_TYPE, SQL_C_LONG));
    EXPECT_EQ(5, num<SQLSMALLINT>(stmt->apd, 0, SQL_DESC_COUNT));
    EXPECT_EQ(SQL_C_LONG, num<SQLSMALLINT>(stmt->apd, 5, SQL_DESC_CONCISE_TYPE));
    EXPECT_EQ(0, num<SQLSMALLINT>(stmt->apd, 4, SQL_DESC_CONCISE_TYPE));
    // A refused identifier does not grow anything.
    EXPECT_EQ(SQL_ERROR, set(stmt->apd, 9, 9999, 1));
    EXPECT_EQ("HY091", first_state(stmt->apd));
    EXPECT_EQ(5, stmt->apd->count);
}

TEST_F(Desc, BookmarkRecordStartsFromTheTemplate) {
    SpkDescriptor *d = stmt->ard;
    EXPECT_EQ(SQL_VARBINARY, num<SQLSMALLINT>(d, 0, SQL_DESC_TYPE));
    EXPECT_EQ(SQL_VARBINARY, num<SQLSMALLINT>(d, 0, SQL_DESC_CONCISE_TYPE));
    EXPECT_EQ(4, num<SQLLEN>(d, 0, SQL_DESC_OCTET_LENGTH));
    EXPECT_EQ(8u, num<SQLULEN>(d, 0, SQL_DESC_LENGTH));
    EXPECT_EQ(8, num<SQLLEN>(d, 0, SQL_DESC_DISPLAY_SIZE));
    EXPECT_EQ(SQL_UNNAMED, num<SQLSMALLINT>(d, 0, SQL_DESC_UNNAMED));
    EXPECT_EQ(0, d->count) << "record 0 is not counted";
}

TEST_F(Desc, RecordArrayOperations) {
    SpkDescriptor *d = stmt->ird;
    ASSERT_EQ(0, spk_desc_reset(d, 3));
    EXPECT_EQ(3, d->count);
    d->records[0].name = spk_str_from_latin1("a");
    d->records[2].name = spk_str_from_latin1("c");
    EXPECT_EQ(&d->bookmark_record, spk_desc_record(d, 0));
    EXPECT_EQ(&d->records[2], spk_desc_record(d, 3));
    EXPECT_EQ(nullptr, spk_desc_record(d, 4));
    EXPECT_EQ(nullptr, spk_desc_record(d, -1));

    EXPECT_EQ(3, spk_desc_column_count(d));
    d->described_count = 2;
    EXPECT_EQ(3, spk_desc_column_count(d)) << "described_count only counts while described";
    d->described = 1;
    EXPECT_EQ(2, spk_desc_column_count(d));
    d->described_count = 5;
    EXPECT_EQ(3, spk_desc_column_count(d));

    // Many one-by-one grows keep earlier records intact.
    for (int n = 4; n <= 200; n++) ASSERT_EQ(0, spk_desc_grow(d, n));
    EXPECT_EQ("a", text_of(spk_desc_record(d, 1)->name));
    EXPECT_EQ("c", text_of(spk_desc_record(d, 3)->name));
    EXPECT_EQ(1, spk_desc_record(d, 200)->unnamed);
    EXPECT_EQ(0, spk_desc_grow(d, 10)) << "growing to fewer records is a no-op";
    EXPECT_EQ(200, d->count);

    spk_desc_shrink(d, 2);
    EXPECT_EQ(2, d->count);
    EXPECT_EQ("a", text_of(spk_desc_record(d, 1)->name));
    ASSERT_EQ(0, spk_desc_reset(d, 1));
    EXPECT_EQ(1, d->count);
    EXPECT_EQ(nullptr, spk_desc_record(d, 1)->name);
    ASSERT_EQ(0, spk_desc_reset(d, 0));
    EXPECT_EQ(0, d->count);
    EXPECT_EQ(nullptr, d->records);
}

TEST_F(Desc, FieldCopyIsDeepAndLeavesBuffersAlone) {
    SpkField src, dst;
    spk_field_init(&src);
    spk_field_init(&dst);
    src.name = spk_str_from_latin1("col");
    src.table_name = spk_str_from_latin1("t");
    src.type_name = spk_str_from_latin1("varchar");
    src.literal_prefix = spk_str_from_latin1("'");
    src.concise_type = SQL_VARCHAR;
    src.type = SQL_VARCHAR;
    src.octet_length = 8192;
    src.nullable = SQL_NO_NULLS;
    src.server_type = 7;
    src.data_ptr = &src;
    src.parameter_type = SQL_PARAM_OUTPUT;
    src.datetime_precision = 6;
    int dst_data = 0;
    dst.data_ptr = &dst_data;
    dst.name = spk_str_from_latin1("old name");   // replaced, must not leak
    dst.local_type_name = spk_str_from_latin1("old");
    ASSERT_EQ(0, spk_field_copy(&src, &dst));
    EXPECT_EQ("col", text_of(dst.name));
    EXPECT_NE(src.name, dst.name);
    EXPECT_EQ("t", text_of(dst.table_name));
    EXPECT_EQ("varchar", text_of(dst.type_name));
    EXPECT_EQ("<none>", text_of(dst.local_type_name));
    EXPECT_EQ(SQL_VARCHAR, dst.concise_type);
    EXPECT_EQ(8192, dst.octet_length);
    EXPECT_EQ(SQL_NO_NULLS, dst.nullable);
    EXPECT_EQ(7, dst.server_type);
    EXPECT_EQ((void *)&dst_data, dst.data_ptr);
    EXPECT_EQ(SQL_PARAM_INPUT, dst.parameter_type);
    EXPECT_EQ(0, dst.datetime_precision);

    spk_field_clear(&dst);
    EXPECT_EQ(nullptr, dst.data_ptr);
    EXPECT_EQ(nullptr, dst.name);
    EXPECT_EQ(SQL_VARCHAR, dst.concise_type) << "clearing keeps the type";
    spk_field_destroy(&src);
    spk_field_destroy(&dst);
}

// ---------------------------------------------------------------------------
// Type derivation

struct DeriveCase {
    const char *what;
    std::vector<std::pair<int, intptr_t>> sets;   // applied in order to a fresh ARD record
    intptr_t octet_before;                        // octet length stored first (-1: none)
    const char *state;                            // of the last set; "" = success
    int type, concise, subcode;
    int64_t octet, display, length, precision;
    int radix;
    const char *prefix, *suffix, *name;
};

const DeriveCase kDerive[] = {
    {"date via concise", {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_DATE}}, -1, "", SQL_DATETIME, SQL_C_TYPE_DATE, 1,
     6, 10, 10, 0, 0, "{d '", "'}", "date"},
    {"odbc2 date", {{SQL_DESC_CONCISE_TYPE, SQL_C_DATE}}, -1, "", SQL_DATETIME, SQL_C_DATE, 1, 6, 10, 10, 0, 0,
     "{d '", "'}", "date"},
    {"time", {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIME}}, -1, "", SQL_DATETIME, SQL_C_TYPE_TIME, 2, 6, 8, 8, 0, 0,
     "{t '", "'}", "time"},
    {"timestamp", {{SQL_DESC_CONCISE_TYPE, SQL_C_TIMESTAMP}}, -1, "", SQL_DATETIME, SQL_C_TIMESTAMP, 3, 16, 23, 23,
     3, 0, "{ts '", "'}", "timestamp"},
    {"char keeps octet length", {{SQL_DESC_CONCISE_TYPE, SQL_C_CHAR}}, 50, "", SQL_C_CHAR, SQL_C_CHAR, 0, 50, 50, 1,
     0, 0, "'", "'", "char"},
    {"wchar", {{SQL_DESC_CONCISE_TYPE, SQL_C_WCHAR}}, 50, "", SQL_C_WCHAR, SQL_C_WCHAR, 0, 50, 25, 1, 0, 0, "'",
     "'", "nchar"},
    {"binary", {{SQL_DESC_CONCISE_TYPE, SQL_C_BINARY}}, 10, "", SQL_C_BINARY, SQL_C_BINARY, 0, 10, 22, 10, 0, 0,
     "0x", "", "binary"},
    {"numeric", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}}, 3, "", SQL_C_NUMERIC, SQL_C_NUMERIC, 0, 19, 0, 38, 38, 10,
     nullptr, nullptr, "numeric"},
    {"slong", {{SQL_DESC_CONCISE_TYPE, SQL_C_SLONG}}, -1, "", SQL_C_SLONG, SQL_C_SLONG, 0, 4, 10, 10, 0, 0, nullptr,
     nullptr, "int"},
    {"ulong", {{SQL_DESC_CONCISE_TYPE, SQL_C_ULONG}}, -1, "", SQL_C_ULONG, SQL_C_ULONG, 0, 4, 10, 10, 0, 0, nullptr,
     nullptr, "int"},
    {"ushort", {{SQL_DESC_CONCISE_TYPE, SQL_C_USHORT}}, -1, "", SQL_C_USHORT, SQL_C_USHORT, 0, 2, 5, 5, 0, 0,
     nullptr, nullptr, "smallint"},
    {"float", {{SQL_DESC_CONCISE_TYPE, SQL_C_FLOAT}}, -1, "", SQL_C_FLOAT, SQL_C_FLOAT, 0, 4, 15, 15, 24, 2, nullptr,
     nullptr, "float"},
    {"double", {{SQL_DESC_CONCISE_TYPE, SQL_C_DOUBLE}}, -1, "", SQL_C_DOUBLE, SQL_C_DOUBLE, 0, 8, 15, 15, 53, 2,
     nullptr, nullptr, "double"},
    {"utinyint", {{SQL_DESC_CONCISE_TYPE, SQL_C_UTINYINT}}, -1, "", SQL_C_UTINYINT, SQL_C_UTINYINT, 0, 1, 1, 1, 0, 0,
     nullptr, nullptr, "bit"},
    {"sbigint", {{SQL_DESC_CONCISE_TYPE, SQL_C_SBIGINT}}, -1, "", SQL_C_SBIGINT, SQL_C_SBIGINT, 0, 8, 20, 20, 0, 0,
     nullptr, nullptr, "bigint"},
    {"guid", {{SQL_DESC_CONCISE_TYPE, SQL_C_GUID}}, -1, "", SQL_C_GUID, SQL_C_GUID, 0, 16, 36, 36, 36, 0, nullptr,
     nullptr, "uniqueidentifier"},
    {"subcode then type", {{SQL_DESC_DATETIME_INTERVAL_CODE, 3}, {SQL_DESC_TYPE, SQL_DATETIME}}, -1, "",
     SQL_DATETIME, SQL_C_TYPE_TIMESTAMP, 3, 16, 23, 23, 3, 0, "{ts '", "'}", "timestamp"},
    {"subcode alone", {{SQL_DESC_DATETIME_INTERVAL_CODE, 2}}, -1, "", SQL_DATETIME, SQL_C_TYPE_TIME, 2, 6, 8, 8, 0,
     0, "{t '", "'}", "time"},
    {"plain type", {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_DATE}, {SQL_DESC_TYPE, SQL_C_SSHORT}}, -1, "", SQL_C_SSHORT,
     SQL_C_SSHORT, 0, 2, 5, 5, 0, 0, nullptr, nullptr, "smallint"},
    // Failures: what was stored stays, nothing else changes.
    {"datetime type without subcode", {{SQL_DESC_TYPE, SQL_DATETIME}}, -1, "HY021", SQL_DATETIME, 0, 0},
    {"bad subcode", {{SQL_DESC_CONCISE_TYPE, SQL_C_LONG}, {SQL_DESC_DATETIME_INTERVAL_CODE, 5}}, -1, "HY021",
     SQL_C_LONG, SQL_C_LONG, 5},
    {"sql type varchar", {{SQL_DESC_CONCISE_TYPE, SQL_VARCHAR}}, -1, "HY003", SQL_VARCHAR, SQL_VARCHAR, 0},
    {"c default", {{SQL_DESC_CONCISE_TYPE, SQL_C_DEFAULT}}, -1, "HY003", SQL_C_DEFAULT, SQL_C_DEFAULT, 0},
    {"interval", {{SQL_DESC_CONCISE_TYPE, SQL_C_INTERVAL_DAY}}, -1, "HY003", SQL_C_INTERVAL_DAY, SQL_C_INTERVAL_DAY,
     0},
    {"zero subcode on fresh record", {{SQL_DESC_DATETIME_INTERVAL_CODE, 0}}, -1, "HY003", 0, 0, 0},
};

TEST_F(Desc, TypeDerivation) {
    for (const DeriveCase &c : kDerive) {
        SCOPED_TRACE(c.what);
        SpkDescriptor *d = stmt->ard;
        spk_desc_reset(d, 1);
        SpkField *f = spk_desc_record(d, 1);
        f->datetime_precision = 7;
        if (c.octet_before >= 0) {
            ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_OCTET_LENGTH, c.octet_before));
        }
        for (size_t i = 0; i + 1 < c.sets.size(); i++)
            ASSERT_EQ(SQL_SUCCESS, set(d, 1, c.sets[i].first, c.sets[i].second)) << first_state(d);
        SQLRETURN rc = set(d, 1, c.sets.back().first, c.sets.back().second);
        EXPECT_EQ(c.type, num<SQLSMALLINT>(d, 1, SQL_DESC_TYPE));
        EXPECT_EQ(c.concise, num<SQLSMALLINT>(d, 1, SQL_DESC_CONCISE_TYPE));
        EXPECT_EQ(c.subcode, num<SQLSMALLINT>(d, 1, SQL_DESC_DATETIME_INTERVAL_CODE));
        if (*c.state) {
            EXPECT_EQ(SQL_ERROR, rc);
            spk_clear_errors(d);
            rc = set(d, 1, c.sets.back().first, c.sets.back().second);
            EXPECT_EQ(std::vector<std::string>{c.state}, states(d));
            continue;
        }
        ASSERT_EQ(SQL_SUCCESS, rc) << first_state(d);
        EXPECT_EQ(c.octet, num<SQLLEN>(d, 1, SQL_DESC_OCTET_LENGTH));
        EXPECT_EQ(c.display, num<SQLLEN>(d, 1, SQL_DESC_DISPLAY_SIZE));
        EXPECT_EQ((SQLULEN)c.length, num<SQLULEN>(d, 1, SQL_DESC_LENGTH));
        EXPECT_EQ(c.precision, num<SQLSMALLINT>(d, 1, SQL_DESC_PRECISION));
        EXPECT_EQ(0, num<SQLSMALLINT>(d, 1, SQL_DESC_SCALE));
        EXPECT_EQ(c.radix, num<SQLINTEGER>(d, 1, SQL_DESC_NUM_PREC_RADIX));
        EXPECT_EQ(0, num<SQLSMALLINT>(d, 1, SQL_DESC_FIXED_PREC_SCALE));
        int dt_precision = c.concise == SQL_C_TIMESTAMP || c.concise == SQL_C_TYPE_TIMESTAMP ? 3
                           : c.concise == SQL_C_SBIGINT || c.concise == SQL_C_GUID    ? 7
                                                                                      : 0;
        EXPECT_EQ(dt_precision, num<SQLINTEGER>(d, 1, SQL_DESC_DATETIME_INTERVAL_PRECISION));
        f = spk_desc_record(d, 1);
        EXPECT_EQ(c.prefix ? c.prefix : "<none>", text_of(f->literal_prefix));
        EXPECT_EQ(c.suffix ? c.suffix : "<none>", text_of(f->literal_suffix));
        EXPECT_EQ(c.name, text_of(f->type_name));
        EXPECT_EQ(c.name, text_of(f->local_type_name));
    }
}

TEST_F(Desc, RetypingReplacesTheTypeStrings) {
    // Each derivation frees the previous strings (ASan reports a leak otherwise).
    SpkDescriptor *d = stmt->apd;
    for (int t : {SQL_C_CHAR, SQL_C_TYPE_TIMESTAMP, SQL_C_BINARY, SQL_C_LONG, SQL_C_WCHAR})
        ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_CONCISE_TYPE, t));
    EXPECT_EQ("nchar", text_of(d->records[0].type_name));
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_CONCISE_TYPE, SQL_C_LONG));
    EXPECT_EQ(nullptr, d->records[0].literal_prefix);
}

// ---------------------------------------------------------------------------
// Consistency check and unbinding

TEST_F(Desc, DataPointerRunsTheConsistencyCheck) {
    struct Case {
        const char *what;
        std::vector<std::pair<int, intptr_t>> sets;
        const char *detail;   // null: consistent
    } cases[] = {
        {"fresh record", {}, ""},
        {"char", {{SQL_DESC_CONCISE_TYPE, SQL_C_CHAR}}, nullptr},
        {"char precision -1", {{SQL_DESC_CONCISE_TYPE, SQL_C_CHAR}, {SQL_DESC_PRECISION, -1}}, nullptr},
        {"char precision -2",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_CHAR}, {SQL_DESC_PRECISION, -2}},
         "Negative precision value"},
        {"numeric", {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}}, nullptr},
        {"numeric precision 0",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_PRECISION, 0}},
         "Invalid precision value"},
        {"numeric negative scale",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_SCALE, -1}},
         "Negative scale value"},
        {"numeric negative precision",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_NUMERIC}, {SQL_DESC_PRECISION, -3}},
         "Negative precision value"},
        {"negative octet length",
         {{SQL_DESC_CONCISE_TYPE, SQL_C_LONG}, {SQL_DESC_OCTET_LENGTH, -1}},
         "Negative octet length value"},
        {"timestamp", {{SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP}}, nullptr},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        SpkDescriptor *d = stmt->ard;
        spk_desc_reset(d, 1);
        for (auto &s : c.sets) ASSERT_EQ(SQL_SUCCESS, set(d, 1, s.first, s.second)) << first_state(d);
        char buffer[4];
        SQLRETURN rc = set(d, 1, SQL_DESC_DATA_PTR, (intptr_t)buffer);
        if (!c.detail) {
            EXPECT_EQ(SQL_SUCCESS, rc) << first_message(d);
            continue;
        }
        EXPECT_EQ(SQL_ERROR, rc);
        EXPECT_EQ(std::vector<std::string>{"HY021"}, states(d));
        std::string expect = std::string("[Quillmark][Tarnwell]Inconsistent descriptor information");
        if (*c.detail) expect += std::string(": ") + c.detail;
        EXPECT_EQ(expect, first_message(d));
        // The pointer stays stored: the failure reports the inconsistency.
        EXPECT_EQ((void *)buffer, spk_desc_record(d, 1)->data_ptr);
    }
    // A record whose type fields were set directly to nonsense.
    SpkField *f = spk_desc_record(stmt->ard, 1);
    f->concise_type = SQL_C_TYPE_DATE;
    f->type = SQL_DATETIME;
    f->datetime_subcode = 4;
    EXPECT_EQ(-1, spk_check_desc_record(stmt->ard, f));
    f->datetime_subcode = 1;
    f->octet_length = 6;
    EXPECT_EQ(0, spk_check_desc_record(stmt->ard, f));
}

TEST_F(Desc, SettingADescriptionFieldUnbindsTheRecord) {
    SpkDescriptor *d = stmt->ard;
    char data[8];
    SQLLEN ind, len;
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_CONCISE_TYPE, SQL_C_CHAR));
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_INDICATOR_PTR, (intptr_t)&ind));
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_OCTET_LENGTH_PTR, (intptr_t)&len));
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_DATA_PTR, (intptr_t)data));
    EXPECT_EQ((void *)data, num<SQLPOINTER>(d, 1, SQL_DESC_DATA_PTR));
    EXPECT_EQ((void *)&ind, num<SQLPOINTER>(d, 1, SQL_DESC_INDICATOR_PTR));
    EXPECT_EQ((void *)&len, num<SQLPOINTER>(d, 1, SQL_DESC_OCTET_LENGTH_PTR));
    // An ignored field still unbinds.
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_DISPLAY_SIZE, 3));
    EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 1, SQL_DESC_DATA_PTR));
    EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 1, SQL_DESC_INDICATOR_PTR));
    EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 1, SQL_DESC_OCTET_LENGTH_PTR));
    EXPECT_EQ(0, num<SQLLEN>(d, 1, SQL_DESC_DISPLAY_SIZE)) << "the display size is derived, not stored";
}

TEST_F(Desc, StoredRecordFieldsAndTheirWidths) {
    SpkDescriptor *d = stmt->apd;
    struct Case {
        int id;
        intptr_t value;
        int width;
        int64_t expect;
    } cases[] = {
        {SQL_DESC_LENGTH, 300000, 8, 300000},
        {SQL_DESC_OCTET_LENGTH, 5000000000LL, 8, 5000000000LL},
        {SQL_DESC_PRECISION, 0x10005, 2, 5},   // 16-bit field: low 16 bits
        {SQL_DESC_SCALE, -4, 2, -4},
        {SQL_DESC_DATETIME_INTERVAL_PRECISION, 6, 4, 6},
        {SQL_DESC_NUM_PREC_RADIX, 10, 4, 10},
        {SQL_DESC_ROWVER, 1, 2, 1},
        {SQL_DESC_PARAMETER_TYPE, SQL_PARAM_OUTPUT, 2, SQL_PARAM_INPUT},   // ignored outside an IPD
        {SQL_DESC_NULLABLE, 0, 2, 0},
        {SQL_DESC_UNSIGNED, 1, 2, 0},                                    // accepted, ignored
        {SQL_DESC_AUTO_UNIQUE_VALUE, 1, 4, 0},
        {SQL_DESC_CASE_SENSITIVE, 1, 4, 0},
        {SQL_DESC_SEARCHABLE, 3, 2, 0},
        {SQL_DESC_UPDATABLE, 1, 2, 0},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.id);
        ASSERT_EQ(SQL_SUCCESS, set(d, 2, c.id, c.value)) << first_state(d);
        int64_t got = 0;
        switch (c.width) {
        case 2: got = num<SQLSMALLINT>(d, 2, c.id); break;
        case 4: got = num<SQLINTEGER>(d, 2, c.id); break;
        default: got = num<SQLLEN>(d, 2, c.id); break;
        }
        EXPECT_EQ(c.expect, got);
    }
}

TEST_F(Desc, UnknownFieldIdentifiers) {
    SpkDescriptor *d = stmt->ard;
    ASSERT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 1));
    char buf[16];
    for (int id : {9999, SQL_DESC_MINIMUM_SCALE, SQL_DESC_MAXIMUM_SCALE, 0, -5}) {
        SCOPED_TRACE(id);
        EXPECT_EQ(SQL_ERROR, get(d, 1, id, buf, sizeof buf, nullptr));
        EXPECT_EQ(std::vector<std::string>{"HY091"}, states(d));
        EXPECT_EQ(SQL_ERROR, set(d, 1, id, 1));
        EXPECT_EQ(std::vector<std::string>{"HY091"}, states(d));
    }
}

// ---------------------------------------------------------------------------
// Implementation descriptors

TEST_F(Desc, ImplementationRowDescriptorIsReadOnly) {
    SpkDescriptor *d = stmt->ird;
    stmt->described = 1;
    ASSERT_EQ(0, spk_desc_reset(d, 2));
    for (int id : {SQL_DESC_CONCISE_TYPE, SQL_DESC_NAME, SQL_DESC_DATA_PTR, SQL_DESC_DISPLAY_SIZE}) {
        EXPECT_EQ(SQL_ERROR, set(d, 1, id, 4));
        EXPECT_EQ("HY016", first_state(d));
    }
    spk_clear_errors(d);
    EXPECT_EQ(SQL_ERROR, spk_desc_set_rec(d, 1, SQL_C_CHAR, 0, 10, 0, 0, nullptr, nullptr, nullptr));
    EXPECT_EQ("HY016", first_state(d));
    EXPECT_EQ(0, spk_desc_record(d, 1)->type);
}

TEST_F(Desc, ParameterDescriptorFields) {
    SpkDescriptor *d = stmt->ipd;
    struct Case {
        int id;
        intptr_t value;
        const char *state;
    } cases[] = {
        {SQL_DESC_PARAMETER_TYPE, SQL_PARAM_OUTPUT, ""},
        {SQL_DESC_PARAMETER_TYPE, SQL_PARAM_INPUT_OUTPUT, ""},
        {SQL_DESC_PARAMETER_TYPE, 3, "HY105"},
        {SQL_DESC_PARAMETER_TYPE, 0, "HY105"},
        {SQL_DESC_UNNAMED, SQL_NAMED, "HY092"},
        {SQL_DESC_UNNAMED, SQL_UNNAMED, ""},
        {SQL_DESC_UNSIGNED, 1, "HY091"},
        {SQL_DESC_FIXED_PREC_SCALE, 1, "HY091"},
        {SQL_DESC_CASE_SENSITIVE, 1, "HY091"},
        {SQL_DESC_TYPE_NAME, 0, "HY091"},
        {SQL_DESC_LOCAL_TYPE_NAME, 0, "HY091"},
        {SQL_DESC_NULLABLE, 1, "HY091"},
        {SQL_DESC_DISPLAY_SIZE, 1, ""},
        {SQL_DESC_DATA_PTR, 0x1234, ""},   // ignored on an IPD
        {SQL_DESC_INDICATOR_PTR, 0x1234, ""},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.id) + "=" + std::to_string(c.value));
        SQLRETURN rc = set(d, 1, c.id, c.value);
        EXPECT_EQ(*c.state ? SQL_ERROR : SQL_SUCCESS, rc);
        EXPECT_EQ(*c.state ? std::vector<std::string>{c.state} : std::vector<std::string>{}, states(d));
    }
    EXPECT_EQ(SQL_PARAM_INPUT_OUTPUT, num<SQLSMALLINT>(d, 1, SQL_DESC_PARAMETER_TYPE));
    EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 1, SQL_DESC_DATA_PTR));
    EXPECT_EQ(nullptr, num<SQLPOINTER>(d, 1, SQL_DESC_INDICATOR_PTR));
}

TEST_F(Desc, ParameterNames) {
    SpkDescriptor *d = stmt->ipd;
    struct Case {
        const char *what;
        const void *value;
        long length;
        int wide_call;
        const char *state;
        const char *name;   // null: unnamed
    } cases[] = {
        {"@ dropped with SQL_NTS", "@p1", SQL_NTS, 0, "", "p1"},
        {"@ dropped with a length", "@p1xx", 3, 0, "", "p1"},
        {"lone @ with a length stays", "@", 1, 0, "", "@"},
        {"lone @ with SQL_NTS goes", "@", SQL_NTS, 0, "", ""},
        {"no @", "abc", SQL_NTS, 0, "", "abc"},
        {"utf-8", "\xC3\xA9t\xC3\xA9", SQL_NTS, 0, "", "\xC3\xA9t\xC3\xA9"},
        {"wide, length in bytes", u"@nom", 6, 1, "", "no"},
        {"wide, SQL_NTS", u"@\u00e9x", SQL_NTS, 1, "", "\xC3\xA9x"},
        {"null name unnames", nullptr, SQL_NTS, 0, "", nullptr},
        {"bad length", "x", -7, 0, "HY090", nullptr},
        {"bad wide length", u"x", -1, 1, "HY090", nullptr},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(SQL_SUCCESS, setp(d, 1, SQL_DESC_NAME, "old"));
        SQLRETURN rc = setp(d, 1, SQL_DESC_NAME, c.value, c.length, c.wide_call);
        if (*c.state) {
            EXPECT_EQ(SQL_ERROR, rc);
            EXPECT_EQ(std::vector<std::string>{c.state}, states(d));
            EXPECT_EQ("old", text_of(d->records[0].name)) << "a refused name changes nothing";
            continue;
        }
        ASSERT_EQ(SQL_SUCCESS, rc) << first_state(d);
        EXPECT_EQ(c.name ? c.name : "<none>", text_of(d->records[0].name));
        EXPECT_EQ(c.name && *c.name ? SQL_NAMED : SQL_UNNAMED, num<SQLSMALLINT>(d, 1, SQL_DESC_UNNAMED));
    }
    // SQL_DESC_UNNAMED = SQL_UNNAMED drops the name.
    ASSERT_EQ(SQL_SUCCESS, setp(d, 1, SQL_DESC_NAME, "p"));
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_UNNAMED, SQL_UNNAMED));
    EXPECT_EQ(nullptr, d->records[0].name);
    // Names given to other descriptors are ignored.
    ASSERT_EQ(SQL_SUCCESS, setp(stmt->apd, 1, SQL_DESC_NAME, "p"));
    EXPECT_EQ(nullptr, stmt->apd->records[0].name);
}

// ---------------------------------------------------------------------------
// Text fields

TEST_F(Desc, AnsiTextFieldsWithTruncation) {
    SpkDescriptor *d = stmt->ard;
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP));
    struct Case {
        long size;
        SQLRETURN rc;
        const char *text;
    } cases[] = {{4, SQL_SUCCESS_WITH_INFO, "tim"}, {9, SQL_SUCCESS_WITH_INFO, "timestam"},
                 {10, SQL_SUCCESS, "timestamp"},   {64, SQL_SUCCESS, "timestamp"},
                 {1, SQL_SUCCESS_WITH_INFO, ""},   {0, SQL_SUCCESS_WITH_INFO, ""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.size);
        TextResult r = ansi_text(d, 1, SQL_DESC_TYPE_NAME, c.size);
        EXPECT_EQ(c.rc, r.rc);
        EXPECT_EQ(c.text, r.text);
        EXPECT_EQ(9, r.length);
        EXPECT_EQ(c.rc == SQL_SUCCESS ? std::vector<std::string>{} : std::vector<std::string>{"01004"}, states(d));
    }
    // A null buffer reports the length only.
    SQLINTEGER len = -1;
    EXPECT_EQ(SQL_SUCCESS, get(d, 1, SQL_DESC_LITERAL_PREFIX, nullptr, 0, &len));
    EXPECT_EQ(5, len);
    // A negative buffer length is refused.
    char buf[8];
    EXPECT_EQ(SQL_ERROR, get(d, 1, SQL_DESC_TYPE_NAME, buf, -1, &len));
    EXPECT_EQ("HY090", first_state(d));
}

TEST_F(Desc, AbsentAndFixedEmptyTextFields) {
    SpkDescriptor *d = stmt->ard;
    ASSERT_EQ(SQL_SUCCESS, set(d, 0, SQL_DESC_COUNT, 1));
    for (int id : {SQL_DESC_TABLE_NAME, SQL_DESC_BASE_TABLE_NAME, SQL_DESC_NAME, SQL_DESC_LABEL,
                   SQL_DESC_SCHEMA_NAME, SQL_DESC_CATALOG_NAME, SQL_DESC_BASE_COLUMN_NAME, SQL_DESC_TYPE_NAME}) {
        SCOPED_TRACE(id);
        TextResult r = ansi_text(d, 1, id, 8);
        EXPECT_EQ(SQL_SUCCESS, r.rc);
        EXPECT_EQ("", r.text);
        EXPECT_EQ(0, r.length);
        r = ansi_text(d, 1, id, 0);   // nothing written, no warning
        EXPECT_EQ(SQL_SUCCESS, r.rc);
        EXPECT_TRUE(states(d).empty());
        WideResult w = wide_text(d, 1, id, 2);
        EXPECT_EQ(SQL_SUCCESS, w.rc);
        EXPECT_EQ(0, w.length);
        w = wide_text(d, 1, id, 1);   // no room for a unit
        EXPECT_EQ(SQL_SUCCESS, w.rc);
    }
}

TEST_F(Desc, NamesOfAResultColumn) {
    SpkDescriptor *d = stmt->ird;
    stmt->described = 1;
    ASSERT_EQ(0, spk_desc_reset(d, 2));
    d->records[0].name = spk_str_from_utf8("caf\xC3\xA9", SQL_NTS);
    d->records[0].table_name = spk_str_from_latin1("orders");
    d->records[1].name = spk_str_from_latin1("n");
    d->records[1].base_column_name = spk_str_from_latin1("base_n");
    struct Case {
        int rec, id;
        const char *text;
    } cases[] = {
        {1, SQL_DESC_NAME, "caf\xC3\xA9"},   {1, SQL_DESC_LABEL, "caf\xC3\xA9"},
        {1, SQL_DESC_BASE_COLUMN_NAME, "caf\xC3\xA9"}, {1, SQL_DESC_TABLE_NAME, "orders"},
        {1, SQL_DESC_BASE_TABLE_NAME, "orders"},      {1, SQL_DESC_SCHEMA_NAME, ""},
        {2, SQL_DESC_BASE_COLUMN_NAME, "base_n"},     {2, SQL_DESC_NAME, "n"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.rec) + "/" + std::to_string(c.id));
        TextResult r = ansi_text(d, c.rec, c.id, 32);
        EXPECT_EQ(SQL_SUCCESS, r.rc);
        EXPECT_EQ(c.text, r.text);
        EXPECT_EQ((SQLINTEGER)strlen(c.text), r.length) << "ANSI lengths count UTF-8 bytes";
    }
    EXPECT_EQ(SQL_NAMED, num<SQLSMALLINT>(d, 1, SQL_DESC_UNNAMED));
    // ANSI truncation never splits a character: 4 bytes of room hold "caf".
    TextResult r = ansi_text(d, 1, SQL_DESC_NAME, 5);
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, r.rc);
    EXPECT_EQ("caf", r.text);
    EXPECT_EQ(5, r.length);
}

TEST_F(Desc, WideTextFieldsCountBytes) {
    SpkDescriptor *d = stmt->ard;
    ASSERT_EQ(SQL_SUCCESS, set(d, 1, SQL_DESC_CONCISE_TYPE, SQL_C_TYPE_TIMESTAMP));
    struct Case {
        long bytes;
        SQLRETURN rc;
        const char16_t *text;
    } cases[] = {{10, SQL_SUCCESS_WITH_INFO, u"time"}, {11, SQL_SUCCESS_WITH_INFO, u"time"},
                 {18, SQL_SUCCESS_WITH_INFO, u"timestam"}, {20, SQL_SUCCESS, u"timestamp"},
                 {2, SQL_SUCCESS_WITH_INFO, u""}};
    for (const Case &c : cases) {
        SCOPED_TRACE(c.bytes);
        WideResult r = wide_text(d, 1, SQL_DESC_TYPE_NAME, c.bytes);
        EXPECT_EQ(c.rc, r.rc);
        EXPECT_EQ(wide(c.text), r.text);
        EXPECT_EQ(18, r.length);
    }
}

// ---------------------------------------------------------------------------
// Whole records

TEST_F(Desc, GetDescRecReadsTheRecord) {
    SpkDescriptor *d = stmt->ird;
    stmt->described = 1;
    ASSERT_EQ(0, spk_desc_reset(d, 2));
    SpkField *f = spk_desc_record(d, 1);
    f->name = spk_str_from_latin1("created_at");
    f->type = SQL_DATETIME;
    f->concise_type = SQL_TYPE_TIMESTAMP;
    f->datetime_subcode = 3;
    f->octet_length = 16;
    f->precision = 6;
    f->scale = 6;
    f->nullable = SQL_NULLABLE;

    unsigned char mem[8 + 2 * kGuardLen];
    memset(mem, kGuard, sizeof mem);
    SQLSMALLINT len = -1, type = -1, sub = -1, prec = -1, scale = -1, nullable = -1;
    SQLLEN length = -1;
    spk_clear_errors(d);
    SQLRETURN rc = spk_desc_get_rec(d, 1, mem + kGuardLen, 8, &len, &type, &sub, &length, &prec, &scale, &nullable,
                                    0, "SQLGetDescRec");
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, rc);
    EXPECT_EQ("01004", first_state(d));
    EXPECT_STREQ("created", (char *)mem + kGuardLen);
    for (size_t i = 0; i < kGuardLen; i++) EXPECT_EQ(kGuard, mem[kGuardLen + 8 + i]);
    EXPECT_EQ(10, len);
    EXPECT_EQ(SQL_DATETIME, type);
    EXPECT_EQ(3, sub);
    EXPECT_EQ(16, length);
    EXPECT_EQ(6, prec);
    EXPECT_EQ(6, scale);
    EXPECT_EQ(SQL_NULLABLE, nullable);

    // Wide: buffer length and name length in characters.
    SQLWCHAR wname[6];
    memset(wname, 0xA5, sizeof wname);
    spk_clear_errors(d);
    rc = spk_desc_get_rec(d, 1, wname, 5, &len, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, 1,
                          "SQLGetDescRecW");
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, rc);
    EXPECT_EQ(std::u16string(u"crea"), std::u16string((const char16_t *)wname, 4));
    EXPECT_EQ(0, wname[4]);
    EXPECT_EQ(0xA5A5, wname[5]);
    EXPECT_EQ(10, len);

    // An unnamed record gives an empty name; all outputs optional.
    char name[4] = "xxx";
    spk_clear_errors(d);
    EXPECT_EQ(SQL_SUCCESS, spk_desc_get_rec(d, 2, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr,
                                            nullptr, nullptr, 0, "SQLGetDescRec"));
    EXPECT_STREQ("", name);
    EXPECT_EQ(0, len);
    spk_clear_errors(d);
    EXPECT_EQ(SQL_ERROR, spk_desc_get_rec(d, 3, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, 0, "SQLGetDescRec"));
    EXPECT_EQ("07009", first_state(d));
    spk_clear_errors(stmt->apd);
    EXPECT_EQ(SQL_ERROR, spk_desc_get_rec(stmt->apd, 0, name, sizeof name, &len, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, 0, "SQLGetDescRec"));
    EXPECT_EQ("07009", first_state(stmt->apd));
}

TEST_F(Desc, SetDescRecOnAnApplicationDescriptor) {
    SpkDescriptor *d = stmt->ard;
    char data[32];
    SQLLEN len = 0, ind = 0;
    spk_clear_errors(d);
    ASSERT_EQ(SQL_SUCCESS, spk_desc_set_rec(d, 2, SQL_C_CHAR, 0, 32, 0, 0, data, &len, &ind)) << first_state(d);
    EXPECT_EQ(2, d->count);
    SpkField *f = spk_desc_record(d, 2);
    EXPECT_EQ(SQL_C_CHAR, f->concise_type);
    EXPECT_EQ(32, f->octet_length);
    EXPECT_EQ((void *)data, f->data_ptr);
    EXPECT_EQ((void *)&len, f->octet_length_ptr);
    EXPECT_EQ((void *)&ind, f->indicator_ptr);
    EXPECT_EQ("char", text_of(f->type_name));

    // A datetime record: the concise type comes from the subtype; the
    // given length replaces the derived octet length.
    spk_clear_errors(d);
    ASSERT_EQ(SQL_SUCCESS, spk_desc_set_rec(d, 1, SQL_DATETIME, SQL_CODE_TIMESTAMP, 16, 0, 0, data, nullptr, nullptr));
    f = spk_desc_record(d, 1);
    EXPECT_EQ(SQL_C_TYPE_TIMESTAMP, f->concise_type);
    EXPECT_EQ(16, f->octet_length);

    struct Case {
        int type, sub;
        SQLLEN length;
        int precision, scale;
        const char *state;
    } cases[] = {
        {SQL_DATETIME, 0, 16, 0, 0, "HY021"},
        {SQL_VARCHAR, 0, 10, 0, 0, "HY003"},
        {SQL_C_NUMERIC, 0, 19, 0, 0, "HY021"},   // precision 0
        {SQL_C_NUMERIC, 0, 19, 10, -1, "HY021"},
        {SQL_C_NUMERIC, 0, 19, 10, 2, ""},
        {SQL_C_BINARY, 0, -5, 0, 0, "HY021"},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(std::to_string(c.type) + "/" + std::to_string(c.precision));
        spk_clear_errors(d);
        SQLRETURN rc = spk_desc_set_rec(d, 3, c.type, c.sub, c.length, c.precision, c.scale, data, nullptr, nullptr);
        EXPECT_EQ(*c.state ? SQL_ERROR : SQL_SUCCESS, rc);
        EXPECT_EQ(*c.state ? std::vector<std::string>{c.state} : std::vector<std::string>{}, states(d));
    }
    // Record 0 of an ARD is the bookmark record; of an IPD it does not exist.
    spk_clear_errors(d);
    EXPECT_EQ(SQL_SUCCESS, spk_desc_set_rec(d, 0, SQL_C_BINARY, 0, 4, 0, 0, data, nullptr, nullptr));
    EXPECT_EQ(SQL_C_BINARY, d->bookmark_record.concise_type);
    spk_clear_errors(stmt->ipd);
    EXPECT_EQ(SQL_ERROR, spk_desc_set_rec(stmt->ipd, 0, SQL_C_CHAR, 0, 4, 0, 0, data, nullptr, nullptr));
    EXPECT_EQ("07009", first_state(stmt->ipd));
    spk_clear_errors(d);
    EXPECT_EQ(SQL_ERROR, spk_desc_set_rec(d, -1, SQL_C_CHAR, 0, 4, 0, 0, data, nullptr, nullptr));
    EXPECT_EQ("07009", first_state(d));
}

TEST_F(Desc, SetDescRecOnAnIpdKeepsItsStoredFields) {
    SpkDescriptor *d = stmt->ipd;
    ASSERT_EQ(0, spk_desc_grow(d, 1));
    SpkField *f = spk_desc_record(d, 1);
    f->type = SQL_C_CHAR;
    f->concise_type = SQL_C_CHAR;
    f->octet_length = 40;
    spk_clear_errors(d);
    char data[4];
    EXPECT_EQ(SQL_SUCCESS, spk_desc_set_rec(d, 1, SQL_C_LONG, 0, 4, 0, 0, data, nullptr, nullptr));
    EXPECT_EQ(SQL_C_CHAR, f->type);
    EXPECT_EQ(40, f->octet_length);
    EXPECT_EQ(nullptr, f->data_ptr);
}

// ---------------------------------------------------------------------------
// Type helpers

TEST(DescTypes, DefaultCType) {
    struct Case {
        int sql, as_text, c;
    } cases[] = {
        {SQL_NUMERIC, 0, SQL_C_NUMERIC},   {SQL_DECIMAL, 1, SQL_C_CHAR},      {SQL_DECIMAL, 0, SQL_C_NUMERIC},
        {SQL_INTEGER, 0, SQL_C_SLONG},     {SQL_C_SLONG, 0, SQL_C_SLONG},     {SQL_SMALLINT, 0, SQL_C_SSHORT},
        {SQL_FLOAT, 0, SQL_C_DOUBLE},      {SQL_DOUBLE, 0, SQL_C_DOUBLE},     {SQL_REAL, 0, SQL_C_FLOAT},
        {SQL_TYPE_DATE, 0, SQL_C_DATE},    {SQL_DATE, 0, SQL_C_DATE},         {SQL_TYPE_TIME, 0, SQL_C_TIME},
        {SQL_TYPE_TIMESTAMP, 0, SQL_C_TIMESTAMP}, {SQL_TINYINT, 0, SQL_C_UTINYINT}, {SQL_C_STINYINT, 0, -26},
        {SQL_C_UBIGINT, 0, -27},           {SQL_BIGINT, 0, SQL_C_SBIGINT},    {SQL_C_ULONG, 0, -18},
        {SQL_C_USHORT, 0, -17},            {SQL_GUID, 0, SQL_C_GUID},         {SQL_WCHAR, 0, SQL_C_WCHAR},
        {SQL_WVARCHAR, 0, SQL_C_WCHAR},    {SQL_WLONGVARCHAR, 0, SQL_C_WCHAR}, {SQL_BIT, 0, SQL_C_BIT},
        {SQL_BINARY, 0, SQL_C_BINARY},     {SQL_VARBINARY, 0, SQL_C_BINARY},  {SQL_LONGVARBINARY, 0, SQL_C_BINARY},
        {SQL_VARCHAR, 0, SQL_C_CHAR},      {SQL_LONGVARCHAR, 0, SQL_C_CHAR},  {0, 0, SQL_C_CHAR},
        {12345, 0, SQL_C_CHAR},
    };
    for (const auto &c : cases) EXPECT_EQ(c.c, spk_default_c_type(c.sql, c.as_text)) << c.sql;
}

TEST(DescTypes, TypeCodeSets) {
    std::vector<int> c_types, sql_types;
    for (int n = -40; n <= 130; n++) {
        if (spk_is_c_type(n)) c_types.push_back(n);
        if (spk_is_sql_type(n)) sql_types.push_back(n);
    }
    EXPECT_EQ((std::vector<int>{-28, -27, -26, -25, -18, -17, -16, -15, -11, -8, -7, -6, -2, 1, 2, 4, 5, 7, 8, 9,
                                10, 11, 91, 92, 93, 99, 101, 102, 103, 104, 105, 106, 107, 108, 109, 110, 111, 112,
                                113}),
              c_types);
    EXPECT_EQ((std::vector<int>{-28, -27, -26, -25, -18, -17, -16, -15, -11, -10, -9, -8, -7, -6, -5, -4, -3, -2, -1,
                                1,   2,   3,   4,   5,   6,   7,   8,   9,   10,  11,  12, 91, 92, 93}),
              sql_types);
}

TEST_F(Desc, FieldStride) {
    SpkDescriptor *d = stmt->ard;
    SpkField f;
    spk_field_init(&f);
    struct Case {
        int concise;
        int64_t stride;
    } cases[] = {
        {SQL_C_NUMERIC, 19}, {SQL_C_LONG, 4},  {SQL_C_FLOAT, 4},    {SQL_C_SLONG, 4},    {SQL_C_ULONG, 4},
        {SQL_C_SHORT, 2},    {SQL_C_SSHORT, 2}, {SQL_C_USHORT, 2},  {SQL_C_DOUBLE, 8},   {SQL_C_SBIGINT, 8},
        {SQL_C_UBIGINT, 8},  {SQL_C_DATE, 6},  {SQL_C_TIME, 6},     {SQL_C_TYPE_DATE, 6}, {SQL_C_TYPE_TIME, 6},
        {SQL_C_TIMESTAMP, 16}, {SQL_C_TYPE_TIMESTAMP, 16}, {SQL_C_BIT, 1}, {SQL_C_TINYINT, 1}, {SQL_C_STINYINT, 1},
        {SQL_C_UTINYINT, 1}, {SQL_C_GUID, 16}, {SQL_C_INTERVAL_DAY, (int64_t)sizeof(SQL_INTERVAL_STRUCT)},
        {SQL_C_CHAR, 77},    {SQL_C_WCHAR, 77}, {SQL_C_BINARY, 77},
    };
    for (const auto &c : cases) {
        f.concise_type = c.concise;
        d->bind_type = SQL_BIND_BY_COLUMN;
        EXPECT_EQ(c.stride, spk_field_stride(d, &f, 77)) << c.concise;
        d->bind_type = 120;   // row-wise: the row size is the stride
        EXPECT_EQ(120, spk_field_stride(d, &f, 120)) << c.concise;
    }
}

// ---------------------------------------------------------------------------
// Describe on demand

struct HookState {
    int stmt_calls = 0;
    int params_calls = 0;
    bool fail = false;
};
HookState g_hooks;

int fake_describe_stmt(SpkStatement *s) {
    g_hooks.stmt_calls++;
    if (g_hooks.fail) {
        spk_post_error(s, "42000", 0, "cannot describe");
        return -1;
    }
    if (spk_desc_reset(s->ird, 2) != 0) return -1;
    s->ird->described_count = 2;
    s->ird->described = 1;
    s->described = 1;
    return 0;
}

int fake_describe_params(SpkStatement *s) {
    g_hooks.params_calls++;
    if (g_hooks.fail) {
        spk_post_error(s, "HY001", 0, nullptr);
        return -1;
    }
    return spk_desc_reset(s->ipd, s->param_count);
}

class DescribeOnDemand : public Desc {
  protected:
    void SetUp() override {
        Desc::SetUp();
        g_hooks = HookState();
        spk_desc_describe_stmt_hook = fake_describe_stmt;
        spk_desc_describe_params_hook = fake_describe_params;
    }
    SQLSMALLINT count_of(SpkDescriptor *d, SQLRETURN *rc, int wide_call = 0) {
        SQLSMALLINT n = -1;
        *rc = get(d, 0, SQL_DESC_COUNT, &n, 0, nullptr, wide_call);
        return n;
    }
};

TEST_F(DescribeOnDemand, IrdWithoutSqlTextIsNotPrepared) {
    SQLRETURN rc;
    count_of(stmt->ird, &rc);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ(std::vector<std::string>{"HY007"}, states(stmt->ird));
    spk_clear_errors(stmt->ird);
    char name[8];
    EXPECT_EQ(SQL_ERROR, spk_desc_get_rec(stmt->ird, 1, name, sizeof name, nullptr, nullptr, nullptr, nullptr,
                                          nullptr, nullptr, nullptr, 1, "SQLGetDescRecW"));
    EXPECT_EQ("HY007", first_state(stmt->ird));
    EXPECT_EQ(0, g_hooks.stmt_calls);
}

TEST_F(DescribeOnDemand, IrdIsDescribedOnceBeforeItIsRead) {
    stmt->sql = spk_str_from_latin1("select a, b from t");
    SQLRETURN rc;
    EXPECT_EQ(2, count_of(stmt->ird, &rc));
    EXPECT_EQ(SQL_SUCCESS, rc);
    EXPECT_EQ(1, g_hooks.stmt_calls);
    EXPECT_EQ(2, count_of(stmt->ird, &rc));
    EXPECT_EQ(1, g_hooks.stmt_calls) << "already described";
    // Not described but executed (a statement without a result): no describe.
    stmt->described = 0;
    stmt->state = SPK_STMT_CURSOR;
    count_of(stmt->ird, &rc);
    EXPECT_EQ(SQL_SUCCESS, rc);
    EXPECT_EQ(1, g_hooks.stmt_calls);
    // Application descriptors never describe.
    count_of(stmt->ard, &rc);
    count_of(stmt->apd, &rc);
    EXPECT_EQ(1, g_hooks.stmt_calls);
    EXPECT_EQ(0, g_hooks.params_calls);
}

TEST_F(DescribeOnDemand, FailedDescribeReportsOnTheDescriptor) {
    stmt->sql = spk_str_from_latin1("select nonsense");
    spk_post_error(stmt, "01004", 0, nullptr);   // left from an earlier call
    g_hooks.fail = true;
    SQLRETURN rc;
    count_of(stmt->ird, &rc);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ(std::vector<std::string>{"42000"}, states(stmt->ird)) << "only what the describe posted";
    EXPECT_NE(std::string::npos, first_message(stmt->ird).find("cannot describe"));
    // A describe that fails without saying why still leaves a record.
    spk_desc_describe_stmt_hook = [](SpkStatement *) { return -1; };
    count_of(stmt->ird, &rc);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ(std::vector<std::string>{"HY000"}, states(stmt->ird));
}

TEST_F(DescribeOnDemand, IpdDescribesParametersUntilExecuted) {
    stmt->sql = spk_str_from_latin1("select * from t where a = ? and b = ?");
    stmt->param_count = 2;
    SQLRETURN rc;
    EXPECT_EQ(2, count_of(stmt->ipd, &rc));
    EXPECT_EQ(SQL_SUCCESS, rc);
    EXPECT_EQ(1, g_hooks.params_calls);
    EXPECT_EQ(1, stmt->param_described);
    count_of(stmt->ipd, &rc);
    EXPECT_EQ(1, g_hooks.params_calls);

    // After execution only the wide calls still describe.
    stmt->param_described = 0;
    stmt->state = SPK_STMT_CURSOR;
    count_of(stmt->ipd, &rc);
    EXPECT_EQ(1, g_hooks.params_calls);
    count_of(stmt->ipd, &rc, 1);
    EXPECT_EQ(2, g_hooks.params_calls);

    // No markers: nothing to describe.
    stmt->param_described = 0;
    stmt->state = SPK_STMT_PREPARED;
    stmt->param_count = 0;
    count_of(stmt->ipd, &rc);
    EXPECT_EQ(2, g_hooks.params_calls);
    EXPECT_EQ(0, g_hooks.stmt_calls);
}

TEST_F(DescribeOnDemand, FailedParameterDescribe) {
    stmt->sql = spk_str_from_latin1("select ?");
    stmt->param_count = 1;
    g_hooks.fail = true;
    SQLRETURN rc;
    count_of(stmt->ipd, &rc);
    EXPECT_EQ(SQL_ERROR, rc);
    EXPECT_EQ((std::vector<std::string>{"HY001", "HY000"}), states(stmt->ipd));
    EXPECT_EQ(0, stmt->param_described);
}

// ---------------------------------------------------------------------------
// The exports, through the frame of the loaded driver.

typedef SQLRETURN(SQL_API *AllocHandleFn)(SQLSMALLINT, SQLHANDLE, SQLHANDLE *);
typedef SQLRETURN(SQL_API *FreeHandleFn)(SQLSMALLINT, SQLHANDLE);
typedef SQLRETURN(SQL_API *GetDescFieldFn)(SQLHDESC, SQLSMALLINT, SQLSMALLINT, SQLPOINTER, SQLINTEGER,
                                           SQLINTEGER *);
typedef SQLRETURN(SQL_API *SetDescFieldFn)(SQLHDESC, SQLSMALLINT, SQLSMALLINT, SQLPOINTER, SQLINTEGER);
typedef SQLRETURN(SQL_API *GetDescRecFn)(SQLHDESC, SQLSMALLINT, SQLPOINTER, SQLSMALLINT, SQLSMALLINT *,
                                         SQLSMALLINT *, SQLSMALLINT *, SQLLEN *, SQLSMALLINT *, SQLSMALLINT *,
                                         SQLSMALLINT *);
typedef SQLRETURN(SQL_API *SetDescRecFn)(SQLHDESC, SQLSMALLINT, SQLSMALLINT, SQLSMALLINT, SQLLEN, SQLSMALLINT,
                                         SQLSMALLINT, SQLPOINTER, SQLLEN *, SQLLEN *);
typedef SQLRETURN(SQL_API *GetDiagRecFn)(SQLSMALLINT, SQLHANDLE, SQLSMALLINT, SQLCHAR *, SQLINTEGER *, SQLCHAR *,
                                         SQLSMALLINT, SQLSMALLINT *);

class DescExports : public ::testing::Test {
  protected:
    tarn_test::DriverLib lib;
    AllocHandleFn alloc = lib.fn<AllocHandleFn>("SQLAllocHandle");
    FreeHandleFn free_handle = lib.fn<FreeHandleFn>("SQLFreeHandle");
    GetDescFieldFn get_field = lib.fn<GetDescFieldFn>("SQLGetDescField");
    GetDescFieldFn get_field_w = lib.fn<GetDescFieldFn>("SQLGetDescFieldW");
    SetDescFieldFn set_field = lib.fn<SetDescFieldFn>("SQLSetDescField");
    SetDescFieldFn set_field_w = lib.fn<SetDescFieldFn>("SQLSetDescFieldW");
    GetDescRecFn get_rec = lib.fn<GetDescRecFn>("SQLGetDescRec");
    GetDescRecFn get_rec_w = lib.fn<GetDescRecFn>("SQLGetDescRecW");
    SetDescRecFn set_rec = lib.fn<SetDescRecFn>("SQLSetDescRec");
    SQLHENV env = nullptr;
    SQLHDBC dbc = nullptr;
    SQLHSTMT stmt = nullptr;
    SQLHDESC desc = nullptr;

    void SetUp() override {
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_ENV, nullptr, &env));
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DBC, env, &dbc));
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_STMT, dbc, &stmt));
        ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_DESC, dbc, &desc));
    }
    void TearDown() override {
        if (env) {
            EXPECT_EQ(SQL_SUCCESS, free_handle(SQL_HANDLE_ENV, env));
        }
    }
    std::string diags(SQLHANDLE h) {
        auto rec = lib.fn<GetDiagRecFn>("SQLGetDiagRec");
        std::string out;
        for (SQLSMALLINT i = 1;; i++) {
            SQLCHAR state[6] = {0}, msg[512] = {0};
            SQLINTEGER native = 0;
            SQLSMALLINT len = 0;
            if (rec(SQL_HANDLE_DESC, h, i, state, &native, msg, sizeof msg, &len) != SQL_SUCCESS) break;
            out += std::string((char *)state) + ":" + (char *)msg + "\n";
        }
        return out;
    }
    SQLHDESC ard() { return ((SpkStatement *)stmt)->ard; }
    SQLHDESC ird() { return ((SpkStatement *)stmt)->ird; }
};

TEST_F(DescExports, HandlesOfOtherKindsAreInvalid) {
    SQLSMALLINT v;
    char name[8];
    for (SQLHANDLE h : {(SQLHANDLE) nullptr, (SQLHANDLE)stmt, (SQLHANDLE)dbc, (SQLHANDLE)env}) {
        EXPECT_EQ(SQL_INVALID_HANDLE, get_field(h, 0, SQL_DESC_COUNT, &v, 0, nullptr));
        EXPECT_EQ(SQL_INVALID_HANDLE, get_field_w(h, 0, SQL_DESC_COUNT, &v, 0, nullptr));
        EXPECT_EQ(SQL_INVALID_HANDLE, set_field(h, 0, SQL_DESC_COUNT, (SQLPOINTER)1, 0));
        EXPECT_EQ(SQL_INVALID_HANDLE, set_field_w(h, 0, SQL_DESC_COUNT, (SQLPOINTER)1, 0));
        EXPECT_EQ(SQL_INVALID_HANDLE,
                  get_rec(h, 1, name, sizeof name, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(SQL_INVALID_HANDLE,
                  get_rec_w(h, 1, name, 4, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
        EXPECT_EQ(SQL_INVALID_HANDLE, set_rec(h, 1, SQL_C_CHAR, 0, 1, 0, 0, nullptr, nullptr, nullptr));
    }
}

TEST_F(DescExports, EachCallReportsOnlyItsOwnDiagnostics) {
    // An explicit descriptor not in use: its header is read-only.
    EXPECT_EQ(SQL_ERROR, set_field(desc, 0, SQL_DESC_ARRAY_SIZE, (SQLPOINTER)10, 0));
    EXPECT_EQ("HY016:[Quillmark][Tarnwell]Cannot modify an implementation row descriptor\n", diags(desc));
    EXPECT_EQ(SQL_SUCCESS, set_field(desc, 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)(intptr_t)SQL_C_TYPE_DATE, 0));
    EXPECT_EQ("", diags(desc));
    SQLSMALLINT type = 0;
    SQLINTEGER len = 0;
    EXPECT_EQ(SQL_SUCCESS, get_field(desc, 1, SQL_DESC_TYPE, &type, 0, &len));
    EXPECT_EQ(SQL_DATETIME, type);
    EXPECT_EQ(2, len);
    // The IRD of a statement without SQL text.
    EXPECT_EQ(SQL_ERROR, get_field(ird(), 0, SQL_DESC_COUNT, &type, 0, nullptr));
    EXPECT_EQ("HY007:[Quillmark][Tarnwell]Associated statement is not prepared\n", diags(ird()));
}

TEST_F(DescExports, TextThroughTheAnsiAndWideExports) {
    ASSERT_EQ(SQL_SUCCESS, set_field(ard(), 1, SQL_DESC_CONCISE_TYPE, (SQLPOINTER)(intptr_t)SQL_C_TYPE_TIMESTAMP, 0));
    char narrow[4];
    SQLINTEGER len = 0;
    EXPECT_EQ(SQL_SUCCESS_WITH_INFO, get_field(ard(), 1, SQL_DESC_TYPE_NAME, narrow, sizeof narrow, &len));
    EXPECT_STREQ("tim", narrow);
    EXPECT_EQ(9, len);
    EXPECT_EQ("01004:[Quillmark][Tarnwell]String data, right truncation\n", diags(ard()));
    SQLWCHAR w[16];
    EXPECT_EQ(SQL_SUCCESS, get_field_w(ard(), 1, SQL_DESC_LITERAL_PREFIX, w, sizeof w, &len));
    EXPECT_EQ(std::u16string(u"{ts '"), std::u16string((const char16_t *)w));
    EXPECT_EQ(10, len);

    SQLHDESC ipd = ((SpkStatement *)stmt)->ipd;
    const char16_t pname[] = u"@abc";
    ASSERT_EQ(SQL_SUCCESS, set_field_w(ipd, 1, SQL_DESC_NAME, (SQLPOINTER)pname, 8));
    SQLSMALLINT nlen = 0, type = 0;
    SQLLEN octets = 0;
    EXPECT_EQ(SQL_SUCCESS, get_rec_w(ipd, 1, w, 16, &nlen, &type, nullptr, &octets, nullptr, nullptr, nullptr));
    EXPECT_EQ(std::u16string(u"abc"), std::u16string((const char16_t *)w));
    EXPECT_EQ(3, nlen);
    char n8[8];
    EXPECT_EQ(SQL_SUCCESS, get_rec(ipd, 1, n8, sizeof n8, &nlen, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr));
    EXPECT_STREQ("abc", n8);

    char data[16];
    SQLLEN ind = 0;
    EXPECT_EQ(SQL_SUCCESS, set_rec(ard(), 2, SQL_C_CHAR, 0, sizeof data, 0, 0, data, nullptr, &ind));
    SQLSMALLINT count = 0;
    EXPECT_EQ(SQL_SUCCESS, get_field(ard(), 0, SQL_DESC_COUNT, &count, 0, nullptr));
    EXPECT_EQ(2, count);
}

TEST_F(DescExports, CallsAreTraced) {
    // Trace settings are copied into a handle when it is allocated.
    std::string dir = tarn_test::make_temp_dir("tarn-desc-trace");
    std::string file = dir + "/trace.log";
    SpkConnection *c = (SpkConnection *)dbc;
    snprintf(c->log_file, sizeof c->log_file, "%s", file.c_str());
    c->log_flags = LOG_ENTRY | LOG_EXIT | LOG_DETAIL | LOG_ERROR;
    SQLHSTMT traced = nullptr;
    ASSERT_EQ(SQL_SUCCESS, alloc(SQL_HANDLE_STMT, dbc, &traced));
    SQLHDESC traced_ird = ((SpkStatement *)traced)->ird;
    SQLHDESC traced_ard = ((SpkStatement *)traced)->ard;
    SQLSMALLINT n;
    EXPECT_EQ(SQL_ERROR, get_field(traced_ird, 0, SQL_DESC_COUNT, &n, 0, nullptr));
    EXPECT_EQ(SQL_ERROR, set_rec(traced_ard, 1, SQL_DATETIME, 0, 123456789012LL, 0, 0, nullptr, nullptr, nullptr));
    const char16_t pname[] = u"x";
    EXPECT_EQ(SQL_ERROR, set_field_w(traced_ard, 1, 9999, (SQLPOINTER)pname, 2));
    c->log_flags = 0;

    FILE *f = fopen(file.c_str(), "r");
    ASSERT_TRUE(f);
    std::string log;
    char line[4096];
    while (fgets(line, sizeof line, f)) log += line;
    fclose(f);
    tarn_test::remove_tree(dir);
    for (const char *expect : {"SQLGetDescField: descriptor_handle=", "rsc=0, field_identifier=1001",
                               "describing a IRD descriptor", "SQLGetDescField: return value=-1",
                               "SQLSetDescRec: descriptor_handle=", "length=123456789012",
                               "SQLSetDescRec: failed in spk_update_desc_type", "SQLSetDescRec: return value=-1",
                               "SQLSetDescFieldW: unknown field identifier 9999"}) {
        EXPECT_NE(std::string::npos, log.find(expect)) << expect << "\n" << log;
    }
}

}  // namespace
