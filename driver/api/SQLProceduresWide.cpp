// The shared body of SQLProcedures and SQLProceduresW.
#include "core/spk_frame.h"
#include "protocol/spk_tcli.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLProceduresWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema,
                            const SpkString *procedure) {
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (spk_catalog_require_identifiers(stmt, {schema, procedure}) != 0) return SQL_ERROR;
    tcli::TGetFunctionsReq req;
    if (catalog) req.__set_catalogName(spk_catalog_name(stmt, catalog, false));
    if (schema) req.__set_schemaName(spk_catalog_name(stmt, schema, true));
    // The server refuses a request without a function name: all of them.
    req.functionName = procedure ? spk_catalog_name(stmt, procedure, true) : std::string("%");
    tcli::TOperationHandle op;
    if (spk_tcli_get_functions(stmt, req, &op) != 0) return SQL_ERROR;
    SpkResultShape *shape = nullptr;
    if (spk_catalog_open_server(stmt, op, spk_procedures_columns, SPK_COUNT(spk_procedures_columns), &shape) != 0)
        return SQL_ERROR;
    // The server lists every function once per database it can be called
    // from; each is presented once.
    shape->unique_source = 3;
    return SQL_SUCCESS;
}
