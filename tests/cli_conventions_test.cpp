// The command-line conventions of dovu-cli and dovu-sim: help, version and usage errors, the
// password from the environment or standard input, the JSON status, the frame trace and the exit
// status of a failed step.
#include <gtest/gtest.h>

#include <QDir>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <csignal>
#include <termios.h>

#include "model/configuration.h"
#include "storage/checkedfile.h"
#include "storage/configfile.h"
#include "support/pty.h"
#include "support/sim.h"
#include "support/testapp.h"
#include "support/tool.h"

namespace dovu::test {
namespace {

QProcessEnvironment envWith(const QString& name, const QString& value) {
  QProcessEnvironment env;
  env.insert(name, value);
  return env;
}

TEST(CliConventions, HelpVersionAndUsageErrorsOfBothTools) {
  for (const QString& tool : {QStringLiteral(DOVU_CLI_PATH), QStringLiteral(DOVU_SIM_PATH)}) {
    const QString name = tool.section(QLatin1Char('/'), -1);
    ToolResult r = runTool(tool, {QStringLiteral("--help")});
    EXPECT_EQ(r.code, 0) << name.toStdString();
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: ") + name)) << r.out.toStdString();
    EXPECT_TRUE(r.err.isEmpty()) << r.err.toStdString();

    r = runTool(tool, {QStringLiteral("--version")});
    EXPECT_EQ(r.code, 0) << name.toStdString();
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^%1 \\d+\\.\\d+\\n$").arg(name)).match(r.out).hasMatch())
        << r.out.toStdString();

    r = runTool(tool, {QStringLiteral("--frobnicate")});
    EXPECT_EQ(r.code, 2) << name.toStdString();
    EXPECT_TRUE(r.out.isEmpty());
    EXPECT_TRUE(r.err.contains(QStringLiteral("frobnicate"))) << r.err.toStdString();
  }

  // Every command has its own help, naming itself; a bad option or value is a usage error.
  for (const char* command : {"ports", "status", "download", "upload", "show", "convert", "diff", "backups", "flash"}) {
    const ToolResult r = runCli({QLatin1String(command), QStringLiteral("--help")});
    EXPECT_EQ(r.code, 0) << command;
    EXPECT_TRUE(r.out.startsWith(QStringLiteral("Usage: dovu-cli ") + QLatin1String(command))) << r.out.toStdString();
  }
  EXPECT_EQ(runCli({QStringLiteral("status"), QStringLiteral("--port=ttyS0"), QStringLiteral("--frobnicate")}).code, 2);
  EXPECT_EQ(runCli({QStringLiteral("frobnicate")}).code, 2);
  EXPECT_EQ(runTool(QStringLiteral(DOVU_SIM_PATH), {QStringLiteral("--delay=soon")}).code, 2);

  // "--" ends the options: a file whose name starts with a dash is still a file.
  QTemporaryDir dir;
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  QString why;
  ASSERT_TRUE(saveFileAtomically(QStringLiteral("-a.dvc"), *buildConfigFile(defaultConfiguration(), &why), &why));
  const ToolResult show = runCli({QStringLiteral("show"), QStringLiteral("--"), QStringLiteral("-a.dvc")});
  QDir::setCurrent(previous);
  EXPECT_EQ(show.code, 0) << show.err.toStdString();
  EXPECT_TRUE(show.out.contains(QStringLiteral("Edit_haslo"))) << show.out.toStdString();
}

TEST(CliConventions, PasswordFromEnvironmentOrStdinIsCheckedBeforeSending) {
  SimProcess sim({QStringLiteral("--password"), QStringLiteral("4321")});
  ASSERT_TRUE(sim.started());
  const QStringList status{QStringLiteral("status"), QStringLiteral("--port"), sim.port()};

  // Malformed passwords never reach the line, whichever way they come.
  EXPECT_EQ(runCli(status, envWith(QStringLiteral("DOVU_PASSWORD"), QStringLiteral("43a1"))).code, 2);
  EXPECT_EQ(runCli(status + QStringList{QStringLiteral("--password"), QStringLiteral("43210")}).code, 2);
  EXPECT_EQ(runCli(status + QStringList{QStringLiteral("--password-stdin")}, {}, "431\n").code, 2);
  // An endless standard input is read only as far as a password could go.
  EXPECT_EQ(runTool(QStringLiteral("/bin/sh"),
                    {QStringLiteral("-c"), QStringLiteral("exec '" DOVU_CLI_PATH
                                                          "' status --port '%1' --password-stdin </dev/zero")
                                               .arg(sim.port())},
                    {}, {}, 20000)
                .code,
            2);
  EXPECT_TRUE(sim.framesFromPc().empty());

  ToolResult r = runCli(status, envWith(QStringLiteral("DOVU_PASSWORD"), QStringLiteral("4321")));
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  r = runCli(status + QStringList{QStringLiteral("--password-stdin")}, {}, "4321\n");
  EXPECT_EQ(r.code, 0) << r.err.toStdString();
  // The option wins over the environment.
  r = runCli(status + QStringList{QStringLiteral("--password=1111")},
             envWith(QStringLiteral("DOVU_PASSWORD"), QStringLiteral("4321")));
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.err.contains(QStringLiteral("wrong password"))) << r.err.toStdString();
}

bool echoes(int master) {
  termios t{};
  return ::tcgetattr(master, &t) == 0 && (t.c_lflag & ECHO);
}

// A password typed at a terminal is not shown, and the terminal echoes again afterwards: after
// the line, and after Ctrl+C at the prompt.
TEST(CliConventions, PasswordFromATerminalIsNotEchoed) {
  app();
  for (const bool interrupt : {false, true}) {
    SCOPED_TRACE(interrupt ? "SIGINT at the prompt" : "a typed line");
    Pty pty;
    ASSERT_TRUE(pty.ok());
    ASSERT_TRUE(echoes(pty.master()));
    QProcess cli;
    cli.setStandardInputFile(pty.slavePath());
    cli.start(QStringLiteral(DOVU_CLI_PATH), {QStringLiteral("status"), QStringLiteral("--port"),
                                              QStringLiteral("/nonexistent/ttyX"), QStringLiteral("--password-stdin")});
    ASSERT_TRUE(cli.waitForStarted(5000));
    ASSERT_TRUE(waitFor([&] { return !echoes(pty.master()); }, 10000));
    if (interrupt) {
      ::kill(static_cast<pid_t>(cli.processId()), SIGINT);
    } else {
      ASSERT_TRUE(pty.write("4321\n"));
      // Only the line's end comes back, not the digits.
      const std::string echoed = pty.read(2, 2000);
      EXPECT_EQ(echoed.find("4321"), std::string::npos) << echoed;
    }
    ASSERT_TRUE(cli.waitForFinished(10000));
    EXPECT_TRUE(echoes(pty.master()));
    if (interrupt) {
      EXPECT_EQ(cli.exitStatus(), QProcess::CrashExit);
    } else {
      EXPECT_EQ(cli.exitCode(), 1);
      EXPECT_TRUE(cli.readAllStandardError().contains("access password: "));
    }
  }
}

TEST(CliConventions, StatusAsJsonAndAFailedLogoutFails) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  // The frame trace is a logging category, which the environment turns on as well as --trace.
  ToolResult r = runCli({QStringLiteral("status"), QStringLiteral("--port"), sim.port(), QStringLiteral("--json"),
                         QStringLiteral("--once")},
                        envWith(QStringLiteral("QT_LOGGING_RULES"), QStringLiteral("dovu.link=true")));
  ASSERT_EQ(r.code, 0) << r.err.toStdString();
  EXPECT_TRUE(r.err.contains(QStringLiteral("-> code 253: 54 FD 01 47"))) << r.err.toStdString();
  EXPECT_FALSE(r.err.contains(QStringLiteral("38 36 31 37"))) << "the password stays out of the trace";
  ASSERT_EQ(r.out.count(QLatin1Char('\n')), 1) << r.out.toStdString();
  const QJsonObject o = QJsonDocument::fromJson(r.out.toUtf8()).object();
  EXPECT_EQ(o.value(QStringLiteral("input")).toArray().size(), 5);
  EXPECT_TRUE(o.value(QStringLiteral("text")).toObject().contains(QStringLiteral("GSM modem")));

