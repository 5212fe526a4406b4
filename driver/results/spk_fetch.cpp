// The fetch engine, bound columns and SQLGetData.
#include "spk_fetch.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <utility>

#include "spk_data.h"
#include "spk_desc.h"
#include "spk_err.h"
#include "spk_log.h"
#include "spk_operation.h"
#include "spk_stmt.h"
#include "spk_tcli.h"
#include "spk_transport.h"
#include "spk_shape.h"

namespace {

// Rows asked for at a time unless RowsPerFetch says otherwise, and the
// memory one batch may take by the result's own column sizes: a result of
// wide rows asks for fewer.
constexpr int64_t kDefaultBatch = 10000;
constexpr int64_t kBatchBudget = 64 << 20;

SpkConnection *conn_of(SpkStatement *stmt) { return (SpkConnection *)stmt->parent; }


// Posts the failure of a call that needs an open cursor: HY010 when nothing
// has been executed on the statement, 24000 when it was executed but has no
// result set open (a statement without rows, a closed or cancelled cursor).
SQLRETURN post_no_cursor(SpkStatement *stmt, const char *text) {
    return spk_post_error(stmt, spk_stmt_has_run(stmt) ? "24000" : "HY010", 0, "%s", text);
}

// Forgets the rows of the current batch (and any asked for ahead) and
// remembers that the result is exhausted: later fetches answer SQL_NO_DATA
// without asking the server.
void reach_end_of_data(SpkStatement *stmt, SpkOperation *op) {
    spk_operation_forget_ahead(stmt, op);
    op->batch = SpkBatch();
    op->has_row_set = false;
    op->active_rows = 0;
    op->current_row = 0;
    op->end_of_data = true;
    stmt->row_number = 0;
}

// Checks a batch that has columns: every column carries a known member with
// one value per row, and the batch has at least the described columns.
// Returns the row count, or -1 with HY000 posted.
int64_t batch_rows(SpkStatement *stmt, const SpkBatch &batch) {
    const std::vector<SpkBatchColumn> &cols = batch.columns;
    size_t n = cols[0].count;
    for (size_t i = 0; i < cols.size(); i++) {
        if (cols[i].kind == SPK_BATCH_NONE) {
            SPK_LOG(stmt, LOG_ERROR, "Unknown column type in fetch_row (column %d)", (int)(i + 1));
            spk_post_error(stmt, "HY000", 0, "Unknown column type in fetch_row");
            return -1;
        }
        size_t ni = cols[i].count;
        if (ni != n) {
            SPK_LOG(stmt, LOG_ERROR, "fetch_row: column %d has %l values, column 1 has %l", (int)(i + 1),
                    (long long)ni, (long long)n);
            spk_post_error(stmt, "HY000", 0, "fetch_row: column %d has %l values, column 1 has %l", (int)(i + 1),
                           (long long)ni, (long long)n);
            return -1;
        }
    }
    // A catalog result reads the server columns its shape names, whatever
    // it presents.
    SpkOperation *op = stmt->operation;
    int described = op && op->shape ? spk_shape_server_columns(op) : spk_desc_column_count(stmt->ird);
    if (n > 0 && (stmt->ird->described || (op && op->shape)) && (int64_t)cols.size() < described) {
        SPK_LOG(stmt, LOG_ERROR, "fetch_row: %d columns in a result of %d", (int)cols.size(), described);
        spk_post_error(stmt, "HY000", 0, "fetch_row: %d columns in a result of %d", (int)cols.size(), described);
        return -1;
    }
    if (n > (size_t)INT32_MAX) {
        spk_post_error(stmt, "HY000", 0, "fetch_row: %l rows in one batch", (long long)n);
        return -1;
    }
    return (int64_t)n;
}

// Rows to ask the server for in one FetchResults, when `delivered_ahead`
// rows are already on their way: the rowset's size when it is larger than
// RowsPerFetch (fewer for wide rows), within MAX_ROWS.  0 when the row
// limit leaves nothing to ask for.
int64_t batch_want(SpkStatement *stmt, SpkOperation *op, int64_t delivered_ahead) {
    SpkConnection *conn = conn_of(stmt);
    int64_t rows = conn->rows_per_fetch > 0 ? conn->rows_per_fetch : kDefaultBatch;
    int64_t row_bytes = 0;
    SpkDescriptor *ird = stmt->ird;
    for (int i = 1; i <= ird->count; i++) {
        int64_t n = spk_desc_record(ird, i)->octet_length;
        row_bytes += 16 + (n > 0 && n < 4096 ? n : 4096);
    }
    if (row_bytes > 0 && rows > kBatchBudget / row_bytes) rows = std::max<int64_t>(kBatchBudget / row_bytes, 100);
    int64_t want = std::max<int64_t>(rows, (int64_t)std::min<uint64_t>(stmt->ard->array_size, INT32_MAX));
    uint64_t limit = stmt->attrs.max_rows;
    if (limit > 0) {
        uint64_t used = (uint64_t)op->rows_delivered + (uint64_t)delivered_ahead;
        if (used >= limit) return 0;
        if ((uint64_t)want > limit - used) want = (int64_t)(limit - used);
    }
    return std::min<int64_t>(want, SPK_MAX_BATCH_ROWS);
}

// Asks for the batches after the one just installed, so that the server
// produces them while this one is read: with two in flight, the server
// finds the next request waiting as soon as it has sent a reply.  Catalog
// results (which pass over rows) and results at their row limit ask for
// nothing ahead.  A request that cannot be sent leaves the connection
// broken, which the next fetch reports.
void prefetch_next(SpkStatement *stmt, SpkOperation *op) {
    if (!conn_of(stmt)->prefetch || op->shape || op->local || op->end_of_data) return;
    const size_t depth = (size_t)spk_tcli_fetch_ahead_depth(stmt);
    while (op->in_flight.size() < depth) {
        int64_t ahead = op->active_rows;
        for (int64_t rows : op->in_flight) ahead += rows;
        int64_t want = batch_want(stmt, op, ahead);
        if (want <= 0) return;
        SPK_LOG(stmt, LOG_DETAIL, "fetch_row: asking ahead for %l rows", (long long)want);
        // The rows in hand are good whatever happens to the request.
        if (spk_tcli_fetch_results_send(stmt, op, op->handle, want) != 0) return;
        op->in_flight.push_back(want);
    }
}

// Asks the server for the next batch (or takes the one asked for ahead).
// SQL_SUCCESS with the batch's first row current, SQL_NO_DATA at the end of
// the data, SQL_ERROR.
SQLRETURN fetch_batch(SpkStatement *stmt, SpkOperation *op, int64_t want) {
    SpkFetchReply resp;
    if (!op->has_op) {
        SPK_LOG(stmt, LOG_ERROR, "spk_fetch_row: null op handle");
        return post_no_cursor(stmt, "NULL op handle in fectch");
    }
    if (want > SPK_MAX_BATCH_ROWS) want = SPK_MAX_BATCH_ROWS;
    // SQLCancel from another thread stops the fetch once the reply is in.
    spk_stmt_fetch_begin(stmt);
    int fetched;
    if (!op->in_flight.empty()) {
        SPK_LOG(stmt, LOG_DETAIL, "fetch_row: taking the batch asked for ahead");
        op->in_flight.pop_front();
        fetched = spk_tcli_fetch_results_recv(stmt, op, &resp);
    } else {
        SPK_LOG(stmt, LOG_DETAIL, "fetch_row: asking for %l rows", (long long)want);
        fetched = spk_tcli_fetch_results(stmt, op->handle, want, &resp);
    }
    if (spk_stmt_fetch_end(stmt) != 0 || fetched != 0) return SQL_ERROR;
    // The previous batch was used up; it goes whatever the answer was.
    op->batch = SpkBatch();
    op->has_row_set = false;
    op->active_rows = 0;
    op->current_row = 0;

    if (!resp.has_results) {
        SPK_LOG(stmt, LOG_DETAIL, "fetch_row: no row_set");
        reach_end_of_data(stmt, op);
        return SQL_NO_DATA;
    }
    if (!resp.has_columns || resp.batch.columns.empty()) {
        // Rows in a form this driver does not read must not pass for the end
        // of the data.
        if (resp.other_form) {
            SPK_LOG(stmt, LOG_ERROR, "fetch_row: rows not in column form");
            spk_post_error(stmt, "HY000", 0, "fetch_row: the server sent rows not in column form");
            return SQL_ERROR;
        }
        SPK_LOG(stmt, LOG_DETAIL, resp.has_columns ? "fetch_row: column->len == 0" : "fetch_row: no columns");
        reach_end_of_data(stmt, op);
        return SQL_NO_DATA;
    }
    int64_t n = batch_rows(stmt, resp.batch);
    if (n < 0) return SQL_ERROR;
    SPK_LOG(stmt, LOG_DETAIL, "fetch_row: active_rows = %d", (int)n);
    if (n == 0) {
        reach_end_of_data(stmt, op);
        return SQL_NO_DATA;
    }
    op->batch = std::move(resp.batch);
    op->has_row_set = true;
    op->active_rows = (int32_t)n;
    op->current_row = 0;
    prefetch_next(stmt, op);
    return SQL_SUCCESS;
}

bool record_bound(const SpkField *f) { return f->data_ptr || f->indicator_ptr || f->octet_length_ptr; }

// C types the conversions serve (SQL_C_DEFAULT aside).
bool convertible_c_type(int t) {
    switch (t) {
    case SQL_C_CHAR:
    case SQL_C_WCHAR:
    case SQL_C_BINARY:
    case SQL_C_SHORT:
    case SQL_C_SSHORT:
    case SQL_C_USHORT:
    case SQL_C_LONG:
    case SQL_C_SLONG:
    case SQL_C_ULONG:
    case SQL_C_TINYINT:
    case SQL_C_UTINYINT:
    case SQL_C_STINYINT:
    case SQL_C_BIT:
    case SQL_C_SBIGINT:
    case SQL_C_UBIGINT:
    case SQL_C_DOUBLE:
    case SQL_C_FLOAT:
    case SQL_C_DATE:
    case SQL_C_TIME:
    case SQL_C_TIMESTAMP:
    case SQL_C_TYPE_DATE:
    case SQL_C_TYPE_TIME:
    case SQL_C_TYPE_TIMESTAMP:
    case SQL_C_NUMERIC:
    case SQL_C_GUID: return true;
    default: return false;
    }
}

bool interval_c_type(int t) { return t >= SQL_C_INTERVAL_YEAR && t <= SQL_C_INTERVAL_MINUTE_TO_SECOND; }

// Moves the diagnostics a descriptor routine posted on `d` to the statement.
void move_errors(SpkStatement *stmt, SpkDescriptor *d) {
    for (int i = 1;; i++) {
        const SpkError *e = spk_error_record(d, i);
        if (!e) break;
        spk_copy_error(stmt, e);
    }
    spk_clear_errors(d);
}

SQLRETURN unbind_col(SpkStatement *stmt, int column) {
    SpkDescriptor *ard = stmt->ard;
    SPK_LOG(stmt, LOG_DETAIL, "unbinding binding columns %d", column);
    if (column == 0) {
        SpkField *b = &ard->bookmark_record;
        b->data_ptr = b->indicator_ptr = b->octet_length_ptr = nullptr;
        return SQL_SUCCESS;
    }
    if (ard->count <= 0) return SQL_SUCCESS;
    SPK_LOG(stmt, LOG_DETAIL, "check if cleaup can be done %d, %d", column, (int)ard->count);
    if (column > ard->count) {
        SPK_LOG(stmt, LOG_DETAIL, "unbinding past end");
        return SQL_SUCCESS;
    }
    SpkField *f = spk_desc_record(ard, column);
    f->data_ptr = f->indicator_ptr = f->octet_length_ptr = nullptr;
    if (column < ard->count) return SQL_SUCCESS;
    SPK_LOG(stmt, LOG_DETAIL, "truncating ard list at %d", column);
    int keep = column;
    while (keep >= 1) {
        SpkField *r = spk_desc_record(ard, keep);
        SPK_LOG(stmt, LOG_DETAIL, "checking ard %d (%p,%p,%p)", keep, r->data_ptr, r->indicator_ptr,
                r->octet_length_ptr);
        if (record_bound(r)) {
            SPK_LOG(stmt, LOG_DETAIL, "stopping at %d", keep);
            break;
        }
        keep--;
    }
    SPK_LOG(stmt, LOG_DETAIL, "truncating ard list to %d", keep);
    if (keep == 0) SPK_LOG(stmt, LOG_DETAIL, "unbinding all");
    spk_desc_shrink(ard, keep);
    return SQL_SUCCESS;
}

}  // namespace

