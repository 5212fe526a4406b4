// The data-source dialog through SQLConfigDataSource with a parent window,
// on Qt's offscreen platform: values shown, edits saved without losing
// keys, renaming, Cancel and Escape, the Test button against the fake
// server, and no dialog (and no abort) without a display.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QPixmap>
#include <QScreen>
#include <QTest>

#include "fake_server.h"
#include "setup_support.h"

using namespace tarn_setup;

namespace {

HWND kWindow = (HWND)0x1;   // any non-null handle: a dialog may be shown

BOOL config(WORD request, std::initializer_list<const char *> items) {
    std::string list = attributes(items);
    return SQLConfigDataSource(kWindow, request, kDriverName, list.c_str());
}

class SetupDialog : public ::testing::Test {
  protected:
    void SetUp() override { use_offscreen_display(); }
    SetupConfig cfg;
};

const char kSales[] = "[Sales]\nDriver=Quillmark Tarnwell\nDescription=Sales data\nServer=spark.example.test\n"
                      "Port=10001\nUser=joe\nEncrypt=true\nTrustServerCertificate=no\nLogging=process\n"
                      "Authentication=HTTP_OAUTH\nHttpUri=cliservice\nGSSLIB=libgss.so\nGSSFLAG=0x4\n"
                      "QueryTimeout=30\n";

}  // namespace

TEST_F(SetupDialog, ShowsTheStoredValuesAndSavesOnlyWhatChanged) {
    cfg.write_odbc_ini(kSales);
    std::map<std::string, std::string> shown;
    bool encrypt = false, logging = false, token_enabled = false, principal_enabled = true;
    DialogScript script([&](QDialog *d) {
        for (const char *name : {"dsn", "description", "server", "port", "uid", "col_length", "http_uri"})
            shown[name] = text_of(d, name);
        encrypt = child<QCheckBox>(d, "encrypt")->isChecked();
        logging = child<QCheckBox>(d, "logging")->isChecked();
        token_enabled = child<QLineEdit>(d, "access_token")->isEnabled();
        principal_enabled = child<QLineEdit>(d, "krb_principle")->isEnabled();
        d->grab().save(QString::fromStdString(artefact("setup-dialog-offscreen.png")));
        set_text(d, "server", "spark2.example.test");
        click(d, "ok");
    });
    ASSERT_TRUE(config(ODBC_CONFIG_DSN, {"DSN=Sales"})) << installer_error();
    EXPECT_EQ(script.dialogs, 1);
    EXPECT_EQ(shown["dsn"], "Sales");
    EXPECT_EQ(shown["description"], "Sales data");
    EXPECT_EQ(shown["server"], "spark.example.test");
    EXPECT_EQ(shown["port"], "10001");
    EXPECT_EQ(shown["uid"], "joe");
    EXPECT_EQ(shown["col_length"], "256");
    EXPECT_EQ(shown["http_uri"], "cliservice");
    EXPECT_TRUE(encrypt);   // "true" is on, as the driver reads it
    EXPECT_TRUE(logging);   // so is "process"
    EXPECT_TRUE(token_enabled);
    EXPECT_FALSE(principal_enabled);

    auto keys = cfg.section("Sales");
    EXPECT_EQ(keys["server"], "spark2.example.test");
    EXPECT_EQ(keys["encrypt"], "true");
    EXPECT_EQ(keys["logging"], "process");
    EXPECT_EQ(keys["trustservercertificate"], "no");
    EXPECT_EQ(keys["gsslib"], "libgss.so");
    EXPECT_EQ(keys["gssflag"], "0x4");
    EXPECT_EQ(keys["querytimeout"], "30");
    EXPECT_EQ(keys["driver"], kDriverName);
}

TEST_F(SetupDialog, AddWritesANewDataSource) {
    DialogScript script([&](QDialog *d) {
        EXPECT_EQ(text_of(d, "port"), "10000");
        EXPECT_EQ(text_of(d, "col_length"), "256");
        set_text(d, "server", "10.0.0.1");
        set_text(d, "pwd", "secret");
        child<QCheckBox>(d, "encrypt")->setChecked(true);
        child<QComboBox>(d, "authentication")->setCurrentIndex(2);
        click(d, "ok");
    });
    ASSERT_TRUE(config(ODBC_ADD_DSN, {"DSN=New", "Description=Test data"})) << installer_error();
    auto keys = cfg.section("New");
    EXPECT_EQ(keys["driver"], kDriverName);
    EXPECT_EQ(keys["description"], "Test data");
    EXPECT_EQ(keys["server"], "10.0.0.1");
    EXPECT_EQ(keys["password"], "secret");
    EXPECT_EQ(keys["encrypt"], "Yes");
    EXPECT_EQ(keys["authentication"], "LDAP");
    EXPECT_EQ(keys["port"], "10000");
    EXPECT_EQ(keys["col_length"], "256");
}

TEST_F(SetupDialog, RenameMovesEveryKey) {
    cfg.write_odbc_ini(kSales);
    auto before = cfg.section("Sales");
    DialogScript script([&](QDialog *d) {
        set_text(d, "dsn", "Revenue");
        click(d, "ok");
    });
    ASSERT_TRUE(config(ODBC_CONFIG_DSN, {"DSN=Sales"})) << installer_error();
    EXPECT_TRUE(cfg.section("Sales").empty());
    EXPECT_EQ(cfg.section("Revenue"), before);
}