  // Without --once: one object a poll until SIGTERM, which still logs out.
  app();
  QProcess stream;
  stream.start(QStringLiteral(DOVU_CLI_PATH), {QStringLiteral("status"), QStringLiteral("--port"), sim.port(),
                                               QStringLiteral("--json")});
  QByteArray lines;
  ASSERT_TRUE(waitFor(
      [&] {
        lines += stream.readAllStandardOutput();
        return lines.count('\n') >= 2;
      },
      10000));
  stream.terminate();
  ASSERT_TRUE(stream.waitForFinished(5000));
  EXPECT_EQ(stream.exitStatus(), QProcess::NormalExit);
  EXPECT_EQ(stream.exitCode(), 0);
  const auto frames = sim.framesFromPc();
  ASSERT_FALSE(frames.empty());
  EXPECT_EQ(frames.back().code(), 2);

  // The poll went well but the logout went unanswered: the command failed.
  SimProcess noLogout({QStringLiteral("--drop-code"), QStringLiteral("2")});
  ASSERT_TRUE(noLogout.started());
  r = runCli({QStringLiteral("status"), QStringLiteral("--port"), noLogout.port()});
  EXPECT_EQ(r.code, 1);
  EXPECT_TRUE(r.out.contains(QStringLiteral("GSM modem")));
  EXPECT_TRUE(r.err.contains(QStringLiteral("logout"))) << r.err.toStdString();
}

