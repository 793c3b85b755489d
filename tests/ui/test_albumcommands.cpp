// The album commands of the main window: add and edit through the wizard, a dropped folder,
// renaming (dialog and the in-place edit of a file name) and the tools menu entries.
#include "mainwindowtest.h"
#include "uitesthelpers.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "processing/thumbnailthread.h"
#include "ui/common/filedialogs.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/album/frmnewalbum.h"
#include "ui/album/frmrenaming.h"
#include "ui/album/frmsynchro.h"
#include "ui/photolist/photolistview.h"
#include "ui/common/uiresources.h"

#include <QAction>
#include <QCheckBox>
#include <QDropEvent>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QPushButton>
#include <QRadioButton>
#include <QtTest>
#include <functional>

class TestAlbumCommands : public TMainWindowTest {
  Q_OBJECT
  // Walks an open wizard from its first page to the end: the folder from the browse hook, the
  // other pages skipped, Close.
  static void finishWizard(TfrmNewAlbum* d) {
    click(d, "bbnNext"); // welcome
    if (d->AddMode()) click(d, "bbnPath");
    click(d, "bbnNext"); // path
    click(d, "bbnNext"); // details
    click(d, "bbnNext"); // pictures
    while (d->PageIndex() < TfrmNewAlbum::pgSummary) {
      const int page = d->PageIndex();
      click(d, child<QPushButton>(d, "bbnNext")->isEnabled() ? "bbnNext" : "bbnSkip");
      if (d->PageIndex() == page) {
        QWARN("the wizard does not move on");
        click(d, "bbnCancel");
        return;
      }
    }
    click(d, "bbnNext"); // Close
  }

private slots:
  void initTestCase() { InitUiResources(); }

  void init() {
    prompt.clear();
    prompt.answer = true;
  }

  void cleanup() { SetBrowseFolderHook(nullptr); }

  void addAlbumThroughTheWizard() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(3, 48, 32);
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
    QVERIFY(w.Actions().actAddAlbum->isEnabled());
    {
      DialogHandler<TfrmNewAlbum> handler(finishWizard);
      w.Actions().actAddAlbum->trigger();
      QCOMPARE(handler.count, 1);
    }
    TLumenfoldProject* project = w.Project();
    QCOMPARE(project->Albums.Count(), 1);
    TLumenfoldAlbum* album = project->Albums.Albums(0);
    QCOMPARE(album->Path, folder);
    QCOMPARE(w.CurrentAlbum(), album);
    QCOMPARE(album->Pictures.Count(), 3);
    for (int i = 0; i < 3; ++i)
      QCOMPARE(album->Pictures.Pictures(i)->Album, album);
    QVERIFY(album->Dirty);
    QVERIFY(project->Modified);
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
    QVERIFY(w.SaveCurrentProject());
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture"), 3);

