#pragma once
// Base of the main-window test programs: the temporary folder and settings store, the recording
// prompt, and fresh album folders and projects in that folder. Header-only: only the window
// tests, which link the ui layer, include it.
#include "testenv.h"

#include "core/project.h"
#include "ui/mainwindow/frmmain.h"

#include <QObject>
#include <QtTest>

class TMainWindowTest : public QObject {
protected:
  TestEnv env;
  RecordingPrompt prompt;

  // A new folder albumN with JPEGs pic00.jpg, pic01.jpg, ...; each is a pixel wider than the one
  // before, so that no two are the same file.
  QString makeAlbumFolder(int pictures, int width = 320, int height = 240) {
    const QString folder = env.makeFolder(QStringLiteral("album%1").arg(++folders_));
    for (int i = 0; i < pictures; ++i)
      WriteTestJpeg(folder + QStringLiteral("/pic%1.jpg").arg(i, 2, 10, QChar('0')), width + i,
                    height);
    return folder;
  }

  // A new project (as the new-project dialog's OK makes it) in a fresh database, named siteN
  // unless a name is given; the album wizard does not process after closing.
  void newProject(TfrmLumenFold2& w, QString name = QString()) {
    if (name.isEmpty()) name = QStringLiteral("site%1.lumenfold").arg(++projects_);
    TLumenfoldProject settings;
    settings.Reset();
    settings.FileName = env.path(name);
    settings.ConnectionString = env.newDatabase(name + QStringLiteral(".sqlite"));
    QVERIFY(!settings.ConnectionString.isEmpty());
    settings.ProcessAfterWizard = false;
    w.StartNewProject(settings);
  }

private:
  int folders_ = 0, projects_ = 0;
};
