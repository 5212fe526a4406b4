// What the driver takes from the operating system, behind one small interface.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

uint64_t spk_thread_id();
uint32_t spk_process_id();
// Wall clock: whole seconds since 1970 and microseconds.
void spk_clock_now(int64_t *seconds, int32_t *microseconds);

// Opens a file for appending, creating it readable and writable by its
// owner only (it may hold SQL text and user names); null on failure.
FILE *spk_open_private_append(const char *path);

// Dynamic loading.
void *spk_dl_open(const char *path);
void *spk_dl_symbol(void *lib, const char *name);
void spk_dl_close(void *lib);
const char *spk_dl_error();
// The folder (with its trailing separator) of the library that holds
// `address`; "" when unknown.  Cut to the buffer.
void spk_dl_folder_of(const void *address, char *buffer, int size);
// The installed file names of the two libraries.
#ifdef _WIN32
#define SPK_DRIVER_LIBRARY_FILE "tarndrv.dll"
#define SPK_SETUP_LIBRARY_FILE "tarndrvs.dll"
#else
#define SPK_DRIVER_LIBRARY_FILE "libtarndrv.so"
#define SPK_SETUP_LIBRARY_FILE "libtarndrvs.so"
#endif

// The absolute path of an existing file with every link resolved, the same
// text for every name of the same file; false when it cannot be had.
bool spk_real_path(const char *path, std::string *out);

// The GSS-API library loaded for Kerberos logons when no GSSLIB is set.
const char *spk_gss_default_library();

// Socket subsystem start-up and clean-up (nothing to do on POSIX systems).
int spk_socket_startup();
void spk_socket_cleanup();

// The setup library's full path from the platform's registry of ODBC drivers
// (Windows: HKEY_LOCAL_MACHINE "SOFTWARE\ODBC\ODBCINST.INI\<driver>", value
// "Setup").  0 with `out` filled (NUL-terminated, cut to `size`), or -1 when
// the platform keeps no such registry or it has no such value; the ODBC
// installer library's ODBCINST.INI is then the place to look.
int spk_registry_setup_path(const char *driver, char *out, size_t size);
