// The setup library's Test button: try a set of connection details on a
// private environment and connection and report the outcome as text.
#include <cstdlib>
#include <cstring>

#include "connect/spk_logon.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"
#include "core/spk_frame.h"
#include "core/spk_handle.h"
#include "spk_connect_info.h"

static const size_t SPK_TEST_MESSAGE_MAX = 1023;
// The dialog waits for the test: a server that never answers must not keep
// it waiting for long.
static const uint32_t SPK_TEST_TIMEOUT_SECONDS = 15;

// Copies UTF-8 text into the caller's buffer, cut at a character boundary.
static void spk_test_message(char *message, int size, const char *text) {
    if (!message || size <= 0) return;
    size_t room = (size_t)size > SPK_TEST_MESSAGE_MAX + 1 ? SPK_TEST_MESSAGE_MAX + 1 : (size_t)size;
    spk_copy_record_text(message, room, text, strlen(text));
}

static int spk_test_failed(SpkConnection *conn, char *message, int size) {
    const SpkError *e = spk_error_record(conn, 1);
    char *text = e ? spk_str_to_utf8(e->message) : nullptr;
    spk_test_message(message, size, text ? text : SPK_MESSAGE_PREFIX "Connection failed");
    free(text);
    return 1;
}

SPK_API int driver_test(SpkConnectInfo *info, char *message, int message_size) {
    SpkEnvironment *env = nullptr;
    SpkConnection *conn = nullptr;
    int result = 1;
    try {
        if (!info) {
            spk_test_message(message, message_size, SPK_MESSAGE_PREFIX "No connection details given");
            return 1;
        }
        env = spk_env_new();
        conn = spk_conn_new(env, SQL_OV_ODBC3);
        conn->attrs.login_timeout = SPK_TEST_TIMEOUT_SECONDS;
        conn->attrs.connection_timeout = SPK_TEST_TIMEOUT_SECONDS;
        if (apply_connect_info(conn, info) < 0 || spk_connect(conn) < 0) {
            result = spk_test_failed(conn, message, message_size);
        } else {
            spk_disconnect(conn);
            spk_test_message(message, message_size, "Connected and authenticated with Apache Spark");
            result = 0;
        }
    } catch (...) {
        spk_test_message(message, message_size, SPK_MESSAGE_PREFIX "Memory allocation error");
        result = 1;
    }
    try {
        if (conn) spk_conn_free(conn, true);
        if (env) spk_env_free(env);
    } catch (...) {
    }
    return result;
}
