// Configuration file: the byte layout against golden bytes, the round trip of every field, the
// checks that refuse a bad file whole, and the atomic save.
#include <gtest/gtest.h>

#include "support/bytes.h"
#include <sys/resource.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstring>
#include <map>
#include <set>

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/fieldnames.h"
#include "model/params.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "wording.h"

namespace dovu {
namespace {

using test::RecordingNotifier;

const QString kFormat = cli::englishText(Cause::BadFormat);
const QString kCrc = cli::englishText(Cause::BadCrc);

const auto b = dovu::test::bytesOf;

// "dvc", 25 empty texts, the matrix item, 14 bytes, 23 empty texts, 13 sensor bytes, the mode
// flags, 4 delays and the check byte.
Bytes emptyFile() {
  Bytes f = "dvc";
  f += Bytes(25, '\0');
  f += b({22});
  f += Bytes(22 + 14 + 23 + 13 + 1 + 4, '\0');
  f += b({0x67});
  return f;
}

// The file with a fresh check byte.
Bytes resum(Bytes f) {
  f.back() = static_cast<char>(xorChecksum(f, f.size() - 1));
  return f;
}

unsigned modeOf(const QString& path) {
  struct stat st {};
  ::stat(QFile::encodeName(path).constData(), &st);
  return st.st_mode & 0777;
}

// Gives every item of the file a distinctive value that differs from the defaults.
Configuration distinct() {
  Configuration c = defaultConfiguration();
  for (const ConfigItem& it : configItems()) {
    const ConfigField* f = it.field ? configFieldNamed(QString::fromLatin1(it.field)) : nullptr;
    switch (it.form) {
      case ConfigItemForm::Text: {
        QString t;
        if (f->chars == TextChars::Digits) t = QString::number(1000 + it.number * 7);
        else if (f->chars == TextChars::Phone) t = QStringLiteral("+4860%1").arg(it.number * 13);
        else t = QStringLiteral("Źż%1ą").arg(it.number);
        if (f->limit > 0) t = t.left(f->limit);
        setConfigValue(c, *f, t);
        break;
      }
      case ConfigItemForm::Number: setConfigValue(c, *f, it.number); break;
      case ConfigItemForm::Choice: setConfigValue(c, *f, it.number % 9); break;
      case ConfigItemForm::Sensor: c.thresholds[it.sensor] = static_cast<std::uint8_t>(200 + it.number - 64); break;
      default: break;
    }
  }
  // Every other matrix cell, and the option boxes.
  const auto& cells = matrixFieldsInImageOrder();
  for (std::size_t i = 0; i < cells.size(); ++i) setConfigValue(c, *configFieldNamed(QString::fromLatin1(cells[i])), i % 3 == 0);
  c.outputs[0].normallyClosed = c.outputs[2].normallyClosed = true;
  c.outputs[1].monostable = c.outputs[3].monostable = true;
  c.confirm = c.sendStateAtStart = c.miniCa = c.out1Siren = true;
  c.reply.io = c.reply.t3 = c.reply.ex = c.reply.t1 = true;
  return c;
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override { test::app(); }
};

TEST_F(ConfigFileTest, EmptyFileLoadsAsEmptyConfiguration) {
  const Bytes file = emptyFile();
  ASSERT_EQ(file.size(), kConfigMinSize);
  ASSERT_EQ(xorChecksum(file, 106), 0x67);

  RecordingNotifier n;
  const auto c = readConfigFile(file, n.collect());
  ASSERT_TRUE(c);
  EXPECT_TRUE(n.events.empty());

  for (const ConfigItem& it : configItems()) {
    std::vector<const char*> named{it.field};
    if (it.form == ConfigItemForm::Flags) named.assign(it.bits.begin(), it.bits.end());
    for (const char* name : named) {
      if (!name) continue;
      const ConfigValue v = configValue(*c, *configFieldNamed(QString::fromLatin1(name)));
      const ConfigValue none = it.form == ConfigItemForm::Text    ? ConfigValue(QString())
                               : it.form == ConfigItemForm::Flags ? ConfigValue(false)
                                                                  : ConfigValue(0);
      EXPECT_EQ(v, none) << name;
    }
  }
  EXPECT_EQ(c->matrix, Configuration::Matrix{});
  EXPECT_EQ(operatorIndexOf(c->smsCentre), kOperatorOther);
  EXPECT_EQ(c->thresholds, SensorSettings{});

  // And that configuration saves as the same 107 bytes.
  QString why;
  const auto saved = buildConfigFile(*c, &why);
  ASSERT_TRUE(saved) << why.toStdString();
  EXPECT_EQ(*saved, file);
}

// The file names the fields by their stable names, every field but the matrix cells (the matrix
// item carries those) exactly once; the format-1 names stay the ones files were written with.
TEST_F(ConfigFileTest, ItemsNameEveryFieldOnceAndTheOldNamesStay) {
  std::map<QString, int> seen;
  for (const ConfigItem& it : configItems()) {
    std::vector<const char*> named{it.field};
    if (it.form == ConfigItemForm::Flags) named.assign(it.bits.begin(), it.bits.end());
    for (const char* name : named) {
      if (!name) continue;
      const ConfigField* f = configFieldNamed(QString::fromLatin1(name));
      ASSERT_NE(f, nullptr) << it.number << " " << name;
      EXPECT_EQ(f->name, QString::fromLatin1(name)) << "item " << it.number << " names a field by its stable name";
      ++seen[f->name];
    }
  }
  std::set<QString> oldNames;
  for (const ConfigField& f : configFields()) {
    if (!f.name.startsWith(QLatin1String("matrix."))) {
      EXPECT_EQ(seen[f.name], 1) << f.name.toStdString();
    }
    const QString old = QString::fromLatin1(formatOneName(f));
    EXPECT_TRUE(oldNames.insert(old).second) << old.toStdString() << " twice";
    EXPECT_EQ(fieldOfFormatOneName(old), &f) << old.toStdString();
    EXPECT_EQ(fieldCalled(old), &f);
    EXPECT_EQ(fieldCalled(f.name), &f);
  }
  for (const auto& [old, stable] : {std::pair{"Edit_Tel1", "telephones[0]"}, {"ComboOut4", "outputs[3].drivenBy"},
                                    {"ACsend", "statusQuery.reply.ex"}, {"Edit_ACnap", "ex.threshold"},
                                    {"EditWopu", "sensors.humidity.delay"}, {"BoxACT3", "matrix.sms.ex[2]"},
                                    {"BoxWS8", "matrix.voice.humidity[7]"}, {"Edit_haslo", "password"}}) {
    const ConfigField* f = fieldOfFormatOneName(QString::fromLatin1(old));
    ASSERT_NE(f, nullptr) << old;
    EXPECT_EQ(f->name, QString::fromLatin1(stable)) << old;
  }
  EXPECT_EQ(fieldOfFormatOneName(QStringLiteral("telephones[0]")), nullptr);
}

TEST_F(ConfigFileTest, ItemLayoutAndFlagBits) {
  const auto empty = readConfigFile(emptyFile());
  ASSERT_TRUE(empty);
  Configuration c = *empty;
  c.password = QStringLiteral("1234");          // R moves by 4
  c.outputs[3].offWord = QStringLiteral("wył");  // Windows-1250: one byte per character
  c.matrix.sms[0][0] = true;                    // IN1, telephone 1
  c.outputs[0].time = 7;
  c.autoTestHours = 24;
  c.outputs[0].normallyClosed = true;
  c.confirm = true;
  c.sendStateAtStart = true;
  c.outputs[3].drivenBy = 8;
  c.reply.io = true;
  c.reply.t1 = true;
  c.statusQuery = QStringLiteral("STAN");        // Q moves by 4
  c.thresholds[SensorByte::T1Korekta] = 6;
  c.thresholds[SensorByte::WMax] = 99;
  c.thresholds[SensorByte::DCnap] = 105;
  c.miniCa = true;
  c.out1Siren = true;
  c.sensors[0].delay = 300;                      // kept modulo 256
  c.sensors[3].delay = 254;

  QString why;
  const auto f = buildConfigFile(c, &why);
  ASSERT_TRUE(f) << why.toStdString();
  const std::size_t R = 28 + 4 + 3, Q = 88 + 4 + 4 + 3;
  ASSERT_EQ(f->size(), Q + 19);
  EXPECT_EQ(f->substr(3, 5), b({4, '1', '2', '3', '4'}));
  EXPECT_EQ(f->substr(R - 4, 4), b({3, 'w', 'y', 0xB3}));
  EXPECT_EQ(byteAt(*f, R), 22);
  EXPECT_EQ(byteAt(*f, R + 1), 0x80);
  EXPECT_EQ(byteAt(*f, R + 23), 7);
  EXPECT_EQ(byteAt(*f, R + 29), 24);
  EXPECT_EQ(byteAt(*f, R + 30), 0x41);  // BoxOut1NC bit 6, BoxPotw bit 0
  EXPECT_EQ(byteAt(*f, R + 31), 0x08);  // BoxWyslijStan bit 3
  EXPECT_EQ(byteAt(*f, R + 35), 8);
  EXPECT_EQ(byteAt(*f, R + 36), 0x41);  // IOsend bit 6, T1send bit 0
  EXPECT_EQ(f->substr(Q - 5, 5), Bytes("\x04STAN"));
  EXPECT_EQ(byteAt(*f, Q), 6);           // T1Korekta first
  EXPECT_EQ(byteAt(*f, Q + 10), 99);     // WMax
  EXPECT_EQ(byteAt(*f, Q + 12), 105);    // DCnap
  EXPECT_EQ(byteAt(*f, Q + 13), 0x03);   // BoxCA bit 1, BoxOut1sygn bit 0
  EXPECT_EQ(byteAt(*f, Q + 14), 44);     // 300 modulo 256
  EXPECT_EQ(byteAt(*f, Q + 17), 254);
  EXPECT_EQ(byteAt(*f, Q + 18), xorChecksum(*f, Q + 18));
}

TEST_F(ConfigFileTest, SaveAndLoadRestoreEveryField) {
  const Configuration original = distinct();
  ASSERT_NE(original, defaultConfiguration());

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("a.dvc"));
  RecordingNotifier n;
  ASSERT_TRUE(saveConfigFile(original, path, n.collect()));
  EXPECT_TRUE(n.events.empty());

  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  const auto loaded = readConfigFile(path, n.collect());
  ASSERT_TRUE(loaded);
  EXPECT_TRUE(n.events.empty());
  for (const ConfigField& f : configFields())
    EXPECT_EQ(configValue(*loaded, f), configValue(original, f)) << f.name.toStdString();
}

TEST_F(ConfigFileTest, ListWithoutSelectionIsKeptAs255) {
  Configuration c = defaultConfiguration();
  c.outputs[1].drivenBy = -1;
  c.outputs[2].drivenBy = 8;
  QString why;
  const Bytes file = *buildConfigFile(c, &why);
  const auto items = parseConfigFile(file, &why);
  ASSERT_TRUE(items);
  EXPECT_EQ(byteAt(items->values[37], 0), 255);  // item 38, ComboOut2
  EXPECT_EQ(byteAt(items->values[38], 0), 8);
  const auto back = readConfigFile(file);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->outputs[1].drivenBy, -1);
  EXPECT_EQ(back->outputs[2].drivenBy, 8);
  EXPECT_EQ(*buildConfigFile(*back, &why), file);

