#include "core/spk_frame.h"
#include "exec/spk_param.h"

SPK_API SQLRETURN SQL_API SQLParamData(SQLHSTMT StatementHandle, SQLPOINTER *ValuePtrPtr) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLParamData", [&]() {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLParamData: statement_handle=%p, value=%p", stmt, (void *)ValuePtrPtr);
        return spk_param_data(stmt, ValuePtrPtr);
    });
}
