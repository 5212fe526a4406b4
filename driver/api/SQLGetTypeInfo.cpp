#include "core/spk_frame.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLGetTypeInfo(SQLHSTMT StatementHandle, SQLSMALLINT DataType) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLGetTypeInfo", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLGetTypeInfo: statement_handle=%p, data_type=%d", stmt, (int)DataType);
        return SQLGetTypeInfoWide(stmt, DataType);
    });
}
