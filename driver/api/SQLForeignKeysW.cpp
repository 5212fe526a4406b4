#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLForeignKeysW(SQLHSTMT StatementHandle,
                                             SQLWCHAR *PkCatalogName,
                                             SQLSMALLINT NameLength1,
                                             SQLWCHAR *PkSchemaName,
                                             SQLSMALLINT NameLength2,
                                             SQLWCHAR *PkTableName,
                                             SQLSMALLINT NameLength3,
                                             SQLWCHAR *FkCatalogName,
                                             SQLSMALLINT NameLength4,
                                             SQLWCHAR *FkSchemaName,
                                             SQLSMALLINT NameLength5,
                                             SQLWCHAR *FkTableName,
                                             SQLSMALLINT NameLength6) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLForeignKeysW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLForeignKeysW: statement_handle=%p, pk_catalog_name=%Q, pk_schema_name=%Q, pk_table_name=%Q, fk_catalog_name=%Q, fk_schema_name=%Q, fk_table_name=%Q",
                  stmt, PkCatalogName, (int)NameLength1, PkSchemaName, (int)NameLength2, PkTableName, (int)NameLength3, FkCatalogName, (int)NameLength4, FkSchemaName, (int)NameLength5, FkTableName, (int)NameLength6);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 1, {{PkCatalogName, NameLength1}, {PkSchemaName, NameLength2}, {PkTableName, NameLength3}, {FkCatalogName, NameLength4}, {FkSchemaName, NameLength5}, {FkTableName, NameLength6}}, &args) != 0) return SQL_ERROR;
        return SQLForeignKeysWide(stmt, args.name[0], args.name[1], args.name[2], args.name[3], args.name[4], args.name[5]);
    });
}
