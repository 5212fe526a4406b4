// Trace log: the byte-buffer formatter, trace records to a file or the
// standard error stream, and the process-wide in-memory ring that is written
// out when an error is traced.
//
// Tracing must never disturb the call it describes: nothing here posts a
// diagnostic, changes a return code or lets an exception escape.
#include "spk_log.h"

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>

#include "spk_handles.h"
#include "spk_platform.h"
#include "spk_string.h"

// ---------------------------------------------------------------------------
// Formatter

namespace {

// Room that must be left before a literal byte or a conversion is started:
// enough for the widest fixed conversion plus its terminator.
constexpr size_t kCutRoom = 21;
// Room that text of variable length (%s, %q, %Q, %T, %S) leaves untouched, so
// the closing "..." and the quoted-text trailer always fit.
constexpr size_t kReserve = 20;

struct Out {
    char *buf;
    size_t size;
    size_t pos;      // bytes written; buf[pos] is where the terminator goes
    bool stopped;    // the cut-off has been reached: nothing more is written

    size_t room() const { return size - pos; }

    // Raw append, clamped so that one byte always stays for the terminator.
    void put(const char *text, size_t n) {
        if (stopped) return;
        size_t avail = room() - 1;
        if (n > avail) n = avail;
        memcpy(buf + pos, text, n);
        pos += n;
    }
    void put(const char *text) { put(text, strlen(text)); }

    // Writes as much of "..." as fits and stops all further output.
    void cut() {
        if (stopped) return;
        put("...", 3);
        stopped = true;
    }

    // The test made before every literal byte and every conversion.
    bool ready() {
        if (stopped) return false;
        if (room() < kCutRoom) {
            cut();
            return false;
        }
        return true;
    }

    // A piece that is written whole or not at all (then the output is cut).
    void atom(const char *text, size_t n) {
        if (stopped) return;
        if (n + 1 > room()) {
            cut();
            return;
        }
        put(text, n);
    }
    void atom(const char *text) { atom(text, strlen(text)); }

    // Whether a piece of `n` bytes of variable-length text still fits while
    // keeping the reserve.
    bool fits(size_t n) const { return !stopped && room() >= kReserve && n <= room() - kReserve; }
};

const char *return_code_name(int rc) {
    switch (rc) {
    case -1: return "SQL_ERROR";
    case 0: return "SQL_SUCCESS";
    case 1: return "SQL_SUCCESS_WITH_INFO";
    case 100: return "SQL_NO_DATA";
    case 101: return "SQL_PARAM_DATA_AVAILABLE";
    default: return nullptr;
    }
}

// One byte of %s / %q text: itself, or "\xNN" from 0x80 up (and for a 0
// byte inside counted text, which would otherwise end the record early).
size_t byte_piece(unsigned char c, char *piece) {
    if (c >= 0x80 || c == 0) return (size_t)snprintf(piece, 8, "\\x%02X", c);
    piece[0] = (char)c;
    return 1;
}

// One unit of %Q / %T / %S text: itself, or "\xNNNN" from 0x80 up (and 0).
size_t unit_piece(spk_unit u, char *piece) {
    if (u >= 0x80 || u == 0) return (size_t)snprintf(piece, 8, "\\x%04X", (unsigned)u);
    piece[0] = (char)u;
    return 1;
}

void format_bytes(Out *o, const char *s) {
    if (!s) {
        o->atom("(nul)");
        return;
    }
    char piece[8];
    for (; *s; s++) {
        size_t n = byte_piece((unsigned char)*s, piece);
        if (!o->fits(n)) {
            o->cut();
            return;
        }
        o->put(piece, n);
    }
}

// %q (wide == false) and %Q / %T (wide == true).
void format_quoted(Out *o, const void *text, int length, bool wide) {
    char tail[32];
    if (!text) {
        if (length == SQL_NTS)
            o->atom("(nul)[SQL_NTS]");
        else {
            snprintf(tail, sizeof tail, "(nul)[%d]", length);
            o->atom(tail);
        }
        return;
    }
    o->atom("'");
    bool cut = false;
    // Any other negative length names no characters.
    size_t count = length == SQL_NTS ? SIZE_MAX : length > 0 ? (size_t)length : 0;
    char piece[8];
    for (size_t i = 0; i < count; i++) {
        unsigned v = wide ? ((const spk_unit *)text)[i] : ((const unsigned char *)text)[i];
        if (length == SQL_NTS && v == 0) break;
        size_t n = wide ? unit_piece((spk_unit)v, piece) : byte_piece((unsigned char)v, piece);
        if (!o->fits(n)) {
            cut = true;
            break;
        }
        o->put(piece, n);
    }
    if (length == SQL_NTS)
        snprintf(tail, sizeof tail, "%s'[SQL_NTS]", cut ? "..." : "");
    else
        snprintf(tail, sizeof tail, "%s'[%d]", cut ? "..." : "", length);
    o->atom(tail);
}

void format_spk_string(Out *o, const SpkString *s) {
    char piece[8];
    bool cut = false;
    if (!s) o->atom("(nul)");
    for (uint32_t i = 0; s && s->units && i < s->length && s->units[i] != 0; i++) {
        size_t n = unit_piece(s->units[i], piece);
        if (!o->fits(n)) {
            cut = true;
            break;
        }
        o->put(piece, n);
    }
    if (cut) {
        o->cut();
        return;
    }
    // Close to the end of the buffer: say that the text may go on.
    if (!o->stopped && o->room() <= 40) o->put("...", 3);
}

}  // namespace

