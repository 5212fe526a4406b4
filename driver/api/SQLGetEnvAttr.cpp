#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLGetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                        SQLINTEGER BufferLength, SQLINTEGER *StringLength) {
    return SPK_FRAME(EnvironmentHandle, SPK_ENVIRONMENT_HANDLE, SPK_FRAME_LOCK, "SQLGetEnvAttr", [&]() -> SQLRETURN {
        SpkEnvironment *env = (SpkEnvironment *)EnvironmentHandle;
        SPK_ENTRY(env, "SQLGetEnvAttr: environment_handle=%p, attribute=%d, value=%p, buffer_length=%d, string_length=%p",
                  env, (int)Attribute, Value, (int)BufferLength, StringLength);
        SQLINTEGER answer;
        switch (Attribute) {
        case SQL_ATTR_ODBC_VERSION:
            if (!Value) {
                SPK_LOG(env, LOG_DETAIL, "SQLGetEnvAttr: would have returned SQL_ATTR_ODBC_VERSION, but value was NULL");
                return SQL_SUCCESS;
            }
            answer = env->odbc_version;
            SPK_LOG(env, LOG_DETAIL, "SQLGetEnvAttr: returning SQL_ATTR_ODBC_VERSION as %d", (int)answer);
            break;
        case SQL_ATTR_OUTPUT_NTS:
            if (!Value) {
                SPK_LOG(env, LOG_DETAIL, "SQLGetEnvAttr: would have returned SQL_ATTR_OUTPUT_NTS, but value was NULL");
                return SQL_SUCCESS;
            }
            answer = SQL_TRUE;
            SPK_LOG(env, LOG_DETAIL, "SQLGetEnvAttr: returning SQL_ATTR_OUTPUT_NTS version as %d", (int)answer);
            break;
        case 1065:   // always reported as 1
            if (!Value) return SQL_SUCCESS;
            answer = 1;
            break;
        default:
            SPK_LOG(env, LOG_ERROR, "SQLGetEnvAttr: invalid attribute %d", (int)Attribute);
            return spk_post_error(env, "HYC00", 0, nullptr);
        }
        *(SQLINTEGER *)Value = answer;
        return SQL_SUCCESS;
    });
}
