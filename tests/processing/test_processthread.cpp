// The processing run: stage messages, files, database rows, the zip archive, pause and stop,
// errors that end the run.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivemark.h"
#include "processing/archive/zipwriter.h"
#include "processing/picturework.h"
#include "processing/processingjob.h"
#include "processing/processthread.h"
#include "testenv.h"
#include "testfiles.h"
#include "util/helpers.h"
#include "util/messages.h"
#include "util/programfolder.h"
#include "util/tracer.h"

#include <QDir>
#include <QFile>
#include <QImageReader>
#include <QMap>
#include <QSignalSpy>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QtTest>

namespace {

using Message = QPair<qintptr, qintptr>;

// Receives the posted progress messages on the test's thread.
class Recorder : public QObject {
public:
  QList<Message> messages;
  // Every message in arrival order: stages as (number, stage), parts as (-thousandths, stage).
  QList<Message> all;
  std::function<void(const Message&)> onMessage;
  bool event(QEvent* e) override {
    if (TMessageEvent::Is(e, LF_MSG_PROGRESS_PART)) {
      auto* m = static_cast<TMessageEvent*>(e);
      all.append({-m->First, m->Second});
      return true;
    }
    if (TMessageEvent::Is(e, LF_MSG_PROGRESS)) {
      auto* m = static_cast<TMessageEvent*>(e);
      messages.append({m->First, m->Second});
      all.append(messages.last());
      if (onMessage) onMessage(messages.last());
      return true;
    }
    return QObject::event(e);
  }
};

// Records RunEnded on the test's thread, where the test reads it (a QSignalSpy would record it
// on the run thread meanwhile).
class EndSpy : public QObject {
public:
  explicit EndSpy(TProcessThread* thread) {
    connect(
        thread, &TProcessThread::RunEnded, this,
        [this](bool completed, const QString& reason) {
          ends.append({completed, reason});
        },
        Qt::QueuedConnection);
  }
  qsizetype count() const { return ends.size(); }
  bool isEmpty() const { return ends.isEmpty(); }
  const QVariantList& first() const { return ends.first(); }
  QList<QVariantList> ends;
};

QList<Message> stages(qintptr number, std::initializer_list<int> codes) {
  QList<Message> list;
  for (int c : codes)
    list.append({number, c});
  return list;
}

QSize imageSize(const QString& path) {
  QImageReader reader(path);
  return reader.read().size();
}

// A project with one album folder "trip" of JPEG originals and its own database.
struct Fixture {
  TestEnv env;
  RecordingPrompt prompt;
  TLumenfoldProject project;
  TLumenfoldAlbum* album = nullptr;
  QString connection;
  Recorder recorder;

  Fixture() {
    connection = env.newDatabase();
    SetCurrentConnectionString(connection);
    SetProgramFolder(env.path());
    project.Reset();
    project.ConnectionString = connection;
    project.ZipFileName = env.makeFolder("site") + "/albums.zip";
    album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder("photos/trip");
    album->Directory = "trip";
    album->ShortName = "Trip";
    album->Loaded = true;
    project.Albums.Add(album->ShortName, album);
    Tracer().KeepInMemory = true;
  }
  ~Fixture() {
    SetCurrentConnectionString(QString());
    SetProgramFolder(QString()); // back to the folder holding template.db
  }

  TLumenfoldPicture* addPicture(const QString& name, int width, int height, bool modified = true) {
    if (width > 0) WriteTestJpeg(album->Path + "/" + name, width, height);
    auto* p = new TLumenfoldPicture(album);
    p->OriginalFileName = name;
    p->UpdateFileNames();
    p->SortOrder = album->Pictures.Count() + 1;
    album->Pictures.Add(QString(), p);
    p->SetDirty(true);
    p->SetModified(modified);
    return p;
  }

  // Runs to the end and delivers the posted messages.
  bool run(TProcessThread& thread, QString* reason = nullptr, int jobs = 2) {
    thread.Jobs = jobs;
    EndSpy ended(&thread);
    thread.start();
    [&] { QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 120000); }();
    thread.wait();
    QCoreApplication::sendPostedEvents(&recorder);
    if (ended.isEmpty()) return false;
    if (reason)
      *reason = ended.first().at(1).toString();
    else if (!ended.first().at(0).toBool())
      qWarning() << ended.first().at(1).toString();
    return ended.first().at(0).toBool();
  }

  int count(const QString& sql) {
    TQuery q;
    if (OpenQuery(connection, sql, q) != 0) return -1;
    const int n = q->FirstAsInteger();
    CloseQuery(q);
    return n;
  }
};

} // namespace

class TestProcessThread : public QObject {
  Q_OBJECT
private slots:
  void modifiedPictureWritesFilesAndRow();
  void unmodifiedDeletedAndMissingPictures();
  void emptyWorkListWithZip();
  void zipEntryLayoutAndHostileNames();
  void hostileTemplateNameEndsTheRun();
  void existingArchiveHoldsOnlyTheProject();
  void orientationAndCropMakeTheLargeImage();
  void damagedOriginalsAreSkippedAndCounted();
  void unwritableOutputEndsTheRunCleanly();
  void stopWhilePausedEndsBeforeAnyPicture();
  void pauseAndResumeFinishes();
  void stopAtAPictureBoundary();
  void databaseInZipIsComplete();
  void workerCountDoesNotChangeTheOutput();
  void workListModes();
  void signaturesAreStampedPerPicture();
  void faultsLeaveArchiveAndDatabaseSoundForTheNextRun();
  void changedPrefixAndCaseMakePicturesDue();
  void sameSiteFolderIsRefused();
  void packedDatabaseHoldsUnsavedChanges();
  void entriesThatAreNotTheProjectsDoNotSurvive();
  void templateFileMayNotReplaceAPackedEntry();
  void unchangedEntriesAreCopiedAsTheyAre();
  void progressMovesWithinLongStages();
  void foreignArchiveIsNeverReplaced();
  void onlyPicturesArePacked();
};

