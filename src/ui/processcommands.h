#pragma once
// Processing commands: Process (actProcess) and the album popup's "Process and zip"
// (mniProcessAndZip, which triggers actProcess). Not wired yet: until a command is wired to
// actProcess the action stays disabled (see TMainActions::Wire).
//
// Threads: user-interface thread only.
#include <QObject>

class TCommandContext;
struct TMainActions;

class TProcessCommands : public QObject {
  Q_OBJECT
public:
  TProcessCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

private:
  TCommandContext& context_;
};
