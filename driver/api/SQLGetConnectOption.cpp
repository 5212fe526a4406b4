#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLGetConnectOption(SQLHDBC ConnectionHandle, SQLUSMALLINT Option, SQLPOINTER Value) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLGetConnectOption", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn, "SQLGetConnectOption: connection_handle=%p, option=%d, value=%p", conn, (int)Option, Value);
        return spk_get_connect_option(conn, Option, Value);
    });
}