namespace {

// Every file of every published picture, the database when packed, the template's files and
// nothing else; each entry holds its file's bytes.
void verifyArchiveMatchesProject(Fixture& f, const QStringList& templateFiles = {}) {
  const auto entries = readZip(f.project.ZipFileName);
  QStringList expected = templateFiles;
  for (int a = 0; a < f.project.Albums.Count(); ++a) {
    TLumenfoldAlbum* album = f.project.Albums.Albums(a);
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      TLumenfoldPicture* p = album->Pictures.Pictures(i);
      if (p->IsDeleted) continue;
      QVERIFY2(!p->Modified, qPrintable(p->OriginalFileName));
      const QString dir = ZipEntryName(album->Directory) + "/";
      const QStringList names = {p->OriginalFileName, p->MediumFileName, p->ThumbFileName};
      for (const QString& name : names) {
        expected.append(dir + name);
        QCOMPARE(entries.value(dir + name), ReadTestFile(album->Path + "/" + name));
      }
    }
  }
  if (f.project.ZipDatabase) expected.append("db.sqlite");
  expected.sort();
  QCOMPARE(entries.keys(), expected);
  QVERIFY(TArchiveBuilder::Leftovers(f.project.ZipFileName).isEmpty());
}

// The database as the archive holds it, written to a file.
QString packedDatabase(Fixture& f) {
  const QString path = f.env.path("unpacked.sqlite");
  QFile::remove(path);
  writeBytes(path, readZip(f.project.ZipFileName).value("db.sqlite"));
  return path;
}

QString integrity(const QString& file) {
  QString result;
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "integrity");
    db.setDatabaseName(file);
    if (db.open()) {
      QSqlQuery q(db);
      if (q.exec("PRAGMA integrity_check") && q.next()) result = q.value(0).toString();
    }
  }
  QSqlDatabase::removeDatabase("integrity");
  return result;
}

QList<TLumenfoldPicture*> dueList(Fixture& f, bool zip) {
  QList<TLumenfoldPicture*> list;
  FillWorkList(f.project, true, {}, list, zip);
  return list;
}

} // namespace

// A run stopped or failing after k pictures, in each zip stage or while the archive is written
// leaves the archive as it was and the database sound; the next run's archive is complete.
void TestProcessThread::faultsLeaveArchiveAndDatabaseSoundForTheNextRun() {
  Fixture f;
  for (int i = 0; i < 3; ++i)
    f.addPicture(QString("first%1.jpg").arg(i), 500, 400);
  {
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    QVERIFY(f.run(thread));
  }
  verifyArchiveMatchesProject(f);
  for (int i = 0; i < 6; ++i)
    f.addPicture(QString("later%1.jpg").arg(i), 500, 400);
  f.album->Pictures.Pictures(0)->IsDeleted = true;
  f.album->Pictures.Pictures(0)->SetDirty(true);

  struct Fault {
    const char* what;
    int stage;      // throw after this stage message (-1: none)
    int occurrence; // ... its n-th occurrence
    bool stop;      // ask for a stop instead of throwing
    int entry;      // throw before this archive entry (-1: none)
  };
  const Fault faults[] = {
      {"stop after one picture", psDatabase, 2, true, -1},
      {"failure in the second picture", psDatabase, 2, false, -1},
      {"failure inserting pictures", psZipPictures, 1, false, -1},
      {"stop inserting the database", psZipDatabase, 1, true, -1},
      {"failure inserting the template", psZipTemplate, 1, false, -1},
      {"failure while the archive is written", -1, 0, false, 4},
  };
  const QByteArray archiveBefore = ReadTestFile(f.project.ZipFileName);
  for (const Fault& fault : faults) {
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    int seen = 0;
    thread.AfterStage = [&](int stage) {
      if (stage != fault.stage || ++seen != fault.occurrence) return;
      if (fault.stop)
        thread.RequestStop();
      else
        throw std::runtime_error("injected fault");
    };
    thread.BeforeArchiveEntry = [&](int entry) {
      if (entry == fault.entry) throw std::runtime_error("injected fault");
    };
    QString reason;
    QVERIFY2(!f.run(thread, &reason), fault.what);
    QCOMPARE(ReadTestFile(f.project.ZipFileName), archiveBefore);
    QVERIFY2(TArchiveBuilder::Leftovers(f.project.ZipFileName).isEmpty(), fault.what);
    QCOMPARE(integrity(GetConnectionDataSource(f.connection)), QString("ok"));
  }
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = dueList(f, true);
  QVERIFY(f.run(thread));
  verifyArchiveMatchesProject(f);
  QCOMPARE(integrity(packedDatabase(f)), QString("ok"));
  QCOMPARE(f.count("SELECT COUNT(*) FROM picture WHERE modified <> 0 AND is_deleted = 0"), 0);
}

// After a size's prefix or the name case changes, the pictures are due; after the run the
// stored names, the files and the archive entries agree.
void TestProcessThread::changedPrefixAndCaseMakePicturesDue() {
  Fixture f;
  TLumenfoldPicture* p = f.addPicture("Aqua.jpg", 300, 200);
  {
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    QVERIFY(f.run(thread));
  }
  QCOMPARE(p->MediumFileName, QString("ps_medium/m_aqua.jpg"));
  QVERIFY(dueList(f, false).isEmpty());
  f.project.MediumPrefix = "mid_";
  f.project.ThumbFolder = "small";
  f.project.FileNameCase = 2;
  QCOMPARE(dueList(f, false), QList<TLumenfoldPicture*>{p});
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = dueList(f, true);
  QVERIFY(f.run(thread));
  QCOMPARE(p->MediumFileName, QString("ps_medium/mid_Aqua.jpg"));
  QCOMPARE(p->ThumbFileName, QString("small/tn_Aqua.jpg"));
  QVERIFY(QFile::exists(f.album->Path + "/ps_medium/mid_Aqua.jpg"));
  QVERIFY(QFile::exists(f.album->Path + "/small/tn_Aqua.jpg"));
  QCOMPARE(f.count("SELECT COUNT(*) FROM picture WHERE medium_filename='ps_medium/mid_Aqua.jpg'"),
           1);
  verifyArchiveMatchesProject(f);
  QVERIFY(dueList(f, false).isEmpty());
}

