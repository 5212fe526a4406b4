// What the core needs of the execution layer.  The core allocates and frees
// statements and answers descriptor calls, but statement execution lives
// above it: the execution layer registers these routines when it is loaded
// (exec/spk_stmt.cpp), so that the core never includes it.  Unregistered
// routines do nothing, which is what the core's own unit tests see.
#pragma once

#include "spk_handles.h"

struct SpkStmtHooks {
    // Makes the statement's execution records: 0, or -1 when memory runs out.
    int (*init_execution)(SpkStatement *stmt);
    // Frees them (the statement itself is being freed).
    void (*release_execution)(SpkStatement *stmt);
    // Closes the statement's server operation; with `unprepare` its text too.
    int (*close_stmt)(SpkStatement *stmt, int unprepare);
};

void spk_stmt_hooks_register(const SpkStmtHooks *hooks);

int spk_hook_init_execution(SpkStatement *stmt);
void spk_hook_release_execution(SpkStatement *stmt);
int spk_hook_close_stmt(SpkStatement *stmt, int unprepare);
