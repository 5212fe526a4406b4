// The shared body of SQLPrepare and SQLPrepareW.
#include "core/spk_frame.h"
#include "exec/spk_stmt.h"
#include "spk_api_stmt.h"

SQLRETURN SQLPrepareWide(SpkStatement *stmt, const SpkString *text, const char *fn) {
    if (spk_close_stmt(stmt, 1) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "%s: failed to close stmt", fn);
        if (spk_error_count(stmt) == 0) spk_post_error(stmt, "HY000", 0, "failed to close the previous operation");
        return SQL_ERROR;
    }
    stmt->ird = stmt->implicit_ird;
    if (!text) return spk_post_error(stmt, "HY009", 0, nullptr);
    if (spk_stmt_set_text(stmt, text) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "%s: failed to process string", fn);
        return SQL_ERROR;
    }
    stmt->sql = spk_str_copy(text);
    stmt->re_prepare = 0;
    stmt->param_described = 0;
    return SQL_SUCCESS;
}
