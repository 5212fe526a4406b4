// Thrift over HTTP/1.1: every message the client writes is collected and
// sent, on flush, as the body of one POST request; the reply's body is the
// stream the next message is read from.
//
// - The connection is kept alive between requests and opened again when the
//   server closes it (Connection: close, or a body that ends at the close).
// - Replies may have a Content-Length or a chunked body (trailers are read);
//   every length from the server is checked against the largest message the
//   connection accepts before anything is allocated, and a body cut short is
//   an error, never a short message.
// - Authorisation is Basic (user and password) or Bearer (a token).  The
//   session cookie the server sets is sent back instead of the credentials;
//   when the server no longer accepts it (401) the request is sent once more
//   with the credentials.
// - User, password, token and path must not contain CR, LF or NUL (the path
//   no blank or control character either): open() refuses them before any
//   byte goes out.
// - Traces show "***" for the credentials and the cookies.
#pragma once

#include <thrift/TConfiguration.h>
#include <thrift/transport/TVirtualTransport.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "spk_net_socket.h"

struct SpkConnection;

struct SpkHttpOptions {
    std::string path;          // the request path, with or without its leading slash; empty: "cliservice"
    bool bearer = false;       // Bearer `token` instead of Basic `user`:`password`
    std::string user;
    std::string password;
    std::string token;
    SpkConnection *conn = nullptr;   // whose trace receives this transport's records; may be null
};

class SpkHttpTransport : public apache::thrift::transport::TVirtualTransport<SpkHttpTransport> {
public:
    SpkHttpTransport(std::shared_ptr<SpkNetSocket> socket, SpkHttpOptions options,
                     std::shared_ptr<apache::thrift::TConfiguration> config);

    bool isOpen() const override { return socket_->isOpen(); }
    bool peek() override { return body_pos_ < body_.size(); }
    void open() override;
    void close() override { socket_->close(); }
    uint32_t read(uint8_t *buf, uint32_t len);
    void write(const uint8_t *buf, uint32_t len) { request_body_.append((const char *)buf, len); }
    void flush() override;

    // What the last request carried and got, for the curious (and the tests).
    int last_status() const { return status_; }
    int credential_requests() const { return credential_requests_; }
    int requests() const { return requests_; }
    const std::string &session_tag() const { return session_tag_; }

private:
    void send_request(bool with_credentials);
    void read_response();
    void fill(const char *eof_text);
    std::string read_line(size_t max, const char *what);
    void read_exact(std::string *dst, uint64_t n);
    void read_chunked(uint64_t limit);
    void take_header(const std::string &line, uint64_t *length, bool *has_length);

    std::shared_ptr<SpkNetSocket> socket_;
    SpkHttpOptions options_;
    std::string path_;              // starts with exactly one slash
    std::string host_header_;
    std::string authorization_;     // "Basic ..." or "Bearer ..."
    std::string session_tag_;
    std::map<std::string, std::string> cookies_;

    std::string request_body_;      // the message being collected
    std::string sent_body_;         // the last request's body, for a retry
    bool response_pending_ = false;
    bool reopen_ = false;           // the server closed (or will close) the connection
    bool sent_cookie_ = false;      // the last request authenticated with the session cookie

    std::string in_;                // bytes received and not yet used
    size_t in_pos_ = 0;

    int status_ = 0;
    std::string reason_;
    bool chunked_ = false;
    bool close_after_ = false;
    std::string body_;
    size_t body_pos_ = 0;

    int requests_ = 0;
    int credential_requests_ = 0;
};
