// lumenfold-cli: project tasks without the desktop program. Each command is its own source file
// (cmd_<name>.cpp) that registers itself in the command table (clicommand.h).
#include "cli/clicommand.h"
#include "cli/cliprompt.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>

namespace {

void printUsage(std::FILE* out) {
  std::fprintf(out, "usage: lumenfold-cli [--yes] COMMAND [ARGUMENTS...]\n\ncommands:\n");
  for (const TCliCommand& c : CliCommands())
    std::fprintf(out, "  %s\n      %s\n", c.usage.toLocal8Bit().constData(),
                 c.summary.toLocal8Bit().constData());
  std::fprintf(out, "\noptions:\n"
                    "  --yes   answer yes to questions when standard input is not a terminal\n"
                    "  --help  show this text (also: lumenfold-cli help COMMAND)\n"
                    "\nexit status: 0 success, 1 failure, 2 wrong command line\n");
}

QtMessageHandler qtHandler = nullptr;

// Qt's own diagnostics keep their usual form, except the note that the per-user runtime folder is
// not set: the offscreen platform never uses it, and every failing command would show it above
// its one-line error.
void filterQtMessages(QtMsgType type, const QMessageLogContext& context, const QString& text) {
  if (type == QtWarningMsg && text.startsWith(QLatin1String("QStandardPaths: XDG_RUNTIME_DIR")))
    return;
  if (qtHandler) qtHandler(type, context, text);
}

void printError(const QString& message) {
  std::fprintf(stderr, "lumenfold-cli: %s\n", OneLine(message).toLocal8Bit().constData());
}

} // namespace

int main(int argc, char** argv) {
  // Signature captions are drawn with fonts, which need a GUI application; the program never
  // opens a window, so it needs no display either.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  qtHandler = qInstallMessageHandler(filterQtMessages);
  QGuiApplication app(argc, argv);
  QCoreApplication::setApplicationName(QStringLiteral("lumenfold-cli"));
  CliPrompt prompt;
  prompt.setCapture(true);

  QStringList args = QCoreApplication::arguments().mid(1);
  if (!args.isEmpty() && args.first() == QLatin1String("--yes")) {
    prompt.setDefaultAnswer(true);
    args.removeFirst();
  }
  if (args.isEmpty()) {
    printUsage(stderr);
    return kExitUsage;
  }
  const QString name = args.takeFirst();
  if (name == QLatin1String("--help") || name == QLatin1String("-h") ||
      name == QLatin1String("help")) {
    if (!args.isEmpty()) {
      if (const TCliCommand* c = FindCliCommand(args.first())) {
        std::printf("usage: lumenfold-cli %s\n%s\n", c->usage.toLocal8Bit().constData(),
                    c->summary.toLocal8Bit().constData());
        return kExitOk;
      }
    }
    printUsage(stdout);
    return kExitOk;
  }
  const TCliCommand* command = FindCliCommand(name);
  if (!command) {
    printError(QStringLiteral("unknown command \"%1\" (try --help)").arg(name));
    return kExitUsage;
  }
  if (args.contains(QLatin1String("--help"))) {
    std::printf("usage: lumenfold-cli %s\n%s\n", command->usage.toLocal8Bit().constData(),
                command->summary.toLocal8Bit().constData());
    return kExitOk;
  }

  int status = kExitFailure;
  try {
    status = command->run(args);
  } catch (const TCliError& e) {
    printError(e.message());
    status = e.status();
  } catch (const std::exception& e) {
    printError(QString::fromLocal8Bit(e.what()));
    status = kExitFailure;
  }
  // Errors the model reported that no command message took up are shown now; they make the
  // command fail even when it would have reported success.
  const QStringList left = prompt.takeErrors();
  for (const QString& e : left)
    printError(QStringLiteral("error: ") + e);
  if (!left.isEmpty() && status == kExitOk) status = kExitFailure;
  std::fflush(stdout);
  return status;
}
