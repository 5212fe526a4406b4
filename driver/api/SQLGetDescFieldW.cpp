#include "core/spk_desc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLGetDescFieldW(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber,
                                           SQLSMALLINT FieldIdentifier, SQLPOINTER Value, SQLINTEGER BufferLength,
                                           SQLINTEGER *StringLength) {
    return SPK_FRAME(DescriptorHandle, SPK_DESCRIPTOR_HANDLE, SPK_FRAME_DEFAULT, "SQLGetDescFieldW",
                     [&]() -> SQLRETURN {
        SpkDescriptor *d = (SpkDescriptor *)DescriptorHandle;
        SPK_ENTRY(d,
                  "SQLGetDescFieldW: descriptor_handle=%p, rsc=%d, field_identifier=%d, value=%p, buffer_length=%d, "
                  "string_length=%p",
                  d, (int)RecNumber, (int)FieldIdentifier, Value, (int)BufferLength, StringLength);
        return spk_desc_get_field(d, RecNumber, FieldIdentifier, Value, BufferLength, StringLength, 1,
                                  "SQLGetDescFieldW");
    });
}
