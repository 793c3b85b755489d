// The image sizes kept between runs: an unchanged file is not read again, and a changed file, a
// damaged cache or a file gone never gives a wrong size.
#include "core/outputsettings.h"
#include "processing/imagesizecache.h"
#include "testenv.h"

#include <QtTest>
#include <fcntl.h>
#include <sys/stat.h>

static struct stat statOf(const QString& path) {
  struct stat st {};
  return ::stat(QFile::encodeName(path).constData(), &st), st;
}

class TestImageSizeCache : public QObject {
  Q_OBJECT
private slots:
  void sizeIsReadAgainOnlyWhenItMayHaveChanged_data() {
    QTest::addColumn<QString>("change");
    QTest::addColumn<QSize>("thumb"); // the size the thumbnail has after the change
    QTest::addColumn<int>("read");    // files read by the next run
    QTest::newRow("nothing") << "" << QSize(200, 150) << 0;
    QTest::newRow("replaced by another size, old time set back") << "replace" << QSize(50, 38) << 1;
    QTest::newRow("rewritten in place, old time set back") << "rewrite" << QSize(60, 45) << 1;
    QTest::newRow("removed") << "remove" << QSize() << 0;
    QTest::newRow("cache damaged") << "damage" << QSize(200, 150) << 2;
    QTest::newRow("cache cut short") << "truncate" << QSize(200, 150) << 2;
  }
  void sizeIsReadAgainOnlyWhenItMayHaveChanged() {
    QFETCH(QString, change);
    QFETCH(QSize, thumb);
    QFETCH(int, read);
    TestEnv env;
    const QString album = env.makeFolder("album"), thumbFile = album + "/ps_thumb/tn_a.jpg";
    env.makeFolder("album/ps_thumb"), env.makeFolder("album/ps_medium");
    QVERIFY(WriteTestJpeg(thumbFile, 200, 150) &&
            WriteTestJpeg(album + "/ps_medium/m_a.jpg", 400, 300));
    TImageSizeCache first(album);
    QCOMPARE(first.Size("ps_thumb/tn_a.jpg"), QSize(200, 150));
    QCOMPARE(first.Size("ps_medium/m_a.jpg"), QSize(400, 300));
    QCOMPARE(first.Save(), QString());
    const QString cacheFile = album + "/" + kPreviewFolder + "/" + kImageSizeCacheName;
    const struct stat before = statOf(thumbFile);
    QByteArray cache = ReadTestFile(cacheFile);
    QVERIFY(!thumb.isValid() || WriteTestJpeg(album + "/new.jpg", thumb.width(), thumb.height()));
    if (change == "replace") {
      QVERIFY(QFile::remove(thumbFile) && QFile::rename(album + "/new.jpg", thumbFile));
    } else if (change == "rewrite") {
      QFile out(thumbFile);
      QVERIFY(out.open(QIODevice::WriteOnly) && out.write(ReadTestFile(album + "/new.jpg")) > 0);
    } else if (change == "remove") {
      QVERIFY(QFile::remove(thumbFile));
    } else if (change == "damage" || change == "truncate") {
      // The low byte of the last entry's height, just before the checksum.
      if (change == "damage")
        cache[cache.size() - 8] = char(cache[cache.size() - 8] ^ 0x10);
      else
        cache.chop(30);
      QFile out(cacheFile);
      QVERIFY(out.open(QIODevice::WriteOnly) && out.write(cache) == cache.size());
    }
    const timespec times[2] = {before.st_atim, before.st_mtim};
    if (change == "replace" || change == "rewrite")
      QCOMPARE(::utimensat(AT_FDCWD, QFile::encodeName(thumbFile).constData(), times, 0), 0);
    TImageSizeCache next(album);
    QCOMPARE(next.Size("ps_thumb/tn_a.jpg"), thumb);
    QCOMPARE(next.Size("ps_medium/m_a.jpg"), QSize(400, 300));
    QCOMPARE(next.FilesRead(), read);
    // Only a cache that changed is written again (a new file takes its place).
    const ino_t saved = statOf(cacheFile).st_ino;
    QCOMPARE(next.Save(), QString());
    QCOMPARE(statOf(cacheFile).st_ino == saved, change.isEmpty());
  }

  // A file no run asks for any more (its picture went) leaves the cache file, and comes back
  // only by being read again.
  void cacheKeepsOnlyWhatTheLastRunAskedFor() {
    TestEnv env;
    const QString album = env.makeFolder("album");
    QVERIFY(WriteTestJpeg(album + "/a.jpg", 200, 150) && WriteTestJpeg(album + "/b.jpg", 40, 30));
    TImageSizeCache first(album);
    QVERIFY(first.Size("a.jpg").isValid() && first.Size("b.jpg").isValid());
    QCOMPARE(first.Save(), QString());
    TImageSizeCache second(album);
    QCOMPARE(second.Size("a.jpg"), QSize(200, 150));
    QCOMPARE(second.Save(), QString());
    TImageSizeCache third(album);
    QCOMPARE(third.Size("b.jpg"), QSize(40, 30));
    QCOMPARE(third.Size("a.jpg"), QSize(200, 150));
    QCOMPARE(third.FilesRead(), 1);
  }
};

QTEST_GUILESS_MAIN(TestImageSizeCache)
#include "test_imagesizecache.moc"
