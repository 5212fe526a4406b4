#include "api/spk_connect_wide.h"
#include "connect/spk_settings.h"
#include "core/spk_frame.h"

static const spk_unit spk_empty_units[1] = {0};

SPK_API SQLRETURN SQL_API SQLDriverConnectW(SQLHDBC ConnectionHandle, SQLHWND WindowHandle,
                                            SQLWCHAR *InConnectionString, SQLSMALLINT StringLength1,
                                            SQLWCHAR *OutConnectionString, SQLSMALLINT BufferLength,
                                            SQLSMALLINT *StringLength2Ptr, SQLUSMALLINT DriverCompletion) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLDriverConnectW", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        bool length_ok = !InConnectionString || spk_text_length_ok(StringLength1);
        SpkString *in = length_ok ? spk_str_from_wide((const spk_unit *)InConnectionString, StringLength1) : nullptr;
        if (conn->log_flags & LOG_ENTRY) {
            // Passwords and tokens are shown as ***.
            SpkString *masked = spk_mask_connection_string(in);
            const spk_unit *shown = masked ? (spk_str_units(masked) ? spk_str_units(masked) : spk_empty_units) : nullptr;
            SPK_ENTRY(conn,
                      "SQLDriverConnectW: input_handle=%p, hwnd=%p, con_str_in=%Q, con_str_out=%p, "
                      "conn_str_out_max=%d, ptr_conn_str_out=%p, driver_completion=%d",
                      conn, WindowHandle, shown,
                      masked ? spk_str_length(masked) : (int)StringLength1, OutConnectionString, (int)BufferLength,
                      StringLength2Ptr, (int)DriverCompletion);
            spk_str_free(masked);
        }
        if (!length_ok) return spk_post_error(conn, "HY090", 0, nullptr);
        if (InConnectionString && !in) return spk_post_error(conn, "HY001", 0, nullptr);
        SQLRETURN rc = SQLDriverConnectWide(conn, WindowHandle, in, OutConnectionString, BufferLength,
                                            StringLength2Ptr, DriverCompletion, 0, "SQLDriverConnectW");
        spk_str_free(in);
        return rc;
    });
}
