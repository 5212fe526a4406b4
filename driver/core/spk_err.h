// Diagnostics: records kept on a handle in descending SQLSTATE order.
#pragma once

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
short spk_post_column_error(void *handle, const char *sqlstate, int32_t native, int32_t column_number,
                            const char *format, ...);
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
