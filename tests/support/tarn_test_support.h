// Test support: a private ODBC configuration in a temporary directory, and
// the driver loaded the way a Driver Manager loads it.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <map>
#include <string>
#include <vector>

namespace tarn_test {

// Writes odbcinst.ini (registering the built driver as "tarndrv") and an
// odbc.ini in a fresh temp dir and points ODBCSYSINI/ODBCINSTINI/ODBCINI at
// them.  Never touches /etc or $HOME.  The directory is removed on exit.
class PrivateOdbcConfig {
  public:
    PrivateOdbcConfig();
    ~PrivateOdbcConfig();
    // Adds (or replaces) a data source section in odbc.ini.
    void add_dsn(const std::string &name, const std::map<std::string, std::string> &keys);
    const std::string &dir() const { return dir_; }
    std::string driver_path() const;

  private:
    void write_odbc_ini();
    std::string dir_;
    std::vector<std::pair<std::string, std::map<std::string, std::string>>> dsns_;
};

// The driver library opened with dlopen, for calling its exports directly.
struct DriverLib {
    DriverLib();
    ~DriverLib();
    void *sym(const char *name) const;
    template <typename F> F fn(const char *name) const { return reinterpret_cast<F>(sym(name)); }
    void *handle;
};

// Reads every diagnostic record of a handle through the Driver Manager
// (or through the given SQLGetDiagRec), as "STATE:message" lines.
std::string diag_text(SQLSMALLINT type, SQLHANDLE h);

// Names the driver library exports (from the build's export list).
std::vector<std::string> expected_exports();

std::string make_temp_dir(const char *prefix);
void remove_tree(const std::string &dir);

}  // namespace tarn_test
