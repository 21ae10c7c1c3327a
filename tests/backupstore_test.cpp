// The backup history: what a backup holds and how the tool shows it, which old ones go, and a
// store that cannot be written leaving the history as it was.
#include <gtest/gtest.h>

#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcessEnvironment>
#include <QRegularExpression>
#include <QSysInfo>
#include <QTemporaryDir>
#include <climits>
#include <memory>
#include <sys/stat.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "model/configuration.h"
#include "storage/backupstore.h"
#include "storage/configfile.h"
#include "storage/configjson.h"
#include "support/testapp.h"
#include "support/tool.h"

using namespace dovu;

namespace {

Configuration controller(const QString& name, const QString& tel) {
  Configuration c = defaultConfiguration();
  c.inputs[0].alarmText = name;
  c.telephones[0] = tel;
  c.firmware = QStringLiteral("DOVU v 2.3");
  return c;
}

QDateTime at(int minute) { return QDateTime(QDate(2026, 12, 8), QTime(10, minute), Qt::OffsetFromUTC, 3600); }

QStringList dvcFiles(const QString& folder) { return QDir(folder).entryList({QStringLiteral("*.dvc")}, QDir::Files); }

}  // namespace

TEST(BackupStore, KeepsTheConfigurationWithItsOriginAndTheToolListsAndShowsIt) {
  test::app();
  QTemporaryDir home;
  const QString folder = home.filePath("dovu-konfig/backups");  // where XDG_DATA_HOME=home puts it
  BackupStore store(folder);
  Configuration first = controller(QStringLiteral("Włamanie – strefa 1\n"), QStringLiteral("+48601234567"));
  first.miniCa = true;
  QString error;
  const auto a = store.add(first, BackupReason::BeforeUpload, QStringLiteral("/dev/ttyUSB0"), &error, at(1));
  ASSERT_TRUE(a) << error.toStdString();
  const auto b = store.add(controller(QStringLiteral("Pożar"), QStringLiteral("+48700")),
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
  const auto loaded = readConfigFile(store.pathOf(e));
  ASSERT_TRUE(loaded);
  EXPECT_EQ(configToJson(*loaded), configToJson(first));

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
  const auto lone = store.add(controller("A", "+481"), BackupReason::Manual, "p", &error, at(0));
  ASSERT_TRUE(lone);
  std::vector<int> numbers;
  for (int i = 1; i <= 5; ++i) {
    const auto e = store.add(controller("B", "+482"), BackupReason::BeforeUpload, "p", &error, at(i));
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
  const auto next = store.add(controller("B", "+482"), BackupReason::BeforeUpload, "p", &error, at(9));
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
  EXPECT_FALSE(blocked.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  EXPECT_TRUE(error.contains("taken")) << error.toStdString();

  // An index that is not ours is neither overwritten nor read past; no backup file is left.
  BackupStore store(dir.filePath("store"));
  ASSERT_TRUE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  {
    // Another program that keeps storing past the wait: refused with the reason.
    QLockFile other(dir.filePath("store/index.lock"));
    ASSERT_TRUE(other.tryLock(0));
    store.setLockWait(300);
    EXPECT_FALSE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
    EXPECT_TRUE(error.contains("another program")) << error.toStdString();
  }
  ASSERT_TRUE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
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
    EXPECT_FALSE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error)) << bad.constData();
    EXPECT_TRUE(error.contains("index.json")) << error.toStdString();
    EXPECT_FALSE(store.list(&error));
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    EXPECT_EQ(f.readAll(), bad);
    EXPECT_EQ(dvcFiles(dir.filePath("store")).size(), 2);
  }
}

namespace {

void writeBytes(const QString& path, const QByteArray& bytes) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly | QIODevice::Truncate)) << path.toStdString();
  f.write(bytes);
}

std::vector<int> numbersIn(const BackupStore& store) {
  QString error;
  std::vector<int> numbers;
  if (const auto list = store.list(&error))
    for (const BackupEntry& e : *list) numbers.push_back(e.number);
  return numbers;
}

}  // namespace

