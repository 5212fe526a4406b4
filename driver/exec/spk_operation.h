// A statement's server operation and the row set being read from it.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <vector>

#include "TCLIService_types.h"
#include "spk_batch.h"
#include "spk_handles.h"

struct SpkResultShape;

// How SQLGetData last converted a column's value (spk_convert_fast), kept
// while the column's member, its SQL type and the C type asked for stay the
// same.
struct SpkGetDataPlan {
    int c_type = -1;
    int kind = -1;
    int sql_type = -1;
    int kernel = 0;       // 0: not a value the shortcut converts
    int target = 0;
};

struct SpkOperation {
    // `handle` names an open server operation.  Written under the
    // connection's transport lock; SQLCancel may clear it from another thread.
    std::atomic<bool> has_op{false};
    tcli::TOperationHandle handle;
    SpkBatch batch;                 // the last FetchResults batch
    bool has_row_set = false;
    int32_t active_rows = 0;        // rows in `batch`
    int32_t current_row = 0;        // 0-based row of `batch` that is current
    bool end_of_data = false;       // the server answered a fetch with no rows
    std::vector<SpkGetDataPlan> plans;   // by column
    int64_t rows_delivered = 0;     // rows made current so far (for the row limit)
    // A catalog result: the columns it presents over the server's (or over
    // `batch` itself), and the rows it passes over (spk_shape.h).
    std::shared_ptr<SpkResultShape> shape;
    // The rows were made by the driver: `batch` is the whole result and no
    // server operation stands behind it.
    bool local = false;

    // SQLCancel, from another thread, asks the call in progress to stop; the
    // call sends CancelOperation when its current exchange is over.  A
    // back-off between two polls ends early on a cancel.
    std::atomic<bool> cancel_requested{false};
    std::mutex wake_lock;
    std::condition_variable wake;
    // The row count GetOperationStatus reported for the finished statement.
    int64_t modified_rows = -1;
    // Batches asked for ahead (spk_tcli_fetch_results_send with this record
    // as owner) whose replies are not yet taken: the rows each asks for,
    // oldest first.
    std::deque<int64_t> in_flight;
};

// The statement's operation record, made on first use; null (HY001 posted)
// when memory runs out.
SpkOperation *spk_stmt_operation(SpkStatement *stmt);
// Drops the row set (the operation handle stays).
void spk_operation_release_rows(SpkOperation *op);
// Drops the batches asked for ahead, which the cursor will never read (their
// replies are read off the wire, on the connection of `stmt`).
void spk_operation_forget_ahead(SpkStatement *stmt, SpkOperation *op);
