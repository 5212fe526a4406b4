// Fetching through the Driver Manager against the fake server: how many
// FetchResults calls a result costs, rowsets with status arrays and rows
// fetched, row-wise and column-wise binding with offsets, null bitmaps
// shorter than the batch, conversion errors inside a rowset, the row limit,
// failing fetches, SQLExtendedFetch, SQLGetData in pieces and the cursor
// state errors.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>
#include <thread>
#include <string>
#include <vector>

#include "fake_results.h"
#include "fake_server.h"
#include "tarn_test_support.h"

using namespace tarn_test;
using tarn_fake::FakeResult;

namespace {

class OdbcConfigEnv : public ::testing::Environment {
  public:
    static PrivateOdbcConfig *config;
    void SetUp() override { config = new PrivateOdbcConfig(); }
    void TearDown() override {
        delete config;
        config = nullptr;
    }
};
PrivateOdbcConfig *OdbcConfigEnv::config = nullptr;
const ::testing::Environment *const config_env = ::testing::AddGlobalTestEnvironment(new OdbcConfigEnv);

constexpr unsigned char kGuard = 0xA5;

FakeResult string_result(const std::vector<std::optional<std::string>> &values) {
    FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("s", tcli::TTypeId::STRING_TYPE, 1)});
    r.columns = {tarn_fake::string_column(values)};
    return r;
}

class Fetch : public ::testing::Test {
  protected:
    // These tests follow every request: batches of 100 rows, none asked
    // for ahead (the defaults are checked by FetchAhead below).
    virtual std::string keywords() { return "RowsPerFetch=100;Prefetch=0"; }
    tarn_fake::FakeServer srv{tarn_fake::Framing::NoSasl};
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    std::mutex results_mutex;
    std::map<std::string, FakeResult> results;   // by statement text

    void SetUp() override {
        srv.handlers().StatementResult = [this](const std::string &sql) {
            std::lock_guard<std::mutex> g(results_mutex);
            auto it = results.find(sql);
            if (it != results.end()) return it->second;
            FakeResult none;   // a statement without rows, as Spark answers it
            none.schema = tarn_fake::schema({tarn_fake::column_desc("Result", tcli::TTypeId::STRING_TYPE, 1)});
            none.columns = {tarn_fake::string_column({})};
            return none;
        };
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env), SQL_SUCCESS);
        ASSERT_EQ(SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0), SQL_SUCCESS);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc), SQL_SUCCESS);
        std::string in = "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(srv.port()) +
                         ";Authentication=NOSASL;" + keywords();
        SQLCHAR out[512];
        SQLSMALLINT len = 0;
        ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(dbc, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, out, sizeof out,
                                                   &len, SQL_DRIVER_NOPROMPT)))
            << diag_text(SQL_HANDLE_DBC, dbc);
        ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt), SQL_SUCCESS);
    }
    void TearDown() override {
        if (stmt) SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }

    void serve(const std::string &sql, FakeResult r) {
        std::lock_guard<std::mutex> g(results_mutex);
        results[sql] = std::move(r);
    }
    SQLRETURN exec(const std::string &sql) { return SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS); }
    void exec_ok(const std::string &sql) { ASSERT_EQ(exec(sql), SQL_SUCCESS) << diags(); }
    std::string diags() { return diag_text(SQL_HANDLE_STMT, stmt); }
    void set_attr(SQLINTEGER attr, SQLULEN value) {
        ASSERT_EQ(SQLSetStmtAttr(stmt, attr, (SQLPOINTER)value, 0), SQL_SUCCESS) << diags();
    }
    void set_ptr(SQLINTEGER attr, void *p) { ASSERT_EQ(SQLSetStmtAttr(stmt, attr, p, 0), SQL_SUCCESS) << diags(); }
    size_t fetch_calls() { return srv.records("FetchResults").size(); }
};

// ---------------------------------------------------------------------------
// Batches and round trips

TEST_F(Fetch, SingleRowFetchesAskForBatchesOfHundredAndRememberTheEnd) {
    serve("SELECT n FROM t250", tarn_fake::int_sequence(1, 250));
    exec_ok("SELECT n FROM t250");
    SQLINTEGER n = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS) << diags();
    for (int i = 1; i <= 250; i++) {
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << "row " << i << " " << diags();
        ASSERT_EQ(n, i);
        ASSERT_EQ(ind, (SQLLEN)sizeof(SQLINTEGER));
    }
    SQLULEN row_number = 0;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_NUMBER, &row_number, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(row_number, 250u);   // counted over the whole result, not the batch
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    // 100, 100, 50, then an answer without rows; the end is remembered.
    EXPECT_EQ(tarn_fake::fetch_requests(srv), (std::vector<int64_t>{100, 100, 100, 100}));
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(fetch_calls(), 4u);
}

TEST_F(Fetch, ReExecutingAfterAPartlyReadBatchStartsTheNewResult) {
    serve("SELECT n FROM a", tarn_fake::int_sequence(1, 10));
    serve("SELECT n FROM b", tarn_fake::int_sequence(500, 3));
    exec_ok("SELECT n FROM a");
    SQLINTEGER n = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(n, 2);
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    exec_ok("SELECT n FROM b");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(n, 500);
    EXPECT_EQ(fetch_calls(), 2u);
}

