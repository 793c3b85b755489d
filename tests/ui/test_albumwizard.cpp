// The album wizard: the page flow in add and edit mode, skipped pages, validation, the close
// query, and the faults it must not have (re-import after a folder change, a folder used twice,
// rows written by a cancelled edit, pictures pointing at a freed working copy).
#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renameops.h"
#include "db/sqlaccess.h"
#include "processing/thumbnailthread.h"
#include "testenv.h"
#include "ui/common/filedialogs.h"
#include "ui/album/frmnewalbum.h"
#include "ui/project/frmoptions.h"
#include "ui/photolist/photolistview.h"
#include "ui/common/uiresources.h"
#include "uitesthelpers.h"

#include <QCheckBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPlainTextEdit>
#include <QProcess>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QStackedWidget>
#include <QtTest>
#include <memory>

class TestAlbumWizard : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  QString trip, other;

  static QPushButton* button(TfrmNewAlbum& w, const char* name) {
    return child<QPushButton>(&w, name);
  }
  static void clickNext(TfrmNewAlbum& w) { button(w, "bbnNext")->click(); }

  // From the welcome page to the pictures page with the folder chosen by the browse hook.
  void toPictures(TfrmNewAlbum& w, const QString& folder) {
    SetBrowseFolderHook([folder](const QString&, const QString&) { return folder; });
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgPath));
    button(w, "bbnPath")->click();
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgDetail));
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgPictures));
  }

  static void waitForLoader(TfrmNewAlbum& w) {
    QTRY_VERIFY_WITH_TIMEOUT(!w.ThumbnailLoader(), 20000);
  }

