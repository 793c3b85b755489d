#pragma once
// The main window: owns the one open project, lists its albums on the left and the pictures of
// the selected album on the right, carries the project lifecycle (new, open, save, save as,
// close, database, options) and the commands of the action manager.
//
// Threads: user-interface thread only. The thumbnail loader it starts runs beside it; its
// messages and its end notification are handled here on the user-interface thread.
#include <QImage>
#include <QMainWindow>
#include <QPointer>
#include <QStringList>
#include <memory>

class QAction;
class QLabel;
class QMenu;
class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;
class TThumbnailThread;
class TphotoListView;

namespace Ui {
class TfrmLumenFold2;
}

class TfrmLumenFold2 : public QMainWindow {
  Q_OBJECT

public:
  explicit TfrmLumenFold2(QWidget* parent = nullptr);
  ~TfrmLumenFold2() override;

  // The window posts the start message to itself on its first show; tests switch that off.
  bool StartDialogOnShow = true;

  TLumenfoldProject* Project() const { return project_.get(); }
  bool IsProjectOpen() const;
  TLumenfoldAlbum* CurrentAlbum() const { return currentAlbum_; }
  TLumenfoldPicture* CurrentPicture() const { return currentPicture_; }
  TThumbnailThread* ThumbnailLoader() const;
  TphotoListView* PictureView() const { return lvwMain; }
  // The start dialog's last choice: true when "New project" was chosen.
  bool StartChoiceNew() const { return startNew_; }
  QAction* Action(const QString& name) const;
  QLabel* StatusPanel(int index) const { return statusPanels_[index]; }

  void UpdateView();
  void EnableActions();
  void CloseCurrentProject();
  // False when the project could not be saved; it then stays marked modified.
  bool SaveCurrentProject();
  void OpenProjectFile(const QString& fileName);
  void FillAlbumList();
  void FillPictureView();
  void StopThumbnailLoader();
  void SaveToRegistry();
  void LoadFromRegistry();
  void ShowStartDialog();
  // What the new-project dialog's OK leads to: the project takes the chosen settings and loads
  // its lists from the (new) database.
  void StartNewProject(const TLumenfoldProject& settings);
  // What the database dialog's OK leads to when the connection string changed.
  void ChangeDatabase(const QString& connectionString);
  // Makes the album list entry current and runs the album selection.
  void SelectAlbum(int row);

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;

private:
  void createActions();
  void buildMenus();
  void connectPictureView();
  void setTitle();
  void albumSelected();
  void viewModeChanged();
  void forgetAlbums();    // empties both views and drops the current album and picture
  bool askSaveModified(); // false: the user cancelled or the save failed
  void invokeAction(const QString& name);
  QList<TLumenfoldPicture*> selectedPictures() const;
  QList<TLumenfoldPicture*> allPictures() const;
  void repaintAlbums();
  void repaintPictures();
  void showPictureCount();

  // Commands
  void cmdNewProject();
  void cmdOpenProject();
  void cmdSaveProjectAs();
  void cmdDatabase();
  void cmdOption();
  void cmdDeleteAlbum();
  void cmdAlbumDetail();
  void cmdDeletePicture();
  void cmdTurn(int kind, bool all);
  void cmdToggleMark(bool privateMark);
  void cmdMakeFace();
  void cmdProcessed();
  void cmdChangeBase();
  void cmdRecreateTemp();
  void cmdAbout();
  void cmdHelp();
  void actionClicked(int number);
  void fileNameEdited(int row, const QString& text);

  std::unique_ptr<Ui::TfrmLumenFold2> ui;
  std::unique_ptr<TLumenfoldProject> project_;
  TLumenfoldAlbum* currentAlbum_ = nullptr;
  TLumenfoldPicture* currentPicture_ = nullptr;
  QPointer<TThumbnailThread> loader_;
  bool startNew_ = false;
  bool firstShown_ = false;
  QObject* actxpMain = nullptr;
  TphotoListView* lvwMain = nullptr;
  QMenu* pmnAlbums = nullptr;
  QMenu* pmnPictures = nullptr;
  QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
};
