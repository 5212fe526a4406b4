// SQLDriverConnect's prompting through the Driver Manager: the setup
// library found through odbcinst.ini's Setup=, the completion dialog
// pre-filled with every setting, the answer applied, Cancel, and IM008
// (never an abort) when no dialog can be shown.
#include <gtest/gtest.h>

#include "fake_server.h"
#include "setup_support.h"

using namespace tarn_setup;

namespace {

SQLHWND kWindow = (SQLHWND)0x1;

struct Connection {
    Connection() {
        SQLAllocHandle(SQL_HANDLE_ENV, SQL_NULL_HANDLE, &env);
        SQLSetEnvAttr(env, SQL_ATTR_ODBC_VERSION, (SQLPOINTER)SQL_OV_ODBC3, 0);
        SQLAllocHandle(SQL_HANDLE_DBC, env, &dbc);
        // A TLS attempt against the plain fake server must end, not wait.
        SQLSetConnectAttr(dbc, SQL_ATTR_LOGIN_TIMEOUT, (SQLPOINTER)5, 0);
    }
    ~Connection() {
        SQLDisconnect(dbc);
        SQLFreeHandle(SQL_HANDLE_DBC, dbc);
        SQLFreeHandle(SQL_HANDLE_ENV, env);
    }
    SQLRETURN connect(const std::string &in, SQLUSMALLINT completion, SQLHWND window = kWindow) {
        SQLSMALLINT length = 0;
        out[0] = 0;
        return SQLDriverConnect(dbc, window, (SQLCHAR *)in.c_str(), SQL_NTS, out, sizeof out, &length, completion);
    }
    std::string diag() { return tarn_test::diag_text(SQL_HANDLE_DBC, dbc); }
    SQLHENV env = SQL_NULL_HANDLE;
    SQLHDBC dbc = SQL_NULL_HANDLE;
    SQLCHAR out[1024];
};

class Prompt : public ::testing::Test {
  protected:
    SetupConfig cfg;
    tarn_fake::FakeServer server;
};

}  // namespace

TEST_F(Prompt, WithoutAWindowHandleIsIM008) {
    use_offscreen_display();
    Connection c;
    EXPECT_EQ(c.connect("DRIVER={Quillmark Tarnwell};PORT=1", SQL_DRIVER_COMPLETE, nullptr), SQL_ERROR);
    EXPECT_NE(c.diag().find("IM008:[Quillmark][Tarnwell]Dialog failed: no window handle"), std::string::npos)
        << c.diag();
}

TEST_F(Prompt, WithoutADisplayIsIM008AndTheHostLivesOn) {
    use_no_display();
    Connection c;
    EXPECT_EQ(c.connect("DRIVER={Quillmark Tarnwell};PORT=1", SQL_DRIVER_COMPLETE), SQL_ERROR);
    EXPECT_NE(c.diag().find("IM008:[Quillmark][Tarnwell]Dialog failed: no display"), std::string::npos) << c.diag();
    // A reachable server needs no dialog at all.
    std::string in = "DRIVER={Quillmark Tarnwell};SERVER=127.0.0.1;PORT=" + std::to_string(server.port());
    EXPECT_EQ(c.connect(in, SQL_DRIVER_COMPLETE), SQL_SUCCESS) << c.diag();
}

