// Connection and statement attributes, the ODBC 2 option calls and cursor
// names.  The facts (identifiers, where each value lives, its width, how a
// setter treats it) live in the tables of spk_attr.cpp; the functions below
// are the shared bodies of the exports.  They run inside the caller's frame
// (handle locked, diagnostics cleared), post their own diagnostics and
// return ODBC codes.  `fn` names the export in trace records and in message
// texts that carry a function name.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include "spk_handles.h"
#include "spk_string.h"

// ---------------------------------------------------------------------------
// Connection attributes (SQLSetConnectAttr(W), SQLGetConnectAttr(W)).
// Integer values travel in `value` itself; 32-bit attributes refuse a value
// that does not fit in 32 bits (HY024).  The getters store integers with the
// width ODBC defines for the attribute (4 or 8 bytes) when `value` is not
// null, and that width in *string_length.  `wide` selects UTF-16 text (the
// current catalog, lengths in bytes); otherwise text is UTF-8.
SQLRETURN spk_set_connect_attr(SpkConnection *conn, const char *fn, SQLINTEGER attribute, SQLPOINTER value,
                               SQLINTEGER string_length);
SQLRETURN spk_get_connect_attr(SpkConnection *conn, const char *fn, int wide, SQLINTEGER attribute, SQLPOINTER value,
                               SQLINTEGER buffer_length, SQLINTEGER *string_length);

// ODBC 2 connection options (SQLSetConnectOption, SQLGetConnectOption).
SQLRETURN spk_set_connect_option(SpkConnection *conn, SQLUSMALLINT option, SQLULEN value);
SQLRETURN spk_get_connect_option(SpkConnection *conn, SQLUSMALLINT option, SQLPOINTER value);

// SQL_ATTR_RESET_CONNECTION: the statement defaults and the connection
// attributes that a pooled connection must not carry over go back to their
// initial values, and so do the transport settings chosen at connect time.
void spk_conn_attrs_reset(SpkConnection *conn);

// The statement attributes a new statement takes from its connection.
void spk_stmt_attrs_from_conn(SpkStmtAttrs *stmt_attrs, const SpkConnAttrs *conn_attrs);

// ---------------------------------------------------------------------------
// Statement attributes (SQLSetStmtAttr(W), SQLGetStmtAttr(W)).  Values that
// live in descriptor headers are read and written on the statement's
// current descriptors.
SQLRETURN spk_set_stmt_attr(SpkStatement *stmt, const char *fn, SQLINTEGER attribute, SQLPOINTER value,
                            SQLINTEGER string_length);
SQLRETURN spk_get_stmt_attr(SpkStatement *stmt, const char *fn, SQLINTEGER attribute, SQLPOINTER value,
                            SQLINTEGER buffer_length, SQLINTEGER *string_length);

// ODBC 2 statement options (SQLSetStmtOption, SQLGetStmtOption).
SQLRETURN spk_set_stmt_option(SpkStatement *stmt, SQLUSMALLINT option, SQLULEN value);
SQLRETURN spk_get_stmt_option(SpkStatement *stmt, SQLUSMALLINT option, SQLPOINTER value);

// ---------------------------------------------------------------------------
// Cursor names.  spk_set_cursor_name takes ownership of `name` (null: the
// export could not make it; HY001).  spk_get_cursor_name names an unnamed
// statement SQL_CUR00000001 and copies the name out: `wide` as UTF-16 with
// lengths in bytes, otherwise as UTF-8 with lengths in bytes.  A null
// buffer only reports the length.
SQLRETURN spk_set_cursor_name(SpkStatement *stmt, const char *fn, SpkString *name);
SQLRETURN spk_get_cursor_name(SpkStatement *stmt, const char *fn, int wide, void *buffer, SQLSMALLINT buffer_length,
                              SQLSMALLINT *name_length);
