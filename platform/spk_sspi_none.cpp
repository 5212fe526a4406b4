// Platforms without SSPI: the AD logon uses the GSS-API library.
#ifndef _WIN32
#include "spk_sspi.h"

int spk_sspi_available() { return 0; }

int32_t spk_sspi_start(const char *, const char *, const char *, const char *, uint32_t, SpkSspiContext **ctx,
                       std::string *, const char **failed_call) {
    if (ctx) *ctx = nullptr;
    if (failed_call) *failed_call = "AcquireCredentialsHandle";
    return SPK_SSPI_UNSUPPORTED;
}

int32_t spk_sspi_step(SpkSspiContext *, const void *, size_t, std::string *) { return SPK_SSPI_UNSUPPORTED; }

int spk_sspi_mutual(SpkSspiContext *) { return 0; }

int32_t spk_sspi_unwrap(SpkSspiContext *, const void *, size_t, std::string *, uint32_t *) {
    return SPK_SSPI_UNSUPPORTED;
}

int32_t spk_sspi_wrap(SpkSspiContext *, const void *, size_t, std::string *) { return SPK_SSPI_UNSUPPORTED; }

void spk_sspi_release(SpkSspiContext *) {}

const char *spk_sspi_status_name(int32_t status) {
    return status == SPK_SSPI_UNSUPPORTED ? "SEC_E_UNSUPPORTED_FUNCTION" : "unknown code";
}
#endif
