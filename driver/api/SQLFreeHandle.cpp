#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLFreeHandle(SQLSMALLINT HandleType, SQLHANDLE Handle) {
    return spk_free_handle(HandleType, Handle);
}
