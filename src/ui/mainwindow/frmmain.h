#pragma once
// The main window: owns the one open project, lists its albums on the left and the pictures of
// the selected album on the right, keeps the action set, menus and their enabling rules, and the
// project lifecycle (new, open, save, close). The commands live in their own classes by subject
// (projectcommands.h, albumcommands.h, picturecommands.h, toolscommands.h, processcommands.h);
// they reach the window through TCommandContext.
//
// Threads: user-interface thread only. The thumbnail loader it starts runs beside it; its
// messages and its end notification are handled here on the user-interface thread.
#include "ui/mainwindow/commandcontext.h"
#include "ui/mainwindow/mainactions.h"

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
class TStartPage;
class TEmptyProjectPage;
class TPictureViewer;
class TProjectCommands;
class TAlbumCommands;
class TPictureCommands;
class TToolsCommands;
class TProcessCommands;

namespace Ui {
class TfrmLumenFold2;
}

class TfrmLumenFold2 : public QMainWindow, public TCommandContext {
  Q_OBJECT

public:
  explicit TfrmLumenFold2(QWidget* parent = nullptr);
  ~TfrmLumenFold2() override;

  // The window posts the start message to itself on its first show; tests switch that off.
  bool StartDialogOnShow = true;

  bool IsProjectOpen() const;
  // The large view of the current picture (Space in the picture view); Esc in it comes back.
  TPictureViewer* Viewer() const { return viewer_; }
  TThumbnailThread* ThumbnailLoader() const;
  TphotoListView* PictureView() const { return lvwMain; }
  // The start dialog's last choice: true when "New project" was chosen.
  bool StartChoiceNew() const { return startNew_; }
  QLabel* StatusPanel(int index) const { return statusPanels_[index]; }

  // TCommandContext
  QWidget* Window() override { return this; }
  TMainActions& Actions() override { return actions_; }
  TLumenfoldProject* Project() override { return project_.get(); }
  TLumenfoldAlbum* CurrentAlbum() override { return currentAlbum_; }
  TLumenfoldPicture* CurrentPicture() override { return currentPicture_; }
  QList<TLumenfoldPicture*> SelectedPictures() override;
  QList<TLumenfoldPicture*> AllPictures() override;
  void StopThumbnailLoader() override;
  void StartThumbnailLoader() override;
  void ForgetAlbums() override;
  void ForgetPictures() override;
  void FillAlbumList() override;
  void FillPictureView() override;
  void CurrentAlbumChanged() override;
  void RepaintAlbums() override;
  void RepaintPictures() override;
  void RepaintSelectedPictures() override;
  void UpdateView() override;
  void EnableActions() override;
  bool AskSaveModified() override;
  // False when the project could not be saved; it then stays marked modified.
  bool SaveCurrentProject() override;
  void CloseCurrentProject() override;
  void OpenProjectFile(const QString& fileName) override;
  // What the new-project dialog's OK leads to: the project takes the chosen settings and loads
  // its lists from the (new) database.
  void StartNewProject(const TLumenfoldProject& settings) override;
  // What the database dialog's OK leads to when the connection string changed.
  void ChangeDatabase(const QString& connectionString) override;

  void SaveToRegistry();
  void LoadFromRegistry();
  void ShowStartDialog();
  // Makes the album list entry current and runs the album selection.
  void SelectAlbum(int row);

protected:
  bool event(QEvent* e) override;
  void showEvent(QShowEvent* e) override;
  void closeEvent(QCloseEvent* e) override;
  void resizeEvent(QResizeEvent* e) override;
  bool eventFilter(QObject* watched, QEvent* e) override;
  // A folder dropped on the window starts the add-album wizard with it.
  void dragEnterEvent(QDragEnterEvent* e) override;
  void dropEvent(QDropEvent* e) override;

private:
  void createActions();
  void buildMenus();
  void connectPictureView();
  void setTitle();
  void albumSelected();
  void viewModeChanged();
  void showPictureCount();
  void actionClicked(int number);
  void fileNameEdited(int row, const QString& text);
  void createPages();
  void fillRecentMenu();
  void openRecent(const QString& fileName);
  void openViewer();
  void closeViewer(int row);

  std::unique_ptr<Ui::TfrmLumenFold2> ui;
  std::unique_ptr<TLumenfoldProject> project_;
  TLumenfoldAlbum* currentAlbum_ = nullptr;
  TLumenfoldPicture* currentPicture_ = nullptr;
  QPointer<TThumbnailThread> loader_;
  bool loaderHeld_ = false; // stopped on purpose: rows shown do not start another
  bool startNew_ = false;
  bool firstShown_ = false;
  QObject* actxpMain = nullptr; // owner of the actions
  TMainActions actions_;
  TProjectCommands* projectCommands_ = nullptr;
  TAlbumCommands* albumCommands_ = nullptr;
  TPictureCommands* pictureCommands_ = nullptr;
  TToolsCommands* toolsCommands_ = nullptr;
  TProcessCommands* processCommands_ = nullptr;
  TphotoListView* lvwMain = nullptr;
  class TCategoryFilterBox* cbxCategoryFilter = nullptr;
  QMenu* pmnAlbums = nullptr;
  QMenu* pmnPictures = nullptr;
  QMenu* mnuOpenRecent = nullptr;
  TStartPage* startPage_ = nullptr;
  TEmptyProjectPage* emptyProject_ = nullptr;
  QLabel* lblEmptyAlbum_ = nullptr;
  TPictureViewer* viewer_ = nullptr;
  bool viewing_ = false;
  QLabel* statusPanels_[3] = {nullptr, nullptr, nullptr};
  QWidget* sizeControl_ = nullptr;
};