TEST_F(Fetch, RowsetOfTenOverTwentyFiveRows) {
    serve("SELECT n FROM t25", tarn_fake::int_sequence(1, 25));
    exec_ok("SELECT n FROM t25");
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 10);
    SQLUSMALLINT status[11];
    SQLULEN fetched = 99;
    set_ptr(SQL_ATTR_ROW_STATUS_PTR, status);
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    // Column-wise: values 4 bytes apart, indicators 8 bytes apart, with a
    // guard element after each array.
    SQLINTEGER values[11];
    SQLLEN inds[11];
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, values, 0, inds), SQL_SUCCESS);
    for (int call = 0; call < 3; call++) {
        memset(status, 0xEE, sizeof status);
        memset(values, 0xEE, sizeof values);
        memset(inds, 0xEE, sizeof inds);
        ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << diags();
        int expected_rows = call < 2 ? 10 : 5;
        EXPECT_EQ(fetched, (SQLULEN)expected_rows);
        for (int i = 0; i < 10; i++) {
            if (i < expected_rows) {
                EXPECT_EQ(status[i], SQL_ROW_SUCCESS);
                EXPECT_EQ(values[i], call * 10 + i + 1);
                EXPECT_EQ(inds[i], 4);
            } else {
                EXPECT_EQ(status[i], SQL_ROW_NOROW) << "entry " << i;
                EXPECT_EQ(inds[i], (SQLLEN)0xEEEEEEEEEEEEEEEE);   // not written
            }
        }
        EXPECT_EQ(status[10], 0xEEEE);
        EXPECT_EQ(values[10], (SQLINTEGER)0xEEEEEEEE);
        EXPECT_EQ(inds[10], (SQLLEN)0xEEEEEEEEEEEEEEEE);
    }
    memset(status, 0xEE, sizeof status);
    EXPECT_EQ(SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0), SQL_NO_DATA);
    EXPECT_EQ(fetched, 0u);
    for (int i = 0; i < 10; i++) EXPECT_EQ(status[i], SQL_ROW_NOROW);
    EXPECT_EQ(status[10], 0xEEEE);
    // The rowset size is the batch size; the fourth answer had no rows.
    // RowsPerFetch rows a request, also for a smaller rowset.
    EXPECT_EQ(tarn_fake::fetch_requests(srv), (std::vector<int64_t>{100, 100}));
}

TEST_F(Fetch, RowsFetchedCountAtAFourByteAlignedAddress) {
    // RODBC points SQL_ATTR_ROWS_FETCHED_PTR 4 bytes into an 8-byte slot of
    // its own struct; the count lands there in full and nothing else moves.
    serve("SELECT n FROM t5", tarn_fake::int_sequence(1, 5));
    exec_ok("SELECT n FROM t5");
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 3);
    alignas(8) unsigned char slot[16];
    memset(slot, kGuard, sizeof slot);
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, slot + 4);
    SQLINTEGER values[3];
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, values, 0, nullptr), SQL_SUCCESS);
    for (SQLULEN want : {3u, 2u}) {
        ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS) << diags();
        SQLULEN fetched = 0;
        memcpy(&fetched, slot + 4, sizeof fetched);
        EXPECT_EQ(fetched, want);
        for (size_t i : {0u, 1u, 2u, 3u, 12u, 13u, 14u, 15u}) EXPECT_EQ(slot[i], kGuard) << "byte " << i;
    }
    EXPECT_EQ(values[1], 5);
}

TEST_F(Fetch, RowWiseBindingWithOffset) {
    FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("id", tcli::TTypeId::INT_TYPE, 1),
                                  tarn_fake::column_desc("name", tcli::TTypeId::STRING_TYPE, 2)});
    r.columns = {tarn_fake::i32_column({7, 8, std::nullopt, 10}),
                 tarn_fake::string_column({"seven", "eight", "nine", std::nullopt})};
    serve("SELECT id, name FROM t", r);
    exec_ok("SELECT id, name FROM t");
    struct Row {
        SQLINTEGER id;
        SQLLEN id_ind;
        char name[8];
        SQLLEN name_ind;
    };
    Row rows[6];
    memset(rows, kGuard, sizeof rows);
    // Bound at rows[0]; the bind offset moves everything one row on, so the
    // rowset lands in rows[1..4] and rows[0] and rows[5] stay untouched.
    SQLLEN offset = sizeof(Row);
    set_attr(SQL_ATTR_ROW_BIND_TYPE, sizeof(Row));
    set_ptr(SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset);
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 4);
    SQLULEN fetched = 0;
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &rows[0].id, 0, &rows[0].id_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, rows[0].name, sizeof rows[0].name, &rows[0].name_ind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(fetched, 4u);
    for (Row *guard : {&rows[0], &rows[5]}) {
        const unsigned char *b = (const unsigned char *)guard;
        for (size_t i = 0; i < sizeof(Row); i++) ASSERT_EQ(b[i], kGuard) << "guard row byte " << i;
    }
    EXPECT_EQ(rows[1].id, 7);
    EXPECT_EQ(rows[1].id_ind, 4);
    EXPECT_STREQ(rows[1].name, "seven");
    EXPECT_EQ(rows[1].name_ind, 5);
    EXPECT_EQ(rows[2].id, 8);
    EXPECT_STREQ(rows[2].name, "eight");
    EXPECT_EQ(rows[3].id_ind, SQL_NULL_DATA);
    EXPECT_STREQ(rows[3].name, "nine");
    EXPECT_EQ(rows[4].id, 10);
    EXPECT_EQ(rows[4].name_ind, SQL_NULL_DATA);
}

