#include "ui/reportui.h"

#include <QAction>
#include <QCheckBox>
#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFormLayout>
#include <QLineEdit>
#include <QMainWindow>
#include <QMenu>
#include <QMenuBar>
#include <QPrintPreviewDialog>
#include <QPrinter>
#include <QPushButton>
#include <QTextDocument>
#include <optional>

#include "base/notifier.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "storage/checkedfile.h"

namespace dovu::ui {

SheetOptionsDialog::SheetOptionsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("SheetOptions"));
  setWindowTitle(QStringLiteral("Karta konfiguracji"));
  auto* form = new QFormLayout(this);
  site_ = new QLineEdit;
  site_->setObjectName(QStringLiteral("SheetSite"));
  site_->setAccessibleName(QStringLiteral("Obiekt lub klient"));
  site_->setPlaceholderText(QStringLiteral("opcjonalnie"));
  secrets_ = new QCheckBox(QStringLiteral("Pokaż hasło dostępu i PIN karty SIM"));
  secrets_->setObjectName(QStringLiteral("SheetSecrets"));
  secrets_->setAccessibleName(secrets_->text());
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel);
  buttons->setObjectName(QStringLiteral("SheetButtons"));
  // In Polish also where Qt's own translations are not installed.
  buttons->button(QDialogButtonBox::Ok)->setText(QStringLiteral("OK"));
  buttons->button(QDialogButtonBox::Cancel)->setText(QStringLiteral("Anuluj"));
  form->addRow(QStringLiteral("Obiekt / klient:"), site_);
  form->addRow(secrets_);
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
}

report::SheetOptions SheetOptionsDialog::options() const {
  report::SheetOptions o;
  o.site = site_->text().trimmed();
  o.showSecrets = secrets_->isChecked();
  o.programVersion = QCoreApplication::applicationVersion();
  return o;
}

bool exportSheet(const Configuration& c, Notifier& notifier, const QString& path, const report::SheetOptions& options) {
  const QByteArray pdf = report::sheetPdf(c, options);
  QString why;
  if (pdf.isEmpty()) why = QStringLiteral("Nie udało się utworzyć dokumentu PDF");
  else if (saveFileAtomically(path, Bytes(pdf.constData(), static_cast<std::size_t>(pdf.size())), &why)) return true;
  notifier.message(MessageKind::Error, QStringLiteral("Nie zapisano karty konfiguracji"), why);
  return false;
}

namespace {

// The options for one sheet; nullopt when the user cancelled.
std::optional<report::SheetOptions> askOptions(QWidget* parent, Form& form) {
  form.commitEditing();
  SheetOptionsDialog dialog(parent);
  if (dialog.exec() != QDialog::Accepted) return std::nullopt;
  return dialog.options();
}

}  // namespace

void addSheetActions(QMainWindow& window, Form& form, Notifier& notifier, std::function<QString()> firmware) {
  // The configuration as the window shows it, with the controller's firmware version.
  const auto shown = [&form, firmware] {
    Configuration c = configurationOf(form);
    c.firmware = firmware();
    return c;
  };
  QMenu* file = window.menuBar()->findChild<QMenu*>(QStringLiteral("Plik"));
  if (!file) return;
  file->addSeparator();
  QAction* print = file->addAction(QStringLiteral("&Drukuj…"));
  print->setObjectName(QStringLiteral("Drukuj1"));
  print->setShortcut(QKeySequence::Print);
  QAction* pdf = file->addAction(QStringLiteral("&Eksportuj PDF…"));
  pdf->setObjectName(QStringLiteral("EksportujPDF1"));

  QObject::connect(print, &QAction::triggered, &window, [&window, &form, shown] {
    const auto options = askOptions(&window, form);
    if (!options) return;
    QPrinter printer(QPrinter::HighResolution);
    printer.setPageSize(QPageSize(QPageSize::A4));
    printer.setDocName(QStringLiteral("Karta konfiguracji DOVU"));
    QPrintPreviewDialog preview(&printer, &window);
    preview.setObjectName(QStringLiteral("SheetPreview"));
    preview.setWindowTitle(QStringLiteral("Podgląd wydruku"));
    const auto doc = report::sheetDocument(shown(), *options);
    QObject::connect(&preview, &QPrintPreviewDialog::paintRequested, &preview,
                     [&doc](QPrinter* p) { doc->print(p); });
    preview.exec();
  });
  QObject::connect(pdf, &QAction::triggered, &window, [&window, &form, &notifier, shown] {
    const auto options = askOptions(&window, form);
    if (!options) return;
    QFileDialog dialog(&window, QStringLiteral("Eksportuj PDF"), QDir::homePath(),
                       QStringLiteral("Dokument PDF (*.pdf)"));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setDefaultSuffix(QStringLiteral("pdf"));
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
    exportSheet(shown(), notifier, dialog.selectedFiles().constFirst(), *options);
  });
}

}  // namespace dovu::ui
