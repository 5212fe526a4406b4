#include "core/spk_args.h"
#include "core/spk_frame.h"
#include "exec/spk_stmt.h"
#include "spk_api_stmt.h"

SPK_API SQLRETURN SQL_API SQLExecDirect(SQLHSTMT StatementHandle, SQLCHAR *StatementText, SQLINTEGER TextLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLExecDirect", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLExecDirect: statement_handle=%p, sql=%q", stmt, StatementText, (int)TextLength);
        if (spk_close_stmt(stmt, 1) != 0) {
            SPK_LOG(stmt, LOG_ERROR, "SQLExecDirect: failed to close stmt");
            return SQL_ERROR;
        }
        SpkString *text = nullptr;
        if (spk_text_arg(stmt, StatementText, TextLength, 0, &text) != 0) {
            SPK_LOG(stmt, LOG_ERROR, "SQLExecDirect: failed creating string");
            return SQL_ERROR;
        }
        if (!text) return spk_post_error(stmt, "HY009", 0, nullptr);
        SQLRETURN rc = SQLExecDirectWide(stmt, text);
        spk_str_free(text);
        return rc;
    });
}
