// Starting the desktop program: the command line, a project named on it opened instead of the
// start dialog, and where the new-project dialog proposes a new project and its database.
#include "testenv.h"
#include "uitesthelpers.h"

#include "core/project.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/mainwindow/frmmain.h"
#include "ui/project/frmnewproject.h"
#include "ui/common/settingsstore.h"
#include "ui/mainwindow/startoptions.h"
#include "ui/common/uiresources.h"
#include "util/programfolder.h"

#include <QAction>
#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QUrl>
#include <QtTest>

// Stands in for the desktop's browser.
class UrlCatcher : public QObject {
  Q_OBJECT
public:
  QList<QUrl> urls;
public slots:
  void open(const QUrl& url) { urls << url; }
};

namespace {

QString native(const QString& path) {
  return QDir::toNativeSeparators(path);
}

QString sqlite(const QString& file) {
  return QStringLiteral("Provider=SQLite;Data Source=") + native(file);
}

} // namespace

class TestStartup : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  QString home;
  int homes_ = 0;

  // A fresh home folder with the given sub-folders; HOME points at it.
  void newHome(const QStringList& folders = {}) {
    home = env.makeFolder(QStringLiteral("home%1").arg(++homes_));
    for (const QString& f : folders)
      QVERIFY(QDir(home).mkpath(f));
    qputenv("HOME", home.toLocal8Bit());
  }

  QLineEdit* edit(QWidget* d, const char* name) { return child<QLineEdit>(d, name); }

