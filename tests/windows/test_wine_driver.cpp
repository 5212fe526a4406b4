// tarndrv.dll as a Windows application meets it, loaded and called the way a
// Driver Manager does (Wine's odbc32 hands every call to the host's unixODBC,
// so this program takes the Driver Manager's place), against the real Spark
// servers on loopback.  TARN_SPARK_<MODE>_PORT names each server; a mode
// without one is skipped.
#include <gtest/gtest.h>
#include <sql.h>
#include <sqlext.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

namespace {

// ---------------------------------------------------------------------------
// The driver's exports, resolved once.

struct Driver {
    HMODULE lib = LoadLibraryA("tarndrv.dll");
    template <class F> F get(const char *name) { return lib ? (F)(void *)GetProcAddress(lib, name) : nullptr; }
#define TARN_FN(name) decltype(&::name) name = get<decltype(&::name)>(#name)
    TARN_FN(SQLAllocHandle);
    TARN_FN(SQLFreeHandle);
    TARN_FN(SQLSetEnvAttr);
    TARN_FN(SQLDriverConnect);
    TARN_FN(SQLDriverConnectW);
    TARN_FN(SQLDisconnect);
    TARN_FN(SQLExecDirect);
    TARN_FN(SQLExecDirectW);
    TARN_FN(SQLNumResultCols);
    TARN_FN(SQLDescribeCol);
    TARN_FN(SQLFetch);
    TARN_FN(SQLGetData);
    TARN_FN(SQLBindCol);
    TARN_FN(SQLSetStmtAttr);
    TARN_FN(SQLFreeStmt);
    TARN_FN(SQLGetDiagRec);
    TARN_FN(SQLGetDiagRecW);
    TARN_FN(SQLPrepare);
    TARN_FN(SQLExecute);
    TARN_FN(SQLBindParameter);
    TARN_FN(SQLTablesW);
    TARN_FN(SQLCancel);
#undef TARN_FN
};

Driver &drv() {
    static Driver d;
    return d;
}

int port_of(const char *mode) {
    std::string var = std::string("TARN_SPARK_") + mode + "_PORT";
    const char *v = getenv(var.c_str());
    return v && *v ? atoi(v) : 0;
}

std::string conn_str(int port, const char *auth) {
    return "Driver=tarndrv;Server=127.0.0.1;Port=" + std::to_string(port) + ";Authentication=" + auth +
           ";UID=spark;PWD=spark";
}

// UTF-8 to UTF-16 (the test texts stay in the Basic Multilingual Plane).
std::wstring widen(const std::string &s) {
    std::wstring w;
    for (size_t k = 0; k < s.size();) {
        unsigned char c = (unsigned char)s[k];
        int len = c < 0x80 ? 1 : c < 0xE0 ? 2 : 3;
        unsigned v = len == 1 ? c : len == 2 ? (c & 0x1F) : (c & 0x0F);
        for (int j = 1; j < len && k + j < s.size(); j++) v = (v << 6) | ((unsigned char)s[k + j] & 0x3F);
        w += (wchar_t)v;
        k += (size_t)len;
    }
    return w;
}

// Every diagnostic record of a handle, through the ANSI or the wide export.
std::string diag(SQLSMALLINT type, SQLHANDLE h, bool wide = false) {
    std::string out;
    for (SQLSMALLINT i = 1;; i++) {
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc;
        if (wide) {
            SQLWCHAR state[6] = {}, msg[1024] = {};
            rc = drv().SQLGetDiagRecW(type, h, i, state, &native, msg, 1024, &len);
            if (!SQL_SUCCEEDED(rc)) break;
            for (SQLWCHAR *p = state; *p; p++) out += (char)*p;
            out += ' ';
            for (SQLWCHAR *p = msg; *p; p++) out += *p < 128 ? (char)*p : '?';
        } else {
            SQLCHAR state[6] = {}, msg[1024] = {};
            rc = drv().SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len);
            if (!SQL_SUCCEEDED(rc)) break;
            out += (const char *)state;
            out += ' ';
            out += (const char *)msg;
        }
        out += '\n';
    }
    return out;
}

