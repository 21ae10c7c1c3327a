// The backup history: what a backup holds and how the tool shows it, which old ones go, and a
// store that cannot be written leaving the history as it was.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcessEnvironment>
#include <QTemporaryDir>
#include <memory>

#include "model/form.h"
#include "storage/backupstore.h"
#include "storage/configfile.h"
#include "storage/configjson.h"
#include "support/testapp.h"
#include "support/tool.h"

using namespace dovu;

namespace {

std::unique_ptr<Form> controller(const QString& name, const QString& tel) {
  auto f = std::make_unique<Form>();
  f->setText("Edit_IN1A", name);
  f->setText("Edit_Tel1", tel);
  f->setText("TextWersja", QStringLiteral("DOVU v 2.3"));
  return f;
}

QDateTime at(int minute) { return QDateTime(QDate(2026, 12, 8), QTime(10, minute), Qt::OffsetFromUTC, 3600); }

QStringList dvcFiles(const QString& folder) { return QDir(folder).entryList({QStringLiteral("*.dvc")}, QDir::Files); }

}  // namespace

TEST(BackupStore, KeepsTheConfigurationWithItsOriginAndTheToolListsAndShowsIt) {
  test::app();
  QTemporaryDir home;
  const QString folder = home.filePath("dovu-konfig/backups");  // where XDG_DATA_HOME=home puts it
  BackupStore store(folder);
  const auto firstForm = controller(QStringLiteral("Włamanie – strefa 1\n"), QStringLiteral("+48601234567"));
  Form& first = *firstForm;
  first.setChecked("BoxCA", true);
  QString error;
  const auto a = store.add(first, BackupReason::BeforeUpload, QStringLiteral("/dev/ttyUSB0"), &error, at(1));
  ASSERT_TRUE(a) << error.toStdString();
  const auto b = store.add(*controller(QStringLiteral("Pożar"), QStringLiteral("+48700")),
                           BackupReason::BeforeFirmware, QStringLiteral("/dev/ttyS0"), &error, at(2));
  ASSERT_TRUE(b) << error.toStdString();

  const auto list = store.list(&error);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 2u);
  EXPECT_EQ(list->at(0).number, b->number);  // newest first
  const BackupEntry& e = list->at(1);
  EXPECT_EQ(e.reason, BackupReason::BeforeUpload);
  EXPECT_EQ(e.port, QStringLiteral("/dev/ttyUSB0"));
  EXPECT_EQ(e.firmware, QStringLiteral("DOVU v 2.3"));
  EXPECT_EQ(e.summary, QStringLiteral("Włamanie – strefa 1  | +48601234567"));  // one line
  EXPECT_EQ(e.date, at(1));
  // The file is the configuration, field for field.
  Form loaded;
  SilentNotifier silent;
  ASSERT_TRUE(loadConfigFile(loaded, store.pathOf(e), silent));
  EXPECT_EQ(configToJson(loaded), configToJson(first));

  QProcessEnvironment env;
  env.insert("XDG_DATA_HOME", home.path());
  test::ToolResult r = test::runCli({"backups", "list"}, env);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  const QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  ASSERT_EQ(lines.size(), 2) << r.out.toStdString();
  EXPECT_TRUE(lines[0].contains("before firmware update") && lines[0].contains("Pożar")) << lines[0].toStdString();
  EXPECT_TRUE(lines[1].contains("2026-12-08 10:01:00") && lines[1].contains("/dev/ttyUSB0")) << lines[1].toStdString();

  r = test::runCli({"backups", "show", QString::number(a->number)}, env);
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.out.contains("before upload"));
  EXPECT_TRUE(r.out.contains("\"+48601234567\""));           // the fields in words, as show prints them
  EXPECT_EQ(r.out, r.out.left(r.out.indexOf("\n\n") + 2) +  // a header, then exactly what show prints
                       test::runCli({"show", store.pathOf(e)}).out);
  r = test::runCli({"backups", "show", "99"}, env);
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains("no backup number 99")) << r.err.toStdString();
}

TEST(BackupStore, OldBackupsGoBeyondTheLimitExceptAControllersOnlyOne) {
  test::app();
  QTemporaryDir dir;
  BackupStore store(dir.path(), 3);
  QString error;
  const auto lone = store.add(*controller("A", "+481"), BackupReason::Manual, "p", &error, at(0));
  ASSERT_TRUE(lone);
  std::vector<int> numbers;
  for (int i = 1; i <= 5; ++i) {
    const auto e = store.add(*controller("B", "+482"), BackupReason::BeforeUpload, "p", &error, at(i));
    ASSERT_TRUE(e) << error.toStdString();
    numbers.push_back(e->number);
  }
  const auto list = store.list(&error);
  ASSERT_TRUE(list);
  ASSERT_EQ(list->size(), 3u);
  // The two newest of B and A's only backup, the oldest of all; B's older files are gone from disk.
  EXPECT_EQ(list->at(0).number, numbers[4]);
  EXPECT_EQ(list->at(1).number, numbers[3]);
  EXPECT_EQ(list->at(2).number, lone->number);
  EXPECT_EQ(dvcFiles(dir.path()).size(), 3);
  // Numbers are never given out again, also after the oldest went.
  const auto next = store.add(*controller("B", "+482"), BackupReason::BeforeUpload, "p", &error, at(9));
  ASSERT_TRUE(next);
  EXPECT_GT(next->number, numbers[4]);
}

TEST(BackupStore, AStoreThatCannotBeWrittenFailsWithTheReasonAndChangesNothing) {
  test::app();
  QTemporaryDir dir;
  QString error;
  // The folder's place is taken by a file.
  QFile blocker(dir.filePath("taken"));
  ASSERT_TRUE(blocker.open(QIODevice::WriteOnly));
  blocker.close();
  BackupStore blocked(dir.filePath("taken/backups"));
  EXPECT_FALSE(blocked.add(*controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  EXPECT_TRUE(error.contains("taken")) << error.toStdString();

  // An index that is not ours is neither overwritten nor read past; no backup file is left.
  BackupStore store(dir.filePath("store"));
  ASSERT_TRUE(store.add(*controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  {
    // Another program storing at the same moment: refused at once, not waited for.
    QLockFile other(dir.filePath("store/index.lock"));
    ASSERT_TRUE(other.tryLock(0));
    EXPECT_FALSE(store.add(*controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
    EXPECT_TRUE(error.contains("another program")) << error.toStdString();
  }
  ASSERT_TRUE(store.add(*controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  const QString index = dir.filePath("store/index.json");
  for (const QByteArray& bad : {QByteArray("{\"next\": 2, \"backups\": [{\"number\": 1}]}"), QByteArray("[1"),
                                QByteArray("{\"next\": 5, \"backups\": [{\"number\": 1, \"file\": \"../../x.dvc\", "
                                           "\"date\": \"2026-12-08T10:00:00Z\", \"reason\": \"manual\", \"port\": "
                                           "\"\", \"firmware\": \"\", \"summary\": \"\"}]}")}) {
    QFile f(index);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bad);
    f.close();
    error.clear();
    EXPECT_FALSE(store.add(*controller("A", "1"), BackupReason::BeforeUpload, "p", &error)) << bad.constData();
    EXPECT_TRUE(error.contains("index.json")) << error.toStdString();
    EXPECT_FALSE(store.list(&error));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bad);
    EXPECT_EQ(dvcFiles(dir.filePath("store")).size(), 2);
  }
}
