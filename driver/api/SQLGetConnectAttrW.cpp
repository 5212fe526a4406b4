#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLGetConnectAttrW(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                            SQLINTEGER BufferLength, SQLINTEGER *StringLength) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLGetConnectAttrW", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn,
                  "SQLGetConnectAttrW: connection_handle=%p, attribute=%d, value=%p, buffer_length=%d, string_length=%p",
                  conn, (int)Attribute, Value, (int)BufferLength, StringLength);
        return spk_get_connect_attr(conn, "SQLGetConnectAttrW", 1, Attribute, Value, BufferLength, StringLength);
    });
}
