#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLGetStmtAttrW(SQLHSTMT StatementHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                         SQLINTEGER BufferLength, SQLINTEGER *StringLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLGetStmtAttrW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt,
                  "SQLGetStmtAttrW: statement_handle=%p, attribute=%d, value=%p, buffer_length=%d, string_length=%p",
                  stmt, (int)Attribute, Value, (int)BufferLength, StringLength);
        return spk_get_stmt_attr(stmt, "SQLGetStmtAttrW", Attribute, Value, BufferLength, StringLength);
    });
}
