// The four handle objects.  All begin with the common header so that code
// that only knows "some handle" (diagnostics, trace log) can use them.
#pragma once

#include <cstdint>
#include <mutex>
#include "spk_string.h"
#include "spk_field.h"

enum : uint32_t {
    SPK_ENVIRONMENT_HANDLE = 0x5A50,
    SPK_CONNECTION_HANDLE = 0x5A51,
    SPK_STATEMENT_HANDLE = 0x5A52,
    SPK_DESCRIPTOR_HANDLE = 0x5A53,
};

typedef std::recursive_mutex SpkLock;

struct SpkError;
struct SpkEnvironment;
struct SpkConnection;
struct SpkStatement;
struct SpkDescriptor;
struct SpkTransportStack;     // the connection's Thrift objects (driver/protocol)
struct SpkOperation;          // a statement's server operation and result set
struct SpkKrbContext;         // Kerberos security context

struct SpkHandle {
    uint32_t tag;
    SpkError *diagnostics;
    int64_t row_count;
    int32_t row_count_valid;
    uint32_t log_flags;
    SpkHandle *next;
    SpkHandle *parent;
};

struct SpkEnvironment : SpkHandle {
    int32_t odbc_version;          // starts at 2
    SpkConnection *connections;
    SpkLock *list_lock;
    SpkLock *lock;
    SpkLock *log_lock;
};

// Authentication methods.
enum {
    AUTH_NONE = 0,
    AUTH_NOSASL = 1,
    AUTH_LDAP = 2,
    AUTH_KERBEROS = 3,
    AUTH_AD = 4,
    AUTH_HTTP_BASIC = 5,
    AUTH_HTTP_OAUTH = 6,
};

// Connection attributes and the connection's statement-attribute defaults.
struct SpkConnAttrs {
    // statement defaults
    uint32_t query_timeout;
    uint64_t max_rows;
    uint32_t noscan;
    uint64_t max_length;
    uint32_t async_enable;
    uint32_t bind_type;
    uint32_t cursor_type;
    uint32_t concurrency;          // 1
    uint64_t keyset_size;
    uint64_t rowset_size;          // 1
    uint32_t simulate_cursor;      // 2
    uint32_t retrieve_data;        // 1
    uint32_t use_bookmarks;
    uint32_t cursor_scrollable;
    uint32_t cursor_sensitivity;   // 1
    // connection
    uint32_t access_mode;
    uint32_t autocommit;           // 1
    uint32_t login_timeout;
    uint32_t txn_isolation;        // 26
    uint64_t quiet_mode;
    uint32_t packet_size;
    uint32_t connection_timeout;
    uint64_t attr_1207;
    uint64_t attr_1208;
    uint32_t auto_ipd;             // 1
    uint32_t metadata_id;
};
void spk_conn_attrs_init(SpkConnAttrs *a);

struct SpkConnection : SpkHandle {
    // Settings
    SpkString *dsn;
    SpkString *uid;
    SpkString *pwd;
    SpkString *server;
    int32_t port;
    int32_t encrypt;
    int32_t trust_server_certificate;
    int32_t authentication;
    int32_t col_length;            // 256
    SpkString *certificate_file;
    SpkString *http_uri;
    SpkString *gss_lib;
    SpkString *krb_principle;
    SpkString *access_token;
    SpkString *database;           // the database the session opens in
    SpkString *driver;             // DRIVER= of the connection string, as given
    int32_t gss_flag;
    int32_t login_timeout;         // LoginTimeout: seconds for all of connect (0 none)
    int32_t socket_timeout;        // SocketTimeout: seconds for one request and its reply (0 none)
    int32_t max_message_size;      // MaxMessageSize: MiB one server reply may take
    int32_t async_exec;            // AsyncExec: statements run asynchronously (1) or in one call (0)
    int32_t rows_per_fetch;        // RowsPerFetch: rows asked for in one FetchResults
    int32_t prefetch;              // Prefetch: the next batch is asked for ahead of need
    char log_file[256];

    // Server session
    SpkTransportStack *transport_stack;
    int32_t connected;
    int32_t link_lost;             // the transport failed: the connection is dead
    int32_t changes_since_commit;  // statements other than queries run since the last commit
    int32_t transport_kind;
    SpkKrbContext *krb_context;
    std::recursive_mutex *transport_lock;   // one Thrift exchange at a time per connection

    int32_t odbc_version;
    SpkConnAttrs attrs;

    SpkHandle *children;           // statements and descriptors, newest first
    SpkLock *child_lock;
    SpkLock *lock;
};

