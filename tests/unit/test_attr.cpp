// Connection and statement attributes, ODBC 2 options, descriptor
// association and cursor names, called through the shared bodies of the
// exports.  Every integer answer is read with guard bytes around it, so a
// getter that stores more (or fewer) bytes than it should is caught.
#include <gtest/gtest.h>

#include "tarn_core_support.h"
#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "core/spk_attr.h"
#include "core/spk_err.h"
#include "core/spk_handle.h"
#include "spk_handles.h"
#include "spk_string.h"

namespace {

using tarn_test::message;
using tarn_test::states;
using tarn_test::text_of;

SQLPOINTER as_value(uint64_t v) { return (SQLPOINTER)(uintptr_t)v; }




bool ends_with(const std::string &s, const std::string &tail) {
    return s.size() >= tail.size() && s.compare(s.size() - tail.size(), tail.size(), tail) == 0;
}

// One integer answer: the bytes the getter wrote (found by running it twice
// over buffers filled with different patterns) and the value they hold.
struct Answer {
    SQLRETURN rc;
    int written;          // bytes written from the start of the buffer; -1 if not a prefix
    uint64_t value;
    SQLINTEGER length;    // -99 when not written
};

template <typename Call> Answer probe(Call call) {
    unsigned char a[16], b[16];
    memset(a, 0x00, sizeof a);
    memset(b, 0xFF, sizeof b);
    SQLINTEGER la = -99, lb = -99;
    Answer r;
    r.rc = call(a, &la);
    SQLRETURN rc2 = call(b, &lb);
    EXPECT_EQ(r.rc, rc2);
    EXPECT_EQ(la, lb);
    int n = 0;
    while (n < 16 && a[n] == b[n]) n++;
    for (int i = n; i < 16; i++)
        if (a[i] == b[i]) n = -1;
    r.written = n;
    r.value = 0;
    if (n == 4) {
        uint32_t v;
        memcpy(&v, a, 4);
        r.value = v;
    } else if (n == 8) {
        memcpy(&r.value, a, 8);
    }
    r.length = la;
    return r;
}

class AttrTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env = spk_env_new();
        conn = spk_conn_new(env, SQL_OV_ODBC3);
        stmt = spk_stmt_new(conn);
    }
    void TearDown() override {
        conn->connected = 0;
        spk_env_free(env);
    }

    SQLRETURN set_conn(SQLINTEGER attr, uint64_t v) {
        spk_clear_errors(conn);
        return spk_set_connect_attr(conn, "SQLSetConnectAttr", attr, as_value(v), 0);
    }
    Answer get_conn(SQLINTEGER attr, int wide = 0) {
        spk_clear_errors(conn);
        const char *fn = wide ? "SQLGetConnectAttrW" : "SQLGetConnectAttr";
        return probe([&](void *buf, SQLINTEGER *len) {
            spk_clear_errors(conn);
            return spk_get_connect_attr(conn, fn, wide, attr, buf, 16, len);
        });
    }
    SQLRETURN set_stmt(SQLINTEGER attr, uint64_t v, SpkStatement *s = nullptr) {
        s = s ? s : stmt;
        spk_clear_errors(s);
        return spk_set_stmt_attr(s, "SQLSetStmtAttr", attr, as_value(v), 0);
    }
    SQLRETURN set_stmt_ptr(SQLINTEGER attr, void *p, SpkStatement *s = nullptr) {
        return set_stmt(attr, (uintptr_t)p, s);
    }
    Answer get_stmt(SQLINTEGER attr, SpkStatement *s = nullptr) {
        s = s ? s : stmt;
        spk_clear_errors(s);
        return probe([&](void *buf, SQLINTEGER *len) {
            spk_clear_errors(s);
            return spk_get_stmt_attr(s, "SQLGetStmtAttr", attr, buf, 16, len);
        });
    }

    SpkEnvironment *env = nullptr;
    SpkConnection *conn = nullptr;
    SpkStatement *stmt = nullptr;
};

// ---------------------------------------------------------------------------
// Connection attributes: every row of the table

struct ConnCase {
    SQLINTEGER id;
    uint64_t initial;
    int width;              // bytes the getter stores
    uint64_t value;         // set to this
    const char *set_state;  // null: accepted
    uint64_t after;         // what the getter reports after the set
};

const uint64_t BIG = 0x123456789AULL;   // needs more than 32 bits

const ConnCase CONN_CASES[] = {
    {SQL_ATTR_QUERY_TIMEOUT, 0, 8, 30, nullptr, 30},
    {SQL_ATTR_MAX_ROWS, 0, 8, BIG, nullptr, BIG},
    {SQL_ATTR_NOSCAN, 0, 8, 1, nullptr, 1},
    {SQL_ATTR_MAX_LENGTH, 0, 8, BIG, nullptr, BIG},
    {SQL_ATTR_ASYNC_ENABLE, 0, 8, 1, nullptr, 1},
    {SQL_ATTR_ROW_BIND_TYPE, 0, 8, 48, nullptr, 48},
    {SQL_ATTR_CURSOR_TYPE, 0, 8, 3, nullptr, 3},
    {SQL_ATTR_CONCURRENCY, 1, 8, 2, nullptr, 2},
    {SQL_ATTR_KEYSET_SIZE, 0, 8, BIG, nullptr, BIG},
    {SQL_ROWSET_SIZE, 1, 8, 20, nullptr, 20},
    {SQL_ATTR_SIMULATE_CURSOR, 2, 8, 1, nullptr, 1},
    {SQL_ATTR_RETRIEVE_DATA, 1, 8, 0, nullptr, 0},
    {SQL_ATTR_USE_BOOKMARKS, 0, 8, 1, nullptr, 1},
    {SQL_ATTR_ACCESS_MODE, 0, 4, 1, nullptr, 1},
    {SQL_ATTR_AUTOCOMMIT, 1, 4, 0, nullptr, 0},
    {SQL_ATTR_LOGIN_TIMEOUT, 0, 4, 15, nullptr, 15},
    {SQL_ATTR_TXN_ISOLATION, 26, 4, 8, nullptr, 8},
    {SQL_ATTR_TXN_ISOLATION, 26, 4, 3, "HY024", 26},
    {SQL_ATTR_TXN_ISOLATION, 26, 4, 0x100000001ULL, "HY024", 26},
    {SQL_ATTR_QUIET_MODE, 0, 8, BIG, nullptr, BIG},
    {SQL_ATTR_PACKET_SIZE, 0, 4, 100, nullptr, 100},
    {SQL_ATTR_CONNECTION_TIMEOUT, 0, 4, 20, nullptr, 20},
    {SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, 0, 4, 1, "HY092", 0},
    {120, 0, 8, 1, "HY092", 0},
    {SQL_ATTR_CONNECTION_DEAD, SQL_CD_TRUE, 4, 0, "HY092", SQL_CD_TRUE},
    {SQL_ATTR_AUTO_IPD, 1, 4, 0, nullptr, 0},
    {SQL_ATTR_AUTO_IPD, 1, 4, 1, "HY092", 1},
    {SQL_ATTR_METADATA_ID, 0, 4, 1, nullptr, 1},
    {SQL_ATTR_CURSOR_SCROLLABLE, 0, 8, 1, nullptr, 1},
    {SQL_ATTR_CURSOR_SENSITIVITY, 1, 8, 2, nullptr, 2},
    // A 32-bit attribute refuses a value it cannot hold.
    {SQL_ATTR_QUERY_TIMEOUT, 0, 8, 1ULL << 32, "HY024", 0},
    {SQL_ATTR_LOGIN_TIMEOUT, 0, 4, 1ULL << 32, "HY024", 0},
    // The largest 32-bit value reads back unchanged (no sign extension).
    {SQL_ATTR_CURSOR_SENSITIVITY, 1, 8, 0xFFFFFFFFULL, nullptr, 0xFFFFFFFFULL},
};

class ConnAttrRow : public AttrTest, public ::testing::WithParamInterface<ConnCase> {};

