#pragma once
// Tools and help commands: synchronise the project with the folders, categories, signatures,
// change the base path of the albums, read the originals again (recreate temp files), help and
// about.
//
// Threads: user-interface thread only.
#include <QObject>

class TCommandContext;
struct TMainActions;

class TToolsCommands : public QObject {
  Q_OBJECT
public:
  TToolsCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

  void Synchro();
  void Categories();
  void Signatures();
  void ChangeBase();
  void RecreateTemp();
  void Help();
  void About();

private:
  TCommandContext& context_;
};
