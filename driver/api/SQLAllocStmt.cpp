#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLAllocStmt(SQLHDBC ConnectionHandle, SQLHSTMT *StatementHandle) {
    return spk_alloc_handle(SQL_HANDLE_STMT, ConnectionHandle, (SQLHANDLE *)StatementHandle, SQL_OV_ODBC2);
}
