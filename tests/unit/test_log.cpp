// Trace log: the formatter's conversions and cut-off, record gating, file
// naming, header and hex-dump layout, and the in-memory ring with its dump.
#include <gtest/gtest.h>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "spk_handles.h"
#include "spk_log.h"
#include "spk_platform.h"
#include "spk_string.h"

namespace {

// ---------------------------------------------------------------------------
// Formatter helpers: every call runs with guard bytes on both sides of the
// buffer and checks the terminator and the returned length.

constexpr unsigned char kGuard = 0xA5;
constexpr size_t kGuardLen = 16;

std::string vfmt_sized(size_t size, const char *format, va_list ap) {
    std::vector<unsigned char> mem(size + 2 * kGuardLen, kGuard);
    char *buf = (char *)mem.data() + kGuardLen;
    size_t n = spk_vformat(size ? buf : nullptr, size, format, ap);
    for (size_t i = 0; i < kGuardLen; i++) {
        EXPECT_EQ(mem[i], kGuard) << "underrun at " << i;
        EXPECT_EQ(mem[kGuardLen + size + i], kGuard) << "overrun at " << i << " size " << size;
    }
    if (size == 0) {
        EXPECT_EQ(n, 0u);
        return std::string();
    }
    EXPECT_LT(n, size);
    EXPECT_EQ(buf[n], 0) << "not terminated, size " << size;
    return std::string(buf, n);
}

std::string fmt_sized(size_t size, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string s = vfmt_sized(size, format, ap);
    va_end(ap);
    return s;
}

std::string fmt(const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    std::string s = vfmt_sized(SPK_LOG_RECORD_MAX, format, ap);
    va_end(ap);
    return s;
}

struct FormatCase {
    std::string got;
    std::string want;
};

TEST(LogFormat, Conversions) {
    static const spk_unit wide_select[] = {'s', 'e', 'l', 'e', 'c', 't', ' ', '1', 0};
    static const spk_unit wide_cafe[] = {'c', 'a', 'f', 0x00E9, 0};
    static const spk_unit wide_high[] = {0x20AC, 'x', 0};
    static const spk_unit wide_edge[] = {0x7F, 0x80};
    spk_unit str_units[] = {'c', 'a', 'f', 0x00E9};
    SpkString cafe{str_units, 4, 1};
    spk_unit cut_units[] = {'a', 'b', 0, 'c'};
    SpkString with_nul{cut_units, 4, 1};
    SpkString empty{nullptr, 0, 1};
    const char nul_inside[] = {'a', 0, 'b'};

    const FormatCase cases[] = {
        {fmt("%d", -5), "-5"},
        {fmt("%d", INT_MIN), "-2147483648"},
        {fmt("%u", 0xFFFFFFFFu), "4294967295"},
        {fmt("%x", 255), "ff"},
        {fmt("%X", 255), "FF"},
        {fmt("%L", 0xDEADBEEFu), "deadbeef"},
        {fmt("%l", (long long)INT64_MIN), "-9223372036854775808"},
        {fmt("%l", (long long)1234567890123LL), "1234567890123"},
        {fmt("%c", 'Z'), "Z"},
        {fmt("%p", (void *)0x1234), "0000000000001234"},
        {fmt("%p", (void *)nullptr), "0000000000000000"},
        {fmt("%r", -1), "SQL_ERROR"},
        {fmt("%r", 0), "SQL_SUCCESS"},
        {fmt("%r", 1), "SQL_SUCCESS_WITH_INFO"},
        {fmt("%r", 100), "SQL_NO_DATA"},
        {fmt("%r", 101), "SQL_PARAM_DATA_AVAILABLE"},
        {fmt("%r", 99), "99"},
        {fmt("%r", -2), "-2"},
        {fmt("%s", "abc"), "abc"},
        {fmt("%s", "caf\xE9"), "caf\\xE9"},
        {fmt("%s", (const char *)nullptr), "(nul)"},
        {fmt("%s", "\x7F\x80"), "\x7F\\x80"},
        {fmt("%q", "\x7F\x80", SQL_NTS), "'\x7F\\x80'[SQL_NTS]"},
        {fmt("%q", "select 1", SQL_NTS), "'select 1'[SQL_NTS]"},
        {fmt("%q", (const char *)nullptr, 8), "(nul)[8]"},
        {fmt("%q", (const char *)nullptr, SQL_NTS), "(nul)[SQL_NTS]"},
        {fmt("%q", "abcdef", 3), "'abc'[3]"},
        {fmt("%q", "\xE9", 1), "'\\xE9'[1]"},
        {fmt("%q", nul_inside, 3), "'a\\x00b'[3]"},
        {fmt("%q", "abc", -1), "''[-1]"},
        {fmt("%Q", wide_select, SQL_NTS), "'select 1'[SQL_NTS]"},
        {fmt("%Q", wide_cafe, SQL_NTS), "'caf\\x00E9'[SQL_NTS]"},
        {fmt("%Q", wide_high, 1), "'\\x20AC'[1]"},
        {fmt("%Q", wide_edge, 2), "'\x7F\\x0080'[2]"},
        {fmt("%Q", (const spk_unit *)nullptr, 5), "(nul)[5]"},
        {fmt("%T", wide_select, 6), "'select'[6]"},
        {fmt("%T", (const spk_unit *)nullptr, SQL_NTS), "(nul)[SQL_NTS]"},
        {fmt("%S", &cafe), "caf\\x00E9"},
        {fmt("%S", &with_nul), "ab"},
        {fmt("%S", &empty), ""},
        {fmt("%S", (const SpkString *)nullptr), "(nul)"},
        {fmt("100%%"), "100%"},
        // An unknown conversion writes nothing and takes no argument.
        {fmt("a%kb%d", 7), "ab7"},
        // Two-argument conversions keep the rest of the arguments in step.
        {fmt("%q|%d|%Q|%s", "ab", 2, 9, wide_cafe, 1, "z"), "'ab'[2]|9|'c'[1]|z"},
        {fmt("SQLFreeStmt: statement_handle=%p, option=%d", (void *)0xABC, 1),
         "SQLFreeStmt: statement_handle=0000000000000ABC, option=1"},
        {fmt("trailing %"), "trailing "},
    };
    for (const FormatCase &c : cases) EXPECT_EQ(c.got, c.want);
}

TEST(LogFormat, CutOffBeforeLiteralsAndConversions) {
    const FormatCase cases[] = {
        // Bytes are copied while 21 or more bytes of room are left.
        {fmt_sized(25, "abcdefghij"), "abcde..."},
        {fmt_sized(21, "abc"), "a..."},
        {fmt_sized(20, "abc"), "..."},
        {fmt_sized(4, "abc"), "..."},
        {fmt_sized(3, "abc"), ".."},
        {fmt_sized(1, "abc"), ""},
        // A conversion is started only with 21 bytes of room.
        {fmt_sized(21, "x%l", (long long)INT64_MIN), "x..."},
        {fmt_sized(22, "x%l", (long long)INT64_MIN), "x-9223372036854775808"},
        {fmt_sized(21, "%l", (long long)INT64_MIN), "-9223372036854775808"},
        // A name longer than the room is cut rather than overrunning.
        {fmt_sized(21, "%r", 101), "..."},
        // %s writes as much as leaves 20 bytes, then "..." and nothing more.
        {fmt_sized(30, "%s|tail", std::string(50, 'x').c_str()), std::string(10, 'x') + "..."},
        {fmt_sized(30, "%s", "\xE9\xE9\xE9"), "\\xE9\\xE9..."},
        // Quoted text stops while 20 bytes are left and marks the cut inside
        // the quotes.
        {fmt_sized(40, "%q", std::string(100, 'a').c_str(), SQL_NTS),
         "'" + std::string(19, 'a') + "...'[SQL_NTS]"},
        {fmt_sized(40, "%q", std::string(100, 'a').c_str(), 100),
         "'" + std::string(19, 'a') + "...'[100]"},
        // %S says "..." whenever 40 bytes or fewer remain after it.
        {fmt_sized(50, "%S", (const SpkString *)nullptr), "(nul)"},
        {fmt_sized(45, "%S", (const SpkString *)nullptr), "(nul)..."},
    };
    for (const FormatCase &c : cases) EXPECT_EQ(c.got, c.want);

    // The rest of a format after a cut still takes its arguments: a later
    // %s must not read an integer as a pointer (ASan would see it).
    EXPECT_EQ(fmt_sized(21, "ab%d%s%q%S", 1, "x", "y", SQL_NTS, (const SpkString *)nullptr), "a...");
}

TEST(LogFormat, NeverOverrunsAnySize) {
    static const spk_unit wide[] = {'w', 0x00E9, 'w', 0x4E2D, 'x', 'y', 'z', 0};
    spk_unit units[] = {0x00E9, 'a', 0x4E2D, 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    SpkString s{units, 10, 1};
    std::string long_bytes = std::string(30, 'b') + "\xE9\xFF" + std::string(30, 'c');
    for (size_t size = 0; size <= 160; size++) {
        std::string full = fmt("lit %d %s %q %Q %S %r %p end", -12345, long_bytes.c_str(), "q\xE9q", SQL_NTS,
                               wide, 7, &s, 1, (void *)&s);
        std::string got = fmt_sized(size, "lit %d %s %q %Q %S %r %p end", -12345, long_bytes.c_str(), "q\xE9q",
                                    SQL_NTS, wide, 7, &s, 1, (void *)&s);
        // Either the whole text or a cut one that says so.
        if (size > full.size() + 40) {
            EXPECT_EQ(got, full) << "size " << size;
        } else if (got != full && size >= 4) {
            EXPECT_NE(got.find("..."), std::string::npos) << "size " << size << ": " << got;
        }
        EXPECT_LE(got.size(), full.size() + 3) << "size " << size;
    }
}

TEST(LogFormat, SformatMatchesVformat) {
    char buf[64];
    memset(buf, 'z', sizeof buf);
    EXPECT_EQ(spk_sformat(buf, sizeof buf, "%d-%s", 42, "x"), 4u);
    EXPECT_STREQ(buf, "42-x");
    EXPECT_EQ(spk_sformat(buf, 0, "%d", 1), 0u);
    EXPECT_EQ(buf[0], '4');
    EXPECT_EQ(spk_sformat(buf, sizeof buf, nullptr), 0u);
    EXPECT_STREQ(buf, "");
}

TEST(LogMask, FromText) {
    struct {
        const char *text;
        uint32_t mask;
    } cases[] = {
        {"yes", 0x1F},     {"YES", 0x1F},     {"True", 0x1F},   {"on", 0x1F},    {" yes ", 0x1F},
        {"process", 0x3F}, {"Process", 0x3F}, {"onerror", 0x5F}, {"OnError", 0x5F}, {"error", 0x5F},
        {"no", 0},         {"OFF", 0},        {"16", 16},       {"0x10", 16},    {"0X3f", 0x3F},
        {"010", 8},        {"", 0},           {nullptr, 0},     {"junk", 0},     {"yesno", 0},
    };
    for (const auto &c : cases) EXPECT_EQ(spk_log_mask_from_text(c.text), c.mask) << (c.text ? c.text : "(null)");
}

// ---------------------------------------------------------------------------
// Trace records

std::string read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::string();
    std::stringstream ss;
    ss << in.rdbuf();
    return ss.str();
}

bool file_exists(const std::string &path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0;
}

std::string hex(unsigned long long v, int width = 0) {
    char b[32];
    snprintf(b, sizeof b, "%0*llX", width, v);
    return b;
}

std::string addr(const void *p) { return hex((unsigned long long)(uintptr_t)p, 16); }

std::string tid_hex() { return hex(spk_thread_id()); }

// Replaces the seconds of every "[TIME=<digits>." with "S", checking they
// are close to now, so whole records can be compared.
std::string mask_time(std::string text) {
    size_t at = 0;
    while ((at = text.find("[TIME=", at)) != std::string::npos) {
        size_t start = at + 6, end = start;
        while (end < text.size() && isdigit((unsigned char)text[end])) end++;
        long long secs = atoll(text.substr(start, end - start).c_str());
        EXPECT_LE(std::llabs(secs - (long long)time(nullptr)), 5) << text;
        text.replace(start, end - start, "S");
        at = start;
    }
    return text;
}

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char tmpl[] = "/tmp/tarn_log_XXXXXX";
        ASSERT_NE(mkdtemp(tmpl), nullptr);
        dir_ = tmpl;
        spk_log_ring_reset();
        init_env(&env_);
        init_conn(&conn_, &env_);
        init_child(&stmt_, SPK_STATEMENT_HANDLE, &conn_);
        init_child(&desc_, SPK_DESCRIPTOR_HANDLE, &conn_);
        set_flags(0);
    }
    void TearDown() override {
        spk_log_ring_reset();
        free_env(&env_);
        delete conn_.lock;
        delete conn_.child_lock;
        delete stmt_.lock;
        delete desc_.lock;
        remove_dir(dir_);
    }

    static void init_env(SpkEnvironment *env) {
        env->tag = SPK_ENVIRONMENT_HANDLE;
        env->odbc_version = 2;
        env->list_lock = new SpkLock;
        env->lock = new SpkLock;
        env->log_lock = new SpkLock;
    }
    static void free_env(SpkEnvironment *env) {
        delete env->list_lock;
        delete env->lock;
        delete env->log_lock;
    }
    static void init_conn(SpkConnection *conn, SpkEnvironment *env) {
        conn->tag = SPK_CONNECTION_HANDLE;
        conn->parent = env;
        conn->col_length = 256;
        conn->child_lock = new SpkLock;
        conn->lock = new SpkLock;
    }
    template <typename H> static void init_child(H *h, uint32_t tag, SpkConnection *conn) {
        h->tag = tag;
        h->parent = conn;
        h->lock = new SpkLock;
    }
    static void remove_dir(const std::string &dir) {
        if (DIR *d = opendir(dir.c_str())) {
            while (dirent *e = readdir(d)) {
                if (strcmp(e->d_name, ".") && strcmp(e->d_name, "..")) unlink((dir + "/" + e->d_name).c_str());
            }
            closedir(d);
        }
        rmdir(dir.c_str());
    }

    void set_flags(uint32_t flags) { conn_.log_flags = stmt_.log_flags = desc_.log_flags = flags; }
    std::string set_file(const char *name) {
        std::string path = dir_ + "/" + name;
        snprintf(conn_.log_file, sizeof conn_.log_file, "%s", path.c_str());
        return path;
    }
    // The header of a file-mode record for this test's statement.
    std::string header(const void *h, const char *kind, const char *mode_text, int line = 42) {
        return "TARNLOG:[TID=" + tid_hex() + "][TIME=S.000000][spk_test.cpp:" + std::to_string(line) + "][" +
               addr(h) + kind + "]\n\t\t" + mode_text + " ";
    }

    std::string dir_;
    SpkEnvironment env_{};
    SpkConnection conn_{};
    SpkStatement stmt_{};
    SpkDescriptor desc_{};
};

