// Driver information: the answers of SQLGetInfo(W) from one table, and the
// functions SQLGetFunctions reports (exactly what the library exports).
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <cstdint>

#include "spk_handles.h"

enum SpkInfoKind : uint8_t {
    SPK_INFO_U16,       // 16-bit integer
    SPK_INFO_U32,       // 32-bit integer
    SPK_INFO_TEXT,      // constant text (UTF-8)
    SPK_INFO_NONE,      // text with no value: an empty string
    SPK_INFO_DSN,       // the connection's data source name
    SPK_INFO_UID,       // the connection's user name
    SPK_INFO_SERVER,    // asked from the server (GetInfo with the same number)
    SPK_INFO_DATABASE,  // the session's current database, asked from the server
};

struct SpkInfoEntry {
    uint16_t type;
    uint8_t kind;
    uint32_t value;            // integer answer
    const char *text;          // text answer (UTF-8)
};

// The entry of an info type, or null when the driver does not know it.
const SpkInfoEntry *spk_info_lookup(unsigned info_type);
// Every entry, in ascending info-type order (for tests and tracing).
const SpkInfoEntry *spk_info_table(int *count);

// The shared body of SQLGetInfo (wide = 0: text as UTF-8, lengths in bytes)
// and SQLGetInfoW (wide = 1: UTF-16, lengths in bytes).  `fn` names the
// export in trace records.  Posts its diagnostics on `conn`; returns the ODBC
// code.  Runs inside the caller's frame (lock held, diagnostics cleared).
SQLRETURN spk_get_info(SpkConnection *conn, const char *fn, int wide, SQLUSMALLINT info_type, SQLPOINTER info_value,
                       SQLSMALLINT buffer_length, SQLSMALLINT *string_length);

// SQL_API_ identifier of an exported function name (the ANSI name or its
// wide twin ending in "W"); -1 for a name that is not an ODBC function.
int spk_function_id(const char *name);
// 1 when the library exports the function with this SQL_API_ identifier.
int spk_function_supported(unsigned function_id);
// Fills the SQL_API_ODBC3_ALL_FUNCTIONS bitmap (SQL_API_ODBC3_ALL_FUNCTIONS_SIZE words).
void spk_functions_bitmap(SQLUSMALLINT *words);
// Fills the SQL_API_ALL_FUNCTIONS array (100 words, one per identifier below 100).
void spk_functions_odbc2(SQLUSMALLINT *words);
