#include "ui/seriesdialog.h"

#include <QDate>
#include <QDesktopServices>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QTableWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "dovu/version.h"
#include "link/portlist.h"
#include "link/portwatcher.h"
#include "ui/form.h"
#include "ui/formview.h"
#include "report/sheet.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/configjson.h"
#include "ui/wording.h"

namespace dovu::ui {

namespace {

enum Column { kSite, kOverrides, kPort, kProgress, kResult, kSheet, kColumns };

QString span(int from, int to) {
  return from == to ? QString::number(from) : QStringLiteral("%1–%2").arg(from).arg(to);
}

// What the controller holds after a site that did not verify, in the window's words.
QString heldPolish(const SiteOutcome& o) {
  using Stage = SiteOutcome::Stage;
  if (o.stage == Stage::Login || o.stage == Stage::Backup || o.result == SiteOutcome::Result::Stopped ||
      (o.stage == Stage::Upload && o.written == 0 && !o.inFlight))
    return QStringLiteral("nic nie zapisano, sterownik ma poprzednią konfigurację");
  if (o.stage == Stage::Upload) {
    QStringList parts;
    if (o.written > 0) parts << QStringLiteral("%1 zapisane").arg(span(1, o.written));
    int next = o.written + 1;
    if (o.inFlight && next <= o.total) parts << QStringLiteral("%1 niepewny").arg(next++);
    if (next <= o.total) parts << QStringLiteral("%1 bez zmian").arg(span(next, o.total));
    return QStringLiteral("sterownik ma parametry ") + parts.join(QStringLiteral(", "));
  }
  if (!o.differing.isEmpty())
    return QStringLiteral("zapisano wszystko, lecz sterownik ma inne wartości w polach: ") + o.differing.join(QStringLiteral(", "));
  return QStringLiteral("zapisano wszystko, odczyt kontrolny nie został ukończony");
}

QString stagePolish(SiteOutcome::Stage s) {
  switch (s) {
    case SiteOutcome::Stage::Login: return QStringLiteral("Logowanie");
    case SiteOutcome::Stage::Backup: return QStringLiteral("Kopia zapasowa");
    case SiteOutcome::Stage::Upload: return QStringLiteral("Zapis");
    case SiteOutcome::Stage::Verify: return QStringLiteral("Odczyt kontrolny");
    case SiteOutcome::Stage::Done: break;
  }
  return QStringLiteral("Gotowe");
}

QString fileName(const QString& site) {
  QString name;
  for (const QChar c : site)
    name += c.category() == QChar::Other_Control || QStringLiteral("/\\:*?\"<>|").contains(c) ? QChar(u'_') : c;
  if (name.startsWith(QLatin1Char('.'))) name.replace(0, 1, QLatin1Char('_'));
  return name + QStringLiteral(".pdf");
}

}  // namespace

QString polishSiteFault(const SiteFault& f) {
  using K = SiteFault::Kind;
  const QString a0 = f.args.value(0), a1 = f.args.value(1);
  QString why;
  switch (f.kind) {
    case K::NotUtf8: why = QStringLiteral("plik nie jest tekstem UTF-8"); break;
    case K::OpenQuote: why = QStringLiteral("cudzysłów nie został zamknięty"); break;
    case K::Empty: why = QStringLiteral("tabela jest pusta"); break;
    case K::NoSiteColumn: why = QStringLiteral("brak kolumny „site” z nazwami obiektów"); break;
    case K::ColumnTwice: why = QStringLiteral("kolumna „%1” występuje dwa razy").arg(a0); break;
    case K::NoSuchField: why = QStringLiteral("nie ma pola konfiguracji o nazwie „%1”").arg(a0); break;
    case K::NotOneField:
      why = QStringLiteral("„%1” oznacza grupę pól, a kolumna zmienia jedno pole, np. „%2”").arg(a0, f.args.value(2));
      break;
    case K::CellCount: why = QStringLiteral("komórek: %1, a nagłówek ma %2").arg(a0, a1); break;
    case K::NoName: why = QStringLiteral("obiekt nie ma nazwy"); break;
    case K::ControlInName: why = QStringLiteral("nazwa zawiera znak sterujący"); break;
    case K::NameTwice: why = QStringLiteral("obiekt „%1” występuje dwa razy").arg(a0); break;
    case K::CharNotAllowed: why = QStringLiteral("znak „%1” jest w tym polu niedozwolony").arg(a0); break;
    case K::NotCp1250: why = QStringLiteral("znak %1 nie istnieje w kodowaniu Windows-1250").arg(a0); break;
    case K::TooLong: why = QStringLiteral("znaków: %1, pole mieści najwyżej %2").arg(a0, a1); break;
    case K::NotYesNo: why = QStringLiteral("„%1” to nie tak ani nie (1/0, tak/nie)").arg(a0); break;
    case K::NotByte: why = QStringLiteral("„%1” nie jest liczbą całkowitą 0–255").arg(a0); break;
    case K::NotListPosition: why = QStringLiteral("„%1” nie jest pozycją listy od -1 do %2 (-1: brak)").arg(a0, a1); break;
    case K::BadPassword: why = QStringLiteral("hasło dostępu musi mieć dokładnie cztery cyfry"); break;
    case K::Refused: why = QStringLiteral("konfiguracja odrzucona: %1").arg(a0); break;
    case K::NoSites: why = QStringLiteral("tabela nie zawiera żadnego obiektu"); break;
  }
  QString where;
  if (f.line > 0) where = QStringLiteral("wiersz %1").arg(f.line);
  if (!f.column.isEmpty()) where += QStringLiteral(", kolumna %1").arg(f.column);
  return where.isEmpty() ? why : where + QStringLiteral(": ") + why;
}

QString SeriesDialog::sheetFolder() {
  return QFileInfo(BackupStore::defaultFolder()).dir().filePath(QStringLiteral("karty"));
}

SeriesDialog::SeriesDialog(const Form& window, const QString& ownPort, QWidget* parent)
    : QDialog(parent), window_(configurationOf(window)), ownPort_(ownPort) {
  setObjectName(QStringLiteral("SeriaSterownikow"));
  setWindowTitle(QStringLiteral("Seria sterowników"));
  setAccessibleName(windowTitle());
  auto* layout = new QVBoxLayout(this);

  auto* files = new QGridLayout;
  auto addFile = [&](int row, const QString& label, const char* name, const QString& accessible,
                     const QString& placeholder, QLineEdit*& edit, const char* buttonName, void (SeriesDialog::*choose)()) {
    auto* l = new QLabel(label);
    edit = new QLineEdit;
    edit->setObjectName(QString::fromLatin1(name));
    edit->setAccessibleName(accessible);
    edit->setPlaceholderText(placeholder);
    l->setBuddy(edit);
    auto* b = new QPushButton(QStringLiteral("Wybierz…"));
    b->setObjectName(QString::fromLatin1(buttonName));
    b->setAccessibleName(accessible + QStringLiteral(": wybierz plik"));
    connect(b, &QPushButton::clicked, this, choose);
    files->addWidget(l, row, 0);
    files->addWidget(edit, row, 1);
    files->addWidget(b, row, 2);
  };
  addFile(0, QStringLiteral("&Szablon:"), "SzablonSerii", QStringLiteral("Plik szablonu"),
          QStringLiteral("konfiguracja z okna programu"), templatePath_, "WybierzSzablon", &SeriesDialog::chooseTemplate);
  addFile(1, QStringLiteral("&Tabela obiektów:"), "TabelaSerii", QStringLiteral("Plik tabeli obiektów (CSV)"),
          QStringLiteral("plik CSV: kolumna site i kolumny pól"), tablePath_, "WybierzTabele", &SeriesDialog::chooseTable);
  layout->addLayout(files);
  connect(templatePath_, &QLineEdit::editingFinished, this, &SeriesDialog::loadTable);
  connect(tablePath_, &QLineEdit::editingFinished, this, &SeriesDialog::loadTable);

  problem_ = new QLabel;
  problem_->setObjectName(QStringLiteral("BladSerii"));
  problem_->setAccessibleName(QStringLiteral("Błędy tabeli obiektów"));
  problem_->setWordWrap(true);
  problem_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  problem_->hide();
  layout->addWidget(problem_);

  sites_ = new QTableWidget(0, kColumns);
  sites_->setObjectName(QStringLiteral("ObiektySerii"));
  sites_->setAccessibleName(QStringLiteral("Obiekty serii"));
  sites_->setHorizontalHeaderLabels({QStringLiteral("Obiekt"), QStringLiteral("Zmiany względem szablonu"),
                                     QStringLiteral("Port"), QStringLiteral("Postęp"), QStringLiteral("Wynik"),
                                     QStringLiteral("Karta")});
  sites_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  sites_->setSelectionBehavior(QAbstractItemView::SelectRows);
  sites_->setTabKeyNavigation(false);
  sites_->verticalHeader()->hide();
  sites_->horizontalHeader()->setSectionResizeMode(kOverrides, QHeaderView::Stretch);
  layout->addWidget(sites_, 1);

  auto* portsLabel = new QLabel(QStringLiteral("&Porty (jeden sterownik na port):"));
  layout->addWidget(portsLabel);
  ports_ = new QListWidget;
  ports_->setObjectName(QStringLiteral("PortySerii"));
  ports_->setAccessibleName(QStringLiteral("Porty serii"));
  ports_->setMaximumHeight(110);
  portsLabel->setBuddy(ports_);
  layout->addWidget(ports_);

  summary_ = new QLabel;
  summary_->setObjectName(QStringLiteral("PodsumowanieSerii"));
  summary_->setAccessibleName(QStringLiteral("Podsumowanie serii"));
  layout->addWidget(summary_);

  auto* buttons = new QDialogButtonBox;
  startButton_ = buttons->addButton(QStringLiteral("&Rozpocznij"), QDialogButtonBox::ActionRole);
  startButton_->setObjectName(QStringLiteral("RozpocznijSerie"));
  stopButton_ = buttons->addButton(QStringLiteral("Za&trzymaj"), QDialogButtonBox::ActionRole);
  stopButton_->setObjectName(QStringLiteral("ZatrzymajSerie"));
  closeButton_ = buttons->addButton(QStringLiteral("&Zamknij"), QDialogButtonBox::RejectRole);
  closeButton_->setObjectName(QStringLiteral("ZamknijSerie"));
  for (QPushButton* b : {startButton_, stopButton_, closeButton_}) b->setAccessibleName(b->text().remove(QLatin1Char('&')));
  startButton_->setEnabled(false);
  stopButton_->setEnabled(false);
  layout->addWidget(buttons);
  connect(startButton_, &QPushButton::clicked, this, &SeriesDialog::start);
  connect(stopButton_, &QPushButton::clicked, this, [this] {
    if (!series_) return;
    series_->stop();
    stopButton_->setEnabled(false);
    summary_->setText(QStringLiteral("Zatrzymywanie: sterowniki w trakcie zapisu są kończone…"));
  });
  connect(buttons, &QDialogButtonBox::rejected, this, &SeriesDialog::reject);
  // Enter in a path only finishes the path: no button of the dialog is its default.
  for (QPushButton* b : findChildren<QPushButton*>()) {
    b->setAutoDefault(false);
    b->setDefault(false);
  }
  resize(860, 520);
  listPorts();
  // An adapter plugged in or pulled out while the dialog is open shows in the list at once.
  watcher_ = std::make_unique<PortWatcher>();
  connect(watcher_.get(), &PortWatcher::portsChanged, this, [this] {
    if (!series_) listPorts();
  });
}

SeriesDialog::~SeriesDialog() = default;

void SeriesDialog::reject() {
  // A series under way is never cut: the controllers being written finish first.
  if (series_) {
    closeWhenDone_ = true;
    series_->stop();
    stopButton_->setEnabled(false);
    summary_->setText(QStringLiteral("Zatrzymywanie: okno zamknie się po zakończeniu zapisu sterowników…"));
    return;
  }
  QDialog::reject();
}

void SeriesDialog::chooseTemplate() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Szablon serii"), QString(),
                                                    QStringLiteral("Konfiguracje (*.dvc *.json)"));
  if (path.isEmpty()) return;
  templatePath_->setText(path);
  loadTable();
}

