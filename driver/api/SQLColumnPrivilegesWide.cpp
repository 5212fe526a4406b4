// The shared body of SQLColumnPrivileges and SQLColumnPrivilegesW.  The
// server reports no privileges: the answer is the ODBC layout without rows.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLColumnPrivilegesWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema,
                                  const SpkString *table, const SpkString *column) {
    (void)catalog;
    (void)schema;
    (void)column;
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (!table) return spk_post_error(stmt, "HY009", 0, "a table name is required");
    return spk_catalog_empty_result(stmt, spk_column_privileges_columns,
                                    SPK_COUNT(spk_column_privileges_columns)) == 0
               ? SQL_SUCCESS
               : SQL_ERROR;
}
