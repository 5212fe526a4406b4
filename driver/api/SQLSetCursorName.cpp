#include "core/spk_attr.h"
#include "core/spk_frame.h"

// The name arrives as UTF-8.
SPK_API SQLRETURN SQL_API SQLSetCursorName(SQLHSTMT StatementHandle, SQLCHAR *CursorName, SQLSMALLINT NameLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLSetCursorName", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLSetCursorName: statement_handle=%p, cursor_name=%q", stmt, CursorName, (int)NameLength);
        if (CursorName && !spk_text_length_ok(NameLength)) return spk_post_error(stmt, "HY090", 0, nullptr);
        return spk_set_cursor_name(stmt, "SQLSetCursorName", spk_str_from_utf8((const char *)CursorName, NameLength));
    });
}
