// The platform's integrated security on Windows: SSPI (Secur32) with the
// security package "Kerberos".
// Built once the SSPI interface header is present.
#if defined(_WIN32) && __has_include("spk_sspi.h")
#define SECURITY_WIN32
#include <winsock2.h>
#include <windows.h>
#include <security.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "spk_sspi.h"

struct SpkSspiContext {
    CredHandle credentials;
    CtxtHandle context;
    bool have_credentials = false;
    bool have_context = false;
    ULONG request = 0;
    ULONG attributes = 0;
    std::string target;   // the service principal, named in every round
};

namespace {

// RFC 2744 request flags.
enum : uint32_t {
    GSS_MUTUAL = 2,
    GSS_REPLAY = 4,
    GSS_SEQUENCE = 8,
    GSS_CONF = 16,
    GSS_INTEG = 32,
};

ULONG request_of(uint32_t gss_flags) {
    // Tokens go to a buffer of the driver's own (Wine's Kerberos package
    // knows no ISC_REQ_ALLOCATE_MEMORY).
    ULONG r = 0;
    if (gss_flags & GSS_MUTUAL) r |= ISC_REQ_MUTUAL_AUTH;
    if (gss_flags & GSS_REPLAY) r |= ISC_REQ_REPLAY_DETECT;
    if (gss_flags & GSS_SEQUENCE) r |= ISC_REQ_SEQUENCE_DETECT;
    if (gss_flags & GSS_CONF) r |= ISC_REQ_CONFIDENTIALITY;
    if (gss_flags & GSS_INTEG) r |= ISC_REQ_INTEGRITY;
    return r;
}

// The largest token of the Kerberos package.
unsigned long max_token_size() {
    PSecPkgInfoA info = nullptr;
    unsigned long size = 48256;   // Windows' own figure for Kerberos
    if (QuerySecurityPackageInfoA(const_cast<char *>("Kerberos"), &info) == SEC_E_OK && info) {
        if (info->cbMaxToken > 0) size = info->cbMaxToken;
        FreeContextBuffer(info);
    }
    return size;
}

// One InitializeSecurityContext round: the token it makes goes to *token.
int32_t initialize(SpkSspiContext *c, const void *input, size_t length, std::string *token) {
    SecBuffer in_buf = {(unsigned long)length, SECBUFFER_TOKEN, const_cast<void *>(input)};
    SecBufferDesc in_desc = {SECBUFFER_VERSION, 1, &in_buf};
    std::vector<char> out(max_token_size());
    SecBuffer out_buf = {(unsigned long)out.size(), SECBUFFER_TOKEN, out.data()};
    SecBufferDesc out_desc = {SECBUFFER_VERSION, 1, &out_buf};
    SECURITY_STATUS st = InitializeSecurityContextA(
        &c->credentials, c->have_context ? &c->context : nullptr, c->target.data(), c->request, 0,
        SECURITY_NATIVE_DREP, input ? &in_desc : nullptr, 0, &c->context, &out_desc, &c->attributes, nullptr);
    if (st == SEC_E_OK || st == SEC_I_CONTINUE_NEEDED) c->have_context = true;
    token->clear();
    if ((st == SEC_E_OK || st == SEC_I_CONTINUE_NEEDED) && out_buf.cbBuffer <= out.size())
        token->assign(out.data(), out_buf.cbBuffer);
    return (int32_t)st;
}

}  // namespace

int spk_sspi_available() { return 1; }

int32_t spk_sspi_start(const char *spn, const char *user, const char *domain, const char *password,
                       uint32_t flags, SpkSspiContext **ctx, std::string *token, const char **failed_call) {
    *failed_call = "AcquireCredentialsHandle";
    SpkSspiContext *c = new (std::nothrow) SpkSspiContext;
    *ctx = c;
    if (!c) return (int32_t)SEC_E_INSUFFICIENT_MEMORY;
    c->request = request_of(flags);
    c->target = spn ? spn : "";

    SEC_WINNT_AUTH_IDENTITY_A identity = {};
    SEC_WINNT_AUTH_IDENTITY_A *with = nullptr;
    if (user && *user) {
        identity.User = (unsigned char *)const_cast<char *>(user);
        identity.UserLength = (unsigned long)strlen(user);
        identity.Domain = (unsigned char *)const_cast<char *>(domain ? domain : "");
        identity.DomainLength = domain ? (unsigned long)strlen(domain) : 0;
        identity.Password = (unsigned char *)const_cast<char *>(password ? password : "");
        identity.PasswordLength = password ? (unsigned long)strlen(password) : 0;
        identity.Flags = SEC_WINNT_AUTH_IDENTITY_ANSI;
        with = &identity;
    }
    TimeStamp expiry;
    SECURITY_STATUS st = AcquireCredentialsHandleA(nullptr, const_cast<char *>("Kerberos"), SECPKG_CRED_OUTBOUND,
                                                   nullptr, with, nullptr, nullptr, &c->credentials, &expiry);
    if (st != SEC_E_OK) return (int32_t)st;
    c->have_credentials = true;

    *failed_call = "InitializeSecurityContext";
    return initialize(c, nullptr, 0, token);
}

