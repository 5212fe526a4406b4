// The GSS-API security provider: a GSS-API library (MIT Kerberos or any
// library with the RFC 2744 interface) loaded by file name for each logon.
// Kerberos logons use it everywhere; AD logons use it where the platform has
// no SSPI, either with the caller's credential cache or with credentials
// acquired from a user name and password.
#include <cstring>
#include <new>
#include <string>

#include "spk_err.h"
#include "spk_krb.h"
#include "spk_log.h"
#include "spk_platform.h"

namespace {

// The RFC 2744 C binding, as much of it as the driver uses.  The library is
// loaded at run time, so no GSS-API header is needed to build.
typedef uint32_t OM_uint32;
struct gss_buffer_desc {
    size_t length;
    void *value;
};
struct gss_OID_desc {
    OM_uint32 length;
    void *elements;
};
struct gss_OID_set_desc {
    size_t count;
    gss_OID_desc *elements;
};
typedef gss_buffer_desc *gss_buffer_t;
typedef gss_OID_desc *gss_OID;
typedef gss_OID_set_desc *gss_OID_set;
typedef struct gss_name_struct *gss_name_t;
typedef struct gss_ctx_id_struct *gss_ctx_id_t;
typedef struct gss_cred_id_struct *gss_cred_id_t;
typedef struct gss_channel_bindings_struct *gss_channel_bindings_t;
typedef OM_uint32 gss_qop_t;
typedef int gss_cred_usage_t;

const int GSS_C_GSS_CODE = 1;
const int GSS_C_MECH_CODE = 2;
const gss_cred_usage_t GSS_C_INITIATE = 1;
const OM_uint32 GSS_S_CONTINUE_NEEDED = 1;

inline bool gss_error(OM_uint32 major) { return (major & 0xFFFF0000u) != 0; }

typedef OM_uint32 (*import_name_fn)(OM_uint32 *, gss_buffer_t, gss_OID, gss_name_t *);
typedef OM_uint32 (*init_sec_context_fn)(OM_uint32 *, gss_cred_id_t, gss_ctx_id_t *, gss_name_t, gss_OID,
                                         OM_uint32, OM_uint32, gss_channel_bindings_t, gss_buffer_t, gss_OID *,
                                         gss_buffer_t, OM_uint32 *, OM_uint32 *);
typedef OM_uint32 (*release_buffer_fn)(OM_uint32 *, gss_buffer_t);
typedef OM_uint32 (*release_name_fn)(OM_uint32 *, gss_name_t *);
typedef OM_uint32 (*delete_sec_context_fn)(OM_uint32 *, gss_ctx_id_t *, gss_buffer_t);
typedef OM_uint32 (*wrap_fn)(OM_uint32 *, gss_ctx_id_t, int, gss_qop_t, gss_buffer_t, int *, gss_buffer_t);
typedef OM_uint32 (*unwrap_fn)(OM_uint32 *, gss_ctx_id_t, gss_buffer_t, gss_buffer_t, int *, gss_qop_t *);
typedef OM_uint32 (*display_status_fn)(OM_uint32 *, OM_uint32, int, gss_OID, OM_uint32 *, gss_buffer_t);
typedef OM_uint32 (*acquire_cred_with_password_fn)(OM_uint32 *, gss_name_t, gss_buffer_t, OM_uint32, gss_OID_set,
                                                   gss_cred_usage_t, gss_cred_id_t *, gss_OID_set *, OM_uint32 *);
typedef OM_uint32 (*release_cred_fn)(OM_uint32 *, gss_cred_id_t *);
typedef OM_uint32 (*inquire_context_fn)(OM_uint32 *, gss_ctx_id_t, gss_name_t *, gss_name_t *, OM_uint32 *,
                                        gss_OID *, OM_uint32 *, int *, int *);
typedef OM_uint32 (*display_name_fn)(OM_uint32 *, gss_name_t, gss_buffer_t, gss_OID *);

// Object identifiers: user name 1.2.840.113554.1.2.1.1, host-based service
// 1.2.840.113554.1.2.1.4, Kerberos 5 mechanism 1.2.840.113554.1.2.2.
unsigned char kNtUserName[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x01, 0x01};
unsigned char kNtHostbasedService[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x01, 0x04};
unsigned char kKrb5Mech[] = {0x2A, 0x86, 0x48, 0x86, 0xF7, 0x12, 0x01, 0x02, 0x02};
gss_OID_desc nt_user_name = {sizeof kNtUserName, kNtUserName};
gss_OID_desc nt_hostbased_service = {sizeof kNtHostbasedService, kNtHostbasedService};
gss_OID_desc krb5_mech = {sizeof kKrb5Mech, kKrb5Mech};
gss_OID_set_desc krb5_mech_set = {1, &krb5_mech};

struct GssState {
    void *library = nullptr;
    std::string library_name;
    import_name_fn import_name = nullptr;
    release_buffer_fn release_buffer = nullptr;
    init_sec_context_fn init_sec_context = nullptr;
    release_name_fn release_name = nullptr;
    delete_sec_context_fn delete_sec_context = nullptr;
    wrap_fn wrap = nullptr;
    unwrap_fn unwrap = nullptr;
    display_status_fn display_status = nullptr;              // optional: status texts
    acquire_cred_with_password_fn acquire_cred_with_password = nullptr;   // only for a user and password
    release_cred_fn release_cred = nullptr;
    inquire_context_fn inquire_context = nullptr;            // optional, only while tracing
    display_name_fn display_name = nullptr;