size_t spk_vformat(char *buffer, size_t size, const char *format, va_list args) {
    Out o{buffer, size, 0, buffer == nullptr || size == 0};
    if (format) {
        char num[48];
        for (const char *f = format; *f; f++) {
            if (*f != '%') {
                if (o.ready()) o.put(f, 1);
                continue;
            }
            char conv = *++f;
            if (conv == 0) break;
            // Arguments are taken whether or not there is room left, so that
            // the rest of the format stays in step with them.
            switch (conv) {
            case 'd': {
                int v = va_arg(args, int);
                if (o.ready()) o.atom(num, (size_t)snprintf(num, sizeof num, "%d", v));
                break;
            }
            case 'u': {
                unsigned v = va_arg(args, unsigned);
                if (o.ready()) o.atom(num, (size_t)snprintf(num, sizeof num, "%u", v));
                break;
            }
            case 'x':
            case 'L': {
                unsigned v = va_arg(args, unsigned);
                if (o.ready()) o.atom(num, (size_t)snprintf(num, sizeof num, "%x", v));
                break;
            }
            case 'X': {
                unsigned v = va_arg(args, unsigned);
                if (o.ready()) o.atom(num, (size_t)snprintf(num, sizeof num, "%X", v));
                break;
            }
            case 'l': {
                long long v = va_arg(args, long long);
                if (o.ready()) o.atom(num, (size_t)snprintf(num, sizeof num, "%lld", v));
                break;
            }
            case 'c': {
                char c = (char)va_arg(args, int);
                if (o.ready()) o.atom(&c, 1);
                break;
            }
            case 'p': {
                const void *p = va_arg(args, const void *);
                if (o.ready())
                    o.atom(num, (size_t)snprintf(num, sizeof num, "%016llX",
                                                 (unsigned long long)(uintptr_t)p));
                break;
            }
            case 'r': {
                int rc = va_arg(args, int);
                if (!o.ready()) break;
                const char *name = return_code_name(rc);
                if (name)
                    o.atom(name);
                else
                    o.atom(num, (size_t)snprintf(num, sizeof num, "%d", rc));
                break;
            }
            case 's': {
                const char *s = va_arg(args, const char *);
                if (o.ready()) format_bytes(&o, s);
                break;
            }
            case 'q':
            case 'Q':
            case 'T': {
                const void *text = va_arg(args, const void *);
                int length = va_arg(args, int);
                if (o.ready()) format_quoted(&o, text, length, conv != 'q');
                break;
            }
            case 'S': {
                const SpkString *s = va_arg(args, const SpkString *);
                if (o.ready()) format_spk_string(&o, s);
                break;
            }
            case '%':
                if (o.ready()) o.put("%", 1);
                break;
            default:
                // Unknown conversion: no argument is taken and nothing is
                // written (a driver has no business printing on its host's
                // standard output).
                break;
            }
        }
    }
    if (buffer && size > 0) buffer[o.pos] = 0;
    return o.pos;
}

size_t spk_sformat(char *buffer, size_t size, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    size_t n = spk_vformat(buffer, size, format, ap);
    va_end(ap);
    return n;
}

// ---------------------------------------------------------------------------
// Trace records

