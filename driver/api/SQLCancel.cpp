#include "core/spk_frame.h"
#include "exec/spk_stmt.h"

// Runs without the statement's lock: it may be called from another thread
// while the statement's own call is in progress.  The operation handle is
// read and closed under the connection's transport lock.
SPK_API SQLRETURN SQL_API SQLCancel(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_CLEAR, "SQLCancel", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLCancel: statement_handle=%p", stmt);
        SPK_LOG(stmt, LOG_DETAIL, "op_handle=%p, async_op=%d", stmt->operation, 0);
        int rc = spk_close_operation(stmt);
        stmt->dae_current = -1;
        return rc == 0 ? SQL_SUCCESS : SQL_ERROR;
    });
}
