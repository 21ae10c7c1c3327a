#include "wording.h"

#include <QStringList>

#include "storage/fieldnames.h"

namespace dovu::cli {

QString englishText(Cause cause) {
  switch (cause) {
    case Cause::None: return {};
    case Cause::NoAnswer: return QStringLiteral("no answer from the controller");
    case Cause::WrongPassword: return QStringLiteral("wrong password");
    case Cause::LoggedOut: return QStringLiteral("logged out of the controller");
    case Cause::PasswordChanged: return QStringLiteral("password changed");
    case Cause::PortUnavailable: return QStringLiteral("port unavailable");
    case Cause::DownloadInterrupted: return QStringLiteral("download interrupted");
    case Cause::UploadInterrupted: return QStringLiteral("upload interrupted: the controller now holds a partly new configuration");
    case Cause::NoisyLine: return QStringLiteral("line disturbed: repeated reads of a parameter differ");
    case Cause::TextTooLong: return QStringLiteral("a text is longer than the controller takes; nothing was sent");
    case Cause::KeepPowered: return QStringLiteral("do not switch the controller off until the update ends");
    case Cause::FlashFailed: return QStringLiteral("no answer from the controller, the update failed");
    case Cause::FlashPortFailed: return QStringLiteral("port unavailable, the update failed");
    case Cause::FlashDone: return QStringLiteral("update complete");
    case Cause::BadFormat: return QStringLiteral("wrong file format");
    case Cause::BadCrc: return QStringLiteral("wrong check byte in the configuration file");
    case Cause::BadFirmwareCrc: return QStringLiteral("wrong check byte in the firmware file");
    case Cause::CannotRead: return QStringLiteral("cannot read the file");
    case Cause::FirmwareTooLarge: return QStringLiteral("the firmware file is too large");
    case Cause::FirmwareEmpty: return QStringLiteral("the firmware file holds no program");
    case Cause::ConfigNotSaved: return QStringLiteral("configuration file not saved");
    case Cause::FileTooLarge: return QStringLiteral("the file is too large");
    case Cause::PortNotFound: return QStringLiteral("no such port");
    case Cause::PortDeviceLost: return QStringLiteral("the device was unplugged");
    case Cause::PortPermissionDenied: return QStringLiteral("permission denied");
    case Cause::PortInUse: return QStringLiteral("the port is in use by another program");
    case Cause::PortInUseOrDenied: return QStringLiteral("the port is in use by another program or permission is denied");
    case Cause::PortWriteTimedOut: return QStringLiteral("writing to the port timed out");
    case Cause::PortNotSerial: return QStringLiteral("not a serial port");
    case Cause::PortSettingsRefused: return QStringLiteral("the port refuses the line settings");
    case Cause::PortNotOpen: return QStringLiteral("the port is not open");
    case Cause::PortOpenFailed: return QStringLiteral("the port cannot be opened");
    case Cause::PortWriteFailed: return QStringLiteral("writing to the port failed");
    case Cause::PortReadFailed: return QStringLiteral("reading from the port failed");
    case Cause::PortSettingsFailed: return QStringLiteral("the line settings cannot be set");
    case Cause::PortFailed: return QStringLiteral("port error");
    case Cause::BackupNotSaved: return QStringLiteral("the backup could not be saved");
    case Cause::BackupListUnreadable: return QStringLiteral("the backup index cannot be read");
    case Cause::NoSuchBackup: return QStringLiteral("no such backup");
    case Cause::FolderIsLink: return QStringLiteral("the folder is a symbolic link");
    case Cause::NotAFolder: return QStringLiteral("not a folder");
    case Cause::FolderOfOtherUser: return QStringLiteral("the folder belongs to another user");
    case Cause::FolderWritableByOthers: return QStringLiteral("other users may write into the folder");
    case Cause::FolderCannotBeMade: return QStringLiteral("the folder cannot be made");
    case Cause::LockCannotBeMade: return QStringLiteral("the lock file cannot be made");
    case Cause::LockHeld: return QStringLiteral("another program is storing a backup");
    case Cause::IndexNotRegular: return QStringLiteral("not a regular file");
    case Cause::IndexTooLarge: return QStringLiteral("too large for an index");
    case Cause::IndexUnreadable: return QStringLiteral("the index cannot be read");
    case Cause::IndexNotValid: return QStringLiteral("not a backup index");
    case Cause::IndexEntryMalformed: return QStringLiteral("an entry is malformed");
    case Cause::NumbersUsedUp:
      return QStringLiteral("every backup number has been given out; move the folder aside to start a new history");
    case Cause::BackupLimitInvalid: return QStringLiteral("DOVU_BACKUP_LIMIT is not a number of backups");
    case Cause::FileTooShort: return QStringLiteral("the file is too short");
    case Cause::WrongMark: return QStringLiteral("wrong mark at the start of the file");
    case Cause::WrongCheckByte: return QStringLiteral("wrong check byte");
    case Cause::FileEndsEarly: return QStringLiteral("the file ends before its check byte");
    case Cause::MatrixLengthWrong: return QStringLiteral("the notification matrix has the wrong length");
    case Cause::ItemPastEnd: return QStringLiteral("an item reaches past the end of the file");
    case Cause::BytesLeftOver: return QStringLiteral("bytes left over at the end of the file");
    case Cause::NotANumber: return QStringLiteral("a number field holds no number");
    case Cause::NotRegularFile: return QStringLiteral("not a regular file");
    case Cause::NoSuchFile: return QStringLiteral("no such file");
    case Cause::FileReadOnly: return QStringLiteral("the file is read-only");
    case Cause::NoSuchFolder: return QStringLiteral("the folder does not exist");
    case Cause::OtherUsersLink:
      return QStringLiteral("a symbolic link of another user in a folder everyone may write to; the file was not saved");
    case Cause::OtherUsersFile:
      return QStringLiteral("the file belongs to another user; saving would change its owner");
  }
  return {};
}

namespace {
// The file reasons that name an item, a field or a count.
QString englishReasonWithArgs(const Problem& p) {
  const QStringList& a = p.args;
  switch (p.reason) {
    case Cause::FileTooShort:
      return a.size() < 2 ? QString() : QStringLiteral("the file has %1 bytes, at least %2").arg(a.at(0), a.at(1));
    case Cause::FileEndsEarly:
      return a.size() < 2 ? QString() : QStringLiteral("the file ends before item %1 (%2)").arg(a.at(0), a.at(1));
    case Cause::MatrixLengthWrong:
      return a.size() < 4 ? QString()
                          : QStringLiteral("item %1 (%2) has the length %3 instead of %4").arg(a.at(0), a.at(1), a.at(2), a.at(3));
    case Cause::ItemPastEnd:
      return a.size() < 2 ? QString() : QStringLiteral("item %1 (%2) reaches past the end of the file").arg(a.at(0), a.at(1));
    case Cause::BytesLeftOver:
      return a.isEmpty() ? QString() : QStringLiteral("%1 bytes left over at the end of the file").arg(a.at(0));
    case Cause::NotANumber:
      return a.isEmpty() ? QString() : QStringLiteral("the field %1 holds no number").arg(a.at(0));
    case Cause::OtherUsersLink:
      return a.isEmpty() ? QString()
                         : QStringLiteral("a symbolic link of another user in %1, a folder everyone may write to; the file was not saved")
                               .arg(a.at(0));
    default: return {};
  }
}
}  // namespace

QString englishReason(const Problem& p) {
  QStringList parts;
  if (p.reason != Cause::None) {
    QString reason = englishText(p.reason);
    if (p.reason == Cause::PortFailed && !p.args.isEmpty()) reason += QStringLiteral(" ") + p.args.first();
    if (p.reason == Cause::FileTooLarge) reason = QStringLiteral("larger than %1 bytes").arg(p.args.value(0));
    if (const QString said = englishReasonWithArgs(p); !said.isEmpty()) reason = said;
    parts << (p.subject.isEmpty() ? reason : p.subject + QStringLiteral(": ") + reason);
  }
  switch (p.reason) {
    case Cause::PortPermissionDenied: {
      const QString group = p.args.value(0);
      QStringList who;
      if (!p.args.value(1).isEmpty()) who << QStringLiteral("user ") + p.args.value(1);
      if (!p.args.value(2).isEmpty()) who << QStringLiteral("group ") + p.args.value(2);
      if (!group.isEmpty())
        parts << QStringLiteral("add the user to group %1 (sudo usermod -a -G %1 $USER) and log in again").arg(group);
      else if (!who.isEmpty())
        parts << QStringLiteral("only %1 may open it; ask the administrator for access").arg(who.join(QStringLiteral(" and ")));
      else
        parts << QStringLiteral("nobody may write to it; ask the administrator for access");
      break;
    }
    case Cause::PortInUse: parts << QStringLiteral("close the program that uses it"); break;
    default: break;
  }
  switch (p.cause) {
    case Cause::NoAnswer: parts << QStringLiteral("check the port, the cable and the controller's power"); break;
    case Cause::UploadInterrupted:
      parts << QStringLiteral("%1 of %2 parameters acknowledged; upload again").arg(p.args.value(0), p.args.value(1));
      break;
    case Cause::NoisyLine:
      parts << QStringLiteral("%1: %2 reads, no two agree; check the cable and its connections, then read again")
                   .arg(p.subject, p.args.value(0));
      break;
    case Cause::TextTooLong:
      parts << QStringLiteral("%1: %2 characters, the controller takes at most %3")
                   .arg(formatOneName(p.subject), p.args.value(0), p.args.value(1));
      break;
    case Cause::FirmwareTooLarge:
      if (p.reason == Cause::None)
        parts << QStringLiteral("the file has %1 bytes, at most %2").arg(p.args.value(0), p.args.value(1));
      break;
    case Cause::FirmwareEmpty: parts << QStringLiteral("it holds only its mark and check byte"); break;
    case Cause::FlashFailed:
    case Cause::FlashPortFailed:
      parts << QStringLiteral("the controller waits in its bootloader: keep it powered and run the update again");
      break;
    default: break;
  }
  if (!p.detail.isEmpty()) parts << QString(p.detail).replace(QLatin1Char('\n'), QLatin1Char(' '));
  return parts.join(QStringLiteral("; "));
}

QString englishLine(const Problem& p) {
  const QString reason = englishReason(p);
  return reason.isEmpty() ? englishText(p.cause) : englishText(p.cause) + QStringLiteral(": ") + reason;
}

QString englishFileReason(const Problem& p) { return p.reason == Cause::None ? p.detail : englishReason(p); }

QString englishList(const Notices& notices) {
  QStringList parts;
  for (const Notice& n : notices) {
    const QString reason = englishReason(n.problem);
    parts << (reason.isEmpty() ? englishText(n.problem.cause)
                               : QStringLiteral("%1 (%2)").arg(englishText(n.problem.cause), reason));
  }
  return parts.join(QStringLiteral("; "));
}

}  // namespace dovu::cli
