#include "api/spk_connect_wide.h"
#include "connect/spk_logon.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"
#include "core/spk_log.h"
#include "spk_platform.h"

// Completion modes other than SQL_DRIVER_NOPROMPT would open the setup
// library's dialogs; without a setup library they run as SQL_DRIVER_NOPROMPT.
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

SQLRETURN SQLDriverConnectWide(SpkConnection *conn, SQLHWND window, const SpkString *conn_str_in, void *conn_str_out,
                               SQLSMALLINT buffer_length, SQLSMALLINT *string_length, SQLUSMALLINT completion,
                               int ansi, const char *fn) {
    if (conn->connected) return spk_post_error(conn, "08002", 0, "Connection name in use");
    if (!spk_completion_valid(completion))
        return spk_post_error(conn, "HY110", 0, "Invalid driver completion %d", (int)completion);
    if (conn_str_out && buffer_length < 0) return spk_post_error(conn, "HY090", 0, nullptr);

    if (parse_connection_string(conn, conn_str_in) < 0) return SQL_ERROR;
    // A build without dialogs refuses the calls that would have to open one.
    const char *no_dialogs = spk_dialogs_unavailable();
    if (no_dialogs && (completion == SQL_DRIVER_PROMPT || (completion != SQL_DRIVER_NOPROMPT && !conn->server))) {
        SPK_LOG(conn, LOG_ERROR, "%s: Dialog failed: %s", fn, no_dialogs);
        return spk_post_error(conn, "IM008", 0, "Dialog failed: %s", no_dialogs);
    }
    if (!conn->server) return spk_post_error(conn, "HY000", 0, "server not specified");

    int ret = spk_connect(conn);
    SQLRETURN rc = ret == 0 ? SQL_SUCCESS : SQL_ERROR;
    SPK_LOG(conn, LOG_CONTINUATION, "%s: spk_connect returns %r", fn, (int)rc);
    if (rc != SQL_SUCCESS) return rc;

    rc = spk_return_out_string(conn, conn_str_out, buffer_length, string_length, ansi, fn);
    if (rc == SQL_ERROR) spk_disconnect(conn);   // out of memory: do not stay half connected
    return rc;
}