TEST_P(ConnAttrRow, InitialSetAndGet) {
    const ConnCase &c = GetParam();
    for (int wide = 0; wide <= 1; wide++) {
        Answer a = get_conn(c.id, wide);
        ASSERT_EQ(a.rc, SQL_SUCCESS) << "wide=" << wide;
        EXPECT_EQ(a.written, c.width) << "wide=" << wide;
        EXPECT_EQ(a.length, c.width);
        EXPECT_EQ(a.value, c.initial);
    }
    SQLRETURN rc = set_conn(c.id, c.value);
    if (c.set_state) {
        EXPECT_EQ(rc, SQL_ERROR);
        EXPECT_EQ(states(conn), std::vector<std::string>{c.set_state});
    } else {
        EXPECT_EQ(rc, SQL_SUCCESS);
        EXPECT_EQ(spk_error_count(conn), 0);
    }
    Answer a = get_conn(c.id);
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.value, c.after);
}

INSTANTIATE_TEST_SUITE_P(Table, ConnAttrRow, ::testing::ValuesIn(CONN_CASES));

// Accepted by the setter without any effect; refused or failed by the getter.
struct ConnNoValueCase {
    SQLINTEGER id;
    const char *get_state;
};

const ConnNoValueCase NO_VALUE_CASES[] = {
    {SQL_ATTR_TRACE, "HY000"},       {SQL_ATTR_TRACEFILE, "HY000"},  {SQL_ATTR_TRANSLATE_LIB, "HY000"},
    {SQL_ATTR_TRANSLATE_OPTION, "HY000"}, {SQL_ATTR_ANSI_APP, "HY000"}, {1041, "HY092"},
    {1042, "HY092"},                 {1061, "HY092"},                {1064, "HY092"},
    {30002, "HY092"},                {SQL_ATTR_ENLIST_IN_DTC, "HY092"}, {SQL_ATTR_ENLIST_IN_XA, "HY092"},
};

class ConnNoValue : public AttrTest, public ::testing::WithParamInterface<ConnNoValueCase> {};

