#pragma once
// Commands on the selected pictures (or all pictures) of the current album: delete, turn, flip,
// private and deleted marks, album face, set to be processed, picture properties, categories and
// signatures. Enter and Delete in the picture view open the properties and delete the pictures.
//
// Threads: user-interface thread only.
#include <QObject>
#include <QString>

class TCommandContext;
class TLumenfoldPicture;
class TLumenfoldProject;
struct TMainActions;

// The picture view's tooltip: the picture's categories and its two signatures by name.
QString PictureToolTip(const TLumenfoldProject& project, const TLumenfoldPicture& picture);

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
  // "Picture properties" on the current picture; Page Up / Page Down in the dialog move through
  // the album's pictures.
  void PictureDetails();
  void AssignCategories(bool all);
  // "Read captions from files" for the selected pictures.
  void ReadCaptions();
  void Sign(bool all);

private:
  template <class TChooser> void runChooser(bool all);

  TCommandContext& context_;
};