TEST_F(Fetch, ColumnWiseCharBufferStrideAndBindOffset) {
    serve("SELECT s FROM t", string_result({"a", "bb", "ccc"}));
    exec_ok("SELECT s FROM t");
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 3);
    char buf[21 * 4];
    SQLLEN inds[5];
    memset(buf, kGuard, sizeof buf);
    memset(inds, kGuard, sizeof inds);
    // A bind offset moves values and indicators alike: 21 bytes here, which
    // is one element of the value array and 2 and a bit of the indicators.
    SQLLEN offset = 16;
    set_ptr(SQL_ATTR_ROW_BIND_OFFSET_PTR, &offset);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_CHAR, buf, 21, inds), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    for (int i = 0; i < 16; i++) ASSERT_EQ((unsigned char)buf[i], kGuard);
    EXPECT_STREQ(buf + 16, "a");
    EXPECT_STREQ(buf + 16 + 21, "bb");
    EXPECT_STREQ(buf + 16 + 42, "ccc");
    for (size_t i = 16 + 63; i < sizeof buf; i++) ASSERT_EQ((unsigned char)buf[i], kGuard) << i;
    SQLLEN got[3];
    for (int i = 0; i < 3; i++) memcpy(&got[i], (char *)inds + 16 + 8 * i, sizeof(SQLLEN));
    EXPECT_EQ(got[0], 1);
    EXPECT_EQ(got[1], 2);
    EXPECT_EQ(got[2], 3);
    for (size_t i = 16 + 24; i < sizeof inds; i++) ASSERT_EQ(((unsigned char *)inds)[i], kGuard);
}

TEST_F(Fetch, TwoStatementsOfOneConnectionFetchAtTheSameTime) {
    serve("SELECT n FROM a", tarn_fake::int_sequence(1, 300));
    serve("SELECT n FROM b", tarn_fake::int_sequence(100001, 300));
    SQLHSTMT other = SQL_NULL_HSTMT;
    ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other), SQL_SUCCESS);
    ASSERT_EQ(SQLExecDirect(stmt, (SQLCHAR *)"SELECT n FROM a", SQL_NTS), SQL_SUCCESS);
    ASSERT_EQ(SQLExecDirect(other, (SQLCHAR *)"SELECT n FROM b", SQL_NTS), SQL_SUCCESS);
    auto read_all = [](SQLHSTMT h, int first, int *errors) {
        SQLSetStmtAttr(h, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)7, 0);
        SQLINTEGER values[7];
        SQLLEN inds[7];
        SQLULEN fetched = 0;
        SQLSetStmtAttr(h, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
        SQLBindCol(h, 1, SQL_C_SLONG, values, 0, inds);
        int expected = first;
        SQLRETURN rc;
        while ((rc = SQLFetch(h)) == SQL_SUCCESS)
            for (SQLULEN i = 0; i < fetched; i++)
                if (values[i] != expected++) ++*errors;
        if (rc != SQL_NO_DATA || expected != first + 300) ++*errors;
    };
    int errors_a = 0, errors_b = 0;
    std::thread t(read_all, other, 100001, &errors_b);
    read_all(stmt, 1, &errors_a);
    t.join();
    EXPECT_EQ(errors_a, 0);
    EXPECT_EQ(errors_b, 0);
    SQLFreeHandle(SQL_HANDLE_STMT, other);
}

TEST_F(Fetch, CancelFromAnotherThreadWaitsForTheFetchInFlight) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 150));
    exec_ok("SELECT n FROM t");
    SQLINTEGER n = 0;
    SQLLEN ind;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    srv.fail_next("FetchResults", tarn_fake::Fault::Delay, "", 300);
    SQLRETURN cancel_rc = SQL_ERROR;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        cancel_rc = SQLCancel(stmt);
    });
    // The batch in flight arrives whole, then the fetch stops.
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(diags().rfind("HY008:", 0), 0u) << diags();
    canceller.join();
    EXPECT_EQ(cancel_rc, SQL_SUCCESS);
    EXPECT_EQ(srv.open_operations(), 0);
    // The cursor is gone, and so are the rows of the batch: the next fetch
    // fails (refused by the Driver Manager, or by the driver when the
    // Driver Manager saw the cancel arrive during the fetch), and the closed
    // operation is never asked for rows again.
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(fetch_calls(), 1u);
    // Closing is always allowed; the statement is usable again.
    EXPECT_EQ(SQLFreeStmt(stmt, SQL_CLOSE), SQL_SUCCESS);
    exec_ok("SELECT n FROM t");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(n, 1);
}

// ---------------------------------------------------------------------------
// The defaults: large batches, the next one asked for while this one is read

