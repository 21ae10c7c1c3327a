// The POSIX half of the file access: a non-blocking open for reading, and the atomic save written
// with the system calls themselves, so that every failed write or sync is seen, links are followed
// by the kernel's rule for sticky folders, and the owner and mode of a replaced file are kept.
// Every name goes to the system as its own bytes (nativeFileName), whatever its encoding.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QDir>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>

#include "base/filename.h"
#include "storage/checkedfile.h"
#include "storage/checkedfile_p.h"

namespace dovu {
namespace {

QString systemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }
QString shown(const QByteArray& name) { return displayFileName(fileNameFromNative(name)); }

// Where a failure goes: its words for the window's older callers, and its cause.  A failure the
// system reports keeps the system's own text as the cause's detail.
struct Why {
  QString* text = nullptr;
  Problem* problem = nullptr;
};

bool fail(Why error, const QString& text, Problem cause = {}) {
  if (error.text) *error.text = text;
  if (error.problem) {
    if (cause.reason == Cause::None) cause.detail = text;
    *error.problem = cause;
  }
  return false;
}
bool failErr(Why error, const QByteArray& name, int err) {
  return fail(error, QStringLiteral("%1: %2").arg(shown(name), systemText(err)));
}

constexpr int kMaxLinks = 40;  // as the kernel's ELOOP limit

// Lexical clean-up of a path of bytes ("a//b/./c/../d" -> "a/b/d"); Latin-1 carries every byte.
QByteArray cleanPath(const QByteArray& path) { return QDir::cleanPath(QString::fromLatin1(path)).toLatin1(); }

QByteArray absolutePath(const QByteArray& path) {
  if (path.startsWith('/')) return cleanPath(path);
  QByteArray cwd(PATH_MAX, '\0');
  if (!::getcwd(cwd.data(), static_cast<std::size_t>(cwd.size()))) return cleanPath(path);
  cwd.truncate(static_cast<qsizetype>(std::strlen(cwd.constData())));
  return cleanPath(cwd + '/' + path);
}

QByteArray folderOf(const QByteArray& absolute) {
  const auto slash = absolute.lastIndexOf('/');
  return slash <= 0 ? QByteArray("/") : absolute.left(slash);
}

// The pattern of a temporary file in the same folder (mkostemp fills in the X's).
QByteArray tempNameBeside(const QByteArray& target) { return folderOf(target) + "/.dovu-save-XXXXXX"; }

// The kernel's rule for following a link (fs.protected_symlinks): in a folder that is sticky and
// writable by everyone, only a link of the follower's own or of the folder's owner is followed, so
// another user cannot steer a save onto the victim's file.
bool mayFollow(const struct stat& link, const struct stat& folder) {
  const bool shared = (folder.st_mode & S_ISVTX) && (folder.st_mode & S_IWOTH);
  return !shared || link.st_uid == ::geteuid() || link.st_uid == folder.st_uid;
}

// What a save replaces or creates.
struct SaveTarget {
  QByteArray path;        // the file the rename replaces: the name itself, or where its links lead
  bool exists = false;    // a regular file is there now
  uid_t ownerId = 0;
  gid_t groupId = 0;
  mode_t mode = 0;        // permission bits of the existing file
};

// Follows symbolic links only where the system itself would, and refuses a folder, a device, a
// FIFO or a read-only file.
std::optional<SaveTarget> saveTarget(const QByteArray& path, Why error) {
  QByteArray current = absolutePath(path);
  for (int links = 0;; ++links) {
    struct stat st {};
    if (::lstat(current.constData(), &st) != 0) {
      if (errno != ENOENT) return failErr(error, current, errno), std::nullopt;
      return SaveTarget{current};  // a new file
    }
    if (S_ISLNK(st.st_mode)) {
      if (links == kMaxLinks) return failErr(error, path, ELOOP), std::nullopt;
      const QByteArray folder = folderOf(current);
      struct stat dir {};
      if (::stat(folder.constData(), &dir) != 0 || !mayFollow(st, dir)) {
        fail(error,
             QStringLiteral("%1: dowiązanie symboliczne innego użytkownika we wspólnym folderze %2; "
                            "plik nie został zapisany")
                 .arg(shown(current), shown(folder)),
             Problem(Cause::None, Cause::OtherUsersLink, shown(current), {shown(folder)}));
        return std::nullopt;
      }
      // Each link is followed by itself, so a chain ends on its last file and every link in it
      // stays a link.
      QByteArray to(PATH_MAX, '\0');
      const ssize_t n = ::readlink(current.constData(), to.data(), static_cast<std::size_t>(to.size()));
      if (n < 0) return failErr(error, current, errno), std::nullopt;
      to.truncate(n);
      current = to.startsWith('/') ? cleanPath(to) : cleanPath(folder + '/' + to);
      continue;
    }
    if (S_ISDIR(st.st_mode)) return failErr(error, current, EISDIR), std::nullopt;
    if (!S_ISREG(st.st_mode)) {
      fail(error, QStringLiteral("%1: to nie jest zwykły plik").arg(shown(current)),
           Problem(Cause::None, Cause::NotRegularFile, shown(current)));
      return std::nullopt;
    }
    // The rename would replace even a read-only file; the user made it so to keep it.
    if ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(current.constData(), W_OK) != 0)
      return failErr(error, current, EACCES), std::nullopt;
    return SaveTarget{current, true, st.st_uid, st.st_gid, static_cast<mode_t>(st.st_mode & 0777)};
  }
}