int32_t spk_sspi_step(SpkSspiContext *ctx, const void *input, size_t length, std::string *token) {
    if (!ctx || !ctx->have_context) return (int32_t)SEC_E_INVALID_HANDLE;
    return initialize(ctx, input, length, token);
}

int spk_sspi_mutual(SpkSspiContext *ctx) { return ctx && (ctx->attributes & ISC_RET_MUTUAL_AUTH) ? 1 : 0; }

int32_t spk_sspi_unwrap(SpkSspiContext *ctx, const void *input, size_t length, std::string *output,
                        uint32_t *qop) {
    if (!ctx || !ctx->have_context) return (int32_t)SEC_E_INVALID_HANDLE;
    std::string stream((const char *)input, length);   // decrypted in place
    SecBuffer bufs[2] = {{(unsigned long)stream.size(), SECBUFFER_STREAM, stream.data()},
                         {0, SECBUFFER_DATA, nullptr}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 2, bufs};
    ULONG protection = 0;
    SECURITY_STATUS st = DecryptMessage(&ctx->context, &desc, 0, &protection);
    if (qop) *qop = (uint32_t)protection;
    if (st != SEC_E_OK) return (int32_t)st;
    output->assign(bufs[1].pvBuffer ? (const char *)bufs[1].pvBuffer : "", bufs[1].cbBuffer);
    return SPK_SSPI_OK;
}

int32_t spk_sspi_wrap(SpkSspiContext *ctx, const void *input, size_t length, std::string *output) {
    if (!ctx || !ctx->have_context) return (int32_t)SEC_E_INVALID_HANDLE;
    SecPkgContext_Sizes sizes = {};
    SECURITY_STATUS st = QueryContextAttributesW(&ctx->context, SECPKG_ATTR_SIZES, &sizes);
    if (st != SEC_E_OK) return (int32_t)st;
    std::string trailer(sizes.cbSecurityTrailer, '\0');
    std::string data((const char *)input, length);
    std::string padding(sizes.cbBlockSize, '\0');
    SecBuffer bufs[3] = {{(unsigned long)trailer.size(), SECBUFFER_TOKEN, trailer.data()},
                         {(unsigned long)data.size(), SECBUFFER_DATA, data.data()},
                         {(unsigned long)padding.size(), SECBUFFER_PADDING, padding.data()}};
    SecBufferDesc desc = {SECBUFFER_VERSION, 3, bufs};
    st = EncryptMessage(&ctx->context, SECQOP_WRAP_NO_ENCRYPT, &desc, 0);
    if (st != SEC_E_OK) return (int32_t)st;
    output->clear();
    for (const SecBuffer &b : bufs) output->append((const char *)b.pvBuffer, b.cbBuffer);
    return SPK_SSPI_OK;
}

void spk_sspi_release(SpkSspiContext *ctx) {
    if (!ctx) return;
    if (ctx->have_context) DeleteSecurityContext(&ctx->context);
    if (ctx->have_credentials) FreeCredentialsHandle(&ctx->credentials);
    delete ctx;
}

const char *spk_sspi_status_name(int32_t status) {
    switch ((uint32_t)status) {
    case 0: return "SEC_E_OK";
    case 0x00090312: return "SEC_I_CONTINUE_NEEDED";
    case 0x80090300: return "SEC_E_INSUFFICIENT_MEMORY";
    case 0x80090301: return "SEC_E_INVALID_HANDLE";
    case 0x80090302: return "SEC_E_UNSUPPORTED_FUNCTION";
    case 0x80090303: return "SEC_E_TARGET_UNKNOWN";
    case 0x80090304: return "SEC_E_INTERNAL_ERROR";
    case 0x80090305: return "SEC_E_SECPKG_NOT_FOUND";
    case 0x80090306: return "SEC_E_NOT_OWNER";
    case 0x80090308: return "SEC_E_INVALID_TOKEN";
    case 0x8009030C: return "SEC_E_LOGON_DENIED";
    case 0x8009030D: return "SEC_E_UNKNOWN_CREDENTIALS";
    case 0x8009030E: return "SEC_E_NO_CREDENTIALS";
    case 0x80090311: return "SEC_E_NO_AUTHENTICATING_AUTHORITY";
    case 0x80090318: return "SEC_E_INCOMPLETE_MESSAGE";
    case 0x80090322: return "SEC_E_WRONG_PRINCIPAL";
    default: return "unknown code";
    }
}
#endif
