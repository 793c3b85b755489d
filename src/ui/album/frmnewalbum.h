#pragma once
// The album wizard: nine pages (welcome, folder, details, pictures, face, renaming, signatures,
// categories, summary) through which an album is added to the project or edited.
//
// Add mode: the wizard makes a new album of the project and hands it to the caller after OK
// (TakeAlbum); after Cancel the album is gone. Edit mode: the wizard works on a working copy that
// the caller made and assigns back after OK; Cancel writes nothing to the database.
//
// Next is the default button and the only one Enter presses; Cancel (or Escape) asks before it
// throws away what the user entered. The pictures page names the files of the folder it does not
// import. A folder of list previews ("ps_tmp") that the wizard's loader made in a photo folder is
// removed again when the wizard is cancelled or the album ends up in another folder; a folder
// that was there before stays as it is.
//
// The pictures page starts the wizard's own thumbnail loader; it never writes rows (the album is
// written by the caller after OK, or by the renaming at the close). A folder that another album
// of the project uses is refused on the path page; changing the folder after the pictures were
// read reads them again from the new folder.
//
// The signature and category pages assign through the chooser functions the wizard is made with,
// the pictures page edits a picture through its picture editor (TEditors); the main window's
// album commands give it the shared dialogs. Without them those buttons stay disabled and a
// double-click does nothing.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <QList>
#include <QPointer>
#include <functional>
#include <memory>

namespace Ui {
class frmWizard;
}
class QButtonGroup;
class QMenu;
class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;
class TRenamePreviewModel;
class TThumbnailThread;
class TphotoListView;

class TfrmNewAlbum : public TPlacedDialog {
  Q_OBJECT
public:
  enum TPage {
    pgWelcome,
    pgPath,
    pgDetail,
    pgPictures,
    pgFace,
    pgRename,
    pgSignature,
    pgCategory,
    pgSummary,
    pgCount
  };

  // Opens a chooser for the pictures and applies the choice; true when something was assigned.
  using TPictureChooser = std::function<bool(QWidget* owner, TLumenfoldProject& project,
                                             const QList<TLumenfoldPicture*>& pictures)>;
  // Edits a copy of a picture (double-click on the pictures page); true on OK.
  using TPictureEditor =
      std::function<bool(QWidget* owner, TLumenfoldProject& project, TLumenfoldPicture& copy)>;
  struct TEditors {
    TPictureChooser Signature;
    TPictureChooser Category;
    TPictureEditor Picture;
  };

  // Add mode when workingCopy is nullptr; otherwise edit mode on that copy (not owned).
  TfrmNewAlbum(QWidget* parent, TLumenfoldProject* project, TLumenfoldAlbum* workingCopy = nullptr,
               TEditors editors = {});
  ~TfrmNewAlbum() override;

  bool AddMode() const { return addMode_; }
  // The album being built or edited (nullptr in add mode after Cancel).
  TLumenfoldAlbum* Album() const { return album_; }
  // Add mode after OK: the new album, now owned by the caller.
  std::unique_ptr<TLumenfoldAlbum> TakeAlbum();
  // Add mode: the folder the path page starts with (a folder dropped on the main window).
  void SetInitialFolder(const QString& folder) { initialFolder_ = folder; }
  int PageIndex() const;
  TThumbnailThread* ThumbnailLoader() const;
  QMenu* MacroMenu() const { return pmnMacro_; }

  void done(int result) override;
  void reject() override;

protected:
  void FirstShow() override;
  bool event(QEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;

private:
  void next();
  void skip();
  void prev();
  void moveTo(int page, bool forward);
  void storePage(int page);
  bool validatePage(int page);
  void loadPage(int page, bool forward);
  void updateButtons();
  void setCaption();
  // A project setting was changed: the project is marked modified.
  void settingsChanged();
  void stopThumbnailLoader();
  void startThumbnailLoader();
  // Removes the preview folders the loader made (their preview files only, then the folder when
  // it is empty), except the one of keptFolder.
  void removeOwnPreviewFolders(const QString& keptFolder);
  // The user changed something: Cancel asks first from now on.
  void noteInput();
  // Cancel: the categories that importing made from the files' keywords go again.
  void removeCategoriesMadeByImport();
  void showSkippedFiles();
  void fillView(TphotoListView* view);
  TphotoListView* viewOfPage(int page) const;
  bool pageSkipped(int page) const;
  int skipBit(int page) const;

  // Path page.
  void originalPathEdited();
  void browsePath();
  void directoryLeft();
  void directoryRight();
  QString pathProblem() const;
  // Pictures page.
  void importPictures();
  void dropPicturesOfOtherFolder();
  void thumbAction(int number);
  void thumbDoubleClicked(int row);
  // Face page.
  void faceSelected();
  // Rename page.
  void renameChanged();
  void insertMacro(int macro);
  // Signature and category pages.
  void sign(bool all);
  void assignCategories(bool all);
  // The selected pictures of a view, or all of them.
  QList<TLumenfoldPicture*> picturesOf(TphotoListView* view, bool all) const;

  std::unique_ptr<Ui::frmWizard> ui;
  TLumenfoldProject* project_;
  TEditors editors_;
  bool addMode_;
  std::unique_ptr<TLumenfoldAlbum> owned_; // add mode until OK
  TLumenfoldAlbum* album_;
  QString baseCaption_;
  QString initialFolder_;
  QString importedFrom_; // the folder the pictures were read from
  bool loading_ = false;
  bool modifiedBefore_ = false;   // the project's mark when the wizard opened
  bool settingsChanged_ = false;  // a project setting was changed in the wizard
  bool input_ = false;            // the user entered or changed something
  bool preselecting_ = false;     // the face page chooses the first picture itself
  QStringList ownPreviewFolders_; // preview folders that did not exist before the loader ran
  QPointer<TThumbnailThread> loader_;
  TRenamePreviewModel* preview_;
  QMenu* pmnMacro_;
  QButtonGroup* cases_;
};
