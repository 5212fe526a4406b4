// The shared body of SQLForeignKeys and SQLForeignKeysW.
#include "core/spk_frame.h"
#include "protocol/spk_tcli.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLForeignKeysWide(SpkStatement *stmt, const SpkString *pk_catalog, const SpkString *pk_schema,
                             const SpkString *pk_table, const SpkString *fk_catalog, const SpkString *fk_schema,
                             const SpkString *fk_table) {
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (!pk_table && !fk_table) return spk_post_error(stmt, "HY009", 0, "a primary-key or foreign-key table is required");
    tcli::TGetCrossReferenceReq req;
    if (pk_catalog) req.__set_parentCatalogName(spk_catalog_name(stmt, pk_catalog, false));
    if (pk_schema) req.__set_parentSchemaName(spk_catalog_name(stmt, pk_schema, false));
    if (pk_table) req.__set_parentTableName(spk_catalog_name(stmt, pk_table, false));
    if (fk_catalog) req.__set_foreignCatalogName(spk_catalog_name(stmt, fk_catalog, false));
    if (fk_schema) req.__set_foreignSchemaName(spk_catalog_name(stmt, fk_schema, false));
    if (fk_table) req.__set_foreignTableName(spk_catalog_name(stmt, fk_table, false));
    tcli::TOperationHandle op;
    if (spk_tcli_get_cross_reference(stmt, req, &op) != 0) return SQL_ERROR;
    return spk_catalog_open_server(stmt, op, spk_foreign_keys_columns, SPK_COUNT(spk_foreign_keys_columns),
                                   nullptr) == 0
               ? SQL_SUCCESS
               : SQL_ERROR;
}
