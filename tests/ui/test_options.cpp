// The project options dialog and the template preview.
#include "core/project.h"
#include "testenv.h"
#include "ui/common/colourscheme.h"
#include "ui/common/fittedimage.h"
#include "ui/common/uiresources.h"
#include "ui/project/frmbigtemplate.h"
#include "ui/project/frmoptions.h"
#include "ui/project/sitetemplates.h"
#include "uitesthelpers.h"
#include "util/programfolder.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QTabWidget>
#include <QTimer>
#include <QValidator>
#include <QtTest>

class TestOptions : public QObject {
  Q_OBJECT
  TestEnv env;
  QString savedFolder;

  void makeTemplate(const QString& name, bool small, bool big, const QString& readme = {}) {
    const QString dir = env.makeFolder("prog/templates/" + name);
    if (small) QVERIFY(WriteTestJpeg(dir + "/preview_small.jpg", 40, 30));
    if (big) QVERIFY(WriteTestJpeg(dir + "/preview_big.jpg", 160, 120));
    if (!readme.isEmpty()) {
      QFile f(dir + "/readme.txt");
      QVERIFY(f.open(QIODevice::WriteOnly));
      f.write(readme.toUtf8());
    }
  }

private slots:
  void initTestCase() {
    savedFolder = ProgramFolder();
    SetProgramFolder(env.makeFolder("prog"));
    makeTemplate("alpha", true, true, "Alpha site\nsecond line");
    makeTemplate("Beta", true, true);
    makeTemplate("nobig", true, false);
    QFile plain(env.path("prog/templates/plainfile"));
    QVERIFY(plain.open(QIODevice::WriteOnly));
  }
  void cleanupTestCase() { SetProgramFolder(savedFolder); }

  void colourSchemeIsAppliedKeptAndReadable() {
    // Dark is applied on OK and kept for the next start; the note colours stay readable on it
    // (navy on a dark window was not).
    TLumenfoldProject project;
    project.Reset();
    TfrmOptions d;
    d.LoadFrom(project);
    d.show();
    child<QComboBox>(&d, "cbxColourScheme")->setCurrentIndex(int(TColourScheme::Dark));
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(StoredColourScheme(), TColourScheme::Dark);
    const QPalette dark = QApplication::palette();
    QVERIFY(dark.color(QPalette::Window).lightness() < 80);
    for (bool problem : {false, true})
      QVERIFY(qAbs(NoteColour(dark, problem).lightness() - dark.color(QPalette::Base).lightness()) >
              100);
    // So do the toolbar icons drawn in the icons' dark ink.
    auto inkLightness = [](const QString& name) {
      const QImage img = UiIcon(name).pixmap(48, 48).toImage();
      int sum = 0, count = 0;
      for (int y = 0; y < img.height(); ++y)
        for (int x = 0; x < img.width(); ++x)
          if (const QColor c = img.pixelColor(x, y); c.alpha() > 200) {
            sum += c.lightness();
            ++count;
          }
      return count ? sum / count : -1;
    };
    QVERIFY(qAbs(inkLightness("options") - dark.color(QPalette::Window).lightness()) > 100);
    ApplyColourScheme(TColourScheme::Light);
    QVERIFY(QApplication::palette().color(QPalette::Window).lightness() > 180);
    QVERIFY(qAbs(inkLightness("options") -
                 QApplication::palette().color(QPalette::Window).lightness()) > 100);
    StoreColourScheme(TColourScheme::System);
  }

  void presetsAndCustomValuesOnOpening() {
    TfrmOptions d;
    QCOMPARE(d.windowTitle(), QString("Project options"));
    TLumenfoldProject p;
    p.Reset();
    p.MediumWidth = 640;
    p.MediumHeight = 480;
    p.ThumbQuality = 55;
    d.LoadFrom(p);
    d.show();
    QVERIFY(!d.Loading());
    QVERIFY(child<QRadioButton>(&d, "rbnThumb2")->isChecked()); // 200 x 150
    QCOMPARE(child<QLineEdit>(&d, "edtThumbWidth")->text(), QString());
    QCOMPARE(child<QLineEdit>(&d, "edtThumbHeight")->text(), QString());
    QVERIFY(child<QRadioButton>(&d, "rbnMedium3")->isChecked());
    QCOMPARE(child<QLineEdit>(&d, "edtMediumWidth")->text(), QString("640"));
    QCOMPARE(child<QLineEdit>(&d, "edtMediumHeight")->text(), QString("480"));
    QCOMPARE(child<QSpinBox>(&d, "edtThumbQuality")->value(), 55);
    QVERIFY(child<QRadioButton>(&d, "rbnLanczos")->isChecked());
    QVERIFY(child<QRadioButton>(&d, "rbnLowerCase")->isChecked());
    // Filling the controls wrote nothing back.
    QCOMPARE(d.Project().MediumWidth, 640);
    QCOMPARE(d.Project().ThumbQuality, 55);
    QVERIFY(!child<QLineEdit>(&d, "edtThumbWidth")->isEnabled());
    QVERIFY(child<QLineEdit>(&d, "edtMediumWidth")->isEnabled());
  }