TEST_P(ConnNoValue, SetAcceptedGetFails) {
    const ConnNoValueCase &c = GetParam();
    EXPECT_EQ(set_conn(c.id, 1), SQL_SUCCESS);
    EXPECT_EQ(spk_error_count(conn), 0);
    for (int wide = 0; wide <= 1; wide++) {
        Answer a = get_conn(c.id, wide);
        // Nothing is stored, so the call cannot report success.
        EXPECT_EQ(a.rc, SQL_ERROR);
        EXPECT_EQ(a.written, 0);
        EXPECT_EQ(a.length, -99);
        ASSERT_EQ(states(conn), std::vector<std::string>{c.get_state});
        if (std::string(c.get_state) == "HY000") {
            std::string fn = wide ? "SQLGetConnectAttrW" : "SQLGetConnectAttr";
            EXPECT_TRUE(ends_with(message(conn, 1), "unexpected internal error in " + fn + ", unknown type 0"))
                << message(conn, 1);
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Table, ConnNoValue, ::testing::ValuesIn(NO_VALUE_CASES));

TEST_F(AttrTest, UnknownConnectionAttributes) {
    for (SQLINTEGER id : {13, 14, 27, 110, 114, 999, 1051, 10010, -3}) {
        EXPECT_EQ(set_conn(id, 1), SQL_ERROR) << id;
        EXPECT_EQ(states(conn), std::vector<std::string>{"HY092"}) << id;
        Answer a = get_conn(id);
        EXPECT_EQ(a.rc, SQL_ERROR) << id;
        EXPECT_EQ(a.written, 0) << id;
        EXPECT_EQ(states(conn), std::vector<std::string>{"HY092"}) << id;
    }
    // The reset can be asked for, never read.
    Answer a = get_conn(SQL_ATTR_RESET_CONNECTION);
    EXPECT_EQ(a.rc, SQL_ERROR);
    EXPECT_EQ(states(conn), std::vector<std::string>{"HY092"});
}

TEST_F(AttrTest, ConnectionDeadFollowsTheConnection) {
    for (int wide = 0; wide <= 1; wide++) {
        conn->connected = 0;
        EXPECT_EQ(get_conn(SQL_ATTR_CONNECTION_DEAD, wide).value, (uint64_t)SQL_CD_TRUE);
        conn->connected = 1;
        Answer a = get_conn(SQL_ATTR_CONNECTION_DEAD, wide);
        EXPECT_EQ(a.rc, SQL_SUCCESS);
        EXPECT_EQ(a.written, 4);
        EXPECT_EQ(a.value, (uint64_t)SQL_CD_FALSE);
    }
    conn->connected = 0;
}

TEST_F(AttrTest, CurrentCatalogIsAnEmptyString) {
    EXPECT_EQ(spk_set_connect_attr(conn, "SQLSetConnectAttr", SQL_ATTR_CURRENT_CATALOG, (SQLPOINTER) "db", SQL_NTS),
              SQL_SUCCESS);
    for (int wide = 0; wide <= 1; wide++) {
        unsigned char buf[8];
        memset(buf, 0xA5, sizeof buf);
        SQLINTEGER len = -99;
        spk_clear_errors(conn);
        EXPECT_EQ(spk_get_connect_attr(conn, "f", wide, SQL_ATTR_CURRENT_CATALOG, buf, sizeof buf, &len), SQL_SUCCESS);
        EXPECT_EQ(len, 0);
        int terminator = wide ? 2 : 1;
        for (int i = 0; i < terminator; i++) EXPECT_EQ(buf[i], 0) << i;
        for (size_t i = terminator; i < sizeof buf; i++) EXPECT_EQ(buf[i], 0xA5) << i;

        // No room for the terminator: nothing written, truncation reported.
        memset(buf, 0xA5, sizeof buf);
        spk_clear_errors(conn);
        EXPECT_EQ(spk_get_connect_attr(conn, "f", wide, SQL_ATTR_CURRENT_CATALOG, buf, 0, &len), SQL_SUCCESS_WITH_INFO);
        EXPECT_EQ(buf[0], 0xA5);
        EXPECT_EQ(states(conn), std::vector<std::string>{"01004"});

        spk_clear_errors(conn);
        EXPECT_EQ(spk_get_connect_attr(conn, "f", wide, SQL_ATTR_CURRENT_CATALOG, buf, -1, &len), SQL_ERROR);
        EXPECT_EQ(states(conn), std::vector<std::string>{"HY090"});
    }
}

TEST_F(AttrTest, NullValuePointerStoresOnlyTheLength) {
    SQLINTEGER len = -99;
    EXPECT_EQ(spk_get_connect_attr(conn, "f", 0, SQL_ATTR_AUTOCOMMIT, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 4);
    EXPECT_EQ(spk_get_stmt_attr(stmt, "f", SQL_ATTR_MAX_ROWS, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 8);
    EXPECT_EQ(spk_get_connect_option(conn, SQL_AUTOCOMMIT, nullptr), SQL_SUCCESS);
    EXPECT_EQ(spk_get_stmt_option(stmt, SQL_MAX_ROWS, nullptr), SQL_SUCCESS);
}

TEST_F(AttrTest, AutocommitSurvivesUntilDisconnect) {
    EXPECT_EQ(get_conn(SQL_ATTR_AUTOCOMMIT).value, 1u);
    EXPECT_EQ(set_conn(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    EXPECT_EQ(get_conn(SQL_ATTR_AUTOCOMMIT).value, 0u);
    // Switching it back on while connected commits nothing and succeeds.
    conn->connected = 1;
    EXPECT_EQ(set_conn(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_ON), SQL_SUCCESS);
    EXPECT_EQ(get_conn(SQL_ATTR_AUTOCOMMIT).value, 1u);
    conn->connected = 0;
    EXPECT_EQ(set_conn(SQL_ATTR_AUTOCOMMIT, SQL_AUTOCOMMIT_OFF), SQL_SUCCESS);
    spk_conn_reset(conn);   // what SQLDisconnect runs
    EXPECT_EQ(get_conn(SQL_ATTR_AUTOCOMMIT).value, 1u);
}

TEST_F(AttrTest, ResetConnectionRestoresDefaultsOnly) {
    // attribute, value set before the reset, value after the reset
    const std::vector<std::pair<SQLINTEGER, std::pair<uint64_t, uint64_t>>> rows = {
        {SQL_ATTR_TXN_ISOLATION, {2, 26}},      {SQL_ATTR_CONCURRENCY, {2, 1}},
        {SQL_ATTR_CURSOR_SENSITIVITY, {2, 1}},  {SQL_ROWSET_SIZE, {9, 1}},
        {SQL_ATTR_RETRIEVE_DATA, {0, 1}},       {SQL_ATTR_SIMULATE_CURSOR, {1, 2}},
        {SQL_ATTR_ACCESS_MODE, {1, 0}},         {SQL_ATTR_ASYNC_ENABLE, {1, 0}},
        {SQL_ATTR_METADATA_ID, {1, 0}},         {SQL_ATTR_PACKET_SIZE, {4096, 0}},
        {SQL_ATTR_ROW_BIND_TYPE, {16, 0}},      {SQL_ATTR_CURSOR_SCROLLABLE, {1, 0}},
        {SQL_ATTR_CURSOR_TYPE, {3, 0}},         {SQL_ATTR_MAX_LENGTH, {99, 0}},
        {SQL_ATTR_MAX_ROWS, {99, 0}},           {SQL_ATTR_KEYSET_SIZE, {99, 0}},
        {SQL_ATTR_NOSCAN, {1, 0}},              {SQL_ATTR_QUERY_TIMEOUT, {99, 0}},
        {SQL_ATTR_USE_BOOKMARKS, {1, 0}},
        // kept
        {SQL_ATTR_AUTOCOMMIT, {0, 0}},          {SQL_ATTR_LOGIN_TIMEOUT, {7, 7}},
        {SQL_ATTR_CONNECTION_TIMEOUT, {8, 8}},  {SQL_ATTR_QUIET_MODE, {9, 9}},
        {SQL_ATTR_AUTO_IPD, {0, 0}},
    };
    for (auto &r : rows) ASSERT_EQ(set_conn(r.first, r.second.first), SQL_SUCCESS) << r.first;
    ASSERT_EQ(set_conn(SQL_ATTR_ENLIST_IN_DTC, 5), SQL_SUCCESS);
    conn->encrypt = 1;
    conn->trust_server_certificate = 1;
    conn->authentication = AUTH_LDAP;
    conn->transport_kind = 2;
    conn->certificate_file = spk_str_from_latin1("/tmp/ca.pem");
    conn->port = 10001;

    EXPECT_EQ(set_conn(SQL_ATTR_RESET_CONNECTION, SQL_RESET_CONNECTION_YES), SQL_SUCCESS);
    for (auto &r : rows) EXPECT_EQ(get_conn(r.first).value, r.second.second) << r.first;
    EXPECT_EQ(conn->attrs.attr_1207, 5u);
    EXPECT_EQ(conn->encrypt, 0);
    EXPECT_EQ(conn->trust_server_certificate, 0);
    EXPECT_EQ(conn->authentication, AUTH_NONE);
    EXPECT_EQ(conn->transport_kind, 0);
    EXPECT_EQ(conn->certificate_file, nullptr);
    EXPECT_EQ(conn->port, 10001);
}

TEST_F(AttrTest, StatementsTakeTheConnectionDefaultsAtAllocation) {
    ASSERT_EQ(set_conn(SQL_ATTR_QUERY_TIMEOUT, 30), SQL_SUCCESS);
    ASSERT_EQ(set_conn(SQL_ATTR_ROW_BIND_TYPE, 64), SQL_SUCCESS);
    ASSERT_EQ(set_conn(SQL_ATTR_CONCURRENCY, 2), SQL_SUCCESS);
    ASSERT_EQ(set_conn(SQL_ATTR_MAX_ROWS, 10), SQL_SUCCESS);
    SpkStatement *later = spk_stmt_new(conn);
    EXPECT_EQ(get_stmt(SQL_ATTR_QUERY_TIMEOUT, later).value, 30u);
    EXPECT_EQ(get_stmt(SQL_ATTR_ROW_BIND_TYPE, later).value, 64u);
    EXPECT_EQ(get_stmt(SQL_ATTR_CONCURRENCY, later).value, 2u);
    EXPECT_EQ(get_stmt(SQL_ATTR_MAX_ROWS, later).value, 10u);
    // The statement made before keeps what it had.
    EXPECT_EQ(get_stmt(SQL_ATTR_QUERY_TIMEOUT).value, 0u);
    EXPECT_EQ(get_stmt(SQL_ATTR_ROW_BIND_TYPE).value, 0u);
    EXPECT_EQ(get_stmt(SQL_ATTR_MAX_ROWS).value, 0u);
    // Changing the connection later does not reach existing statements.
    ASSERT_EQ(set_conn(SQL_ATTR_QUERY_TIMEOUT, 5), SQL_SUCCESS);
    EXPECT_EQ(get_stmt(SQL_ATTR_QUERY_TIMEOUT, later).value, 30u);
}

TEST_F(AttrTest, StatementAutoIpdFollowsTheConnection) {
    EXPECT_EQ(get_stmt(SQL_ATTR_ENABLE_AUTO_IPD).value, 1u);
    ASSERT_EQ(set_conn(SQL_ATTR_AUTO_IPD, 0), SQL_SUCCESS);
    SpkStatement *later = spk_stmt_new(conn);
    EXPECT_EQ(get_stmt(SQL_ATTR_ENABLE_AUTO_IPD, later).value, 0u);
}

TEST_F(AttrTest, StatementAttributesFromConnection) {
    SpkConnAttrs c;
    spk_conn_attrs_init(&c);
    c.query_timeout = 1;
    c.max_rows = BIG;
    c.noscan = 1;
    c.max_length = 3;
    c.async_enable = 1;
    c.cursor_type = 3;
    c.concurrency = 2;
    c.keyset_size = 4;
    c.rowset_size = 5;
    c.simulate_cursor = 1;
    c.retrieve_data = 0;
    c.use_bookmarks = 1;
    c.cursor_scrollable = 1;
    c.cursor_sensitivity = 2;
    c.auto_ipd = 0;
    c.metadata_id = 1;   // not a statement default
    SpkStmtAttrs s;
    memset(&s, 0x5A, sizeof s);
    spk_stmt_attrs_from_conn(&s, &c);
    EXPECT_EQ(s.query_timeout, 1u);
    EXPECT_EQ(s.max_rows, BIG);
    EXPECT_EQ(s.noscan, 1u);
    EXPECT_EQ(s.max_length, 3u);
    EXPECT_EQ(s.async_enable, 1u);
    EXPECT_EQ(s.cursor_type, 3u);
    EXPECT_EQ(s.concurrency, 2u);
    EXPECT_EQ(s.keyset_size, 4u);
    EXPECT_EQ(s.rowset_size, 5u);
    EXPECT_EQ(s.simulate_cursor, 1u);
    EXPECT_EQ(s.retrieve_data, 0u);
    EXPECT_EQ(s.use_bookmarks, 1u);
    EXPECT_EQ(s.cursor_scrollable, 1u);
    EXPECT_EQ(s.cursor_sensitivity, 2u);
    EXPECT_EQ(s.enable_auto_ipd, 0u);
    EXPECT_EQ(s.metadata_id, 0u);
    EXPECT_EQ(s.fetch_bookmark_ptr, nullptr);
}

TEST_F(AttrTest, BindTypeReachesNewDescriptors) {
    ASSERT_EQ(set_conn(SQL_ATTR_ROW_BIND_TYPE, 24), SQL_SUCCESS);
    SpkDescriptor *d = spk_desc_new(conn, nullptr, 1);
    EXPECT_EQ(d->bind_type, 24u);
}

// ---------------------------------------------------------------------------
// ODBC 2 connection options

struct SetOptionCase {
    SQLUSMALLINT option;
    uint64_t value;
    SQLRETURN rc;
    const char *state;
    SQLINTEGER attr;     // read back through SQLGetConnectAttr; 0: nothing to read
    uint64_t after;
};

const SetOptionCase SET_OPTION_CASES[] = {
    {SQL_QUERY_TIMEOUT, 5, SQL_SUCCESS, nullptr, SQL_ATTR_QUERY_TIMEOUT, 5},
    {SQL_MAX_ROWS, BIG, SQL_SUCCESS, nullptr, SQL_ATTR_MAX_ROWS, BIG},
    {SQL_BIND_TYPE, 32, SQL_SUCCESS, nullptr, SQL_ATTR_ROW_BIND_TYPE, 32},
    {SQL_ROWSET_SIZE, 4, SQL_SUCCESS, nullptr, SQL_ROWSET_SIZE, 4},
    {SQL_ACCESS_MODE, 1, SQL_SUCCESS, nullptr, SQL_ATTR_ACCESS_MODE, 1},
    {SQL_AUTOCOMMIT, 0, SQL_SUCCESS, nullptr, SQL_ATTR_AUTOCOMMIT, 0},
    {SQL_LOGIN_TIMEOUT, 9, SQL_SUCCESS, nullptr, SQL_ATTR_LOGIN_TIMEOUT, 9},
    {SQL_QUIET_MODE, BIG, SQL_SUCCESS, nullptr, SQL_ATTR_QUIET_MODE, BIG},
    {SQL_TXN_ISOLATION, 2, SQL_SUCCESS, nullptr, SQL_ATTR_TXN_ISOLATION, 2},
    {SQL_TXN_ISOLATION, 3, SQL_ERROR, "S1009", SQL_ATTR_TXN_ISOLATION, 26},
    {SQL_PACKET_SIZE, 512, SQL_SUCCESS, nullptr, SQL_ATTR_PACKET_SIZE, 512},
    {SQL_PACKET_SIZE, 100, SQL_SUCCESS_WITH_INFO, "01S02", SQL_ATTR_PACKET_SIZE, 0},
    {SQL_CURRENT_QUALIFIER, 0, SQL_SUCCESS, nullptr, 0, 0},
    {1041, 0, SQL_SUCCESS, nullptr, 0, 0},
    {1042, 0, SQL_SUCCESS, nullptr, 0, 0},
    {1051, 0, SQL_SUCCESS, nullptr, 0, 0},
    {1061, 0, SQL_SUCCESS, nullptr, 0, 0},
    {1064, 0, SQL_SUCCESS, nullptr, 0, 0},
    {SQL_OPT_TRACE, 1, SQL_ERROR, "S1092", 0, 0},
    {SQL_ATTR_CONNECTION_TIMEOUT, 5, SQL_ERROR, "S1092", SQL_ATTR_CONNECTION_TIMEOUT, 0},
    {SQL_ATTR_METADATA_ID, 1, SQL_ERROR, "S1092", SQL_ATTR_METADATA_ID, 0},
    {SQL_ATTR_AUTO_IPD, 0, SQL_ERROR, "S1092", SQL_ATTR_AUTO_IPD, 1},
    {30002, 0, SQL_ERROR, "S1092", 0, 0},
    {999, 0, SQL_ERROR, "S1092", 0, 0},
    {SQL_QUERY_TIMEOUT, 1ULL << 32, SQL_ERROR, "S1009", SQL_ATTR_QUERY_TIMEOUT, 0},
};

class SetConnectOption : public AttrTest, public ::testing::WithParamInterface<SetOptionCase> {};

TEST_P(SetConnectOption, Row) {
    const SetOptionCase &c = GetParam();
    spk_clear_errors(conn);
    EXPECT_EQ(spk_set_connect_option(conn, c.option, c.value), c.rc);
    if (c.state) {
        EXPECT_EQ(states(conn), std::vector<std::string>{c.state});
    } else {
        EXPECT_EQ(spk_error_count(conn), 0);
    }
    if (c.attr) {
        EXPECT_EQ(get_conn(c.attr).value, c.after);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SetConnectOption, ::testing::ValuesIn(SET_OPTION_CASES));

TEST_F(AttrTest, PacketSizeOptionTexts) {
    EXPECT_EQ(spk_set_connect_option(conn, SQL_PACKET_SIZE, 100), SQL_SUCCESS_WITH_INFO);
    EXPECT_TRUE(ends_with(message(conn, 1), "Option value changed")) << message(conn, 1);
    spk_clear_errors(conn);
    conn->connected = 1;
    EXPECT_EQ(spk_set_connect_option(conn, SQL_PACKET_SIZE, 4096), SQL_ERROR);
    EXPECT_EQ(states(conn), std::vector<std::string>{"S1011"});
    conn->connected = 0;
    EXPECT_EQ(get_conn(SQL_ATTR_PACKET_SIZE).value, 0u);
    // The ODBC 3 attribute has no minimum.
    EXPECT_EQ(set_conn(SQL_ATTR_PACKET_SIZE, 100), SQL_SUCCESS);
    EXPECT_EQ(get_conn(SQL_ATTR_PACKET_SIZE).value, 100u);
}

struct GetOptionCase {
    SQLUSMALLINT option;
    int width;          // 0: refused with S1092
    uint64_t value;
};

const GetOptionCase GET_OPTION_CASES[] = {
    {SQL_QUERY_TIMEOUT, 4, 0}, {SQL_MAX_ROWS, 8, 0},       {SQL_NOSCAN, 4, 0},         {SQL_MAX_LENGTH, 8, 0},
    {SQL_ASYNC_ENABLE, 4, 0},  {SQL_BIND_TYPE, 4, 0},      {SQL_CURSOR_TYPE, 4, 0},    {SQL_CONCURRENCY, 4, 1},
    {SQL_KEYSET_SIZE, 8, 0},   {SQL_ROWSET_SIZE, 8, 1},    {SQL_SIMULATE_CURSOR, 4, 2}, {SQL_RETRIEVE_DATA, 4, 1},
    {SQL_USE_BOOKMARKS, 4, 0}, {SQL_ACCESS_MODE, 4, 0},    {SQL_AUTOCOMMIT, 4, 1},     {SQL_LOGIN_TIMEOUT, 4, 0},
    {SQL_TXN_ISOLATION, 4, 26}, {SQL_QUIET_MODE, 8, 0},    {SQL_PACKET_SIZE, 4, 0},    {SQL_OPT_TRACE, 0, 0},
    {SQL_ATTR_CONNECTION_TIMEOUT, 0, 0}, {SQL_ATTR_ENLIST_IN_DTC, 0, 0}, {SQL_ATTR_AUTO_IPD, 0, 0},
    {SQL_ATTR_CONNECTION_DEAD, 0, 0}, {13, 0, 0},         {999, 0, 0},
};

class GetConnectOption : public AttrTest, public ::testing::WithParamInterface<GetOptionCase> {};

TEST_P(GetConnectOption, Row) {
    const GetOptionCase &c = GetParam();
    Answer a = probe([&](void *buf, SQLINTEGER *) {
        spk_clear_errors(conn);
        return spk_get_connect_option(conn, c.option, buf);
    });
    if (c.width == 0) {
        EXPECT_EQ(a.rc, SQL_ERROR);
        EXPECT_EQ(a.written, 0);
        EXPECT_EQ(states(conn), std::vector<std::string>{"S1092"});
        return;
    }
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.written, c.width);
    EXPECT_EQ(a.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, GetConnectOption, ::testing::ValuesIn(GET_OPTION_CASES));

TEST_F(AttrTest, ConnectOptionCatalogIsOneNulByte) {
    unsigned char buf[4];
    memset(buf, 0xA5, sizeof buf);
    EXPECT_EQ(spk_get_connect_option(conn, SQL_CURRENT_QUALIFIER, buf), SQL_SUCCESS);
    EXPECT_EQ(buf[0], 0);
    EXPECT_EQ(buf[1], 0xA5);
}

// ---------------------------------------------------------------------------
// Statement attributes and where they live

typedef uint64_t (*Peek)(const SpkStatement *);

struct StmtCase {
    SQLINTEGER id;
    uint64_t initial;    // NO_CHECK: not checked here
    uint64_t value;
    uint64_t after;
    Peek peek;           // where the value must land
    int width;
};

const uint64_t NO_CHECK = ~0ULL;
int target1, target2;
const uint64_t P1 = (uintptr_t)&target1;
const uint64_t P2 = (uintptr_t)&target2;

const StmtCase STMT_CASES[] = {
    {SQL_ATTR_QUERY_TIMEOUT, 0, 45, 45, [](const SpkStatement *s) -> uint64_t { return s->attrs.query_timeout; }, 8},
    {SQL_ATTR_MAX_ROWS, 0, BIG, BIG, [](const SpkStatement *s) -> uint64_t { return s->attrs.max_rows; }, 8},
    {SQL_ATTR_NOSCAN, 0, 1, 1, [](const SpkStatement *s) -> uint64_t { return s->attrs.noscan; }, 8},
    {SQL_ATTR_MAX_LENGTH, 0, 4096, 4096, [](const SpkStatement *s) -> uint64_t { return s->attrs.max_length; }, 8},
    {SQL_ATTR_ASYNC_ENABLE, 0, 1, 1, [](const SpkStatement *s) -> uint64_t { return s->attrs.async_enable; }, 8},
    {SQL_ATTR_ROW_BIND_TYPE, 0, 48, 48, [](const SpkStatement *s) -> uint64_t { return s->ard->bind_type; }, 8},
    {SQL_ATTR_KEYSET_SIZE, 0, BIG, BIG, [](const SpkStatement *s) -> uint64_t { return s->attrs.keyset_size; }, 8},
    {SQL_ROWSET_SIZE, 1, 20, 20, [](const SpkStatement *s) -> uint64_t { return s->attrs.rowset_size; }, 8},
    {SQL_ROWSET_SIZE, 1, 0, 1, [](const SpkStatement *s) -> uint64_t { return s->attrs.rowset_size; }, 8},
    {SQL_ATTR_SIMULATE_CURSOR, 2, 1, 1, [](const SpkStatement *s) -> uint64_t { return s->attrs.simulate_cursor; }, 8},
    {SQL_ATTR_RETRIEVE_DATA, 1, 0, 0, [](const SpkStatement *s) -> uint64_t { return s->attrs.retrieve_data; }, 8},
    {SQL_ATTR_USE_BOOKMARKS, 0, 1, 1, [](const SpkStatement *s) -> uint64_t { return s->attrs.use_bookmarks; }, 8},
    {SQL_ATTR_ROW_NUMBER, 0, 5, 0, [](const SpkStatement *s) -> uint64_t { return (uint64_t)s->row_number; }, 8},
    {SQL_ATTR_ENABLE_AUTO_IPD, NO_CHECK, 0, 0,
     [](const SpkStatement *s) -> uint64_t { return s->attrs.enable_auto_ipd; }, 4},
    {SQL_ATTR_FETCH_BOOKMARK_PTR, 0, P1, P1,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->attrs.fetch_bookmark_ptr; }, 8},
    {SQL_ATTR_PARAM_BIND_OFFSET_PTR, 0, P1, P1,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->apd->bind_offset_ptr; }, 8},
    {SQL_ATTR_PARAM_BIND_TYPE, 0, 24, 24, [](const SpkStatement *s) -> uint64_t { return s->apd->bind_type; }, 8},
    {SQL_ATTR_PARAM_OPERATION_PTR, 0, P1, P1,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->apd->array_status_ptr; }, 8},
    {SQL_ATTR_PARAM_STATUS_PTR, 0, P2, P2,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->ipd->array_status_ptr; }, 8},
    {SQL_ATTR_PARAMS_PROCESSED_PTR, 0, P1, P1,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->ipd->rows_processed_ptr; }, 8},
    {SQL_ATTR_PARAMSET_SIZE, 1, 5, 5, [](const SpkStatement *s) -> uint64_t { return s->apd->array_size; }, 8},
    {SQL_ATTR_ROW_BIND_OFFSET_PTR, 0, P2, P2,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->ard->bind_offset_ptr; }, 8},
    {SQL_ATTR_ROW_OPERATION_PTR, 0, P1, P1,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->ard->array_status_ptr; }, 8},
    {SQL_ATTR_ROW_STATUS_PTR, 0, P2, P2,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->ird->array_status_ptr; }, 8},
    {SQL_ATTR_ROWS_FETCHED_PTR, 0, P1, P1,
     [](const SpkStatement *s) -> uint64_t { return (uintptr_t)s->ird->rows_processed_ptr; }, 8},
    {SQL_ATTR_ROW_ARRAY_SIZE, 1, 50, 50, [](const SpkStatement *s) -> uint64_t { return s->ard->array_size; }, 8},
    {SQL_ATTR_ROW_ARRAY_SIZE, 1, 0, 1, [](const SpkStatement *s) -> uint64_t { return s->ard->array_size; }, 8},
    {SQL_ATTR_METADATA_ID, 0, 1, 1, [](const SpkStatement *s) -> uint64_t { return s->attrs.metadata_id; }, 8},
    {SQL_ATTR_CURSOR_SCROLLABLE, 0, 0xFFFFFFFFULL, 0xFFFFFFFFULL,
     [](const SpkStatement *s) -> uint64_t { return s->attrs.cursor_scrollable; }, 8},
};

