#include "ui/mainactions.h"

#include "ui/uiresources.h"

namespace {

struct TActionInfo {
  QAction* TMainActions::*member;
  const char* name;
  const char* category;
  const char* caption; // with the menu accelerator where the menu gives one
  const char* shortHint;
  const char* longHint;
  const char* icon;    // action image, empty for none
  TEnableRule enabled; // when the window enables it
};

// The action list of the action manager, in its order.
const TActionInfo kActions[] = {
    {&TMainActions::actNewProject, "actNewProject", "File", "&New project...", "New project",
     "Start new project", "new", TEnableRule::Always},
    {&TMainActions::actSaveProject, "actSaveProject", "File", "&Save project", "Save project",
     "Save project", "save", TEnableRule::ProjectModified},
    {&TMainActions::actSaveProjectAs, "actSaveProjectAs", "File", "S&ave project as...",
     "Save project as", "Save project as", "", TEnableRule::ProjectOpen},
    {&TMainActions::actOpenProject, "actOpenProject", "File", "&Open project...", "Open project",
     "Open existing project", "open", TEnableRule::Always},
    {&TMainActions::actAddAlbum, "actAddAlbum", "Album", "&Add album wizard...", "Add album",
     "Start wizard to add new photo album", "addalbum", TEnableRule::ProjectOpen},
    {&TMainActions::actEditAlbum, "actEditAlbum", "Album", "&Edit album wizard...", "Edit album",
     "Start wizard to edit photo album", "album", TEnableRule::Album},
    {&TMainActions::actDeleteAlbum, "actDeleteAlbum", "Album", "&Delete album", "Delete album",
     "Delete photo album", "delete", TEnableRule::Album},
    {&TMainActions::actCategories, "actCategories", "Tools", "&Categories", "Categories",
     "Manage categories", "categories", TEnableRule::ProjectOpen},
    {&TMainActions::actSignatures, "actSignatures", "Tools", "&Signatures", "Signatures",
     "Manage signatures", "signatures", TEnableRule::ProjectOpen},
    {&TMainActions::actRenaming, "actRenaming", "Tools", "&Rename pictures", "Rename pictures",
     "Rename pictures in photo album", "rename", TEnableRule::Album},
    {&TMainActions::actDatabase, "actDatabase", "Tools", "&Database...", "Change data provider",
     "Change connection string to data provider", "database", TEnableRule::ProjectOpen},
    {&TMainActions::actSynchro, "actSynchro", "Tools", "Synchronization db <-> files...", "", "",
     "synchro", TEnableRule::Always},
    {&TMainActions::actOption, "actOption", "Tools", "&Options...", "Options", "Options", "options",
     TEnableRule::ProjectOpen},
    {&TMainActions::actProcess, "actProcess", "Tools", "&Process", "Process", "Process pictures",
     "process", TEnableRule::ProjectOpen},
    {&TMainActions::actPublish, "actPublish", "Tools", "P&ublish...", "Publish",
     "Put the site on the web space, sending only what changed", "process",
     TEnableRule::ProjectOpen},
    {&TMainActions::actDeletePicture, "actDeletePicture", "Picture", "&Delete picture",
     "Delete picture", "Delete picture from photo album", "delete", TEnableRule::Picture},
    {&TMainActions::actRotateCCW, "actRotateCCW", "Picture", "&Rotate picture counter-clockwise",
     "Rotate CCW", "Rotate counter-clockwise", "rotateccw", TEnableRule::Original},
    {&TMainActions::actRotateCW, "actRotateCW", "Picture", "R&otate picture clockwise", "Rotate CW",
     "Rotate clockwise", "rotatecw", TEnableRule::Original},
    {&TMainActions::actCloseProject, "actCloseProject", "File", "&Close project", "", "", "close",
     TEnableRule::ProjectOpen},
    {&TMainActions::actExit, "actExit", "File", "&Exit", "Close", "Close application", "exit",
     TEnableRule::Always},
    {&TMainActions::actHelp, "actHelp", "Help", "&Help", "Help", "Help", "help",
     TEnableRule::Always},
    {&TMainActions::actAbout, "actAbout", "Help", "&About", "About", "About", "about",
     TEnableRule::Always},
    {&TMainActions::actRotate180, "actRotate180", "Picture", "&Picture u-turn", "Round",
     "Rotate round", "rotate180", TEnableRule::Original},
    {&TMainActions::actFlip, "actFlip", "Picture", "P&icture flip", "Flip", "Horizontal flip",
     "flip", TEnableRule::Original},
    {&TMainActions::actPrivatePicture, "actPrivatePicture", "Picture", "Pri&vate picture",
     "Private", "Mark picture as private", "", TEnableRule::Original},
    {&TMainActions::actMarkDeleted, "actMarkDeleted", "Picture", "&Mark as deleted", "Delete",
     "Mark picture as delete", "", TEnableRule::Original},
    {&TMainActions::actMakeFacePicture, "actMakeFacePicture", "Picture",
     "Ma&ke picture face for album", "Face", "Set picture as face of photo album", "",
     TEnableRule::Original},
    {&TMainActions::actAssignCategory, "actAssignCategory", "Picture", "Pi&cture categories...",
     "Assign categories", "Assign categories to selected pictures", "categories",
     TEnableRule::Original},
    {&TMainActions::actSignPicture, "actSignPicture", "Picture", "&Sign picture...",
     "Sign pictures", "Sign selected pictures", "signatures", TEnableRule::Original},
    {&TMainActions::actRotateCCWAll, "actRotateCCWAll", "Picture",
     "Ro&tate counter clockwise all pictures in album", "Rotate all CCW",
     "Rotate all picture counter-clockwise", "rotateccw", TEnableRule::Original},
    {&TMainActions::actRotateCWAll, "actRotateCWAll", "Picture",
     "Rotat&e clockwise all pictures in album", "Rotate all CW", "Rotate all picture clockwise",
     "rotatecw", TEnableRule::Original},
    {&TMainActions::actRotate180All, "actRotate180All", "Picture",
     "&U-turn for all pictures in album", "Round allRotate all pictures round",
     "Round allRotate all pictures round", "rotate180", TEnableRule::Original},
    {&TMainActions::actFlipAll, "actFlipAll", "Picture", "&Flip all pictures in album", "Flip all",
     "Flip all pictures", "flip", TEnableRule::Original},
    {&TMainActions::actAlbumDetail, "actAlbumDetail", "Album", "A&lbum properties...",
     "Album properties", "View/Update album properties", "album", TEnableRule::Album},
    {&TMainActions::actAssignCategoryAll, "actAssignCategoryAll", "Picture",
     "Assi&gn categories for all pictures...", "Assign categories",
     "Assign categories to all pictures", "categories", TEnableRule::Original},
    {&TMainActions::actSignAllPictures, "actSignAllPictures", "Picture", "Sig&n all pictures...",
     "Sign all", "Sign all pictures", "signatures", TEnableRule::Original},
    {&TMainActions::actPictureDetails, "actPictureDetails", "Picture", "Picture properties...",
     "Picture properties", "View/Update picture properties", "picture", TEnableRule::Original},
    {&TMainActions::actProcessedPicture, "actProcessedPicture", "", "Set to be processed",
     "Set to processed", "Set to be processed", "", TEnableRule::Original},
    {&TMainActions::actChangeBase, "actChangeBase", "", "Change base path...", "", "", "",
     TEnableRule::Always},
    {&TMainActions::actRecreateTemp, "actRecreateTemp", "", "Recreate temp files", "", "", "",
     TEnableRule::Always},
    {&TMainActions::actReadCaptions, "actReadCaptions", "Picture", "Read captions from &files",
     "Read captions", "Take titles and keywords from the selected pictures' files", "",
     TEnableRule::Original},
};

} // namespace

void TMainActions::Create(QObject* owner) {
  for (const TActionInfo& info : kActions) {
    auto* a = new QAction(QString::fromLatin1(info.caption), owner);
    a->setObjectName(QString::fromLatin1(info.name));
    a->setProperty("category", QString::fromLatin1(info.category));
    if (*info.shortHint) a->setToolTip(QString::fromLatin1(info.shortHint));
    if (*info.longHint) a->setStatusTip(QString::fromLatin1(info.longHint));
    if (*info.icon) a->setIcon(UiIcon(QString::fromLatin1(info.icon)));
    this->*info.member = a;
  }
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

QList<QAction*> TMainActions::All() const {
  QList<QAction*> list;
  for (const TActionInfo& info : kActions)
    list.append(this->*info.member);
  return list;
}
