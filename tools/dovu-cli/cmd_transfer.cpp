// download / upload: the whole configuration between the controller and a file, over the same
// parameter table, dispatcher and transfer as the window.
#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
#include <cstdio>
#include <unistd.h>

#include "cli.h"
#include "configfiles.h"
#include "exchange/dispatcher.h"
#include "exchange/transfer.h"
#include "model/params.h"
#include "storage/configjson.h"

namespace dovu::cli {

namespace {

// The configuration file formats, chosen by extension (.json, .dvc): configfiles.h.  Both leave
// the form untouched and say why when they fail.
bool readConfigFile(const QString& path, Form& form, QString* error) { return readConfigAny(path, form, error); }

bool writeConfigFile(const QString& path, const Form& form, QString* error) {
  return writeConfigAny(path, form, error);
}

bool supportedForWrite(const QString& path) { return configFormatOf(path) != ConfigFormat::Unknown; }

// "download: 36%" or "upload: 12/51" on stderr: rewritten in place on a terminal, else written
// once at the end, so that a log gets one line rather than fifty.
class ProgressLine {
 public:
  ProgressLine(const char* label, int total) : label_(label), total_(total), tty_(isatty(fileno(stderr))) {}
  ~ProgressLine() { finish(); }
  void show(int value) {
    value_ = value;
    shown_ = true;
    if (tty_) print('\r');
  }
  void finish() {
    if (!shown_) return;
    print(tty_ ? '\r' : '\0');
    std::fputc('\n', stderr);
    shown_ = false;
  }

 private:
  void print(char lead) {
    if (lead) std::fputc(lead, stderr);
    if (total_ == 100) std::fprintf(stderr, "%s: %d%%", label_, value_);
    else std::fprintf(stderr, "%s: %d/%d", label_, value_, total_);
    std::fflush(stderr);
  }
  const char* label_;
  int total_;
  bool tty_;
  int value_ = 0;
  bool shown_ = false;
};

struct Common {
  QString port;
  std::optional<QString> password;
  bool trace = false;
};

std::optional<Common> commonOptions(Args& a, const char* command) {
  Common c;
  const auto port = a.option(QStringLiteral("--port"));
  c.password = a.option(QStringLiteral("--password"));
  c.trace = a.flag(QStringLiteral("--trace"));
  if (!port) {
    err(QStringLiteral("%1 needs --port P").arg(QLatin1String(command)));
    return std::nullopt;
  }
  c.port = *port;
  return c;
}

}  // namespace

int cmdDownload(Args& a) {
  const auto common = commonOptions(a, "download");
  const auto out = a.option(QStringLiteral("-o"));
  if (!common) return kUsage;
  if (!out || !a.rest().isEmpty() || a.unknownOption()) {
    err(QStringLiteral("usage: download --port P [--password N] -o FILE.json|FILE.dvc"));
    return kUsage;
  }
  if (!supportedForWrite(*out)) {
    err(unsupportedFormat(*out));
    return kUsage;
  }

  Controller c(common->port, common->password.value_or(QStringLiteral("8617")), common->trace);
  Dispatcher dispatcher(c.form);
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;

  ConfigTransfer transfer(c.form, *c.link, *c.session);
  ProgressLine line("download", 100);
  QObject::connect(&transfer, &ConfigTransfer::progress, [&line](int v) { line.show(v); });
  const bool ok = transfer.download();
  line.finish();
  if (!ok) {
    // The wait has said so, except for the threshold block, which fails without a message.
    err(QStringLiteral("download stopped at the bar value %1: no answer from the controller")
            .arg(c.form.state("Bar").value));
    return kFailure;
  }
  c.session->liveOff();  // the tool does not poll
  c.logout();
  QString why;
  if (!writeConfigFile(*out, c.form, &why)) {
    err(why);
    return kFailure;
  }
  return kOk;
}

int cmdUpload(Args& a) {
  const auto common = commonOptions(a, "upload");
  if (!common) return kUsage;
  if (a.rest().size() != 1 || a.unknownOption()) {
    err(QStringLiteral("usage: upload --port P [--password N] FILE.json|FILE.dvc"));
    return kUsage;
  }
  const QString file = a.rest().first();

  Controller c(common->port, QStringLiteral("8617"), common->trace);
  // The file is checked before the port is touched.
  QString why;
  if (!readConfigFile(file, c.form, &why)) {
    err(why);
    return kFailure;
  }
  if (const auto tooLong = textTooLong(c.form)) {
    err(QStringLiteral("%1: %2").arg(file, *tooLong));
    return kFailure;
  }
  // The login uses --password when given, else the password the file holds.
  if (common->password) c.form.setText("Edit_haslo", *common->password);

  Dispatcher dispatcher(c.form);
  dispatcher.attach(*c.link);
  if (!c.login()) return kFailure;

  ConfigTransfer transfer(c.form, *c.link, *c.session);
  ProgressLine line("upload", static_cast<int>(paramTable().size()));
  QObject::connect(&transfer, &ConfigTransfer::progress, [&line](int v) { line.show(v); });
  const bool ok = transfer.upload();
  line.finish();
  if (!ok) {
    err(QStringLiteral("upload stopped after %1 of %2 parameters").arg(c.form.state("Bar").value).arg(paramTable().size()));
    return kFailure;
  }
  c.session->liveOff();
  c.logout();
  return kOk;
}

}  // namespace dovu::cli
