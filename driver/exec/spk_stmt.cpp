// Executing statements and managing their server operations.
#include "spk_stmt.h"

#include <sql.h>
#include <sqlext.h>

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
#include "spk_tcli.h"

static SpkConnection *conn_of(SpkStatement *stmt) { return (SpkConnection *)stmt->parent; }

int spk_stmt_init_execution(SpkStatement *stmt) {
    stmt->operation = new (std::nothrow) SpkOperation();
    return stmt->operation ? 0 : -1;
}

SpkOperation *spk_stmt_operation(SpkStatement *stmt) { return stmt->operation; }

void spk_operation_release_rows(SpkOperation *op) {
    if (!op) return;
    op->row_set = tcli::TRowSet();
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
        // The operation handle is read and cleared under the connection's
        // transport lock: SQLCancel may close it from another thread.
        SpkTransportGuard guard(conn_of(stmt));
        if (!op || !op->has_op) {
            SPK_LOG(stmt, LOG_ENTRY, "spk_close_operation: no operation handle");
            return -1;
        }
        rc = spk_tcli_close_operation(stmt, op->handle);
        if (rc == 0) op->has_op = false;
    }
    SPK_LOG(stmt, LOG_EXIT, "spk_close_operation: %d", rc);
    return rc;
}

int spk_close_stmt(SpkStatement *stmt, int unprepare) {
    SpkOperation *op = stmt->operation;
    SPK_LOG(stmt, LOG_DETAIL, "spk_close_stmt, closing statement=%p, unprepare=%d, op_handle=%x, collect_result=%d",
            stmt, unprepare, (int)(op && op->has_op), 0);
    int rc = 0;
    spk_operation_release_rows(op);
    stmt->row_number = 0;
    if (op && op->has_op) rc = spk_close_operation(stmt);
    if (unprepare) {
        stmt->prepared = 0;
        spk_str_free(stmt->sql);
        stmt->sql = nullptr;
        spk_str_free(stmt->processed_sql);
        stmt->processed_sql = nullptr;
        spk_stmt_free_markers(stmt);
        stmt->described = 0;
    }
    stmt->executed = 0;
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
    static const char *const words[] = {"show", "describe", "desc", "explain", "list"};
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
    stmt->describe_as_is = spk_verb_runs_as_is(scan.verb_text);
    stmt->where_offset = scan.where_offset;
    stmt->values_offset = scan.values_offset;
    stmt->group_offset = scan.group_offset;
    stmt->having_offset = scan.having_offset;
    stmt->order_offset = scan.order_offset;
    stmt->limit_offset = scan.limit_offset;
    stmt->existing_limit = scan.existing_limit;
    spk_sql_scan_clear(&scan);
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
    if (op && op->has_op && op->handle.__isset.modifiedRowCount) {
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

int spk_execute_query(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "spk_execute_query '%S'", stmt->processed_sql);
    SpkConnection *conn = conn_of(stmt);
    if (!conn->connected) return spk_post_error(stmt, "08003", 0, "not connected"), -1;
    // The text with every marker replaced by its parameter's literal.
    std::string text;
    if (spk_fixup_params(stmt, &text) != 0) return -1;

    SpkOperation *op = stmt->operation;
    spk_operation_release_rows(op);
    stmt->row_number = 0;
    tcli::TOperationHandle handle;
    if (spk_tcli_execute_statement(stmt, text, &handle) != 0) return -1;
    {
        SpkTransportGuard guard(conn);
        op->handle = handle;
        op->has_op = true;
    }
    int rc;
    if (stmt->returns_rows) {
        stmt->row_count = -1;
        stmt->row_count_valid = 0;
        rc = extract_result_set(stmt);
    } else {
        get_update_count(stmt);
        spk_close_operation(stmt);
        spk_stmt_forget_columns(stmt);
        stmt->described = 1;   // a statement without rows is fully described: no columns
        rc = 0;
    }
    SPK_LOG(stmt, LOG_EXIT, "spk_execute_query: %d", rc);
    return rc;
}


int describe_stmt(SpkStatement *stmt) {
    SPK_LOG(stmt, LOG_ENTRY, "describe_stmt '%S'", stmt->processed_sql);
    if (!stmt->returns_rows) {
        spk_stmt_forget_columns(stmt);
        stmt->described = 1;
        return 0;
    }
    SpkString *text = stmt->processed_sql;
    SpkString *describe = nullptr;
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
        if (stmt->limit_offset > 0) {
            SPK_LOG(stmt, LOG_DETAIL, "describe_stmt there is a limit allready");
            SpkString *head = spk_str_sub(text, 0, stmt->limit_offset);
            describe = head ? spk_format("%S LIMIT 0", head) : nullptr;
            spk_str_free(head);
        } else {
            describe = spk_format("%S LIMIT 0", text);
        }
    }
    if (!describe) {
        spk_post_error(stmt, "HY001", 0, nullptr);
        return -1;
    }
    SPK_LOG(stmt, LOG_DETAIL, "describe_stmt using '%S'", describe);
    SpkString *saved_text = stmt->processed_sql;
    SpkMarker *saved_markers = stmt->markers;
    stmt->processed_sql = describe;
    stmt->markers = nullptr;
    int rc = spk_execute_query(stmt);
    if (rc == 0) spk_close_operation(stmt);
    spk_operation_release_rows(stmt->operation);
    stmt->processed_sql = saved_text;
    stmt->markers = saved_markers;
    spk_str_free(describe);
    SPK_LOG(stmt, LOG_EXIT, "describe_stmt: %d", rc);
    return rc;
}

int spk_describe_stmt_if_needed(SpkStatement *stmt) {
    if (stmt->described || stmt->executed || !stmt->processed_sql) return 0;
    return describe_stmt(stmt);
}

int spk_describe_params_if_needed(SpkStatement *stmt) {
    if (stmt->param_count == 0 || (stmt->param_described && !stmt->re_prepare)) return 0;
    return spk_describe_parameters(stmt);
}
