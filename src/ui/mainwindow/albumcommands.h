#pragma once
// Commands on albums: add one through the wizard (also for a folder dropped on the window), edit
// the current one through the wizard, delete it, edit its properties, rename its pictures.
//
// Threads: user-interface thread only.
#include "ui/album/frmnewalbum.h"

#include <QObject>
#include <QString>

class TCommandContext;
struct TMainActions;

// The shared dialogs for the album wizard: "Select signature" and "Select category" for its
// signature and category pages, "Picture properties" for a double-click on its pictures page.
TfrmNewAlbum::TEditors AlbumWizardEditors();

class TAlbumCommands : public QObject {
  Q_OBJECT
public:
  TAlbumCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

  // folder: where the wizard's path page starts (a dropped folder); empty for the usual start.
  void AddAlbum(const QString& folder = QString());
  void EditAlbum();
  void DeleteAlbum();
  void AlbumDetail();
  void RenamePictures();

private:
  // After a wizard closed with OK: Process when the project asks for it.
  void processAfterWizard();
  TCommandContext& context_;
  TMainActions& actions_;
};
