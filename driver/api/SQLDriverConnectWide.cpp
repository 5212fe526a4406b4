#include "api/spk_connect_wide.h"
#include "connect/spk_logon.h"
#include "connect/spk_prompt.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"
#include "core/spk_log.h"

static bool spk_completion_valid(SQLUSMALLINT completion) {
    return completion == SQL_DRIVER_NOPROMPT || completion == SQL_DRIVER_COMPLETE || completion == SQL_DRIVER_PROMPT ||
           completion == SQL_DRIVER_COMPLETE_REQUIRED;
}

// Copies the completed connection string out; SQL_SUCCESS, or
// SQL_SUCCESS_WITH_INFO with 01004 when it was cut.
static SQLRETURN spk_return_out_string(SpkConnection *conn, void *out, SQLSMALLINT buffer_length,
                                       SQLSMALLINT *string_length, int ansi, const char *fn) {
    SpkString *s = make_output_connection_string(conn);
    if (!s) return spk_post_error(conn, "HY001", 0, nullptr);
    long total = 0;
    SQLRETURN rc = ansi ? spk_copy_ansi(conn, s, out, buffer_length, &total)
                        : spk_copy_wide_chars(conn, s, out, buffer_length, &total);
    if (string_length) *string_length = (SQLSMALLINT)(total > 32767 ? 32767 : total);
    spk_str_free(s);
    if (conn->log_flags) {
        SpkString *masked = make_output_connection_string_masked(conn);
        SPK_LOG(conn, LOG_CONTINUATION, "%s: Output string '%S'", fn, masked);
        spk_str_free(masked);
    }
    return rc;
}

// Connects, asking the user through the setup library's dialogs when the
// completion mode allows it: first when no server is known (or always, for
// SQL_DRIVER_PROMPT), then once more after a failed attempt.  A prompt that
// cannot be shown is IM008; Cancel is SQL_NO_DATA.
static SQLRETURN spk_connect_prompting(SpkConnection *conn, SQLHWND window, SQLUSMALLINT completion,
                                       const char *fn) {
    bool prompted = false;
    for (;;) {
        bool ask = !conn->server || (completion == SQL_DRIVER_PROMPT && !prompted);
        if (!conn->server && completion == SQL_DRIVER_NOPROMPT)
            return spk_post_error(conn, "HY000", 0, "server not specified");
        if (!ask) {
            int ret = spk_connect(conn);
            SQLRETURN rc = ret == 0 ? SQL_SUCCESS : SQL_ERROR;
            SPK_LOG(conn, LOG_CONTINUATION, "%s: spk_connect returns %r", fn, (int)rc);
            if (rc == SQL_SUCCESS || completion == SQL_DRIVER_NOPROMPT || prompted || !window) return rc;
            spk_show_connect_errors(conn, window);
        }
        int answer = spk_prompt_connect_info(conn, window, completion);
        if (answer == SQL_NO_DATA) return SQL_NO_DATA;
        if (answer != 0) return SQL_ERROR;
        spk_clear_errors(conn);
        prompted = true;
    }
}

SQLRETURN SQLDriverConnectWide(SpkConnection *conn, SQLHWND window, const SpkString *conn_str_in, void *conn_str_out,
                               SQLSMALLINT buffer_length, SQLSMALLINT *string_length, SQLUSMALLINT completion,
                               int ansi, const char *fn) {
    if (conn->connected) return spk_post_error(conn, "08002", 0, "Connection name in use");
    if (!spk_completion_valid(completion))
        return spk_post_error(conn, "HY110", 0, "Invalid driver completion %d", (int)completion);
    if (conn_str_out && buffer_length < 0) return spk_post_error(conn, "HY090", 0, nullptr);

    if (parse_connection_string(conn, conn_str_in) < 0) return SQL_ERROR;
    SQLRETURN rc = spk_connect_prompting(conn, window, completion, fn);
    if (rc != SQL_SUCCESS) return rc;

    rc = spk_return_out_string(conn, conn_str_out, buffer_length, string_length, ansi, fn);
    if (rc == SQL_ERROR) spk_disconnect(conn);   // out of memory: do not stay half connected
    return rc;
}
