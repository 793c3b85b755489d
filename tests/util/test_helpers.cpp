// Shared helpers: font style texts, file checksum and size, DOS time stamps, the recent list,
// template listings and renames that never replace another file.
#include "testenv.h"
#include "util/helpers.h"
#include "util/imaging/exif.h"
#include "util/imaging/imageerror.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/safefile.h"
#include "util/widechecksum.h"

#include <QDir>
#include <QFile>
#include <QtTest>
#include <functional>
#include <sys/stat.h>

namespace {
bool writeFile(const QString& path, const QByteArray& bytes) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  return f.open(QIODevice::WriteOnly) && f.write(bytes) == bytes.size();
}
} // namespace

class TestHelpers : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void fontStyleTexts() {
    QCOMPARE(FontStyleToText(TFontStyle::fsBold | TFontStyle::fsUnderline),
             QString("fsBold,fsUnderline"));
    QCOMPARE(FontStyleToText(TFontStyle::fsItalic), QString(",fsItalic"));
    QCOMPARE(FontStyleToText({}), QString());
    const TFontStyles all = TFontStyle::fsBold | TFontStyle::fsItalic | TFontStyle::fsUnderline |
                            TFontStyle::fsStrikeOut;
    QCOMPARE(TextToFontStyle(FontStyleToText(all)), all);
    QCOMPARE(TextToFontStyle(",fsItalic,fsUnderline"),
             TFontStyles(TFontStyle::fsItalic | TFontStyle::fsUnderline));
    QCOMPARE(TextToFontStyle("FSBOLD"), TFontStyles()); // case-sensitive
  }

  void hashAndSize() {
    QVERIFY(writeFile(env.path("abc.bin"), "abc"));
    QCOMPARE(GetFileHash(env.path("abc.bin")), QString("024d0127"));
    QCOMPARE(GetFileSizeBytes(env.path("abc.bin")), 3);
    QVERIFY(writeFile(env.path("empty.bin"), QByteArray()));
    QCOMPARE(GetFileHash(env.path("empty.bin")), QString());
    QCOMPARE(GetFileHash(env.path("missing.bin")), QString());
    QCOMPARE(GetFileSizeBytes(env.path("missing.bin")), -1);
    // Larger than the read buffer, so the running sum crosses buffer boundaries.
    QByteArray big(3 * 1024 * 1024 + 17, 'x');
    for (int i = 0; i < big.size(); ++i)
      big[i] = char(i * 31 + 7);
    QVERIFY(writeFile(env.path("big.bin"), big));
    const QString hash = GetFileHash(env.path("big.bin"));
    QCOMPARE(hash.size(), 8);
    quint32 a = 1, b = 0;
    for (char c : big) {
      a = (a + quint8(c)) % 65521;
      b = (b + a) % 65521;
    }
    QCOMPARE(hash, QString("%1").arg((b << 16) | a, 8, 16, QChar('0')));
    // Lengths around the vector block and the modulo interval, at odd addresses, in one call
    // and in two pieces, against the byte-by-byte definition.
    auto reference = [](quint32 adler, const char* p, size_t n) {
      quint32 s1 = adler & 0xffff, s2 = adler >> 16;
      for (size_t i = 0; i < n; ++i) {
        s1 = (s1 + quint8(p[i])) % 65521;
        s2 = (s2 + s1) % 65521;
      }
      return s2 << 16 | s1;
    };
    for (size_t n : {0,    1,    15,   16,   17,   31,   32,   33,    63,    65,
                     5535, 5536, 5537, 5551, 5552, 5553, 5568, 11104, 11111, 65536}) {
      for (size_t offset : {0, 3}) {
        const char* p = big.constData() + offset;
        QCOMPARE(UpdateAdler32(1, p, n), reference(1, p, n));
        QCOMPARE(UpdateAdler32(0xfff0fff0, p, n), reference(0xfff0fff0, p, n));
        QCOMPARE(UpdateAdler32(UpdateAdler32(1, p, n / 3), p + n / 3, n - n / 3),
                 reference(1, p, n));
      }
    }
    const QByteArray ones(100000, char(0xff)); // the largest sums
    QCOMPARE(UpdateAdler32(1, ones.constData(), size_t(ones.size())),
             reference(1, ones.constData(), size_t(ones.size())));
    AllowWideChecksum(false); // the narrower path gives the same sums
    for (size_t n : {31, 32, 33, 5536, 5553, 100000})
      QCOMPARE(UpdateAdler32(7, ones.constData(), n), reference(7, ones.constData(), n));
    AllowWideChecksum(true);
    // The same sum of bytes in memory.
    QCOMPARE(GetDataHash(big), hash);
    QCOMPARE(GetDataHash("abc"), QString("024d0127"));
    QCOMPARE(GetDataHash(QByteArray()), QString());
  }

  void dosTimeStamps() {
    const QDateTime t(QDate(2006, 12, 8), QTime(13, 45, 31));
    const int packed = DateTimeToDosDateTime(t);
    QCOMPARE(quint32(packed) >> 16, quint32(((2006 - 1980) << 9) | (12 << 5) | 8));
    QCOMPARE(quint32(packed) & 0xffff, quint32((13 << 11) | (45 << 5) | 15));
    QCOMPARE(DosDateTimeToDateTime(packed), QDateTime(QDate(2006, 12, 8), QTime(13, 45, 30)));
    QCOMPARE(FileDosDateTime(env.path("missing.bin")), -1);
  }

  void recentProjects() {
    QStringList list{"a", "b", "c"};
    QVERIFY(AddRecentProject(list, "c"));
    QCOMPARE(list, QStringList({"c", "b", "a"}));
    AddRecentProject(list, "B");
    QCOMPARE(list, QStringList({"b", "c", "a"})); // stored case kept
    AddRecentProject(list, "d");
    QCOMPARE(list, QStringList({"d", "b", "c", "a"}));
  }

  void templateListings() {
    const QString root = env.makeFolder("prog/templates");
    QVERIFY(writeFile(root + "/good/preview_small.jpg", "s"));
    QVERIFY(writeFile(root + "/good/preview_big.jpg", "b"));
    QVERIFY(writeFile(root + "/good/css/site.css", "c"));
    QVERIFY(writeFile(root + "/good/css/img/x.png", "p"));
    QVERIFY(writeFile(root + "/good/index.php", "i"));
    QVERIFY(writeFile(root + "/half/preview_small.jpg", "s"));
    QStringList names;
    ListTemplates(root + "/*.*", names);
    QCOMPARE(names, QStringList({"good"}));
    QStringList files;
    ListTemplateFiles(root, "good", files);
    const QString sep = QDir::separator();
    // Sub-folders come before a folder's own files.
    QVERIFY(files.indexOf("index.php") > files.indexOf("css" + sep + "site.css"));
    files.sort();
    QCOMPARE(files, QStringList({"css" + sep + "img" + sep + "x.png", "css" + sep + "site.css",
                                 "index.php", "preview_big.jpg", "preview_small.jpg"}));
  }

  void renameNeverReplaces() {
    QVERIFY(writeFile(env.path("r/a.jpg"), "A"));
    QVERIFY(writeFile(env.path("r/b.jpg"), "B"));
    QVERIFY(!RenameFileNoReplace(env.path("r/a.jpg"), env.path("r/b.jpg")));
    QFile b(env.path("r/b.jpg"));
    QVERIFY(b.open(QIODevice::ReadOnly));
    QCOMPARE(b.readAll(), QByteArray("B"));
    QVERIFY(QFile::exists(env.path("r/a.jpg")));
    QVERIFY(RenameFileNoReplace(env.path("r/a.jpg"), env.path("r/c.jpg")));
    QVERIFY(!QFile::exists(env.path("r/a.jpg")));
    QVERIFY(!RenameFileNoReplace(env.path("r/missing.jpg"), env.path("r/d.jpg")));
  }

  // The quick check agrees with QFileInfo::isFile: links are followed, folders and dangling
  // links are no files.
  void regularFiles() {
    QVERIFY(writeFile(env.path("f/a.jpg"), "A"));
    QVERIFY(QFile::link(env.path("f/a.jpg"), env.path("f/link.jpg")));
    QVERIFY(QFile::link(env.path("f/gone.jpg"), env.path("f/dangling.jpg")));
    for (const char* name : {"a.jpg", "link.jpg", "dangling.jpg", "missing.jpg", ""}) {
      const QString path = env.path("f/") + QLatin1String(name);
      QCOMPARE(IsRegularFile(path), QFileInfo(path).isFile());
    }
    QVERIFY(IsRegularFile(env.path("f/link.jpg")));
    QVERIFY(!IsRegularFile(QString()));
    // The same answers through the listings, also for names the listing holds as no file.
    QVERIFY(QDir().mkpath(env.path("f/sub")));
    TFolderListings listings;
    for (const char* name : {"a.jpg", "link.jpg", "dangling.jpg", "missing.jpg", "sub", "A.JPG"}) {
      const QString path = env.path("f/") + QLatin1String(name);
      QCOMPARE(listings.IsRegularFile(path), QFileInfo(path).isFile());
    }
    QVERIFY(listings.IsRegularFile(env.path("f/a.jpg")));
    QVERIFY(!listings.IsRegularFile(env.path("nowhere/a.jpg")));
  }

  // A FIFO under a picture's name (or a link to one) is refused at once by every reader of
  // originals: none of them waits for a writer that never comes.
  void fifoIsNeverWaitedFor() {
    const QString folder = env.makeFolder("fifo");
    QCOMPARE(::mkfifo(QFile::encodeName(folder + "/x.jpg").constData(), 0600), 0);
    QVERIFY(QFile::link(folder + "/x.jpg", folder + "/link.jpg"));
    auto raises = [](const std::function<void()>& read) {
      try {
        read();
      } catch (const EImageError&) {
        return true;
      }
      return false;
    };
    for (const char* name : {"x.jpg", "link.jpg"}) {
      const QString path = folder + "/" + name;
      QCOMPARE(CheckRegularFile(path), TFileRefusal::NotRegular);
      QCOMPARE(GetFileHash(path), QString());
      QCOMPARE(GetFileSizeBytes(path), -1);
      QByteArray bytes;
      QVERIFY(!ReadWholeFile(path, bytes));
      QVERIFY(!ReadCameraMetadata(path).Problem.isEmpty());
      QVERIFY(raises([&] { ReadJpegSize(path); }));
      QVERIFY(raises([&] { DecodeJpegFile(path); }));
      QVERIFY(raises([&] { ReadPictureSize(path); }));
    }
  }

  void rectangles() {
    QRect r(10, 10, 20, 20);
    QVERIFY(InflateRectBy(&r, 2));
    QCOMPARE(r, QRect(8, 8, 24, 24));
    QVERIFY(DeflateRectBy(&r, 2));
    QCOMPARE(r, QRect(10, 10, 20, 20));
    QVERIFY(!InflateRectBy(nullptr, 1));
    QCOMPARE(SplitPath("C:\\pic/album1\\x"), QStringList({"C:", "pic", "album1", "x"}));
  }
};

QTEST_GUILESS_MAIN(TestHelpers)
#include "test_helpers.moc"