class FetchAhead : public Fetch {
  protected:
    std::string keywords() override { return ""; }
    // Reads every row with single-row fetches; the sum of the values.
    int64_t read_all(int64_t *rows) {
        SQLINTEGER n = 0;
        SQLLEN ind = 0;
        EXPECT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
        int64_t sum = 0;
        *rows = 0;
        SQLRETURN rc;
        while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
            sum += n;
            ++*rows;
        }
        EXPECT_EQ(rc, SQL_NO_DATA) << diags();
        return sum;
    }
};

TEST_F(FetchAhead, SingleRowFetchesOfAQuarterMillionRowsTakeFewRoundTrips) {
    serve("SELECT n FROM big", tarn_fake::int_sequence(1, 250000));
    exec_ok("SELECT n FROM big");
    int64_t rows = 0;
    EXPECT_EQ(read_all(&rows), 250000LL * 250001 / 2);
    EXPECT_EQ(rows, 250000);
    // 25 batches of 10,000 rows, the empty answer at the end, and the request
    // queued behind it.
    EXPECT_EQ(fetch_calls(), 27u);
    EXPECT_EQ(srv.open_operations(), 1);
}

TEST_F(FetchAhead, EveryBatchSizeGivesTheSameRowsWithAndWithoutPrefetch) {
    const int total = 2500;
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, total));
    for (int prefetch = 0; prefetch <= 1; prefetch++) {
        for (int batch : {1, 2, 7, 99, 100, 1000, 2499, 2500, 2501, 100000}) {
            SCOPED_TRACE("RowsPerFetch " + std::to_string(batch) + (prefetch ? ", prefetch" : ""));
            SQLHDBC d;
            ASSERT_EQ(SQLAllocHandle(SQL_HANDLE_DBC, env, &d), SQL_SUCCESS);
            std::string in = "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(srv.port()) +
                             ";Authentication=NOSASL;RowsPerFetch=" + std::to_string(batch) +
                             ";Prefetch=" + std::to_string(prefetch);
            ASSERT_TRUE(SQL_SUCCEEDED(SQLDriverConnect(d, nullptr, (SQLCHAR *)in.c_str(), SQL_NTS, nullptr, 0,
                                                       nullptr, SQL_DRIVER_NOPROMPT)));
            SQLHSTMT s;
            SQLAllocHandle(SQL_HANDLE_STMT, d, &s);
            std::swap(s, stmt);
            srv.clear_records();
            exec_ok("SELECT n FROM t");
            int64_t rows = 0;
            EXPECT_EQ(read_all(&rows), (int64_t)total * (total + 1) / 2);
            EXPECT_EQ(rows, total);
            // The batches and the empty answer at the end; with prefetch, also
            // the request queued behind that.
            size_t batches = (size_t)(total + batch - 1) / (size_t)batch;
            EXPECT_EQ(fetch_calls(), batches + 1 + (size_t)prefetch);
            std::swap(s, stmt);
            SQLFreeHandle(SQL_HANDLE_STMT, s);
            SQLDisconnect(d);
            SQLFreeHandle(SQL_HANDLE_DBC, d);
        }
    }
}

TEST_F(FetchAhead, CloseCancelAndRowLimitInTheMiddleOfAResult) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 50000));
    SQLINTEGER n = 0;
    SQLLEN ind = 0;
    // Closed after the first row: the two batches asked for ahead are read
    // off the wire and dropped, the operation closed, the statement runs
    // again.
    exec_ok("SELECT n FROM t");
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    EXPECT_EQ(srv.open_operations(), 0);
    EXPECT_EQ(tarn_fake::fetch_requests(srv), (std::vector<int64_t>{10000, 10000, 10000}));
    exec_ok("SELECT n FROM t");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(n, 1);
    // Another statement of the connection while a request is in flight: its
    // exchange waits for that reply, which stays the first statement's.
    SQLHSTMT other;
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &other);
    serve("SELECT n FROM u", tarn_fake::int_sequence(900, 3));
    ASSERT_EQ(SQLExecDirect(other, (SQLCHAR *)"SELECT n FROM u", SQL_NTS), SQL_SUCCESS);
    SQLINTEGER m = 0;
    ASSERT_EQ(SQLBindCol(other, 1, SQL_C_SLONG, &m, 0, nullptr), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(other), SQL_SUCCESS);
    EXPECT_EQ(m, 900);
    int64_t rows = 1, sum = 1;
    SQLRETURN rc;
    while ((rc = SQLFetch(stmt)) == SQL_SUCCESS) {
        sum += n;
        rows++;
    }
    EXPECT_EQ(rc, SQL_NO_DATA) << diags();
    EXPECT_EQ(rows, 50000);
    EXPECT_EQ(sum, 50000LL * 50001 / 2);
    SQLFreeHandle(SQL_HANDLE_STMT, other);
    SQLCloseCursor(stmt);

    // A row limit: never asked for rows past it.
    set_attr(SQL_ATTR_MAX_ROWS, 15000);
    srv.clear_records();
    exec_ok("SELECT n FROM t");
    EXPECT_EQ(read_all(&rows), 15000LL * 15001 / 2);
    EXPECT_EQ(rows, 15000);
    EXPECT_EQ(tarn_fake::fetch_requests(srv), (std::vector<int64_t>{10000, 5000}));
    SQLCloseCursor(stmt);
    set_attr(SQL_ATTR_MAX_ROWS, 0);

    // A cancel while a fetch waits for its batch.
    exec_ok("SELECT n FROM t");
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    srv.fail_next("FetchResults", tarn_fake::Fault::Delay, "", 300);
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
        EXPECT_EQ(SQLCancel(stmt), SQL_SUCCESS);
    });
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_EQ(diags().rfind("HY008:", 0), 0u) << diags();
    canceller.join();
    EXPECT_EQ(srv.open_operations(), 0);
    exec_ok("SELECT n FROM t");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(n, 1);
}

