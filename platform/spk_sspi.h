// The platform's integrated security (SSPI, security package "Kerberos"),
// used for the AD logon where the platform has it.  Where it has none,
// spk_sspi_available() is 0 and the AD logon goes through the GSS-API
// library instead; every other call then fails with SPK_SSPI_UNSUPPORTED.
//
// Calls return the SECURITY_STATUS of the failing platform call (negative
// on failure), SPK_SSPI_OK, or SPK_SSPI_CONTINUE_NEEDED from start and step.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

struct SpkSspiContext;   // credentials and security context

enum : int32_t {
    SPK_SSPI_OK = 0,
    SPK_SSPI_CONTINUE_NEEDED = 0x00090312,        // SEC_I_CONTINUE_NEEDED
    SPK_SSPI_UNSUPPORTED = (int32_t)0x80090302,   // SEC_E_UNSUPPORTED_FUNCTION
};

int spk_sspi_available();

// Acquires outbound credentials (the logged-on user's when `user` is null,
// otherwise `user`, `domain` and `password`, all UTF-8) and makes the first
// token for the service principal `spn` with the GSS-style request `flags`
// (mutual authentication, replay detection, integrity).  *ctx is set even on
// failure (release it).  *failed_call names the platform call that failed.
int32_t spk_sspi_start(const char *spn, const char *user, const char *domain, const char *password,
                       uint32_t flags, SpkSspiContext **ctx, std::string *token, const char **failed_call);
// Feeds one server token; *token gets the reply (possibly empty).
int32_t spk_sspi_step(SpkSspiContext *ctx, const void *input, size_t length, std::string *token);
// Whether the established context has mutual authentication.
int spk_sspi_mutual(SpkSspiContext *ctx);
// Unwraps a message; *qop gets its protection.
int32_t spk_sspi_unwrap(SpkSspiContext *ctx, const void *input, size_t length, std::string *output,
                        uint32_t *qop);
// Wraps a message for integrity only.
int32_t spk_sspi_wrap(SpkSspiContext *ctx, const void *input, size_t length, std::string *output);
// Deletes the context and frees the credentials; null is fine.
void spk_sspi_release(SpkSspiContext *ctx);
// "SEC_E_OK", "SEC_I_CONTINUE_NEEDED", ... or "unknown code".
const char *spk_sspi_status_name(int32_t status);
