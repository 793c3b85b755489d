#pragma once
// Processing commands: Process (actProcess) and the album popup's "Process and zip"
// (mniProcessAndZip): the selection window, the removal of the old archive when asked, the
// progress window, then the closing message. "Process and zip" opens the selection with the
// current album checked and "Zip" on.
//
// Threads: user-interface thread only.
#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;
class TCommandContext;
class TLumenfoldProject;
struct TMainActions;

// What the caller does around a run: stop the thumbnail loader before it (the run changes
// pictures from its own thread) and refresh the views after it.
struct TProcessHooks {
  std::function<void()> BeforeRun;
  std::function<void()> AfterRun;
};

// The text of the closing message: the report's lines, then, for a run that ended by an error
// or a refusal, why.
QString ProcessingClosingText(const QStringList& reportLines, bool finished, const QString& reason);

// Runs the command. albumPosition >= 0: "Process and zip" of that album. Returns true when the
// run finished; false when it was cancelled, stopped or failed (the user has been told).
bool RunProcessCommand(QWidget* owner, TLumenfoldProject& project, int albumPosition,
                       const TProcessHooks& hooks);

class TProcessCommands : public QObject {
  Q_OBJECT
public:
  TProcessCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

  void Process();
  // "Process and zip" of the current album (Process when there is none).
  void ProcessAndZip();
  // The Publish window for the project's destinations.
  void Publish();
  // "Process and zip", then, when the run finished, the Publish window.
  void ProcessAndPublish();

private:
  bool run(int albumPosition);
  TCommandContext& context_;
};
