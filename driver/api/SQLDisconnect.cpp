#include "connect/spk_logon.h"
#include "core/spk_frame.h"
#include "core/spk_handle.h"
#include "exec/spk_stmt.h"

SPK_API SQLRETURN SQL_API SQLDisconnect(SQLHDBC ConnectionHandle) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLDisconnect", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn, "SQLDisconnect: connection_handle=%p", conn);
        // Statements and descriptors go with the connection; the statements'
        // server operations are closed while the session still exists.
        for (SpkHandle *h = conn->children; h; h = h->next) {
            if (h->tag != SPK_STATEMENT_HANDLE) continue;
            SpkStatement *s = (SpkStatement *)h;
            std::lock_guard<SpkLock> g(*s->lock);
            spk_close_stmt(s, 1);
        }
        spk_conn_free_children(conn);
        if (conn->connected) {
            spk_disconnect(conn);
            conn->connected = 0;
        }
        spk_conn_reset(conn);
        return SQL_SUCCESS;
    });
}
