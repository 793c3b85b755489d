// The project against the disk: the report of missing folders and missing or changed originals,
// relocation, removal of missing pictures, and the import of a folder's new files.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/syncops.h"
#include "db/sqlaccess.h"
#include "testenv.h"
#include "util/helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

bool writeFile(const QString& path, const QByteArray& content) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

int countRows(const QString& statement) {
  TQuery q;
  if (OpenQuery(CurrentConnectionString(), statement, q) != 0) return -1;
  const int n = q->FirstAsInteger();
  CloseQuery(q);
  return n;
}

} // namespace

class TestSyncOps : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  int folders = 0;

  // A stored album of the project with pictures p0.jpg .. p<count-1>.jpg; p0 is its face.
  TLumenfoldAlbum* storedAlbum(TLumenfoldProject& project, int count) {
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder(QStringLiteral("sync%1").arg(++folders));
    album->ShortName = QStringLiteral("S%1").arg(folders);
    for (int i = 0; i < count; ++i)
      writeFile(album->Path + QStringLiteral("/p%1.jpg").arg(i), QByteArray(100 + i, 'x'));
    album->ImportFolder(album->Path);
    album->Pictures.Pictures(0)->SetIsFace(true);
    project.Albums.Insert(0, album->ShortName, album);
    album->SetDirty(true);
    album->Save();
    return album;
  }

  // The project as a new program run sees it: albums without pending work hold only their face.
  std::unique_ptr<TLumenfoldProject> reload() {
    auto project = std::make_unique<TLumenfoldProject>();
    project->Reset();
    if (!project->LoadDatabase()) return nullptr;
    return project;
  }