    gss_name_t target = nullptr;
    gss_name_t user = nullptr;
    gss_cred_id_t credential = nullptr;
    gss_ctx_id_t context = nullptr;
    OM_uint32 request_flags = 0;
    OM_uint32 returned_flags = 0;
};

GssState *state_of(SpkConnection *conn) {
    return conn->krb_context ? static_cast<GssState *>(conn->krb_context->state) : nullptr;
}

// The library's own text for a status, or "" when it has none.
std::string display_status(GssState *g, OM_uint32 code, int type) {
    std::string out;
    if (!g->display_status) return out;
    OM_uint32 context = 0;
    for (int i = 0; i < 8; i++) {
        OM_uint32 minor = 0;
        gss_buffer_desc text = {0, nullptr};
        OM_uint32 major = g->display_status(&minor, code, type, type == GSS_C_MECH_CODE ? &krb5_mech : nullptr,
                                            &context, &text);
        if (gss_error(major)) break;
        if (text.length) {
            if (!out.empty()) out += "; ";
            out.append((const char *)text.value, text.length);
        }
        g->release_buffer(&minor, &text);
        if (context == 0) break;
    }
    return out;
}

// A minor (Kerberos) status: its name and the library's text.
std::string minor_text(GssState *g, OM_uint32 minor) {
    std::string text = display_status(g, minor, GSS_C_MECH_CODE);
    const char *name = spk_krb5_error_name((int32_t)minor);
    if (name) text = text.empty() ? std::string(name) : std::string(name) + ": " + text;
    return text;
}

// "major text: minor text" for a failed call.  A GSS_S_FAILURE is described
// by its minor (Kerberos) status alone.
std::string status_text(GssState *g, OM_uint32 major, OM_uint32 minor) {
    OM_uint32 routine = major & 0xFFFF0000u;
    std::string minor_part = minor ? minor_text(g, minor) : std::string();
    if (routine == 0xD0000u) return minor_part.empty() ? std::string("Unknown") : minor_part;
    std::string text = spk_gss_major_text(routine ? routine : major);
    if (!minor_part.empty()) text += ": " + minor_part;
    return text;
}

// Posts a failed library call: the SQLSTATE says whether the user's
// credentials are at fault (28000) or the logon could not be made (08001).
int post_failure(SpkConnection *conn, GssState *g, const char *format, OM_uint32 major, OM_uint32 minor) {
    std::string text = status_text(g, major, minor);
    SPK_LOG(conn, LOG_ERROR, format, text.c_str(), (int)major, (int)minor);
    spk_post_error(conn, spk_krb_failure_state(major, (int32_t)minor), (int32_t)minor, format, text.c_str(),
                   (int)major, (int)minor);
    return -1;
}

void release_state(GssState *g) {
    OM_uint32 minor = 0;
    if (g->context && g->delete_sec_context) g->delete_sec_context(&minor, &g->context, nullptr);
    if (g->credential && g->release_cred) g->release_cred(&minor, &g->credential);
    if (g->target && g->release_name) g->release_name(&minor, &g->target);
    if (g->user && g->release_name) g->release_name(&minor, &g->user);
    spk_dl_close(g->library);
    delete g;
}

// Loads the library and resolves its entry points.
int load_library(SpkConnection *conn, GssState *g, const SpkKrbRequest &request) {
    g->library_name = request.library;
    g->library = spk_dl_open(g->library_name.c_str());
    if (!g->library) {
        const char *why = spk_dl_error();
        SPK_LOG(conn, LOG_ERROR, "spk_gss_get_auth_buffer: failed to open gss library (%s): %s",
                g->library_name.c_str(), why);
        spk_post_error(conn, "08001", 0, "Krb5: failed to open gss lib (%s)", g->library_name.c_str());
        return -1;
    }
    struct Required {
        const char *name;
        void **slot;
    } required[] = {
        {"gss_import_name", (void **)&g->import_name},
        {"gss_release_buffer", (void **)&g->release_buffer},
        {"gss_init_sec_context", (void **)&g->init_sec_context},
        {"gss_release_name", (void **)&g->release_name},
        {"gss_delete_sec_context", (void **)&g->delete_sec_context},
        {"gss_wrap", (void **)&g->wrap},
        {"gss_unwrap", (void **)&g->unwrap},
    };
    for (const Required &r : required) {
        *r.slot = spk_dl_symbol(g->library, r.name);
        if (!*r.slot) {
            SPK_LOG(conn, LOG_ERROR, "spk_gss_get_auth_buffer: failed to extract gss entry point %s", r.name);
            spk_post_error(conn, "08001", 0, "Krb5: failed to extract gss entry point %s", r.name);
            return -1;
        }
    }
    g->display_status = (display_status_fn)spk_dl_symbol(g->library, "gss_display_status");
    if (request.explicit_user) {
        g->acquire_cred_with_password =
            (acquire_cred_with_password_fn)spk_dl_symbol(g->library, "gss_acquire_cred_with_password");
        g->release_cred = (release_cred_fn)spk_dl_symbol(g->library, "gss_release_cred");
        if (!g->acquire_cred_with_password || !g->release_cred) {
            const char *name = g->acquire_cred_with_password ? "gss_release_cred" : "gss_acquire_cred_with_password";
            SPK_LOG(conn, LOG_ERROR, "spk_gss_get_auth_buffer: failed to extract gss entry point %s", name);
            spk_post_error(conn, "08001", 0,
                           "Krb5: the GSS-API library (%s) has no %s, needed to log on with UID and PWD; "
                           "obtain a ticket (kinit) and leave UID empty instead",
                           g->library_name.c_str(), name);
            return -1;
        }
    }
    if (conn->log_flags) {
        g->inquire_context = (inquire_context_fn)spk_dl_symbol(g->library, "gss_inquire_context");
        g->display_name = (display_name_fn)spk_dl_symbol(g->library, "gss_display_name");
        if (!g->inquire_context)
            SPK_LOG(conn, LOG_DETAIL, "spk_gss_get_auth_buffer: failed to extract gss entry point %s",
                    "gss_inquire_context");
        if (!g->display_name)
            SPK_LOG(conn, LOG_DETAIL, "spk_gss_get_auth_buffer: failed to extract gss entry point %s",
                    "gss_display_name");
    }
    return 0;
}

std::string name_text(GssState *g, gss_name_t name) {
    OM_uint32 minor = 0;
    gss_buffer_desc text = {0, nullptr};
    gss_OID type = nullptr;
    if (!name || gss_error(g->display_name(&minor, name, &text, &type))) return "?";
    std::string out = std::to_string(text.length) + " '" + std::string((const char *)text.value, text.length) + "'";
    if (type) {
        static const char kHex[] = "0123456789ABCDEF";
        out += " ";
        for (OM_uint32 i = 0; i < type->length; i++) {
            unsigned char b = ((const unsigned char *)type->elements)[i];
            out += kHex[b >> 4];
            out += kHex[b & 15];
        }
    }
    g->release_buffer(&minor, &text);
    return out;
}

void trace_context(SpkConnection *conn, GssState *g) {
    if (!conn->log_flags || !g->inquire_context || !g->display_name) return;
    OM_uint32 minor = 0, lifetime = 0, flags = 0;
    gss_name_t source = nullptr, target = nullptr;
    int local = 0, open = 0;
    OM_uint32 major = g->inquire_context(&minor, g->context, &source, &target, &lifetime, nullptr, &flags, &local, &open);
    SPK_LOG(conn, LOG_DETAIL, "called gss_inquire_context: maj_status=%d (%s)", (int)major,
            status_text(g, major, 0).c_str());
    if (!gss_error(major)) {
        SPK_LOG(conn, LOG_DETAIL, "minor_status=%d (%s)", (int)minor,
                minor ? minor_text(g, minor).c_str() : "");
        SPK_LOG(conn, LOG_DETAIL, "source_name=(%s)", name_text(g, source).c_str());
        SPK_LOG(conn, LOG_DETAIL, "target_name=(%s)", name_text(g, target).c_str());
        SPK_LOG(conn, LOG_DETAIL, "lifetime=(%d)", (int)lifetime);
        SPK_LOG(conn, LOG_DETAIL, "flags=(%d) %s", (int)flags, spk_gss_flags_text(flags).c_str());
        SPK_LOG(conn, LOG_DETAIL, "open=%d", open);
        SPK_LOG(conn, LOG_DETAIL, "local=%d", local);
    }
    if (source) g->release_name(&minor, &source);
    if (target) g->release_name(&minor, &target);
}

// One gss_init_sec_context call; `input` is null for the first one.
// 0 with the output token and completion, or -1 posted.
int init_context(SpkConnection *conn, GssState *g, const std::string *input, std::string *token, bool *complete) {
    OM_uint32 minor = 0;
    gss_buffer_desc in = {0, nullptr};
    if (input) {
        in.length = input->size();
        in.value = (void *)input->data();
    }
    gss_buffer_desc out = {0, nullptr};
    OM_uint32 major = g->init_sec_context(&minor, g->credential, &g->context, g->target, &krb5_mech,
                                          g->request_flags, 0, nullptr, input ? &in : nullptr, nullptr, &out,
                                          &g->returned_flags, nullptr);
    SPK_LOG(conn, LOG_DETAIL, "called gss_init_sec_context( %d,%d,%d,length = %d )", (int)major, (int)minor,
            (int)g->returned_flags, (int)out.length);
    if (gss_error(major)) {
        if (out.value) g->release_buffer(&minor, &out);
        return post_failure(conn, g, "Krb5: gss_init_sec_context failed with '%s', (%d,%d)", major, minor);
    }
    try {
        token->assign((const char *)out.value, out.length);
    } catch (...) {
        OM_uint32 ignored = 0;
        g->release_buffer(&ignored, &out);
        throw;
    }
    OM_uint32 ignored = 0;
    if (out.value) g->release_buffer(&ignored, &out);
    *complete = !(major & GSS_S_CONTINUE_NEEDED);
    SPK_LOG(conn, LOG_DETAIL, *complete ? "GSS_S_COMPLETE" : "GSS_S_CONTINUE_NEEDED");
    if (*complete) trace_context(conn, g);
    return 0;
}

int import_name(SpkConnection *conn, GssState *g, const std::string &text, gss_OID type, gss_name_t *name) {
    OM_uint32 minor = 0;
    gss_buffer_desc buffer = {text.size(), (void *)text.data()};
    OM_uint32 major = g->import_name(&minor, &buffer, type, name);
    SPK_LOG(conn, LOG_DETAIL, "called gss_import_name( %d,%d )", (int)major, (int)minor);
    if (gss_error(major)) return post_failure(conn, g, "Krb5: gss_import_name failed with '%s' (%d,%d)", major, minor);
    return 0;
}

int gss_start(SpkConnection *conn, const SpkKrbRequest &request, std::string *token, bool *complete) {
    GssState *g = new (std::nothrow) GssState;
    if (!g) {
        spk_post_error(conn, "08001", 0, "Krb5: failed to allocate memory");
        return -1;
    }
    conn->krb_context->state = g;
    if (load_library(conn, g, request) != 0) return -1;

    if (request.explicit_user) {
        SPK_LOG(conn, LOG_DETAIL, "Acquiring credentials for '%s' with a password", request.user.c_str());
        if (import_name(conn, g, request.user, &nt_user_name, &g->user) != 0) return -1;
        OM_uint32 minor = 0;
        gss_buffer_desc password = {request.password.size(), (void *)request.password.data()};
        OM_uint32 major = g->acquire_cred_with_password(&minor, g->user, &password, 0, &krb5_mech_set,
                                                        GSS_C_INITIATE, &g->credential, nullptr, nullptr);
        SPK_LOG(conn, LOG_DETAIL, "called gss_acquire_cred_with_password( %d,%d )", (int)major, (int)minor);
        if (gss_error(major))
            return post_failure(conn, g, "Krb5: gss_acquire_cred_with_password failed with '%s', (%d,%d)", major,
                                minor);
    }

    SPK_LOG(conn, LOG_DETAIL, "importing service principal '%s'", request.principal.c_str());
    gss_OID type = request.name_kind == SPK_KRB_NAME_SERVICE ? &nt_hostbased_service : &nt_user_name;
    if (import_name(conn, g, request.principal, type, &g->target) != 0) return -1;

    g->request_flags = request.flags;
    SPK_LOG(conn, LOG_DETAIL, "calling gss_init_sec_context: flags = %s", spk_gss_flags_text(g->request_flags).c_str());
    if (init_context(conn, g, nullptr, token, complete) != 0) return -1;
    SPK_LOG(conn, LOG_DETAIL, "Krb5: output_token length = %d", (int)token->size());
    return 0;
}

int gss_step(SpkConnection *conn, const std::string &input, std::string *token, bool *complete) {
    GssState *g = state_of(conn);
    SPK_LOG(conn, LOG_DETAIL, "Krb5: continue, len = %d", (int)input.size());
    return init_context(conn, g, &input, token, complete);
}

int gss_check(SpkConnection *conn) {
    GssState *g = state_of(conn);
    OM_uint32 missing = g->request_flags & SPK_GSS_MUTUAL_FLAG & ~g->returned_flags;
    if (!missing) return 0;
    SPK_LOG(conn, LOG_ERROR, "Krb5: mutual authentication was requested but not established (flags %s)",
            spk_gss_flags_text(g->returned_flags).c_str());
    spk_post_error(conn, "08001", 0,
                   "Krb5: the server did not prove its identity: mutual authentication was requested but the "
                   "context lacks it");
    return -1;
}

// gss_wrap (integrity only) or gss_unwrap of one message.
int protect(SpkConnection *conn, bool wrap, const std::string &input, std::string *output) {
    GssState *g = state_of(conn);
    if (!wrap) SPK_LOG_DATA(conn, LOG_PKTDUMP, input.data(), input.size(), "Accept Cred");
    OM_uint32 minor = 0;
    gss_buffer_desc in = {input.size(), (void *)input.data()};
    gss_buffer_desc out = {0, nullptr};
    int conf_state = 0;
    OM_uint32 major = wrap ? g->wrap(&minor, g->context, 0, 0, &in, &conf_state, &out)
                           : g->unwrap(&minor, g->context, &in, &out, &conf_state, nullptr);
    SPK_LOG(conn, LOG_DETAIL, wrap ? "called gss_wrap( %d,%d,%d,length=%d )" : "called gss_unwrap( %d,%d,%d,length=%d )",
            (int)major, (int)minor, conf_state, (int)out.length);
    if (gss_error(major)) {
        OM_uint32 ignored = 0;
        if (out.value) g->release_buffer(&ignored, &out);
        return post_failure(conn, g,
                            wrap ? "Krb5: gss_wrap failed with '%s', (%d,%d)" : "Krb5: gss_unwrap failed with '%s', (%d,%d)",
                            major, minor);
    }
    SPK_LOG_DATA(conn, LOG_PKTDUMP, out.value, out.length, wrap ? "Wrap" : "UnWrap");
    output->assign((const char *)out.value, out.length);
    g->release_buffer(&minor, &out);
    return 0;
}

int gss_unwrap(SpkConnection *conn, const std::string &input, std::string *output) {
    return protect(conn, false, input, output);
}

int gss_wrap(SpkConnection *conn, const std::string &input, std::string *output) {
    return protect(conn, true, input, output);
}

void gss_release(SpkConnection *conn) {
    GssState *g = state_of(conn);
    if (!g) return;
    SPK_LOG(conn, LOG_DETAIL, "releasing the security context");
    conn->krb_context->state = nullptr;
    release_state(g);
}

}  // namespace

const SpkKrbProvider spk_gss_provider = {
    "GSS-API", gss_start, gss_step, gss_check, gss_unwrap, gss_wrap, gss_release,
};
