// Catalog results: the machinery behind SQLTables, SQLColumns and the other
// catalog functions and SQLGetTypeInfo.  A result is either a server
// operation (a metadata call) read through a shape that presents the ODBC
// columns, or rows the driver makes itself; both are read through the normal
// fetch, SQLGetData, SQLBindCol and describe paths.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>
#include <initializer_list>
#include <string>
#include <vector>

#include "TCLIService_types.h"
#include "spk_handles.h"
#include "spk_shape.h"
#include "spk_string.h"

// The text arguments of a catalog export, converted (null stays null).
struct SpkCatalogArgs {
    SpkString *name[6] = {};
    SpkCatalogArgs() = default;
    SpkCatalogArgs(const SpkCatalogArgs &) = delete;
    SpkCatalogArgs &operator=(const SpkCatalogArgs &) = delete;
    ~SpkCatalogArgs();
};
struct SpkTextArg {
    const void *text;
    long length;
};
// Converts the arguments in order (UTF-16 when `wide`): 0, or -1 with HY090
// or HY001 posted.
int spk_catalog_args(SpkStatement *stmt, int wide, std::initializer_list<SpkTextArg> args, SpkCatalogArgs *out);

// Starts a catalog call: closes whatever the statement had open (a server
// operation is closed on the server) and forgets its text and description.
int spk_catalog_begin(SpkStatement *stmt);

// A name for a request field: the text as UTF-8, a pattern when
// SQL_ATTR_METADATA_ID is off.  With it on, the argument is an identifier:
// surrounding quotes go and the wildcards `%`, `_` and the escape `\` are
// escaped.
std::string spk_catalog_name(SpkStatement *stmt, const SpkString *arg, bool pattern);
// Whether SQL_ATTR_METADATA_ID is on (arguments are identifiers).
bool spk_catalog_metadata_id(SpkStatement *stmt);

// Makes the server operation `handle` the statement's result, presented
// through `columns` (sources are 1-based server columns).  The server's
// result must have the columns the shape reads (else HY000).  *shape gets
// the shape, for the caller to add a row filter.  0 / -1; on failure the
// operation is closed.
int spk_catalog_open_server(SpkStatement *stmt, const tcli::TOperationHandle &handle,
                            const SpkShapeColumn *columns, int count, SpkResultShape **shape);
// Makes `rows` (column-wise, in the layout of `columns`) the statement's
// result; no server operation stands behind it.  0 / -1.
int spk_catalog_open_local(SpkStatement *stmt, const SpkShapeColumn *columns, int count, tcli::TRowSet *rows);

// Builders for local rows, one column at a time.
void spk_rows_init(tcli::TRowSet *rows, const SpkShapeColumn *columns, int count);
void spk_rows_add_text(tcli::TRowSet *rows, int column, const char *text);        // null: NULL
void spk_rows_add_text(tcli::TRowSet *rows, int column, const SpkString *text);   // null: NULL
void spk_rows_add_int(tcli::TRowSet *rows, int column, int64_t value, bool is_null = false);

// The ODBC layouts.
extern const SpkShapeColumn spk_tables_columns[5];
extern const SpkShapeColumn spk_columns_columns[18];
extern const SpkShapeColumn spk_statistics_columns[13];
extern const SpkShapeColumn spk_special_columns_columns[8];
extern const SpkShapeColumn spk_primary_keys_columns[6];
extern const SpkShapeColumn spk_foreign_keys_columns[14];
extern const SpkShapeColumn spk_procedures_columns[8];
extern const SpkShapeColumn spk_procedure_columns_columns[19];
extern const SpkShapeColumn spk_table_privileges_columns[7];
extern const SpkShapeColumn spk_column_privileges_columns[8];
extern const SpkShapeColumn spk_type_info_columns[19];

#define SPK_COUNT(a) ((int)(sizeof(a) / sizeof((a)[0])))

// SQLGetTypeInfo: the driver's own rows for `data_type` (SQL_ALL_TYPES for
// all), ordered by DATA_TYPE.  HY004 for a value that is no SQL type.
int spk_type_info(SpkStatement *stmt, int data_type);

// Whether an argument is given and holds exactly `text` (the special forms
// "%" of SQLTables), or is given and empty.
bool spk_catalog_arg_is(const SpkString *arg, const char *text);
bool spk_catalog_arg_empty(const SpkString *arg);
// The table types of SQLTables: split on commas, quotes and blanks stripped,
// upper-cased; empty entries dropped.
std::vector<std::string> spk_catalog_table_types(const SpkString *arg);
// HY009 when SQL_ATTR_METADATA_ID is on and one of the identifier arguments
// is null (they are required then): -1, else 0.
int spk_catalog_require_identifiers(SpkStatement *stmt, std::initializer_list<const SpkString *> args);
// The server's major release (from its DBMS version), or 0 when it does not
// say.
int spk_catalog_server_major(SpkStatement *stmt);
// A result with the ODBC layout `columns` and no rows.
int spk_catalog_empty_result(SpkStatement *stmt, const SpkShapeColumn *columns, int count);
