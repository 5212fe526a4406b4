// The handle tree: environments own connections, a connection owns its
// statements and descriptors, a statement owns its four implicit descriptors.
#include "spk_handle.h"

#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <new>

#include "spk_attr.h"
#include "spk_desc.h"
#include "spk_err.h"
#include "spk_log.h"
#include "spk_platform.h"
#include "spk_stmt_hooks.h"

namespace {
SpkStmtHooks g_stmt_hooks;
}

void spk_stmt_hooks_register(const SpkStmtHooks *hooks) { g_stmt_hooks = *hooks; }

int spk_hook_init_execution(SpkStatement *stmt) {
    return g_stmt_hooks.init_execution ? g_stmt_hooks.init_execution(stmt) : 0;
}

void spk_hook_release_execution(SpkStatement *stmt) {
    if (g_stmt_hooks.release_execution) {
        g_stmt_hooks.release_execution(stmt);
        return;
    }
    // Without the execution layer only the texts can have been set.
    spk_str_free(stmt->sql);
    stmt->sql = nullptr;
    spk_str_free(stmt->processed_sql);
    stmt->processed_sql = nullptr;
}

int spk_hook_close_stmt(SpkStatement *stmt, int unprepare) {
    return g_stmt_hooks.close_stmt ? g_stmt_hooks.close_stmt(stmt, unprepare) : 0;
}

int32_t spk_stmt_state(const SpkStatement *stmt) {
    return std::atomic_ref<int32_t>(const_cast<SpkStatement *>(stmt)->state).load();
}

bool spk_stmt_has_text(const SpkStatement *stmt) { return spk_stmt_state(stmt) != SPK_STMT_IDLE; }

bool spk_stmt_has_run(const SpkStatement *stmt) {
    int32_t s = spk_stmt_state(stmt);
    return s == SPK_STMT_EXECUTED || s == SPK_STMT_CURSOR || s == SPK_STMT_FETCHING;
}

SpkEnvironment *spk_env_of(const void *handle) {
    if (!handle) return nullptr;
    const SpkHandle *h = static_cast<const SpkHandle *>(handle);
    switch (h->tag) {
    case SPK_ENVIRONMENT_HANDLE: return (SpkEnvironment *)h;
    case SPK_CONNECTION_HANDLE: return (SpkEnvironment *)h->parent;
    case SPK_STATEMENT_HANDLE:
    case SPK_DESCRIPTOR_HANDLE: return h->parent ? (SpkEnvironment *)h->parent->parent : nullptr;
    default: return nullptr;
    }
}

SpkConnection *spk_conn_of(const void *handle) {
    if (!handle) return nullptr;
    const SpkHandle *h = static_cast<const SpkHandle *>(handle);
    switch (h->tag) {
    case SPK_CONNECTION_HANDLE: return (SpkConnection *)h;
    case SPK_STATEMENT_HANDLE:
    case SPK_DESCRIPTOR_HANDLE: return (SpkConnection *)h->parent;
    default: return nullptr;
    }
}

SpkLock *spk_handle_lock(const void *handle) {
    const SpkHandle *h = static_cast<const SpkHandle *>(handle);
    switch (h->tag) {
    case SPK_ENVIRONMENT_HANDLE: return ((const SpkEnvironment *)h)->lock;
    case SPK_CONNECTION_HANDLE: return ((const SpkConnection *)h)->lock;
    case SPK_STATEMENT_HANDLE: return ((const SpkStatement *)h)->lock;
    case SPK_DESCRIPTOR_HANDLE: return ((const SpkDescriptor *)h)->lock;
    default: return nullptr;
    }
}

void spk_conn_attrs_init(SpkConnAttrs *a) {
    memset(a, 0, sizeof *a);
    a->concurrency = SQL_CONCUR_READ_ONLY;
    a->rowset_size = 1;
    a->simulate_cursor = SQL_SC_UNIQUE;
    a->retrieve_data = SQL_RD_ON;
    a->cursor_sensitivity = SQL_INSENSITIVE;
    a->autocommit = SQL_AUTOCOMMIT_ON;
    a->txn_isolation = 26;
    a->auto_ipd = 1;
}

// ---------------------------------------------------------------------------
// Allocation

template <typename T> static T *spk_handle_calloc(uint32_t tag) {
    T *h = static_cast<T *>(calloc(1, sizeof(T)));
    if (!h) throw std::bad_alloc();
    h->tag = tag;
    return h;
}

