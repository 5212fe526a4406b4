// Fetch-path benchmark.
//
// Serves one result of N rows (INT id, STRING name of 20 characters, DOUBLE
// value) from the in-process fake server and reads it
//   - with a raw Thrift client (the baseline: FetchResults of 1000 rows until
//     an empty batch, every value touched), and
//   - through the unixODBC Driver Manager and the driver, three ways:
//     bound columns one row per SQLFetch, bound column arrays of 1000 rows,
//     and SQLGetData per column per row.
// Every way sums the ints and doubles and the string lengths and bytes; each
// run's sums must equal those of the values the result was built from (so the
// baseline's and the driver's agree).  Only the fetch loop is timed (from the
// first fetch to the end of the data); each way runs several times and the
// best time counts.  Times are reported as rows/s and as a ratio to the
// baseline of the same run, never judged against a limit.
//
// Allocations: malloc, calloc and realloc are counted on the calling thread
// while a fetch loop runs (the fake server answers on its own thread and is
// not counted).  The driver, the Thrift runtime and libstdc++ all reach
// malloc through the dynamic linker, so the counter sees their allocations
// too.  Not available in sanitizer builds.
//
//   bench_fetch [rows [runs [ways]]]
//
// `ways` picks the driver ways to run, as letters (default "abcr": a, b, c
// and the reference client with 100-row batches); the baseline always runs.
// Handy for profiling one way: perf record bench_fetch 300000 10 a

#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include <time.h>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include "TCLIService.h"
#include "fake_dm.h"
#include "fake_server.h"

// ---------------------------------------------------------------------------
// Allocation counter

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define BENCH_COUNT_ALLOCS 0
#else
#define BENCH_COUNT_ALLOCS 1
#endif

namespace {
thread_local bool t_counting = false;
thread_local uint64_t t_allocs = 0;
}  // namespace

#if BENCH_COUNT_ALLOCS
extern "C" {
void *__libc_malloc(size_t);
void *__libc_calloc(size_t, size_t);
void *__libc_realloc(void *, size_t);

void *malloc(size_t n) noexcept {
    if (t_counting) t_allocs++;
    return __libc_malloc(n);
}
void *calloc(size_t count, size_t n) noexcept {
    if (t_counting) t_allocs++;
    return __libc_calloc(count, n);
}
void *realloc(void *p, size_t n) noexcept {
    if (t_counting) t_allocs++;
    return __libc_realloc(p, n);
}
}
#endif

namespace {

void count_allocs(bool on) {
    if (on) t_allocs = 0;
    t_counting = on;
}

// ---------------------------------------------------------------------------
// Data

const char *const kSql = "SELECT id, name, value FROM bench";
constexpr int kNameLen = 20;
constexpr int kBaselineBatch = 1000;
constexpr SQLULEN kArraySize = 1000;

std::string name_of(int i) {
    char buf[32];
    snprintf(buf, sizeof buf, "r%07d-%.11s", i, "abcdefghijklmnopqrstuvwxyz" + (i % 15));
    return buf;
}

tarn_fake::FakeResult make_result(int rows) {
    std::vector<std::optional<int32_t>> ids;
    std::vector<std::optional<std::string>> names;
    std::vector<std::optional<double>> values;
    ids.reserve(rows);
    names.reserve(rows);
    values.reserve(rows);
    for (int i = 0; i < rows; i++) {
        ids.push_back(i);
        names.push_back(name_of(i));
        values.push_back(i * 0.5 + 0.25);   // exact in binary: sums do not depend on order
    }
    tarn_fake::FakeResult r;
    r.schema = tarn_fake::schema({tarn_fake::column_desc("id", tcli::TTypeId::INT_TYPE, 1),
                                  tarn_fake::column_desc("name", tcli::TTypeId::STRING_TYPE, 2),
                                  tarn_fake::column_desc("value", tcli::TTypeId::DOUBLE_TYPE, 3)});
    r.columns = {tarn_fake::i32_column(ids), tarn_fake::string_column(names), tarn_fake::double_column(values)};
    return r;
}

struct Sums {
    int64_t rows = 0;
    int64_t ints = 0;
    double doubles = 0;
    int64_t str_len = 0;
    uint64_t str_bytes = 0;
    int64_t nulls = 0;

