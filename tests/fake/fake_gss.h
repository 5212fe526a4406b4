// The SASL GSSAPI mechanism for the fake server: the real accept side
// (gss_accept_sec_context with the service's keytab, the wrapped
// security-layer offer, the client's wrapped choice), so a Kerberos logon is
// checked against a real KDC's tickets, not a recording.
//
//   tarn_fake::FakeServer srv;
//   auto gss = tarn_fake::enable_gssapi(srv, {.keytab = env.keytab});
//   ... connect with Authentication=Kerberos ...
//   gss->results()   // who logged on, which layer was chosen
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "fake_server.h"

namespace tarn_fake {

enum class GssFault {
    None,
    HugeToken,     // answer the client's first token with a frame announcing 0xFFFFFFFF bytes
    NoOffer,       // complete the context, then never send the security-layer offer
    Reject,        // answer the first token with BAD "GSS initiate failed"
};

struct GssScript {
    std::string keytab;               // the service's keytab
    int layers = 1;                   // security layers offered: 1 none, 2 integrity, 4 privacy
    uint32_t max_size = 65536;        // largest message the server accepts
    GssFault fault = GssFault::None;
};

// What the server saw of one GSSAPI logon.
struct GssResult {
    bool authenticated = false;
    std::string client;               // the client's principal
    std::string service;              // the principal the client asked for
    uint32_t flags = 0;               // the context's flags on the accept side
    int chosen_layer = -1;            // the client's choice, -1 when it sent none
    uint32_t client_max_size = 0;
    bool reply_confidential = false;  // whether the client's reply was encrypted
    std::string error;                // why the logon failed
};

class GssAcceptor {
  public:
    explicit GssAcceptor(GssScript script) : script_(std::move(script)) {}
    // Runs the exchange after the client's START frame; true when the
    // client is authenticated and SASL_COMPLETE was sent.
    bool serve(int fd);
    std::vector<GssResult> results() const;
    void set_script(GssScript script) {
        std::lock_guard<std::mutex> g(mutex_);
        script_ = std::move(script);
    }

  private:
    GssScript script_;
    mutable std::mutex mutex_;
    std::vector<GssResult> results_;
};

// Makes `server` accept the GSSAPI mechanism with `script`.
std::shared_ptr<GssAcceptor> enable_gssapi(FakeServer &server, GssScript script);

}  // namespace tarn_fake
