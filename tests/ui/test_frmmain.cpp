// The main window: first start, the settings store, the project lifecycle, the enabling rules,
// the album list drawing, the close query and the coordination with the thumbnail loader.
#include "mainwindowtest.h"
#include "uitesthelpers.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/previewcache.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "processing/thumbnailthread.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/project/frmnewproject.h"
#include "ui/project/frmoptions.h"
#include "ui/picture/frmpicturedetail.h"
#include "ui/processing/frmprocessselection.h"
#include "ui/category/frmselectcategory.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/photolist/photolistview.h"
#include "ui/photolist/pictureviewer.h"
#include "ui/common/qtprompt.h"
#include "ui/common/settingsstore.h"
#include "ui/common/uiresources.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QRadioButton>
#include <QScreen>
#include <QScrollBar>
#include <QSettings>
#include <QSplitter>
#include <QTimer>
#include <QtTest>
#include <functional>

namespace {

const QString kRoot = QStringLiteral("Software/Kelm/LumenFold/2.0");

QStringList EnabledActions(const TfrmLumenFold2& w) {
  QStringList names;
  for (QAction* a : w.findChild<QObject*>(QStringLiteral("actxpMain"))->findChildren<QAction*>())
    if (a->isEnabled()) names << a->objectName();
  names.sort();
  return names;
}

QStringList Sorted(QStringList list) {
  list.sort();
  return list;
}

// Dark (text) pixels inside the rectangle of an image.
int DarkPixels(const QImage& image, QRect r) {
  r = r.intersected(image.rect());
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (qGray(image.pixel(x, y)) < 128) ++n;
  return n;
}

int PixelsLike(const QImage& image, QRect r, std::function<bool(QRgb)> test) {
  r = r.intersected(image.rect());
  int n = 0;
  for (int y = r.top(); y <= r.bottom(); ++y)
    for (int x = r.left(); x <= r.right(); ++x)
      if (test(image.pixel(x, y))) ++n;
  return n;
}

} // namespace

class TestFrmMain : public TMainWindowTest {
  Q_OBJECT

private:
  TLumenfoldAlbum* addAlbum(TfrmLumenFold2& w, const QString& folder, const QString& shortName) {
    auto* album = new TLumenfoldAlbum(w.Project());
    album->ShortName = shortName;
    album->LongName = shortName + QStringLiteral(" long name");
    album->Directory = QDir(folder).dirName();
    album->SetPath(folder);
    album->ImportFolder(folder);
    album->Loaded = true; // as the album wizard leaves it
    w.Project()->Albums.Insert(0, shortName, album);
    album->AttachPictures();
    album->SetDirty(true);
    w.FillAlbumList();
    return album;
  }

  void waitForLoader(TfrmLumenFold2& w) { QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000); }

