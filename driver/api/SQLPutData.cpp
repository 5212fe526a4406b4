#include "core/spk_frame.h"
#include "exec/spk_param.h"

SPK_API SQLRETURN SQL_API SQLPutData(SQLHSTMT StatementHandle, SQLPOINTER DataPtr, SQLLEN StrLen_or_Ind) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLPutData", [&]() {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLPutData: statement_handle=%p, data=%p", stmt, DataPtr);
        return spk_put_data(stmt, DataPtr, StrLen_or_Ind);
    });
}