    void add_string(const char *p, size_t n) {
        str_len += (int64_t)n;
        for (size_t i = 0; i < n; i++) str_bytes += (unsigned char)p[i];
    }
    bool operator==(const Sums &o) const {
        return rows == o.rows && ints == o.ints && doubles == o.doubles && str_len == o.str_len &&
               str_bytes == o.str_bytes && nulls == o.nulls;
    }
};

void print_sums(const char *label, const Sums &s) {
    fprintf(stderr, "  %-10s rows=%" PRId64 " ints=%" PRId64 " doubles=%.2f str_len=%" PRId64 " str_bytes=%" PRIu64
                    " nulls=%" PRId64 "\n",
            label, s.rows, s.ints, s.doubles, s.str_len, s.str_bytes, s.nulls);
}

struct Run {
    double seconds = 0;      // wall time of the fetch loop
    double client_cpu = 0;   // CPU time of the fetching thread in it
    double server_cpu = 0;   // CPU time of the rest of the process (the fake server's thread)
    Sums sums;
    uint64_t allocs = 0;
    size_t fetch_calls = 0;
};

using Clock = std::chrono::steady_clock;

double cpu_seconds(clockid_t clock) {
    timespec ts{};
    clock_gettime(clock, &ts);
    return (double)ts.tv_sec + ts.tv_nsec * 1e-9;
}

// Wall and CPU clocks around one fetch loop.
struct Timer {
    Clock::time_point wall;
    double thread = 0, process = 0;
    void start() {
        thread = cpu_seconds(CLOCK_THREAD_CPUTIME_ID);
        process = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID);
        wall = Clock::now();
    }
    void stop(Run *run) const {
        run->seconds = std::chrono::duration<double>(Clock::now() - wall).count();
        double t = cpu_seconds(CLOCK_THREAD_CPUTIME_ID) - thread;
        double p = cpu_seconds(CLOCK_PROCESS_CPUTIME_ID) - process;
        run->client_cpu = t;
        run->server_cpu = p > t ? p - t : 0;
    }
};

[[noreturn]] void fail(const std::string &what) {
    fprintf(stderr, "bench_fetch: %s\n", what.c_str());
    exit(1);
}

// ---------------------------------------------------------------------------
// Baseline: the generated client, no ODBC

bool is_null(const std::string &nulls, size_t row) {
    size_t byte = row / 8;
    return byte < nulls.size() && ((unsigned char)nulls[byte] >> (row % 8)) & 1;
}

void check_status(const tcli::TStatus &s, const char *call) {
    if (s.statusCode != tcli::TStatusCode::SUCCESS_STATUS &&
        s.statusCode != tcli::TStatusCode::SUCCESS_WITH_INFO_STATUS)
        fail(std::string("baseline ") + call + ": " + s.errorMessage);
}

