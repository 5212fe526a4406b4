// The shared body of SQLTables and SQLTablesW.
#include "core/spk_frame.h"
#include "protocol/spk_tcli.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

namespace {

// GetCatalogs (TABLE_CAT) and GetSchemas (TABLE_SCHEM, TABLE_CATALOG) in the
// five columns of SQLTables.
const SpkShapeColumn kCatalogsShape[5] = {
    {"TABLE_CAT", SQL_VARCHAR, SPK_SHAPE_COPY, 1, 0},  {"TABLE_SCHEM", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0},
    {"TABLE_NAME", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0}, {"TABLE_TYPE", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0},
    {"REMARKS", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0},
};
const SpkShapeColumn kSchemasShape[5] = {
    {"TABLE_CAT", SQL_VARCHAR, SPK_SHAPE_NULL_IF_EMPTY, 2, 0}, {"TABLE_SCHEM", SQL_VARCHAR, SPK_SHAPE_COPY, 1, 0},
    {"TABLE_NAME", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0},         {"TABLE_TYPE", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0},
    {"REMARKS", SQL_VARCHAR, SPK_SHAPE_COPY, 0, 0},
};
const SpkShapeColumn kTablesShape[5] = {
    {"TABLE_CAT", SQL_VARCHAR, SPK_SHAPE_NULL_IF_EMPTY, 1, 0}, {"TABLE_SCHEM", SQL_VARCHAR, SPK_SHAPE_COPY, 2, 0},
    {"TABLE_NAME", SQL_VARCHAR, SPK_SHAPE_COPY, 3, 0},         {"TABLE_TYPE", SQL_VARCHAR, SPK_SHAPE_COPY, 4, 0},
    {"REMARKS", SQL_VARCHAR, SPK_SHAPE_COPY, 5, 0},
};

// The table types this server has (what its GetTableTypes answers).
const char *const kTableTypes[] = {"TABLE", "VIEW"};

}  // namespace

SQLRETURN SQLTablesWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema, const SpkString *table,
                        const SpkString *table_type) {
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    tcli::TOperationHandle op;
    if (spk_catalog_arg_is(catalog, SQL_ALL_CATALOGS) && spk_catalog_arg_empty(schema) &&
        spk_catalog_arg_empty(table)) {
        SPK_LOG(stmt, LOG_DETAIL, "SQLTables: all catalogs");
        if (spk_tcli_get_catalogs(stmt, &op) != 0) return SQL_ERROR;
        return spk_catalog_open_server(stmt, op, kCatalogsShape, 5, nullptr) == 0 ? SQL_SUCCESS : SQL_ERROR;
    }
    if (spk_catalog_arg_is(schema, SQL_ALL_SCHEMAS) && spk_catalog_arg_empty(catalog) &&
        spk_catalog_arg_empty(table)) {
        SPK_LOG(stmt, LOG_DETAIL, "SQLTables: all schemas");
        if (spk_tcli_get_schemas(stmt, &op) != 0) return SQL_ERROR;
        return spk_catalog_open_server(stmt, op, kSchemasShape, 5, nullptr) == 0 ? SQL_SUCCESS : SQL_ERROR;
    }
    if (spk_catalog_arg_is(table_type, SQL_ALL_TABLE_TYPES) && spk_catalog_arg_empty(catalog) &&
        spk_catalog_arg_empty(schema) && spk_catalog_arg_empty(table)) {
        SPK_LOG(stmt, LOG_DETAIL, "SQLTables: all table types");
        tcli::TRowSet rows;
        spk_rows_init(&rows, spk_tables_columns, 5);
        for (const char *type : kTableTypes) {
            for (int c : {1, 2, 3, 5}) spk_rows_add_text(&rows, c, (const char *)nullptr);
            spk_rows_add_text(&rows, 4, type);
        }
        return spk_catalog_open_local(stmt, spk_tables_columns, 5, &rows) == 0 ? SQL_SUCCESS : SQL_ERROR;
    }
    if (spk_catalog_require_identifiers(stmt, {schema, table}) != 0) return SQL_ERROR;
    tcli::TGetTablesReq req;
    if (catalog) req.__set_catalogName(spk_catalog_name(stmt, catalog, false));
    if (schema) req.__set_schemaName(spk_catalog_name(stmt, schema, true));
    if (table) req.__set_tableName(spk_catalog_name(stmt, table, true));
    std::vector<std::string> types = spk_catalog_table_types(table_type);
    // "%" among the types asks for every type: no filter.
    bool all_types = false;
    for (const std::string &t : types) all_types = all_types || t == SQL_ALL_TABLE_TYPES;
    if (!types.empty() && !all_types) req.__set_tableTypes(types);
    if (spk_tcli_get_tables(stmt, req, &op) != 0) return SQL_ERROR;
    return spk_catalog_open_server(stmt, op, kTablesShape, 5, nullptr) == 0 ? SQL_SUCCESS : SQL_ERROR;
}
