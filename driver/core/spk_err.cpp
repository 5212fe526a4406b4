// Diagnostics: the error table, posting records on a handle in SQLSTATE
// order, server statuses, the readers behind SQLGetDiagRec(W) and
// SQLGetDiagField(W), and the writers that copy text results into
// application buffers (they post 01004 / HY090).
#include "core/spk_err.h"

#include <sql.h>
#include <sqlext.h>

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "core/spk_log.h"

namespace {

struct ErrorEntry {
    const char *sqlstate;
    const char *text;   // null: the entry has no text of its own
};

const ErrorEntry ERROR_TABLE[] = {
    {"HY000", "General error"},
    {"HY009", "Invalid use of null pointer"},
    {"HYC00", "Optional feature not implemented"},
    {"08001", "Client unable to establish connection"},
    {"HY001", "Memory allocation error"},
    {"08S01", "Communication link failure"},
    {"42000", nullptr},
    {"HY092", "Invalid attribute/option identifier"},
    {"07009", "Invalid descriptor index"},
    {"HY091", "Invalid descriptor field identifier"},
    {"07006", "Restricted data type access violation"},
    {"01004", "String data, right truncation"},
    {"07002", "COUNT field incorrect"},
    {"01S02", nullptr},
    {"HY024", "Invalid argument value"},
    {"HY011", "Operation invalid at this time"},
    {"22003", "Numeric value out of range"},
    {"22018", "Invalid character value for cast specification"},
    {"01S07", "Fractional truncation"},
    {"HY104", "Invalid precision value"},
    {"HY010", "Function sequence error"},
    {"HY090", "Invalid string or buffer length"},
    {"HY003", "Program type out of range"},
    {"HY106", "Fetch type out of range"},
    {"HY017", "Invalid use of an automatically allocated descriptor handle"},
    {"HY007", "Associated statement is not prepared"},
    {"HY016", "Cannot modify an implementation row descriptor"},
    {"HY105", "Invalid parameter type"},
    {"HY021", "Inconsistent descriptor information"},
    {"S1092", "Option type out of range"},
    {"S1011", "Operation invalid at this time"},
    {"S1009", "Invalid argument value"},
    {"HY004", "Invalid SQL data type"},
    {"22002", "Indicator variable required but not supplied"},
    // Standard ODBC states for conditions the table above does not cover.
    {"24000", "Invalid cursor state"},
    {"HY008", "Operation canceled"},
    {"HYT00", "Timeout expired"},
    {"HYT01", "Connection timeout expired"},
    {"28000", "Invalid authorization specification"},
    {"IM008", "Dialog failed"},
};

const size_t MESSAGE_BUFFER = 1024;

bool is_handle(const void *handle) {
    if (!handle) return false;
    uint32_t tag = static_cast<const SpkHandle *>(handle)->tag;
    return tag >= SPK_ENVIRONMENT_HANDLE && tag <= SPK_DESCRIPTOR_HANDLE;
}

bool valid_sqlstate(const char *s) { return s && strlen(s) == 5; }

void free_record(SpkError *e) {
    spk_str_free(e->sqlstate);
    spk_str_free(e->message);
    free(e);
}

// Descending SQLSTATE order; a new record goes after the ones equal to it.
int compare_state(const SpkString *a, const SpkString *b) {
    int la = spk_str_length(a), lb = spk_str_length(b);
    for (int i = 0; i < la && i < lb; i++) {
        if (a->units[i] != b->units[i]) return a->units[i] < b->units[i] ? -1 : 1;
    }
    return la == lb ? 0 : (la < lb ? -1 : 1);
}

void insert_sorted(SpkHandle *h, SpkError *e) {
    SpkError **link = &h->diagnostics;
    while (*link && compare_state((*link)->sqlstate, e->sqlstate) >= 0) link = &(*link)->next;
    e->next = *link;
    *link = e;
}

// Makes a record from a UTF-8 message text; null when memory runs out.
SpkError *make_record(const char *sqlstate, const char *message, size_t message_len, int32_t native,
                      int32_t column) {
    SpkError *e = static_cast<SpkError *>(calloc(1, sizeof(SpkError)));
    if (!e) return nullptr;
    e->native = native;
    e->row_number = 0;
    e->column_number = column;
    e->sqlstate = spk_str_from_latin1_n(sqlstate, 5);
    e->message = spk_str_from_utf8(message, (long)message_len);
    if (!e->sqlstate || !e->message) {
        free_record(e);
        return nullptr;
    }
    return e;
}

void post_record(void *handle, SpkError *e) {
    SpkHandle *h = static_cast<SpkHandle *>(handle);
    insert_sorted(h, e);
    SPK_LOG(h, LOG_DETAIL, "Posting Internal Error state='%S' text='%S', native=%d", e->sqlstate, e->message,
            (int)e->native);
}

short code_for(const char *sqlstate) {
    return (sqlstate[0] == '0' && sqlstate[1] == '1') ? SQL_SUCCESS_WITH_INFO : SQL_ERROR;
}

short vpost(void *handle, const char *sqlstate, int32_t native, int32_t column, const char *format,
            va_list ap) noexcept {
    if (!valid_sqlstate(sqlstate)) sqlstate = "HY000";
    short rc = code_for(sqlstate);
    if (!is_handle(handle)) return rc;
    try {
        const char *text = spk_error_text(sqlstate);
        char message[MESSAGE_BUFFER];
        int n;
        if (text && format)
            n = snprintf(message, sizeof message, SPK_MESSAGE_PREFIX "%s: ", text);
        else if (text)
            n = snprintf(message, sizeof message, SPK_MESSAGE_PREFIX "%s", text);
        else
            n = snprintf(message, sizeof message, SPK_MESSAGE_PREFIX);
        size_t used = n < 0 ? 0 : ((size_t)n >= sizeof message ? sizeof message - 1 : (size_t)n);
        if (format) {
            va_list copy;
            va_copy(copy, ap);
            used += spk_vformat(message + used, sizeof message - used, format, copy);
            va_end(copy);
            if (used >= sizeof message) used = sizeof message - 1;
        }
        message[used] = 0;
        SpkError *e = make_record(sqlstate, message, used, native, column);
        if (e) post_record(handle, e);
    } catch (...) {
        // A record that cannot be made is dropped; posting never fails the caller twice.
    }
    return rc;
}

}  // namespace