void TestProcessThread::sameSiteFolderIsRefused() {
  Fixture f;
  f.addPicture("a.jpg", 300, 200);
  auto* other = new TLumenfoldAlbum(&f.project);
  other->Path = f.env.makeFolder("elsewhere/trip");
  other->Directory = "Trip"; // the same entries, as unpacked on many systems
  other->ShortName = "Other";
  other->Loaded = true;
  f.project.Albums.Add(other->ShortName, other);
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = dueList(f, true);
  QString reason;
  QVERIFY(!f.run(thread, &reason));
  QVERIFY2(reason.contains("\"Trip\"") && reason.contains("\"Other\"") && reason.contains("same"),
           qPrintable(reason));
  QVERIFY(f.recorder.messages.isEmpty());
  QVERIFY(!QFile::exists(f.project.ZipFileName));
  // Without the archive nothing can collide: processing alone goes on.
  TProcessThread plain(&f.project, false, false, &f.recorder);
  plain.WorkList = dueList(f, false);
  QVERIFY(f.run(plain));
}

// Marks set after the last processing (private, deleted, titles) are in the packed database.
void TestProcessThread::packedDatabaseHoldsUnsavedChanges() {
  Fixture f;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  TLumenfoldPicture* b = f.addPicture("b.jpg", 300, 200);
  {
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    QVERIFY(f.run(thread));
  }
  a->IsPrivate = true;
  a->Title = "Now private";
  a->SetDirty(true);
  b->IsDeleted = true;
  b->SetDirty(true);
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = dueList(f, true);
  QVERIFY(thread.WorkList.isEmpty());
  QVERIFY(f.run(thread));
  const QString packed = packedDatabase(f);
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", "packed");
    db.setDatabaseName(packed);
    QVERIFY(db.open());
    QSqlQuery q(db);
    QVERIFY(q.exec("SELECT original_filename, is_private, is_deleted, title FROM picture "
                   "ORDER BY original_filename"));
    QVERIFY(q.next());
    QCOMPARE(q.value(1).toInt(), 1);
    QCOMPARE(q.value(3).toString(), QString("Now private"));
    QVERIFY(q.next());
    QCOMPARE(q.value(2).toInt(), 1);
  }
  QSqlDatabase::removeDatabase("packed");
  // The deleted picture's files left the archive.
  verifyArchiveMatchesProject(f);
}

// Entries of a removed album, a deleted or renamed picture, a size no longer made and an
// earlier template are gone after the next run.
void TestProcessThread::entriesThatAreNotTheProjectsDoNotSurvive() {
  Fixture f;
  f.project.LargeEnabled = true;
  f.project.SiteTemplate = "first";
  writeBytes(f.env.path("templates/first/index.html"), "first");
  writeBytes(f.env.path("templates/second/index.html"), "second");
  writeBytes(f.env.path("templates/second/js/app.js"), "app");
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  TLumenfoldPicture* b = f.addPicture("b.jpg", 300, 200);
  auto* other = new TLumenfoldAlbum(&f.project);
  other->Path = f.env.makeFolder("photos/other");
  other->Directory = "other";
  other->ShortName = "Other";
  other->Loaded = true;
  f.project.Albums.Add(other->ShortName, other);
  WriteTestJpeg(other->Path + "/c.jpg", 300, 200);
  auto* c = new TLumenfoldPicture(other);
  c->OriginalFileName = "c.jpg";
  c->UpdateFileNames();
  other->Pictures.Add(QString(), c);
  c->SetDirty(true);
  c->SetModified(true);
  {
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    QVERIFY(f.run(thread));
  }
  QVERIFY(readZip(f.project.ZipFileName).contains("other/ps_large/l_c.jpg"));
  QVERIFY(readZip(f.project.ZipFileName).contains("index.html"));

  f.project.Albums.Delete(f.project.Albums.IndexOfObject(other));
  b->IsDeleted = true;
  QVERIFY(a->RenameTo("renamed.jpg"));
  a->SetModified(true);
  f.project.LargeEnabled = false;
  f.project.SiteTemplate = "second";
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = dueList(f, true);
  QVERIFY(f.run(thread));
  verifyArchiveMatchesProject(f, {"index.html", "js/app.js"});
  QCOMPARE(readZip(f.project.ZipFileName).value("index.html"), QByteArray("second"));
}

void TestProcessThread::templateFileMayNotReplaceAPackedEntry() {
  Fixture f;
  f.addPicture("a.jpg", 300, 200);
  f.project.SiteTemplate = "clash";
  for (const QString& name : {QString("db.sqlite"), QString("trip/a.jpg")}) {
    QDir(f.env.path("templates")).removeRecursively();
    writeBytes(f.env.path("templates/clash/index.html"), "x");
    writeBytes(f.env.path("templates/clash/") + name, "not the real one");
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    QString reason;
    QVERIFY(!f.run(thread, &reason));
    QVERIFY2(reason.contains("\"" + name + "\"") && reason.contains("already in the zip archive"),
             qPrintable(reason));
    QVERIFY(!QFile::exists(f.project.ZipFileName));
  }
}

// A second run with nothing changed copies every entry as it is: same compressed data, same
// time stamps.
void TestProcessThread::unchangedEntriesAreCopiedAsTheyAre() {
  Fixture f;
  f.project.ZipDatabase = false;
  for (int i = 0; i < 3; ++i)
    f.addPicture(QString("p%1.jpg").arg(i), 400, 300);
  auto stats = [&] {
    QMap<QString, QString> result;
    for (const auto& [name, entry] : ReadTestZip(f.project.ZipFileName).asKeyValueRange()) {
      const TZipEntryHeader& h = entry.Header;
      result.insert(name, QString("%1 %2 %3 %4 %5 %6")
                              .arg(h.Size)
                              .arg(h.CompressedSize)
                              .arg(h.Crc)
                              .arg(h.Method)
                              .arg(h.DosDate)
                              .arg(h.DosTime));
    }
    return result;
  };
  for (int run = 0; run < 2; ++run) {
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = dueList(f, true);
    QCOMPARE(thread.WorkList.isEmpty(), run == 1);
    QVERIFY(f.run(thread));
  }
  const auto first = stats();
  QCOMPARE(first.size(), 9);
  // Once more, now after the time stamps could have moved on; nothing is due.
  TProcessThread thread(&f.project, true, false, &f.recorder);
  QVERIFY(f.run(thread));
  QCOMPARE(stats(), first);
  verifyArchiveMatchesProject(f);
}

