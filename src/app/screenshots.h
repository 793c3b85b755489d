#pragma once
// Picture-taking run for the documentation: when LUMENFOLD_SCREENSHOTS names a folder, the
// program skips the splash and the start dialog, opens the project named by
// LUMENFOLD_SCREENSHOT_PROJECT (if any), saves PNG pictures of the main window and of its
// dialogs into that folder and quits. User-interface thread only.
#include <QString>

class TfrmLumenFold2;

QString ScreenshotFolder();
void ScheduleScreenshots(TfrmLumenFold2* window);