    // The same folder again is refused on the path page: the wizard can only be cancelled.
    DialogHandler<TfrmNewAlbum> again([](TfrmNewAlbum* d) {
      click(d, "bbnNext");
      click(d, "bbnPath");
      QVERIFY(!child<QPushButton>(d, "bbnNext")->isEnabled());
      click(d, "bbnCancel");
    });
    w.Actions().actAddAlbum->trigger();
    QCOMPARE(again.count, 1);
    QCOMPARE(project->Albums.Count(), 1);
  }

  // New pictures of the edited album are kept (never read back over), and every picture belongs
  // to the real album once the working copy is gone.
  void editAlbumKeepsNewPictures() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2, 48, 32);
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
    DialogHandler<TfrmNewAlbum> handler(finishWizard);
    w.Actions().actAddAlbum->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
    QVERIFY(w.SaveCurrentProject());
    TLumenfoldAlbum* album = w.CurrentAlbum();
    QVERIFY(WriteTestJpeg(folder + "/pic9.jpg", 20, 20));

    w.Actions().actEditAlbum->trigger();
    QCOMPARE(handler.count, 2);
    QCOMPARE(w.CurrentAlbum(), album);
    QCOMPARE(album->Pictures.Count(), 3);
    for (int i = 0; i < album->Pictures.Count(); ++i)
      QCOMPARE(album->Pictures.Pictures(i)->Album, album);
    QCOMPARE(album->Pictures.Pictures(2)->Id, -1);
    QCOMPARE(w.PictureView()->Count(), 3);
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
    QVERIFY(w.SaveCurrentProject());
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture"), 3);
  }

  void droppedFolderStartsTheWizard() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(1, 48, 32);
    QString shown;
    DialogHandler<TfrmNewAlbum> handler([&shown](TfrmNewAlbum* d) {
      click(d, "bbnNext");
      shown = child<QLineEdit>(d, "edtOriginalPath")->text();
      click(d, "bbnCancel");
    });
    QMimeData data;
    data.setUrls({QUrl::fromLocalFile(folder)});
    QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &enter);
    QVERIFY(enter.isAccepted());
    QDropEvent drop(QPointF(10, 10), Qt::CopyAction, &data, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(&w, &drop);
    QTRY_COMPARE(handler.count, 1);
    QCOMPARE(shown, folder);
    QCOMPARE(w.Project()->Albums.Count(), 0);

    // A file is no folder.
    QMimeData file;
    file.setUrls({QUrl::fromLocalFile(folder + "/pic00.jpg")});
    QDragEnterEvent refused(QPoint(10, 10), Qt::CopyAction, &file, Qt::LeftButton, Qt::NoModifier);
    refused.setAccepted(false);
    QApplication::sendEvent(&w, &refused);
    QVERIFY(!refused.isAccepted());
  }

  void renameCommandAndFileNameEdit() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    const QString folder = makeAlbumFolder(2, 48, 32);
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
    DialogHandler<TfrmNewAlbum> wizard(finishWizard);
    w.Actions().actAddAlbum->trigger();
    QVERIFY(w.SaveCurrentProject());
    TLumenfoldAlbum* album = w.CurrentAlbum();

    DialogHandler<TfrmRenaming> renaming([](TfrmRenaming* d) {
      child<QLineEdit>(d, "edtTemplate")->setText("Trip %N00%.jpg");
      click(d, "bbnOk");
    });
    QVERIFY(w.Actions().actRenaming->isEnabled());
    w.Actions().actRenaming->trigger();
    QCOMPARE(renaming.count, 1);
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             QStringList({"trip_01.jpg", "trip_02.jpg"}));
    QCOMPARE(album->Pictures.Pictures(0)->OriginalFileName, QString("trip_01.jpg"));
    QVERIFY(!album->Dirty);

    // The in-place edit of a file name: a path is refused and nothing moves.
    TphotoListView* view = w.PictureView();
    const int row = view->IndexOfPicture(album->Pictures.Pictures(0));
    QVERIFY(row >= 0);
    emit view->CaptionEdited(row, "../escaped");
    QCOMPARE(prompt.errors().size(), 1);
    QVERIFY(QFile::exists(folder + "/trip_01.jpg"));
    QVERIFY(!QFile::exists(env.path("escaped.jpg")));
    // Another picture's name in another letter case is refused too.
    emit view->CaptionEdited(row, "TRIP_02");
    QCOMPARE(prompt.errors().size(), 2);
    emit view->CaptionEdited(row, "first");
    QCOMPARE(prompt.errors().size(), 2);
    QVERIFY(QFile::exists(folder + "/first.jpg"));
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture WHERE original_filename='first.jpg'"), 1);
  }

  void toolsMenuReachesSynchronisation() {
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    newProject(w);
    auto* tools = w.findChild<QMenu*>("mnuTools");
    QVERIFY(tools);
    QStringList visible;
    for (QAction* a : tools->actions())
      if (a->isVisible() && !a->isSeparator()) visible << a->text();
    QVERIFY(visible.contains("Synchronise with folders..."));
    QVERIFY(visible.contains("Change base path..."));
    QVERIFY(visible.contains("Recreate temp files"));

    // An album whose folder went away is offered for relocation.
    const QString folder = makeAlbumFolder(1, 48, 32);
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
    DialogHandler<TfrmNewAlbum> wizard(finishWizard);
    w.Actions().actAddAlbum->trigger();
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
    const QString moved = folder + "-moved";
    QVERIFY(QDir().rename(folder, moved));
    DialogHandler<TfrmSynchro> synchro([moved](TfrmSynchro* d) {
      child<QLineEdit>(d, "edtPath")->setText(moved);
      click(d, "bbnOk");
    });
    QAction* entry = w.findChild<QAction*>("mniSynchro");
    QVERIFY(entry && entry->isEnabled());
    entry->trigger();
    QCOMPARE(synchro.count, 1);
    QCOMPARE(w.Project()->Albums.Albums(0)->Path, moved);
    QCOMPARE(w.CurrentAlbum(), w.Project()->Albums.Albums(0));
  }
};

QTEST_MAIN(TestAlbumCommands)
#include "test_albumcommands.moc"