// The zip stages report their bytes in parts that rise to the whole, each after its own stage
// message; a picture's worker reports its steps the same way.
void TestProcessThread::progressMovesWithinLongStages() {
  Fixture f;
  f.project.LargeEnabled = true;
  for (int i = 0; i < 4; ++i)
    f.addPicture(QString("p%1.jpg").arg(i), 600, 400);
  TProcessThread thread(&f.project, true, true, &f.recorder);
  thread.WorkList = dueList(f, true);
  QVERIFY(f.run(thread));
  int stage = -1;
  int last = 0;
  QMap<int, QList<int>> parts; // stage -> thousandths in order
  for (const Message& m : std::as_const(f.recorder.all)) {
    if (m.first >= 0) {
      stage = int(m.second);
      last = 0;
      continue;
    }
    const int part = int(-m.first);
    QCOMPARE(int(m.second), stage); // a part belongs to the stage last reported
    QVERIFY2(part > last && part <= 1000, qPrintable(QString::number(part)));
    last = part;
    parts[stage].append(part);
  }
  // Writing the archive (after the template stage's message) ends at the whole.
  QVERIFY(!parts.value(psZipTemplate).isEmpty());
  QCOMPARE(parts.value(psZipTemplate).last(), 1000);
  QVERIFY(parts.value(psZipTemplate).size() >= 2);

  // A picture's steps: reading, decoding, then fitting and encoding each size.
  TPictureWork work;
  work.OriginalPath = f.album->Path + "/p0.jpg";
  work.Render = true;
  for (TOutputWork& out : work.Outputs) {
    out.Enabled = true;
    out.Box = QSize(100, 100);
  }
  QList<QPair<int, int>> steps;
  QList<int> decoding; // thousandths of a step, while the original decodes
  const TPictureResult result = ProducePicture(work, [&](int done, int all) {
    if (all == 8)
      steps.append({done, all});
    else if (all == 8000 && steps.size() == 1)
      decoding.append(done);
    else
      QFAIL(qPrintable(QString("unexpected step %1 of %2").arg(done).arg(all)));
  });
  QVERIFY(result.LoadError.isEmpty());
  QCOMPARE(steps.size(), 8);
  for (int i = 0; i < steps.size(); ++i)
    QCOMPARE(steps[i], qMakePair(i + 1, 8));
  // The decode moves within its step (from one to two steps done).
  QVERIFY(decoding.size() >= 3);
  for (qsizetype i = 0; i < decoding.size(); ++i) {
    QVERIFY(decoding[i] > 1000 && decoding[i] <= 2000);
    if (i > 0) QVERIFY(decoding[i] > decoding[i - 1]);
  }
}

void TestProcessThread::modifiedPictureWritesFilesAndRow() {
  Fixture f;
  TLumenfoldPicture* p = f.addPicture("a.jpg", 3000, 2000);
  TProcessThread thread(&f.project, false, false, &f.recorder);
  thread.WorkList = {p};
  QVERIFY(f.run(thread));
  QVERIFY(thread.Completed());
  QCOMPARE(f.recorder.messages, stages(1, {0, 1, 3, 4, 5, 0}));

  const QString medium = f.album->Path + "/ps_medium/m_a.jpg";
  const QString thumb = f.album->Path + "/ps_thumb/tn_a.jpg";
  QCOMPARE(imageSize(medium), QSize(800, 533));
  QCOMPARE(imageSize(thumb), QSize(200, 133));
  QVERIFY(!QFile::exists(f.album->Path + "/ps_large"));

  QVERIFY(!p->Modified);
  QVERIFY(p->Id != -1);
  QVERIFY(f.album->Id != -1);
  QCOMPARE(p->OriginalWidth, 3000);
  QCOMPARE(p->OriginalHeight, 2000);
  const QString original = f.album->Path + "/a.jpg";
  QCOMPARE(p->OriginalHash, GetFileHash(original));
  QCOMPARE(p->MediumSize, int(QFileInfo(medium).size()));

  TQuery q;
  QCOMPARE(OpenQuery(f.connection,
                     FormatSql("SELECT * FROM picture WHERE picture_id=%d", {SqlInt(p->Id)}), q),
           0);
  QVERIFY(!q->Eof());
  QCOMPARE(q->AsString("original_hash"), GetFileHash(original));
  QCOMPARE(q->AsInteger("original_size"), int(QFileInfo(original).size()));
  QCOMPARE(q->AsInteger("original_width"), 3000);
  QCOMPARE(q->AsInteger("original_height"), 2000);
  QCOMPARE(q->AsInteger("medium_size"), int(QFileInfo(medium).size()));
  QCOMPARE(q->AsInteger("thumb_size"), int(QFileInfo(thumb).size()));
  QCOMPARE(q->AsInteger("modified"), 0);
  QCOMPARE(q->AsInteger("album_id"), f.album->Id);
  CloseQuery(q);
  QVERIFY(f.prompt.errors().isEmpty());
}

