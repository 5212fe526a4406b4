#include "core/spk_args.h"
#include "core/spk_frame.h"
#include "spk_api_stmt.h"

SPK_API SQLRETURN SQL_API SQLPrepareW(SQLHSTMT StatementHandle, SQLWCHAR *StatementText, SQLINTEGER TextLength) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLPrepareW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLPrepareW: statement_handle=%p, sql=%Q", stmt, StatementText, (int)TextLength);
        SpkString *text = nullptr;
        if (spk_text_arg(stmt, StatementText, TextLength, 1, &text) != 0) {
            SPK_LOG(stmt, LOG_ERROR, "SQLPrepareW: failed to create string");
            return SQL_ERROR;
        }
        SQLRETURN rc = SQLPrepareWide(stmt, text, "SQLPrepareW");
        spk_str_free(text);
        return rc;
    });
}