// ---------------------------------------------------------------------------
// The error table and posting

const char *spk_error_text(const char *sqlstate) {
    if (!sqlstate) return nullptr;
    for (const ErrorEntry &entry : ERROR_TABLE) {
        if (strcmp(entry.sqlstate, sqlstate) == 0) return entry.text;
    }
    return nullptr;
}

short spk_vpost_error(void *handle, const char *sqlstate, int32_t native, int32_t column_number,
                      const char *format, va_list args) {
    return vpost(handle, sqlstate, native, column_number, format, args);
}

short spk_post_error(void *handle, const char *sqlstate, int32_t native, const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    short rc = vpost(handle, sqlstate, native, -1, format, ap);
    va_end(ap);
    return rc;
}

short spk_post_column_error(void *handle, const char *sqlstate, int32_t native, int32_t column_number,
                            const char *format, ...) {
    va_list ap;
    va_start(ap, format);
    short rc = vpost(handle, sqlstate, native, column_number, format, ap);
    va_end(ap);
    return rc;
}

void spk_copy_error(void *handle, const SpkError *record) {
    if (!is_handle(handle) || !record) return;
    SpkError *e = static_cast<SpkError *>(calloc(1, sizeof(SpkError)));
    if (!e) return;
    e->native = record->native;
    e->row_number = record->row_number;
    e->column_number = record->column_number;
    e->sqlstate = spk_str_copy(record->sqlstate);
    e->message = spk_str_copy(record->message);
    if (!e->sqlstate || !e->message) {
        free_record(e);
        return;
    }
    insert_sorted(static_cast<SpkHandle *>(handle), e);
}

void spk_clear_errors(void *handle) {
    if (!is_handle(handle)) return;
    SpkHandle *h = static_cast<SpkHandle *>(handle);
    SpkError *e = h->diagnostics;
    h->diagnostics = nullptr;
    while (e) {
        SpkError *next = e->next;
        free_record(e);
        e = next;
    }
}

int spk_error_count(const void *handle) {
    if (!is_handle(handle)) return 0;
    int n = 0;
    for (const SpkError *e = static_cast<const SpkHandle *>(handle)->diagnostics; e; e = e->next) n++;
    return n;
}

const SpkError *spk_error_record(const void *handle, int number) {
    if (!is_handle(handle) || number < 1) return nullptr;
    const SpkError *e = static_cast<const SpkHandle *>(handle)->diagnostics;
    for (int i = 1; e && i < number; i++) e = e->next;
    return e;
}

