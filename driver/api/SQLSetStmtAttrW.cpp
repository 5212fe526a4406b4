#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetStmtAttrW(SQLHSTMT StatementHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                         SQLINTEGER StringLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLSetStmtAttrW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLSetStmtAttrW: statement_handle=%p, attribute=%d, value=%p, string_length=%d", stmt,
                  (int)Attribute, Value, (int)StringLength);
        return spk_set_stmt_attr(stmt, "SQLSetStmtAttrW", Attribute, Value, StringLength);
    });
}
