#include "core/spk_args.h"
#include "core/spk_frame.h"
#include "spk_api_stmt.h"

SPK_API SQLRETURN SQL_API SQLNativeSql(SQLHDBC ConnectionHandle, SQLCHAR *InStatementText, SQLINTEGER TextLength1,
                                       SQLCHAR *OutStatementText, SQLINTEGER BufferLength, SQLINTEGER *TextLength2Ptr) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLNativeSql", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn, "SQLNativeSql: connection_handle=%p, sql=%q, out_str=%p, out_len=%d, len_ptr=%p", conn,
                  InStatementText, (int)TextLength1, OutStatementText, (int)BufferLength, TextLength2Ptr);
        SpkString *text = nullptr;
        if (spk_text_arg(conn, InStatementText, TextLength1, 0, &text) != 0) {
            SPK_LOG(conn, LOG_ERROR, "SQLNativeSql: failed to create string");
            return SQL_ERROR;
        }
        if (!text) return spk_post_error(conn, "HY009", 0, nullptr);
        SQLRETURN rc = SQLNativeSqlWide(conn, text, OutStatementText, BufferLength, TextLength2Ptr, 0);
        spk_str_free(text);
        return rc;
    });
}