Run run_thrift(tarn_fake::FakeServer &srv, int max_rows) {
    using namespace apache::thrift;
    auto socket = std::make_shared<transport::TSocket>("127.0.0.1", srv.port());
    auto buffered = std::make_shared<transport::TBufferedTransport>(socket);
    auto protocol = std::make_shared<protocol::TBinaryProtocol>(buffered, 0, 0, true, true);
    tcli::TCLIServiceClient client(protocol);
    Run run;
    try {
        buffered->open();
        tcli::TOpenSessionReq oreq;
        oreq.client_protocol = tcli::TProtocolVersion::HIVE_CLI_SERVICE_PROTOCOL_V10;
        tcli::TOpenSessionResp oresp;
        client.OpenSession(oresp, oreq);
        check_status(oresp.status, "OpenSession");

        tcli::TExecuteStatementReq ereq;
        ereq.sessionHandle = oresp.sessionHandle;
        ereq.statement = kSql;
        tcli::TExecuteStatementResp eresp;
        client.ExecuteStatement(eresp, ereq);
        check_status(eresp.status, "ExecuteStatement");

        srv.clear_records();
        Sums &s = run.sums;
        count_allocs(true);
        Timer timer;
        timer.start();
        for (;;) {
            tcli::TFetchResultsReq freq;
            freq.operationHandle = eresp.operationHandle;
            freq.orientation = tcli::TFetchOrientation::FETCH_NEXT;
            freq.maxRows = max_rows;
            tcli::TFetchResultsResp fresp;
            client.FetchResults(fresp, freq);
            check_status(fresp.status, "FetchResults");
            const std::vector<tcli::TColumn> &cols = fresp.results.columns;
            if (cols.size() < 3) break;
            const tcli::TI32Column &ids = cols[0].i32Val;
            const tcli::TStringColumn &names = cols[1].stringVal;
            const tcli::TDoubleColumn &values = cols[2].doubleVal;
            size_t n = ids.values.size();
            if (n == 0) break;
            if (names.values.size() != n || values.values.size() != n) fail("baseline: ragged batch");
            for (size_t i = 0; i < n; i++) {
                if (is_null(ids.nulls, i)) s.nulls++; else s.ints += ids.values[i];
                if (is_null(names.nulls, i)) s.nulls++;
                else s.add_string(names.values[i].data(), names.values[i].size());
                if (is_null(values.nulls, i)) s.nulls++; else s.doubles += values.values[i];
            }
            s.rows += (int64_t)n;
        }
        timer.stop(&run);
        count_allocs(false);
        run.allocs = t_allocs;
        run.fetch_calls = srv.records("FetchResults").size();

        tcli::TCloseOperationReq creq;
        creq.operationHandle = eresp.operationHandle;
        tcli::TCloseOperationResp cresp;
        client.CloseOperation(cresp, creq);
        tcli::TCloseSessionReq sreq;
        sreq.sessionHandle = oresp.sessionHandle;
        tcli::TCloseSessionResp sresp;
        client.CloseSession(sresp, sreq);
        buffered->close();
    } catch (const std::exception &e) {
        count_allocs(false);
        fail(std::string("baseline: ") + e.what());
    }
    return run;
}

// ---------------------------------------------------------------------------
// Through the Driver Manager

void check(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char *what) {
    if (rc == SQL_SUCCESS) return;
    count_allocs(false);
    fail(std::string(what) + " returned " + std::to_string(rc) + ": " + tarn_fake::diags(type, h));
}

enum class Mode { Bound, BoundArray, GetData };

