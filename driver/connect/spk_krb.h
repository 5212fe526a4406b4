// Kerberos logon through the SASL GSSAPI mechanism: what the security
// providers (the GSS-API library loaded at run time, and the platform's SSPI
// where there is one) offer to the SASL exchange, and the pieces of the
// logon that do not depend on the provider.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "spk_handles.h"

// GSS-API request flags (RFC 2744), also used to describe SSPI requests.
enum : uint32_t {
    SPK_GSS_DELEG_FLAG = 1,
    SPK_GSS_MUTUAL_FLAG = 2,
    SPK_GSS_REPLAY_FLAG = 4,
    SPK_GSS_SEQUENCE_FLAG = 8,
    SPK_GSS_CONF_FLAG = 16,
    SPK_GSS_INTEG_FLAG = 32,
    SPK_GSS_ANON_FLAG = 64,
    SPK_GSS_PROT_READY_FLAG = 128,
    SPK_GSS_TRANS_FLAG = 256,
    SPK_GSS_DELEG_POLICY_FLAG = 0x8000,
    // Mutual authentication, replay detection, integrity.
    SPK_GSS_DEFAULT_FLAGS = 38,
};

// How the service principal is written.
enum SpkKrbNameKind {
    SPK_KRB_NAME_PRINCIPAL,   // service/host@REALM (or any full principal)
    SPK_KRB_NAME_SERVICE,     // service@host, the host-based service form
};

// The SASL security layers (RFC 4752): bits of the first byte of the
// security-layer message.
enum {
    SPK_SASL_LAYER_NONE = 1,
    SPK_SASL_LAYER_INTEGRITY = 2,
    SPK_SASL_LAYER_PRIVACY = 4,
};

// Tokens and lengths announced by the server are refused above this size
// before anything is allocated for them.
const uint32_t SPK_KRB_MAX_TOKEN = 64 * 1024;

// What one logon asks of the provider.
struct SpkKrbRequest {
    std::string principal;        // the service principal, _HOST replaced
    SpkKrbNameKind name_kind = SPK_KRB_NAME_PRINCIPAL;
    bool explicit_user = false;   // log on as `user` with `password`, not from the credential cache
    std::string user;             // UTF-8, user@REALM
    std::string password;         // UTF-8
    uint32_t flags = SPK_GSS_DEFAULT_FLAGS;
    std::string library;          // the GSS-API library's file name
    ~SpkKrbRequest();             // wipes the password
};

// A security provider.  Each step returns 0, or -1 with its diagnostic posted
// on the connection; the provider keeps its state in conn->krb_context.
struct SpkKrbProvider {
    const char *name;
    // Acquires credentials, makes the security context and its first token.
    int (*start)(SpkConnection *conn, const SpkKrbRequest &request, std::string *token, bool *complete);
    // Feeds one token of the server; *token gets the reply (possibly empty).
    int (*step)(SpkConnection *conn, const std::string &input, std::string *token, bool *complete);
    // Verifies that the established context meets the request (mutual
    // authentication when asked for).
    int (*check)(SpkConnection *conn);
    int (*unwrap)(SpkConnection *conn, const std::string &input, std::string *output);
    // Protects `input` for integrity only (no confidentiality).
    int (*wrap)(SpkConnection *conn, const std::string &input, std::string *output);
    // Releases everything; safe when nothing was started.
    void (*release)(SpkConnection *conn);
};

// The connection's security context while the exchange runs.
struct SpkKrbContext {
    const SpkKrbProvider *provider;
    void *state;
};

extern const SpkKrbProvider spk_gss_provider;    // GSS-API loaded at run time
extern const SpkKrbProvider spk_sspi_provider;   // the platform's SSPI

// The service principal to use: "_HOST" becomes `host` (lower case);
// "service/host@REALM" and "service/host" are full principals; "service@host"
// is a host-based service, and a bare "service" is the service on `host`.
void spk_krb_service_name(const std::string &setting, const std::string &host, std::string *name,
                          SpkKrbNameKind *kind);
// A user name as a principal: "DOMAIN\user" becomes "user@DOMAIN"; anything
// else is kept.
std::string spk_krb_user_principal(const std::string &uid);

// The client's answer to the server's security-layer message (4 bytes once
// unwrapped: the layers offered and the largest message it accepts).  Picks
// "no security layer" with the server's maximum size.  0, or -1 when the
// message is not 4 bytes (*reason names it) or the server does not offer
// "no security layer".
int spk_krb_choose_layer(const std::string &offer, std::string *reply, std::string *reason);

// "GSS_C_MUTUAL_FLAG|GSS_C_REPLAY_FLAG|..." for the set bits.
std::string spk_gss_flags_text(uint32_t flags);
// The text of a GSS-API routine status (the major status' error part).
const char *spk_gss_major_text(uint32_t major);
// The SQLSTATE a failed Kerberos call stands for: 28000 when the user's
// credentials are missing, expired or wrong, 08001 otherwise.
const char *spk_krb_failure_state(uint32_t major, int32_t minor);

// The name of a Kerberos 5 error code ("KRB5KDC_ERR_PREAUTH_FAILED"), or null.
const char *spk_krb5_error_name(int32_t code);

// Releases the connection's security context, whoever made it.
void spk_krb_release(SpkConnection *conn);
