#include "core/spk_frame.h"
#include "exec/spk_param.h"
#include "exec/spk_stmt.h"

// SQLCancel may be called from another thread while the statement's own
// call is in progress.  When the statement is idle its lock is free: the
// call then runs like any other (diagnostics cleared under the lock).  When
// it is busy, the diagnostics belong to the running call and are left
// alone; the operation handle is read and closed under the connection's
// transport lock either way.
SPK_API SQLRETURN SQL_API SQLCancel(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, 0, "SQLCancel", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        std::unique_lock<SpkLock> idle(*stmt->lock, std::try_to_lock);
        if (idle.owns_lock()) spk_clear_errors(stmt);
        SPK_ENTRY(stmt, "SQLCancel: statement_handle=%p", stmt);
        SPK_LOG(stmt, LOG_DETAIL, "op_handle=%p, async_op=%d", stmt->operation, 0);
        int rc = spk_close_operation(stmt);
        // Cancelling a data-at-execution sequence succeeds: nothing was sent.
        if (idle.owns_lock() && spk_param_cancel_dae(stmt)) return SQL_SUCCESS;
        return rc == 0 ? SQL_SUCCESS : SQL_ERROR;
    });
}
