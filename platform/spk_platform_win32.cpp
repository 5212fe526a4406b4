// The Windows half of the platform layer.
#ifdef _WIN32
#include <winsock2.h>
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "spk_platform.h"

uint64_t spk_thread_id() { return (uint64_t)GetCurrentThreadId(); }

uint32_t spk_process_id() { return (uint32_t)GetCurrentProcessId(); }

void spk_clock_now(int64_t *seconds, int32_t *microseconds) {
    FILETIME ft;
    GetSystemTimePreciseAsFileTime(&ft);
    // 100-nanosecond ticks since 1601-01-01.
    uint64_t ticks = ((uint64_t)ft.dwHighDateTime << 32) | ft.dwLowDateTime;
    const uint64_t kEpochDelta = 116444736000000000ULL;   // 1601 to 1970
    uint64_t since1970 = ticks > kEpochDelta ? ticks - kEpochDelta : 0;
    *seconds = (int64_t)(since1970 / 10000000ULL);
    *microseconds = (int32_t)(since1970 % 10000000ULL / 10);
}

// The last loader failure of this thread, as the system words it.
static thread_local char spk_dl_last_error[256];

static void spk_dl_note_error(const char *what) {
    DWORD code = GetLastError();
    char text[200] = "";
    DWORD n = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                             text, sizeof text, nullptr);
    while (n > 0 && (text[n - 1] == '\n' || text[n - 1] == '\r' || text[n - 1] == ' ')) text[--n] = '\0';
    snprintf(spk_dl_last_error, sizeof spk_dl_last_error, "%s: %s (error %lu)", what,
             n ? text : "unknown error", (unsigned long)code);
}

void *spk_dl_open(const char *path) {
    if (!path) return nullptr;
    // No "insert the disk" or "entry point not found" boxes inside a host program.
    DWORD old_mode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &old_mode);
    HMODULE lib = LoadLibraryA(path);
    if (!lib) spk_dl_note_error(path);
    SetThreadErrorMode(old_mode, nullptr);
    return (void *)lib;
}

void *spk_dl_symbol(void *lib, const char *name) {
    if (!lib || !name) return nullptr;
    FARPROC p = GetProcAddress((HMODULE)lib, name);
    if (!p) spk_dl_note_error(name);
    return (void *)p;
}

void spk_dl_close(void *lib) {
    if (lib) FreeLibrary((HMODULE)lib);
}

const char *spk_dl_error() { return spk_dl_last_error[0] ? spk_dl_last_error : "unknown error"; }

// The folder (with its trailing separator) of the module that holds `address`.
void spk_dl_folder_of(const void *address, char *buffer, int size) {
    if (!buffer || size <= 0) return;
    buffer[0] = 0;
    HMODULE module = nullptr;
    if (!GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                            (LPCSTR)address, &module))
        return;
    char path[MAX_PATH];
    DWORD len = GetModuleFileNameA(module, path, sizeof path);
    if (len == 0 || len >= sizeof path) return;
    char *sep = nullptr;
    for (char *p = path; *p; p++)
        if (*p == '\\' || *p == '/') sep = p;
    if (!sep) return;
    size_t n = (size_t)(sep - path) + 1;
    if (n >= (size_t)size) return;
    memcpy(buffer, path, n);
    buffer[n] = 0;
}

// Windows Sockets 2.2, started when the library is loaded and stopped when it
// is unloaded.  A different version is given back at once.
static bool spk_winsock_started = false;

int spk_socket_startup() {
    WSADATA data;
    if (WSAStartup(MAKEWORD(2, 2), &data) != 0) return -1;
    if (data.wVersion != MAKEWORD(2, 2)) {
        WSACleanup();
        return -1;
    }
    spk_winsock_started = true;
    return 0;
}

int spk_registry_setup_path(const char *driver, char *out, size_t size) {
    if (!out || size == 0) return -1;
    out[0] = '\0';
    if (!driver || !*driver) return -1;
    char key_name[300];
    int n = snprintf(key_name, sizeof key_name, "SOFTWARE\\ODBC\\ODBCINST.INI\\%s", driver);
    if (n < 0 || (size_t)n >= sizeof key_name) return -1;
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, key_name, 0, KEY_READ, &key) != ERROR_SUCCESS) return -1;
    DWORD type = 0, len = (DWORD)(size > 0xFFFF ? 0xFFFF : size);
    LONG rc = RegQueryValueExA(key, "Setup", nullptr, &type, (BYTE *)out, &len);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ) || len == 0) {
        out[0] = '\0';
        return -1;
    }
    // The stored string need not end with a NUL.
    out[len < size ? len : size - 1] = '\0';
    return out[0] ? 0 : -1;
}

// The final path of the file as the system names it (links and short names
// resolved; the same letter case for every spelling of it).
bool spk_real_path(const char *path, std::string *out) {
    if (!path || !*path) return false;
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    char buf[32768];
    DWORD n = GetFinalPathNameByHandleA(h, buf, sizeof buf, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    CloseHandle(h);
    if (n == 0 || n >= sizeof buf) return false;
    *out = buf;
    return true;
}

// MIT Kerberos for Windows.
const char *spk_gss_default_library() { return "gssapi64.dll"; }

// The file inherits the folder's access list (the user's own folders are
// private to the user).
FILE *spk_open_private_append(const char *path) { return fopen(path, "a+"); }

void spk_socket_cleanup() {
    if (!spk_winsock_started) return;
    spk_winsock_started = false;
    WSACleanup();
}
#endif