// ---------------------------------------------------------------------------
// Value accessor

void spk_column_value(SpkStatement *stmt, int column, SpkValue *out) {
    SpkOperation *op = stmt ? stmt->operation : nullptr;
    if (op && op->shape) {
        spk_shape_value(op, column, out);
        return;
    }
    spk_row_value(op, column, out);
}

void spk_batch_value(const SpkBatchColumn &c, size_t r, SpkValue *out) {
    *out = SpkValue{SPK_VALUE_NONE, 0, 0.0, nullptr, 0};
    if (r >= c.count || c.is_null(r)) return;
    switch (c.kind) {
    case SPK_BATCH_STRING:
    case SPK_BATCH_BINARY:
        out->kind = c.kind == SPK_BATCH_STRING ? SPK_VALUE_STRING : SPK_VALUE_BINARY;
        out->bytes = c.bytes(r, &out->length);
        break;
    case SPK_BATCH_BOOL:
        out->kind = SPK_VALUE_BOOL;
        out->i = c.fixed[r];
        break;
    case SPK_BATCH_BYTE:
    case SPK_BATCH_I16:
    case SPK_BATCH_I32:
    case SPK_BATCH_I64:
        out->kind = SPK_VALUE_INT;
        out->i = c.integer(r);
        break;
    case SPK_BATCH_DOUBLE:
        out->kind = SPK_VALUE_DOUBLE;
        out->d = c.number<double>(r);
        break;
    default: break;
    }
}

