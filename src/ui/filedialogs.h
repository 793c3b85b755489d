#pragma once
// The common file and folder dialogs used by the windows. Each can be replaced by a hook so that
// tests (and scripted runs) answer without a modal dialog.
//
// Threads: user-interface thread only.
#include <QString>
#include <functional>

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
};
QString ChooseFileName(QWidget* owner, const TFileDialogRequest& request);

// Converts "Text files (*.txt)|*.txt|All files (*.*)|*.*" into Qt's ";;" form.
QString QtFileFilter(const QString& filter);

// Test hooks: while set, they answer instead of the dialogs. Pass nullptr to remove.
using TBrowseFolderHook = std::function<QString(const QString& title, const QString& initial)>;
using TFileDialogHook = std::function<QString(const TFileDialogRequest& request)>;
void SetBrowseFolderHook(TBrowseFolderHook hook);
void SetFileDialogHook(TFileDialogHook hook);
