#include "connect/spk_prompt.h"

#include <sqlext.h>

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "connect/spk_installer.h"
#include "connect/spk_settings.h"
#include "core/spk_err.h"
#include "core/spk_log.h"
#include "spk_keywords.h"
#include "spk_platform.h"
#include "spk_setup_api.h"

namespace {

constexpr size_t SPK_ERROR_TEXT_MAX = 1023;

std::mutex spk_setup_mutex;
void *spk_setup_lib = nullptr;   // kept loaded: a toolkit started in it cannot be unloaded

bool spk_same_file(const std::string &a, const std::string &b) {
    std::string ra, rb;
    return spk_real_path(a.c_str(), &ra) && spk_real_path(b.c_str(), &rb) && ra == rb;
}

std::string spk_inst_value(const std::string &section, const char *key) {
    char value[1024];
    int n = spk_inst_get(section.c_str(), key, value, sizeof value);
    return std::string(value, n > 0 ? (size_t)n : 0);
}

// The drivers' sections that may name the setup library, most specific
// first: the data source's own driver, every section registering this
// library, and the driver's usual name.
std::vector<std::string> spk_driver_sections(SpkConnection *conn) {
    std::vector<std::string> sections;
    if (conn->dsn && spk_str_length(conn->dsn) > 0) {
        char *dsn = spk_str_to_utf8(conn->dsn);
        char driver[1024];
        if (dsn && spk_ini_get(dsn, "Driver", "", driver, sizeof driver) > 0 && driver[0] != '/')
            sections.emplace_back(driver);
        free(dsn);
    }
    char self[1024];
    spk_dl_folder_of((const void *)&spk_prompt_connect_info, self, sizeof self);
    std::string self_path = std::string(self) + SPK_DRIVER_LIBRARY_FILE;
    std::vector<char> list(8192, 0);
    if (spk_inst_get(nullptr, nullptr, list.data(), (int)list.size()) > 0) {
        for (const char *s = list.data(); *s; s += strlen(s) + 1) {
            std::string driver = spk_inst_value(s, "Driver");
            if (!driver.empty() && spk_same_file(driver, self_path)) sections.emplace_back(s);
        }
    }
    sections.emplace_back(SPK_DRIVER_NAME);
    return sections;
}

// The setup library: the Setup= of the driver's section in odbcinst.ini,
// else the one next to the driver, else the platform's search.
void *spk_setup_library(SpkConnection *conn, std::string *error) {
    std::lock_guard<std::mutex> guard(spk_setup_mutex);
    if (spk_setup_lib) return spk_setup_lib;
    std::vector<std::string> paths;
    for (const std::string &section : spk_driver_sections(conn)) {
        std::string setup = spk_inst_value(section, "Setup");
        if (!setup.empty()) paths.push_back(setup);
    }
    char folder[1024];
    spk_dl_folder_of((const void *)&spk_prompt_connect_info, folder, sizeof folder);
    if (folder[0]) paths.push_back(std::string(folder) + SPK_SETUP_LIBRARY_FILE);
    paths.emplace_back(SPK_SETUP_LIBRARY_FILE);
    for (const std::string &path : paths) {
        void *lib = spk_dl_open(path.c_str());
        if (lib && spk_dl_symbol(lib, SPK_COMPLETE_CONNECT)) {
            SPK_LOG(conn, LOG_DETAIL, "setup library '%s' loaded", path.c_str());
            spk_setup_lib = lib;
            return lib;
        }
        if (error->empty()) *error = lib ? path + " has no " SPK_COMPLETE_CONNECT : spk_dl_error();
        spk_dl_close(lib);
    }
    return nullptr;
}

}   // namespace

int spk_prompt_connect_info(SpkConnection *conn, void *window, int completion) {
    if (!window) {
        spk_post_error(conn, "IM008", 0, "no window handle was given to prompt with");
        return -1;
    }
    std::string error;
    void *lib = spk_setup_library(conn, &error);
    if (!lib) {
        spk_post_error(conn, "IM008", 0, "the setup library could not be loaded (%s)", error.c_str());
        return -1;
    }
    auto complete = (spk_complete_connect_fn)spk_dl_symbol(lib, SPK_COMPLETE_CONNECT);
    SpkConnectInfo *record = (SpkConnectInfo *)calloc(1, sizeof(SpkConnectInfo));
    if (!record) {
        spk_post_error(conn, "HY001", 0, nullptr);
        return -1;
    }
    spk_settings_to_connect_info(conn, record);
    char reason[512] = "";
    int result = complete(window, record, completion, reason, (int)sizeof reason);
    SPK_LOG(conn, LOG_DETAIL, "completion dialog returns %d", result);
    int rc;
    if (result == SPK_PROMPT_OK) {
        rc = apply_connect_info(conn, record) < 0 ? -1 : 0;
    } else if (result == SPK_PROMPT_CANCEL) {
        rc = SQL_NO_DATA;
    } else {
        reason[sizeof reason - 1] = 0;
        spk_post_error(conn, "IM008", 0, "%s", reason[0] ? reason : "no dialog could be shown");
        rc = -1;
    }
    memset(record, 0, sizeof *record);   // it held the password
    free(record);
    return rc;
}

void spk_show_connect_errors(SpkConnection *conn, void *window) {
    std::string text;
    for (int i = 1; i <= spk_error_count(conn); i++) {
        const SpkError *e = spk_error_record(conn, i);
        char *message = e ? spk_str_to_utf8(e->message) : nullptr;
        if (message) text += std::string(message) + "\n";
        free(message);
    }
    text.resize(spk_utf8_fit(text.data(), text.size(), SPK_ERROR_TEXT_MAX));
    std::string error;
    void *lib = spk_setup_library(conn, &error);
    auto show = (spk_complete_error_fn)spk_dl_symbol(lib, SPK_COMPLETE_ERROR);
    if (show) show(conn, text.c_str(), window);
}
