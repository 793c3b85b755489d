#pragma once
// The help: HTML pages in the "help" folder of the program's data folder, one per window and per
// task, opened in the desktop's web browser. Windows ask for a topic number; the table in
// helptopics.cpp names the page (and the place on it) of every topic.
//
// Threads: user-interface thread only (ShowHelpTopic opens the browser and may report an error).
#include <QList>
#include <QString>

enum THelpTopic : int {
  kHelpContents = 306, // the main window's Help command: the contents and first steps
  kHelpStart = 310,    // starting: the start dialog, new and recent projects
  kHelpMainWindow = 311,
  kHelpNewProject = 312,
  kHelpDatabase = 313,
  kHelpStartDialog = 314,
  kHelpAddAlbum = 320, // the album wizard
  kHelpAlbumProperties = 321,
  kHelpPictures = 330, // editing pictures in the main window
  kHelpPictureDetail = 331,
  kHelpSignatures = 340,
  kHelpCategories = 350,
  kHelpRenaming = 360,
  kHelpProcessing = 370, // the processing selection and progress dialogs
  kHelpPublish = 375,    // the Publish window
  kHelpTemplates = 380,
  kHelpOptions = 390,
  kHelpChangeBase = 395,
  kHelpSynchronise = 396,
  kHelpCommandLine = 399,
};

struct THelpTopicEntry {
  int topic;
  const char* page; // file name inside the help folder, optionally followed by "#place"
};

// Every topic with its page, in topic order.
const QList<THelpTopicEntry>& HelpTopics();
// The page of a topic ("name.html" or "name.html#place"); empty for an unknown topic.
QString HelpTopicPage(int topic);
// The topic of a dialog by its form name (the name its placement is kept under); 0 when none.
int HelpTopicForForm(const QString& formName);
// The help folder with its trailing separator: "help" in the data folder.
QString HelpFolder();

// Opens the topic's page in the desktop's browser; an unknown topic opens the contents page.
// A missing page or a browser that cannot be started is reported through the prompt, naming
// the file. Returns true when the browser was asked to show the page.
bool ShowHelpTopic(int topic);
