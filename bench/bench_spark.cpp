// Fetch benchmark against a real Spark Thrift server (NOSASL mode).
//
// One query of N rows and ten mixed columns (BIGINT, INT, SMALLINT, DOUBLE,
// two STRINGs, DATE, TIMESTAMP, BOOLEAN, DECIMAL) is read
//   - by a raw Thrift client (the baseline: FetchResults of 10,000 rows, one
//     request in flight, every value touched), and
//   - through the Driver Manager and the driver: bound column arrays of
//     1,000 and of 10,000 rows, SQLFetch + SQLGetData of every column, and
//     pyodbc's fetchall() (a Python child process).
// Each way runs in a child process of its own, so that its CPU time and its
// peak memory are its own; the ways take turns, round after round, and the
// best wall time of each counts.  Ratios are against the baseline of the
// same run, never judged against a limit.  FetchResults round trips are
// counted in one more untimed run with the driver's trace on.
//
//   bench_spark PORT [rows (default 1000000) [runs (default 3) [ways]]]
//   ways: the numbers (1-5, in the table's order) of the ways to run, say
//   "14"; all by default (the baseline always runs, for the ratios).
//   BENCH_CONNECT in the environment is added to the driver's connection
//   strings (say "RowsPerFetch=50000;").
//   (scripts/bench-spark.sh starts the server and builds everything)
#include <sql.h>
#include <sqlext.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <mutex>

#include <chrono>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include <thrift/protocol/TBinaryProtocol.h>
#include <thrift/transport/TBufferTransports.h>
#include <thrift/transport/TSocket.h>

#include "TCLIService.h"
#include "fake_relay.h"
#include "tarn_test_support.h"

namespace {

using Clock = std::chrono::steady_clock;

int g_port = 0;
long g_rows = 1000000;

std::string query() {
    return "SELECT id, CAST(id AS INT) AS i, CAST(id % 30000 AS SMALLINT) AS sm, CAST(id AS DOUBLE) * 0.5 AS d, "
           "CAST(id AS STRING) AS s, concat('name-', id) AS n, date_add(DATE'2020-01-01', CAST(id % 3650 AS INT)) "
           "AS dt, timestamp_seconds(1600000000 + id) AS ts, id % 3 = 0 AS b, CAST(id % 100000 AS DECIMAL(12,2)) "
           "AS dec FROM range(" +
           std::to_string(g_rows) + ")";
}

// What a child reports back.
struct Report {
    double wall = 0;       // the fetch loop
    double cpu = 0;        // the client process's CPU time in it
    int64_t rows = 0;
    int64_t id_sum = 0;    // checks that every way read the same values
};

double process_cpu() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return (double)t.tv_sec + t.tv_nsec * 1e-9;
}

[[noreturn]] void die(const std::string &what) {
    fprintf(stderr, "bench_spark: %s\n", what.c_str());
    _exit(1);
}

// ---------------------------------------------------------------------------
// Baseline

bool is_null(const std::string &nulls, size_t r) {
    return r / 8 < nulls.size() && (((unsigned char)nulls[r / 8] >> (r % 8)) & 1);
}

