#include "storage/backupstore.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QStandardPaths>
#include <QSysInfo>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <map>

#ifndef Q_OS_WIN
#include <sys/stat.h>
#include <unistd.h>
#endif

#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "storage/configjson.h"

namespace dovu {

namespace {

const QString kIndexName = QStringLiteral("index.json");
// An index of many thousand backups stays far below this; anything larger is not ours.
constexpr qint64 kIndexMaxSize = 16 * 1024 * 1024;

struct ReasonName {
  BackupReason reason;
  const char* key;     // in the index
  const char* text;    // for the tool
  const char* polish;  // for the window
};
constexpr ReasonName kReasons[] = {
    {BackupReason::BeforeUpload, "upload", "before upload", "przed zapisem konfiguracji"},
    {BackupReason::BeforeFirmware, "firmware", "before firmware update", "przed aktualizacją firmware"},
    {BackupReason::Manual, "manual", "manual", "ręczna"},
};

const ReasonName& reasonName(BackupReason r) {
  return *std::find_if(std::begin(kReasons), std::end(kReasons), [r](const ReasonName& n) { return n.reason == r; });
}

QString oneLine(QString text) {
  for (QChar& c : text)
    if (c.category() == QChar::Other_Control) c = QLatin1Char(' ');
  return text;
}

QJsonObject toJson(const BackupEntry& e) {
  return {{"number", e.number},
          {"file", e.file},
          {"date", e.date.toString(Qt::ISODate)},
          {"reason", QLatin1String(reasonName(e.reason).key)},
          {"port", e.port},
          {"firmware", e.firmware},
          {"summary", e.summary},
          {"content", e.content}};
}

std::optional<BackupEntry> fromJson(const QJsonValue& v) {
  const QJsonObject o = v.toObject();
  BackupEntry e;
  const QJsonValue number = o.value("number");
  if (!v.isObject() || !number.isDouble() || number.toDouble() != number.toInt() || number.toInt() < 1)
    return std::nullopt;
  e.number = number.toInt();
  for (const char* key : {"file", "date", "reason", "port", "firmware", "summary"})
    if (!o.value(QLatin1String(key)).isString()) return std::nullopt;
  e.file = o.value("file").toString();
  // Only a plain name inside the folder: an index edited to name "../x" reads nothing outside.
  if (e.file.isEmpty() || e.file.contains(QLatin1Char('/')) || e.file.contains(QLatin1Char('\\')) ||
      e.file.startsWith(QLatin1Char('.')))
    return std::nullopt;
  e.date = QDateTime::fromString(o.value("date").toString(), Qt::ISODate);
  if (!e.date.isValid()) return std::nullopt;
  const QString reason = o.value("reason").toString();
  const auto r = std::find_if(std::begin(kReasons), std::end(kReasons),
                              [&](const ReasonName& n) { return reason == QLatin1String(n.key); });
  if (r == std::end(kReasons)) return std::nullopt;
  e.reason = r->reason;
  e.port = o.value("port").toString();
  e.firmware = o.value("firmware").toString();
  e.summary = o.value("summary").toString();
  e.content = o.value("content").toString();  // absent in older indexes
  return e;
}

// The history's own sequence, never the clock: a controller's date may be anything.
bool newestFirst(const BackupEntry& a, const BackupEntry& b) { return a.number > b.number; }

QString contentKey(const QByteArray& file) {
  return QString::fromLatin1(QCryptographicHash::hash(file, QCryptographicHash::Sha256).toHex());
}

// Why the backup folder may not be used, empty when it may.  Others who could write into it could
// plant a backup that a restore then sends to a controller.  On Windows the folder lies in the
// user's own application data, which others cannot write.
QString folderProblem(const QString& folder, Problem* problem) {
#ifdef Q_OS_WIN
  Q_UNUSED(folder);
  Q_UNUSED(problem);
  return {};
#else
  struct stat st {};
  if (::lstat(QFile::encodeName(folder).constData(), &st) != 0) return {};  // not there yet
  const QString shown = QDir::toNativeSeparators(folder);
  auto refuse = [&](Cause why, const QString& text, QStringList args = {}) {
    *problem = Problem(Cause::None, why, shown, std::move(args));
    return text;
  };
  if (S_ISLNK(st.st_mode)) return refuse(Cause::FolderIsLink, QStringLiteral("the folder is a symbolic link"));
  if (!S_ISDIR(st.st_mode)) return refuse(Cause::NotAFolder, QStringLiteral("not a folder"));
  if (st.st_uid != ::geteuid())
    return refuse(Cause::FolderOfOtherUser, QStringLiteral("the folder belongs to another user"));
  if (st.st_mode & (S_IWGRP | S_IWOTH)) {
    const QString mode = QStringLiteral("%1").arg(st.st_mode & 07777, 4, 8, QLatin1Char('0'));
    return refuse(Cause::FolderWritableByOthers,
                  QStringLiteral("other users may write into the folder (mode %1; chmod 700 makes it yours alone)")
                      .arg(mode),
                  {mode});
  }
  return {};
#endif
}

// Clears a lock no program holds any more that QLockFile itself would keep: an empty or garbled
// one (a program ended while writing it) and one from another machine, each once it is older than
// a store takes.  A lock naming a process of this machine that is gone QLockFile clears itself.
void clearDeadLock(const QString& path, int olderThanMs) {
  const QFileInfo info(path);
  if (!info.exists()) return;
  QLockFile probe(path);
  qint64 pid = 0;
  QString host, app;
  const bool named = probe.getLockInfo(&pid, &host, &app);
  const qint64 age = std::abs(info.lastModified().msecsTo(QDateTime::currentDateTime()));
  const bool foreign = named && !host.isEmpty() && host != QSysInfo::machineHostName();
  if ((!named || foreign) && age > olderThanMs) probe.removeStaleLockFile();
}

}  // namespace

QString backupReasonText(BackupReason reason) { return QString::fromUtf8(reasonName(reason).text); }
QString backupReasonPolish(BackupReason reason) { return QString::fromUtf8(reasonName(reason).polish); }

QString backupSummary(const Configuration& c) {
  return oneLine(c.inputs[0].alarmText + QStringLiteral(" | ") + c.telephones[0]);
}


QString BackupStore::defaultFolder() {
  // The window's own data folder, also when the tool (another application name) asks.
  const QString own = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName(QStringLiteral("dovu-konfig"));
  const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QCoreApplication::setApplicationName(own);
  return base + QStringLiteral("/backups");
}

BackupStore::BackupStore(QString folder, int limit) : folder_(std::move(folder)) {
  if (limit > 0) {
    limit_ = limit;
  } else if (const auto configured = configuredLimit(&limitError_)) {
    limit_ = *configured;
  } else {
    limitProblem_ = Problem(Cause::None, Cause::BackupLimitInvalid, {}, {qEnvironmentVariable("DOVU_BACKUP_LIMIT")});
  }
}

QString BackupStore::indexPath() const { return folder_ + QLatin1Char('/') + kIndexName; }

QString BackupStore::lockPath() const { return folder_ + QStringLiteral("/index.lock"); }

QString BackupStore::pathOf(const BackupEntry& entry) const { return folder_ + QLatin1Char('/') + entry.file; }

std::optional<std::vector<BackupEntry>> BackupStore::readIndex(qint64* next, QString* error) const {
  *next = 1;
  std::vector<BackupEntry> entries;
  Problem refused;
  if (const QString problem = folderProblem(folder_, &refused); !problem.isEmpty()) {
    last_ = Problem(Cause::BackupListUnreadable, refused.reason, refused.subject, refused.args);
    if (error) *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(folder_), problem);
    return std::nullopt;
  }
  const QString path = indexPath();
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return entries;
  auto fail = [&](const QString& why, Cause reason, QStringList args = {}, const QString& detail = {}) {
    last_ = Problem(Cause::BackupListUnreadable, reason, QDir::toNativeSeparators(path), std::move(args), detail);
    if (error) *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
    return std::nullopt;
  };
  if (!info.isFile()) return fail(QStringLiteral("not a regular file"), Cause::IndexNotRegular);
  if (info.size() > kIndexMaxSize) return fail(QStringLiteral("too large for an index"), Cause::IndexTooLarge);
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString(), Cause::IndexUnreadable, {}, file.errorString());
  const QByteArray text = file.read(kIndexMaxSize + 1);
  if (file.error() != QFileDevice::NoError)
    return fail(file.errorString(), Cause::IndexUnreadable, {}, file.errorString());
  QJsonParseError pe;
  const QJsonObject o = QJsonDocument::fromJson(text, &pe).object();
  if (pe.error != QJsonParseError::NoError)
    return fail(QStringLiteral("not valid JSON (%1)").arg(pe.errorString()), Cause::IndexNotValid);
  const QJsonValue n = o.value("next");
  const QJsonValue list = o.value("backups");
  // "next" may stand one past the last number an int holds: the numbers are then used up.
  const double nv = n.toDouble();
  if (!n.isDouble() || nv < 1 || nv > double(INT_MAX) + 1 || nv != std::floor(nv) || !list.isArray())
    return fail(QStringLiteral("not a backup index"), Cause::IndexNotValid);
  *next = static_cast<qint64>(nv);
  for (const QJsonValue& v : list.toArray()) {
    auto e = fromJson(v);
    if (!e)
      return fail(QStringLiteral("entry %1 is malformed").arg(entries.size() + 1), Cause::IndexEntryMalformed,
                  {QString::number(entries.size() + 1)});
    // A number at or above "next" would be given out again.
    *next = std::max(*next, qint64(e->number) + 1);
    entries.push_back(*e);
  }
  std::sort(entries.begin(), entries.end(), newestFirst);
  return entries;
}

