#include <cstdlib>

#include "api/spk_connect_wide.h"
#include "connect/spk_settings.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLDriverConnect(SQLHDBC ConnectionHandle, SQLHWND WindowHandle,
                                           SQLCHAR *InConnectionString, SQLSMALLINT StringLength1,
                                           SQLCHAR *OutConnectionString, SQLSMALLINT BufferLength,
                                           SQLSMALLINT *StringLength2Ptr, SQLUSMALLINT DriverCompletion) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLDriverConnect", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        bool length_ok = !InConnectionString || spk_text_length_ok(StringLength1);
        SpkString *in = length_ok ? spk_str_from_utf8((const char *)InConnectionString, StringLength1) : nullptr;
        if (conn->log_flags & LOG_ENTRY) {
            // Passwords and tokens are shown as ***.
            SpkString *masked = spk_mask_connection_string(in);
            char *text = spk_str_to_utf8(masked);
            SPK_ENTRY(conn,
                      "SQLDriverConnect: input_handle=%p, hwnd=%p, con_str_in=%q, con_str_out=%p, "
                      "conn_str_out_max=%d, ptr_conn_str_out=%p, driver_completion=%d",
                      conn, WindowHandle, text, text ? SQL_NTS : (int)StringLength1, OutConnectionString,
                      (int)BufferLength, StringLength2Ptr, (int)DriverCompletion);
            free(text);
            spk_str_free(masked);
        }
        if (!length_ok) return spk_post_error(conn, "HY090", 0, nullptr);
        if (InConnectionString && !in) return spk_post_error(conn, "HY001", 0, nullptr);
        SQLRETURN rc = SQLDriverConnectWide(conn, WindowHandle, in, OutConnectionString, BufferLength,
                                            StringLength2Ptr, DriverCompletion, 1, "SQLDriverConnect");
        spk_str_free(in);
        return rc;
    });
}