// One environment and connection of the driver.
struct Session {
    SQLHENV env = SQL_NULL_HENV;
    SQLHDBC dbc = SQL_NULL_HDBC;
    SQLHSTMT stmt = SQL_NULL_HSTMT;
    Session() {
        drv().SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        drv().SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        drv().SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
    }
    ~Session() {
        if (stmt) drv().SQLFreeHandle(SQL_HANDLE_STMT, stmt);
        drv().SQLDisconnect(dbc);
        drv().SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        drv().SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    SQLRETURN connect(const std::string &s, bool wide = false) {
        SQLRETURN rc;
        if (wide) {
            std::wstring w = widen(s);
            rc = drv().SQLDriverConnectW(dbc, nullptr, (SQLWCHAR *)w.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                         SQL_DRIVER_NOPROMPT);
        } else {
            rc = drv().SQLDriverConnect(dbc, nullptr, (SQLCHAR *)s.c_str(), SQL_NTS, nullptr, 0, nullptr,
                                        SQL_DRIVER_NOPROMPT);
        }
        if (SQL_SUCCEEDED(rc)) drv().SQLAllocHandle(SQL_HANDLE_STMT, dbc, &stmt);
        return rc;
    }
    SQLRETURN exec(const std::string &sql, bool wide = false) {
        drv().SQLFreeStmt(stmt, SQL_CLOSE);
        if (!wide) return drv().SQLExecDirect(stmt, (SQLCHAR *)sql.c_str(), SQL_NTS);
        std::wstring w = widen(sql);
        return drv().SQLExecDirectW(stmt, (SQLWCHAR *)w.c_str(), SQL_NTS);
    }
    std::string conn_diag() { return diag(SQL_HANDLE_DBC, dbc); }
    std::string stmt_diag(bool wide = false) { return diag(SQL_HANDLE_STMT, stmt, wide); }
    std::string text(SQLUSMALLINT col) {
        char buf[512] = {};
        SQLLEN ind = 0;
        SQLRETURN rc = drv().SQLGetData(stmt, col, SQL_C_CHAR, buf, sizeof buf, &ind);
        if (!SQL_SUCCEEDED(rc)) return "<error " + stmt_diag() + ">";
        return ind == SQL_NULL_DATA ? "<null>" : std::string(buf);
    }
    std::wstring wtext(SQLUSMALLINT col) {
        SQLWCHAR buf[512] = {};
        SQLLEN ind = 0;
        SQLRETURN rc = drv().SQLGetData(stmt, col, SQL_C_WCHAR, buf, sizeof buf, &ind);
        if (!SQL_SUCCEEDED(rc)) return widen("<error " + stmt_diag() + ">");
        return ind == SQL_NULL_DATA ? L"<null>" : std::wstring((const wchar_t *)buf);
    }
};

#define TARN_NEED_SPARK(mode)                          \
    const int spark_port = port_of(mode);              \
    if (spark_port == 0) GTEST_SKIP() << "no Spark server for mode " << mode;

// ---------------------------------------------------------------------------

TEST(WineDriver, EveryGeneratedExportResolves) {
    ASSERT_NE(nullptr, drv().lib) << "LoadLibrary(tarndrv.dll) failed: " << GetLastError();
    const char *list = getenv("TARN_EXPORTS_FILE");
    ASSERT_TRUE(list && *list) << "TARN_EXPORTS_FILE is not set";
    std::ifstream in(list);
    ASSERT_TRUE(in.good()) << list;
    int n = 0;
    for (std::string name; std::getline(in, name);) {
        if (name.empty()) continue;
        n++;
        EXPECT_NE(nullptr, GetProcAddress(drv().lib, name.c_str())) << name;
    }
    EXPECT_GT(n, 0);
}

TEST(WineDriver, ConnectsAndQueriesInEveryModeThroughBothApis) {
    struct Case {
        const char *mode, *auth;
    } cases[] = {{"SASL", "NONE"}, {"SASL", "LDAP"}, {"NOSASL", "NOSASL"}};
    int ran = 0;
    for (const Case &c : cases) {
        int port = port_of(c.mode);
        if (!port) continue;
        for (bool wide : {false, true}) {
            SCOPED_TRACE(std::string(c.mode) + "/" + c.auth + (wide ? " wide" : " ansi"));
            Session s;
            ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(port, c.auth), wide)) << s.conn_diag();
            ASSERT_EQ(SQL_SUCCESS, s.exec("SELECT 41 + 1 AS answer, 'straße' AS word", wide)) << s.stmt_diag(wide);
            SQLSMALLINT cols = 0;
            ASSERT_EQ(SQL_SUCCESS, drv().SQLNumResultCols(s.stmt, &cols));
            EXPECT_EQ(2, cols);
            ASSERT_EQ(SQL_SUCCESS, drv().SQLFetch(s.stmt)) << s.stmt_diag();
            SQLINTEGER answer = 0;
            SQLLEN ind = 0;
            ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 1, SQL_C_SLONG, &answer, 0, &ind));
            EXPECT_EQ(42, answer);
            EXPECT_EQ(L"stra\u00dfe", s.wtext(2));
            EXPECT_EQ(SQL_NO_DATA, drv().SQLFetch(s.stmt));
            ran++;
        }
    }
    if (!ran) GTEST_SKIP() << "no Spark server";
}

