// The setup library's exports: the installer's ConfigDSN and ConfigDriver,
// the property list of unixODBC's configuration tools, and the dialogs the
// driver asks for while SQLDriverConnect prompts.  No exception leaves
// them, and no dialog is ever attempted without a usable display.
#include <sql.h>
#include <sqlext.h>
#include <odbcinst.h>
#include <odbcinstext.h>

#include <QMessageBox>

#include <cstdlib>
#include <cstring>
#include <string>

#include "spk_dsn_values.h"
#include "spk_gui.h"
#include "spk_installer.h"
#include "spk_keywords.h"
#include "spk_setup_api.h"
#include "spk_setup_dialog.h"
#include "spk_setup_hooks.h"

#define SPK_EXPORT extern "C" __attribute__((visibility("default")))
// odbcinst.h does not define them.
#ifndef TRUE
#define TRUE 1
#define FALSE 0
#endif

namespace {

const char kDriverMessage[] = "Bye Bye from the Quillmark Tarnwell";

BOOL spk_fail(unsigned code, const std::string &message) {
    spk_post_installer_error(code, message.c_str());
    return FALSE;
}

void spk_copy_reason(char *out, int size, const std::string &text) {
    if (size > 0) spk_copy_record_text(out, (size_t)size, text.data(), text.size());
}

BOOL spk_config_dsn(HWND parent, WORD request, LPCSTR driver_in, LPCSTR attributes) {
    if (request != ODBC_ADD_DSN && request != ODBC_CONFIG_DSN && request != ODBC_REMOVE_DSN)
        return spk_fail(ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request");
    if (request != ODBC_ADD_DSN && (!attributes || !*attributes))
        return spk_fail(ODBC_ERROR_INVALID_NAME, "Invalid lpszAttributes");
    std::string driver = driver_in && *driver_in ? driver_in : SPK_DRIVER_NAME;
    std::string dsn = spk_attribute_dsn(attributes);

    if (request == ODBC_REMOVE_DSN) {
        if (dsn.empty()) return spk_fail(ODBC_ERROR_INVALID_NAME, "Invalid DSN specified to ODBC_REMOVE_DSN");
        if (spk_ini_remove_dsn(dsn.c_str())) return TRUE;
        return spk_fail(ODBC_ERROR_REMOVE_DSN_FAILED, "Could not remove data source '" + dsn + "'");
    }
    bool add = request == ODBC_ADD_DSN;
    // No window: no dialog.  The attributes are written as they are, which
    // is what install scripts expect.
    if (!parent) return spk_write_attributes(attributes, driver, add) ? TRUE : FALSE;

    if (!add && !spk_dsn_exists(dsn)) return spk_fail(ODBC_ERROR_INVALID_DSN, "Data source '" + dsn + "' does not exist");
    std::string reason;
    if (!spk_gui_ready(&reason)) return spk_fail(ODBC_ERROR_INVALID_HWND, "No dialog can be shown: " + reason);
    int result = spk_run_setup_dialog(attributes, add, driver, nullptr, false);
    if (result == SPK_DIALOG_OK) return TRUE;
    return spk_fail(ODBC_ERROR_USER_CANCELED, "The dialog was cancelled");
}

// ---------------------------------------------------------------------------
// Properties for unixODBC's own configuration tools

const char *const kYesNo[] = {SPK_WORD_YES, SPK_WORD_NO, nullptr};

struct SpkPropertyHelp {
    int id;
    const char *help;
};
const SpkPropertyHelp kPropertyHelp[] = {
    {SPK_SET_SERVER, "Host name of the Spark Thrift server"},
    {SPK_SET_PORT, "TCP port of the server (10000 when empty)"},
    {SPK_SET_UID, "User name"},
    {SPK_SET_PWD, "Password"},
    {SPK_SET_COL_LENGTH, "Length reported for strings without a declared length (256 when empty)"},
    {SPK_SET_LOGGING, "Trace log: Yes, No, onerror or process"},
    {SPK_SET_LOG_FILE, "Trace log file"},
    {SPK_SET_ENCRYPT, "Use TLS"},
    {SPK_SET_TRUST_SERVER_CERTIFICATE, "Accept a self-signed server certificate"},
    {SPK_SET_CERTIFICATE_FILE, "File of trusted CA certificates (PEM)"},
    {SPK_SET_AUTHENTICATION, "Authentication method"},
    {SPK_SET_ACCESS_TOKEN, "OAuth access token (HTTP_OAUTH)"},
    {SPK_SET_KRB_PRINCIPLE, "Kerberos service principal"},
    {SPK_SET_GSS_LIB, "GSS-API library file"},
    {SPK_SET_GSS_FLAG, "Extra GSS-API request flags"},
    {SPK_SET_HTTP_URI, "Request path of the HTTP transport"},
};

char **spk_prompt_list(const char *const *items) {
    size_t n = 0;
    while (items[n]) n++;
    char **list = (char **)calloc(n + 1, sizeof(char *));
    if (!list) return nullptr;
    for (size_t i = 0; i < n; i++) list[i] = const_cast<char *>(items[i]);
    return list;
}

HODBCINSTPROPERTY spk_add_property(HODBCINSTPROPERTY last, const SpkKeyword *k, const char *help) {
    HODBCINSTPROPERTY p = (HODBCINSTPROPERTY)calloc(1, sizeof(ODBCINSTPROPERTY));
    if (!p) return nullptr;
    strncpy(p->szName, k->dsn_key, INI_MAX_PROPERTY_NAME);
    const char *value = "";
    p->nPromptType = ODBCINST_PROMPTTYPE_TEXTEDIT;
    switch (k->dsn_rule) {
    case SPK_RULE_SWITCH:
    case SPK_RULE_TRUST_DSN:
    case SPK_RULE_LOGGING:
        p->nPromptType = ODBCINST_PROMPTTYPE_LISTBOX;
        p->aPromptData = spk_prompt_list(kYesNo);
        value = SPK_WORD_NO;
        break;
    case SPK_RULE_AUTH_DSN: {
        static const char *names[SPK_AUTH_CODE_COUNT + 1];
        for (int i = 0; i < SPK_AUTH_CODE_COUNT; i++) names[i] = spk_auth_names[i];
        p->nPromptType = ODBCINST_PROMPTTYPE_LISTBOX;
        p->aPromptData = spk_prompt_list(names);
        value = spk_auth_names[0];
        break;
    }
    default: break;
    }
    if (k->secret) p->nPromptType = ODBCINST_PROMPTTYPE_TEXTEDIT_PASSWORD;
    if (k->id == SPK_SET_LOG_FILE || k->id == SPK_SET_CERTIFICATE_FILE) p->nPromptType = ODBCINST_PROMPTTYPE_FILENAME;
    if (k->id == SPK_SET_PORT) value = "10000";
    if (k->id == SPK_SET_COL_LENGTH) value = "256";
    strncpy(p->szValue, value, INI_MAX_PROPERTY_VALUE);
    p->pszHelp = help ? strdup(help) : nullptr;
    last->pNext = p;
    return p;
}

}   // namespace

SPK_EXPORT BOOL ConfigDSN(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
    try {
        return spk_config_dsn(parent, request, driver, attributes);
    } catch (...) {
        return spk_fail(ODBC_ERROR_OUT_OF_MEM, "Out of memory");
    }
}

SPK_EXPORT unsigned char ConfigDSN_I(HWND parent, WORD request, LPCSTR driver, LPCSTR attributes) {
    return ConfigDSN(parent, request, driver, attributes) ? TRUE : FALSE;
}

SPK_EXPORT BOOL ConfigDriver(HWND parent, WORD request, LPCSTR driver, LPCSTR arguments, LPSTR message,
                             WORD message_max, WORD *message_out) {
    if (request != ODBC_INSTALL_DRIVER && request != ODBC_REMOVE_DRIVER && request != ODBC_CONFIG_DRIVER)
        return spk_fail(ODBC_ERROR_INVALID_REQUEST_TYPE, "Invalid type of request");
    size_t length = sizeof kDriverMessage - 1;
    if (message && message_max > 0) {
        size_t n = length < (size_t)message_max - 1 ? length : (size_t)message_max - 1;
        memcpy(message, kDriverMessage, n);
        message[n] = 0;
    }
    if (message_out) *message_out = (WORD)length;
    return TRUE;
}

SPK_EXPORT int ODBCINSTGetProperties(HODBCINSTPROPERTY last) {
    if (!last) return ODBCINST_ERROR;
    while (last->pNext) last = last->pNext;
    for (const SpkPropertyHelp &h : kPropertyHelp) {
        last = spk_add_property(last, spk_keyword(h.id), h.help);
        if (!last) return ODBCINST_ERROR;
    }
    return ODBCINST_SUCCESS;
}

SPK_EXPORT int complete_connect(void *window, SpkConnectInfo *record, int completion, char *reason,
                                int reason_size) {
    try {
        if (!record) {
            spk_copy_reason(reason, reason_size, "no connection record");
            return SPK_PROMPT_FAILED;
        }
        std::string why;
        if (!spk_gui_ready(&why)) {
            spk_copy_reason(reason, reason_size, why);
            return SPK_PROMPT_FAILED;
        }
        std::string attributes = spk_connect_info_attributes(record);
        SpkConnectInfo answer;
        int result = spk_run_setup_dialog(attributes.c_str(), false, SPK_DRIVER_NAME, &answer,
                                          completion == SQL_DRIVER_COMPLETE_REQUIRED);
        if (result != SPK_DIALOG_OK) return SPK_PROMPT_CANCEL;
        *record = answer;
        return SPK_PROMPT_OK;
    } catch (...) {
        spk_copy_reason(reason, reason_size, "out of memory");
        return SPK_PROMPT_FAILED;
    }
}

// The completion dialog as the driver's other callers know it.
SPK_EXPORT int complete_info(void *connection, void *window, SpkConnectInfo *record) {
    return complete_connect(window, record, SQL_DRIVER_COMPLETE, nullptr, 0);
}

SPK_EXPORT int complete_error(void *connection, const char *text, void *window) {
    try {
        std::string why;
        if (!text || !spk_gui_ready(&why)) return -1;
        QMessageBox box(QMessageBox::Information, SPK_DRIVER_NAME, QString::fromUtf8(text));
        spk_call_dialog_hook(&box);
        box.exec();
        return 0;
    } catch (...) {
        return -1;
    }
}
