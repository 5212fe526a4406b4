// What the driver calls in the setup library while SQLDriverConnect
// prompts.  Both libraries are built from this one declaration.
#pragma once

#include "spk_connect_info.h"

// Results of the completion dialog.
#define SPK_PROMPT_OK 0
#define SPK_PROMPT_CANCEL 100
#define SPK_PROMPT_FAILED (-1)

// Asks the user for the details of one connection, pre-filled from
// `record`.  OK fills `record` (its data-source name kept) and returns
// SPK_PROMPT_OK; Cancel and Escape return SPK_PROMPT_CANCEL and leave it
// untouched; SPK_PROMPT_FAILED means no dialog could be shown and
// `reason` (NUL-terminated, cut to `reason_size`) says why.
// `completion` is the SQLDriverConnect completion mode:
// SQL_DRIVER_COMPLETE_REQUIRED lets the user edit only what is missing.
#define SPK_COMPLETE_CONNECT "complete_connect"
typedef int (*spk_complete_connect_fn)(void *window, SpkConnectInfo *record, int completion, char *reason,
                                       int reason_size);

// Shows why a connection attempt failed (UTF-8 text).  Nothing happens
// without a display.
#define SPK_COMPLETE_ERROR "complete_error"
typedef int (*spk_complete_error_fn)(void *connection, const char *text, void *window);
