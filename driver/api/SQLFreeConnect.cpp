#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLFreeConnect(SQLHDBC ConnectionHandle) {
    return spk_free_handle(SQL_HANDLE_DBC, ConnectionHandle);
}
