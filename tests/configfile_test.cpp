// Configuration file: the byte layout against golden bytes, the checks that keep a bad file from
// changing anything, the load rules (markers, operator, BoxCA), and the atomic save.
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

#include "ui/matrix.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/fieldnames.h"
#include "support/formfiles.h"
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

struct Snapshot {
  std::vector<FieldState> fields;
  SensorSettings sensors;
};

Snapshot snap(const Form& f) {
  Snapshot s;
  for (int i = 0; i < f.size(); ++i) s.fields.push_back(f.state(i));
  s.sensors = f.sensors();
  return s;
}

// Names the first field that differs, or "" when none does.
std::string firstDifference(const Snapshot& a, const Snapshot& b) {
  for (std::size_t i = 0; i < a.fields.size(); ++i) {
    const FieldState& x = a.fields[i];
    const FieldState& y = b.fields[i];
    if (x.text != y.text || x.checked != y.checked || x.index != y.index || x.enabled != y.enabled ||
        x.colour != y.colour || x.value != y.value)
      return Form::def(static_cast<int>(i)).name;
  }
  if (!(a.sensors == b.sensors)) return "SensorSettings";
  return "";
}

// The window's field that shows an item's field.
const char* win(const char* field) { return widgetNameOf(*configFieldNamed(QString::fromLatin1(field))); }

// Gives every item of the file a distinctive value that differs from the defaults.
void fillDistinct(Form& f) {
  for (const ConfigItem& it : configItems()) {
    switch (it.form) {
      case ConfigItemForm::Text: {
        const FieldDef& d = Form::def(Form::idOf(win(it.field)));
        QString t;
        if (d.kind == FieldKind::Digits) t = QString::number(1000 + it.number * 7);
        else if (d.kind == FieldKind::PhoneDigits) t = QStringLiteral("+4860%1").arg(it.number * 13);
        else t = QStringLiteral("Źż%1ą").arg(it.number);
        if (d.maxLength > 0) t = t.left(d.maxLength);
        f.setText(win(it.field), t);
        break;
      }
      case ConfigItemForm::Number:
        f.setText(win(it.field), QString::number(it.number));
        break;
      case ConfigItemForm::Choice:
        f.setIndex(win(it.field), it.number % 9);
        break;
      case ConfigItemForm::Sensor:
        f.setSensor(it.sensor, static_cast<std::uint8_t>(200 + it.number - 64));
        break;
      default:
        break;
    }
  }
  // Every other matrix cell, and the option boxes.
  const auto& cells = matrixCellsInImageOrder();
  for (std::size_t i = 0; i < cells.size(); ++i) f.setChecked(cells[i], i % 3 == 0);
  for (const char* box : {"BoxOut1NC", "BoxOut3NC", "BoxOut2Mono", "BoxPotw", "BoxWyslijStan", "BoxOut4Mono",
                          "IOsend", "T3send", "ACsend", "T1send", "BoxCA", "BoxOut1sygn"})
    f.setChecked(box, true);
  f.showAllSensors();
}

class ConfigFileTest : public ::testing::Test {
 protected:
  void SetUp() override { test::app(); }
};