void spk_row_value(const SpkOperation *op, int column, SpkValue *out) {
    *out = SpkValue{SPK_VALUE_NONE, 0, 0.0, nullptr, 0};
    if (!op || !op->has_row_set) return;
    const std::vector<SpkBatchColumn> &cols = op->batch.columns;
    if (column < 1 || (size_t)column > cols.size()) return;
    if (op->current_row < 0 || op->current_row >= op->active_rows) return;
    spk_batch_value(cols[column - 1], (size_t)op->current_row, out);
}

// ---------------------------------------------------------------------------
// Bound columns

void get_pointers_from_cols(SpkStatement *stmt, const SpkField *rec, const SpkDescriptor *ard,
                            int64_t element_size, void **data, SQLLEN **indicator, SQLLEN **length) {
    int64_t row = stmt->row_offset;
    int64_t bind_type = (int32_t)ard->bind_type;
    int64_t offset = ard->bind_offset_ptr ? (int64_t) * (const SQLLEN *)ard->bind_offset_ptr : 0;
    int64_t data_step = bind_type > 0 ? bind_type * row : element_size * row;
    int64_t ind_step = bind_type > 0 ? bind_type * row : (int64_t)sizeof(SQLLEN) * row;
    SPK_LOG(stmt, LOG_DETAIL, "get_pointers_from_cols: row offset=%d", (int)row);
    SPK_LOG(stmt, LOG_DETAIL, "bind_type=%d", (int)bind_type);
    SPK_LOG(stmt, LOG_DETAIL, "actual length=%l", (long long)element_size);
    SPK_LOG(stmt, LOG_DETAIL, "bind_offset_ptr=%p", ard->bind_offset_ptr);
    *data = rec->data_ptr ? (char *)rec->data_ptr + data_step + offset : nullptr;
    *indicator = rec->indicator_ptr ? (SQLLEN *)((char *)rec->indicator_ptr + ind_step + offset) : nullptr;
    *length = rec->octet_length_ptr ? (SQLLEN *)((char *)rec->octet_length_ptr + ind_step + offset) : nullptr;
    if (*length == *indicator) *length = nullptr;
    SPK_LOG(stmt, LOG_DETAIL, "data_ptr=%p", rec->data_ptr);
    SPK_LOG(stmt, LOG_DETAIL, "result data ptr=%p", *data);
    SPK_LOG(stmt, LOG_DETAIL, "indicator_ptr=%p", rec->indicator_ptr);
    SPK_LOG(stmt, LOG_DETAIL, "result indicator_ptr=%p", (void *)*indicator);
    SPK_LOG(stmt, LOG_DETAIL, "octet_length_ptr=%p", rec->octet_length_ptr);
    SPK_LOG(stmt, LOG_DETAIL, "result octet_length_ptr=%p", (void *)*length);
}