TEST(WineDriver, ConnectFailuresCarryDiagnostics) {
    TARN_NEED_SPARK("SASL");
    {
        // Nothing listens on port 1: Winsock's refusal is reported.
        Session s;
        EXPECT_EQ(SQL_ERROR, s.connect(conn_str(1, "NONE")));
        std::string d = s.conn_diag();
        EXPECT_NE(std::string::npos, d.find("refused")) << d;
    }
    {
        // A SASL client at a server that wants none, and the other way round.
        const int nosasl = port_of("NOSASL");
        if (nosasl) {
            Session s;
            EXPECT_EQ(SQL_ERROR, s.connect(conn_str(nosasl, "NONE")));
            EXPECT_FALSE(s.conn_diag().empty());
        }
    }
    {
        // TLS and HTTP at a plain binary server: the handshake or the HTTP
        // exchange fails at once, with the peer's closing reported.
        for (const std::string &cs : {conn_str(spark_port, "NONE") + ";ssl=yes;TrustServerCertificate=yes",
                                      conn_str(spark_port, "HTTP_BASIC")}) {
            Session s;
            EXPECT_EQ(SQL_ERROR, s.connect(cs));
            std::string d = s.conn_diag();
            EXPECT_EQ(0u, d.rfind("08001 ", 0)) << cs << ": " << d;
            EXPECT_NE(std::string::npos, d.find("closed the connection")) << cs << ": " << d;
        }
    }
    {
        Session s;
        ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(spark_port, "NONE"))) << s.conn_diag();
        EXPECT_EQ(SQL_ERROR, s.exec("SELECT no_such_column FROM range(1)"));
        std::string d = s.stmt_diag(true);
        EXPECT_NE(std::string::npos, d.find("no_such_column")) << d;
    }
}

// The CA file of the TLS servers as a Windows path (Wine's Z: is the Unix root).
std::string spark_ca() {
    const char *ca = getenv("TARN_SPARK_CA");
    if (!ca || !*ca) return "";
    return ca[0] == '/' ? std::string("Z:") + ca : std::string(ca);
}

// TLS (OpenSSL inside the DLL, over Winsock) and the HTTP transport carry the
// same rows as the plain socket; the server's certificate is checked.
TEST(WineDriver, TlsAndHttpCarryTheSameRows) {
    struct Mode {
        const char *name, *auth;
        bool tls;
    } modes[] = {{"TLS", "NONE", true}, {"HTTP", "HTTP_BASIC", false}, {"HTTPTLS", "HTTP_BASIC", true}};
    const std::string ca = spark_ca();
    const std::string query = "SELECT id, concat('v', id), 'h\u00e9llo' FROM range(3000) ORDER BY id";
    int ran = 0;
    for (const Mode &m : modes) {
        const int port = port_of(m.name);
        if (!port || (m.tls && ca.empty())) continue;
        std::string cs = conn_str(port, m.auth) + (m.tls ? ";ssl=yes;CertificateFile=" + ca : "");
        for (bool wide : {false, true}) {
            SCOPED_TRACE(std::string(m.name) + (wide ? " wide" : " ansi"));
            Session s;
            ASSERT_EQ(SQL_SUCCESS, s.connect(cs, wide)) << s.conn_diag();
            ASSERT_EQ(SQL_SUCCESS, s.exec(query, wide)) << s.stmt_diag(wide);
            int next = 0;
            for (SQLRETURN rc; (rc = drv().SQLFetch(s.stmt)) != SQL_NO_DATA; next++) {
                ASSERT_EQ(SQL_SUCCESS, rc) << s.stmt_diag();
                SQLBIGINT id = -1;
                SQLLEN ind = 0;
                ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 1, SQL_C_SBIGINT, &id, 0, &ind));
                ASSERT_EQ(next, id);
                ASSERT_EQ("v" + std::to_string(next), s.text(2));
                if (next % 1000 == 0) EXPECT_EQ(L"h\u00e9llo", s.wtext(3));
            }
            EXPECT_EQ(3000, next);
            ran++;
        }
        if (!m.tls) continue;
        {
            // No CA named: the DLL's own trust store does not know the test CA.
            Session s;
            EXPECT_EQ(SQL_ERROR, s.connect(conn_str(port, m.auth) + ";ssl=yes"));
            std::string d = s.conn_diag();
            EXPECT_EQ(0u, d.rfind("08001 ", 0)) << d;
            EXPECT_NE(std::string::npos, d.find("certificate verification failed")) << d;
        }
        {
            Session s;
            EXPECT_EQ(SQL_SUCCESS, s.connect(conn_str(port, m.auth) + ";ssl=yes;TrustServerCertificate=yes"))
                << s.conn_diag();
        }
    }
    if (!ran) GTEST_SKIP() << "no TLS or HTTP Spark server";
}

