// The TLS and HTTP endpoint on Windows.  The POSIX endpoint
// (thrift/transport/spk_net_socket.cpp) has no Winsock counterpart yet: the
// Windows build refuses these transports with a clear text, and the plain
// Thrift socket (SASL and NOSASL connections) works as everywhere.
#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>

#include "transport/spk_net_socket.h"

using apache::thrift::transport::TTransportException;

int64_t spk_monotonic_ms() { return (int64_t)GetTickCount64(); }

SpkNetSocket::SpkNetSocket(SpkNetOptions options, std::shared_ptr<apache::thrift::TConfiguration> config)
    : TVirtualTransport(config), options_(std::move(options)) {}

SpkNetSocket::~SpkNetSocket() { close(); }

void SpkNetSocket::open() {
    throw SpkTransportError(TTransportException::NOT_OPEN,
                            std::string(options_.tls ? "TLS" : "the HTTP transport") +
                                " is not supported by the Windows build of this driver",
                            "08001");
}

void SpkNetSocket::close() { fd_ = -1; }

bool SpkNetSocket::peek() { return false; }

uint32_t SpkNetSocket::read(uint8_t *, uint32_t) {
    throw SpkTransportError(TTransportException::NOT_OPEN, "read on a closed connection", "08S01");
}

void SpkNetSocket::write(const uint8_t *, uint32_t) {
    throw SpkTransportError(TTransportException::NOT_OPEN, "send on a closed connection", "08S01");
}
#endif
