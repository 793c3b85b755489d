// Renaming an album's originals: the checks before anything moves, exchanged names, failures
// part-way, and the database following the disk.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/renamejournal.h"
#include "core/renameops.h"
#include "core/renaming.h"
#include "db/sqlaccess.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <memory>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QStringList folderFiles(const QString& folder) {
  return QDir(folder).entryList(QDir::Files | QDir::Hidden, QDir::Name);
}

QStringList storedNames(int albumId) {
  QStringList names;
  TQuery q;
  if (OpenQuery(CurrentConnectionString(),
                QStringLiteral("SELECT original_filename FROM picture WHERE album_id=%1 ORDER BY "
                               "sort_order")
                    .arg(albumId),
                q) != 0)
    return {"<query failed>"};
  for (; !q->Eof(); q->Next())
    names.append(q->AsString("original_filename"));
  CloseQuery(q);
  return names;
}

} // namespace

class TestRenameOps : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  int folders = 0;

  // An album whose pictures are files named as given, each holding its own name; the large
  // and list-preview files exist too.
  std::unique_ptr<TLumenfoldAlbum> makeAlbum(TLumenfoldProject& project, const QStringList& names) {
    auto album = std::make_unique<TLumenfoldAlbum>(&project);
    album->Path = env.makeFolder(QStringLiteral("album%1").arg(++folders));
    album->ShortName = QStringLiteral("Trip");
    for (const QString& name : names) {
      auto* p = new TLumenfoldPicture(album.get());
      p->OriginalFileName = name;
      p->UpdateFileNames();
      p->SortOrder = album->Pictures.Count() + 1;
      album->Pictures.Add(QString(), p);
      writeFile(p->OriginalPath(), name.toUtf8());
      writeFile(p->LargePath(), "large of " + name.toUtf8());
      writeFile(p->TempThumbPath(), "preview of " + name.toUtf8());
    }
    return album;
  }

  static QByteArray content(const TLumenfoldPicture* p) { return ReadTestFile(p->OriginalPath()); }

  static TRenameSettings settings(const QString& templ, int start = 1,
                                  int fileCase = kFileNameCaseKeep, bool special = false) {
    TRenameSettings s;
    s.Template = templ;
    s.Start = start;
    s.FileNameCase = fileCase;
    s.ReplaceSpecialChars = special;
    return s;
  }

