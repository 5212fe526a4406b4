// Executing statements and managing their server operations.
#include "spk_stmt.h"

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <strings.h>
#include <new>
#include <string>

#include "spk_desc.h"
#include "spk_describe.h"
#include "spk_err.h"
#include "spk_log.h"
#include "spk_operation.h"
#include "spk_param.h"
#include "spk_sql.h"
#include "spk_stmt_hooks.h"
#include "spk_tcli.h"
#include "spk_transport.h"

static SpkConnection *conn_of(SpkStatement *stmt) { return (SpkConnection *)stmt->parent; }

// ---------------------------------------------------------------------------
// State

const char *spk_stmt_state_name(int32_t state) {
    switch (state) {
    case SPK_STMT_IDLE: return "idle";
    case SPK_STMT_PREPARED: return "prepared";
    case SPK_STMT_NEED_DATA: return "need data";
    case SPK_STMT_EXECUTING: return "executing";
    case SPK_STMT_EXECUTED: return "executed";
    case SPK_STMT_CURSOR: return "cursor";
    case SPK_STMT_FETCHING: return "fetching";
    default: return "?";
    }
}

void spk_stmt_set_state(SpkStatement *stmt, int32_t state) {
    int32_t old = std::atomic_ref<int32_t>(stmt->state).exchange(state);
    if (old != state)
        SPK_LOG(stmt, LOG_DETAIL, "statement state %s -> %s", spk_stmt_state_name(old), spk_stmt_state_name(state));
}

void spk_operation_forget_ahead(SpkStatement *stmt, SpkOperation *op) {
    if (!op || op->in_flight.empty()) return;
    spk_tcli_fetch_forget(stmt, op);
    op->in_flight.clear();
}

// The state a statement returns to when its result goes: its text stays.
static int32_t resting_state(SpkStatement *stmt) {
    return stmt->processed_sql ? SPK_STMT_PREPARED : SPK_STMT_IDLE;
}

namespace {
const SpkStmtHooks kHooks = {spk_stmt_init_execution, spk_stmt_release_execution, spk_close_stmt};
// Installed with the execution layer itself: the core reaches these only
// through the hooks.
const bool kHooksInstalled = [] {
    spk_stmt_hooks_register(&kHooks);
    spk_desc_describe_stmt_hook = spk_describe_stmt_if_needed;
    spk_desc_describe_params_hook = spk_describe_params_if_needed;
    return true;
}();
}  // namespace

int spk_stmt_init_execution(SpkStatement *stmt) {
    (void)kHooksInstalled;
    stmt->operation = new (std::nothrow) SpkOperation();
    return stmt->operation ? 0 : -1;
}

SpkOperation *spk_stmt_operation(SpkStatement *stmt) { return stmt->operation; }

void spk_operation_release_rows(SpkOperation *op) {
    if (!op) return;
    op->batch = SpkBatch();
    op->plans.clear();
    op->has_row_set = false;
    op->active_rows = 0;
    op->current_row = 0;
    op->end_of_data = false;
    op->rows_delivered = 0;
    op->shape.reset();
    op->local = false;
}

static void spk_stmt_free_markers(SpkStatement *stmt) {
    spk_markers_free(stmt->markers);
    stmt->markers = nullptr;
    stmt->param_count = 0;
}

void spk_stmt_release_execution(SpkStatement *stmt) {
    spk_str_free(stmt->sql);
    stmt->sql = nullptr;
    spk_str_free(stmt->processed_sql);
    stmt->processed_sql = nullptr;
    spk_stmt_free_markers(stmt);
    spk_param_release(stmt);
    delete stmt->operation;
    stmt->operation = nullptr;
}

int spk_close_operation(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "spk_close_operation");
    SpkOperation *op = stmt->operation;
    int rc;
    {
        SpkTransportGuard guard(conn_of(stmt));
        if (!op || !op->has_op) {
            SPK_LOG(stmt, LOG_ENTRY, "spk_close_operation: no operation handle");
            return -1;
        }
        rc = spk_tcli_close_operation(stmt, op->handle);
        // A connection that is gone took the operation with it.
        if (rc == 0 || spk_tcli_broken(conn_of(stmt))) op->has_op = false;
    }
    SPK_LOG(stmt, LOG_EXIT, "spk_close_operation: %d", rc);
    return rc;
}

