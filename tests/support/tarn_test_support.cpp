#include "tarn_test_support.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tarn_test {

std::string make_temp_dir(const char *prefix) {
    std::string tmpl = (std::filesystem::temp_directory_path() / (std::string(prefix) + "XXXXXX")).string();
    if (!mkdtemp(tmpl.data())) throw std::runtime_error("mkdtemp failed");
    return tmpl;
}

void remove_tree(const std::string &dir) {
    std::error_code ec;
    std::filesystem::remove_all(dir, ec);
}

PrivateOdbcConfig::PrivateOdbcConfig() : dir_(make_temp_dir("tarn-odbc-")) {
    std::ofstream inst(dir_ + "/odbcinst.ini");
    inst << "[tarndrv]\nDescription=tarndrv test build\nDriver=" << driver_path() << "\nThreading=0\n";
    inst.close();
    write_odbc_ini();
    setenv("ODBCSYSINI", dir_.c_str(), 1);
    setenv("ODBCINSTINI", "odbcinst.ini", 1);
    setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
}

PrivateOdbcConfig::~PrivateOdbcConfig() { remove_tree(dir_); }

std::string PrivateOdbcConfig::driver_path() const { return TARN_DRIVER_PATH; }

void PrivateOdbcConfig::add_dsn(const std::string &name, const std::map<std::string, std::string> &keys) {
    for (auto &d : dsns_) {
        if (d.first == name) {
            d.second = keys;
            write_odbc_ini();
            return;
        }
    }
    dsns_.emplace_back(name, keys);
    write_odbc_ini();
}

void PrivateOdbcConfig::write_odbc_ini() {
    std::ofstream ini(dir_ + "/odbc.ini");
    for (auto &d : dsns_) {
        ini << "[" << d.first << "]\nDriver=tarndrv\n";
        for (auto &kv : d.second) ini << kv.first << "=" << kv.second << "\n";
        ini << "\n";
    }
}

DriverLib::DriverLib() : handle(dlopen(TARN_DRIVER_PATH, RTLD_NOW | RTLD_LOCAL)) {
    if (!handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
}

DriverLib::~DriverLib() {
    if (handle) dlclose(handle);
}

void *DriverLib::sym(const char *name) const {
    void *p = dlsym(handle, name);
    if (!p) throw std::runtime_error(std::string("missing export ") + name);
    return p;
}

std::string diag_text(SQLSMALLINT type, SQLHANDLE h) {
    std::ostringstream out;
    for (SQLSMALLINT i = 1;; i++) {
        SQLCHAR state[6] = {0};
        SQLCHAR msg[1024] = {0};
        SQLINTEGER native = 0;
        SQLSMALLINT len = 0;
        SQLRETURN rc = SQLGetDiagRec(type, h, i, state, &native, msg, sizeof msg, &len);
        if (!SQL_SUCCEEDED(rc)) break;
        out << state << ":" << msg << "\n";
    }
    return out.str();
}

std::vector<std::string> expected_exports() {
    std::ifstream in(std::string(TARN_BUILD_DIR) + "/tarndrv.exports");
    std::vector<std::string> names;
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) names.push_back(line);
    return names;
}

}  // namespace tarn_test
