// Pictures: orientation and crop transforms, file renames, paths, stored rows and previews.
#include "core/album.h"
#include "core/bitmaplist.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/sqliterows.h"
#include "db/statements.h"
#include "testenv.h"
#include "util/helpers.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QtTest>

namespace {

bool touch(const QString& path, const QByteArray& content = "x") {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(content) == content.size();
}

QByteArray contentOf(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

} // namespace

class TestPicture : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

private slots:
  void init() {
    QVERIFY(!env.useNewDatabase().isEmpty());
    prompt.clear();
  }

  void rotationsReturnToStart() {
    TLumenfoldProject project;
    TLumenfoldAlbum album(&project);
    TLumenfoldPicture p(&album);
    p.OriginalWidth = 640;
    p.OriginalHeight = 480;
    p.CropRect = {10, 20, 300, 200};
    const TCropRect start = p.CropRect;
    QList<int> seen;
    for (int i = 0; i < 4; ++i) {
      p.RotateCW();
      seen << p.Orientation;
      // The rectangle stays inside the displayed picture and keeps its top-left corner first.
      const bool odd = qAbs(p.Orientation) % 2 == 1;
      QVERIFY(p.CropRect.X1 < p.CropRect.X2 && p.CropRect.Y1 < p.CropRect.Y2);
      QVERIFY(p.CropRect.X2 <= (odd ? 640 : 480));
      QVERIFY(p.CropRect.Y2 <= (odd ? 480 : 640));
    }
    QCOMPARE(seen, QList<int>({2, 3, 4, 1}));
    QCOMPARE(p.CropRect, start);
    QVERIFY(p.Modified);
    QVERIFY(p.Dirty);
    QVERIFY(album.Dirty);
    QVERIFY(project.Modified);
    // Rotations change Modified directly, not the album's flag.
    QVERIFY(!album.HasModified);

    // A clockwise quarter: (c - Y2, X1), (c - Y1, X2) with c = H for the even orientation 2.
    TLumenfoldPicture q(&album);
    q.OriginalWidth = 640;
    q.OriginalHeight = 480;
    q.CropRect = {10, 20, 300, 200};
    q.RotateCW();
    QCOMPARE(q.CropRect, TCropRect({280, 10, 460, 300}));
    q.RotateCCW();
    QCOMPARE(q.CropRect, TCropRect({10, 20, 300, 200}));
    QCOMPARE(q.Orientation, 1);
    q.Rotate180();
    QCOMPARE(q.Orientation, 3);
    QCOMPARE(q.CropRect, TCropRect({340, 280, 630, 460}));
    q.Rotate180();
    QCOMPARE(q.CropRect, TCropRect({10, 20, 300, 200}));

    // Counter-clockwise four times, and on mirrored codes.
    q.Flip();
    QCOMPARE(q.Orientation, -1);
    QCOMPARE(q.CropRect, TCropRect({340, 20, 630, 200}));
    QList<int> ccw;
    for (int i = 0; i < 4; ++i) {
      q.RotateCCW();
      ccw << q.Orientation;
    }
    QCOMPARE(ccw, QList<int>({-2, -3, -4, -1}));
    QCOMPARE(q.CropRect, TCropRect({340, 20, 630, 200}));
    QList<int> cw;
    for (int i = 0; i < 4; ++i) {
      q.RotateCW();
      cw << q.Orientation;
    }
    QCOMPARE(cw, QList<int>({-4, -3, -2, -1}));
    q.Flip();
    QCOMPARE(q.Orientation, 1);
    QCOMPARE(q.CropRect, TCropRect({10, 20, 300, 200}));
  }