// The dialog shows every setting of the connection (TLS ones included) and
// its answer is what the driver connects with; the output string keeps
// the data source's name.
TEST_F(Prompt, CompleteAfterAFailedAttemptConnectsWithTheEditedValues) {
    use_offscreen_display();
    cfg.write_odbc_ini("[Sales]\nDriver=Quillmark Tarnwell\nServer=127.0.0.1\nPort=1\nGSSFLAG=4\n");
    std::string error_box;
    std::map<std::string, std::string> shown;
    bool encrypt_shown = false;
    DialogScript script([&](QDialog *d) {
        if (qobject_cast<QMessageBox *>(d)) {   // the failed attempt's messages
            error_box = static_cast<QMessageBox *>(d)->text().toStdString();
            d->done(0);
            return;
        }
        for (const char *name : {"server", "port", "uid", "pwd", "certificate_file", "http_uri"})
            shown[name] = text_of(d, name);
        encrypt_shown = child<QCheckBox>(d, "encrypt")->isChecked();
        child<QCheckBox>(d, "encrypt")->setChecked(false);   // the fake server speaks no TLS
        set_text(d, "port", std::to_string(server.port()).c_str());
        click(d, "ok");
    });
    Connection c;
    SQLRETURN rc = c.connect("DSN=Sales;UID=joe;PWD=pw;ssl=yes;CertificateFile=/tmp/ca.pem;HttpUri=cli",
                             SQL_DRIVER_COMPLETE);
    ASSERT_EQ(rc, SQL_SUCCESS) << c.diag();
    EXPECT_EQ(script.dialogs, 2);
    EXPECT_NE(error_box.find("[Quillmark][Tarnwell]"), std::string::npos) << error_box;
    EXPECT_EQ(shown["server"], "127.0.0.1");
    EXPECT_EQ(shown["port"], "1");
    EXPECT_EQ(shown["uid"], "joe");
    EXPECT_EQ(shown["pwd"], "pw");
    EXPECT_EQ(shown["certificate_file"], "/tmp/ca.pem");
    EXPECT_EQ(shown["http_uri"], "cli");
    EXPECT_TRUE(encrypt_shown);
    std::string out = (const char *)c.out;
    EXPECT_EQ(out.rfind("DSN=Sales;UID=joe;PWD=pw;SERVER=127.0.0.1;PORT=" + std::to_string(server.port()) + ";", 0),
              0u)
        << out;
    EXPECT_NE(out.find("CertificateFile=/tmp/ca.pem;"), std::string::npos) << out;
    EXPECT_NE(out.find("GSSFLAG=4;"), std::string::npos) << out;   // kept: the dialog does not show it
    EXPECT_EQ(out.find("ssl=yes"), std::string::npos) << out;      // switched off in the dialog
}

TEST_F(Prompt, TlsSurvivesAPromptThatDoesNotTouchIt) {
    use_offscreen_display();
    Connection c;
    // No server: the dialog opens first; its OK keeps TLS on, so the
    // attempt fails as a TLS attempt, never as a plain one.
    std::string in = "DRIVER={Quillmark Tarnwell};PORT=" + std::to_string(server.port()) + ";ssl=yes";
    DialogScript again([&](QDialog *d) {
        EXPECT_TRUE(child<QCheckBox>(d, "encrypt")->isChecked());
        set_text(d, "server", "127.0.0.1");
        click(d, "ok");
    });
    EXPECT_EQ(c.connect(in, SQL_DRIVER_COMPLETE), SQL_ERROR);
    EXPECT_EQ(again.dialogs, 1);
    for (const auto &r : server.records()) EXPECT_NE(r.name, "OpenSession") << c.diag();
}

TEST_F(Prompt, PromptAlwaysAsksAndCancelIsNoData) {
    use_offscreen_display();
    int dialogs = 0;
    DialogScript script([&](QDialog *d) {
        dialogs++;
        click(d, "cancel");
    });
    Connection c;
    std::string in = "DRIVER={Quillmark Tarnwell};SERVER=127.0.0.1;PORT=" + std::to_string(server.port());
    EXPECT_EQ(c.connect(in, SQL_DRIVER_PROMPT), SQL_NO_DATA);
    EXPECT_EQ(dialogs, 1);
    EXPECT_TRUE(server.records().empty());
}

TEST_F(Prompt, CompleteRequiredLetsOnlyTheMissingValuesBeEdited) {
    use_offscreen_display();
    bool server_locked = false, port_locked = false, pwd_editable = false, encrypt_enabled = true;
    DialogScript script([&](QDialog *d) {
        server_locked = child<QLineEdit>(d, "server")->isReadOnly();
        port_locked = child<QLineEdit>(d, "port")->isReadOnly();
        pwd_editable = !child<QLineEdit>(d, "pwd")->isReadOnly();
        encrypt_enabled = child<QCheckBox>(d, "encrypt")->isEnabled();
        set_text(d, "server", "127.0.0.1");   // what is missing
        click(d, "ok");
    });
    Connection c;
    std::string in = "DRIVER={Quillmark Tarnwell};PORT=" + std::to_string(server.port());
    ASSERT_EQ(c.connect(in, SQL_DRIVER_COMPLETE_REQUIRED), SQL_SUCCESS) << c.diag();
    EXPECT_FALSE(server_locked);
    EXPECT_TRUE(port_locked);
    EXPECT_TRUE(pwd_editable);
    EXPECT_FALSE(encrypt_enabled);
    EXPECT_EQ(std::string((const char *)c.out).rfind("DRIVER={Quillmark Tarnwell};", 0), 0u) << c.out;
}