  // A byte beyond the list (a file of another version, say) loads as no selection.
  std::size_t R = 3;
  for (int item = 2; item <= 26; ++item) R += 1 + byteAt(file, R);
  Bytes beyond = file;
  beyond[R + 32] = 9;  // ComboOut1
  const auto other = readConfigFile(resum(beyond));
  ASSERT_TRUE(other);
  EXPECT_EQ(other->outputs[0].drivenBy, -1);
}

TEST_F(ConfigFileTest, ChecksumAndMagicFailuresAreRefused) {
  QString why;
  const Bytes good = *buildConfigFile(distinct(), &why);

  // Any single byte after the magic, the check byte included: the checksum message alone.
  for (std::size_t pos : {std::size_t{3}, std::size_t{40}, good.size() / 2, good.size() - 5, good.size() - 1}) {
    Bytes bad = good;
    bad[pos] = static_cast<char>(bad[pos] ^ 0x10);
    RecordingNotifier n;
    EXPECT_FALSE(readConfigFile(bad, n.collect())) << pos;
    EXPECT_EQ(n.texts(), QStringList{kCrc}) << pos;
    EXPECT_EQ(n.beeps(), 1);
    EXPECT_TRUE(n.events.front().beep) << "the beep comes before the box";
  }
  // A wrong magic: both messages, format first.
  Bytes magic = good;
  magic[1] = 'V';
  RecordingNotifier n;
  EXPECT_FALSE(readConfigFile(magic, n.collect()));
  EXPECT_EQ(n.texts(), (QStringList{kFormat, kCrc}));

  // A firmware file with a good check byte: the format message alone.
  RecordingNotifier fw;
  EXPECT_FALSE(readConfigFile(resum(Bytes("dvf\x01\x02\x03?", 7)), fw.collect()));
  EXPECT_EQ(fw.texts(), QStringList{kFormat});
  EXPECT_EQ(fw.beeps(), 0);
}

