// The HEIF box reader against libheif: the same size, EXIF block and XMP packet on real files and
// on made layouts; damaged boxes refused with a message.
#include "testenv.h"
#include "testfiles.h"
#include "util/imaging/heifboxes.h"
#include "util/imaging/heifformat.h"
#include "util/imaging/pictureformats.h"

#include <QBuffer>
#include <QDir>
#include <QProcess>
#include <QtTest>

namespace {

QByteArray Be(quint64 v, int bytes) {
  QByteArray b;
  for (int i = bytes - 1; i >= 0; --i)
    b += char(v >> (8 * i));
  return b;
}
QByteArray Box(const char* type, const QByteArray& body) {
  return Be(8 + body.size(), 4) + type + body;
}
QByteArray Full(const char* type, int version, const QByteArray& body) {
  return Box(type, Be(version, 1) + Be(0, 3) + body);
}

const QByteArray kExif = QByteArray("\0\0\0\0MM\0*\0\0\0\x08\0\0", 14);
const QByteArray kXmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF/></x:xmpmeta>";

// A file of one coded image (its data not decodable: only the boxes are read) with an EXIF item
// and an XMP item, laid out as asked. ilocSizes: offset, length and base offset sizes.
QByteArray MadeHeif(int ilocVersion, QList<int> ilocSizes, bool inIdat, const QByteArray& turn,
                    bool turnFirst, bool splitExif) {
  auto infe = [](int id, const char* type, const QByteArray& extra) {
    return Full("infe", 2, Be(id, 2) + Be(0, 2) + type + '\0' + extra);
  };
  const QByteArray iinf = Full("iinf", 0,
                               Be(3, 2) + infe(1, "hvc1", {}) + infe(2, "Exif", {}) +
                                   infe(3, "mime", QByteArray("application/rdf+xml\0", 20)));
  const QByteArray ispe = Full("ispe", 0, Be(640, 4) + Be(480, 4));
  const QByteArray ipco = Box("ipco", Box("hvcC", QByteArray(23, 0).replace(0, 1, "\1")) +
                                          (turnFirst ? turn + ispe : ispe + turn));
  const QByteArray third = turn.isEmpty() ? QByteArray() : Be(3, 1);
  const QByteArray ipma = Be(1, 4) + Be(1, 2) + Be(2 + third.size(), 1) + Be(0x81, 1) + Be(2, 1);
  const QByteArray iprp = Box("iprp", ipco + Full("ipma", 0, ipma + third));
  const QByteArray iref = Full("iref", 0,
                               Box("cdsc", Be(2, 2) + Be(1, 2) + Be(1, 2)) +
                                   Box("cdsc", Be(3, 2) + Be(1, 2) + Be(1, 2)));
  const QByteArray blocks = kExif + kXmp;
  auto meta = [&](quint64 dataStart) {
    const int id = ilocVersion < 2 ? 2 : 4, os = ilocSizes[0], ls = ilocSizes[1], bs = ilocSizes[2];
    QByteArray iloc = Be(os << 4 | ls, 1) + Be(bs << 4, 1) + Be(3, id);
    const quint64 base = bs ? dataStart : 0, rel = bs ? 0 : dataStart;
    using TExtents = QList<QPair<quint64, quint64>>;
    auto item = [&](int item, int method, TExtents extents) {
      iloc += Be(item, id) + (ilocVersion ? Be(method, 2) : QByteArray()) + Be(0, 2) +
              Be(base, bs) + Be(extents.size(), 2);
      for (const auto& e : extents)
        iloc += Be(rel + e.first, os) + Be(e.second, ls);
    };
    item(1, 0, {{0, 16}});
    const quint64 d = inIdat ? 0 : 16;
    item(2, inIdat, splitExif ? TExtents{{d, 6}, {d + 6, 8}} : TExtents{{d, 14}});
    item(3, inIdat, {{d + 14, quint64(kXmp.size())}});
    return Full("meta", 0,
                Full("hdlr", 0, Be(0, 4) + "pict" + QByteArray(13, 0)) + Full("pitm", 0, Be(1, 2)) +
                    iinf + Full("iloc", ilocVersion, iloc) + iprp + iref +
                    (inIdat ? Box("idat", blocks) : QByteArray()));
  };
  const QByteArray ftyp = Box("ftyp", QByteArray("heic\0\0\0\0mif1heic", 16));
  const quint64 dataStart = inIdat ? 0 : ftyp.size() + meta(0).size() + 8;
  return ftyp + meta(dataStart) + Box("mdat", QByteArray(16, 0) + (inIdat ? "" : blocks));
}

std::optional<THeifBoxes> BoxesOf(const QByteArray& file) {
  QBuffer buffer;
  buffer.setData(file);
  buffer.open(QIODevice::ReadOnly);
  return ReadHeifBoxes(buffer, "made.heic", true);
}

} // namespace