TEST_F(SetupDialog, ARenameThatCannotBeWrittenLosesNothing) {
    std::vector<std::string> boxes(2);
    DialogScript script([&](QDialog *d) {
        // An invalid name, then the name of another data source: both are
        // refused and the dialog stays open until Cancel.
        answer_next_box(&boxes[0]);
        set_text(d, "dsn", "Bad[Name]");
        click(d, "ok");
        QTimer::singleShot(50, d, [&, d]() {
            answer_next_box(&boxes[1]);
            set_text(d, "dsn", "Other");
            click(d, "ok");
            QTimer::singleShot(50, d, [d]() { click(d, "cancel"); });
        });
    });
    cfg.write_odbc_ini(std::string(kSales) + "\n[Other]\nDriver=Quillmark Tarnwell\nServer=o\n");
    std::string before = cfg.odbc_ini();
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
    EXPECT_NE(boxes[0].find("Bad[Name]"), std::string::npos) << boxes[0];
    EXPECT_NE(boxes[1].find("already exists"), std::string::npos) << boxes[1];
    EXPECT_EQ(cfg.odbc_ini(), before);
}

TEST_F(SetupDialog, CancelAndEscapeSaveNothing) {
    cfg.write_odbc_ini(kSales);
    std::string before = cfg.odbc_ini();
    for (bool escape : {false, true}) {
        SCOPED_TRACE(escape ? "Escape" : "Cancel");
        DialogScript script([&](QDialog *d) {
            set_text(d, "server", "changed");
            if (escape)
                QTest::keyClick(d, Qt::Key_Escape);
            else
                click(d, "cancel");
        });
        EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
        DWORD code = 0;
        installer_error(&code);
        EXPECT_EQ(code, (DWORD)ODBC_ERROR_USER_CANCELED);
        EXPECT_EQ(cfg.odbc_ini(), before);
    }
}

TEST_F(SetupDialog, TestButtonTriesTheValuesOnScreen) {
    tarn_fake::FakeServer server;
    cfg.write_odbc_ini("[Sales]\nDriver=Quillmark Tarnwell\nServer=127.0.0.1\nPort=1\n");
    std::string before = cfg.odbc_ini();
    std::vector<std::string> answers(2);
    DialogScript script([&](QDialog *d) {
        answer_next_box(&answers[0]);
        click(d, "test");   // port 1: refused
        set_text(d, "port", std::to_string(server.port()).c_str());
        answer_next_box(&answers[1]);
        click(d, "test");
        click(d, "cancel");
    });
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
    EXPECT_NE(answers[0].find("[Quillmark][Tarnwell]"), std::string::npos) << answers[0];
    EXPECT_NE(answers[0].find("connecting fails"), std::string::npos) << answers[0];
    EXPECT_EQ(answers[1], "Connected and authenticated with Apache Spark");
    EXPECT_EQ(cfg.odbc_ini(), before);   // testing saves nothing
}

TEST_F(SetupDialog, TextsLongerThanTheRecordAreRefused) {
    cfg.write_odbc_ini(kSales);
    std::string before = cfg.odbc_ini();
    std::string box;
    DialogScript script([&](QDialog *d) {
        // 600 characters, 1200 bytes.
        std::string token;
        for (int i = 0; i < 600; i++) token += "\xc3\xa9";
        set_text(d, "access_token", token.c_str());
        answer_next_box(&box);
        click(d, "ok");
        click(d, "cancel");
    });
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
    EXPECT_NE(box.find("longer than 1023 bytes"), std::string::npos) << box;
    EXPECT_EQ(cfg.odbc_ini(), before);
}

// Without a display nothing is drawn and nothing aborts: the installer gets
// an error that says why.  (Each test runs in its own process, so no Qt
// application exists yet.)
TEST(SetupHeadless, NoDisplayIsAnInstallerErrorNotAnAbort) {
    SetupConfig cfg;
    use_no_display();
    cfg.write_odbc_ini(kSales);
    std::string before = cfg.odbc_ini();
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
    DWORD code = 0;
    EXPECT_EQ(installer_error(&code), "No dialog can be shown: no display (DISPLAY is not set)");
    EXPECT_EQ(code, (DWORD)ODBC_ERROR_INVALID_HWND);
    EXPECT_EQ(cfg.odbc_ini(), before);
    setenv("DISPLAY", ":93", 1);   // nothing listens there
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
    EXPECT_EQ(installer_error(), "No dialog can be shown: the display ':93' does not answer");
    // The same without a window: written directly, as install scripts expect.
    EXPECT_TRUE(SQLConfigDataSource(nullptr, ODBC_CONFIG_DSN, kDriverName, attributes({"DSN=Sales", "Port=7"}).c_str()));
    EXPECT_EQ(cfg.section("Sales")["port"], "7");
}

// On a real X server (scripts run this under xvfb-run): the dialog is
// mapped, and what the server shows is saved as a test artefact.
TEST(SetupXvfb, TheDialogOnARealXServer) {
    if (!getenv("DISPLAY") || !*getenv("DISPLAY")) GTEST_SKIP() << "no X server (run under xvfb-run)";
    unsetenv("QT_QPA_PLATFORM");
    SetupConfig cfg;
    cfg.write_odbc_ini(kSales);
    QSize size;
    bool saved = false;
    DialogScript script([&](QDialog *d) {
        // Give the server time to map and paint the window.
        QTimer::singleShot(500, d, [&, d]() {
            QPixmap shot = d->screen()->grabWindow(d->winId());
            size = shot.size();
            saved = shot.save(QString::fromStdString(artefact("setup-dialog-xvfb.png")));
            click(d, "cancel");
        });
    });
    EXPECT_FALSE(config(ODBC_CONFIG_DSN, {"DSN=Sales"}));
    EXPECT_EQ(QGuiApplication::platformName().toStdString(), "xcb");
    EXPECT_TRUE(saved);
    EXPECT_EQ(size, QSize(430, 555));
}
