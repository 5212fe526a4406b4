// The SSPI security provider: the AD logon through the platform's integrated
// security, where the platform has it (see platform/spk_sspi.h).
#include <string>

#include "spk_err.h"
#include "spk_krb.h"
#include "spk_log.h"
#include "spk_sspi.h"

namespace {

SpkSspiContext *context_of(SpkConnection *conn) {
    return conn->krb_context ? static_cast<SpkSspiContext *>(conn->krb_context->state) : nullptr;
}

int post_status(SpkConnection *conn, const char *format, int32_t status) {
    const char *name = spk_sspi_status_name(status);
    SPK_LOG(conn, LOG_ERROR, format, (int)status, name);
    spk_post_error(conn, "08001", status, format, (int)status, name);
    return -1;
}

int sspi_start(SpkConnection *conn, const SpkKrbRequest &request, std::string *token, bool *complete) {
    std::string user, domain;
    if (request.explicit_user) {
        // user@REALM: SSPI takes the realm as the domain.
        size_t at = request.user.rfind('@');
        user = request.user.substr(0, at);
        if (at != std::string::npos) domain = request.user.substr(at + 1);
        SPK_LOG(conn, LOG_DETAIL, "Acquire credentials handle with given credentials");
    } else {
        SPK_LOG(conn, LOG_DETAIL, "Using integrated authentication");
    }
    SPK_LOG(conn, LOG_DETAIL, "Attempting to Acquire credentials with mech=%s, principal=%s", "Kerberos",
            request.principal.c_str());
    SpkSspiContext *ctx = nullptr;
    const char *failed_call = "InitializeSecurityContext";
    int32_t status = spk_sspi_start(request.principal.c_str(), request.explicit_user ? user.c_str() : nullptr,
                                    domain.c_str(), request.password.c_str(), request.flags, &ctx, token, &failed_call);
    conn->krb_context->state = ctx;
    SPK_LOG(conn, LOG_DETAIL, "called %s ( %d, %s )", failed_call, (int)status, spk_sspi_status_name(status));
    if (status != SPK_SSPI_OK && status != SPK_SSPI_CONTINUE_NEEDED) {
        std::string format = std::string("Krb5: ") + failed_call + " failed with %d, %s";
        return post_status(conn, format.c_str(), status);
    }
    *complete = status == SPK_SSPI_OK;
    return 0;
}

int sspi_step(SpkConnection *conn, const std::string &input, std::string *token, bool *complete) {
    SPK_LOG(conn, LOG_DETAIL, "decode_auth_token: packet length=%d", (int)input.size());
    int32_t status = spk_sspi_step(context_of(conn), input.data(), input.size(), token);
    SPK_LOG(conn, LOG_DETAIL, "Initialized auth: %d, %s", (int)status, spk_sspi_status_name(status));
    if (status != SPK_SSPI_OK && status != SPK_SSPI_CONTINUE_NEEDED)
        return post_status(conn, "Krb5: Initialize auth failed with %d, %s", status);
    *complete = status == SPK_SSPI_OK;
    return 0;
}

int sspi_check(SpkConnection *conn) {
    if (spk_sspi_mutual(context_of(conn))) return 0;
    spk_post_error(conn, "08001", 0,
                   "Krb5: the server did not prove its identity: mutual authentication was requested but the "
                   "context lacks it");
    return -1;
}

int sspi_unwrap(SpkConnection *conn, const std::string &input, std::string *output) {
    SPK_LOG_DATA(conn, LOG_PKTDUMP, input.data(), input.size(), "Accept Cred");
    uint32_t qop = 0;
    int32_t status = spk_sspi_unwrap(context_of(conn), input.data(), input.size(), output, &qop);
    if (status != SPK_SSPI_OK) return post_status(conn, "Krb5: DecryptMessage failed with %d (%s)", status);
    SPK_LOG_DATA(conn, LOG_PKTDUMP, output->data(), output->size(), "UnWrap");
    return 0;
}

int sspi_wrap(SpkConnection *conn, const std::string &input, std::string *output) {
    int32_t status = spk_sspi_wrap(context_of(conn), input.data(), input.size(), output);
    if (status != SPK_SSPI_OK) return post_status(conn, "Krb5: EncryptMessage failed with %d (%s)", status);
    SPK_LOG_DATA(conn, LOG_PKTDUMP, output->data(), output->size(), "Wrap");
    return 0;
}

void sspi_release(SpkConnection *conn) {
    SpkSspiContext *ctx = context_of(conn);
    conn->krb_context->state = nullptr;
    spk_sspi_release(ctx);
}

}  // namespace

const SpkKrbProvider spk_sspi_provider = {
    "SSPI", sspi_start, sspi_step, sspi_check, sspi_unwrap, sspi_wrap, sspi_release,
};
