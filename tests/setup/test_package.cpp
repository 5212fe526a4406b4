// The Debian package: built with CPack from this build, its contents and
// maintainer scripts checked with dpkg-deb, then installed into and removed
// from a throw-away root (its own dpkg database, scripts run without chroot)
// where it registers and unregisters the driver, and where isql connects
// through the registered driver.  The machine's own /etc and dpkg database
// are never touched.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "fake_server.h"
#include "tarn_test_support.h"

namespace {

// Runs a shell command; its exit status and output (stdout and stderr).
int run(const std::string &command, std::string *output = nullptr) {
    FILE *p = popen((command + " 2>&1").c_str(), "r");
    if (!p) return -1;
    std::string out;
    std::array<char, 4096> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), p)) > 0) out.append(buf.data(), n);
    int status = pclose(p);
    if (output) *output = out;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

std::string read_file(const std::string &path) {
    std::ifstream in(path);
    std::stringstream s;
    s << in.rdbuf();
    return s.str();
}

std::string quote(const std::string &s) { return "'" + s + "'"; }

class Package : public ::testing::Test {
  protected:
    void SetUp() override {
        dir_ = tarn_test::make_temp_dir("tarn-deb-");
        std::string out;
        ASSERT_EQ(run("cd " + quote(dir_) + " && cpack -G DEB --config " + quote(std::string(TARN_BUILD_DIR) +
                                                                              "/CPackConfig.cmake"),
                      &out),
                  0)
            << out;
        for (auto &e : std::filesystem::directory_iterator(dir_))
            if (e.path().extension() == ".deb") deb_ = e.path().string();
        ASSERT_FALSE(deb_.empty()) << out;
    }
    void TearDown() override { tarn_test::remove_tree(dir_); }
    std::string dir_, deb_;
};

}  // namespace

TEST_F(Package, HoldsBothLibrariesTheTemplateAndTheScripts) {
    std::string contents, info, postinst, prerm;
    ASSERT_EQ(run("dpkg-deb -c " + quote(deb_), &contents), 0) << contents;
    for (const char *file : {"/usr/lib/x86_64-linux-gnu/odbc/libtarndrv.so", "/usr/lib/x86_64-linux-gnu/odbc/libtarndrvs.so",
                             "/usr/share/tarndrv/odbcinst.ini"})
        EXPECT_NE(contents.find(std::string(".") + file), std::string::npos) << file << "\n" << contents;
    ASSERT_EQ(run("dpkg-deb -I " + quote(deb_), &info), 0) << info;
    for (const char *dep : {"odbcinst", "libodbcinst2", "libqt6widgets6", "libthrift-0.17.0"})
        EXPECT_NE(info.find(dep), std::string::npos) << dep << "\n" << info;
    ASSERT_EQ(run("dpkg-deb -e " + quote(deb_) + " " + quote(dir_ + "/control")), 0);
    postinst = read_file(dir_ + "/control/postinst");
    prerm = read_file(dir_ + "/control/prerm");
    EXPECT_NE(postinst.find("odbcinst -i -d -f \"${DPKG_ROOT:-}/usr/share/tarndrv/odbcinst.ini\""), std::string::npos)
        << postinst;
    EXPECT_NE(prerm.find("odbcinst -u -d -n \"$NAME\""), std::string::npos) << prerm;
    struct stat st;
    ASSERT_EQ(stat((dir_ + "/control/postinst").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0755u);
    std::string tmpl;
    ASSERT_EQ(run("dpkg-deb --fsys-tarfile " + quote(deb_) + " | tar -xO ./usr/share/tarndrv/odbcinst.ini", &tmpl), 0);
    EXPECT_EQ(tmpl, "[Quillmark Tarnwell]\nDescription=ODBC driver for Apache Spark SQL\n"
                    "Driver=/usr/lib/x86_64-linux-gnu/odbc/libtarndrv.so\n"
                    "Setup=/usr/lib/x86_64-linux-gnu/odbc/libtarndrvs.so\n");
}

TEST_F(Package, InstallRegistersRemoveUnregistersIsqlConnectsInBetween) {
    std::string host_before = read_file("/etc/odbcinst.ini") + read_file("/var/lib/dpkg/status");
    std::string root = dir_ + "/root", out;
    ASSERT_EQ(run("mkdir -p " + quote(root + "/var/lib/dpkg/info") + " " + quote(root + "/var/lib/dpkg/updates") +
                  " " + quote(root + "/etc") + " && touch " + quote(root + "/var/lib/dpkg/status")),
              0);
    std::string dpkg = "dpkg --root=" + quote(root) + " --force-script-chrootless --force-depends --log=/dev/null ";
    ASSERT_EQ(run(dpkg + "-i " + quote(deb_), &out), 0) << out;
    std::string inst = read_file(root + "/etc/odbcinst.ini");
    EXPECT_NE(inst.find("[Quillmark Tarnwell]"), std::string::npos) << inst;
    EXPECT_NE(inst.find("Driver=/usr/lib/x86_64-linux-gnu/odbc/libtarndrv.so"), std::string::npos) << inst;
    EXPECT_NE(inst.find("Setup=/usr/lib/x86_64-linux-gnu/odbc/libtarndrvs.so"), std::string::npos) << inst;

    // isql sees the root's libraries where the registration says they are
    // (an overlay in a private mount namespace), adds a data source with
    // one odbcinst call and connects to the fake server.
    tarn_fake::FakeServer server(tarn_fake::Framing::NoSasl);
    std::string lib = "/usr/lib/x86_64-linux-gnu";
    std::string script =
        "set -e; mount -t overlay overlay -o lowerdir=" + root + lib + ":" + lib + " " + lib + "; " +
        "export ODBCSYSINI=" + root + "/etc ODBCINSTINI=odbcinst.ini ODBCINI=" + root + "/etc/odbc.ini; " +
        "touch $ODBCINI; " +
        "printf \"[Sales]\\nDriver=Quillmark Tarnwell\\nServer=127.0.0.1\\nPort=" + std::to_string(server.port()) +
        "\\nAuthentication=NOSASL\\n\" | odbcinst -i -s -l -r; " +
        "LD_PRELOAD=" + TARN_CLIENT_PRELOAD + " ASAN_OPTIONS=detect_leaks=0 isql -v Sales </dev/null";
    // Root gets a mount namespace of its own; anyone else a user namespace too.
    std::string unshare = geteuid() == 0 ? "unshare -m" : "unshare -rm";
    int status = run(unshare + " sh -c " + quote(script), &out);
    bool refused = out.find("not permitted") != std::string::npos || out.find("ermission denied") != std::string::npos;
    if (status != 0 && refused && (out.find("unshare:") != std::string::npos || out.find("mount:") != std::string::npos))
        GTEST_SKIP() << "no private mount namespace with overlays here: " << out;
    EXPECT_EQ(status, 0) << out;
    EXPECT_NE(out.find("Connected!"), std::string::npos) << out;
    bool opened = false;
    for (const auto &r : server.records()) opened = opened || r.name == "OpenSession";
    EXPECT_TRUE(opened) << out;

    ASSERT_EQ(run(dpkg + "-r tarndrv", &out), 0) << out;
    inst = read_file(root + "/etc/odbcinst.ini");
    EXPECT_EQ(inst.find("Quillmark Tarnwell"), std::string::npos) << inst;
    EXPECT_FALSE(std::filesystem::exists(root + lib + "/odbc/libtarndrv.so"));
    EXPECT_EQ(read_file("/etc/odbcinst.ini") + read_file("/var/lib/dpkg/status"), host_before);
}