// ---------------------------------------------------------------------------
// Null bitmaps and the shapes of a batch

TEST_F(Fetch, NullBitmapsShorterThanTheBatchLeaveLaterRowsNotNull) {
    using namespace tarn_fake;
    FakeResult r;
    r.schema = schema({column_desc("i", tcli::TTypeId::INT_TYPE, 1), column_desc("s", tcli::TTypeId::STRING_TYPE, 2),
                       column_desc("b", tcli::TTypeId::BIGINT_TYPE, 3)});
    std::vector<std::optional<int32_t>> iv;
    std::vector<std::optional<std::string>> sv;
    std::vector<std::optional<int64_t>> bv;
    for (int k = 0; k < 20; k++) {
        iv.push_back(k);
        sv.push_back(std::string(1, (char)('a' + k)));
        bv.push_back(1000 + k);
    }
    // Rows 1 and 3 null in the one-byte bitmap of "i"; "s" has no bitmap at
    // all; "b" has a bitmap padded past the batch with row 17 null.
    r.batches = {row_set({with_null_bitmap(i32_column(iv), std::string("\x0a", 1)), with_null_bitmap(string_column(sv), ""),
                          with_null_bitmap(i64_column(bv), std::string("\x00\x00\x02\x00\x00", 5))})};
    serve("SELECT i, s, b FROM t", r);
    exec_ok("SELECT i, s, b FROM t");
    SQLINTEGER i = 0;
    SQLBIGINT b = 0;
    char s[4];
    SQLLEN ii, si, bi;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &i, 0, &ii), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_CHAR, s, sizeof s, &si), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 3, SQL_C_SBIGINT, &b, 0, &bi), SQL_SUCCESS);
    for (int k = 0; k < 20; k++) {
        ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
        if (k == 1 || k == 3) {
            EXPECT_EQ(ii, SQL_NULL_DATA) << k;
        } else {
            EXPECT_EQ(ii, 4) << k;
            EXPECT_EQ(i, k);
        }
        EXPECT_EQ(si, 1) << k;
        EXPECT_EQ(s[0], 'a' + k);
        if (k == 17) {
            EXPECT_EQ(bi, SQL_NULL_DATA);
        } else {
            EXPECT_EQ(bi, 8) << k;
            EXPECT_EQ(b, 1000 + k);
        }
    }
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
}

TEST_F(Fetch, BatchesWithoutColumnsEndTheData) {
    for (int shape = 0; shape < 3; shape++) {
        FakeResult r = tarn_fake::int_sequence(1, 2);
        tcli::TRowSet end = shape == 0   ? tarn_fake::row_set_without_columns()
                            : shape == 1 ? tarn_fake::row_set_with_zero_columns()
                                         : tarn_fake::row_set({tarn_fake::i32_column({})});
        r.batches = {tarn_fake::row_set(r.columns), end};
        std::string sql = "SELECT n FROM shape" + std::to_string(shape);
        serve(sql, r);
        exec_ok(sql);
        EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
        EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
        EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA) << "shape " << shape << " " << diags();
        EXPECT_EQ(diags(), "");
        ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    }
}

TEST_F(Fetch, ColumnsOfDifferentLengthsAreABrokenReply) {
    FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("a", tcli::TTypeId::INT_TYPE, 1),
                                  tarn_fake::column_desc("b", tcli::TTypeId::INT_TYPE, 2)});
    r.batches = {tarn_fake::row_set({tarn_fake::i32_column({1, 2, 3}), tarn_fake::i32_column({1, 2})})};
    serve("SELECT a, b FROM t", r);
    exec_ok("SELECT a, b FROM t");
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_NE(diags().find("HY000:"), std::string::npos) << diags();
}

TEST_F(Fetch, BatchWithFewerColumnsThanTheResultIsABrokenReply) {
    FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("a", tcli::TTypeId::INT_TYPE, 1),
                                  tarn_fake::column_desc("b", tcli::TTypeId::INT_TYPE, 2)});
    r.batches = {tarn_fake::row_set({tarn_fake::i32_column({1, 2, 3})})};
    serve("SELECT a, b FROM t", r);
    exec_ok("SELECT a, b FROM t");
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_NE(diags().find("HY000:"), std::string::npos) << diags();
}

// ---------------------------------------------------------------------------
// Errors inside a rowset