const char *spk_status_code_name(int32_t code) {
    switch (code) {
    case 0: return "SUCCESS_STATUS";
    case 1: return "SUCCESS_WITH_INFO_STATUS";
    case 2: return "STILL_EXECUTING_STATUS";
    case 3: return "ERROR_STATUS";
    case 4: return "INVALID_HANDLE_STATUS";
    default: return "UNKNOWN_STATUS";
    }
}

short spk_post_status(void *handle, const SpkStatusInfo *status) {
    SpkStatusInfo none = {3, nullptr, 0, 0, nullptr};
    if (!status) status = &none;
    const char *sqlstate = valid_sqlstate(status->sql_state) ? status->sql_state : "HY000";
    short rc = code_for(sqlstate);
    if (!is_handle(handle)) return rc;
    try {
        SPK_LOG(handle, LOG_DETAIL, "Status %d %s", (int)status->status_code,
                spk_status_code_name(status->status_code));
        // The server's message is UTF-8 and is kept as such; one that does not
        // fit is cut at a character boundary and marked with "...".
        const char *text = status->error_message ? status->error_message : "General Error";
        char message[MESSAGE_BUFFER];
        size_t used = strlen(SPK_MESSAGE_PREFIX);
        memcpy(message, SPK_MESSAGE_PREFIX, used);
        size_t room = sizeof message - 1 - used;
        size_t len = strlen(text);
        if (len <= room) {
            memcpy(message + used, text, len);
            used += len;
        } else {
            size_t cut = room - 3;
            while (cut > 0 && ((unsigned char)text[cut] & 0xC0) == 0x80) cut--;
            memcpy(message + used, text, cut);
            used += cut;
            memcpy(message + used, "...", 3);
            used += 3;
        }
        message[used] = 0;
        SpkError *e = make_record(sqlstate, message, used, status->has_error_code ? status->error_code : 0, -1);
        if (e) post_record(handle, e);
    } catch (...) {
    }
    return rc;
}

// ---------------------------------------------------------------------------
// Copying text results into application buffers

namespace {

bool high_surrogate(spk_unit u) { return u >= 0xD800 && u <= 0xDBFF; }
bool low_surrogate(spk_unit u) { return u >= 0xDC00 && u <= 0xDFFF; }

short bad_length(void *handle) {
    if (handle) spk_post_error(handle, "HY090", 0, nullptr);
    return SQL_ERROR;
}

short truncated(void *handle) {
    if (handle) spk_post_error(handle, "01004", 0, nullptr);
    return SQL_SUCCESS_WITH_INFO;
}

// Copies the units of `s` into room for `cap` units, terminator included.
short copy_units(void *handle, const SpkString *s, spk_unit *out, size_t cap) {
    size_t len = (size_t)spk_str_length(s);
    if (len < cap) {
        if (len) memcpy(out, s->units, len * sizeof(spk_unit));
        out[len] = 0;
        return SQL_SUCCESS;
    }
    if (cap > 0) {
        size_t keep = cap - 1;
        // Never leave the first half of a surrogate pair at the end.
        if (keep > 0 && high_surrogate(s->units[keep - 1]) && low_surrogate(s->units[keep])) keep--;
        if (keep) memcpy(out, s->units, keep * sizeof(spk_unit));
        out[keep] = 0;
    }
    return truncated(handle);
}

}  // namespace

short spk_copy_wide_bytes(void *handle, const SpkString *s, void *buffer, long buffer_length, long *length_out) {
    if (buffer && buffer_length < 0) return bad_length(handle);
    if (length_out) *length_out = (long)spk_str_bytes(s);
    if (!buffer) return SQL_SUCCESS;
    // Only whole units count: an odd last byte of the buffer stays unused.
    return copy_units(handle, s, static_cast<spk_unit *>(buffer), (size_t)buffer_length / 2);
}

short spk_copy_wide_chars(void *handle, const SpkString *s, void *buffer, long buffer_length, long *length_out) {
    if (buffer && buffer_length < 0) return bad_length(handle);
    if (length_out) *length_out = (long)spk_str_length(s);
    if (!buffer) return SQL_SUCCESS;
    return copy_units(handle, s, static_cast<spk_unit *>(buffer), (size_t)buffer_length);
}

short spk_copy_ansi(void *handle, const SpkString *s, void *buffer, long buffer_length, long *length_out) {
    if (buffer && buffer_length < 0) return bad_length(handle);
    size_t total = spk_str_utf8_length(s);
    if (length_out) *length_out = (long)total;
    if (!buffer) return SQL_SUCCESS;
    size_t cap = (size_t)buffer_length;
    if (cap == 0) return truncated(handle);
    char *out = static_cast<char *>(buffer);
    size_t n = spk_str_utf8_prefix(s, out, cap - 1);
    out[n] = 0;
    return total < cap ? SQL_SUCCESS : truncated(handle);
}