void TestProcessThread::unmodifiedDeletedAndMissingPictures() {
  Fixture f;
  TLumenfoldPicture* kept = f.addPicture("kept.jpg", 400, 300, false);
  TLumenfoldPicture* missing = f.addPicture("missing.jpg", 0, 0);
  TLumenfoldPicture* deleted = f.addPicture("deleted.jpg", 400, 300);
  deleted->IsDeleted = true;
  const QString keptMedium = f.album->Path + "/ps_medium/m_kept.jpg";
  writeBytes(keptMedium, "old medium image");
  writeBytes(f.album->Path + "/ps_thumb/tn_kept.jpg", "old thumbnail");

  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {kept, missing, deleted};
  QVERIFY(f.run(thread));
  QCOMPARE(f.recorder.messages, stages(1, {0, 3, 4, 5, 0}) + stages(3, {0}) + stages(3, {6, 7, 8}));

  // Not modified: files untouched, record refreshed and written.
  QCOMPARE(ReadTestFile(keptMedium), QByteArray("old medium image"));
  QCOMPARE(ReadTestFile(f.album->Path + "/ps_thumb/tn_kept.jpg"), QByteArray("old thumbnail"));
  QCOMPARE(kept->OriginalHash, GetFileHash(f.album->Path + "/kept.jpg"));
  QVERIFY(kept->Id != -1);
  QCOMPARE(f.count(FormatSql("SELECT original_size FROM picture WHERE picture_id=%d",
                             {SqlInt(kept->Id)})),
           int(QFileInfo(f.album->Path + "/kept.jpg").size()));
  QCOMPARE(kept->OriginalWidth, -1);

  // Missing: a trace line, nothing else.
  QVERIFY(Tracer().Lines().contains(
      QStringLiteral("Processing warning: file \"%1\" not found ").arg(missing->OriginalPath())));
  QVERIFY(missing->Modified);

  // Deleted: hash in memory only, no images, and none of its files in the archive.
  QCOMPARE(deleted->OriginalHash, GetFileHash(f.album->Path + "/deleted.jpg"));
  QVERIFY(deleted->Modified);
  QVERIFY(!QFile::exists(f.album->Path + "/ps_medium/m_deleted.jpg"));
  const auto entries = readZip(f.project.ZipFileName);
  QVERIFY(!entries.contains("trip/deleted.jpg"));
  QVERIFY(entries.contains("trip/kept.jpg"));
  QCOMPARE(thread.Report().MissingOriginals, 1);
  // The report names the picture, so that the user can look for it.
  QCOMPARE(thread.ClosingMessage(), "Processing finished successfully.\n"
                                    "1 original picture was not found and was skipped.\n  " +
                                        QDir::toNativeSeparators(missing->OriginalPath()) +
                                        "\nThe original \"" + missing->OriginalPath() +
                                        "\" of a published picture was not found; it has no "
                                        "images in the archive.");
  QCOMPARE(entries.value("trip/ps_medium/m_kept.jpg"), QByteArray("old medium image"));
}

void TestProcessThread::emptyWorkListWithZip() {
  Fixture f;
  f.project.ZipFileName.clear();
  f.project.SiteTemplate = "simple";
  const QString tpl = f.env.path("templates/simple");
  writeBytes(tpl + "/preview_small.jpg", "small");
  writeBytes(tpl + "/preview_big.jpg", "big");
  writeBytes(tpl + "/css/site.css", "body{}");
  TProcessThread thread(&f.project, true, false, &f.recorder);
  QCOMPARE(f.project.ZipFileName, ProgramFolder() + "albums.zip");
  QVERIFY(f.run(thread));
  QCOMPARE(f.recorder.messages, stages(0, {6, 7, 8}));
  const auto entries = readZip(ProgramFolder() + "albums.zip");
  // The previews describe the template in the options; they are not part of the site.
  QCOMPARE(entries.keys(), QStringList({"css/site.css", "db.sqlite"}));
  QCOMPARE(entries.value("css/site.css"), QByteArray("body{}"));
}

void TestProcessThread::zipEntryLayoutAndHostileNames() {
  Fixture f;
  f.project.ZipDatabase = false;
  f.project.LargeEnabled = true;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  TProcessThread plain(&f.project, true, false, &f.recorder);
  plain.WorkList = {a};
  QVERIFY(f.run(plain));
  QCOMPARE(readZip(f.project.ZipFileName).keys(),
           QStringList({"trip/a.jpg", "trip/ps_large/l_a.jpg", "trip/ps_medium/m_a.jpg",
                        "trip/ps_thumb/tn_a.jpg"}));
  QCOMPARE(readZip(f.project.ZipFileName).value("trip/ps_medium/m_a.jpg"),
           ReadTestFile(f.album->Path + "/ps_medium/m_a.jpg"));

  // Site folders that try to leave the archive's root stay inside it; the files are the
  // album's own whatever its site folder is called.
  QFile::remove(f.project.ZipFileName);
  f.project.LargeEnabled = false;
  for (const QString& directory : {QString("../../evil"), QString("C:\\evil"), QString("/evil")}) {
    f.album->Directory = directory;
    a->SetModified(true);
    TProcessThread thread(&f.project, true, false, &f.recorder);
    thread.WorkList = {a};
    QVERIFY(f.run(thread));
    const auto keys = readZip(f.project.ZipFileName).keys();
    QCOMPARE(keys, QStringList({"evil/a.jpg", "evil/ps_medium/m_a.jpg", "evil/ps_thumb/tn_a.jpg"}));
  }
  // A site folder that repeats inside the album's path still packs the album's files.
  f.album->Directory = "photos";
  TProcessThread repeated(&f.project, true, false, &f.recorder);
  repeated.WorkList = {a};
  QVERIFY(f.run(repeated));
  QCOMPARE(readZip(f.project.ZipFileName).value("photos/a.jpg"),
           ReadTestFile(f.album->Path + "/a.jpg"));
}

void TestProcessThread::hostileTemplateNameEndsTheRun() {
  Fixture f;
  writeBytes(f.env.path("secret/preview_small.jpg"), "s");
  writeBytes(f.env.path("secret/preview_big.jpg"), "b");
  writeBytes(f.env.path("secret/passwords.txt"), "secret");
  f.project.SiteTemplate = "../secret";
  TProcessThread thread(&f.project, true, false, &f.recorder);
  QString reason;
  QVERIFY(!f.run(thread, &reason));
  QVERIFY2(reason.contains("../secret"), qPrintable(reason));
  // Refused before any picture is touched.
  QVERIFY(f.recorder.messages.isEmpty());
  QVERIFY(!readZip(f.project.ZipFileName).contains("passwords.txt"));
}

