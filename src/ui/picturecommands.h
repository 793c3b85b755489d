#pragma once
// Commands on the selected pictures (or all pictures) of the current album: delete, turn, flip,
// private and deleted marks, album face, set to be processed.
//
// Threads: user-interface thread only.
#include <QObject>

class TCommandContext;
struct TMainActions;

class TPictureCommands : public QObject {
  Q_OBJECT
public:
  TPictureCommands(TCommandContext& context, TMainActions& actions, QObject* parent);

  enum class TTurn { CounterClockwise, Clockwise, HalfTurn, Flip };

  void DeletePicture();
  // Turns the selected pictures, or every picture of the album when all is true.
  void Turn(TTurn turn, bool all);
  // Toggles the private mark (privateMark) or the deleted mark of the selected pictures.
  void ToggleMark(bool privateMark);
  void MakeFace();
  void SetToBeProcessed();

private:
  TCommandContext& context_;
};
