#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetCursorNameW(SQLHSTMT StatementHandle, SQLWCHAR *CursorName, SQLSMALLINT NameLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLSetCursorNameW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLSetCursorNameW: statement_handle=%p, cursor_name=%Q", stmt, CursorName, (int)NameLength);
        if (CursorName && !spk_text_length_ok(NameLength)) return spk_post_error(stmt, "HY090", 0, nullptr);
        return spk_set_cursor_name(stmt, "SQLSetCursorNameW",
                                   spk_str_from_wide((const spk_unit *)CursorName, NameLength));
    });
}
