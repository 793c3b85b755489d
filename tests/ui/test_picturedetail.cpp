// The picture properties dialog: crop rubber band and its rules, turns with a crop, missing and
// undecodable originals, fit and scale modes with the scale question, the display refinement,
// filled-in facts and moving through the pictures of an album.
#include "modalhandler.h"
#include "testenv.h"
#include "uitesthelpers.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "ui/picture/cropimage.h"
#include "ui/picture/frmpicturedetail.h"
#include "ui/picture/frmscale.h"
#include "ui/category/frmselectcategory.h"
#include "util/imaging/resample.h"

#include <QCheckBox>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMouseEvent>
#include <QPushButton>
#include <QScrollArea>
#include <QToolButton>
#include <QtTest>

class TestPictureDetail : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  TLumenfoldProject project;
  TLumenfoldAlbum* album = nullptr;

  TLumenfoldPicture* addPicture(const QString& name, int width, int height) {
    if (width > 0 && !WriteTestJpeg(album->Path + "/" + name, width, height)) return nullptr;
    auto* p = new TLumenfoldPicture(album);
    p->OriginalFileName = name;
    album->Pictures.Add(name, p);
    return p;
  }

  static void drag(TCropImage* image, QPointF from, QPointF to,
                   Qt::KeyboardModifiers keys = Qt::NoModifier) {
    const QPointF a = image->ToControl(from), b = image->ToControl(to);
    QMouseEvent press(QEvent::MouseButtonPress, a, image->mapToGlobal(a), Qt::LeftButton,
                      Qt::LeftButton, keys);
    QApplication::sendEvent(image, &press);
    QMouseEvent move(QEvent::MouseMove, b, image->mapToGlobal(b), Qt::NoButton, Qt::LeftButton,
                     keys);
    QApplication::sendEvent(image, &move);
    QVERIFY(image->Dragging());
    QCOMPARE(image->Filter(), int(rfNearest));
    QMouseEvent release(QEvent::MouseButtonRelease, b, image->mapToGlobal(b), Qt::LeftButton,
                        Qt::NoButton, keys);
    QApplication::sendEvent(image, &release);
  }

