// Support for the setup library's tests: a private ODBC configuration that
// registers the driver with its setup library, odbc.ini read back as it is
// on disk, and a script that drives the dialogs from inside their modal
// loops.
#pragma once

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTimer>

#include <dlfcn.h>
#include <sql.h>
#include <odbcinst.h>

#include <cstdlib>
#include <fstream>
#include <functional>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

#include "tarn_test_support.h"

namespace tarn_setup {

const char kDriverName[] = "Quillmark Tarnwell";

// odbcinst.ini registers the driver under its own name with Setup=; odbc.ini
// starts empty.  The environment points unixODBC at both.
class SetupConfig {
  public:
    SetupConfig() : dir_(tarn_test::make_temp_dir("tarn-setup-")) {
        std::ofstream inst(dir_ + "/odbcinst.ini");
        inst << "[" << kDriverName << "]\nDriver=" << TARN_DRIVER_PATH << "\nSetup=" << TARN_SETUP_PATH << "\n";
        inst.close();
        std::ofstream(dir_ + "/odbc.ini").close();
        setenv("ODBCSYSINI", dir_.c_str(), 1);
        setenv("ODBCINSTINI", "odbcinst.ini", 1);
        setenv("ODBCINI", (dir_ + "/odbc.ini").c_str(), 1);
    }
    ~SetupConfig() { tarn_test::remove_tree(dir_); }
    const std::string &dir() const { return dir_; }

    void write_odbc_ini(const std::string &text) const { std::ofstream(dir_ + "/odbc.ini") << text; }
    std::string odbc_ini() const {
        std::ifstream in(dir_ + "/odbc.ini");
        std::stringstream s;
        s << in.rdbuf();
        return s.str();
    }
    // Every key of a section as stored (keys lower-cased); empty when the
    // section does not exist.
    std::map<std::string, std::string> section(const std::string &name) const {
        std::map<std::string, std::string> keys;
        std::istringstream in(odbc_ini());
        bool inside = false;
        for (std::string line; std::getline(in, line);) {
            if (!line.empty() && line[0] == '[') {
                inside = line == "[" + name + "]";
                continue;
            }
            size_t eq = line.find('=');
            if (!inside || eq == std::string::npos) continue;
            auto trim = [](std::string s) {
                size_t b = s.find_first_not_of(" \t"), e = s.find_last_not_of(" \t\r");
                return b == std::string::npos ? std::string() : s.substr(b, e - b + 1);
            };
            std::string key = trim(line.substr(0, eq));
            for (char &c : key) c = (char)tolower((unsigned char)c);
            keys[key] = trim(line.substr(eq + 1));
        }
        return keys;
    }

  private:
    std::string dir_;
};

// An attribute list ("a=b", "c=d" -> "a=b\0c=d\0\0").
inline std::string attributes(std::initializer_list<const char *> items) {
    std::string list;
    for (const char *item : items) {
        list += item;
        list += '\0';
    }
    list += '\0';
    return list;
}

// The installer's latest error record (the library's own calls, made
// outside SQLConfigDataSource, do not clear the earlier ones).
inline std::string installer_error(DWORD *code = nullptr) {
    std::string last;
    for (WORD i = 1; i <= 8; i++) {
        char message[512] = "";
        DWORD c = 0;
        WORD length = 0;
        if (SQLInstallerError(i, &c, message, sizeof message, &length) != SQL_SUCCESS) break;
        if (code) *code = c;
        last = message;
    }
    return last;
}

// The setup library itself (the same instance unixODBC and the driver load).
struct SetupLib {
    SetupLib() : handle(dlopen(TARN_SETUP_PATH, RTLD_NOW | RTLD_LOCAL)) {
        if (!handle) throw std::runtime_error(std::string("dlopen: ") + dlerror());
    }
    template <typename F> F fn(const char *name) const {
        void *p = dlsym(handle, name);
        if (!p) throw std::runtime_error(std::string("missing export ") + name);
        return reinterpret_cast<F>(p);
    }
    void *handle;
};

// Drives the next dialogs: `script` runs once each dialog's modal loop has
// started.  Message boxes that the dialog opens in between are answered by
// answer_next_box.
class DialogScript {
  public:
    explicit DialogScript(std::function<void(QDialog *)> script) : script_(std::move(script)) {
        typedef void (*set_hook_fn)(void (*)(QDialog *, void *), void *);
        lib_.fn<set_hook_fn>("spk_setup_set_dialog_hook")(&DialogScript::hook, this);
    }
    ~DialogScript() {
        typedef void (*set_hook_fn)(void (*)(QDialog *, void *), void *);
        lib_.fn<set_hook_fn>("spk_setup_set_dialog_hook")(nullptr, nullptr);
    }
    int dialogs = 0;

  private:
    static void hook(QDialog *dialog, void *context) {
        DialogScript *self = static_cast<DialogScript *>(context);
        self->dialogs++;
        QTimer::singleShot(0, dialog, [self, dialog]() { self->script_(dialog); });
    }
    SetupLib lib_;
    std::function<void(QDialog *)> script_;
};

template <typename W> W *child(QDialog *d, const char *name) {
    W *w = d->findChild<W *>(name);
    if (!w) throw std::runtime_error(std::string("no widget ") + name);
    return w;
}
inline void set_text(QDialog *d, const char *name, const char *text) { child<QLineEdit>(d, name)->setText(text); }
inline std::string text_of(QDialog *d, const char *name) {
    return child<QLineEdit>(d, name)->text().toStdString();
}
inline void click(QDialog *d, const char *name) { child<QPushButton>(d, name)->click(); }

// The next message box that becomes modal is closed and its text stored.
inline void answer_next_box(std::string *text) {
    QTimer *timer = new QTimer();
    QObject::connect(timer, &QTimer::timeout, [timer, text]() {
        QMessageBox *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box) return;
        *text = box->text().toStdString();
        timer->stop();
        timer->deleteLater();
        box->done(QMessageBox::Ok);
    });
    timer->start(10);
}

// The test sees a display or none, whatever the caller's environment says.
inline void use_offscreen_display() {
    setenv("QT_QPA_PLATFORM", "offscreen", 1);
    unsetenv("DISPLAY");
}
inline void use_no_display() {
    unsetenv("QT_QPA_PLATFORM");
    unsetenv("DISPLAY");
    unsetenv("WAYLAND_DISPLAY");
    unsetenv("XDG_SESSION_TYPE");
}

// Where screenshots are kept as test artefacts.
inline std::string artefact(const char *name) {
    std::string dir = std::string(TARN_BUILD_DIR) + "/test-artefacts";
    std::system(("mkdir -p '" + dir + "'").c_str());
    return dir + "/" + name;
}

}  // namespace tarn_setup
