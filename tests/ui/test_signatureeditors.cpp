// The signature item editor, the signature editor (placements, order, write-back, items deleted
// while it is open) and the signature chooser with pictures of different signatures.
#include "modalhandler.h"
#include "testenv.h"
#include "uitesthelpers.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/signature/frmsignatureitems.h"
#include "ui/signature/frmsignatures.h"

#include <QComboBox>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>
#include <QSpinBox>
#include <QtTest>

class TestSignatureEditors : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  static TLumenfoldSignatureItem* addItem(TLumenfoldProject& project, const QString& name) {
    auto* item = new TLumenfoldSignatureItem(name);
    if (!item->Insert()) qFatal("item insert failed");
    project.SignatureItems.Add(name, item);
    return item;
  }
  static TLumenfoldSignature* addSignature(TLumenfoldProject& project, const QString& name,
                                           TLumenfoldSignatureItem* item) {
    auto* s = new TLumenfoldSignature(name, &project.SignatureItems);
    if (item) s->Maps.Add(item->Name, new TLumenfoldSignatureMap(-1, item->Id, 0, item));
    if (!s->Insert()) qFatal("signature insert failed");
    project.Signatures.Add(name, s);
    return s;
  }
  static int rows(const QString& sql) {
    TQuery q;
    if (OpenQuery(CurrentConnectionString(), sql, q) != 0) return -1;
    const int n = q->FirstAsInteger();
    CloseQuery(q);
    return n;
  }
  static int darkPixels(const QImage& image) {
    int n = 0;
    for (int y = 2; y < image.height() - 2; ++y)
      for (int x = 2; x < image.width() - 2; ++x)
        if (qGray(image.pixel(x, y)) < 100) ++n;
    return n;
  }

