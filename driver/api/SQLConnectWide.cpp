#include "api/spk_connect_wide.h"
#include "connect/spk_logon.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"

SQLRETURN SQLConnectWide(SpkConnection *conn, const SpkString *server_name, const SpkString *user_name,
                         const SpkString *authentication) {
    if (conn->connected) return spk_post_error(conn, "08002", 0, "Connection name in use");
    if (spk_settings_for_connect(conn, server_name, user_name, authentication) < 0) return SQL_ERROR;
    return spk_connect(conn) == 0 ? SQL_SUCCESS : SQL_ERROR;
}
