// One language per surface: every text the window shows (widgets, menus, dialogs, the words of
// every message the core can raise) reads as Polish, every line of the command-line tool as
// English.  A text is caught by words of the other language; names such as DOVU, SMS or GSM are
// the same in both.
#include <sys/stat.h>

#include <algorithm>
#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QAction>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRegularExpression>
#include <QTabWidget>
#include <QTableWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QtCharts/QAbstractAxis>
#include <QtCharts/QAbstractSeries>
#include <QtCharts/QChart>
#include <set>

#include "ui/formview.h"
#include "ui/form.h"
#include "exchange/controllercopy.h"
#include "storage/backupstore.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "support/formfiles.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/tool.h"
#include "support/uiapp.h"
#include "ui/backupsdialog.h"
#include "ui/chartview.h"
#include "ui/comparedialog.h"
#include "ui/dialogs.h"
#include "ui/mainwindow.h"
#include "ui/reportui.h"
#include "ui/seriesdialog.h"
#include "ui/wording.h"
#include "wording.h"

using namespace dovu;
using dovu::test::waitFor;

namespace {

// Words that are English and never Polish (so not "to", "do", "on", "port", "folder", "program").
const std::set<QString> kEnglish = {
    "the",      "of",       "and",       "is",      "are",        "not",      "could",     "cannot",
    "be",       "been",     "was",       "with",    "from",       "for",      "this",      "that",
    "without",  "none",     "yes",       "file",    "backup",     "backups",  "saved",     "save",
    "lower",    "upper",    "threshold", "access",  "password",   "simulator", "device",   "error",
    "failed",   "read",     "write",     "found",   "such",       "answer",   "controller", "update",
    "cancel",   "open",     "close",     "other",   "number",     "text",     "voice",     "settings",
    "field",    "value",    "too",       "large",   "empty",      "invalid",  "unknown",   "missing",
    "expected", "entry",    "lock",      "right",   "now",        "another",  "made",      "malformed",
    "regular",  "symbolic", "writable",  "others",  "sent",       "nothing",  "stopped",   "after",
    "parameters", "interrupted", "wrong", "check",  "cable",      "power",    "keep",      "run",
    "again",    "telephones", "told",    "humidity", "time",      "signal",   "used",      "calls",
    "active",   "inactive", "off",       "normal",  "low",        "high",     "reading",   "stage",
    "events",   "handle",   "unplugged", "denied",   "permission", "timed",   "characters",
    "takes",    "most",     "complete",  "switch",  "ends",       "waits",    "bootloader", "user",
    "group",    "ask",      "only",      "may",     "it",         "its",      "has",       "have",
    "will",     "should",   "must",     "please"};

// Words that are Polish and never English, besides every word with a Polish letter.
const std::set<QString> kPolish = {
    "nie",    "brak",   "sterownik", "sterownika", "plik",  "pliku",  "jest",   "tak",    "lub",
    "przed",  "czas",   "odczyt",    "zapis",      "wejscie", "wyjscie", "zmiana", "numer",
    "telefon", "konfiguracja", "konfiguracji", "kopia", "kopii", "zapasowa", "polaczenia", "stan",
    "sygnal", "wersja", "blad",      "otwarty",    "istnieje", "portu", "przez", "inny",  "oraz",
    "albo",   "tylko",  "moze",      "prosze",     "czujnik", "wilgotnosc", "zdarzenia", "norma"};

const QRegularExpression kPolishLetter(QStringLiteral("[ąćęłńóśźżĄĆĘŁŃÓŚŹŻ]"));
// File names and paths are names, not words.
const QRegularExpression kPathLike(QStringLiteral("\\S*[/\\\\]\\S*|\\b\\w+\\.(json|dvc|dvf|csv|pdf|lock)\\b"));

QStringList wordsOf(QString text) {
  text.remove(QRegularExpression(QStringLiteral("<[^>]*>")));  // rich text's markup
  text.remove(kPathLike);
  text.remove(QRegularExpression(QStringLiteral("\\$\\w+")));  // a shell variable in a command to type
  text.remove(QRegularExpression(QStringLiteral("\\b[A-Z][A-Z0-9]*_[A-Z0-9_]+\\b")));  // an environment variable
  text.remove(QRegularExpression(QStringLiteral("\\b\\w*[A-Za-z]\\d+[A-Za-z]\\w*\\b")));  // a field's name: Out1Czas
  // A JSON name with a place or a part: telephones[0], inputs[2].alarmText.
  text.remove(QRegularExpression(QStringLiteral("\\b[a-z]\\w*(\\[\\d+\\]|\\.[A-Za-z]\\w*)+")));
  text.remove(QLatin1Char('&'));  // mnemonics
  QStringList words;
  for (const QString& w : text.split(QRegularExpression(QStringLiteral("[^\\p{L}]+")), Qt::SkipEmptyParts))
    words << w.toLower();
  return words;
}

// The first word of the other language in a text of the window, or "".
QString englishIn(const QString& text) {
  for (const QString& w : wordsOf(text))
    if (kEnglish.count(w)) return w;
  return {};
}

// The first Polish word in a line of the tool, or "".
QString polishIn(const QString& text) {
  for (const QString& w : wordsOf(text))
    if (w.contains(kPolishLetter) || kPolish.count(w)) return w;
  return {};
}

// UTF-8 bytes read as Latin-1: "Połączenia" shown as "PoÅ\u0082Ä\u0085czenia".
bool garbled(const QString& text) {
  return std::any_of(text.begin(), text.end(), [](QChar c) {
    return (c.unicode() >= 0x80 && c.unicode() <= 0x9f) || (c.unicode() >= 0xc2 && c.unicode() <= 0xc5);
  });
}

void expectPolish(const QStringList& texts, const char* where) {
  for (const QString& t : texts) {
    const QString w = englishIn(t);
    EXPECT_TRUE(w.isEmpty()) << where << ": \"" << t.toStdString() << "\" has the English word \"" << w.toStdString() << '"';
    EXPECT_FALSE(garbled(t)) << where << ": \"" << t.toStdString() << "\" is UTF-8 read as Latin-1";
  }
}

void expectEnglish(const QString& output, const char* where) {
  for (const QString& line : output.split(QLatin1Char('\n'), Qt::SkipEmptyParts)) {
    const QString w = polishIn(line);
    EXPECT_TRUE(w.isEmpty()) << where << ": \"" << line.toStdString() << "\" has the Polish word \"" << w.toStdString() << '"';
  }
}

// Every text a widget tree shows or tells an assistive tool; what the user typed is not ours.
QStringList textsOf(QWidget* root) {
  QStringList out;
  auto add = [&](const QString& t) {
    if (!t.trimmed().isEmpty()) out << t;
  };
  QList<QWidget*> all = root->findChildren<QWidget*>();
  all.prepend(root);
  for (QWidget* w : all) {
    add(w->windowTitle());
    add(w->toolTip());
    add(w->accessibleName());
    add(w->accessibleDescription());
    if (auto* b = qobject_cast<QAbstractButton*>(w)) add(b->text());
    if (auto* l = qobject_cast<QLabel*>(w)) add(l->text());
    if (auto* e = qobject_cast<QLineEdit*>(w)) add(e->placeholderText());
    if (auto* g = qobject_cast<QGroupBox*>(w)) add(g->title());
    if (auto* m = qobject_cast<QMenu*>(w)) add(m->title());
    if (auto* p = qobject_cast<QPlainTextEdit*>(w)) add(p->toPlainText());
    if (auto* c = qobject_cast<QComboBox*>(w))
      for (int i = 0; i < c->count(); ++i) {
        add(c->itemText(i));
        add(c->itemData(i, Qt::ToolTipRole).toString());
      }
    if (auto* t = qobject_cast<QTabWidget*>(w))
      for (int i = 0; i < t->count(); ++i) add(t->tabText(i));
    if (auto* t = qobject_cast<QTableWidget*>(w)) {
      for (int c = 0; c < t->columnCount(); ++c)
        if (t->horizontalHeaderItem(c)) add(t->horizontalHeaderItem(c)->text());
      for (int r = 0; r < t->rowCount(); ++r)
        for (int c = 0; c < t->columnCount(); ++c)
          if (t->item(r, c)) add(t->item(r, c)->text());
    }
    for (QAction* a : w->actions()) {
      add(a->text());
      add(a->toolTip());
      add(a->statusTip());
    }
  }
  return out;
}

// Two configurations that differ in one value of every kind: a text, a list choice the list does
// not hold, a sensor setting, a check box and a matrix cell.
std::pair<ConfigValues, ConfigValues> twoConfigs() {
  QString why;
  const ConfigValues a = *configFromForm(Form(), &why);
  ConfigValues b = a;
  std::set<ConfigItemForm> changed;
  for (std::size_t i = 0; i < configItems().size(); ++i) {
    const ConfigItemForm kind = configItems()[i].form;
    if (changed.count(kind) || kind == ConfigItemForm::Magic || kind == ConfigItemForm::Checksum) continue;
    changed.insert(kind);
    Bytes& v = b.values[i];
    if (kind == ConfigItemForm::Text) v = Bytes("+48999");
    else if (kind == ConfigItemForm::Choice) v = Bytes(1, '\x7f');
    else if (!v.empty()) v[0] = static_cast<char>(v[0] ^ 1);
  }
  return {a, b};
}

TEST(Language, EveryTextOfTheWindowIsPolish) {
  test::uiApp("ui_language_test");
  test::RecordingNotifier notes;
  ui::MainWindow window(std::make_unique<test::FixedPorts>(std::vector<PortEntry>{
                            {QStringLiteral("/dev/pts/7"), QStringLiteral("DOVU simulator"), PortKind::Simulator}}),
                        &notes);
  window.createDialogs();
  window.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
  QStringList texts = textsOf(&window);
  for (QMenu* m : window.findChildren<QMenu*>()) texts << textsOf(m);
  if (ui::ChartPanel* chart = window.chart()) {
    for (QAbstractSeries* s : chart->chart()->series()) texts << s->name();
    for (QAbstractAxis* a : chart->chart()->axes()) texts << a->titleText();
  }
  EXPECT_GT(texts.size(), 300);
  expectPolish(texts, "window");

  // A backup's fields, as "Pokaż pola" shows them, and the compare dialog's rows.
  const auto [a, b] = twoConfigs();
  {
    QString why;
    Form held;
    held.setText("Edit_IN1A", QStringLiteral("Napad"));
    ASSERT_TRUE(BackupStore().add(configurationOf(held), BackupReason::BeforeUpload, "/dev/pts/7", &why)) << why.toStdString();
  }
  ui::BackupsDialog backups(BackupStore(), [](const QString&) {}, [](const QString&) {}, &window);
  backups.show();
  auto* table = backups.findChild<QTableWidget*>("ListaKopii");
  ASSERT_TRUE(table && table->rowCount() == 1);
  QTest::mouseClick(table->viewport(), Qt::LeftButton, {}, table->visualItemRect(table->item(0, 1)).center());
  QTest::mouseClick(backups.findChild<QPushButton*>("PokazPola"), Qt::LeftButton);
  const QString fields = backups.findChild<QPlainTextEdit*>("PolaKopii")->toPlainText();
  ASSERT_TRUE(fields.contains(QStringLiteral("Napad"))) << fields.toStdString();
  expectPolish(textsOf(&backups), "backups dialog");

  ui::CompareDialog compare(QStringLiteral("Porównaj z plikiem"), QStringLiteral("W pliku"), a, b,
                            QStringLiteral("Wysyła zaznaczone pola"), [](std::vector<std::size_t>) {}, &window);
  const QStringList compared = textsOf(&compare);
  EXPECT_TRUE(compared.join(' ').contains(QStringLiteral("brak wyboru"))) << compared.join('|').toStdString();
  expectPolish(compared, "compare dialog");

  ui::SheetOptionsDialog sheet(&window);
  expectPolish(textsOf(&sheet), "sheet dialog");
  ui::AboutDialog about(&window);
  expectPolish(textsOf(&about), "about dialog");
  ui::SeriesDialog series(Form(), QString(), &window);
  expectPolish(textsOf(&series), "series dialog");
  // A site table's faults, each kind, in the window's words and in the tool's.
  for (int k = 0; k <= static_cast<int>(SiteFault::Kind::NoSites); ++k) {
    const SiteFault f{static_cast<SiteFault::Kind>(k), 3, QStringLiteral("telephones[0]"),
                      {QStringLiteral("7"), QStringLiteral("8"), QStringLiteral("inputs[2].alarmText")}};
    expectPolish({ui::polishSiteFault(f)}, "site table fault");
    expectEnglish(siteFaultText(f), "site table fault");
  }

  // A backup folder others may write into is refused, with why, in Polish: by the backups dialog
  // and by the question before a write; so is an index that is not one.
  {
    QTemporaryDir dir;
    const QString open = dir.filePath(QStringLiteral("open"));
    ASSERT_TRUE(QDir().mkdir(open) && QFile::setPermissions(open, QFileDevice::Permissions::fromInt(0x7777)));
    BackupStore store(open);
    QString why;
    ASSERT_FALSE(store.add(configurationOf(Form()), BackupReason::BeforeUpload, "/dev/pts/7", &why));
    const Problem p = store.lastProblem();
    EXPECT_EQ(p.cause, Cause::BackupNotSaved);
    EXPECT_EQ(p.reason, Cause::FolderWritableByOthers);
    const QString question = QString::fromUtf8(kWriteWithoutBackupQuestion).arg(ui::polishReason(p));
    EXPECT_TRUE(question.contains(QStringLiteral("(uprawnienia 0777; chmod 700"))) << question.toStdString();
    expectPolish({question, ui::polishText(p.cause), ui::polishDetail(p)}, "backup refused");

    ui::BackupsDialog refused(store, [](const QString&) {}, [](const QString&) {}, &window);
    auto* label = refused.findChild<QLabel*>("BladKopii");
    ASSERT_TRUE(label);
    EXPECT_TRUE(label->text().contains(QStringLiteral("inni użytkownicy mogą zapisywać"))) << label->text().toStdString();
    expectPolish(textsOf(&refused), "backups dialog, folder refused");

    const QString own = dir.filePath(QStringLiteral("own"));
    ASSERT_TRUE(QDir().mkdir(own) && QFile::setPermissions(own, QFileDevice::Permissions::fromInt(0x7700)));
    QFile index(own + QStringLiteral("/index.json"));
    ASSERT_TRUE(index.open(QIODevice::WriteOnly) && index.write("{\"next\": \"x\"}") > 0);
    index.close();
    ui::BackupsDialog garbled(BackupStore(own), [](const QString&) {}, [](const QString&) {}, &window);
    const QString shown = garbled.findChild<QLabel*>("BladKopii")->text();
    EXPECT_TRUE(shown.contains(QStringLiteral("to nie jest spis kopii zapasowych"))) << shown.toStdString();
    expectPolish(textsOf(&garbled), "backups dialog, index garbled");
  }

  // The box of every message the core can raise, with each reason a port can fail for.
  for (int c = 1; c < kCauseCount; ++c) {
    const auto cause = static_cast<Cause>(c);
    for (int r = 0; r < kCauseCount; ++r) {
      const Problem p{cause, static_cast<Cause>(r), QStringLiteral("/dev/ttyUSB0"),
                      {QStringLiteral("dialout"), QStringLiteral("root"), QStringLiteral("uucp")}, {}};
      expectPolish({ui::polishText(cause), ui::polishDetail(p)}, "message box");
    }
  }
}

TEST(Language, EveryLineOfTheToolIsEnglish) {
  test::app();
  for (int c = 1; c < kCauseCount; ++c)
    for (int r = 0; r < kCauseCount; ++r)
      expectEnglish(cli::englishLine(Problem{static_cast<Cause>(c), static_cast<Cause>(r), QStringLiteral("/dev/ttyUSB0"),
                                             {QStringLiteral("dialout"), QStringLiteral("root"), QStringLiteral("uucp")},
                                             {}}),
                    "message");

  const test::ToolResult help = test::runCli({QStringLiteral("--help-all")});
  ASSERT_EQ(help.code, 0);
  expectEnglish(help.out + help.err, "help");

  test::SimProcess sim({QStringLiteral("--password"), QStringLiteral("4321")});
  ASSERT_TRUE(sim.started());
  const QStringList status{QStringLiteral("status"), QStringLiteral("--port"), sim.port(),
                           QStringLiteral("--password"), QStringLiteral("4321")};
  for (const QStringList& form : {QStringList{}, QStringList{QStringLiteral("--json"), QStringLiteral("--once")},
                                  QStringList{QStringLiteral("--csv"), QStringLiteral("--once")}}) {
    const test::ToolResult r = test::runCli(status + form);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    expectEnglish(r.out + r.err, "status");
  }
  // Failures: a refused password, a port that does not exist, a file that is not a port, a text
  // the controller cannot take.
  QTemporaryDir dir;
  const QString notAPort = dir.filePath(QStringLiteral("plain"));
  QFile(notAPort).open(QIODevice::WriteOnly);
  Form tooLong;
  tooLong.setText("Edit_IN1A", QString(40, QLatin1Char('x')));
  QString why;
  const QString config = dir.filePath(QStringLiteral("long.dvc"));
  ASSERT_TRUE(saveFileAtomically(config, *buildConfigFile(tooLong, &why), &why));
  // Files the tool cannot take or write: a configuration whose first text reaches past its end, and
  // a FIFO where a file is to be read or saved.
  Bytes broken = *buildConfigFile(Form(), &why);
  broken[3] = static_cast<char>(200);
  broken.back() = static_cast<char>(xorChecksum(broken, broken.size() - 1));
  const QString brokenPath = dir.filePath(QStringLiteral("broken.dvc"));
  ASSERT_TRUE(saveFileAtomically(brokenPath, broken, &why));
  const QString fifo = dir.filePath(QStringLiteral("fifo.dvc"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  const QList<QStringList> failing{
      {QStringLiteral("status"), QStringLiteral("--port"), sim.port(), QStringLiteral("--password"), QStringLiteral("1111")},
      {QStringLiteral("status"), QStringLiteral("--port"), QStringLiteral("/dev/ttyNONE9")},
      {QStringLiteral("status"), QStringLiteral("--port"), notAPort},
      {QStringLiteral("upload"), QStringLiteral("--port"), sim.port(), QStringLiteral("--no-backup"), config},
      {QStringLiteral("flash"), QStringLiteral("--port"), sim.port(), config},
      {QStringLiteral("show"), brokenPath},
      {QStringLiteral("show"), fifo},
      {QStringLiteral("convert"), config, fifo},
  };
  for (const QStringList& args : failing) {
    const test::ToolResult r = test::runCli(args);
    EXPECT_NE(r.code, 0) << args.join(' ').toStdString();
    EXPECT_FALSE(r.err.isEmpty()) << args.join(' ').toStdString();
    expectEnglish(r.err, qPrintable(args.first()));
  }

  // "show" tells a list's item that is a word in English: an output without a limit.
  Form listed;
  listed.setIndex("ComboOut1", 0);
  const QString shown = dir.filePath(QStringLiteral("listed.dvc"));
  ASSERT_TRUE(saveFileAtomically(shown, *buildConfigFile(listed, &why), &why));
  const test::ToolResult show = test::runCli({QStringLiteral("show"), shown});
  EXPECT_EQ(show.code, 0) << show.err.toStdString();
  EXPECT_TRUE(show.out.contains(QStringLiteral("0 (none)")))
      << show.out.toStdString();
  expectEnglish(show.out + show.err, "show");
}

}  // namespace