int spk_close_stmt(SpkStatement *stmt, int unprepare) {
    SpkOperation *op = stmt->operation;
    SPK_LOG(stmt, LOG_DETAIL, "spk_close_stmt, closing statement=%p, unprepare=%d, op_handle=%x, collect_result=%d",
            stmt, unprepare, (int)(op && op->has_op), 0);
    int rc = 0;
    // The batches asked for ahead go with the cursor.
    spk_operation_forget_ahead(stmt, op);
    spk_operation_release_rows(op);
    stmt->row_number = 0;
    if (op && op->has_op) rc = spk_close_operation(stmt);
    if (spk_param_cancel_dae(stmt)) SPK_LOG(stmt, LOG_DETAIL, "spk_close_stmt: data at execution abandoned");
    if (unprepare) {
        spk_str_free(stmt->sql);
        stmt->sql = nullptr;
        spk_str_free(stmt->processed_sql);
        stmt->processed_sql = nullptr;
        spk_stmt_free_markers(stmt);
        stmt->described = 0;
    }
    spk_stmt_set_state(stmt, resting_state(stmt));
    return rc;
}

void spk_stmt_forget_columns(SpkStatement *stmt) {
    SpkDescriptor *ird = stmt->implicit_ird;
    spk_desc_reset(ird, 0);
    ird->described_count = 0;
    ird->described = 0;
    stmt->described = 0;
}

// Statements that return rows but do not take a LIMIT clause; they have no
// side effects, so describing runs them as they are.  Decided on the verb
// the scanner found.
static bool spk_verb_runs_as_is(const char *verb) {
    static const char *const words[] = {"show", "describe", "desc", "explain"};
    for (const char *w : words)
        if (strcasecmp(verb, w) == 0) return true;
    return false;
}

int spk_stmt_set_text(SpkStatement *stmt, const SpkString *text) {
    SpkSqlScan scan;
    spk_sql_scan_init(&scan);
    SpkString *processed = spk_process_sql(stmt, text, &scan, stmt->attrs.noscan == SQL_NOSCAN_ON);
    if (!processed) return -1;
    spk_str_free(stmt->processed_sql);
    stmt->processed_sql = processed;
    spk_stmt_free_markers(stmt);
    stmt->markers = scan.markers;
    scan.markers = nullptr;
    stmt->param_count = scan.param_count;
    stmt->verb = scan.verb;
    stmt->returns_rows = scan.returns_rows;
    stmt->is_query = spk_sql_is_query(processed);
    stmt->describe_as_is = spk_verb_runs_as_is(scan.verb_text);
    stmt->where_offset = scan.where_offset;
    stmt->values_offset = scan.values_offset;
    stmt->group_offset = scan.group_offset;
    stmt->having_offset = scan.having_offset;
    stmt->order_offset = scan.order_offset;
    stmt->limit_offset = scan.limit_offset;
    stmt->existing_limit = scan.existing_limit;
    spk_sql_scan_clear(&scan);
    spk_stmt_set_state(stmt, SPK_STMT_PREPARED);
    return 0;
}

int64_t spk_modified_row_count(double v) {
    if (!std::isfinite(v) || v < 0) return -1;
    // Counts beyond what SQLLEN holds are reported as its largest value.
    if (v >= 9223372036854775807.0) return INT64_MAX;
    return (int64_t)v;
}

int get_update_count(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "get_update_count");
    SpkOperation *op = stmt->operation;
    stmt->row_count = -1;
    stmt->row_count_valid = 0;
    if (op && op->modified_rows >= 0) {
        stmt->row_count = op->modified_rows;
        stmt->row_count_valid = 1;
    } else if (op && op->has_op && op->handle.__isset.modifiedRowCount) {
        int64_t n = spk_modified_row_count(op->handle.modifiedRowCount);
        if (n >= 0) {
            stmt->row_count = n;
            stmt->row_count_valid = 1;
        }
    }
    SPK_LOG(stmt, LOG_EXIT, "get_update_count: %d", 0);
    return 0;
}

