// Shared implementations behind the ANSI and wide catalog exports.  Each
// starts a catalog result on the statement (closing what was open) and
// returns the ODBC return code; absent arguments are null.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "spk_handles.h"
#include "spk_string.h"

SQLRETURN SQLTablesWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name, const SpkString *table_type);
SQLRETURN SQLColumnsWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name, const SpkString *column_name);
SQLRETURN SQLProceduresWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *proc_name);
SQLRETURN SQLProcedureColumnsWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *proc_name, const SpkString *column_name);
SQLRETURN SQLPrimaryKeysWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name);
SQLRETURN SQLForeignKeysWide(SpkStatement *stmt, const SpkString *pk_catalog_name, const SpkString *pk_schema_name, const SpkString *pk_table_name, const SpkString *fk_catalog_name, const SpkString *fk_schema_name, const SpkString *fk_table_name);
SQLRETURN SQLTablePrivilegesWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name);
SQLRETURN SQLColumnPrivilegesWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name, const SpkString *column_name);
SQLRETURN SQLStatisticsWide(SpkStatement *stmt, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name, int unique, int reserved);
SQLRETURN SQLSpecialColumnsWide(SpkStatement *stmt, int identifier_type, const SpkString *catalog_name, const SpkString *schema_name, const SpkString *table_name, int scope, int nullable);
SQLRETURN SQLGetTypeInfoWide(SpkStatement *stmt, int data_type);
