#pragma once
// The main window's action set: one typed member per command, so that a misspelt action cannot
// compile. The window creates the set once (Create) and fills its menus, toolbar and popups from
// it (Fill); command classes (projectcommands.h, albumcommands.h, ...) connect them with
// WireCommand (commandcontext.h).
//
// Each row of the action table also says when the action is enabled (TEnableRule) and where it
// is placed (TMenuEntry); an action that has no command wired stays disabled whatever its rule
// says, so a new command is one table row plus one WireCommand line.
//
// Threads: user-interface thread only.
#include <QAction>
#include <QList>
#include <QObject>
#include <utility>

class QWidget;

// When the window enables an action; every row of the action table names one.
enum class TEnableRule { Always, ProjectOpen, ProjectModified, Album, Picture, Original };

// Where an action is placed: the menus of the menu bar, the toolbar and the two popup menus.
enum TMenuPlace : int {
  mpNone = 0,
  mpFile,
  mpAlbum,
  mpPicture,
  mpTools,
  mpHelp,
  mpToolbar,
  mpAlbumPopup,
  mpPicturePopup
};

// One place of an action: the entries of a place run by group, then by order in the group, with
// a separator between two groups.
struct TMenuEntry {
  TMenuPlace Place = mpNone;
  int Group = 0;
  int Order = 0;
};

// What the enabling rules look at.
struct TActionState {
  bool ProjectOpen = false;
  bool ProjectModified = false;
  bool Album = false;    // an album is current
  bool Picture = false;  // a picture is current
  bool Original = false; // the current picture's original is there
};

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
  // Draws the actions' icons again for the application's palette (light or dark).
  void RefreshIcons();
  // Every action in the order of the action manager.
  QList<QAction*> All() const;
  // Adds the actions placed in place to target (a menu, the toolbar or a popup) in their order,
  // with the separators between their groups.
  void Fill(QWidget* target, TMenuPlace place) const;
  // Puts entry (an entry of the window's own, such as a submenu) right after anchor in target.
  static void InsertAfter(QWidget* target, const QAction* anchor, QAction* entry);
  // Enables each action by its row's rule (and only when a command is wired to it).
  void ApplyEnableRules(const TActionState& state) const;

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
