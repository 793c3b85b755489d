// Drawing of signatures: anchor points, text, colour-keyed images, order and captions.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "core/signaturerender.h"
#include "testenv.h"

#include <QFontMetrics>
#include <QtTest>
#include <thread>

namespace {

// Bounding box of the pixels that differ from the background colour.
QRect drawnBox(const QImage& image, QRgb background) {
  QRect box;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (image.pixel(x, y) != background) box |= QRect(x, y, 1, 1);
  return box;
}

QImage blank(int w, int h, QRgb colour = qRgb(255, 255, 255)) {
  QImage image(w, h, QImage::Format_RGB32);
  image.fill(colour);
  return image;
}

TLumenfoldSignatureItem* textItem(const QString& caption, int size = 12) {
  auto* item = new TLumenfoldSignatureItem("text");
  item->SetCaption(caption);
  item->FontName = "DejaVu Sans";
  item->FontSize = size;
  return item;
}

} // namespace

class TestSignatureRender : public QObject {
  Q_OBJECT
  TestEnv env;

  // A solid image file of one colour; returns its path.
  QString solidImage(const QString& name, int w, int h, QRgb colour) {
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    const QString path = env.path(name);
    if (!image.save(path, "PNG")) return QString();
    return path;
  }

  TLumenfoldSignatureItem* imageItem(const QString& path, int transparent = 0xFFFFFF) {
    auto* item = new TLumenfoldSignatureItem("image");
    item->SetImageName(path);
    item->ImageTransparent = transparent;
    return item;
  }

private slots:
  void anchorTable() {
    const QSize bitmap(800, 600), item(101, 51);
    const QPoint off(3, -4);
    // Free width 699 and height 549: halves truncate to 349 and 274.
    const QPoint expected[10] = {{3, -4},    {3, -4},    {352, -4}, {702, -4},  {3, 270},
                                 {352, 270}, {702, 270}, {3, 545},  {352, 545}, {702, 545}};
    for (int code = 0; code < 10; ++code) {
      QPoint p;
      QVERIFY(SignatureAnchor(bitmap, item, code, off, &p));
      QCOMPARE(p, expected[code]);
    }
    QPoint p;
    QVERIFY(!SignatureAnchor(bitmap, item, 10, off, &p));
    QVERIFY(!SignatureAnchor(bitmap, item, -1, off, &p));
    // Absolute placement ignores the bitmap size; a larger item starts left of the edge.
    QVERIFY(SignatureAnchor(QSize(10, 10), QSize(50, 50), 0, {10, 20}, &p));
    QCOMPARE(p, QPoint(10, 20));
    QVERIFY(SignatureAnchor(QSize(10, 10), QSize(20, 10), 9, {-1, -1}, &p));
    QCOMPARE(p, QPoint(-11, -1));
    // Odd free width: 101 / 2 = 50.
    QVERIFY(SignatureAnchor(QSize(201, 100), QSize(100, 100), 5, {0, 0}, &p));
    QCOMPARE(p.x(), 50);
  }