// ---------------------------------------------------------------------------
// Reading diagnostics (SQLGetDiagRec(W), SQLGetDiagField(W))

namespace {

// An ASCII constant as a string without allocating.
struct LocalText {
    spk_unit units[64];
    SpkString s;
    explicit LocalText(const char *text) {
        size_t n = 0;
        while (text[n] && n < sizeof units / sizeof units[0]) {
            units[n] = (unsigned char)text[n];
            n++;
        }
        s.units = n ? units : nullptr;
        s.length = (uint32_t)n;
        s.borrowed = 1;
    }
};

uint32_t tag_for(int handle_type) {
    switch (handle_type) {
    case SQL_HANDLE_ENV: return SPK_ENVIRONMENT_HANDLE;
    case SQL_HANDLE_DBC: return SPK_CONNECTION_HANDLE;
    case SQL_HANDLE_STMT: return SPK_STATEMENT_HANDLE;
    case SQL_HANDLE_DESC: return SPK_DESCRIPTOR_HANDLE;
    default: return 0;
    }
}

void store_short(int16_t *p, long v) {
    if (p) *p = (int16_t)(v > 32767 ? 32767 : v);
}

const char *const ODBC3_SUBCLASSES[] = {
    "01S00", "01S01", "01S02", "01S06", "01S07", "07S01", "08S01", "21S01", "21S02", "25S01", "25S02",
    "25S03", "42S01", "42S02", "42S11", "42S12", "42S21", "42S22", "HY095", "HY097", "HY098", "HY099",
    "HY100", "HY101", "HY105", "HY107", "HY109", "HY110", "HY111", "HYT00", "HYT01", "IM001", "IM002",
    "IM003", "IM004", "IM005", "IM006", "IM007", "IM008", "IM010", "IM011", "IM012",
};

bool state_is(const SpkString *s, const char *state) { return spk_str_compare_nocase(s, state) == 0; }

const char *class_origin(const SpkString *state) {
    int n = spk_str_length(state);
    return (n >= 2 && state->units[0] == 'I' && state->units[1] == 'M') ? "ODBC 3.0" : "ISO 9075";
}

const char *subclass_origin(const SpkString *state) {
    for (const char *s : ODBC3_SUBCLASSES) {
        if (state_is(state, s)) return "ODBC 3.0";
    }
    return "ISO 9075";
}

short text_result(const SpkString *s, int wide, void *info, long buffer_length, int16_t *string_length) {
    if (buffer_length < 0) return SQL_ERROR;
    long length = 0;
    short rc = wide ? spk_copy_wide_bytes(nullptr, s, info, buffer_length, &length)
                    : spk_copy_ansi(nullptr, s, info, buffer_length, &length);
    store_short(string_length, length);
    return rc;
}

short int_result(int32_t v, void *info, int16_t *string_length) {
    if (info) memcpy(info, &v, sizeof v);
    store_short(string_length, sizeof(int32_t));
    return SQL_SUCCESS;
}

short len_result(SQLLEN v, void *info, int16_t *string_length) {
    if (info) memcpy(info, &v, sizeof v);
    store_short(string_length, sizeof(SQLLEN));
    return SQL_SUCCESS;
}

bool statement_only(int identifier) {
    return identifier == SQL_DIAG_ROW_COUNT || identifier == SQL_DIAG_DYNAMIC_FUNCTION ||
           identifier == SQL_DIAG_DYNAMIC_FUNCTION_CODE || identifier == SQL_DIAG_CURSOR_ROW_COUNT;
}

}  // namespace

bool spk_diag_handle_ok(int handle_type, const void *handle) {
    return spk_handle_is(handle, tag_for(handle_type));
}

short spk_diag_get_rec(int handle_type, void *handle, int rec_number, int wide, void *sqlstate, int32_t *native,
                       void *message, long buffer_length, int16_t *text_length) {
    if (!spk_diag_handle_ok(handle_type, handle)) return SQL_INVALID_HANDLE;
    if (buffer_length < 0) return SQL_ERROR;
    const SpkError *e = spk_error_record(handle, rec_number);
    if (!e) return SQL_NO_DATA;
    if (native) *native = e->native;
    if (sqlstate) {
        // Always five characters and a terminator.
        for (int i = 0; i < 6; i++) {
            spk_unit u = i < 5 && i < spk_str_length(e->sqlstate) ? e->sqlstate->units[i] : 0;
            if (wide)
                static_cast<spk_unit *>(sqlstate)[i] = u;
            else
                static_cast<char *>(sqlstate)[i] = (char)(u & 0xFF);
        }
    }
    long length = 0;
    short rc = wide ? spk_copy_wide_chars(nullptr, e->message, message, buffer_length, &length)
                    : spk_copy_ansi(nullptr, e->message, message, buffer_length, &length);
    store_short(text_length, length);
    return rc;
}