void TestProcessThread::existingArchiveHoldsOnlyTheProject() {
  Fixture f;
  f.project.ZipDatabase = false;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  {
    // An archive from an earlier run: one unrelated entry, one that this run replaces.
    writeBytes(f.env.path("old/keep.txt"), "keep me");
    writeBytes(f.env.path("old/a.jpg"), "stale");
    QDir().mkpath(QFileInfo(f.project.ZipFileName).absolutePath());
    TArchiveBuilder old(f.project.ZipFileName);
    QVERIFY(old.Want("keep.txt", f.env.path("old/keep.txt")));
    QVERIFY(old.Want("trip/a.jpg", f.env.path("old/a.jpg")));
    old.CompressRemaining(1);
    old.Write();
  }
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {a};
  QVERIFY(f.run(thread));
  // Entries that are not the project's any more do not survive; replaced ones are current.
  const auto entries = readZip(f.project.ZipFileName);
  QCOMPARE(entries.keys(),
           QStringList({"trip/a.jpg", "trip/ps_medium/m_a.jpg", "trip/ps_thumb/tn_a.jpg"}));
  QCOMPARE(entries.value("trip/a.jpg"), ReadTestFile(f.album->Path + "/a.jpg"));
}

void TestProcessThread::orientationAndCropMakeTheLargeImage() {
  Fixture f;
  f.project.LargeEnabled = true;
  TLumenfoldPicture* p = f.addPicture("turned.jpg", 400, 300);
  p->Orientation = 2;
  p->CropRect = {10, 10, 110, 60};
  TProcessThread thread(&f.project, false, false, &f.recorder);
  thread.WorkList = {p};
  QVERIFY(f.run(thread));
  QCOMPARE(f.recorder.messages, stages(1, {0, 1, 2, 3, 4, 5, 0}));
  QCOMPARE(imageSize(f.album->Path + "/ps_large/l_turned.jpg"), QSize(100, 50));
  QCOMPARE(imageSize(f.album->Path + "/ps_medium/m_turned.jpg"), QSize(800, 400));
  QCOMPARE(imageSize(f.album->Path + "/ps_thumb/tn_turned.jpg"), QSize(200, 100));
  // Dimensions are those of the stored original, before orientation.
  QCOMPARE(p->OriginalWidth, 400);
  QCOMPARE(p->OriginalHeight, 300);
  QVERIFY(Tracer().Lines().contains(
      "Original picture is smaller than desired size. Picture will be upscaled anyway. " +
      p->OriginalPath() + "."));
}

void TestProcessThread::damagedOriginalsAreSkippedAndCounted() {
  Fixture f;
  TLumenfoldPicture* good = f.addPicture("good.jpg", 300, 200);
  TLumenfoldPicture* bad = f.addPicture("bad.jpg", 0, 0);
  TLumenfoldPicture* cut = f.addPicture("cut.jpg", 600, 400);
  TLumenfoldPicture* after = f.addPicture("after.jpg", 300, 200);
  writeBytes(bad->OriginalPath(), QByteArray("\xFF\xD8\xFF\xE0 this is no picture", 24));
  // A file that ends early decodes with a warning: its images are made and it is counted.
  const QByteArray whole = ReadTestFile(cut->OriginalPath());
  writeBytes(cut->OriginalPath(), whole.left(whole.size() * 2 / 3));

  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {good, bad, cut, after};
  QVERIFY(f.run(thread));
  QCOMPARE(f.recorder.messages.mid(6, 2), stages(2, {0, 1}));
  QVERIFY(!good->Modified);
  QVERIFY(bad->Modified); // tried again next time
  QVERIFY(!cut->Modified);
  QVERIFY(!after->Modified);
  QVERIFY(QFile::exists(f.album->Path + "/ps_medium/m_after.jpg"));
  QVERIFY(QFile::exists(f.album->Path + "/ps_medium/m_cut.jpg"));
  const TProcessReport report = thread.Report();
  QCOMPARE(report.UndecodableOriginals, 1);
  QCOMPARE(report.DamagedOriginals, 1);
  QCOMPARE(report.MissingArchiveFiles, 0); // the skipped picture is counted once
  QVERIFY(!report.IsClean());
  QCOMPARE(thread.ClosingMessage().split('\n').first(),
           QString("Processing finished successfully."));
  QCOMPARE(report.Lines().size(), 3); // two counts and the reason naming the skipped file
  QCOMPARE(report.Reasons.size(), 1);
  const auto entries = readZip(f.project.ZipFileName);
  QVERIFY(entries.contains("trip/ps_medium/m_after.jpg"));
  QVERIFY(!entries.contains("trip/ps_medium/m_bad.jpg"));
}

void TestProcessThread::unwritableOutputEndsTheRunCleanly() {
  Fixture f;
  TLumenfoldPicture* p = f.addPicture("a.jpg", 300, 200);
  // A file where the thumbnail folder should be: the folder cannot be made.
  writeBytes(f.album->Path + "/ps_thumb", "in the way");
  TProcessThread thread(&f.project, false, false, &f.recorder);
  thread.WorkList = {p};
  QString reason;
  QVERIFY(!f.run(thread, &reason));
  QVERIFY2(reason.contains("tn_a.jpg"), qPrintable(reason));
  QCOMPARE(f.recorder.messages, stages(1, {0, 1, 3, 4}));
  QVERIFY(QFile::exists(f.album->Path + "/ps_medium/m_a.jpg"));
  // Nothing half-written is left beside the outputs.
  QCOMPARE(QDir(f.album->Path + "/ps_medium").entryList(QDir::Files | QDir::Hidden),
           QStringList({"m_a.jpg"}));
  QCOMPARE(f.count("SELECT COUNT(*) FROM picture"), 0);
}

void TestProcessThread::stopWhilePausedEndsBeforeAnyPicture() {
  Fixture f;
  TLumenfoldPicture* p = f.addPicture("a.jpg", 300, 200);
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {p};
  thread.PauseRun();
  QVERIFY(thread.Paused());
  EndSpy ended(&thread);
  thread.start();
  thread.RequestStop();
  QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
  thread.wait();
  QCoreApplication::sendPostedEvents(&f.recorder);
  QVERIFY(!ended.first().at(0).toBool());
  QCOMPARE(ended.first().at(1).toString(), TProcessThread::StoppedReason());
  QVERIFY(f.recorder.messages.isEmpty());
  QVERIFY(p->Modified);
  QVERIFY(!QFile::exists(f.project.ZipFileName));
}

