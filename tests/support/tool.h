#pragma once
// Runs one of the built programs (dovu-cli, dovu-sim) to its end and collects what it printed.
#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace dovu::test {

struct ToolResult {
  int code = -1;  // -1: crashed or did not end in time
  QString out;
  QString err;
};

// env entries are added to the test's own environment; input goes to standard input.
ToolResult runTool(const QString& program, const QStringList& args, const QProcessEnvironment& env = {},
                   const QByteArray& input = {}, int timeoutMs = 60000);
inline ToolResult runCli(const QStringList& args, const QProcessEnvironment& env = {}, const QByteArray& input = {}) {
  return runTool(QStringLiteral(DOVU_CLI_PATH), args, env, input);
}

}  // namespace dovu::test