TEST_F(ConfigFileTest, EmptyFileLoadsAsEmptyConfiguration) {
  const Bytes file = emptyFile();
  ASSERT_EQ(file.size(), kConfigMinSize);
  ASSERT_EQ(xorChecksum(file, 106), 0x67);

  Form form;
  fillDistinct(form);
  RecordingNotifier n;
  ASSERT_TRUE(loadConfigFile(form, file, n.collect()));
  EXPECT_TRUE(n.events.empty());

  for (const ConfigItem& it : configItems()) {
    if (it.form == ConfigItemForm::Text) {
      EXPECT_EQ(form.text(win(it.field)), QString()) << it.field;
    }
    if (it.form == ConfigItemForm::Number) {
      EXPECT_EQ(form.text(win(it.field)), QStringLiteral("0")) << it.field;
    }
    if (it.form == ConfigItemForm::Choice) {
      EXPECT_EQ(form.index(win(it.field)), 0) << it.field;
      EXPECT_EQ(form.text(win(it.field)), QStringLiteral("Brak")) << it.field;
    }
    if (it.form == ConfigItemForm::Flags) {
      for (const char* box : it.bits) {
        if (box) {
          EXPECT_FALSE(form.checked(win(box))) << box;
        }
      }
    }
  }
  for (const char* cell : matrixCellsInImageOrder()) EXPECT_FALSE(form.checked(cell)) << cell;
  EXPECT_EQ(form.index("Combo_operator"), kOperatorOther);
  EXPECT_EQ(form.sensors(), SensorSettings{});
  // The displays are drawn from the loaded bytes.
  EXPECT_EQ(form.text("Edit_T1Min"), QStringLiteral("-128"));
  EXPECT_EQ(form.text("Edit_T3Korekta"), QStringLiteral("+0,0"));
  EXPECT_EQ(form.text("Edit_ACnap"), QStringLiteral("0,0V"));
  EXPECT_EQ(form.text("Edit_WMax"), QStringLiteral("0"));

  // And that configuration saves as the same 107 bytes.
  QString why;
  const auto saved = buildConfigFile(form, &why);
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
  Form form;
  const Bytes empty = emptyFile();
  RecordingNotifier n;
  ASSERT_TRUE(loadConfigFile(form, empty, n.collect()));

  form.setText("Edit_haslo", QStringLiteral("1234"));     // R moves by 4
  form.setText("Edit_Out4Wyl", QStringLiteral("wył"));    // Windows-1250: one byte per character
  form.setChecked("BoxIN1T1", true);
  form.setText("Out1Czas", QStringLiteral("7"));
  form.setText("IleTest", QStringLiteral("24"));
  form.setChecked("BoxOut1NC", true);
  form.setChecked("BoxPotw", true);
  form.setChecked("BoxWyslijStan", true);
  form.setIndex("ComboOut4", 8);
  form.setChecked("IOsend", true);
  form.setChecked("T1send", true);
  form.setText("JakiStan", QStringLiteral("STAN"));       // Q moves by 4
  form.setSensor(SensorByte::T1Korekta, 6);
  form.setSensor(SensorByte::WMax, 99);
  form.setSensor(SensorByte::DCnap, 105);
  form.setChecked("BoxCA", true);
  form.setChecked("BoxOut1sygn", true);
  form.setText("EditT1opu", QStringLiteral("300"));       // kept modulo 256
  form.setText("EditWopu", QStringLiteral("254"));

  QString why;
  const auto f = buildConfigFile(form, &why);
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
  Form original;
  fillDistinct(original);
  ASSERT_TRUE(original.checked("BoxCA"));
  ASSERT_TRUE(original.checked("BoxOut1sygn"));

  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("a.dvc"));
  RecordingNotifier n;
  ASSERT_TRUE(saveConfigFile(original, path, n.collect()));
  EXPECT_TRUE(n.events.empty());

  struct stat st {};
  ASSERT_EQ(::stat(QFile::encodeName(path).constData(), &st), 0);
  EXPECT_EQ(st.st_mode & 0777, 0600u);

  Form loaded;
  ASSERT_TRUE(loadConfigFile(loaded, path, n.collect()));
  EXPECT_TRUE(n.events.empty());
  QString why;
  EXPECT_EQ(configFromForm(loaded, &why), configFromForm(original, &why));
  EXPECT_TRUE(loaded.checked("BoxCA"));
  EXPECT_TRUE(loaded.checked("BoxOut1sygn"));
  EXPECT_TRUE(loaded.state("BoxOut1sygn").enabled);
  for (const SensorInfo& s : sensorTable()) {
    EXPECT_EQ(loaded.text(displayFieldOf(s)), original.text(displayFieldOf(s))) << s.name;
  }
  for (const ConfigItem& it : configItems()) {
    if (it.field) {
      EXPECT_EQ(loaded.text(win(it.field)), original.text(win(it.field))) << it.field;
    }
  }
  for (const char* cell : matrixCellsInImageOrder()) {
    EXPECT_EQ(loaded.checked(cell), original.checked(cell)) << cell;
  }
  EXPECT_EQ(loaded.index("Combo_operator"), kOperatorOther);

  // BoxCA ahead of BoxOut1sygn: a box checked by the same load is enabled and stays checked.
  Form ca;
  ca.setChecked("BoxCA", false);
  ASSERT_TRUE(loadConfigFile(ca, path, n.collect()));
  EXPECT_TRUE(ca.checked("BoxOut1sygn"));
}

TEST_F(ConfigFileTest, LoadMarksWhatChangedOnceAndSetsNoColourOfItsOwn) {
  Form source;
  fillDistinct(source);
  QString why;
  const Bytes file = *buildConfigFile(source, &why);

  Form form;
  RecordingNotifier n;
  ASSERT_TRUE(loadConfigFile(form, file, n.collect()));
  EXPECT_EQ(form.colour("Edit_Tel1"), kRed);
  EXPECT_EQ(form.colour("BoxIN1T1"), kRed);          // a matrix cell that changed
  EXPECT_NE(form.colour("BoxIN1T2"), kRed);          // one that stayed clear
  EXPECT_NE(form.colour("Edit_haslo"), kRed);        // has no marker

  // Markers from the first load stay; the second load changes nothing at all.
  const Snapshot first = snap(form);
  int changes = 0;
  QObject::connect(&form, &Form::changed, [&] { ++changes; });
  ASSERT_TRUE(loadConfigFile(form, file, n.collect()));
  EXPECT_EQ(changes, 0);
  EXPECT_EQ(firstDifference(first, snap(form)), "");
}