void TestProcessThread::pauseAndResumeFinishes() {
  Fixture f;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  TLumenfoldPicture* b = f.addPicture("b.jpg", 300, 200);
  TProcessThread thread(&f.project, false, false, &f.recorder);
  thread.WorkList = {a, b};
  thread.PauseRun();
  EndSpy ended(&thread);
  thread.start();
  // While paused nothing is done.
  QTest::qWait(100);
  QCoreApplication::sendPostedEvents(&f.recorder);
  QVERIFY(f.recorder.messages.isEmpty());
  QVERIFY(ended.isEmpty());
  thread.ResumeRun();
  QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
  thread.wait();
  QVERIFY(ended.first().at(0).toBool());
  QVERIFY(!a->Modified);
  QVERIFY(!b->Modified);
}

void TestProcessThread::stopAtAPictureBoundary() {
  Fixture f;
  QList<TLumenfoldPicture*> list;
  for (int i = 0; i < 8; ++i)
    list.append(f.addPicture(QString("p%1.jpg").arg(i), 600, 400));
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = list;
  // Ask to stop when the first picture's database message arrives.
  f.recorder.onMessage = [&](const Message& m) {
    if (m == Message(1, 5)) thread.RequestStop();
  };
  thread.Jobs = 2;
  EndSpy ended(&thread);
  thread.start();
  QTRY_COMPARE_WITH_TIMEOUT(ended.count(), 1, 60000);
  thread.wait();
  QCoreApplication::sendPostedEvents(&f.recorder);
  QVERIFY(!list.first()->Modified);
  // Every picture is either complete (files and row) or untouched; no zip stage ran.
  int done = 0;
  for (TLumenfoldPicture* p : list) {
    const bool files = QFile::exists(p->MediumPath()) && QFile::exists(p->ThumbPath());
    if (!p->Modified) {
      ++done;
      QVERIFY(files);
      QVERIFY(p->Id != -1);
    } else {
      QVERIFY(!QFile::exists(p->MediumPath()));
      QVERIFY(p->Id == -1 || f.count(FormatSql("SELECT modified FROM picture WHERE picture_id=%d",
                                               {SqlInt(p->Id)})) == 1);
    }
  }
  for (const Message& m : f.recorder.messages)
    QVERIFY(m.second < 6);
  if (!ended.first().at(0).toBool()) {
    QVERIFY(done < list.size());
    QVERIFY(!QFile::exists(f.project.ZipFileName));
  }
}

void TestProcessThread::databaseInZipIsComplete() {
  Fixture f;
  // A database kept in write-ahead-log mode, with a connection of this thread left open so the
  // log is not folded back into the file when the run's connections close.
  {
    TQuery q;
    QCOMPARE(OpenQuery(f.connection, "PRAGMA journal_mode=WAL", q), 0);
    QCOMPARE(q->Value("journal_mode").toString(), QString("wal"));
    CloseQuery(q);
  }
  QCOMPARE(f.count("SELECT COUNT(*) FROM picture"), 0);
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  TLumenfoldPicture* b = f.addPicture("b.jpg", 300, 200);
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {a, b};
  QVERIFY(f.run(thread));
  const QByteArray db = readZip(f.project.ZipFileName).value("db.sqlite");
  QVERIFY(!db.isEmpty());
  const QString copy = f.env.path("unpacked/db.sqlite");
  writeBytes(copy, db);
  {
    QSqlDatabase c = QSqlDatabase::addDatabase("QSQLITE", "unpacked");
    c.setDatabaseName(copy);
    QVERIFY(c.open());
    QSqlQuery q(c);
    QVERIFY(q.exec("SELECT COUNT(*) FROM picture WHERE modified=0"));
    QVERIFY(q.next());
    QCOMPARE(q.value(0).toInt(), 2);
    q.finish();
    c.close();
  }
  QSqlDatabase::removeDatabase("unpacked");
  // No temporary copy is left beside the database.
  QCOMPARE(QDir(QFileInfo(f.connection.section('=', -1)).absolutePath())
               .entryList(QStringList({"*.zip-*", ".*zip-*"}), QDir::Files | QDir::Hidden),
           QStringList());
}

void TestProcessThread::workerCountDoesNotChangeTheOutput() {
  QMap<QString, QByteArray> outputs[2];
  QList<QList<Message>> messages;
  for (int run = 0; run < 2; ++run) {
    Fixture f;
    f.project.LargeEnabled = true;
    QList<TLumenfoldPicture*> list;
    // Workers take a much larger original (p3) ahead of its turn; the files, rows and messages
    // still come in list order.
    for (int i = 0; i < 7; ++i) {
      TLumenfoldPicture* p = f.addPicture(QString("p%1.jpg").arg(i), i == 3 ? 2600 : 900 + 37 * i,
                                          i == 3 ? 1900 : 700);
      p->Orientation = (i % 4) + 1;
      list.append(p);
    }
    list[2]->SetModified(false);
    TProcessThread thread(&f.project, false, true, &f.recorder);
    thread.WorkList = list;
    QVERIFY(f.run(thread, nullptr, run == 0 ? 1 : 3));
    for (TLumenfoldPicture* p : list)
      for (const QString& path : {p->LargePath(), p->MediumPath(), p->ThumbPath()})
        outputs[run].insert(QFileInfo(path).fileName(), ReadTestFile(path));
    messages.append(f.recorder.messages);
    for (int i = 1; i < f.recorder.messages.size(); ++i)
      QVERIFY(f.recorder.messages[i].first >= f.recorder.messages[i - 1].first);
  }
  QCOMPARE(outputs[0].size(), 21);
  QCOMPARE(outputs[0], outputs[1]);
  QCOMPARE(messages[0], messages[1]);
}

void TestProcessThread::workListModes() {
  Fixture f;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 0, 0, true);
  TLumenfoldPicture* b = f.addPicture("b.jpg", 0, 0, false);
  b->IsDeleted = true;
  auto* other = new TLumenfoldAlbum(&f.project);
  other->Loaded = true;
  f.project.Albums.Add("other", other);
  auto* c = new TLumenfoldPicture(other);
  other->Pictures.Add(QString(), c);
  c->SetModified(true);
  QList<TLumenfoldPicture*> list;
  QVERIFY(FillWorkList(f.project, true, {}, list));
  QCOMPARE(list, QList<TLumenfoldPicture*>({a, c}));
  list.clear();
  QVERIFY(FillWorkList(f.project, false, {0}, list));
  QCOMPARE(list, QList<TLumenfoldPicture*>({a, b}));
}

