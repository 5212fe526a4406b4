// TCP and TLS endpoint with deadline-bounded waits.
#include "spk_net_socket.h"

#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <climits>
#include <cstring>

using apache::thrift::transport::TTransportException;

namespace {

// The queued OpenSSL errors of this thread as one text (the queue is emptied).
std::string openssl_errors() {
    std::string text;
    unsigned long e;
    while ((e = ERR_get_error()) != 0) {
        char buf[256];
        ERR_error_string_n(e, buf, sizeof buf);
        if (!text.empty()) text += "; ";
        text += buf;
    }
    return text;
}

bool is_ip_literal(const std::string &host) {
    unsigned char buf[sizeof(in6_addr)];
    return inet_pton(AF_INET, host.c_str(), buf) == 1 || inet_pton(AF_INET6, host.c_str(), buf) == 1;
}

// The socket BIO: OpenSSL's own would send without MSG_NOSIGNAL, and a peer
// that goes away would then kill the host program with SIGPIPE.
spk_socket_t bio_socket(BIO *b) { return (spk_socket_t)(uintptr_t)BIO_get_data(b); }

int bio_write(BIO *b, const char *data, int len) {
    spk_socket_t fd = bio_socket(b);
    BIO_clear_retry_flags(b);
    for (;;) {
        long n = spk_sock_send(fd, data, (size_t)len);
        if (n >= 0) return (int)n;
        int e = spk_sock_error();
        if (spk_sock_interrupted(e)) continue;
        if (spk_sock_would_block(e)) BIO_set_retry_write(b);
        return -1;
    }
}

int bio_read(BIO *b, char *data, int len) {
    spk_socket_t fd = bio_socket(b);
    BIO_clear_retry_flags(b);
    for (;;) {
        long n = spk_sock_recv(fd, data, (size_t)len);
        if (n >= 0) return (int)n;
        int e = spk_sock_error();
        if (spk_sock_interrupted(e)) continue;
        if (spk_sock_would_block(e)) BIO_set_retry_read(b);
        return -1;
    }
}

long bio_ctrl(BIO *, int cmd, long, void *) { return cmd == BIO_CTRL_FLUSH ? 1 : 0; }

int bio_create(BIO *b) {
    BIO_set_init(b, 1);
    return 1;
}

}  // namespace

SpkNetSocket::SpkNetSocket(SpkNetOptions options, std::shared_ptr<apache::thrift::TConfiguration> config)
    : TVirtualTransport(config), options_(std::move(options)) {}

SpkNetSocket::~SpkNetSocket() { close(); }

void SpkNetSocket::wait_for(bool write, const char *what) {
    for (;;) {
        int64_t wait = -1;
        bool by_deadline = false;
        if (deadline_source_) {
            int64_t deadline = deadline_source_();
            if (deadline > 0) {
                int64_t now = spk_monotonic_ms();
                wait = deadline > now ? deadline - now : 0;
                by_deadline = true;
            }
        }
        if (wait_timeout_ms_ > 0 && (wait < 0 || wait_timeout_ms_ < wait)) {
            wait = wait_timeout_ms_;
            by_deadline = false;
        }
        if (wait == 0)
            throw SpkTransportError(TTransportException::TIMED_OUT, std::string(what) + " timed out",
                                    timeout_sqlstate_);
        int n = spk_sock_wait(fd_, write, wait < 0 ? -1 : (int)(wait > INT_MAX ? INT_MAX : wait));
        if (n > 0) return;   // ready, or an error that the next call reports
        int e = n < 0 ? spk_sock_error() : 0;
        if (n < 0 && spk_sock_interrupted(e)) continue;
        if (n < 0)
            throw SpkTransportError(TTransportException::UNKNOWN,
                                    std::string(what) + ": poll: " + spk_sock_error_text(e), "08S01");
        // A deadline that passed is reported by the next round.
        if (!by_deadline)
            throw SpkTransportError(TTransportException::TIMED_OUT, std::string(what) + " timed out",
                                    timeout_sqlstate_);
    }
}

void SpkNetSocket::connect_tcp() {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_ADDRCONFIG;
    addrinfo *list = nullptr;
    std::string port = std::to_string(options_.port);
    int rc = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &list);
    if (rc != 0) {
        // AI_ADDRCONFIG hides loopback addresses on hosts whose only interface is loopback.
        hints.ai_flags = 0;
        rc = getaddrinfo(options_.host.c_str(), port.c_str(), &hints, &list);
    }
    if (rc != 0)
        throw SpkTransportError(TTransportException::NOT_OPEN,
                                "cannot resolve '" + options_.host + "': " + gai_strerror(rc), "08001");
    std::string last_error = "no address";
    for (addrinfo *a = list; a; a = a->ai_next) {
        spk_socket_t fd = spk_sock_open(a->ai_family, a->ai_socktype, a->ai_protocol);
        if (fd == SPK_NO_SOCKET) {
            last_error = spk_sock_error_text(spk_sock_error());
            continue;
        }
        fd_ = fd;
        int e = 0;
        int started = spk_sock_connect(fd, a->ai_addr, (size_t)a->ai_addrlen);
        if (started < 0) e = spk_sock_error();
        if (started > 0) {
            try {
                wait_for(true, "connect");
            } catch (...) {
                spk_sock_close(fd);
                fd_ = SPK_NO_SOCKET;
                freeaddrinfo(list);
                throw;
            }
            e = spk_sock_connect_result(fd);
        }
        if (e == 0) {
            int one = 1;
            setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, (const char *)&one, sizeof one);
            freeaddrinfo(list);
            return;
        }
        last_error = spk_sock_error_text(e);
        spk_sock_close(fd);
        fd_ = SPK_NO_SOCKET;
    }
    freeaddrinfo(list);
    throw SpkTransportError(TTransportException::NOT_OPEN,
                            "cannot connect to " + options_.host + ":" + port + ": " + last_error, "08001");
}