Report run_raw() {
    using namespace apache::thrift;
    auto socket = std::make_shared<transport::TSocket>("127.0.0.1", g_port);
    auto config = std::make_shared<TConfiguration>(1 << 30, 1 << 30);
    auto buffered = std::make_shared<transport::TBufferedTransport>(socket, 1 << 16, 1 << 16, config);
    auto protocol = std::make_shared<protocol::TBinaryProtocol>(buffered, 0, 0, true, true);
    tcli::TCLIServiceClient client(protocol);
    buffered->open();
    tcli::TOpenSessionReq oreq;
    oreq.client_protocol = tcli::TProtocolVersion::HIVE_CLI_SERVICE_PROTOCOL_V10;
    tcli::TOpenSessionResp oresp;
    client.OpenSession(oresp, oreq);
    tcli::TExecuteStatementReq ereq;
    ereq.sessionHandle = oresp.sessionHandle;
    ereq.statement = query();
    tcli::TExecuteStatementResp eresp;
    client.ExecuteStatement(eresp, ereq);
    if (eresp.status.statusCode > 1) die("raw: " + eresp.status.errorMessage);
    Report r;
    uint64_t touched = 0;
    double cpu0 = process_cpu();
    auto start = Clock::now();
    for (;;) {
        tcli::TFetchResultsReq freq;
        freq.operationHandle = eresp.operationHandle;
        freq.orientation = tcli::TFetchOrientation::FETCH_NEXT;
        freq.maxRows = 10000;
        tcli::TFetchResultsResp fresp;
        client.FetchResults(fresp, freq);
        const auto &cols = fresp.results.columns;
        if (cols.size() < 10 || cols[0].i64Val.values.empty()) break;
        size_t n = cols[0].i64Val.values.size();
        for (size_t k = 0; k < n; k++) {
            if (!is_null(cols[0].i64Val.nulls, k)) r.id_sum += cols[0].i64Val.values[k];
            touched += (uint64_t)cols[1].i32Val.values[k] + (uint64_t)cols[2].i16Val.values[k];
            touched += (uint64_t)cols[3].doubleVal.values[k];
            for (int c : {4, 5, 6, 7, 9}) touched += cols[c].stringVal.values[k].size();
            touched += cols[8].boolVal.values[k] ? 1 : 0;
        }
        r.rows += (int64_t)n;
    }
    r.wall = std::chrono::duration<double>(Clock::now() - start).count();
    r.cpu = process_cpu() - cpu0;
    if (touched == 0) die("raw: nothing read");
    return r;
}

// ---------------------------------------------------------------------------
// Through the driver

std::string conn_str(const std::string &extra = "") {
    return "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(g_port) + ";Authentication=NOSASL;" + extra;
}

void ok(SQLRETURN rc, SQLSMALLINT type, SQLHANDLE h, const char *what) {
    if (SQL_SUCCEEDED(rc)) return;
    die(std::string(what) + ": " + tarn_test::diag_text(type, h));
}

Report run_driver(int array, bool getdata, const std::string &extra) {
    tarn_test::PrivateOdbcConfig config;
    SQLHENV env;
    SQLHDBC dbc;
    SQLHSTMT st;
    SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
    SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
    SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    std::string cs = conn_str(extra);
    ok(SQLDriverConnect(dbc, nullptr, (SQLCHAR *)cs.c_str(), SQL_NTS, nullptr, 0, nullptr, SQL_DRIVER_NOPROMPT),
       SQL_HANDLE_DBC, dbc, "connect");
    SQLAllocHandle(SQL_HANDLE_STMT, dbc, &st);
    size_t slots = (size_t)array;
    std::vector<int64_t> id(slots);
    std::vector<SQLINTEGER> i(slots);
    std::vector<SQLSMALLINT> sm(slots);
    std::vector<double> d(slots);
    std::vector<char> s(slots * 24), n(slots * 32), dec(slots * 24);
    std::vector<SQL_DATE_STRUCT> dt(slots);
    std::vector<SQL_TIMESTAMP_STRUCT> ts(slots);
    std::vector<unsigned char> b(slots);
    std::vector<SQLLEN> ind(slots * 10);
    SQLULEN fetched = 0;
    SQLSetStmtAttr(st, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)(SQLULEN)array, 0);
    SQLSetStmtAttr(st, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0);
    std::string q = query();
    ok(SQLExecDirect(st, (SQLCHAR *)q.c_str(), SQL_NTS), SQL_HANDLE_STMT, st, "execute");
    struct Col {
        SQLSMALLINT type;
        void *data;
        SQLLEN len;
    } cols[10] = {{SQL_C_SBIGINT, id.data(), 8},      {SQL_C_SLONG, i.data(), 4},
                  {SQL_C_SSHORT, sm.data(), 2},       {SQL_C_DOUBLE, d.data(), 8},
                  {SQL_C_CHAR, s.data(), 24},         {SQL_C_CHAR, n.data(), 32},
                  {SQL_C_TYPE_DATE, dt.data(), sizeof(SQL_DATE_STRUCT)},
                  {SQL_C_TYPE_TIMESTAMP, ts.data(), sizeof(SQL_TIMESTAMP_STRUCT)},
                  {SQL_C_BIT, b.data(), 1},           {SQL_C_CHAR, dec.data(), 24}};
    if (!getdata)
        for (int c = 0; c < 10; c++)
            ok(SQLBindCol(st, (SQLUSMALLINT)(c + 1), cols[c].type, cols[c].data, cols[c].len, &ind[c * slots]),
               SQL_HANDLE_STMT, st, "bind");
    Report r;
    double cpu0 = process_cpu();
    auto start = Clock::now();
    for (;;) {
        SQLRETURN rc = SQLFetch(st);
        if (rc == SQL_NO_DATA) break;
        ok(rc, SQL_HANDLE_STMT, st, "fetch");
        if (getdata)
            for (int c = 0; c < 10; c++)
                ok(SQLGetData(st, (SQLUSMALLINT)(c + 1), cols[c].type, cols[c].data, cols[c].len, &ind[c]),
                   SQL_HANDLE_STMT, st, "getdata");
        size_t got = getdata ? 1 : fetched;
        for (size_t k = 0; k < got; k++) r.id_sum += id[k];
        r.rows += (int64_t)got;
    }
    r.wall = std::chrono::duration<double>(Clock::now() - start).count();
    r.cpu = process_cpu() - cpu0;
    SQLFreeHandle(SQL_HANDLE_STMT, st);
    SQLDisconnect(dbc);
    SQLFreeHandle(SQL_HANDLE_DBC, dbc);
    SQLFreeHandle(SQL_HANDLE_ENV, env);
    return r;
}