TEST_F(LogTest, FileRecordHeaderAndAppend) {
    std::string path = set_file("t.log");
    set_flags(0x1F);
    spk_log(&stmt_, "/src/driver/core/spk_test.cpp", 42, LOG_ENTRY, "SQLFreeStmt: statement_handle=%p, option=%d",
            (void *)&stmt_, 0);
    spk_log(&stmt_, "C:\\src\\spk_test.cpp", 43, LOG_EXIT, "SQLFreeStmt: return value=%r", 100);
    std::string want = header(&stmt_, "(STMT)", "ENTRY:\t") + "SQLFreeStmt: statement_handle=" + addr(&stmt_) +
                       ", option=0\n" + header(&stmt_, "(STMT)", "EXIT:\t", 43) +
                       "SQLFreeStmt: return value=SQL_NO_DATA\n";
    EXPECT_EQ(mask_time(read_file(path)), want);
}

TEST_F(LogTest, ModeAndKindTexts) {
    std::string path = set_file("modes.log");
    set_flags(0x1F);
    struct {
        const void *h;
        const char *kind;
        uint32_t mode;
        const char *text;
    } cases[] = {
        {&stmt_, "(STMT)", LOG_ENTRY, "ENTRY:\t"},   {&conn_, "(CONN)", LOG_EXIT, "EXIT:\t"},
        {&desc_, "(DESC)", LOG_DETAIL, "DETAIL:\t"}, {&stmt_, "(STMT)", LOG_ERROR, "ERROR:\t"},
        {&stmt_, "(STMT)", LOG_PKTDUMP, "PKTDUMP:\t"},
        // A combined mode passes the gate but has no name of its own.
        {&stmt_, "(STMT)", LOG_ENTRY | LOG_EXIT, "UNKNOWN MODE"},
    };
    std::string want;
    for (const auto &c : cases) {
        spk_log(c.h, "spk_test.cpp", 42, c.mode, "m");
        want += header(c.h, c.kind, c.text) + "m\n";
    }
    EXPECT_EQ(mask_time(read_file(path)), want);
}

