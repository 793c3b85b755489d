#include "ui/mainwindow/mainactions.h"

#include "ui/common/uiresources.h"

#include <QWidget>
#include <algorithm>
#include <array>
#include <vector>

namespace {

struct TActionInfo {
  QAction* TMainActions::*member;
  const char* name;
  const char* category;
  const char* caption; // with the menu accelerator where the menu gives one
  const char* shortHint;
  const char* longHint;
  const char* icon;                 // action image, empty for none
  TEnableRule enabled;              // when the window enables it
  std::array<TMenuEntry, 3> places; // where it is placed; mpNone for none
};

// The action list of the action manager, in its order, with each action's places.
const TActionInfo kActions[] = {
    {&TMainActions::actNewProject,
     "actNewProject",
     "File",
     "&New project...",
     "New project",
     "Start new project",
     "new",
     TEnableRule::Always,
     {{{mpFile, 1, 1}, {mpToolbar, 1, 1}}}},
    {&TMainActions::actSaveProject,
     "actSaveProject",
     "File",
     "&Save project",
     "Save project",
     "Save project",
     "save",
     TEnableRule::ProjectModified,
     {{{mpFile, 1, 2}, {mpToolbar, 1, 2}}}},
    {&TMainActions::actSaveProjectAs,
     "actSaveProjectAs",
     "File",
     "S&ave project as...",
     "Save project as",
     "Save project as",
     "",
     TEnableRule::ProjectOpen,
     {{{mpFile, 1, 3}}}},
    {&TMainActions::actOpenProject,
     "actOpenProject",
     "File",
     "&Open project...",
     "Open project",
     "Open existing project",
     "open",
     TEnableRule::Always,
     {{{mpFile, 1, 4}, {mpToolbar, 1, 3}}}},
    {&TMainActions::actAddAlbum,
     "actAddAlbum",
     "Album",
     "&Add album wizard...",
     "Add album",
     "Start wizard to add new photo album",
     "addalbum",
     TEnableRule::ProjectOpen,
     {{{mpAlbum, 1, 1}, {mpToolbar, 2, 1}, {mpAlbumPopup, 1, 1}}}},
    {&TMainActions::actEditAlbum,
     "actEditAlbum",
     "Album",
     "&Edit album wizard...",
     "Edit album",
     "Start wizard to edit photo album",
     "album",
     TEnableRule::Album,
     {{{mpAlbum, 1, 2}, {mpToolbar, 2, 2}, {mpAlbumPopup, 1, 2}}}},
    {&TMainActions::actDeleteAlbum,
     "actDeleteAlbum",
     "Album",
     "&Delete album",
     "Delete album",
     "Delete photo album",
     "delete",
     TEnableRule::Album,
     {{{mpAlbum, 1, 3}, {mpToolbar, 2, 3}, {mpAlbumPopup, 1, 3}}}},
    {&TMainActions::actCategories,
     "actCategories",
     "Tools",
     "&Categories",
     "Categories",
     "Manage categories",
     "categories",
     TEnableRule::ProjectOpen,
     {{{mpTools, 1, 1}, {mpToolbar, 4, 1}}}},
    {&TMainActions::actSignatures,
     "actSignatures",
     "Tools",
     "&Signatures",
     "Signatures",
     "Manage signatures",
     "signatures",
     TEnableRule::ProjectOpen,
     {{{mpTools, 1, 2}, {mpToolbar, 4, 2}}}},
    {&TMainActions::actRenaming,
     "actRenaming",
     "Tools",
     "&Rename pictures",
     "Rename pictures",
     "Rename pictures in photo album",
     "rename",
     TEnableRule::Album,
     {{{mpTools, 1, 3}, {mpToolbar, 4, 3}}}},
    {&TMainActions::actDatabase,
     "actDatabase",
     "Tools",
     "&Database...",
     "Change data provider",
     "Change connection string to data provider",
     "database",
     TEnableRule::ProjectOpen,
     {{{mpTools, 2, 1}, {mpToolbar, 5, 1}}}},
    {&TMainActions::actSynchro,
     "actSynchro",
     "Tools",
     "Synchronization db <-> files...",
     "",
     "",
     "synchro",
     TEnableRule::Always,
     {}}, // the window's Tools entry triggers it
    {&TMainActions::actOption,
     "actOption",
     "Tools",
     "&Options...",
     "Options",
     "Options",
     "options",
     TEnableRule::ProjectOpen,
     {{{mpTools, 3, 1}, {mpToolbar, 5, 2}}}},
    {&TMainActions::actProcess,
     "actProcess",
     "Tools",
     "&Process",
     "Process",
     "Process pictures",
     "process",
     TEnableRule::ProjectOpen,
     {{{mpTools, 4, 1}, {mpToolbar, 3, 1}, {mpAlbumPopup, 2, 1}}}},
    {&TMainActions::actPublish,
     "actPublish",
     "Tools",
     "P&ublish...",
     "Publish",
     "Put the site on the web space, sending only what changed",
     "process",
     TEnableRule::ProjectOpen,
     {{{mpTools, 4, 2}, {mpToolbar, 3, 2}}}},
    {&TMainActions::actDeletePicture,
     "actDeletePicture",
     "Picture",
     "&Delete picture",
     "Delete picture",
     "Delete picture from photo album",
     "delete",
     TEnableRule::Picture,
     {{{mpPicture, 1, 1}, {mpPicturePopup, 1, 1}}}},
    {&TMainActions::actRotateCCW,
     "actRotateCCW",
     "Picture",
     "&Rotate picture counter-clockwise",
     "Rotate CCW",
     "Rotate counter-clockwise",
     "rotateccw",
     TEnableRule::Original,
     {{{mpPicture, 2, 1}, {mpPicturePopup, 2, 1}}}},
    {&TMainActions::actRotateCW,
     "actRotateCW",
     "Picture",
     "R&otate picture clockwise",
     "Rotate CW",
     "Rotate clockwise",
     "rotatecw",
     TEnableRule::Original,
     {{{mpPicture, 2, 2}, {mpPicturePopup, 2, 2}}}},
    {&TMainActions::actCloseProject,
     "actCloseProject",
     "File",
     "&Close project",
     "",
     "",
     "close",
     TEnableRule::ProjectOpen,
     {{{mpFile, 2, 1}}}},
    {&TMainActions::actExit,
     "actExit",
     "File",
     "&Exit",
     "Close",
     "Close application",
     "exit",
     TEnableRule::Always,
     {{{mpFile, 3, 1}, {mpToolbar, 7, 1}}}},
    {&TMainActions::actHelp,
     "actHelp",
     "Help",
     "&Help",
     "Help",
     "Help",
     "help",
     TEnableRule::Always,
     {{{mpHelp, 1, 1}, {mpToolbar, 6, 1}}}},
    {&TMainActions::actAbout,
     "actAbout",
     "Help",
     "&About",
     "About",
     "About",
     "about",
     TEnableRule::Always,
     {{{mpHelp, 2, 1}, {mpToolbar, 6, 2}}}},
    {&TMainActions::actRotate180,
     "actRotate180",
     "Picture",
     "&Picture u-turn",
     "Round",
     "Rotate round",
     "rotate180",
     TEnableRule::Original,
     {{{mpPicture, 2, 3}, {mpPicturePopup, 2, 3}}}},
    {&TMainActions::actFlip,
     "actFlip",
     "Picture",
     "P&icture flip",
     "Flip",
     "Horizontal flip",
     "flip",
     TEnableRule::Original,
     {{{mpPicture, 2, 4}, {mpPicturePopup, 2, 4}}}},
    {&TMainActions::actPrivatePicture,
     "actPrivatePicture",
     "Picture",
     "Pri&vate picture",
     "Private",
     "Mark picture as private",
     "",
     TEnableRule::Original,
     {{{mpPicture, 2, 5}, {mpPicturePopup, 2, 6}}}},
    {&TMainActions::actMarkDeleted,
     "actMarkDeleted",
     "Picture",
     "&Mark as deleted",
     "Delete",
     "Mark picture as delete",
     "",
     TEnableRule::Original,
     {{{mpPicture, 2, 6}, {mpPicturePopup, 2, 7}}}},
    {&TMainActions::actMakeFacePicture,
     "actMakeFacePicture",
     "Picture",
     "Ma&ke picture face for album",
     "Face",
     "Set picture as face of photo album",
     "",
     TEnableRule::Original,
     {{{mpPicture, 2, 7}, {mpPicturePopup, 2, 5}}}},
    {&TMainActions::actAssignCategory,
     "actAssignCategory",
     "Picture",
     "Pi&cture categories...",
     "Assign categories",
     "Assign categories to selected pictures",
     "categories",
     TEnableRule::Original,
     {{{mpPicture, 2, 8}, {mpPicturePopup, 2, 8}}}},
    {&TMainActions::actSignPicture,
     "actSignPicture",
     "Picture",
     "&Sign picture...",
     "Sign pictures",
     "Sign selected pictures",
     "signatures",
     TEnableRule::Original,
     {{{mpPicture, 2, 10}, {mpPicturePopup, 2, 10}}}},
    {&TMainActions::actRotateCCWAll,
     "actRotateCCWAll",
     "Picture",
     "Ro&tate counter clockwise all pictures in album",
     "Rotate all CCW",
     "Rotate all picture counter-clockwise",
     "rotateccw",
     TEnableRule::Original,
     {{{mpPicture, 3, 1}, {mpPicturePopup, 3, 1}}}},
    {&TMainActions::actRotateCWAll,
     "actRotateCWAll",
     "Picture",
     "Rotat&e clockwise all pictures in album",
     "Rotate all CW",
     "Rotate all picture clockwise",
     "rotatecw",
     TEnableRule::Original,
     {{{mpPicture, 3, 2}, {mpPicturePopup, 3, 2}}}},
    {&TMainActions::actRotate180All,
     "actRotate180All",
     "Picture",
     "&U-turn for all pictures in album",
     "Round allRotate all pictures round",
     "Round allRotate all pictures round",
     "rotate180",
     TEnableRule::Original,
     {{{mpPicture, 3, 3}, {mpPicturePopup, 3, 3}}}},
    {&TMainActions::actFlipAll,
     "actFlipAll",
     "Picture",
     "&Flip all pictures in album",
     "Flip all",
     "Flip all pictures",
     "flip",
     TEnableRule::Original,
     {{{mpPicture, 3, 4}, {mpPicturePopup, 3, 4}}}},
    {&TMainActions::actAlbumDetail,
     "actAlbumDetail",
     "Album",
     "A&lbum properties...",
     "Album properties",
     "View/Update album properties",
     "album",
     TEnableRule::Album,
     {{{mpAlbum, 2, 1}, {mpAlbumPopup, 3, 1}}}},
    {&TMainActions::actAssignCategoryAll,
     "actAssignCategoryAll",
     "Picture",
     "Assi&gn categories for all pictures...",
     "Assign categories",
     "Assign categories to all pictures",
     "categories",
     TEnableRule::Original,
     {{{mpPicture, 3, 5}, {mpPicturePopup, 3, 5}}}},
    {&TMainActions::actSignAllPictures,
     "actSignAllPictures",
     "Picture",
     "Sig&n all pictures...",
     "Sign all",
     "Sign all pictures",
     "signatures",
     TEnableRule::Original,
     {{{mpPicture, 3, 6}, {mpPicturePopup, 3, 6}}}},
    {&TMainActions::actPictureDetails,
     "actPictureDetails",
     "Picture",
     "Picture properties...",
     "Picture properties",
     "View/Update picture properties",
     "picture",
     TEnableRule::Original,
     {{{mpPicture, 4, 1}, {mpPicturePopup, 4, 1}}}},
    {&TMainActions::actProcessedPicture,
     "actProcessedPicture",
     "",
     "Set to be processed",
     "Set to processed",
     "Set to be processed",
     "",
     TEnableRule::Original,
     {{{mpPicturePopup, 5, 1}}}},
    {&TMainActions::actChangeBase,
     "actChangeBase",
     "",
     "Change base path...",
     "",
     "",
     "",
     TEnableRule::Always,
     {{{mpTools, 2, 3}}}},
    {&TMainActions::actRecreateTemp,
     "actRecreateTemp",
     "",
     "Recreate temp files",
     "",
     "",
     "",
     TEnableRule::Always,
     {{{mpTools, 2, 4}}}},
    {&TMainActions::actReadCaptions,
     "actReadCaptions",
     "Picture",
     "Read captions from &files",
     "Read captions",
     "Take titles and keywords from the selected pictures' files",
     "",
     TEnableRule::Original,
     {{{mpPicture, 2, 9}, {mpPicturePopup, 2, 9}}}},
};

} // namespace

