// The processing windows: the selection window's modes, validation and settings; the progress
// window's labels, Cancel with its question, a run that ends while the question is open; the
// Process command's closing messages.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "processing/processingjob.h"
#include "processing/processthread.h"
#include "testenv.h"
#include "ui/processing/frmprocessselection.h"
#include "ui/processing/frmprogress.h"
#include "ui/mainwindow/processcommands.h"
#include "ui/common/qtprompt.h"
#include "ui/common/settingsstore.h"
#include "uitesthelpers.h"
#include "util/messages.h"
#include "util/programfolder.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCursor>
#include <QDir>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QProgressBar>
#include <QPushButton>
#include <QRadioButton>
#include <QSettings>
#include <QSignalSpy>
#include <QtTest>

namespace {

// Calls the handler once for every new modal window (dialogs and message boxes) that appears.
class TModalDriver : public QObject {
public:
  explicit TModalDriver(std::function<void(QWidget*)> handler) : handler_(std::move(handler)) {
    connect(&timer_, &QTimer::timeout, this, [this] {
      QWidget* w = QApplication::activeModalWidget();
      if (!w || seen_.contains(w)) return;
      seen_ << w;
      handler_(w);
    });
    timer_.start(10);
  }

private:
  std::function<void(QWidget*)> handler_;
  QTimer timer_;
  QList<QPointer<QWidget>> seen_;
};

// Answers a message box with the button and records its text; clicks OK of the selection window.
void clickOkOrAnswer(QWidget* w, QMessageBox::StandardButton button, QStringList* texts) {
  if (auto* box = qobject_cast<QMessageBox*>(w)) {
    if (texts) *texts << box->text();
    if (QAbstractButton* b = box->button(button))
      b->click();
    else
      box->reject();
  } else if (qobject_cast<TfrmProcessSelection*>(w)) {
    child<QPushButton>(w, "bbnOk")->click();
  }
}

} // namespace

class TestProcessDialogs : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  std::unique_ptr<TLumenfoldProject> project;
  QString root;
  TLumenfoldAlbum* trip = nullptr;

  TLumenfoldAlbum* addAlbum(const QString& name, int pictures, bool modified) {
    auto* album = new TLumenfoldAlbum(project.get());
    album->Path = env.makeFolder(root + "/photos/" + name.toLower());
    album->Directory = name.toLower();
    album->ShortName = name;
    album->Loaded = true;
    project->Albums.Add(name, album);
    for (int i = 0; i < pictures; ++i) {
      const QString file = QStringLiteral("p%1.jpg").arg(i + 1);
      WriteTestJpeg(album->Path + "/" + file, 320, 240);
      auto* p = new TLumenfoldPicture(album);
      p->OriginalFileName = file;
      p->UpdateFileNames();
      p->SortOrder = i + 1;
      album->Pictures.Add(QString(), p);
      p->SetDirty(true);
      p->SetModified(modified);
    }
    return album;
  }

  QString mediumOf(const TLumenfoldAlbum* album, int i) {
    return album->Path + QStringLiteral("/ps_medium/m_p%1.jpg").arg(i + 1);
  }

  // A progress window over the modified pictures whose run holds before its first picture.
  std::unique_ptr<TfrmProgress> pausedProgress(TProcessingJob** job) {
    auto dlg = std::make_unique<TfrmProgress>(project.get());
    dlg->Request.Jobs = 2;
    connect(dlg.get(), &TfrmProgress::RunPrepared, this, [job](TProcessingJob* j) {
      j->Pause();
      *job = j;
    });
    dlg->show();
    [&] { QTRY_VERIFY(*job != nullptr); }();
    return dlg;
  }