// Statement kinds found by the SQL scanner.
enum {
    SPK_VERB_OTHER = 0,
    SPK_VERB_SELECT = 1,
    SPK_VERB_DELETE = 2,
    SPK_VERB_UPDATE = 3,
    SPK_VERB_INSERT = 4,
    SPK_VERB_SET = 8,
};

struct SpkStmtAttrs {
    uint32_t query_timeout;
    uint64_t max_rows;
    uint32_t noscan;
    uint64_t max_length;
    uint32_t async_enable;
    uint32_t cursor_type;
    uint32_t concurrency;
    uint64_t keyset_size;
    uint64_t rowset_size;
    uint32_t simulate_cursor;
    uint32_t retrieve_data;
    uint32_t use_bookmarks;
    uint32_t enable_auto_ipd;
    void *fetch_bookmark_ptr;
    uint32_t metadata_id;
    uint32_t cursor_scrollable;
    uint32_t cursor_sensitivity;
};

struct SpkParamState;
struct SpkMarker;

// Where a statement is in its life.  Written only by the execution layer
// (exec/spk_state.h), which also owns the server operation; everything else
// reads it.  SQLCancel reads it from other threads.
enum SpkStmtState : int32_t {
    SPK_STMT_IDLE = 0,        // no text
    SPK_STMT_PREPARED,        // text, not run (or run and its cursor closed)
    SPK_STMT_NEED_DATA,       // an execution waits for data-at-execution values
    SPK_STMT_EXECUTING,       // the server runs it; the call is in progress
    SPK_STMT_EXECUTED,        // it ran and left no cursor
    SPK_STMT_CURSOR,          // it ran and its result is open
    SPK_STMT_FETCHING,        // a fetch of the open result is in progress
};

struct SpkStatement : SpkHandle {
    SpkDescriptor *implicit_ird, *implicit_ipd, *implicit_ard, *implicit_apd;
    SpkDescriptor *ird, *ipd, *ard, *apd;

    // Execution state
    SpkOperation *operation;       // open server operation and its row set
    SpkString *sql;                // the statement's text as given
    SpkString *processed_sql;      // after scanning and rewriting
    int32_t verb;
    int32_t state;                 // SpkStmtState
    int32_t described;
    int32_t param_described;
    int32_t re_prepare;
    int32_t returns_rows;          // first keyword names a row-returning statement
    int32_t describe_as_is;        // described by running it (SHOW, DESCRIBE...), not with LIMIT 0
    int32_t is_query;              // a query by its text: may be described before it runs
    int32_t param_count;
    SpkMarker *markers;
    int32_t where_offset, group_offset, having_offset, order_offset, limit_offset;
    int64_t existing_limit;
    int32_t values_offset;         // before the first top-level VALUES, -1 when none
    SpkParamState *param_state;    // data-at-execution values, the parameter set being run
    int32_t dae_current;           // data-at-execution: parameter found by the last search, -1 none

    // Fetch state
    int32_t row_offset;            // row of the application's rowset being filled
    int64_t row_number;
    int64_t cursor_row_count;

    SpkStmtAttrs attrs;
    SpkString *cursor_name;
    SpkLock *lock;
};

struct SpkDescriptor : SpkHandle {
    int32_t count;
    int32_t described_count;
    int32_t described;
    int32_t implicit;
    int32_t application;
    uint32_t bind_type;
    void *bind_offset_ptr;
    void *array_status_ptr;
    void *rows_processed_ptr;
    uint64_t array_size;           // 1
    SpkStatement *owner;
    SpkField bookmark_record;
    SpkField *records;             // records 1..count at [0..count-1]
    int32_t capacity;
    SpkLock *lock;
};

// A statement's state as the rest of the driver reads it.
int32_t spk_stmt_state(const SpkStatement *stmt);
// It has text to run (prepared, or kept from the last execution).
bool spk_stmt_has_text(const SpkStatement *stmt);
// It ran, with or without a cursor, and nothing closed it since.
bool spk_stmt_has_run(const SpkStatement *stmt);

// Lookups used by diagnostics and tracing.
SpkEnvironment *spk_env_of(const void *handle);
SpkConnection *spk_conn_of(const void *handle);
// True when `handle` is non-null and carries `tag`.
inline bool spk_handle_is(const void *handle, uint32_t tag) {
    return handle != nullptr && static_cast<const SpkHandle *>(handle)->tag == tag;
}
SpkLock *spk_handle_lock(const void *handle);
