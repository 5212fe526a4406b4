#include "core/spk_args.h"
#include "core/spk_frame.h"
#include "spk_api_stmt.h"

SPK_API SQLRETURN SQL_API SQLPrepare(SQLHSTMT StatementHandle, SQLCHAR *StatementText, SQLINTEGER TextLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLPrepare", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLPrepare: statement_handle=%p, sql=%q", stmt, StatementText, (int)TextLength);
        SpkString *text = nullptr;
        if (spk_text_arg(stmt, StatementText, TextLength, 0, &text) != 0) {
            SPK_LOG(stmt, LOG_ERROR, "SQLPrepare: failed to create string");
            return SQL_ERROR;
        }
        SQLRETURN rc = SQLPrepareWide(stmt, text, "SQLPrepare");
        spk_str_free(text);
        return rc;
    });
}
