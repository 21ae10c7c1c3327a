#include "storage/backupstore.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLockFile>
#include <QStandardPaths>
#include <algorithm>
#include <map>

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
          {"summary", e.summary}};
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
  return e;
}

bool newestFirst(const BackupEntry& a, const BackupEntry& b) {
  return a.date != b.date ? a.date > b.date : a.number > b.number;
}

}  // namespace

QString backupReasonText(BackupReason reason) { return QString::fromUtf8(reasonName(reason).text); }
QString backupReasonPolish(BackupReason reason) { return QString::fromUtf8(reasonName(reason).polish); }

QString backupSummary(const Form& form) {
  return oneLine(form.text("Edit_IN1A") + QStringLiteral(" | ") + form.text("Edit_Tel1"));
}

QString BackupStore::defaultFolder() {
  // The window's own data folder, also when the tool (another application name) asks.
  const QString own = QCoreApplication::applicationName();
  QCoreApplication::setApplicationName(QStringLiteral("dovu-konfig"));
  const QString base = QStandardPaths::writableLocation(QStandardPaths::AppDataLocation);
  QCoreApplication::setApplicationName(own);
  return base + QStringLiteral("/backups");
}

BackupStore::BackupStore(QString folder, int limit) : folder_(std::move(folder)), limit_(std::max(1, limit)) {}

QString BackupStore::indexPath() const { return folder_ + QLatin1Char('/') + kIndexName; }

QString BackupStore::lockPath() const { return folder_ + QStringLiteral("/index.lock"); }

QString BackupStore::pathOf(const BackupEntry& entry) const { return folder_ + QLatin1Char('/') + entry.file; }

std::optional<std::vector<BackupEntry>> BackupStore::readIndex(int* next, QString* error) const {
  *next = 1;
  std::vector<BackupEntry> entries;
  const QString path = indexPath();
  const QFileInfo info(path);
  if (!info.exists() && !info.isSymLink()) return entries;
  auto fail = [&](const QString& why) {
    if (error) *error = QStringLiteral("%1: %2").arg(QDir::toNativeSeparators(path), why);
    return std::nullopt;
  };
  if (!info.isFile()) return fail(QStringLiteral("not a regular file"));
  if (info.size() > kIndexMaxSize) return fail(QStringLiteral("too large for an index"));
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return fail(file.errorString());
  const QByteArray text = file.read(kIndexMaxSize + 1);
  if (file.error() != QFileDevice::NoError) return fail(file.errorString());
  QJsonParseError pe;
  const QJsonObject o = QJsonDocument::fromJson(text, &pe).object();
  if (pe.error != QJsonParseError::NoError) return fail(QStringLiteral("not valid JSON (%1)").arg(pe.errorString()));
  const QJsonValue n = o.value("next");
  const QJsonValue list = o.value("backups");
  if (!n.isDouble() || n.toInt() < 1 || !list.isArray()) return fail(QStringLiteral("not a backup index"));
  *next = n.toInt();
  for (const QJsonValue& v : list.toArray()) {
    auto e = fromJson(v);
    if (!e) return fail(QStringLiteral("entry %1 is malformed").arg(entries.size() + 1));
    // A number at or above "next" would be given out again.
    *next = std::max(*next, e->number + 1);
    entries.push_back(*e);
  }
  std::sort(entries.begin(), entries.end(), newestFirst);
  return entries;
}

bool BackupStore::saveIndex(const std::vector<BackupEntry>& entries, int next, QString* error) const {
  QJsonArray list;
  for (const BackupEntry& e : entries) list.append(toJson(e));
  const QByteArray text = QJsonDocument(QJsonObject{{"next", next}, {"backups", list}}).toJson(QJsonDocument::Indented);
  return saveFileAtomically(indexPath(), Bytes(text.constData(), static_cast<std::size_t>(text.size())), error);
}

std::optional<std::vector<BackupEntry>> BackupStore::list(QString* error) const {
  int next = 0;
  return readIndex(&next, error);
}

std::optional<BackupEntry> BackupStore::find(int number, QString* error) const {
  const auto entries = list(error);
  if (!entries) return std::nullopt;
  for (const BackupEntry& e : *entries)
    if (e.number == number) return e;
  if (error) *error = QStringLiteral("no backup number %1 in %2").arg(number).arg(QDir::toNativeSeparators(folder_));
  return std::nullopt;
}

int BackupStore::configuredLimit() {
  bool ok = false;
  const int n = qEnvironmentVariableIntValue("DOVU_BACKUP_LIMIT", &ok);
  return ok && n >= 1 ? n : kDefaultLimit;
}

std::optional<BackupEntry> BackupStore::add(const Form& form, BackupReason reason, const QString& port,
                                            QString* error, const QDateTime& when, const QString& firmware) {
  QString why;
  auto fail = [&](const QString& text) {
    if (error) *error = QStringLiteral("the backup could not be saved: %1").arg(text);
    return std::nullopt;
  };
  const auto file = buildConfigFile(form, &why);
  if (!file) return fail(why);
  if (!QDir().mkpath(folder_)) return fail(QStringLiteral("%1: the folder cannot be made").arg(QDir::toNativeSeparators(folder_)));
  // The window and the tool may store at once; the second would write an index without the
  // first one's backup.  It is not waited for: a write is about to start, and the reason is shown.
  QLockFile lock(lockPath());
  lock.setStaleLockTime(0);  // a lock is stale only when its process is gone
  if (!lock.tryLock(0)) {
    return fail(lock.error() == QLockFile::LockFailedError
                    ? QStringLiteral("another program is storing a backup in %1 right now").arg(QDir::toNativeSeparators(folder_))
                    : QStringLiteral("%1: the lock file cannot be made").arg(QDir::toNativeSeparators(lockPath())));
  }
  int next = 1;
  auto entries = readIndex(&next, &why);
  if (!entries) return fail(why);

  BackupEntry entry;
  entry.number = next;
  entry.date = when.toOffsetFromUtc(when.offsetFromUtc());
  entry.reason = reason;
  entry.port = port;
  entry.firmware = firmware.isEmpty() ? firmwareShown(form) : firmware;
  entry.summary = backupSummary(form);
  entry.file = QStringLiteral("%1-%2.dvc").arg(entry.date.toString(QStringLiteral("yyyyMMdd-HHmmss"))).arg(entry.number);
  if (!saveFileAtomically(pathOf(entry), *file, &why)) return fail(why);
  entries->insert(entries->begin(), entry);
  std::sort(entries->begin(), entries->end(), newestFirst);

  // Beyond the limit, the oldest go first, each only while its controller keeps another backup.
  std::map<QString, int> perController;
  for (const BackupEntry& e : *entries) ++perController[e.summary];
  std::vector<BackupEntry> removed;
  for (auto it = entries->end(); it != entries->begin() && static_cast<int>(entries->size()) > limit_;) {
    --it;
    if (perController[it->summary] < 2) continue;
    --perController[it->summary];
    removed.push_back(*it);
    it = entries->erase(it);
  }
  if (!saveIndex(*entries, entry.number + 1, &why)) {
    QFile::remove(pathOf(entry));
    return fail(why);
  }
  // The index no longer names them; a file that cannot be removed is only left over.
  for (const BackupEntry& e : removed) QFile::remove(pathOf(e));
  return entry;
}

}  // namespace dovu