void SeriesDialog::chooseTable() {
  const QString path = QFileDialog::getOpenFileName(this, QStringLiteral("Tabela obiektów"), QString(),
                                                    QStringLiteral("Tabele CSV (*.csv);;Wszystkie pliki (*)"));
  if (path.isEmpty()) return;
  tablePath_->setText(path);
  loadTable();
}

std::optional<Configuration> SeriesDialog::templateConfig(QString* why) const {
  const QString path = templatePath_->text().trimmed();
  if (path.isEmpty()) return window_;
  const auto bytes = readWholeFile(path, why);
  if (!bytes) return std::nullopt;
  if (path.endsWith(QLatin1String(".json"), Qt::CaseInsensitive))
    return configFromJsonText(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())), why);
  const auto values = parseConfigFile(*bytes, why);
  if (!values) return std::nullopt;
  return configurationFrom(*values);
}

void SeriesDialog::loadTable() {
  if (series_) return;
  table_.clear();
  sites_->setRowCount(0);
  startButton_->setEnabled(false);
  problem_->hide();
  const QString path = tablePath_->text().trimmed();
  if (path.isEmpty()) return;
  QStringList lines;
  QString why;
  const auto templ = templateConfig(&why);
  if (!templ) {
    lines << QStringLiteral("Szablon: %1").arg(why);
  } else if (const auto bytes = readWholeFile(path, &why); !bytes) {
    lines << QStringLiteral("Tabela: %1").arg(why);
  } else {
    std::vector<SiteFault> faults;
    if (auto sites = readSiteTable(QByteArray(bytes->data(), static_cast<qsizetype>(bytes->size())), *templ, &faults))
      table_ = std::move(*sites);
    for (const SiteFault& f : faults) lines << polishSiteFault(f);
  }
  if (!lines.isEmpty()) {
    problem_->setText(QStringLiteral("Nic nie zostanie wysłane. ") + lines.join(QLatin1Char('\n')));
    problem_->show();
    return;
  }
  sites_->setRowCount(static_cast<int>(table_.size()));
  for (int row = 0; row < sites_->rowCount(); ++row) {
    const Site& s = table_[static_cast<std::size_t>(row)];
    for (int c = 0; c < kColumns; ++c) sites_->setItem(row, c, new QTableWidgetItem);
    setRow(row, kSite, s.name);
    setRow(row, kOverrides, s.overrides.join(QStringLiteral("; ")));
  }
  sheets_.assign(table_.size(), QString());
  listPorts();
  startButton_->setEnabled(!table_.empty());
}

