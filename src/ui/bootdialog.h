#pragma once
// The firmware dialog.  "Plik" picks and checks a *.dvf file, "START" starts the transfer (it
// runs on the event loop while the dialog stays responsive), BarBoot shows how far it got.  Created for one use and shown modally; while it is open the live-state poll is off.
#include <QDialog>
#include <functional>
#include <memory>
#include <optional>

#include "firmware/bootloader.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace dovu {
class Link;
class Notifier;
class Session;
}  // namespace dovu

namespace dovu::ui {

class FirmwareDialog : public QDialog {
  Q_OBJECT
 public:
  FirmwareDialog(Session& session, Link& link, Notifier& notifier, QWidget* parent = nullptr);
  ~FirmwareDialog() override;

  // "Plik": asks for a file (through fileChooser when set, else the file dialog) and checks it.
  void button1Click();
  // The same for a given path: shows it, checks the file, and enables START only when it passed.
  bool chooseFile(const QString& path);
  // "START": starts the transfer; once it ends, the dialog closes after kCloseDelayMs.  Does
  // nothing without a checked file or while a transfer runs.
  void buttonStartClick();

  bool transferRunning() const { return update_->running(); }
  std::optional<FirmwareUpdate::Result> lastResult() const { return lastResult_; }

  // Closing (Esc, the title bar) is refused while a transfer runs.
  void done(int result) override;

  // Replaces the file dialog (tests): returns the chosen path, or an empty string for "cancel".
  std::function<QString()> fileChooser;

 private:
  void closed();

  Session& session_;
  Link& link_;
  Notifier& notifier_;
  std::shared_ptr<FirmwareUpdate> update_;
  std::optional<FirmwareFile> file_;
  std::optional<FirmwareUpdate::Result> lastResult_;
  bool closed_ = false;
  bool closing_ = false;  // the transfer ended; the dialog closes after kCloseDelayMs

  QLabel* label1_;
  QPushButton* button1_;
  QPushButton* buttonStart_;
  QLabel* labelNazwaPliku_;
  QProgressBar* barBoot_;
};

}  // namespace dovu::ui
