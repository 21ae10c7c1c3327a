#pragma once
// What happened, apart from its words.  The core reports a Problem; the window words it in Polish
// (ui/wording.cpp), the command-line tool in English (tools/dovu-cli/wording.cpp), so that one
// event reads the same in either, each in the language of its surface.
#include <QString>
#include <QStringList>

namespace dovu {

enum class Cause {
  None,
  // What happened: the message itself.
  NoAnswer,             // the controller did not answer a frame three times
  WrongPassword,        // the controller refused the access password
  LoggedOut,            // the logout was answered
  PasswordChanged,      // the password change was answered
  PortUnavailable,      // the port could not be opened or used: subject the port, reason why
  DownloadInterrupted,  // a download stopped; the window shows what it showed before
  UploadInterrupted,    // an upload stopped after some parameters: args {acknowledged, sent}; reason why
  NoisyLine,            // reads of one parameter never agreed: subject the parameter, args {reads}
  TextTooLong,          // a text is longer than the controller takes: subject the field's stable name, args {length, limit}
  KeepPowered,          // a firmware update begins
  FlashFailed,          // a firmware update got no answer: the controller waits in its bootloader
  FlashPortFailed,      // the port failed during a firmware update: subject the port, reason why
  FlashDone,            // a firmware update ended well
  BadFormat,            // a file is not of its kind (wrong mark, cannot be parsed): detail why
  BadCrc,               // a configuration file's check byte is wrong
  BadFirmwareCrc,       // a firmware file's check byte is wrong
  CannotRead,           // a file cannot be read: detail the system's reason
  FirmwareTooLarge,     // args {the file's size, the largest allowed}; or detail why
  FirmwareEmpty,        // a firmware file holds only its mark and check byte
  ConfigNotSaved,       // a configuration file was not saved: detail why
  // Why: the reason of a PortUnavailable, a stopped transfer or a file refused.
  FileTooLarge,  // args {the largest size a file may have}
  PortNotFound,
  PortDeviceLost,
  PortPermissionDenied,  // args {a group to join, the user who may open it, a group that may (root's)},
                         // each "" when there is none
  PortInUse,
  PortInUseOrDenied,
  PortWriteTimedOut,
  PortNotSerial,
  PortSettingsRefused,
  PortNotOpen,
  PortOpenFailed,
  PortWriteFailed,
  PortReadFailed,
  PortSettingsFailed,
  PortFailed,  // args {the error's number}
  // The backup history.  What happened: subject the folder or file concerned.
  BackupNotSaved,         // a backup was not stored: the reason, or the detail why
  BackupListUnreadable,   // the list of backups cannot be read: the reason
  NoSuchBackup,           // args {the number asked for}; subject the folder
  // Why a backup folder, its index or its lock refused.
  FolderIsLink,
  NotAFolder,
  FolderOfOtherUser,
  FolderWritableByOthers,  // args {the folder's mode, in octal}
  FolderCannotBeMade,
  LockCannotBeMade,        // subject the lock file
  LockHeld,                // args {seconds waited, the holder's program, its process, its host}; subject the lock
  IndexNotRegular,
  IndexTooLarge,
  IndexUnreadable,         // detail the system's reason
  IndexNotValid,           // detail the parser's reason
  IndexEntryMalformed,     // args {the entry's position, from 1}
  NumbersUsedUp,
  BackupLimitInvalid,      // args {the variable's value}
  // Why a configuration file was refused (the reason of a BadFormat) or not built (of a
  // ConfigNotSaved), and why a file was not read or saved.
  FileTooShort,       // args {the file's size, the least a file may have}
  WrongMark,          // the file does not begin with the mark of its kind
  WrongCheckByte,     // the last byte is not the check byte of those before it
  FileEndsEarly,      // args {the item's number, its field}; without args: before the check byte
  MatrixLengthWrong,  // args {the item's number, its field, its length, the length it must have}
  ItemPastEnd,        // args {the item's number, its field}
  BytesLeftOver,      // args {how many bytes follow the check byte's place}
  NotANumber,         // args {the field, its text}
  NotRegularFile,     // subject the file
  NoSuchFile,         // subject the file
  FileReadOnly,       // subject the file
  NoSuchFolder,       // subject the file whose folder is missing
  OtherUsersLink,     // subject the link, args {the folder everyone may write to}
  OtherUsersFile,     // subject the file; the last cause
};
constexpr int kCauseCount = static_cast<int>(Cause::OtherUsersFile) + 1;

// What the controller holds once a transfer to or from it has failed.
enum class Holds {
  NotSaid,     // not a transfer, or nothing is known
  Unchanged,   // nothing of it was written (a download, an upload refused before its first parameter)
  Mix,         // part old, part new: args of an UploadInterrupted say how much is new
  Bootloader,  // its bootloader, waiting for a whole image (a firmware update that failed)
};

// One event as the core knows it.  subject names what it concerns (a port, a file) as the system
// names it; args are the numbers and names its words take; detail is further text the core has
// only in words, such as the system's own error text.
struct Problem {
  Problem() = default;
  Problem(Cause c, Cause r = Cause::None, QString what = {}, QStringList values = {}, QString more = {})
      : cause(c), reason(r), subject(std::move(what)), args(std::move(values)), detail(std::move(more)) {}
  Cause cause = Cause::None;
  Cause reason = Cause::None;
  QString subject;
  QStringList args;
  QString detail;
  Holds holds = Holds::NotSaid;
};

}  // namespace dovu