  void imageItemsLandAtTheirAnchors() {
    const QString logo = solidImage("red.png", 10, 6, qRgb(255, 0, 0));
    QVERIFY(!logo.isEmpty());
    std::unique_ptr<TLumenfoldSignatureItem> item(imageItem(logo));
    // 110 x 80 bitmap: free width 100, free height 74.
    const QPoint corner[10] = {{0, 0},   {0, 0},    {50, 0}, {100, 0}, {0, 37},
                               {50, 37}, {100, 37}, {0, 74}, {50, 74}, {100, 74}};
    for (int code = 0; code < 10; ++code) {
      QImage bitmap = blank(110, 80);
      item->DrawAt(bitmap, nullptr, QPoint(0, 0), code);
      QCOMPARE(drawnBox(bitmap, qRgb(255, 255, 255)), QRect(corner[code], QSize(10, 6)));
    }
    // The offset is added whatever the anchor.
    const struct {
      int code;
      QPoint offset, at;
    } shifted[] = {{0, {5, 7}, {5, 7}},
                   {5, {5, 7}, {55, 44}},
                   {9, {-1, -1}, {99, 73}},
                   {3, {-4, 2}, {96, 2}},
                   {7, {3, -5}, {3, 69}}};
    for (const auto& s : shifted) {
      QImage bitmap = blank(110, 80);
      item->DrawAt(bitmap, nullptr, s.offset, s.code);
      QCOMPARE(drawnBox(bitmap, qRgb(255, 255, 255)), QRect(s.at, QSize(10, 6)));
    }
    QImage untouched = blank(110, 80);
    item->DrawAt(untouched, nullptr, QPoint(5, 7), 10);
    QVERIFY(drawnBox(untouched, qRgb(255, 255, 255)).isNull());

    // An image larger than the bitmap at "Bottom - Right" is cut at the left edge.
    QImage gradient(20, 10, QImage::Format_RGB32);
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 20; ++x)
        gradient.setPixel(x, y, qRgb(x * 10, y * 20, 7));
    QVERIFY(gradient.save(env.path("gradient.png"), "PNG"));
    std::unique_ptr<TLumenfoldSignatureItem> big(imageItem(env.path("gradient.png")));
    QImage small = blank(10, 10);
    big->DrawAt(small, nullptr, QPoint(-1, -1), 9);
    QCOMPARE(small.pixel(0, 0), gradient.pixel(11, 1));
    QCOMPARE(small.pixel(8, 8), gradient.pixel(19, 9));
    QCOMPARE(small.pixel(9, 9), qRgb(255, 255, 255)); // the offset leaves a one-pixel margin
  }

  void colourKeyIsExact() {
    // Key 0x00FF0000 is pure blue in the stored byte order.
    QImage logo(4, 1, QImage::Format_RGB32);
    logo.setPixel(0, 0, qRgb(0, 0, 255));
    logo.setPixel(1, 0, qRgb(0, 0, 254));
    logo.setPixel(2, 0, qRgb(255, 0, 0));
    logo.setPixel(3, 0, qRgb(0, 0, 255));
    QVERIFY(logo.save(env.path("logo.png"), "PNG"));
    std::unique_ptr<TLumenfoldSignatureItem> item(imageItem(env.path("logo.png"), 0xFF0000));
    QImage bitmap = blank(4, 1, qRgb(10, 20, 30));
    item->DrawAt(bitmap, nullptr, QPoint(0, 0), 1);
    QCOMPARE(bitmap.pixel(0, 0), qRgb(10, 20, 30));
    QCOMPARE(bitmap.pixel(1, 0), qRgb(0, 0, 254));
    QCOMPARE(bitmap.pixel(2, 0), qRgb(255, 0, 0));
    QCOMPARE(bitmap.pixel(3, 0), qRgb(10, 20, 30));

    // White key on a white-background logo: near-white stays.
    QImage white(2, 1, QImage::Format_RGB32);
    white.setPixel(0, 0, qRgb(255, 255, 255));
    white.setPixel(1, 0, qRgb(254, 255, 255));
    QVERIFY(white.save(env.path("white.png"), "PNG"));
    item.reset(imageItem(env.path("white.png")));
    QImage dark = blank(2, 1, qRgb(0, 0, 0));
    item->DrawAt(dark, nullptr, QPoint(0, 0), 0);
    QCOMPARE(dark.pixel(0, 0), qRgb(0, 0, 0));
    QCOMPARE(dark.pixel(1, 0), qRgb(254, 255, 255));
  }

  void unreadableImagesDrawNothing() {
    QImage bitmap = blank(20, 20);
    std::unique_ptr<TLumenfoldSignatureItem> missing(imageItem(env.path("nothing.png")));
    missing->DrawAt(bitmap, nullptr, QPoint(0, 0), 5);
    QFile garbage(env.path("garbage.png"));
    QVERIFY(garbage.open(QIODevice::WriteOnly));
    garbage.write("\x89PNG\r\n\x1a\n not really a picture");
    garbage.close();
    std::unique_ptr<TLumenfoldSignatureItem> broken(imageItem(garbage.fileName()));
    broken->DrawAt(bitmap, nullptr, QPoint(0, 0), 5);
    std::unique_ptr<TLumenfoldSignatureItem> folder(imageItem(env.path()));
    folder->DrawAt(bitmap, nullptr, QPoint(0, 0), 5);
    QVERIFY(drawnBox(bitmap, qRgb(255, 255, 255)).isNull());
  }

  void textSizeColourAndPlacement() {
    QCOMPARE(SignatureTextDpi(), 96);
    QCOMPARE(SignatureFontPixelSize(8), 11);
    QCOMPARE(SignatureFontPixelSize(12), 16);
    QCOMPARE(SignatureFontPixelSize(0), 1);

    std::unique_ptr<TLumenfoldSignatureItem> item(textItem("@ lumenfold"));
    item->FontColor = 0x0000FF; // red in the stored byte order
    const QFont font = SignatureItemFont(*item);
    QCOMPARE(font.pixelSize(), 16);
    QVERIFY(font.bold());
    QVERIFY(!font.italic());
    QImage bitmap = blank(800, 600);
    const QFontMetrics metrics(font, &bitmap);
    const int w = metrics.horizontalAdvance("@ lumenfold"), h = metrics.height();
    item->DrawAt(bitmap, nullptr, QPoint(-1, -1), 9);
    const QRect box = drawnBox(bitmap, qRgb(255, 255, 255));
    QVERIFY(!box.isNull());
    QVERIFY2(QRect(800 - w - 1, 600 - h - 1, w, h).contains(box), "glyphs outside their cell");
    // The ink reaches close to both ends of its cell.
    QVERIFY(box.left() <= 800 - w - 1 + 3);
    QVERIFY(box.right() >= 800 - 1 - 1 - 3);
    // Glyphs are drawn in the font colour, nothing else.
    bool sawRed = false;
    for (int y = box.top(); y <= box.bottom(); ++y)
      for (int x = box.left(); x <= box.right(); ++x) {
        const QRgb p = bitmap.pixel(x, y);
        QCOMPARE(qGreen(p), qBlue(p));
        QVERIFY(qRed(p) >= qGreen(p));
        sawRed = sawRed || p == qRgb(255, 0, 0);
      }
    QVERIFY(sawRed);

    // Every anchor equals the absolute placement at the computed point.
    for (int code = 1; code < 10; ++code) {
      QImage anchored = blank(300, 200), absolute = blank(300, 200);
      item->DrawAt(anchored, nullptr, QPoint(2, 3), code);
      QPoint p;
      QVERIFY(SignatureAnchor(anchored.size(), QSize(w, h), code, QPoint(2, 3), &p));
      item->DrawAt(absolute, nullptr, p, 0);
      QVERIFY2(anchored == absolute, qPrintable(QString("code %1").arg(code)));
    }
  }

  void textStyles() {
    std::unique_ptr<TLumenfoldSignatureItem> item(textItem("Hello"));
    const TFontStyles styles[] = {{},
                                  TFontStyle::fsBold,
                                  TFontStyle::fsItalic | TFontStyle::fsUnderline,
                                  TFontStyle::fsStrikeOut};
    QList<QImage> images;
    for (TFontStyles style : styles) {
      item->FontStyle = style;
      const QFont font = SignatureItemFont(*item);
      QCOMPARE(font.bold(), style.testFlag(TFontStyle::fsBold));
      QCOMPARE(font.italic(), style.testFlag(TFontStyle::fsItalic));
      QCOMPARE(font.underline(), style.testFlag(TFontStyle::fsUnderline));
      QCOMPARE(font.strikeOut(), style.testFlag(TFontStyle::fsStrikeOut));
      QImage bitmap = blank(120, 40);
      item->DrawAt(bitmap, nullptr, QPoint(2, 2), 0);
      for (const QImage& other : images)
        QVERIFY(other != bitmap);
      images << bitmap;
    }
    // Underline draws a long horizontal run below the glyphs.
    const QImage& underlined = images[2];
    int longest = 0;
    for (int y = 0; y < underlined.height(); ++y) {
      int run = 0;
      for (int x = 0; x < underlined.width(); ++x) {
        run = underlined.pixel(x, y) != qRgb(255, 255, 255) ? run + 1 : 0;
        longest = std::max(longest, run);
      }
    }
    QVERIFY(longest > 25);
  }

  void drawingOrderAndUnlinkedPlacements() {
    std::unique_ptr<TLumenfoldSignatureItem> red(
        imageItem(solidImage("r.png", 8, 8, qRgb(255, 0, 0))));
    std::unique_ptr<TLumenfoldSignatureItem> green(
        imageItem(solidImage("g.png", 8, 8, qRgb(0, 255, 0))));
    TLumenfoldSignature s;
    s.Maps.Add("red", new TLumenfoldSignatureMap(-1, 1, 0, red.get()));
    s.Maps.Add("green", new TLumenfoldSignatureMap(-1, 2, 1, green.get()));
    s.Maps.Add("gone", new TLumenfoldSignatureMap(-1, 3, 2, nullptr));
    for (int i = 0; i < 3; ++i)
      s.Maps.Maps(i)->Location = 5;
    // The green square is shifted by 4 pixels and overlaps the red one.
    s.Maps.Maps(1)->Offset = QPoint(3, 3);
    s.Maps.Maps(0)->Offset = QPoint(-1, -1);
    QImage bitmap = blank(20, 20);
    s.Draw(bitmap, nullptr);
    QCOMPARE(bitmap.pixel(7, 7), qRgb(255, 0, 0));
    QCOMPARE(bitmap.pixel(10, 10), qRgb(0, 255, 0)); // overlap: the later one wins
    s.Maps.Exchange(0, 1);
    QImage swapped = blank(20, 20);
    s.Draw(swapped, nullptr);
    QCOMPARE(swapped.pixel(10, 10), qRgb(255, 0, 0));
    QCOMPARE(swapped.pixel(14, 14), qRgb(0, 255, 0));
  }

  void captionsExpandPerPicture() {
    TLumenfoldProject project;
    project.RenameStart = 5;
    TLumenfoldAlbum album(&project);
    album.ShortName = "Trip";
    auto* first = new TLumenfoldPicture(&album);
    first->Title = "First  ";
    first->SortOrder = 0;
    auto* second = new TLumenfoldPicture(&album);
    second->Title = "Second";
    second->SortOrder = 7; // a gap left by a deleted picture
    album.Pictures.Add("1", first);
    album.Pictures.Add("2", second);
    const QString caption = "%PICTURE_TITLE% %N00% %SHORT_ALBUM_NAME%";
    QCOMPARE(SignatureCaptionText(caption, first), QString("First 05 Trip"));
    QCOMPARE(SignatureCaptionText(caption, second), QString("Second 06 Trip"));
    // Editor previews and pictures outside a project show the macros literally.
    QCOMPARE(SignatureCaptionText(caption, nullptr), caption);
    TLumenfoldAlbum loose;
    TLumenfoldPicture alone(&loose);
    alone.Title = "x";
    QCOMPARE(SignatureCaptionText(caption, &alone), caption);

    // Drawing stamps the expanded text.
    std::unique_ptr<TLumenfoldSignatureItem> macro(textItem("%PICTURE_TITLE%"));
    std::unique_ptr<TLumenfoldSignatureItem> literal(textItem("Second"));
    QImage stamped = blank(200, 60), expected = blank(200, 60), preview = blank(200, 60);
    macro->DrawAt(stamped, second, QPoint(-1, -1), 9);
    literal->DrawAt(expected, nullptr, QPoint(-1, -1), 9);
    macro->DrawAt(preview, nullptr, QPoint(-1, -1), 9);
    QVERIFY(stamped == expected);
    QVERIFY(preview != expected);
  }

  void workersDrawLikeTheMainThread() {
    std::unique_ptr<TLumenfoldSignatureItem> text(textItem("Copyright 2026", 10));
    std::unique_ptr<TLumenfoldSignatureItem> logo(
        imageItem(solidImage("logo2.png", 12, 5, qRgb(0, 0, 200))));
    TLumenfoldSignature s;
    s.Maps.Add("t", new TLumenfoldSignatureMap(-1, 1, 0, text.get()));
    s.Maps.Add("l", new TLumenfoldSignatureMap(-1, 2, 1, logo.get()));
    s.Maps.Maps(1)->Location = 1;
    QImage expected = blank(200, 100);
    s.Draw(expected, nullptr);
    QImage results[4];
    std::vector<std::thread> threads;
    for (QImage& r : results)
      threads.emplace_back([&s, &r] {
        for (int i = 0; i < 20; ++i) {
          r = blank(200, 100);
          s.Draw(r, nullptr);
        }
      });
    for (std::thread& t : threads)
      t.join();
    for (const QImage& r : results)
      QVERIFY(r == expected);
  }
};

QTEST_MAIN(TestSignatureRender)
#include "test_signaturerender.moc"
