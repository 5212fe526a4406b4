#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLNumParams(SQLHSTMT StatementHandle, SQLSMALLINT *ParameterCount) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLNumParams", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLNumParams: statement_handle=%p, pcpar=%p", stmt, ParameterCount);
        SPK_LOG(stmt, LOG_DETAIL, "SQLNumParams: found_param_count=%d", (int)stmt->param_count);
        if (ParameterCount) *ParameterCount = (SQLSMALLINT)stmt->param_count;
        return SQL_SUCCESS;
    });
}
