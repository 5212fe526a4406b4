#include "core/spk_frame.h"
#include "results/spk_catalog.h"
#include "spk_api_catalog.h"

SPK_API SQLRETURN SQL_API SQLColumnPrivilegesW(SQLHSTMT StatementHandle,
                                                  SQLWCHAR *CatalogName,
                                                  SQLSMALLINT NameLength1,
                                                  SQLWCHAR *SchemaName,
                                                  SQLSMALLINT NameLength2,
                                                  SQLWCHAR *TableName,
                                                  SQLSMALLINT NameLength3,
                                                  SQLWCHAR *ColumnName,
                                                  SQLSMALLINT NameLength4) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLColumnPrivilegesW", [&]() -> SQLRETURN {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt, "SQLColumnPrivilegesW: statement_handle=%p, catalog_name=%Q, schema_name=%Q, table_name=%Q, column_name=%Q",
                  stmt, CatalogName, (int)NameLength1, SchemaName, (int)NameLength2, TableName, (int)NameLength3, ColumnName, (int)NameLength4);
        SpkCatalogArgs args;
        if (spk_catalog_args(stmt, 1, {{CatalogName, NameLength1}, {SchemaName, NameLength2}, {TableName, NameLength3}, {ColumnName, NameLength4}}, &args) != 0) return SQL_ERROR;
        return SQLColumnPrivilegesWide(stmt, args.name[0], args.name[1], args.name[2], args.name[3]);
    });
}