class StmtAttrRow : public AttrTest, public ::testing::WithParamInterface<StmtCase> {};

TEST_P(StmtAttrRow, LandsWhereItBelongs) {
    const StmtCase &c = GetParam();
    Answer a = get_stmt(c.id);
    ASSERT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.written, c.width);
    EXPECT_EQ(a.length, c.width);
    if (c.initial != NO_CHECK) {
        EXPECT_EQ(a.value, c.initial);
    }
    EXPECT_EQ(set_stmt(c.id, c.value), SQL_SUCCESS);
    EXPECT_EQ(spk_error_count(stmt), 0);
    EXPECT_EQ(c.peek(stmt), c.after);
    EXPECT_EQ(get_stmt(c.id).value, c.after);
}

INSTANTIATE_TEST_SUITE_P(Table, StmtAttrRow, ::testing::ValuesIn(STMT_CASES));

TEST_F(AttrTest, DescriptorAttributesReportTheCurrentDescriptors) {
    EXPECT_EQ(get_stmt(SQL_ATTR_APP_ROW_DESC).value, (uintptr_t)stmt->implicit_ard);
    EXPECT_EQ(get_stmt(SQL_ATTR_APP_PARAM_DESC).value, (uintptr_t)stmt->implicit_apd);
    EXPECT_EQ(get_stmt(SQL_ATTR_IMP_ROW_DESC).value, (uintptr_t)stmt->implicit_ird);
    EXPECT_EQ(get_stmt(SQL_ATTR_IMP_PARAM_DESC).value, (uintptr_t)stmt->implicit_ipd);
    for (SQLINTEGER id : {SQL_ATTR_IMP_ROW_DESC, SQL_ATTR_IMP_PARAM_DESC}) {
        EXPECT_EQ(set_stmt_ptr(id, stmt->implicit_ird), SQL_ERROR);
        EXPECT_EQ(states(stmt), std::vector<std::string>{"HY017"});
    }
    EXPECT_EQ(stmt->ird, stmt->implicit_ird);
    EXPECT_EQ(stmt->ipd, stmt->implicit_ipd);
}

