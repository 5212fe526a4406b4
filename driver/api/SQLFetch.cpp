#include "core/spk_frame.h"
#include "results/spk_fetch.h"

SPK_API SQLRETURN SQL_API SQLFetch(SQLHSTMT StatementHandle) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLFetch", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLFetch: statement_handle=%p", stmt);
        return spk_fetch(stmt, SQL_FETCH_NEXT, 0);
    });
}
