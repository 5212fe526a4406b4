#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLAllocEnv(SQLHENV *EnvironmentHandle) {
    return spk_alloc_handle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, (SQLHANDLE *)EnvironmentHandle, SQL_OV_ODBC2);
}
