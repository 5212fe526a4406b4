#include "core/spk_frame.h"
#include "exec/spk_stmt.h"

SPK_API SQLRETURN SQL_API SQLCloseCursor(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLCloseCursor", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLCloseCursor: statement_handle=%p", stmt);
        spk_close_stmt(stmt, 0);
        spk_stmt_forget_columns(stmt);
        return SQL_SUCCESS;
    });
}
