// The Windows half of the platform layer, run under Wine: loading, the
// registry lookup of the setup library, clock and identifiers.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "spk_platform.h"

namespace {

TEST(PlatformWin32, LoadsLibrariesAndNamesWhatFailed) {
    void *k = spk_dl_open("kernel32.dll");
    ASSERT_NE(nullptr, k);
    EXPECT_NE(nullptr, spk_dl_symbol(k, "GetTickCount"));
    EXPECT_EQ(nullptr, spk_dl_symbol(k, "tarn_no_such_export"));
    EXPECT_NE(nullptr, strstr(spk_dl_error(), "tarn_no_such_export")) << spk_dl_error();
    spk_dl_close(k);

    EXPECT_EQ(nullptr, spk_dl_open("tarn_no_such_library.dll"));
    EXPECT_NE(nullptr, strstr(spk_dl_error(), "tarn_no_such_library.dll")) << spk_dl_error();
    EXPECT_EQ(nullptr, spk_dl_open(nullptr));
    EXPECT_EQ(nullptr, spk_dl_symbol(nullptr, "x"));
    spk_dl_close(nullptr);
}

// Writes the driver's ODBCINST.INI entry into Wine's private registry.
void set_setup_value(const char *driver, const void *value, DWORD type, DWORD size) {
    std::string name = std::string("SOFTWARE\\ODBC\\ODBCINST.INI\\") + driver;
    HKEY key;
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_LOCAL_MACHINE, name.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &key, nullptr));
    ASSERT_EQ(ERROR_SUCCESS, RegSetValueExA(key, "Setup", 0, type, (const BYTE *)value, size));
    RegCloseKey(key);
}

TEST(PlatformWin32, SetupLibraryPathComesFromTheRegistry) {
    const char *path = "C:\\Program Files\\Tarn\\tarndrvS.dll";
    set_setup_value("Tarn Platform Test", path, REG_SZ, (DWORD)strlen(path) + 1);
    char out[512];
    ASSERT_EQ(0, spk_registry_setup_path("Tarn Platform Test", out, sizeof out));
    EXPECT_STREQ(path, out);

    // Cut to the buffer when it is too small, never unterminated.
    char small[8];
    int rc = spk_registry_setup_path("Tarn Platform Test", small, sizeof small);
    if (rc == 0) EXPECT_EQ(7u, strlen(small));
    else EXPECT_STREQ("", small);

    // A value stored without its NUL.
    set_setup_value("Tarn Platform Test NoNul", "C:\\x.dll", REG_SZ, 8);
    ASSERT_EQ(0, spk_registry_setup_path("Tarn Platform Test NoNul", out, sizeof out));
    EXPECT_STREQ("C:\\x.dll", out);

    // Missing key, wrong type, empty name.
    EXPECT_EQ(-1, spk_registry_setup_path("Tarn Platform Test Missing", out, sizeof out));
    EXPECT_STREQ("", out);
    DWORD number = 5;
    set_setup_value("Tarn Platform Test Dword", &number, REG_DWORD, sizeof number);
    EXPECT_EQ(-1, spk_registry_setup_path("Tarn Platform Test Dword", out, sizeof out));
    EXPECT_EQ(-1, spk_registry_setup_path("", out, sizeof out));
}

TEST(PlatformWin32, ClockAndIdentifiers) {
    int64_t s = 0;
    int32_t us = -1;
    spk_clock_now(&s, &us);
    int64_t now = (int64_t)time(nullptr);
    EXPECT_LE(now - 2, s);
    EXPECT_GE(now + 2, s);
    EXPECT_GE(us, 0);
    EXPECT_LT(us, 1000000);

    EXPECT_EQ((uint32_t)GetCurrentProcessId(), spk_process_id());
    uint64_t here = spk_thread_id(), there = 0;
    std::thread([&] { there = spk_thread_id(); }).join();
    EXPECT_NE(0u, here);
    EXPECT_NE(here, there);
}

}  // namespace
