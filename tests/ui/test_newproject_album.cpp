// The new-project dialog and the album properties dialog.
#include "core/album.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "testenv.h"
#include "ui/common/filedialogs.h"
#include "ui/album/frmalbumdetail.h"
#include "ui/project/frmdatabase.h"
#include "ui/project/frmnewproject.h"
#include "ui/project/frmoptions.h"
#include "uitesthelpers.h"
#include "util/programfolder.h"

#include <QCheckBox>
#include <QDateEdit>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTabWidget>
#include <QTimer>
#include <QtTest>

static QString native(const QString& path) {
  return QDir::toNativeSeparators(path);
}

class TestNewProjectAlbum : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  // New projects are proposed in the home folder: a temporary one keeps the user's untouched.
  void initTestCase() { qputenv("HOME", env.makeFolder("home").toLocal8Bit()); }

  void cleanup() {
    SetBrowseFolderHook(nullptr);
    SetFileDialogHook(nullptr);
  }

  void newProjectWithoutFileNameUsesSite1() {
    // The proposal lies in the user's folders (see test_startup), never in the program folder,
    // which an installed program cannot write.
    TfrmNewProject d;
    QCOMPARE(d.windowTitle(), QString("New project"));
    d.Project().FileName.clear();
    d.show();
    const QString proposed = TfrmNewProject::ProposedProjectFile();
    QVERIFY(proposed.endsWith(native("/LumenFold/site1.lumenfold")) ||
            proposed.contains(native("/LumenFold/site")));
    QVERIFY(!proposed.startsWith(ProgramFolder()));
    QCOMPARE(child<QLineEdit>(&d, "edtProject")->text(), proposed);
    QCOMPARE(d.Project().FileName, proposed);
    QCOMPARE(child<QLineEdit>(&d, "edtDB")->text(),
             "Provider=SQLite;Data Source=" + QFileInfo(proposed).absolutePath() +
                 QDir::separator() + "db.sqlite");
    child<QPushButton>(&d, "bbnCancel")->click();
  }

  void newProjectCreatesTheDatabaseFromTheTemplate() {
    const QString before = "Provider=SQLite;Data Source=/before.sqlite";
    SetCurrentConnectionString(before);
    const QString target = env.path("site/new.sqlite");
    const QString cs = "Provider=sqlite;Data Source=" + target;

    {
      TfrmNewProject d; // Cancel creates nothing and keeps the connection string
      d.show();
      child<QLineEdit>(&d, "edtDB")->setText(cs);
      child<QPushButton>(&d, "bbnCancel")->click();
      QVERIFY(!QFile::exists(target));
      QCOMPARE(CurrentConnectionString(), before);
    }

    TfrmNewProject d;
    d.show();
    SetFileDialogHook([&](const TFileDialogRequest& r) {
      return r.title == "Select name for new Lumenfold project" ? env.path("site/my.lumenfold")
                                                                : QString();
    });
    child<QPushButton>(&d, "bbnProject")->click();
    QCOMPARE(d.Project().FileName, env.path("site/my.lumenfold"));
    child<QLineEdit>(&d, "edtDB")->setText(cs);
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(ReadTestFile(target), ReadTestFile(ProgramFolder() + "template.db"));
    QCOMPARE(d.Project().ConnectionString, cs);
    QCOMPARE(CurrentConnectionString(), cs);
    QCOMPARE(TestConnection(cs), QString());

    // An existing file is never overwritten.
    const QString existing = env.path("existing.sqlite");
    {
      QFile f(existing);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("mine");
    }
    TfrmNewProject again;
    again.show();
    child<QLineEdit>(&again, "edtDB")->setText("Provider=SQLite;Data Source=" + existing);
    child<QPushButton>(&again, "bbnOk")->click();
    QCOMPARE(ReadTestFile(existing), QByteArray("mine"));
  }

  void newProjectRefusesAnEmptyFileName() {
    RecordingPrompt prompt;
    TfrmNewProject d;
    d.show();
    child<QLineEdit>(&d, "edtProject")->clear();
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.warnings().size(), 1);
    child<QPushButton>(&d, "bbnCancel")->click();
  }

  void newProjectAdvancedAndDatabaseButtons() {
    TLumenfoldProject current;
    current.Reset();
    current.FileName = env.path("cur.lumenfold");
    TfrmNewProject d;
    d.Project().Assign(current);
    d.show();
    QVERIFY(!d.Project().Modified);
    QTimer::singleShot(0, this, [] {
      auto* o = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
      QVERIFY(o);
      QCOMPARE(o->findChild<QTabWidget*>("pgcOptions")->currentWidget()->objectName(),
               QString("tabImages"));
      child<QLineEdit>(o, "edtThumbPrefix")->setText("t_");
      child<QPushButton>(o, "bbnOk")->click();
    });
    child<QPushButton>(&d, "bbnAdvanced")->click();
    QCOMPARE(d.Project().ThumbPrefix, QString("t_"));
    QVERIFY(d.Project().Modified);

    const QString db = env.newDatabase("picked.sqlite");
    QTimer::singleShot(0, this, [db] {
      auto* dbd = qobject_cast<TfrmDatabase*>(QApplication::activeModalWidget());
      QVERIFY(dbd);
      child<QPlainTextEdit>(dbd, "memConnectionString")->setPlainText(db);
      child<QPushButton>(dbd, "bbnOk")->click();
    });
    child<QPushButton>(&d, "bbnDB")->click();
    QCOMPARE(child<QLineEdit>(&d, "edtDB")->text(), db);
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.Project().ConnectionString, db);
    QCOMPARE(d.Project().FileName, env.path("cur.lumenfold"));
  }

  void relativeDirectorySteps() {
    const QString path = "c:\\work\\pic\\album1";
    QString dir = "album1";
    QVERIFY(!TfrmAlbumDetail::CanGoLeft(dir));
    QVERIFY(TfrmAlbumDetail::CanGoRight(dir, path));
    dir = TfrmAlbumDetail::DirectoryRight(dir, path);
    QCOMPARE(dir, native("pic/album1"));
    dir = TfrmAlbumDetail::DirectoryRight(dir, path);
    QCOMPARE(dir, native("work/pic/album1"));
    QVERIFY(!TfrmAlbumDetail::CanGoRight(dir, path)); // the drive never joins
    QCOMPARE(TfrmAlbumDetail::DirectoryRight(dir, path), dir);
    QCOMPARE(TfrmAlbumDetail::DirectoryLeft("work\\pic\\album1"), QString("pic\\album1"));
    QCOMPARE(TfrmAlbumDetail::DirectoryLeft("\\\\work\\\\pic"), QString("pic"));
    QCOMPARE(TfrmAlbumDetail::DirectoryLeft("album1"), QString("album1"));
    // Empty components do not count.
    QVERIFY(!TfrmAlbumDetail::CanGoRight("b", "/a//b"));
    QVERIFY(TfrmAlbumDetail::CanGoRight("c", "/a/b/c"));
  }

  void albumDialogButtonsAndFields() {
    TLumenfoldProject project;
    TfrmAlbumDetail d;
    QCOMPARE(d.windowTitle(), QString("Album properties"));
    TLumenfoldAlbum& a = d.Album();
    a.Project = &project;
    a.Id = 7;
    a.Path = "/nowhere/work/pic/album1";
    a.Directory = "album1";
    a.ShortName = "Rome";
    a.AlbumDate = QDateTime(QDate(2004, 5, 6), QTime(10, 0));
    d.SetPictureCount(12);
    d.SetFaceImage(MakeTestImage(40, 30));
    d.show();
    QCOMPARE(child<QLabel>(&d, "lblCount")->text(),
             QString("There are 12 pictures in this album."));
    QCOMPARE(child<QLabel>(&d, "lblID")->text(), QString("7"));
    QVERIFY(child<QLabel>(&d, "lblID")->styleSheet().contains("maroon")); // folder missing
    QCOMPARE(child<QDateEdit>(&d, "edtDate")->date(), QDate(2004, 5, 6));
    QVERIFY(!a.Dirty);

    auto* left = child<QPushButton>(&d, "bbnLeft");
    auto* right = child<QPushButton>(&d, "bbnRight");
    QVERIFY(!left->isEnabled());
    QVERIFY(right->isEnabled());
    right->click();
    QCOMPARE(a.Directory, native("pic/album1"));
    right->click();
    QCOMPARE(a.Directory, native("work/pic/album1"));
    QVERIFY(!right->isEnabled()); // the first component never joins
    QVERIFY(left->isEnabled());
    left->click();
    QCOMPARE(a.Directory, native("pic/album1"));
    QVERIFY(right->isEnabled());

    child<QLineEdit>(&d, "edtLongName")->setText("Rome in May");
    child<QCheckBox>(&d, "cbxPrivate")->click();
    child<QDateEdit>(&d, "edtDate")->setDate(QDate(2005, 1, 2));
    child<QPlainTextEdit>(&d, "edtDescription2")->setPlainText("Řím");
    QCOMPARE(a.LongName, QString("Rome in May"));
    QVERIFY(a.IsPrivate);
    QCOMPARE(a.AlbumDate, QDateTime(QDate(2005, 1, 2), QTime(10, 0)));
    QCOMPARE(a.Description2, QString("Řím"));
    QCOMPARE(a.ShortName, QString("Rome"));

    // Browsing starts at the user's Pictures folder when neither the folder nor its parent
    // exists, never at the program's own folder.
    QString startedAt;
    SetBrowseFolderHook([&](const QString& title, const QString& initial) {
      startedAt = initial;
      return title == "Select album path" ? QString("/d/photos/2004") : QString();
    });
    child<QPushButton>(&d, "bbnBrowsePath")->click();
    QCOMPARE(startedAt, PicturesFolder());
    QCOMPARE(a.Path, QString("/d/photos/2004"));
    QCOMPARE(a.Directory, QString("2004"));
    QVERIFY(a.Dirty);
    // Editing the copy leaves the real project alone; the caller marks it after OK.
    QVERIFY(!project.Modified);
    QCOMPARE(a.Project, &project);

    const QString existing = env.makeFolder("albums/one");
    a.Path = existing;
    child<QLineEdit>(&d, "edtPath")->setText(existing);
    child<QPushButton>(&d, "bbnBrowsePath")->click();
    QCOMPARE(startedAt, existing);
    child<QPushButton>(&d, "bbnCancel")->click();
  }

  void newAlbumOrExistingFolderShowsNavy() {
    TfrmAlbumDetail d;
    d.Album().Id = -1;
    d.Album().Path = "/missing";
    d.show();
    QVERIFY(child<QLabel>(&d, "lblID")->styleSheet().contains("navy"));
    TfrmAlbumDetail e;
    e.Album().Id = 3;
    e.Album().Path = env.path();
    e.show();
    QVERIFY(e.Album().PathExists());
    QVERIFY(child<QLabel>(&e, "lblID")->styleSheet().contains("navy"));
  }
};

QTEST_MAIN(TestNewProjectAlbum)
#include "test_newproject_album.moc"
