#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLRowCount(SQLHSTMT StatementHandle, SQLLEN *RowCount) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLRowCount", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLRowCount: statement_handle=%p, rowcount=%p", stmt, RowCount);
        if (RowCount) {
            *RowCount = stmt->row_count_valid ? (SQLLEN)stmt->row_count : -1;
            SPK_LOG(stmt, LOG_DETAIL, "SQLRowCount: count=%l", (long long)*RowCount);
        }
        return SQL_SUCCESS;
    });
}
