#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLAllocHandle(SQLSMALLINT HandleType, SQLHANDLE InputHandle, SQLHANDLE *OutputHandle) {
    return spk_alloc_handle(HandleType, InputHandle, OutputHandle, SQL_OV_ODBC3);
}
