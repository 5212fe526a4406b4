#include "core/spk_frame.h"
#include "exec/spk_describe.h"

SPK_API SQLRETURN SQL_API SQLNumResultCols(SQLHSTMT StatementHandle, SQLSMALLINT *ColumnCount) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLNumResultCols",
                     [&]() { return spk_num_result_cols((SpkStatement *)StatementHandle, ColumnCount); });
}