bool BackupStore::saveIndex(const std::vector<BackupEntry>& entries, qint64 next, QString* error, Problem* why) const {
  QJsonArray list;
  for (const BackupEntry& e : entries) list.append(toJson(e));
  const QByteArray text =
      QJsonDocument(QJsonObject{{"next", double(next)}, {"backups", list}}).toJson(QJsonDocument::Indented);
  return saveFileAtomically(indexPath(), Bytes(text.constData(), static_cast<std::size_t>(text.size())), error, {}, why);
}

std::optional<std::vector<BackupEntry>> BackupStore::list(QString* error) const {
  qint64 next = 0;
  return readIndex(&next, error);
}

std::optional<BackupEntry> BackupStore::find(int number, QString* error) const {
  const auto entries = list(error);
  if (!entries) return std::nullopt;
  for (const BackupEntry& e : *entries)
    if (e.number == number) return e;
  last_ = Problem(Cause::NoSuchBackup, Cause::None, QDir::toNativeSeparators(folder_), {QString::number(number)});
  if (error) *error = QStringLiteral("no backup number %1 in %2").arg(number).arg(QDir::toNativeSeparators(folder_));
  return std::nullopt;
}

std::optional<int> BackupStore::configuredLimit(QString* error) {
  if (!qEnvironmentVariableIsSet("DOVU_BACKUP_LIMIT")) return kDefaultLimit;
  const QString text = qEnvironmentVariable("DOVU_BACKUP_LIMIT");
  // Decimal digits alone: "010" is ten, not an octal eight; a sign, a space or a word is refused.
  bool digits = !text.isEmpty() && text.size() <= 9;
  for (const QChar c : text) digits = digits && c >= QLatin1Char('0') && c <= QLatin1Char('9');
  const int n = digits ? text.toInt() : 0;
  if (n >= 1) return n;
  if (error)
    *error = QStringLiteral("DOVU_BACKUP_LIMIT=%1 is not a number of backups (a whole number from 1 to 999999999)")
                 .arg(text);
  return std::nullopt;
}

