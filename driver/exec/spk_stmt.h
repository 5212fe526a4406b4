// Statement execution state.
#pragma once

#include "spk_handles.h"

// Closes the open server operation; with `unprepare` also drops the text.
int spk_close_stmt(SpkStatement *stmt, int unprepare);
// Frees everything the execution code hangs on a statement (run when the
// statement itself is freed).
void spk_stmt_release_execution(SpkStatement *stmt);