short spk_diag_get_field(int handle_type, void *handle, int rec_number, int identifier, int wide, void *info,
                         long buffer_length, int16_t *string_length) {
    if (!spk_diag_handle_ok(handle_type, handle)) return SQL_INVALID_HANDLE;
    const SpkHandle *h = static_cast<const SpkHandle *>(handle);
    bool is_stmt = h->tag == SPK_STATEMENT_HANDLE;

    // Header fields.
    if (identifier == SQL_DIAG_NUMBER) return int_result(spk_error_count(handle), info, string_length);
    if (statement_only(identifier)) {
        if (!is_stmt) return SQL_ERROR;
        const SpkStatement *st = static_cast<const SpkStatement *>(h);
        switch (identifier) {
        case SQL_DIAG_ROW_COUNT:
            if (st->row_count_valid) return len_result((SQLLEN)st->row_count, info, string_length);
            break;   // no count: an unknown identifier, decided below
        case SQL_DIAG_CURSOR_ROW_COUNT:
            return len_result((SQLLEN)st->cursor_row_count, info, string_length);
        case SQL_DIAG_DYNAMIC_FUNCTION: {
            const char *text = "";
            switch (st->verb) {
            case SPK_VERB_SELECT: text = "SELECT CURSOR"; break;
            case SPK_VERB_DELETE: text = "DELETE WHERE"; break;
            case SPK_VERB_UPDATE: text = "UPDATE WHERE"; break;
            case SPK_VERB_INSERT: text = "INSERT"; break;
            }
            LocalText t(text);
            return text_result(&t.s, wide, info, buffer_length, string_length);
        }
        case SQL_DIAG_DYNAMIC_FUNCTION_CODE: {
            int32_t code = 0;
            switch (st->verb) {
            case SPK_VERB_SELECT: code = SQL_DIAG_SELECT_CURSOR; break;
            case SPK_VERB_DELETE: code = SQL_DIAG_DELETE_WHERE; break;
            case SPK_VERB_UPDATE: code = SQL_DIAG_UPDATE_WHERE; break;
            case SPK_VERB_INSERT: code = SQL_DIAG_INSERT; break;
            }
            return int_result(code, info, string_length);
        }
        }
    }

    // Record fields.
    if (rec_number < 1) return SQL_ERROR;
    const SpkError *e = spk_error_record(handle, rec_number);
    if (!e) return SQL_NO_DATA;
    switch (identifier) {
    case SQL_DIAG_SQLSTATE:
        return text_result(e->sqlstate, wide, info, buffer_length, string_length);
    case SQL_DIAG_NATIVE:
        return int_result(e->native, info, string_length);
    case SQL_DIAG_MESSAGE_TEXT:
        return text_result(e->message, wide, info, buffer_length, string_length);
    case SQL_DIAG_CLASS_ORIGIN: {
        LocalText t(class_origin(e->sqlstate));
        return text_result(&t.s, wide, info, buffer_length, string_length);
    }
    case SQL_DIAG_SUBCLASS_ORIGIN: {
        LocalText t(subclass_origin(e->sqlstate));
        return text_result(&t.s, wide, info, buffer_length, string_length);
    }
    case SQL_DIAG_CONNECTION_NAME: {
        const SpkConnection *conn = spk_conn_of(handle);
        if (!conn) return SQL_ERROR;
        char name[64];
        spk_sformat(name, sizeof name, "NetConn: %p", (const void *)conn);
        LocalText t(name);
        return text_result(&t.s, wide, info, buffer_length, string_length);
    }
    case SQL_DIAG_SERVER_NAME: {
        const SpkConnection *conn = spk_conn_of(handle);
        // No connection or no data source name: an empty text.
        return text_result(conn ? conn->dsn : nullptr, wide, info, buffer_length, string_length);
    }
    case SQL_DIAG_ROW_NUMBER:
        return len_result((SQLLEN)e->row_number, info, string_length);
    case SQL_DIAG_COLUMN_NUMBER:
        return int_result(e->column_number, info, string_length);
    default:
        return SQL_ERROR;
    }
}