int extract_result_set(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "extract_result_set");
    SpkOperation *op = stmt->operation;
    if (!op->handle.hasResultSet) {
        SPK_LOG(stmt, LOG_DETAIL, "operation has no result set");
        spk_stmt_forget_columns(stmt);
        return 0;
    }
    tcli::TGetResultSetMetadataResp resp;
    if (spk_tcli_get_result_set_metadata(stmt, op->handle, &resp) != 0) return -1;
    int ncols = resp.__isset.schema ? (int)resp.schema.columns.size() : 0;
    SPK_LOG(stmt, LOG_DETAIL, "Schema columns: %d", ncols);
    SpkDescriptor *ird = stmt->implicit_ird;
    if (spk_desc_reset(ird, ncols) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "Failed to create new set of fields");
        spk_post_error(stmt, "HY001", 0, nullptr);
        return -1;
    }
    ird->described_count = ncols;
    ird->described = 1;
    stmt->described = 1;
    int rc = 0;
    for (int i = 0; i < ncols && rc == 0; i++) rc = setup_descriptor_fields(stmt, ird, i, resp.schema.columns[i]);
    if (rc != 0) spk_stmt_forget_columns(stmt);
    SPK_LOG(stmt, LOG_EXIT, "extract_result_set: %d", rc);
    return rc;
}

// ---------------------------------------------------------------------------
// Running a text on the server