private slots:
  void initTestCase() { InitUiResources(); }

  void init() {
    QFile::remove(LumenfoldSettingsFile());
    RecentProjects().clear();
    prompt.clear();
    prompt.answer = true;
  }

  void firstStartWithEmptyStore() {
    bool newChecked = false, existingEnabled = true, listEnabled = true;
    int listCount = -1;
    TModalHandler<TfrmFirst> handler([&](TfrmFirst* d) {
      newChecked = d->findChild<QRadioButton*>(QStringLiteral("rbnNew"))->isChecked();
      existingEnabled = d->findChild<QRadioButton*>(QStringLiteral("rbnExisting"))->isEnabled();
      auto* list = d->findChild<QListWidget*>(QStringLiteral("lbxExisting"));
      listEnabled = list->isEnabled();
      listCount = list->count();
      d->reject();
    });
    TfrmLumenFold2 w;
    w.show();
    QTRY_VERIFY(handler.done);
    QVERIFY(newChecked);
    QVERIFY(!existingEnabled);
    QVERIFY(!listEnabled);
    QCOMPARE(listCount, 0);
    // Cancel leaves the window empty.
    // The first start takes three quarters of the screen, centred.
    QRect first(QPoint(0, 0), QGuiApplication::primaryScreen()->availableGeometry().size() * 3 / 4);
    first.moveCenter(QGuiApplication::primaryScreen()->availableGeometry().center());
    QCOMPARE(w.geometry(), first);
    QCOMPARE(w.windowTitle(), QStringLiteral("LumenFold2"));
    QVERIFY(!w.findChild<QSplitter*>(QStringLiteral("splitterMain"))->isVisible());
    QVERIFY(!w.findChild<QWidget*>(QStringLiteral("pnlAlbums"))->isVisibleTo(&w));
    QVERIFY(w.findChild<QWidget*>(QStringLiteral("coolBarMain"))->isVisible());
    QCOMPARE(w.minimumSize(), QSize(440, 340));
  }

  void startDialogOffersRecentProjects() {
    // A stored recent list makes "Existing project" the choice, first entry selected; OK opens
    // it and remembers that "New project" was not chosen.
    TfrmLumenFold2 first;
    first.StartDialogOnShow = false;
    first.show();
    newProject(first, QStringLiteral("recent.lumenfold"));
    QVERIFY(first.SaveCurrentProject());
    first.close();

    QString selected;
    TModalHandler<TfrmFirst> handler([&](TfrmFirst* d) {
      QVERIFY(d->findChild<QRadioButton*>(QStringLiteral("rbnExisting"))->isChecked());
      auto* list = d->findChild<QListWidget*>(QStringLiteral("lbxExisting"));
      selected = list->currentItem() ? list->currentItem()->text() : QString();
      d->accept();
    });
    TfrmLumenFold2 w;
    w.show();
    QTRY_VERIFY(handler.done);
    QCOMPARE(selected, env.path(QStringLiteral("recent.lumenfold")));
    QTRY_COMPARE(w.windowTitle(), QStringLiteral("LumenFold2 - ") + selected);
    QVERIFY(!w.StartChoiceNew());
    QVERIFY(!w.Project()->Modified);
  }

  void recentListWritesAllAndReadsNine() {
    {
      TfrmLumenFold2 w;
      w.StartDialogOnShow = false;
      w.show();
      QStringList& recent = RecentProjects();
      recent.clear();
      for (int i = 0; i < 12; ++i)
        recent << QStringLiteral("/p/project%1.lumenfold").arg(i);
      QVERIFY(w.close());
    }
    {
      auto s = LumenfoldSettings();
      for (int i = 0; i < 12; ++i)
        QCOMPARE(s->value(kRoot + QStringLiteral("/First/Project%1").arg(i)).toString(),
                 QStringLiteral("/p/project%1.lumenfold").arg(i));
      QVERIFY(!s->contains(kRoot + QStringLiteral("/First/Project12")));
      // A gap is skipped on reading.
      s->remove(kRoot + QStringLiteral("/First/Project1"));
    }
    RecentProjects().clear();
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    QStringList expected;
    for (int i = 0; i < 9; ++i)
      if (i != 1) expected << QStringLiteral("/p/project%1.lumenfold").arg(i);
    QCOMPARE(RecentProjects(), expected);
  }

  void placementIsRestored() {
    {
      TfrmLumenFold2 w;
      w.StartDialogOnShow = false;
      w.show();
      w.setGeometry(120, 130, 640, 500);
      QVERIFY(w.close());
    }
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    QCOMPARE(w.geometry(), QRect(120, 130, 640, 500));
  }

  void newProjectThroughDialogCreatesDatabase() {
    const QString file = env.path(QStringLiteral("dialog.lumenfold"));
    const QString db = env.path(QStringLiteral("dialog.sqlite"));
    QFile::remove(db);
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    TModalHandler<TfrmNewProject> handler([&](TfrmNewProject* d) {
      d->findChild<QLineEdit*>(QStringLiteral("edtProject"))->setText(file);
      d->findChild<QLineEdit*>(QStringLiteral("edtDB"))
          ->setText(QStringLiteral("Provider=SQLite;Data Source=") + db);
      d->findChild<QPushButton*>(QStringLiteral("bbnOk"))->click();
    });
    w.Actions().actNewProject->trigger();
    QTRY_VERIFY(handler.done);
    QTRY_COMPARE(w.windowTitle(), QStringLiteral("LumenFold2 - ") + file);
    QVERIFY(QFileInfo::exists(db));
    QVERIFY(QFileInfo(db).size() > 0);
    QVERIFY(w.Project()->Modified);
    QVERIFY(w.Project()->ZipEnabled);
    QCOMPARE(QFileInfo(w.Project()->ZipFileName), QFileInfo(env.path("albums.zip")));
    QCOMPARE(RecentProjects().value(0), file);
    QVERIFY(w.findChild<QSplitter*>(QStringLiteral("splitterMain"))->isVisible());
    // The project file is written only by a save.
    QVERIFY(!QFileInfo::exists(file));
    QVERIFY(w.SaveCurrentProject());
    QVERIFY(QFileInfo::exists(file));
  }

  void openSaveRoundTrip() {
    const QString folder = makeAlbumFolder(3);
    QString file;
    {
      TfrmLumenFold2 w;
      w.StartDialogOnShow = false;
      w.show();
      newProject(w, QStringLiteral("round.lumenfold"));
      file = w.Project()->FileName;
      addAlbum(w, folder, QStringLiteral("Rome"));
      waitForLoader(w);
      QVERIFY(w.SaveCurrentProject());
      QVERIFY(!w.Project()->Modified);
      QVERIFY(!w.Actions().actSaveProject->isEnabled());
      QCOMPARE(w.windowTitle(), QStringLiteral("LumenFold2 - ") + file);
      QVERIFY(w.close());
    }
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    // Letter case differs from the stored entry: the entry moves up instead of doubling.
    RecentProjects() = QStringList{QStringLiteral("/other.lumenfold"), file.toUpper()};
    w.OpenProjectFile(file);
    QCOMPARE(RecentProjects().size(), 2);
    QCOMPARE(RecentProjects().value(0), file.toUpper());
    QCOMPARE(w.windowTitle(), QStringLiteral("LumenFold2 - ") + file);
    QVERIFY(!w.Project()->Modified);
    auto* list = w.findChild<QListWidget*>(QStringLiteral("lbxAlbums"));
    QCOMPARE(list->count(), 1);
    QVERIFY(w.CurrentAlbum());
    QCOMPARE(w.CurrentAlbum()->ShortName, QStringLiteral("Rome"));
    QCOMPARE(w.CurrentAlbum()->Pictures.Count(), 3);
    QCOMPARE(w.PictureView()->Count(), 3);
    QCOMPARE(w.StatusPanel(1)->text(), QStringLiteral("3 pictures"));
    QCOMPARE(w.findChild<QLabel*>(QStringLiteral("lblAlbumPath"))->text(), folder);
    waitForLoader(w);
    // Close project empties the window without a question.
    w.Actions().actCloseProject->trigger();
    QCOMPARE(w.windowTitle(), QStringLiteral("LumenFold2"));
    QCOMPARE(list->count(), 0);
    QCOMPARE(w.PictureView()->Count(), 0);
    QVERIFY(!w.CurrentAlbum());
  }

  void startPageRecentMenuAndEmptyStates() {
    // A saved project, a missing one and ten more: the menu and the start page list the first
    // ten in order, the missing one shown but not openable; a recent entry opens its project.
    QString file;
    {
      TfrmLumenFold2 w;
      w.StartDialogOnShow = false;
      w.show();
      newProject(w, QStringLiteral("start.lumenfold"));
      QVERIFY(w.SaveCurrentProject());
      file = w.Project()->FileName;
      QVERIFY(w.close());
    }
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    RecentProjects() = QStringList{file, env.path(QStringLiteral("gone.lumenfold"))};
    for (int i = 0; i < 10; ++i)
      RecentProjects() << QStringLiteral("/p/project%1.lumenfold").arg(i);
    w.UpdateView();
    auto* page = w.findChild<QWidget*>(QStringLiteral("pnlStart"));
    auto* list = w.findChild<QListWidget*>(QStringLiteral("lbxStartRecent"));
    QVERIFY(page->isVisible());
    QCOMPARE(list->count(), 10);
    QVERIFY(list->item(0)->flags() & Qt::ItemIsEnabled);
    QVERIFY(!(list->item(1)->flags() & Qt::ItemIsEnabled));
    auto* menu = w.findChild<QMenu*>(QStringLiteral("mnuOpenRecent"));
    emit menu->aboutToShow();
    const QList<QAction*> entries = menu->actions();
    QCOMPARE(entries.size(), 10);
    QCOMPARE(entries.value(0)->text(), file);
    QVERIFY(entries.value(0)->isEnabled() && !entries.value(1)->isEnabled());
    QVERIFY(entries.value(9)->text().startsWith(QStringLiteral("/p/project7.lumenfold")));

    emit list->itemActivated(list->item(0));
    QCOMPARE(w.Project()->FileName, file);
    QVERIFY(!page->isVisible());
    // No albums yet: the picture side offers the wizard instead of an empty list.
    QVERIFY(w.findChild<QWidget*>(QStringLiteral("pnlEmptyProject"))->isVisible());
    QVERIFY(!w.PictureView()->isVisible());
    addAlbum(w, makeAlbumFolder(1), QStringLiteral("Rome"));
    QVERIFY(!w.findChild<QWidget*>(QStringLiteral("pnlEmptyProject"))->isVisible());
    QVERIFY(w.PictureView()->isVisible());
    QVERIFY(!w.findChild<QLabel*>(QStringLiteral("lblEmptyAlbum"))->isVisible());
    waitForLoader(w);
  }

  void viewerMovesInViewOrderAndStopsAtTheEnds() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    newProject(w);
    addAlbum(w, makeAlbumFolder(3), QStringLiteral("Three"));
    waitForLoader(w);
    TphotoListView* view = w.PictureView();
    view->SetSelected(1, true);
    QCOMPARE(w.CurrentPicture(), view->Picture(1));
    // The list's largest preview stands in at once, until the sharp picture is decoded.
    const QString preview = view->Picture(1)->TempThumbPath();
    QVERIFY(QFile::copy(preview, PreviewStepPath(preview, kPreviewSteps - 1)));
    view->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    TPictureViewer* viewer = w.Viewer();
    QVERIFY(viewer->ShowsStandIn() && !viewer->Ready());
    QTRY_VERIFY(viewer->isVisible() && viewer->Ready());
    QVERIFY(!viewer->ShowsStandIn());
    QVERIFY2(viewer->Problem().isEmpty(), qPrintable(viewer->Problem()));
    QVERIFY(!view->isVisible());
    QCOMPARE(viewer->Index(), 1);
    // The neighbours are decoded ahead: moving on shows the next picture at once.
    QTRY_VERIFY(viewer->HasDecoded(0) && viewer->HasDecoded(2));
    QTest::keyClick(viewer, Qt::Key_Right);
    QVERIFY(viewer->Ready());
    QTest::keyClick(viewer, Qt::Key_Left);
    const struct {
      Qt::Key key;
      int index;
    } steps[] = {{Qt::Key_Right, 2}, {Qt::Key_Right, 2}, {Qt::Key_Home, 0}, {Qt::Key_Left, 0}};
    for (const auto& step : steps) {
      QTest::keyClick(viewer, step.key);
      QCOMPARE(viewer->Index(), step.index);
    }
    QTest::keyClick(viewer, Qt::Key_Escape);
    QVERIFY(!viewer->isVisible());
    QVERIFY(view->isVisible());
    QCOMPARE(w.CurrentPicture(), view->Picture(0));
  }

  void viewerDecodesFinerAfterTheWindowGrows() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.resize(700, 500);
    w.show();
    newProject(w);
    addAlbum(w, makeAlbumFolder(1, 2400, 1800), QStringLiteral("Large"));
    waitForLoader(w);
    TphotoListView* view = w.PictureView();
    view->SetSelected(0, true);
    view->setFocus();
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Space);
    TPictureViewer* viewer = w.Viewer();
    QTRY_VERIFY(viewer->Ready() && viewer->HasDecoded(0));
    // The original has more pixels than either window shows: the larger one gets its own decode
    // once the window has stopped changing.
    w.resize(1400, 1000);
    QTRY_VERIFY(viewer->width() > 1000);
    QTRY_VERIFY(viewer->HasDecoded(0) && viewer->Ready());
  }

  void openingAMissingFileWarns() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    const QString missing = env.path(QStringLiteral("nothing-here.lumenfold"));
    w.OpenProjectFile(missing);
    QCOMPARE(prompt.warnings().value(0),
             QStringLiteral("Project file was not load correctly.\n") + missing);
    QCOMPARE(w.windowTitle(), QStringLiteral("LumenFold2"));
    QVERIFY(!RecentProjects().contains(missing));
  }

  void enableActionsInEachState() {
    const QStringList always = {"actNewProject", "actOpenProject", "actExit",         "actHelp",
                                "actAbout",      "actChangeBase",  "actRecreateTemp", "actSynchro"};
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    QCOMPARE(EnabledActions(w), Sorted(always));

    newProject(w);
    QStringList open = always;
    open << "actSaveProjectAs"
         << "actCloseProject"
         << "actAddAlbum"
         << "actDatabase"
         << "actOption"
         << "actCategories"
         << "actSignatures"
         << "actProcess"
         << "actPublish";
    QCOMPARE(EnabledActions(w), Sorted(QStringList(open) << "actSaveProject"));
    QVERIFY(w.SaveCurrentProject());
    QCOMPARE(EnabledActions(w), Sorted(open));

    const QString folder = makeAlbumFolder(2);
    addAlbum(w, folder, QStringLiteral("Two"));
    waitForLoader(w);
    QStringList album = open;
    album << "actSaveProject"
          << "actDeleteAlbum"
          << "actAlbumDetail"
          << "actEditAlbum"
          << "actRenaming";
    QCOMPARE(EnabledActions(w), Sorted(album));

    w.PictureView()->SetSelected(0, true);
    QVERIFY(w.CurrentPicture());
    QStringList picture = album;
    picture << "actDeletePicture"
            << "actRotateCW"
            << "actRotateCCW"
            << "actRotate180"
            << "actFlip"
            << "actMakeFacePicture"
            << "actPrivatePicture"
            << "actMarkDeleted"
            << "actRotateCCWAll"
            << "actRotateCWAll"
            << "actRotate180All"
            << "actFlipAll"
            << "actProcessedPicture"
            << "actPictureDetails"
            << "actAssignCategory"
            << "actSignPicture"
            << "actAssignCategoryAll"
            << "actSignAllPictures"
            << "actReadCaptions";
    QCOMPARE(EnabledActions(w), Sorted(picture));

    // Without its original only the delete command is left for the picture.
    QVERIFY(QFile::remove(w.CurrentPicture()->OriginalPath()));
    w.EnableActions();
    QCOMPARE(EnabledActions(w), Sorted(QStringList(album) << "actDeletePicture"));

    // Every documented action exists and is placed somewhere.
    for (const char* name :
         {"actAddAlbum", "actEditAlbum", "actCategories", "actSignatures", "actRenaming",
          "actSynchro", "actProcess", "actPictureDetails", "actAssignCategory", "actSignPicture",
          "actAssignCategoryAll", "actSignAllPictures"})
      QVERIFY2(w.findChild<QAction*>(QString::fromLatin1(name)), name);

    // Every action has its command now: an action without one would stay disabled for good.
    for (QAction* a : w.Actions().All())
      QVERIFY2(TMainActions::IsWired(a), qPrintable(a->objectName()));
  }

  void processAndProcessAndZipReportHowTheRunEnded() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2);
    addAlbum(w, folder, QStringLiteral("Two"));
    waitForLoader(w);
    QVERIFY(w.Actions().actProcess->isEnabled());
    TBoxAnswerer answer(QMessageBox::Ok);
    // The list paints the pictures (their modified marks) while the run hands its results over;
    // the ThreadSanitizer stage sees any write of the run thread that the painting races with.
    auto* list = w.findChild<QWidget*>(QStringLiteral("lvwMain"));
    int repaints = 0;
    QTimer painter;
    connect(&painter, &QTimer::timeout, list, [&] {
      list->repaint();
      ++repaints;
    });
    painter.start(1);
    {
      TModalHandler<TfrmProcessSelection> ok([](TfrmProcessSelection* d) {
        d->findChild<QPushButton*>(QStringLiteral("bbnOk"))->click();
      });
      w.Actions().actProcess->trigger();
      QVERIFY(ok.done);
    }
    QCOMPARE(answer.texts, QStringList({"Processing finished successfully."}));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/ps_medium/m_pic00.jpg")));
    QVERIFY(!w.CurrentAlbum()->Pictures.Pictures(1)->Modified);
    QVERIFY(repaints > 0);

    // "Process and zip" of the album: the album checked, zip on.
    bool preset = false;
    {
      TModalHandler<TfrmProcessSelection> ok([&](TfrmProcessSelection* d) {
        preset = d->Zip() && !d->AllModifiedMode();
        d->findChild<QPushButton*>(QStringLiteral("bbnOk"))->click();
      });
      QFile::remove(w.Project()->ZipFileName);
      w.findChild<QAction*>(QStringLiteral("mniProcessAndZip"))->trigger();
      QVERIFY(ok.done);
    }
    QVERIFY(preset);
    QCOMPARE(answer.texts.size(), 2);
    QCOMPARE(answer.texts.last(), QStringLiteral("Processing finished successfully."));
    QVERIFY(QFileInfo::exists(w.Project()->ZipFileName));
  }

  void menusAndHints() {
    TfrmLumenFold2 w;
    QAction* open = w.Actions().actOpenProject;
    QCOMPARE(open->toolTip(), QStringLiteral("Open project"));
    QCOMPARE(open->statusTip(), QStringLiteral("Open existing project"));
    auto* bar = w.findChild<QWidget*>(QStringLiteral("actMainMenuBar"));
    QVERIFY(bar);
    QStringList titles;
    for (QAction* a : bar->actions())
      titles << a->text();
    QCOMPARE(titles, QStringList({"&File", "&Album", "&Picture", "&Tools", "&Help"}));
    auto* toolbar = w.findChild<QWidget*>(QStringLiteral("actMainToolbar"));
    int buttons = 0;
    for (QAction* a : toolbar->actions())
      if (!a->isSeparator()) ++buttons;
    QCOMPARE(buttons, 16);
    auto* popup = w.findChild<QWidget*>(QStringLiteral("pmnPictures"));
    QVERIFY(popup->actions().contains(w.Actions().actProcessedPicture));
    // A hint of the application lands in status panel 0.
    QStatusTipEvent tip(QStringLiteral("Start new project"));
    QApplication::sendEvent(&w, &tip);
    QCOMPARE(w.StatusPanel(0)->text(), QStringLiteral("Start new project"));
  }

  void albumListColoursAndBold() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.resize(700, 500);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    newProject(w);
    const QString goneFolder = makeAlbumFolder(1);
    TLumenfoldAlbum* gone = addAlbum(w, goneFolder, QStringLiteral("Gone"));
    TLumenfoldAlbum* here = addAlbum(w, makeAlbumFolder(2), QStringLiteral("Here"));
    waitForLoader(w);
    QVERIFY(QDir(goneFolder).removeRecursively());
    auto* list = w.findChild<QListWidget*>(QStringLiteral("lbxAlbums"));
    QCOMPARE(list->count(), 2);
    // Row 0 ("Here") is selected; row 1 ("Gone") is drawn in maroon on the window colour.
    QCOMPARE(list->currentRow(), 0);
    const QRect goneRow = list->visualItemRect(list->item(1));
    const QRect hereRow = list->visualItemRect(list->item(0));
    QVERIFY(goneRow.height() >= 3 * list->fontMetrics().height() + 4);

    auto maroon = [](QRgb c) { return qRed(c) > 0x50 && qGreen(c) < 0x30 && qBlue(c) < 0x30; };
    auto navy = [](QRgb c) { return qBlue(c) > 0x50 && qRed(c) < 0x30 && qGreen(c) < 0x30; };
    QImage image = list->viewport()->grab().toImage();
    QVERIFY(PixelsLike(image, goneRow, maroon) > 10);
    QCOMPARE(PixelsLike(image, goneRow, navy), 0);

    // Selected and missing: yellow.
    w.SelectAlbum(1);
    image = list->viewport()->grab().toImage();
    auto yellow = [](QRgb c) { return qRed(c) > 0xd0 && qGreen(c) > 0xd0 && qBlue(c) < 0x40; };
    QVERIFY(PixelsLike(image, goneRow, yellow) > 10);

    // A loaded album with an existing folder, not selected: navy; bold while a picture waits
    // for processing.
    QVERIFY(here->Loaded);
    for (int i = 0; i < here->Pictures.Count(); ++i)
      here->Pictures.Pictures(i)->Modified = false;
    list->viewport()->repaint();
    image = list->viewport()->grab().toImage();
    QVERIFY(PixelsLike(image, hereRow, navy) > 10);
    const int h = list->fontMetrics().height();
    const QRect firstLine(hereRow.left(), hereRow.top() + 2, hereRow.width() - 60, h);
    const int regular = DarkPixels(image, firstLine);
    here->Pictures.Pictures(0)->Modified = true;
    list->viewport()->repaint();
    image = list->viewport()->grab().toImage();
    const int bold = DarkPixels(image, firstLine);
    QVERIFY2(bold > regular + regular / 10,
             qPrintable(QStringLiteral("%1 vs %2").arg(bold).arg(regular)));
    QVERIFY(gone);
  }

  void closeQueryCancelWritesNothing() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    QVERIFY(w.Project()->Modified);
    {
      TBoxAnswerer cancel(QMessageBox::Cancel);
      QVERIFY(!w.close());
      QCOMPARE(cancel.texts, QStringList{"Project was modified. Would you like to save?"});
    }
    QVERIFY(w.isVisible());
    QVERIFY(!QFileInfo::exists(w.Project()->FileName));
    QVERIFY(!LumenfoldSettings()->contains(kRoot + QStringLiteral("/frmMain/Position/Width")));
    {
      // Close project asks the same question; Cancel keeps the project open.
      TBoxAnswerer cancel(QMessageBox::Cancel);
      w.Actions().actCloseProject->trigger();
      QCOMPARE(cancel.texts.size(), 1);
      QVERIFY(w.IsProjectOpen());
    }
    {
      TBoxAnswerer no(QMessageBox::No);
      QVERIFY(w.close());
    }
    QVERIFY(!QFileInfo::exists(w.Project()->FileName));
    QCOMPARE(LumenfoldSettings()->value(kRoot + QStringLiteral("/frmMain/Position/Width")).toInt(),
             w.width());
  }

  void closeQueryYesSaves() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w, QStringLiteral("yes.lumenfold"));
    TBoxAnswerer yes(QMessageBox::Yes);
    QVERIFY(w.close());
    QVERIFY(QFileInfo::exists(env.path(QStringLiteral("yes.lumenfold"))));
  }

  void failedSaveIsShownAndKeepsModified() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    w.Project()->FileName = env.path(QStringLiteral("no-such-folder/site.lumenfold"));
    prompt.clear();
    QVERIFY(!w.SaveCurrentProject());
    QVERIFY(!prompt.errors().isEmpty());
    QVERIFY(w.Project()->Modified);
    QVERIFY(w.Actions().actSaveProject->isEnabled());
    QVERIFY(!RecentProjects().contains(w.Project()->FileName));
    // Answering Yes to the close query with a failing save keeps the window open.
    TBoxAnswerer yes(QMessageBox::Yes);
    QVERIFY(!w.close());
    QVERIFY(w.isVisible());
    w.Project()->Modified = false;
  }

  void viewModeAndSameAlbumSelection() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    addAlbum(w, makeAlbumFolder(3), QStringLiteral("Modes"));
    waitForLoader(w);
    TphotoListView* view = w.PictureView();
    QCOMPARE(view->ViewStyle(), TphotoListView::vsIcon);
    w.findChild<QRadioButton*>(QStringLiteral("rbnReport"))->click();
    QCOMPARE(view->ViewStyle(), TphotoListView::vsReport);
    QCOMPARE(view->Caption(1), QStringLiteral("pic01.jpg"));
    QCOMPARE(view->ColumnWidth(0), 0);
    QVERIFY(!view->ReadOnly());
    w.findChild<QRadioButton*>(QStringLiteral("rbnThumbnails"))->click();
    QCOMPARE(view->ViewStyle(), TphotoListView::vsIcon);
    QCOMPARE(view->Caption(1), QStringLiteral("1"));
    QVERIFY(view->ReadOnly());

    // Selecting the album that is already current does not refill the view.
    QSignalSpy refilled(view->Model(), &QAbstractItemModel::modelReset);
    w.SelectAlbum(0);
    QCOMPARE(refilled.count(), 0);
    QVERIFY(!w.ThumbnailLoader());
  }

  void fileNameEditRenamesWithJpgExtension() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2);
    addAlbum(w, folder, QStringLiteral("Edit"));
    waitForLoader(w);
    w.findChild<QRadioButton*>(QStringLiteral("rbnReport"))->click();
    TphotoListView* view = w.PictureView();
    emit view->CaptionEdited(0, QStringLiteral("beach.png"));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/beach.jpg")));
    QVERIFY(!QFileInfo::exists(folder + QStringLiteral("/pic00.jpg")));
    QCOMPARE(view->SubItem(0, 1), QStringLiteral("beach.jpg"));
    // The rename is saved at once, so the database keeps up with the file on disk.
    QVERIFY(!w.Project()->Modified);
    emit view->CaptionEdited(1, QStringLiteral("dunes"));
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/dunes.jpg")));
    QVERIFY(!w.Project()->Modified);
    // A name that is taken leaves the picture as it was and says so.
    prompt.clear();
    emit view->CaptionEdited(1, QStringLiteral("beach"));
    QCOMPARE(prompt.errors().size(), 1);
    QVERIFY(QFileInfo::exists(folder + QStringLiteral("/dunes.jpg")));
    QCOMPARE(view->SubItem(1, 1), QStringLiteral("dunes.jpg"));
  }

  void deletePictureRemovesSelected() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(5);
    addAlbum(w, folder, QStringLiteral("Del"));
    waitForLoader(w);
    QVERIFY(w.SaveCurrentProject());
    TphotoListView* view = w.PictureView();
    for (int row : {0, 2, 4})
      view->SetSelected(row, true);
    prompt.answer = true;
    qputenv("XDG_DATA_HOME", env.makeFolder(QStringLiteral("data")).toLocal8Bit());
    w.Actions().actDeletePicture->trigger();
    // The question names the files and where they go.
    const QString question = prompt.questions().value(0);
    QVERIFY(question.startsWith(QStringLiteral("Are you sure you want to delete picture?")));
    QVERIFY(question.contains(QStringLiteral("moved to the desktop's trash")));
    QVERIFY(question.contains(folder + QStringLiteral("/pic00.jpg")));
    QVERIFY(question.contains(folder + QStringLiteral("/pic04.jpg")));
    QCOMPARE(view->Count(), 2);
    QCOMPARE(w.CurrentAlbum()->Pictures.Count(), 2);
    QCOMPARE(QDir(folder).entryList({"*.jpg"}, QDir::Files),
             QStringList({"pic01.jpg", "pic03.jpg"}));
    QCOMPARE(w.StatusPanel(1)->text(), QStringLiteral("2 pictures"));
    QVERIFY(!w.CurrentPicture());
    // The originals are in the trash, not gone.
    const QStringList trashed =
        QDir(env.path(QStringLiteral("data/Trash/files"))).entryList({"pic*.jpg"}, QDir::Files);
    QCOMPARE(trashed, QStringList({"pic00.jpg", "pic02.jpg", "pic04.jpg"}));
    waitForLoader(w);
  }

  void pictureCommandsOpenTheirDialogsWithTheLoaderStopped() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    newProject(w);
    const QString folder = makeAlbumFolder(3);
    addAlbum(w, folder, QStringLiteral("Props"));
    waitForLoader(w);
    auto* category = new TLumenfoldCategory;
    category->Title = QStringLiteral("Boats");
    QVERIFY(category->Insert());
    w.Project()->Categories.Add(category->Title, category);
    TphotoListView* view = w.PictureView();
    view->SetSelected(1, true);
    TLumenfoldPicture* picture = w.CurrentPicture();
    QVERIFY(picture);
    for (QAction* a :
         {w.Actions().actPictureDetails, w.Actions().actAssignCategory, w.Actions().actSignPicture,
          w.Actions().actAssignCategoryAll, w.Actions().actSignAllPictures,
          w.Actions().actCategories, w.Actions().actSignatures})
      QVERIFY2(a->isEnabled(), qPrintable(a->objectName()));

    // Double-click: the dialog edits a copy; the loader is not running meanwhile; OK copies back.
    bool loaderRan = true;
    TModalHandler<TfrmPictureDetail> edit([&](TfrmPictureDetail* d) {
      loaderRan = w.ThumbnailLoader() != nullptr;
      child<QLineEdit>(d, "edtTitle")->setText(QStringLiteral("Harbour"));
      child<QPushButton>(d, "bbnOk")->click();
    });
    emit view->ItemDoubleClicked(1);
    QTRY_VERIFY(edit.done);
    QVERIFY(!loaderRan);
    QCOMPARE(picture->Title, QStringLiteral("Harbour"));
    QVERIFY(picture->Dirty && picture->Modified);

    // Enter in the picture view opens the dialog too.
    TModalHandler<TfrmPictureDetail> enter([](TfrmPictureDetail* d) { d->reject(); });
    w.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&w));
    view->IconList()->setFocus();
    QTRY_VERIFY(view->IconList()->hasFocus());
    QTest::keyClick(view->IconList(), Qt::Key_Return);
    QTRY_VERIFY(enter.done);

    // Per-item button 7 assigns categories; the tooltip then names them and the signatures.
    TModalHandler<TfrmSelectCategory> assign([](TfrmSelectCategory* d) {
      child<QListWidget>(d, "lbxCategories")->item(0)->setCheckState(Qt::Checked);
      child<QPushButton>(d, "bbnOk")->click();
    });
    view->OnActionClick(view, 7);
    QTRY_VERIFY(assign.done);
    QCOMPARE(picture->CategoryIds, QStringList{QString::number(category->Id)});
    QCOMPARE(view->ItemHint(1),
             QStringLiteral("Categories:\nBoats\nThumbnail signature: <no signature>\n"
                            "Large/medium signature: <no signature>"));
    TModalHandler<TfrmSelectSignature> sign([](TfrmSelectSignature* d) { d->reject(); });
    view->OnActionClick(view, 8);
    QTRY_VERIFY(sign.done);
    waitForLoader(w);

    // Standard keys are on the actions and so in the menus.
    QCOMPARE(w.Actions().actSaveProject->shortcut(), QKeySequence(QKeySequence::Save));
    QCOMPARE(w.Actions().actRotateCW->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_R));
    // Columns fit their content while the details list shows, and only then (a hidden list
    // measured its rows for every preview that arrived).
    for (auto style : {TphotoListView::vsReport, TphotoListView::vsIcon}) {
      view->SetViewStyle(style);
      QCOMPARE(view->ReportList()->header()->sectionResizeMode(5) == QHeaderView::ResizeToContents,
               style == TphotoListView::vsReport);
    }
  }

  // "Read captions from files" asks once before replacing a title the user has set.
  void readCaptionsAsksBeforeReplacingTitles() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2);
    QCOMPARE(QProcess::execute("exiftool", {"-q", "-overwrite_original", "-XMP-dc:Title=Harbour",
                                            folder + "/pic01.jpg"}),
             0);
    addAlbum(w, folder, QStringLiteral("Captions"));
    waitForLoader(w);
    w.PictureView()->SetSelected(1, true);
    TLumenfoldPicture* picture = w.CurrentPicture();
    QCOMPARE(picture->Title, QStringLiteral("Harbour")); // taken at import
    picture->Title = QStringLiteral("Mine");
    TBoxAnswerer answer(QMessageBox::Ok);
    for (bool yes : {false, true}) {
      prompt.answer = yes;
      w.Actions().actReadCaptions->trigger();
      QCOMPARE(picture->Title, yes ? QStringLiteral("Harbour") : QStringLiteral("Mine"));
    }
    QCOMPARE(prompt.questions().size(), 2);
    QTRY_COMPARE(answer.texts.size(), 2);
    QVERIFY2(answer.texts[0].contains("kept their own titles"), qPrintable(answer.texts[0]));
    waitForLoader(w);
  }

  void optionsCommandMarksModified() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    QVERIFY(w.SaveCurrentProject());
    const int width = w.Project()->ThumbWidth;
    {
      // Cancel changes nothing.
      TModalHandler<TfrmOptions> cancel([](TfrmOptions* d) { d->reject(); });
      w.Actions().actOption->trigger();
      QVERIFY(cancel.done);
      QVERIFY(!w.Project()->Modified);
    }
    TModalHandler<TfrmOptions> ok([](TfrmOptions* d) {
      d->Project().ThumbWidth = 321;
      d->findChild<QPushButton*>(QStringLiteral("bbnOk"))->click();
    });
    w.Actions().actOption->trigger();
    QVERIFY(ok.done);
    QVERIFY(w.Project()->Modified);
    QVERIFY(w.Actions().actSaveProject->isEnabled());
    QVERIFY(w.Project()->ThumbWidth != width);
  }

  void changeDatabaseReloadsAlbums() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    addAlbum(w, makeAlbumFolder(2), QStringLiteral("First"));
    waitForLoader(w);
    QVERIFY(w.SaveCurrentProject());
    const QString file = w.Project()->FileName;
    const QString other = env.newDatabase(QStringLiteral("other.sqlite"));
    w.ChangeDatabase(other);
    QCOMPARE(CurrentConnectionString(), other);
    QCOMPARE(w.Project()->ConnectionString, other);
    QCOMPARE(w.Project()->Albums.Count(), 0);
    QCOMPARE(w.findChild<QListWidget*>(QStringLiteral("lbxAlbums"))->count(), 0);
    QCOMPARE(w.PictureView()->Count(), 0);
    QVERIFY(!w.CurrentAlbum());
    QVERIFY(w.Project()->Modified);
    QCOMPARE(w.windowTitle(), QStringLiteral("LumenFold2 - ") + file);
  }

  void deleteAlbumAsksAndRefills() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString keptFolder = makeAlbumFolder(1);
    addAlbum(w, keptFolder, QStringLiteral("Kept"));
    addAlbum(w, makeAlbumFolder(2), QStringLiteral("Dropped"));
    waitForLoader(w);
    QVERIFY(w.SaveCurrentProject());
    QCOMPARE(w.CurrentAlbum()->ShortName, QStringLiteral("Dropped"));
    prompt.answer = false;
    w.Actions().actDeleteAlbum->trigger();
    QVERIFY(prompt.questions().value(0).startsWith(
        QStringLiteral("Do you really want to delete album \"Dropped\"?")));
    QCOMPARE(w.Project()->Albums.Count(), 2);
    {
      // In the real question box Enter answers No.
      QtPrompt boxes;
      boxes.install();
      DialogHandler<QMessageBox> enter(
          [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
      w.Actions().actDeleteAlbum->trigger();
      QCOMPARE(enter.count, 1);
    }
    QCOMPARE(w.Project()->Albums.Count(), 2);
    prompt.answer = true;
    w.Actions().actDeleteAlbum->trigger();
    QCOMPARE(w.Project()->Albums.Count(), 1);
    auto* list = w.findChild<QListWidget*>(QStringLiteral("lbxAlbums"));
    QCOMPARE(list->count(), 1);
    QCOMPARE(w.CurrentAlbum()->ShortName, QStringLiteral("Kept"));
    QCOMPARE(w.PictureView()->Count(), 1);
    waitForLoader(w);
    // The deleted album is gone from the database too.
    TfrmLumenFold2 again;
    again.StartDialogOnShow = false;
    again.show();
    again.OpenProjectFile(w.Project()->FileName);
    QCOMPARE(again.Project()->Albums.Count(), 1);
    waitForLoader(again);
  }

  // Opening every album is no edit; what the loader learns meanwhile about an original edited
  // elsewhere (its preview gone too) is stored all the same, so processing takes the picture.
  void lookingAtAlbumsLeavesTheProjectUnmodified() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    QStringList folders;
    for (const char* name : {"North", "South"})
      folders << addAlbum(w, makeAlbumFolder(2), name)->Path;
    waitForLoader(w);
    QVERIFY(w.SaveCurrentProject());
    for (const QString& folder : folders)
      QVERIFY(QDir(folder + "/ps_tmp").removeRecursively());
    QVERIFY(WriteTestJpeg(folders.last() + "/pic00.jpg", 200, 300));
    w.OpenProjectFile(w.Project()->FileName);
    for (int row = 0; row < folders.size(); ++row) {
      w.SelectAlbum(row);
      waitForLoader(w);
    }
    QVERIFY(!w.Project()->Modified);
    QCOMPARE(queryInt("SELECT modified FROM picture WHERE original_width = 200"), 1);
  }

  void recreateTempKeepsUnsavedPictures() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2, 200, 100);
    TLumenfoldAlbum* album = addAlbum(w, folder, QStringLiteral("Fresh"));
    waitForLoader(w);
    album->Pictures.Pictures(0)->RotateCW();
    // A changed original is measured again.
    QVERIFY(WriteTestJpeg(folder + QStringLiteral("/pic01.jpg"), 120, 90));
    w.Actions().actRecreateTemp->trigger();
    QCOMPARE(w.Project()->Albums.Count(), 1);
    album = w.Project()->Albums.Albums(0);
    QCOMPARE(album->Pictures.Count(), 2);
    QCOMPARE(album->Pictures.Pictures(0)->Orientation, 2);
    QCOMPARE(album->Pictures.Pictures(1)->OriginalWidth, 120);
    QCOMPARE(w.CurrentAlbum(), album);
    QCOMPARE(w.PictureView()->Count(), 2);
    waitForLoader(w);
    QVERIFY(w.SaveCurrentProject());
  }

  void previewsStayWithinTheirBoundAndLeaveWithTheirAlbum() {
    // Previews of 64 x 48 originals are 12288 bytes; the bound holds twenty of the 90.
    const qint64 bound = 20 * 64 * 48 * 4;
    const qint64 before = PreviewCache().LimitBytes();
    PreviewCache().SetLimitBytes(bound);
    auto restore = qScopeGuard([&] { PreviewCache().SetLimitBytes(before); });
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.resize(800, 600);
    w.show();
    newProject(w);
    TLumenfoldAlbum* small = addAlbum(w, makeAlbumFolder(3, 64, 48), QStringLiteral("Small"));
    TLumenfoldAlbum* big = addAlbum(w, makeAlbumFolder(90, 64, 48), QStringLiteral("Big"));
    auto select = [&](TLumenfoldAlbum* album) {
      for (int row = 0; w.CurrentAlbum() != album && row < w.Project()->Albums.Count(); ++row)
        w.SelectAlbum(row);
      QCOMPARE(w.CurrentAlbum(), album);
    };
    select(big);
    TphotoListView* view = w.PictureView();
    QScrollBar* bar = view->IconList()->verticalScrollBar();
    QTRY_VERIFY(bar->maximum() > 0);
    auto visibleShown = [&] {
      for (int row = 0; row < view->Count(); ++row)
        if (view->ItemRect(row).intersects(view->IconViewport()->rect()) &&
            !view->Picture(row)->Thumbnail())
          return false;
      return true;
    };
    // Down the album and back up, with the loader running and after it has ended.
    for (int pass = 0; pass < 2; ++pass) {
      for (int step = 0; step <= 2 * 10; ++step) {
        const int value =
            step <= 10 ? bar->maximum() * step / 10 : bar->maximum() * (2 * 10 - step) / 10;
        bar->setValue(value);
        QTRY_VERIFY(visibleShown());
        QVERIFY(PreviewCache().Bytes() <= bound);
      }
      waitForLoader(w);
    }
    QVERIFY(!big->Pictures.Pictures(89)->Thumbnail()); // dropped on the way back up

    select(small);
    for (int i = 0; i < big->Pictures.Count(); ++i)
      QVERIFY(big->Pictures.Pictures(i)->IsFace || !big->Pictures.Pictures(i)->Thumbnail());
    QTRY_VERIFY(visibleShown());
  }

  void loaderIsPausedOnlyDuringSave() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    addAlbum(w, makeAlbumFolder(40, 640, 480), QStringLiteral("Busy"));
    QPointer<TThumbnailThread> loader = w.ThumbnailLoader();
    if (!loader) QSKIP("the loader finished before it could be observed");
    loader->SetPaused(true);
    w.SaveCurrentProject();
    if (loader) QVERIFY(!loader->Paused());
    // Stopping a paused loader ends it at once, and the window keeps processing events.
    if (loader) loader->SetPaused(true);
    w.StopThumbnailLoader();
    QVERIFY(!w.ThumbnailLoader());
    QTRY_VERIFY(loader.isNull() || loader->isFinished());
  }
};

QTEST_MAIN(TestFrmMain)
#include "test_frmmain.moc"