void SeriesDialog::listPorts() {
  // A port the user unticked stays unticked.
  QStringList unticked;
  for (int i = 0; i < ports_->count(); ++i)
    if (ports_->item(i)->checkState() != Qt::Checked) unticked << ports_->item(i)->data(Qt::UserRole).toString();
  ports_->clear();
  const auto source = systemPortSource();
  if (const auto list = listComPorts(*source))
    for (const PortEntry& e : *list) {
      if (e.kind == PortKind::BuiltIn || e.port == ownPort_) continue;
      auto* item = new QListWidgetItem(portLabel(e), ports_);
      item->setData(Qt::UserRole, e.port);
      item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
      item->setCheckState(unticked.contains(e.port) ? Qt::Unchecked : Qt::Checked);
    }
}

void SeriesDialog::setRow(int row, int column, const QString& text) {
  if (QTableWidgetItem* item = sites_->item(row, column)) item->setText(text);
}

void SeriesDialog::start() {
  if (series_ || table_.empty()) return;
  Provisioner::Options options;
  for (int i = 0; i < ports_->count(); ++i)
    if (ports_->item(i)->checkState() == Qt::Checked) options.ports << ports_->item(i)->data(Qt::UserRole).toString();
  if (options.ports.isEmpty()) {
    problem_->setText(QStringLiteral("Zaznacz co najmniej jeden port ze sterownikiem."));
    problem_->show();
    return;
  }
  problem_->hide();
  options.defaultPassword = QString::fromLatin1(kDefaultPassword);
  backups_ = std::make_unique<BackupStore>();
  backups_->setLockWait(kSeriesLockWaitMs);
  options.backups = backups_.get();
  series_ = std::make_unique<Provisioner>(table_, options);
  for (int row = 0; row < sites_->rowCount(); ++row) {
    for (int c = kPort; c < kSheet; ++c) setRow(row, c, QString());
    sites_->removeCellWidget(row, kSheet);
  }
  connect(series_.get(), &Provisioner::siteStarted, this, [this](int site, const QString& port) {
    setRow(site, kPort, port);
    setRow(site, kProgress, stagePolish(SiteOutcome::Stage::Login));
  });
  connect(series_.get(), &Provisioner::siteStage, this, [this](int site, SiteOutcome::Stage s) {
    setRow(site, kProgress, stagePolish(s));
    sites_->item(site, kProgress)->setData(Qt::UserRole, stagePolish(s));
  });
  connect(series_.get(), &Provisioner::siteProgress, this, [this](int site, int value) {
    const QString stage = sites_->item(site, kProgress)->data(Qt::UserRole).toString();
    setRow(site, kProgress, QStringLiteral("%1: %2").arg(stage).arg(value));
  });
  connect(series_.get(), &Provisioner::siteFinished, this, &SeriesDialog::siteFinished);
  connect(series_.get(), &Provisioner::finished, this, &SeriesDialog::seriesFinished);
  startButton_->setEnabled(false);
  stopButton_->setEnabled(true);
  templatePath_->setEnabled(false);
  tablePath_->setEnabled(false);
  ports_->setEnabled(false);
  summary_->setText(QStringLiteral("Programowanie…"));
  series_->start();
}

