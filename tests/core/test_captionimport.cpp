// Titles and keywords written by photo editors (here exiftool and Exiv2) into XMP and IPTC:
// read in the site's two languages, taken at import and on request, never replacing a title of
// the user's without being asked.
#include "core/album.h"
#include "core/captionimport.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "testenv.h"
#include "testfiles.h"
#include "util/imaging/exif.h"

#include <QProcess>
#include <QtEndian>
#include <QtTest>
#include <exiv2/exiv2.hpp>

namespace {

bool ExifTool(const QString& path, const QStringList& tags) {
  QProcess p;
  p.start("exiftool", QStringList{"-q", "-overwrite_original", "-charset", "iptc=UTF8"} + tags +
                          QStringList{path});
  return p.waitForFinished(60000) && p.exitCode() == 0;
}

} // namespace

class TestCaptionImport : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  QString folder;

private slots:
  void initTestCase() {
    folder = env.makeFolder("captions");
    const auto jpeg = [&](const QString& name) {
      return WriteTestJpeg(folder + "/" + name, 32, 24) ? folder + "/" + name : QString();
    };
    QVERIFY(ExifTool(jpeg("both.jpg"),
                     {"-XMP-dc:Title-x-default=Harbour at dawn", "-XMP-dc:Title-de=Hafen am Morgen",
                      "-XMP-dc:Subject=Sea", "-XMP-dc:Subject=boats", "-IPTC:Keywords=Boats",
                      "-IPTC:Keywords=Größe", "-XMP-lr:HierarchicalSubject=Places|Europe|Genoa",
                      "-IPTC:ObjectName=Not this one"}));
    QVERIFY(ExifTool(jpeg("iptc.jpg"), {"-IPTC:Headline=Old mill", "-IPTC:Keywords=Mill"}));
    // XMP and IPTC, then the XMP packet broken: the IPTC texts still come.
    const QString damaged = jpeg("damaged.jpg");
    QVERIFY(ExifTool(damaged, {"-XMP-dc:Title=From XMP", "-IPTC:ObjectName=From IPTC"}));
    QByteArray bytes = ReadTestFile(damaged);
    QVERIFY(bytes.contains("<rdf:RDF"));
    writeBytes(damaged, bytes.replace("<rdf:RDF", "<rdf:R<F")); // the same length
    // Exiv2 writes a language alternative of its own.
    const QString exiv2 = jpeg("exiv2.jpg");
    auto image = Exiv2::ImageFactory::open(exiv2.toStdString());
    image->readMetadata();
    image->xmpData()["Xmp.dc.title"] = "lang=\"de-CH\" Brücke";
    image->xmpData()["Xmp.dc.title"] = "lang=x-default Bridge";
    image->iptcData()["Iptc.Application2.Keywords"] = "River";
    image->writeMetadata();
    // A phone picture captioned afterwards.
    const QString heic = env.path("phone.heic");
    QVERIFY(QProcess::execute("heif-enc", {"-q", "50", exiv2, "-o", heic}) == 0);
    QVERIFY(ExifTool(heic, {"-XMP-dc:Title-x-default=Phone", "-XMP-dc:Title-de=Telefon",
                            "-XMP-lr:HierarchicalSubject=Things|Phones|Pixel"}));
  }

  void readsTitlesAndKeywords_data() {
    QTest::addColumn<QString>("file");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("title2");
    QTest::addColumn<QStringList>("keywords");
    QTest::newRow("xmp and iptc") << "both.jpg"
                                  << "Harbour at dawn"
                                  << "Hafen am Morgen"
                                  << QStringList{"Sea", "boats", "Größe", "Genoa"};
    QTest::newRow("iptc headline") << "iptc.jpg"
                                   << "Old mill"
                                   << "" << QStringList{"Mill"};
    QTest::newRow("damaged xmp") << "damaged.jpg"
                                 << "From IPTC"
                                 << "" << QStringList{};
    QTest::newRow("exiv2") << "exiv2.jpg"
                           << "Bridge"
                           << "Brücke" << QStringList{"River"};
    QTest::newRow("heif") << "../phone.heic"
                          << "Phone"
                          << "Telefon" << QStringList{"Pixel"};
  }
  void readsTitlesAndKeywords() {
    QFETCH(QString, file);
    const TEmbeddedCaptions c = ReadEmbeddedCaptions(folder + "/" + file, "en", "de");
    QTEST(c.Title, "title");
    QTEST(c.Title2, "title2");
    QTEST(c.Keywords, "keywords");
    // The import reads the same texts from the header segments it has already read.
    const TCameraMetadata m =
        ReadCameraMetadata(folder + "/" + file, TMetadataParts::ExifAndCaptions);
    const TEmbeddedCaptions parsed =
        ParseEmbeddedCaptions(m.XmpPacket, m.PhotoshopBlock, "en", "de");
    QTEST(parsed.Title, "title");
    QTEST(parsed.Title2, "title2");
    QTEST(parsed.Keywords, "keywords");
  }

  // Blocks cut short anywhere (a file copied in part, a writer that stopped) give either the
  // whole text or none, never a part of one, and never a keyword that was not written.
  void cutBlocksGiveWholeTextsOrNone() {
    const QByteArray file = ReadTestFile(folder + "/both.jpg");
    const TCameraMetadata m = ParseCameraMetadata(file, TMetadataParts::ExifAndCaptions);
    QVERIFY(!m.XmpPacket.isEmpty() && !m.PhotoshopBlock.isEmpty());
    const QStringList titles{"", "Harbour at dawn", "Not this one"};
    const QStringList keywords{"Sea", "boats", "Größe", "Genoa"};
    const auto check = [&](const TEmbeddedCaptions& c, const QString& what) {
      QVERIFY2(titles.contains(c.Title), qPrintable(what + ": " + c.Title));
      for (const QString& k : c.Keywords)
        QVERIFY2(keywords.contains(k, Qt::CaseInsensitive), qPrintable(what + ": " + k));
    };
    for (qsizetype n = 0; n < m.XmpPacket.size(); ++n) {
      const TEmbeddedCaptions c = ParseEmbeddedCaptions(m.XmpPacket.first(n), {}, "en", "de");
      check(c, QString("XMP cut at %1").arg(n));
      if (c.Title.isEmpty() && n > 0) QVERIFY(!c.Problem.isEmpty());
    }
    // The IPTC record cut inside a resource whose size says so, and the resource cut itself.
    const qsizetype at = m.PhotoshopBlock.indexOf(QByteArray("8BIM\x04\x04", 6));
    QVERIFY(at >= 0);
    const qsizetype data = at + 6 + ((uchar(m.PhotoshopBlock[at + 6]) + 2) & ~1) + 4;
    const QByteArray record = m.PhotoshopBlock.mid(data);
    QList<QByteArray> blocks;
    for (qsizetype n = 0; n < record.size(); ++n) {
      QByteArray block = m.PhotoshopBlock.first(data) + record.first(n);
      qToBigEndian(quint32(n), block.data() + data - 4);
      blocks << block << m.PhotoshopBlock.first(data + n);
    }
    for (const QByteArray& block : blocks) {
      const qsizetype n = block.size();
      const TEmbeddedCaptions c = ParseEmbeddedCaptions({}, block, "en", "de");
      check(c, QString("IPTC cut at %1").arg(n));
      // The keywords come in the record's order: a cut keeps a leading part of them.
      QCOMPARE(c.Keywords, QStringList({"Boats", "Größe"}).first(c.Keywords.size()));
    }
    for (qsizetype n = 0; n < file.size() && n < 70000; n += 7) {
      const TCameraMetadata cut =
          ParseCameraMetadata(file.first(n), TMetadataParts::ExifAndCaptions);
      check(ParseEmbeddedCaptions(cut.XmpPacket, cut.PhotoshopBlock, "en", "de"),
            QString("file cut at %1").arg(n));
    }
  }

  // A HEIF file's packet has no size limit: a packet of many comments is read through, not
  // one nested call per comment.
  void readsPacketOfManyComments() {
    const QByteArray packet =
        "<x:xmpmeta xmlns:x='adobe:ns:meta/'><rdf:RDF "
        "xmlns:rdf='http://www.w3.org/1999/02/22-rdf-syntax-ns#'><rdf:Description "
        "xmlns:dc='http://purl.org/dc/elements/1.1/'>" +
        QByteArray("<!-- c -->\n").repeated(300000) +
        "<dc:title><rdf:Alt><rdf:li xml:lang='x-default'>Deep</rdf:li></rdf:Alt></dc:title>"
        "</rdf:Description></rdf:RDF></x:xmpmeta>";
    const TEmbeddedCaptions c = ParseEmbeddedCaptions(packet, {}, "en", "de");
    QCOMPARE(c.Title, QString("Deep"));
    QVERIFY(c.Problem.isEmpty());
  }

  // At import the texts come along and keywords become categories (an existing one is found
  // whatever its letter case); later reads keep the user's titles unless told otherwise.
  void importsAndRereadsWithoutLosingTheUsersTexts() {
    SetCurrentConnectionString(env.newDatabase());
    TLumenfoldProject project;
    project.Reset();
    project.SiteTemplate = "gallery"; // English and German
    auto* mill = new TLumenfoldCategory;
    mill->Title = "MILL";
    QVERIFY(mill->Insert());
    project.Categories.Add(mill->Title, mill);
    TLumenfoldAlbum album(&project);
    album.Path = folder;
    QVERIFY(album.ImportFolder(folder));
    QCOMPARE(album.Pictures.Count(), 4);
    TLumenfoldPicture* both = album.Pictures.Pictures(0);
    TLumenfoldPicture* iptc = album.Pictures.Pictures(3);
    QCOMPARE(both->Title, QString("Harbour at dawn"));
    QCOMPARE(both->Title2, QString("Hafen am Morgen"));
    QCOMPARE(project.Categories.CategoryTitles(both, ","), QString("Sea,boats,Größe,Genoa"));
    QCOMPARE(iptc->CategoryIds, QStringList{QString::number(mill->Id)});
    QCOMPARE(album.Pictures.Pictures(1)->Title, QString("From IPTC")); // damaged XMP
    QCOMPARE(project.Categories.Count(), 6);                           // MILL and five new ones

    both->Title = "My own title";
    both->CategoryIds.removeFirst(); // the user took "Sea" away; a re-read gives it back
    both->CategoryIds.prepend(QString::number(mill->Id));
    const QList<TLumenfoldPicture*> chosen{both, iptc};
    TReadCaptionsResult kept = ReadCaptionsIntoPictures(project, chosen, TCaptionTitles::Keep);
    QCOMPARE(both->Title, QString("My own title"));
    QCOMPARE(kept.TitlesKept, 1);
    QVERIFY(both->CategoryIds.contains(QString::number(mill->Id)));
    QCOMPARE(both->CategoryIds.size(), 5);

    prompt.answer = false;
    ReadCaptionsIntoPictures(project, chosen, TCaptionTitles::Ask);
    QCOMPARE(prompt.questions().size(), 1);
    QCOMPARE(both->Title, QString("My own title"));
    prompt.answer = true;
    ReadCaptionsIntoPictures(project, chosen, TCaptionTitles::Ask);
    QCOMPARE(both->Title, QString("Harbour at dawn"));
    QCOMPARE(prompt.questions().size(), 2);
    // Nothing differs any more: no question.
    ReadCaptionsIntoPictures(project, chosen, TCaptionTitles::Ask);
    QCOMPARE(prompt.questions().size(), 2);
    QVERIFY(prompt.errors().isEmpty());
  }
};

QTEST_MAIN(TestCaptionImport)
#include "test_captionimport.moc"