Report run_pyodbc(const std::string &extra) {
    tarn_test::PrivateOdbcConfig config;
    std::string py = std::string(TARN_SOURCE_DIR) + "/.venv/bin/python";
    std::string script = "import pyodbc,sys,time\n"
                         "c=pyodbc.connect(sys.argv[1],autocommit=True)\n"
                         "cur=c.cursor(); cur.execute(sys.argv[2])\n"
                         "t=time.monotonic(); p=time.process_time(); rows=cur.fetchall()\n"
                         "w=time.monotonic()-t; p=time.process_time()-p\n"
                         "print(w, p, len(rows), sum(r[0] for r in rows))\n";
    std::string cs = conn_str(extra), q = query();
    int fds[2];
    if (pipe(fds) != 0) die("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        dup2(fds[1], 1);
        execl(py.c_str(), py.c_str(), "-c", script.c_str(), cs.c_str(), q.c_str(), (char *)nullptr);
        _exit(127);
    }
    close(fds[1]);
    char buf[256] = {};
    ssize_t got = 0, k;
    while (got < (ssize_t)sizeof buf - 1 && (k = read(fds[0], buf + got, sizeof buf - 1 - got)) > 0) got += k;
    close(fds[0]);
    int status = 0;
    waitpid(pid, &status, 0);
    Report r;
    if (got <= 0 || sscanf(buf, "%lf %lf %" SCNd64 " %" SCNd64, &r.wall, &r.cpu, &r.rows, &r.id_sum) != 4) die(std::string("pyodbc failed (exit ") + std::to_string(WEXITSTATUS(status)) + "): " + buf);
    return r;
}

// Runs `fn` in a child; its report, CPU seconds and peak memory (KiB).
struct Measured {
    Report report;
    double cpu = 0;
    long rss_kb = 0;
};

Measured in_child(const std::function<Report()> &fn) {
    fflush(stdout);
    int fds[2];
    if (pipe(fds) != 0) die("pipe");
    pid_t pid = fork();
    if (pid == 0) {
        close(fds[0]);
        Report r;
        try {
            r = fn();
        } catch (const std::exception &e) {
            die(e.what());
        }
        if (write(fds[1], &r, sizeof r) != (ssize_t)sizeof r) _exit(1);
        _exit(0);
    }
    close(fds[1]);
    Measured m;
    if (read(fds[0], &m.report, sizeof m.report) != (ssize_t)sizeof m.report) die("a way failed");
    close(fds[0]);
    int status = 0;
    rusage u{};
    wait4(pid, &status, 0, &u);
    m.cpu = u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) * 1e-6;
    m.rss_kb = u.ru_maxrss;
    return m;
}

// Counts the FetchResults requests in what a client sends, a name split
// across two chunks included.
struct FetchCounter {
    const std::string name = "FetchResults";
    std::mutex lock;
    std::string tail;   // the end of the last chunk
    long fetches = 0;

