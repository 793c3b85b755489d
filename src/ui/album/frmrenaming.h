#pragma once
// "Rename pictures": the renaming template, first sequence number, letter case and the exchange
// of special characters for the pictures of one album, with every picture's old and new name
// side by side. OK is refused while the new names would collide (with each other, ignoring
// letter case, or with other files of the folder) or are no plain file names. The dialog renames
// nothing itself: the caller renames with Settings() after OK.
//
// The choices are written into the project as they change (they stay there after Cancel too);
// the project is marked modified when a value really changed, so that it is not lost at exit.
//
// Threads: user-interface thread only.
#include "core/renameops.h"
#include "ui/common/placeddialog.h"

#include <functional>
#include <memory>

namespace Ui {
class frmRenaming;
}
class QAbstractItemModel;
class QButtonGroup;
class QMenu;
class QRadioButton;
class QTableView;
class QLineEdit;
class QPushButton;
class TLumenfoldAlbum;
class TLumenfoldProject;
class TRenamePreviewModel;

class TfrmRenaming : public TPlacedDialog {
  Q_OBJECT
public:
  TfrmRenaming(QWidget* parent, TLumenfoldProject* project, TLumenfoldAlbum* album);
  ~TfrmRenaming() override;

  // The choices of the dialog.
  TRenameSettings Settings() const;
  // The plan of the present choices (as checked when OK was pressed).
  TRenamePlan Plan() const;
  QMenu* MacroMenu() const { return pmnMacro_; }

  void done(int result) override;

  // The template with the macro key put just before its extension (appended when it has none).
  static QString InsertMacroKey(const QString& templ, int macro);
  // Fills a menu with the 17 macro labels; choosing one calls `insert` with its index.
  static void FillMacroMenu(QMenu* menu, const std::function<void(int)>& insert);
  // The macro menu opens under the button and as the template field's context menu.
  static void AttachMacroMenu(QPushButton* button, QLineEdit* edit, QMenu* menu);
  // The preview grid: the model, 18-pixel rows, and two columns of half its visible width each,
  // fitted again when the window is resized and when the vertical scroll bar comes or goes.
  static void SetUpPreviewGrid(QTableView* grid, QAbstractItemModel* model);
  static void FitPreviewColumns(QTableView* grid);
  // The letter-case buttons as one group (owned by `lower`'s parent) whose ids are the
  // FileNameCase values; `changed` runs when another button is chosen.
  static QButtonGroup* AttachCaseButtons(QRadioButton* lower, QRadioButton* upper,
                                         QRadioButton* keep, const std::function<void()>& changed);
  // Checks the button of a FileNameCase value (lower case for a value without a button).
  static void SetCaseChoice(QButtonGroup* group, int fileNameCase);
  // The FileNameCase value of the checked button (lower case when none is).
  static int CaseChoice(const QButtonGroup* group);

protected:
  void FirstShow() override;
  void resizeEvent(QResizeEvent* event) override;

private:
  void changed();
  void insertMacro(int macro);

  std::unique_ptr<Ui::frmRenaming> ui;
  TLumenfoldProject* project_;
  TLumenfoldAlbum* album_;
  TRenamePreviewModel* preview_;
  QMenu* pmnMacro_;
  QButtonGroup* cases_;
  bool loading_ = true;
};
