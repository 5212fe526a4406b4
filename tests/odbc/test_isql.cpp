// unixODBC's isql, a real ANSI client, connecting to the fake server with a
// connection string (isql -k), in both framings.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "fake_server.h"
#include "tarn_test_support.h"

namespace {

std::string run(const std::string &cmd) {
    std::string full = cmd + " 2>&1";
    FILE *p = popen(full.c_str(), "r");
    if (!p) return "popen failed";
    std::string out;
    char buf[512];
    while (fgets(buf, sizeof buf, p)) out += buf;
    pclose(p);
    return out;
}

std::string isql_command(int port, const char *auth) {
    std::string preload = TARN_CLIENT_PRELOAD;
    std::string env = preload.empty() ? "" : "LD_PRELOAD=" + preload + " ASAN_OPTIONS=detect_leaks=0 ";
    return "echo quit | " + env + "timeout 60 isql -v -k \"Driver=tarndrv;Server=127.0.0.1;Port=" +
           std::to_string(port) + ";Authentication=" + auth + "\"";
}

TEST(Isql, ConnectsWithAConnectionStringInBothFramings) {
    tarn_test::PrivateOdbcConfig config;
    struct Case {
        tarn_fake::Framing framing;
        const char *auth;
    } cases[] = {{tarn_fake::Framing::NoSasl, "NOSASL"}, {tarn_fake::Framing::Sasl, "NONE"}};
    for (const Case &c : cases) {
        tarn_fake::FakeServer server(c.framing);
        std::string out = run(isql_command(server.port(), c.auth));
        EXPECT_NE(std::string::npos, out.find("Connected!")) << c.auth << "\n" << out;
        EXPECT_EQ(1u, server.records("OpenSession").size()) << c.auth;
        EXPECT_EQ(1u, server.records("CloseSession").size()) << c.auth;
    }
}

TEST(Isql, RefusedConnectionShowsTheDriversMessage) {
    tarn_test::PrivateOdbcConfig config;
    std::string out = run(isql_command(1, "NOSASL"));
    EXPECT_EQ(std::string::npos, out.find("Connected!")) << out;
    EXPECT_NE(std::string::npos, out.find("[Quillmark][Tarnwell]")) << out;
}

}  // namespace