TEST_F(Fetch, ConversionErrorInTheMiddleOfARowset) {
    serve("SELECT s FROM t", string_result({"1", "2", "3", "x", "5", "6", "7", "8", "9", "10", "11"}));
    exec_ok("SELECT s FROM t");
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 10);
    SQLUSMALLINT status[10];
    SQLULEN fetched = 0;
    set_ptr(SQL_ATTR_ROW_STATUS_PTR, status);
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    SQLINTEGER values[10];
    SQLLEN inds[10];
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, values, 0, inds), SQL_SUCCESS);
    // The bad row is marked and named; the rowset goes on past it.
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_NE(diags().find("22018:"), std::string::npos) << diags();
    SQLLEN row = 0;
    ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(row, 4);
    EXPECT_EQ(fetched, 10u);
    for (int k = 0; k < 10; k++) {
        if (k == 3) {
            EXPECT_EQ(status[k], SQL_ROW_ERROR);
            continue;
        }
        EXPECT_EQ(status[k], SQL_ROW_SUCCESS) << k;
        EXPECT_EQ(values[k], k + 1);
    }
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(fetched, 1u);
    EXPECT_EQ(values[0], 11);
    EXPECT_EQ(status[1], SQL_ROW_NOROW);
}

TEST_F(Fetch, ConversionErrorWithSingleRowsetFailsThatRow) {
    serve("SELECT s FROM t", string_result({"1", "x", "3"}));
    exec_ok("SELECT s FROM t");
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    EXPECT_NE(diags().find("22018:"), std::string::npos) << diags();
    SQLLEN row = 0;
    ASSERT_EQ(SQLGetDiagField(SQL_HANDLE_STMT, stmt, 1, SQL_DIAG_ROW_NUMBER, &row, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(row, 1);
    EXPECT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(v, 3);
}

// SQLBindCol's default C type for TINYINT is signed, like SQLGetData's.
TEST_F(Fetch, DefaultBindingOfTinyintIsSigned) {
    FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("t", tcli::TTypeId::TINYINT_TYPE, 1)});
    tcli::TColumn c;
    c.__set_byteVal(tcli::TByteColumn());
    c.byteVal.values = {-1, 127};
    c.byteVal.nulls = std::string(1, '\0');
    r.columns = {c};
    serve("SELECT t FROM s", r);
    exec_ok("SELECT t FROM s");
    signed char v = 0;
    SQLLEN ind = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_DEFAULT, &v, 1, &ind), SQL_SUCCESS) << diags();
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(v, -1);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(v, 127);
}

// A modifiedRowCount beyond SQLLEN is reported as its largest value.
TEST_F(Fetch, HugeModifiedRowCountIsNeverNegative) {
    FakeResult r = string_result({});
    r.modified_row_count = 1e30;
    serve("DELETE FROM t", r);
    exec_ok("DELETE FROM t");
    SQLLEN rows = 0;
    ASSERT_EQ(SQLRowCount(stmt, &rows), SQL_SUCCESS);
    EXPECT_EQ(rows, (SQLLEN)INT64_MAX);
}

TEST_F(Fetch, ErrorStatusOnFetchIsAnErrorAndNotTheEnd) {
    // The failing answer replaces the first batch; the second is served after it.
    FakeResult r = tarn_fake::int_sequence(1, 5);
    r.batches = {tarn_fake::row_set({tarn_fake::i32_column({1, 2})}),
                 tarn_fake::row_set({tarn_fake::i32_column({3, 4, 5})})};
    serve("SELECT n FROM t", r);
    exec_ok("SELECT n FROM t");
    srv.handlers().FetchResults = [](const tcli::TFetchResultsReq &, tcli::TFetchResultsResp &resp) {
        resp.status = tarn_fake::error_status("Query was cancelled by the operator", "HY008", 17);
        resp.__isset.results = false;
    };
    ASSERT_EQ(SQLFetch(stmt), SQL_ERROR);
    std::string d = diags();
    EXPECT_NE(d.find("HY008:"), std::string::npos) << d;
    EXPECT_NE(d.find("Query was cancelled by the operator"), std::string::npos) << d;
    // Not remembered as the end: the next fetch asks again.
    srv.handlers().FetchResults = nullptr;
    SQLINTEGER n = 0;
    SQLLEN ind;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << diags();
    EXPECT_EQ(n, 3);
    EXPECT_EQ(fetch_calls(), 2u);
}

TEST_F(Fetch, ErrorStatusAfterPartOfARowsetWarnsAndMarksTheRest) {
    FakeResult r = tarn_fake::int_sequence(1, 2);
    r.batches = {tarn_fake::row_set(r.columns)};
    serve("SELECT n FROM t", r);
    exec_ok("SELECT n FROM t");
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 4);
    SQLUSMALLINT status[4];
    SQLULEN fetched = 0;
    set_ptr(SQL_ATTR_ROW_STATUS_PTR, status);
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    int calls = 0;
    srv.handlers().FetchResults = [&calls](const tcli::TFetchResultsReq &, tcli::TFetchResultsResp &resp) {
        if (++calls == 2) {
            resp.status = tarn_fake::error_status("lost the executor", "", 0);
            resp.__isset.results = false;
        }
    };
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_NE(diags().find("lost the executor"), std::string::npos) << diags();
    EXPECT_EQ(fetched, 2u);
    EXPECT_EQ(status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[1], SQL_ROW_SUCCESS);
    EXPECT_EQ(status[2], SQL_ROW_ERROR);
    EXPECT_EQ(status[3], SQL_ROW_ERROR);
    srv.handlers().FetchResults = nullptr;
}