// Without a window a call that would have to prompt fails with IM008.
TEST(WineDriver, PromptsFailWithDialogFailed) {
    TARN_NEED_SPARK("SASL");
    struct Case {
        std::string conn;
        SQLUSMALLINT completion;
        SQLRETURN rc;
    } cases[] = {
        {conn_str(spark_port, "NONE"), SQL_DRIVER_PROMPT, SQL_ERROR},
        {"Driver=tarndrv;Authentication=NONE", SQL_DRIVER_COMPLETE, SQL_ERROR},
        {"Driver=tarndrv;Authentication=NONE", SQL_DRIVER_COMPLETE_REQUIRED, SQL_ERROR},
        {conn_str(spark_port, "NONE"), SQL_DRIVER_COMPLETE, SQL_SUCCESS},   // nothing to ask
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.conn + " completion " + std::to_string(c.completion));
        Session s;
        SQLRETURN rc = drv().SQLDriverConnect(s.dbc, nullptr, (SQLCHAR *)c.conn.c_str(), SQL_NTS, nullptr, 0,
                                              nullptr, c.completion);
        EXPECT_EQ(c.rc, rc) << s.conn_diag();
        if (c.rc == SQL_ERROR) {
            std::string d = s.conn_diag();
            EXPECT_EQ(0u, d.rfind("IM008 ", 0)) << d;
        }
    }
}

