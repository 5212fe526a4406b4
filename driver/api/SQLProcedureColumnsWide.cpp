// The shared body of SQLProcedureColumns and SQLProcedureColumnsW.  The
// server does not describe function arguments: the answer is the ODBC layout
// without rows.
#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SQLRETURN SQLProcedureColumnsWide(SpkStatement *stmt, const SpkString *catalog, const SpkString *schema,
                                  const SpkString *procedure, const SpkString *column) {
    (void)catalog;
    if (spk_catalog_begin(stmt) != 0) return SQL_ERROR;
    if (spk_catalog_require_identifiers(stmt, {schema, procedure, column}) != 0) return SQL_ERROR;
    return spk_catalog_empty_result(stmt, spk_procedure_columns_columns, SPK_COUNT(spk_procedure_columns_columns)) ==
                   0
               ? SQL_SUCCESS
               : SQL_ERROR;
}