namespace {

const char *mode_text(uint32_t mode) {
    switch (mode) {
    case LOG_ENTRY: return "ENTRY:\t";
    case LOG_EXIT: return "EXIT:\t";
    case LOG_DETAIL: return "DETAIL:\t";
    case LOG_ERROR: return "ERROR:\t";
    case LOG_PKTDUMP: return "PKTDUMP:\t";
    case LOG_CONTINUATION: return "+\t";
    default: return "UNKNOWN MODE";
    }
}

const char *kind_text(const void *handle) {
    switch (((const SpkHandle *)handle)->tag) {
    case SPK_ENVIRONMENT_HANDLE: return "(ENV)";
    case SPK_CONNECTION_HANDLE: return "(CONN)";
    case SPK_STATEMENT_HANDLE: return "(STMT)";
    case SPK_DESCRIPTOR_HANDLE: return "(DESC)";
    default: return "";
    }
}

// The file part of a source path: records name "spk_log.cpp", not the
// build machine's directory layout.
const char *base_name(const char *path) {
    if (!path) return "";
    const char *b = path;
    for (const char *p = path; *p; p++)
        if (*p == '/' || *p == '\\') b = p + 1;
    return b;
}

// Where records go: the standard error stream for an empty name, otherwise
// the named file, or its per-thread variant.  `per_thread` is the
// LOG_PER_THREAD_FILE bit.
struct Dest {
    FILE *f;
    bool is_stderr;
};

Dest open_dest(const char *log_file, size_t cap, bool per_thread) {
    size_t len = strnlen(log_file, cap);
    if (len == 0) return {stderr, true};
    char path[512];
    if (per_thread)
        snprintf(path, sizeof path, "%.*s.%08X.%08llX", (int)len, log_file, (unsigned)spk_process_id(),
                 (unsigned long long)spk_thread_id());
    else
        snprintf(path, sizeof path, "%.*s", (int)len, log_file);
    return {spk_open_private_append(path), false};
}

void close_dest(Dest d) {
    if (!d.f) return;
    if (d.is_stderr)
        fflush(d.f);
    else
        fclose(d.f);
}

// Header and message of one record into `rec` (SPK_LOG_RECORD_MAX bytes).
void build_record(char *rec, const void *handle, const char *source_file, int line, uint32_t mode,
                  bool data_record, bool in_memory, const char *format, va_list args) {
    const size_t size = SPK_LOG_RECORD_MAX;
    const char *mt = mode_text(mode);
    unsigned long long tid = (unsigned long long)spk_thread_id();
    int n;
    if (mode == LOG_CONTINUATION) {
        if (data_record)
            n = snprintf(rec, size, "\t\t%s ", mt);
        else
            n = snprintf(rec, size, "\t\t[TID=%llX]%s ", tid, mt);
    } else {
        int64_t seconds = 0;
        int32_t micro = 0;
        spk_clock_now(&seconds, &micro);
        unsigned long long addr = (unsigned long long)(uintptr_t)handle;
        if (in_memory)
            n = snprintf(rec, size, "TARNLOG:[TID=%llX][TIME=%lld.%03d][%s:%d][%016llX%s]\n\t\t%s ", tid,
                         (long long)seconds, (int)(micro / 1000), base_name(source_file), line, addr,
                         kind_text(handle), mt);
        else
            // The fraction field of the file header is always 0.
            n = snprintf(rec, size, "TARNLOG:[TID=%llX][TIME=%lld.%06d][%s:%d][%016llX%s]\n\t\t%s ", tid,
                         (long long)seconds, 0, base_name(source_file), line, addr, kind_text(handle), mt);
    }
    size_t used = n < 0 ? 0 : (size_t)n < size ? (size_t)n : size - 1;
    rec[used] = 0;
    spk_vformat(rec + used, size - used, format, args);
}

// A dumped byte as a character: itself when printable ASCII, else ".".
char printable(unsigned char b) { return b >= 0x20 && b < 0x7F ? (char)b : '.'; }

// One line of a hex dump as kept in the ring: ten blanks, the bytes as hex,
// padding for a short line, two blanks and the bytes as characters.
// `line` must hold 80 bytes.
void dump_line(char *line, const unsigned char *bytes, size_t n) {
    size_t pos = 0;
    memset(line, ' ', 10);
    pos = 10;
    for (size_t i = 0; i < 16; i++) {
        if (i < n)
            snprintf(line + pos, 4, "%02X ", bytes[i]);
        else
            memcpy(line + pos, "   ", 3);
        pos += 3;
    }
    line[pos++] = ' ';
    line[pos++] = ' ';
    for (size_t i = 0; i < n; i++) line[pos++] = printable(bytes[i]);
    line[pos] = 0;
}

// The hex dump that follows a record in the trace file.
void write_dump(FILE *f, const unsigned char *data, size_t count) {
    fputs("\n          ", f);
    char chars[17];
    size_t i;
    for (i = 0; i < count; i++) {
        fprintf(f, "%02X ", data[i]);
        chars[i % 16] = printable(data[i]);
        if (i % 16 == 15) {
            chars[16] = 0;
            fprintf(f, "  %s\n          ", chars);
        }
    }
    size_t rest = count % 16;
    if (rest) {
        for (size_t k = rest; k < 16; k++) fputs("   ", f);
        chars[rest] = 0;
        fprintf(f, "  %s\n", chars);
    }
    fputs("\n", f);
}

// ---------------------------------------------------------------------------
// The in-memory ring, shared by every environment of the process.

struct Ring {
    char **slots;         // null until first use
    size_t write_index;
    size_t read_index;
    char file[sizeof(SpkConnection::log_file)];
    bool per_thread;
};

Ring g_ring;
// Taken inside an environment's log_lock; nothing is taken while holding it.
std::mutex g_ring_mutex;

constexpr size_t kSlots = SPK_LOG_RING_SLOTS;

bool ring_create(const SpkConnection *conn, uint32_t flags) {
    if (g_ring.slots) return true;
    g_ring.slots = (char **)calloc(kSlots, sizeof(char *));
    if (!g_ring.slots) return false;
    g_ring.write_index = 0;
    g_ring.read_index = 0;
    size_t len = strnlen(conn->log_file, sizeof conn->log_file);
    if (len >= sizeof g_ring.file) len = sizeof g_ring.file - 1;
    memcpy(g_ring.file, conn->log_file, len);
    g_ring.file[len] = 0;
    g_ring.per_thread = (flags & LOG_PER_THREAD_FILE) != 0;
    return true;
}

void ring_add(const char *text) {
    size_t len = strlen(text);
    char *copy = (char *)malloc(len + 1);
    if (!copy) return;
    memcpy(copy, text, len + 1);
    char **slot = &g_ring.slots[g_ring.write_index];
    free(*slot);
    *slot = copy;
    g_ring.write_index = (g_ring.write_index + 1) % kSlots;
    if (g_ring.write_index == g_ring.read_index) {
        free(g_ring.slots[g_ring.read_index]);
        g_ring.slots[g_ring.read_index] = nullptr;
        g_ring.read_index = (g_ring.read_index + 1) % kSlots;
    }
}

void write_banner(FILE *f, const char *title) {
    char stars[101], blank[101], middle[101];
    memset(stars, '*', 100);
    stars[100] = 0;
    memset(blank, ' ', 100);
    blank[0] = blank[99] = '*';
    blank[100] = 0;
    memset(middle, ' ', 100);
    size_t tl = strlen(title);
    memcpy(middle, title, tl);
    middle[99] = '*';
    middle[100] = 0;
    fprintf(f, "%s\n%s\n%s\n%s\n%s\n", stars, blank, middle, blank, stars);
}

// Caller holds g_ring_mutex.
void ring_dump_locked() {
    if (!g_ring.slots) return;
    Dest d = open_dest(g_ring.file, sizeof g_ring.file, g_ring.per_thread);
    if (!d.f) return;
    write_banner(d.f, "*   Start of log dump");
    while (g_ring.read_index != g_ring.write_index) {
        char **slot = &g_ring.slots[g_ring.read_index];
        fprintf(d.f, "%s\n", *slot ? *slot : "");
        free(*slot);
        *slot = nullptr;
        g_ring.read_index = (g_ring.read_index + 1) % kSlots;
    }
    g_ring.read_index = 0;
    g_ring.write_index = 0;
    write_banner(d.f, "*   End of log dump");
    close_dest(d);
}

void ring_record(const SpkConnection *conn, uint32_t flags, const char *rec, const unsigned char *data,
                 size_t count, bool data_record, uint32_t mode) {
    std::lock_guard<std::mutex> guard(g_ring_mutex);
    if (!ring_create(conn, flags)) return;
    ring_add(rec);
    if (data_record && count > 0) {
        char line[80];
        ring_add("");
        for (size_t i = 0; i < count; i += 16) {
            dump_line(line, data + i, count - i < 16 ? count - i : 16);
            ring_add(line);
        }
        ring_add("");
    }
    if (!data_record && mode == LOG_ERROR) ring_dump_locked();
}

void write_record(const void *handle, const char *source_file, int line, uint32_t mode, bool data_record,
                  const void *data, size_t count, const char *format, va_list args) {
    const SpkHandle *h = (const SpkHandle *)handle;
    uint32_t flags = h->log_flags;
    SpkConnection *conn = spk_conn_of(handle);
    SpkEnvironment *env = spk_env_of(handle);
    if (!conn || !env) return;
    if (!data) count = 0;
    bool in_memory = (flags & LOG_IN_MEMORY) != 0;

    char rec[SPK_LOG_RECORD_MAX];
    build_record(rec, handle, source_file, line, mode, data_record, in_memory, format, args);

    std::unique_lock<SpkLock> env_guard;
    if (env->log_lock) env_guard = std::unique_lock<SpkLock>(*env->log_lock);

    if (in_memory) {
        ring_record(conn, flags, rec, (const unsigned char *)data, count, data_record, mode);
        return;
    }
    Dest d = open_dest(conn->log_file, sizeof conn->log_file, (flags & LOG_PER_THREAD_FILE) != 0);
    if (!d.f) return;
    fprintf(d.f, "%s\n", rec);
    if (data_record && count > 0) write_dump(d.f, (const unsigned char *)data, count);
    close_dest(d);
}

}  // namespace