// One value of every Spark type, read as text, as wide text and as its own C type.
TEST(WineDriver, EverySparkTypeThroughGetData) {
    TARN_NEED_SPARK("SASL");
    struct Col {
        const char *expr;
        SQLSMALLINT sql_type;
        const char *text;
    } cols[] = {
        {"true", SQL_BIT, "1"},
        {"CAST(-128 AS TINYINT)", SQL_TINYINT, "-128"},
        {"CAST(32767 AS SMALLINT)", SQL_SMALLINT, "32767"},
        {"-2147483648", SQL_INTEGER, "-2147483648"},
        {"9223372036854775807L", SQL_BIGINT, "9223372036854775807"},
        {"CAST(1.5 AS FLOAT)", SQL_REAL, "1.5"},
        {"-2.25D", SQL_DOUBLE, "-2.25"},
        {"CAST(-12345.6789 AS DECIMAL(10,4))", SQL_NUMERIC, "-12345.6789"},
        {"'h\u00e9llo \u20ac'", SQL_VARCHAR, "h\u00e9llo \u20ac"},
        {"DATE'2024-02-29'", SQL_TYPE_DATE, "2024-02-29"},
        {"TIMESTAMP'2024-02-29 12:34:56.123456'", SQL_TYPE_TIMESTAMP, "2024-02-29 12:34:56.123456"},
        {"X'DEADBEEF'", SQL_VARBINARY, "DEADBEEF"},
        {"array(1, 2, 3)", SQL_VARCHAR, "[1,2,3]"},
        {"map('a', 1)", SQL_VARCHAR, "{\"a\":1}"},
        {"named_struct('x', 1, 'y', 'z')", SQL_VARCHAR, "{\"x\":1,\"y\":\"z\"}"},
        {"CAST(NULL AS INT)", SQL_INTEGER, "<null>"},
    };
    const size_t n = sizeof cols / sizeof cols[0];
    std::string sql = "SELECT ";
    for (size_t i = 0; i < n; i++) {
        // Each column twice: read once as text and once as wide text.
        sql += std::string(i ? ", " : "") + cols[i].expr + ", " + cols[i].expr;
    }
    Session s;
    ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(spark_port, "NONE"))) << s.conn_diag();
    ASSERT_EQ(SQL_SUCCESS, s.exec(sql, true)) << s.stmt_diag();
    for (size_t i = 0; i < n; i++) {
        SQLCHAR name[128];
        SQLSMALLINT name_len = 0, type = 0, digits = 0, nullable = 0;
        SQLULEN size = 0;
        ASSERT_EQ(SQL_SUCCESS, drv().SQLDescribeCol(s.stmt, (SQLUSMALLINT)(2 * i + 1), name, sizeof name, &name_len,
                                                    &type, &size, &digits, &nullable));
        // Spark types VARCHAR-like columns as its string type.
        if (cols[i].sql_type != SQL_VARCHAR) EXPECT_EQ(cols[i].sql_type, type) << cols[i].expr;
    }
    ASSERT_EQ(SQL_SUCCESS, drv().SQLFetch(s.stmt)) << s.stmt_diag();
    for (size_t i = 0; i < n; i++) {
        SQLUSMALLINT col = (SQLUSMALLINT)(2 * i + 1);
        std::string expect = cols[i].text;
        EXPECT_EQ(expect, s.text(col)) << cols[i].expr;
        // Binary data has no wide-text form (07006), as on every platform.
        if (cols[i].sql_type != SQL_VARBINARY)
            EXPECT_EQ(widen(expect), s.wtext((SQLUSMALLINT)(col + 1))) << cols[i].expr;
    }

    // The natural C types of the same row.
    ASSERT_EQ(SQL_SUCCESS, s.exec(sql)) << s.stmt_diag();
    ASSERT_EQ(SQL_SUCCESS, drv().SQLFetch(s.stmt)) << s.stmt_diag();
    SQLLEN ind = 0;
    SQLBIGINT big = 0;
    ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 9, SQL_C_SBIGINT, &big, 0, &ind));
    EXPECT_EQ(INT64_MAX, big);
    SQLDOUBLE dbl = 0;
    ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 13, SQL_C_DOUBLE, &dbl, 0, &ind));
    EXPECT_EQ(-2.25, dbl);
    SQL_DATE_STRUCT date = {};
    ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 19, SQL_C_TYPE_DATE, &date, 0, &ind));
    EXPECT_EQ(2024, date.year);
    EXPECT_EQ(2, date.month);
    EXPECT_EQ(29, date.day);
    SQL_TIMESTAMP_STRUCT ts = {};
    ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 21, SQL_C_TYPE_TIMESTAMP, &ts, 0, &ind));
    EXPECT_EQ(34, ts.minute);
    EXPECT_EQ(123456000u, ts.fraction);
    unsigned char bin[8] = {};
    ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 23, SQL_C_BINARY, bin, sizeof bin, &ind));
    ASSERT_EQ(4, ind);
    EXPECT_EQ(0, memcmp(bin, "\xDE\xAD\xBE\xEF", 4));
    SQLINTEGER null_int = 7;
    ASSERT_EQ(SQL_SUCCESS, drv().SQLGetData(s.stmt, 31, SQL_C_SLONG, &null_int, 0, &ind));
    EXPECT_EQ(SQL_NULL_DATA, ind);
}

