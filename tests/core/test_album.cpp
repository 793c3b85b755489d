// Albums and the whole project: folder import, saves in one transaction, the database load.
#include "core/album.h"
#include "core/category.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>
#include <sys/stat.h>

namespace {

bool touch(const QString& path, const QByteArray& content = "jpegdata") {
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

QString cs() {
  return CurrentConnectionString();
}

} // namespace

class TestAlbum : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  // A new album of `count` pictures in its own folder, not yet saved.
  TLumenfoldAlbum* newAlbum(TLumenfoldProject& project, const QString& folder, int count) {
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder(folder);
    album->ShortName = folder;
    for (int i = 0; i < count; ++i)
      touch(album->Path + QString("/p%1.jpg").arg(i, 3, 10, QChar('0')));
    album->ImportFolder(album->Path);
    album->SetDirty(true);
    return album;
  }

private slots:
  void init() {
    CloseThreadConnections();
    SetCurrentConnectionString(env.newDatabase());
    prompt.clear();
  }

  void importTakesPictureFilesOnly() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    const QString folder = env.makeFolder("import");
    QVERIFY(touch(folder + "/one.JPG"));
    QVERIFY(touch(folder + "/two.jpeg"));
    QVERIFY(touch(folder + "/three.txt"));
    QVERIFY(touch(folder + "/four.HEIC"));
    QVERIFY(touch(folder + "/five.tiff"));
    QVERIFY(touch(folder + "/noext"));
    QVERIFY(QDir().mkpath(folder + "/folder.jpg"));
    QVERIFY(album.ImportFolder(folder));
    QCOMPARE(album.Pictures.Count(), 4);
    QStringList names;
    for (int i = 0; i < 4; ++i) {
      const TLumenfoldPicture* p = album.Pictures.Pictures(i);
      names << p->OriginalFileName;
      QCOMPARE(p->SortOrder, i + 1);
      QVERIFY(p->Dirty);
      QCOMPARE(p->Id, -1);
      QCOMPARE(p->OriginalSize, 8);
      QVERIFY(p->OriginalDate > 0);
      QVERIFY(p->PictureDate.isValid());
      // Generated names follow the project's name case (all lowercase by default); they are JPEG
      // files whatever the original's format.
      const QString name = names.last().toLower();
      QCOMPARE(p->LargeFileName, QString("ps_large") + QDir::separator() + "l_" +
                                     (name.endsWith(".heic") || name.endsWith(".tiff")
                                          ? name.section('.', 0, 0) + ".jpg"
                                          : name));
    }
    names.sort();
    QCOMPARE(names, QStringList({"five.tiff", "four.HEIC", "one.JPG", "two.jpeg"}));
    QCOMPARE(SkippedFolderFiles(folder).size(), 2);
    QCOMPARE(SkippedFolderFiles(folder).first().Reason, QString("not a picture file"));
    QVERIFY(album.Dirty);
    QVERIFY(project.Modified);