private slots:
  void init() {
    static int n = 0;
    root = QStringLiteral("case%1").arg(++n);
    const QString connection = env.newDatabase(root + ".sqlite");
    SetCurrentConnectionString(connection);
    SetProgramFolder(env.makeFolder(root + "/program"));
    const QString gallery = env.makeFolder(root + "/program/templates/gallery");
    WriteTestJpeg(gallery + "/preview_small.jpg", 40, 30);
    WriteTestJpeg(gallery + "/preview_big.jpg", 80, 60);
    project = std::make_unique<TLumenfoldProject>();
    project->Reset();
    project->ConnectionString = connection;
    project->ZipEnabled = false;
    project->ZipFileName = env.makeFolder(root + "/site") + "/albums.zip";
    project->SiteTemplate.clear();
    trip = addAlbum("Trip", 3, true);
    addAlbum("Home", 2, false);
    project->Modified = false;
    prompt.clear();
  }

  void cleanup() {
    project.reset();
    CloseThreadConnections();
    SetCurrentConnectionString(QString());
    SetProgramFolder(QString());
  }

  void selectionModesEnablingAndAlbumCheck() {
    TfrmProcessSelection dlg(project.get());
    QCOMPARE(dlg.objectName(), QString("frmProcess"));
    QCOMPARE(dlg.windowTitle(), QString("Process selection"));
    dlg.show();
    auto* list = child<QListWidget>(&dlg, "lbxAlbums");
    auto* process = child<QCheckBox>(&dlg, "cbxProcess");
    // All modified pictures: only albums with modified pictures, all checked, nothing to change.
    QVERIFY(child<QRadioButton>(&dlg, "rbnProcessed")->isChecked());
    QCOMPARE(list->count(), 1);
    QCOMPARE(list->item(0)->text(), QString("Trip (3/3)"));
    QCOMPARE(list->item(0)->checkState(), Qt::Checked);
    QVERIFY(!list->isEnabled());
    QVERIFY(process->isChecked() && !process->isEnabled());

    // The zip controls follow "Zip".
    auto* zip = child<QCheckBox>(&dlg, "cbxZip");
    const char* zipControls[] = {"edtZip", "bbnZip", "cbxZipDB", "cmbZipAspTemplate",
                                 "edtSiteFolder"};
    QVERIFY(!zip->isChecked());
    for (const char* name : zipControls)
      QVERIFY2(!child<QWidget>(&dlg, name)->isEnabled(), name);
    zip->click();
    for (const char* name : zipControls)
      QVERIFY2(child<QWidget>(&dlg, name)->isEnabled(), name);
    auto* templates = child<QComboBox>(&dlg, "cmbZipAspTemplate");
    QCOMPARE(templates->itemText(0), QString("<do not add template>"));
    QCOMPARE(templates->currentIndex(), 0);
    QVERIFY(templates->findText("gallery") > 0);
    // Zip without a template: the window says that everything, private pictures too, goes in.
    auto* warning = child<QLabel>(&dlg, "lblNoTemplateWarning");
    QVERIFY(warning->isVisible() && warning->text().contains("private"));
    templates->setCurrentIndex(templates->findText("gallery"));
    QVERIFY(!warning->isVisible());
    templates->setCurrentIndex(0);

    // Checked albums: every album, unchecked, and "Process" is the user's choice.
    child<QRadioButton>(&dlg, "rbnChecked")->click();
    QCOMPARE(list->count(), 2);
    QCOMPARE(list->item(1)->text(), QString("Home"));
    QCOMPARE(list->item(0)->checkState(), Qt::Unchecked);
    QVERIFY(list->isEnabled());
    QVERIFY(!process->isChecked() && process->isEnabled());

    {
      TBoxAnswerer answer(QMessageBox::Ok);
      child<QPushButton>(&dlg, "bbnOk")->click();
      QCOMPARE(answer.texts,
               QStringList({"You need to checked albums you want to process or zip"}));
    }
    QVERIFY(dlg.isVisible());
    list->item(1)->setCheckState(Qt::Checked);
    child<QPushButton>(&dlg, "bbnOk")->click();
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QCOMPARE(dlg.CheckedAlbums(), QStringList({"1"}));
    QVERIFY(!dlg.AllModifiedMode());
    QVERIFY(dlg.Zip());
    QVERIFY(project->ZipEnabled);
    QVERIFY(project->Modified); // zip was switched on
    QVERIFY(LumenfoldSettings()->contains(FormSettingsKey("frmProcess") + "/Position/Width"));
  }

  void zipFolderQuestionCreatesOnlyWhenConfirmed() {
    project->ZipEnabled = true;
    const QString before = project->ZipFileName;
    const QString folder = env.path(root + "/upload/deeper");
    TfrmProcessSelection dlg(project.get());
    dlg.show();
    child<QLineEdit>(&dlg, "edtZip")->setText(folder + "/site.zip");
    {
      TBoxAnswerer answer(QMessageBox::Cancel);
      child<QPushButton>(&dlg, "bbnOk")->click();
      QCOMPARE(answer.texts,
               QStringList({"The path for zip file does not exist. Do you want to create it?\n" +
                            QDir::toNativeSeparators(folder)}));
    }
    QVERIFY(dlg.isVisible());
    QVERIFY(!QFileInfo::exists(folder));
    QCOMPARE(project->ZipFileName, before);
    QVERIFY(!project->Modified);
    {
      TBoxAnswerer answer(QMessageBox::Ok);
      child<QPushButton>(&dlg, "bbnOk")->click();
      QCOMPARE(answer.texts.size(), 1);
    }
    QCOMPARE(dlg.result(), int(QDialog::Accepted));
    QVERIFY(QFileInfo(folder).isDir());
    QCOMPARE(project->ZipFileName, folder + "/site.zip");
    QVERIFY(project->Modified);
  }

  void cancelLeavesSettingsAndUnchangedOkLeavesProjectUnmodified() {
    project->ZipEnabled = true;
    {
      TfrmProcessSelection dlg(project.get());
      dlg.show();
      auto* templates = child<QComboBox>(&dlg, "cmbZipAspTemplate");
      templates->setCurrentIndex(templates->findText("gallery"));
      QCOMPARE(project->SiteTemplate, QString("gallery")); // taken at once
      child<QCheckBox>(&dlg, "cbxZipDB")->click();
      child<QLineEdit>(&dlg, "edtSiteFolder")->setText("/tmp/site");
      child<QCheckBox>(&dlg, "cbxZip")->click();
      child<QPushButton>(&dlg, "bbnCancel")->click();
      QCOMPARE(dlg.result(), int(QDialog::Rejected));
    }
    QCOMPARE(project->SiteTemplate, QString());
    QCOMPARE(project->SiteFolder, QString());
    QVERIFY(project->ZipDatabase);
    QVERIFY(project->ZipEnabled);
    QVERIFY(!project->Modified);
    {
      TfrmProcessSelection dlg(project.get());
      dlg.show();
      child<QPushButton>(&dlg, "bbnOk")->click();
      QCOMPARE(dlg.result(), int(QDialog::Accepted));
    }
    QVERIFY(!project->Modified);
    {
      TfrmProcessSelection dlg(project.get());
      dlg.show();
      auto* templates = child<QComboBox>(&dlg, "cmbZipAspTemplate");
      templates->setCurrentIndex(templates->findText("gallery"));
      child<QLineEdit>(&dlg, "edtSiteFolder")->setText(" site ");
      child<QPushButton>(&dlg, "bbnOk")->click();
    }
    QCOMPARE(project->SiteTemplate, QString("gallery"));
    QCOMPARE(project->SiteFolder, QString("site"));
    QVERIFY(project->Modified);
  }

  void templateThatDoesNotExistIsReported() {
    project->ZipEnabled = true;
    project->SiteTemplate = "vanished";
    TBoxAnswerer answer(QMessageBox::Ok);
    TfrmProcessSelection dlg(project.get());
    dlg.show();
    QTRY_COMPARE(answer.texts.size(), 1);
    QVERIFY(answer.texts.first().contains("\"vanished\" does not exist"));
    QCOMPARE(child<QComboBox>(&dlg, "cmbZipAspTemplate")->currentIndex(), 0);

    // The run refuses it too, before anything is processed.
    TProcessingRequest request;
    request.Zip = true;
    TProcessingJob job(project.get(), request, nullptr);
    QVERIFY(!job.Prepare());
    QVERIFY(job.Reason().contains("vanished"));
  }

  void progressLabelsFollowTheMessages() {
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    QCOMPARE(dlg->objectName(), QString("frmProgress"));
    QCOMPARE(dlg->windowTitle(), QString("Processing..."));
    auto* progress = child<QLabel>(dlg.get(), "lblProgress");
    auto* file = child<QLabel>(dlg.get(), "lblFilename");
    auto* stage = child<QLabel>(dlg.get(), "lblProcess");
    auto* bar = child<QProgressBar>(dlg.get(), "pbrProcess");
    // The modified pictures of Trip and the never processed ones of Home are due.
    QCOMPARE(progress->text(), QString("0/5"));
    QCOMPARE(stage->text(), QString("preparing..."));
    QVERIFY(progress->font().bold() && file->font().bold());
    QCOMPARE(dlg->FileNames().size(), 5);

    PostMessage(dlg.get(), LF_MSG_PROGRESS, 2, psMedium);
    QTRY_COMPARE(progress->text(), QString("2/5"));
    QCOMPARE(file->text(), dlg->FileNames().at(1));
    QCOMPARE(stage->text(), QString("processing medium image"));
    const int medium = bar->value();
    PostMessage(dlg.get(), LF_MSG_PROGRESS, 2, psDatabase);
    PostMessage(dlg.get(), LF_MSG_PROGRESS, 2, psHash);
    QTRY_COMPARE(stage->text(), QString("getting hash and size of the file"));
    QVERIFY(bar->value() > medium); // the bar moves within a picture
    // A picture's worker steps move it before the picture's stages come.
    PostMessage(dlg.get(), LF_MSG_PROGRESS, 3, psHash);
    QTRY_COMPARE(progress->text(), QString("3/5"));
    const int atThird = bar->value();
    PostMessage(dlg.get(), LF_MSG_PROGRESS_PART, 500, psHash);
    QTRY_VERIFY(bar->value() > atThird);
    const int halfway = bar->value();
    PostMessage(dlg.get(), LF_MSG_PROGRESS_PART, 400, psMedium); // not the current stage
    PostMessage(dlg.get(), LF_MSG_PROGRESS, 3, psMedium);
    QTRY_COMPARE(stage->text(), QString("processing medium image"));
    QVERIFY(bar->value() >= halfway);
    PostMessage(dlg.get(), LF_MSG_PROGRESS, 3, psZipPictures);
    QTRY_COMPARE(stage->text(), QString("inserting pictures into zip archive..."));
    QCOMPARE(file->text(), QString());
    QCOMPARE(bar->value(), bar->maximum());

    // The run goes on to its end and closes the window as finished.
    job->Resume();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->isVisible(), 60000);
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QCOMPARE(progress->text(), QString("5/5"));
    QVERIFY(LumenfoldSettings()->contains(FormSettingsKey("frmProgress") + "/Position/Width"));
  }

  void cancelThenNoResumesTheRun() {
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    {
      TBoxAnswerer answer(QMessageBox::No);
      child<QPushButton>(dlg.get(), "bbnCancel")->click();
      QCOMPARE(answer.texts, QStringList({"Are you sure?"}));
    }
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->isVisible(), 60000);
    QVERIFY(dlg->Finished());
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    for (int i = 0; i < 3; ++i) {
      QVERIFY(QFileInfo::exists(mediumOf(trip, i)));
      QVERIFY(!trip->Pictures.Pictures(i)->Modified);
    }
  }

  void cancelThenYesStopsBeforeTheNextPicture() {
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    {
      TBoxAnswerer answer(QMessageBox::Yes);
      child<QPushButton>(dlg.get(), "bbnCancel")->click();
      QCOMPARE(answer.texts, QStringList({"Are you sure?"}));
    }
    // The window waited for the run's end before it closed.
    QVERIFY(!dlg->isVisible());
    QVERIFY(!dlg->Running());
    QVERIFY(!dlg->Finished());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    QCOMPARE(dlg->Reason(), TProcessThread::StoppedReason());
    QCOMPARE(dlg->ReportLines().first(), QString("Processing was terminated and finished."));
    for (int i = 0; i < 3; ++i) {
      QVERIFY(!QFileInfo::exists(mediumOf(trip, i)));
      QVERIFY(trip->Pictures.Pictures(i)->Modified);
    }
  }

  void closeBoxAsksToo() {
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    TBoxAnswerer answer(QMessageBox::No);
    QVERIFY(!dlg->close()); // refused while the run goes on; the question follows
    QTRY_COMPARE(answer.texts, QStringList({"Are you sure?"}));
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->isVisible(), 60000);
    QVERIFY(dlg->Finished());
  }

  void runEndingWhileTheQuestionIsOpenClosesBoth() {
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    QStringList asked;
    QPointer<QMessageBox> question;
    // Leaves the question open and lets the run go on to its end meanwhile.
    TModalDriver driver([&](QWidget* w) {
      if (auto* box = qobject_cast<QMessageBox*>(w)) {
        asked << box->text();
        question = box;
        job->Resume();
      }
    });
    child<QPushButton>(dlg.get(), "bbnCancel")->click(); // returns once the question is gone
    QCOMPARE(asked, QStringList({"Are you sure?"}));
    QVERIFY(question.isNull());
    QTRY_VERIFY(!dlg->isVisible());
    QVERIFY(dlg->Finished());
    QCOMPARE(dlg->result(), int(QDialog::Accepted));
    QVERIFY(QFileInfo::exists(mediumOf(trip, 2)));
    dlg.reset(); // the window and its run go without touching a thread that has ended
  }

  void runWaitingForAnErrorBoxWhileTheQuestionIsOpenDoesNotHang() {
    // The desktop's prompt: a box asked for by the run thread waits for the interface thread.
    QtPrompt boxes;
    boxes.install();
    // A database without tables: the first row the run writes fails with an error box.
    SetCurrentConnectionString("Provider=SQLite;Data Source=" + env.path(root + "/empty.sqlite"));
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    QStringList texts;
    TModalDriver driver([&](QWidget* w) {
      auto* box = qobject_cast<QMessageBox*>(w);
      if (!box) return;
      texts << box->text();
      if (box->text() == "Are you sure?")
        job->Resume(); // the question stays open while the run goes on
      else
        box->button(QMessageBox::Ok)->click();
    });
    child<QPushButton>(dlg.get(), "bbnCancel")->click();
    QTRY_VERIFY_WITH_TIMEOUT(!dlg->isVisible(), 60000);
    QCOMPARE(texts.value(0), QString("Are you sure?"));
    QVERIFY(texts.size() >= 2); // the database's error, answered while the question was open
    QVERIFY(!dlg->Finished());
    QCOMPARE(dlg->result(), int(QDialog::Rejected));
    QVERIFY(dlg->Reason().contains("could not be saved"));
  }

  void windowClosedWithItsRunStillGoingStopsIt() {
    TProcessingJob* job = nullptr;
    auto dlg = pausedProgress(&job);
    QVERIFY(dlg->Running());
    dlg.reset(); // e.g. its owner went away: the run is stopped and waited for
    for (int i = 0; i < 3; ++i)
      QVERIFY(!QFileInfo::exists(mediumOf(trip, i)));
  }

  void processCommandReportsHowTheRunEnded() {
    int before = 0, after = 0;
    // The busy cursor shows from the run's start and is gone again by the report.
    bool busyAtStart = false, busyAtEnd = true;
    const auto busy = [] {
      return QApplication::overrideCursor() &&
             QApplication::overrideCursor()->shape() == Qt::BusyCursor;
    };
    TProcessHooks hooks{[&] {
                          ++before;
                          busyAtStart = busy();
                        },
                        [&] {
                          ++after;
                          busyAtEnd = busy();
                        }};
    {
      QStringList texts;
      TModalDriver driver([&](QWidget* w) { clickOkOrAnswer(w, QMessageBox::Ok, &texts); });
      QVERIFY(RunProcessCommand(nullptr, *project, -1, hooks));
      QCOMPARE(texts, QStringList({"Processing finished successfully."}));
    }
    QCOMPARE(before, 1);
    QCOMPARE(after, 1);
    QVERIFY(busyAtStart && !busyAtEnd);
    QVERIFY(QFileInfo::exists(mediumOf(trip, 0)));

    // An original that cannot be decoded is skipped: the run finishes and says which and why.
    QFile bad(trip->Path + "/p2.jpg");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write(QByteArray(3000, 'x'));
    bad.close();
    trip->Pictures.Pictures(1)->SetModified(true);
    {
      QStringList texts;
      TModalDriver driver([&](QWidget* w) { clickOkOrAnswer(w, QMessageBox::Ok, &texts); });
      QVERIFY(RunProcessCommand(nullptr, *project, -1, hooks));
      QCOMPARE(texts.size(), 1);
      QVERIFY2(texts.first().startsWith("Processing finished successfully.\n1 original picture "
                                        "could not be decoded"),
               qPrintable(texts.first()));
      QVERIFY(texts.first().contains("p2.jpg"));
    }

    // Cancel in the selection window runs nothing and says nothing.
    {
      QStringList texts;
      TModalDriver driver([&](QWidget* w) {
        if (qobject_cast<TfrmProcessSelection*>(w))
          child<QPushButton>(w, "bbnCancel")->click();
        else
          clickOkOrAnswer(w, QMessageBox::Ok, &texts);
      });
      QVERIFY(!RunProcessCommand(nullptr, *project, -1, hooks));
      QVERIFY(texts.isEmpty());
    }
    QCOMPARE(before, 2);
  }

  // A file at the archive's place that the program did not write is asked about; No keeps it.
  void foreignFileAtTheArchivePlaceIsAskedAbout() {
    project->ZipEnabled = true;
    QFile notes(project->ZipFileName);
    QVERIFY(notes.open(QIODevice::WriteOnly) && notes.write("my notes") == 8);
    notes.close();
    QStringList texts;
    TModalDriver driver([&](QWidget* w) { clickOkOrAnswer(w, QMessageBox::No, &texts); });
    QVERIFY(!RunProcessCommand(nullptr, *project, -1, {}));
    QCOMPARE(texts.size(), 1);
    QVERIFY2(texts.first().contains(project->ZipFileName), qPrintable(texts.first()));
    QCOMPARE(ReadTestFile(project->ZipFileName), QByteArray("my notes"));
  }

  void processAndZipChecksTheAlbumAndZip() {
    project->ZipEnabled = false;
    QStringList texts;
    bool checked = false;
    TModalDriver driver([&](QWidget* w) {
      if (qobject_cast<TfrmProcessSelection*>(w)) {
        auto* list = child<QListWidget>(w, "lbxAlbums");
        checked = child<QRadioButton>(w, "rbnChecked")->isChecked() &&
                  child<QCheckBox>(w, "cbxZip")->isChecked() && list->count() == 2 &&
                  list->item(1)->checkState() == Qt::Checked &&
                  list->item(0)->checkState() == Qt::Unchecked;
      }
      clickOkOrAnswer(w, QMessageBox::Ok, &texts);
    });
    QVERIFY(RunProcessCommand(nullptr, *project, 1, {}));
    QVERIFY(checked);
    QCOMPARE(texts, QStringList({"Processing finished successfully."}));
    QVERIFY(QFileInfo::exists(project->ZipFileName));
    // The archive holds every published picture, so the other album's due pictures are made too.
    QVERIFY(QFileInfo::exists(mediumOf(trip, 0)));
  }
};

QTEST_MAIN(TestProcessDialogs)
#include "test_processdialogs.moc"
