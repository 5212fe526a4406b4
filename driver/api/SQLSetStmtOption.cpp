#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetStmtOption(SQLHSTMT StatementHandle, SQLUSMALLINT Option, SQLULEN Value) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLSetStmtOption", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLSetStmtOption: statement_handle=%p, option=%d, value=%l", stmt, (int)Option,
                  (long long)Value);
        return spk_set_stmt_option(stmt, Option, Value);
    });
}
