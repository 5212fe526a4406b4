// The fetch engine: walking the server's row sets, filling the application's
// rowset (status array, rows fetched, bound columns), and the bodies of
// SQLBindCol and SQLGetData.
//
// Rows arrive column-wise, one FetchResults batch at a time (the row-array
// size when it is above 1, else 100 rows).  The batch is kept on the
// statement's SpkOperation and read in place: spk_column_value hands a value
// of the current row to the conversions without copying it.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "spk_field.h"
#include "spk_handles.h"
#include "spk_value.h"

// Fills the application's rowset with the next rows.  Only SQL_FETCH_NEXT is
// supported (anything else: HY106).  A rowset of several rows that ended on
// an error or carried a warning returns SQL_SUCCESS_WITH_INFO with the
// row's diagnostics; the row status array tells the rows apart.
SQLRETURN spk_fetch(SpkStatement *stmt, int orientation, int64_t offset);

// Makes the next row current (asking the server for the next batch when the
// current one is used up) and moves its bound columns into the application's
// buffers.  SQL_SUCCESS, SQL_SUCCESS_WITH_INFO, SQL_NO_DATA or SQL_ERROR.
SQLRETURN spk_fetch_row(SpkStatement *stmt);

// Moves the current row's values of every bound column into the buffers of
// rowset row stmt->row_offset.
SQLRETURN transfer_bound_columns(SpkStatement *stmt);

// The addresses of a bound record's value, indicator and length for rowset
// row stmt->row_offset, honouring the bind type and the bind offset.  Absent
// addresses are null; the length address is null when it equals the
// indicator address, so that a value is written once.
void get_pointers_from_cols(SpkStatement *stmt, const SpkField *rec, const SpkDescriptor *ard,
                            int64_t element_size, void **data, SQLLEN **indicator, SQLLEN **length);

// SQLExtendedFetch: spk_fetch with the caller's row count and status array
// and the SQL_ROWSET_SIZE array size in place for the length of the call.
SQLRETURN spk_extended_fetch(SpkStatement *stmt, int fetch_type, int64_t row, SQLULEN *row_count,
                             SQLUSMALLINT *row_status);

// The bodies of SQLBindCol and SQLGetData (run inside the export's frame).
SQLRETURN spk_bind_col(SpkStatement *stmt, int column, int target_type, void *value, SQLLEN buffer_length,
                       SQLLEN *indicator);
SQLRETURN spk_sql_get_data(SpkStatement *stmt, int column, int target_type, void *value, SQLLEN buffer_length,
                           SQLLEN *indicator);
