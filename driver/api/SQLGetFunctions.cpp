#include "core/spk_frame.h"
#include "core/spk_info.h"

// Reports exactly the functions this library exports (see spk_info.cpp).
// No lock: the answer is a constant.
SPK_API SQLRETURN SQL_API SQLGetFunctions(SQLHDBC ConnectionHandle, SQLUSMALLINT FunctionId, SQLUSMALLINT *Supported) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_CLEAR, "SQLGetFunctions", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn, "SQLGetFunctions: function_id=%d, supported=%p", (int)FunctionId, Supported);
        if (!Supported) {
            SPK_LOG(conn, LOG_ERROR, "SQLGetFunctions: supported is NULL");
            return spk_post_error(conn, "HY009", 0, nullptr);
        }
        if (FunctionId == SQL_API_ODBC3_ALL_FUNCTIONS)
            spk_functions_bitmap(Supported);
        else if (FunctionId == SQL_API_ALL_FUNCTIONS)
            spk_functions_odbc2(Supported);
        else
            *Supported = (SQLUSMALLINT)spk_function_supported(FunctionId);
        return SQL_SUCCESS;
    });
}