TEST_F(LogTest, Gating) {
    struct {
        uint32_t flags;
        uint32_t mode;
        bool written;
    } cases[] = {
        {0x1F, LOG_ENTRY, true},           {LOG_EXIT, LOG_ENTRY, false},        {LOG_ENTRY, LOG_ENTRY, true},
        {LOG_DETAIL, LOG_ERROR, false},    {LOG_ERROR, LOG_ERROR, true},        {0, LOG_ERROR, false},
        {LOG_DETAIL, LOG_CONTINUATION, true}, {0x1B, LOG_CONTINUATION, false},
        {LOG_PER_THREAD_FILE, LOG_PER_THREAD_FILE, true},  // any common bit counts
        {LOG_ENTRY, LOG_ENTRY | LOG_ERROR, true},
    };
    int n = 0;
    for (const auto &c : cases) {
        std::string path = set_file(("g" + std::to_string(n++) + ".log").c_str());
        set_flags(c.flags);
        spk_log(&stmt_, "spk_test.cpp", 1, c.mode, "gated");
        if (c.flags & LOG_PER_THREAD_FILE) {
            path += "." + hex(spk_process_id(), 8) + "." + hex(spk_thread_id(), 8);
        }
        EXPECT_EQ(file_exists(path), c.written) << "flags " << c.flags << " mode " << c.mode;
    }
}