void SpkNetSocket::open() {
    if (fd_ != SPK_NO_SOCKET) return;
    connect_tcp();
    if (!options_.tls) return;
    try {
        handshake();
    } catch (...) {
        close();
        throw;
    }
}

void SpkNetSocket::fail_tls(const char *what, int ssl_result) {
    int kind = ssl_ ? SSL_get_error(ssl_, ssl_result) : SSL_ERROR_SSL;
    int saved_errno = spk_sock_error();
    std::string detail = openssl_errors();
    if (kind == SSL_ERROR_ZERO_RETURN || (kind == SSL_ERROR_SYSCALL && detail.empty() && saved_errno == 0) ||
        (kind == SSL_ERROR_SSL && detail.find("unexpected eof") != std::string::npos))
        detail = "the server closed the connection";
    else if (kind == SSL_ERROR_SYSCALL && detail.empty())
        detail = spk_sock_error_text(saved_errno);
    throw SpkTransportError(TTransportException::UNKNOWN, std::string(what) + ": " + detail, "08S01");
}

void SpkNetSocket::handshake() {
    ERR_clear_error();
    ctx_ = SSL_CTX_new(TLS_client_method());
    if (!ctx_)
        throw SpkTransportError(TTransportException::NOT_OPEN, "cannot make a TLS context: " + openssl_errors(),
                                "08001");
    SSL_CTX_set_min_proto_version(ctx_, TLS1_2_VERSION);
    SSL_CTX_set_mode(ctx_, SSL_MODE_ACCEPT_MOVING_WRITE_BUFFER);
    if (!options_.trust_server_certificate) {
        if (!options_.ca_file.empty()) {
            if (SSL_CTX_load_verify_locations(ctx_, options_.ca_file.c_str(), nullptr) != 1)
                throw SpkTransportError(TTransportException::NOT_OPEN,
                                        "cannot load the certificate file '" + options_.ca_file +
                                            "': " + openssl_errors(),
                                        "08001");
        } else if (SSL_CTX_set_default_verify_paths(ctx_) != 1) {
            throw SpkTransportError(TTransportException::NOT_OPEN,
                                    "cannot load the system trust store: " + openssl_errors(), "08001");
        }
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_PEER, nullptr);
    } else {
        SSL_CTX_set_verify(ctx_, SSL_VERIFY_NONE, nullptr);
    }

    ssl_ = SSL_new(ctx_);
    bio_method_ = BIO_meth_new(BIO_TYPE_SOURCE_SINK, "tarndrv socket");
    if (!ssl_ || !bio_method_)
        throw SpkTransportError(TTransportException::NOT_OPEN, "cannot make a TLS session: " + openssl_errors(),
                                "08001");
    BIO_meth_set_write(bio_method_, bio_write);
    BIO_meth_set_read(bio_method_, bio_read);
    BIO_meth_set_ctrl(bio_method_, bio_ctrl);
    BIO_meth_set_create(bio_method_, bio_create);
    BIO *bio = BIO_new(bio_method_);
    if (!bio)
        throw SpkTransportError(TTransportException::NOT_OPEN, "cannot make a TLS session: " + openssl_errors(),
                                "08001");
    BIO_set_data(bio, (void *)(uintptr_t)fd_);
    SSL_set_bio(ssl_, bio, bio);

    bool ip = is_ip_literal(options_.host);
    if (!ip) SSL_set_tlsext_host_name(ssl_, options_.host.c_str());
    if (!options_.trust_server_certificate) {
        X509_VERIFY_PARAM *param = SSL_get0_param(ssl_);
        X509_VERIFY_PARAM_set_hostflags(param, X509_CHECK_FLAG_NO_PARTIAL_WILDCARDS);
        int ok = ip ? X509_VERIFY_PARAM_set1_ip_asc(param, options_.host.c_str())
                    : X509_VERIFY_PARAM_set1_host(param, options_.host.c_str(), 0);
        if (ok != 1)
            throw SpkTransportError(TTransportException::NOT_OPEN,
                                    "cannot set the host name to verify: " + openssl_errors(), "08001");
    }

    for (;;) {
        ERR_clear_error();
        spk_sock_clear_error();
        int r = SSL_connect(ssl_);
        if (r == 1) break;
        int kind = SSL_get_error(ssl_, r);
        if (kind == SSL_ERROR_WANT_READ) {
            wait_for(false, "TLS handshake");
            continue;
        }
        if (kind == SSL_ERROR_WANT_WRITE) {
            wait_for(true, "TLS handshake");
            continue;
        }
        long verify = SSL_get_verify_result(ssl_);
        if (verify != X509_V_OK) {
            ERR_clear_error();
            std::string text = std::string("The certificate verification failed: ") +
                               X509_verify_cert_error_string(verify) + " (" + std::to_string(verify) + ")";
            if (verify == X509_V_ERR_HOSTNAME_MISMATCH || verify == X509_V_ERR_IP_ADDRESS_MISMATCH)
                text += ": the server's certificate does not name '" + options_.host + "'";
            else
                text += ": the server's certificate is not signed by a trusted authority "
                        "(name its CA in CertificateFile, or set TrustServerCertificate)";
            throw SpkTransportError(TTransportException::NOT_OPEN, text, "08001");
        }
        try {
            fail_tls("TLS handshake failed", r);
        } catch (SpkTransportError &e) {
            throw SpkTransportError(TTransportException::NOT_OPEN, e.what(), "08001");
        }
    }
}

