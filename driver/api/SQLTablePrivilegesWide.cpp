// The shared body of SQLTablePrivileges and SQLTablePrivilegesW.  The server
// reports no privileges: the answer is the ODBC layout without rows.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLTablePrivilegesWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema,
                                 const SpkString *table) {
    (void)catalog;
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (spk_catalog_require_identifiers(stmt, {schema, table}) != 0) return SQL_ERROR;
    return spk_catalog_empty_result(stmt, spk_table_privileges_columns, SPK_COUNT(spk_table_privileges_columns)) == 0
               ? SQL_SUCCESS
               : SQL_ERROR;
}
