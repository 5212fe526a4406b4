#include "spk_setup_dialog.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QEventLoop>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>

#include <atomic>
#include <cstring>
#include <memory>
#include <thread>

#include "spk_handles.h"   // the authentication codes
#include "spk_keywords.h"
#include "spk_setup_hooks.h"
#include "spk_setup_driver.h"

namespace {

const int kRowHeight = 20;
const int kLabelX = 30, kLabelWidth = 100, kFieldX = 130;

const char *const kAuthItems[SPK_AUTH_CODE_COUNT] = {
    "None", "NoSASL", "LDAP", "Kerberos (GSS)", "Kerberos (Active Directory)", "HTTP (Basic)", "HTTP (Oauth)",
};

QString q(const std::string &s) { return QString::fromUtf8(s.data(), (qsizetype)s.size()); }
std::string s(const QString &q) { return q.toUtf8().toStdString(); }

// A check box that was on keeps the mask it was loaded with.
int switch_value(const QCheckBox *box, int loaded) {
    if (!box->isChecked()) return 0;
    return loaded ? loaded : 1;
}

}   // namespace

Setup::Setup(SpkConnectInfo *completion, bool required) : completion_(completion), required_(required) {
    setObjectName("DSN Properties");
    setWindowTitle("Quillmark Tarnwell DSN Setup");
    setModal(true);
    bool c = completion != nullptr;
    setFixedSize(430, c ? 480 : 555);

    if (!c) {
        QGroupBox *names = new QGroupBox(this);
        names->setGeometry(10, 10, 410, 75);
        dsn_ = text_row(names, 10, "&DSN:", "dsn", 250, "Data source name");
        description_ = text_row(names, 35, "D&escription:", "description", 250, "Data source description");
    }
    QGroupBox *box = new QGroupBox(this);
    box->setGeometry(10, c ? 10 : 95, 410, 420);
    server_ = text_row(box, 10, "Server:", "server", 250, "Server");
    uid_ = text_row(box, 40, "&User Name:", "uid", 250, "User Name");
    pwd_ = text_row(box, 70, "&Password:", "pwd", 250, "Password");
    pwd_->setEchoMode(QLineEdit::Password);
    port_ = text_row(box, 100, "Port:", "port", 250, "Port");
    col_length_ = text_row(box, 140, "Varchar Len:", "col_length", 100, "Default Char length for Varchar");
    logging_ = check_row(box, kLabelX, kFieldX, 170, "Logging:", "logging", "Generate Logfile");
    log_file_ = text_row(box, 200, "Logfile:", "log_file", 250, "Trace log file");
    encrypt_ = check_row(box, kLabelX, kFieldX, 230, "Encrypt:", "encrypt", "Use Encrypted Communication");
    trust_ = check_row(box, 200, 330, 230, "TrustServerCrt:", "trust", "Trust Server Certificate");
    certificate_file_ = text_row(box, 260, "Server Cert:", "certificate_file", 250, "Server Certificate");

    QLabel *auth_label = new QLabel("Authentication:", box);
    auth_label->setGeometry(kLabelX, 290, kLabelWidth, kRowHeight);
    authentication_ = new QComboBox(box);
    authentication_->setObjectName("authentication");
    authentication_->setGeometry(kFieldX, 290, 220, kRowHeight);
    authentication_->setToolTip("Select Authentication");
    authentication_->setWhatsThis("Select Authentication");
    for (int code = 0; code < SPK_AUTH_CODE_COUNT; code++) authentication_->addItem(kAuthItems[code], code);
    auth_label->setBuddy(authentication_);
    connect(authentication_, QOverload<int>::of(&QComboBox::activated), this, &Setup::select_auth);

    krb_principle_ = text_row(box, 320, "Kerb Principle:", "krb_principle", 250, "Kerberos Principle");
    http_uri_ = text_row(box, 350, "Http Uri:", "http_uri", 250, "HTTP Uri");
    access_token_ = text_row(box, 380, "Access Token:", "access_token", 250, "OAuth Access Token");

    int y = c ? 440 : 525;
    auto button = [&](const char *text, const char *name, int x, const char *tip) {
        QPushButton *b = new QPushButton(text, this);
        b->setObjectName(name);
        b->setGeometry(x, y, 70, 25);
        b->setToolTip(tip);
        return b;
    };
    test_ = button("&Test", "test", 20, "Test connection");
    ok_ = button("O&K", "ok", 260, "Save changes and finish");
    cancel_ = button("&Cancel", "cancel", 340, "Exit without saving changes");
    ok_->setDefault(true);
    connect(test_, &QPushButton::clicked, this, &Setup::Dsn_test);
    connect(ok_, &QPushButton::clicked, this, &Setup::Ok);
    connect(cancel_, &QPushButton::clicked, this, &Setup::Cancel);
}

