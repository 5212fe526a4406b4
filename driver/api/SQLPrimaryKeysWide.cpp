// The shared body of SQLPrimaryKeys and SQLPrimaryKeysW.  Spark tables have
// no primary keys: the answer is the ODBC layout without rows.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLPrimaryKeysWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema,
                             const SpkString *table) {
    (void)catalog;
    (void)schema;
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (!table) return spk_post_error(stmt, "HY009", 0, "a table name is required");
    return spk_catalog_empty_result(stmt, spk_primary_keys_columns, SPK_COUNT(spk_primary_keys_columns)) == 0
               ? SQL_SUCCESS
               : SQL_ERROR;
}
