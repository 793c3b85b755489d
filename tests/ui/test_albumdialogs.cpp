// The renaming dialog, the synchronisation dialog and the desktop's synchronisation run.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renaming.h"
#include "db/sqlaccess.h"
#include "testenv.h"
#include "ui/album/albumsync.h"
#include "ui/common/filedialogs.h"
#include "ui/album/frmrenaming.h"
#include "ui/album/frmsynchro.h"
#include "ui/common/uiresources.h"
#include "uitesthelpers.h"

#include <QCheckBox>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSpinBox>
#include <QTableView>
#include <QtTest>
#include <memory>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QStringList removeQuestions;
QList<TRemoveAnswer> removeAnswers;
TRemoveAnswer answerRemove(const QString& fileName) {
  removeQuestions.append(fileName);
  return removeAnswers.isEmpty() ? TRemoveAnswer::No : removeAnswers.takeFirst();
}

} // namespace

class TestAlbumDialogs : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  int folders = 0;

  // An album of the project (not in its list) with files named as given.
  std::unique_ptr<TLumenfoldAlbum> makeAlbum(TLumenfoldProject& project, const QStringList& names) {
    auto album = std::make_unique<TLumenfoldAlbum>(&project);
    album->Path = env.makeFolder(QStringLiteral("dlg%1").arg(++folders));
    album->ShortName = QStringLiteral("Trip");
    for (const QString& name : names) {
      writeFile(album->Path + "/" + name, name.toUtf8());
      auto* p = new TLumenfoldPicture(album.get());
      p->OriginalFileName = name;
      album->Pictures.Add(QString(), p);
    }
    return album;
  }

