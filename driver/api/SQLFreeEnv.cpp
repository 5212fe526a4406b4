#include "core/spk_alloc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLFreeEnv(SQLHENV EnvironmentHandle) {
    return spk_free_handle(SQL_HANDLE_ENV, EnvironmentHandle);
}
