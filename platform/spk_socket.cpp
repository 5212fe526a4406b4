// The POSIX half of the socket layer.
#ifndef _WIN32
#include "spk_socket.h"

#include <poll.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

int64_t spk_monotonic_ms() {
    timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

int spk_sock_error() { return errno; }

void spk_sock_clear_error() { errno = 0; }

std::string spk_sock_error_text(int code) {
    char buf[256];
    return std::string(strerror_r(code, buf, sizeof buf));
}

bool spk_sock_would_block(int code) { return code == EAGAIN || code == EWOULDBLOCK; }

bool spk_sock_interrupted(int code) { return code == EINTR; }

spk_socket_t spk_sock_open(int family, int type, int protocol) {
    return socket(family, type | SOCK_CLOEXEC | SOCK_NONBLOCK, protocol);
}

void spk_sock_close(spk_socket_t s) {
    if (s >= 0) ::close(s);
}

int spk_sock_connect(spk_socket_t s, const sockaddr *address, size_t length) {
    if (::connect(s, address, (socklen_t)length) == 0) return 0;
    return errno == EINPROGRESS ? 1 : -1;
}

int spk_sock_connect_result(spk_socket_t s) {
    int e = 0;
    socklen_t len = sizeof e;
    if (getsockopt(s, SOL_SOCKET, SO_ERROR, &e, &len) != 0) e = errno;
    return e;
}

long spk_sock_send(spk_socket_t s, const void *data, size_t length) {
    return (long)send(s, data, length, MSG_NOSIGNAL);
}

long spk_sock_recv(spk_socket_t s, void *data, size_t length) { return (long)recv(s, data, length, 0); }

int spk_sock_wait(spk_socket_t s, bool write, int timeout_ms) {
    pollfd p{s, (short)(write ? POLLOUT : POLLIN), 0};
    return poll(&p, 1, timeout_ms);
}
#endif
