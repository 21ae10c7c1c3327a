// The POSIX half of the file access: a non-blocking open for reading, links followed by the
// kernel's rule for sticky folders, and the owner and mode of a replaced file kept.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <QFileInfo>
#include <cerrno>
#include <climits>
#include <cstring>

#include "storage/checkedfile_p.h"

namespace dovu::detail {
namespace {

QString systemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

bool fail(QString* error, const QString& text) {
  if (error) *error = text;
  return false;
}

constexpr int kMaxLinks = 40;  // as the kernel's ELOOP limit

// The kernel's rule for following a link (fs.protected_symlinks): in a folder that is sticky and
// writable by everyone, only a link of the follower's own or of the folder's owner is followed, so
// another user cannot steer a save onto the victim's file.
bool mayFollow(const struct stat& link, const struct stat& folder) {
  const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

}  // namespace

bool openRegularFile(QFile& file, const QString& path, QString* error) {
  // O_NONBLOCK: opening a FIFO without a writer, or a terminal waiting for its carrier, returns at
  // once instead of hanging; the type is then checked on what was opened, not on the name.
  const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return fail(error, QStringLiteral("%1: %2").arg(path, systemText(errno)));
  struct stat st {};
  const int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (err || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return fail(error, err ? QStringLiteral("%1: %2").arg(path, systemText(err))
                           : QStringLiteral("%1: to nie jest zwykły plik").arg(path));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return fail(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
  }
  return true;
}

std::optional<SaveTarget> saveTarget(const QString& path, QString* error) {
  auto refuse = [error](const QString& text) -> std::optional<SaveTarget> {
    fail(error, text);
    return std::nullopt;
  };
  auto refuseErr = [&](const QString& what, int err) { return refuse(QStringLiteral("%1: %2").arg(what, systemText(err))); };

  QString current = QFileInfo(path).absoluteFilePath();
  for (int links = 0;; ++links) {
    const QByteArray name = QFile::encodeName(current);
    struct stat st {};
    if (::lstat(name.constData(), &st) != 0) {
      if (errno != ENOENT) return refuseErr(current, errno);
      return SaveTarget{current};  // a new file
    }
    if (S_ISLNK(st.st_mode)) {
      if (links == kMaxLinks) return refuseErr(path, ELOOP);
      const QString folder = QFileInfo(current).absolutePath();
      struct stat dir {};
      if (::stat(QFile::encodeName(folder).constData(), &dir) != 0 || !mayFollow(st, dir))
        return refuse(QStringLiteral("%1: dowiązanie symboliczne innego użytkownika we wspólnym folderze %2; "
                                     "plik nie został zapisany")
                          .arg(current, folder));
      // Each link is followed by itself, so a chain ends on its last file and every link in it
      // stays a link.
      QByteArray to(PATH_MAX, '\0');
      const ssize_t n = ::readlink(name.constData(), to.data(), static_cast<std::size_t>(to.size()));
      if (n < 0) return refuseErr(current, errno);
      to.truncate(n);
      current = QDir::cleanPath(QDir(folder).absoluteFilePath(QFile::decodeName(to)));
      continue;
    }
    if (S_ISDIR(st.st_mode)) return refuseErr(current, EISDIR);
    if (!S_ISREG(st.st_mode)) return refuse(QStringLiteral("%1: to nie jest zwykły plik").arg(current));
    // The rename would replace even a read-only file; the user made it so to keep it.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(name.constData(), W_OK) != 0)
      return refuseErr(current, EACCES);
    return SaveTarget{current, true, st.st_uid, st.st_gid, static_cast<unsigned>(st.st_mode & 0777)};
  }
}

bool openPrivately(QSaveFile& file) {
  // The temporary file is created with the umask's permissions and only then changed: with 077 it
  // is never readable by others, not even while it is still empty.
  const mode_t mask = ::umask(077);
  const bool ok = file.open(QIODevice::WriteOnly);
  ::umask(mask);
  return ok;
}

bool takeOverAttributes(QSaveFile& file, const SaveTarget& target, QString* error) {
  const int fd = file.handle();
  if (!target.exists) {
    // The file holds the access password and the SIM PIN.
    if (::fchmod(fd, S_IRUSR | S_IWUSR) != 0) return fail(error, QStringLiteral("%1: %2").arg(target.path, systemText(errno)));
    return true;
  }
  if (::fchown(fd, target.ownerId, target.groupId) != 0) {
    // Only root gives a file away.  A file of another user would become ours: refused.  Our own
    // file keeps its group where we belong to it.
    if (target.ownerId != ::geteuid())
      return fail(error, QStringLiteral("%1: plik należy do innego użytkownika, zapis zmieniłby jego właściciela")
                             .arg(target.path));
    (void)::fchown(fd, static_cast<uid_t>(-1), target.groupId);
  }
  if (::fchmod(fd, target.mode) != 0) return fail(error, QStringLiteral("%1: %2").arg(target.path, systemText(errno)));
  return true;
}

void syncFolder(const QString& folder) {
  const int fd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (fd < 0) return;
  ::fsync(fd);
  ::close(fd);
}

}  // namespace dovu::detail