private slots:
  void initTestCase() { InitUiResources(); }
  void init() {
    prompt.clear();
    RecentProjects().clear();
  }

  void helpCommandOpensTheContentsPage() {
    UrlCatcher browser;
    QDesktopServices::setUrlHandler("file", &browser, "open");
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    QAction* help = w.Actions().actHelp;
    QVERIFY(help && help->isEnabled());
    help->trigger();
    QDesktopServices::unsetUrlHandler("file");
    QCOMPARE(browser.urls.size(), 1);
    QCOMPARE(browser.urls.first().toLocalFile(),
             QFileInfo(DataFolder() + "help/index.html").absoluteFilePath());
    QVERIFY(prompt.errors().isEmpty());
  }

  void commandLine() {
    QCOMPARE(ParseStartOptions({}).action, TStartOptions::Run);
    QVERIFY(ParseStartOptions({}).projectFile.isEmpty());
    QCOMPARE(ParseStartOptions({"x.lumenfold", "--help"}).action, TStartOptions::Help);
    QCOMPARE(ParseStartOptions({"-h"}).action, TStartOptions::Help);
    QCOMPARE(ParseStartOptions({"--version"}).action, TStartOptions::Version);
    QCOMPARE(ParseStartOptions({"--nope"}).action, TStartOptions::Error);
    QCOMPARE(ParseStartOptions({"a.lumenfold", "b.lumenfold"}).action, TStartOptions::Error);
    // A relative name is taken from the folder the program was started in.
    const TStartOptions rel = ParseStartOptions({"my site.lumenfold"});
    QCOMPARE(rel.action, TStartOptions::Run);
    QCOMPARE(rel.projectFile, native(QDir::current().absoluteFilePath("my site.lumenfold")));
    // "--" ends the options: a file whose name starts with a dash.
    const TStartOptions dash = ParseStartOptions({"--", "-odd.lumenfold"});
    QCOMPARE(dash.action, TStartOptions::Run);
    QVERIFY(dash.projectFile.endsWith("-odd.lumenfold"));
    QVERIFY(VersionLine("lumenfold").startsWith("lumenfold " LUMENFOLD_VERSION));
  }

  void projectOnTheCommandLineOpensWithoutStartDialog() {
    // A saved project to open.
    const QString file = env.path("cmdline.lumenfold");
    {
      TLumenfoldProject p;
      p.Reset();
      p.FileName = file;
      p.ConnectionString = env.newDatabase("cmdline.sqlite");
      p.ThumbWidth = 321;
      QVERIFY(p.WriteSettings());
    }
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    OpenProjectAtStart(&w, file);
    QTRY_COMPARE(w.windowTitle(), QStringLiteral("LumenFold2 - ") + file);
    QCOMPARE(w.Project()->ThumbWidth, 321);
    QVERIFY(w.IsProjectOpen());
    QCOMPARE(RecentProjects().value(0), file);
    QVERIFY(!QApplication::activeModalWidget());
    QVERIFY(prompt.errors().isEmpty());
    QVERIFY(prompt.warnings().isEmpty());
  }

  void missingProjectOnTheCommandLineFallsBackToTheStartDialog() {
    bool offered = false;
    TfrmLumenFold2 w;
    w.StartDialogOnShow = false;
    w.show();
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
      if (auto* d = qobject_cast<TfrmFirst*>(QApplication::activeModalWidget())) {
        offered = true;
        d->reject();
      }
    });
    poll.start(10);
    const QString missing = env.path("nowhere/gone.lumenfold");
    OpenProjectAtStart(&w, missing);
    QTRY_VERIFY(offered);
    QCOMPARE(prompt.errors().size(), 1);
    QVERIFY(prompt.errors().first().contains(missing));
    QVERIFY(!QFileInfo::exists(missing));
  }

  void newProjectIsProposedInThePicturesFolder() {
    newHome({"Pictures", "Documents"});
    TfrmNewProject d;
    d.show();
    const QString folder = home + "/Pictures/LumenFold";
    QCOMPARE(edit(&d, "edtProject")->text(), native(folder + "/site1.lumenfold"));
    QCOMPARE(d.Project().FileName, native(folder + "/site1.lumenfold"));
    QCOMPARE(edit(&d, "edtDB")->text(), sqlite(folder + "/db.sqlite"));
    // Nothing is made before OK.
    QVERIFY(!QFileInfo::exists(folder));
    child<QPushButton>(&d, "bbnCancel")->click();
    QVERIFY(!QFileInfo::exists(folder));
  }

  void proposalFallsBackToDocumentsThenHome() {
    newHome({"Documents"});
    {
      TfrmNewProject d;
      d.show();
      QCOMPARE(edit(&d, "edtProject")->text(),
               native(home + "/Documents/LumenFold/site1.lumenfold"));
    }
    newHome();
    {
      TfrmNewProject d;
      d.show();
      QCOMPARE(edit(&d, "edtProject")->text(), native(home + "/LumenFold/site1.lumenfold"));
    }
    // A pictures folder named in the user's folder settings.
    newHome({"Bilder"});
    QDir().mkpath(env.path("config"));
    const QString dirs = qEnvironmentVariable("XDG_CONFIG_HOME") + "/user-dirs.dirs";
    {
      QFile f(dirs);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("XDG_PICTURES_DIR=\"$HOME/Bilder\"\n");
    }
    {
      TfrmNewProject d;
      d.show();
      QCOMPARE(edit(&d, "edtProject")->text(), native(home + "/Bilder/LumenFold/site1.lumenfold"));
    }
    QFile::remove(dirs);
  }

  void anExistingProjectIsNeverProposed() {
    newHome({"Pictures/LumenFold"});
    for (const char* name : {"site1.lumenfold", "site2.lumenfold"}) {
      QFile f(home + "/Pictures/LumenFold/" + name);
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    QCOMPARE(TfrmNewProject::ProposedProjectFile(),
             native(home + "/Pictures/LumenFold/site3.lumenfold"));
  }

  void databaseFollowsTheProjectUntilTheUserSetsOne() {
    newHome({"Pictures"});
    TfrmNewProject d;
    d.show();
    const QString other = env.path("elsewhere/trip.lumenfold");
    edit(&d, "edtProject")->setText(other);
    QCOMPARE(edit(&d, "edtDB")->text(), sqlite(env.path("elsewhere/db.sqlite")));
    // Once the user names a database, it stays.
    const QString own = sqlite(env.path("mine/own.sqlite"));
    edit(&d, "edtDB")->setText(own);
    edit(&d, "edtProject")->setText(env.path("third/site.lumenfold"));
    QCOMPARE(edit(&d, "edtDB")->text(), own);
    child<QPushButton>(&d, "bbnCancel")->click();
  }

  void databaseOfTheOpenProjectFollowsOnlyWhenBesideIt() {
    newHome({"Pictures"});
    // The open project keeps its database beside it: the new one does the same.
    TLumenfoldProject beside;
    beside.Reset();
    beside.FileName = native(env.path("a/one.lumenfold"));
    beside.ConnectionString = sqlite(env.path("a/data.sqlite"));
    {
      TfrmNewProject d;
      d.Project().Assign(beside);
      d.show();
      QCOMPARE(edit(&d, "edtDB")->text(), beside.ConnectionString);
      edit(&d, "edtProject")->setText(env.path("b/two.lumenfold"));
      QCOMPARE(edit(&d, "edtDB")->text(), sqlite(env.path("b/data.sqlite")));
    }
    // A database somewhere else stays where it is.
    TLumenfoldProject shared;
    shared.Assign(beside);
    shared.ConnectionString = sqlite(env.path("server/shared.sqlite"));
    {
      TfrmNewProject d;
      d.Project().Assign(shared);
      d.show();
      edit(&d, "edtProject")->setText(env.path("c/three.lumenfold"));
      QCOMPARE(edit(&d, "edtDB")->text(), shared.ConnectionString);
    }
  }

  // A database holding another project's albums is used only on purpose.
  void databaseOfAnotherProjectIsNotProposed() {
    newHome({"Pictures/LumenFold"});
    const QString folder = home + "/Pictures/LumenFold";
    QVERIFY(QFile::copy(DataFolder() + "template.db", folder + "/db.sqlite"));
    QCOMPARE(ExecSQL(sqlite(folder + "/db.sqlite"), "INSERT INTO album (album_id) VALUES (1)"), 1);
    TfrmNewProject d;
    d.show();
    QCOMPARE(edit(&d, "edtDB")->text(), sqlite(folder + "/site1.sqlite"));
    QVERIFY(child<QLabel>(&d, "lblDBNote")->isVisible());
    edit(&d, "edtDB")->setText(sqlite(folder + "/db.sqlite"));
    prompt.answer = false;
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.questions().size(), 1);
    prompt.answer = true;
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.Project().ConnectionString, sqlite(folder + "/db.sqlite"));
  }

  void okMakesTheFolderAndTheDatabase() {
    newHome({"Pictures"});
    const QString before = CurrentConnectionString();
    TfrmNewProject d;
    d.show();
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    const QString folder = home + "/Pictures/LumenFold";
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(ReadTestFile(folder + "/db.sqlite"), ReadTestFile(DataFolder() + "template.db"));
    QCOMPARE(d.Project().FileName, native(folder + "/site1.lumenfold"));
    QCOMPARE(d.Project().ConnectionString, sqlite(folder + "/db.sqlite"));
    QCOMPARE(CurrentConnectionString(), sqlite(folder + "/db.sqlite"));
    QVERIFY(CurrentConnectionString() != before);
    // The project file itself comes with the first save.
    QVERIFY(!QFileInfo::exists(folder + "/site1.lumenfold"));
  }

  void aFolderThatCannotBeMadeKeepsTheDialogOpen() {
    newHome({"Pictures"});
    // A file where the folder should be.
    {
      QFile f(home + "/Pictures/LumenFold");
      QVERIFY(f.open(QIODevice::WriteOnly));
    }
    TfrmNewProject d;
    d.show();
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.warnings().size(), 1);
    QVERIFY(prompt.warnings().first().contains(native(home + "/Pictures/LumenFold")));
    child<QPushButton>(&d, "bbnCancel")->click();
  }
};

QTEST_MAIN(TestStartup)
#include "test_startup.moc"