void SeriesDialog::siteFinished(int site) {
  const SiteOutcome& o = series_->outcomes()[static_cast<std::size_t>(site)];
  const Site& s = table_[static_cast<std::size_t>(site)];
  const QString time = QStringLiteral("%1 s").arg(static_cast<double>(o.ms) / 1000.0, 0, 'f', 1);
  const QString backup = o.backup ? QStringLiteral(", kopia %1").arg(o.backup) : QString();
  if (o.result == SiteOutcome::Result::Verified) {
    setRow(site, kProgress, stagePolish(SiteOutcome::Stage::Done));
    setRow(site, kResult, QStringLiteral("zweryfikowano (%1%2)").arg(time, backup));
    // The sheet shows what the controller returned on the read-back.
    QString why;
    report::SheetOptions so;
    so.site = s.name;
    so.programVersion = QStringLiteral(DOVU_VERSION);
    so.firmware = o.firmware;
    const QByteArray pdf = report::sheetPdf(o.held, so);
    const QString folder = QDir(sheetFolder()).filePath(QDate::currentDate().toString(Qt::ISODate));
    const QString path = QDir(folder).filePath(fileName(s.name));
    if (!pdf.isEmpty() && QDir().mkpath(folder) &&
        saveFileAtomically(path, Bytes(pdf.constData(), static_cast<std::size_t>(pdf.size())), &why)) {
      sheets_[static_cast<std::size_t>(site)] = path;
      auto* open = new QPushButton(QStringLiteral("Otwórz kartę"));
      open->setObjectName(QStringLiteral("KartaObiektu%1").arg(site + 1));
      open->setAccessibleName(QStringLiteral("Otwórz kartę obiektu %1").arg(s.name));
      connect(open, &QPushButton::clicked, this, [path] { QDesktopServices::openUrl(QUrl::fromLocalFile(path)); });
      sites_->setCellWidget(site, kSheet, open);
    } else {
      setRow(site, kSheet, QStringLiteral("karta niezapisana"));
    }
    return;
  }
  if (o.result == SiteOutcome::Result::NotStarted) return;
  QString why;
  if (o.problem.cause != Cause::None) {
    why = polishText(o.problem.cause);
    const QString reason = polishReason(o.problem);
    if (!reason.isEmpty()) why += QStringLiteral(": ") + reason;
    why += QStringLiteral("; ");
  }
  setRow(site, kResult, QStringLiteral("%1 (%2%3): %4%5")
                            .arg(o.result == SiteOutcome::Result::Stopped ? QStringLiteral("zatrzymano") : QStringLiteral("błąd"),
                                 time, backup, why, heldPolish(o)));
}

void SeriesDialog::seriesFinished() {
  int verified = 0;
  for (std::size_t i = 0; i < series_->outcomes().size(); ++i) {
    const SiteOutcome& o = series_->outcomes()[i];
    if (o.result == SiteOutcome::Result::Verified) ++verified;
    if (o.result == SiteOutcome::Result::NotStarted)
      setRow(static_cast<int>(i), kResult,
             series_->stopping() ? QStringLiteral("nie rozpoczęto (zatrzymano)") : QStringLiteral("nie rozpoczęto (brak wolnego portu)"));
  }
  summary_->setText(QStringLiteral("Zweryfikowane obiekty: %1 z %2.").arg(verified).arg(series_->outcomes().size()));
  // The provisioner emitted this from its own call: it goes once that has returned.
  series_.release()->deleteLater();
  stopButton_->setEnabled(false);
  templatePath_->setEnabled(true);
  tablePath_->setEnabled(true);
  ports_->setEnabled(true);
  startButton_->setEnabled(false);  // a port holds a programmed controller: choose the table again
  if (closeWhenDone_) QDialog::reject();
}

}  // namespace dovu::ui