TEST_F(LogTest, EnvironmentAndOrphanHandlesWriteNothing) {
    std::string path = set_file("env.log");
    env_.log_flags = 0x1F;   // never the case in the driver, but must still be ignored
    spk_log(&env_, "spk_test.cpp", 1, LOG_ERROR, "env");
    SpkStatement orphan{};
    orphan.tag = SPK_STATEMENT_HANDLE;
    orphan.log_flags = 0x1F;
    spk_log(&orphan, "spk_test.cpp", 1, LOG_ERROR, "orphan");
    SpkHandle unknown{};
    unknown.tag = 0x1234;
    unknown.log_flags = 0x1F;
    spk_log(&unknown, "spk_test.cpp", 1, LOG_ERROR, "unknown");
    spk_log(nullptr, "spk_test.cpp", 1, LOG_ERROR, "null");
    spk_log_data(&env_, "spk_test.cpp", 1, LOG_PKTDUMP, "ab", 2, "env");
    EXPECT_FALSE(file_exists(path));
}

TEST_F(LogTest, ContinuationHeaders) {
    std::string path = set_file("cont.log");
    set_flags(0x1F);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_CONTINUATION, "more %d", 2);
    spk_log_data(&stmt_, "spk_test.cpp", 1, LOG_CONTINUATION, nullptr, 0, "data");
    EXPECT_EQ(read_file(path), "\t\t[TID=" + tid_hex() + "]+\t more 2\n\t\t+\t data\n");
}

