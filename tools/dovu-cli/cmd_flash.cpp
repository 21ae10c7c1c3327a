// flash: replaces the controller's firmware from a .dvf file through its bootloader, with the same
// file check and transfer as the window's firmware dialog.
#include <cstdio>
#include <string>
#include <unistd.h>

#include "cli.h"
#include "firmware/bootloader.h"
#include "link/portlist.h"

namespace dovu::cli {

namespace {

// "[##########----------]  50%" on stderr: redrawn in place on a terminal; elsewhere one line per
// tenth, so a log stays short.
class ProgressBar {
 public:
  ProgressBar() : tty_(isatty(fileno(stderr))) {}
  ~ProgressBar() { finish(); }
  void show(int percent) {
    if (tty_) {
      draw('\r', percent);
      drawn_ = true;
      if (percent == 100) finish();  // the closing message gets a line of its own
    } else if (percent / 10 != last_ / 10 || percent == 100) {
      draw('\0', percent);
      std::fputc('\n', stderr);
    }
    last_ = percent;
  }
  void finish() {
    if (drawn_) std::fputc('\n', stderr);
    drawn_ = false;
  }

 private:
  void draw(char lead, int percent) {
    constexpr int kWidth = 40;
    const int filled = percent * kWidth / 100;
    if (lead) std::fputc(lead, stderr);
    std::fprintf(stderr, "flash: [%s%s] %3d%%", std::string(static_cast<std::size_t>(filled), '#').c_str(),
                 std::string(static_cast<std::size_t>(kWidth - filled), '-').c_str(), percent);
    std::fflush(stderr);
  }
  bool tty_;
  bool drawn_ = false;
  int last_ = -10;
};

}  // namespace

int cmdFlash(Args& a) {
  const auto port = a.option(QStringLiteral("--port"));
  const bool trace = a.flag(QStringLiteral("--trace"));
  if (!port || a.rest().size() != 1 || a.unknownOption()) {
    err(QStringLiteral("usage: flash --port P FILE.dvf"));
    return kUsage;
  }
  // The file is checked before the port is touched.
  StderrNotifier notifier;
  const auto file = readFirmwareFile(a.rest().first(), notifier);
  if (!file) return kFailure;
  if (!portExists(*port)) {
    err(QStringLiteral("no such port: %1 (see 'dovu-cli ports')").arg(*port));
    return kFailure;
  }

  SerialPort com;
  com.setPort(*port);
  com.setBaudRate(4800);
  try {
    com.open();
  } catch (const SerialPortError& e) {
    err(QStringLiteral("%1: %2").arg(*port, Session::portErrorDetail(e.systemError(), *port)));
    return kFailure;
  }
  com.setDtrLine(true);
  com.setRtsLine(true);
  Link link(&com, &notifier);
  if (trace) {
    link.trace = [](bool out, const Bytes& frame) {
      std::fprintf(stderr, "%s code %3u: %s\n", out ? "->" : "<-",
                   frame.size() > 1 ? static_cast<unsigned>(byteAt(frame, 1)) : 0u, toHex(frame).c_str());
    };
  }

  FirmwareUpdate update(link, notifier);
  ProgressBar bar;
  update.onProgress = [&bar](int v) { bar.show(v); };
  const auto result = update.run(*file);
  bar.finish();
  // A write returns once the driver has sent its bytes (within the write's time-out), so the
  // final "K" is on the line and closing at once loses nothing.
  com.close();
  return result == FirmwareUpdate::Result::Done ? kOk : kFailure;
}

}  // namespace dovu::cli
