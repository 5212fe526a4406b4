// The POSIX half of the platform layer.
#ifndef _WIN32
#include "spk_platform.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <sys/time.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>
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

bool spk_real_path(const char *path, std::string *out) {
    char *real = path ? realpath(path, nullptr) : nullptr;
    if (!real) return false;
    *out = real;
    free(real);
    return true;
}

const char *spk_gss_default_library() { return "libgssapi_krb5.so.2"; }

int spk_socket_startup() { return 0; }

void spk_socket_cleanup() {}

FILE *spk_open_private_append(const char *path) {
    int fd = open(path, O_RDWR | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) return nullptr;
    FILE *f = fdopen(fd, "a+");
    if (!f) close(fd);
    return f;
}

int spk_registry_setup_path(const char *, char *out, size_t size) {
    if (out && size) out[0] = '\0';
    return -1;
}
#endif