SQLRETURN transfer_bound_columns(SpkStatement *stmt) {
    SpkDescriptor *ard = stmt->ard;
    SpkDescriptor *ird = stmt->ird;
    SPK_LOG(stmt, LOG_DETAIL, "transfer_bound_columns");
    bool bookmark = stmt->attrs.use_bookmarks != SQL_UB_OFF && record_bound(&ard->bookmark_record);
    if (ard->count < 1 && !bookmark) {
        SPK_LOG(stmt, LOG_DETAIL, "transfer_bound_columns, no ard records");
        return SQL_SUCCESS;
    }
    if (stmt->attrs.retrieve_data == SQL_RD_OFF) return SQL_SUCCESS;
    int ird_count = spk_desc_column_count(ird);
    SPK_LOG(stmt, LOG_DETAIL, "transfer_bound_columns, ard count=%d, %d", (int)ard->count, ird_count);
    SQLRETURN result = SQL_SUCCESS;
    for (int i = stmt->attrs.use_bookmarks != SQL_UB_OFF ? 0 : 1; i <= ard->count && i <= ird_count; i++) {
        SpkField *rec = spk_desc_record(ard, i);
        SPK_LOG(stmt, LOG_DETAIL,
                "processing column %d, data_ptr=%p, indicator_ptr=%p, octet_length_ptr=%p, offset=%d, length=%l", i,
                rec->data_ptr, rec->indicator_ptr, rec->octet_length_ptr, (int)stmt->row_offset,
                (long long)rec->octet_length);
        if (!record_bound(rec)) continue;
        void *data;
        SQLLEN *ind, *len;
        get_pointers_from_cols(stmt, rec, ard, spk_field_stride(ard, rec, rec->octet_length), &data, &ind, &len);
        SPK_LOG(stmt, LOG_DETAIL, "calculated pointer target_ptr=%p, ind_ptr=%p, oct_ptr=%p", data, (void *)ind,
                (void *)len);
        if (!data && !ind && !len) continue;
        SQLRETURN rc = spk_get_data(stmt, i, rec->concise_type, data, (SQLLEN)rec->octet_length, ind, len, ird, ard);
        SPK_LOG(stmt, LOG_DETAIL, "getting data returns %d", (int)rc);
        if (rc == SQL_SUCCESS_WITH_INFO) result = SQL_SUCCESS_WITH_INFO;
        if (rc == SQL_ERROR) {
            result = SQL_ERROR;
            break;
        }
    }
    SPK_LOG(stmt, LOG_DETAIL, "transfer_bound_columns, return=%r", (int)result);
    return result;
}

