#pragma once
// Whole-file reads with the magic and XOR checks shared by configuration files ("dvc") and
// firmware files ("dvf"), and the atomic save used for configuration files.
#include <QString>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "base/bytes.h"
#include "base/outcome.h"

namespace dovu {

// FileBuffer: the largest file either format may be.
constexpr std::size_t kFileBufferSize = 65536;
constexpr std::size_t kMagicSize = 3;

inline constexpr std::string_view kConfigMagic = "dvc";
inline constexpr std::string_view kFirmwareMagic = "dvf";

// XOR of the first n bytes.
std::uint8_t xorChecksum(const Bytes& data, std::size_t n);

// The two checks of a file held in memory.  A wrong magic adds BadFormat to notices; a wrong check
// byte adds BadCrc (of a firmware file: BadFirmwareCrc) with a beep; a file failing both adds
// both, in that order.  An empty file has no check byte and fails both.  True when neither failed.
bool checkFileBytes(const Bytes& data, std::string_view magic, Notices* notices = nullptr);

// Reads a whole file, at most kFileBufferSize bytes.  Only a regular file is read: a FIFO, a
// device or a folder is refused at once, without waiting for it.  A file that cannot be opened or
// read, or that is larger, yields nullopt and a reason for the user in *error (as a cause in *why);
// *tooLarge tells the last case.
std::optional<Bytes> readWholeFile(const QString& path, QString* error, bool* tooLarge = nullptr, Problem* why = nullptr);

// ReadCheckedFile: reads the file and checks it.  Every failure, an unreadable or oversized file
// included, is added to notices; nullopt then.
std::optional<Bytes> readCheckedFile(const QString& path, std::string_view magic, Notices* notices = nullptr);
// The same for bytes already in memory.
std::optional<Bytes> readCheckedFile(const Bytes& data, std::string_view magic, Notices* notices = nullptr);

// Writes up to n bytes to a descriptor like ::write: the count written, or -1 with errno set.
// Tests inject one to simulate a full disk; the save then writes through it instead of the file.
using FileWriteFn = std::function<long(int fd, const char* data, std::size_t n)>;

// Replaces the file at path with data so that a reader sees either the old or the new file, never
// a mixture: the bytes go to a temporary file in the same folder, which is synced to the disk and
// then renamed over the target (on Windows moved over it with ReplaceFileW, which keeps the old
// file's attributes).  Every failed write or sync (a full disk, a file size limit) fails the save
// with the system's reason.  The name is taken as its own bytes (base/filename.h), so a
// name that is not UTF-8 is saved by the same rules.
// - A symbolic link is followed only where the system itself would follow it: not a link of
//   another user in a folder that everyone may write to and that is sticky (/tmp), which could
//   steer the save onto a file of the user's own.  A chain of links is followed to its end, and
//   the links in it stay links.
// - A folder, a device, a FIFO or a read-only file is refused, not replaced.
// - A replaced file keeps its owner, group and mode (a file of another user, which only root
//   could give back, is refused); a new file is readable and writable by its owner only.
// On any failure the old file is left as it was, the temporary file is removed and *error names
// the reason; *why holds it as a cause (a reason, or the system's text as its detail).
bool saveFileAtomically(const QString& path, const Bytes& data, QString* error,
                        const FileWriteFn& write = {}, Problem* why = nullptr);

// Whether a save to path would be allowed and could create its file there, by the rules above,
// without writing anything: for a check before a long operation whose result is to be saved.
bool canSaveFile(const QString& path, QString* error, Problem* why = nullptr);

}  // namespace dovu