TEST_F(AttrTest, UnknownStatementAttributes) {
    for (SQLINTEGER id : {13, 28, 101, 10015, 10022, -3}) {
        EXPECT_EQ(set_stmt(id, 1), SQL_ERROR) << id;
        EXPECT_EQ(states(stmt), std::vector<std::string>{"HY092"}) << id;
    }
    for (SQLINTEGER id : {13, 28, 101, 10015, -3}) {
        Answer a = get_stmt(id);
        EXPECT_EQ(a.rc, SQL_ERROR) << id;
        EXPECT_EQ(a.written, 0) << id;
        ASSERT_EQ(states(stmt), (std::vector<std::string>{"HY092", "HY000"})) << id;
        EXPECT_TRUE(ends_with(message(stmt, 2), "unexpected internal error in SQLGetStmtAttr, unknown type 0"))
            << message(stmt, 2);
    }
    // Attribute 10022 cannot be set but reads as 0.
    Answer a = get_stmt(10022);
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.written, 8);
    EXPECT_EQ(a.value, 0u);
}

TEST_F(AttrTest, StatementValuesThatDoNotFitAreRefused) {
    for (SQLINTEGER id : {SQL_ATTR_QUERY_TIMEOUT, SQL_ATTR_ROW_BIND_TYPE, SQL_ATTR_PARAM_BIND_TYPE, SQL_ATTR_CURSOR_TYPE,
                          SQL_ATTR_CONCURRENCY, SQL_ATTR_CURSOR_SENSITIVITY, SQL_ATTR_METADATA_ID}) {
        uint64_t before = get_stmt(id).value;
        EXPECT_EQ(set_stmt(id, 1ULL << 32), SQL_ERROR) << id;
        EXPECT_EQ(states(stmt), std::vector<std::string>{"HY024"}) << id;
        EXPECT_EQ(get_stmt(id).value, before) << id;
    }
    EXPECT_EQ(get_stmt(SQL_ATTR_CURSOR_SENSITIVITY).value, 1u);
    EXPECT_EQ(get_stmt(SQL_ATTR_CURSOR_TYPE).value, 0u);
}

// ---------------------------------------------------------------------------
// Cursor attributes: the one cursor is forward-only, read-only; other types
// and concurrencies are changed with 01S02, scrollable or sensitive ones
// refused with HYC00.

struct Step {
    SQLINTEGER id;
    uint64_t value;
    bool odbc2;
};

