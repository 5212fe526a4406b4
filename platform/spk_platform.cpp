#include "spk_platform.h"

#include <dlfcn.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <cstring>

uint64_t spk_thread_id() { return (uint64_t)syscall(SYS_gettid); }

uint32_t spk_process_id() { return (uint32_t)getpid(); }

void spk_clock_now(int64_t *seconds, int32_t *microseconds) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    *seconds = tv.tv_sec;
    *microseconds = (int32_t)tv.tv_usec;
}

void *spk_dl_open(const char *path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void *spk_dl_symbol(void *lib, const char *name) { return lib ? dlsym(lib, name) : nullptr; }

void spk_dl_close(void *lib) {
    if (lib) dlclose(lib);
}

const char *spk_dl_error() {
    const char *e = dlerror();
    return e ? e : "unknown error";
}

void spk_dl_folder_of(const void *address, char *buffer, int size) {
    if (!buffer || size <= 0) return;
    buffer[0] = 0;
    Dl_info info;
    if (!dladdr(address, &info) || !info.dli_fname) return;
    const char *slash = strrchr(info.dli_fname, '/');
    if (!slash) return;
    size_t n = (size_t)(slash - info.dli_fname) + 1;
    if (n >= (size_t)size) return;
    memcpy(buffer, info.dli_fname, n);
    buffer[n] = 0;
}

const char *spk_gss_default_library() { return "libgssapi_krb5.so.2"; }

int spk_socket_startup() { return 0; }

void spk_socket_cleanup() {}
