#include "core/spk_alloc.h"
#include "core/spk_frame.h"
#include "core/spk_handle.h"
#include "exec/spk_stmt.h"

SPK_API SQLRETURN SQL_API SQLFreeStmt(SQLHSTMT StatementHandle, SQLUSMALLINT Option) {
    if (Option == SQL_DROP) {
        // Freeing destroys the lock, so it runs outside the frame's lock.
        if (!spk_handle_is(StatementHandle, SPK_STATEMENT_HANDLE)) return SQL_INVALID_HANDLE;
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLFreeStmt: statement_handle=%p, option=%d", stmt, (int)Option);
        return spk_free_handle(SQL_HANDLE_STMT, stmt);
    }
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLFreeStmt", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLFreeStmt: statement_handle=%p, option=%d", stmt, (int)Option);
        switch (Option) {
        case SQL_CLOSE:
            spk_close_stmt(stmt, 0);
            return SQL_SUCCESS;
        case SQL_UNBIND:
            spk_desc_unbind(stmt->ard);
            return SQL_SUCCESS;
        case SQL_RESET_PARAMS:
            spk_desc_unbind(stmt->apd);
            return SQL_SUCCESS;
        default:
            SPK_LOG(stmt, LOG_ERROR, "SQLFreeStmt: unexpected option=%d", (int)Option);
            return spk_post_error(stmt, "HY000", 0, "unexpected option %d supplied to SQLFreeStmt", (int)Option);
        }
    });
}