TEST_F(ConfigFileTest, ListWithoutSelectionIsKeptAs255) {
  Form form;
  form.setIndex("ComboOut2", -1);
  form.setIndex("ComboOut3", 8);
  QString why;
  const Bytes file = *buildConfigFile(form, &why);
  const auto items = parseConfigFile(file, &why);
  ASSERT_TRUE(items);
  EXPECT_EQ(byteAt(items->values[37], 0), 255);  // item 38, ComboOut2
  EXPECT_EQ(byteAt(items->values[38], 0), 8);
  Form back;
  back.setIndex("ComboOut2", 3);
  RecordingNotifier n;
  ASSERT_TRUE(loadConfigFile(back, file, n.collect()));
  EXPECT_EQ(back.index("ComboOut2"), -1);
  EXPECT_EQ(back.index("ComboOut3"), 8);
  EXPECT_EQ(*buildConfigFile(back, &why), file);

  // A byte beyond the list (a file of another version, say) loads as no selection.
  std::size_t R = 3;
  for (int item = 2; item <= 26; ++item) R += 1 + byteAt(file, R);
  Bytes beyond = file;
  beyond[R + 32] = 9;  // ComboOut1
  back.setIndex("ComboOut1", 2);
  ASSERT_TRUE(loadConfigFile(back, resum(beyond), n.collect()));
  EXPECT_EQ(back.index("ComboOut1"), -1);
}

TEST_F(ConfigFileTest, OperatorChoiceFollowsTheNumber) {
  Form form;
  RecordingNotifier n;
  const auto loadWith = [&](const QString& number) {
    QString why;
    form.setText("Edit_operator", number);
    const Bytes file = *buildConfigFile(form, &why);
    form.setText("Edit_operator", QString());
    form.setIndex("Combo_operator", 0);
    EXPECT_TRUE(loadConfigFile(form, file, n.collect()));
    return form.index("Combo_operator");
  };
  EXPECT_EQ(loadWith(QStringLiteral("+48602951111")), 1);
  EXPECT_EQ(loadWith(QStringLiteral("+48790998250")), 3);
  EXPECT_EQ(loadWith(QStringLiteral("+4860295111")), kOperatorOther);
  EXPECT_EQ(loadWith(QString()), kOperatorOther);
}

TEST_F(ConfigFileTest, ChecksumAndMagicFailuresChangeNothing) {
  Form source;
  fillDistinct(source);
  QString why;
  const Bytes good = *buildConfigFile(source, &why);

  Form form;
  const Snapshot before = snap(form);
  // Any single byte after the magic, the check byte included: the checksum message alone.
  for (std::size_t pos : {std::size_t{3}, std::size_t{40}, good.size() / 2, good.size() - 5, good.size() - 1}) {
    Bytes bad = good;
    bad[pos] = static_cast<char>(bad[pos] ^ 0x10);
    RecordingNotifier n;
    EXPECT_FALSE(loadConfigFile(form, bad, n.collect())) << pos;
    EXPECT_EQ(n.texts(), QStringList{kCrc}) << pos;
    EXPECT_EQ(n.beeps(), 1);
    EXPECT_TRUE(n.events.front().beep) << "the beep comes before the box";
  }
  // A wrong magic: both messages, format first.
  Bytes magic = good;
  magic[1] = 'V';
  RecordingNotifier n;
  EXPECT_FALSE(loadConfigFile(form, magic, n.collect()));
  EXPECT_EQ(n.texts(), (QStringList{kFormat, kCrc}));

  // A firmware file with a good check byte: the format message alone.
  RecordingNotifier fw;
  EXPECT_FALSE(loadConfigFile(form, resum(Bytes("dvf\x01\x02\x03?", 7)), fw.collect()));
  EXPECT_EQ(fw.texts(), QStringList{kFormat});
  EXPECT_EQ(fw.beeps(), 0);

  EXPECT_EQ(firstDifference(before, snap(form)), "");
}