private slots:
  void initTestCase() {
    InitUiResources();
    trip = env.makeFolder("photos/trip");
    for (int i = 0; i < 3; ++i)
      QVERIFY(WriteTestJpeg(trip + QString("/p%1.jpg").arg(i), 64 + i, 48));
    other = env.makeFolder("photos/other");
    QVERIFY(WriteTestJpeg(other + "/x.jpg", 40, 30));
  }

  void init() {
    CloseThreadConnections();
    SetCurrentConnectionString(env.newDatabase());
    prompt.clear();
    prompt.answer = true;
  }

  void cleanup() { SetBrowseFolderHook(nullptr); }

  void addModeWalksAllNinePages() {
    TLumenfoldProject project;
    project.Reset();
    project.WizardPages = kAllWizardPages;
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    QCOMPARE(w.objectName(), QString("frmWizard"));
    QCOMPARE(w.windowTitle(), QString("Add album wizard. Step 1 of 9."));
    QVERIFY(!button(w, "bbnPrev")->isEnabled());
    QVERIFY(!button(w, "bbnSkip")->isEnabled());

    clickNext(w);
    // The path page: Next only with an existing folder.
    auto* path = child<QLineEdit>(&w, "edtOriginalPath");
    QCOMPARE(path->text(), QString());
    QVERIFY(!button(w, "bbnNext")->isEnabled());
    QTest::keyClicks(path, env.path("photos/nothing"));
    QCOMPARE(child<QLineEdit>(&w, "edtRelativeDirectory")->text(), QString("nothing"));
    QVERIFY(!button(w, "bbnNext")->isEnabled());
    path->clear();
    QTest::keyClicks(path, trip);
    QVERIFY(button(w, "bbnNext")->isEnabled());
    // ">" takes the parent folders in, "<" gives them back.
    button(w, "bbnDirectory2")->click();
    QCOMPARE(child<QLineEdit>(&w, "edtRelativeDirectory")->text(),
             "photos" + QString(QDir::separator()) + "trip");
    button(w, "bbnDirectory1")->click();
    QCOMPARE(child<QLineEdit>(&w, "edtRelativeDirectory")->text(), QString("trip"));
    clickNext(w);
    QCOMPARE(w.windowTitle(), QString("Add album wizard. Step 3 of 9."));
    QCOMPARE(child<QLineEdit>(&w, "edtShortName")->text(), QString("trip"));
    child<QLineEdit>(&w, "edtLongName")->setText("A long trip");
    clickNext(w);

    // The pictures page reads the folder and makes the previews in the background.
    auto* thumbs = child<TphotoListView>(&w, "lvwThumbs");
    QCOMPARE(thumbs->Count(), 3);
    QCOMPARE(w.Album()->Pictures.Count(), 3);
    QCOMPARE(child<QProgressBar>(&w, "pbrThumbnails")->maximum(), 2);
    waitForLoader(w);
    QVERIFY(w.Album()->Loaded);
    QVERIFY(!child<QProgressBar>(&w, "pbrThumbnails")->isVisible());
    for (int i = 0; i < 3; ++i)
      QVERIFY(w.Album()->Pictures.Pictures(i)->Thumbnail());
    // Nothing was written to the database.
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture"), 0);
    // The private toggle marks the picture unsaved.
    thumbs->SetSelected(1, true);
    thumbs->OnActionClick(thumbs, 4);
    QVERIFY(w.Album()->Pictures.Pictures(1)->IsPrivate);
    QVERIFY(w.Album()->Pictures.Pictures(1)->Dirty);
    clickNext(w);

    // Face: the first picture is taken until another one is clicked.
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgFace));
    QVERIFY(w.Album()->Pictures.Pictures(0)->IsFace);
    auto* face = child<TphotoListView>(&w, "lvwFace");
    face->SetSelected(2, true);
    QVERIFY(w.Album()->Pictures.Pictures(2)->IsFace);
    clickNext(w);

    // Rename: Next goes on without renaming, as Skip does.
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgRename));
    QVERIFY(button(w, "bbnNext")->isEnabled());
    button(w, "bbnSkip")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgSignature));
    button(w, "bbnSkip")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgCategory));
    button(w, "bbnSkip")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgSummary));
    QCOMPARE(w.windowTitle(), QString("Add album wizard. Step 9 of 9."));
    QCOMPARE(button(w, "bbnNext")->text(), QString("Close"));
    child<QCheckBox>(&w, "cbxProcess")->setChecked(false);
    clickNext(w);
    QCOMPARE(w.result(), int(QDialog::Accepted));
    QVERIFY(!project.ProcessAfterWizard);

    std::unique_ptr<TLumenfoldAlbum> album = w.TakeAlbum();
    QVERIFY(album);
    QCOMPARE(album->Path, trip);
    QCOMPARE(album->LongName, QString("A long trip"));
    QCOMPARE(album->Pictures.Count(), 3);
    QCOMPARE(album->GetFacePicture(), album->Pictures.Pictures(2));
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture"), 0);
  }

  void skippedPagesAndPrev() {
    TLumenfoldProject project;
    project.Reset();
    project.WizardPages = kAllWizardPages & ~(1u << TfrmNewAlbum::pgFace);
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    toPictures(w, trip);
    waitForLoader(w);
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgRename));
    button(w, "bbnPrev")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgFace));
    QVERIFY(child<QCheckBox>(&w, "cbxFaceSkip")->isChecked());
    // Unticking brings the page back next time; the project is marked.
    project.Modified = false;
    child<QCheckBox>(&w, "cbxFaceSkip")->setChecked(false);
    child<TphotoListView>(&w, "lvwFace")->SetSelected(0, true);
    clickNext(w);
    QVERIFY(HasWizardPage(project.WizardPages, TfrmNewAlbum::pgFace));
    QVERIFY(project.Modified);

    // With the rename page skipped, a template that gives equal names stops the pass.
    button(w, "bbnPrev")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgFace));
    project.WizardPages &= ~(1u << TfrmNewAlbum::pgRename);
    project.RenameTemplate = "same.jpg";
    prompt.clear();
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgRename));
    QCOMPARE(prompt.errors().size(), 1);
    QVERIFY(prompt.errors().first().startsWith("Filenames should be unique."));

    // Cancel: the loader has stopped and the album is gone.
    button(w, "bbnCancel")->click();
    QCOMPARE(w.result(), int(QDialog::Rejected));
    QVERIFY(!w.Album());
    QVERIFY(!w.ThumbnailLoader());
  }

  void renamingAtTheClose() {
    TLumenfoldProject project;
    project.Reset();
    project.WizardPages = kAllWizardPages;
    project.RenameStart = 1;
    const QString folder = env.makeFolder("photos/renamed");
    for (const char* name : {"b.jpg", "a.jpg"})
      QVERIFY(WriteTestJpeg(folder + "/" + name, 32, 32));
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    toPictures(w, folder);
    waitForLoader(w);
    clickNext(w);
    button(w, "bbnSkip")->click(); // face
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgRename));
    child<QCheckBox>(&w, "cbxRename")->setChecked(true);
    auto* templ = child<QLineEdit>(&w, "edtTemplate");
    templ->setText("x.jpg");
    QVERIFY(child<QLabel>(&w, "lblRenameProblems")->isVisible());
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgRename));
    templ->setText("Pic");
    w.MacroMenu()->actions()[16]->trigger();
    QCOMPARE(templ->text(), QString("Pic%N000%"));
    QCOMPARE(project.RenameTemplate, QString("Pic%N000%"));
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgSignature));
    button(w, "bbnSkip")->click();
    button(w, "bbnSkip")->click();
    clickNext(w);
    QCOMPARE(w.result(), int(QDialog::Accepted));
    QCOMPARE(QDir(folder).entryList(QDir::Files, QDir::Name),
             QStringList({"pic001.jpg", "pic002.jpg"}));
    // In folder order: a.jpg became pic001.jpg.
    QCOMPARE(w.Album()->Pictures.Pictures(0)->OriginalFileName, QString("pic001.jpg"));
    QCOMPARE(w.Album()->Pictures.Pictures(0)->OriginalWidth, 32);
  }

  void folderOfAnotherAlbumIsRefused() {
    TLumenfoldProject project;
    project.Reset();
    auto* existing = new TLumenfoldAlbum(&project);
    existing->Path = trip;
    existing->ShortName = "Trip";
    project.Albums.Add("Trip", existing);
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    clickNext(w);
    // Prefilled from the newest album, and refused as long as it is that album's folder.
    auto* path = child<QLineEdit>(&w, "edtOriginalPath");
    QCOMPARE(path->text(), trip);
    QVERIFY(!button(w, "bbnNext")->isEnabled());
    QVERIFY(child<QLabel>(&w, "lblPathProblem")->text().contains("Trip"));
    // The same folder written with a closing separator.
    path->clear();
    QTest::keyClicks(path, trip + "/");
    QVERIFY(!button(w, "bbnNext")->isEnabled());
    path->clear();
    QTest::keyClicks(path, other);
    QVERIFY(button(w, "bbnNext")->isEnabled());
    button(w, "bbnCancel")->click();
  }

  // The relative directory is the album's folder inside the site and the archive: one used by
  // another album (in any letter case) is refused, a longer one taken with ">" is fine.
  // Two originals whose images would be one file keep the wizard on the path page.
  void namesSharingAnImageAreRefused() {
    const QString clash = env.makeFolder("photos/clash");
    QVERIFY(WriteTestJpeg(clash + "/a.jpg", 40, 30) && WriteTestJpeg(clash + "/A.JPG", 40, 30));
    TLumenfoldProject project;
    project.Reset();
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    SetBrowseFolderHook([clash](const QString&, const QString&) { return clash; });
    clickNext(w);
    button(w, "bbnPath")->click();
    clickNext(w);
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgPath));
    const QString errors = prompt.errors().join('\n');
    QVERIFY2(errors.contains("\"a.jpg\"") && errors.contains("\"A.JPG\""), qPrintable(errors));
  }

  void siteFolderOfAnotherAlbumIsRefused() {
    TLumenfoldProject project;
    project.Reset();
    auto* existing = new TLumenfoldAlbum(&project);
    existing->Path = trip;
    existing->Directory = "Other";
    existing->ShortName = "Elsewhere";
    project.Albums.Add("Elsewhere", existing);
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    clickNext(w);
    auto* path = child<QLineEdit>(&w, "edtOriginalPath");
    path->clear();
    QTest::keyClicks(path, other); // photos/other: relative directory "other"
    QCOMPARE(child<QLineEdit>(&w, "edtRelativeDirectory")->text(), QString("other"));
    QVERIFY(!button(w, "bbnNext")->isEnabled());
    QVERIFY(child<QLabel>(&w, "lblPathProblem")->text().contains("Elsewhere"));
    button(w, "bbnDirectory2")->click();
    QVERIFY(button(w, "bbnNext")->isEnabled());
    QVERIFY(child<QLabel>(&w, "lblPathProblem")->text().isEmpty());
    button(w, "bbnDirectory1")->click();
    QVERIFY(!button(w, "bbnNext")->isEnabled());
    button(w, "bbnCancel")->click();

    // Editing the album itself: its own site folder is no clash.
    TLumenfoldAlbum copy(&project);
    copy.Assign(*existing);
    copy.Id = existing->Id = 5;
    TfrmNewAlbum e(nullptr, &project, &copy);
    e.show();
    clickNext(e);
    QCOMPARE(child<QLineEdit>(&e, "edtRelativeDirectory")->text(), QString("Other"));
    QVERIFY(button(e, "bbnNext")->isEnabled());
    button(e, "bbnCancel")->click();
  }

  // A double-click edits a copy in the picture dialog while the loader goes on: what the loader
  // found out meanwhile (preview, original facts) stays, the edit is applied on top.
  void pictureEditKeepsWhatTheLoaderFound() {
    TLumenfoldProject project;
    project.Reset();
    bool loaderRan = false;
    TfrmNewAlbum* wizard = nullptr;
    TfrmNewAlbum::TEditors editors;
    editors.Picture = [&](QWidget*, TLumenfoldProject&, TLumenfoldPicture& copy) {
      loaderRan = wizard->ThumbnailLoader() != nullptr && !copy.Thumbnail();
      // The dialog is open (modal) until the loader is done.
      const bool loaded = QTest::qWaitFor([&] { return !wizard->ThumbnailLoader(); }, 20000);
      copy.Title = "Edited";
      return loaded;
    };
    TfrmNewAlbum w(nullptr, &project, nullptr, editors);
    wizard = &w;
    w.show();
    toPictures(w, trip);
    auto* thumbs = child<TphotoListView>(&w, "lvwThumbs");
    emit thumbs->ItemDoubleClicked(1);
    QVERIFY(loaderRan);
    const TLumenfoldPicture* p = w.Album()->Pictures.Pictures(1);
    QCOMPARE(p->Title, QString("Edited"));
    QVERIFY(p->Thumbnail());
    QCOMPARE(p->OriginalWidth, 65);
    QVERIFY(!p->OriginalHash.isEmpty());
    QVERIFY(p->Dirty && p->Modified);
    button(w, "bbnCancel")->click();
  }

  // The case buttons of the rename page show and set the project's choice.
  void renameCaseButtons() {
    TLumenfoldProject project;
    project.Reset();
    project.FileNameCase = kFileNameCaseKeep;
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    toPictures(w, trip);
    waitForLoader(w);
    clickNext(w);
    button(w, "bbnSkip")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgRename));
    QVERIFY(child<QRadioButton>(&w, "rbnKeepCase")->isChecked());
    child<QCheckBox>(&w, "cbxRename")->setChecked(true);
    child<QRadioButton>(&w, "rbnUppercase")->click();
    QCOMPARE(project.FileNameCase, kFileNameCaseUpper);
    QVERIFY(!child<QRadioButton>(&w, "rbnKeepCase")->isChecked());
    button(w, "bbnCancel")->click();
  }

  void changedFolderIsReadAgain() {
    TLumenfoldProject project;
    project.Reset();
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    toPictures(w, trip);
    QCOMPARE(w.Album()->Pictures.Count(), 3);
    button(w, "bbnPrev")->click();
    button(w, "bbnPrev")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgPath));
    SetBrowseFolderHook([this](const QString&, const QString&) { return other; });
    button(w, "bbnPath")->click();
    clickNext(w);
    QCOMPARE(child<QLineEdit>(&w, "edtShortName")->text(), QString("other"));
    clickNext(w);
    QCOMPARE(w.Album()->Pictures.Count(), 1);
    QCOMPARE(w.Album()->Pictures.Pictures(0)->OriginalFileName, QString("x.jpg"));
    QCOMPARE(child<TphotoListView>(&w, "lvwThumbs")->Count(), 1);
    waitForLoader(w);
    QVERIFY(project.Modified);
    button(w, "bbnCancel")->click();
    // Nothing of the cancelled album is left to save.
    QVERIFY(!project.Modified);
  }

  void projectOptionsMarkTheProject() {
    TLumenfoldProject project;
    project.Reset();
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    QVERIFY(!project.Modified);
    TModalHandler<TfrmOptions> handler(
        [](TfrmOptions* d) { child<QPushButton>(d, "bbnOk")->click(); });
    button(w, "bbnAdvanced")->click();
    QVERIFY(handler.done);
    QVERIFY(project.Modified);
    button(w, "bbnCancel")->click();
  }

  // Edit mode as the main window runs it: a working copy, assigned back after OK.
  void editModeCancelWritesNothingAndOkPointsAtTheRealAlbum() {
    TLumenfoldProject project;
    project.Reset();
    auto* real = new TLumenfoldAlbum(&project);
    real->Path = trip;
    real->ShortName = "Trip";
    real->Directory = "trip";
    real->ImportFolder(trip);
    real->SetDirty(true);
    project.Albums.Add("Trip", real);
    QVERIFY(real->Save());
    real->Loaded = true;
    QVERIFY(WriteTestJpeg(trip + "/p9.jpg", 20, 20));
    const int before = queryInt("SELECT COUNT(*) FROM picture");

    {
      TLumenfoldAlbum copy(&project);
      copy.Assign(*real);
      TfrmNewAlbum w(nullptr, &project, &copy);
      w.show();
      QCOMPARE(w.windowTitle(), QString("Edit album wizard. Step 1 of 9."));
      clickNext(w);
      // Its own folder is no conflict.
      QCOMPARE(child<QLineEdit>(&w, "edtOriginalPath")->text(), trip);
      QVERIFY(button(w, "bbnNext")->isEnabled());
      clickNext(w);
      child<QLineEdit>(&w, "edtShortName")->setText("Renamed");
      clickNext(w);
      // The new file of the folder joins; the loader writes no row.
      QCOMPARE(copy.Pictures.Count(), 4);
      waitForLoader(w);
      button(w, "bbnCancel")->click();
    }
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture"), before);
    QCOMPARE(queryInt("SELECT COUNT(*) FROM album WHERE short_name='Trip'"), 1);
    QCOMPARE(queryInt("SELECT MAX(original_width) FROM picture"), -1);
    QCOMPARE(real->Pictures.Count(), 3);

    {
      auto copy = std::make_unique<TLumenfoldAlbum>(&project);
      copy->Assign(*real);
      TfrmNewAlbum w(nullptr, &project, copy.get());
      w.show();
      toPictures(w, trip);
      waitForLoader(w);
      clickNext(w);
      child<TphotoListView>(&w, "lvwFace")->SetSelected(1, true);
      clickNext(w);
      button(w, "bbnSkip")->click();
      button(w, "bbnSkip")->click();
      button(w, "bbnSkip")->click();
      clickNext(w);
      QCOMPARE(w.result(), int(QDialog::Accepted));
      real->Assign(*copy);
    }
    // The copy is gone; every picture belongs to the real album.
    QCOMPARE(real->Pictures.Count(), 4);
    for (int i = 0; i < real->Pictures.Count(); ++i)
      QCOMPARE(real->Pictures.Pictures(i)->Album, real);
    QCOMPARE(real->GetFacePicture(), real->Pictures.Pictures(1));
    real->Pictures.Pictures(3)->SetIsFace(true);
    QCOMPARE(real->FacePicture, real->Pictures.Pictures(3));
    QVERIFY(real->Save());
    QCOMPARE(queryInt("SELECT COUNT(*) FROM picture"), before + 1);
    QVERIFY(QFile::remove(trip + "/p9.jpg"));
  }

  void signaturePageUsesTheChooser() {
    TLumenfoldProject project;
    project.Reset();
    project.WizardPages = kAllWizardPages;
    int calls = 0;
    TfrmNewAlbum::TEditors editors;
    editors.Signature = [&calls](QWidget*, TLumenfoldProject&,
                                 const QList<TLumenfoldPicture*>& pictures) {
      ++calls;
      for (TLumenfoldPicture* p : pictures)
        p->ThumbSignatureId = 7;
      return true;
    };
    TfrmNewAlbum w(nullptr, &project, nullptr, editors);
    w.show();
    toPictures(w, other);
    waitForLoader(w);
    clickNext(w);
    button(w, "bbnSkip")->click();
    button(w, "bbnSkip")->click();
    QCOMPARE(w.PageIndex(), int(TfrmNewAlbum::pgSignature));
    QVERIFY(!button(w, "bbnSign")->isEnabled());
    button(w, "bbnSignAll")->click();
    QCOMPARE(calls, 1);
    button(w, "bbnCancel")->click();
  }

  // Enter presses Next wherever the focus is; Cancel after input asks, and No keeps the wizard.
  void enterNeverCancelsAndCancelAsks() {
    TLumenfoldProject project;
    project.Reset();
    project.WizardPages = kAllWizardPages;
    TfrmNewAlbum w(nullptr, &project);
    w.show();
    toPictures(w, trip);
    waitForLoader(w);
    clickNext(w);
    QVERIFY(child<QLabel>(&w, "lblFaceHint")->text().contains("Click another picture"));
    for (int page : {TfrmNewAlbum::pgRename, TfrmNewAlbum::pgSignature, TfrmNewAlbum::pgCategory}) {
      QTest::keyClick(button(w, "bbnCancel"), Qt::Key_Return);
      QCOMPARE(w.PageIndex(), page);
    }
    prompt.answer = false;
    button(w, "bbnCancel")->click();
    QVERIFY(w.isVisible() && w.Album());
    prompt.answer = true;
    QTest::keyClick(&w, Qt::Key_Escape);
    QCOMPARE(w.result(), int(QDialog::Rejected));
    QCOMPARE(prompt.questions().size(), 2);
  }

  // A cancelled wizard takes away the preview folder its loader made; one that was there before
  // stays with what it holds. The pictures page names the files it does not import.
  void cancelLeavesThePhotoFolderAsItWas() {
    const QString fresh = env.makeFolder("photos/fresh"), kept = env.makeFolder("photos/kept");
    for (const QString& folder : {fresh, kept})
      QVERIFY(WriteTestJpeg(folder + "/a.jpg", 40, 30));
    QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(fresh + "/scan.bmp"));
    QVERIFY(QDir().mkpath(kept + "/ps_tmp"));
    QVERIFY(QImage(8, 8, QImage::Format_RGB32).save(kept + "/ps_tmp/mine.png"));
    for (const QString& folder : {fresh, kept}) {
      TLumenfoldProject project;
      TfrmNewAlbum w(nullptr, &project);
      w.show();
      toPictures(w, folder);
      waitForLoader(w);
      QVERIFY(QFileInfo::exists(folder + "/ps_tmp/tmp_a.jpg"));
      if (folder == fresh)
        QCOMPARE(child<QPlainTextEdit>(&w, "memSkippedFiles")->toPlainText(),
                 QString("1 file of the folder is not imported:\nscan.bmp (not a picture file)"));
      button(w, "bbnCancel")->click();
    }
    QCOMPARE(QDir(fresh).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList({"a.jpg", "scan.bmp"}));
    QVERIFY(QFileInfo::exists(kept + "/ps_tmp/mine.png"));
  }

  // Categories made from the files' keywords go again on Cancel, from the list and the database;
  // the one that existed before (and matched a keyword) stays.
  void cancelTakesAwayTheCategoriesMadeFromKeywords() {
    const QString tagged = env.makeFolder("photos/tagged");
    QVERIFY(WriteTestJpeg(tagged + "/k.jpg", 40, 30));
    QProcess tool;
    tool.start("exiftool", {"-q", "-overwrite_original", "-XMP-dc:Subject=Harbour",
                            "-XMP-dc:Subject=Boats", tagged + "/k.jpg"});
    QVERIFY(tool.waitForFinished(60000) && tool.exitCode() == 0);
    TLumenfoldProject project;
    project.Reset();
    auto* boats = new TLumenfoldCategory;
    boats->Title = "boats";
    QVERIFY(boats->Insert());
    project.Categories.Add(boats->Title, boats);
    {
      TfrmNewAlbum w(nullptr, &project);
      w.show();
      toPictures(w, tagged);
      waitForLoader(w);
      QCOMPARE(project.Categories.Count(), 2);
      button(w, "bbnCancel")->click();
    }
    QCOMPARE(project.Categories.Count(), 1);
    QCOMPARE(project.Categories.Categories(0)->Title, QString("boats"));
    TLumenfoldCategoryList stored;
    QVERIFY(stored.LoadAll());
    QCOMPARE(stored.Count(), 1);
    QCOMPARE(stored.Categories(0)->Id, boats->Id);
  }
};

QTEST_MAIN(TestAlbumWizard)
#include "test_albumwizard.moc"
