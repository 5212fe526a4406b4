// Statement execution state and the server work behind the statement calls.
#pragma once

#include "spk_handles.h"
#include "spk_string.h"

// Makes the statement's execution records (run when it is allocated); -1
// when memory runs out.
int spk_stmt_init_execution(SpkStatement *stmt);
// Frees everything the execution code hangs on a statement (run when the
// statement itself is freed).
void spk_stmt_release_execution(SpkStatement *stmt);

// Closes the open server operation; with `unprepare` also drops the text.
// The result of the close, or 0 when nothing was open.
int spk_close_stmt(SpkStatement *stmt, int unprepare);
// CloseOperation for the statement's operation: 0, or -1 when there was none
// or the call failed.
int spk_close_operation(SpkStatement *stmt);

// Scans `text` and keeps the result as the statement's prepared text.
int spk_stmt_set_text(SpkStatement *stmt, const SpkString *text);
// Runs the prepared text on the server: 0 or -1.
int spk_execute_query(SpkStatement *stmt);
int extract_result_set(SpkStatement *stmt);
int get_update_count(SpkStatement *stmt);
// Describes the prepared text without running it for real (LIMIT 0).
int describe_stmt(SpkStatement *stmt);
// Empties the IRD (no columns, not described).
void spk_stmt_forget_columns(SpkStatement *stmt);

// Describe on demand, run by the descriptor functions before an IRD or IPD
// is read.  0, or -1 with diagnostics posted on the statement.
int spk_describe_stmt_if_needed(SpkStatement *stmt);
int spk_describe_params_if_needed(SpkStatement *stmt);

// The row count of a server's modifiedRowCount: -1 when it is no count (not
// finite, negative), at most INT64_MAX.
int64_t spk_modified_row_count(double v);
