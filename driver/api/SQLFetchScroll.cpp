#include "core/spk_frame.h"
#include "results/spk_fetch.h"

SPK_API SQLRETURN SQL_API SQLFetchScroll(SQLHSTMT StatementHandle, SQLSMALLINT FetchOrientation,
                                         SQLLEN FetchOffset) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLFetchScroll", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLFetchScroll: statement_handle=%p, fetch_orientation=%d, fetch_offset=%l", stmt,
                  (int)FetchOrientation, (long long)FetchOffset);
        return spk_fetch(stmt, FetchOrientation, FetchOffset);
    });
}
