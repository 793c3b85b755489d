#pragma once
// Commands on the current album: delete it, edit its properties.
//
// Threads: user-interface thread only.
#include <QObject>

class TCommandContext;
struct TMainActions;

class TAlbumCommands : public QObject {
  Q_OBJECT
public:
  TAlbumCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

  void DeleteAlbum();
  void AlbumDetail();

private:
  TCommandContext& context_;
};