void TMainActions::RefreshIcons() {
  for (const TActionInfo& info : kActions)
    if (*info.icon && this->*info.member)
      (this->*info.member)->setIcon(UiIcon(QString::fromLatin1(info.icon)));
}

void TMainActions::Create(QObject* owner) {
  for (const TActionInfo& info : kActions) {
    auto* a = new QAction(QString::fromLatin1(info.caption), owner);
    a->setObjectName(QString::fromLatin1(info.name));
    a->setProperty("category", QString::fromLatin1(info.category));
    if (*info.shortHint) a->setToolTip(QString::fromLatin1(info.shortHint));
    if (*info.longHint) a->setStatusTip(QString::fromLatin1(info.longHint));
    this->*info.member = a;
  }
  RefreshIcons();
  // Standard keys, shown in the menus. Enter and Delete belong to the picture view
  // (picturecommands.cpp), so that they never act while a text is being edited.
  actNewProject->setShortcut(QKeySequence::New);
  actOpenProject->setShortcut(QKeySequence::Open);
  actSaveProject->setShortcut(QKeySequence::Save);
  actExit->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_Q));
  actHelp->setShortcut(QKeySequence(Qt::Key_F1));
  actRotateCW->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_R));
  actRotateCCW->setShortcut(QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_R));
}