TEST_F(ConfigFileTest, MalformedFilesAreRefusedWhole) {
  QString why;
  const Bytes good = *buildConfigFile(distinct(), &why);
  std::size_t R = 3;  // past the 25 texts ahead of the matrix
  for (int i = 0; i < 25; ++i) R += 1 + byteAt(good, R);
  ASSERT_EQ(byteAt(good, R), 22);

  struct Case {
    const char* name;
    Bytes file;
  };
  Bytes overlong = good;
  overlong[3] = static_cast<char>(250);  // the password's length byte runs past the end
  Bytes matrix = good;
  matrix[R] = 21;
  Bytes lastText = good;
  lastText.erase(lastText.size() - 20, 1);  // one byte short inside the last items
  const std::vector<Case> cases = {
      {"truncated", resum(good.substr(0, good.size() - 10))},
      {"one byte short", resum(lastText)},
      {"trailing byte", resum(good.substr(0, good.size() - 1) + Bytes("x\0", 2))},
      {"over-long item", resum(overlong)},
      {"matrix length 21", resum(matrix)},
      {"oversized", resum(good.substr(0, good.size() - 1) + Bytes(kFileBufferSize, 'z') + Bytes(1, '\0'))},
      {"four bytes", resum(Bytes("dvc\0", 4))},
  };
  for (const Case& c : cases) {
    RecordingNotifier n;
    EXPECT_FALSE(readConfigFile(c.file, n.collect())) << c.name;
    EXPECT_EQ(n.texts(), QStringList{kFormat}) << c.name;
    ASSERT_FALSE(n.events.empty());
    EXPECT_FALSE(n.events.back().detail.isEmpty()) << c.name << ": the reason is given";
    QString reason;
    EXPECT_FALSE(parseConfigFile(c.file, &reason)) << c.name;
  }

  // Short files: nothing to read past, both checks fail.
  for (const Bytes& tiny : {Bytes(), Bytes("d", 1), Bytes("dv", 2), Bytes("dvc", 3)}) {
    RecordingNotifier n;
    EXPECT_FALSE(readConfigFile(tiny, n.collect()));
    EXPECT_FALSE(n.texts().isEmpty());
  }
}