// Gives the temporary file the owner, group and mode of the file it replaces, or owner-only
// access for a new file, before any byte is written.
bool takeOverAttributes(int fd, const SaveTarget& target, Why error) {
  if (!target.exists) {
    // The file holds the access password and the SIM PIN.
    return ::fchmod(fd, S_IRUSR | S_IWUSR) == 0 || failErr(error, target.path, errno);
  }
  if (::fchown(fd, target.ownerId, target.groupId) != 0) {
    // Only root gives a file away.  A file of another user would become ours: refused.  Our own
    // file keeps its group where we belong to it.
    if (target.ownerId != ::geteuid())
      return fail(error,
                  QStringLiteral("%1: plik należy do innego użytkownika, zapis zmieniłby jego właściciela")
                      .arg(shown(target.path)),
                  Problem(Cause::None, Cause::OtherUsersFile, shown(target.path)));
    (void)::fchown(fd, static_cast<uid_t>(-1), target.groupId);
  }
  return ::fchmod(fd, target.mode) == 0 || failErr(error, target.path, errno);
}

long writeSome(int fd, const char* data, std::size_t n) {
  for (;;) {
    const ssize_t r = ::write(fd, data, n);
    if (r >= 0 || errno != EINTR) return static_cast<long>(r);
  }
}

}  // namespace

namespace detail {

bool openRegularFile(QFile& file, const QString& path, QString* text, Problem* why) {
  const Why error{text, why};
  // O_NONBLOCK: opening a FIFO without a writer, or a terminal waiting for its carrier, returns at
  // once instead of hanging; the type is then checked on what was opened, not on the name.
  const QByteArray name = nativeFileName(path);
  const int fd = ::open(name.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
  if (fd < 0) return failErr(error, name, errno);
  struct stat st {};
  const int err = ::fstat(fd, &st) != 0 ? errno : S_ISDIR(st.st_mode) ? EISDIR : 0;
  if (err || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return err ? failErr(error, name, err)
               : fail(error, QStringLiteral("%1: to nie jest zwykły plik").arg(shown(name)),
                      Problem(Cause::None, Cause::NotRegularFile, shown(name)));
  }
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  if (!file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
    ::close(fd);
    return fail(error, QStringLiteral("%1: %2").arg(shown(name), file.errorString()));
  }
  return true;
}

}  // namespace detail

bool saveFileAtomically(const QString& path, const Bytes& data, QString* text, const FileWriteFn& write, Problem* why) {
  const Why error{text, why};
  const auto target = saveTarget(nativeFileName(path), error);
  if (!target) return false;

  // The bytes go to a new file beside the target, which is synced to the disk and only then
  // renamed over the target; on any failure it is removed and the target stays as it was.
  QByteArray temp = tempNameBeside(target->path);
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);  // created owner-only
  if (fd < 0) return failErr(error, target->path, errno);
  auto abandon = [&](int err) {
    ::close(fd);
    ::unlink(temp.constData());
    return err ? failErr(error, target->path, err) : false;
  };
  if (!takeOverAttributes(fd, *target, error)) return abandon(0);
  std::size_t done = 0;
  while (done < data.size()) {
    errno = 0;
    const long n = write ? write(fd, data.data() + done, data.size() - done)
                         : writeSome(fd, data.data() + done, data.size() - done);
    // A write that makes no progress is a full disk too.
    if (n <= 0) return abandon(n < 0 && errno ? errno : ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  // A file system may report a full disk only when the data reaches it.
  if (::fsync(fd) != 0) return abandon(errno);
  if (::close(fd) != 0) {
    const int err = errno;
    ::unlink(temp.constData());
    return failErr(error, target->path, err);
  }
  if (::rename(temp.constData(), target->path.constData()) != 0) {
    const int err = errno;
    ::unlink(temp.constData());
    return failErr(error, target->path, err);
  }
  // The folder's entry, so that the rename itself survives a power cut.
  const int dir = ::open(folderOf(target->path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

bool canSaveFile(const QString& path, QString* text, Problem* why) {
  const Why error{text, why};
  const auto target = saveTarget(nativeFileName(path), error);
  if (!target) return false;
  // The one way to know that the folder takes the temporary file: create it, and remove it.
  QByteArray temp = tempNameBeside(target->path);
  const int fd = ::mkostemp(temp.data(), O_CLOEXEC);
  if (fd < 0) return failErr(error, target->path, errno);
  ::close(fd);
  ::unlink(temp.constData());
  return true;
}

}  // namespace dovu
