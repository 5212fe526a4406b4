#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLProcedures(SQLHSTMT StatementHandle,
                                           SQLCHAR *CatalogName,
                                           SQLSMALLINT NameLength1,
                                           SQLCHAR *SchemaName,
                                           SQLSMALLINT NameLength2,
                                           SQLCHAR *ProcName,
                                           SQLSMALLINT NameLength3) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLProcedures", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLProcedures: statement_handle=%p, catalog_name=%q, schema_name=%q, proc_name=%q",
                  stmt, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, ProcName, (int)NameLength3);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {ProcName, NameLength3}}, &args) != 0) return SQL_ERROR;
        return SQLProceduresWide(stmt, args.name[0], args.name[1], args.name[2]);
    });
}
