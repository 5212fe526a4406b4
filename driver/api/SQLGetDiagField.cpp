#include "core/spk_frame.h"

// Reads one header or record field of the diagnostics.  Takes no lock and
// leaves the list as it is; text comes back as UTF-8 counted in bytes.
SPK_API SQLRETURN SQL_API SQLGetDiagField(SQLSMALLINT HandleType, SQLHANDLE Handle, SQLSMALLINT RecNumber,
                                          SQLSMALLINT DiagIdentifier, SQLPOINTER DiagInfo, SQLSMALLINT BufferLength,
                                          SQLSMALLINT *StringLength) {
    return spk_guard(SQL_ERROR, [&]() -> SQLRETURN {
        if (!spk_diag_handle_ok(HandleType, Handle)) return SQL_INVALID_HANDLE;
        SPK_ENTRY(Handle,
                  "SQLGetDiagField: handle_type=%d, handle=%p, rec_number=%d, diag_identifier=%d, diag_info_ptr=%p, "
                  "buffer_length=%d, string_length_ptr=%p",
                  (int)HandleType, Handle, (int)RecNumber, (int)DiagIdentifier, DiagInfo, (int)BufferLength,
                  StringLength);
        SQLRETURN rc = spk_diag_get_field(HandleType, Handle, RecNumber, DiagIdentifier, 0, DiagInfo, BufferLength,
                                          StringLength);
        SPK_LOG(Handle, LOG_EXIT, "SQLGetDiagField: return value=%d", (int)rc);
        return rc;
    });
}
