// The desktop program: creates the main window, shows the splash window modally, then runs the
// message loop until the main window is closed.
#include "screenshots.h"
#include "ui/common/browserlauncher.h"
#include "ui/common/colourscheme.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/mainwindow/frmsplash.h"
#include "ui/common/qtprompt.h"
#include "ui/mainwindow/startoptions.h"
#include "ui/common/uiresources.h"
#include "util/imaging/memorytuning.h"

#include <QApplication>
#include <cstdio>

namespace {

// "--help", "--version" and a wrong command line are answered like any command-line program:
// text on standard output or error, and an exit status. Returns -1 to go on.
int answerCommandLine(const TStartOptions& options) {
  switch (options.action) {
  case TStartOptions::Help:
    std::fputs(DesktopUsageText().toLocal8Bit().constData(), stdout);
    return 0;
  case TStartOptions::Version:
    std::printf("%s\n", VersionLine(QStringLiteral("lumenfold")).toLocal8Bit().constData());
    return 0;
  case TStartOptions::Error:
    std::fprintf(stderr, "lumenfold: %s\n", options.error.toLocal8Bit().constData());
    return 2;
  case TStartOptions::Run:
    break;
  }
  return -1;
}

} // namespace

int main(int argc, char* argv[]) {
  // Help and version need no display: they are answered before the window system starts.
  QStringList raw;
  for (int i = 1; i < argc; ++i)
    raw << QString::fromLocal8Bit(argv[i]);
  if (const TStartOptions early = ParseStartOptions(raw);
      early.action == TStartOptions::Help || early.action == TStartOptions::Version)
    return answerCommandLine(early);

  TuneHeapForPictures();
  QApplication app(argc, argv);
  // The window system has taken its own options out of the list by now.
  const TStartOptions options = ParseStartOptions(QCoreApplication::arguments().mid(1));
  if (const int status = answerCommandLine(options); status >= 0) return status;

  InitUiResources();
  // Screenshots may ask for a scheme ("light" or "dark") without touching the settings store.
  const QString shotScheme = qEnvironmentVariable("LUMENFOLD_SCREENSHOT_SCHEME");
  ApplyColourScheme(shotScheme == QLatin1String("dark")    ? TColourScheme::Dark
                    : shotScheme == QLatin1String("light") ? TColourScheme::Light
                                                           : StoredColourScheme());
  // Questions and errors of the model appear as message boxes.
  QtPrompt prompt;
  prompt.install();
  // Help pages that no browser can show are named in a message.
  TBrowserLauncher::InstallDesktopDefault(&app);

  TfrmLumenFold2 main;
  const bool openProject = !options.projectFile.isEmpty();
  if (openProject) main.StartDialogOnShow = false;
  if (ScreenshotFolder().isEmpty()) {
    TfrmLumenFold2Splash::ShowSplash(nullptr, false);
  } else {
    ScheduleScreenshots(&main);
  }
  main.show();
  if (openProject) OpenProjectAtStart(&main, options.projectFile);
  return app.exec();
}