// ---------------------------------------------------------------------------
// Row limit

TEST_F(Fetch, MaxRowsStopsTheResultAndCapsTheRequests) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 250));
    set_attr(SQL_ATTR_MAX_ROWS, 30);
    exec_ok("SELECT n FROM t");
    for (int k = 0; k < 30; k++) ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS) << k << diags();
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(tarn_fake::fetch_requests(srv), (std::vector<int64_t>{30}));
}

TEST_F(Fetch, MaxRowsWithRowsets) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 250));
    set_attr(SQL_ATTR_MAX_ROWS, 20);
    exec_ok("SELECT n FROM t");
    set_attr(SQL_ATTR_ROW_ARRAY_SIZE, 8);
    SQLULEN fetched = 0;
    SQLUSMALLINT status[8];
    SQLINTEGER values[8];
    SQLLEN inds[8];
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, &fetched);
    set_ptr(SQL_ATTR_ROW_STATUS_PTR, status);
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, values, 0, inds), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(fetched, 8u);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(fetched, 8u);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(fetched, 4u);
    EXPECT_EQ(values[3], 20);
    EXPECT_EQ(status[4], SQL_ROW_NOROW);
    EXPECT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    // One request for all 20 rows: RowsPerFetch is larger, the limit smaller.
    EXPECT_EQ(tarn_fake::fetch_requests(srv), (std::vector<int64_t>{20}));
}

// ---------------------------------------------------------------------------
// SQLExtendedFetch and orientations

TEST_F(Fetch, ExtendedFetchUsesItsOwnArraysAndRestoresTheStatement) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 7));
    exec_ok("SELECT n FROM t");
    SQLUSMALLINT own_status[2] = {0xEEEE, 0xEEEE};
    SQLULEN own_fetched = 77;
    set_ptr(SQL_ATTR_ROW_STATUS_PTR, own_status);
    set_ptr(SQL_ATTR_ROWS_FETCHED_PTR, &own_fetched);
    set_attr(SQL_ROWSET_SIZE, 5);
    SQLINTEGER values[5];
    SQLLEN inds[5];
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, values, 0, inds), SQL_SUCCESS);
    SQLUSMALLINT status[6];
    SQLULEN count = 0;
    memset(status, 0xEE, sizeof status);
    ASSERT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &count, status), SQL_SUCCESS) << diags();
    EXPECT_EQ(count, 5u);
    for (int k = 0; k < 5; k++) {
        EXPECT_EQ(status[k], SQL_ROW_SUCCESS);
        EXPECT_EQ(values[k], k + 1);
    }
    EXPECT_EQ(status[5], 0xEEEE);
    ASSERT_EQ(SQLExtendedFetch(stmt, SQL_FETCH_NEXT, 0, &count, status), SQL_SUCCESS) << diags();
    EXPECT_EQ(count, 2u);
    EXPECT_EQ(status[2], SQL_ROW_NOROW);
    // The statement's own settings are as they were.
    EXPECT_EQ(own_status[0], 0xEEEE);
    EXPECT_EQ(own_fetched, 77u);
    SQLULEN size = 0;
    void *p = nullptr;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, &size, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(size, 1u);
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, &p, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(p, (void *)own_status);
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &p, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(p, (void *)&own_fetched);
    // A plain fetch after it uses the statement's array size of 1.
    ASSERT_EQ(SQLCloseCursor(stmt), SQL_SUCCESS);
    exec_ok("SELECT n FROM t");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    EXPECT_EQ(own_fetched, 1u);
    EXPECT_EQ(own_status[0], SQL_ROW_SUCCESS);
    EXPECT_EQ(own_status[1], 0xEEEE);
}

TEST_F(Fetch, OrientationsOtherThanNextAreRefusedWithoutReading) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 3));
    exec_ok("SELECT n FROM t");
    for (SQLSMALLINT o : {SQL_FETCH_FIRST, SQL_FETCH_LAST, SQL_FETCH_PRIOR, SQL_FETCH_ABSOLUTE, SQL_FETCH_RELATIVE,
                          SQL_FETCH_BOOKMARK}) {
        EXPECT_EQ(SQLFetchScroll(stmt, o, 1), SQL_ERROR) << o;
        EXPECT_NE(diags().find("HY106:"), std::string::npos) << o << " " << diags();
    }
    EXPECT_EQ(fetch_calls(), 0u);
    SQLINTEGER n = 0;
    SQLLEN ind;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_SLONG, &n, 0, &ind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetchScroll(stmt, SQL_FETCH_NEXT, 0), SQL_SUCCESS);
    EXPECT_EQ(n, 1);
}

// ---------------------------------------------------------------------------
// SQLGetData

TEST_F(Fetch, GetDataInPieces) {
    serve("SELECT s FROM t", string_result({"abcdefghijklmnopqrstuvwxyz"}));
    exec_ok("SELECT s FROM t");
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    char buf[10 + 4];
    SQLLEN ind = 0;
    struct Piece {
        SQLRETURN rc;
        const char *text;
        SQLLEN ind;
    };
    const Piece pieces[] = {{SQL_SUCCESS_WITH_INFO, "abcdefghi", 26},
                            {SQL_SUCCESS_WITH_INFO, "jklmnopqr", 17},
                            {SQL_SUCCESS, "stuvwxyz", 8}};
    for (const Piece &p : pieces) {
        memset(buf, kGuard, sizeof buf);
        ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, 10, &ind), p.rc) << diags();
        EXPECT_STREQ(buf, p.text);
        EXPECT_EQ(ind, p.ind);
        for (size_t i = 10; i < sizeof buf; i++) EXPECT_EQ((unsigned char)buf[i], kGuard);
    }
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, buf, 10, &ind), SQL_NO_DATA);
}

