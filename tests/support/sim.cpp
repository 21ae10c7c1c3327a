#include "support/sim.h"

#include <QFile>
#include <QProcessEnvironment>
#include <QTextStream>
#include <algorithm>

#include "support/testapp.h"
#include "wording.h"

namespace dovu::test {

int RecordingNotifier::count(const QString& text) const {
  int n = 0;
  for (const Recorded& r : events)
    if (!r.beep && r.text == text) ++n;
  return n;
}

void RecordingNotifier::report(MessageKind kind, const Problem& problem) {
  if (whenShown) whenShown();
  events.push_back({false, kind, cli::englishText(problem.cause), cli::englishReason(problem), problem});
}

int RecordingNotifier::count(Cause cause) const {
  int n = 0;
  for (const Recorded& r : events)
    if (!r.beep && r.problem.cause == cause) ++n;
  return n;
}

int RecordingNotifier::beeps() const {
  int n = 0;
  for (const Recorded& r : events) n += r.beep;
  return n;
}

QStringList RecordingNotifier::texts() const {
  QStringList out;
  for (const Recorded& r : events)
    if (!r.beep) out << r.text;
  return out;
}

SimProcess::SimProcess(QStringList extraArgs) {
  app();
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert(QStringLiteral("DOVU_SIM_DIR"), dir_.filePath(QStringLiteral("advert")));
  proc_.setProcessEnvironment(env);
  proc_.setProcessChannelMode(QProcess::ForwardedErrorChannel);
  QStringList args{QStringLiteral("--log"), logPath(), QStringLiteral("--dump"), dumpPath(),
                   QStringLiteral("--image-out"), imagePath()};
  args += extraArgs;
  proc_.start(QStringLiteral(DOVU_SIM_PATH), args);
  if (!proc_.waitForStarted(5000)) return;
  // The first line is "PORT <path>".
  waitFor([this] { return proc_.canReadLine() || proc_.state() != QProcess::Running; }, 5000);
  const QString line = QString::fromUtf8(proc_.readLine()).trimmed();
  if (line.startsWith(QLatin1String("PORT "))) port_ = line.mid(5);
}

SimProcess::~SimProcess() { stop(); }

void SimProcess::stop() {
  if (proc_.state() == QProcess::NotRunning) return;
  proc_.terminate();
  if (!proc_.waitForFinished(3000)) {
    proc_.kill();
    proc_.waitForFinished(3000);
  }
}

namespace {
Bytes parseHex(const QString& s) {
  Bytes b;
  for (const QString& h : s.split(QLatin1Char(' '), Qt::SkipEmptyParts)) b.push_back(static_cast<char>(h.toUInt(nullptr, 16)));
  return b;
}
}  // namespace

std::vector<LoggedFrame> SimProcess::frames() const {
  std::vector<LoggedFrame> out;
  QFile f(logPath());
  if (!f.open(QIODevice::ReadOnly)) return out;
  // "<ms> > 54 02 01 57 AE" (PC to controller) or "<ms> < 74 ..." (controller to PC); anything
  // after the hex bytes is ignored.
  while (!f.atEnd()) {
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    const QStringList parts = line.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    if (parts.size() < 3) continue;
    const QString dir = parts.at(1);
    if (dir != QLatin1String(">") && dir != QLatin1String("<")) continue;
    LoggedFrame fr;
    fr.fromPc = dir == QLatin1String(">");
    for (int i = 2; i < parts.size(); ++i) {
      bool ok = false;
      const uint v = parts.at(i).toUInt(&ok, 16);
      if (!ok || parts.at(i).size() != 2) break;
      fr.bytes.push_back(static_cast<char>(v));
    }
    // Whatever follows the frame on the line (a decimal code, say) is not part of it.
    if (fr.bytes.size() >= 3) fr.bytes.resize(std::min<std::size_t>(fr.bytes.size(), static_cast<unsigned char>(fr.bytes[2]) + 4u));
    out.push_back(fr);
  }
  return out;
}

std::vector<LoggedFrame> SimProcess::framesFromPc() const {
  std::vector<LoggedFrame> out;
  for (const LoggedFrame& f : frames())
    if (f.fromPc) out.push_back(f);
  return out;
}

std::vector<std::pair<int, Bytes>> SimProcess::dump() const {
  std::vector<std::pair<int, Bytes>> out;
  QFile f(dumpPath());
  if (!f.open(QIODevice::ReadOnly)) return out;
  while (!f.atEnd()) {
    const QString line = QString::fromUtf8(f.readLine()).trimmed();
    const int sp = line.indexOf(QLatin1Char(' '));
    if (line.isEmpty()) continue;
    const int code = (sp < 0 ? line : line.left(sp)).toInt();
    out.emplace_back(code, sp < 0 ? Bytes() : parseHex(line.mid(sp + 1)));
  }
  return out;
}

Bytes SimProcess::dumped(int readCode) const {
  for (const auto& [code, bytes] : dump())
    if (code == readCode) return bytes;
  return {};
}

}  // namespace dovu::test