// Which backups the rotation removes: by the history's sequence, not the controller's clock; never
// the only backup of a configuration (two units set up from one template share their summary, not
// their content), the newest, or the one a restore puts back.  A legacy index without content keys
// is read and rotated by the files themselves.
TEST(BackupStore, RotationNeverLosesTheNewestTheRestoredOrAConfigurationsOnlyBackup) {
  test::app();
  QString error;
  {
    // A clock that runs years behind the stored backups.
    QTemporaryDir dir;
    BackupStore store(dir.path(), 3);
    for (int i = 0; i < 3; ++i)
      ASSERT_TRUE(store.add(controller("A", "+481"), BackupReason::BeforeUpload, "p", &error,
                            QDateTime(QDate(2031, 1, 1), QTime(10, i), Qt::UTC)));
    const auto late = store.add(controller("A", "+481"), BackupReason::BeforeUpload, "p", &error, at(0));
    ASSERT_TRUE(late) << error.toStdString();
    EXPECT_EQ(numbersIn(store), (std::vector<int>{4, 3, 2}));
    EXPECT_TRUE(QFile::exists(store.pathOf(*late)));
  }
  {
    // Two units from one template: one summary, two configurations.  Unit A's only backup stays.
    QTemporaryDir dir;
    BackupStore store(dir.path(), 3);
    auto a = controller("Wejście", "+481");
    a.telephones[1] = QStringLiteral("+48222");
    ASSERT_TRUE(store.add(a, BackupReason::BeforeUpload, "p", &error, at(0)));
    for (int i = 1; i <= 4; ++i)
      ASSERT_TRUE(store.add(controller("Wejście", "+481"), BackupReason::BeforeUpload, "p", &error, at(i)));
    EXPECT_EQ(numbersIn(store), (std::vector<int>{5, 4, 1}));
    EXPECT_EQ(dvcFiles(dir.path()).size(), 3);

    // Backup 4 is being restored: a store meanwhile, the restore's own or another program's,
    // keeps it, and 5, the newest of its configuration, too.  Once the restore has ended, 4 is an
    // ordinary backup.
    {
      BackupStore restoring(dir.path(), 3);
      restoring.keep(4);
      ASSERT_TRUE(store.add(controller("Inny", "+489"), BackupReason::BeforeUpload, "p", &error, at(9)));
      EXPECT_EQ(numbersIn(store), (std::vector<int>{6, 5, 4, 1}));
    }

    // An index written before content keys: the files tell which configurations they hold.
    const QString index = dir.filePath("index.json");
    QFile f(index);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    QString text = QString::fromUtf8(f.readAll());
    f.close();
    text.remove(QRegularExpression(QStringLiteral("\"content\": \"[0-9a-f]*\",?")));
    writeBytes(index, text.toUtf8());
    BackupStore legacy(dir.path(), 2);
    ASSERT_TRUE(legacy.add(controller("Wejście", "+481"), BackupReason::BeforeUpload, "p", &error, at(10)))
        << error.toStdString();
    // 4 and 5 go: 7 holds their configuration; 6 and 1 hold configurations no other backup holds.
    EXPECT_EQ(numbersIn(legacy), (std::vector<int>{7, 6, 1}));
  }
}

// DOVU_BACKUP_LIMIT is a decimal number or refused; the numbering ends with a reason, never with a
// negative number that makes the index unreadable.
TEST(BackupStore, TheLimitAndTheNumberingAreCheckedNotGuessed) {
  test::app();
  QTemporaryDir dir;
  QString error;
  qputenv("DOVU_BACKUP_LIMIT", "010");
  EXPECT_EQ(BackupStore(dir.path()).limit(), 10);
  for (const char* bad : {"0", "-1", "abc", "", " 5", "1e3", "99999999999"}) {
    qputenv("DOVU_BACKUP_LIMIT", bad);
    BackupStore store(dir.filePath("refused"));
    error.clear();
    EXPECT_FALSE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error)) << bad;
    EXPECT_TRUE(error.contains("DOVU_BACKUP_LIMIT")) << error.toStdString();
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("refused"))) << bad;
  }
  qunsetenv("DOVU_BACKUP_LIMIT");

  BackupStore store(dir.filePath("numbers"));
  ASSERT_TRUE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  QFile f(dir.filePath("numbers/index.json"));
  ASSERT_TRUE(f.open(QIODevice::ReadOnly));
  QByteArray text = f.readAll();
  f.close();
  text.replace("\"next\": 2", QByteArray("\"next\": ") + QByteArray::number(INT_MAX));
  writeBytes(f.fileName(), text);
  const auto last = store.add(controller("A", "2"), BackupReason::BeforeUpload, "p", &error);
  ASSERT_TRUE(last) << error.toStdString();
  EXPECT_EQ(last->number, INT_MAX);
  EXPECT_TRUE(store.list(&error)) << error.toStdString();
  EXPECT_FALSE(store.add(controller("A", "3"), BackupReason::BeforeUpload, "p", &error));
  EXPECT_TRUE(error.contains("every backup number")) << error.toStdString();
  EXPECT_EQ(numbersIn(store), (std::vector<int>{INT_MAX, 1}));
}