QLineEdit *Setup::text_row(QGroupBox *box, int y, const char *label, const char *name, int width, const char *tip) {
    QLabel *l = new QLabel(label, box);
    l->setGeometry(kLabelX, y, kLabelWidth, kRowHeight);
    QLineEdit *e = new QLineEdit(box);
    e->setObjectName(name);
    e->setGeometry(kFieldX, y, width, kRowHeight);
    e->setMaxLength(SPK_VALUE_MAX);
    e->setToolTip(tip);
    e->setWhatsThis(tip);
    l->setBuddy(e);
    return e;
}

QCheckBox *Setup::check_row(QGroupBox *box, int x_label, int x_box, int y, const char *label, const char *name,
                            const char *tip) {
    QLabel *l = new QLabel(label, box);
    l->setGeometry(x_label, y, kLabelWidth, kRowHeight);
    QCheckBox *b = new QCheckBox(box);
    b->setObjectName(name);
    b->setGeometry(x_box, y, 20, kRowHeight);
    b->setToolTip(tip);
    b->setWhatsThis(tip);
    l->setBuddy(b);
    return b;
}

void Setup::show_values(const SpkDsnValues &v, bool add, const std::string &driver) {
    loaded_ = v;
    add_ = add;
    driver_ = driver;
    if (dsn_) {
        // The name stays editable when configuring too: saving under a new
        // name renames the data source.
        dsn_->setText(q(v.dsn));
        description_->setText(q(v.description));
    }
    server_->setText(q(v.server));
    uid_->setText(q(v.uid));
    pwd_->setText(q(v.pwd));
    port_->setText(QString::number(v.port));
    col_length_->setText(q(v.col_length));
    log_file_->setText(q(v.log_file));
    certificate_file_->setText(q(v.certificate_file));
    krb_principle_->setText(q(v.krb_principle));
    http_uri_->setText(q(v.http_uri));
    access_token_->setText(q(v.access_token));
    logging_->setChecked(v.logging != 0);
    encrypt_->setChecked(v.encrypt != 0);
    trust_->setChecked(v.trust != 0);
    int index = authentication_->findData(v.authentication);
    if (index < 0) {
        // A method code this dialog has no name for stays as it is.
        authentication_->addItem(QString("Method %1").arg(v.authentication), v.authentication);
        index = authentication_->count() - 1;
    }
    authentication_->setCurrentIndex(index);
    select_auth(index);
    if (required_) lock_supplied();
}

// Completion with only the required values: what is already known stays
// as it is; the credentials stay editable, since a refused logon is the
// usual reason for asking.
void Setup::lock_supplied() {
    for (QLineEdit *e : {server_, port_, col_length_, log_file_, certificate_file_, krb_principle_, http_uri_})
        if (!e->text().isEmpty()) e->setReadOnly(true);
    for (QCheckBox *b : {logging_, encrypt_, trust_}) b->setEnabled(false);
    authentication_->setEnabled(false);
}

void Setup::select_auth(int index) {
    int code = authentication_->itemData(index).toInt();
    krb_principle_->setEnabled(code == AUTH_KERBEROS || code == AUTH_AD);
    http_uri_->setEnabled(code == AUTH_HTTP_BASIC || code == AUTH_HTTP_OAUTH);
    access_token_->setEnabled(code == AUTH_HTTP_OAUTH);
}