private slots:
  void init() { QVERIFY(!env.useNewDatabase().isEmpty()); }

  void itemEditorEditsKindsMacrosFontsAndWritesBack() {
    TLumenfoldProject project;
    TLumenfoldSignatureItem* used = addItem(project, "Used");
    addSignature(project, "Sig", used);
    TfrmSignatureItems d;
    d.SetProject(&project);
    d.show();
    {
      TBoxAnswerer box(QMessageBox::Ok);
      child<QPushButton>(&d, "bbnDeleteItem")->click();
      QCOMPARE(box.texts,
               QStringList{"Some of the Signatures use this Signature item. Delete the signature "
                           "first"});
    }
    QCOMPARE(d.Copy().Count(), 1);
    child<QPushButton>(&d, "bbnAddItem")->click();
    child<QPushButton>(&d, "bbnAddItem")->click();
    auto* caption = child<QLineEdit>(&d, "edtText");
    QCOMPARE(caption->text(), QString("@ lumenfold"));
    QCOMPARE(child<QLineEdit>(&d, "edtFont")->text(), QString("Tahoma; 8; clBlack; fsBold"));
    QVERIFY(darkPixels(d.Preview()) > 0);
    // The macro menu appends at the end whatever the caret says; the preview shows it literally.
    caption->setCursorPosition(0);
    QCOMPARE(d.MacroMenu()->actions().size(), 17);
    d.MacroMenu()->actions()[9]->trigger();
    QCOMPARE(caption->text(), QString("@ lumenfold%PICTURE_TITLE%"));
    QCOMPARE(d.Copy().Items(2)->Caption(), QString("@ lumenfold%PICTURE_TITLE%"));
    QFont font("DejaVu Sans", 12);
    font.setItalic(true);
    d.SetItemFont(font, 0x0000FF);
    QCOMPARE(child<QLineEdit>(&d, "edtFont")->text(), QString("DejaVu Sans; 12; clRed; ,fsItalic"));
    QCOMPARE(d.Copy().Items(2)->FontColor, 0x0000FF);
    // Switching kinds empties the other kind's field in the item.
    child<QRadioButton>(&d, "rbnImage")->click();
    QVERIFY(d.Copy().Items(2)->Caption().isEmpty());
    QVERIFY(child<QComboBox>(&d, "cmbTransparentItem")->isEnabled());
    QVERIFY(!caption->isEnabled());
    child<QLineEdit>(&d, "edtImageItem")->setText("/no/such/image.png");
    child<QComboBox>(&d, "cmbTransparentItem")->setCurrentText("clLime");
    QCOMPARE(d.Copy().Items(2)->ImageTransparent, 0x00FF00);
    child<QRadioButton>(&d, "rbnText")->click();
    QVERIFY(d.Copy().Items(2)->ImageName().isEmpty());
    child<QLineEdit>(&d, "edtItemName")->setText("Second new");
    QCOMPARE(child<QListWidget>(&d, "lbxSignatureItems")->item(2)->text(), QString("Second new"));
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(project.SignatureItems.Count(), 3);
    QCOMPARE(project.SignatureItems.Items(1)->Id, 2);
    QCOMPARE(project.SignatureItems.Items(2)->Id, 3);
    QCOMPARE(rows("SELECT COUNT(*) FROM signature_item"), 3);
  }

  void signatureEditorPlacesMovesAndWritesPlacements() {
    TLumenfoldProject project;
    TLumenfoldSignatureItem* a = addItem(project, "A");
    addItem(project, "B");
    TfrmSignatures d;
    d.SetProject(&project);
    d.show();
    auto* add = child<QPushButton>(&d, "bbnAdd");
    QVERIFY(add->isEnabled());
    add->click();
    auto* all = child<QListWidget>(&d, "lbxAllItems");
    auto* selected = child<QListWidget>(&d, "lbxSelected");
    child<QPushButton>(&d, "bbnSelect")->click(); // A twice
    child<QPushButton>(&d, "bbnSelect")->click();
    all->setCurrentRow(1);
    child<QPushButton>(&d, "bbnSelect")->click(); // then B
    QCOMPARE(selected->count(), 3);
    TLumenfoldSignature* s = d.Copy().Signatures(0);
    QCOMPARE(s->Maps.Maps(1)->Location, 9);
    QCOMPARE(s->Maps.Maps(1)->Offset, QPoint(-1, -1));
    QCOMPARE(s->Maps.Maps(0)->Item, a);
    QCOMPARE(selected->currentRow(), 0);
    child<QSpinBox>(&d, "edtOffsetX")->setValue(12);
    child<QComboBox>(&d, "cmbLocation")->setCurrentIndex(1);
    QVERIFY(darkPixels(d.Preview()) > 0);
    child<QPushButton>(&d, "bbnDown")->click();
    QCOMPARE(selected->currentRow(), 1);
    QCOMPARE(s->Maps.Maps(1)->Offset, QPoint(12, -1));
    QCOMPARE(s->Maps.Maps(1)->Order, 1);
    QCOMPARE(s->Maps.Maps(0)->Order, 0);
    selected->setCurrentRow(2);
    QVERIFY(!child<QPushButton>(&d, "bbnDown")->isEnabled());
    child<QLineEdit>(&d, "edtName")->setText("Corner");
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(project.Signatures.Count(), 1);
    QCOMPARE(project.Signatures.Strings(0), QString("Corner"));
    QCOMPARE(rows("SELECT COUNT(*) FROM signature_map"), 3);
    QCOMPARE(rows("SELECT COUNT(*) FROM signature_map WHERE offset_x=12 AND location=1"), 1);

    // A project without items: no Add, but names can still change.
    TLumenfoldProject bare;
    TfrmSignatures e;
    e.SetProject(&bare);
    e.show();
    QVERIFY(!child<QPushButton>(&e, "bbnAdd")->isEnabled());
  }

  void itemDeletedWhileTheWorkingCopyPlacesItLeavesNoDanglingPlacement() {
    TLumenfoldProject project;
    addItem(project, "Kept");
    addItem(project, "Doomed");
    addSignature(project, "Saved", project.SignatureItems.Items(0));
    TfrmSignatures d;
    d.SetProject(&project);
    d.show();
    child<QListWidget>(&d, "lbxAllItems")->setCurrentRow(1);
    child<QPushButton>(&d, "bbnSelect")->click(); // only the working copy places "Doomed"
    QCOMPARE(d.Copy().Signatures(0)->Maps.Count(), 2);
    d.SetItemEditorHook([](TfrmSignatureItems& items) {
      // Scheduled for when the editor runs modally.
      QTimer::singleShot(0, &items, [&items] {
        child<QListWidget>(&items, "lbxSignatureItems")->setCurrentRow(1);
        child<QPushButton>(&items, "bbnDeleteItem")->click(); // not refused: not saved yet
        child<QPushButton>(&items, "bbnOk")->click();
      });
    });
    child<QPushButton>(&d, "bbnSignatureItems")->click();
    QCOMPARE(project.SignatureItems.Count(), 1);
    const TLumenfoldSignature* s = d.Copy().Signatures(0);
    QCOMPARE(s->Maps.Count(), 1);
    QCOMPARE(s->Maps.Maps(0)->Item, project.SignatureItems.Items(0));
    QCOMPARE(child<QListWidget>(&d, "lbxSelected")->count(), 1);
    QCOMPARE(child<QListWidget>(&d, "lbxAllItems")->count(), 1);
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(rows("SELECT COUNT(*) FROM signature_map"), 1);
  }

  void chooserKeepsEachPicturesSignatureUnlessChanged() {
    TLumenfoldProject project;
    TLumenfoldSignatureItem* item = addItem(project, "Text");
    TLumenfoldSignature* s1 = addSignature(project, "One", item);
    TLumenfoldSignature* s2 = addSignature(project, "Two", item);
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    auto* p1 = new TLumenfoldPicture(album);
    auto* p2 = new TLumenfoldPicture(album);
    album->Pictures.Add("1", p1);
    album->Pictures.Add("2", p2);
    p1->ThumbSignatureId = s1->Id;
    p2->ThumbSignatureId = s2->Id;
    p1->MediumSignatureId = p2->MediumSignatureId = s1->Id;

    TfrmSelectSignature d;
    d.SetProject(&project);
    d.AddPicture(p1);
    d.AddPicture(p2);
    d.show();
    auto* thumbs = child<QListWidget>(&d, "lbxThumbSign");
    auto* mediums = child<QListWidget>(&d, "lbxMediumSign");
    QCOMPARE(thumbs->currentItem()->text(), QString(TfrmSelectSignature::kKeepEachText));
    QCOMPARE(mediums->currentItem()->text(), QString("One"));
    QCOMPARE(mediums->item(0)->text(), QString("<no signature>"));
    QCOMPARE(d.ThumbChoice(), int(TfrmSelectSignature::kKeepEach));

    // Coming back from the signature editor keeps the choices.
    mediums->setCurrentRow(2); // "Two"
    d.SetEditorHook([](TfrmSignatures& e) { QTimer::singleShot(0, &e, [&e] { e.accept(); }); });
    child<QPushButton>(&d, "bbnSignature")->click();
    QCOMPARE(d.MediumChoice(), s2->Id);
    QCOMPARE(d.ThumbChoice(), int(TfrmSelectSignature::kKeepEach));
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(p1->ThumbSignatureId, s1->Id);
    QCOMPARE(p2->ThumbSignatureId, s2->Id);
    QCOMPARE(p1->MediumSignatureId, s2->Id);
    QCOMPARE(p2->MediumSignatureId, s2->Id);
    QVERIFY(p1->Modified && p1->Dirty);

    // Choosing what a picture has already changes nothing.
    p1->Modified = p1->Dirty = false;
    TfrmSelectSignature same;
    same.SetProject(&project);
    same.AddPicture(p1);
    same.show();
    QCOMPARE(same.ThumbChoice(), s1->Id);
    child<QPushButton>(&same, "bbnOk")->click();
    QVERIFY(!p1->Modified && !p1->Dirty);
  }
};

QTEST_MAIN(TestSignatureEditors)
#include "test_signatureeditors.moc"