TEST_F(LogTest, RecordLimitedTo2048Bytes) {
    std::string path = set_file("long.log");
    set_flags(0x1F);
    std::string big(5000, 'x');
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_DETAIL, "%s", big.c_str());
    std::string text = read_file(path);
    ASSERT_FALSE(text.empty());
    EXPECT_EQ(text.back(), '\n');
    EXPECT_LE(text.size(), (size_t)SPK_LOG_RECORD_MAX);
    EXPECT_EQ(text.substr(text.size() - 4), "...\n");
}

TEST_F(LogTest, StandardErrorWhenNoFileIsNamed) {
    set_flags(0x1F);
    std::string cap = dir_ + "/stderr.txt";
    fflush(stderr);
    int saved = dup(2);
    int fd = open(cap.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 2);
    close(fd);
    spk_log(&stmt_, "spk_test.cpp", 42, LOG_ENTRY, "to stderr %d", 5);
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    EXPECT_EQ(mask_time(read_file(cap)), header(&stmt_, "(STMT)", "ENTRY:\t") + "to stderr 5\n");
}

TEST_F(LogTest, PerThreadFileNames) {
    std::string base = set_file("x.log");
    set_flags(0x3F);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ENTRY, "main");
    uint64_t other_tid = 0;
    std::thread t([&] {
        other_tid = spk_thread_id();
        spk_log(&stmt_, "spk_test.cpp", 1, LOG_ENTRY, "other");
    });
    t.join();
    std::string pid = hex(spk_process_id(), 8);
    std::string mine = base + "." + pid + "." + hex(spk_thread_id(), 8);
    std::string theirs = base + "." + pid + "." + hex(other_tid, 8);
    ASSERT_NE(mine, theirs);
    EXPECT_NE(read_file(mine).find("main\n"), std::string::npos);
    EXPECT_NE(read_file(theirs).find("other\n"), std::string::npos);
    EXPECT_EQ(read_file(mine).find("other"), std::string::npos);
    EXPECT_FALSE(file_exists(base));
}