private slots:
  void initTestCase() {
    QVERIFY(!env.useNewDatabase().isEmpty());
    project.Reset();
    project.ResizeMethod = rfMitchell;
    album = new TLumenfoldAlbum(&project);
    album->Path = env.makeFolder("album");
    project.Albums.Add("a", album);
    auto* c = new TLumenfoldCategory;
    c->Title = "Lakes";
    QVERIFY(c->Insert());
    project.Categories.Add(c->Title, c);
  }

  void cropRectangleFollowsTheRules() {
    TLumenfoldPicture* real = addPicture("crop.jpg", 1000, 800);
    TfrmPictureDetail d;
    d.SetProject(&project);
    d.SetPictures({real}, 0);
    d.show();
    auto* image = child<TCropImage>(&d, "imgFull");
    QTRY_COMPARE(image->FullSize(), QSize(1000, 800));
    auto* crop = child<QCheckBox>(&d, "cbxCrop");
    auto* text = child<QLabel>(&d, "lblCrop");
    QVERIFY(!crop->isChecked());
    QVERIFY(text->isHidden());

    crop->click();
    QCOMPARE(d.Copy().CropRect, (TCropRect{100, 80, 900, 720}));
    QCOMPARE(text->text(), QString("(100, 80) - (900, 720). new size: 800 x 640"));
    QVERIFY(text->isVisible());

    // Dragging the left edge beyond the right one leaves one pixel, inside the picture.
    drag(image, QPointF(100, 400), QPointF(2000, 400));
    QCOMPARE(d.Copy().CropRect, (TCropRect{999, 80, 1000, 720}));
    QVERIFY(!image->Dragging());
    // The project's filter comes back once the drag has rested.
    QTRY_COMPARE_WITH_TIMEOUT(image->Filter(), int(rfMitchell), 5000);
    // Ticking again starts from the default rectangle; moving it stops at the picture's edges.
    crop->click();
    crop->click();
    QCOMPARE(d.Copy().CropRect, (TCropRect{100, 80, 900, 720}));
    drag(image, QPointF(500, 400), QPointF(-1000, -1000));
    QCOMPARE(d.Copy().CropRect, (TCropRect{0, 0, 800, 640}));

    crop->click();
    QCOMPARE(d.Copy().CropRect, TCropRect());
    QVERIFY(text->isHidden());

    // The rule on its own, and stored crops that reach outside the picture.
    QCOMPARE(TCropImage::CorrectCrop(QRectF(QPointF(-5, -5), QPointF(0, 0)), QSize(10, 10)),
             QRectF(QPointF(0, 0), QPointF(1, 1)));
    QCOMPARE(
        TCropImage::CropInside(QRectF(QPointF(900, 700), QPointF(5000, 100)), QSize(1000, 800)),
        QRectF(QPointF(900, 100), QPointF(1000, 700)));
    QCOMPARE(
        TCropImage::CropInside(QRectF(QPointF(2000, 2000), QPointF(3000, 3000)), QSize(1000, 800)),
        QRectF(QPointF(100, 80), QPointF(900, 720)));
    QCOMPARE(TfrmPictureDetail::CropText(QRectF(QPointF(0.5, 1.5), QPointF(2.5, 3.5))),
             QString("(0, 2) - (2, 4). new size: 2 x 2"));
  }

  // With Ctrl held a dragged corner resizes about the centre; where one side would leave the
  // picture, both stop at the same distance from the centre. A moved crop stops at the right
  // and bottom edges and keeps its size.
  void cropDragsStayInsideThePicture() {
    TLumenfoldPicture* real = addPicture("centred.jpg", 1000, 800);
    TfrmPictureDetail d;
    d.SetProject(&project);
    d.SetPictures({real}, 0);
    d.show();
    auto* image = child<TCropImage>(&d, "imgFull");
    QTRY_COMPARE(image->FullSize(), QSize(1000, 800));
    child<QCheckBox>(&d, "cbxCrop")->click();
    QCOMPARE(d.Copy().CropRect, (TCropRect{100, 80, 900, 720}));
    drag(image, QPointF(500, 400), QPointF(3000, 3000));
    QCOMPARE(d.Copy().CropRect, (TCropRect{200, 160, 1000, 800}));
    drag(image, QPointF(600, 480), QPointF(500, 400));
    QCOMPARE(d.Copy().CropRect, (TCropRect{100, 80, 900, 720}));
    drag(image, QPointF(900, 720), QPointF(800, 650), Qt::ControlModifier);
    QCOMPARE(d.Copy().CropRect, (TCropRect{200, 150, 800, 650}));
    drag(image, QPointF(200, 150), QPointF(-50, 100), Qt::ControlModifier);
    QCOMPARE(d.Copy().CropRect, (TCropRect{0, 100, 1000, 700}));
  }

  void turningKeepsTheCropTurnedWithThePicture() {
    TLumenfoldPicture* real = addPicture("turn.jpg", 1000, 800);
    real->CropRect = {100, 80, 600, 400};
    TfrmPictureDetail d;
    d.SetProject(&project);
    d.SetPictures({real}, 0);
    d.show();
    auto* image = child<TCropImage>(&d, "imgFull");
    QTRY_VERIFY(child<QCheckBox>(&d, "cbxCrop")->isChecked());
    child<QToolButton>(&d, "bbnCW")->click();
    QCOMPARE(d.Copy().Orientation, 2);
    QCOMPARE(image->FullSize(), QSize(800, 1000));
    QCOMPARE(d.Copy().CropRect, (TCropRect{400, 100, 720, 600}));
    QCOMPARE(image->Crop(), QRectF(QPointF(400, 100), QPointF(720, 600)));
    child<QToolButton>(&d, "bbnFlip")->click();
    QCOMPARE(d.Copy().CropRect, (TCropRect{80, 100, 400, 600}));
    QCOMPARE(child<QLabel>(&d, "lblCrop")->text(),
             QString("(80, 100) - (400, 600). new size: 320 x 500"));
    // The unchanged real picture: turns live in the copy only.
    QCOMPARE(real->Orientation, 1);
  }

  void missingAndUndecodableOriginalsCannotGetAnEmptyCrop() {
    TLumenfoldPicture* missing = addPicture("missing.jpg", 0, 0);
    TLumenfoldPicture* broken = addPicture("broken.jpg", 0, 0);
    QFile file(album->Path + "/broken.jpg");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write("this is no picture");
    file.close();
    for (TLumenfoldPicture* p : {missing, broken}) {
      TfrmPictureDetail d;
      d.SetProject(&project);
      d.SetPictures({p}, 0);
      d.show();
      auto* crop = child<QCheckBox>(&d, "cbxCrop");
      QTRY_VERIFY(!crop->isEnabled());
      crop->click();
      QCOMPARE(d.Copy().CropRect, TCropRect());
      QVERIFY(child<QLabel>(&d, "lblOriginalFilename")->styleSheet().contains("maroon"));
      QVERIFY(!child<QLabel>(&d, "lblOriginalFilename")->toolTip().isEmpty());
      // Unknown dimensions stay unknown rather than becoming 0 x 0.
      QCOMPARE(d.Copy().OriginalWidth, -1);
      if (p == missing)
        QCOMPARE(child<QLabel>(&d, "lblOriginalSize")->text(), QString("-1"));
      else
        QCOMPARE(d.Copy().OriginalSize, 18);
      child<QToolButton>(&d, "bbnCW")->click(); // turning without pixels is harmless
      QCOMPARE(d.Copy().Orientation, 2);
    }
  }

  void scaleModeRefusesBadScalesAndAsksBeforeMagnifying() {
    TLumenfoldPicture* real = addPicture("big.jpg", 4000, 3000);
    TfrmPictureDetail d;
    d.SetProject(&project);
    d.SetPictures({real}, 0);
    d.show();
    auto* image = child<TCropImage>(&d, "imgFull");
    QTRY_COMPARE(image->FullSize(), QSize(4000, 3000));
    // Fit mode decodes only what covers the screen.
    QVERIFY(image->Pixels().width() < 4000);
    auto* use = child<QCheckBox>(&d, "cbxUseScale");
    auto* edit = child<QLineEdit>(&d, "edtScale");
    auto* apply = child<QPushButton>(&d, "bbnApply");
    QVERIFY(!apply->isEnabled());

    edit->setText("0.5");
    use->click();
    QVERIFY(apply->isEnabled());
    QVERIFY(image->ScaleMode());
    QCOMPARE(image->Scale(), 0.5);
    QCOMPARE(image->size(), QSize(2000, 1500));
    QCOMPARE(image->Pixels().width(), 4000); // finer than the reduced decode: whole picture

    for (const char* bad : {"0", "-2", "4"}) { // 4 would need 192 megapixels
      TBoxAnswerer box(QMessageBox::Ok);
      edit->setText(bad);
      apply->click();
      QCOMPARE(box.texts.size(), 1);
      QCOMPARE(image->Scale(), 0.5);
      QCOMPARE(edit->text(), QLocale().toString(0.5, 'g', 6));
    }
    // Not a number: scale 1 without a message.
    edit->setText("abc");
    apply->click();
    QCOMPARE(image->Scale(), 1.0);

    {
      TModalHandler<TfrmScale> no([](TfrmScale* q) { child<QPushButton>(q, "bbnNo")->click(); });
      edit->setText("2");
      apply->click();
      QVERIFY(no.done);
      QCOMPARE(edit->text(), QString("1.0"));
      QCOMPARE(image->Scale(), 1.0);
    }
    {
      TModalHandler<TfrmScale> yes([](TfrmScale* q) {
        child<QCheckBox>(q, "cbxDontShow")->setChecked(true);
        child<QPushButton>(q, "bbnYes")->click();
      });
      edit->setText("1.5");
      apply->click();
      QVERIFY(yes.done);
      QCOMPARE(image->Scale(), 1.5);
    }
    TModalHandler<TfrmScale> never([](TfrmScale* q) { q->reject(); });
    edit->setText("2");
    apply->click();
    QVERIFY(!never.done);
    QCOMPARE(image->Scale(), 2.0);

    use->click();
    QVERIFY(!image->ScaleMode());
    QVERIFY(!apply->isEnabled());
  }

  void factsAreFilledInAndEditsReachTheCopyOnly() {
    TLumenfoldPicture* real = addPicture("facts.jpg", 320, 200);
    TfrmPictureDetail d;
    d.SetProject(&project);
    d.SetPictures({real}, 0);
    d.show();
    QTRY_COMPARE(d.Copy().OriginalSize, int(QFileInfo(album->Path + "/facts.jpg").size()));
    QCOMPARE(d.Copy().OriginalWidth, 320);
    QCOMPARE(d.Copy().OriginalHash.size(), 8);
    QCOMPARE(child<QLabel>(&d, "lblOriginalResolution")->text(), QString("320 x 200"));
    child<QLineEdit>(&d, "edtTitle")->setText("Harbour");
    child<QLineEdit>(&d, "edtTitle2")->setText("Hafen");
    child<QToolButton>(&d, "bbnPrivate")->click();
    child<QToolButton>(&d, "bbnMakeFace")->click();
    QCOMPARE(d.Copy().Title2, QString("Hafen"));
    QVERIFY(d.Copy().IsPrivate && d.Copy().IsFace);
    QVERIFY(child<QToolButton>(&d, "bbnPrivate")->isChecked());
    d.reject();
    QVERIFY(real->Title.isEmpty() && !real->IsPrivate && !real->IsFace);

    // The category chooser works on the copy; its titles show in the label.
    TfrmPictureDetail e;
    e.SetProject(&project);
    e.SetPictures({real}, 0);
    e.show();
    TModalHandler<TfrmSelectCategory> choose([](TfrmSelectCategory* c) {
      child<QListWidget>(c, "lbxCategories")->item(0)->setCheckState(Qt::Checked);
      child<QPushButton>(c, "bbnOk")->click();
    });
    child<QToolButton>(&e, "bbnCategory")->click();
    QVERIFY(choose.done);
    QCOMPARE(child<QLabel>(&e, "lblCategories")->text(), QString("Lakes"));
    QVERIFY(child<QToolButton>(&e, "bbnCategory")->isChecked());
    QVERIFY(real->CategoryIds.isEmpty());
  }

  void pageKeysMoveThroughThePicturesKeepingEdits() {
    TLumenfoldPicture* first = addPicture("n1.jpg", 200, 100);
    TLumenfoldPicture* second = addPicture("n2.jpg", 100, 200);
    second->OriginalSize = int(QFileInfo(album->Path + "/n2.jpg").size()); // nothing to fill in
    TfrmPictureDetail d;
    d.SetProject(&project);
    d.SetPictures({first, second}, 0);
    QList<TLumenfoldPicture*> applied;
    connect(&d, &TfrmPictureDetail::pictureApplied, this,
            [&](TLumenfoldPicture* p) { applied << p; });
    d.show();
    d.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    auto* previous = child<QPushButton>(&d, "bbnPrevious");
    auto* next = child<QPushButton>(&d, "bbnNext");
    QVERIFY(!previous->isEnabled() && next->isEnabled());
    child<QLineEdit>(&d, "edtTitle")->setText("First");
    QTest::keyClick(&d, Qt::Key_PageDown);
    QCOMPARE(d.RealPicture(), second);
    QCOMPARE(first->Title, QString("First"));
    QVERIFY(first->Dirty && first->Modified);
    QCOMPARE(applied, QList<TLumenfoldPicture*>{first});
    QCOMPARE(child<QLineEdit>(&d, "edtTitle")->text(), QString());
    QCOMPARE(child<TCropImage>(&d, "imgFull")->FullSize(), QSize(100, 200));
    QVERIFY(previous->isEnabled() && !next->isEnabled());
    QTest::keyClick(&d, Qt::Key_PageDown); // nothing after the last picture
    QCOMPARE(d.RealPicture(), second);
    // Leaving an unchanged picture copies nothing back.
    previous->click();
    QCOMPARE(d.RealPicture(), first);
    QVERIFY(!second->Dirty);
    QCOMPARE(applied.size(), 1);
    QCOMPARE(child<QLineEdit>(&d, "edtTitle")->text(), QString("First"));
  }
};

QTEST_MAIN(TestPictureDetail)
#include "test_picturedetail.moc"
