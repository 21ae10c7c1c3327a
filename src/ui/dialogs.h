#pragma once
// The dialogs beside the main window: the progress dialog of the download and upload, the port
// list, the About dialog and the password change.
#include <QDialog>

class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QPushButton;

namespace dovu {
class Form;
class Session;
struct PortEntry;
}

namespace dovu::ui {

class FieldBinder;

// The progress dialog: no title-bar buttons and no way for the user to close it; the transfers show and
// hide it through the form entries ProgressDialog, Panel_bar, Label_Bar and Bar.
class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  ProgressDialog(FieldBinder& binder, QWidget* parent);

 protected:
  void closeEvent(QCloseEvent* e) override;
  void reject() override {}
};

// The port list: the ports and their device names; "Odśwież" lists them again.
class PortListDialog : public QDialog {
  Q_OBJECT
 public:
  explicit PortListDialog(QWidget* parent);
  void showPorts(const std::vector<PortEntry>& ports);

 signals:
  void refreshRequested();

 private:
  QPlainTextEdit* portyCom_;
  QPlainTextEdit* devCom_;
};

// About: program name, author, web address and our picture.
class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent);
  static const char* webAddress();
};

// The password dialog: the new access password, exactly four digits.
class PasswordDialog : public QDialog {
  Q_OBJECT
 public:
  PasswordDialog(Session& session, const Form& form, QWidget* parent);
  void done(int result) override;

 private:
  Session& session_;
  QLineEdit* edit_;
  QPushButton* save_;
};

}  // namespace dovu::ui
