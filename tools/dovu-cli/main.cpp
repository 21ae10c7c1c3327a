// dovu-cli: the DOVU controller from the command line, on the same core as the window.
#include <QCoreApplication>
#include <cstdio>
#include <cstring>

#include "cli.h"

namespace {

struct Command {
  const char* name;
  int (*run)(dovu::cli::Args&);
  const char* usage;
};

const Command kCommands[] = {
    {"ports", dovu::cli::cmdPorts, "ports                       list serial ports: port, tab, device name"},
    {"status", dovu::cli::cmdStatus, "status --port P [--password N]   log in, read the live status once, log out"},
    {"download", dovu::cli::cmdDownload, "download --port P [--password N] -o FILE.json|FILE.dvc   read the whole configuration"},
    {"upload", dovu::cli::cmdUpload, "upload --port P [--password N] FILE.json|FILE.dvc   write the whole configuration (password: --password, else the file's)"},
    {"show", dovu::cli::cmdShow, "show FILE.dvc [--json]      every field of a configuration file in words"},
    {"convert", dovu::cli::cmdConvert, "convert IN OUT              between .dvc and .json"},
    {"diff", dovu::cli::cmdDiff, "diff A B                    the fields that differ; A or B a file or port:/dev/ttyX"},
    {"flash", dovu::cli::cmdFlash, "flash --port P FILE.dvf     replace the controller's firmware"},
};

void usage() {
  std::fprintf(stderr, "usage: dovu-cli COMMAND [options] [--trace]\n\ncommands:\n");
  for (const Command& c : kCommands) std::fprintf(stderr, "  %s\n", c.usage);
  std::fprintf(stderr, "\n--trace prints every frame on stderr in hex with its direction and code.\n");
}

}  // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  QStringList args = app.arguments();
  args.removeFirst();
  if (args.isEmpty() || args.first() == QLatin1String("--help") || args.first() == QLatin1String("-h")) {
    usage();
    return args.isEmpty() ? dovu::cli::kUsage : dovu::cli::kOk;
  }
  const QString name = args.takeFirst();
  for (const Command& c : kCommands) {
    if (name == QLatin1String(c.name)) {
      dovu::cli::Args a(args);
      try {
        return c.run(a);
      } catch (const std::exception& e) {
        dovu::cli::err(QString::fromLocal8Bit(e.what()));
        return dovu::cli::kFailure;
      }
    }
  }
  dovu::cli::err(QStringLiteral("unknown command: %1").arg(name));
  usage();
  return dovu::cli::kUsage;
}
