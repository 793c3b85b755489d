#pragma once
// The common file and folder dialogs used by the windows. Each can be replaced by a hook so that
// tests (and scripted runs) answer without a modal dialog.
//
// Threads: user-interface thread only.
#include <QString>
#include <functional>

class QLineEdit;
class QWidget;

// Folder chosen in the folder-selection dialog, or empty when cancelled.
QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialFolder);

// A file-name dialog. filter uses the "Description|pattern|Description|pattern" form; an empty
// filter shows every file. defaultSuffix is added when the user types a name without one.
struct TFileDialogRequest {
  bool save = true; // save dialog (true) or open dialog
  QString title;
  QString defaultSuffix;
  QString initialName;
  QString filter;
  // Folder the dialog starts in when initialName names none (see ProjectsFolder()).
  QString startFolder;
};
QString ChooseFileName(QWidget* owner, const TFileDialogRequest& request);
// A save dialog for a new project or database file, starting from the edit's name (or in
// ProjectsFolder()); the chosen name replaces the edit's text, Cancel leaves it.
void ChooseNewProjectFile(QLineEdit* edit, const QString& title, const QString& suffix,
                          const QString& filter);

// Where choosers start: albums in the user's Pictures folder (home when there is none); projects
// and databases in the folder of the given project file, else of the most recent project, else the
// user's Documents folder (home when there is none). Never the program's own folder.
QString PicturesFolder();
QString ProjectsFolder(const QString& projectFile = QString());

// Converts "Text files (*.txt)|*.txt|All files (*.*)|*.*" into Qt's ";;" form.
QString QtFileFilter(const QString& filter);

// Test hooks: while set, they answer instead of the dialogs. Pass nullptr to remove.
using TBrowseFolderHook = std::function<QString(const QString& title, const QString& initial)>;
using TFileDialogHook = std::function<QString(const TFileDialogRequest& request)>;
void SetBrowseFolderHook(TBrowseFolderHook hook);
void SetFileDialogHook(TFileDialogHook hook);
