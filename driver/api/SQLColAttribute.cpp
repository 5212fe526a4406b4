#include "core/spk_frame.h"
#include "exec/spk_describe.h"

SPK_API SQLRETURN SQL_API SQLColAttribute(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                                          SQLUSMALLINT FieldIdentifier, SQLPOINTER CharacterAttributePtr,
                                          SQLSMALLINT BufferLength, SQLSMALLINT *StringLengthPtr,
                                          SQLLEN *NumericAttributePtr) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLColAttribute", [&]() {
        return spk_col_attribute((SpkStatement *)StatementHandle, ColumnNumber, FieldIdentifier,
                                 CharacterAttributePtr, BufferLength, StringLengthPtr, NumericAttributePtr, 0, 0,
                                 "SQLColAttribute");
    });
}