uint32_t SpkNetSocket::read(uint8_t *buf, uint32_t len) {
    if (fd_ == SPK_NO_SOCKET)
        throw SpkTransportError(TTransportException::NOT_OPEN, "read on a closed connection", "08S01");
    if (len == 0) return 0;
    int chunk = len > INT_MAX ? INT_MAX : (int)len;
    if (!ssl_) {
        for (;;) {
            long n = spk_sock_recv(fd_, buf, (size_t)chunk);
            if (n >= 0) return (uint32_t)n;
            int e = spk_sock_error();
            if (spk_sock_interrupted(e)) continue;
            if (spk_sock_would_block(e)) {
                wait_for(false, "receive");
                continue;
            }
            throw SpkTransportError(TTransportException::UNKNOWN, "receive: " + spk_sock_error_text(e), "08S01");
        }
    }
    for (;;) {
        ERR_clear_error();
        spk_sock_clear_error();
        int n = SSL_read(ssl_, buf, chunk);
        if (n > 0) return (uint32_t)n;
        int kind = SSL_get_error(ssl_, n);
        if (kind == SSL_ERROR_WANT_READ) {
            wait_for(false, "receive");
            continue;
        }
        if (kind == SSL_ERROR_WANT_WRITE) {
            wait_for(true, "receive");
            continue;
        }
        if (kind == SSL_ERROR_ZERO_RETURN) return 0;
        fail_tls("receive", n);
    }
}

void SpkNetSocket::write(const uint8_t *buf, uint32_t len) {
    if (fd_ == SPK_NO_SOCKET)
        throw SpkTransportError(TTransportException::NOT_OPEN, "send on a closed connection", "08S01");
    uint32_t done = 0;
    while (done < len) {
        uint32_t left = len - done;
        int chunk = left > INT_MAX ? INT_MAX : (int)left;
        if (!ssl_) {
            long n = spk_sock_send(fd_, buf + done, (size_t)chunk);
            if (n >= 0) {
                done += (uint32_t)n;
                continue;
            }
            int e = spk_sock_error();
            if (spk_sock_interrupted(e)) continue;
            if (spk_sock_would_block(e)) {
                wait_for(true, "send");
                continue;
            }
            throw SpkTransportError(TTransportException::UNKNOWN, "send: " + spk_sock_error_text(e), "08S01");
        }
        ERR_clear_error();
        spk_sock_clear_error();
        int n = SSL_write(ssl_, buf + done, chunk);
        if (n > 0) {
            done += (uint32_t)n;
            continue;
        }
        int kind = SSL_get_error(ssl_, n);
        if (kind == SSL_ERROR_WANT_WRITE) {
            wait_for(true, "send");
            continue;
        }
        if (kind == SSL_ERROR_WANT_READ) {
            wait_for(false, "send");
            continue;
        }
        fail_tls("send", n);
    }
}

bool SpkNetSocket::peek() {
    if (fd_ == SPK_NO_SOCKET) return false;
    if (ssl_ && SSL_pending(ssl_) > 0) return true;
    return spk_sock_wait(fd_, false, 0) > 0;
}

void SpkNetSocket::free_tls() {
    if (ssl_) {
        // One close_notify, without waiting for the peer's.
        ERR_clear_error();
        SSL_shutdown(ssl_);
        SSL_free(ssl_);   // frees the BIO too
        ssl_ = nullptr;
    }
    if (bio_method_) {
        BIO_meth_free(bio_method_);
        bio_method_ = nullptr;
    }
    if (ctx_) {
        SSL_CTX_free(ctx_);
        ctx_ = nullptr;
    }
    ERR_clear_error();
}

void SpkNetSocket::close() {
    free_tls();
    if (fd_ != SPK_NO_SOCKET) {
        spk_sock_close(fd_);
        fd_ = SPK_NO_SOCKET;
    }
}
