#include "core/spk_frame.h"
#include "results/spk_fetch.h"

SPK_API SQLRETURN SQL_API SQLExtendedFetch(SQLHSTMT StatementHandle, SQLUSMALLINT FetchType, SQLLEN Row,
                                           SQLULEN *RowCount, SQLUSMALLINT *RowStatusArray) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLExtendedFetch",
                     [&]() -> SQLRETURN {
                         SpkStatement *stmt = (SpkStatement *)StatementHandle;
                         SPK_ENTRY(stmt,
                                   "SQLExtendedFetch: statement_handle=%p, f_fetch_type=%d, irow=%l, pcrow=%p, "
                                   "rgf_row_status=%p",
                                   stmt, (int)FetchType, (long long)Row, (void *)RowCount, (void *)RowStatusArray);
                         return spk_extended_fetch(stmt, FetchType, Row, RowCount, RowStatusArray);
                     });
}
