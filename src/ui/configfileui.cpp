#include "ui/configfileui.h"

#include <QDir>
#include <QFileDialog>

#include "base/notifier.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "storage/configfile.h"

namespace dovu::ui {

bool loadConfigFileFromPath(Form& form, Notifier& notifier, const QString& path) {
  Notices why;
  const auto c = readConfigFile(path, &why);
  if (!c) {
    notifier.show(why);
    return false;
  }
  showConfiguration(form, *c);
  form.markConfigurationReceived();
  notifier.beep();
  notifier.message(MessageKind::Information, QString::fromUtf8(kConfigLoadedText));
  return true;
}

bool saveConfigFileToPath(Form& form, Notifier& notifier, const QString& path) {
  Notices why;
  form.commitEditing();
  const bool saved = saveConfigFile(configurationOf(form), path, &why);
  notifier.show(why);
  return saved;
}

bool loadConfigFileInteractive(QWidget* parent, Form& form, Notifier& notifier) {
  const QString path = QFileDialog::getOpenFileName(parent, QStringLiteral("Odczyt"), QDir::homePath(),
                                                    QString::fromUtf8(kConfigFileFilter));
  if (path.isEmpty()) return false;
  return loadConfigFileFromPath(form, notifier, path);
}

bool saveConfigFileInteractive(QWidget* parent, Form& form, Notifier& notifier) {
  // The file is built before the name is asked for: a value that cannot be saved is reported
  // without a dialog.
  form.commitEditing();
  QString why;
  if (!buildConfigFile(configurationOf(form), &why)) {
    notifier.report(MessageKind::Error, Problem{Cause::ConfigNotSaved, Cause::None, {}, {}, why});
    return false;
  }
  QFileDialog dialog(parent, QStringLiteral("Zapis"), QDir::homePath(), QString::fromUtf8(kConfigFileFilter));
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setDefaultSuffix(QStringLiteral("dvc"));
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return false;
  return saveConfigFileToPath(form, notifier, dialog.selectedFiles().constFirst());
}

}  // namespace dovu::ui
