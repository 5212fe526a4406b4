#include "core/spk_frame.h"
#include "exec/spk_describe.h"

SPK_API SQLRETURN SQL_API SQLColAttributesW(SQLHSTMT StatementHandle, SQLUSMALLINT ColumnNumber,
                                           SQLUSMALLINT FieldIdentifier, SQLPOINTER CharacterAttributePtr,
                                           SQLSMALLINT BufferLength, SQLSMALLINT *StringLengthPtr,
                                           SQLLEN *NumericAttributePtr) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLColAttributesW", [&]() {
        return spk_col_attribute((SpkStatement *)StatementHandle, ColumnNumber, FieldIdentifier,
                                 CharacterAttributePtr, BufferLength, StringLengthPtr, NumericAttributePtr, 1, 1,
                                 "SQLColAttributesW");
    });
}
