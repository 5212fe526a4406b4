// The shared body of SQLNativeSql and SQLNativeSqlW.
#include "core/spk_frame.h"
#include "exec/spk_sql.h"
#include "spk_api_stmt.h"

SQLRETURN SQLNativeSqlWide(SpkConnection *conn, const SpkString *text, void *out, SQLINTEGER buffer_length,
                           SQLINTEGER *length, int wide) {
    if (out && buffer_length < 0) return spk_post_error(conn, "HY090", 0, nullptr);
    SpkSqlScan scan;
    spk_sql_scan_init(&scan);
    // The scanner posts on the connection directly: no temporary statement
    // is needed to collect its records.
    SpkString *processed = spk_process_sql(conn, text, &scan);
    spk_sql_scan_clear(&scan);
    if (!processed) return SQL_ERROR;
    long len = 0;
    SQLRETURN rc;
    if (wide)
        rc = spk_copy_wide_chars(conn, processed, out, out ? buffer_length : 0, &len);
    else
        rc = spk_copy_ansi(conn, processed, out, out ? buffer_length : 0, &len);
    spk_str_free(processed);
    if (rc == SQL_ERROR) return rc;
    if (length) *length = (SQLINTEGER)len;
    return rc;
}
