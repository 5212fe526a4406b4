// Shared implementations behind the ANSI and wide statement exports.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "spk_handles.h"
#include "spk_string.h"

SQLRETURN SQLPrepareWide(SpkStatement *stmt, const SpkString *text, const char *fn);
SQLRETURN SQLExecDirectWide(SpkStatement *stmt, const SpkString *text);
SQLRETURN SQLNativeSqlWide(SpkConnection *conn, const SpkString *text, void *out, SQLINTEGER buffer_length,
                           SQLINTEGER *length, int wide);
