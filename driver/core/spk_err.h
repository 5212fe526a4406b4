// Diagnostics: records kept on a handle in descending SQLSTATE order.
#pragma once

#include <cstdarg>
#include <cstdint>
#include "spk_handles.h"
#include "spk_string.h"

struct SpkError {
    int32_t native;
    SpkString *sqlstate;
    SpkString *message;
    int64_t row_number;
    int32_t column_number;         // -1 unless posted for a column
    SpkError *next;
};

#define SPK_MESSAGE_PREFIX "[Quillmark][Tarnwell]"

// Posting returns the ODBC code the failure stands for: SQL_SUCCESS_WITH_INFO
// for warnings (class 01), SQL_ERROR otherwise, so that a failure reads
// `return spk_post_error(h, "HY009", 0, nullptr);`.  `format` may be null and
// uses the trace formatter's conversions.  Never throws.
short spk_post_error(void *handle, const char *sqlstate, int32_t native, const char *format, ...);
// Names the row (1-based, in the rowset) of the records posted on `handle`
// that name none yet.
void spk_set_row_number(void *handle, int64_t row);
short spk_post_column_error(void *handle, const char *sqlstate, int32_t native, int32_t column_number,
                            const char *format, ...);
// The same with an argument list (column_number -1 for none).
short spk_vpost_error(void *handle, const char *sqlstate, int32_t native, int32_t column_number,
                      const char *format, va_list args);
void spk_copy_error(void *handle, const SpkError *record);
void spk_clear_errors(void *handle);

// A server status, as its fields arrive (any text may be null: absent).
struct SpkStatusInfo {
    int32_t status_code;           // TStatusCode
    const char *sql_state;         // null when unset
    int32_t has_error_code;
    int32_t error_code;
    const char *error_message;     // null when unset
};
short spk_post_status(void *handle, const SpkStatusInfo *status);
const char *spk_status_code_name(int32_t code);

// The table text of an SQLSTATE, or null.
const char *spk_error_text(const char *sqlstate);
int spk_error_count(const void *handle);
const SpkError *spk_error_record(const void *handle, int number);   // 1-based

// The readers behind SQLGetDiagRec(W) and SQLGetDiagField(W): no lock, no
// clearing, nothing posted.  `wide` selects UTF-16 text (characters for the
// record's message, bytes for fields); otherwise text is UTF-8 counted in
// bytes.  Return ODBC codes; SQL_INVALID_HANDLE when `handle` is not a
// handle of `handle_type`.
bool spk_diag_handle_ok(int handle_type, const void *handle);
short spk_diag_get_rec(int handle_type, void *handle, int rec_number, int wide, void *sqlstate, int32_t *native,
                       void *message, long buffer_length, int16_t *text_length);
short spk_diag_get_field(int handle_type, void *handle, int rec_number, int identifier, int wide, void *info,
                         long buffer_length, int16_t *string_length);
