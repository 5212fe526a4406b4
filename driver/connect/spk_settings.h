// Connection settings: DSN keys, connection-string keywords, defaults.
#pragma once

#include <cstdint>
#include "spk_connect_info.h"
#include "spk_handles.h"
#include "spk_string.h"

enum { SPK_DSN_CONNECT_MODE = 0, SPK_DSN_DRIVER_CONNECT_MODE = 1 };

// SQLConnect: clears the settings, takes the three arguments (null: none),
// reads the DSN in connect mode.  0 / -1.
int spk_settings_for_connect(SpkConnection *conn, const SpkString *dsn, const SpkString *uid,
                             const SpkString *pwd);
int read_dsn_settings(SpkConnection *conn, int mode);
int parse_connection_string(SpkConnection *conn, const SpkString *conn_str);
SpkString *make_output_connection_string(SpkConnection *conn);
// The same with the password and access token shown as "***" (for traces).
SpkString *make_output_connection_string_masked(SpkConnection *conn);
int apply_connect_info(SpkConnection *conn, const SpkConnectInfo *info);
// Frees every settings text and sets the numbers to their cleared state.
void spk_settings_clear(SpkConnection *conn);
