#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLTablePrivileges(SQLHSTMT StatementHandle,
                                                SQLCHAR *CatalogName,
                                                SQLSMALLINT NameLength1,
                                                SQLCHAR *SchemaName,
                                                SQLSMALLINT NameLength2,
                                                SQLCHAR *TableName,
                                                SQLSMALLINT NameLength3) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLTablePrivileges", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLTablePrivileges: statement_handle=%p, catalog_name=%q, schema_name=%q, table_name=%q",
                  stmt, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, TableName, (int)NameLength3);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3}}, &args) != 0) return SQL_ERROR;
        return SQLTablePrivilegesWide(stmt, args.name[0], args.name[1], args.name[2]);
    });
}
