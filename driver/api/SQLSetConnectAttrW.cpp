#include "core/spk_attr.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetConnectAttrW(SQLHDBC ConnectionHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                            SQLINTEGER StringLength) {
    return SPK_FRAME(ConnectionHandle, SPK_CONNECTION_HANDLE, SPK_FRAME_DEFAULT, "SQLSetConnectAttrW", [&]() -> SQLRETURN {
        SpkConnection *conn = (SpkConnection *)ConnectionHandle;
        SPK_ENTRY(conn, "SQLSetConnectAttrW: connection_handle=%p, attribute=%d, value=%p, string_length=%d", conn,
                  (int)Attribute, Value, (int)StringLength);
        return spk_set_connect_attr(conn, "SQLSetConnectAttrW", Attribute, Value, StringLength);
    });
}