TEST_F(ConfigFileTest, MalformedFilesAreRefusedWholeAndChangeNothing) {
  Form source;
  fillDistinct(source);
  QString why;
  const Bytes good = *buildConfigFile(source, &why);
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
  Form form;
  fillDistinct(form);
  form.setColour("Edit_Tel1", kWindowColour);
  const Snapshot before = snap(form);
  for (const Case& c : cases) {
    RecordingNotifier n;
    EXPECT_FALSE(loadConfigFile(form, c.file, n.collect())) << c.name;
    EXPECT_EQ(n.texts(), QStringList{kFormat}) << c.name;
    ASSERT_FALSE(n.events.empty());
    EXPECT_FALSE(n.events.back().detail.isEmpty()) << c.name << ": the reason is given";
    EXPECT_EQ(firstDifference(before, snap(form)), "") << c.name;
    QString reason;
    EXPECT_FALSE(parseConfigFile(c.file, &reason)) << c.name;
  }

  // Short files: nothing to read past, both checks fail.
  for (const Bytes& tiny : {Bytes(), Bytes("d", 1), Bytes("dv", 2), Bytes("dvc", 3)}) {
    RecordingNotifier n;
    EXPECT_FALSE(loadConfigFile(form, tiny, n.collect()));
    EXPECT_FALSE(n.texts().isEmpty());
  }
  EXPECT_EQ(firstDifference(before, snap(form)), "");
}

TEST_F(ConfigFileTest, UnreadableFileIsReported) {
  QTemporaryDir dir;
  Form form;
  const Snapshot before = snap(form);
  RecordingNotifier n;
  EXPECT_FALSE(loadConfigFile(form, dir.filePath(QStringLiteral("missing.dvc")), n.collect()));
  EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::CannotRead)});
  EXPECT_TRUE(n.events.back().detail.contains(QStringLiteral("missing.dvc")));

  // Larger than the file buffer: not a configuration file.
  const QString big = dir.filePath(QStringLiteral("big.dvc"));
  QFile f(big);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
  f.write(QByteArray(static_cast<int>(kFileBufferSize) + 1, 'd'));
  f.close();
  RecordingNotifier m;
  EXPECT_FALSE(loadConfigFile(form, big, m.collect()));
  EXPECT_EQ(m.texts(), QStringList{kFormat});
  EXPECT_EQ(firstDifference(before, snap(form)), "");
}

TEST_F(ConfigFileTest, SaveTakesTheRepairedValueOfTheFieldBeingEdited) {
  Form form;
  form.userEdited(Form::idOf("Out2Czas"), QStringLiteral("0"));
  form.setEditing(Form::idOf("Out2Czas"));
  QTemporaryDir dir;
  const QString path = dir.filePath(QStringLiteral("c.dvc"));
  RecordingNotifier n;
  ASSERT_TRUE(saveConfigFile(form, path, n.collect()));
  EXPECT_EQ(form.text("Out2Czas"), QStringLiteral("1"));
  Form back;
  ASSERT_TRUE(loadConfigFile(back, path, n.collect()));
  EXPECT_EQ(back.text("Out2Czas"), QStringLiteral("1"));

  // A number field that no exit check repairs: the save says so and writes nothing.
  form.setEditing(Form::kNoField);
  form.setText("Edit_LimitSMS", QString());
  const QString other = dir.filePath(QStringLiteral("d.dvc"));
  EXPECT_FALSE(saveConfigFile(form, other, n.collect()));
  EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::ConfigNotSaved)});
  EXPECT_TRUE(n.events.back().detail.contains(QStringLiteral("Edit_LimitSMS")));
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
    Form form;
    RecordingNotifier n;
    const bool saved = saveConfigFile(form, path, n.collect());
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
  Form form;
  RecordingNotifier n;
  EXPECT_FALSE(saveConfigFile(form, dir.filePath(QStringLiteral("gone/new.dvc")), n.collect()));
  EXPECT_EQ(n.texts(), QStringList{cli::englishText(Cause::ConfigNotSaved)});
  EXPECT_TRUE(n.events.back().detail.contains(QStringLiteral("gone")));

  // A successful save replaces the file whole and keeps its mode; a new file is its owner's alone.
  EXPECT_TRUE(saveConfigFile(form, path, n.collect()));
  EXPECT_NE(contents(), old);
  EXPECT_EQ(modeOf(path), 0644u);
  const QString fresh = dir.filePath(QStringLiteral("fresh.dvc"));
  EXPECT_TRUE(saveConfigFile(form, fresh, n.collect()));
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
    Form form;
    RecordingNotifier n;
    EXPECT_FALSE(loadConfigFile(form, path, n.collect()));
    EXPECT_EQ(n.events.size(), 1u);
  }
  // Nor is a save allowed to write into one.
  QString why;
  EXPECT_FALSE(saveFileAtomically(fifo, Bytes("x"), &why));
  EXPECT_TRUE(QFileInfo(fifo).exists());
}

}  // namespace
}  // namespace dovu
