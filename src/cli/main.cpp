// lumenfold-cli: project tasks without the desktop program. Each command is its own source file
// (cmd_<name>.cpp) that registers itself in the command table (clicommand.h).
#include "cli/clicommand.h"
#include "cli/cliprompt.h"
#include "db/sqlaccess.h"
#include "util/lumenfolderror.h"
#include "util/imaging/memorytuning.h"

#include <QCoreApplication>
#include <QGuiApplication>
#include <QStringList>
#include <cstdio>
#include <memory>

namespace {

void printUsage(std::FILE* out) {
  std::fprintf(out, "usage: lumenfold-cli [--yes] COMMAND [ARGUMENTS...]\n\ncommands:\n");
  for (const TCliCommand& c : CliCommands())
    std::fprintf(out, "  %s\n      %s\n", c.usage.toLocal8Bit().constData(),
                 c.summary.toLocal8Bit().constData());
  std::fprintf(out, "\noptions:\n"
                    "  --yes      answer yes to questions when standard input is not a terminal\n"
                    "  --help     show this text (also: lumenfold-cli help COMMAND)\n"
                    "  --version  show the version\n"
                    "\nexit status: 0 success, 1 failure, 2 wrong command line, 3 finished but\n"
                    "something was skipped (process: missing or damaged originals or signature\n"
                    "images, listed after \"Processing finished successfully.\"; rename:\n"
                    "pictures whose original is missing)\n");
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
  // opens a window, so it needs no display either. Starting and ending a GUI application costs
  // more than a small command, so the program starts without one; a command that draws captions
  // asks for it (kRunAgainWithFonts) before it has changed anything.
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  TuneHeapForPictures();
  qtHandler = qInstallMessageHandler(filterQtMessages);
  std::unique_ptr<QCoreApplication> app;
  std::unique_ptr<CliPrompt> prompt;
  // (Re)starts the application object and the prompt that collects the model's messages.
  auto start = [&](bool fonts) {
    prompt.reset();
    app.reset();
    if (fonts)
      app = std::make_unique<QGuiApplication>(argc, argv);
    else
      app = std::make_unique<QCoreApplication>(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("lumenfold-cli"));
    prompt = std::make_unique<CliPrompt>();
    prompt->setCapture(true);
  };
  start(false);

  QStringList args = QCoreApplication::arguments().mid(1);
  bool yes = false;
  if (!args.isEmpty() && args.first() == QLatin1String("--yes")) {
    yes = true;
    prompt->setDefaultAnswer(true);
    args.removeFirst();
  }
  if (args.isEmpty()) {
    printUsage(stderr);
    return kExitUsage;
  }
  const QString name = args.takeFirst();
  if (name == QLatin1String("--version")) {
    std::printf("lumenfold-cli %s%s\n", LUMENFOLD_VERSION,
                *LUMENFOLD_SPECIAL_BUILD ? " (" LUMENFOLD_SPECIAL_BUILD ")" : "");
    return kExitOk;
  }
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

  auto runCommand = [&] {
    try {
      return command->run(args);
    } catch (const TCliError& e) {
      printError(e.Text());
      return e.status();
    } catch (const std::exception& e) {
      printError(TextOf(e));
      return kExitFailure;
    }
  };
  int status = runCommand();
  if (status == kRunAgainWithFonts) {
    // Database connections belong to the application whose driver plugins they use.
    CloseThreadConnections();
    start(true);
    prompt->setDefaultAnswer(yes);
    status = runCommand();
    if (status == kRunAgainWithFonts) status = kExitFailure; // cannot happen: fonts are there
  }
  // Errors the model reported that no command message took up are shown now; they make the
  // command fail even when it would have reported success.
  const QStringList left = prompt->takeErrors();
  for (const QString& e : left)
    printError(QStringLiteral("error: ") + e);
  if (!left.isEmpty() && status == kExitOk) status = kExitFailure;
  std::fflush(stdout);
  return status;
}
