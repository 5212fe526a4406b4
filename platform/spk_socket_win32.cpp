// The Winsock half of the socket layer.
#ifdef _WIN32
#include "spk_socket.h"

#include <windows.h>

#include <climits>
#include <cstdio>

int64_t spk_monotonic_ms() { return (int64_t)GetTickCount64(); }

int spk_sock_error() { return WSAGetLastError(); }

void spk_sock_clear_error() { WSASetLastError(0); }

std::string spk_sock_error_text(int code) {
    char text[256] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, (DWORD)code,
                             MAKELANGID(LANG_NEUTRAL, SUBLANG_DEFAULT), text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ' || text[n - 1] == '.'))
        text[--n] = '\0';
    char number[32];
    snprintf(number, sizeof number, "error %d", code);
    return n ? std::string(text) + " (" + number + ")" : std::string(number);
}

bool spk_sock_would_block(int code) { return code == WSAEWOULDBLOCK; }

bool spk_sock_interrupted(int code) { return code == WSAEINTR; }

spk_socket_t spk_sock_open(int family, int type, int protocol) {
    SOCKET s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED | WSA_FLAG_NO_HANDLE_INHERIT);
    if (s == INVALID_SOCKET && WSAGetLastError() == WSAEINVAL) {
        // Windows 7 before SP1 knows no WSA_FLAG_NO_HANDLE_INHERIT.
        s = WSASocketW(family, type, protocol, nullptr, 0, WSA_FLAG_OVERLAPPED);
        if (s != INVALID_SOCKET) SetHandleInformation((HANDLE)s, HANDLE_FLAG_INHERIT, 0);
    }
    if (s == INVALID_SOCKET) return s;
    u_long one = 1;
    if (ioctlsocket(s, FIONBIO, &one) != 0) {
        int e = WSAGetLastError();
        closesocket(s);
        WSASetLastError(e);
        return INVALID_SOCKET;
    }
    return s;
}

void spk_sock_close(spk_socket_t s) {
    if (s != INVALID_SOCKET) closesocket(s);
}

int spk_sock_connect(spk_socket_t s, const sockaddr *address, size_t length) {
    if (::connect(s, address, (int)length) == 0) return 0;
    int e = WSAGetLastError();
    return e == WSAEWOULDBLOCK || e == WSAEINPROGRESS ? 1 : -1;
}

int spk_sock_connect_result(spk_socket_t s) {
    int e = 0;
    int len = sizeof e;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, (char *)&e, &len) != 0) e = WSAGetLastError();
    return e;
}

// Winsock raises no signal: a plain send.
long spk_sock_send(spk_socket_t s, const void *data, size_t length) {
    return send(s, (const char *)data, length > INT_MAX ? INT_MAX : (int)length, 0);
}

long spk_sock_recv(spk_socket_t s, void *data, size_t length) {
    return recv(s, (char *)data, length > INT_MAX ? INT_MAX : (int)length, 0);
}

// select() rather than WSAPoll(): WSAPoll of Windows 10 before version 2004
// never reports a refused connect, which would then wait out the whole
// deadline.  A failed connect shows in the exception set.
int spk_sock_wait(spk_socket_t s, bool write, int timeout_ms) {
    fd_set ready, failed;
    FD_ZERO(&ready);
    FD_ZERO(&failed);
    FD_SET(s, &ready);
    FD_SET(s, &failed);
    timeval tv{timeout_ms / 1000, (timeout_ms % 1000) * 1000};
    int n = select(0, write ? nullptr : &ready, write ? &ready : nullptr, &failed, timeout_ms < 0 ? nullptr : &tv);
    return n == SOCKET_ERROR ? -1 : n;
}
#endif
