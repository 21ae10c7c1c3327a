// flash: replaces the controller's firmware from a .dvf file through its bootloader, with the same
// file check and transfer as the window's firmware dialog.
#include <QEventLoop>
#include <csignal>
#include <cstdio>

#include "cli.h"
#include "configfiles.h"
#include "firmware/bootloader.h"
#include "storage/checkedfile.h"
#include "wording.h"

namespace dovu::cli {

int cmdFlash(const QStringList& args) {
  Command cmd("flash",
              "Replace the controller's firmware from a .dvf file through its bootloader.  Before it, what the\n"
              "controller holds is kept in the backup history (a login with the password given, see\n"
              "'dovu-cli backups'); a controller left in its bootloader needs --no-backup.",
              "FILE.dvf");
  cmd.addLinkOptions();
  cmd.addBackupOption();
  cmd.parser.addPositionalArgument(QStringLiteral("FILE.dvf"), QStringLiteral("the firmware file"));
  if (const auto exit = cmd.parse(args, 1, 1)) return *exit;
  const QString port = cmd.port();
  // The file is checked before the port is touched.
  StderrNotifier notifier;
  QString why;
  bool tooLarge = false;
  const auto data = readWholeFile(cmd.positional().first(), &why, &tooLarge);
  if (!data) {
    notifier.report(MessageKind::Error,
                    tooLarge ? Problem{Cause::FirmwareTooLarge, Cause::FileTooLarge, displayName(cmd.positional().first()),
                                       {QString::number(kFileBufferSize)}, {}}
                             : Problem{Cause::CannotRead, Cause::None, {}, {}, why});
    return kFailure;
  }
  // The file's checks as one line.
  Notices problems;
  const auto file = checkFirmwareFile(*data, &problems);
  if (!file) {
    err(QStringLiteral("%1: %2").arg(displayName(cmd.positional().first()), englishList(problems)));
    return kFailure;
  }
  if (!checkPortExists(port)) return kFailure;
  StopSignals stop;
  const auto blocks = static_cast<int>((data->size() + kFirmwareBlockSize - 1) / kFirmwareBlockSize);
  stop.limitWork(workBoundMs(cmd.backupSkipped() ? 0 : downloadRequests(), blocks));
  if (!cmd.backupSkipped()) {
    const QString password = cmd.password().value_or(QLatin1String(kDefaultPassword));
    if (!checkPassword(password)) return kUsage;
    BackupStore store;
    try {
      if (!backupBeforeWrite(port, password, BackupReason::BeforeFirmware, "flash", stop, store))
        return stop.signal() ? StopSignals::exitCode(stop.signal()) : kFailure;
    } catch (const SerialPortError& e) {
      // The port went away while the backup read the controller: nothing was written.
      err(englishLine(Session::portProblem(e, port)) +
          QStringLiteral("; flash not started: nothing was sent, the controller still runs its firmware"));
      return kFailure;
    }
  }

  SerialPort com;
  com.setPort(port);
  com.setBaudRate(kLineBitsPerSecond);
  try {
    com.open();
  } catch (const SerialPortError& e) {
    // The port went away after the backup (an adapter pulled out): nothing was sent yet.
    err(englishLine(Session::portProblem(e, port)) +
        QStringLiteral("; nothing was sent, the controller still runs its firmware"));
    return kFailure;
  }
  com.setDtrLine(true);
  com.setRtsLine(true);
  Link link(&com);
  QObject::connect(&link, &Link::notice, [&notifier](const Notice& n) { notifier.show(n); });

  FirmwareUpdate update(link);
  update.onNotice = [&notifier](const Notice& n) { notifier.show(n); };
  stop.onSignal = [&update] { update.stop(); };
  Progress bar("flash", 100);
  bool restarted = false;  // the controller was sent into its bootloader
  int reached = 0;
  update.onProgress = [&](int v) {
    restarted = true;
    reached = v;
    bar.show(v);
  };
  // The failure's own message is folded into the one line below.
  notifier.quietErrors = true;
  // A signal that came while the port opened ends the command before the controller is touched.
  // Otherwise the transfer runs on the event loop; the command has nothing else to do until it
  // ends.
  auto result = FirmwareUpdate::Result::Stopped;
  if (!stop.signal()) {
    QEventLoop loop;
    update.onFinished = [&](FirmwareUpdate::Result r) {
      result = r;
      loop.quit();
    };
    if (update.start(*file) && update.running()) loop.exec();
  }
  notifier.quietErrors = false;
  bar.finish();
  // The end frame's request ends only once the driver has sent its bytes, and closing lets them
  // leave the line before it resets it, so closing right after the final "K" loses nothing.
  com.close();
  if (result == FirmwareUpdate::Result::Done) return kOk;
  const int sig = stop.signal();
  const QString what = result == FirmwareUpdate::Result::Stopped
                           ? QStringLiteral("flash interrupted by %1").arg(StopSignals::name(sig))
                           : QStringLiteral("flash failed: %1").arg(notifier.lastDetail.isEmpty()
                                                                        ? notifier.lastText
                                                                        : notifier.lastText + QStringLiteral(": ") + notifier.lastDetail);
  if (!restarted)
    err(what + QStringLiteral(" before the controller was restarted: it still runs its firmware"));
  else
    err(what + QStringLiteral(" at %1 %: the controller stays in its bootloader; running the update again "
                              "(dovu-cli flash --no-backup: it answers no login) recovers it").arg(reached));
  return sig ? StopSignals::exitCode(sig) : kFailure;
}

}  // namespace dovu::cli
