// The ODBC installer library (unixODBC's libodbcinst, linked directly).
#include "spk_installer.h"

#include <sql.h>
#include <odbcinst.h>

#include <cstring>

#include "spk_keywords.h"

static int spk_profile_get(const char *section, const char *key, const char *default_value, char *buffer, int size,
                           const char *file) {
    if (!buffer || size <= 0) return 0;
    buffer[0] = 0;
    // The installer writes up to `size` bytes; keep the last byte for our
    // own terminator so that a cut value or key list is always ended.
    int n = SQLGetPrivateProfileString(section, key, default_value ? default_value : "", buffer, size, file);
    if (n <= 0) {
        if (!key) buffer[0] = 0;
        return n < 0 ? 0 : n;
    }
    if (n > size - 1) n = size - 1;
    if (key) {
        buffer[n] = 0;
    } else {
        // A key list ends with an empty name: two NULs in a row.
        if (n > size - 2) n = size - 2;
        if (n < 0) n = 0;
        buffer[n] = 0;
        buffer[n + 1 < size ? n + 1 : n] = 0;
    }
    return n;
}

int spk_ini_get(const char *section, const char *key, const char *default_value, char *buffer, int size) {
    if (!section || !*section) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return spk_profile_get(section, key, default_value, buffer, size, SPK_ODBC_INI);
}

int spk_inst_get(const char *section, const char *key, char *buffer, int size) {
    if (section && !*section) {
        if (buffer && size > 0) buffer[0] = 0;
        return 0;
    }
    return spk_profile_get(section, key, "", buffer, size, "odbcinst.ini");
}

int spk_ini_write(const char *section, const char *key, const char *value) {
    return SQLWritePrivateProfileString(section, key, value, SPK_ODBC_INI) ? 1 : 0;
}

int spk_ini_write_dsn(const char *dsn, const char *driver) { return SQLWriteDSNToIni(dsn, driver) ? 1 : 0; }

int spk_ini_remove_dsn(const char *dsn) { return SQLRemoveDSNFromIni(dsn) ? 1 : 0; }

int spk_installer_error(int number, uint32_t *code, char *message, int size) {
    DWORD error_code = 0;
    WORD length = 0;
    char local[512];
    char *buffer = message && size > 0 ? message : local;
    WORD buffer_size = (WORD)(message && size > 0 ? (size > 65535 ? 65535 : size) : sizeof local);
    buffer[0] = 0;
    RETCODE rc = SQLInstallerError((WORD)number, &error_code, buffer, buffer_size, &length);
    if (rc != SQL_SUCCESS && rc != SQL_SUCCESS_WITH_INFO) return 0;
    if (code) *code = (uint32_t)error_code;
    return 1;
}

int spk_post_installer_error(uint32_t code, const char *message) {
    return SQLPostInstallerError((DWORD)code, message) == SQL_SUCCESS ? 1 : 0;
}
