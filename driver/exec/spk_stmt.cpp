#include "spk_stmt.h"

#include <cstdlib>

#include "spk_string.h"

int spk_close_stmt(SpkStatement *stmt, int unprepare) {
    if (unprepare) {
        spk_str_free(stmt->sql);
        stmt->sql = nullptr;
        spk_str_free(stmt->processed_sql);
        stmt->processed_sql = nullptr;
        stmt->prepared = 0;
    }
    stmt->executed = 0;
    return 0;
}

void spk_stmt_release_execution(SpkStatement *stmt) {
    spk_close_stmt(stmt, 1);
}