    void see(const char *data, size_t size) {
        std::lock_guard<std::mutex> g(lock);
        std::string seen = tail + std::string(data, size);
        for (size_t at = seen.find(name); at != std::string::npos; at = seen.find(name, at + 1))
            if (at + name.size() > tail.size()) fetches++;
        tail = seen.size() > name.size() ? seen.substr(seen.size() - name.size() + 1) : seen;
    }
    long count() {
        std::lock_guard<std::mutex> g(lock);
        return fetches;
    }
};

// FetchResults round trips of a way: one untimed run through the relay.
long round_trips(const std::function<Report()> &fn) {
    // The name is made before the relay's threads start: a fork while one of
    // them runs a static initialiser can leave the child stuck on libc's lock.
    FetchCounter counter;
    tarn_fake::TcpRelay relay("127.0.0.1", g_port, [&](const char *d, size_t n) { counter.see(d, n); });
    int real = g_port;
    g_port = relay.port();
    fflush(stdout);
    pid_t pid = fork();
    if (pid == 0) {
        fn();
        _exit(0);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    g_port = real;
    return counter.count();
}

}  // namespace

int main(int argc, char **argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: %s PORT [rows [runs]]\n", argv[0]);
        return 2;
    }
    g_port = atoi(argv[1]);
    if (argc > 2) g_rows = atol(argv[2]);
    int runs = argc > 3 ? atoi(argv[3]) : 3;
    std::string only = argc > 4 ? argv[4] : "";
    const char *extra_env = getenv("BENCH_CONNECT");
    const std::string extra = extra_env ? extra_env : "";

    struct Way {
        const char *label;
        std::function<Report(const std::string &)> run;
        Measured best;
        bool have = false;
        long trips = 0;
    };
    std::vector<Way> ways = {
        {"raw Thrift client, 10,000 rows/request", [](const std::string &) { return run_raw(); }},
        {"bound column arrays of 1,000", [](const std::string &x) { return run_driver(1000, false, x); }},
        {"bound column arrays of 10,000", [](const std::string &x) { return run_driver(10000, false, x); }},
        {"SQLFetch + SQLGetData x10", [](const std::string &x) { return run_driver(1, true, x); }},
        {"pyodbc fetchall()", [](const std::string &x) { return run_pyodbc(x); }},
    };
    if (!only.empty()) {
        std::vector<Way> kept;
        for (size_t k = 0; k < ways.size(); k++)
            if (k == 0 || only.find((char)('1' + k)) != std::string::npos) kept.push_back(ways[k]);
        ways = kept;
    }
    for (int r = 0; r < runs; r++) {
        for (Way &w : ways) {
            Measured m = in_child([&] { return w.run(extra); });
            if (m.report.rows != g_rows || m.report.id_sum != (int64_t)g_rows * (g_rows - 1) / 2)
                die(std::string(w.label) + ": wrong rows or values");
            if (!w.have || m.report.wall < w.best.report.wall) w.best = m;
            w.have = true;
        }
    }
    ways[0].trips = (g_rows + 9999) / 10000 + 1;
    for (size_t k = 1; k < ways.size(); k++) ways[k].trips = round_trips([&] { return ways[k].run(extra); });

    const Measured &base = ways[0].best;
    printf("bench_spark: %ld rows x 10 mixed columns from Spark (NOSASL, loopback); best of %d runs\n\n", g_rows,
           runs);
    printf("%-40s %8s %7s %9s %7s %9s %8s\n", "way", "wall [s]", "x raw", "CPU [s]", "x raw", "peak MiB", "fetches");
    for (const Way &w : ways)
        printf("%-40s %8.3f %7.2f %9.3f %7.2f %9.1f %8ld\n", w.label, w.best.report.wall,
               w.best.report.wall / base.report.wall, w.best.report.cpu, w.best.report.cpu / base.report.cpu,
               w.best.rss_kb / 1024.0,
               w.trips);
    printf("\nwall and CPU: the fetch loop, CPU of the whole client process (all its threads);\n"
           "peak: the client process's largest resident size; fetches: FetchResults requests.\n");
    return 0;
}