private slots:
  void initTestCase() { InitUiResources(); }

  void init() {
    CloseThreadConnections();
    SetCurrentConnectionString(env.newDatabase());
    prompt.clear();
    prompt.answer = true;
    SetBrowseFolderHook(nullptr);
    SetRemoveQuestionHook(nullptr);
  }

  void renamingDialogShowsEveryPicture() {
    TLumenfoldProject project;
    project.Reset();
    project.RenameTemplate = "%SHORT_ALBUM_NAME%_%N000%.jpg";
    project.RenameStart = 1;
    project.FileNameCase = 0;
    auto album = makeAlbum(project, {"B.JPG", "a.jpg", "c.jpeg"});
    TfrmRenaming d(nullptr, &project, album.get());
    d.show();
    QCOMPARE(d.windowTitle(), QString("Rename pictures"));
    auto* grid = child<QTableView>(&d, "dgdRename");
    QCOMPARE(grid->model()->rowCount(), 3);
    QCOMPARE(grid->model()->headerData(0, Qt::Horizontal).toString(), QString("old name"));
    QCOMPARE(grid->model()->index(0, 0).data().toString(), QString("B.JPG"));
    QCOMPARE(grid->model()->index(2, 1).data().toString(), QString("trip_003.jpg"));
    QVERIFY(!child<QCheckBox>(&d, "cbxRename")->isVisible());
    QVERIFY(child<QCheckBox>(&d, "cbxSpecial")->isChecked());
    QCOMPARE(child<QLabel>(&d, "lblRenameWarning")->text(),
             QString("Once you click \"OK\" original files will be renamed."));

    // The preview follows every choice.
    child<QRadioButton>(&d, "rbnUppercase")->click();
    QCOMPARE(grid->model()->index(0, 1).data().toString(), QString("TRIP_001.JPG"));
    child<QSpinBox>(&d, "edtStart")->setValue(9);
    QCOMPARE(grid->model()->index(0, 1).data().toString(), QString("TRIP_009.JPG"));
    QCOMPARE(project.RenameStart, 9);
    QCOMPARE(project.FileNameCase, 1);
    QVERIFY(project.Modified);

    // The macro menu puts its key before the extension.
    QMenu* menu = d.MacroMenu();
    QCOMPARE(menu->actions().size(), kRenameMacroCount);
    QCOMPARE(menu->actions()[7]->text(), QString("Picture Id"));
    menu->actions()[7]->trigger();
    QCOMPARE(child<QLineEdit>(&d, "edtTemplate")->text(),
             QString("%SHORT_ALBUM_NAME%_%N000%%PICTURE_ID%.jpg"));
    QCOMPARE(TfrmRenaming::InsertMacroKey("name", 16), QString("name%N000%"));

    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(prompt.errors().isEmpty());
    QCOMPARE(d.Settings().Start, 9);
    // The dialog itself renames nothing.
    QVERIFY(QFile::exists(album->Path + "/B.JPG"));

    TLumenfoldAlbum empty(&project);
    empty.Path = album->Path;
    TfrmRenaming e(nullptr, &project, &empty);
    e.show();
    QCOMPARE(child<QTableView>(&e, "dgdRename")->model()->rowCount(), 0);
  }

  // With more pictures than fit, the two halves of the grid still fit beside the scroll bar.
  void renamingGridFitsItsWidth() {
    TLumenfoldProject project;
    project.Reset();
    QStringList names;
    for (int i = 0; i < 30; ++i)
      names << QStringLiteral("img%1.jpg").arg(i);
    auto album = makeAlbum(project, names);
    TfrmRenaming d(nullptr, &project, album.get());
    d.show();
    auto* grid = child<QTableView>(&d, "dgdRename");
    QTRY_VERIFY(grid->verticalScrollBar()->isVisible());
    QTRY_COMPARE(grid->columnWidth(0) + grid->columnWidth(1), grid->viewport()->width() / 2 * 2);
    QVERIFY(!grid->horizontalScrollBar()->isVisible());
    d.resize(d.width() + 101, d.height());
    QTRY_COMPARE(grid->columnWidth(1), grid->viewport()->width() / 2);
    QVERIFY(!grid->horizontalScrollBar()->isVisible());
  }

  void renamingDialogRefusesCollisions() {
    TLumenfoldProject project;
    project.Reset();
    project.RenameTemplate = "%PREVIOUS%.jpg";
    project.FileNameCase = 2;
    auto album = makeAlbum(project, {"a.jpg", "b.jpg"});
    album->Pictures.Pictures(0)->Title = "Sea";
    album->Pictures.Pictures(1)->Title = "SEA";
    TfrmRenaming d(nullptr, &project, album.get());
    d.show();
    auto* templ = child<QLineEdit>(&d, "edtTemplate");
    templ->setText("fixed.jpg");
    QVERIFY(child<QLabel>(&d, "lblRenameProblems")->isVisible());
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.errors().size(), 1);
    QVERIFY(prompt.errors().first().startsWith("Filenames should be unique."));

    // Names that differ only in letter case are refused as well.
    templ->setText("%PICTURE_TITLE%.jpg");
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.errors().size(), 2);

    // A name taken by another file of the folder.
    QVERIFY(writeFile(album->Path + "/Other_1.JPG", "x"));
    templ->setText("other_%N0%.jpg");
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QVERIFY(prompt.errors().last().contains("other_1.jpg"));

    // Cancel closes and keeps the typed template in the project.
    child<QPushButton>(&d, "bbnCancel")->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(project.RenameTemplate, QString("other_%N0%.jpg"));
  }

  void interactiveRenameRenamesAndSaves() {
    TLumenfoldProject project;
    project.Reset();
    project.RenameTemplate = "%N0%.jpg";
    project.RenameStart = 1;
    auto album = makeAlbum(project, {"2.jpg", "1.jpg"});
    album->SetDirty(true);
    for (int i = 0; i < 2; ++i)
      album->Pictures.Pictures(i)->SetDirty(true);
    QVERIFY(album->Save());
    DialogHandler<TfrmRenaming> handler([](TfrmRenaming* d) {
      child<QRadioButton>(d, "rbnKeepCase")->click();
      child<QPushButton>(d, "bbnOk")->click();
    });
    QVERIFY(RenameAlbumPicturesInteractive(nullptr, project, *album));
    QCOMPARE(handler.count, 1);
    QVERIFY2(prompt.errors().isEmpty(), qPrintable(prompt.errors().join('\n')));
    QCOMPARE(ReadTestFile(album->Path + "/1.jpg"), QByteArray("2.jpg"));
    QCOMPARE(album->Pictures.Pictures(0)->OriginalFileName, QString("1.jpg"));
    QVERIFY(!album->Dirty); // saved with the rename
    QCOMPARE(project.FileNameCase, 2);
  }

  void synchroDialogBrowseArrowsAndTypedPath() {
    TLumenfoldProject project;
    project.Reset();
    auto other = makeAlbum(project, {"o.jpg"});
    project.Albums.Add("other", other.release());
    TLumenfoldAlbum album(&project);
    album.Path = env.path("gone/away");
    album.Directory = "away";
    album.ShortName = "Gone";

    // OK with "Relocate" and the old, missing folder is refused.
    {
      TfrmSynchro d(nullptr, &project);
      d.SetAlbum(album);
      d.show();
      QCOMPARE(d.windowTitle(), QString("Album detail"));
      QVERIFY(child<QRadioButton>(&d, "rbnAlbumRelocate")->isChecked());
      QCOMPARE(child<QLineEdit>(&d, "edtPath")->text(), album.Path);
      child<QPushButton>(&d, "bbnOk")->click();
      QVERIFY(d.isVisible());
      QCOMPARE(prompt.warnings().size(), 1);
      child<QPushButton>(&d, "bbnCancel")->click();
      QCOMPARE(d.result(), int(QDialog::Rejected));
    }

    const QString target = env.makeFolder("archive/2004/trip");
    SetBrowseFolderHook([&](const QString& title, const QString&) {
      return title == "Select album path" ? target : QString();
    });
    {
      TfrmSynchro d(nullptr, &project);
      d.SetAlbum(album);
      d.show();
      child<QPushButton>(&d, "bbnBrowsePath")->click();
      auto* directory = child<QLineEdit>(&d, "edtDirectory");
      QCOMPARE(directory->text(), QString("trip"));
      QCOMPARE(d.Album().Path, target);
      child<QPushButton>(&d, "bbnRight")->click();
      QCOMPARE(directory->text(), "2004" + QString(QDir::separator()) + "trip");
      child<QPushButton>(&d, "bbnLeft")->click();
      child<QPushButton>(&d, "bbnLeft")->click(); // one component: nothing happens
      QCOMPARE(directory->text(), QString("trip"));
      QCOMPARE(d.Album().Directory, QString("trip"));
      child<QPushButton>(&d, "bbnOk")->click();
      QCOMPARE(d.result(), int(QDialog::Accepted));
      QVERIFY(d.RelocateChosen());
      // The album itself is untouched; the project is not marked by the copy.
      QCOMPARE(album.Path, env.path("gone/away"));
    }
    {
      // A typed folder counts; another album's folder is refused.
      TfrmSynchro d(nullptr, &project);
      d.SetAlbum(album);
      d.show();
      child<QLineEdit>(&d, "edtPath")->setText(project.Albums.Albums(0)->Path + "/");
      child<QPushButton>(&d, "bbnOk")->click();
      QVERIFY(d.isVisible());
      QVERIFY(prompt.warnings().last().contains("already used"));
      child<QLineEdit>(&d, "edtPath")->setText(target);
      child<QLineEdit>(&d, "edtDirectory")->setText("2004/trip");
      child<QPushButton>(&d, "bbnOk")->click();
      QCOMPARE(d.result(), int(QDialog::Accepted));
      QCOMPARE(d.Album().Path, target);
      QCOMPARE(d.Album().Directory, QString("2004/trip"));
    }
    {
      // Remove asks first.
      TfrmSynchro d(nullptr, &project);
      d.SetAlbum(album);
      d.show();
      child<QRadioButton>(&d, "rbnAlbumRemove")->click();
      prompt.answer = false;
      child<QPushButton>(&d, "bbnOk")->click();
      QVERIFY(d.isVisible());
      QCOMPARE(prompt.questions().size(), 1);
      prompt.answer = true;
      child<QPushButton>(&d, "bbnOk")->click();
      QCOMPARE(d.result(), int(QDialog::Accepted));
      QVERIFY(d.RemoveChosen());
    }
  }

  void synchronisationRun() {
    TLumenfoldProject project;
    project.Reset();
    // Album 1 lost its folder and is relocated; album 2 lost two pictures and one changed;
    // album 3 lost its folder and is removed.
    auto add = [&](const QStringList& names) {
      auto a = makeAlbum(project, names);
      for (int i = 0; i < a->Pictures.Count(); ++i) {
        a->Pictures.Pictures(i)->RefreshOriginalInfo();
        a->Pictures.Pictures(i)->SetDirty(true);
      }
      a->SetDirty(true);
      TLumenfoldAlbum* raw = a.release();
      project.Albums.Add(raw->ShortName, raw);
      raw->Save();
      return raw;
    };
    TLumenfoldAlbum* moved = add({"m.jpg"});
    TLumenfoldAlbum* album = add({"a.jpg", "b.jpg", "c.jpg", "d.jpg"});
    TLumenfoldAlbum* gone = add({"g.jpg"});
    gone->ShortName = "Gone";
    const QString newHome = env.path("newhome");
    QVERIFY(QDir().rename(moved->Path, newHome));
    QVERIFY(QDir(gone->Path).removeRecursively());
    for (const char* name : {"a.jpg", "b.jpg", "c.jpg"})
      QVERIFY(QFile::remove(album->Path + "/" + name));
    QVERIFY(writeFile(album->Path + "/d.jpg", "d, now longer"));

    DialogHandler<TfrmSynchro> handler([&](TfrmSynchro* d) {
      if (d->Album().ShortName == "Gone") {
        child<QRadioButton>(d, "rbnAlbumRemove")->click();
      } else {
        child<QLineEdit>(d, "edtPath")->setText(newHome);
        child<QLineEdit>(d, "edtDirectory")->setText("home");
      }
      child<QPushButton>(d, "bbnOk")->click();
    });
    removeQuestions.clear();
    removeAnswers = {TRemoveAnswer::No, TRemoveAnswer::YesToAll};
    SetRemoveQuestionHook(answerRemove);
    const TSynchroOutcome outcome = SynchroniseWithFolders(nullptr, project);
    QCOMPARE(handler.count, 2);
    QCOMPARE(outcome.AlbumsRemoved, 1);
    QCOMPARE(outcome.AlbumsRelocated, 1);
    // Asked twice: No for the first, Yes to all for the second and the third.
    QCOMPARE(removeQuestions.size(), 2);
    QCOMPARE(outcome.PicturesRemoved, 2);
    QCOMPARE(project.Albums.Count(), 2);
    QCOMPARE(moved->Path, newHome);
    QCOMPARE(album->Pictures.Count(), 2);
    // The changed original is recorded and marked to be processed, and saved.
    TLumenfoldPicture* d = album->Pictures.Pictures(album->Pictures.Count() - 1);
    QCOMPARE(d->OriginalFileName, QString("d.jpg"));
    QVERIFY(d->Modified);
    QVERIFY(!album->Dirty);
    QVERIFY(!outcome.Summary().isEmpty());
  }
};

QTEST_MAIN(TestAlbumDialogs)
#include "test_albumdialogs.moc"
