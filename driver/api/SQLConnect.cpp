#include "api/spk_connect_wide.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLConnect(SQLHDBC ConnectionHandle, SQLCHAR *ServerName, SQLSMALLINT NameLength1,
                                     SQLCHAR *UserName, SQLSMALLINT NameLength2, SQLCHAR *Authentication,
                                     SQLSMALLINT NameLength3) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLConnect", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        // The password never reaches the trace.
        SPK_ENTRY(conn, "SQLConnect: input_handle=%p, server_name = %q, user_name = %q, authentication = %q", conn,
                  ServerName, (int)NameLength1, UserName, (int)NameLength2, Authentication ? "***" : nullptr,
                  Authentication ? SQL_NTS : (int)NameLength3);
        return spk_connect_text_args(conn, ServerName, NameLength1, UserName, NameLength2, Authentication,
                                     NameLength3, 0);
    });
}
