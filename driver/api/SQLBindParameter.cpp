#include "core/spk_frame.h"
#include "exec/spk_param.h"

SPK_API SQLRETURN SQL_API SQLBindParameter(SQLHSTMT StatementHandle, SQLUSMALLINT ParameterNumber,
                                           SQLSMALLINT InputOutputType, SQLSMALLINT ValueType,
                                           SQLSMALLINT ParameterType, SQLULEN ColumnSize, SQLSMALLINT DecimalDigits,
                                           SQLPOINTER ParameterValuePtr, SQLLEN BufferLength,
                                           SQLLEN *StrLen_or_IndPtr) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLBindParameter", [&]() {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt,
                  "SQLBindParameter: statement_handle=%p, param=%d, type=%d, c_type=%d, sql_type=%d, col_def=%d, "
                  "scale=%d, value=%p, buffer_len=%d, ind_ptr=%p",
                  stmt, (int)ParameterNumber, (int)InputOutputType, (int)ValueType, (int)ParameterType,
                  (int)ColumnSize, (int)DecimalDigits, ParameterValuePtr, (int)BufferLength, (void *)StrLen_or_IndPtr);
        return spk_bind_parameter(stmt, ParameterNumber, InputOutputType, ValueType, ParameterType, ColumnSize,
                                  DecimalDigits, ParameterValuePtr, BufferLength, StrLen_or_IndPtr);
    });
}
