// flash: replaces the controller's firmware from a .dvf file through its bootloader, with the same
// file check and transfer as the window's firmware dialog.
#include <QEventLoop>
#include <cstdio>

#include "cli.h"
#include "configfiles.h"
#include "firmware/bootloader.h"
#include "storage/checkedfile.h"

namespace dovu::cli {

int cmdFlash(const QStringList& args) {
  Command cmd("flash", "Replace the controller's firmware from a .dvf file through its bootloader.", "FILE.dvf");
  cmd.addPortOption();
  cmd.addTraceOption();
  cmd.parser.addPositionalArgument(QStringLiteral("FILE.dvf"), QStringLiteral("the firmware file"));
  if (const auto exit = cmd.parse(args, 1, 1)) return *exit;
  const QString port = cmd.port();
  // The file is checked before the port is touched.
  StderrNotifier notifier;
  QString why;
  bool tooLarge = false;
  const auto data = readWholeFile(cmd.positional().first(), &why, &tooLarge);
  if (!data) {
    notifier.message(MessageKind::Error, QString::fromUtf8(tooLarge ? kFirmwareTooLargeText : kCannotReadText), why);
    return kFailure;
  }
  // The file's checks as one line that names the firmware file (the window's check-byte message
  // speaks of a configuration file).
  QStringList problems;
  struct : Notifier {
    void beep() override {}
    void message(MessageKind, const QString& text, const QString& detail) override {
      const QString t = text == QString::fromUtf8(kBadCrcText) ? QStringLiteral("Błąd CRC pliku firmware") : text;
      (*lines) << (detail.isEmpty() ? t : QStringLiteral("%1 (%2)").arg(t, detail));
    }
    QStringList* lines = nullptr;
  } collect;
  collect.lines = &problems;
  const auto file = checkFirmwareFile(*data, collect);
  if (!file) {
    err(QStringLiteral("%1: %2").arg(displayName(cmd.positional().first()), problems.join(QStringLiteral("; "))));
    return kFailure;
  }
  if (!checkPortExists(port)) return kFailure;

  SerialPort com;
  com.setPort(port);
  com.setBaudRate(kLineBitsPerSecond);
  try {
    com.open();
  } catch (const SerialPortError& e) {
    err(QStringLiteral("%1: %2").arg(port, Session::portErrorDetail(e, port)));
    return kFailure;
  }
  com.setDtrLine(true);
  com.setRtsLine(true);
  Link link(&com, &notifier);

  FirmwareUpdate update(link, notifier);
  Progress bar("flash", 100);
  update.onProgress = [&bar](int v) { bar.show(v); };
  // The transfer runs on the event loop; the command has nothing else to do until it ends.
  QEventLoop loop;
  auto result = FirmwareUpdate::Result::Busy;
  update.onFinished = [&](FirmwareUpdate::Result r) {
    result = r;
    loop.quit();
  };
  if (update.start(*file) && update.running()) loop.exec();
  bar.finish();
  // A write returns once the driver has sent its bytes (within the write's time-out), so the
  // final "K" is on the line and closing at once loses nothing.
  com.close();
  return result == FirmwareUpdate::Result::Done ? kOk : kFailure;
}

}  // namespace dovu::cli