  void customSizesFillAndIgnoreBadNumbers() {
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    d.LoadFrom(p);
    d.show();
    auto* mw = child<QLineEdit>(&d, "edtMediumWidth");
    auto* mh = child<QLineEdit>(&d, "edtMediumHeight");
    child<QRadioButton>(&d, "rbnMedium3")->click();
    QCOMPARE(mw->text(), QString("1280"));
    QCOMPARE(mh->text(), QString("1024"));
    QCOMPARE(d.Project().MediumWidth, 1280);
    QCOMPARE(d.Project().MediumHeight, 1024);

    mh->setText("700");
    QCOMPARE(d.Project().MediumHeight, 700);
    mh->clear(); // only one cleared: the copy keeps the last good size
    QCOMPARE(d.Project().MediumHeight, 700);
    mw->setText("9x");
    QCOMPARE(d.Project().MediumWidth, 1280);
    mw->clear(); // both empty: refilled
    QCOMPARE(mw->text(), QString("1280"));
    QCOMPARE(mh->text(), QString("1024"));
    QCOMPARE(d.Project().MediumHeight, 1024);
    mw->setText("-5"); // zero and negative numbers are taken
    QCOMPARE(d.Project().MediumWidth, -5);

    // Writing stops at the first bad value but keeps what came before it.
    child<QRadioButton>(&d, "rbnThumb3")->click();
    QCOMPARE(child<QLineEdit>(&d, "edtThumbWidth")->text(), QString("250"));
    QCOMPARE(d.Project().ThumbWidth, 250);
    child<QLineEdit>(&d, "edtThumbWidth")->setText("abc");
    child<QLineEdit>(&d, "edtThumbFolder")->setText("small");
    QCOMPARE(d.Project().ThumbFolder, QString("small"));
    QCOMPARE(d.Project().ThumbWidth, 250);
    child<QRadioButton>(&d, "rbnThumb1")->click();
    QCOMPARE(d.Project().ThumbWidth, 150);
    QCOMPARE(d.Project().ThumbHeight, 100);
    child<QRadioButton>(&d, "rbnMedium1")->click();
    QCOMPARE(d.Project().MediumHeight, 768);
  }

  void enableRulesKeepValues() {
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    p.ThumbWidth = p.ThumbHeight = 250;
    d.LoadFrom(p);
    d.show();
    QVERIFY(child<QRadioButton>(&d, "rbnThumb3")->isChecked());
    QCOMPARE(child<QLineEdit>(&d, "edtThumbWidth")->text(), QString("250"));
    QVERIFY(child<QLineEdit>(&d, "edtThumbWidth")->isEnabled());
    child<QCheckBox>(&d, "cbxThumb")->click();
    QVERIFY(!d.Project().ThumbEnabled);
    for (const char* name :
         {"rbnThumb1", "rbnThumb2", "rbnThumb3", "edtThumbWidth", "edtThumbHeight",
          "edtThumbFolder", "edtThumbPrefix", "edtThumbQuality"})
      QVERIFY2(!child<QWidget>(&d, name)->isEnabled(), name);
    QVERIFY(child<QCheckBox>(&d, "cbxThumb")->isEnabled());
    QCOMPARE(child<QLineEdit>(&d, "edtThumbWidth")->text(), QString("250"));
    QCOMPARE(d.Project().ThumbWidth, 250);
    QVERIFY(child<QWidget>(&d, "rbnMedium1")->isEnabled());
    QVERIFY(!child<QWidget>(&d, "edtLargeFolder")->isEnabled()); // large off by default
    child<QCheckBox>(&d, "cbxLarge")->click();
    QVERIFY(child<QWidget>(&d, "edtLargeFolder")->isEnabled());
    QVERIFY(child<QWidget>(&d, "lblLargeSize")->isEnabled());
    QVERIFY(d.Project().LargeEnabled);
  }

