#include "core/spk_frame.h"
#include "results/spk_fetch.h"

SPK_API SQLRETURN SQL_API SQLBindCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLSMALLINT TargetType,
                                     SQLPOINTER TargetValue, SQLLEN BufferLength, SQLLEN *StrLen_or_Ind) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLBindCol", [&]() -> SQLRETURN {
        return spk_bind_col((SpkStatement *)StatementHandle, ColumnNumber, TargetType, TargetValue, BufferLength,
                            StrLen_or_Ind);
    });
}
