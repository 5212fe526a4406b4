// Connection and statement attributes, ODBC 2 options and cursor names.
//
// Every attribute is one row of CONN_ATTRS or STMT_ATTRS: where its value
// lives, the width of the stored field, what a setter does with a new value
// and how many bytes the getters store.  The code below only interprets the
// rows.  Integer values are stored in fields of 32 or 64 bits; a value that
// does not fit a 32-bit field is refused rather than cut, and getters
// zero-extend, so whatever is set reads back unchanged.
#include "core/spk_attr.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <atomic>
#include <cstring>

#include "core/spk_err.h"
#include "core/spk_handle.h"
#include "core/spk_log.h"
#include "connect/spk_logon.h"

namespace {

// ---------------------------------------------------------------------------
// Raw field access

// `size` is the size of the struct at `base`: a field outside it (a table
// row without one) reads as 0 and is never written.
uint64_t load_field(const void *base, size_t size, int offset, int width) {
    if (offset < 0 || (size_t)offset + (width == 4 ? 4 : 8) > size) return 0;
    const char *p = static_cast<const char *>(base) + offset;
    if (width == 4) {
        uint32_t v;
        memcpy(&v, p, sizeof v);
        return v;
    }
    uint64_t v;
    memcpy(&v, p, sizeof v);
    return v;
}

void store_field(void *base, size_t size, int offset, int width, uint64_t value) {
    if (offset < 0 || (size_t)offset + (width == 4 ? 4 : 8) > size) return;
    char *p = static_cast<char *>(base) + offset;
    if (width == 4) {
        uint32_t v = (uint32_t)value;
        memcpy(p, &v, sizeof v);
    } else {
        memcpy(p, &value, sizeof value);
    }
}

// An integer answer in the application's buffer, `width` bytes.
void put_int(void *out, int width, uint64_t value) {
    if (!out) return;
    if (width == 4) {
        uint32_t v = (uint32_t)value;
        memcpy(out, &v, sizeof v);
    } else {
        memcpy(out, &value, sizeof value);
    }
}

bool fits(int width, uint64_t value) { return width != 4 || value <= UINT32_MAX; }

// ---------------------------------------------------------------------------
// Connection attributes

enum ConnSet : uint8_t {
    CS_UNKNOWN,      // not a connection attribute: HY092
    CS_STORE,
    CS_AUTOCOMMIT,   // store; commits pending work when switched on
    CS_TXN,          // 1, 2, 4 or 8; anything else HY024
    CS_NO_EFFECT,    // accepted, nothing changes
    CS_RESET,        // SQL_ATTR_RESET_CONNECTION
    CS_REFUSE,       // known but read-only: HY092
    CS_AUTO_IPD,     // 0 accepted; anything else HY092
};

enum ConnGet : uint8_t {
    CG_UNKNOWN,      // HY092 "unexpected attribute"
    CG_INT,          // the stored field
    CG_INTERNAL,     // HY000 "unexpected internal error ..."
    CG_CATALOG,      // the current catalog: the session's current database
    CG_REFUSE,       // HY092
    CG_ZERO,         // 0
    CG_DEAD,         // SQL_CD_TRUE unless connected
};

enum Odbc2Set : uint8_t {
    O2S_UNKNOWN,     // S1092
    O2S_AS_ATTR,     // as SQLSetConnectAttr
    O2S_NO_EFFECT,
    O2S_TXN,         // S1009 for a bad level
    O2S_PACKET,      // at least 512, never while connected
};

enum Odbc2Get : uint8_t {
    O2G_UNKNOWN,     // S1092
    O2G_INT,
    O2G_CATALOG,     // one NUL byte
};

struct ConnAttr {
    int32_t id;
    const char *name;
    int16_t offset;        // into SpkConnAttrs; -1: nothing stored
    uint8_t field_width;   // 4 or 8
    ConnSet set;
    ConnGet get;
    uint8_t get_width;     // bytes stored by SQLGetConnectAttr(W)
    uint8_t reset;         // back to its initial value on SQL_ATTR_RESET_CONNECTION
    Odbc2Set o2_set;
    Odbc2Get o2_get;
    uint8_t o2_width;      // bytes stored by SQLGetConnectOption
};

#define CF(field) (int16_t) offsetof(SpkConnAttrs, field), (uint8_t)sizeof(SpkConnAttrs::field)
#define NO_FIELD -1, 0

// Statement defaults first (they are also statement attributes), then the
// connection's own attributes.  ODBC 2 callers get 64 bits only for the
// options ODBC widened to SQLULEN (max rows, max length, keyset and rowset
// size) and for the quiet-mode window handle; everything else is a 32-bit
// value there.
const ConnAttr CONN_ATTRS[] = {
    {SQL_ATTR_QUERY_TIMEOUT, "SQL_ATTR_QUERY_TIMEOUT", CF(query_timeout), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_MAX_ROWS, "SQL_ATTR_MAX_ROWS", CF(max_rows), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 8},
    {SQL_ATTR_NOSCAN, "SQL_ATTR_NOSCAN", CF(noscan), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_MAX_LENGTH, "SQL_ATTR_MAX_LENGTH", CF(max_length), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 8},
    {SQL_ATTR_ASYNC_ENABLE, "SQL_ATTR_ASYNC_ENABLE", CF(async_enable), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_ROW_BIND_TYPE, "SQL_ATTR_ROW_BIND_TYPE", CF(bind_type), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_CURSOR_TYPE, "SQL_ATTR_CURSOR_TYPE", CF(cursor_type), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_CONCURRENCY, "SQL_ATTR_CONCURRENCY", CF(concurrency), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_KEYSET_SIZE, "SQL_ATTR_KEYSET_SIZE", CF(keyset_size), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 8},
    {SQL_ROWSET_SIZE, "SQL_ROWSET_SIZE", CF(rowset_size), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 8},
    {SQL_ATTR_SIMULATE_CURSOR, "SQL_ATTR_SIMULATE_CURSOR", CF(simulate_cursor), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR,
     O2G_INT, 4},
    {SQL_ATTR_RETRIEVE_DATA, "SQL_ATTR_RETRIEVE_DATA", CF(retrieve_data), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_USE_BOOKMARKS, "SQL_ATTR_USE_BOOKMARKS", CF(use_bookmarks), CS_STORE, CG_INT, 8, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_ACCESS_MODE, "SQL_ATTR_ACCESS_MODE", CF(access_mode), CS_STORE, CG_INT, 4, 1, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_AUTOCOMMIT, "SQL_ATTR_AUTOCOMMIT", CF(autocommit), CS_AUTOCOMMIT, CG_INT, 4, 0, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_LOGIN_TIMEOUT, "SQL_ATTR_LOGIN_TIMEOUT", CF(login_timeout), CS_STORE, CG_INT, 4, 0, O2S_AS_ATTR, O2G_INT, 4},
    {SQL_ATTR_TRACE, "SQL_ATTR_TRACE", NO_FIELD, CS_NO_EFFECT, CG_INTERNAL, 0, 0, O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_TRACEFILE, "SQL_ATTR_TRACEFILE", NO_FIELD, CS_NO_EFFECT, CG_INTERNAL, 0, 0, O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_TRANSLATE_LIB, "SQL_ATTR_TRANSLATE_LIB", NO_FIELD, CS_NO_EFFECT, CG_INTERNAL, 0, 0, O2S_UNKNOWN,
     O2G_UNKNOWN, 0},
    {SQL_ATTR_TRANSLATE_OPTION, "SQL_ATTR_TRANSLATE_OPTION", NO_FIELD, CS_NO_EFFECT, CG_INTERNAL, 0, 0, O2S_UNKNOWN,
     O2G_UNKNOWN, 0},
    {SQL_ATTR_TXN_ISOLATION, "SQL_ATTR_TXN_ISOLATION", CF(txn_isolation), CS_TXN, CG_INT, 4, 1, O2S_TXN, O2G_INT, 4},
    {SQL_ATTR_CURRENT_CATALOG, "SQL_ATTR_CURRENT_CATALOG", NO_FIELD, CS_NO_EFFECT, CG_CATALOG, 0, 0, O2S_NO_EFFECT,
     O2G_CATALOG, 0},
    {SQL_ATTR_QUIET_MODE, "SQL_ATTR_QUIET_MODE", CF(quiet_mode), CS_STORE, CG_INT, 8, 0, O2S_AS_ATTR, O2G_INT, 8},
    {SQL_ATTR_PACKET_SIZE, "SQL_ATTR_PACKET_SIZE", CF(packet_size), CS_STORE, CG_INT, 4, 1, O2S_PACKET, O2G_INT, 4},
    {SQL_ATTR_CONNECTION_TIMEOUT, "SQL_ATTR_CONNECTION_TIMEOUT", CF(connection_timeout), CS_STORE, CG_INT, 4, 0,
     O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_ANSI_APP, "SQL_ATTR_ANSI_APP", NO_FIELD, CS_NO_EFFECT, CG_INTERNAL, 0, 0, O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_RESET_CONNECTION, "SQL_ATTR_RESET_CONNECTION", NO_FIELD, CS_RESET, CG_REFUSE, 0, 0, O2S_UNKNOWN,
     O2G_UNKNOWN, 0},
    {SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE, "SQL_ATTR_ASYNC_DBC_FUNCTIONS_ENABLE", NO_FIELD, CS_REFUSE, CG_ZERO, 4, 0,
     O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {120, "attribute 120", NO_FIELD, CS_REFUSE, CG_ZERO, 8, 0, O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {1041, "attribute 1041", NO_FIELD, CS_NO_EFFECT, CG_REFUSE, 0, 0, O2S_NO_EFFECT, O2G_UNKNOWN, 0},
    {1042, "attribute 1042", NO_FIELD, CS_NO_EFFECT, CG_REFUSE, 0, 0, O2S_NO_EFFECT, O2G_UNKNOWN, 0},
    {1051, "option 1051", NO_FIELD, CS_UNKNOWN, CG_UNKNOWN, 0, 0, O2S_NO_EFFECT, O2G_UNKNOWN, 0},
    {1061, "attribute 1061", NO_FIELD, CS_NO_EFFECT, CG_REFUSE, 0, 0, O2S_NO_EFFECT, O2G_UNKNOWN, 0},
    {1064, "attribute 1064", NO_FIELD, CS_NO_EFFECT, CG_REFUSE, 0, 0, O2S_NO_EFFECT, O2G_UNKNOWN, 0},
    {30002, "attribute 30002", NO_FIELD, CS_NO_EFFECT, CG_REFUSE, 0, 0, O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_ENLIST_IN_DTC, "SQL_ATTR_ENLIST_IN_DTC", CF(attr_1207), CS_STORE, CG_REFUSE, 0, 0, O2S_AS_ATTR,
     O2G_UNKNOWN, 0},
    {SQL_ATTR_ENLIST_IN_XA, "SQL_ATTR_ENLIST_IN_XA", CF(attr_1208), CS_STORE, CG_REFUSE, 0, 0, O2S_AS_ATTR,
     O2G_UNKNOWN, 0},
    {SQL_ATTR_CONNECTION_DEAD, "SQL_ATTR_CONNECTION_DEAD", NO_FIELD, CS_REFUSE, CG_DEAD, 4, 0, O2S_UNKNOWN,
     O2G_UNKNOWN, 0},
    {SQL_ATTR_AUTO_IPD, "SQL_ATTR_AUTO_IPD", CF(auto_ipd), CS_AUTO_IPD, CG_INT, 4, 0, O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_METADATA_ID, "SQL_ATTR_METADATA_ID", CF(metadata_id), CS_STORE, CG_INT, 4, 1, O2S_UNKNOWN, O2G_UNKNOWN,
     0},
    {SQL_ATTR_CURSOR_SCROLLABLE, "SQL_ATTR_CURSOR_SCROLLABLE", CF(cursor_scrollable), CS_STORE, CG_INT, 8, 1,
     O2S_UNKNOWN, O2G_UNKNOWN, 0},
    {SQL_ATTR_CURSOR_SENSITIVITY, "SQL_ATTR_CURSOR_SENSITIVITY", CF(cursor_sensitivity), CS_STORE, CG_INT, 8, 1,
     O2S_UNKNOWN, O2G_UNKNOWN, 0},
};

#undef CF
#undef NO_FIELD

const ConnAttr *find_conn_attr(long id) {
    for (const ConnAttr &a : CONN_ATTRS)
        if (a.id == id) return &a;
    return nullptr;
}

// Stores an accepted value of a CS_STORE / CS_AUTOCOMMIT / CS_TXN /
// CS_AUTO_IPD row.  `bad_value` is the state for a value the attribute
// cannot take (HY024, or S1009 for the ODBC 2 calls).
SQLRETURN set_conn_value(SpkConnection *conn, const ConnAttr *a, uint64_t v, const char *fn, const char *bad_value) {
    switch (a->set) {
    case CS_TXN:
        if (v != SQL_TXN_READ_UNCOMMITTED && v != SQL_TXN_READ_COMMITTED && v != SQL_TXN_REPEATABLE_READ &&
            v != SQL_TXN_SERIALIZABLE) {
            SPK_LOG(conn, LOG_ERROR, "%s: TXN_ISOLATION value %l", fn, (long long)v);
            return spk_post_error(conn, bad_value, 0, nullptr);
        }
        break;
    case CS_AUTO_IPD:
        if (v != 0) {
            SPK_LOG(conn, LOG_ERROR, "%s: SQL_ATTR_AUTO_IPD can only be set to 0", fn);
            return spk_post_error(conn, "HY092", 0, nullptr);
        }
        break;
    case CS_AUTOCOMMIT:
    case CS_STORE: break;
    default: return spk_post_error(conn, "HY000", 0, "%s: attribute %d is not stored", fn, (int)a->id);
    }
    if (!fits(a->field_width, v)) {
        SPK_LOG(conn, LOG_ERROR, "%s: value %l does not fit %s", fn, (long long)v, a->name);
        return spk_post_error(conn, bad_value, 0, "%s value %l does not fit in 32 bits", a->name, (long long)v);
    }
    if (a->set == CS_AUTOCOMMIT && conn->connected && conn->attrs.autocommit == SQL_AUTOCOMMIT_OFF &&
        v == SQL_AUTOCOMMIT_ON) {
        // Statements run in autocommit mode on the server, so there is never
        // pending work to commit here.
        SPK_LOG(conn, LOG_DETAIL, "%s: autocommit switched on, nothing pending to commit", fn);
    }
    store_field(&conn->attrs, sizeof conn->attrs, a->offset, a->field_width, v);
    SPK_LOG(conn, LOG_DETAIL, "%s: setting %s to %l", fn, a->name, (long long)v);
    return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Statement attributes

enum StmtWhere : uint8_t {
    SW_FIELD,        // a field of SpkStmtAttrs
    SW_DESC,         // a header field of one of the current descriptors
    SW_DESC_HANDLE,  // the current descriptor itself
    SW_ROW_NUMBER,   // the fetch code's row number
    SW_ZERO,         // reads as 0
};

enum StmtSet : uint8_t {
    SS_STORE,
    SS_CURSOR_TYPE,
    SS_CONCURRENCY,
    SS_SENSITIVITY,
    SS_SCROLLABLE,
    SS_ROWSET_SIZE,  // 0 becomes 1; a change re-prepares
    SS_ARRAY_SIZE,   // likewise, on the ARD
    SS_NO_EFFECT,
    SS_ASSOCIATE,    // SQL_ATTR_APP_ROW_DESC / SQL_ATTR_APP_PARAM_DESC
    SS_IMPLEMENTATION,   // SQL_ATTR_IMP_*: HY017
    SS_REFUSE,       // HY092
};

enum DescSlot : uint8_t { D_NONE, D_ARD, D_APD, D_IRD, D_IPD };
enum DescHeader : uint8_t { H_NONE, H_BIND_TYPE, H_BIND_OFFSET_PTR, H_ARRAY_STATUS_PTR, H_ROWS_PROCESSED_PTR, H_ARRAY_SIZE };

struct StmtAttr {
    int32_t id;
    const char *name;
    StmtWhere where;
    int16_t offset;        // SW_FIELD: into SpkStmtAttrs
    uint8_t width;         // width of the stored value (4 or 8)
    DescSlot desc;         // SW_DESC, SW_DESC_HANDLE
    DescHeader header;     // SW_DESC
    StmtSet set;
    uint8_t get_width;     // bytes stored by SQLGetStmtAttr(W)
    uint8_t o2_width;      // bytes stored by SQLGetStmtOption; 0: not an ODBC 2 option
};

#define SF(field) SW_FIELD, (int16_t) offsetof(SpkStmtAttrs, field), (uint8_t)sizeof(SpkStmtAttrs::field), D_NONE, H_NONE
#define DH(slot, header, width) SW_DESC, -1, width, slot, header
#define DESC(slot) SW_DESC_HANDLE, -1, 8, slot, H_NONE

const StmtAttr STMT_ATTRS[] = {
    {SQL_ATTR_QUERY_TIMEOUT, "SQL_ATTR_QUERY_TIMEOUT", SF(query_timeout), SS_STORE, 8, 4},
    {SQL_ATTR_MAX_ROWS, "SQL_ATTR_MAX_ROWS", SF(max_rows), SS_STORE, 8, 8},
    {SQL_ATTR_NOSCAN, "SQL_ATTR_NOSCAN", SF(noscan), SS_STORE, 8, 4},
    {SQL_ATTR_MAX_LENGTH, "SQL_ATTR_MAX_LENGTH", SF(max_length), SS_STORE, 8, 8},
    {SQL_ATTR_ASYNC_ENABLE, "SQL_ATTR_ASYNC_ENABLE", SF(async_enable), SS_STORE, 8, 4},
    {SQL_ATTR_ROW_BIND_TYPE, "SQL_ATTR_ROW_BIND_TYPE", DH(D_ARD, H_BIND_TYPE, 4), SS_STORE, 8, 4},
    {SQL_ATTR_CURSOR_TYPE, "SQL_ATTR_CURSOR_TYPE", SF(cursor_type), SS_CURSOR_TYPE, 8, 4},
    {SQL_ATTR_CONCURRENCY, "SQL_ATTR_CONCURRENCY", SF(concurrency), SS_CONCURRENCY, 8, 4},
    {SQL_ATTR_KEYSET_SIZE, "SQL_ATTR_KEYSET_SIZE", SF(keyset_size), SS_STORE, 8, 8},
    {SQL_ROWSET_SIZE, "SQL_ROWSET_SIZE", SF(rowset_size), SS_ROWSET_SIZE, 8, 8},
    {SQL_ATTR_SIMULATE_CURSOR, "SQL_ATTR_SIMULATE_CURSOR", SF(simulate_cursor), SS_STORE, 8, 4},
    {SQL_ATTR_RETRIEVE_DATA, "SQL_ATTR_RETRIEVE_DATA", SF(retrieve_data), SS_STORE, 8, 4},
    {SQL_ATTR_USE_BOOKMARKS, "SQL_ATTR_USE_BOOKMARKS", SF(use_bookmarks), SS_STORE, 8, 4},
    {SQL_ATTR_ROW_NUMBER, "SQL_ATTR_ROW_NUMBER", SW_ROW_NUMBER, -1, 8, D_NONE, H_NONE, SS_NO_EFFECT, 8, 8},
    // An SQLUINTEGER in ODBC: four bytes, not eight.
    {SQL_ATTR_ENABLE_AUTO_IPD, "SQL_ATTR_ENABLE_AUTO_IPD", SF(enable_auto_ipd), SS_STORE, 4, 0},
    {SQL_ATTR_FETCH_BOOKMARK_PTR, "SQL_ATTR_FETCH_BOOKMARK_PTR", SF(fetch_bookmark_ptr), SS_STORE, 8, 0},
    {SQL_ATTR_PARAM_BIND_OFFSET_PTR, "SQL_ATTR_PARAM_BIND_OFFSET_PTR", DH(D_APD, H_BIND_OFFSET_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_PARAM_BIND_TYPE, "SQL_ATTR_PARAM_BIND_TYPE", DH(D_APD, H_BIND_TYPE, 4), SS_STORE, 8, 0},
    {SQL_ATTR_PARAM_OPERATION_PTR, "SQL_ATTR_PARAM_OPERATION_PTR", DH(D_APD, H_ARRAY_STATUS_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_PARAM_STATUS_PTR, "SQL_ATTR_PARAM_STATUS_PTR", DH(D_IPD, H_ARRAY_STATUS_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_PARAMS_PROCESSED_PTR, "SQL_ATTR_PARAMS_PROCESSED_PTR", DH(D_IPD, H_ROWS_PROCESSED_PTR, 8), SS_STORE, 8,
     0},
    {SQL_ATTR_PARAMSET_SIZE, "SQL_ATTR_PARAMSET_SIZE", DH(D_APD, H_ARRAY_SIZE, 8), SS_STORE, 8, 0},
    {SQL_ATTR_ROW_BIND_OFFSET_PTR, "SQL_ATTR_ROW_BIND_OFFSET_PTR", DH(D_ARD, H_BIND_OFFSET_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_ROW_OPERATION_PTR, "SQL_ATTR_ROW_OPERATION_PTR", DH(D_ARD, H_ARRAY_STATUS_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_ROW_STATUS_PTR, "SQL_ATTR_ROW_STATUS_PTR", DH(D_IRD, H_ARRAY_STATUS_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_ROWS_FETCHED_PTR, "SQL_ATTR_ROWS_FETCHED_PTR", DH(D_IRD, H_ROWS_PROCESSED_PTR, 8), SS_STORE, 8, 0},
    {SQL_ATTR_ROW_ARRAY_SIZE, "SQL_ATTR_ROW_ARRAY_SIZE", DH(D_ARD, H_ARRAY_SIZE, 8), SS_ARRAY_SIZE, 8, 0},
    {SQL_ATTR_APP_ROW_DESC, "SQL_ATTR_APP_ROW_DESC", DESC(D_ARD), SS_ASSOCIATE, 8, 0},
    {SQL_ATTR_APP_PARAM_DESC, "SQL_ATTR_APP_PARAM_DESC", DESC(D_APD), SS_ASSOCIATE, 8, 0},
    {SQL_ATTR_IMP_ROW_DESC, "SQL_ATTR_IMP_ROW_DESC", DESC(D_IRD), SS_IMPLEMENTATION, 8, 0},
    {SQL_ATTR_IMP_PARAM_DESC, "SQL_ATTR_IMP_PARAM_DESC", DESC(D_IPD), SS_IMPLEMENTATION, 8, 0},
    {SQL_ATTR_METADATA_ID, "SQL_ATTR_METADATA_ID", SF(metadata_id), SS_STORE, 8, 0},
    {10022, "attribute 10022", SW_ZERO, -1, 8, D_NONE, H_NONE, SS_REFUSE, 8, 0},
    {SQL_ATTR_CURSOR_SCROLLABLE, "SQL_ATTR_CURSOR_SCROLLABLE", SF(cursor_scrollable), SS_SCROLLABLE, 8, 0},
    {SQL_ATTR_CURSOR_SENSITIVITY, "SQL_ATTR_CURSOR_SENSITIVITY", SF(cursor_sensitivity), SS_SENSITIVITY, 8, 0},
};

#undef SF
#undef DH
#undef DESC

const StmtAttr *find_stmt_attr(long id) {
    for (const StmtAttr &a : STMT_ATTRS)
        if (a.id == id) return &a;
    return nullptr;
}

SpkDescriptor *current_desc(const SpkStatement *stmt, DescSlot slot) {
    switch (slot) {
    case D_ARD: return stmt->ard;
    case D_APD: return stmt->apd;
    case D_IRD: return stmt->ird;
    case D_IPD: return stmt->ipd;
    default: return nullptr;
    }
}

uint64_t desc_header(const SpkDescriptor *d, DescHeader h) {
    if (!d) return 0;
    switch (h) {
    case H_BIND_TYPE: return d->bind_type;
    case H_BIND_OFFSET_PTR: return (uintptr_t)d->bind_offset_ptr;
    case H_ARRAY_STATUS_PTR: return (uintptr_t)d->array_status_ptr;
    case H_ROWS_PROCESSED_PTR: return (uintptr_t)d->rows_processed_ptr;
    case H_ARRAY_SIZE: return d->array_size;
    default: return 0;
    }
}

void set_desc_header(SpkDescriptor *d, DescHeader h, uint64_t v) {
    switch (h) {
    case H_BIND_TYPE: d->bind_type = (uint32_t)v; break;
    case H_BIND_OFFSET_PTR: d->bind_offset_ptr = (void *)(uintptr_t)v; break;
    case H_ARRAY_STATUS_PTR: d->array_status_ptr = (void *)(uintptr_t)v; break;
    case H_ROWS_PROCESSED_PTR: d->rows_processed_ptr = (void *)(uintptr_t)v; break;
    case H_ARRAY_SIZE: d->array_size = v; break;
    default: break;
    }
}

uint64_t read_stmt_value(const SpkStatement *stmt, const StmtAttr *a) {
    switch (a->where) {
    case SW_FIELD: return load_field(&stmt->attrs, sizeof stmt->attrs, a->offset, a->width);
    case SW_DESC: return desc_header(current_desc(stmt, a->desc), a->header);
    case SW_DESC_HANDLE: return (uintptr_t)current_desc(stmt, a->desc);
    case SW_ROW_NUMBER: return (uint64_t)stmt->row_number;
    case SW_ZERO: return 0;
    }
    return 0;
}

void write_stmt_value(SpkStatement *stmt, const StmtAttr *a, uint64_t v) {
    if (a->where == SW_FIELD)
        store_field(&stmt->attrs, sizeof stmt->attrs, a->offset, a->width, v);
    else if (a->where == SW_DESC) {
        SpkDescriptor *d = current_desc(stmt, a->desc);
        if (d) set_desc_header(d, a->header, v);
    }
}

// The cursor attributes.  Results are read forward once, so the only cursor
// is forward-only, read-only and insensitive: another cursor type or
// concurrency is changed to that one with 01S02; asking for a scrollable or
// sensitive cursor is refused with HYC00.
SQLRETURN set_cursor_attr(SpkStatement *stmt, StmtSet which, uint32_t v, const char *fn) {
    SpkStmtAttrs &c = stmt->attrs;
    switch (which) {
    case SS_CURSOR_TYPE:
    case SS_CONCURRENCY: {
        bool type = which == SS_CURSOR_TYPE;
        uint32_t supported = type ? SQL_CURSOR_FORWARD_ONLY : SQL_CONCUR_READ_ONLY;
        (type ? c.cursor_type : c.concurrency) = supported;
        if (v != supported) {
            SPK_LOG(stmt, LOG_DETAIL, "%s: %s %d changed to %d", fn, type ? "cursor type" : "concurrency", (int)v,
                    (int)supported);
            return spk_post_error(stmt, "01S02", 0, "Option value changed");
        }
        return SQL_SUCCESS;
    }
    case SS_SENSITIVITY:
        if (v == SQL_SENSITIVE) {
            SPK_LOG(stmt, LOG_ERROR, "%s: sensitive cursors are not supported", fn);
            return spk_post_error(stmt, "HYC00", 0, nullptr);
        }
        c.cursor_sensitivity = v;
        return SQL_SUCCESS;
    case SS_SCROLLABLE:
        if (v == SQL_SCROLLABLE) {
            SPK_LOG(stmt, LOG_ERROR, "%s: scrollable cursors are not supported", fn);
            return spk_post_error(stmt, "HYC00", 0, nullptr);
        }
        c.cursor_scrollable = v;
        return SQL_SUCCESS;
    default: return SQL_SUCCESS;
    }
}

// A statement's ARD or APD slot and its own implicit descriptor for it.
struct AppSlot {
    SpkDescriptor **current;
    SpkDescriptor **other;     // the other application descriptor slot
    SpkDescriptor *implicit;
};

AppSlot app_slot(SpkStatement *stmt, DescSlot slot) {
    if (slot == D_ARD) return {&stmt->ard, &stmt->apd, stmt->implicit_ard};
    return {&stmt->apd, &stmt->ard, stmt->implicit_apd};
}

// An explicit descriptor the statement stops using is free again.
void release_desc(SpkStatement *stmt, SpkDescriptor *d) {
    if (d && !d->implicit && d->owner == stmt) d->owner = nullptr;
}

SQLRETURN associate_desc(SpkStatement *stmt, const StmtAttr *a, void *value, const char *fn) {
    AppSlot slot = app_slot(stmt, a->desc);
    if (!value) {
        release_desc(stmt, *slot.current);
        *slot.current = slot.implicit;
        SPK_LOG(stmt, LOG_DETAIL, "%s: %s back to the implicit descriptor %p", fn, a->name, slot.implicit);
        return SQL_SUCCESS;
    }
    if (!spk_handle_is(value, SPK_DESCRIPTOR_HANDLE)) {
        SPK_LOG(stmt, LOG_ERROR, "%s: %p is not a descriptor handle", fn, value);
        return spk_post_error(stmt, "HY024", 0, "%s: %p is not a descriptor handle", a->name, value);
    }
    SpkDescriptor *d = static_cast<SpkDescriptor *>(value);
    if (d->implicit && d != slot.implicit) {
        SPK_LOG(stmt, LOG_ERROR, "%s: %p is an implicit descriptor of another statement or role", fn, d);
        return spk_post_error(stmt, "HY017", 0, nullptr);
    }
    if (d->parent != stmt->parent) {
        SPK_LOG(stmt, LOG_ERROR, "%s: descriptor %p belongs to another connection", fn, d);
        return spk_post_error(stmt, "HY024", 0, nullptr);
    }
    if (!d->implicit) {
        // One explicit descriptor serves one statement in one role at a time:
        // freeing it must be able to hand its user back the implicit one.
        if (d == *slot.other || (d->owner && d->owner != stmt)) {
            SPK_LOG(stmt, LOG_ERROR, "%s: descriptor %p is already in use by statement %p", fn, d, d->owner);
            return spk_post_error(stmt, "HY024", 0, "descriptor is already in use by a statement");
        }
    }
    release_desc(stmt, *slot.current);
    *slot.current = d;
    d->owner = stmt;
    SPK_LOG(stmt, LOG_DETAIL, "%s: %s set to %p", fn, a->name, d);
    return SQL_SUCCESS;
}

// The body shared by SQLSetStmtAttr(W) and SQLSetStmtOption.  The ODBC 2
// call reports bad values with its own state and never re-prepares.
SQLRETURN set_stmt_value(SpkStatement *stmt, const StmtAttr *a, void *value, const char *fn, bool odbc2) {
    uint64_t v = (uint64_t)(uintptr_t)value;
    const char *bad_value = odbc2 ? "S1009" : "HY024";
    switch (a->set) {
    case SS_NO_EFFECT:
        SPK_LOG(stmt, LOG_DETAIL, "%s: %s accepted, no effect", fn, a->name);
        return SQL_SUCCESS;
    case SS_REFUSE:
        SPK_LOG(stmt, LOG_ERROR, "%s: unexpected attribute %d", fn, (int)a->id);
        return spk_post_error(stmt, "HY092", 0, nullptr);
    case SS_IMPLEMENTATION:
        SPK_LOG(stmt, LOG_ERROR, "%s: %s cannot be set", fn, a->name);
        return spk_post_error(stmt, "HY017", 0, nullptr);
    case SS_ASSOCIATE: return associate_desc(stmt, a, value, fn);
    default: break;
    }
    if (!fits(a->width, v)) {
        SPK_LOG(stmt, LOG_ERROR, "%s: value %l does not fit %s", fn, (long long)v, a->name);
        return spk_post_error(stmt, bad_value, 0, "%s value %l does not fit in 32 bits", a->name, (long long)v);
    }
    switch (a->set) {
    case SS_CURSOR_TYPE:
    case SS_CONCURRENCY:
    case SS_SENSITIVITY:
    case SS_SCROLLABLE: {
        SQLRETURN rc = set_cursor_attr(stmt, a->set, (uint32_t)v, fn);
        if (rc != SQL_SUCCESS) return rc;
        break;
    }
    case SS_ROWSET_SIZE:
    case SS_ARRAY_SIZE:
        if (v == 0) v = 1;
        if (!odbc2 && spk_stmt_has_text(stmt) && v != read_stmt_value(stmt, a)) {
            SPK_LOG(stmt, LOG_DETAIL, "%s: %s changed on a prepared statement, parameters described again", fn,
                    a->name);
            stmt->re_prepare = 1;
        }
        write_stmt_value(stmt, a, v);
        break;
    default: write_stmt_value(stmt, a, v); break;
    }
    SPK_LOG(stmt, LOG_DETAIL, "%s: setting %s to %l", fn, a->name, (long long)v);
    return SQL_SUCCESS;
}

}  // namespace

// ---------------------------------------------------------------------------
// Connection attributes

SQLRETURN spk_set_connect_attr(SpkConnection *conn, const char *fn, SQLINTEGER attribute, SQLPOINTER value,
                               SQLINTEGER string_length) {
    (void)string_length;   // integers travel in `value`; the catalog text is not kept
    const ConnAttr *a = find_conn_attr(attribute);
    uint64_t v = (uint64_t)(uintptr_t)value;
    switch (a ? a->set : CS_UNKNOWN) {
    case CS_UNKNOWN:
        SPK_LOG(conn, LOG_ERROR, "%s: unexpected attribute %d", fn, (int)attribute);
        return spk_post_error(conn, "HY092", 0, nullptr);
    case CS_NO_EFFECT:
        SPK_LOG(conn, LOG_DETAIL, "%s: %s accepted, no effect", fn, a->name);
        return SQL_SUCCESS;
    case CS_RESET:
        SPK_LOG(conn, LOG_DETAIL, "%s: resetting the connection's attributes", fn);
        spk_conn_attrs_reset(conn);
        return SQL_SUCCESS;
    case CS_REFUSE:
        SPK_LOG(conn, LOG_ERROR, "%s: %s cannot be set", fn, a->name);
        return spk_post_error(conn, "HY092", 0, nullptr);
    default: return set_conn_value(conn, a, v, fn, "HY024");
    }
}

SQLRETURN spk_get_connect_attr(SpkConnection *conn, const char *fn, int wide, SQLINTEGER attribute, SQLPOINTER value,
                               SQLINTEGER buffer_length, SQLINTEGER *string_length) {
    const ConnAttr *a = find_conn_attr(attribute);
    uint64_t answer = 0;
    switch (a ? a->get : CG_UNKNOWN) {
    case CG_UNKNOWN:
        SPK_LOG(conn, LOG_ERROR, "%s: unexpected attribute %d", fn, (int)attribute);
        return spk_post_error(conn, "HY092", 0, nullptr);
    case CG_REFUSE:
        SPK_LOG(conn, LOG_ERROR, "%s: %s cannot be read", fn, a->name);
        return spk_post_error(conn, "HY092", 0, nullptr);
    case CG_INTERNAL:
        // Nothing is stored, so the call must not look successful.
        SPK_LOG(conn, LOG_ERROR, "%s: %s cannot be read", fn, a->name);
        return spk_post_error(conn, "HY000", 0, "unexpected internal error in %s, unknown type %d", fn, 0);
    case CG_CATALOG: {
        // The session's current database (empty when not connected).
        SpkString *db = nullptr;
        if (spk_get_current_database(conn, &db) != 0) return SQL_ERROR;
        long length = 0;
        SQLRETURN rc = wide ? spk_copy_wide_bytes(conn, db, value, buffer_length, &length)
                            : spk_copy_ansi(conn, db, value, buffer_length, &length);
        spk_str_free(db);
        if (string_length && rc != SQL_ERROR) *string_length = (SQLINTEGER)length;
        return rc;
    }
    case CG_INT: answer = load_field(&conn->attrs, sizeof conn->attrs, a->offset, a->field_width); break;
    case CG_ZERO: answer = 0; break;
    case CG_DEAD:
        // A link lost during any call kills the connection for good.
        answer = conn->connected && !std::atomic_ref<int32_t>(conn->link_lost).load() ? SQL_CD_FALSE : SQL_CD_TRUE;
        break;
    }
    put_int(value, a->get_width, answer);
    if (string_length) *string_length = a->get_width;
    SPK_LOG(conn, LOG_DETAIL, "%s: returning %s as %l", fn, a->name, (long long)answer);
    return SQL_SUCCESS;
}

SQLRETURN spk_set_connect_option(SpkConnection *conn, SQLUSMALLINT option, SQLULEN value) {
    const char *fn = "SQLSetConnectOption";
    const ConnAttr *a = find_conn_attr(option);
    uint64_t v = (uint64_t)value;
    switch (a ? a->o2_set : O2S_UNKNOWN) {
    case O2S_UNKNOWN:
        SPK_LOG(conn, LOG_ERROR, "SQLSetConnectOption: unexpected option %d", (int)option);
        return spk_post_error(conn, "S1092", 0, nullptr);
    case O2S_NO_EFFECT:
        SPK_LOG(conn, LOG_DETAIL, "SQLSetConnectOption: %s accepted, no effect", a->name);
        return SQL_SUCCESS;
    case O2S_TXN: return set_conn_value(conn, a, v, fn, "S1009");
    case O2S_PACKET:
        if (conn->connected) {
            SPK_LOG(conn, LOG_ERROR, "SQLSetConnectOption: cant set packet size when connected");
            return spk_post_error(conn, "S1011", 0, nullptr);
        }
        if (v < 512) {
            SPK_LOG(conn, LOG_ERROR, "SQLSetConnectOption: cant set packet size to %l, min is 512", (long long)v);
            return spk_post_error(conn, "01S02", 0, "Option value changed");
        }
        return set_conn_value(conn, a, v, fn, "S1009");
    case O2S_AS_ATTR: return set_conn_value(conn, a, v, fn, "S1009");
    }
    return spk_post_error(conn, "S1092", 0, nullptr);
}

SQLRETURN spk_get_connect_option(SpkConnection *conn, SQLUSMALLINT option, SQLPOINTER value) {
    const ConnAttr *a = find_conn_attr(option);
    switch (a ? a->o2_get : O2G_UNKNOWN) {
    case O2G_UNKNOWN:
        SPK_LOG(conn, LOG_ERROR, "SQLGetConnectOption: unexpected option %d", (int)option);
        return spk_post_error(conn, "S1092", 0, nullptr);
    case O2G_CATALOG:
        if (value) *static_cast<char *>(value) = 0;
        return SQL_SUCCESS;
    case O2G_INT: {
        uint64_t answer = load_field(&conn->attrs, sizeof conn->attrs, a->offset, a->field_width);
        put_int(value, a->o2_width, answer);
        SPK_LOG(conn, LOG_DETAIL, "SQLGetConnectOption: returning %s as %l", a->name, (long long)answer);
        return SQL_SUCCESS;
    }
    }
    return spk_post_error(conn, "S1092", 0, nullptr);
}

void spk_conn_attrs_reset(SpkConnection *conn) {
    SpkConnAttrs initial;
    spk_conn_attrs_init(&initial);
    for (const ConnAttr &a : CONN_ATTRS) {
        if (a.reset && a.offset >= 0)
            store_field(&conn->attrs, sizeof conn->attrs, a.offset, a.field_width, load_field(&initial, sizeof initial, a.offset, a.field_width));
    }
    conn->encrypt = 0;
    conn->trust_server_certificate = 0;
    conn->authentication = AUTH_NONE;
    conn->transport_kind = 0;   // no transport chosen
    spk_str_free(conn->certificate_file);
    conn->certificate_file = nullptr;
}

void spk_stmt_attrs_from_conn(SpkStmtAttrs *s, const SpkConnAttrs *c) {
    memset(s, 0, sizeof *s);
    s->query_timeout = c->query_timeout;
    s->max_rows = c->max_rows;
    s->noscan = c->noscan;
    s->max_length = c->max_length;
    s->async_enable = c->async_enable;
    s->cursor_type = c->cursor_type;
    s->concurrency = c->concurrency;
    s->keyset_size = c->keyset_size;
    s->rowset_size = c->rowset_size;
    s->simulate_cursor = c->simulate_cursor;
    s->retrieve_data = c->retrieve_data;
    s->use_bookmarks = c->use_bookmarks;
    s->cursor_scrollable = c->cursor_scrollable;
    s->cursor_sensitivity = c->cursor_sensitivity;
    s->enable_auto_ipd = c->auto_ipd;
}

// ---------------------------------------------------------------------------
// Statement attributes

SQLRETURN spk_set_stmt_attr(SpkStatement *stmt, const char *fn, SQLINTEGER attribute, SQLPOINTER value,
                            SQLINTEGER string_length) {
    (void)string_length;
    const StmtAttr *a = find_stmt_attr(attribute);
    if (!a) {
        SPK_LOG(stmt, LOG_ERROR, "%s: unexpected attribute %d", fn, (int)attribute);
        return spk_post_error(stmt, "HY092", 0, nullptr);
    }
    return set_stmt_value(stmt, a, value, fn, false);
}

SQLRETURN spk_get_stmt_attr(SpkStatement *stmt, const char *fn, SQLINTEGER attribute, SQLPOINTER value,
                            SQLINTEGER buffer_length, SQLINTEGER *string_length) {
    (void)buffer_length;   // every statement attribute is an integer or a handle
    const StmtAttr *a = find_stmt_attr(attribute);
    if (!a) {
        SPK_LOG(stmt, LOG_ERROR, "%s: unexpected attribute %d", fn, (int)attribute);
        spk_post_error(stmt, "HY092", 0, nullptr);
        return spk_post_error(stmt, "HY000", 0, "unexpected internal error in %s, unknown type %d", fn, 0);
    }
    uint64_t answer = read_stmt_value(stmt, a);
    put_int(value, a->get_width, answer);
    if (string_length) *string_length = a->get_width;
    SPK_LOG(stmt, LOG_DETAIL, "%s: returning %s as %l", fn, a->name, (long long)answer);
    return SQL_SUCCESS;
}

SQLRETURN spk_set_stmt_option(SpkStatement *stmt, SQLUSMALLINT option, SQLULEN value) {
    if (option > SQL_ROW_NUMBER) {
        SPK_LOG(stmt, LOG_ERROR, "SQLSetStmtOption: unexpected Option %d", (int)option);
        return spk_post_error(stmt, "S1092", 0, nullptr);
    }
    if (option == SQL_GET_BOOKMARK || option == SQL_ROW_NUMBER) {
        SPK_LOG(stmt, LOG_DETAIL, "SQLSetStmtOption: option %d accepted, no effect", (int)option);
        return SQL_SUCCESS;
    }
    const StmtAttr *a = find_stmt_attr(option);
    if (!a) return spk_post_error(stmt, "S1092", 0, nullptr);
    return set_stmt_value(stmt, a, (void *)(uintptr_t)value, "SQLSetStmtOption", true);
}

SQLRETURN spk_get_stmt_option(SpkStatement *stmt, SQLUSMALLINT option, SQLPOINTER value) {
    if (option == SQL_GET_BOOKMARK) {
        SPK_LOG(stmt, LOG_ERROR, "SQLGetStmtOption: SQL_GET_BOOKMARK is not supported");
        return spk_post_error(stmt, "HY011", 0, nullptr);
    }
    const StmtAttr *a = option <= SQL_ROW_NUMBER ? find_stmt_attr(option) : nullptr;
    if (!a || a->o2_width == 0) {
        SPK_LOG(stmt, LOG_ERROR, "SQLGetStmtOption: unexpected option %d", (int)option);
        return spk_post_error(stmt, "S1092", 0, nullptr);
    }
    uint64_t answer = read_stmt_value(stmt, a);
    put_int(value, a->o2_width, answer);
    SPK_LOG(stmt, LOG_DETAIL, "SQLGetStmtOption: returning %s as %l", a->name, (long long)answer);
    return SQL_SUCCESS;
}

// ---------------------------------------------------------------------------
// Cursor names

SQLRETURN spk_set_cursor_name(SpkStatement *stmt, const char *fn, SpkString *name) {
    if (!name) {
        SPK_LOG(stmt, LOG_ERROR, "%s: failed creating string", fn);
        return spk_post_error(stmt, "HY001", 0, nullptr);
    }
    // The name must be reportable through a 16-bit length in either encoding.
    if (spk_str_bytes(name) > 32767 || spk_str_utf8_length(name) > 32767) {
        SPK_LOG(stmt, LOG_ERROR, "%s: cursor name of %d characters is too long", fn, spk_str_length(name));
        spk_str_free(name);
        return spk_post_error(stmt, "HY090", 0, "cursor name too long");
    }
    if (stmt->cursor_name) {
        SPK_LOG(stmt, LOG_DETAIL, "%s: current cursor name is %S", fn, stmt->cursor_name);
        spk_str_free(stmt->cursor_name);
    }
    stmt->cursor_name = name;
    return SQL_SUCCESS;
}

SQLRETURN spk_get_cursor_name(SpkStatement *stmt, const char *fn, int wide, void *buffer, SQLSMALLINT buffer_length,
                              SQLSMALLINT *name_length) {
    if (!stmt->cursor_name) {
        // Each statement gets a name of its own.
        static std::atomic<unsigned> last{0};
        const unsigned number = ++last;
        SPK_LOG(stmt, LOG_DETAIL, "%s: create cursor name from %x", fn, number);
        char text[32];
        snprintf(text, sizeof text, "SQL_CUR%08X", number);
        stmt->cursor_name = spk_str_from_latin1(text);
        if (!stmt->cursor_name) return spk_post_error(stmt, "HY001", 0, nullptr);
    }
    long length = 0;
    // The wide call counts characters, in its buffer length and in the name's.
    SQLRETURN rc = wide ? spk_copy_wide_chars(stmt, stmt->cursor_name, buffer, buffer_length, &length)
                        : spk_copy_ansi(stmt, stmt->cursor_name, buffer, buffer_length, &length);
    if (name_length && rc != SQL_ERROR) *name_length = (SQLSMALLINT)length;
    return rc;
}
