// Value conversion: one value of the current row into one application (C)
// data type, written to the application's buffer, indicator and length.
//
// Bound columns and SQLGetData both go through spk_get_data.  The conversion
// itself is spk_convert_value, which needs no statement and no server: it
// takes the value, the column's implementation record (SQL type and the
// piece state `data_offset` / `data_done`) and the target.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "spk_batch.h"
#include "spk_field.h"
#include "spk_handles.h"
#include "spk_value.h"

// The one conversion entry point.
//   column_number  1-based; 0 is the bookmark: the IRD's bookmark record
//                  with the row's number in the result.
//   target_type    a C type, SQL_C_DEFAULT (from the column's SQL type) or
//                  SQL_ARD_TYPE (the ARD record's concise type; SQL_C_DEFAULT
//                  when the ARD has no such record).
//   indicator      receives SQL_NULL_DATA or the length; `length` receives
//                  the length too unless it is null or equals `indicator`.
//   ird, ard       the statement's current implementation and application
//                  row descriptors (`ard` may be null).
// Returns SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA (the value was
// already fully returned) or SQL_ERROR; diagnostics are posted on `stmt`
// with the column number.
SQLRETURN spk_get_data(SpkStatement *stmt, int column_number, int target_type, void *target,
                       SQLLEN buffer_length, SQLLEN *indicator, SQLLEN *length, SpkDescriptor *ird,
                       SpkDescriptor *ard);

// The pure converter behind spk_get_data.  `record` supplies the column's
// SQL type (concise_type, is_unsigned) and the piece state, which it updates:
// `data_offset` advances over each piece of a character or binary value and
// `data_done` is set once the value has been fully returned (a later call
// then gives SQL_NO_DATA).  A call that only asks for the length (null
// target, or buffer length 0 for a character or binary target) leaves the
// piece state alone.  `c_type` may be SQL_C_DEFAULT (not SQL_ARD_TYPE).
// Diagnostics go to `handle` (any handle; may be null) with `column_number`.
SQLRETURN spk_convert_value(void *handle, int column_number, const SpkValue *value, SpkField *record,
                            int c_type, void *target, SQLLEN buffer_length, SQLLEN *indicator,
                            SQLLEN *length);

// The C type SQL_C_DEFAULT stands for with a column of SQL type `sql_type`
// (`is_unsigned` picks SQL_C_UTINYINT over SQL_C_STINYINT for TINYINT).
int spk_data_default_c_type(int sql_type, int is_unsigned);

// Where spk_get_data reads values; spk_column_value unless a test replaces it.
extern void (*spk_data_value_hook)(SpkStatement *stmt, int column, SpkValue *out);

// Where a run of rows of one bound column goes: the buffers of the run's
// first row, and the bytes from one row's buffers to the next.
struct SpkRunTarget {
    char *data;                 // may be null
    SQLLEN *indicator;          // may be null
    SQLLEN *length;             // null when it is the indicator
    size_t data_step;
    size_t length_step;         // for both the indicator and the length
    SQLLEN buffer_length;
};

// Converts rows [first, first + count) of a batch column into bound buffers,
// each value exactly as spk_get_data converts it alone for a fresh row, with
// the common pairs (integers, doubles, text into text, dates and timestamps
// in Spark's layout) in loops of their own.  Stops at the first value whose
// conversion is not a plain SQL_SUCCESS (a warning or an error): that row is
// left for spk_get_data, which reports it.  Posts nothing, changes no
// descriptor.  Returns the rows converted.
size_t spk_convert_run(int column_number, const SpkBatchColumn &column, size_t first, size_t count,
                       const SpkField *record, const SpkField *app, int c_type, const SpkRunTarget &target);

// SQLGetData's shortcut for a fresh value of a batch column: a null, or a
// value of the pairs spk_convert_run converts in its loops, written whole
// (the record's value is then done).  False, with nothing written, when the
// value needs spk_get_data.  `plan` keeps what was found for the column
// from one call to the next.
struct SpkGetDataPlan;
bool spk_convert_fast(const SpkBatchColumn &column, size_t row, SpkField *record, int c_type, void *target,
                      SQLLEN buffer_length, SQLLEN *indicator, SpkGetDataPlan *plan);