TEST_F(LogTest, UnopenableFileDropsTheRecord) {
    set_file("missing/dir/x.log");
    set_flags(0x5F & ~LOG_IN_MEMORY);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ERROR, "lost");
    spk_log_data(&stmt_, "spk_test.cpp", 1, LOG_PKTDUMP, "ab", 2, "lost");
    EXPECT_FALSE(file_exists(dir_ + "/missing"));
}

TEST_F(LogTest, FileNameFillingTheWholeArrayIsNotOverread) {
    // 256 bytes without a terminator: the name is taken as those 256 bytes.
    std::string prefix = dir_ + "/";
    ASSERT_LT(prefix.size(), 100u);
    std::string name(sizeof conn_.log_file - prefix.size(), 'n');
    memcpy(conn_.log_file, (prefix + name).data(), sizeof conn_.log_file);
    set_flags(0x1F);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ENTRY, "full name");
    EXPECT_NE(read_file(prefix + name).find("full name"), std::string::npos);
}

TEST_F(LogTest, DataRecordsNeedPacketDump) {
    std::string path = set_file("data.log");
    set_flags(0x0F);
    spk_log_data(&stmt_, "spk_test.cpp", 42, LOG_DETAIL, "abcd", 4, "no dump");
    EXPECT_FALSE(file_exists(path));
    set_flags(LOG_PKTDUMP);
    spk_log_data(&stmt_, "spk_test.cpp", 42, LOG_DETAIL, "abcd", 0, "dump %d", 0);
    EXPECT_EQ(mask_time(read_file(path)), header(&stmt_, "(STMT)", "DETAIL:\t") + "dump 0\n");
}

TEST_F(LogTest, HexDumpLayout) {
    const std::string ten(10, ' ');
    const unsigned char twenty[20] = {'G', 'E', 'T', ' ', '/', 'x', '\r', '\n', 0x00, 0x7F,
                                      0x80, 0xFF, 'H', 'e', 'l', 'l', 'o', 0, 0, 0};
    unsigned char sixteen[16];
    for (int i = 0; i < 16; i++) sixteen[i] = (unsigned char)('A' + i);
    struct {
        const unsigned char *data;
        size_t count;
        std::string dump;
    } cases[] = {
        {twenty, 20,
         "\n" + ten + "47 45 54 20 2F 78 0D 0A 00 7F 80 FF 48 65 6C 6C   GET /x......Hell\n" + ten +
             "6F 00 00 00 " + std::string(36, ' ') + "  o...\n\n"},
        {sixteen, 16,
         "\n" + ten + "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGHIJKLMNOP\n" + ten + "\n"},
        {sixteen, 1, "\n" + ten + "41 " + std::string(45, ' ') + "  A\n\n"},
    };
    set_flags(LOG_PKTDUMP);
    int n = 0;
    for (const auto &c : cases) {
        std::string path = set_file(("dump" + std::to_string(n++) + ".log").c_str());
        spk_log_data(&stmt_, "spk_test.cpp", 42, LOG_PKTDUMP, c.data, c.count, "sent %d", (int)c.count);
        EXPECT_EQ(mask_time(read_file(path)),
                  header(&stmt_, "(STMT)", "PKTDUMP:\t") + "sent " + std::to_string(c.count) + "\n" + c.dump)
            << "count " << c.count;
    }
}

// ---------------------------------------------------------------------------
// In-memory ring