class TestHeifBoxes : public QObject {
  Q_OBJECT
  TestEnv env;

  // The box reader understood the file and found what libheif finds in it.
  void compareWithLibrary(const QString& path) {
    const QByteArray bytes = ReadTestFile(path);
    const std::optional<THeifBoxes> ours = BoxesOf(bytes);
    QVERIFY2(ours, qPrintable(path));
    const THeifBoxes library = ReadHeifBoxesWithLibrary(bytes, path);
    QCOMPARE(ours->Size, library.Size);
    QCOMPARE(ours->Exif, library.Exif);
    QCOMPARE(ours->Xmp, library.Xmp);
  }

private slots:
  void agreesWithLibheifOnRealFiles() {
    const QDir fixtures(QFINDTESTDATA("../../fuzz/corpus-formats"));
    QStringList files;
    for (const QString& name : fixtures.entryList({"*.heic"}))
      files << fixtures.filePath(name);
    QVERIFY(files.size() >= 4);
    // Phone-like files: EXIF from the camera, XMP written afterwards, several images.
    const QString jpeg = env.path("shot.jpg"), a = env.path("a.heic"), b = env.path("b.heic");
    QImage shot(QSize(96, 64), QImage::Format_RGB32);
    shot.fill(Qt::darkCyan);
    QVERIFY(shot.save(jpeg));
    const QStringList tool{"-q", "-overwrite_original"};
    QVERIFY(!QProcess::execute("exiftool",
                               tool + QStringList{"-DateTimeOriginal=2024:05:06 07:08:09", jpeg}));
    QVERIFY(!QProcess::execute("heif-enc", {"-q", "50", jpeg, "-o", a}));
    QVERIFY(!QProcess::execute("heif-enc", {"-q", "50", jpeg, jpeg, "-o", b}));
    QVERIFY(!QProcess::execute("exiftool", tool + QStringList{"-XMP-dc:Title=Harbour", b}));
    for (const QString& path : files << a << b)
      compareWithLibrary(path);
    QVERIFY(BoxesOf(ReadTestFile(b))->Xmp.contains("Harbour"));
    QCOMPARE(ReadCameraMetadata(a).DateTimeOriginal, QDateTime(QDate(2024, 5, 6), QTime(7, 8, 9)));
  }

