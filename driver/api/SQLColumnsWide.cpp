// The shared body of SQLColumns and SQLColumnsW.
#include "core/spk_frame.h"
#include "protocol/spk_tcli.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLColumnsWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema, const SpkString *table,
                         const SpkString *column) {
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (spk_catalog_require_identifiers(stmt, {schema, table, column}) != 0) return SQL_ERROR;
    tcli::TGetColumnsReq req;
    if (catalog) req.__set_catalogName(spk_catalog_name(stmt, catalog, false));
    if (schema) req.__set_schemaName(spk_catalog_name(stmt, schema, true));
    if (table) req.__set_tableName(spk_catalog_name(stmt, table, true));
    if (column) req.__set_columnName(spk_catalog_name(stmt, column, true));
    // Servers before release 4 count positions from 0.  Without a column
    // pattern the first row tells; with one, the server's version does.
    int ordinal_base = -1;
    if (column && !spk_catalog_arg_is(column, "%")) {
        int major = spk_catalog_server_major(stmt);
        if (major > 0) ordinal_base = major < 4 ? 0 : 1;
    }
    tcli::TOperationHandle op;
    if (spk_tcli_get_columns(stmt, req, &op) != 0) return SQL_ERROR;
    SpkResultShape *shape = nullptr;
    if (spk_catalog_open_server(stmt, op, spk_columns_columns, SPK_COUNT(spk_columns_columns), &shape) != 0)
        return SQL_ERROR;
    shape->ordinal_base = ordinal_base;
    return SQL_SUCCESS;
}