void spk_log(const void *handle, const char *source_file, int line, uint32_t mode, const char *format, ...) {
    if (!handle) return;
    uint32_t flags = ((const SpkHandle *)handle)->log_flags;
    bool wanted = mode == LOG_CONTINUATION ? (flags & LOG_DETAIL) != 0 : (mode & flags) != 0;
    if (!wanted) return;
    va_list ap;
    va_start(ap, format);
    try {
        write_record(handle, source_file, line, mode, false, nullptr, 0, format, ap);
    } catch (...) {
    }
    va_end(ap);
}

void spk_log_data(const void *handle, const char *source_file, int line, uint32_t mode, const void *data,
                  size_t count, const char *format, ...) {
    if (!handle) return;
    if (!(((const SpkHandle *)handle)->log_flags & LOG_PKTDUMP)) return;
    va_list ap;
    va_start(ap, format);
    try {
        write_record(handle, source_file, line, mode, true, data, count, format, ap);
    } catch (...) {
    }
    va_end(ap);
}

void spk_log_dump() {
    try {
        std::lock_guard<std::mutex> guard(g_ring_mutex);
        ring_dump_locked();
    } catch (...) {
    }
}

void spk_log_ring_reset() {
    try {
        std::lock_guard<std::mutex> guard(g_ring_mutex);
        if (g_ring.slots) {
            for (size_t i = 0; i < kSlots; i++) free(g_ring.slots[i]);
            free(g_ring.slots);
        }
        g_ring = Ring{};
    } catch (...) {
    }
}

size_t spk_log_ring_size() {
    try {
        std::lock_guard<std::mutex> guard(g_ring_mutex);
        if (!g_ring.slots) return 0;
        return (g_ring.write_index + kSlots - g_ring.read_index) % kSlots;
    } catch (...) {
        return 0;
    }
}

// ---------------------------------------------------------------------------
// The Logging setting

uint32_t spk_log_mask_from_text(const char *text) {
    if (!text) return 0;
    while (*text == ' ' || *text == '\t') text++;
    size_t len = strlen(text);
    while (len > 0 && (text[len - 1] == ' ' || text[len - 1] == '\t')) len--;
    struct Word {
        const char *word;
        uint32_t mask;
    };
    static const Word words[] = {
        {"yes", 0x1F},     {"true", 0x1F},  {"on", 0x1F}, {"process", 0x3F},
        {"onerror", 0x5F}, {"error", 0x5F}, {"no", 0},     {"off", 0},
    };
    for (const Word &w : words) {
        if (strlen(w.word) != len) continue;
        size_t i = 0;
        while (i < len && tolower((unsigned char)text[i]) == w.word[i]) i++;
        if (i == len) return w.mask;
    }
    return (uint32_t)strtoul(text, nullptr, 0);
}
