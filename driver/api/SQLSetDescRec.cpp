#include "core/spk_desc.h"
#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetDescRec(SQLHDESC DescriptorHandle, SQLSMALLINT RecNumber, SQLSMALLINT Type,
                                        SQLSMALLINT SubType, SQLLEN Length, SQLSMALLINT Precision, SQLSMALLINT Scale,
                                        SQLPOINTER Data, SQLLEN *StringLength, SQLLEN *Indicator) {
    return SPK_FRAME(DescriptorHandle, SPK_DESCRIPTOR_HANDLE, SPK_FRAME_DEFAULT, "SQLSetDescRec", [&]() -> SQLRETURN {
        SpkDescriptor *d = (SpkDescriptor *)DescriptorHandle;
        SPK_ENTRY(d,
                  "SQLSetDescRec: descriptor_handle=%p, rec=%d, type=%d, subtype=%d, length=%l, precision=%d, "
                  "scale=%d, data=%p, string_length=%p, indicator=%p",
                  d, (int)RecNumber, (int)Type, (int)SubType, (int64_t)Length, (int)Precision, (int)Scale, Data,
                  StringLength, Indicator);
        return spk_desc_set_rec(d, RecNumber, Type, SubType, Length, Precision, Scale, Data, StringLength, Indicator);
    });
}
