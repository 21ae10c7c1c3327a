#include "support/tool.h"

#include <QProcess>

#include "support/testapp.h"

namespace dovu::test {

ToolResult runTool(const QString& program, const QStringList& args, const QProcessEnvironment& env,
                   const QByteArray& input, int timeoutMs) {
  app();
  QProcess p;
  QProcessEnvironment all = QProcessEnvironment::systemEnvironment();
  all.insert(env);
  p.setProcessEnvironment(all);
  p.start(program, args);
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  if (!p.waitForFinished(timeoutMs)) p.kill();
  p.waitForFinished(5000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1, QString::fromUtf8(p.readAllStandardOutput()),
          QString::fromUtf8(p.readAllStandardError())};
}

}  // namespace dovu::test