namespace {

int64_t now_ms() { return spk_monotonic_ms(); }

// Stops the operation on the server after a cancel or a timeout, and closes
// it.  Posts `sqlstate` with `text`; always -1.
int stop_operation(SpkStatement *stmt, SpkOperation *op, const char *sqlstate, const char *text) {
    SPK_LOG(stmt, LOG_DETAIL, "stopping the operation: %s", text);
    {
        SpkTransportGuard guard(conn_of(stmt));
        // A cancel that comes too late (the statement ended meanwhile) is
        // answered with a status that is only traced: the operation is
        // closed all the same.
        if (op->has_op && !spk_tcli_broken(conn_of(stmt))) spk_tcli_cancel_operation(stmt, op->handle);
    }
    if (op->has_op) spk_close_operation(stmt);
    if (spk_tcli_broken(conn_of(stmt))) return -1;   // the link failure was posted
    spk_post_error(stmt, sqlstate, 0, "%s", text);
    return -1;
}

// Waits `ms` unless a cancel comes first.
void pause_unless_cancelled(SpkOperation *op, int64_t ms) {
    if (ms <= 0) return;
    std::unique_lock<std::mutex> lock(op->wake_lock);
    op->wake.wait_for(lock, std::chrono::milliseconds(ms), [op] { return op->cancel_requested.load(); });
}

const int kPollFirstMs = 10;
const int kPollMaxMs = 250;

// Polls the running operation until it ends: 0 when it finished, else -1
// with the reason posted (and the operation closed).
int wait_for_operation(SpkStatement *stmt, SpkOperation *op, int64_t query_deadline) {
    int backoff = 0;
    for (int polls = 1;; polls++) {
        if (op->cancel_requested.load()) return stop_operation(stmt, op, "HY008", "the statement was cancelled");
        if (query_deadline > 0 && now_ms() >= query_deadline)
            return stop_operation(stmt, op, "HYT00", "the query timeout expired");
        tcli::TGetOperationStatusResp resp;
        if (spk_tcli_get_operation_status(stmt, op->handle, &resp) != 0) {
            if (op->has_op && !spk_tcli_broken(conn_of(stmt))) spk_close_operation(stmt);
            return -1;
        }
        int32_t state = resp.__isset.operationState ? resp.operationState : (int32_t)tcli::TOperationState::FINISHED_STATE;
        SPK_LOG(stmt, LOG_DETAIL, "poll %d: operation state %d", polls, (int)state);
        switch (state) {
        case tcli::TOperationState::FINISHED_STATE:
            if (resp.__isset.numModifiedRows && resp.numModifiedRows >= 0) op->modified_rows = resp.numModifiedRows;
            return 0;
        case tcli::TOperationState::ERROR_STATE: {
            SpkStatusInfo info;
            info.status_code = tcli::TStatusCode::ERROR_STATUS;
            info.sql_state = resp.__isset.sqlState ? resp.sqlState.c_str() : nullptr;
            info.has_error_code = resp.__isset.errorCode ? 1 : 0;
            info.error_code = resp.__isset.errorCode ? resp.errorCode : 0;
            info.error_message = resp.__isset.errorMessage ? resp.errorMessage.c_str() : "the statement failed";
            spk_post_status(stmt, &info);
            spk_close_operation(stmt);
            return -1;
        }
        case tcli::TOperationState::CANCELED_STATE:
            spk_close_operation(stmt);
            spk_post_error(stmt, "HY008", 0, "the statement was cancelled");
            return -1;
        case tcli::TOperationState::TIMEDOUT_STATE:
            spk_close_operation(stmt);
            spk_post_error(stmt, "HYT00", 0, "the query timeout expired");
            return -1;
        case tcli::TOperationState::CLOSED_STATE:
            op->has_op = false;
            spk_post_error(stmt, "HY000", 0, "the server closed the operation before it finished");
            return -1;
        case tcli::TOperationState::INITIALIZED_STATE:
        case tcli::TOperationState::RUNNING_STATE:
        case tcli::TOperationState::PENDING_STATE: break;
        default:
            spk_close_operation(stmt);
            spk_post_error(stmt, "HY000", 0, "the server reports the operation in state %d", (int)state);
            return -1;
        }
        // The first poll goes at once; later ones back off up to a cap, and
        // never sleep past the query's deadline.
        int64_t pause = backoff;
        if (query_deadline > 0) pause = std::min<int64_t>(pause, std::max<int64_t>(query_deadline - now_ms(), 0));
        pause_unless_cancelled(op, pause);
        backoff = backoff ? std::min(backoff * 2, kPollMaxMs) : kPollFirstMs;
    }
}

// Sends `text` and waits for it to end; the operation handle is then the
// statement's (op->has_op).  0, or -1 with the reason posted and no
// operation left open.
int run_text(SpkStatement *stmt, const std::string &text) {
    SpkConnection *conn = conn_of(stmt);
    SpkOperation *op = stmt->operation;
    spk_operation_forget_ahead(stmt, op);
    spk_operation_release_rows(op);
    op->modified_rows = -1;
    stmt->row_number = 0;
    uint32_t timeout = stmt->attrs.query_timeout;
    int64_t query_deadline = timeout > 0 ? now_ms() + (int64_t)timeout * 1000 : 0;
    bool run_async = conn->async_exec != 0;
    tcli::TOperationHandle handle;
    if (spk_tcli_execute_statement(stmt, text, &handle, run_async, timeout) != 0) return -1;
    {
        SpkTransportGuard guard(conn);
        op->handle = handle;
        op->has_op = true;
    }
    if (!run_async) {
        if (op->cancel_requested.load()) return stop_operation(stmt, op, "HY008", "the statement was cancelled");
        return 0;
    }
    return wait_for_operation(stmt, op, query_deadline);
}

}  // namespace

bool spk_stmt_has_cursor(const SpkStatement *stmt) {
    int32_t state = spk_stmt_state(stmt);
    return state == SPK_STMT_CURSOR || state == SPK_STMT_FETCHING;
}

int spk_execute_query(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "spk_execute_query '%S'", stmt->processed_sql);
    SpkConnection *conn = conn_of(stmt);
    if (!conn->connected) return spk_post_error(stmt, "08003", 0, "not connected"), -1;
    // The text with every marker replaced by its parameter's literal.
    std::string text;
    if (spk_fixup_params(stmt, &text) != 0) return -1;
    if (run_text(stmt, text) != 0) {
        SPK_LOG(stmt, LOG_EXIT, "spk_execute_query: %d", -1);
        return -1;
    }
    int rc;
    if (stmt->returns_rows) {
        stmt->row_count = -1;
        stmt->row_count_valid = 0;
        rc = extract_result_set(stmt);
        if (rc != 0) spk_close_operation(stmt);
    } else {
        get_update_count(stmt);
        spk_close_operation(stmt);
        spk_stmt_forget_columns(stmt);
        stmt->described = 1;   // a statement without rows is fully described: no columns
        // Nothing it did can be rolled back.
        if (conn->attrs.autocommit == SQL_AUTOCOMMIT_OFF)
            std::atomic_ref<int32_t>(conn->changes_since_commit).fetch_add(1);
        rc = 0;
    }
    SPK_LOG(stmt, LOG_EXIT, "spk_execute_query: %d", rc);
    return rc;
}