// Column-wise bound arrays over many row sets and fetch batches.
TEST(WineDriver, BoundArraysFetchEveryRow) {
    TARN_NEED_SPARK("NOSASL");
    Session s;
    ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(spark_port, "NOSASL"))) << s.conn_diag();
    const SQLULEN kRows = 64;
    const int kTotal = 5000;
    std::vector<SQLBIGINT> ids(kRows);
    std::vector<SQLLEN> id_ind(kRows), text_ind(kRows), half_ind(kRows);
    std::vector<char> texts(kRows * 16);
    std::vector<SQLDOUBLE> halves(kRows);
    std::vector<SQLUSMALLINT> status(kRows);
    SQLULEN fetched = 0;
    ASSERT_EQ(SQL_SUCCESS, drv().SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_ARRAY_SIZE, (SQLPOINTER)kRows, 0));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLSetStmtAttr(s.stmt, SQL_ATTR_ROW_STATUS_PTR, status.data(), 0));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLSetStmtAttr(s.stmt, SQL_ATTR_ROWS_FETCHED_PTR, &fetched, 0));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindCol(s.stmt, 1, SQL_C_SBIGINT, ids.data(), 0, id_ind.data()));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindCol(s.stmt, 2, SQL_C_CHAR, texts.data(), 16, text_ind.data()));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindCol(s.stmt, 3, SQL_C_DOUBLE, halves.data(), 0, half_ind.data()));
    ASSERT_EQ(SQL_SUCCESS, s.exec("SELECT id, CAST(id AS STRING), id * 0.5D FROM range(" + std::to_string(kTotal) +
                                  ") ORDER BY id"))
        << s.stmt_diag();
    int next = 0;
    for (SQLRETURN rc; (rc = drv().SQLFetch(s.stmt)) != SQL_NO_DATA;) {
        ASSERT_EQ(SQL_SUCCESS, rc) << s.stmt_diag();
        ASSERT_GT(fetched, 0u);
        for (SQLULEN r = 0; r < fetched; r++, next++) {
            ASSERT_EQ(SQL_ROW_SUCCESS, status[r]);
            ASSERT_EQ(next, ids[r]);
            ASSERT_EQ(std::to_string(next), std::string(&texts[r * 16]));
            ASSERT_EQ(next * 0.5, halves[r]);
        }
    }
    EXPECT_EQ(kTotal, next);
}

// Parameters of every kind bound the Windows way (SQLLEN indicators, wide text).
TEST(WineDriver, BoundParametersReachSpark) {
    TARN_NEED_SPARK("SASL");
    if (!drv().SQLBindParameter) GTEST_SKIP() << "SQLBindParameter is not exported by this build";
    Session s;
    ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(spark_port, "NONE"))) << s.conn_diag();
    ASSERT_EQ(SQL_SUCCESS, drv().SQLPrepare(s.stmt, (SQLCHAR *)"SELECT ?, ?, ?, ?, ?", SQL_NTS)) << s.stmt_diag();
    SQLINTEGER i = -2147483647 - 1;
    SQLDOUBLE d = 0.125;
    std::wstring w = widen("it's \xc3\xa9t\xc3\xa9");   // a quote and non-ASCII text
    SQL_DATE_STRUCT date = {2024, 2, 29};
    SQLLEN i_ind = 0, d_ind = 0, w_ind = SQL_NTS, date_ind = 0, null_ind = SQL_NULL_DATA;
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindParameter(s.stmt, 1, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0,
                                                  &i_ind))
        << s.stmt_diag();
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindParameter(s.stmt, 2, SQL_PARAM_INPUT, SQL_C_DOUBLE, SQL_DOUBLE, 0, 0, &d, 0,
                                                  &d_ind));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindParameter(s.stmt, 3, SQL_PARAM_INPUT, SQL_C_WCHAR, SQL_WVARCHAR, 64, 0,
                                                  (SQLPOINTER)w.c_str(), 0, &w_ind));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindParameter(s.stmt, 4, SQL_PARAM_INPUT, SQL_C_TYPE_DATE, SQL_TYPE_DATE, 0, 0,
                                                  &date, 0, &date_ind));
    ASSERT_EQ(SQL_SUCCESS, drv().SQLBindParameter(s.stmt, 5, SQL_PARAM_INPUT, SQL_C_SLONG, SQL_INTEGER, 0, 0, &i, 0,
                                                  &null_ind));
    for (int round = 0; round < 2; round++) {   // executed twice with new values
        SCOPED_TRACE(round);
        ASSERT_EQ(SQL_SUCCESS, drv().SQLExecute(s.stmt)) << s.stmt_diag();
        ASSERT_EQ(SQL_SUCCESS, drv().SQLFetch(s.stmt)) << s.stmt_diag();
        EXPECT_EQ(std::to_string(i), s.text(1));
        EXPECT_EQ(round == 0 ? "0.125" : "-1.5", s.text(2));
        EXPECT_EQ(w, s.wtext(3));
        EXPECT_EQ(round == 0 ? "2024-02-29" : "1999-12-31", s.text(4));
        EXPECT_EQ("<null>", s.text(5));
        drv().SQLFreeStmt(s.stmt, SQL_CLOSE);
        i = 7;
        d = -1.5;
        date = {1999, 12, 31};
    }
}

