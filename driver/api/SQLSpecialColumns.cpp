#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLSpecialColumns(SQLHSTMT StatementHandle,
                                               SQLUSMALLINT IdentifierType,
                                               SQLCHAR *CatalogName,
                                               SQLSMALLINT NameLength1,
                                               SQLCHAR *SchemaName,
                                               SQLSMALLINT NameLength2,
                                               SQLCHAR *TableName,
                                               SQLSMALLINT NameLength3,
                                               SQLUSMALLINT Scope,
                                               SQLUSMALLINT Nullable) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLSpecialColumns", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLSpecialColumns: statement_handle=%p, identifier_type=%d, catalog_name=%q, schema_name=%q, table_name=%q, scope=%d, nullable=%d",
                  stmt, (int)IdentifierType, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, TableName, (int)NameLength3, (int)Scope, (int)Nullable);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3}}, &args) != 0) return SQL_ERROR;
        return SQLSpecialColumnsWide(stmt, IdentifierType, args.name[0], args.name[1], args.name[2], Scope, Nullable);
    });
}