SQLRETURN spk_stmt_run(SpkStatement *stmt) {
    SpkOperation *op = stmt->operation;
    op->cancel_requested = false;
    spk_stmt_set_state(stmt, SPK_STMT_EXECUTING);
    SQLRETURN rc = spk_execute_params(stmt);
    if (rc == SQL_ERROR) {
        spk_stmt_set_state(stmt, resting_state(stmt));
        op->cancel_requested = false;
        return rc;
    }
    bool cursor = op->local || op->has_op;
    spk_stmt_set_state(stmt, cursor ? SPK_STMT_CURSOR : SPK_STMT_EXECUTED);
    op->cancel_requested = false;
    return rc;
}

// ---------------------------------------------------------------------------
// Results that are not a statement's

void spk_stmt_attach_operation(SpkStatement *stmt, const tcli::TOperationHandle &handle) {
    SpkOperation *op = stmt->operation;
    {
        SpkTransportGuard guard(conn_of(stmt));
        op->handle = handle;
        op->has_op = true;
    }
    spk_stmt_set_state(stmt, SPK_STMT_CURSOR);
}

void spk_stmt_attach_local(SpkStatement *stmt) {
    SpkOperation *op = stmt->operation;
    {
        SpkTransportGuard guard(conn_of(stmt));
        op->handle = tcli::TOperationHandle();
        op->has_op = false;
    }
    op->local = true;
    spk_stmt_set_state(stmt, SPK_STMT_CURSOR);
}

// ---------------------------------------------------------------------------
// Fetching and cancelling

void spk_stmt_fetch_begin(SpkStatement *stmt) {
    stmt->operation->cancel_requested = false;
    spk_stmt_set_state(stmt, SPK_STMT_FETCHING);
}

int spk_stmt_fetch_end(SpkStatement *stmt) {
    SpkOperation *op = stmt->operation;
    if (spk_stmt_state(stmt) == SPK_STMT_FETCHING) spk_stmt_set_state(stmt, SPK_STMT_CURSOR);
    if (!op->cancel_requested.exchange(false)) return 0;
    // The batch in hand goes with the cursor.
    spk_close_stmt(stmt, 0);
    spk_stmt_set_state(stmt, SPK_STMT_EXECUTED);
    spk_post_error(stmt, "HY008", 0, "the fetch was cancelled");
    return -1;
}

SQLRETURN spk_stmt_cancel(SpkStatement *stmt) {
    SpkOperation *op = stmt->operation;
    int32_t state = spk_stmt_state(stmt);
    SPK_LOG(stmt, LOG_DETAIL, "op_handle=%p, async_op=%d", op, (int)(state == SPK_STMT_EXECUTING));
    if (state == SPK_STMT_EXECUTING || state == SPK_STMT_FETCHING) {
        // The running call sends CancelOperation as soon as its exchange in
        // progress is over, and returns HY008.
        {
            std::lock_guard<std::mutex> lock(op->wake_lock);
            op->cancel_requested = true;
        }
        op->wake.notify_all();
        return SQL_SUCCESS;
    }
    // Nothing runs: the statement's own lock is free (unless another call
    // starts this very moment, which then is not cancelled).
    std::unique_lock<SpkLock> idle(*stmt->lock, std::try_to_lock);
    if (!idle.owns_lock()) return SQL_SUCCESS;
    if (spk_stmt_state(stmt) == SPK_STMT_NEED_DATA) {
        spk_param_cancel_dae(stmt);
        spk_stmt_set_state(stmt, resting_state(stmt));
        return SQL_SUCCESS;
    }
    // For ODBC 2 applications a cancel on an idle statement closes its cursor.
    if (spk_env_of(stmt)->odbc_version == SQL_OV_ODBC2 && spk_stmt_state(stmt) == SPK_STMT_CURSOR) {
        if (spk_close_stmt(stmt, 0) != 0 && spk_error_count(stmt) == 0)
            return spk_post_error(stmt, "HY000", 0, "the cursor could not be closed");
    }
    return SQL_SUCCESS;
}