Run run_driver(tarn_fake::DmConnection &conn, Mode mode) {
    SQLHSTMT stmt = conn.statement();
    Run run;
    Sums &s = run.sums;

    // Buffers for one row, or for a row array (column-wise).
    size_t slots = mode == Mode::BoundArray ? kArraySize : 1;
    std::vector<SQLINTEGER> ids(slots);
    std::vector<char> names(slots * 64);
    std::vector<double> values(slots);
    std::vector<SQLLEN> id_ind(slots), name_len(slots), value_ind(slots);
    std::vector<SQLUSMALLINT> status(slots);
    SQLULEN fetched = 0;

    if (mode == Mode::BoundArray) {
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_BIND_TYPE, (SQLPOINTER)SQL_BIND_BY_COLUMN, 0), SQL_HANDLE_STMT, stmt,
              "SQLSetStmtAttr(ROW_BIND_TYPE)");
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)kArraySize, 0), SQL_HANDLE_STMT, stmt,
              "SQLSetStmtAttr(ROW_ARRAY_SIZE)");
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0), SQL_HANDLE_STMT, stmt,
              "SQLSetStmtAttr(ROWS_FETCHED_PTR)");
        check(SQLSetStmtAttr(stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0), SQL_HANDLE_STMT, stmt,
              "SQLSetStmtAttr(ROW_STATUS_PTR)");
    }
    check(SQLExecDirect(stmt, (SQLCHAR *)kSql, SQL_NTS), SQL_HANDLE_STMT, stmt, "SQLExecDirect");
    if (mode != Mode::GetData) {
        check(SQLBindCol(stmt, 1, SQL_C_SLONG, ids.data(), sizeof(SQLINTEGER), id_ind.data()), SQL_HANDLE_STMT, stmt,
              "SQLBindCol(1)");
        check(SQLBindCol(stmt, 2, SQL_C_CHAR, names.data(), 64, name_len.data()), SQL_HANDLE_STMT, stmt,
              "SQLBindCol(2)");
        check(SQLBindCol(stmt, 3, SQL_C_DOUBLE, values.data(), sizeof(double), value_ind.data()), SQL_HANDLE_STMT,
              stmt, "SQLBindCol(3)");
    }

    conn.server->clear_records();
    count_allocs(true);
    Timer timer;
    timer.start();
    for (;;) {
        SQLRETURN rc = SQLFetch(stmt);
        if (rc == SQL_NO_DATA) break;
        check(rc, SQL_HANDLE_STMT, stmt, "SQLFetch");
        if (mode == Mode::GetData) {
            check(SQLGetData(stmt, 1, SQL_C_SLONG, ids.data(), 0, id_ind.data()), SQL_HANDLE_STMT, stmt,
                  "SQLGetData(1)");
            check(SQLGetData(stmt, 2, SQL_C_CHAR, names.data(), 64, name_len.data()), SQL_HANDLE_STMT, stmt,
                  "SQLGetData(2)");
            check(SQLGetData(stmt, 3, SQL_C_DOUBLE, values.data(), 0, value_ind.data()), SQL_HANDLE_STMT, stmt,
                  "SQLGetData(3)");
        }
        size_t n = 1;
        if (mode == Mode::BoundArray) {
            n = fetched;
            for (size_t i = 0; i < n; i++)
                if (status[i] != SQL_ROW_SUCCESS) fail("SQLFetch: row status " + std::to_string(status[i]));
        }
        for (size_t i = 0; i < n; i++) {
            if (id_ind[i] == SQL_NULL_DATA) s.nulls++; else s.ints += ids[i];
            if (name_len[i] == SQL_NULL_DATA) s.nulls++;
            else s.add_string(&names[i * 64], (size_t)name_len[i]);
            if (value_ind[i] == SQL_NULL_DATA) s.nulls++; else s.doubles += values[i];
        }
        s.rows += (int64_t)n;
    }
    timer.stop(&run);
    count_allocs(false);
    run.allocs = t_allocs;
    run.fetch_calls = conn.server->records("FetchResults").size();

    check(SQLFreeHandle(SQL_HANDLE_STMT, stmt), SQL_HANDLE_STMT, stmt, "SQLFreeHandle(STMT)");
    return run;
}

// ---------------------------------------------------------------------------

struct Way {
    char key;              // its letter on the command line; 0: always runs
    const char *label;
    std::function<Run()> run;
    Run best;
    bool have = false;
};

}  // namespace

