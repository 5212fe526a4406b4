#include "core/spk_attr.h"
#include "core/spk_frame.h"

// The name comes back as UTF-16, lengths in bytes.
SPK_API SQLRETURN SQL_API SQLGetCursorNameW(SQLHSTMT StatementHandle, SQLWCHAR *CursorName, SQLSMALLINT BufferLength,
                                            SQLSMALLINT *NameLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLGetCursorNameW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLGetCursorNameW: statement_handle=%p, cursor_name=%p, buffer_length=%d, name_length=%p",
                  stmt, CursorName, (int)BufferLength, NameLength);
        return spk_get_cursor_name(stmt, "SQLGetCursorNameW", 1, CursorName, BufferLength, NameLength);
    });
}
