// A deleted picture's files go to the desktop's trash, never away for good.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "testenv.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestPictureTrash : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void filesOfAPictureMoveToTheTrash() {
    qputenv("XDG_DATA_HOME", env.makeFolder("data").toLocal8Bit());
    TLumenfoldProject project;
    project.Reset();
    auto* album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder("album");
    project.Albums.Add("a", album);
    auto* picture = new TLumenfoldPicture(album);
    picture->OriginalFileName = "sea.jpg";
    album->Pictures.Add("sea.jpg", picture);
    QVERIFY(WriteTestJpeg(picture->OriginalPath(), 40, 30));
    QVERIFY(QDir().mkpath(QFileInfo(picture->ThumbPath()).path()));
    QVERIFY(WriteTestJpeg(picture->ThumbPath(), 20, 15));
    // A web size of the site beside it; a folder that only looks like one is not the picture's.
    const QString medium = QFileInfo(picture->MediumPath()).fileName();
    const QString web = env.path("album/ps_w1600/") + medium;
    QVERIFY(QDir().mkpath(env.path("album/ps_w1600")) && QDir().mkpath(env.path("album/ps_wide")));
    QVERIFY(WriteTestJpeg(web, 20, 15) && WriteTestJpeg(env.path("album/ps_wide/") + medium, 2, 2));

    const QStringList files = ExistingPictureFiles(*picture);
    QCOMPARE(files, (QStringList{picture->OriginalPath(), picture->ThumbPath(), web}));
    QCOMPARE(MoveFilesToTrash(files), QStringList());
    QVERIFY(!QFile::exists(picture->OriginalPath()));
    QCOMPARE(QDir(env.path("data/Trash/files")).entryList(QDir::Files).size(), 3);
    // A file that is gone meanwhile is not a failure.
    QCOMPARE(MoveFilesToTrash(files), QStringList());
  }
};

QTEST_GUILESS_MAIN(TestPictureTrash)
#include "test_picturetrash.moc"
