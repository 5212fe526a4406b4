// Parameters: binding, the checks made before execution, data at execution,
// and the substitution of every marker by a literal of its value.
//
// The server has no parameter binding, so each value is written into the
// statement text as a Spark literal.  A literal can never change the
// statement's structure: character data is quoted and escaped the way Spark
// reads string literals, character data bound to a number, date or
// timestamp must read as one and is written as that kind of literal, and
// everything else is produced by the driver from typed C data.
//
// Parameter arrays (SQL_ATTR_PARAMSET_SIZE > 1) run every set.  An INSERT
// whose VALUES clause is a single row of markers sends the sets as a
// multi-row VALUES list, in statements of bounded size; anything else runs
// once per set.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <string>

#include "spk_handles.h"

// One parameter value as the application supplied it.
struct SpkParamValue {
    int c_type;              // concise C type (never SQL_C_DEFAULT)
    int sql_type;            // the parameter's SQL type
    const void *data;        // may be null
    int64_t length;          // bytes, SQL_NULL_DATA, SQL_NTS, or SPK_PARAM_NO_LENGTH
    int64_t buffer_length;   // the bound buffer length (0 when unknown)
};
enum : int64_t { SPK_PARAM_NO_LENGTH = INT64_MIN };

// Renders one value as a Spark literal ("null" for SQL_NULL_DATA) into *out.
// 0, or -1 with the diagnostic posted on `handle` for parameter `number`
// (1-based): 22018 (text that does not read as the SQL type, invalid UTF-8 or
// UTF-16), 22003 (a value the SQL type cannot hold), 22008 (an invalid
// date, time or timestamp structure), 07006 (a C type that does not convert
// to the SQL type), HY090 (an invalid length), HY009 (no data).
int spk_param_render(void *handle, int number, const SpkParamValue *value, std::string *out);

// The value of parameter `number` (1-based) of parameter set `set` (0-based)
// as a literal: the bound buffers at the set's address, or the data collected
// by SQLPutData for a data-at-execution parameter.  0 or -1 (posted).
int spk_param_text(SpkStatement *stmt, int number, int64_t set, std::string *out);

// The UTF-8 text that spk_execute_query sends: the processed text, with the
// statement's markers (when it has any) replaced by the literals of the
// parameter set being executed.  0, or -1 with a diagnostic posted.
int spk_fixup_params(SpkStatement *stmt, std::string *out);

// SQLBindParameter's body (inside the export's frame).
SQLRETURN spk_bind_parameter(SpkStatement *stmt, int number, int io_type, int c_type, int sql_type,
                             SQLULEN column_size, int decimal_digits, void *value, SQLLEN buffer_length,
                             SQLLEN *indicator);

// Before every execution: 0 when every marker has a bound parameter, else -1
// with 07002 posted.
int spk_check_params(SpkStatement *stmt);
// Starts a data-at-execution sequence when a data-at-execution parameter is
// bound: SQL_NEED_DATA, else 0.  `origin` is 11 (SQLExecDirect) or 12
// (SQLExecute).
int spk_check_dae(SpkStatement *stmt, int origin);

// Runs the prepared text with every parameter set (or once without
// parameters), filling the status array, the processed count and the row
// count.  SQL_SUCCESS, SQL_SUCCESS_WITH_INFO (some sets failed) or SQL_ERROR.
SQLRETURN spk_execute_params(SpkStatement *stmt);

// The bodies of SQLParamData and SQLPutData.
SQLRETURN spk_param_data(SpkStatement *stmt, SQLPOINTER *value);
SQLRETURN spk_put_data(SpkStatement *stmt, const void *data, SQLLEN length);
// Collects one SQLPutData piece for parameter `param` (0-based) of the
// active set: 0 or -1 (posted).
int spk_output_dae_param_data(SpkStatement *stmt, int param, const void *data, SQLLEN length);

// Ends a pending data-at-execution sequence (SQLCancel, a new execution);
// true when one was pending.
bool spk_param_cancel_dae(SpkStatement *stmt);
// Frees the parameter state hung on a statement.
void spk_param_release(SpkStatement *stmt);

// Upper bound of one multi-row INSERT text, in bytes.
enum { SPK_PARAM_BATCH_BYTES = 4 * 1024 * 1024 };
