#pragma once
// The program's own pictures, kept as SVG in the ui library's resources:
//   ":/MAIN_LOGO" (400 x 300, the splash logo) and the list-view marks ":/MAIN_ACTION",
//   ":/MAIN_DELETE", ":/MAIN_PRIVATE", ":/MAIN_CATEGORY", ":/MAIN_SIGN", ":/MAIN_FACE" (16 x 16);
//   action icons ":/icons/<name>.svg" (24 x 24): new, open, save, close, album, addalbum,
//   process, options, database, categories, signatures, rotatecw, rotateccw, rotate180, flip,
//   delete, picture, rename, synchro, help, about, exit, app.
//
// Threads: InitUiResources once on the user-interface thread before any window is created
// (the program entry and the GUI tests call it); the image functions on any thread.
#include <QIcon>
#include <QImage>
#include <QPixmap>
#include <QSize>
#include <QString>

// Registers the resources of the ui library (needed because it is a static library).
void InitUiResources();
// A resource picture rendered at the given size (its own size when size is empty); a null image
// when the resource is missing or cannot be rendered.
QImage UiImage(const QString& name, QSize size = QSize());
QPixmap UiPixmap(const QString& name, QSize size = QSize());
// An action icon by short name ("open"), from ":/icons/<name>.svg"; on a dark palette its dark
// ink is drawn light (icons made before the palette changes keep their colours).
QIcon UiIcon(const QString& name);
