// Statement execution: the statement's state machine and the server
// operation behind it.
//
// This module is the one owner of a statement's state (SpkStmtState) and of
// its server operation handle; it alone decides whether a cursor exists.
//
//   IDLE --set text--> PREPARED --execute--> EXECUTING --+--> CURSOR <--> FETCHING
//     ^                 ^   |                    |       +--> EXECUTED
//     |                 |   +--data at exec--> NEED_DATA |
//     +--unprepare------+-----close / failure / cancel --+
//
// Statements run asynchronously: ExecuteStatement with runAsync, then
// GetOperationStatus polls with a short back-off.  The transport lock is
// held for one exchange at a time, never across the wait, so SQLCancel and
// the other statements of the connection get their turn; a cancel or an
// expired query timeout sends CancelOperation when the exchange in progress
// is over.
#pragma once

#include <sql.h>

#include <string>

#include "spk_handles.h"
#include "spk_string.h"

namespace tcli {
class TOperationHandle;
}

// Moves the statement to `state` (traced).
void spk_stmt_set_state(SpkStatement *stmt, int32_t state);
// The name of a state for trace records.
const char *spk_stmt_state_name(int32_t state);

// Makes the statement's execution records (run when it is allocated); -1
// when memory runs out.
int spk_stmt_init_execution(SpkStatement *stmt);
// Frees everything the execution code hangs on a statement (run when the
// statement itself is freed).
void spk_stmt_release_execution(SpkStatement *stmt);

// Closes the open server operation and drops the rows; with `unprepare`
// also drops the text (IDLE), else the statement keeps its text (PREPARED).
// The result of the close, or 0 when nothing was open.
int spk_close_stmt(SpkStatement *stmt, int unprepare);
// CloseOperation for the statement's operation: 0, or -1 when there was none
// or the call failed.
int spk_close_operation(SpkStatement *stmt);

// Scans `text` and keeps the result as the statement's text (PREPARED).
int spk_stmt_set_text(SpkStatement *stmt, const SpkString *text);

// Runs the statement with all its parameter sets (SQLExecute, SQLExecDirect
// and the last SQLParamData): the cancellable call.  The statement ends in
// CURSOR or EXECUTED, or back in PREPARED when it failed.
SQLRETURN spk_stmt_run(SpkStatement *stmt);
// Runs the text once on the server (one parameter set): 0 or -1.
int spk_execute_query(SpkStatement *stmt);
// Whether the statement has a result open (a cursor), fetching or not.
bool spk_stmt_has_cursor(const SpkStatement *stmt);

int extract_result_set(SpkStatement *stmt);
int get_update_count(SpkStatement *stmt);
// Describes the prepared text without running it: queries only, with
// LIMIT 0 (or as they are, for SHOW, DESCRIBE and EXPLAIN); anything else
// has no columns until it runs.
int describe_stmt(SpkStatement *stmt);
// Empties the IRD (no columns, not described).
void spk_stmt_forget_columns(SpkStatement *stmt);

// Describe on demand, run by the descriptor functions before an IRD or IPD
// is read.  0, or -1 with diagnostics posted on the statement.
int spk_describe_stmt_if_needed(SpkStatement *stmt);
int spk_describe_params_if_needed(SpkStatement *stmt);

// A result that is not a statement's: a catalog call's server operation
// (CURSOR over `handle`), or rows the driver made (CURSOR, no operation).
void spk_stmt_attach_operation(SpkStatement *stmt, const tcli::TOperationHandle &handle);
void spk_stmt_attach_local(SpkStatement *stmt);

// Fetching: FETCHING while a FetchResults exchange is in progress, so that
// SQLCancel can stop it.  spk_stmt_fetch_end returns 0, or -1 when a cancel
// came in (the cursor is then closed and HY008 posted).
void spk_stmt_fetch_begin(SpkStatement *stmt);
int spk_stmt_fetch_end(SpkStatement *stmt);

// SQLCancel's body: SQL_SUCCESS, also on an idle statement (nothing sent).
SQLRETURN spk_stmt_cancel(SpkStatement *stmt);

// SQLEndTran's body for one connection (autocommit off): COMMIT keeps every
// cursor (Spark has no transactions: nothing to do); ROLLBACK fails when
// statements that change data ran since the last commit.
SQLRETURN spk_end_tran(SpkConnection *conn, int completion);

// The row count of a server's modifiedRowCount: -1 when it is no count (not
// finite, negative), at most INT64_MAX.
int64_t spk_modified_row_count(double v);
