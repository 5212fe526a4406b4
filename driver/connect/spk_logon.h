// Turning a connection's settings into a live server session.
#pragma once

#include "spk_handles.h"
#include "spk_string.h"

// Builds the transport stack chosen by the settings, logs on, opens the
// session.  0, or -1 with diagnostics posted on the connection.
int spk_connect(SpkConnection *conn);
// Releases every Thrift object of the connection; never fails.
int spk_disconnect(SpkConnection *conn);
// Sends CloseSession: 0, or -6 when the call failed.
int spk_close_session(SpkConnection *conn);
// Asks the server for one string information item (GetInfo).  *out is none
// when the server gives no text.  0 or -1.
int spk_get_string_info(SpkConnection *conn, int info_type, SpkString **out);
// The session's current database, asked from the server (so it follows USE).
// *out is none when not connected.  0, or -1 with diagnostics posted.
int spk_get_current_database(SpkConnection *conn, SpkString **out);