struct CursorCase {
    const char *name;
    Step step;
    SQLRETURN rc;
    const char *state;
    uint64_t type, concurrency, scrollable, sensitivity;
};

const CursorCase CURSOR_CASES[] = {
    {"forward_only", {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_FORWARD_ONLY, false}, SQL_SUCCESS, "", 0, 1, 0, 1},
    {"static", {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_STATIC, false}, SQL_SUCCESS_WITH_INFO, "01S02", 0, 1, 0, 1},
    {"keyset", {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_KEYSET_DRIVEN, false}, SQL_SUCCESS_WITH_INFO, "01S02", 0, 1, 0, 1},
    {"dynamic", {SQL_ATTR_CURSOR_TYPE, SQL_CURSOR_DYNAMIC, false}, SQL_SUCCESS_WITH_INFO, "01S02", 0, 1, 0, 1},
    {"odbc2_static", {SQL_CURSOR_TYPE, SQL_CURSOR_STATIC, true}, SQL_SUCCESS_WITH_INFO, "01S02", 0, 1, 0, 1},
    {"read_only", {SQL_ATTR_CONCURRENCY, SQL_CONCUR_READ_ONLY, false}, SQL_SUCCESS, "", 0, 1, 0, 1},
    {"lock", {SQL_ATTR_CONCURRENCY, SQL_CONCUR_LOCK, false}, SQL_SUCCESS_WITH_INFO, "01S02", 0, 1, 0, 1},
    {"scrollable", {SQL_ATTR_CURSOR_SCROLLABLE, SQL_SCROLLABLE, false}, SQL_ERROR, "HYC00", 0, 1, 0, 1},
    {"nonscrollable", {SQL_ATTR_CURSOR_SCROLLABLE, SQL_NONSCROLLABLE, false}, SQL_SUCCESS, "", 0, 1, 0, 1},
    {"sensitive", {SQL_ATTR_CURSOR_SENSITIVITY, SQL_SENSITIVE, false}, SQL_ERROR, "HYC00", 0, 1, 0, 1},
    {"unspecified", {SQL_ATTR_CURSOR_SENSITIVITY, SQL_UNSPECIFIED, false}, SQL_SUCCESS, "", 0, 1, 0, 0},
};

class CursorRules : public AttrTest, public ::testing::WithParamInterface<CursorCase> {};

TEST_P(CursorRules, Sequence) {
    const CursorCase &c = GetParam();
    const Step &s = c.step;
    spk_clear_errors(stmt);
    SQLRETURN rc = s.odbc2 ? spk_set_stmt_option(stmt, (SQLUSMALLINT)s.id, s.value) : set_stmt(s.id, s.value);
    EXPECT_EQ(rc, c.rc);
    std::vector<std::string> want;
    if (*c.state) want.push_back(c.state);
    EXPECT_EQ(states(stmt), want);
    EXPECT_EQ(get_stmt(SQL_ATTR_CURSOR_TYPE).value, c.type);
    EXPECT_EQ(get_stmt(SQL_ATTR_CONCURRENCY).value, c.concurrency);
    EXPECT_EQ(get_stmt(SQL_ATTR_CURSOR_SCROLLABLE).value, c.scrollable);
    EXPECT_EQ(get_stmt(SQL_ATTR_CURSOR_SENSITIVITY).value, c.sensitivity);
}

