// The shared body of SQLExecDirect and SQLExecDirectW.
#include "core/spk_frame.h"
#include "exec/spk_operation.h"
#include "exec/spk_param.h"
#include "exec/spk_stmt.h"
#include "spk_api_stmt.h"

SQLRETURN SQLExecDirectWide(SpkStatement *stmt, const SpkString *text) {
    stmt->param_described = 0;
    if (spk_stmt_set_text(stmt, text) != 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLExecDirectWide: failed processing string");
        return SQL_ERROR;
    }
    stmt->sql = spk_str_copy(text);
    stmt->ird = stmt->implicit_ird;
    if (spk_check_params(stmt) != 0) return SQL_ERROR;
    if (stmt->ipd->rows_processed_ptr) *(SQLULEN *)stmt->ipd->rows_processed_ptr = 0;
    if (spk_check_dae(stmt, 11) == SQL_NEED_DATA) {
        spk_stmt_set_state(stmt, SPK_STMT_NEED_DATA);
        return SQL_NEED_DATA;
    }
    SQLRETURN rc = spk_stmt_run(stmt);
    SPK_LOG(stmt, LOG_EXIT, "SQLExecDirectWide: return value=%d", (int)rc);
    return rc;
}