SQLRETURN spk_end_tran(SpkConnection *conn, int completion) {
    int32_t changes = std::atomic_ref<int32_t>(conn->changes_since_commit).exchange(0);
    if (completion == SQL_COMMIT) {
        SPK_LOG(conn, LOG_DETAIL, "commit: every statement took effect when it ran");
        return SQL_SUCCESS;
    }
    if (changes == 0) {
        SPK_LOG(conn, LOG_DETAIL, "rollback: nothing ran since the last commit");
        return SQL_SUCCESS;
    }
    SPK_LOG(conn, LOG_ERROR, "rollback after %d statements", (int)changes);
    return spk_post_error(conn, "HYC00", 0,
                          "Spark has no transactions: the %d statements run since the last commit took effect and "
                          "cannot be rolled back",
                          (int)changes);
}

// ---------------------------------------------------------------------------
// Describing before execution

int describe_stmt(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "describe_stmt '%S'", stmt->processed_sql);
    if (!stmt->returns_rows || !stmt->is_query) {
        // Only a query may be sent before it is executed: anything else could
        // change something.  Its columns are known once it runs.
        SPK_LOG(stmt, LOG_DETAIL, "describe_stmt: not a query, no columns until it runs");
        spk_stmt_forget_columns(stmt);
        stmt->described = 1;
        return 0;
    }
    SpkString *text = stmt->processed_sql;
    SpkString *describe = nullptr;
    // The text without trailing comments and semicolons, so that LIMIT 0
    // lands after the last token.
    int32_t end = spk_sql_statement_end(text);
    if (stmt->describe_as_is) {
        describe = spk_str_copy(text);
    } else if (stmt->markers) {
        SPK_LOG(stmt, LOG_DETAIL, "describe_stmt with parameters");
        if (stmt->where_offset > 0) {
            SpkString *head = spk_str_sub(text, 0, stmt->where_offset);
            describe = head ? spk_format("%S LIMIT 0", head) : nullptr;
            spk_str_free(head);
        }
    } else {
        SPK_LOG(stmt, LOG_DETAIL, "describe_stmt without parameters");
    }
    if (!describe && (!stmt->markers || stmt->where_offset <= 0)) {
        int32_t cut = end;
        if (stmt->limit_offset > 0 && stmt->limit_offset < end) {
            SPK_LOG(stmt, LOG_DETAIL, "describe_stmt there is a limit allready");
            cut = stmt->limit_offset;
        }
        SpkString *head = spk_str_sub(text, 0, cut);
        describe = head ? spk_format("%S LIMIT 0", head) : nullptr;
        spk_str_free(head);
    }
    if (!describe) {
        spk_post_error(stmt, "HY001", 0, nullptr);
        return -1;
    }
    SPK_LOG(stmt, LOG_DETAIL, "describe_stmt using '%S'", describe);
    size_t n = 0;
    char *utf8 = spk_str_to_utf8_n(describe, &n);
    spk_str_free(describe);
    if (!utf8) {
        spk_post_error(stmt, "HY001", 0, nullptr);
        return -1;
    }
    std::string sql(utf8, n);
    free(utf8);
    SpkConnection *conn = conn_of(stmt);
    if (!conn->connected) return spk_post_error(stmt, "08003", 0, "not connected"), -1;
    int rc = run_text(stmt, sql);
    if (rc == 0) {
        rc = extract_result_set(stmt);
        spk_close_operation(stmt);
    }
    spk_operation_release_rows(stmt->operation);
    SPK_LOG(stmt, LOG_EXIT, "describe_stmt: %d", rc);
    return rc;
}

int spk_describe_stmt_if_needed(SpkStatement *stmt) {
    if (stmt->described || spk_stmt_has_run(stmt) || !stmt->processed_sql) return 0;
    return describe_stmt(stmt);
}

int spk_describe_params_if_needed(SpkStatement *stmt) {
    if (stmt->param_count == 0 || (stmt->param_described && !stmt->re_prepare)) return 0;
    return spk_describe_parameters(stmt);
}