// Several programs storing at once all succeed, each backup in the index; a lock nobody holds any
// more (an empty file, a process that is gone, another machine's) does not block the history.
TEST(BackupStore, WritersWaitForEachOtherAndADeadLockIsCleared) {
  test::app();
  QTemporaryDir dir;
  const QString folder = dir.filePath("store");
  std::vector<std::thread> writers;
  std::vector<int> ok(8, 0);
  for (int i = 0; i < 8; ++i)
    writers.emplace_back([&, i] {
      QString why;
      ok[static_cast<std::size_t>(i)] =
          BackupStore(folder).add(controller(QString::number(i), "+48"), BackupReason::BeforeUpload, "p", &why) ? 1 : 0;
    });
  for (std::thread& t : writers) t.join();
  EXPECT_EQ(std::count(ok.begin(), ok.end(), 1), 8);
  EXPECT_EQ(numbersIn(BackupStore(folder)).size(), 8u);

  const QString lock = folder + QStringLiteral("/index.lock");
  // A process of this machine that has ended: a child that exited.
  const pid_t child = ::fork();
  if (child == 0) ::_exit(0);
  int status = 0;
  ::waitpid(child, &status, 0);
  const QString host = QSysInfo::machineHostName();
  const QByteArray locks[] = {QByteArray(), QByteArray::number(child) + "\ndovu-cli\n" + host.toUtf8() + "\n",
                              QByteArray::number(::getpid()) + "\ndovu-cli\nanother-machine\n"};
  for (const QByteArray& content : locks) {
    writeBytes(lock, content);
    // Older than any store takes.
    const QDateTime old = QDateTime::currentDateTime().addSecs(-60);
    QFile touched(lock);
    ASSERT_TRUE(touched.open(QIODevice::ReadWrite));
    ASSERT_TRUE(touched.setFileTime(old, QFileDevice::FileModificationTime));
    touched.close();
    BackupStore store(folder);
    store.setLockWait(3000);
    QString why;
    EXPECT_TRUE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &why))
        << why.toStdString() << " with the lock " << content.toStdString();
  }
}

// The folder is the user's alone; one that is a symbolic link or that others may write is refused
// with the reason, by the store and by the list.
TEST(BackupStore, AFolderOthersCouldWriteIsRefused) {
  test::app();
  QTemporaryDir dir;
  QString error;
  const QString folder = dir.filePath("data/dovu-konfig/backups");
  ASSERT_TRUE(BackupStore(folder).add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error));
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(folder).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0700u);

  const QString link = dir.filePath("linked");
  ASSERT_TRUE(QFile::link(folder, link));
  ASSERT_EQ(::chmod(QFile::encodeName(folder).constData(), 0777), 0);
  for (const QString& path : {link, folder}) {
    BackupStore store(path);
    error.clear();
    EXPECT_FALSE(store.add(controller("A", "1"), BackupReason::BeforeUpload, "p", &error)) << path.toStdString();
    EXPECT_TRUE(error.contains(path == link ? "symbolic link" : "other users may write")) << error.toStdString();
    EXPECT_FALSE(store.list(&error));
  }
  EXPECT_EQ(dvcFiles(folder).size(), 1);
}
