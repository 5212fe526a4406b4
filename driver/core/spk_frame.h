// The entry frame every exported function runs: handle check, lock, clearing
// of old diagnostics, ENTRY/EXIT records, and a guard that turns any C++
// exception into a diagnostic so that nothing is thrown across the C ABI.
#pragma once

#include <sql.h>
#include <sqlext.h>

#include <exception>
#include <mutex>
#include <new>

#include "spk_err.h"
#include "spk_handles.h"
#include "spk_log.h"

#define SPK_API extern "C" __attribute__((visibility("default")))

enum {
    SPK_FRAME_LOCK = 1,    // take the handle's own lock
    SPK_FRAME_CLEAR = 2,   // clear the handle's diagnostics
    SPK_FRAME_DEFAULT = SPK_FRAME_LOCK | SPK_FRAME_CLEAR,
};

// Turns the exception in flight into a diagnostic on `h`; returns SQL_ERROR.
SQLRETURN spk_frame_exception(void *h) noexcept;
// Posts HY000 for a call `fn` that failed without a diagnostic.
void spk_frame_unexplained(void *h, const char *fn) noexcept;

// Runs `body` (a callable returning SQLRETURN) inside the frame.  `fn` names
// the export for the EXIT record.  The body writes its own ENTRY record first
// (its arguments differ per function); see SPK_ENTRY.
template <typename Body>
SQLRETURN spk_frame(void *handle, uint32_t tag, int flags, const char *fn, const char *file, int line,
                    Body &&body) noexcept {
    if (!spk_handle_is(handle, tag)) return SQL_INVALID_HANDLE;
    SpkHandle *h = static_cast<SpkHandle *>(handle);
    SQLRETURN rc;
    try {
        std::unique_lock<SpkLock> guard;
        if (flags & SPK_FRAME_LOCK) guard = std::unique_lock<SpkLock>(*spk_handle_lock(h));
        if ((flags & SPK_FRAME_CLEAR) && h->diagnostics) spk_clear_errors(h);
        try {
            rc = body();
        } catch (...) {
            rc = spk_frame_exception(h);
        }
        // Every failure carries a reason: a path that forgot to post one
        // still tells the application that something went wrong.
        if (rc == SQL_ERROR && !h->diagnostics) spk_frame_unexplained(h, fn);
        if (h->log_flags & LOG_EXIT) spk_log(h, file, line, LOG_EXIT, "%s: return value=%d", fn, (int)rc);
    } catch (...) {
        rc = SQL_ERROR;   // the lock itself failed; nothing else is safe to touch
    }
    return rc;
}

#define SPK_FRAME(handle, tag, flags, fn, body) spk_frame((handle), (tag), (flags), (fn), __FILE__, __LINE__, (body))

// Guard for exports whose frame deviates (no handle to post on, or a
// special handle check): returns `fallback` on any exception.
template <typename Body>
SQLRETURN spk_guard(SQLRETURN fallback, Body &&body) noexcept {
    try {
        return body();
    } catch (...) {
        return fallback;
    }
}