// Standard output that does not arrive (a full disk) fails every command that prints, with the
// reason; "report -o -" writes the sheet there instead of a file named "-"; an option that takes
// one value is refused when it is given twice.
TEST(CliConventions, OutputThatDoesNotArriveFailsTheCommand) {
  SimProcess sim;
  ASSERT_TRUE(sim.started());
  QTemporaryDir dir;
  QString why;
  const QString dvc = dir.filePath(QStringLiteral("a.dvc")), other = dir.filePath(QStringLiteral("b.dvc"));
  Configuration config = defaultConfiguration();
  ASSERT_TRUE(saveFileAtomically(dvc, *buildConfigFile(config, &why), &why));
  config.telephones[0] = QStringLiteral("+48123");
  ASSERT_TRUE(saveFileAtomically(other, *buildConfigFile(config, &why), &why));
  ASSERT_EQ(runCli({QStringLiteral("upload"), QStringLiteral("--port"), sim.port(), dvc}).code, 0);

  // In the test's folder: a report that took "-" for a file name leaves it there.
  const QString previous = QDir::currentPath();
  ASSERT_TRUE(QDir::setCurrent(dir.path()));
  const QStringList status{QStringLiteral("status"), QStringLiteral("--port"), sim.port()};
  const QList<QStringList> commands{
      {QStringLiteral("show"), dvc},
      {QStringLiteral("show"), QStringLiteral("--json"), dvc},
      {QStringLiteral("backups"), QStringLiteral("list")},
      {QStringLiteral("backups"), QStringLiteral("show"), QStringLiteral("1")},
      {QStringLiteral("ports")},
      {QStringLiteral("diff"), dvc, other},
      {QStringLiteral("report"), dvc, QStringLiteral("-o"), QStringLiteral("-")},
      status,
      status + QStringList{QStringLiteral("--json"), QStringLiteral("--once")},
      status + QStringList{QStringLiteral("--csv"), QStringLiteral("--once")},
      status + QStringList{QStringLiteral("--json")},
  };
  for (const QStringList& args : commands) {
    const ToolResult r = runTool(QStringLiteral("/bin/sh"),
                                 QStringList{QStringLiteral("-c"), QStringLiteral("exec \"$0\" \"$@\" >/dev/full"),
                                             QStringLiteral(DOVU_CLI_PATH)} + args,
                                 envWith(QStringLiteral("DOVU_SIM_DIR"), sim.dir() + QStringLiteral("/advert")), {},
                                 30000);
    // diff says trouble (2), not "the sides differ" (1).
    EXPECT_EQ(r.code, args.first() == QLatin1String("diff") ? 2 : 1) << args.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("standard output: No space left on device"))) << r.err.toStdString();
  }
  // The controller was left logged out.
  EXPECT_EQ(sim.framesFromPc().back().code(), 2);

  const ToolResult pdf = runCli({QStringLiteral("report"), dvc, QStringLiteral("-o"), QStringLiteral("-")});
  const bool dashFile = QFile::exists(QStringLiteral("-"));
  QDir::setCurrent(previous);
  EXPECT_EQ(pdf.code, 0) << pdf.err.toStdString();
  EXPECT_TRUE(pdf.out.startsWith(QStringLiteral("%PDF"))) << pdf.out.left(20).toStdString();
  EXPECT_FALSE(dashFile);

  for (const QStringList& twice : {QStringList{QStringLiteral("--port=/dev/null")},
                                   QStringList{QStringLiteral("--password"), QStringLiteral("1111"),
                                               QStringLiteral("--password=8617")}}) {
    const ToolResult r = runCli(status + twice);
    EXPECT_EQ(r.code, 2) << twice.join(' ').toStdString();
    EXPECT_TRUE(r.err.contains(QStringLiteral("given more than once"))) << r.err.toStdString();
  }
}

}  // namespace
}  // namespace dovu::test
