#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLAllocConnect(SQLHENV EnvironmentHandle, SQLHDBC *ConnectionHandle) {
    return spk_alloc_handle(SQL_HANDLE_DBC, EnvironmentHandle, (SQLHANDLE *)ConnectionHandle, SQL_OV_ODBC2);
}