void TestProcessThread::signaturesAreStampedPerPicture() {
  Fixture f;
  // Signature 1 stamps each picture's title (a macro: drawn at the picture's turn), signature 2
  // a fixed text (drawn by the workers).
  auto addSignature = [&](int id, const QString& caption) {
    auto* item = new TLumenfoldSignatureItem(caption);
    item->Id = id;
    item->SetCaption(caption);
    item->FontName = "DejaVu Sans";
    item->FontSize = 24;
    f.project.SignatureItems.Add(caption, item);
    auto* signature = new TLumenfoldSignature(caption, &f.project.SignatureItems);
    signature->Id = id;
    auto* map = new TLumenfoldSignatureMap(id, id, 0, item);
    map->Location = 5;
    map->Offset = QPoint(0, 0);
    signature->Maps.Add(caption, map);
    f.project.Signatures.Add(caption, signature);
  };
  f.project.LargeEnabled = true; // the large image carries the medium image's signature
  addSignature(1, "%PICTURE_TITLE%");
  addSignature(2, "fixed text");
  QList<TLumenfoldPicture*> list;
  const QStringList titles = {"A", "WWWWWW", "x", "y", "z"};
  const int signatures[] = {1, 1, 2, 2, -1};
  for (int i = 0; i < 5; ++i) {
    TLumenfoldPicture* p = f.addPicture(QString("s%1.jpg").arg(i), i == 0 ? 640 : 0, 480);
    if (i > 0) QFile::copy(f.album->Path + "/s0.jpg", p->OriginalPath());
    p->Title = titles[i];
    p->MediumSignatureId = signatures[i];
    list.append(p);
  }
  TProcessThread thread(&f.project, false, false, &f.recorder);
  thread.WorkList = list;
  QVERIFY(f.run(thread));
  auto medium = [&](int i) { return ReadTestFile(list[i]->MediumPath()); };
  QVERIFY(!medium(0).isEmpty());
  QVERIFY(medium(0) != medium(1)); // each picture its own title
  QCOMPARE(medium(2), medium(3));  // the same fixed text
  QVERIFY(medium(2) != medium(4)); // which is drawn at all
  QVERIFY(medium(0) != medium(4));
  QVERIFY(ReadTestFile(list[0]->LargePath()) != ReadTestFile(list[1]->LargePath()));
  QCOMPARE(ReadTestFile(list[2]->LargePath()), ReadTestFile(list[3]->LargePath()));
  QCOMPARE(imageSize(list[1]->LargePath()), QSize(640, 480));
  // The thumbnails carry no signature: all equal.
  for (int i = 1; i < 5; ++i)
    QCOMPARE(ReadTestFile(list[i]->ThumbPath()), ReadTestFile(list[0]->ThumbPath()));
}

// Another program's archive at the archive's place stays as it is; an unmarked archive of an
// earlier version that holds only the project's files is replaced by a marked one.
void TestProcessThread::foreignArchiveIsNeverReplaced() {
  Fixture f;
  f.project.ZipDatabase = false;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  const QString zip = f.project.ZipFileName;
  auto makeZip = [&](const char* entry) {
    QFile::remove(zip);
    TZipEntryHeader header; // as another program writes it: no mark
    header.Name = entry;
    header.Size = header.CompressedSize = 1;
    TZipWriter writer;
    [&] { QVERIFY(writer.Open(zip) && writer.Add(header, "x") && writer.Finish()); }();
    return ReadTestFile(zip);
  };
  const QByteArray backup = makeZip("notes/todo.txt");
  QVERIFY_THROWS_EXCEPTION(TZipError, TProcessThread(&f.project, true, false, &f.recorder));
  QVERIFY(RemoveZipBeforeRun(f.project).contains(zip));
  QCOMPARE(ReadTestFile(zip), backup);

  makeZip("trip/old.jpg");
  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {a};
  QVERIFY(f.run(thread));
  QVERIFY(ReadTestFile(zip).endsWith(kArchiveMark)); // the mark is the archive's comment
}

// Only regular JPEG files of the album go in: no link leading out of the album (nor out of the
// template), no file that did not decode.
void TestProcessThread::onlyPicturesArePacked() {
  Fixture f;
  f.project.ZipDatabase = false;
  TLumenfoldPicture* a = f.addPicture("a.jpg", 300, 200);
  TLumenfoldPicture* out = f.addPicture("x.jpg", 0, 0);
  TLumenfoldPicture* text = f.addPicture("t.jpg", 0, 0);
  TLumenfoldPicture* in = f.addPicture("in.jpg", 0, 0);
  writeBytes(f.env.path("private/passwd"), "root:x:0:0");
  writeBytes(text->OriginalPath(), "no picture");
  QVERIFY(QFile::link(f.env.path("private/passwd"), out->OriginalPath()));
  QVERIFY(QFile::link(a->OriginalPath(), in->OriginalPath()));
  writeBytes(f.env.path("templates/site/index.html"), "site");
  QVERIFY(QFile::link(f.env.path("private/passwd"), f.env.path("templates/site/passwd.txt")));
  f.project.SiteTemplate = "site";

  TProcessThread thread(&f.project, true, false, &f.recorder);
  thread.WorkList = {a, out, text, in};
  QVERIFY(f.run(thread));
  QCOMPARE(readZip(f.project.ZipFileName).keys(),
           QStringList({"index.html", "trip/a.jpg", "trip/in.jpg", "trip/ps_medium/m_a.jpg",
                        "trip/ps_medium/m_in.jpg", "trip/ps_thumb/tn_a.jpg",
                        "trip/ps_thumb/tn_in.jpg"}));
  QCOMPARE(thread.Report().RefusedFiles, 1);
  QVERIFY(thread.Report().Lines().join('\n').contains(out->OriginalPath()));
  QVERIFY(out->OriginalHash.isEmpty()); // not even read
}

QTEST_MAIN(TestProcessThread)
#include "test_processthread.moc"
