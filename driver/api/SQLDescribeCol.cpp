#include "core/spk_frame.h"
#include "exec/spk_describe.h"

SPK_API SQLRETURN SQL_API SQLDescribeCol(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber, SQLCHAR *ColumnName,
                                         SQLSMALLINT BufferLength, SQLSMALLINT *NameLengthPtr,
                                         SQLSMALLINT *DataTypePtr, SQLULEN *ColumnSizePtr,
                                         SQLSMALLINT *DecimalDigitsPtr, SQLSMALLINT *NullablePtr) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLDescribeCol", [&]() {
        return spk_describe_col((SpkStatement *)StatementHandle, ColumnNumber, ColumnName, BufferLength,
                                NameLengthPtr, DataTypePtr, ColumnSizePtr, DecimalDigitsPtr, NullablePtr, 0,
                                "SQLDescribeCol");
    });
}
