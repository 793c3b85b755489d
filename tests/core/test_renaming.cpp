// Renaming templates: macro expansion, special characters, uniqueness and album renames.
#include "core/album.h"
#include "core/project.h"
#include "core/renaming.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QLocale>
#include <QtTest>

namespace {

TLumenfoldPicture* addPicture(TLumenfoldAlbum& album, const QString& name) {
  auto* p = new TLumenfoldPicture(&album);
  p->OriginalFileName = name;
  album.Pictures.Add(QString(), p);
  return p;
}

} // namespace

class TestRenaming : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void macroTables() {
    QCOMPARE(QString(RenameMacroKeys[0]), QString("%PREVIOUS%"));
    QCOMPARE(QString(RenameMacroKeys[16]), QString("%N000%"));
    QCOMPARE(QString(RenameMacroLabels[4]), QString("Short album name 2"));
    QCOMPARE(QString(RenameMacroLabels[6]), QString("Long album name2"));
    QCOMPARE(QString(RenameMacroLabels[16]), QString("Sequential number"));
  }

  void shortNameAndSequence() {
    TLumenfoldProject project;
    project.Reset();
    TLumenfoldAlbum album(&project);
    album.ShortName = "My Trip";
    for (int i = 0; i < 3; ++i)
      addPicture(album, QString("img%1.JPG").arg(i));
    const QString t = "%SHORT_ALBUM_NAME%_%N000%.jpg";
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, true, true, t), QString("My_Trip_001.jpg"));
    QCOMPARE(ExpandRenameTemplate(&album, 2, 1, true, true, t), QString("My_Trip_003.jpg"));
    QCOMPARE(ApplyFileNameCase(ExpandRenameTemplate(&album, 1, 1, true, true, t), 0),
             QString("my_trip_002.jpg"));
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, true, t), QString("My Trip_001.jpg"));

    // Width of the number: at least k digits, never cut.
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1234, false, false, "%N0%"), QString("1234"));
    QCOMPARE(ExpandRenameTemplate(&album, 0, 7, false, false, "%N00000%"), QString("00007"));
    QCOMPARE(ExpandRenameTemplate(&album, 1, 0, false, false, "%N000000000000000%-%N0%"),
             QString("000000000000001-1"));
    // Not a macro: stays in the name.
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, false, "%N%_%FOO%"), QString("%N%_%FOO%"));
  }

  void datesExtensionsAndReplacement() {
    TLumenfoldAlbum album;
    album.AlbumDate = QDateTime(QDate(2006, 12, 8), QTime(10, 0));
    const QString date = QLocale::system().toString(QDate(2006, 12, 8), QLocale::ShortFormat);
    QString base, extension;
    SplitExtension(date, base, extension);
    // The part after the last dot of the date counts as extension.
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, true, "%ALBUM_DATE%"), base + ".jpg");
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, true, true, "%ALBUM_DATE%"),
             ReplaceSpecialChars(base) + ".jpg");
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, true, "a.b/c"), QString("a.b/c.jpg"));
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, true, "x.png"), QString("x.jpg"));

    QCOMPARE(ReplaceSpecialChars("08.12"), QString("08_12"));
    QCOMPARE(ReplaceSpecialChars("  a__b--c  "), QString("_a_b_c_"));
    QCOMPARE(ReplaceSpecialChars(QString::fromUtf8("Žluťoučký kůň")), QString("_lu_ou_k_k_"));
    QCOMPARE(ReplaceSpecialChars("abc123"), QString("abc123"));
    QCOMPARE(ReplaceSpecialChars(""), QString(""));
  }

  void pictureMacrosAndTrimming() {
    TLumenfoldAlbum album;
    album.Id = 12;
    album.LongName = "\t Long \r\n";
    auto* p = addPicture(album, " spaced name .jpg");
    p->Id = 77;
    p->Title = "Title   ";
    p->OriginalHash = "0a0b0c0d";
    p->OriginalSize = 1000;
    p->OriginalWidth = 640;
    p->OriginalHeight = 480;
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, false, "%PICTURE_TITLE%|%LONG_ALBUM_NAME%"),
             QString("Title|Long"));
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, false, "[%PREVIOUS%]"),
             QString("[ spaced name ]"));
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, true, true, "%PREVIOUS%"),
             QString("_spaced_name_.jpg"));
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, false,
                                  "%ALBUM_ID%-%PICTURE_ID%-%ORIGINAL_HASH%-%ORIGINAL_SIZE%-"
                                  "%ORIGINAL_WIDTH%x%ORIGINAL_HEIGHT%-%ORIGINAL_FILENAME%"),
             QString("12-77-0a0b0c0d-1000-640x480-spaced name .jpg"));
    // Outside the album: picture macros empty, %PREVIOUS% kept, album part and number expanded.
    QCOMPARE(ExpandRenameTemplate(&album, 5, 1, false, false,
                                  "%PREVIOUS%|%PICTURE_TITLE%|%ALBUM_ID%|%N00%"),
             QString("%PREVIOUS%||12|06"));
    // Text inserted by an earlier macro is expanded by the later ones.
    p->Title = "%ALBUM_ID%";
    album.ShortName = "%PICTURE_ID%";
    QCOMPARE(ExpandRenameTemplate(&album, 0, 1, false, false, "%SHORT_ALBUM_NAME%"), QString("77"));
  }

  void duplicates() {
    TLumenfoldAlbum album;
    album.Id = 3;
    addPicture(album, "a.jpg");
    addPicture(album, "A.jpg");
    QVERIFY(HasDuplicateNames(&album, 1, "%ALBUM_ID%.jpg", false));
    QVERIFY(!HasDuplicateNames(&album, 1, "%N0%.jpg", false));
    // Names that differ in letter case only are distinct here.
    QVERIFY(!HasDuplicateNames(&album, 1, "%PREVIOUS%", false));
    // Replacement can make names equal.
    album.Pictures.Pictures(1)->OriginalFileName = "a!.jpg";
    album.Pictures.Pictures(0)->OriginalFileName = "a?.jpg";
    QVERIFY(!HasDuplicateNames(&album, 1, "%PREVIOUS%", false));
    QVERIFY(HasDuplicateNames(&album, 1, "%PREVIOUS%", true));
    TLumenfoldAlbum empty;
    QVERIFY(!HasDuplicateNames(&empty, 1, "x.jpg", false));
  }

  void albumRenamesFilesOnDisk() {
    TLumenfoldProject project;
    project.Reset();
    project.RenameTemplate = "%SHORT_ALBUM_NAME%_%N000%.jpg";
    project.RenameStart = 1;
    project.FileNameCase = 0;
    TLumenfoldAlbum album(&project);
    album.ShortName = "My Trip";
    album.Path = env.makeFolder("trip");
    for (const char* name : {"B.JPG", "a.jpg", "c.jpeg"}) {
      QFile f(album.Path + "/" + name);
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(name);
      addPicture(album, name);
    }
    QVERIFY(album.RenamePictures(true));
    QCOMPARE(album.Pictures.Pictures(0)->OriginalFileName, QString("my_trip_001.jpg"));
    QCOMPARE(album.Pictures.Pictures(2)->OriginalFileName, QString("my_trip_003.jpg"));
    QFile f(album.Path + "/my_trip_002.jpg");
    QVERIFY(f.open(QIODevice::ReadOnly));
    QCOMPARE(f.readAll(), QByteArray("a.jpg"));
    QVERIFY(album.Dirty);

    // A new name equal to another picture's present file: that picture moves away in the same
    // rename, so every picture gets its new name.
    project.RenameTemplate = "x_%N0%.jpg";
    project.RenameStart = 2;
    album.Pictures.Pictures(1)->OriginalFileName = "my_trip_002.jpg";
    QFile::rename(album.Path + "/my_trip_003.jpg", album.Path + "/x_3.jpg");
    album.Pictures.Pictures(2)->OriginalFileName = "x_3.jpg";
    QVERIFY(album.RenamePictures(false));
    QCOMPARE(album.Pictures.Pictures(0)->OriginalFileName, QString("x_2.jpg"));
    QCOMPARE(album.Pictures.Pictures(1)->OriginalFileName, QString("x_3.jpg"));
    QCOMPARE(ReadTestFile(album.Path + "/x_3.jpg"), QByteArray("a.jpg"));
    QVERIFY(!QFile::exists(album.Path + "/my_trip_002.jpg"));
    QCOMPARE(album.Pictures.Pictures(2)->OriginalFileName, QString("x_4.jpg"));
    QVERIFY(QFile::exists(album.Path + "/x_4.jpg"));
  }
};

QTEST_GUILESS_MAIN(TestRenaming)
#include "test_renaming.moc"