// ---------------------------------------------------------------------------
// Fetching

namespace {

// One row; *row_error tells a row that was fetched but could not be
// delivered (a conversion failed) from a failed fetch.
SQLRETURN fetch_row(SpkStatement *stmt, bool *row_error) {
    *row_error = false;
    SpkOperation *op = stmt->operation;
    if (!op) {
        SPK_LOG(stmt, LOG_ERROR, "spk_fetch_row: null op handle");
        return post_no_cursor(stmt, "NULL op handle in fectch");
    }
    if (op->has_row_set && !op->has_op && !op->local) {
        // SQLCancel closed the operation from another thread while this
        // statement was reading it: the cursor is gone, and so are its rows.
        spk_operation_release_rows(op);
        SPK_LOG(stmt, LOG_DETAIL, "fetch_row: cursor closed by SQLCancel");
        return post_no_cursor(stmt, "the cursor was closed by SQLCancel");
    }
    uint64_t limit = stmt->attrs.max_rows;
    // A catalog result may pass over server rows it does not present.
    do {
        if (limit > 0 && (uint64_t)op->rows_delivered >= limit) {
            SPK_LOG(stmt, LOG_DETAIL, "fetch_row: row limit %l reached", (long long)limit);
            reach_end_of_data(stmt, op);
            return SQL_NO_DATA;
        }
        if (op->has_row_set && op->active_rows >= 1 && op->current_row + 1 < op->active_rows) {
            op->current_row++;
        } else if (op->end_of_data) {
            SPK_LOG(stmt, LOG_DETAIL, "fetch_row: end of data");
            return SQL_NO_DATA;
        } else {
            SQLRETURN rc = fetch_batch(stmt, op, batch_want(stmt, op, 0));
            if (rc != SQL_SUCCESS) return rc;
        }
    } while (op->shape && !spk_shape_accept_row(op));
    op->rows_delivered++;
    stmt->row_number = op->rows_delivered;

    SpkDescriptor *ird = stmt->ird;
    ird->bookmark_record.data_done = 0;
    ird->bookmark_record.data_offset = 0;
    for (int i = 1; i <= ird->count; i++) {
        SpkField *f = spk_desc_record(ird, i);
        f->data_done = 0;
        f->data_offset = 0;
    }
    SQLRETURN rc = transfer_bound_columns(stmt);
    *row_error = rc == SQL_ERROR;
    return rc;
}

// After a row of a rowset, the rows that follow it in the batch in hand, up
// to `room`, go column by column: each bound column's values in one loop
// (spk_convert_run).  The run ends before the first row with a value the
// loops leave to the row-by-row path (a warning, an error), which then
// takes that row.  Catalog results (which pass over rows) and bookmarks
// take the row-by-row path throughout.  Returns the rows delivered, each a
// plain success; they are made current one after the other as fetch_row
// would.
int64_t fetch_run(SpkStatement *stmt, int64_t room) {
    SpkOperation *op = stmt->operation;
    if (!op || op->shape || !op->has_row_set || spk_data_value_hook != spk_column_value) return 0;
    if (stmt->attrs.use_bookmarks != SQL_UB_OFF) return 0;
    int64_t k = std::min<int64_t>(room, (int64_t)op->active_rows - 1 - op->current_row);
    uint64_t limit = stmt->attrs.max_rows;
    if (limit > 0) k = std::min<int64_t>(k, (int64_t)(limit - std::min<uint64_t>(limit, (uint64_t)op->rows_delivered)));
    if (k <= 0) return 0;
    const size_t first = (size_t)op->current_row + 1;
    SpkDescriptor *ard = stmt->ard;
    SpkDescriptor *ird = stmt->ird;
    if (stmt->attrs.retrieve_data != SQL_RD_OFF) {
        int columns = std::min<int>(ard->count, spk_desc_column_count(ird));
        int64_t bind_type = (int32_t)ard->bind_type;
        for (int i = 1; i <= columns && k > 0; i++) {
            SpkField *rec = spk_desc_record(ard, i);
            if (!record_bound(rec)) continue;
            if ((size_t)i > op->batch.columns.size()) return 0;
            int64_t element = spk_field_stride(ard, rec, rec->octet_length);
            SpkRunTarget to;
            get_pointers_from_cols(stmt, rec, ard, element, (void **)&to.data, &to.indicator, &to.length);
            to.data_step = (size_t)(bind_type > 0 ? bind_type : element);
            to.length_step = (size_t)(bind_type > 0 ? bind_type : (int64_t)sizeof(SQLLEN));
            to.buffer_length = (SQLLEN)rec->octet_length;
            k = (int64_t)spk_convert_run(i, op->batch.columns[(size_t)i - 1], first, (size_t)k,
                                         spk_desc_record(ird, i), rec, rec->concise_type, to);
        }
    }
    if (k <= 0) return 0;
    op->current_row += (int32_t)k;
    op->rows_delivered += k;
    stmt->row_number = op->rows_delivered;
    return k;
}

// The application's rows-fetched count (SQL_ATTR_ROWS_FETCHED_PTR), written
// without assuming the SQLULEN alignment: some clients (RODBC) point it at a
// 32-bit field of a struct, 4 bytes into an 8-byte slot.
void put_rows_fetched(void *to, SQLULEN n) {
    if (to) std::memcpy(to, &n, sizeof n);
}

}  // namespace

