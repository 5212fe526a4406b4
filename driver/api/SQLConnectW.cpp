#include "api/spk_connect_wide.h"
#include "core/spk_frame.h"

static const spk_unit spk_stars[] = {'*', '*', '*', 0};

SPK_API SQLRETURN SQL_API SQLConnectW(SQLHDBC ConnectionHandle, SQLWCHAR *ServerName, SQLSMALLINT NameLength1,
                                      SQLWCHAR *UserName, SQLSMALLINT NameLength2, SQLWCHAR *Authentication,
                                      SQLSMALLINT NameLength3) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLConnectW", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        // The password never reaches the trace.
        SPK_ENTRY(conn, "SQLConnectW: input_handle=%p, server_name = %Q, user_name = %Q, authentication = %Q", conn,
                  ServerName, (int)NameLength1, UserName, (int)NameLength2, Authentication ? spk_stars : nullptr,
                  Authentication ? SQL_NTS : (int)NameLength3);
        return spk_connect_text_args(conn, ServerName, NameLength1, UserName, NameLength2, Authentication,
                                     NameLength3, 1);
    });
}