QString BackupStore::pinPath(int number) const { return folder_ + QStringLiteral("/keep-%1.lock").arg(number); }

void BackupStore::keep(int number) {
  kept_ = number;
  // Another program's store must not rotate it out either while the restore runs: a lock file
  // names it for as long as this process holds it.  It is made under the index's lock, so that a
  // store under way (which may have chosen it for removal) has ended, and every later one sees it.
  QLockFile index(lockPath());
  index.setStaleLockTime(0);
  index.tryLock(lockWaitMs_);
  auto pin = std::make_shared<QLockFile>(pinPath(number));
  pin->setStaleLockTime(0);
  if (pin->tryLock(1000)) pin_ = std::move(pin);
}

bool BackupStore::pinned(int number) const {
  if (number == kept_) return true;
  const QString path = pinPath(number);
  if (!QFileInfo::exists(path)) return false;
  QLockFile probe(path);
  probe.setStaleLockTime(0);
  if (probe.tryLock(0)) {
    probe.unlock();  // its restore has ended: the pin goes
    return false;
  }
  return probe.error() == QLockFile::LockFailedError;
}

QString BackupStore::contentOf(const BackupEntry& entry) const {
  if (!entry.content.isEmpty()) return entry.content;
  QFile file(pathOf(entry));
  // A backup whose file is gone holds nothing that its removal could lose.
  if (!file.open(QIODevice::ReadOnly)) return QString();
  return contentKey(file.readAll());
}