SQLRETURN spk_fetch_row(SpkStatement *stmt) {
    bool row_error;
    SQLRETURN rc = fetch_row(stmt, &row_error);
    if (row_error || rc == SQL_SUCCESS_WITH_INFO) spk_set_row_number(stmt, 1);
    return rc;
}

SQLRETURN spk_fetch(SpkStatement *stmt, int orientation, int64_t offset) {
    (void)offset;
    if (orientation != SQL_FETCH_NEXT) {
        SPK_LOG(stmt, LOG_ERROR, "fetch mode out of range");
        return spk_post_error(stmt, "HY106", 0, nullptr);
    }
    SpkDescriptor *ard = stmt->ard;
    SpkDescriptor *ird = stmt->ird;
    uint64_t n = ard->array_size;
    SQLUSMALLINT *status = (SQLUSMALLINT *)ird->array_status_ptr;
    void *processed = ird->rows_processed_ptr;
    SQLULEN processed_rows = 0;
    put_rows_fetched(processed, 0);
    stmt->row_offset = 0;
    if (n == 0) {
        SPK_LOG(stmt, LOG_ERROR, "spk_fetch: row array size 0");
        return spk_post_error(stmt, "HY024", 0, "row array size 0");
    }
    if (n > (uint64_t)INT32_MAX) {
        SPK_LOG(stmt, LOG_ERROR, "spk_fetch: row array size %l", (long long)n);
        return spk_post_error(stmt, "HY024", 0, "row array size %l", (long long)n);
    }

    SQLRETURN rc = SQL_SUCCESS;
    bool warned = false;
    bool single_row_failed = false;
    while ((uint64_t)stmt->row_offset < n) {
        bool row_error;
        rc = fetch_row(stmt, &row_error);
        // Diagnostics of a row name it (1 for the first row of the rowset).
        if (row_error || rc == SQL_SUCCESS_WITH_INFO) spk_set_row_number(stmt, stmt->row_offset + 1);
        if (row_error && n == 1) {
            single_row_failed = true;
            break;
        }
        if (row_error) {
            // The row is fetched but not delivered; the rowset goes on.
            warned = true;
            if (status) status[stmt->row_offset] = SQL_ROW_ERROR;
            put_rows_fetched(processed, ++processed_rows);
            stmt->row_offset++;
            continue;
        }
        if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) break;
        if (rc == SQL_SUCCESS_WITH_INFO) warned = true;
        if (status) status[stmt->row_offset] = rc == SQL_SUCCESS ? SQL_ROW_SUCCESS : SQL_ROW_SUCCESS_WITH_INFO;
        put_rows_fetched(processed, ++processed_rows);
        stmt->row_offset++;
        if (rc != SQL_SUCCESS || (uint64_t)stmt->row_offset >= n) continue;
        int64_t run = fetch_run(stmt, (int64_t)(n - (uint64_t)stmt->row_offset));
        if (run <= 0) continue;
        if (status)
            for (int64_t j = 0; j < run; j++) status[stmt->row_offset + j] = SQL_ROW_SUCCESS;
        processed_rows += (SQLULEN)run;
        put_rows_fetched(processed, processed_rows);
        stmt->row_offset += (int32_t)run;
    }
    int64_t fetched = stmt->row_offset;
    if (single_row_failed) {
        if (status) status[0] = SQL_ROW_ERROR;
        put_rows_fetched(processed, 1);
        fetched = 1;
    }
    if (status)
        for (uint64_t i = (uint64_t)fetched; i < n; i++) status[i] = rc == SQL_ERROR ? SQL_ROW_ERROR : SQL_ROW_NOROW;
    stmt->row_offset = (int32_t)n;
    if (fetched > 0 && n > 1) {
        // Rows were delivered: the call succeeds, and says so with a warning
        // when a row failed or carried one (the status array tells which).
        return warned || rc == SQL_ERROR ? SQL_SUCCESS_WITH_INFO : SQL_SUCCESS;
    }
    return rc;
}

