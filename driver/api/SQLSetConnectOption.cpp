#include "core/spk_attr.h"
#include "core/spk_frame.h"

// ODBC 2: the option is a 16-bit code, the value an integer (or, for the
// catalog, a text that is not kept).
SPK_API SQLRETURN SQL_API SQLSetConnectOption(SQLHDBC ConnectionHandle, SQLUSMALLINT Option, SQLULEN Value) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLSetConnectOption", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn, "SQLSetConnectOption: connection_handle=%p, option=%d, value=%l", conn, (int)Option,
                  (long long)Value);
        return spk_set_connect_option(conn, Option, Value);
    });
}
