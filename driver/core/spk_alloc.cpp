// The shared bodies of the allocation and freeing exports.
#include "spk_alloc.h"

#include "spk_frame.h"
#include "spk_handle.h"
#include "spk_stmt_hooks.h"

static const char *spk_expected_parent(SQLSMALLINT type) {
    return type == SQL_HANDLE_DBC ? "SPK_ENVIRONMENT_HANDLE" : "SPK_CONNECTION_HANDLE";
}

SQLRETURN spk_alloc_handle(SQLSMALLINT type, SQLHANDLE input, SQLHANDLE *output, int conn_version) {
    return spk_guard(SQL_ERROR, [&]() -> SQLRETURN {
        SpkHandle *in = static_cast<SpkHandle *>(input);
        if (type != SQL_HANDLE_ENV) {
            // Posting needs a live handle of some kind.
            if (!in || (in->tag != SPK_ENVIRONMENT_HANDLE && in->tag != SPK_CONNECTION_HANDLE &&
                        in->tag != SPK_STATEMENT_HANDLE && in->tag != SPK_DESCRIPTOR_HANDLE))
                return SQL_INVALID_HANDLE;
        }
        if (in && (in->log_flags & LOG_ENTRY))
            spk_log(in, __FILE__, __LINE__, LOG_ENTRY, "SQLAllocHandle: input_handle=%p, handle type=%d", in,
                    (int)type);
        if (!output) {
            if (!in) return SQL_ERROR;
            SPK_LOG(in, LOG_ERROR, "SQLAllocHandle: output handle NULL");
            return spk_post_error(in, "HY009", 0, nullptr);
        }
        try {
            switch (type) {
            case SQL_HANDLE_ENV:
                *output = spk_env_new();
                break;
            case SQL_HANDLE_DBC:
                if (in->tag != SPK_ENVIRONMENT_HANDLE) {
                    SPK_LOG(in, LOG_ERROR, "SQLAllocHandle: input handle %p is not of type %s, its %d", in,
                            spk_expected_parent(type), (int)in->tag);
                    return spk_post_error(in, "HY000", 0, "Invalid input handle passed to SQLAllocHandle");
                }
                *output = spk_conn_new((SpkEnvironment *)in, conn_version);
                SPK_LOG(in, LOG_DETAIL, "SQLAllocHandle: allocated new connection %p", *output);
                break;
            case SQL_HANDLE_STMT:
            case SQL_HANDLE_DESC:
                if (in->tag != SPK_CONNECTION_HANDLE) {
                    SPK_LOG(in, LOG_ERROR, "SQLAllocHandle: input handle %p is not of type %s, its %d", in,
                            spk_expected_parent(type), (int)in->tag);
                    return spk_post_error(in, "HY000", 0, "Invalid input handle passed to SQLAllocHandle");
                }
                {
                    // Statements and descriptors join the connection's list;
                    // the connection's lock keeps this apart from a disconnect.
                    SpkConnection *conn = (SpkConnection *)in;
                    std::lock_guard<SpkLock> g(*conn->lock);
                    if (type == SQL_HANDLE_STMT) {
                        *output = spk_stmt_new(conn);
                        SPK_LOG(in, LOG_DETAIL, "SQLAllocHandle: allocated new statement %p", *output);
                    } else {
                        *output = spk_desc_new(conn, nullptr, 1);
                        SPK_LOG(in, LOG_DETAIL, "SQLAllocHandle: allocated new descriptor %p", *output);
                    }
                }
                break;
            default:
                if (in) SPK_LOG(in, LOG_ERROR, "SQLAllocHandle: unexpected handle type %d", (int)type);
                if (in) return spk_post_error(in, "HY092", 0, "unexpected handle type %d", (int)type);
                return SQL_ERROR;
            }
        } catch (const std::bad_alloc &) {
            if (in) return spk_post_error(in, "HY001", 0, nullptr);
            return SQL_ERROR;
        }
        if (in) SPK_LOG(in, LOG_EXIT, "SQLAllocHandle: return value=%d", (int)SQL_SUCCESS);
        return SQL_SUCCESS;
    });
}

SQLRETURN spk_free_handle(SQLSMALLINT type, SQLHANDLE handle) {
    return spk_guard(SQL_ERROR, [&]() -> SQLRETURN {
        SpkHandle *h = static_cast<SpkHandle *>(handle);
        if (!h) return SQL_INVALID_HANDLE;
        uint32_t want;
        switch (type) {
        case SQL_HANDLE_ENV: want = SPK_ENVIRONMENT_HANDLE; break;
        case SQL_HANDLE_DBC: want = SPK_CONNECTION_HANDLE; break;
        case SQL_HANDLE_STMT: want = SPK_STATEMENT_HANDLE; break;
        case SQL_HANDLE_DESC: want = SPK_DESCRIPTOR_HANDLE; break;
        default:
            if (spk_handle_lock(h) == nullptr) return SQL_INVALID_HANDLE;   // not a handle of ours
            spk_clear_errors(h);
            SPK_LOG(h, LOG_ERROR, "SQLFreeHandle: unexpeceted handle type %d", (int)type);
            return spk_post_error(h, "HY092", 0, "unexpected handle type %d", (int)type);
        }
        if (h->tag != want) return SQL_INVALID_HANDLE;
        spk_clear_errors(h);
        SPK_ENTRY(h, "SQLFreeHandle: input_handle=%p, handle type=%d", h, (int)type);
        SpkHandle *parent = h->parent;
        switch (type) {
        case SQL_HANDLE_ENV:
            spk_env_free((SpkEnvironment *)h);
            return SQL_SUCCESS;
        case SQL_HANDLE_DBC:
            spk_conn_free((SpkConnection *)h, true);
            break;
        case SQL_HANDLE_STMT: {
            SpkStatement *s = (SpkStatement *)h;
            {
                std::lock_guard<SpkLock> g(*s->lock);
                spk_hook_close_stmt(s, 1);
            }
            std::lock_guard<SpkLock> g(*((SpkConnection *)parent)->lock);
            spk_stmt_free(s, true);
            break;
        }
        case SQL_HANDLE_DESC: {
            SpkDescriptor *d = (SpkDescriptor *)h;
            if (d->implicit) {
                SQLRETURN rc = spk_post_error(d, "HY017", 0, nullptr);
                SPK_LOG(d, LOG_EXIT, "SQLFreeHandle: return value=%d", (int)rc);
                return rc;
            }
            std::lock_guard<SpkLock> g(*((SpkConnection *)parent)->lock);
            // An owning statement's lock keeps it from using the descriptor
            // while it is switched back to the implicit one.
            spk_desc_free(d, true);
            break;
        }
        }
        SPK_LOG(parent, LOG_EXIT, "SQLFreeHandle: return value=%d", (int)SQL_SUCCESS);
        return SQL_SUCCESS;
    });
}
