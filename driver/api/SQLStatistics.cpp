#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLStatistics(SQLHSTMT StatementHandle,
                                           SQLCHAR *CatalogName,
                                           SQLSMALLINT NameLength1,
                                           SQLCHAR *SchemaName,
                                           SQLSMALLINT NameLength2,
                                           SQLCHAR *TableName,
                                           SQLSMALLINT NameLength3,
                                           SQLUSMALLINT Unique,
                                           SQLUSMALLINT Reserved) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLStatistics", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLStatistics: statement_handle=%p, catalog_name=%q, schema_name=%q, table_name=%q, unique=%d, reserved=%d",
                  stmt, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, TableName, (int)NameLength3, (int)Unique, (int)Reserved);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3}}, &args) != 0) return SQL_ERROR;
        return SQLStatisticsWide(stmt, args.name[0], args.name[1], args.name[2], Unique, Reserved);
    });
}