  void flipAndUncropped() {
    TLumenfoldPicture p;
    p.Orientation = 2;
    p.OriginalWidth = 100;
    p.OriginalHeight = 50;
    p.Flip();
    QCOMPARE(p.Orientation, -2);
    p.Flip();
    QCOMPARE(p.Orientation, 2);
    // Not set: all corners -1 stay -1 through every operation.
    for (int i = 0; i < 3; ++i) {
      p.RotateCW();
      p.Rotate180();
      p.RotateCCW();
      p.Flip();
    }
    QCOMPARE(p.CropRect, TCropRect());
    // A rectangle counts as set when one corner is above 0.
    QVERIFY(!TCropRect({0, 0, 0, 0}).IsSet());
    QVERIFY(TCropRect({-1, -1, -1, 1}).IsSet());
  }

  void pathsAndStoredNames() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Path = "/Photos/Trip";
    TLumenfoldPicture p(&album);
    p.OriginalFileName = "IMG_01.JPG";
    const QChar s = QDir::separator();
    QCOMPARE(p.OriginalPath(), QString("/Photos/Trip") + s + "IMG_01.JPG");
    // Generated names follow FileNameCase (all lowercase by default); folders keep theirs.
    QCOMPARE(p.LargePath(), QString("/Photos/Trip") + s + "ps_large" + s + "l_img_01.jpg");
    QCOMPARE(p.MediumPath(), QString("/Photos/Trip") + s + "ps_medium" + s + "m_img_01.jpg");
    QCOMPARE(p.ThumbPath(), QString("/Photos/Trip") + s + "ps_thumb" + s + "tn_img_01.jpg");
    // The album folder keeps its spelling; the part below it is lowercase.
    QCOMPARE(p.TempThumbPath(), QString("/Photos/Trip") + s + "ps_tmp" + s + "tmp_img_01.jpg");
    p.UpdateFileNames();
    QCOMPARE(p.LargeFileName, QString("ps_large") + s + "l_img_01.jpg");
    QCOMPARE(p.ThumbFileName, QString("ps_thumb") + s + "tn_img_01.jpg");
    // One rule for every caller: the stored name is the generated path below the album.
    for (int fileCase : {0, 1, 2}) {
      project.FileNameCase = fileCase;
      project.MediumFolder = "Mid";
      p.UpdateFileNames();
      QCOMPARE(p.MediumPath(), QString("/Photos/Trip") + s + p.MediumFileName);
      QCOMPARE(p.MediumFileName, "Mid" + QString(s) +
                                     (fileCase == 0   ? QString("m_img_01.jpg")
                                      : fileCase == 1 ? QString("M_IMG_01.JPG")
                                                      : QString("m_IMG_01.JPG")));
    }
  }

  void generatedFilesCurrentFollowsSettings() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Path = env.makeFolder("current");
    TLumenfoldPicture p(&album);
    p.OriginalFileName = "Aqua.jpg";
    p.UpdateFileNames();
    QVERIFY(!p.GeneratedFilesCurrent()); // nothing generated yet
    QVERIFY(p.NeedsProcessing());
    QVERIFY(touch(p.MediumPath(), "m"));
    QVERIFY(touch(p.ThumbPath(), "t"));
    QVERIFY(p.GeneratedFilesCurrent());
    QVERIFY(!p.NeedsProcessing());
    // A changed prefix, folder or case rule makes the stored names stale.
    project.MediumPrefix = "mm_";
    QVERIFY(!p.GeneratedFilesCurrent());
    project.MediumPrefix = "m_";
    project.FileNameCase = 2;
    QVERIFY(!p.GeneratedFilesCurrent());
    project.FileNameCase = 0;
    // A disabled size does not count; a deleted picture is never due.
    QFile::remove(p.ThumbPath());
    QVERIFY(!p.GeneratedFilesCurrent());
    project.ThumbEnabled = false;
    QVERIFY(p.GeneratedFilesCurrent());
    p.IsDeleted = true;
    p.Modified = true;
    QVERIFY(!p.NeedsProcessing());
  }

  void renameMovesOriginalAndGeneratedFiles() {
    TLumenfoldProject project;
    project.Reset();
    project.FileNameCase = 1;
    TLumenfoldAlbum album(&project);
    album.Path = env.makeFolder("rename");
    TLumenfoldPicture p(&album);
    p.OriginalFileName = "a.jpg";
    QVERIFY(touch(p.OriginalPath(), "orig"));
    QVERIFY(touch(p.LargePath(), "large"));
    QVERIFY(touch(p.ThumbPath(), "thumb"));
    QVERIFY(touch(p.TempThumbPath(), "tmp"));
    // No medium file: its rename fails quietly.
    QVERIFY(p.RenameTo("Trip_001.jpg"));
    QCOMPARE(p.OriginalFileName, QString("Trip_001.jpg"));
    QCOMPARE(contentOf(album.Path + "/Trip_001.jpg"), QByteArray("orig"));
    QCOMPARE(contentOf(album.Path + "/ps_large/L_TRIP_001.JPG"), QByteArray("large"));
    QCOMPARE(contentOf(album.Path + "/ps_thumb/TN_TRIP_001.JPG"), QByteArray("thumb"));
    QCOMPARE(contentOf(album.Path + "/ps_tmp/tmp_trip_001.jpg"), QByteArray("tmp"));
    QVERIFY(!QFile::exists(album.Path + "/a.jpg"));
    // The stored name is the file on disk: no orphan beside a differently spelt copy.
    QCOMPARE(p.LargeFileName, QString("ps_large") + QDir::separator() + "L_TRIP_001.JPG");
    QCOMPARE(QDir(album.Path + "/ps_large").entryList(QDir::Files), QStringList{"L_TRIP_001.JPG"});
    QVERIFY(p.Dirty);
  }

  void renameRefusesToReplaceAnotherFile() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Path = env.makeFolder("clash");
    TLumenfoldPicture p(&album);
    p.OriginalFileName = "a.jpg";
    QVERIFY(touch(p.OriginalPath(), "a"));
    QVERIFY(touch(album.Path + "/b.jpg", "b"));
    QVERIFY(p.RenameTo("a.jpg")); // its own name: nothing to do
    QCOMPARE(contentOf(album.Path + "/a.jpg"), QByteArray("a"));
    QVERIFY(!p.RenameTo("b.jpg"));
    QCOMPARE(p.OriginalFileName, QString("a.jpg"));
    QCOMPARE(contentOf(album.Path + "/a.jpg"), QByteArray("a"));
    QCOMPARE(contentOf(album.Path + "/b.jpg"), QByteArray("b"));
    QVERIFY(p.Dirty);
  }

  void renameWithoutOriginalChangesNamesOnly() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Path = env.makeFolder("missing");
    QVERIFY(touch(album.Path + "/ps_large/l_gone.jpg", "large"));
    TLumenfoldPicture p(&album);
    p.OriginalFileName = "gone.jpg";
    QVERIFY(p.RenameTo("new.jpg"));
    QCOMPARE(p.OriginalFileName, QString("new.jpg"));
    QCOMPARE(p.MediumFileName, QString("ps_medium") + QDir::separator() + "m_new.jpg");
    QVERIFY(QFile::exists(album.Path + "/ps_large/l_gone.jpg"));
  }

  void checkOriginalAndRefresh() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Path = env.makeFolder("check");
    TLumenfoldPicture p(&album);
    p.OriginalFileName = "c.jpg";
    QVERIFY(!p.CheckOriginal()); // missing
    QVERIFY(p.Modified);
    QVERIFY(WriteTestJpeg(p.OriginalPath(), 64, 48));
    p.Modified = false;
    QVERIFY(!p.CheckOriginal()); // new: date and size recorded
    QVERIFY(p.Modified);
    QCOMPARE(p.OriginalSize, GetFileSizeBytes(p.OriginalPath()));
    QCOMPARE(p.OriginalHash, GetFileHash(p.OriginalPath()));
    p.Modified = false;
    QVERIFY(p.CheckOriginal());
    QVERIFY(!p.Modified);
    p.OriginalHash = "00000000";
    QVERIFY(!p.CheckOriginal()); // same date and size, other content
    QCOMPARE(p.OriginalHash, GetFileHash(p.OriginalPath()));
    QVERIFY(!p.Dirty); // the check does not mark the row unsaved

    p.RefreshOriginalInfo();
    QCOMPARE(p.OriginalWidth, 64);
    QCOMPARE(p.OriginalHeight, 48);
    QVERIFY(p.Dirty);
  }

  void equalsAndAssign() {
    TLumenfoldAlbum album;
    TLumenfoldPicture a(&album), b;
    a.Title = "t";
    a.CategoryIds = {"1", "2"};
    a.OriginalHash = "abc";
    a.Dirty = true;
    a.SetThumbnail(MakeBitmap(MakeTestImage(8, 8)));
    b.Assign(a);
    QVERIFY(b.Equals(a));
    QCOMPARE(b.Album, &album);
    QVERIFY(b.Dirty);
    QCOMPARE(b.Thumbnail(), a.Thumbnail());
    // Hash, sizes, names and flags are not compared.
    b.OriginalHash = "other";
    b.LargeSize = 5;
    b.Modified = true;
    QVERIFY(b.Equals(a));
    b.CategoryIds = {"2", "1"};
    QVERIFY(!b.Equals(a));
    b.CategoryIds = a.CategoryIds;
    b.CropRect.X2 = 7;
    QVERIFY(!b.Equals(a));
  }

  void previewsAreSharedSafely() {
    const int before = BitmapList().Count();
    {
      TLumenfoldPicture a, copy;
      a.SetThumbnail(MakeBitmap(MakeTestImage(16, 12)));
      copy.Assign(a);
      QCOMPARE(BitmapList().Count(), before + 2);
      // The original drops its preview; the copy's stays usable.
      a.SetThumbnail(nullptr);
      QVERIFY(copy.Thumbnail());
      QCOMPARE(copy.Thumbnail()->width(), 16);
      QCOMPARE(BitmapList().Count(), before + 1);
      // A non-32-bit image is converted, never refused silently.
      a.SetThumbnail(std::make_shared<const QImage>(QImage(4, 4, QImage::Format_Indexed8)));
      QCOMPARE(a.Thumbnail()->format(), QImage::Format_RGB32);
    }
    QCOMPARE(BitmapList().Count(), before);
    TLumenfoldBitmapList list;
    QCOMPARE(list.Add(std::make_shared<const QImage>(QImage(2, 2, QImage::Format_RGB888))), -1);
    QVERIFY(!list.Remove(nullptr));
    auto bmp = MakeBitmap(MakeTestImage(2, 2));
    QCOMPARE(list.Add(bmp), 0);
    QVERIFY(list.Remove(bmp));
    QVERIFY(!list.Remove(bmp));
  }

  void rowsRoundTripOddTexts() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Id = 3;
    const QStringList titles = {"it's", "100% sure", "back\\slash", "Žluťoučký kůň", "%s %d"};
    for (const QString& t : titles) {
      TLumenfoldPicture p(&album);
      p.Title = t;
      p.Title2 = t + "'2";
      p.OriginalFileName = t + ".jpg";
      p.PictureDate = QDateTime(QDate(2006, 12, 8), QTime(0, 0));
      p.CategoryIds = {"4", "2"};
      p.Orientation = -3;
      p.CropRect = {1, 2, 3, 4};
      p.IsPrivate = true;
      p.Modified = true;
      p.ThumbSignatureId = 7;
      p.SortOrder = 9;
      p.Dirty = true;
      QVERIFY(p.Save());
      QVERIFY(p.Id > 0);
      QVERIFY(!p.Dirty);
      QVERIFY(!p.Save()); // not dirty: nothing to do

      TQuery q;
      QCOMPARE(
          OpenQuery(CurrentConnectionString(), FormatSql(SQL_PICTURES_OF_ALBUM, {SqlInt(3)}), q),
          0);
      TLumenfoldPicture r(&album);
      while (!q->Eof() && q->AsInteger("picture_id") != p.Id)
        q->Next();
      QVERIFY(!q->Eof());
      r.LoadFromDataSet(*q);
      CloseQuery(q);
      r.CategoryIds = p.CategoryIds; // links are read by the album
      QVERIFY(r.Equals(p));
      QCOMPARE(r.Title2, t + "'2");
      QVERIFY(r.Modified);
    }
    // An update keeps links in list order and replaces the old ones.
    TLumenfoldPicture p(&album);
    p.Dirty = true;
    p.CategoryIds = {"5"};
    QVERIFY(p.Save());
    p.CategoryIds = {"6", "1"};
    p.Title = "changed";
    p.SetDirty(true);
    QVERIFY(p.Save());
    TQuery q;
    QCOMPARE(OpenQuery(CurrentConnectionString(),
                       FormatSql("SELECT category_id FROM picture_to_category WHERE picture_id=%d "
                                 "ORDER BY rowid",
                                 {SqlInt(p.Id)}),
                       q),
             0);
    QStringList ids;
    for (; !q->Eof(); q->Next())
      ids << q->Value("category_id").toString();
    CloseQuery(q);
    QCOMPARE(ids, QStringList({"6", "1"}));
    QVERIFY(prompt.errors().isEmpty());
  }

  // Rows as older or foreign databases hold them (no column types: integers kept as texts,
  // NULLs, reals, dates in every stored form) read the same through the driver and through
  // SQLite itself.
  void bothReadPathsGiveTheSamePicture() {
    const QString cs = CurrentConnectionString();
    QVERIFY(ExecSQL(cs, "DROP TABLE picture") >= 0);
    QStringList names =
        QString::fromLatin1(SQL_PICTURES_OF_ALBUM).section(" FROM ", 0, 0).mid(7).split(", ");
    QVERIFY(ExecSQL(cs, "CREATE TABLE picture (" + names.join(", ") + ")") >= 0);
    const QString shortDate = QLocale::system().toString(QDate(2006, 12, 8), QLocale::ShortFormat);
    // integer columns, text columns, date, flags
    const QList<QStringList> rows = {
        {"7", "'it''s'", "'2006-12-08'", "1"},
        {"'42'", "NULL", "'2006-12-08T10:11:12'", "'1'"},
        {"' 7 '", "''", "'" + shortDate + "'", "2"},
        {"'12abc'", "17", "NULL", "-1"},
        {"8589934593", "3.5", "''", "'0'"},
        {"NULL", "x'4142'", "20061208", "NULL"},
        {"3.7", "'Žluť'", "' 2006-12-08 '", "'yes'"},
        {"-5", "CAST(x'41c328' AS TEXT)", "'8.12.2006 extra'", "0.5"},
    };
    for (int r = 0; r < rows.size(); ++r) {
      QStringList values;
      for (const QString& name : std::as_const(names)) {
        if (name == "picture_id")
          values << QString::number(r + 1);
        else if (name == "album_id")
          values << "5";
        else if (name == "sort_order")
          values << QString::number(r);
        else if (name == "picture_date")
          values << rows[r][2];
        else if (name.endsWith("filename") || name.startsWith("title") || name.endsWith("hash"))
          values << rows[r][1];
        else if (name == "modified" || name.startsWith("is_"))
          values << rows[r][3];
        else
          values << rows[r][0];
      }
      QVERIFY(ExecSQL(cs, "INSERT INTO picture VALUES (" + values.join(", ") + ")") > 0);
    }
    auto fields = [](const TLumenfoldPicture& p) {
      return QVariantList{p.Id,
                          p.Orientation,
                          p.CropRect.X1,
                          p.CropRect.Y1,
                          p.CropRect.X2,
                          p.CropRect.Y2,
                          p.PictureDate,
                          p.Title,
                          p.Title2,
                          p.OriginalFileName,
                          p.OriginalHash,
                          p.OriginalDate,
                          p.OriginalSize,
                          p.OriginalWidth,
                          p.OriginalHeight,
                          p.LargeFileName,
                          p.LargeSize,
                          p.MediumFileName,
                          p.MediumSize,
                          p.ThumbFileName,
                          p.ThumbSize,
                          p.SortOrder,
                          p.Modified,
                          p.ThumbSignatureId,
                          p.MediumSignatureId,
                          p.IsDeleted,
                          p.IsPrivate,
                          p.AlbumId};
    };
    const QString sql = FormatSql(SQL_PICTURES_OF_ALBUM, {SqlInt(5)});
    TQuery q;
    std::unique_ptr<TSqliteRows> native;
    QCOMPARE(OpenQuery(cs, sql, q), 0);
    QCOMPARE(OpenSqliteRows(cs, sql, native), 0);
    QVERIFY(native);
    TPictureColumns driverColumns(*q), nativeColumns(*native);
    int read = 0;
    for (; !q->Eof(); q->Next(), native->Next(), ++read) {
      QVERIFY(!native->Eof());
      TLumenfoldPicture a, b;
      a.LoadFromDataSet(*q, driverColumns);
      b.LoadFromRows(*native, nativeColumns);
      QCOMPARE(fields(b), fields(a));
      QCOMPARE(b.Title.isNull(), a.Title.isNull());
    }
    QVERIFY(native->Eof());
    CloseQuery(q);
    QCOMPARE(read, rows.size());
    QCOMPARE(nativeColumns.Dates.keys().size(), driverColumns.Dates.keys().size());
    // An album reads them through SQLite, with the same values.
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Id = 5;
    QVERIFY(album.LoadPictures());
    QCOMPARE(album.Pictures.Count(), rows.size());
    QCOMPARE(album.Pictures.Pictures(1)->OriginalSize, 42);
    QCOMPARE(album.Pictures.Pictures(2)->PictureDate, QDateTime(QDate(2006, 12, 8), QTime(0, 0)));
    QVERIFY(prompt.errors().isEmpty());
  }

  void badCategoryIdKeepsDirty() {
    TLumenfoldPicture p;
    p.Dirty = true;
    p.CategoryIds = {"x"};
    QVERIFY(!p.Save());
    QVERIFY(p.Dirty);
    QCOMPARE(p.Id, -1);
  }

  void deleteWithFilesRemovesTheRightPicture() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.Path = env.makeFolder("del");
    // Two unsaved pictures share the id -1: deleting the second must not free the first.
    auto* first = new TLumenfoldPicture(&album);
    first->OriginalFileName = "1.jpg";
    auto* second = new TLumenfoldPicture(&album);
    second->OriginalFileName = "2.jpg";
    album.Pictures.Add(QString(), first);
    album.Pictures.Add(QString(), second);
    QVERIFY(touch(second->OriginalPath()));
    QVERIFY(touch(second->ThumbPath()));
    QVERIFY(touch(first->OriginalPath()));
    second->DeleteWithFiles();
    QCOMPARE(album.Pictures.Count(), 1);
    QCOMPARE(album.Pictures.Pictures(0), first);
    QVERIFY(!QFile::exists(album.Path + "/2.jpg"));
    QVERIFY(!QFile::exists(album.Path + "/ps_thumb/tn_2.jpg"));
    QVERIFY(QFile::exists(album.Path + "/1.jpg"));
    QVERIFY(album.Dirty);
  }

  void listLookups() {
    TLumenfoldPictureList list;
    auto* a = new TLumenfoldPicture;
    a->Id = 4;
    a->OriginalFileName = "Img.jpg";
    list.Add(QString(), a);
    QCOMPARE(list.IndexOfId(4), 0);
    QCOMPARE(list.IndexOfId(5), -1);
    QCOMPARE(list.IndexOfFileName("Img.jpg"), 0);
    QCOMPARE(list.IndexOfFileName("img.jpg"), -1);
    TLumenfoldPictureList copy;
    copy.Assign(list);
    QCOMPARE(copy.Count(), 1);
    QVERIFY(copy.Pictures(0) != a);
    QVERIFY(copy.Pictures(0)->Equals(*a));
  }
};

QTEST_GUILESS_MAIN(TestPicture)
#include "test_picture.moc"
