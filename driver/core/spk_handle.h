// Allocation and freeing of the handle tree.
#pragma once

#include "spk_handles.h"

SpkEnvironment *spk_env_new();
// `version` is the ODBC version a connection made through this path defaults to.
SpkConnection *spk_conn_new(SpkEnvironment *env, int version);
SpkStatement *spk_stmt_new(SpkConnection *conn);
SpkDescriptor *spk_desc_new(SpkConnection *conn, SpkStatement *owner, int application);

void spk_env_free(SpkEnvironment *env);
void spk_conn_free(SpkConnection *conn, bool unlink);
void spk_stmt_free(SpkStatement *stmt, bool unlink);
void spk_desc_free(SpkDescriptor *desc, bool unlink);

// Frees the connection's statements and explicitly allocated descriptors
// (SQLDisconnect, freeing the connection).
void spk_conn_free_children(SpkConnection *conn);
// Back to the state after allocation: settings texts freed, attributes at
// their initial values.  Run by SQLDisconnect after the session is closed.
void spk_conn_reset(SpkConnection *conn);

// SQL_UNBIND / SQL_RESET_PARAMS on a descriptor: records destroyed, count 0,
// bookmark record's buffers cleared.
void spk_desc_unbind(SpkDescriptor *desc);

// Library start-up and shut-down of process-wide layers (sockets, TLS).
void spk_tls_layer_init();
void spk_tls_layer_shutdown();
