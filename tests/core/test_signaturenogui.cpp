// Drawing signatures in a program without a graphical application (no fonts available).
#include "core/signature.h"
#include "testenv.h"

#include <QtTest>

class TestSignatureNoGui : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void textIsLeftOutImagesAreDrawn() {
    QImage logo(3, 2, QImage::Format_RGB32);
    logo.fill(qRgb(0, 128, 0));
    QVERIFY(logo.save(env.path("logo.png"), "PNG"));
    TLumenfoldSignatureItem text, image;
    image.SetImageName(env.path("logo.png"));
    TLumenfoldSignature s;
    s.Maps.Add("text", new TLumenfoldSignatureMap(-1, 1, 0, &text));
    s.Maps.Add("image", new TLumenfoldSignatureMap(-1, 2, 1, &image));
    QImage bitmap(40, 20, QImage::Format_RGB32);
    bitmap.fill(qRgb(255, 255, 255));
    s.Draw(bitmap, nullptr);
    QCOMPARE(bitmap.pixel(40 - 3 - 1, 20 - 2 - 1), qRgb(0, 128, 0));
    QCOMPARE(bitmap.pixel(5, 5), qRgb(255, 255, 255));
  }
};

QTEST_GUILESS_MAIN(TestSignatureNoGui)
#include "test_signaturenogui.moc"