SQLRETURN spk_extended_fetch(SpkStatement *stmt, int fetch_type, int64_t row, SQLULEN *row_count,
                             SQLUSMALLINT *row_status) {
    SpkDescriptor *ird = stmt->ird;
    SpkDescriptor *ard = stmt->ard;
    void *saved_processed = ird->rows_processed_ptr;
    void *saved_status = ird->array_status_ptr;
    uint64_t saved_size = ard->array_size;
    ird->rows_processed_ptr = row_count;
    ird->array_status_ptr = row_status;
    ard->array_size = stmt->attrs.rowset_size;
    SQLRETURN rc = spk_fetch(stmt, fetch_type, row);
    ird->rows_processed_ptr = saved_processed;
    ird->array_status_ptr = saved_status;
    ard->array_size = saved_size;
    return rc;
}

// ---------------------------------------------------------------------------
// SQLBindCol and SQLGetData

SQLRETURN spk_bind_col(SpkStatement *stmt, int column, int target_type, void *value, SQLLEN buffer_length,
                       SQLLEN *indicator) {
    SPK_ENTRY(stmt, "SQLBindCol: statement_handle=%p, column_number=%d, target_type = %d, value=%p, buffer_len=%l, "
                    "ind_ptr=%p",
              stmt, column, target_type, value, (long long)buffer_length, (void *)indicator);
    if (!value && !indicator) return unbind_col(stmt, column);

    SPK_LOG(stmt, LOG_DETAIL, "binding column %d", column);
    if (target_type != SQL_C_DEFAULT && !convertible_c_type(target_type)) {
        SPK_LOG(stmt, LOG_ERROR, "SQLBindCol: invalid target type %d", target_type);
        if (interval_c_type(target_type))
            return spk_post_column_error(stmt, "HYC00", 0, column, "interval types are not supported");
        return spk_post_column_error(stmt, "HY003", 0, column, nullptr);
    }
    if (buffer_length < 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLBindCol: negative buffer length");
        return spk_post_column_error(stmt, "HY090", 0, column, nullptr);
    }
    SpkDescriptor *ard = stmt->ard;
    SpkDescriptor *ird = stmt->ird;
    SpkField *rec;
    SpkField *source;
    if (column == 0) {
        if (target_type != SQL_C_UBIGINT && target_type != SQL_C_BINARY) {
            SPK_LOG(stmt, LOG_ERROR, "SQLBindCol: invalid bookmark type");
            return spk_post_column_error(stmt, "07006", 0, column, nullptr);
        }
    } else {
        // A column past the end of a result that is described and open.
        if (ird->described && (spk_stmt_has_run(stmt) || spk_stmt_has_cursor(stmt)) && column > spk_desc_column_count(ird)) {
            SPK_LOG(stmt, LOG_ERROR, "Invalid descriptor index %d", column);
            return spk_post_column_error(stmt, "07009", 0, column, nullptr);
        }
        if (ard->count < column && spk_desc_grow(ard, column) != 0) {
            SPK_LOG(stmt, LOG_ERROR, "SQLBindCol: failed to expand descriptor");
            return spk_post_error(stmt, "HY001", 0, "failed expanding descriptor");
        }
    }
    if (target_type == SQL_C_DEFAULT) {
        // The default follows the column's SQL type: have the statement
        // described first when it can be.
        if (column > 0 && !ird->described && spk_describe_stmt_if_needed(stmt) != 0) return SQL_ERROR;
        if (!spk_stmt_has_text(stmt)) spk_post_error(stmt, "HY000", 0, "No prepared sql");
    }
    rec = spk_desc_record(ard, column);
    source = column <= ird->count ? spk_desc_record(ird, column) : nullptr;
    if (target_type == SQL_C_DEFAULT) {
        // The same default as SQLGetData's (a TINYINT is signed).
        target_type = source ? spk_data_default_c_type(source->concise_type, source->is_unsigned) : SQL_C_CHAR;
        if (!convertible_c_type(target_type)) target_type = SQL_C_CHAR;
    }

    // Set on a scratch copy of the type fields so that a failure leaves the
    // binding as it was.
    SpkField saved = *rec;
    rec->octet_length = buffer_length;
    rec->length = buffer_length;
    rec->concise_type = target_type;
    rec->literal_prefix = rec->literal_suffix = rec->local_type_name = rec->type_name = nullptr;
    if (spk_update_desc_type(ard, rec, SPK_TYPE_FROM_CONCISE) != 0) {
        move_errors(stmt, ard);
        spk_str_free(rec->literal_prefix);
        spk_str_free(rec->literal_suffix);
        spk_str_free(rec->local_type_name);
        spk_str_free(rec->type_name);
        *rec = saved;
        return SQL_ERROR;
    }
    spk_str_free(saved.literal_prefix);
    spk_str_free(saved.literal_suffix);
    spk_str_free(saved.local_type_name);
    spk_str_free(saved.type_name);
    rec->bound_c_type = target_type;
    rec->data_ptr = value;
    rec->indicator_ptr = indicator;
    rec->octet_length_ptr = indicator;
    if (source && source->concise_type != 0) {
        rec->length = source->length;
        rec->datetime_precision = source->datetime_precision;
        // A numeric target keeps its own precision unless the column is a
        // number with a usable one.
        if (target_type != SQL_C_NUMERIC || (source->precision > 0 && source->scale >= 0)) {
            rec->precision = source->precision;
            rec->scale = source->scale;
        }
    }
    if (spk_check_desc_record(ard, rec) != 0) {
        move_errors(stmt, ard);
        return SQL_ERROR;
    }
    return SQL_SUCCESS;
}

