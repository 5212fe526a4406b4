#include "core/spk_frame.h"
#include "exec/spk_stmt.h"

SPK_API SQLRETURN SQL_API SQLEndTran(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT CompletionType) {
    if (HandleType != SQL_HANDLE_DBC) {
        SpkHandle *h = (SpkHandle *)Handle;
        if (!spk_handle_is(h, SPK_ENVIRONMENT_HANDLE) && !spk_handle_is(h, SPK_STATEMENT_HANDLE) &&
            !spk_handle_is(h, SPK_DESCRIPTOR_HANDLE))
            return SQL_INVALID_HANDLE;
        SPK_ENTRY(h, "SQLEndTran: handle_type=%d, handle=%p, completion_type=%d", (int)HandleType, h,
                  (int)CompletionType);
        SPK_LOG(h, LOG_ERROR, "SQLEndTran: connection type not SQL_HANDLE_DBC");
        return spk_post_error(h, "HY000", 0, "connection type not SQL_HANDLE_DBC");
    }
    return SPK_FRAME(Handle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLEndTran", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)Handle;
        SPK_ENTRY(conn, "SQLEndTran: handle_type=%d, handle=%p, completion_type=%d", (int)HandleType, conn,
                  (int)CompletionType);
        if (conn->attrs.autocommit) {
            SPK_LOG(conn, LOG_DETAIL, "Autocommit on, no work to do");
            return SQL_SUCCESS;
        }
        if (CompletionType != SQL_COMMIT && CompletionType != SQL_ROLLBACK) {
            SPK_LOG(conn, LOG_ERROR, "SQLEndTran: completion type not SQL_COMMIT/SQL_ROLLBACK");
            return spk_post_error(conn, "HY000", 0, "completion type not SQL_COMMIT/SQL_ROLLBACK");
        }
        return spk_end_tran(conn, CompletionType);
    });
}
