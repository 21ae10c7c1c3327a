// Atomic file replacement on POSIX systems: mkstemp in the target's folder, write, fsync, rename.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QFileInfo>
#include <cerrno>
#include <cstring>

#include "storage/checkedfile.h"

namespace dovu {
namespace {

QString systemText(int err) { return QString::fromLocal8Bit(std::strerror(err)); }

long plainWrite(int fd, const char* data, std::size_t n) { return static_cast<long>(::write(fd, data, n)); }

// Removes the temporary file unless it was renamed into place.
struct TempFile {
  QByteArray path;
  int fd = -1;
  bool keep = false;
  ~TempFile() {
    if (fd >= 0) ::close(fd);
    if (!keep && !path.isEmpty()) ::unlink(path.constData());
  }
};

}  // namespace

bool saveFileAtomically(const QString& path, const Bytes& data, QString* error, const FileWriteFn& write) {
  auto fail = [&](const QString& what, int err) {
    if (error) *error = QStringLiteral("%1: %2").arg(what, systemText(err));
    return false;
  };

  QFileInfo info(path);
  // Writing through a link replaces the file it points to, not the link.
  if (info.isSymLink()) info = QFileInfo(info.symLinkTarget());
  if (info.exists() && info.isDir()) return fail(info.filePath(), EISDIR);
  // The rename would replace even a file that is read-only; the user made it so to keep it.
  struct stat st {};
  const QByteArray target = QFile::encodeName(info.absoluteFilePath());
  if (::stat(target.constData(), &st) == 0 &&
      ((st.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) == 0 || ::access(target.constData(), W_OK) != 0))
    return fail(info.filePath(), EACCES);
  const QString folder = info.absolutePath();

  TempFile tmp;
  // mkstemp creates the file with mode 0600: the file holds the access password and the SIM PIN.
  QByteArray templ = QFile::encodeName(folder + QStringLiteral("/.") + info.fileName() + QStringLiteral(".XXXXXX"));
  tmp.fd = ::mkstemp(templ.data());
  if (tmp.fd < 0) return fail(QStringLiteral("nie można utworzyć pliku w folderze %1").arg(folder), errno);
  tmp.path = templ;
  ::fchmod(tmp.fd, S_IRUSR | S_IWUSR);

  const FileWriteFn& put = write ? write : FileWriteFn(plainWrite);
  std::size_t done = 0;
  while (done < data.size()) {
    const long n = put(tmp.fd, data.data() + done, data.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return fail(info.filePath(), errno);
    }
    if (n == 0) return fail(info.filePath(), ENOSPC);
    done += static_cast<std::size_t>(n);
  }
  if (::fsync(tmp.fd) != 0) return fail(info.filePath(), errno);
  const int fd = tmp.fd;
  tmp.fd = -1;
  if (::close(fd) != 0) return fail(info.filePath(), errno);
  if (::rename(tmp.path.constData(), target.constData()) != 0) return fail(info.filePath(), errno);
  tmp.keep = true;

  // The rename itself reaches the disk only with the folder's entry.
  const int dirFd = ::open(QFile::encodeName(folder).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return true;
}

}  // namespace dovu
