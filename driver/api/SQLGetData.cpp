#include "core/spk_frame.h"
#include "results/spk_fetch.h"

SPK_API SQLRETURN SQL_API SQLGetData(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLSMALLINT TargetType,
                                     SQLPOINTER TargetValue, SQLLEN BufferLength, SQLLEN *StrLen_or_Ind) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLGetData", [&]() -> SQLRETURN {
        return spk_sql_get_data((SpkStatement *)StatementHandle, ColumnNumber, TargetType, TargetValue, BufferLength,
                                StrLen_or_Ind);
    });
}