SpkDsnValues Setup::current() const {
    SpkDsnValues v = loaded_;
    if (dsn_) {
        v.dsn = s(dsn_->text().trimmed());
        v.description = s(description_->text());
    }
    v.server = s(server_->text());
    v.uid = s(uid_->text());
    v.pwd = s(pwd_->text());
    v.port = spk_parse_decimal(s(port_->text()).c_str());
    v.col_length = s(col_length_->text());
    v.log_file = s(log_file_->text());
    v.certificate_file = s(certificate_file_->text());
    v.krb_principle = s(krb_principle_->text());
    v.http_uri = s(http_uri_->text());
    v.access_token = s(access_token_->text());
    v.logging = switch_value(logging_, loaded_.logging);
    v.encrypt = switch_value(encrypt_, loaded_.encrypt);
    v.trust = switch_value(trust_, loaded_.trust);
    v.authentication = authentication_->currentData().toInt();
    return v;
}

bool Setup::texts_fit(const SpkDsnValues &v) {
    for (int f = 0; f < SPK_FIELD_COUNT; f++) {
        std::string text = f == SPK_FIELD_DSN ? v.dsn : spk_field_text(v, f);
        if (text.size() <= SPK_VALUE_MAX) continue;
        QMessageBox::warning(this, windowTitle(),
                             QString("%1 is longer than %2 bytes.").arg(spk_field_key(f) ? spk_field_key(f) : "DSN")
                                 .arg(SPK_VALUE_MAX));
        return false;
    }
    return true;
}

void Setup::Ok() {
    if (testing_) return;
    SpkDsnValues v = current();
    if (!texts_fit(v)) return;
    if (completion_) {
        spk_fill_connect_info(v, completion_);
    } else {
        std::string error;
        if (!spk_save_dsn_values(v, loaded_, add_ ? std::string() : loaded_.dsn, driver_, &error)) {
            QMessageBox::warning(this, windowTitle(), q(error));
            return;   // stays open: correct the name, or cancel
        }
    }
    result_ = SPK_DIALOG_OK;
    QDialog::accept();
}

void Setup::Cancel() {
    if (testing_) return;
    result_ = SPK_DIALOG_CANCEL;
    QDialog::reject();
}

void Setup::reject() { Cancel(); }

void Setup::Dsn_test() {
    if (testing_) return;
    SpkDsnValues v = current();
    if (!texts_fit(v)) return;
    struct Job {
        SpkConnectInfo info;
        char message[4096];
        int result = 1;
    };
    auto job = std::make_shared<Job>();
    spk_fill_connect_info(v, &job->info);
    job->message[0] = 0;

    spk_driver_test_fn driver_test = spk_find_driver_test(driver_);
    if (!driver_test) {
        QMessageBox::warning(this, "Tarnwell Test", "The driver library could not be loaded.");
        return;
    }
    // The test runs on its own thread (bounded by the driver's login
    // timeout) while this one keeps the dialog painted.
    testing_ = true;
    test_->setEnabled(false);
    setEnabled(false);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    QEventLoop loop;
    std::thread worker([job, driver_test, &loop]() {
        job->result = driver_test(&job->info, job->message, (int)sizeof job->message);
        QMetaObject::invokeMethod(&loop, "quit", Qt::QueuedConnection);
    });
    loop.exec();
    worker.join();
    QApplication::restoreOverrideCursor();
    setEnabled(true);
    test_->setEnabled(true);
    testing_ = false;
    job->message[sizeof job->message - 1] = 0;
    QString text = QString::fromUtf8(job->message);
    if (job->result != 0)
        QMessageBox::warning(this, "Tarnwell Test", text.isEmpty() ? "Test failed - with no information" : text);
    else
        QMessageBox::information(this, "Tarnwell Test", text);
    activateWindow();
    raise();
}

int spk_run_setup_dialog(const char *attributes, bool add, const std::string &driver, SpkConnectInfo *completion,
                         bool required) {
    SpkDsnValues values;
    spk_load_dsn_values(&values, attributes);
    std::unique_ptr<Setup> dialog(new Setup(completion, required));
    dialog->show_values(values, add, driver);
    spk_call_dialog_hook(dialog.get());
    dialog->exec();
    return dialog->result_value();
}
