#include "core/spk_frame.h"
#include "exec/spk_describe.h"

SPK_API SQLRETURN SQL_API SQLDescribeParam(SQLHSTMT StatementHandle, SQLUSMALLINT ParameterNumber,
                                           SQLSMALLINT *DataTypePtr, SQLULEN *ParameterSizePtr,
                                           SQLSMALLINT *DecimalDigitsPtr, SQLSMALLINT *NullablePtr) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLDescribeParam", [&]() {
        return spk_describe_param((SpkStatement *)StatementHandle, ParameterNumber, DataTypePtr, ParameterSizePtr,
                                  DecimalDigitsPtr, NullablePtr);
    });
}
