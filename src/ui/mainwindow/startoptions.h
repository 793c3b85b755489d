#pragma once
// The desktop program's command line: "--help" and "--version" answer on standard output and
// end the program before any window opens; one project file name opens that project at start
// instead of the start dialog.
//
// Threads: user-interface thread only.
#include <QString>
#include <QStringList>

class TfrmLumenFold2;

struct TStartOptions {
  enum Action { Run, Help, Version, Error };
  Action action = Run;
  QString projectFile; // absolute; empty when none was named
  QString error;       // for Error: what was wrong, in one line
};

// Reads the arguments (without the program's name). Help and version win over everything else,
// so that they work even beside options meant for the window system.
TStartOptions ParseStartOptions(const QStringList& arguments);
// The text of "--help".
QString DesktopUsageText();
// "<program> <version>", with the special-build text when there is one.
QString VersionLine(const QString& program);

// Opens the project file once the message loop runs (the window has been shown by then, so the
// recent list it restored takes the file). A file that does not exist is reported and the start
// dialog follows as usual. Call it after the window was shown with StartDialogOnShow false.
void OpenProjectAtStart(TfrmLumenFold2* window, const QString& fileName);
