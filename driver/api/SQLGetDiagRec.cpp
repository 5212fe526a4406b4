#include "core/spk_frame.h"

// Reads a diagnostic record.  Takes no lock and leaves the list as it is;
// the message comes back as UTF-8 and its length is counted in bytes.
SPK_API SQLRETURN SQL_API SQLGetDiagRec(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber,
                                        SQLCHAR *Sqlstate, SQLINTEGER *NativeError, SQLCHAR *MessageText,
                                        SQLSMALLINT BufferLength, SQLSMALLINT *TextLength) {
    return spk_guard(SQL_ERROR, [&]() -> SQLRETURN {
        if (!spk_diag_handle_ok(HandleType, Handle)) return SQL_INVALID_HANDLE;
        SPK_ENTRY(Handle,
                  "SQLGetDiagRec: handle_type=%d, handle=%p, rec_number=%d, sqlstate=%p, native=%p, "
                  "message_text=%p, buffer_length=%d, text_length_ptr=%p",
                  (int)HandleType, Handle, (int)RecNumber, Sqlstate, NativeError, MessageText, (int)BufferLength,
                  TextLength);
        // SQLINTEGER is long on some platforms: the record's code goes through a local.
        int32_t native = NativeError ? (int32_t)*NativeError : 0;
        SQLRETURN rc = spk_diag_get_rec(HandleType, Handle, RecNumber, 0, Sqlstate, NativeError ? &native : nullptr,
                                        MessageText, BufferLength, TextLength);
        if (NativeError) *NativeError = native;
        SPK_LOG(Handle, LOG_EXIT, "SQLGetDiagRec: return value=%d", (int)rc);
        return rc;
    });
}