std::optional<BackupEntry> BackupStore::add(const Configuration& c, BackupReason reason, const QString& port,
                                            QString* error, const QDateTime& when, const QString& firmware) {
  QString why;
  // why: a reason or subject worded here; a failure without one keeps the text as its detail.
  auto fail = [&](const QString& text, Problem why = {}) {
    if (why.reason == Cause::None && why.detail.isEmpty()) why.detail = text;
    last_ = Problem(Cause::BackupNotSaved, why.reason, why.subject, why.args, why.detail);
    if (error) *error = QStringLiteral("the backup could not be saved: %1").arg(text);
    return std::nullopt;
  };
  if (!limitError_.isEmpty()) return fail(limitError_, limitProblem_);
  Problem cause;
  const auto file = buildConfigFile(c, &why, &cause);
  if (!file) return fail(why, cause);
  const QString shown = QDir::toNativeSeparators(folder_);
  Problem refused;
  if (const QString problem = folderProblem(folder_, &refused); !problem.isEmpty())
    return fail(QStringLiteral("%1: %2").arg(shown, problem), refused);
  const QFileInfo place(folder_);
  if (!place.exists() &&
      (!QDir().mkpath(place.absolutePath()) ||
       !QDir().mkdir(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner)) &&
      !QFileInfo(folder_).isDir())
    return fail(QStringLiteral("%1: the folder cannot be made").arg(shown),
                Problem(Cause::None, Cause::FolderCannotBeMade, shown));
  // Several programs may store at once (the window, a tool for each of a series of controllers);
  // each would write an index without the others' backups, so one waits for the other.  A store
  // takes a fraction of a second, so the wait is bounded.
  QLockFile lock(lockPath());
  lock.setStaleLockTime(0);  // a lock of this machine is stale only when its process is gone
  QElapsedTimer waited;
  waited.start();
  for (;;) {
    clearDeadLock(lockPath(), std::min(lockWaitMs_, 2000));
    if (lock.tryLock(std::min(100, lockWaitMs_))) break;
    if (lock.error() != QLockFile::LockFailedError)
      return fail(QStringLiteral("%1: the lock file cannot be made").arg(QDir::toNativeSeparators(lockPath())),
                  Problem(Cause::None, Cause::LockCannotBeMade, QDir::toNativeSeparators(lockPath())));
    if (waited.elapsed() >= lockWaitMs_) {
      qint64 pid = 0;
      QString host, app;
      const bool known = lock.getLockInfo(&pid, &host, &app);
      const QString holder = known ? QStringLiteral(" (%1, process %2 on %3)").arg(app).arg(pid).arg(host) : QString();
      const QString seconds = QString::number(waited.elapsed() / 1000.0, 'f', 1);
      return fail(QStringLiteral("another program%1 has been storing a backup in %2 for %3 s; its lock is %4")
                      .arg(holder, shown, seconds, QDir::toNativeSeparators(lockPath())),
                  Problem(Cause::None, Cause::LockHeld, QDir::toNativeSeparators(lockPath()),
                          known ? QStringList{seconds, app, QString::number(pid), host} : QStringList{seconds}));
    }
  }
  qint64 next = 1;
  auto entries = readIndex(&next, &why);
  if (!entries) return fail(why, last_);
  if (next > INT_MAX)
    return fail(QStringLiteral("%1: every backup number has been given out; move the folder aside to start a new history")
                    .arg(QDir::toNativeSeparators(indexPath())),
                Problem(Cause::None, Cause::NumbersUsedUp, QDir::toNativeSeparators(indexPath())));

  BackupEntry entry;
  entry.number = static_cast<int>(next);
  entry.date = when.toOffsetFromUtc(when.offsetFromUtc());
  entry.reason = reason;
  entry.port = port;
  entry.firmware = firmware.isEmpty() ? c.firmware : firmware;
  entry.summary = backupSummary(c);
  entry.content = contentKey(QByteArray(file->data(), static_cast<qsizetype>(file->size())));
  entry.file = QStringLiteral("%1-%2.dvc").arg(entry.date.toString(QStringLiteral("yyyyMMdd-HHmmss"))).arg(entry.number);
  if (!saveFileAtomically(pathOf(entry), *file, &why, {}, &cause)) return fail(why, cause);
  entries->insert(entries->begin(), entry);
  std::sort(entries->begin(), entries->end(), newestFirst);

  // Beyond the limit, the oldest go first, but never the newest backup of a configuration (a backup
  // whose file is gone holds none) nor one being restored; the new one is the newest of all.
  std::vector<QString> keys;
  std::map<QString, int> newestOf;  // entries are newest first: the first number seen
  for (const BackupEntry& e : *entries) newestOf.try_emplace(keys.emplace_back(contentOf(e)), e.number);
  std::vector<BackupEntry> removed;
  for (std::size_t i = entries->size(); i-- > 1 && static_cast<int>(entries->size()) > limit_;) {
    const BackupEntry& e = (*entries)[i];
    if ((!keys[i].isEmpty() && newestOf[keys[i]] == e.number) || pinned(e.number)) continue;
    removed.push_back(e);
    entries->erase(entries->begin() + static_cast<std::ptrdiff_t>(i));
    keys.erase(keys.begin() + static_cast<std::ptrdiff_t>(i));
  }
  if (!saveIndex(*entries, next + 1, &why, &cause)) {
    QFile::remove(pathOf(entry));
    return fail(why, cause);
  }
  // The index no longer names them; a file that cannot be removed is only left over.
  for (const BackupEntry& e : removed) QFile::remove(pathOf(e));
  return entry;
}

}  // namespace dovu
