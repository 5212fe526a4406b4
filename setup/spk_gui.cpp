// Creating a QApplication without a working display makes Qt abort the
// whole process, which here is someone else's program.  So before one is
// created, the platform Qt would use is chosen and checked here: its plugin
// must load, and an X or Wayland display must accept a connection.
#include "spk_gui.h"

#include <QApplication>
#include <QLibraryInfo>
#include <QThread>

#include <dlfcn.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <mutex>

namespace {

std::string spk_env(const char *name) {
    const char *v = getenv(name);
    return v ? std::string(v) : std::string();
}

// The plugin of a platform loads with all its dependencies.
bool spk_platform_plugin_loads(const std::string &name, std::string *reason) {
    std::string dirs = spk_env("QT_QPA_PLATFORM_PLUGIN_PATH");
    std::string standard = QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString() + "/platforms";
    dirs = dirs.empty() ? standard : dirs + ":" + standard;
    size_t start = 0;
    while (start <= dirs.size()) {
        size_t end = dirs.find(':', start);
        if (end == std::string::npos) end = dirs.size();
        std::string file = dirs.substr(start, end - start) + "/libq" + name + ".so";
        start = end + 1;
        if (access(file.c_str(), R_OK) != 0) continue;
        void *lib = dlopen(file.c_str(), RTLD_LAZY | RTLD_LOCAL);
        if (lib) {
            dlclose(lib);
            return true;
        }
        *reason = "the Qt platform plugin '" + name + "' does not load: " + dlerror();
        return false;
    }
    *reason = "the Qt platform plugin '" + name + "' is not installed";
    return false;
}

// An X server answers on DISPLAY (through libxcb, as Qt would connect).
bool spk_x_display_answers(std::string *reason) {
    std::string display = spk_env("DISPLAY");
    if (display.empty()) {
        *reason = "no display (DISPLAY is not set)";
        return false;
    }
    void *xcb = dlopen("libxcb.so.1", RTLD_NOW | RTLD_LOCAL);
    if (!xcb) {
        *reason = "libxcb is not installed";
        return false;
    }
    typedef void *(*connect_fn)(const char *, int *);
    typedef int (*has_error_fn)(void *);
    typedef void (*disconnect_fn)(void *);
    auto xcb_connect = (connect_fn)dlsym(xcb, "xcb_connect");
    auto xcb_has_error = (has_error_fn)dlsym(xcb, "xcb_connection_has_error");
    auto xcb_disconnect = (disconnect_fn)dlsym(xcb, "xcb_disconnect");
    bool ok = false;
    if (xcb_connect && xcb_has_error && xcb_disconnect) {
        void *c = xcb_connect(display.c_str(), nullptr);
        ok = c && xcb_has_error(c) == 0;
        if (c) xcb_disconnect(c);
    }
    dlclose(xcb);
    if (!ok) *reason = "the display '" + display + "' does not answer";
    return ok;
}

// A Wayland compositor listens on its socket.
bool spk_wayland_display_answers(std::string *reason) {
    std::string name = spk_env("WAYLAND_DISPLAY");
    if (name.empty()) name = "wayland-0";
    std::string path = name[0] == '/' ? name : spk_env("XDG_RUNTIME_DIR") + "/" + name;
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    if (path.size() >= sizeof addr.sun_path) {
        *reason = "the Wayland socket path is too long";
        return false;
    }
    memcpy(addr.sun_path, path.c_str(), path.size() + 1);
    int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    bool ok = fd >= 0 && connect(fd, (sockaddr *)&addr, sizeof addr) == 0;
    if (fd >= 0) close(fd);
    if (!ok) *reason = "no Wayland compositor at " + path;
    return ok;
}

bool spk_platform_usable(const std::string &name, std::string *reason) {
    if (name == "xcb") {
        if (!spk_x_display_answers(reason)) return false;
    } else if (name == "wayland") {
        if (!spk_wayland_display_answers(reason)) return false;
    } else if (name != "offscreen" && name != "minimal") {
        *reason = "the Qt platform '" + name + "' is not supported for dialogs";
        return false;
    }
    return spk_platform_plugin_loads(name, reason);
}

std::mutex spk_gui_mutex;
QApplication *spk_own_app = nullptr;
// QApplication keeps references to its arguments for its whole life.
int spk_argc = 3;
char spk_arg0[] = "setup", spk_arg1[] = "-platform";
char spk_arg2[64];
char *spk_argv[] = {spk_arg0, spk_arg1, spk_arg2, nullptr};

}   // namespace

std::string spk_gui_platform(std::string *reason) {
    // QT_QPA_PLATFORM may list several platforms ("wayland;xcb"), each
    // possibly with options after ":"; the first usable one wins.
    std::string wanted = spk_env("QT_QPA_PLATFORM");
    if (wanted.empty()) {
        std::string session = spk_env("XDG_SESSION_TYPE");
        wanted = session == "wayland" ? "wayland;xcb" : "xcb";
    }
    std::string first_reason;
    size_t start = 0;
    while (start <= wanted.size()) {
        size_t end = wanted.find(';', start);
        if (end == std::string::npos) end = wanted.size();
        std::string entry = wanted.substr(start, end - start);
        start = end + 1;
        std::string name = entry.substr(0, entry.find(':'));
        if (name.empty()) continue;
        std::string why;
        if (spk_platform_usable(name, &why)) return entry;
        if (first_reason.empty()) first_reason = why;
    }
    *reason = first_reason.empty() ? "no display" : first_reason;
    return std::string();
}

bool spk_gui_ready(std::string *reason) {
    std::lock_guard<std::mutex> guard(spk_gui_mutex);
    if (QCoreApplication *existing = QCoreApplication::instance()) {
        if (!qobject_cast<QApplication *>(existing)) {
            *reason = "the program runs a Qt application without widgets";
            return false;
        }
        if (QThread::currentThread() != existing->thread()) {
            *reason = "called from a thread other than the one that runs the Qt application";
            return false;
        }
        return true;
    }
    std::string platform = spk_gui_platform(reason);
    if (platform.empty()) return false;
    if (platform.size() >= sizeof spk_arg2) {
        *reason = "the Qt platform setting is too long";
        return false;
    }
    memcpy(spk_arg2, platform.c_str(), platform.size() + 1);
    // Created once and kept for the life of the process (the library is
    // never unloaded): destroying it at exit would race the host's own
    // clean-up.
    spk_own_app = new QApplication(spk_argc, spk_argv);
    QApplication::setQuitOnLastWindowClosed(false);
    return true;
}