SpkEnvironment *spk_env_new() {
    SpkEnvironment *env = spk_handle_calloc<SpkEnvironment>(SPK_ENVIRONMENT_HANDLE);
    env->odbc_version = SQL_OV_ODBC2;
    try {
        env->list_lock = new SpkLock;
        env->lock = new SpkLock;
        env->log_lock = new SpkLock;
    } catch (...) {
        delete env->list_lock;
        delete env->lock;
        free(env);
        throw;
    }
    spk_tls_layer_init();
    return env;
}

SpkConnection *spk_conn_new(SpkEnvironment *env, int version) {
    SpkConnection *conn = spk_handle_calloc<SpkConnection>(SPK_CONNECTION_HANDLE);
    conn->log_flags = env->log_flags;
    conn->parent = env;
    conn->odbc_version = env->odbc_version == SQL_OV_ODBC2 ? SQL_OV_ODBC2 : version;
    conn->col_length = 256;
    spk_conn_attrs_init(&conn->attrs);
    try {
        conn->child_lock = new SpkLock;
        conn->lock = new SpkLock;
        conn->transport_lock = new std::recursive_mutex;
    } catch (...) {
        delete conn->child_lock;
        delete conn->lock;
        free(conn);
        throw;
    }
    std::lock_guard<SpkLock> g(*env->list_lock);
    conn->next = env->connections;
    env->connections = conn;
    return conn;
}

static void spk_link_child(SpkConnection *conn, SpkHandle *child) {
    std::lock_guard<SpkLock> g(*conn->child_lock);
    child->next = conn->children;
    conn->children = child;
}

static void spk_unlink_child(SpkConnection *conn, SpkHandle *child) {
    std::lock_guard<SpkLock> g(*conn->child_lock);
    for (SpkHandle **p = &conn->children; *p; p = &(*p)->next) {
        if (*p == child) {
            *p = child->next;
            break;
        }
    }
}

SpkDescriptor *spk_desc_new(SpkConnection *conn, SpkStatement *owner, int application) {
    SpkDescriptor *d = spk_handle_calloc<SpkDescriptor>(SPK_DESCRIPTOR_HANDLE);
    d->log_flags = conn->log_flags;
    d->parent = conn;
    d->implicit = owner != nullptr;
    d->application = application;
    d->bind_type = conn->attrs.bind_type;
    d->array_size = 1;
    d->owner = owner;
    spk_field_init_bookmark(&d->bookmark_record);
    try {
        d->lock = new SpkLock;
    } catch (...) {
        free(d);
        throw;
    }
    spk_link_child(conn, d);
    return d;
}

SpkStatement *spk_stmt_new(SpkConnection *conn) {
    SpkStatement *s = spk_handle_calloc<SpkStatement>(SPK_STATEMENT_HANDLE);
    s->log_flags = conn->log_flags;
    s->parent = conn;
    try {
        s->lock = new SpkLock;
        if (spk_hook_init_execution(s) != 0) throw std::bad_alloc();
        s->implicit_ird = spk_desc_new(conn, s, 0);
        s->implicit_ard = spk_desc_new(conn, s, 1);
        s->implicit_ipd = spk_desc_new(conn, s, 0);
        s->implicit_apd = spk_desc_new(conn, s, 1);
    } catch (...) {
        if (s->implicit_ird) spk_desc_free(s->implicit_ird, true);
        if (s->implicit_ard) spk_desc_free(s->implicit_ard, true);
        if (s->implicit_ipd) spk_desc_free(s->implicit_ipd, true);
        spk_hook_release_execution(s);
        delete s->lock;
        free(s);
        throw;
    }
    s->ird = s->implicit_ird;
    s->ard = s->implicit_ard;
    s->ipd = s->implicit_ipd;
    s->apd = s->implicit_apd;
    s->where_offset = s->group_offset = s->having_offset = s->order_offset = s->limit_offset = -1;
    s->values_offset = -1;
    s->existing_limit = -1;
    s->dae_current = -1;

    spk_stmt_attrs_from_conn(&s->attrs, &conn->attrs);

    spk_link_child(conn, s);
    return s;
}

// ---------------------------------------------------------------------------
// Freeing

void spk_desc_unbind(SpkDescriptor *d) {
    spk_desc_shrink(d, 0);
    spk_field_clear(&d->bookmark_record);
    d->bookmark_record.bound_c_type = 0;
}

