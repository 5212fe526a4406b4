#include "core/spk_desc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetDescField(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber,
                                          SQLSMALLINT FieldIdentifier, SQLPOINTER Value, SQLINTEGER BufferLength) {
    return SPK_FRAME(DescriptorHandle, SPK_DESCRIPTOR_HANDLE, SPK_FRAME_DEFAULT, "SQLSetDescField", [&]() -> SQLRETURN {
        SpkDescriptor *d = (SpkDescriptor *)DescriptorHandle;
        SPK_ENTRY(d, "SQLSetDescField: descriptor_handle=%p, rec=%d, field_identifier=%d, value=%p, buffer_length=%d",
                  d, (int)RecNumber, (int)FieldIdentifier, Value, (int)BufferLength);
        return spk_desc_set_field(d, RecNumber, FieldIdentifier, Value, BufferLength, 0, "SQLSetDescField");
    });
}
