// The desktop program: creates the main window, shows the splash window modally, then runs the
// message loop until the main window is closed.
#include "screenshots.h"
#include "ui/frmmain.h"
#include "ui/frmsplash.h"
#include "ui/qtprompt.h"
#include "ui/uiresources.h"
#include "util/memorytuning.h"

#include <QApplication>

int main(int argc, char* argv[]) {
  TuneHeapForPictures();
  QApplication app(argc, argv);
  InitUiResources();
  // Questions and errors of the model appear as message boxes.
  QtPrompt prompt;
  prompt.install();

  TfrmLumenFold2 main;
  if (ScreenshotFolder().isEmpty()) {
    TfrmLumenFold2Splash::ShowSplash(nullptr, false);
  } else {
    ScheduleScreenshots(&main);
  }
  main.show();
  return app.exec();
}