    // A missing folder imports nothing and keeps the date.
    TLumenfoldAlbum other(&project);
    const QDateTime date = other.AlbumDate;
    QVERIFY(other.ImportFolder(env.path("nope")));
    other.ReadFolderDate(env.path("nope"));
    QCOMPARE(other.Pictures.Count(), 0);
    QCOMPARE(other.AlbumDate, date);
    other.ReadFolderDate(folder);
    QCOMPARE(other.AlbumDate.date(), QFileInfo(folder + "/one.JPG").lastModified().date());
  }

  // Only regular files of the folder become pictures; the others are named in a warning.
  void importTakesOnlyRegularFilesOfTheFolder() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    const QString folder = env.makeFolder("regular");
    QVERIFY(touch(folder + "/a.jpg"));
    QVERIFY(touch(env.path("outside.jpg"), "secret"));
    QVERIFY(QFile::link(folder + "/a.jpg", folder + "/inside.jpg"));
    QVERIFY(QFile::link(env.path("outside.jpg"), folder + "/outside.jpg"));
    QVERIFY(QFile::link(folder + "/gone.jpg", folder + "/dangling.jpg"));
    QCOMPARE(::mkfifo(QFile::encodeName(folder + "/fifo.jpg").constData(), 0600), 0);
    QVERIFY(album.ImportFolder(folder));
    QStringList names;
    for (int i = 0; i < album.Pictures.Count(); ++i)
      names << album.Pictures.Pictures(i)->OriginalFileName;
    QCOMPARE(names, QStringList({"a.jpg", "inside.jpg"}));
    QCOMPARE(prompt.warnings().size(), 1);
    for (const char* left : {"outside.jpg", "dangling.jpg", "fifo.jpg"})
      QVERIFY2(prompt.warnings().first().contains(left), left);
  }

  // Two files whose images would be one file: nothing is imported, the error names both.
  void importRefusesNamesThatShareAnOutputFile() {
    TLumenfoldProject project;
    project.Reset();
    const QString folder = env.makeFolder("clash");
    QVERIFY(touch(folder + "/a.jpg"));
    QVERIFY(touch(folder + "/b.jpg"));
    TLumenfoldAlbum album(&project);
    QVERIFY(album.ImportFolder(folder));
    QVERIFY(touch(folder + "/A.JPG"));
    for (bool onlyNew : {false, true}) {
      prompt.clear();
      TLumenfoldAlbum fresh(&project);
      TLumenfoldAlbum& target = onlyNew ? album : fresh;
      const int before = target.Pictures.Count();
      QVERIFY(!(onlyNew ? target.ImportNewFiles(folder) : target.ImportFolder(folder)));
      QCOMPARE(target.Pictures.Count(), before);
      QCOMPARE(prompt.errors().size(), 1);
      QVERIFY(prompt.errors().first().contains("\"a.jpg\" and \"A.JPG\""));
    }
  }

  void importNewFilesContinuesSortOrder() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "five", 5));
    QCOMPARE(album->Pictures.Count(), 5);
    QVERIFY(touch(album->Path + "/new.jpg"));
    QVERIFY(touch(album->Path + "/p000.jpeg")); // another extension: a new file
    QVERIFY(album->ImportNewFiles(album->Path));
    QCOMPARE(album->Pictures.Count(), 7);
    QList<int> orders;
    for (int i = 5; i < 7; ++i)
      orders << album->Pictures.Pictures(i)->SortOrder;
    QCOMPARE(orders, QList<int>({6, 7}));
  }

  void saveInsertsRowsAndFacePicture() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "faces", 4));
    album->ShortName = "Bob's 100% \\ trip";
    album->LongName = QString::fromUtf8("Výlet 'na' hory");
    album->Description2 = "%d %s";
    album->AlbumDate = QDateTime(QDate(2020, 2, 29), QTime(0, 0)); // rows keep the date only
    album->Pictures.Pictures(2)->SetIsFace(true);
    album->Pictures.Pictures(1)->CategoryIds = {"3", "1"};
    QVERIFY(album->Save());
    QVERIFY(prompt.errors().isEmpty());
    QVERIFY(!album->Dirty);
    QVERIFY(album->Id > 0);
    const TLumenfoldPicture* face = album->Pictures.Pictures(2);
    QVERIFY(face->Id > 0);
    QVERIFY(!face->Dirty);
    QCOMPARE(album->FacePictureId, face->Id);
    QCOMPARE(countRows(FormatSql("SELECT face_picture_id FROM album WHERE album_id=%d",
                                 {SqlInt(album->Id)})),
             face->Id);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 4);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture_to_category"), 2);

    // Load it back.
    TLumenfoldProject loaded;
    QVERIFY(loaded.LoadDatabase());
    QCOMPARE(loaded.Albums.Count(), 1);
    TLumenfoldAlbum* back = loaded.Albums.Albums(0);
    QCOMPARE(loaded.Albums.Strings(0), album->ShortName);
    QVERIFY(back->Equals(*album));
    QCOMPARE(back->LongName, album->LongName);
    QCOMPARE(back->AlbumDate.date(), album->AlbumDate.date());
    // Nothing waits for processing: only the face picture is in memory.
    QCOMPARE(back->Pictures.Count(), 1);
    QVERIFY(!back->Loaded);
    QCOMPARE(back->GetFacePicture(), back->Pictures.Pictures(0));
    QVERIFY(back->LoadPictures());
    QCOMPARE(back->Pictures.Count(), 4);
    QVERIFY(back->Loaded);
    QCOMPARE(back->Pictures.Pictures(1)->CategoryIds, QStringList({"3", "1"}));
    QVERIFY(back->Pictures.Pictures(2)->IsFace);
    QCOMPARE(back->GetFacePicture(), back->Pictures.Pictures(2));
    QVERIFY(back->UsesCategories());
    QVERIFY(!back->UsesSignatures());
    back->Pictures.Pictures(0)->MediumSignatureId = 2;
    QVERIFY(back->UsesSignatures());
  }

  void updateInsertsPicturesAddedLater() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "later", 2));
    QVERIFY(album->Save());
    QVERIFY(touch(album->Path + "/zz.jpg"));
    album->ImportNewFiles(album->Path);
    album->Pictures.Pictures(0)->Title = "edited";
    album->Pictures.Pictures(0)->SetDirty(true);
    QVERIFY(album->Save());
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 3);
    QVERIFY(album->Pictures.Pictures(2)->Id > 0);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture WHERE title='edited'"), 1);
    QVERIFY(!album->Save()); // nothing left to save
  }

  void failedSaveRollsBackAndKeepsState() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "rollback", 3));
    album->Pictures.Pictures(1)->SetIsFace(true);
    QVERIFY(ExecSQL(cs(), "CREATE TRIGGER no_third BEFORE INSERT ON picture WHEN "
                          "(SELECT COUNT(*) FROM picture) >= 2 BEGIN SELECT RAISE(ABORT, "
                          "'picture table is full'); END") >= 0);
    project.Modified = false;
    QVERIFY(!album->Save());
    QVERIFY(!prompt.errors().isEmpty());
    QVERIFY(prompt.errors().last().contains("rollback"));
    QVERIFY(album->Dirty);
    QVERIFY(project.Modified);
    QCOMPARE(album->Id, -1);
    QCOMPARE(album->FacePictureId, -1);
    for (int i = 0; i < 3; ++i) {
      QVERIFY(album->Pictures.Pictures(i)->Dirty);
      QCOMPARE(album->Pictures.Pictures(i)->Id, -1);
    }
    QCOMPARE(countRows("SELECT COUNT(*) FROM album"), 0);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 0);

    // Once the database accepts rows again, the next save inserts everything.
    QVERIFY(ExecSQL(cs(), "DROP TRIGGER no_third") >= 0);
    QVERIFY(album->Save());
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 3);
    QCOMPARE(countRows("SELECT COUNT(*) FROM album"), 1);
    QCOMPARE(countRows("SELECT face_picture_id FROM album"), album->Pictures.Pictures(1)->Id);

    // An update that fails keeps the picture's unsaved mark.
    album->Pictures.Pictures(0)->Title = "x";
    album->Pictures.Pictures(0)->SetDirty(true);
    QVERIFY(ExecSQL(cs(), "CREATE TRIGGER no_update BEFORE UPDATE ON picture BEGIN SELECT "
                          "RAISE(ABORT, 'read only'); END") >= 0);
    QVERIFY(!album->Save());
    QVERIFY(album->Dirty);
    QVERIFY(album->Pictures.Pictures(0)->Dirty);
    QVERIFY(album->Pictures.Pictures(0)->Id > 0);
  }

  // The category links of new pictures are written after all their rows: a link refused at the
  // end takes the whole save back, and the next save writes each link once. Links left behind
  // under the new ids by an older program are not taken over.
  void newPictureLinksGoWithTheirSave() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "links", 3));
    for (int i = 0; i < 3; ++i)
      album->Pictures.Pictures(i)->CategoryIds = {"4", QString::number(7 + i), "2"};
    QVERIFY(ExecSQL(cs(), "INSERT INTO picture_to_category VALUES (2, 5)") >= 0);
    QVERIFY(ExecSQL(cs(), "CREATE TRIGGER no_nine BEFORE INSERT ON picture_to_category WHEN "
                          "NEW.category_id = 9 BEGIN SELECT RAISE(ABORT, 'no'); END") >= 0);
    QVERIFY(!album->Save());
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 0);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture_to_category"), 1);
    QVERIFY(ExecSQL(cs(), "DROP TRIGGER no_nine") >= 0);
    QVERIFY(album->Save());
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture_to_category"), 9);
    TLumenfoldAlbum back(&project);
    back.Id = album->Id;
    QVERIFY(back.LoadPictures());
    QCOMPARE(back.Pictures.Pictures(1)->CategoryIds, QStringList({"4", "8", "2"}));
  }

  // Links go in whole batches and a rest: counts on both sides of a batch keep every link
  // once and each picture's order (written against the order of the ids).
  void newPictureLinksSurviveBatchBoundaries_data() {
    QTest::addColumn<int>("links");
    for (const int n : {kLinkBatch - 1, kLinkBatch, kLinkBatch + 1, 2 * kLinkBatch + 1})
      QTest::addRow("%d", n) << n;
  }
  void newPictureLinksSurviveBatchBoundaries() {
    QFETCH(int, links);
    TLumenfoldProject project;
    project.Reset();
    const int pictures = (links + 4) / 5;
    std::unique_ptr<TLumenfoldAlbum> album(
        newAlbum(project, QString("batch%1").arg(links), pictures));
    for (int i = 0, left = links; i < pictures; ++i) {
      QStringList& ids = album->Pictures.Pictures(i)->CategoryIds;
      for (int k = std::min(5, left - (pictures - 1 - i)); k > 0; --k, --left)
        ids << QString::number(100 + 10 * k + i % 10);
    }
    QVERIFY(album->Save());
    QCOMPARE(countRows(FormatSql("SELECT COUNT(*) FROM picture_to_category c, picture p WHERE "
                                 "p.picture_id=c.picture_id AND p.album_id=%d",
                                 {SqlInt(album->Id)})),
             links);
    TLumenfoldAlbum back(&project);
    back.Id = album->Id;
    QVERIFY(back.LoadPictures());
    for (int i = 0; i < pictures; ++i)
      QCOMPARE(back.Pictures.Pictures(i)->CategoryIds, album->Pictures.Pictures(i)->CategoryIds);
  }

  void saveToFileDoesNotWriteProjectAfterFailedAlbum() {
    TLumenfoldProject project;
    project.Reset();
    project.ConnectionString = cs();
    project.FileName = env.path("failing.lumenfold");
    QFile::remove(project.FileName);
    project.Albums.Add("a", newAlbum(project, "failing", 5));
    QVERIFY(ExecSQL(cs(), "DROP TABLE picture") >= 0);
    prompt.clear();
    QVERIFY(!project.SaveToFile());
    // The save stops at the first failed statement: one box for it, one for the album.
    QCOMPARE(prompt.errors().size(), 2);
    QVERIFY(project.Modified);
    QVERIFY(project.Albums.Albums(0)->Dirty);
    QVERIFY(!QFile::exists(project.FileName));
  }

  void pictureSavedBeforeItsAlbumJoinsIt() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "early", 2));
    // The thumbnail loader may store a picture of an album that has no row yet.
    TLumenfoldPicture* p = album->Pictures.Pictures(0);
    QVERIFY(p->Save());
    QVERIFY(p->Id > 0);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture WHERE album_id=-1"), 1);
    QVERIFY(album->Save());
    QVERIFY(album->Loaded);
    // No second row, and the early row now belongs to the album.
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 2);
    QCOMPARE(
        countRows(FormatSql("SELECT COUNT(*) FROM picture WHERE album_id=%d", {SqlInt(album->Id)})),
        2);
    p->Title = "own";
    p->SetDirty(true);
    QVERIFY(p->Save());
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture WHERE title='own'"), 1);
  }

  void listLookupsAndPaths() {
    TLumenfoldProject project;
    TLumenfoldAlbumList list;
    auto* a = new TLumenfoldAlbum(&project);
    a->Id = 5;
    a->Path = "/Photos/Summer";
    list.Add("a", a);
    QCOMPARE(list.IndexOfId(5), 0);
    QCOMPARE(list.IndexOfId(6), -1);
    QCOMPARE(list.IndexOfPath("/photos/SUMMER"), 0);
    QCOMPARE(list.IndexOfPath("/photos/winter"), -1);
    project.Modified = false;
    a->SetPath("/Photos/Summer");
    QVERIFY(!a->Dirty);
    a->SetPath("/photos/summer");
    QVERIFY(a->Dirty);
    QVERIFY(project.Modified);
  }

  void modifiedCountsAndCopies() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "mod", 3));
    QVERIFY(!album->HasModifiedPictures());
    album->Pictures.Pictures(2)->SetModified(true);
    QVERIFY(album->HasModified);
    QCOMPARE(album->ModifiedCount(), 1);
    QVERIFY(album->HasModifiedPictures());
    album->Pictures.Pictures(0)->SetIsFace(true);
    TLumenfoldAlbum copy(&project);
    copy.Assign(*album);
    QVERIFY(copy.Equals(*album));
    QCOMPARE(copy.Pictures.Count(), 3);
    QCOMPARE(copy.GetFacePicture(), copy.Pictures.Pictures(0));
    copy.Description = "changed";
    QVERIFY(!copy.Equals(*album));
    // Replacing the pictures drops the old face picture reference.
    album->FindFacePicture();
    album->Assign(copy);
    QCOMPARE(album->GetFacePicture(), album->Pictures.Pictures(0));
  }

  void projectLoadSaveCycle() {
    TLumenfoldProject project;
    project.Reset();
    project.ConnectionString = cs();
    project.FileName = env.path("cycle.lumenfold");
    TLumenfoldAlbum* pending = newAlbum(project, "pending", 3);
    TLumenfoldAlbum* done = newAlbum(project, "done", 3);
    pending->Pictures.Pictures(0)->SetIsFace(true);
    pending->Pictures.Pictures(1)->Modified = true;
    done->Pictures.Pictures(2)->SetIsFace(true);
    QVERIFY(QDir().mkpath(done->Path + "/ps_tmp"));
    QVERIFY(WriteTestJpeg(done->Pictures.Pictures(2)->TempThumbPath(), 40, 30));
    project.Albums.Add(pending->ShortName, pending);
    project.Albums.Add(done->ShortName, done);
    QVERIFY(project.SaveToFile());
    QVERIFY(!project.Modified);

    // Categories go with the project's lists.
    TLumenfoldCategory category;
    category.Title = "People";
    QVERIFY(category.Save());

    TLumenfoldProject loaded;
    SetCurrentConnectionString(QString());
    QVERIFY(loaded.LoadFromFile(project.FileName));
    QCOMPARE(CurrentConnectionString(), project.ConnectionString);
    QVERIFY(!loaded.Modified);
    QCOMPARE(loaded.Albums.Count(), 2);
    // Newest id first.
    TLumenfoldAlbum* a = loaded.Albums.Albums(0);
    TLumenfoldAlbum* b = loaded.Albums.Albums(1);
    QCOMPARE(a->ShortName, QString("done"));
    QCOMPARE(b->ShortName, QString("pending"));
    QCOMPARE(a->Pictures.Count(), 1);
    QVERIFY(a->Pictures.Pictures(0)->IsFace);
    QVERIFY(a->Pictures.Pictures(0)->Thumbnail());
    QCOMPARE(a->Pictures.Pictures(0)->Thumbnail()->size(), QSize(40, 30));
    QVERIFY(!b->Pictures.Pictures(0)->Thumbnail());
    QCOMPARE(a->FacePictureId, a->Pictures.Pictures(0)->Id);
    QVERIFY(!a->HasModified);
    QCOMPARE(b->Pictures.Count(), 3);
    QVERIFY(b->Loaded);
    QVERIFY(b->HasModified);
    QCOMPARE(b->ModifiedCount(), 1);
    QCOMPARE(b->GetFacePicture(), b->Pictures.Pictures(0));
    QCOMPARE(loaded.Categories.Count(), 1);

    // Removing a category id touches pictures in memory only.
    b->Pictures.Pictures(2)->CategoryIds = {"1", "2", "1"};
    loaded.RemoveCategoryFromPictures(1);
    QCOMPARE(b->Pictures.Pictures(2)->CategoryIds, QStringList({"2"}));
    QVERIFY(!b->Pictures.Pictures(2)->Dirty);

    // A truncated project file: partial settings, database still loaded.
    QFile f(project.FileName);
    QVERIFY(f.open(QIODevice::ReadWrite));
    const QByteArray bytes = f.readAll();
    f.resize(bytes.size() - 20);
    f.close();
    TLumenfoldProject partial;
    QVERIFY(!partial.LoadFromFile(project.FileName));
    QVERIFY(partial.Modified);
    QCOMPARE(partial.Albums.Count(), 2);

    // Deleting an album removes its rows, also those of pictures not in memory.
    loaded.DeleteAlbum(a);
    QCOMPARE(loaded.Albums.Count(), 1);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture"), 3);
    QCOMPARE(countRows("SELECT COUNT(*) FROM album"), 1);
    // An album outside the list is deleted from the database; the list stays.
    TLumenfoldAlbum outside(&loaded);
    outside.Id = b->Id;
    outside.Loaded = true;
    loaded.DeleteAlbum(&outside);
    QCOMPARE(loaded.Albums.Count(), 1);
    QCOMPARE(countRows("SELECT COUNT(*) FROM album"), 0);
  }

  void facePictureOfMissingAlbumIsSkipped() {
    QVERIFY(ExecSQL(cs(), "INSERT INTO album (album_id, face_picture_id, short_name, path) VALUES "
                          "(1, 10, 'one', '/x')") == 1);
    // Picture 10 claims album 99, which does not exist.
    QVERIFY(ExecSQL(cs(), "INSERT INTO picture (picture_id, original_filename, album_id) VALUES "
                          "(10, 'a.jpg', 99)") == 1);
    TLumenfoldProject project;
    QVERIFY(project.LoadDatabase());
    QCOMPARE(project.Albums.Count(), 1);
    QCOMPARE(project.Albums.Albums(0)->Pictures.Count(), 0);
    QVERIFY(prompt.errors().isEmpty());
  }

  void isoDatesInRows() {
    TLumenfoldProject project;
    project.Reset();
    std::unique_ptr<TLumenfoldAlbum> album(newAlbum(project, "dates", 1));
    album->AlbumDate = QDateTime(QDate(2006, 12, 8), QTime(12, 0));
    album->Pictures.Pictures(0)->PictureDate = QDateTime(QDate(1999, 1, 31), QTime(0, 0));
    QVERIFY(album->Save());
    TQuery q;
    QCOMPARE(OpenQuery(cs(), "SELECT a.album_date, p.picture_date FROM album a, picture p", q), 0);
    QCOMPARE(q->AsString("album_date"), QString("2006-12-08"));
    QCOMPARE(q->AsString("picture_date"), QString("1999-01-31"));
    CloseQuery(q);
  }
};

QTEST_GUILESS_MAIN(TestAlbum)
#include "test_album.moc"