TEST_F(ConfigFileTest, UnreadableFileIsReported) {
  QTemporaryDir dir;
  RecordingNotifier n;
  EXPECT_FALSE(readConfigFile(dir.filePath(QStringLiteral("missing.dvc")), n.collect()));
  EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::CannotRead)});
  EXPECT_TRUE(n.events.back().detail.contains(QStringLiteral("missing.dvc")));

  // Larger than the file buffer: not a configuration file.
  const QString big = dir.filePath(QStringLiteral("big.dvc"));
  QFile f(big);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(static_cast<int>(kFileBufferSize) + 1, 'd'));
  f.close();
  RecordingNotifier m;
  EXPECT_FALSE(readConfigFile(big, m.collect()));
  EXPECT_EQ(m.texts(), QStringList{kFormat});
}

// A number field that holds no number cannot go into a file: the save says which and writes
// nothing.
TEST_F(ConfigFileTest, AFieldWithoutItsNumberIsNotSaved) {
  Configuration c = defaultConfiguration();
  c.smsLimit = Configuration::kNoNumber;
  QTemporaryDir dir;
  RecordingNotifier n;
  const QString other = dir.filePath(QStringLiteral("d.dvc"));
  EXPECT_FALSE(saveConfigFile(c, other, n.collect()));
  EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::ConfigNotSaved)});
  EXPECT_TRUE(n.events.back().detail.contains(QStringLiteral("Edit_LimitSMS")));  // its format-1 name
  EXPECT_FALSE(QFile::exists(other));
}

