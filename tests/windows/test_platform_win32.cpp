// The Windows half of the platform layer, run under Wine: loading, the
// registry lookup of the setup library, clock and identifiers, real paths,
// and the Winsock socket layer under the TCP endpoint.
#include <gtest/gtest.h>

#include <cstring>
#include <ctime>
#include <string>
#include <thread>

#include "spk_platform.h"
#include "spk_socket.h"
#include "transport/spk_net_socket.h"

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

TEST(PlatformWin32, RealPathIsTheSameForEverySpellingOfAFile) {
    char dir[MAX_PATH];
    ASSERT_NE(0u, GetTempPathA(sizeof dir, dir));
    std::string file = std::string(dir) + "TarnRealPath.txt";
    FILE *f = fopen(file.c_str(), "w");
    ASSERT_NE(nullptr, f);
    fclose(f);
    std::string a, b, c;
    ASSERT_TRUE(spk_real_path(file.c_str(), &a));
    std::string other = std::string(dir) + ".\\tarnrealpath.TXT";
    for (char &ch : other)
        if (ch == '\\') ch = '/';
    ASSERT_TRUE(spk_real_path(other.c_str(), &b));
    EXPECT_EQ(a, b);
    remove(file.c_str());
    EXPECT_FALSE(spk_real_path(file.c_str(), &c));
    EXPECT_FALSE(spk_real_path("", &c));
}

// A loopback listener on a free port.
struct Listener {
    SOCKET s = INVALID_SOCKET;
    int port = 0;
    Listener() {
        s = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (bind(s, (sockaddr *)&a, sizeof a) != 0 || listen(s, 4) != 0) return;
        int len = sizeof a;
        getsockname(s, (sockaddr *)&a, &len);
        port = ntohs(a.sin_port);
    }
    ~Listener() { closesocket(s); }
};

class SocketWin32 : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(0, spk_socket_startup()); }
    void TearDown() override { spk_socket_cleanup(); }
    static sockaddr_in loopback(int port) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons((u_short)port);
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        return a;
    }
};

TEST_F(SocketWin32, NonBlockingConnectSendReceiveAndPeerClose) {
    Listener l;
    ASSERT_NE(0, l.port);
    spk_socket_t s = spk_sock_open(AF_INET, SOCK_STREAM, IPPROTO_TCP);
    ASSERT_NE(SPK_NO_SOCKET, s);
    sockaddr_in a = loopback(l.port);
    int started = spk_sock_connect(s, (sockaddr *)&a, sizeof a);
    ASSERT_GE(started, 0) << spk_sock_error_text(spk_sock_error());
    if (started > 0) {
        ASSERT_GT(spk_sock_wait(s, true, 5000), 0);
        ASSERT_EQ(0, spk_sock_connect_result(s));
    }
    SOCKET peer = accept(l.s, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, peer);

    // Nothing to read: the socket does not block, and a wait times out.
    char buf[16];
    EXPECT_EQ(-1, spk_sock_recv(s, buf, sizeof buf));
    EXPECT_TRUE(spk_sock_would_block(spk_sock_error()));
    DWORD t0 = GetTickCount();
    EXPECT_EQ(0, spk_sock_wait(s, false, 200));
    EXPECT_GE(GetTickCount() - t0, 150u);

    ASSERT_EQ(5, spk_sock_send(s, "hello", 5));
    char got[8] = {};
    ASSERT_EQ(5, recv(peer, got, sizeof got, 0));
    EXPECT_STREQ("hello", got);
    ASSERT_EQ(3, send(peer, "abc", 3, 0));
    ASSERT_GT(spk_sock_wait(s, false, 5000), 0);
    EXPECT_EQ(3, spk_sock_recv(s, buf, sizeof buf));

    // The peer goes away: the end of the stream, then sends fail (no crash).
    closesocket(peer);
    ASSERT_GT(spk_sock_wait(s, false, 5000), 0);
    EXPECT_EQ(0, spk_sock_recv(s, buf, sizeof buf));
    long n = 0;
    for (int i = 0; i < 50 && n >= 0; i++) {
        n = spk_sock_send(s, "x", 1);
        Sleep(10);
    }
    EXPECT_EQ(-1, n);
    EXPECT_FALSE(spk_sock_would_block(spk_sock_error()));
    spk_sock_close(s);
}

TEST_F(SocketWin32, RefusedConnectIsReportedBeforeTheDeadline) {
    int port;
    {
        Listener l;   // a port that was free a moment ago and is closed now
        port = l.port;
    }
    SpkNetOptions options;
    options.host = "127.0.0.1";
    options.port = port;
    SpkNetSocket socket(options, std::make_shared<apache::thrift::TConfiguration>());
    int64_t start = spk_monotonic_ms();
    socket.set_deadline_source([start] { return start + 20000; });
    try {
        socket.open();
        FAIL() << "connected to a closed port";
    } catch (const SpkTransportError &e) {
        EXPECT_STREQ("08001", e.sqlstate());
        EXPECT_NE(nullptr, strstr(e.what(), "cannot connect to 127.0.0.1:")) << e.what();
    }
    EXPECT_LT(spk_monotonic_ms() - start, 10000);
    EXPECT_FALSE(socket.isOpen());
}

TEST_F(SocketWin32, SilentServerEndsAtTheDeadlineWithTheTimeoutState) {
    Listener l;
    SpkNetOptions options;
    options.host = "localhost";
    options.port = l.port;
    SpkNetSocket socket(options, std::make_shared<apache::thrift::TConfiguration>());
    int64_t deadline = 0;
    socket.set_deadline_source([&deadline] { return deadline; });
    socket.set_timeout_sqlstate("HYT01");
    socket.open();
    ASSERT_TRUE(socket.isOpen());
    SOCKET peer = accept(l.s, nullptr, nullptr);
    ASSERT_NE(INVALID_SOCKET, peer);

    socket.write((const uint8_t *)"ping", 4);
    char got[8] = {};
    ASSERT_EQ(4, recv(peer, got, sizeof got, 0));
    EXPECT_FALSE(socket.peek());

    int64_t start = spk_monotonic_ms();
    deadline = start + 300;
    uint8_t buf[8];
    try {
        socket.read(buf, sizeof buf);
        FAIL() << "read returned with nothing sent";
    } catch (const SpkTransportError &e) {
        EXPECT_STREQ("HYT01", e.sqlstate());
        EXPECT_EQ(apache::thrift::transport::TTransportException::TIMED_OUT, e.getType());
    }
    int64_t took = spk_monotonic_ms() - start;
    EXPECT_GE(took, 250);
    EXPECT_LT(took, 3000);

    deadline = 0;
    send(peer, "pong", 4, 0);
    Sleep(50);
    EXPECT_TRUE(socket.peek());
    EXPECT_EQ(4u, socket.read(buf, sizeof buf));
    closesocket(peer);
    EXPECT_EQ(0u, socket.read(buf, sizeof buf));
    socket.close();
    EXPECT_FALSE(socket.isOpen());
}

}  // namespace
