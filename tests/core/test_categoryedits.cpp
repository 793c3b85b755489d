// The category editor's write-back, the count its delete question shows, and copying an edited
// picture back without bringing back links to deleted categories.
#include "core/album.h"
#include "core/category.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "testenv.h"

#include <QtTest>

class TestCategoryEdits : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  static int countRows(const QString& sql) {
    TQuery q;
    if (OpenQuery(CurrentConnectionString(), sql, q) != 0) return -1;
    const int n = q->FirstAsInteger();
    CloseQuery(q);
    return n;
  }
  static void addCategory(TLumenfoldProject& project, const QString& title) {
    auto* c = new TLumenfoldCategory;
    c->Title = title;
    QVERIFY(c->Insert());
    project.Categories.Add(title, c);
  }
  static TLumenfoldPicture* addPicture(TLumenfoldAlbum* album, int id, QStringList categories) {
    auto* p = new TLumenfoldPicture(album);
    p->Id = id;
    p->OriginalFileName = QString("p%1.jpg").arg(id);
    p->CategoryIds = categories;
    album->Pictures.Add(p->OriginalFileName, p);
    return p;
  }
  static void link(int pictureId, int categoryId) {
    QCOMPARE(ExecSQL(CurrentConnectionString(),
                     FormatSql(SQL_LINK_INSERT, {SqlInt(pictureId), SqlInt(categoryId)})),
             1);
  }

private slots:
  void init() {
    QVERIFY(!env.useNewDatabase().isEmpty());
    prompt.clear();
  }

  void writeBackDeletesUpdatesAndInsertsInOrder() {
    TLumenfoldProject project;
    addCategory(project, "Alps");   // 1
    addCategory(project, "Birds");  // 2
    addCategory(project, "Cities"); // 3
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    TLumenfoldPicture* loaded = addPicture(album, 10, {"2", "3"});
    link(10, 2);
    link(99, 2); // a picture of an album that is not loaded
    link(99, 3);

    TLumenfoldCategoryList copy;
    copy.Assign(project.Categories);
    copy.Delete(copy.IndexOfId(2));
    copy.Categories(copy.IndexOfId(1))->Title2 = "Berge";
    for (const char* title : {"New one", "New two"}) {
      auto* c = new TLumenfoldCategory;
      c->Title = title;
      copy.Add(title, c);
    }
    bool deleted = false;
    QVERIFY(ApplyCategoryEdits(project, copy, &deleted));
    QVERIFY(deleted);
    QCOMPARE(project.Categories.Count(), 4);
    QCOMPARE(project.Categories.IndexOfId(2), -1);
    // New categories take consecutive ids in the order they were added.
    QCOMPARE(project.Categories.Categories(2)->Id, 4);
    QCOMPARE(project.Categories.Categories(3)->Id, 5);
    QCOMPARE(project.Categories.Strings(3), QString("New two"));
    QCOMPARE(loaded->CategoryIds, QStringList{"3"});
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture_to_category WHERE category_id=2"), 0);
    QCOMPARE(countRows("SELECT COUNT(*) FROM picture_to_category WHERE picture_id=99"), 1);
    QCOMPARE(countRows("SELECT COUNT(*) FROM category"), 4);
    QCOMPARE(countRows("SELECT COUNT(*) FROM category WHERE title2='Berge'"), 1);

    // Nothing changed: no statement, no deletion reported.
    copy.Assign(project.Categories);
    QVERIFY(ApplyCategoryEdits(project, copy, &deleted));
    QVERIFY(!deleted);
    QCOMPARE(project.Categories.Count(), 4);
    QVERIFY(prompt.errors().isEmpty());
  }

  void deleteCountTakesLoadedPicturesAsTheyAreInMemory() {
    TLumenfoldProject project;
    addCategory(project, "Alps"); // 1
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    addPicture(album, 10, {});    // stored with the link, unlinked in memory since
    addPicture(album, 11, {"1"}); // linked in memory only
    addPicture(album, -1, {"1"}); // new picture, not stored yet
    link(10, 1);
    link(50, 1); // not loaded
    link(51, 1); // not loaded
    QCOMPARE(CategoryPictureCount(project, 1), 4);
    QCOMPARE(CategoryPictureCount(project, 7), 0);
  }

  void pictureCopyDoesNotBringBackDeletedCategories() {
    TLumenfoldProject project;
    addCategory(project, "Alps");  // 1
    addCategory(project, "Birds"); // 2
    auto* album = new TLumenfoldAlbum(&project);
    project.Albums.Add("a", album);
    TLumenfoldPicture* real = addPicture(album, 10, {"1", "2"});
    TLumenfoldPicture* other = addPicture(album, 11, {});
    other->IsFace = true;

    TLumenfoldPicture copy;
    copy.Assign(*real);
    QVERIFY(!ApplyPictureEdits(*real, copy)); // unchanged: nothing marked
    QVERIFY(!real->Dirty);

    // The category is deleted while the copy is open; the copy still names it.
    TLumenfoldCategoryList edited;
    edited.Assign(project.Categories);
    edited.Delete(edited.IndexOfId(2));
    QVERIFY(ApplyCategoryEdits(project, edited));
    QCOMPARE(real->CategoryIds, QStringList{"1"});
    copy.Title = "Lake";
    copy.IsFace = true;
    QVERIFY(ApplyPictureEdits(*real, copy));
    QCOMPARE(real->CategoryIds, QStringList{"1"});
    QCOMPARE(real->Title, QString("Lake"));
    QVERIFY(real->Dirty && real->Modified);
    // The face mark went through the album: the other picture lost it.
    QVERIFY(real->IsFace);
    QVERIFY(!other->IsFace);
    QCOMPARE(album->FacePicture, real);
  }
};

QTEST_GUILESS_MAIN(TestCategoryEdits)
#include "test_categoryedits.moc"