private slots:
  void init() {
    CloseThreadConnections();
    SetCurrentConnectionString(env.newDatabase());
    prompt.clear();
  }

  void reportsMissingFoldersAndMissingOrChangedOriginals() {
    {
      TLumenfoldProject project;
      project.Reset();
      TLumenfoldAlbum* gone = storedAlbum(project, 2);
      TLumenfoldAlbum* album = storedAlbum(project, 4);
      QVERIFY(album->Id > 0 && gone->Id > 0);
      QVERIFY(QDir(gone->Path).removeRecursively());
      QVERIFY(QFile::remove(album->Path + "/p1.jpg"));
      QVERIFY(writeFile(album->Path + "/p2.jpg", "other size"));
      // Same size and time stamp, other content: only the checksum tells.
      const QString p3 = album->Path + "/p3.jpg";
      const QDateTime stamp = QFileInfo(p3).lastModified();
      QVERIFY(writeFile(p3, QByteArray(103, 'y')));
      QFile f(p3);
      QVERIFY(f.open(QIODevice::ReadWrite));
      QVERIFY(f.setFileTime(stamp, QFileDevice::FileModificationTime));
    }
    auto project = reload();
    QVERIFY(project);
    QCOMPARE(project->Albums.Count(), 2);
    TLumenfoldAlbum* album = project->Albums.Albums(0);
    QVERIFY(!album->Loaded);

    int steps = 0;
    TSyncReport report = CheckProjectFiles(*project, false, [&steps](int, int) {
      ++steps;
      return true;
    });
    QVERIFY(steps >= 2);
    QVERIFY(report.Errors.isEmpty());
    QCOMPARE(int(report.MissingFolders.size()), 1);
    QCOMPARE(report.MissingFolders[0], project->Albums.Albums(1));
    // The album was read in full first; the one without folder shows no missing pictures.
    QVERIFY(album->Loaded);
    QCOMPARE(report.PicturesChecked, 4);
    QCOMPARE(report.Count(TOriginalState::Missing), 1);
    QCOMPARE(report.Count(TOriginalState::Changed), 1);
    QCOMPARE(report.Findings[0].Picture->OriginalFileName, QString("p1.jpg"));
    QCOMPARE(report.Findings[1].Picture->OriginalFileName, QString("p2.jpg"));
    // Nothing was changed by the report.
    QVERIFY(!album->Dirty);
    QVERIFY(!project->Albums.Albums(1)->Dirty);

    // Recording checksums needs them first: give every present picture its facts.
    for (int i = 0; i < album->Pictures.Count(); ++i)
      album->Pictures.Pictures(i)->OriginalHash = "deadbeef";
    report = TSyncReport();
    QVERIFY(CheckAlbumFiles(*album, true, report));
    QCOMPARE(report.Count(TOriginalState::Changed), 3);

    // Stopping early.
    report = CheckProjectFiles(*project, false, [](int done, int) { return done < 1; });
    QCOMPARE(report.AlbumsChecked, 1);
  }

  // A picture whose checksum was never recorded has nothing to differ from.
  void checksumComparedOnlyWhenRecorded() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum* album = storedAlbum(project, 3);
    TLumenfoldPicture* p[] = {album->Pictures.Pictures(0), album->Pictures.Pictures(1),
                              album->Pictures.Pictures(2)};
    p[0]->OriginalHash.clear();
    p[1]->OriginalHash = GetFileHash(p[1]->OriginalPath());
    p[2]->OriginalHash = "deadbeef";
    QCOMPARE(OriginalStateOf(*p[0], true), TOriginalState::Present);
    QCOMPARE(OriginalStateOf(*p[1], true), TOriginalState::Present);
    QCOMPARE(OriginalStateOf(*p[2], true), TOriginalState::Changed);
  }

  void relocateChecksTheFolder() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum* a = storedAlbum(project, 1);
    TLumenfoldAlbum* b = storedAlbum(project, 1);
    const QString oldPath = b->Path, oldDirectory = b->Directory;
    QVERIFY(!RelocateAlbum(project, *b, "").isEmpty());
    QVERIFY(!RelocateAlbum(project, *b, env.path("nowhere")).isEmpty());
    // Another album's folder, however it is written.
    QVERIFY(RelocateAlbum(project, *b, a->Path + "/").contains(a->ShortName));
    QVERIFY(!RelocateAlbum(project, *b, a->Path.toUpper()).isEmpty());
    QCOMPARE(b->Path, oldPath);
    QCOMPARE(b->Directory, oldDirectory);
    QVERIFY(!b->Dirty);
    QCOMPARE(AlbumUsingFolder(project, a->Path + "/./", nullptr), a);
    QCOMPARE(AlbumUsingFolder(project, a->Path, a), nullptr);

    const QString moved = env.makeFolder("moved/here");
    QCOMPARE(RelocateAlbum(project, *b, moved + "/", "2024/here"), QString());
    QCOMPARE(b->Path, moved);
    QCOMPARE(b->Directory, QString("2024/here"));
    QVERIFY(b->Dirty);
    QVERIFY(project.Modified);
    // Its own folder again is fine.
    QCOMPARE(RelocateAlbum(project, *b, moved), QString());
  }

  void removeMissingPictures() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum* album = storedAlbum(project, 4);
    const int faceId = album->Pictures.Pictures(0)->Id;
    QCOMPARE(album->FacePictureId, faceId);
    QVERIFY(QFile::remove(album->Path + "/p0.jpg"));
    QVERIFY(QFile::remove(album->Path + "/p2.jpg"));
    QVERIFY(QFile::remove(album->Path + "/p3.jpg"));

    // Not while the folder is missing: every picture would look missing.
    const QString path = album->Path;
    album->Path = env.path("gone");
    QCOMPARE(RemoveMissingPictures(*album), 0);
    album->Path = path;

    // The decision may keep a picture.
    QStringList asked;
    const int removed = RemoveMissingPictures(*album, [&asked](TLumenfoldPicture& p) {
      asked.append(p.OriginalFileName);
      return p.OriginalFileName != "p2.jpg";
    });
    QCOMPARE(removed, 2);
    QCOMPARE(asked, QStringList({"p0.jpg", "p2.jpg", "p3.jpg"}));
    QCOMPARE(album->Pictures.Count(), 2);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 2);
    // The face is gone: the album no longer names it.
    QCOMPARE(album->FacePictureId, -1);
    QCOMPARE(album->GetFacePicture(), nullptr);
    QVERIFY(album->Dirty);
    QVERIFY(album->Save());
    QCOMPARE(countRows("SELECT face_picture_id FROM album"), -1);
  }

  void synchronizeMarksChangedOriginals() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum* album = storedAlbum(project, 2);
    TLumenfoldPicture* same = album->Pictures.Pictures(0);
    TLumenfoldPicture* changed = album->Pictures.Pictures(1);
    QVERIFY(SynchronizePicture(*same));
    QVERIFY(SynchronizePicture(*changed));
    same->Modified = changed->Modified = false;
    QVERIFY(writeFile(changed->OriginalPath(), "new content of another size"));
    QVERIFY(SynchronizePicture(*same));
    QVERIFY(SynchronizePicture(*changed));
    QVERIFY(!same->Modified);
    QVERIFY(changed->Modified);
    QCOMPARE(changed->OriginalSize, 27);
    QVERIFY(QFile::remove(same->OriginalPath()));
    QVERIFY(!SynchronizePicture(*same));
  }

  void importNewFilesOfAStoredAlbum() {
    {
      TLumenfoldProject project;
      project.Reset();
      TLumenfoldAlbum* album = storedAlbum(project, 3);
      for (int i = 0; i < 3; ++i)
        album->Pictures.Pictures(i)->Modified = false;
      album->Pictures.Pictures(1)->SetDirty(true);
      QVERIFY(album->Save());
      QVERIFY(writeFile(album->Path + "/new.JPG", "n"));
      QVERIFY(writeFile(album->Path + "/notes.txt", "n"));
    }
    auto project = reload();
    TLumenfoldAlbum* album = project->Albums.Albums(0);
    // Only the face is in memory; the stored pictures must not come in again.
    QCOMPARE(album->Pictures.Count(), 1);
    const TImportResult r = ImportNewAlbumFiles(*album);
    QVERIFY2(r.Error.isEmpty(), qPrintable(r.Error));
    QCOMPARE(int(r.Added.size()), 1);
    QCOMPARE(r.Added[0]->OriginalFileName, QString("new.JPG"));
    QCOMPARE(r.Added[0]->SortOrder, 4);
    QVERIFY(r.Added[0]->Modified);
    QCOMPARE(album->Pictures.Count(), 4);
    QVERIFY(project->SaveAlbums());
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 4);
    // Nothing new the second time.
    QCOMPARE(int(ImportNewAlbumFiles(*album).Added.size()), 0);

    album->Path = env.path("absent");
    QVERIFY(!ImportNewAlbumFiles(*album).Error.isEmpty());
  }
};

QTEST_GUILESS_MAIN(TestSyncOps)
#include "test_syncops.moc"
