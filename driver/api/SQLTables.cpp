#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLTables(SQLHSTMT StatementHandle,
                                       SQLCHAR *CatalogName,
                                       SQLSMALLINT NameLength1,
                                       SQLCHAR *SchemaName,
                                       SQLSMALLINT NameLength2,
                                       SQLCHAR *TableName,
                                       SQLSMALLINT NameLength3,
                                       SQLCHAR *TableType,
                                       SQLSMALLINT NameLength4) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLTables", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLTables: statement_handle=%p, catalog_name=%q, schema_name=%q, table_name=%q, table_type=%q",
                  stmt, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, TableName, (int)NameLength3, TableType, (int)NameLength4);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3}, {TableType, NameLength4}}, &args) != 0) return SQL_ERROR;
        return SQLTablesWide(stmt, args.name[0], args.name[1], args.name[2], args.name[3]);
    });
}
