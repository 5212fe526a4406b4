// The shared body of SQLSpecialColumns and SQLSpecialColumnsW.  Spark has
// neither row identifiers nor row versions: the answer is the ODBC layout
// without rows.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLSpecialColumnsWide(SpkStatement *stmt, int identifier_type, const SpkString *catalog,
                                const SpkString *schema, const SpkString *table, int scope, int nullable) {
    (void)catalog;
    (void)schema;
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (identifier_type != SQL_BEST_ROWID && identifier_type != SQL_ROWVER)
        return spk_post_error(stmt, "HY097", 0, "Column type out of range");
    if (scope != SQL_SCOPE_CURROW && scope != SQL_SCOPE_TRANSACTION && scope != SQL_SCOPE_SESSION)
        return spk_post_error(stmt, "HY098", 0, "Scope type out of range");
    if (nullable != SQL_NO_NULLS && nullable != SQL_NULLABLE)
        return spk_post_error(stmt, "HY099", 0, "Nullable type out of range");
    if (!table) return spk_post_error(stmt, "HY009", 0, "a table name is required");
    return spk_catalog_empty_result(stmt, spk_special_columns_columns, SPK_COUNT(spk_special_columns_columns)) == 0
               ? SQL_SUCCESS
               : SQL_ERROR;
}
