// The provider-independent parts of the Kerberos logon: service and user
// principal names, the security-layer choice, flag and status texts, and the
// SQLSTATE of a failure.
#include "spk_krb.h"

#include <cctype>
#include <cstring>

SpkKrbRequest::~SpkKrbRequest() {
    volatile char *p = password.empty() ? nullptr : &password[0];
    for (size_t i = 0; p && i < password.size(); i++) p[i] = 0;
}

void spk_krb_service_name(const std::string &setting, const std::string &host, std::string *name,
                          SpkKrbNameKind *kind) {
    std::string lower_host = host;
    for (char &c : lower_host) c = (char)tolower((unsigned char)c);
    std::string s = setting;
    for (size_t at = s.find("_HOST"); at != std::string::npos; at = s.find("_HOST", at + lower_host.size()))
        s.replace(at, 5, lower_host);
    if (s.find('/') != std::string::npos) {
        *kind = SPK_KRB_NAME_PRINCIPAL;
    } else {
        *kind = SPK_KRB_NAME_SERVICE;
        if (s.find('@') == std::string::npos) s += "@" + lower_host;
    }
    *name = s;
}

std::string spk_krb_user_principal(const std::string &uid) {
    size_t slash = uid.find('\\');
    if (slash == std::string::npos || uid.find('@') != std::string::npos) return uid;
    std::string domain = uid.substr(0, slash);
    for (char &c : domain) c = (char)toupper((unsigned char)c);
    return uid.substr(slash + 1) + "@" + domain;
}

int spk_krb_choose_layer(const std::string &offer, std::string *reply, std::string *reason) {
    if (offer.size() != 4) {
        *reason = "the server's security-layer message has " + std::to_string(offer.size()) + " bytes, not 4";
        return -1;
    }
    unsigned layers = (unsigned char)offer[0];
    if (!(layers & SPK_SASL_LAYER_NONE)) {
        std::string names;
        if (layers & SPK_SASL_LAYER_INTEGRITY) names += "integrity";
        if (layers & SPK_SASL_LAYER_PRIVACY) names += names.empty() ? "privacy" : " and privacy";
        if (names.empty()) names = "nothing";
        *reason = "the server requires a SASL security layer (it offers " + names +
                  "); this driver supports only \"no security layer\": set the server's QOP to auth";
        return -1;
    }
    *reply = offer;
    (*reply)[0] = (char)SPK_SASL_LAYER_NONE;
    return 0;
}

std::string spk_gss_flags_text(uint32_t flags) {
    static const struct {
        uint32_t bit;
        const char *name;
    } kNames[] = {
        {SPK_GSS_DELEG_FLAG, "GSS_C_DELEG_FLAG"},           {SPK_GSS_MUTUAL_FLAG, "GSS_C_MUTUAL_FLAG"},
        {SPK_GSS_REPLAY_FLAG, "GSS_C_REPLAY_FLAG"},         {SPK_GSS_SEQUENCE_FLAG, "GSS_C_SEQUENCE_FLAG"},
        {SPK_GSS_CONF_FLAG, "GSS_C_CONF_FLAG"},             {SPK_GSS_INTEG_FLAG, "GSS_C_INTEG_FLAG"},
        {SPK_GSS_ANON_FLAG, "GSS_C_ANON_FLAG"},             {SPK_GSS_PROT_READY_FLAG, "GSS_C_PROT_READY_FLAG"},
        {SPK_GSS_TRANS_FLAG, "GSS_C_TRANS_FLAG"},           {SPK_GSS_DELEG_POLICY_FLAG, "GSS_C_DELEG_POLICY_FLAG"},
    };
    std::string out;
    for (const auto &n : kNames) {
        if (!(flags & n.bit)) continue;
        if (!out.empty()) out += "|";
        out += n.name;
    }
    return out;
}

const char *spk_gss_major_text(uint32_t major) {
    switch (major) {
    case 0: return "The routine completed successfully";
    case 1:
        return "To complete the context, the gss_init_sec_context() routine must be called again with a token "
               "created by the gss_accept_sec_context() routine";
    case 2: return "The token is a duplicate of a token that has already been processed";
    case 4:
        return "The token is too old to be checked for duplication against previous tokens which have already "
               "been processed";
    case 0x10000: return "The request security mechanism is not supported";
    case 0x20000: return "The target_name parameter is not valid";
    case 0x30000: return "The provided target_name parameter contains an invalid or unsupported nametype";
    case 0x40000: return "The channel bindings are not valid";
    case 0x60000: return "The input token contains an incorrect integrity check value";
    case 0x70000:
        return "The supplied credential handle does not refer to a valid credential, the supplied credential is "
               "not valid for context initiation, or there are no default credentials available";
    case 0x80000: return "The context handle provided by the caller does not refer to a valid security context";
    case 0x90000: return "Consistency checks performed on the input token failed";
    case 0xA0000: return "Consistency checks performed on the credential failed";
    case 0xB0000: return "The supplied credentials are no longer valid";
    default: return "Unknown";
    }
}

const char *spk_krb_failure_state(uint32_t major, int32_t minor) {
    // The realm's KDC could not be reached, whatever the routine made of it.
    switch ((uint32_t)minor) {
    case 0x96C73A9A:   // KRB5_REALM_UNKNOWN
    case 0x96C73A9C:   // KRB5_KDC_UNREACH
    case 0x96C73ADC:   // KRB5_REALM_CANT_RESOLVE
    case 0x96C73AE0:   // KRB5_CONFIG_NODEFREALM
        return "08001";
    default: break;
    }
    switch (major & 0xFFFF0000u) {
    case 0x70000:   // no credentials
    case 0xA0000:   // defective credential
    case 0xB0000:   // credentials expired
        return "28000";
    default: break;
    }
    // Kerberos 5 error codes (com_err table 0x96C73A00 and 0x96C73Axx).
    switch ((uint32_t)minor) {
    case 0x96C73A01:   // KRB5KDC_ERR_NAME_EXP: client's entry has expired
    case 0x96C73A06:   // KRB5KDC_ERR_C_PRINCIPAL_UNKNOWN
    case 0x96C73A12:   // KRB5KDC_ERR_CLIENT_REVOKED
    case 0x96C73A17:   // KRB5KDC_ERR_KEY_EXP: password has expired
    case 0x96C73A18:   // KRB5KDC_ERR_PREAUTH_FAILED
    case 0x96C73A1F:   // KRB5KRB_AP_ERR_BAD_INTEGRITY: wrong password
    case 0x96C73A20:   // KRB5KRB_AP_ERR_TKT_EXPIRED
    case 0x96C73A8D:   // KRB5_CC_NOTFOUND
    case 0x96C73AC3:   // KRB5_FCC_NOFILE: no credential cache
        return "28000";
    default: return "08001";
    }
}

void spk_krb_release(SpkConnection *conn) {
    if (!conn || !conn->krb_context) return;
    conn->krb_context->provider->release(conn);
    delete conn->krb_context;
    conn->krb_context = nullptr;
}
