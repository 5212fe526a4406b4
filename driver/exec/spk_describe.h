// Describing results and parameters.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "TCLIService_types.h"
#include "spk_handles.h"

// Fills IRD record i (from 0) from the server's column description.
int setup_descriptor_fields(SpkStatement *stmt, SpkDescriptor *ird, int i, const tcli::TColumnDesc &column);
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
