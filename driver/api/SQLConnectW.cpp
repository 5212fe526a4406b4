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
        if ((ServerName && !spk_text_length_valid(NameLength1)) || (UserName && !spk_text_length_valid(NameLength2)) ||
            (Authentication && !spk_text_length_valid(NameLength3)))
            return spk_post_error(conn, "HY090", 0, nullptr);
        SpkString *server = spk_str_from_wide((const spk_unit *)ServerName, NameLength1);
        SpkString *user = spk_str_from_wide((const spk_unit *)UserName, NameLength2);
        SpkString *auth = spk_str_from_wide((const spk_unit *)Authentication, NameLength3);
        SQLRETURN rc;
        if ((ServerName && !server) || (UserName && !user) || (Authentication && !auth))
            rc = spk_post_error(conn, "HY001", 0, nullptr);
        else
            rc = SQLConnectWide(conn, server, user, auth);
        spk_str_free(server);
        spk_str_free(user);
        spk_str_free(auth);
        return rc;
    });
}
