#include "ui/processcommands.h"

#include "ui/commandcontext.h"

TProcessCommands::TProcessCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  // The Process command is wired here, e.g.
  //   WireCommand(context, actions.actProcess, this, [this] { Process(); });
  Q_UNUSED(actions);
  Q_UNUSED(context_);
}
