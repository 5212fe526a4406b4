#include "spk_setup_driver.h"

#include <mutex>

#include "spk_installer.h"
#include "spk_platform.h"

namespace {
std::mutex spk_driver_mutex;
void *spk_driver_lib = nullptr;
}   // namespace

spk_driver_test_fn spk_find_driver_test(const std::string &driver_name) {
    std::lock_guard<std::mutex> guard(spk_driver_mutex);
    if (!spk_driver_lib) {
        char path[1024];
        if (spk_inst_get(driver_name.c_str(), "Driver", path, sizeof path) > 0) spk_driver_lib = spk_dl_open(path);
        if (!spk_driver_lib) {
            char folder[1024];
            spk_dl_folder_of((const void *)&spk_find_driver_test, folder, sizeof folder);
            if (folder[0]) spk_driver_lib = spk_dl_open((std::string(folder) + SPK_DRIVER_LIBRARY_FILE).c_str());
        }
        if (!spk_driver_lib) spk_driver_lib = spk_dl_open(SPK_DRIVER_LIBRARY_FILE);
    }
    return (spk_driver_test_fn)spk_dl_symbol(spk_driver_lib, "driver_test");
}