TEST_F(Fetch, BoundColumnTruncatedByFetchIsReadOnWithGetData) {
    FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("s", tcli::TTypeId::STRING_TYPE, 1),
                                  tarn_fake::column_desc("n", tcli::TTypeId::INT_TYPE, 2)});
    r.columns = {tarn_fake::string_column({"0123456789"}), tarn_fake::i32_column({42})};
    serve("SELECT s, n FROM t", r);
    exec_ok("SELECT s, n FROM t");
    char s[5];
    SQLLEN sind = 0, nind = 0;
    SQLINTEGER n = 0;
    ASSERT_EQ(SQLBindCol(stmt, 1, SQL_C_CHAR, s, sizeof s, &sind), SQL_SUCCESS);
    ASSERT_EQ(SQLBindCol(stmt, 2, SQL_C_SLONG, &n, 0, &nind), SQL_SUCCESS);
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS_WITH_INFO);
    EXPECT_NE(diags().find("01004:"), std::string::npos) << diags();
    EXPECT_STREQ(s, "0123");
    EXPECT_EQ(n, 42);
    char rest[16];
    SQLLEN ind = 0;
    ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_CHAR, rest, sizeof rest, &ind), SQL_SUCCESS) << diags();
    EXPECT_STREQ(rest, "456789");
    EXPECT_EQ(ind, 6);
    SQLINTEGER again = 0;
    EXPECT_EQ(SQLGetData(stmt, 2, SQL_C_SLONG, &again, 0, &ind), SQL_NO_DATA);
}

TEST_F(Fetch, GetDataWithoutACurrentRow) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 1));
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    // Nothing executed.
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
    EXPECT_NE(diags().find("HY010:"), std::string::npos) << diags();
    // A cursor, but no fetch yet.
    exec_ok("SELECT n FROM t");
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
    EXPECT_NE(diags().find("24000:"), std::string::npos) << diags();
    ASSERT_EQ(SQLFetch(stmt), SQL_SUCCESS);
    ASSERT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind), SQL_SUCCESS);
    EXPECT_EQ(v, 1);
    EXPECT_EQ(SQLGetData(stmt, 2, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
    EXPECT_NE(diags().find("07009:"), std::string::npos) << diags();
    // Past the end.
    ASSERT_EQ(SQLFetch(stmt), SQL_NO_DATA);
    EXPECT_EQ(SQLGetData(stmt, 1, SQL_C_SLONG, &v, 0, &ind), SQL_ERROR);
    EXPECT_NE(diags().find("24000:"), std::string::npos) << diags();
}

// ---------------------------------------------------------------------------
// Cursor state and bad input

TEST_F(Fetch, FetchWithoutAnOpenCursor) {
    exec_ok("INSERT INTO t VALUES (1)");
    EXPECT_EQ(SQLFetch(stmt), SQL_ERROR);
    std::string d = diags();
    EXPECT_NE(d.find("24000:"), std::string::npos) << d;
    EXPECT_NE(d.find("NULL op handle in fectch"), std::string::npos) << d;
    EXPECT_EQ(fetch_calls(), 0u);
}

TEST_F(Fetch, BindColRefusesBadInput) {
    serve("SELECT n FROM t", tarn_fake::int_sequence(1, 1));
    exec_ok("SELECT n FROM t");
    SQLINTEGER v = 0;
    SQLLEN ind = 0;
    struct Case {
        SQLUSMALLINT column;
        SQLSMALLINT type;
        SQLLEN length;
        const char *state;
    };
    const Case cases[] = {
        {1, 12345, 4, "HY003"},          // not a C type
        {1, SQL_ARD_TYPE, 4, "HY003"},   // only for SQLGetData
        {1, SQL_C_SLONG, -1, "HY090"},
        {2, SQL_C_SLONG, 4, "07009"},    // beyond the one-column result
        {0, SQL_C_SLONG, 4, "07006"},    // bookmark of a non-bookmark type
    };
    for (const Case &c : cases) {
        EXPECT_EQ(SQLBindCol(stmt, c.column, c.type, &v, c.length, &ind), SQL_ERROR) << c.state;
        EXPECT_NE(diags().find(std::string(c.state) + ":"), std::string::npos) << c.state << " " << diags();
    }
    // None of them left a binding behind.
    SQLHDESC ard = nullptr;
    ASSERT_EQ(SQLGetStmtAttr(stmt, SQL_ATTR_APP_ROW_DESC, &ard, 0, nullptr), SQL_SUCCESS);
    SQLSMALLINT count = -1;
    ASSERT_EQ(SQLGetDescField(ard, 0, SQL_DESC_COUNT, &count, 0, nullptr), SQL_SUCCESS);
    EXPECT_EQ(count, 0);
}

}  // namespace
