#pragma once
// Commands of the project lifecycle: new, open, save, save as, close, exit, database, options.
//
// Threads: user-interface thread only.
#include <QObject>

class TCommandContext;
struct TMainActions;

class TProjectCommands : public QObject {
  Q_OBJECT
public:
  TProjectCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

  void NewProject();
  void OpenProject();
  void SaveProjectAs();
  void CloseProject();
  void Database();
  void Options();

private:
  TCommandContext& context_;
};