std::string stars() { return std::string(100, '*') + "\n"; }
std::string blank_banner() { return "*" + std::string(98, ' ') + "*\n"; }
std::string banner(const char *title) {
    std::string mid = title;
    mid.resize(99, ' ');
    return stars() + blank_banner() + mid + "*\n" + blank_banner() + stars();
}

TEST_F(LogTest, RingKeepsRecordsUntilAnErrorIsTraced) {
    std::string path = set_file("ring.log");
    set_flags(0x5F);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ENTRY, "first");
    spk_log(&conn_, "spk_test.cpp", 2, LOG_DETAIL, "second");
    spk_log(&stmt_, "spk_test.cpp", 3, LOG_CONTINUATION, "third");
    spk_log(&stmt_, "spk_test.cpp", 4, LOG_EXIT, "fourth");
    EXPECT_FALSE(file_exists(path));
    EXPECT_EQ(spk_log_ring_size(), 4u);

    spk_log(&stmt_, "spk_test.cpp", 5, LOG_ERROR, "failed %d", 7);
    EXPECT_EQ(spk_log_ring_size(), 0u);

    std::string text = read_file(path);
    std::string start = banner("*   Start of log dump"), end = banner("*   End of log dump");
    ASSERT_GT(text.size(), start.size() + end.size());
    EXPECT_EQ(text.substr(0, start.size()), start);
    EXPECT_EQ(text.substr(text.size() - end.size()), end);
    std::string body = text.substr(start.size(), text.size() - start.size() - end.size());
    // In memory the time is seconds and milliseconds.
    std::string masked;
    for (size_t at = 0;;) {
        size_t t = body.find("[TIME=", at);
        if (t == std::string::npos) {
            masked += body.substr(at);
            break;
        }
        size_t dot = body.find('.', t), close = body.find(']', t);
        ASSERT_NE(close, std::string::npos);
        EXPECT_EQ(close - dot - 1, 3u) << body.substr(t, close - t);
        masked += body.substr(at, t - at) + "[TIME=S.mmm";
        at = close;
    }
    std::string tid = tid_hex();
    auto head = [&](const void *h, const char *kind, int line, const char *mode) {
        return "TARNLOG:[TID=" + tid + "][TIME=S.mmm][spk_test.cpp:" + std::to_string(line) + "][" + addr(h) + kind +
               "]\n\t\t" + mode + " ";
    };
    EXPECT_EQ(masked, head(&stmt_, "(STMT)", 1, "ENTRY:\t") + "first\n" + head(&conn_, "(CONN)", 2, "DETAIL:\t") +
                          "second\n\t\t[TID=" + tid + "]+\t third\n" + head(&stmt_, "(STMT)", 4, "EXIT:\t") +
                          "fourth\n" + head(&stmt_, "(STMT)", 5, "ERROR:\t") + "failed 7\n");

    // The ring starts again empty; the next error dumps only what came since.
    spk_log(&stmt_, "spk_test.cpp", 6, LOG_ENTRY, "later");
    spk_log(&stmt_, "spk_test.cpp", 7, LOG_ERROR, "again");
    std::string second = read_file(path).substr(text.size());
    EXPECT_EQ(second.find("first"), std::string::npos);
    EXPECT_NE(second.find("later\n"), std::string::npos);
    EXPECT_EQ(second.substr(0, start.size()), start);
}

TEST_F(LogTest, RingHoldsDumpLinesAndDataRecordsNeverDump) {
    std::string path = set_file("ringdata.log");
    set_flags(0x5F);
    const unsigned char bytes[20] = {'A', 'B', 'C', 'D', 'E', 'F', 'G', 'H', 'I', 'J',
                                     'K', 'L', 'M', 'N', 'O', 'P', 0x01, 'Q', 'R', 0xFE};
    spk_log_data(&stmt_, "spk_test.cpp", 1, LOG_ERROR, bytes, sizeof bytes, "token");
    // Record, empty entry, two dump lines, empty entry.
    EXPECT_EQ(spk_log_ring_size(), 5u);
    EXPECT_FALSE(file_exists(path));
    spk_log_dump();
    std::string text = read_file(path);
    const std::string ten(10, ' ');
    std::string lines = "\n" + ten + "41 42 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50   ABCDEFGHIJKLMNOP\n" + ten +
                        "01 51 52 FE " + std::string(36, ' ') + "  .QR.\n\n";
    EXPECT_NE(text.find("token\n" + lines + banner("*   End of log dump")), std::string::npos) << text;
    EXPECT_EQ(spk_log_ring_size(), 0u);
}

