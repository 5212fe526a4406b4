#include "core/spk_frame.h"
#include "exec/spk_stmt.h"

// SQLCancel may be called from another thread while the statement's own
// call is in progress, so the frame takes no lock and clears nothing: the
// diagnostics belong to the running call.  The execution layer decides what
// a cancel means in the statement's state.
SPK_API SQLRETURN SQL_API SQLCancel(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, 0, "SQLCancel", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLCancel: statement_handle=%p", stmt);
        return spk_stmt_cancel(stmt);
    });
}