void TMainActions::ApplyEnableRules(const TActionState& state) const {
  for (const TActionInfo& info : kActions) {
    bool on = true;
    switch (info.enabled) {
    case TEnableRule::Always:
      break;
    case TEnableRule::ProjectOpen:
      on = state.ProjectOpen;
      break;
    case TEnableRule::ProjectModified:
      on = state.ProjectOpen && state.ProjectModified;
      break;
    case TEnableRule::Album:
      on = state.ProjectOpen && state.Album;
      break;
    case TEnableRule::Picture:
      on = state.ProjectOpen && state.Album && state.Picture;
      break;
    case TEnableRule::Original:
      on = state.ProjectOpen && state.Album && state.Picture && state.Original;
      break;
    }
    Enable(this->*info.member, on);
  }
}

void TMainActions::Fill(QWidget* target, TMenuPlace place) const {
  struct Placed {
    TMenuEntry entry;
    QAction* action;
  };
  std::vector<Placed> placed;
  for (const TActionInfo& info : kActions)
    for (const TMenuEntry& entry : info.places)
      if (entry.Place == place) placed.push_back({entry, this->*info.member});
  std::sort(placed.begin(), placed.end(), [](const Placed& a, const Placed& b) {
    return std::pair(a.entry.Group, a.entry.Order) < std::pair(b.entry.Group, b.entry.Order);
  });
  for (std::size_t i = 0; i < placed.size(); ++i) {
    if (i > 0 && placed[i].entry.Group != placed[i - 1].entry.Group) {
      auto* separator = new QAction(target);
      separator->setSeparator(true);
      target->addAction(separator);
    }
    target->addAction(placed[i].action);
  }
}

void TMainActions::InsertAfter(QWidget* target, const QAction* anchor, QAction* entry) {
  const QList<QAction*> entries = target->actions();
  const qsizetype at = entries.indexOf(anchor);
  if (at >= 0 && at + 1 < entries.size())
    target->insertAction(entries[at + 1], entry);
  else
    target->addAction(entry);
}

QList<QAction*> TMainActions::All() const {
  QList<QAction*> list;
  for (const TActionInfo& info : kActions)
    list.append(this->*info.member);
  return list;
}
