#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLForeignKeys(SQLHSTMT StatementHandle,
                                            SQLCHAR *PkCatalogName,
                                            SQLSMALLINT NameLength1,
                                            SQLCHAR *PkSchemaName,
                                            SQLSMALLINT NameLength2,
                                            SQLCHAR *PkTableName,
                                            SQLSMALLINT NameLength3,
                                            SQLCHAR *FkCatalogName,
                                            SQLSMALLINT NameLength4,
                                            SQLCHAR *FkSchemaName,
                                            SQLSMALLINT NameLength5,
                                            SQLCHAR *FkTableName,
                                            SQLSMALLINT NameLength6) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLForeignKeys", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLForeignKeys: statement_handle=%p, pk_catalog_name=%q, pk_schema_name=%q, pk_table_name=%q, fk_catalog_name=%q, fk_schema_name=%q, fk_table_name=%q",
                  stmt, PkCatalogName, (int)NameLength1, PkSchemaName, (int)NameLength2, PkTableName, (int)NameLength3, FkCatalogName, (int)NameLength4, FkSchemaName, (int)NameLength5, FkTableName, (int)NameLength6);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 0, {{PkCatalogName, NameLength1}, {PkSchemaName, NameLength2}, {PkTableName, NameLength3}, {FkCatalogName, NameLength4}, {FkSchemaName, NameLength5}, {FkTableName, NameLength6}}, &args) != 0) return SQL_ERROR;
        return SQLForeignKeysWide(stmt, args.name[0], args.name[1], args.name[2], args.name[3], args.name[4], args.name[5]);
    });
}