  // OK stays closed while the images would replace the originals; the reason names the setting.
  void okRefusesUnsafeFoldersAndPrefixes() {
    RecordingPrompt prompt;
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    d.LoadFrom(p);
    d.show();
    child<QLineEdit>(&d, "edtMediumFolder")->setText("");
    child<QLineEdit>(&d, "edtMediumPrefix")->setText("");
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    QCOMPARE(d.result(), int(QDialog::Rejected));
    QVERIFY2(prompt.errors().join(' ').contains("MediumFolder"),
             qPrintable(prompt.errors().join(' ')));
    child<QLineEdit>(&d, "edtMediumFolder")->setText("../out");
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.isVisible());
    child<QLineEdit>(&d, "edtMediumFolder")->setText("web");
    // A size box far beyond what a site shows cannot be typed.
    QLineEdit* width = child<QLineEdit>(&d, "edtMediumWidth");
    int pos = 0;
    QString huge = "65535";
    QVERIFY(width->validator()->validate(huge, pos) != QValidator::Acceptable);
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
  }

  void processPage() {
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    d.LoadFrom(p);
    d.show();
    child<QCheckBox>(&d, "cbxScale")->click();
    child<QCheckBox>(&d, "cbxUpscale")->click();
    child<QRadioButton>(&d, "rbnKeepCase")->click();
    child<QRadioButton>(&d, "rbnMitchell")->click();
    QVERIFY(d.Project().WarnUpscale);
    QVERIFY(d.Project().NeverUpscale);
    QCOMPARE(d.Project().FileNameCase, 2);
    QCOMPARE(d.Project().ResizeMethod, 4);
  }

  void templatesAreScannedAndSelected() {
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    p.SiteTemplate = "BETA";
    d.LoadFrom(p);
    d.show();
    auto* list = child<QListWidget>(&d, "lbxTemplates");
    QStringList names;
    for (int i = 0; i < list->count(); ++i)
      names << list->item(i)->text();
    names.sort();
    QCOMPARE(names, (QStringList{"Beta", "alpha"}));
    QCOMPARE(SiteTemplateList().size(), 2);
    QCOMPARE(list->selectedItems().size(), 1);
    QCOMPARE(list->selectedItems().first()->text(), QString("Beta"));
    QCOMPARE(d.Project().SiteTemplate, QString("BETA")); // not written back while filling
    QCOMPARE(child<QPlainTextEdit>(&d, "memDescription")->toPlainText(), QString("<not found>"));
    QCOMPARE(child<QLabel>(&d, "imgPreview")->pixmap().size(), QSize(40, 30));

    list->setCurrentItem(list->findItems("alpha", Qt::MatchExactly).first());
    QCOMPARE(d.Project().SiteTemplate, QString("alpha"));
    QCOMPARE(child<QPlainTextEdit>(&d, "memDescription")->toPlainText(),
             QString("Alpha site\nsecond line"));
  }

  void unknownTemplateStaysUnselected() {
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    p.SiteTemplate = "gone";
    d.LoadFrom(p);
    d.show();
    QVERIFY(child<QListWidget>(&d, "lbxTemplates")->selectedItems().isEmpty());
    QCOMPARE(child<QPlainTextEdit>(&d, "memDescription")->toPlainText(), QString());
    QVERIFY(child<QLabel>(&d, "imgPreview")->pixmap().isNull());
    QCOMPARE(d.Project().SiteTemplate, QString("gone"));
    // A double click without a selected template opens nothing.
    QTest::mouseDClick(child<QLabel>(&d, "imgPreview"), Qt::LeftButton);
    QCOMPARE(QApplication::activeModalWidget(), nullptr);
  }

  void doubleClickOpensBigPreview() {
    TfrmOptions d;
    TLumenfoldProject p;
    p.Reset();
    p.SiteTemplate = "alpha";
    d.LoadFrom(p);
    d.show();
    QString title;
    QSize picture;
    QTimer::singleShot(0, this, [&] {
      auto* big = qobject_cast<TfrmBigTemplate*>(QApplication::activeModalWidget());
      if (!big) return;
      title = big->windowTitle();
      picture = big->findChild<QWidget*>("imgBigTemplate")->property("imageSize").toSize();
      big->findChild<QPushButton*>("bbnClose")->click();
    });
    QTest::mouseDClick(child<QLabel>(&d, "imgPreview"), Qt::LeftButton);
    QCOMPARE(title, QString("Template Preview"));
    QCOMPARE(picture, QSize(160, 120));

    TfrmBigTemplate big;
    QVERIFY(!big.LoadPicture(env.path("prog/templates/nobig/preview_big.jpg")));
    QVERIFY(big.LoadPicture(env.path("prog/templates/alpha/preview_big.jpg")));
  }

  void fittedImagePlacement() {
    // Top-left for the big preview, centred for the album face.
    QCOMPARE(TFittedImage::FittedRect({160, 120}, {0, 0, 140, 140}, false), QRect(0, 0, 140, 105));
    QCOMPARE(TFittedImage::FittedRect({160, 120}, {0, 0, 140, 140}, true), QRect(0, 17, 140, 105));
    QCOMPARE(TFittedImage::FittedRect({40, 30}, {0, 0, 80, 200}, false), QRect(0, 0, 80, 60));
    QVERIFY(TFittedImage::FittedRect({0, 0}, {0, 0, 80, 200}, false).isEmpty());

    TFittedImage w;
    w.resize(80, 200);
    w.setAutoFillBackground(true);
    QPalette pal = w.palette();
    pal.setColor(QPalette::Window, Qt::white);
    w.setPalette(pal);
    w.SetImage(MakeTestImage(40, 30));
    const QImage shot = w.grab().toImage();
    QCOMPARE(QColor(shot.pixel(5, 5)), QColor(255, 0, 0));     // red top-left quadrant
    QCOMPARE(QColor(shot.pixel(75, 55)), QColor(255, 255, 0)); // yellow bottom-right
    QCOMPARE(QColor(shot.pixel(40, 150)), QColor(Qt::white));  // nothing below the picture
  }

  void editRoundTripOkAndCancel() {
    TLumenfoldProject p;
    p.Reset();
    p.ZipFileName = "/site/albums.zip";
    p.ThumbFolder = "thumbs";

    QTimer::singleShot(0, this, [] {
      auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
      QVERIFY(d);
      child<QLineEdit>(d, "edtThumbFolder")->setText("changed");
      child<QPushButton>(d, "bbnCancel")->click();
    });
    QVERIFY(!TfrmOptions::Edit(nullptr, p, true));
    QCOMPARE(p.ThumbFolder, QString("thumbs"));

    QTimer::singleShot(0, this, [] {
      auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
      QVERIFY(d);
      QCOMPARE(child<QTabWidget>(d, "pgcOptions")->currentWidget()->objectName(),
               QString("tabImages"));
      QCOMPARE(child<QLineEdit>(d, "edtZip")->text(), QString("/site/albums.zip"));
      child<QLineEdit>(d, "edtThumbFolder")->setText("changed");
      child<QPushButton>(d, "bbnOk")->click();
    });
    QVERIFY(TfrmOptions::Edit(nullptr, p, true));
    QCOMPARE(p.ThumbFolder, QString("changed"));
    QCOMPARE(p.ZipFileName, QString("/site/albums.zip"));

    QTimer::singleShot(0, this, [] {
      auto* d = qobject_cast<TfrmOptions*>(QApplication::activeModalWidget());
      QVERIFY(d);
      QCOMPARE(child<QTabWidget>(d, "pgcOptions")->currentWidget()->objectName(),
               QString("tabTemplates"));
      child<QLineEdit>(d, "edtZip")->setText("/other/site.zip");
      child<QPushButton>(d, "bbnOk")->click();
    });
    QVERIFY(TfrmOptions::Edit(nullptr, p, false));
    QCOMPARE(p.ZipFileName, QString("/other/site.zip"));
  }

  void callerUsingAssignKeepsItsZipName() {
    // A caller that copies with Assign only does not lose its zip file name through the
    // (then empty) zip field.
    TLumenfoldProject p;
    p.Reset();
    p.ZipFileName = "/keep.zip";
    TfrmOptions d;
    d.Project().Assign(p);
    d.show();
    child<QLineEdit>(&d, "edtLargePrefix")->setText("big_");
    d.StoreTo(p);
    QCOMPARE(p.ZipFileName, QString("/keep.zip"));
    QCOMPARE(p.LargePrefix, QString("big_"));
  }
};

QTEST_MAIN(TestOptions)
#include "test_options.moc"
