// The start, change-base and database dialogs.
#include "db/connectionstring.h"
#include "testenv.h"
#include "ui/common/filedialogs.h"
#include "ui/album/frmchangebase.h"
#include "ui/project/frmdatabase.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/common/settingsstore.h"
#include "uitesthelpers.h"
#include "util/programfolder.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QtTest>

class TestProjectDialogs : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void cleanup() {
    SetBrowseFolderHook(nullptr);
    SetFileDialogHook(nullptr);
  }

  void startDialogWithoutRecentProjectsOffersOnlyNew() {
    TfrmFirst d;
    QCOMPARE(d.objectName(), QString("frmFirst"));
    QCOMPARE(d.windowTitle(), QString("LumenFold2"));
    d.SetRecentProjects({});
    d.show();
    QVERIFY(child<QRadioButton>(&d, "rbnNew")->isChecked());
    QVERIFY(!child<QRadioButton>(&d, "rbnExisting")->isEnabled());
    QVERIFY(!child<QListWidget>(&d, "lbxExisting")->isEnabled());
    QVERIFY(d.NewProjectChosen());
    QCOMPARE(d.SelectedProject(), QString());
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    // Its placement is kept, centred at first.
    auto s = LumenfoldSettings();
    QVERIFY(s->contains(FormSettingsKey("frmFirst") + "/Position/Width"));
  }

  void startDialogWithRecentProjects() {
    TfrmFirst d;
    d.SetRecentProjects({"/p/a.lumenfold", "/p/b.lumenfold"});
    d.show();
    auto* list = child<QListWidget>(&d, "lbxExisting");
    auto* existing = child<QRadioButton>(&d, "rbnExisting");
    QVERIFY(existing->isChecked());
    QVERIFY(list->isEnabled());
    QCOMPARE(d.SelectedProject(), QString("/p/a.lumenfold"));

    child<QRadioButton>(&d, "rbnNew")->click();
    QVERIFY(d.NewProjectChosen());
    QVERIFY(!list->isEnabled());
    existing->click();
    QVERIFY(list->isEnabled());

    // No selection means the first entry.
    list->clearSelection();
    QCOMPARE(d.SelectedProject(), QString("/p/a.lumenfold"));

    // A double click on an entry opens it.
    existing->click();
    list->setCurrentRow(1);
    emit list->itemDoubleClicked(list->item(1));
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(!d.NewProjectChosen());
    QCOMPARE(d.SelectedProject(), QString("/p/b.lumenfold"));
  }

  void changeBaseDialog() {
    TfrmChangeBase d;
    QCOMPARE(d.windowTitle(), QString("Change base directory"));
    QCOMPARE(d.SearchText(), QString("c:\\work\\pic\\album1"));
    QCOMPARE(d.ReplaceText(), QString("pic\\album1"));
    d.SetInitialFolder("/start/here");
    QString askedAt, askedTitle;
    SetBrowseFolderHook([&](const QString& title, const QString& initial) {
      askedTitle = title;
      askedAt = initial;
      return QString();
    });
    d.show();
    child<QPushButton>(&d, "bbnBrowsePath")->click();
    QCOMPARE(askedTitle, QString("Select album path"));
    QCOMPARE(askedAt, QString("/start/here"));
    QCOMPARE(d.ReplaceText(), QString("pic\\album1")); // cancelled: unchanged
    SetBrowseFolderHook([](const QString&, const QString&) { return QString("/new/base"); });
    child<QPushButton>(&d, "bbnBrowsePath")->click();
    QCOMPARE(d.ReplaceText(), QString("/new/base"));
    child<QPushButton>(&d, "bbnCancel")->click();
    QCOMPARE(d.result(), int(QDialog::Rejected));
  }

  void databaseDialogRewritesAMissingProviderToTheFileProvider() {
    TfrmDatabase d;
    QCOMPARE(d.windowTitle(), QString("Database connection"));
    const QString path = env.path("sub/old.mdb");
    d.SetConnectionString("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + path);
    d.SetAvailableProviders({"PostgreSQL", "ODBC", "SQLite"});
    d.show();
    auto* list = child<QListWidget>(&d, "lbxProvider");
    QCOMPARE(list->count(), 3);
    QCOMPARE(list->item(0)->text(), QString("SQLite"));
    QCOMPARE(list->item(2)->text(), QString("PostgreSQL"));
    QCOMPARE(list->currentRow(), 0);
    QCOMPARE(d.ConnectionString(), "Provider=SQLite;Data Source=" + path);
    QCOMPARE(child<QLineEdit>(&d, "edtDB")->text(), path);
    QVERIFY(child<QLineEdit>(&d, "edtDB")->isEnabled());
    QCOMPARE(child<QLabel>(&d, "lblStatus")->text(), QString("Connection status: <unknown>"));
  }

  void databaseDialogProviderSwitchAndFileName() {
    TfrmDatabase d;
    d.SetConnectionString("Provider=ODBC;Data Source=/x/y.sqlite");
    d.SetAvailableProviders({"PostgreSQL", "SQLite", "ODBC"});
    d.show();
    auto* list = child<QListWidget>(&d, "lbxProvider");
    QCOMPARE(list->currentItem()->text(), QString("ODBC")); // the string's own provider
    QVERIFY(!child<QLineEdit>(&d, "edtDB")->isEnabled());
    QVERIFY(!child<QPushButton>(&d, "bbnDB")->isEnabled());

    auto* status = child<QLabel>(&d, "lblStatus");
    QVERIFY(d.TestConnectionNow() == false);
    QCOMPARE(status->text(), QString("Connection status: ERROR."));
    list->setCurrentRow(0);
    QCOMPARE(d.ConnectionString(), QString("Provider=SQLite;Data Source=/x/y.sqlite"));
    QCOMPARE(status->text(), QString("Connection status: <unknown>"));
    QVERIFY(child<QLineEdit>(&d, "edtDB")->isEnabled());

    const QString cs = env.newDatabase("switch.sqlite");
    child<QLineEdit>(&d, "edtDB")->setText(GetConnectionDataSource(cs));
    QCOMPARE(d.ConnectionString(), cs);
    QVERIFY(d.TestConnectionNow());
    QCOMPARE(status->text(), QString("Connection status: CONNECTED."));

    // The browse button fills the file name.
    SetFileDialogHook([](const TFileDialogRequest& r) {
      return r.title == "Select name for new Lumenfold database" ? QString("/chosen/db.sqlite")
                                                                 : QString();
    });
    child<QPushButton>(&d, "bbnDB")->click();
    QCOMPARE(d.ConnectionString(), QString("Provider=SQLite;Data Source=/chosen/db.sqlite"));

    list->setCurrentRow(1);
    QCOMPARE(d.ConnectionString(), QString("Provider=PostgreSQL;Data Source=/chosen/db.sqlite"));
    QVERIFY(!child<QLineEdit>(&d, "edtDB")->isEnabled());
    // A string without a provider part still takes the chosen provider.
    child<QPlainTextEdit>(&d, "memConnectionString")->setPlainText("Data Source=/z");
    list->setCurrentRow(0);
    QVERIFY(d.ConnectionString().startsWith("Provider=SQLite;"));
  }

  void databaseDialogRefusesAFailedConnection() {
    RecordingPrompt prompt;
    TfrmDatabase d;
    d.SetConnectionString("Provider=SQLite;Data Source=" + env.newDatabase("refuse.sqlite"));
    d.SetAvailableProviders({"SQLite", "PostgreSQL"});
    d.show();
    child<QListWidget>(&d, "lbxProvider")->setCurrentRow(1);
    child<QPlainTextEdit>(&d, "memConnectionString")
        ->setPlainText("Provider=PostgreSQL;Data Source=nowhere");
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.errors(), QStringList{"Database connection failed"});

    // A file that is not a database is refused, and left as it was.
    const QString junk = env.path("junk.sqlite");
    {
      QFile f(junk);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write("not a database");
    }
    child<QListWidget>(&d, "lbxProvider")->setCurrentRow(0);
    child<QLineEdit>(&d, "edtDB")->setText(junk);
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(prompt.errors().size(), 2);
    QCOMPARE(ReadTestFile(junk), QByteArray("not a database"));

    // Cancel always closes.
    child<QPushButton>(&d, "bbnCancel")->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
  }

  void databaseDialogCreatesAMissingFileFromTheTemplate() {
    RecordingPrompt prompt;
    const QString target = env.path("made/new.sqlite");
    TfrmDatabase d;
    d.SetConnectionString("Provider=SQLite;Data Source=" + env.path("other.sqlite"));
    d.SetAvailableProviders({"SQLite"});
    d.show();
    child<QLineEdit>(&d, "edtDB")->setText(target);
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(!d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QVERIFY(prompt.errors().isEmpty());
    QCOMPARE(ReadTestFile(target), ReadTestFile(ProgramFolder() + "template.db"));
    QVERIFY(QFileInfo(target).isWritable());
    QCOMPARE(d.ConnectionString(), "Provider=SQLite;Data Source=" + target);
  }
};

QTEST_MAIN(TestProjectDialogs)
#include "test_projectdialogs.moc"
