// The shared implementations behind the ANSI and wide connect exports.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "spk_handles.h"
#include "spk_string.h"

// SQLConnect(W) after the frame and the argument conversion.  A null text
// is an absent argument.
SQLRETURN SQLConnectWide(SpkConnection *conn, const SpkString *server_name, const SpkString *user_name,
                         const SpkString *authentication);

// SQLDriverConnect(W) after the frame and the argument conversion.  `ansi`
// selects how the output connection string is copied: UTF-8 with lengths in
// bytes, or UTF-16 with lengths in characters.  `fn` names the export in
// trace records.
SQLRETURN SQLDriverConnectWide(SpkConnection *conn, SQLHWND window, const SpkString *conn_str_in, void *conn_str_out,
                               SQLSMALLINT buffer_length, SQLSMALLINT *string_length, SQLUSMALLINT completion,
                               int ansi, const char *fn);

// SQLConnect(W)'s three texts converted (UTF-8 or UTF-16 by `wide`; a null
// pointer is an absent argument), then SQLConnectWide.
SQLRETURN spk_connect_text_args(SpkConnection *conn, const void *server_name, long server_length,
                                const void *user_name, long user_length, const void *authentication,
                                long authentication_length, int wide);