// The deadline of a query and a cancel from another thread end the wait on
// the Winsock socket, and the connection goes on.
TEST(WineDriver, QueryTimeoutAndCancelEndTheWait) {
    TARN_NEED_SPARK("NOSASL");
    using Clock = std::chrono::steady_clock;
    const char *slow = "SELECT sum(hash(id)) FROM range(6000000000)";   // minutes on two cores
    Session s;
    ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(spark_port, "NOSASL"))) << s.conn_diag();

    ASSERT_EQ(SQL_SUCCESS, drv().SQLSetStmtAttr(s.stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)2, 0));
    auto start = Clock::now();
    EXPECT_EQ(SQL_ERROR, s.exec(slow));
    double took = std::chrono::duration<double>(Clock::now() - start).count();
    EXPECT_EQ(0u, s.stmt_diag().rfind("HYT00 ", 0)) << s.stmt_diag();
    EXPECT_GE(took, 1.9);
    EXPECT_LT(took, 6.0);

    ASSERT_EQ(SQL_SUCCESS, drv().SQLSetStmtAttr(s.stmt, SQL_ATTR_QUERY_TIMEOUT, (SQLPOINTER)0, 0));
    Clock::time_point cancelled;
    SQLHSTMT stmt = s.stmt;
    std::thread canceller([&] {
        std::this_thread::sleep_for(std::chrono::seconds(2));
        cancelled = Clock::now();
        EXPECT_EQ(SQL_SUCCESS, drv().SQLCancel(stmt));
    });
    EXPECT_EQ(SQL_ERROR, s.exec(slow));
    double after = std::chrono::duration<double>(Clock::now() - cancelled).count();
    canceller.join();
    EXPECT_EQ(0u, s.stmt_diag().rfind("HY008 ", 0)) << s.stmt_diag();
    EXPECT_LT(after, 3.0);

    ASSERT_EQ(SQL_SUCCESS, s.exec("SELECT 6 * 7")) << s.stmt_diag();
    ASSERT_EQ(SQL_SUCCESS, drv().SQLFetch(s.stmt));
    EXPECT_EQ("42", s.text(1));
}

// The catalog through the wide API: a table of this test's own database is listed.
TEST(WineDriver, TablesAreListed) {
    TARN_NEED_SPARK("SASL");
    if (!drv().SQLTablesW) GTEST_SKIP() << "SQLTablesW is not exported by this build";
    Session s;
    ASSERT_EQ(SQL_SUCCESS, s.connect(conn_str(spark_port, "NONE"))) << s.conn_diag();
    ASSERT_EQ(SQL_SUCCESS, s.exec("CREATE DATABASE IF NOT EXISTS tarn_wine_catalog")) << s.stmt_diag();
    ASSERT_EQ(SQL_SUCCESS, s.exec("CREATE TABLE IF NOT EXISTS tarn_wine_catalog.wine_t (id INT) USING parquet"))
        << s.stmt_diag();
    drv().SQLFreeStmt(s.stmt, SQL_CLOSE);
    std::wstring schema = L"tarn_wine_catalog", table = L"wine%";
    ASSERT_EQ(SQL_SUCCESS, drv().SQLTablesW(s.stmt, nullptr, 0, (SQLWCHAR *)schema.c_str(), SQL_NTS,
                                            (SQLWCHAR *)table.c_str(), SQL_NTS, nullptr, 0))
        << s.stmt_diag();
    std::vector<std::string> names;
    for (SQLRETURN rc; (rc = drv().SQLFetch(s.stmt)) != SQL_NO_DATA;) {
        ASSERT_TRUE(SQL_SUCCEEDED(rc)) << s.stmt_diag();
        names.push_back(s.text(2) + "." + s.text(3));
    }
    EXPECT_EQ(std::vector<std::string>{"tarn_wine_catalog.wine_t"}, names);
    s.exec("DROP DATABASE IF EXISTS tarn_wine_catalog CASCADE");
}

}  // namespace