int main(int argc, char **argv) {
    int rows = 300000;
    int runs = 3;
    std::string pick = "abcr";
    if (argc > 1) rows = atoi(argv[1]);
    if (argc > 2) runs = atoi(argv[2]);
    if (argc > 3) pick = argv[3];
    if (rows <= 0 || runs <= 0 || argc > 4 || pick.find_first_not_of("abcr") != std::string::npos) {
        fprintf(stderr, "usage: %s [rows (default 300000) [runs (default 3) [ways (default abcr)]]]\n", argv[0]);
        return 2;
    }

    try {
        tarn_fake::DmConnection conn(tarn_fake::Framing::NoSasl);
        auto result = std::make_shared<const tarn_fake::FakeResult>(make_result(rows));
        conn.server->handlers().StatementResult = [result](const std::string &) { return *result; };

        Sums expect;
        for (int i = 0; i < rows; i++) {
            std::string name = name_of(i);
            expect.ints += i;
            expect.doubles += i * 0.5 + 0.25;
            expect.add_string(name.data(), name.size());
        }
        expect.rows = rows;

        tarn_fake::FakeServer &srv = *conn.server;
        std::vector<Way> all;
        all.push_back({0, "baseline: Thrift client, maxRows 1000", [&] { return run_thrift(srv, kBaselineBatch); }});
        all.push_back({'a', "(a) SQLFetch, 3 bound columns, 1 row", [&] { return run_driver(conn, Mode::Bound); }});
        all.push_back({'b', "(b) SQLFetch, column arrays of 1000", [&] { return run_driver(conn, Mode::BoundArray); }});
        all.push_back({'c', "(c) SQLFetch + SQLGetData x3, 1 row", [&] { return run_driver(conn, Mode::GetData); }});
        // Not a driver way: the baseline with the driver's batch size for
        // single-row fetches, to tell round trips from per-row cost.
        all.push_back({'r', "ref: Thrift client, maxRows 100", [&] { return run_thrift(srv, 100); }});
        std::vector<Way> ways;
        for (Way &w : all)
            if (!w.key || pick.find(w.key) != std::string::npos) ways.push_back(w);

        // Rounds rather than one way after another, so that drift of the
        // machine spreads over every way.
        for (int r = 0; r < runs; r++) {
            for (Way &w : ways) {
                Run run = w.run();
                if (!(run.sums == expect)) {
                    fprintf(stderr, "bench_fetch: %s: sums differ from the expected ones\n", w.label);
                    print_sums("expected", expect);
                    print_sums("got", run.sums);
                    return 1;
                }
                if (!w.have || run.seconds < w.best.seconds) w.best = run;
                w.have = true;
            }
        }

        const Run &base = ways[0].best;
        printf("bench_fetch: %d rows of (INT, STRING %d chars, DOUBLE) from the in-process fake server (NOSASL);\n"
               "fetch loop only, best wall time of %d runs; every run's sums checked\n\n",
               rows, kNameLen, runs);
        printf("%-38s %8s %10s %7s %10s %7s %10s %8s %8s\n", "", "wall", "", "wall", "client", "client", "server",
               "Fetch", BENCH_COUNT_ALLOCS ? "mallocs" : "");
        printf("%-38s %8s %10s %7s %10s %7s %10s %8s %8s\n", "way", "[s]", "rows/s", "x base", "CPU [s]", "x base",
               "CPU [s]", "Results", BENCH_COUNT_ALLOCS ? "/row" : "");
        for (const Way &w : ways) {
            const Run &b = w.best;
            char allocs[32] = "";
            if (BENCH_COUNT_ALLOCS) snprintf(allocs, sizeof allocs, "%.2f", (double)b.allocs / rows);
            printf("%-38s %8.4f %10.0f %7.2f %10.4f %7.2f %10.4f %8zu %8s\n", w.label, b.seconds, rows / b.seconds,
                   b.seconds / base.seconds, b.client_cpu, b.client_cpu / base.client_cpu, b.server_cpu,
                   b.fetch_calls, allocs);
        }
        printf("\nclient CPU: the fetching thread (application, Driver Manager, driver, Thrift runtime);\n"
               "server CPU: the rest of the process, i.e. the fake server's connection thread.\n");
        if (BENCH_COUNT_ALLOCS)
            printf("mallocs/row: malloc+calloc+realloc calls on the fetching thread during the loop.\n");
    } catch (const std::exception &e) {
        fprintf(stderr, "bench_fetch: %s\n", e.what());
        return 1;
    }
    return 0;
}