TEST_F(LogTest, RingDumpGoesWhereTheRingWasCreated) {
    std::string first = set_file("first.log");
    set_flags(0x5F);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ENTRY, "from first");

    SpkEnvironment env2{};
    init_env(&env2);
    SpkConnection conn2{};
    init_conn(&conn2, &env2);
    conn2.log_flags = 0x5F;
    std::string second = dir_ + "/second.log";
    snprintf(conn2.log_file, sizeof conn2.log_file, "%s", second.c_str());
    spk_log(&conn2, "spk_test.cpp", 2, LOG_ERROR, "from second");

    EXPECT_FALSE(file_exists(second));
    std::string text = read_file(first);
    EXPECT_LT(text.find("from first"), text.find("from second"));
    EXPECT_NE(text.find("from second"), std::string::npos);
    delete conn2.lock;
    delete conn2.child_lock;
    free_env(&env2);
}

TEST_F(LogTest, RingToStandardErrorAndUnopenableDumpKeepsRecords) {
    set_file("missing/ring.log");
    set_flags(0x5F);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ENTRY, "kept");
    spk_log(&stmt_, "spk_test.cpp", 2, LOG_ERROR, "not written");
    EXPECT_EQ(spk_log_ring_size(), 2u);

    // A ring created with no file name dumps to the standard error stream.
    spk_log_ring_reset();
    conn_.log_file[0] = 0;
    std::string cap = dir_ + "/stderr.txt";
    fflush(stderr);
    int saved = dup(2);
    int fd = open(cap.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ASSERT_GE(fd, 0);
    dup2(fd, 2);
    close(fd);
    spk_log(&stmt_, "spk_test.cpp", 3, LOG_ERROR, "to stderr");
    fflush(stderr);
    dup2(saved, 2);
    close(saved);
    std::string text = read_file(cap);
    EXPECT_EQ(text.substr(0, 101), stars());
    EXPECT_NE(text.find("to stderr\n"), std::string::npos);
}

TEST_F(LogTest, RingKeepsTheLatest99999Records) {
    std::string path = set_file("wrap.log");
    set_flags(0x5F);
    const int total = SPK_LOG_RING_SLOTS + 1;
    for (int i = 1; i <= total; i++) spk_log(&stmt_, "spk_test.cpp", 1, LOG_DETAIL, "r%d", i);
    EXPECT_EQ(spk_log_ring_size(), (size_t)SPK_LOG_RING_SLOTS - 1);
    spk_log(&stmt_, "spk_test.cpp", 1, LOG_ERROR, "r%d", total + 1);
    std::string text = read_file(path);
    // 100002 records were written; the ring held the last 99999: r4 .. r100002.
    EXPECT_EQ(text.find(" r3\n"), std::string::npos);
    size_t first = text.find(" r4\n");
    ASSERT_NE(first, std::string::npos);
    EXPECT_LT(first, text.find(" r5\n"));
    EXPECT_NE(text.find(" r100002\n"), std::string::npos);
    size_t records = 0;
    for (size_t at = 0; (at = text.find("TARNLOG:", at)) != std::string::npos; at++) records++;
    EXPECT_EQ(records, (size_t)SPK_LOG_RING_SLOTS - 1);
}

TEST_F(LogTest, RingSharedByEnvironmentsOnManyThreads) {
    set_file("threads.log");
    set_flags(0x5F & ~LOG_ERROR);
    SpkEnvironment env2{};
    init_env(&env2);
    SpkConnection conn2{};
    init_conn(&conn2, &env2);
    conn2.log_flags = 0x5F & ~LOG_ERROR;
    const int per_thread = 2000;
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; t++) {
        const void *h = t % 2 ? (const void *)&conn2 : (const void *)&stmt_;
        threads.emplace_back([h] {
            for (int i = 0; i < per_thread; i++) spk_log(h, "spk_test.cpp", 1, LOG_DETAIL, "n%d", i);
        });
    }
    for (auto &t : threads) t.join();
    EXPECT_EQ(spk_log_ring_size(), (size_t)4 * per_thread);
    delete conn2.lock;
    delete conn2.child_lock;
    free_env(&env2);
}

}  // namespace