INSTANTIATE_TEST_SUITE_P(Table, CursorRules, ::testing::ValuesIn(CURSOR_CASES),
                         [](const ::testing::TestParamInfo<CursorCase> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Re-prepare rule

struct ReprepareCase {
    const char *name;
    SQLINTEGER id;
    uint64_t value;
    bool prepared;
    bool odbc2;
    int expected;
};

const ReprepareCase REPREPARE_CASES[] = {
    {"array_size_changed", SQL_ATTR_ROW_ARRAY_SIZE, 5, true, false, 1},
    {"array_size_same", SQL_ATTR_ROW_ARRAY_SIZE, 1, true, false, 0},
    {"array_size_zero_is_one", SQL_ATTR_ROW_ARRAY_SIZE, 0, true, false, 0},
    {"array_size_unprepared", SQL_ATTR_ROW_ARRAY_SIZE, 5, false, false, 0},
    {"rowset_size_changed", SQL_ROWSET_SIZE, 5, true, false, 1},
    {"rowset_size_same", SQL_ROWSET_SIZE, 1, true, false, 0},
    {"rowset_size_odbc2", SQL_ROWSET_SIZE, 5, true, true, 0},
    {"other_attribute", SQL_ATTR_MAX_ROWS, 5, true, false, 0},
};

class Reprepare : public AttrTest, public ::testing::WithParamInterface<ReprepareCase> {};

TEST_P(Reprepare, Flag) {
    const ReprepareCase &c = GetParam();
    stmt->state = c.prepared ? SPK_STMT_PREPARED : SPK_STMT_IDLE;
    SQLRETURN rc = c.odbc2 ? spk_set_stmt_option(stmt, (SQLUSMALLINT)c.id, c.value) : set_stmt(c.id, c.value);
    EXPECT_EQ(rc, SQL_SUCCESS);
    EXPECT_EQ(stmt->re_prepare, c.expected);
}

INSTANTIATE_TEST_SUITE_P(Table, Reprepare, ::testing::ValuesIn(REPREPARE_CASES),
                         [](const ::testing::TestParamInfo<ReprepareCase> &i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// Descriptor association

TEST_F(AttrTest, ExplicitRowDescriptorComesAndGoes) {
    SpkDescriptor *d = spk_desc_new(conn, nullptr, 1);
    ASSERT_EQ(set_stmt_ptr(SQL_ATTR_APP_ROW_DESC, d), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard, d);
    EXPECT_EQ(d->owner, stmt);
    EXPECT_EQ(get_stmt(SQL_ATTR_APP_ROW_DESC).value, (uintptr_t)d);
    // Header attributes now reach the explicit descriptor.
    ASSERT_EQ(set_stmt(SQL_ATTR_ROW_ARRAY_SIZE, 7), SQL_SUCCESS);
    ASSERT_EQ(set_stmt(SQL_ATTR_ROW_BIND_TYPE, 40), SQL_SUCCESS);
    EXPECT_EQ(d->array_size, 7u);
    EXPECT_EQ(d->bind_type, 40u);
    EXPECT_EQ(stmt->implicit_ard->array_size, 1u);

    ASSERT_EQ(set_stmt_ptr(SQL_ATTR_APP_ROW_DESC, nullptr), SQL_SUCCESS);
    EXPECT_EQ(stmt->ard, stmt->implicit_ard);
    EXPECT_EQ(d->owner, nullptr);
    EXPECT_EQ(get_stmt(SQL_ATTR_ROW_ARRAY_SIZE).value, 1u);
    EXPECT_EQ(d->array_size, 7u);
}

TEST_F(AttrTest, ExplicitParamDescriptorAndOwnImplicitOne) {
    SpkDescriptor *d = spk_desc_new(conn, nullptr, 1);
    ASSERT_EQ(set_stmt_ptr(SQL_ATTR_APP_PARAM_DESC, d), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd, d);
    ASSERT_EQ(set_stmt(SQL_ATTR_PARAMSET_SIZE, 3), SQL_SUCCESS);
    EXPECT_EQ(d->array_size, 3u);
    // Naming the statement's own implicit APD also returns to it.
    ASSERT_EQ(set_stmt_ptr(SQL_ATTR_APP_PARAM_DESC, stmt->implicit_apd), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd, stmt->implicit_apd);
    EXPECT_EQ(stmt->implicit_apd->owner, stmt);
    EXPECT_EQ(d->owner, nullptr);
}

struct AssocRefusal {
    const char *name;
    SQLINTEGER attr;
    const char *state;
};

class AssocRefused : public AttrTest, public ::testing::WithParamInterface<AssocRefusal> {
  protected:
    // The descriptor each case offers, built in the fixture's tree.
    void *offered(const std::string &name) {
        if (name == "implicit_of_other_statement") return spk_stmt_new(conn)->implicit_ard;
        if (name == "own_implicit_apd_as_ard") return stmt->implicit_apd;
        if (name == "own_implicit_ard_as_apd") return stmt->implicit_ard;
        if (name == "own_ird") return stmt->implicit_ird;
        if (name == "explicit_of_other_connection") return spk_desc_new(spk_conn_new(env, 3), nullptr, 1);
        if (name == "not_a_descriptor") return stmt;
        if (name == "used_by_other_statement") {
            SpkStatement *other = spk_stmt_new(conn);
            SpkDescriptor *d = spk_desc_new(conn, nullptr, 1);
            EXPECT_EQ(set_stmt_ptr(SQL_ATTR_APP_ROW_DESC, d, other), SQL_SUCCESS);
            return d;
        }
        if (name == "used_in_other_role") {
            SpkDescriptor *d = spk_desc_new(conn, nullptr, 1);
            EXPECT_EQ(set_stmt_ptr(SQL_ATTR_APP_PARAM_DESC, d), SQL_SUCCESS);
            return d;
        }
        return nullptr;
    }
};

TEST_P(AssocRefused, StatementKeepsItsDescriptors) {
    const AssocRefusal &c = GetParam();
    void *d = offered(c.name);
    SpkDescriptor *ard = stmt->ard, *apd = stmt->apd;
    EXPECT_EQ(set_stmt_ptr(c.attr, d), SQL_ERROR);
    EXPECT_EQ(states(stmt), std::vector<std::string>{c.state});
    EXPECT_EQ(stmt->ard, ard);
    EXPECT_EQ(stmt->apd, apd);
}

INSTANTIATE_TEST_SUITE_P(
    Table, AssocRefused,
    ::testing::Values(AssocRefusal{"implicit_of_other_statement", SQL_ATTR_APP_ROW_DESC, "HY017"},
                      AssocRefusal{"own_implicit_apd_as_ard", SQL_ATTR_APP_ROW_DESC, "HY017"},
                      AssocRefusal{"own_implicit_ard_as_apd", SQL_ATTR_APP_PARAM_DESC, "HY017"},
                      AssocRefusal{"own_ird", SQL_ATTR_APP_ROW_DESC, "HY017"},
                      AssocRefusal{"explicit_of_other_connection", SQL_ATTR_APP_ROW_DESC, "HY024"},
                      AssocRefusal{"not_a_descriptor", SQL_ATTR_APP_PARAM_DESC, "HY024"},
                      AssocRefusal{"used_by_other_statement", SQL_ATTR_APP_ROW_DESC, "HY024"},
                      AssocRefusal{"used_in_other_role", SQL_ATTR_APP_ROW_DESC, "HY024"}),
    [](const ::testing::TestParamInfo<AssocRefusal> &i) { return std::string(i.param.name); });

TEST_F(AttrTest, FreeingAnAssociatedDescriptorOrStatementLeavesNothingDangling) {
    SpkDescriptor *d = spk_desc_new(conn, nullptr, 1);
    ASSERT_EQ(set_stmt_ptr(SQL_ATTR_APP_ROW_DESC, d), SQL_SUCCESS);
    spk_desc_free(d, true);
    EXPECT_EQ(stmt->ard, stmt->implicit_ard);
    EXPECT_EQ(get_stmt(SQL_ATTR_ROW_ARRAY_SIZE).value, 1u);

    SpkDescriptor *e = spk_desc_new(conn, nullptr, 1);
    SpkStatement *other = spk_stmt_new(conn);
    ASSERT_EQ(set_stmt_ptr(SQL_ATTR_APP_PARAM_DESC, e, other), SQL_SUCCESS);
    spk_stmt_free(other, true);
    EXPECT_EQ(e->owner, nullptr);
    // Free again, so another statement may take it.
    EXPECT_EQ(set_stmt_ptr(SQL_ATTR_APP_PARAM_DESC, e), SQL_SUCCESS);
    EXPECT_EQ(stmt->apd, e);
}

// ---------------------------------------------------------------------------
// ODBC 2 statement options

struct StmtOptionSet {
    SQLUSMALLINT option;
    uint64_t value;
    SQLRETURN rc;
    const char *state;
    Peek peek;
    uint64_t after;
};

const StmtOptionSet STMT_OPTION_SETS[] = {
    {SQL_QUERY_TIMEOUT, 9, SQL_SUCCESS, nullptr, [](const SpkStatement *s) -> uint64_t { return s->attrs.query_timeout; },
     9},
    {SQL_BIND_TYPE, 32, SQL_SUCCESS, nullptr, [](const SpkStatement *s) -> uint64_t { return s->ard->bind_type; }, 32},
    {SQL_ROWSET_SIZE, 0, SQL_SUCCESS, nullptr, [](const SpkStatement *s) -> uint64_t { return s->attrs.rowset_size; },
     1},
    {SQL_MAX_ROWS, BIG, SQL_SUCCESS, nullptr, [](const SpkStatement *s) -> uint64_t { return s->attrs.max_rows; }, BIG},
    {SQL_USE_BOOKMARKS, 1, SQL_SUCCESS, nullptr,
     [](const SpkStatement *s) -> uint64_t { return s->attrs.use_bookmarks; }, 1},
    {SQL_GET_BOOKMARK, 1, SQL_SUCCESS, nullptr, nullptr, 0},
    {SQL_ROW_NUMBER, 3, SQL_SUCCESS, nullptr, [](const SpkStatement *s) -> uint64_t { return (uint64_t)s->row_number; },
     0},
    {15, 1, SQL_ERROR, "S1092", [](const SpkStatement *s) -> uint64_t { return s->attrs.enable_auto_ipd; },
     NO_CHECK},
    {SQL_ATTR_ROW_ARRAY_SIZE, 4, SQL_ERROR, "S1092", [](const SpkStatement *s) -> uint64_t { return s->ard->array_size; },
     1},
    {SQL_QUERY_TIMEOUT, 1ULL << 32, SQL_ERROR, "S1009",
     [](const SpkStatement *s) -> uint64_t { return s->attrs.query_timeout; }, 0},
};

class SetStmtOption : public AttrTest, public ::testing::WithParamInterface<StmtOptionSet> {};

TEST_P(SetStmtOption, Row) {
    const StmtOptionSet &c = GetParam();
    spk_clear_errors(stmt);
    EXPECT_EQ(spk_set_stmt_option(stmt, c.option, c.value), c.rc);
    if (c.state) {
        EXPECT_EQ(states(stmt), std::vector<std::string>{c.state});
    } else {
        EXPECT_EQ(spk_error_count(stmt), 0);
    }
    if (c.peek && c.after != NO_CHECK) {
        EXPECT_EQ(c.peek(stmt), c.after);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, SetStmtOption, ::testing::ValuesIn(STMT_OPTION_SETS));

struct StmtOptionGet {
    SQLUSMALLINT option;
    int width;              // 0: refused
    const char *state;
    uint64_t value;
};

const StmtOptionGet STMT_OPTION_GETS[] = {
    {SQL_QUERY_TIMEOUT, 4, nullptr, 0},  {SQL_MAX_ROWS, 8, nullptr, 0},      {SQL_NOSCAN, 4, nullptr, 0},
    {SQL_MAX_LENGTH, 8, nullptr, 0},     {SQL_ASYNC_ENABLE, 4, nullptr, 0},  {SQL_BIND_TYPE, 4, nullptr, 0},
    {SQL_CURSOR_TYPE, 4, nullptr, 0},    {SQL_CONCURRENCY, 4, nullptr, 1},   {SQL_KEYSET_SIZE, 8, nullptr, 0},
    {SQL_ROWSET_SIZE, 8, nullptr, 1},    {SQL_SIMULATE_CURSOR, 4, nullptr, 2}, {SQL_RETRIEVE_DATA, 4, nullptr, 1},
    {SQL_USE_BOOKMARKS, 4, nullptr, 0},  {SQL_ROW_NUMBER, 8, nullptr, 7},    {SQL_GET_BOOKMARK, 0, "HY011", 0},
    {15, 0, "S1092", 0},                 {SQL_ATTR_ROW_ARRAY_SIZE, 0, "S1092", 0}, {10010, 0, "S1092", 0},
};

class GetStmtOption : public AttrTest, public ::testing::WithParamInterface<StmtOptionGet> {};

TEST_P(GetStmtOption, Row) {
    const StmtOptionGet &c = GetParam();
    stmt->row_number = 7;
    Answer a = probe([&](void *buf, SQLINTEGER *) {
        spk_clear_errors(stmt);
        return spk_get_stmt_option(stmt, c.option, buf);
    });
    if (c.width == 0) {
        EXPECT_EQ(a.rc, SQL_ERROR);
        EXPECT_EQ(a.written, 0);
        EXPECT_EQ(states(stmt), std::vector<std::string>{c.state});
        return;
    }
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.written, c.width);
    EXPECT_EQ(a.value, c.value);
}

INSTANTIATE_TEST_SUITE_P(Table, GetStmtOption, ::testing::ValuesIn(STMT_OPTION_GETS));

// ---------------------------------------------------------------------------
// Cursor names

constexpr unsigned char G = 0xA5;

struct NameRead {
    SQLRETURN rc;
    SQLSMALLINT length;
    std::vector<unsigned char> bytes;   // the whole buffer, guard bytes after it included
};

NameRead read_name(SpkStatement *s, int wide, int buffer_length, int room = 64) {
    NameRead r;
    r.bytes.assign(room, G);
    r.length = -99;
    spk_clear_errors(s);
    r.rc = spk_get_cursor_name(s, wide ? "SQLGetCursorNameW" : "SQLGetCursorName", wide, r.bytes.data(),
                               (SQLSMALLINT)buffer_length, &r.length);
    return r;
}

std::vector<unsigned char> ansi(const char *text, int total) {
    std::vector<unsigned char> v(text, text + strlen(text) + 1);
    v.resize(total, G);
    return v;
}

std::vector<unsigned char> wide_bytes(const char *text, int total) {
    std::vector<unsigned char> v;
    for (const char *p = text;; p++) {
        v.push_back((unsigned char)*p);
        v.push_back(0);
        if (!*p) break;
    }
    v.resize(total, G);
    return v;
}

TEST_F(AttrTest, UnnamedStatementsGetNamesOfTheirOwn) {
    NameRead a = read_name(stmt, 0, 32);
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.length, 15);
    std::string first((const char *)a.bytes.data());
    EXPECT_EQ(first.rfind("SQL_CUR", 0), 0u);
    SpkStatement *other = spk_stmt_new(conn);
    NameRead b = read_name(other, 1, 40);
    EXPECT_EQ(b.rc, SQL_SUCCESS);
    EXPECT_EQ(b.length, 15);   // the wide call counts characters
    ASSERT_NE(other->cursor_name, nullptr);
    EXPECT_NE(text_of(other->cursor_name), first);
    // The name made is kept.
    ASSERT_NE(stmt->cursor_name, nullptr);
    EXPECT_EQ(text_of(stmt->cursor_name), first);
    EXPECT_EQ(read_name(stmt, 0, 32).bytes, a.bytes);
}

struct TruncCase {
    int wide;
    int buffer_length;
    std::vector<unsigned char> expected;   // 16 bytes
};

TEST_F(AttrTest, CursorNameTruncation) {
    ASSERT_EQ(spk_set_cursor_name(stmt, "f", spk_str_from_latin1("SQL_CUR00000001")), SQL_SUCCESS);
    // The wide call's buffer length counts characters.
    const TruncCase cases[] = {
        {1, 5, wide_bytes("SQL_", 16)},           // 4 characters and the terminator
        {1, 1, wide_bytes("", 16)},               // the terminator only
        {1, 0, std::vector<unsigned char>(16, G)},  // no room at all
        {0, 6, ansi("SQL_C", 16)},
        {0, 15, ansi("SQL_CUR0000000", 16)},
        {0, 1, ansi("", 16)},
        {0, 0, std::vector<unsigned char>(16, G)},
    };
    for (const TruncCase &c : cases) {
        NameRead r = read_name(stmt, c.wide, c.buffer_length, 16);
        EXPECT_EQ(r.rc, SQL_SUCCESS_WITH_INFO) << c.wide << "/" << c.buffer_length;
        EXPECT_EQ(r.length, 15);
        EXPECT_EQ(states(stmt), std::vector<std::string>{"01004"});
        EXPECT_EQ(r.bytes, c.expected) << c.wide << "/" << c.buffer_length;
    }
    NameRead fits = read_name(stmt, 0, 16, 16);
    EXPECT_EQ(fits.rc, SQL_SUCCESS);
    NameRead wide_fits = read_name(stmt, 1, 16, 34);
    EXPECT_EQ(wide_fits.rc, SQL_SUCCESS);
}

TEST_F(AttrTest, CursorNameLengthOnlyAndBadLength) {
    for (int wide = 0; wide <= 1; wide++) {
        SQLSMALLINT len = -99;
        spk_clear_errors(stmt);
        EXPECT_EQ(spk_get_cursor_name(stmt, "f", wide, nullptr, 0, &len), SQL_SUCCESS);
        EXPECT_EQ(len, 15);
        EXPECT_EQ(spk_error_count(stmt), 0);

        NameRead r = read_name(stmt, wide, -2, 8);
        EXPECT_EQ(r.rc, SQL_ERROR);
        EXPECT_EQ(states(stmt), std::vector<std::string>{"HY090"});
        EXPECT_EQ(r.bytes, std::vector<unsigned char>(8, G));
    }
}

TEST_F(AttrTest, CursorNameSetAndReadBackInBothEncodings) {
    // "Curs" followed by e-acute: five characters, six bytes of UTF-8.
    ASSERT_EQ(spk_set_cursor_name(stmt, "SQLSetCursorName", spk_str_from_utf8("Curs\xC3\xA9", SQL_NTS)), SQL_SUCCESS);
    NameRead a = read_name(stmt, 0, 32, 16);
    EXPECT_EQ(a.rc, SQL_SUCCESS);
    EXPECT_EQ(a.length, 6);
    EXPECT_EQ(a.bytes, ansi("Curs\xC3\xA9", 16));
    NameRead w = read_name(stmt, 1, 8, 16);
    EXPECT_EQ(w.rc, SQL_SUCCESS);
    EXPECT_EQ(w.length, 5);
    std::vector<unsigned char> expected = {'C', 0, 'u', 0, 'r', 0, 's', 0, 0xE9, 0, 0, 0, G, G, G, G};
    EXPECT_EQ(w.bytes, expected);
    // ANSI truncation never splits a character.
    NameRead t = read_name(stmt, 0, 6, 8);
    EXPECT_EQ(t.rc, SQL_SUCCESS_WITH_INFO);
    EXPECT_EQ(t.bytes, ansi("Curs", 8));

    // A counted name and a wide name replace it.
    ASSERT_EQ(spk_set_cursor_name(stmt, "f", spk_str_from_utf8("abcdef", 3)), SQL_SUCCESS);
    EXPECT_EQ(read_name(stmt, 0, 16, 8).bytes, ansi("abc", 8));
    const spk_unit units[] = {'x', 'y', 0};
    ASSERT_EQ(spk_set_cursor_name(stmt, "f", spk_str_from_wide(units, SQL_NTS)), SQL_SUCCESS);
    EXPECT_EQ(read_name(stmt, 1, 16, 8).bytes, wide_bytes("xy", 8));
}

TEST_F(AttrTest, CursorNameFailuresKeepTheOldName) {
    ASSERT_EQ(spk_set_cursor_name(stmt, "f", spk_str_from_latin1("keep")), SQL_SUCCESS);
    spk_clear_errors(stmt);
    EXPECT_EQ(spk_set_cursor_name(stmt, "SQLSetCursorName", nullptr), SQL_ERROR);
    EXPECT_EQ(states(stmt), std::vector<std::string>{"HY001"});
    EXPECT_EQ(text_of(stmt->cursor_name), "keep");

    // A name whose length cannot be reported in 16 bits.
    std::string long_name(20000, 'n');
    spk_clear_errors(stmt);
    EXPECT_EQ(spk_set_cursor_name(stmt, "f", spk_str_from_utf8(long_name.c_str(), SQL_NTS)), SQL_ERROR);
    EXPECT_EQ(states(stmt), std::vector<std::string>{"HY090"});
    EXPECT_EQ(text_of(stmt->cursor_name), "keep");

    // The longest that fits in both encodings is kept whole.
    std::string longest(16383, 'm');
    spk_clear_errors(stmt);
    EXPECT_EQ(spk_set_cursor_name(stmt, "f", spk_str_from_utf8(longest.c_str(), SQL_NTS)), SQL_SUCCESS);
    SQLSMALLINT len = 0;
    EXPECT_EQ(spk_get_cursor_name(stmt, "f", 1, nullptr, 0, &len), SQL_SUCCESS);
    EXPECT_EQ(len, 16383);
}

}  // namespace
