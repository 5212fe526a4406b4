// The endpoint of the TLS and HTTP transports: a TCP connection, optionally
// inside TLS (OpenSSL 3, TLS 1.2 or later), whose every wait is a poll()
// (select() under Winsock) bounded by the connection's deadline.
//
// - The socket is non-blocking; connect, the handshake, reads and writes
//   poll until the data moves, the per-wait timeout passes or the deadline
//   of the current call passes (SpkTransportError, HYT00/HYT01 style text).
// - Sends never raise SIGPIPE (MSG_NOSIGNAL, also under TLS through the
//   socket's own BIO).
// - The calls that differ between POSIX sockets and Winsock are those of
//   platform/spk_socket.h.
// - The server's certificate is verified against `ca_file`, or against the
//   system trust store (OpenSSL's default paths, which honour SSL_CERT_FILE
//   and SSL_CERT_DIR) when no file is given, and its name must match the host
//   connected to (DNS name or IP address); SNI is sent for host names.
//   `trust_server_certificate` skips both checks.
// - Everything OpenSSL needs lives in this object: no process-wide set-up.
#pragma once

#include <thrift/TConfiguration.h>
#include <thrift/transport/TTransportException.h>
#include <thrift/transport/TVirtualTransport.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "spk_socket.h"

typedef struct ssl_ctx_st SSL_CTX;
typedef struct ssl_st SSL;
typedef struct bio_method_st BIO_METHOD;

// A transport failure that carries the SQLSTATE it should be reported with.
class SpkTransportError : public apache::thrift::transport::TTransportException {
public:
    SpkTransportError(TTransportExceptionType type, const std::string &message, const char *sqlstate)
        : TTransportException(type, message), sqlstate_(sqlstate) {}
    const char *sqlstate() const { return sqlstate_; }

private:
    const char *sqlstate_;
};

struct SpkNetOptions {
    std::string host;
    int port = 0;
    bool tls = false;
    std::string ca_file;                    // empty: the system trust store
    bool trust_server_certificate = false;  // no chain and no name check
};

class SpkNetSocket : public apache::thrift::transport::TVirtualTransport<SpkNetSocket> {
public:
    SpkNetSocket(SpkNetOptions options, std::shared_ptr<apache::thrift::TConfiguration> config);
    ~SpkNetSocket() override;

    // The absolute time (spk_monotonic_ms) by which the current call must
    // end, or 0 for none; asked before every wait.
    void set_deadline_source(std::function<int64_t()> source) { deadline_source_ = std::move(source); }
    // The longest one wait may take (0: no limit besides the deadline).
    void set_wait_timeout_ms(int ms) { wait_timeout_ms_ = ms; }
    // The SQLSTATE of a timeout: HYT00 while logging in, HYT01 afterwards.
    void set_timeout_sqlstate(const char *sqlstate) { timeout_sqlstate_ = sqlstate; }

    bool isOpen() const override { return fd_ != SPK_NO_SOCKET; }
    bool peek() override;
    void open() override;
    void close() override;
    // Some bytes (at most len), or 0 when the peer closed the connection.
    uint32_t read(uint8_t *buf, uint32_t len);
    void write(const uint8_t *buf, uint32_t len);
    void flush() override {}

    const SpkNetOptions &options() const { return options_; }

private:
    // Waits until fd_ can be written (or read); throws on timeout or error.
    void wait_for(bool write, const char *what);
    void connect_tcp();
    void handshake();
    [[noreturn]] void fail_tls(const char *what, int ssl_result);
    void free_tls();

    SpkNetOptions options_;
    spk_socket_t fd_ = SPK_NO_SOCKET;
    SSL_CTX *ctx_ = nullptr;
    SSL *ssl_ = nullptr;
    BIO_METHOD *bio_method_ = nullptr;
    std::function<int64_t()> deadline_source_;
    int wait_timeout_ms_ = 0;
    const char *timeout_sqlstate_ = "HYT00";
};
