#pragma once
// What the main window gives its command classes: the project, the current album and selection,
// control of the thumbnail loader and the refreshes of its views. Commands see the window only
// through this interface, so they hold no pointers into its controls.
//
// Threads: user-interface thread only.
#include "ui/mainwindow/mainactions.h"
#include "ui/mainwindow/runcommand.h"

#include <QList>
#include <QString>

class QWidget;
class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;

class TCommandContext {
public:
  virtual ~TCommandContext() = default;

  // The window that owns dialogs and message boxes of a command.
  virtual QWidget* Window() = 0;
  virtual TMainActions& Actions() = 0;

  // The open project (never null; its FileName is empty while none is open).
  virtual TLumenfoldProject* Project() = 0;
  virtual TLumenfoldAlbum* CurrentAlbum() = 0;
  virtual TLumenfoldPicture* CurrentPicture() = 0;
  // The selected pictures of the current album, in view order.
  virtual QList<TLumenfoldPicture*> SelectedPictures() = 0;
  // Every picture of the current album, in view order.
  virtual QList<TLumenfoldPicture*> AllPictures() = 0;

  // The loader reads the current album's pictures: stop it before pictures change or leave it,
  // start it again for the current album afterwards.
  virtual void StopThumbnailLoader() = 0;
  virtual void StartThumbnailLoader() = 0;

  // Views. ForgetAlbums stops the loader, empties both views and drops the current album and
  // picture; ForgetPictures does so for the picture view only.
  virtual void ForgetAlbums() = 0;
  virtual void ForgetPictures() = 0;
  virtual void FillAlbumList() = 0;
  virtual void FillPictureView() = 0;
  // After the current album's fields changed: its list entry, path and picture count follow.
  virtual void CurrentAlbumChanged() = 0;
  virtual void RepaintAlbums() = 0;
  virtual void RepaintPictures() = 0;
  // Repaints only the selected pictures (their marks or thumbnails changed).
  virtual void RepaintSelectedPictures() = 0;
  virtual void UpdateView() = 0;
  virtual void EnableActions() = 0;

  // Project lifecycle kept by the window (it resets the views around them).
  // False when the user cancelled or the save failed.
  virtual bool AskSaveModified() = 0;
  virtual bool SaveCurrentProject() = 0;
  virtual void CloseCurrentProject() = 0;
  virtual void OpenProjectFile(const QString& fileName) = 0;
  virtual void StartNewProject(const TLumenfoldProject& settings) = 0;
  virtual void ChangeDatabase(const QString& connectionString) = 0;
};

// Wires a command to an action of the window: the command runs through RunCommand, so a model
// error it raises is shown once and never escapes into the event loop.
template <typename F>
void WireCommand(TCommandContext& context, QAction* action, const QObject* receiver, F command) {
  TMainActions::Wire(action, receiver,
                     [&context, command] { RunCommand(context.Window(), command); });
}