void spk_desc_free(SpkDescriptor *d, bool unlink) {
    spk_clear_errors(d);
    SpkStatement *owner = d->owner;
    if (owner && !d->implicit) {
        if (owner->apd == d)
            owner->apd = owner->implicit_apd;
        else if (owner->ard == d)
            owner->ard = owner->implicit_ard;
    }
    for (int i = 0; i < d->count; i++) spk_field_destroy(&d->records[i]);
    free(d->records);
    spk_field_destroy(&d->bookmark_record);
    if (unlink) spk_unlink_child((SpkConnection *)d->parent, d);
    delete d->lock;
    d->tag = 0;
    free(d);
}


void spk_stmt_free(SpkStatement *s, bool unlink) {
    spk_clear_errors(s);
    if (s->ard && !s->ard->implicit) s->ard->owner = nullptr;
    if (s->apd && !s->apd->implicit) s->apd->owner = nullptr;
    SpkConnection *conn = (SpkConnection *)s->parent;
    SpkDescriptor *implicit[4] = {s->implicit_ird, s->implicit_ipd, s->implicit_ard, s->implicit_apd};
    for (SpkDescriptor *d : implicit) {
        // Unlinked here under the connection's list lock unless the whole
        // connection is going away (then the list itself is being walked).
        if (d) spk_desc_free(d, unlink);
    }
    spk_hook_release_execution(s);
    spk_str_free(s->cursor_name);
    if (unlink) spk_unlink_child(conn, s);
    delete s->lock;
    s->tag = 0;
    free(s);
}

void spk_conn_free_children(SpkConnection *conn) {
    // Statements first: they free their own implicit descriptors, which
    // are also in this list, so walk from the head each time.
    for (;;) {
        SpkHandle *h = conn->children;
        while (h && h->tag != SPK_STATEMENT_HANDLE) h = h->next;
        if (!h) break;
        SpkStatement *s = (SpkStatement *)h;
        spk_stmt_free(s, true);
    }
    while (conn->children) {
        SpkHandle *h = conn->children;
        conn->children = h->next;
        spk_desc_free((SpkDescriptor *)h, false);
    }
}

void spk_settings_texts_free(SpkConnection *conn) {
    SpkString **texts[] = {&conn->dsn,     &conn->uid,           &conn->pwd,
                           &conn->server,  &conn->certificate_file, &conn->http_uri,
                           &conn->gss_lib, &conn->krb_principle,  &conn->access_token,
                           &conn->database, &conn->driver};
    for (SpkString **t : texts) {
        spk_str_free(*t);
        *t = nullptr;
    }
}

// The Thrift objects of a connection (defined by the protocol layer).
void spk_transport_stack_free(SpkConnection *conn);

void spk_conn_reset(SpkConnection *conn) {
    spk_settings_texts_free(conn);
    conn->connected = 0;
    conn->encrypt = 0;
    conn->trust_server_certificate = 0;
    conn->authentication = 0;
    conn->transport_kind = 0;
    conn->gss_flag = 0;
    spk_conn_attrs_init(&conn->attrs);
    spk_transport_stack_free(conn);
}

void spk_conn_free(SpkConnection *conn, bool unlink) {
    spk_conn_free_children(conn);
    spk_clear_errors(conn);
    spk_settings_texts_free(conn);
    spk_transport_stack_free(conn);
    if (unlink) {
        SpkEnvironment *env = (SpkEnvironment *)conn->parent;
        std::lock_guard<SpkLock> g(*env->list_lock);
        for (SpkConnection **p = &env->connections; *p; p = (SpkConnection **)&(*p)->next) {
            if (*p == conn) {
                *p = (SpkConnection *)conn->next;
                break;
            }
        }
    }
    delete conn->child_lock;
    delete conn->lock;
    delete conn->transport_lock;
    conn->tag = 0;
    free(conn);
}

void spk_env_free(SpkEnvironment *env) {
    spk_tls_layer_shutdown();
    {
        std::lock_guard<SpkLock> g(*env->list_lock);
        while (env->connections) {
            SpkConnection *c = env->connections;
            env->connections = (SpkConnection *)c->next;
            spk_conn_free(c, false);
        }
    }
    spk_clear_errors(env);
    delete env->list_lock;
    delete env->lock;
    delete env->log_lock;
    env->tag = 0;
    free(env);
}

// Replaced by the protocol layer's definition once it is linked in.
__attribute__((weak)) void spk_transport_stack_free(SpkConnection *) {}