TEST_F(ConfigFileTest, FailedSaveKeepsTheOldFile) {
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("old.dvc"));
  const Bytes old = emptyFile();
  {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(old.data(), static_cast<qint64>(old.size()));
  }
  ::chmod(QFile::encodeName(path).constData(), 0644);
  auto contents = [&] {
    QFile f(path);
    f.open(QIODevice::ReadOnly);
    const QByteArray a = f.readAll();
    return Bytes(a.constData(), static_cast<std::size_t>(a.size()));
  };

  // A full disk: the writes fail half-way.
  const auto fullDisk = [](int, const char* data, std::size_t n) -> long {
    const int full = ::open("/dev/full", O_WRONLY);
    const long r = ::write(full, data, n);
    const int e = errno;
    ::close(full);
    errno = e;
    return r;
  };
  QString why;
  EXPECT_FALSE(saveFileAtomically(path, Bytes(500, 'x'), &why, fullDisk));
  EXPECT_FALSE(why.isEmpty());
  EXPECT_EQ(contents(), old);
  EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.dvc")})
      << "no temporary file is left behind";

  // A file size limit fails the real write with EFBIG: the window's save says so, and the old
  // file stays whole.
  {
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit was {};
    ::getrlimit(RLIMIT_FSIZE, &was);
    struct rlimit small = was;
    small.rlim_cur = 100;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    RecordingNotifier n;
    const bool saved = saveConfigFile(defaultConfiguration(), path, n.collect());
    ::setrlimit(RLIMIT_FSIZE, &was);
    std::signal(SIGXFSZ, previous);
    EXPECT_FALSE(saved);
    EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::ConfigNotSaved)});
    EXPECT_TRUE(n.events.back().detail.contains(QString::fromLocal8Bit(std::strerror(EFBIG))))
        << n.events.back().detail.toStdString();
    EXPECT_EQ(contents(), old);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("old.dvc")});
  }

  // A read-only file is not replaced.
  ::chmod(QFile::encodeName(path).constData(), 0444);
  EXPECT_FALSE(saveFileAtomically(path, Bytes(10, 'x'), &why));
  EXPECT_EQ(contents(), old);
  ::chmod(QFile::encodeName(path).constData(), 0644);

  // A short write that makes no progress counts as a full disk too.
  EXPECT_FALSE(saveFileAtomically(path, Bytes(10, 'x'), &why, [](int, const char*, std::size_t) { return 0L; }));
  EXPECT_EQ(contents(), old);

  // A folder that does not exist (a removed stick): reported through the notifier.
  const Configuration c = defaultConfiguration();
  RecordingNotifier n;
  EXPECT_FALSE(saveConfigFile(c, dir.filePath(QStringLiteral("gone/new.dvc")), n.collect()));
  EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::ConfigNotSaved)});
  EXPECT_TRUE(n.events.back().detail.contains(QStringLiteral("gone")));

  // A successful save replaces the file whole and keeps its mode; a new file is its owner's alone.
  EXPECT_TRUE(saveConfigFile(c, path, n.collect()));
  EXPECT_NE(contents(), old);
  EXPECT_EQ(modeOf(path), 0644u);
  const QString fresh = dir.filePath(QStringLiteral("fresh.dvc"));
  EXPECT_TRUE(saveConfigFile(c, fresh, n.collect()));
  EXPECT_EQ(modeOf(fresh), 0600u);
}

