// Library load and unload, process-wide layers, and the exception guard of
// the entry frame.
#include <sql.h>
#include <sqlext.h>

#include <atomic>
#include <exception>
#include <new>

#include "spk_err.h"
#include "spk_frame.h"
#include "spk_handle.h"
#include "spk_platform.h"

__attribute__((constructor)) static void spk_library_load() { spk_socket_startup(); }

__attribute__((destructor)) static void spk_library_unload() { spk_socket_cleanup(); }

// OpenSSL 3 initialises itself and needs no locking callbacks; the count only
// keeps the start-up and shut-down pairs visible in one place.
static std::atomic<int> spk_tls_users{0};

void spk_tls_layer_init() { spk_tls_users++; }

void spk_tls_layer_shutdown() {
    if (spk_tls_users > 0) spk_tls_users--;
}

SQLRETURN spk_frame_exception(void *h) noexcept {
    try {
        throw;
    } catch (const std::bad_alloc &) {
        return spk_post_error(h, "HY001", 0, nullptr);
    } catch (const std::exception &e) {
        return spk_post_error(h, "HY000", 0, "%s", e.what());
    } catch (...) {
        return spk_post_error(h, "HY000", 0, "unexpected internal failure");
    }
}

void spk_frame_unexplained(void *h, const char *fn) noexcept {
    SPK_LOG(h, LOG_ERROR, "%s failed without a diagnostic", fn);
    spk_post_error(h, "HY000", 0, "%s failed", fn);
}
