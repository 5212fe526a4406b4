#include "core/spk_frame.h"
#include "exec/spk_operation.h"
#include "exec/spk_param.h"
#include "exec/spk_stmt.h"

SPK_API SQLRETURN SQL_API SQLExecute(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLExecute", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLExecute: statement_handle=%p", stmt);
        if (!stmt->processed_sql) {
            SPK_LOG(stmt, LOG_ERROR, "SQLExecute: No prepared statement");
            return spk_post_error(stmt, "HY000", 0, "no prepared statement");
        }
        if (spk_check_params(stmt) != 0) return SQL_ERROR;
        stmt->ird = stmt->implicit_ird;
        if (stmt->ipd->rows_processed_ptr) *(SQLULEN *)stmt->ipd->rows_processed_ptr = 0;
        // A cursor left open by the previous execution is closed first, so
        // that no server operation is orphaned.
        if (spk_stmt_state(stmt) != SPK_STMT_PREPARED) spk_close_stmt(stmt, 0);
        if (spk_check_dae(stmt, 12) == SQL_NEED_DATA) {
            spk_stmt_set_state(stmt, SPK_STMT_NEED_DATA);
            return SQL_NEED_DATA;
        }
        return spk_stmt_run(stmt);
    });
}