// Saving into a folder shared with other users (sticky and writable by everyone, like /tmp): a
// link is followed only where the kernel would follow it, and a replaced file stays its owner's.
TEST_F(ConfigFileTest, SaveFollowsOnlyTheLinksTheSystemWouldAndKeepsTheOwner) {
  QTemporaryDir dir;
  const QString shared = dir.filePath(QStringLiteral("shared"));
  ASSERT_TRUE(QDir().mkdir(shared));
  ::chmod(QFile::encodeName(shared).constData(), 01777);
  const QString mine = dir.filePath(QStringLiteral("mine.dvc"));
  const Bytes old = emptyFile();
  auto write = [](const QString& path, const Bytes& data) {
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(data.data(), static_cast<qint64>(data.size()));
  };
  write(mine, old);
  ::chmod(QFile::encodeName(mine).constData(), 0640);
  const Bytes data = Bytes("new file");
  QString why;

  // The user's own chain of links in the shared folder: followed to its end, every link stays one.
  const QString first = shared + QStringLiteral("/report.dvc"), middle = shared + QStringLiteral("/middle.dvc");
  ASSERT_TRUE(QFile::link(mine, middle));
  ASSERT_TRUE(QFile::link(QStringLiteral("middle.dvc"), first));
  EXPECT_TRUE(saveFileAtomically(first, data, &why)) << why.toStdString();
  EXPECT_TRUE(QFileInfo(first).isSymLink());
  EXPECT_TRUE(QFileInfo(middle).isSymLink());
  EXPECT_EQ(readWholeFile(mine, &why), data);
  EXPECT_EQ(modeOf(mine), 0640u);

  if (::geteuid() != 0) GTEST_SKIP() << "planting another user's link and giving files away need root";
  // Another user's link planted in the shared folder, pointing at the user's file: refused.
  write(mine, old);
  const QString planted = shared + QStringLiteral("/planted.dvc");
  ASSERT_TRUE(QFile::link(mine, planted));
  ASSERT_EQ(::lchown(QFile::encodeName(planted).constData(), 4321, 4321), 0);
  EXPECT_FALSE(saveFileAtomically(planted, data, &why));
  EXPECT_TRUE(why.contains(QStringLiteral("innego użytkownika"))) << why.toStdString();
  EXPECT_EQ(readWholeFile(mine, &why), old);
  EXPECT_TRUE(QFileInfo(planted).isSymLink());
  // The same link outside a shared folder is followed, as the kernel would.
  ::chmod(QFile::encodeName(shared).constData(), 0755);
  EXPECT_TRUE(saveFileAtomically(planted, data, &why)) << why.toStdString();
  EXPECT_EQ(readWholeFile(mine, &why), data);

  // Saving as root over a user's file leaves it the user's, with its mode.
  ASSERT_EQ(::chown(QFile::encodeName(mine).constData(), 4321, 4322), 0);
  EXPECT_TRUE(saveFileAtomically(mine, old, &why)) << why.toStdString();
  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(mine).constData(), &st), 0);
  EXPECT_EQ(st.st_uid, 4321u);
  EXPECT_EQ(st.st_gid, 4322u);
  EXPECT_EQ(st.st_mode & 0777, 0640u);
  EXPECT_EQ(readWholeFile(mine, &why), old);
}

// A FIFO or a device given as a configuration or firmware file is refused at once, not waited on.
TEST_F(ConfigFileTest, ReadingRefusesWhatIsNoRegularFile) {
  QTemporaryDir dir;
  const QString fifo = dir.filePath(QStringLiteral("fifo.dvc"));
  ASSERT_EQ(::mkfifo(QFile::encodeName(fifo).constData(), 0600), 0);
  for (const QString& path : {fifo, QStringLiteral("/dev/zero"), dir.path()}) {
    QString why;
    EXPECT_FALSE(readWholeFile(path, &why)) << path.toStdString();
    EXPECT_TRUE(why.startsWith(path)) << why.toStdString();
    RecordingNotifier n;
    EXPECT_FALSE(readConfigFile(path, n.collect()));
    EXPECT_EQ(n.events.size(), 1u);
  }
  // Nor is a save allowed to write into one.
  QString why;
  EXPECT_FALSE(saveFileAtomically(fifo, Bytes("x"), &why));
  EXPECT_TRUE(QFileInfo(fifo).exists());
}

}  // namespace
}  // namespace dovu
