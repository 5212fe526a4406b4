#include "core/spk_frame.h"

SPK_API SQLRETURN SQL_API SQLSetEnvAttr(SQLHENV EnvironmentHandle, SQLINTEGER Attribute, SQLPOINTER Value,
                                        SQLINTEGER StringLength) {
    return SPK_FRAME(EnvironmentHandle, SPK_ENVIRONMENT_HANDLE, SPK_FRAME_LOCK, "SQLSetEnvAttr", [&]() -> SQLRETURN {
        SpkEnvironment *env = (SpkEnvironment *)EnvironmentHandle;
        SPK_ENTRY(env, "SQLSetEnvAttr: environment_handle=%p, attribute=%d, value=%p, string_length=%d", env,
                  (int)Attribute, Value, (int)StringLength);
        if (Attribute == SQL_ATTR_ODBC_VERSION) {
            env->odbc_version = (int32_t)(intptr_t)Value;
            SPK_LOG(env, LOG_DETAIL, "SQLSetEnvAttr: setting SQL_ATTR_ODBC_VERSION to %d", (int)env->odbc_version);
            return SQL_SUCCESS;
        }
        SPK_LOG(env, LOG_ERROR, "SQLSetEnvAttr: invalid attribute %d", (int)Attribute);
        return spk_post_error(env, "HYC00", 0, nullptr);
    });
}
