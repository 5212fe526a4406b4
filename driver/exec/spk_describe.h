// Describing results and parameters.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "TCLIService_types.h"
#include "spk_handles.h"

// Fills IRD record i (from 0) from the server's column description.
int setup_descriptor_fields(SpkStatement *stmt, SpkDescriptor *ird, int i, const tcli::TColumnDesc &column);
// The ODBC description of one server type (a TTypeId).
struct SpkSqlType {
    int16_t concise, verbose;      // SQL type codes (ODBC 3 date/time codes unless odbc2)
    int32_t display, precision, scale, length, octet, radix;
    int16_t datetime_code;         // SQL_CODE_DATE / SQL_CODE_TIMESTAMP, else 0
    int32_t datetime_precision;
    int32_t searchable;
    const char *type_name, *prefix, *suffix;   // prefix and suffix may be null
};
// Describes type `type_id` with decimal precision `p` and scale `s` and the
// string length `L` (qualifier or the connection's default); `odbc2` gives
// ODBC 2 date and timestamp codes.  False (and a zeroed record) for an id
// the driver does not know.  Describe, the catalog functions and the type
// information all take their codes from here.
bool spk_sql_type_of(int32_t type_id, int32_t p, int32_t s, int32_t L, bool odbc2, SpkSqlType *out);
// The column size SQLDescribeCol reports for a described type.
SQLULEN spk_sql_column_size(int concise_type, int64_t precision, int64_t display_size);

// Fills the IPD with one record per parameter marker.
int spk_describe_parameters(SpkStatement *stmt);

// Shared bodies of the exports; they run inside the statement's frame.
// `wide` selects UTF-16 text; `fn` names the export in trace records.
SQLRETURN spk_num_result_cols(SpkStatement *stmt, SQLSMALLINT *count);
SQLRETURN spk_describe_col(SpkStatement *stmt, SQLUSMALLINT column, void *name, SQLSMALLINT buffer_length,
                           SQLSMALLINT *name_length, SQLSMALLINT *data_type, SQLULEN *column_size,
                           SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable, int wide, const char *fn);
// `odbc2` selects the SQLColAttributes(W) answers.
SQLRETURN spk_col_attribute(SpkStatement *stmt, SQLUSMALLINT column, SQLUSMALLINT field, void *character_attribute,
                            SQLSMALLINT buffer_length, SQLSMALLINT *string_length, SQLLEN *numeric_attribute,
                            int wide, int odbc2, const char *fn);
SQLRETURN spk_describe_param(SpkStatement *stmt, SQLUSMALLINT number, SQLSMALLINT *data_type, SQLULEN *size,
                             SQLSMALLINT *decimal_digits, SQLSMALLINT *nullable);
