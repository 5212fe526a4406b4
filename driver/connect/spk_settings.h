// Connection settings: DSN keys, connection-string keywords, defaults.
// The keys, keywords and value rules themselves are in spk_keywords.h.
#pragma once

#include <cstdint>
#include "spk_connect_info.h"
#include "spk_handles.h"
#include "spk_string.h"

enum { SPK_DSN_CONNECT_MODE = 0, SPK_DSN_DRIVER_CONNECT_MODE = 1 };

// SQLConnect: clears the settings, takes the three arguments (null: none),
// reads the DSN in connect mode, applies the defaults.  0 / -1 (HY001).
int spk_settings_for_connect(SpkConnection *conn, const SpkString *dsn, const SpkString *uid,
                             const SpkString *pwd);
// Reads the section named by `dsn` from odbc.ini (UTF-8 section name and
// values) into the settings that are still unset: texts that are none,
// numbers at the unset marker -1 (port, col_length, encrypt: below 0).
// "Logging" and "LogFile" follow the mode.  Defaults are the caller's.
// Nothing is read without a DSN.  0 / -1 (HY001).
int read_dsn_settings(SpkConnection *conn, int mode);
// SQLDriverConnect: clears the settings, takes the keywords, reads the DSN
// when one is named, applies the defaults.  0 / -1 (HY001).
int parse_connection_string(SpkConnection *conn, const SpkString *conn_str);
// The completed connection string; values holding ";", "{", "}", "=" or
// leading/trailing blanks are braced with "}" doubled.  Null: out of memory.
SpkString *make_output_connection_string(SpkConnection *conn);
// The same with the password and access token shown as "***" (for traces).
SpkString *make_output_connection_string_masked(SpkConnection *conn);
// A copy of a connection string with the values of PWD, PASSWORD and
// AccessToken replaced by "***" (for traces).  Null for null.
SpkString *spk_mask_connection_string(const SpkString *conn_str);
// Overwrites the settings from a completion or test record (UTF-8 texts).
// An empty data-source name or server is none; `logging` 1 is the usual
// trace mask, any other non-zero value a mask of its own.  GSSLIB and
// GSSFLAG are kept.  0 / -1 (HY001).
int apply_connect_info(SpkConnection *conn, const SpkConnectInfo *info);
// The settings into a record (UTF-8 texts, each cut at a character
// boundary to fit), so that a completion dialog shows them all.
void spk_settings_to_connect_info(SpkConnection *conn, SpkConnectInfo *info);
// Frees every settings text and sets the numbers to 0 (log_file and
// log_flags are kept).
void spk_settings_clear(SpkConnection *conn);