private slots:
  void init() {
    CloseThreadConnections();
    SetCurrentConnectionString(env.newDatabase());
    prompt.clear();
  }

  void fileNamesThatAreRefused() {
    QVERIFY(FileNameProblem("a.jpg").isEmpty());
    QVERIFY(FileNameProblem("Léto 2024 (1).jpg").isEmpty());
    for (const char* bad : {"", "   ", ".jpg", "../x.jpg", "sub/x.jpg", "sub\\x.jpg", "a..b.jpg",
                            "tab\there.jpg", "new\nline.jpg"})
      QVERIFY2(!FileNameProblem(QString::fromUtf8(bad)).isEmpty(), bad);
    QVERIFY(!FileNameProblem(QString(300, 'x') + ".jpg").isEmpty());
    QCOMPARE(ApplyFileNameCase("my_TRIP_001.JPG", kFileNameCaseFirst), QString("My_trip_001.jpg"));
  }

  // Every check runs before any file moves: a refused plan leaves the folder as it was.
  void collisionsAreRefusedBeforeAnythingMoves() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"b.jpg", "B2.jpg", "c.jpg"});
    const QStringList before = folderFiles(album->Path);

    // Names equal after the case conversion.
    TLumenfoldAlbum& a = *album;
    a.Pictures.Pictures(0)->Title = "Sea";
    a.Pictures.Pictures(1)->Title = "SEA";
    a.Pictures.Pictures(2)->Title = "hill";
    TRenamePlan plan = PlanAlbumRename(a, settings("%PICTURE_TITLE%.jpg", 1, kFileNameCaseLower));
    QVERIFY(!plan.Ok());
    QVERIFY(plan.Duplicates);
    QVERIFY2(plan.Problems.join('\n').contains("sea.jpg"), qPrintable(plan.Problems.join('\n')));
    // Equal without regard to case, even when the case is kept.
    plan = PlanAlbumRename(a, settings("%PICTURE_TITLE%.jpg"));
    QVERIFY(plan.Duplicates);

    // A file of the folder that is not one of the album's pictures, in another case.
    QVERIFY(writeFile(a.Path + "/TRIP_2.JPG", "stranger"));
    plan = PlanAlbumRename(a, settings("trip_%N0%.jpg"));
    QVERIFY(!plan.Ok());
    QVERIFY(!plan.Duplicates);
    QVERIFY2(plan.Problems.join('\n').contains("trip_2.jpg"), qPrintable(plan.Problems.join('\n')));
    TRenameResult r = ApplyRename(a, plan);
    QVERIFY(!r.Ok());
    QCOMPARE(r.Renamed, 0);

    // Names that are no plain file names.
    for (const char* templ : {"../%N0%", "x/%N0%", "%PICTURE_TITLE%\x01%N0%"}) {
      plan = PlanAlbumRename(a, settings(QString::fromLatin1(templ)));
      QVERIFY2(!plan.Ok(), templ);
      QVERIFY(!ApplyRename(a, plan).Ok());
    }
    QVERIFY(QFile::remove(a.Path + "/TRIP_2.JPG"));
    QCOMPARE(folderFiles(a.Path), before);
    QCOMPARE(a.Pictures.Pictures(0)->OriginalFileName, QString("b.jpg"));
    QVERIFY(!a.Dirty);

    // The album's own files do not count as being in the way.
    plan = PlanAlbumRename(a, settings("%PREVIOUS%.jpg", 1, kFileNameCaseUpper));
    QVERIFY2(plan.Ok(), qPrintable(plan.Problems.join('\n')));
    QCOMPARE(plan.Changes(), 3);
    r = ApplyRename(a, plan);
    QVERIFY2(r.Ok(), qPrintable(r.Summary()));
    QCOMPARE(a.Pictures.Pictures(1)->OriginalFileName, QString("B2.jpg").toUpper());
    QCOMPARE(content(a.Pictures.Pictures(1)), QByteArray("B2.jpg"));
  }

  // a -> b and b -> a, with their generated files, through temporary names.
  void exchangedNamesWork() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"2.jpg", "1.jpg", "3.jpg"});
    const TRenamePlan plan = PlanAlbumRename(*album, settings("%N0%.jpg"));
    QVERIFY2(plan.Ok(), qPrintable(plan.Problems.join('\n')));
    QCOMPARE(plan.Changes(), 2); // 3.jpg keeps its name
    // The site's web sizes carry the medium image's name and follow it.
    const QString web = album->Path + "/ps_w1600/";
    auto webName = [](const TLumenfoldPicture* p) { return QFileInfo(p->MediumPath()).fileName(); };
    QVERIFY(writeFile(web + webName(album->Pictures.Pictures(0)), "web of 2.jpg"));
    int calls = 0;
    const TRenameResult r = ApplyRename(*album, plan, [&calls](int, int) { ++calls; });
    QVERIFY2(r.Ok(), qPrintable(r.Summary()));
    QCOMPARE(r.Renamed, 2);
    QVERIFY(calls > 0);
    const TLumenfoldPicture* first = album->Pictures.Pictures(0);
    QCOMPARE(first->OriginalFileName, QString("1.jpg"));
    QCOMPARE(content(first), QByteArray("2.jpg"));
    QCOMPARE(ReadTestFile(first->LargePath()), QByteArray("large of 2.jpg"));
    QCOMPARE(ReadTestFile(first->TempThumbPath()), QByteArray("preview of 2.jpg"));
    QCOMPARE(folderFiles(web), QStringList({webName(first)}));
    QCOMPARE(ReadTestFile(web + webName(first)), QByteArray("web of 2.jpg"));
    QCOMPARE(content(album->Pictures.Pictures(1)), QByteArray("1.jpg"));
    QVERIFY(first->Dirty);
    // No temporary name is left behind.
    QCOMPARE(folderFiles(album->Path), QStringList({"1.jpg", "2.jpg", "3.jpg"}));
  }

  // A name taken after the check: that picture keeps its old name, the others are renamed, and
  // the database names exactly the files on disk.
  void failurePartWayKeepsDiskAndDatabaseTogether() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"a.jpg", "b.jpg", "c.jpg"});
    album->SetDirty(true);
    for (int i = 0; i < 3; ++i)
      album->Pictures.Pictures(i)->SetDirty(true);
    QVERIFY(album->Save());
    const TRenamePlan plan = PlanAlbumRename(*album, settings("x_%N0%.jpg"));
    QVERIFY(plan.Ok());
    QVERIFY(writeFile(album->Path + "/x_2.jpg", "taken meanwhile"));

    const TRenameResult r = ApplyRename(*album, plan);
    QVERIFY(!r.Ok());
    QVERIFY(r.Saved);
    QCOMPARE(r.Renamed, 2);
    QCOMPARE(r.Failed.size(), 1);
    QVERIFY2(r.Failed.first().startsWith("b.jpg"), qPrintable(r.Failed.first()));
    QVERIFY(r.Summary().contains("b.jpg"));
    QCOMPARE(ReadTestFile(album->Path + "/x_2.jpg"), QByteArray("taken meanwhile"));
    QCOMPARE(content(album->Pictures.Pictures(1)), QByteArray("b.jpg"));
    QCOMPARE(album->Pictures.Pictures(1)->OriginalFileName, QString("b.jpg"));
    // Saved at once: the database and the disk agree.
    QVERIFY(!album->Dirty);
    QCOMPARE(storedNames(album->Id), QStringList({"x_1.jpg", "b.jpg", "x_3.jpg"}));
    for (const QString& name : storedNames(album->Id))
      QVERIFY2(QFile::exists(album->Path + "/" + name), qPrintable(name));
  }

  // When the database cannot follow, the files go back to the names it holds.
  void failedSaveMovesTheFilesBack() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"a.jpg", "b.jpg"});
    album->SetDirty(true);
    for (int i = 0; i < 2; ++i)
      album->Pictures.Pictures(i)->SetDirty(true);
    QVERIFY(album->Save());
    const TRenamePlan plan = PlanAlbumRename(*album, settings("y_%N0%.jpg"));
    QVERIFY(plan.Ok());
    QVERIFY(ExecSQL(CurrentConnectionString(), "DROP TABLE picture") >= 0);
    prompt.clear();

    const TRenameResult r = ApplyRename(*album, plan);
    QVERIFY(!r.Saved);
    QVERIFY(!r.Ok());
    QCOMPARE(r.Renamed, 0);
    QVERIFY(!prompt.errors().isEmpty());
    QCOMPARE(album->Pictures.Pictures(0)->OriginalFileName, QString("a.jpg"));
    QCOMPARE(content(album->Pictures.Pictures(0)), QByteArray("a.jpg"));
    QCOMPARE(ReadTestFile(album->Pictures.Pictures(0)->LargePath()), QByteArray("large of a.jpg"));
    QCOMPARE(folderFiles(album->Path), QStringList({"a.jpg", "b.jpg"}));
  }

  // A rename interrupted while the two pictures exchange names (the first one has its new name,
  // the last move not even noted; the second is under its temporary name) goes where the
  // database says, generated files with it. Meanwhile no other rename starts.
  void interruptedRenameFollowsTheDatabase() {
    for (const bool saved : {true, false}) {
      TLumenfoldProject project;
      project.Reset();
      project.FileName = env.path("trip.lumenfold");
      auto album = makeAlbum(project, {"2.jpg", "1.jpg"});
      TLumenfoldPicture *p0 = album->Pictures.Pictures(0), *p1 = album->Pictures.Pictures(1);
      const QString dir = album->Path, large0 = p0->LargePath(), large1 = p1->LargePath();
      auto save = [&] {
        for (TLumenfoldPicture* p : {p0, p1})
          p->SetDirty(true);
        album->SetDirty(true);
        return album->Save();
      };
      QVERIFY(save());
      TRenameRun run;
      run.Folder = dir;
      run.Entries.resize(2);
      run.Entries[0].OldName = run.Entries[1].NewName = "2.jpg";
      run.Entries[0].NewName = run.Entries[1].OldName = "1.jpg";
      run.Entries[0].PictureId = p0->Id;
      run.Entries[1].PictureId = p1->Id;
      run.Entries[0].Files[0] = {dir + "/2.jpg", dir + "/.t0", dir + "/1.jpg"};
      run.Entries[0].Files[1] = {large0, large0 + ".t", large1};
      run.Entries[1].Files[0] = {dir + "/1.jpg", dir + "/.t1", dir + "/2.jpg"};
      run.Entries[1].Files[1] = {large1, large1 + ".t", large0};
      TRenameJournal journal;
      QString error;
      QVERIFY2(journal.Begin(TRenameJournal::PathOf(project.FileName), run, &error),
               qPrintable(error));
      for (int e : {0, 1})
        for (int k : {0, 1}) {
          const TRenameFile& f = run.Entries[e].Files[k];
          QVERIFY(QFile::rename(f.From, f.Temp));
          journal.Moved(e, k, TFileAt::Temp);
        }
      QVERIFY(QFile::rename(dir + "/.t0", dir + "/1.jpg"));
      journal.Moved(0, 0, TFileAt::After);
      QVERIFY(QFile::rename(large0 + ".t", large1));
      if (saved) {
        p0->OriginalFileName = "1.jpg";
        p1->OriginalFileName = "2.jpg";
        QVERIFY(save());
      }
      QVERIFY(!ApplyRename(*album, PlanAlbumRename(*album, settings("x%N0%.jpg"))).Ok());

      prompt.clear();
      QVERIFY(RepairInterruptedRename(project.FileName));
      QVERIFY(!QFile::exists(TRenameJournal::PathOf(project.FileName)));
      QCOMPARE(prompt.warnings().size(), 1);
      QVERIFY(prompt.warnings().first().contains(saved ? "completed" : "undone"));
      QCOMPARE(folderFiles(dir), QStringList({"1.jpg", "2.jpg"}));
      const QByteArray first = saved ? "1.jpg" : "2.jpg";
      QCOMPARE(ReadTestFile(dir + "/" + first), QByteArray("2.jpg"));
      QCOMPARE(ReadTestFile(saved ? large1 : large0), QByteArray("large of 2.jpg"));
      QCOMPARE(ReadTestFile(saved ? large0 : large1), QByteArray("large of 1.jpg"));
    }
  }

  // A picture whose original is missing keeps its name, which no other picture may take.
  void missingOriginalIsNotRenamed() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"a.jpg", "b.jpg", "c.jpg"});
    QVERIFY(QFile::remove(album->Path + "/b.jpg"));
    QVERIFY(!PlanPictureRename(*album, 1, "x").Ok());
    album->Pictures.Pictures(0)->Title = "b";
    QVERIFY(PlanAlbumRename(*album, settings("%PICTURE_TITLE%.jpg")).Duplicates);
    const TRenamePlan plan = PlanAlbumRename(*album, settings("r_%N0%.jpg"));
    QVERIFY(plan.Ok());
    const TRenameResult r = ApplyRename(*album, plan);
    QVERIFY(r.Ok());
    QCOMPARE(r.Renamed, 2);
    QCOMPARE(r.Skipped.size(), 1);
    QVERIFY(r.Summary().contains("b.jpg: the original is missing"));
    QCOMPARE(album->Pictures.Pictures(1)->OriginalFileName, QString("b.jpg"));
    QCOMPARE(folderFiles(album->Path), QStringList({"r_1.jpg", "r_3.jpg"}));
  }

  // The in-place edit of one file name.
  void singlePictureRename() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"one.jpg", "Two.jpg"});
    QVERIFY(writeFile(album->Path + "/other.txt", "x"));
    for (const char* typed : {"../escape", "sub/x", "two", "TWO.png", ""})
      QVERIFY2(!PlanPictureRename(*album, 0, QString::fromLatin1(typed)).Ok(), typed);
    QVERIFY(!PlanPictureRename(*album, 5, "x").Ok());
    const TRenamePlan plan = PlanPictureRename(*album, 0, "  First.png ");
    QVERIFY2(plan.Ok(), qPrintable(plan.Problems.join('\n')));
    QVERIFY(ApplyRename(*album, plan).Ok());
    QCOMPARE(album->Pictures.Pictures(0)->OriginalFileName, QString("First.jpg"));
    QCOMPARE(content(album->Pictures.Pictures(0)), QByteArray("one.jpg"));
    // A change of letter case only is a rename of the same file.
    QVERIFY(ApplyRename(*album, PlanPictureRename(*album, 1, "two")).Ok());
    QCOMPARE(content(album->Pictures.Pictures(1)), QByteArray("Two.jpg"));
    QVERIFY(!QFile::exists(album->Path + "/Two.jpg"));
    QVERIFY(QFile::exists(album->Path + "/ps_tmp/tmp_two.jpg"));
  }

  // The album's own rename (wizard and dialog) uses the same checks and reports through the
  // prompt.
  void albumRenamePicturesReportsRefusal() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"a.jpg", "b.jpg"});
    project.RenameTemplate = "same.jpg";
    QVERIFY(!album->RenamePictures(false));
    QCOMPARE(prompt.errors().size(), 1);
    QCOMPARE(folderFiles(album->Path), QStringList({"a.jpg", "b.jpg"}));
  }

  // A working copy's pictures belong to the copy; assigned back, they belong to the real album.
  void assignedPicturesPointAtTheirAlbum() {
    TLumenfoldProject project;
    project.Reset();
    auto real = makeAlbum(project, {"a.jpg", "b.jpg"});
    {
      TLumenfoldAlbum copy(&project);
      copy.Assign(*real);
      for (int i = 0; i < copy.Pictures.Count(); ++i)
        QCOMPARE(copy.Pictures.Pictures(i)->Album, &copy);
      copy.Pictures.Pictures(1)->SetIsFace(true);
      QCOMPARE(copy.GetFacePicture(), copy.Pictures.Pictures(1));
      QVERIFY(!real->Pictures.Pictures(1)->IsFace);
      QCOMPARE(real->FacePicture, nullptr);
      real->Assign(copy);
    }
    for (int i = 0; i < real->Pictures.Count(); ++i)
      QCOMPARE(real->Pictures.Pictures(i)->Album, real.get());
    QCOMPARE(real->GetFacePicture(), real->Pictures.Pictures(1));
    QCOMPARE(real->Pictures.Pictures(0)->OriginalPath(), real->Path + "/a.jpg");
  }

  // Reading the pictures again never throws away what is not saved.
  void loadPicturesKeepsUnsavedPictures() {
    TLumenfoldProject project;
    project.Reset();
    auto album = makeAlbum(project, {"a.jpg", "b.jpg"});
    // Not stored: the pictures in memory are all there is.
    QVERIFY(album->LoadPictures());
    QCOMPARE(album->Pictures.Count(), 2);
    QVERIFY(album->Loaded);

    for (int i = 0; i < 2; ++i)
      album->Pictures.Pictures(i)->SetDirty(true);
    QVERIFY(album->Save());
    QVERIFY(album->LoadPictures());
    album->Pictures.Pictures(0)->Title = "edited";
    album->Pictures.Pictures(0)->SetDirty(true);
    QVERIFY(!album->LoadPictures());
    QCOMPARE(prompt.errors().size(), 1);
    QCOMPARE(album->Pictures.Pictures(0)->Title, QString("edited"));

    QVERIFY(album->Save());
    QVERIFY(album->LoadPictures());
    QCOMPARE(album->Pictures.Pictures(0)->Title, QString("edited"));
  }
};

QTEST_GUILESS_MAIN(TestRenameOps)
#include "test_renameops.moc"
