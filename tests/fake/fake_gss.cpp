// The accept side of the SASL GSSAPI mechanism (RFC 4752) for the fake
// server, over the real GSS-API library and the service's keytab.
#include "fake_gss.h"

#include <gssapi/gssapi.h>
#include <gssapi/gssapi_ext.h>
#include <gssapi/gssapi_krb5.h>
#include <sys/socket.h>

namespace tarn_fake {

namespace {

const uint32_t kMaxFrame = 1u << 20;

bool read_frame(int fd, int *status, std::string *payload) {
    std::string header;
    if (!read_exact(fd, 5, &header)) return false;
    *status = (unsigned char)header[0];
    uint32_t len = ((uint32_t)(unsigned char)header[1] << 24) | ((uint32_t)(unsigned char)header[2] << 16) |
                   ((uint32_t)(unsigned char)header[3] << 8) | (uint32_t)(unsigned char)header[4];
    payload->clear();
    return len <= kMaxFrame && read_exact(fd, len, payload);
}

std::string status_text(OM_uint32 major, OM_uint32 minor) {
    std::string out;
    for (int type : {GSS_C_GSS_CODE, GSS_C_MECH_CODE}) {
        OM_uint32 code = type == GSS_C_GSS_CODE ? major : minor, context = 0, m = 0;
        do {
            gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
            if (GSS_ERROR(gss_display_status(&m, code, type, GSS_C_NO_OID, &context, &text))) break;
            if (!out.empty()) out += "; ";
            out.append((const char *)text.value, text.length);
            gss_release_buffer(&m, &text);
        } while (context);
    }
    return out;
}

std::string name_of(gss_name_t name) {
    OM_uint32 minor = 0;
    gss_buffer_desc text = GSS_C_EMPTY_BUFFER;
    if (GSS_ERROR(gss_display_name(&minor, name, &text, nullptr))) return "?";
    std::string out((const char *)text.value, text.length);
    gss_release_buffer(&minor, &text);
    return out;
}

// Everything one connection holds from the library.
struct Session {
    gss_cred_id_t cred = GSS_C_NO_CREDENTIAL;
    gss_ctx_id_t ctx = GSS_C_NO_CONTEXT;
    gss_name_t client = GSS_C_NO_NAME;
    ~Session() {
        OM_uint32 minor = 0;
        if (ctx != GSS_C_NO_CONTEXT) gss_delete_sec_context(&minor, &ctx, GSS_C_NO_BUFFER);
        if (cred != GSS_C_NO_CREDENTIAL) gss_release_cred(&minor, &cred);
        if (client != GSS_C_NO_NAME) gss_release_name(&minor, &client);
    }
};

}  // namespace

std::vector<GssResult> GssAcceptor::results() const {
    std::lock_guard<std::mutex> g(mutex_);
    return results_;
}

bool GssAcceptor::serve(int fd) {
    GssScript script;
    {
        std::lock_guard<std::mutex> g(mutex_);
        script = script_;
    }
    GssResult result;
    Session s;
    auto finish = [&](bool ok, const std::string &error) {
        result.authenticated = ok;
        result.error = error;
        std::lock_guard<std::mutex> g(mutex_);
        results_.push_back(result);
        return ok;
    };
    auto refuse = [&](const std::string &error) {
        send_all(fd, sasl_frame(3, error));
        return finish(false, error);
    };

    OM_uint32 major, minor = 0;
    gss_key_value_element_desc element = {"keytab", script.keytab.c_str()};
    gss_key_value_set_desc store = {1, &element};
    major = gss_acquire_cred_from(&minor, GSS_C_NO_NAME, GSS_C_INDEFINITE, GSS_C_NO_OID_SET, GSS_C_ACCEPT, &store,
                                  &s.cred, nullptr, nullptr);
    if (GSS_ERROR(major)) return refuse("server credentials: " + status_text(major, minor));

    int status = 0;
    std::string token;
    if (!read_frame(fd, &status, &token)) return finish(false, "no first token");
    if (script.fault == GssFault::HugeToken) {
        send_all(fd, std::string(1, (char)2) + be32(0xFFFFFFFFu));
        return finish(false, "sent a huge length");
    }
    if (script.fault == GssFault::Reject) return refuse("GSS initiate failed");

    // Context tokens until the context is established; the server's last
    // token (empty without mutual authentication) is answered by the client.
    for (;;) {
        gss_buffer_desc in = {token.size(), (void *)token.data()};
        gss_buffer_desc out = GSS_C_EMPTY_BUFFER;
        OM_uint32 flags = 0;
        major = gss_accept_sec_context(&minor, &s.ctx, s.cred, &in, GSS_C_NO_CHANNEL_BINDINGS, &s.client, nullptr,
                                       &out, &flags, nullptr, nullptr);
        std::string reply((const char *)out.value, out.length);
        OM_uint32 ignored = 0;
        gss_release_buffer(&ignored, &out);
        if (GSS_ERROR(major)) return refuse("GSS initiate failed: " + status_text(major, minor));
        if (!send_all(fd, sasl_frame(2, reply))) return finish(false, "client went away");
        if (!read_frame(fd, &status, &token) || status != 2) return finish(false, "no client token");
        if (!(major & GSS_S_CONTINUE_NEEDED)) {
            result.flags = flags;
            break;
        }
    }
    result.client = name_of(s.client);
    {
        gss_name_t target = GSS_C_NO_NAME;
        if (!GSS_ERROR(gss_inquire_context(&minor, s.ctx, nullptr, &target, nullptr, nullptr, nullptr, nullptr,
                                           nullptr))) {
            result.service = name_of(target);
            gss_release_name(&minor, &target);
        }
    }
    if (!token.empty()) return refuse("the client's last context token is not empty");

    if (script.fault == GssFault::NoOffer) {
        // Wait for the client to give up.
        std::string rest;
        while (read_exact(fd, 1, &rest)) rest.clear();
        return finish(false, "sent no security-layer offer");
    }

    unsigned char offer[4] = {(unsigned char)script.layers, (unsigned char)(script.max_size >> 16),
                              (unsigned char)(script.max_size >> 8), (unsigned char)script.max_size};
    gss_buffer_desc plain = {sizeof offer, offer};
    gss_buffer_desc wrapped = GSS_C_EMPTY_BUFFER;
    major = gss_wrap(&minor, s.ctx, 0, GSS_C_QOP_DEFAULT, &plain, nullptr, &wrapped);
    if (GSS_ERROR(major)) return refuse("gss_wrap: " + status_text(major, minor));
    std::string offer_frame = sasl_frame(2, std::string((const char *)wrapped.value, wrapped.length));
    gss_release_buffer(&minor, &wrapped);
    if (!send_all(fd, offer_frame)) return finish(false, "client went away");

    if (!read_frame(fd, &status, &token)) return finish(false, "no security-layer choice");
    gss_buffer_desc in = {token.size(), (void *)token.data()};
    gss_buffer_desc choice = GSS_C_EMPTY_BUFFER;
    int conf = 0;
    major = gss_unwrap(&minor, s.ctx, &in, &choice, &conf, nullptr);
    if (GSS_ERROR(major)) return refuse("gss_unwrap: " + status_text(major, minor));
    std::string chosen((const char *)choice.value, choice.length);
    gss_release_buffer(&minor, &choice);
    result.reply_confidential = conf != 0;
    if (chosen.size() < 4) return refuse("the security-layer choice is too short");
    result.chosen_layer = (unsigned char)chosen[0];
    result.client_max_size = ((uint32_t)(unsigned char)chosen[1] << 16) | ((uint32_t)(unsigned char)chosen[2] << 8) |
                             (uint32_t)(unsigned char)chosen[3];
    if (!(result.chosen_layer & script.layers) || (result.chosen_layer & (result.chosen_layer - 1)))
        return refuse("the client chose a security layer that was not offered");
    send_all(fd, sasl_frame(5, ""));
    return finish(true, "");
}

std::shared_ptr<GssAcceptor> enable_gssapi(FakeServer &server, GssScript script) {
    auto acceptor = std::make_shared<GssAcceptor>(std::move(script));
    server.sasl().gssapi = [acceptor](int fd) { return acceptor->serve(fd); };
    return acceptor;
}

}  // namespace tarn_fake
