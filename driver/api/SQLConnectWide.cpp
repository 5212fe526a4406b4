#include "api/spk_connect_wide.h"
#include "core/spk_args.h"
#include "connect/spk_logon.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"

SQLRETURN SQLConnectWide(SpkConnection *conn, const SpkString *server_name, const SpkString *user_name,
                         const SpkString *authentication) {
    if (conn->connected) return spk_post_error(conn, "08002", 0, "Connection name in use");
    if (spk_settings_for_connect(conn, server_name, user_name, authentication) < 0) return SQL_ERROR;
    return spk_connect(conn) == 0 ? SQL_SUCCESS : SQL_ERROR;
}

SQLRETURN spk_connect_text_args(SpkConnection *conn, const void *server_name, long server_length,
                                const void *user_name, long user_length, const void *authentication,
                                long authentication_length, int wide) {
    SpkString *server = nullptr, *user = nullptr, *auth = nullptr;
    SQLRETURN rc = SQL_ERROR;
    if (spk_text_arg(conn, server_name, server_length, wide, &server) == 0 &&
        spk_text_arg(conn, user_name, user_length, wide, &user) == 0 &&
        spk_text_arg(conn, authentication, authentication_length, wide, &auth) == 0)
        rc = SQLConnectWide(conn, server, user, auth);
    spk_str_free(server);
    spk_str_free(user);
    spk_str_free(auth);
    return rc;
}
