#pragma once
// The main window's action set: one typed member per command, so that a misspelt action cannot
// compile. The window creates the set once (Create); menus, toolbar and popups place the members;
// command classes (projectcommands.h, albumcommands.h, ...) connect them with Wire.
//
// An action that has no command wired stays disabled whatever the enabling rules say: wiring a
// new command is the one change that makes its action usable.
//
// Threads: user-interface thread only.
#include <QAction>
#include <QList>
#include <QObject>
#include <utility>

struct TMainActions {
  QAction* actNewProject = nullptr;
  QAction* actSaveProject = nullptr;
  QAction* actSaveProjectAs = nullptr;
  QAction* actOpenProject = nullptr;
  QAction* actAddAlbum = nullptr;
  QAction* actEditAlbum = nullptr;
  QAction* actDeleteAlbum = nullptr;
  QAction* actCategories = nullptr;
  QAction* actSignatures = nullptr;
  QAction* actRenaming = nullptr;
  QAction* actDatabase = nullptr;
  QAction* actSynchro = nullptr;
  QAction* actOption = nullptr;
  QAction* actProcess = nullptr;
  QAction* actPublish = nullptr;
  QAction* actDeletePicture = nullptr;
  QAction* actRotateCCW = nullptr;
  QAction* actRotateCW = nullptr;
  QAction* actCloseProject = nullptr;
  QAction* actExit = nullptr;
  QAction* actHelp = nullptr;
  QAction* actAbout = nullptr;
  QAction* actRotate180 = nullptr;
  QAction* actFlip = nullptr;
  QAction* actPrivatePicture = nullptr;
  QAction* actMarkDeleted = nullptr;
  QAction* actMakeFacePicture = nullptr;
  QAction* actAssignCategory = nullptr;
  QAction* actSignPicture = nullptr;
  QAction* actRotateCCWAll = nullptr;
  QAction* actRotateCWAll = nullptr;
  QAction* actRotate180All = nullptr;
  QAction* actFlipAll = nullptr;
  QAction* actAlbumDetail = nullptr;
  QAction* actAssignCategoryAll = nullptr;
  QAction* actSignAllPictures = nullptr;
  QAction* actPictureDetails = nullptr;
  QAction* actProcessedPicture = nullptr;
  QAction* actChangeBase = nullptr;
  QAction* actRecreateTemp = nullptr;
  QAction* actReadCaptions = nullptr;

  // Makes every action (caption, hints, icon, objectName = member name) as a child of owner.
  void Create(QObject* owner);
  // Every action in the order of the action manager.
  QList<QAction*> All() const;

  // Connects the command to the action's trigger and marks the action as wired.
  template <typename F> static void Wire(QAction* action, const QObject* context, F&& command) {
    QObject::connect(action, &QAction::triggered, context, std::forward<F>(command));
    action->setProperty(kWired, true);
  }
  static bool IsWired(const QAction* action) { return action->property(kWired).toBool(); }
  // Enables the action when on is true and a command is wired to it.
  static void Enable(QAction* action, bool on) { action->setEnabled(on && IsWired(action)); }

private:
  static constexpr const char* kWired = "lumenfoldWired";
};
