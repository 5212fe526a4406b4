#include "core/spk_frame.h"
#include "core/spk_info.h"

SPK_API SQLRETURN SQL_API SQLGetInfoW(SQLHDBC ConnectionHandle, SQLUSMALLINT InfoType, SQLPOINTER InfoValue,
                                      SQLSMALLINT BufferLength, SQLSMALLINT *StringLength) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLGetInfoW", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn,
                  "SQLGetInfoW: connection_handle=%p, info_type=%d, info_value=%p, buffer_length=%d, string_length=%p",
                  conn, (int)InfoType, InfoValue, (int)BufferLength, StringLength);
        return spk_get_info(conn, "SQLGetInfoW", 1, InfoType, InfoValue, BufferLength, StringLength);
    });
}
