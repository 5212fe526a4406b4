#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLColumns(SQLHSTMT StatementHandle,
                                        SQLCHAR *CatalogName,
                                        SQLSMALLINT NameLength1,
                                        SQLCHAR *SchemaName,
                                        SQLSMALLINT NameLength2,
                                        SQLCHAR *TableName,
                                        SQLSMALLINT NameLength3,
                                        SQLCHAR *ColumnName,
                                        SQLSMALLINT NameLength4) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLColumns", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLColumns: statement_handle=%p, catalog_name=%q, schema_name=%q, table_name=%q, column_name=%q",
                  stmt, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, TableName, (int)NameLength3, ColumnName, (int)NameLength4);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3}, {ColumnName, NameLength4}}, &args) != 0) return SQL_ERROR;
        return SQLColumnsWide(stmt, args.name[0], args.name[1], args.name[2], args.name[3]);
    });
}