  void agreesWithLibheifOnLayouts_data() {
    QTest::addColumn<int>("version");
    QTest::addColumn<QList<int>>("sizes");
    QTest::addColumn<bool>("inIdat");
    QTest::addColumn<QByteArray>("turn");
    QTest::addColumn<bool>("turnFirst");
    QTest::addColumn<bool>("split");
    const QByteArray none;
    const QList<int> f{4, 4, 0};
    QTest::newRow("v0") << 0 << f << false << none << false << false;
    QTest::newRow("v1 base") << 1 << QList{8, 8, 4} << false << none << false << false;
    QTest::newRow("v2 idat") << 2 << QList{4, 4, 8} << true << none << false << true;
    QTest::newRow("two extents") << 1 << f << false << none << false << true;
    QTest::newRow("irot 90") << 1 << f << false << Box("irot", "\1") << false << false;
    QTest::newRow("irot 270") << 1 << f << false << Box("irot", "\3") << false << false;
    QTest::newRow("irot before ispe") << 1 << f << false << Box("irot", "\1") << true << false;
  }
  void agreesWithLibheifOnLayouts() {
    QFETCH(int, version);
    QFETCH(QList<int>, sizes);
    QFETCH(bool, inIdat);
    QFETCH(QByteArray, turn);
    QFETCH(bool, turnFirst);
    QFETCH(bool, split);
    const QString path = env.path("made.heic");
    writeBytes(path, MadeHeif(version, sizes, inIdat, turn, turnFirst, split));
    compareWithLibrary(path);
    QCOMPARE(BoxesOf(ReadTestFile(path))->Exif, kExif);
  }

  // The reader leaves a crop and a second meta box to libheif, and reading the open file gives
  // libheif's answer.
  void leavesCropsToLibheif() {
    const QString path = env.path("crop.heic");
    const QByteArray clap = Box("clap", Be(320, 4) + Be(1, 4) + Be(240, 4) + Be(1, 4) + Be(0, 4) +
                                            Be(1, 4) + Be(0, 4) + Be(1, 4));
    writeBytes(path, MadeHeif(1, {4, 4, 0}, false, clap, false, false));
    QVERIFY(!BoxesOf(ReadTestFile(path)));
    QFile file(path);
    QVERIFY(file.open(QIODevice::ReadOnly));
    QCOMPARE(ReadHeifSize(file, path), QSize(320, 240));
    QCOMPARE(ReadHeifXmpPacket(file, path), kXmp);
    // Two files in one: the second meta box, not the first, is the one libheif reads.
    const QString twice = QFINDTESTDATA("../../fuzz/corpus-formats/two-meta-boxes.heif");
    const QByteArray bytes = ReadTestFile(twice);
    QVERIFY(!BoxesOf(bytes));
    QFile joined(twice);
    QVERIFY(joined.open(QIODevice::ReadOnly));
    QCOMPARE(ReadHeifSize(joined, twice), ReadHeifBoxesWithLibrary(bytes, twice).Size);
  }

  // Damage at one place of a made file: the bytes at an offset from a box's type.
  void refusesDamagedBoxes_data() {
    QTest::addColumn<QByteArray>("box");
    QTest::addColumn<int>("at");
    QTest::addColumn<QByteArray>("bytes");
    QTest::newRow("meta past the end") << QByteArray("meta") << -4 << Be(0x7FFFFFF0, 4);
    QTest::newRow("zero size in meta") << QByteArray("pitm") << -4 << Be(0, 4);
    QTest::newRow("no pitm") << QByteArray("pitm") << 0 << QByteArray("free");
    QTest::newRow("primary not there") << QByteArray("pitm") << 8 << Be(9, 2);
    QTest::newRow("item count huge") << QByteArray("iloc") << 10 << Be(0xFFFF, 2);
    QTest::newRow("extent past the end") << QByteArray("iloc") << 36 << Be(0x7FFFFFFF, 4);
    QTest::newRow("missing property") << QByteArray("ipma") << 15 << Be(0x89, 1);
  }
  void refusesDamagedBoxes() {
    QFETCH(QByteArray, box);
    QFETCH(int, at);
    QFETCH(QByteArray, bytes);
    QByteArray file = MadeHeif(0, {4, 4, 0}, false, {}, false, false);
    const qsizetype type = file.indexOf(box);
    QVERIFY(type > 0);
    file.replace(type + at, bytes.size(), bytes);
    try {
      BoxesOf(file);
      QFAIL("not refused");
    } catch (const EImageError& e) {
      QVERIFY2(e.Text().startsWith("Cannot read picture \"made.heic\": damaged HEIF file ("),
               qPrintable(e.Text()));
    }
  }
};

QTEST_MAIN(TestHeifBoxes)
#include "test_heifboxes.moc"
