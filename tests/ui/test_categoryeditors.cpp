// The category editor (title check, delete question with the pictures that lose the category,
// write-back) and the three-state category chooser.
#include "modalhandler.h"
#include "testenv.h"
#include "uitesthelpers.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "ui/category/frmcategorydetail.h"
#include "ui/category/frmselectcategory.h"

#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QtTest>

class TestCategoryEditors : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  static void addCategory(TLumenfoldProject& project, const QString& title) {
    auto* c = new TLumenfoldCategory;
    c->Title = title;
    QVERIFY(c->Insert());
    project.Categories.Add(title, c);
  }
  static TLumenfoldPicture* addPicture(TLumenfoldAlbum* album, int id, QStringList categories) {
    auto* p = new TLumenfoldPicture(album);
    p->Id = id;
    p->CategoryIds = categories;
    album->Pictures.Add(QString::number(id), p);
    return p;
  }

private slots:
  void init() { QVERIFY(!env.useNewDatabase().isEmpty()); }

  void titleCheckGuardsAddAndOk() {
    TLumenfoldProject project;
    TfrmCategoryDetail d;
    d.SetProject(&project);
    d.show();
    auto* list = child<QListWidget>(&d, "lbxCategories");
    auto* title = child<QLineEdit>(&d, "edtTitle");
    QVERIFY(!child<QPushButton>(&d, "bbnDelete")->isEnabled());
    child<QPushButton>(&d, "bbnAdd")->click(); // an empty list needs no check
    QCOMPARE(list->count(), 1);
    QCOMPARE(title->text(), QString("<title>"));
    QCOMPARE(child<QLabel>(&d, "lblCount")->text(), QString("Category contains 0 pictures."));
    // The default title waits selected: typing replaces it.
    d.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&d));
    QTRY_COMPARE(title->selectedText(), QString("<title>"));
    QTest::keyClicks(title, "Leaves");
    QCOMPARE(title->text(), QString("Leaves"));
    title->setText("  ");
    {
      TBoxAnswerer box(QMessageBox::Ok);
      child<QPushButton>(&d, "bbnAdd")->click();
      child<QPushButton>(&d, "bbnOk")->click();
      QCOMPARE(box.texts, QStringList(2, "Primary title of a category cannot be empty."));
    }
    QCOMPARE(list->count(), 1);
    QVERIFY(d.isVisible());
    title->setText("Harbours");
    QCOMPARE(list->item(0)->text(), QString("Harbours"));
    child<QPushButton>(&d, "bbnAdd")->click();
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(d.result(), int(QDialog::Accepted));
    QCOMPARE(project.Categories.Count(), 2);
    QCOMPARE(project.Categories.Categories(0)->Id, 1);
    QCOMPARE(project.Categories.Categories(1)->Id, 2);
    QCOMPARE(project.Categories.Categories(0)->Title, QString("Harbours"));
    QVERIFY(!d.Deleted());
  }

  void deletingAsksWithTheNumberOfPicturesAndRemovesEveryLink() {
    TLumenfoldProject project;
    addCategory(project, "Alps");  // 1
    addCategory(project, "Birds"); // 2
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    TLumenfoldPicture* loaded = addPicture(album, 10, {"1", "2"});
    ExecSQL(CurrentConnectionString(), FormatSql(SQL_LINK_INSERT, {SqlInt(77), SqlInt(1)}));

    TfrmCategoryDetail d;
    d.SetProject(&project);
    d.show();
    auto* list = child<QListWidget>(&d, "lbxCategories");
    QCOMPARE(list->currentRow(), 0);
    {
      TBoxAnswerer no(QMessageBox::No);
      child<QPushButton>(&d, "bbnDelete")->click();
      QCOMPARE(no.texts.size(), 1);
      QVERIFY(no.texts[0].contains("\"Alps\""));
      QVERIFY(no.texts[0].contains("2 pictures will lose it."));
    }
    QCOMPARE(list->count(), 2);
    {
      TBoxAnswerer yes(QMessageBox::Yes);
      child<QPushButton>(&d, "bbnDelete")->click();
      QCOMPARE(yes.texts.size(), 1);
    }
    QCOMPARE(list->count(), 1);
    QCOMPARE(project.Categories.Count(), 2); // nothing written before OK
    child<QPushButton>(&d, "bbnOk")->click();
    QVERIFY(d.Deleted());
    QCOMPARE(project.Categories.Count(), 1);
    QCOMPARE(loaded->CategoryIds, QStringList{"2"});
    TQuery q;
    QCOMPARE(OpenQuery(CurrentConnectionString(),
                       "SELECT COUNT(*) FROM picture_to_category WHERE category_id=1", q),
             0);
    QCOMPARE(q->FirstAsInteger(), 0);
    CloseQuery(q);
  }

  void chooserShowsThreeStatesAndChangesOnlyWhatWasChosen() {
    TLumenfoldProject project;
    addCategory(project, "Alps");  // 1
    addCategory(project, "Birds"); // 2
    addCategory(project, "Cows");  // 3
    project.Categories.Categories(0)->PictureCount = 12;
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    TLumenfoldPicture* p1 = addPicture(album, 1, {"1", "2"});
    TLumenfoldPicture* p2 = addPicture(album, 2, {"1"});
    TLumenfoldPicture* p3 = addPicture(album, 3, {"2"});

    TfrmSelectCategory d;
    d.SetProject(&project);
    for (auto* p : {p1, p2, p3})
      d.AddPicture(p);
    d.show();
    auto* list = child<QListWidget>(&d, "lbxCategories");
    QCOMPARE(list->item(0)->text(), QString("Alps[2]"));
    QCOMPARE(d.State(1), Qt::PartiallyChecked);
    QCOMPARE(d.State(2), Qt::PartiallyChecked);
    QCOMPARE(d.State(3), Qt::Unchecked);
    // A click on a grayed entry checks it; it cannot become grayed again.
    const QRect r = list->visualItemRect(list->item(0));
    const QPoint box(r.left() + r.height() / 2, r.center().y());
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(d.State(1), Qt::Checked);
    QCOMPARE(list->item(0)->text(), QString("Alps[3]"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(d.State(1), Qt::Unchecked);
    QCOMPARE(list->item(0)->text(), QString("Alps[0]"));
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, box);
    QCOMPARE(d.State(1), Qt::Checked);
    child<QPushButton>(&d, "bbnOk")->click();
    QCOMPARE(p1->CategoryIds, (QStringList{"1", "2"}));
    QCOMPARE(p2->CategoryIds, (QStringList{"1"}));
    QCOMPARE(p3->CategoryIds, (QStringList{"2", "1"}));
    QVERIFY(p1->Dirty && p3->Dirty);

    // No pictures: everything unchecked.
    TfrmSelectCategory empty;
    empty.SetProject(&project);
    empty.show();
    QCOMPARE(empty.State(1), Qt::Unchecked);
  }

  // The manager counts links assigned since the project was loaded, and stored links of pictures
  // that are not loaded.
  void managerCountsAssignmentsAtOnce() {
    TLumenfoldProject project;
    addCategory(project, "Leaves"); // 1
    QCOMPARE(ExecSQL(CurrentConnectionString(), FormatSql(SQL_LINK_INSERT, {SqlInt(9), SqlInt(1)})),
             1);
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    addPicture(album, 1, {"1"});
    addPicture(album, 2, {"1"});
    TfrmCategoryDetail manager;
    manager.SetProject(&project);
    manager.show();
    QCOMPARE(child<QLabel>(&manager, "lblCount")->text(), QString("Category contains 3 pictures."));
  }

  void managingCategoriesFromTheChooserKeepsTheChoices() {
    TLumenfoldProject project;
    addCategory(project, "Alps");  // 1
    addCategory(project, "Birds"); // 2
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    TLumenfoldPicture* p = addPicture(album, 1, {"2"});
    TfrmSelectCategory d;
    d.SetProject(&project);
    d.AddPicture(p);
    d.show();
    child<QListWidget>(&d, "lbxCategories")->item(0)->setCheckState(Qt::Checked);
    TModalHandler<TfrmCategoryDetail> editor([](TfrmCategoryDetail* e) {
      child<QPushButton>(e, "bbnAdd")->click();
      child<QLineEdit>(e, "edtTitle")->setText("Zebras");
      child<QPushButton>(e, "bbnOk")->click();
    });
    child<QPushButton>(&d, "bbnManageCategories")->click();
    QVERIFY(editor.done);
    QCOMPARE(child<QListWidget>(&d, "lbxCategories")->count(), 3);
    QCOMPARE(d.State(1), Qt::Checked);
    QCOMPARE(d.State(2), Qt::Checked);
    QCOMPARE(d.State(3), Qt::Unchecked);
    d.reject(); // the new category stays, the picture is unchanged
    QCOMPARE(project.Categories.Count(), 3);
    QCOMPARE(p->CategoryIds, QStringList{"2"});
  }
};

QTEST_MAIN(TestCategoryEditors)
#include "test_categoryeditors.moc"
