// The TCLIService calls the driver makes, one typed routine per call.
//
// Every routine takes the handle the failure is posted on (a statement or a
// connection; its connection supplies the transport), runs one request/reply
// exchange under the connection's transport lock, and returns 0, or -1 with
// diagnostics posted (CloseSession and CloseOperation only write a trace
// record).  Nothing is thrown.
//
// A call that fails in the transport or the protocol (lost link, timeout, a
// reply of the wrong type or name, an application exception, garbage) leaves
// the stream in an unknown state: the connection is then marked broken and
// every later call fails at once with 08S01 instead of waiting for a reply.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "TCLIService_types.h"
#include "spk_batch.h"
#include "spk_err.h"
#include "spk_handles.h"

// Holds the connection-wide transport lock for the lifetime of the guard, so
// that two statements of one connection never interleave messages on the
// socket; also names the connection that Thrift's own messages are traced to.
class SpkTransportGuard {
public:
    explicit SpkTransportGuard(SpkConnection *conn);
    ~SpkTransportGuard();
    SpkTransportGuard(const SpkTransportGuard &) = delete;
    SpkTransportGuard &operator=(const SpkTransportGuard &) = delete;

private:
    std::recursive_mutex *lock_;
    SpkConnection *previous_;
};

// Routes the Thrift runtime's own messages (normally printed on stderr) into
// the trace log of the connection whose exchange is running; without one
// they are dropped.  Idempotent.
void spk_thrift_output_init();

// The fields of a server status as spk_post_status wants them (the texts
// point into `status`).
void spk_status_info(const tcli::TStatus &status, SpkStatusInfo *out);
// Posts a server status on `handle`; returns what spk_post_status returns.
short spk_post_tstatus(void *handle, const tcli::TStatus &status);

// Trace names: "T_GET_INFO_TYPE_CLI_DBMS_NAME", "T_TYPE_ID_INT_TYPE"; a value
// without a name is written into `buffer` as its decimal number.
const char *spk_info_type_name(int32_t info_type, char (&buffer)[16]);
const char *spk_type_id_name(int32_t type_id, char (&buffer)[16]);

// True when the connection's transport was lost or left out of step.
bool spk_tcli_broken(const SpkConnection *conn);

// --- Session (used by spk_connect / spk_disconnect) ------------------------

// OpenSession with protocol 9 and the two configuration entries; keeps the
// session handle in the transport stack.  0 / -1.
int spk_tcli_open_session(SpkConnection *conn);
// CloseSession: 0, or -1 when the call failed (trace record only; the
// session handle is then kept).
int spk_tcli_close_session(SpkConnection *conn);

// GetInfo: on success *has_text tells whether the server sent a string value.
int spk_tcli_get_info(SpkConnection *conn, int32_t info_type, std::string *text, bool *has_text);

// --- Operation-creating calls ---------------------------------------------
// The session handle is set here; the optional fields of the request are the
// caller's (set only what the application passed).  `*op` receives the
// operation handle of the reply.  A non-success status, or a reply without an
// operation handle, fails.

// With `run_async` the server answers at once and the statement runs on;
// its end is learnt with GetOperationStatus.  `query_timeout` (seconds, 0
// none) goes out as the request's queryTimeout.
int spk_tcli_execute_statement(void *h, const std::string &sql_utf8, tcli::TOperationHandle *op,
                               bool run_async = false, int64_t query_timeout = 0);
int spk_tcli_get_catalogs(void *h, tcli::TOperationHandle *op);
int spk_tcli_get_schemas(void *h, tcli::TOperationHandle *op);
int spk_tcli_get_tables(void *h, tcli::TGetTablesReq &req, tcli::TOperationHandle *op);
int spk_tcli_get_columns(void *h, tcli::TGetColumnsReq &req, tcli::TOperationHandle *op);
int spk_tcli_get_functions(void *h, tcli::TGetFunctionsReq &req, tcli::TOperationHandle *op);
// parentSchemaName and foreignSchemaName go out as "default" when unset.
int spk_tcli_get_cross_reference(void *h, tcli::TGetCrossReferenceReq &req, tcli::TOperationHandle *op);

// --- Calls on an operation --------------------------------------------------

// CloseOperation: the status is only traced; a failed call writes a trace
// record and posts nothing.  0 / -1.
int spk_tcli_close_operation(void *h, const tcli::TOperationHandle &op);
// GetResultSetMetadata: the status is only traced; the caller reads
// resp->schema when resp->__isset.schema.
int spk_tcli_get_result_set_metadata(void *h, const tcli::TOperationHandle &op,
                                     tcli::TGetResultSetMetadataResp *resp);
// FetchResults (orientation FETCH_NEXT): the rows are in resp->batch when
// resp->has_columns.  An error or invalid-handle status is posted and
// fails, so a failing fetch is never mistaken for the end of the data.
int spk_tcli_fetch_results(void *h, const tcli::TOperationHandle &op, int64_t max_rows, SpkFetchReply *resp);
// FetchResults in two halves, so that the server produces the next batch
// while the driver converts the current one.  The request goes out now; its
// reply is read by spk_tcli_fetch_results_recv with the same `owner` (the
// operation record), replies of one owner in the order of their requests.
// Any other exchange on the connection first reads the replies still on the
// wire and keeps them for their owner, so messages never mix.
// spk_tcli_fetch_forget drops what is in flight or kept for `owner` (a cursor
// closed in the middle of its result).  A send that fails only traces: the
// connection is then broken, and the next call says so.
int spk_tcli_fetch_results_send(void *h, const void *owner, const tcli::TOperationHandle &op, int64_t max_rows);
// Requests of one owner may be sent before the replies of the earlier ones
// are read (they queue up at the server, which then never waits for the
// next request): how many may be in flight at once on the connection of `h`.
int spk_tcli_fetch_ahead_depth(void *h);
int spk_tcli_fetch_results_recv(void *h, const void *owner, SpkFetchReply *resp);
void spk_tcli_fetch_forget(void *h, const void *owner);

// GetOperationStatus: a non-success status is posted and fails.
// CancelOperation: a non-success status (the operation ended meanwhile) is
// only traced, and fails.
int spk_tcli_get_operation_status(void *h, const tcli::TOperationHandle &op,
                                  tcli::TGetOperationStatusResp *resp);
int spk_tcli_cancel_operation(void *h, const tcli::TOperationHandle &op);
