// Non-blocking TCP sockets: the calls whose names, types or error reporting
// differ between POSIX sockets and Winsock.  Everything else (getaddrinfo,
// connect, inet_pton, setsockopt) is called directly with the system's own
// headers, included here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
typedef SOCKET spk_socket_t;
#define SPK_NO_SOCKET INVALID_SOCKET
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/socket.h>
typedef int spk_socket_t;
#define SPK_NO_SOCKET (-1)
#endif

// Milliseconds on the monotonic clock.
int64_t spk_monotonic_ms();

// The socket error of this thread's last socket call (errno, or
// WSAGetLastError), and setting it to none before a call that may leave it
// alone (TLS reads and writes).
int spk_sock_error();
void spk_sock_clear_error();
// The system's words for a socket error code.
std::string spk_sock_error_text(int code);
// The call would block / was interrupted and may be repeated.
bool spk_sock_would_block(int code);
bool spk_sock_interrupted(int code);

// A non-blocking stream socket not inherited by child processes;
// SPK_NO_SOCKET on failure (spk_sock_error tells why).
spk_socket_t spk_sock_open(int family, int type, int protocol);
void spk_sock_close(spk_socket_t s);
// Starts a connect: 0 connected, 1 under way (wait until writable, then ask
// spk_sock_connect_result), -1 failed (spk_sock_error).
int spk_sock_connect(spk_socket_t s, const sockaddr *address, size_t length);
// The outcome of a connect that was under way: 0 or an error code.
int spk_sock_connect_result(spk_socket_t s);
// Sends without raising SIGPIPE; bytes sent, or -1 (spk_sock_error).
long spk_sock_send(spk_socket_t s, const void *data, size_t length);
// Bytes received, 0 at the end of the stream, or -1 (spk_sock_error).
long spk_sock_recv(spk_socket_t s, void *data, size_t length);

// Waits until the socket can be read (write = false) or written, at most
// `timeout_ms` (-1: no limit).  >0 ready (or an error that the next call
// reports), 0 timed out, -1 failed (spk_sock_error).  An interrupted wait
// returns -1 with an error for which spk_sock_interrupted is true.
int spk_sock_wait(spk_socket_t s, bool write, int timeout_ms);
