#include "core/spk_frame.h"
#include "exec/spk_param.h"

// The ODBC 3.0 form: an input parameter whose buffer length is not known.
SPK_API SQLRETURN SQL_API SQLBindParam(SQLHSTMT StatementHandle, SQLUSMALLINT ParameterNumber, SQLSMALLINT ValueType,
                                       SQLSMALLINT ParameterType, SQLULEN LengthPrecision,
                                       SQLSMALLINT ParameterScale, SQLPOINTER ParameterValue,
                                       SQLLEN *StrLen_or_Ind) {
    return SPK_FRAME(StatementHandle, SPK_STATEMENT_HANDLE, SPK_FRAME_DEFAULT, "SQLBindParam", [&]() {
        SpkStatement *stmt = (SpkStatement *)StatementHandle;
        SPK_ENTRY(stmt,
                  "SQLBindParam: statement_handle=%p, param=%d, c_type=%d, sql_type=%d, col_def=%d, scale=%d, "
                  "value=%p, ind_ptr=%p",
                  stmt, (int)ParameterNumber, (int)ValueType, (int)ParameterType, (int)LengthPrecision,
                  (int)ParameterScale, ParameterValue, (void *)StrLen_or_Ind);
        return spk_bind_parameter(stmt, ParameterNumber, SQL_PARAM_INPUT, ValueType, ParameterType,
                                  LengthPrecision, ParameterScale, ParameterValue, SQL_SETPARAM_VALUE_MAX,
                                  StrLen_or_Ind);
    });
}
