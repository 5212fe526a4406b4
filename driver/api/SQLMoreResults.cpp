#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLMoreResults(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLMoreResults", [&]() -> SQLRETURN {
        SPK_ENTRY((SpkStatement *)StatementHandle, "SQLMoreResults: statement_handle=%p", StatementHandle);
        return SQL_NO_DATA;
    });
}
