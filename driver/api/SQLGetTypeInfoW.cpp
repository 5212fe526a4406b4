#include "core/spk_frame.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLGetTypeInfoW(SQLHSTMT StatementHandle, SQLSMALLINT DataType) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLGetTypeInfoW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLGetTypeInfoW: statement_handle=%p, data_type=%d", stmt, (int)DataType);
        return SQLGetTypeInfoWide(stmt, DataType);
    });
}
