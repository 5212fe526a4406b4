// The data-source dialog: shows a data source's values, saves them to
// odbc.ini, tests them through the driver; in completion mode it asks for
// the details of one connection instead.
#pragma once

#include <QDialog>

#include <string>

#include "spk_dsn_values.h"

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;

// Results of the dialog.
enum { SPK_DIALOG_OK = 0, SPK_DIALOG_CANCEL = 100 };

class Setup : public QDialog {
    Q_OBJECT
  public:
    // `completion`: the record a completion dialog fills (null for a data
    // source); `required`: only the missing values may be edited.
    Setup(SpkConnectInfo *completion, bool required);
    // Shows the loaded values.  `add`: a new data source (its name must
    // not exist yet); otherwise a new name renames it.
    void show_values(const SpkDsnValues &values, bool add, const std::string &driver);
    int result_value() const { return result_; }

  public slots:
    void Ok();
    void Cancel();
    void Dsn_test();
    void select_auth(int index);

  protected:
    // Escape and the close box: the same as Cancel.
    void reject() override;

  private:
    QLineEdit *text_row(QGroupBox *box, int y, const char *label, const char *name, int width, const char *tip);
    QCheckBox *check_row(QGroupBox *box, int x_label, int x_box, int y, const char *label, const char *name,
                         const char *tip);
    // The values on screen (what was loaded, changed by the user).
    SpkDsnValues current() const;
    // Every text fits the connection record; false after telling the user.
    bool texts_fit(const SpkDsnValues &v);
    void lock_supplied();

    SpkConnectInfo *completion_;
    bool required_;
    bool add_ = false;
    bool testing_ = false;
    int result_ = SPK_DIALOG_OK;
    std::string driver_;
    SpkDsnValues loaded_;

    QLineEdit *dsn_ = nullptr, *description_ = nullptr;
    QLineEdit *server_, *uid_, *pwd_, *port_, *col_length_, *log_file_, *certificate_file_, *krb_principle_,
        *http_uri_, *access_token_;
    QCheckBox *logging_, *encrypt_, *trust_;
    QComboBox *authentication_;
    QPushButton *test_, *ok_, *cancel_;
};

// Runs the dialog modally for a data source (`completion` null) or for one
// connection; returns SPK_DIALOG_OK or SPK_DIALOG_CANCEL.  The caller has
// made sure the toolkit is usable (spk_gui_ready).
int spk_run_setup_dialog(const char *attributes, bool add, const std::string &driver, SpkConnectInfo *completion,
                         bool required);
