#pragma once
// The configuration sheet from the window: "Plik › Drukuj…" (print preview) and "Plik › Eksportuj
// PDF…".  Each first asks for the optional client or site name and whether the access password
// and the SIM PIN are shown; the sheet itself is report/sheet.h.
#include <QDialog>
#include <QString>
#include <functional>

#include "ui/form.h"
#include "report/sheet.h"

class QCheckBox;
class QLineEdit;
class QMainWindow;

namespace dovu {
class Form;
class Notifier;
}  // namespace dovu

namespace dovu::ui {

// Site name and secrets: the options a person chooses for one sheet.
class SheetOptionsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SheetOptionsDialog(QWidget* parent);
  report::SheetOptions options() const;
  QLineEdit* site() const { return site_; }
  QCheckBox* secrets() const { return secrets_; }

 private:
  QLineEdit* site_;
  QCheckBox* secrets_;
};

// Adds the two entries to the window's "Plik" menu.  The sheet shows the form's configuration and
// the firmware version `firmware` gives (the logged-in controller's; empty when none is known).
void addSheetActions(QMainWindow& window, Form& form, Notifier& notifier, std::function<QString()> firmware);

// Writes the sheet of a configuration to path; false after telling the user why.
bool exportSheet(const Configuration& c, Notifier& notifier, const QString& path, const report::SheetOptions& options);

}  // namespace dovu::ui
