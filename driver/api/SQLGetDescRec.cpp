#include "core/spk_desc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLGetDescRec(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLCHAR *Name,
                                        SQLSMALLINT BufferLength, SQLSMALLINT *StringLength, SQLSMALLINT *Type,
                                        SQLSMALLINT *SubType, SQLLEN *Length, SQLSMALLINT *Precision,
                                        SQLSMALLINT *Scale, SQLSMALLINT *Nullable) {
    return SPK_FRAME(DescriptorHandle, SPK_DESCRIPTOR_HANDLE, SPK_FRAME_DEFAULT, "SQLGetDescRec", [&]() -> SQLRETURN {
        SpkDescriptor *d = (SpkDescriptor *)DescriptorHandle;
        SPK_ENTRY(d,
                  "SQLGetDescRec: descriptor_handle=%p, rsc=%d, name=%p, buffer_length=%d, string_length=%p, type=%p, "
                  "sub_type=%p, length=%p, precision=%p, scale=%p, nullable=%p",
                  d, (int)RecNumber, Name, (int)BufferLength, StringLength, Type, SubType, Length, Precision, Scale,
                  Nullable);
        return spk_desc_get_rec(d, RecNumber, Name, BufferLength, StringLength, Type, SubType, Length, Precision,
                                Scale, Nullable, 0, "SQLGetDescRec");
    });
}