SQLRETURN spk_sql_get_data(SpkStatement *stmt, int column, int target_type, void *value, SQLLEN buffer_length,
                           SQLLEN *indicator) {
    SPK_ENTRY(stmt,
              "SQLGetData: statement_handle=%p, column_number=%d, target_type=%d, target_value=%p, buffer_length=%l, "
              "strlen_or_ind = %p",
              stmt, column, target_type, value, (long long)buffer_length, (void *)indicator);
    // A fresh value of the batch in hand, in a pair of types converted in
    // one step: the checks below all pass for it (a plan exists only for a
    // C type that converts, and for a column of the result).
    SpkOperation *op = stmt->operation;
    if (op && op->has_row_set && column >= 1 && (size_t)column <= op->batch.columns.size() &&
        column <= spk_desc_column_count(stmt->ird) && buffer_length >= 0 && value && op->current_row >= 0 &&
        op->current_row < op->active_rows && !op->shape && spk_data_value_hook == spk_column_value) {
        if (op->plans.size() < op->batch.columns.size()) op->plans.resize(op->batch.columns.size());
        if (spk_convert_fast(op->batch.columns[(size_t)column - 1], (size_t)op->current_row,
                             spk_desc_record(stmt->ird, column), target_type, value, buffer_length, indicator,
                             &op->plans[(size_t)column - 1]))
            return SQL_SUCCESS;
    }
    if (target_type != SQL_C_DEFAULT && target_type != SQL_ARD_TYPE && !convertible_c_type(target_type)) {
        SPK_LOG(stmt, LOG_ERROR, "SQLGetData: invalid target type %d", target_type);
        if (interval_c_type(target_type))
            return spk_post_column_error(stmt, "HYC00", 0, column, "interval types are not supported");
        return spk_post_column_error(stmt, "HY003", 0, column, nullptr);
    }
    if (buffer_length < 0) return spk_post_column_error(stmt, "HY090", 0, column, nullptr);
    if (!value && buffer_length > 0) return spk_post_column_error(stmt, "HY009", 0, column, nullptr);

    // There must be a current row: a cursor that has been fetched from and
    // has not run past its end.
    if (!op || !op->has_row_set || op->current_row < 0 || op->current_row >= op->active_rows) {
        bool open = spk_stmt_has_cursor(stmt);
        SPK_LOG(stmt, LOG_ERROR, "SQLGetData: no current row (cursor open=%d)", (int)open);
        if (open) return spk_post_error(stmt, "24000", 0, "no current row");
        return post_no_cursor(stmt, "no open cursor");
    }

    if (column == 0) {
        if (stmt->attrs.use_bookmarks == SQL_UB_OFF) {
            SPK_LOG(stmt, LOG_ERROR, "Invalid descriptor index %d", column);
            return spk_post_column_error(stmt, "07009", 0, column, nullptr);
        }
        SPK_LOG(stmt, LOG_DETAIL, "returning bookmark use_bookmarks=%d, target_type=%d, current_row=%d",
                (int)stmt->attrs.use_bookmarks, target_type, (int)op->current_row);
        if (target_type != SQL_C_UBIGINT && target_type != SQL_C_BINARY)
            return spk_post_column_error(stmt, "HY003", 0, column, nullptr);
    } else if (column > spk_desc_column_count(stmt->ird)) {
        SPK_LOG(stmt, LOG_ERROR, "Invalid descriptor index %d", column);
        return spk_post_column_error(stmt, "07009", 0, column, nullptr);
    }
    return spk_get_data(stmt, column, target_type, value, buffer_length, indicator, nullptr, stmt->ird, stmt->ard);
}
