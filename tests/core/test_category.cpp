// Categories: persistence, link removal and the title list of a picture.
#include "core/category.h"
#include "core/picture.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "testenv.h"

#include <QtTest>

class TestCategory : public QObject {
  Q_OBJECT
  TestEnv env;
  QString cs;

  static int countRows(const QString& cs, const QString& sql) {
    TQuery q;
    if (OpenQuery(cs, sql, q) != 0) return -1;
    const int n = q->FirstAsInteger();
    CloseQuery(q);
    return n;
  }

  static TLumenfoldCategory* makeCategory(const QString& title) {
    auto* c = new TLumenfoldCategory;
    c->Title = title;
    c->Title2 = title + " (2)";
    c->Description = "about " + title;
    c->Description2 = "about " + title + " (2)";
    return c;
  }

private slots:
  void init() {
    cs = env.useNewDatabase();
    QVERIFY(!cs.isEmpty());
  }

  void saveAndLoadKeepEachFieldInItsColumn() {
    TLumenfoldCategory c;
    QCOMPARE(c.Id, -1);
    c.Title = "Birds";
    c.Title2 = "Vögel";
    c.Description = "Feathered 'friends'";
    c.Description2 = "Gefiederte";
    QVERIFY(c.Save());
    QCOMPARE(c.Id, 1);
    auto* second = makeCategory("Alps");
    QVERIFY(second->Save());
    QCOMPARE(second->Id, 2);
    // An update goes to the same row.
    second->Description2 = "changed";
    QVERIFY(second->Save());
    QCOMPARE(second->Id, 2);
    delete second;

    TLumenfoldCategoryList list;
    QVERIFY(list.LoadAll());
    QCOMPARE(list.Count(), 2);
    // Ordered by title.
    QCOMPARE(list.Strings(0), QString("Alps"));
    QCOMPARE(list.Categories(0)->Description2, QString("changed"));
    const TLumenfoldCategory* birds = list.Categories(list.IndexOfId(1));
    QCOMPARE(birds->Title, QString("Birds"));
    QCOMPARE(birds->Title2, QString("Vögel"));
    QCOMPARE(birds->Description, QString("Feathered 'friends'"));
    QCOMPARE(birds->Description2, QString("Gefiederte"));
    QCOMPARE(birds->PictureCount, 0);
    QVERIFY(birds->Equals(c));
    QCOMPARE(list.IndexOfId(99), -1);

    TLumenfoldCategoryList copy;
    copy.Add("stale", new TLumenfoldCategory);
    copy.Assign(list);
    QCOMPARE(copy.Count(), 2);
    QVERIFY(copy.Categories(1)->Equals(*list.Categories(1)));
    QVERIFY(copy.Categories(1) != list.Categories(1));
  }

  void deleteRemovesLinksOfPicturesNotLoaded() {
    auto* a = makeCategory("a");
    auto* b = makeCategory("b");
    QVERIFY(a->Save());
    QVERIFY(b->Save());
    for (int picture : {10, 11, 12})
      QCOMPARE(ExecSQL(cs, FormatSql(SQL_LINK_INSERT, {SqlInt(picture), SqlInt(a->Id)})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_LINK_INSERT, {SqlInt(10), SqlInt(b->Id)})), 1);

    TLumenfoldCategoryList list;
    QVERIFY(list.LoadAll());
    QCOMPARE(list.Categories(list.IndexOfId(a->Id))->PictureCount, 3);
    QCOMPARE(list.Categories(list.IndexOfId(b->Id))->PictureCount, 1);

    QVERIFY(a->Delete());
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM picture_to_category"), 1);
    QCOMPARE(countRows(cs, "SELECT COUNT(*) FROM category"), 1);
    delete a;
    delete b;
  }

  void failedWritesAreReportedAsFailures() {
    RecordingPrompt prompt;
    TLumenfoldCategory c;
    // The database refuses the insert.
    QVERIFY(ExecSQL(cs, "CREATE TRIGGER refuse BEFORE INSERT ON category BEGIN SELECT "
                        "RAISE(ABORT, 'refused'); END") >= 0);
    QVERIFY(!c.Insert());
    QCOMPARE(c.Id, -1);
    QVERIFY(!prompt.errors().isEmpty());

    // A database that does not exist.
    SetCurrentConnectionString("Provider=SQLite;Data Source=" + env.path("missing.sqlite"));
    c.Id = 4;
    QVERIFY(!c.Update());
    QVERIFY(!c.Delete());
    TLumenfoldCategoryList list;
    QVERIFY(!list.LoadAll());
    QCOMPARE(list.Count(), 0);
  }

  void titlesOfAPicture() {
    TLumenfoldCategoryList list;
    auto* x = makeCategory("Sea");
    x->Id = 3;
    auto* y = makeCategory("Sky");
    y->Id = 7;
    list.Add(x->Title, x);
    list.Add(y->Title, y);
    QCOMPARE(list.CategoryTitles(QStringList(), " "), QString());
    // Order follows the picture's ids; unknown ids are skipped, with no separator left over.
    QCOMPARE(list.CategoryTitles({"7", "3"}, " "), QString("Sky Sea"));
    QCOMPARE(list.CategoryTitles({"3", "99", "7"}, "\r\n"), QString("Sea\r\nSky"));
    QCOMPARE(list.CategoryTitles({"99"}, " "), QString());
    QCOMPARE(list.CategoryTitles({"7", "99"}, ", "), QString("Sky"));
    TLumenfoldPicture picture;
    picture.CategoryIds = QStringList{"7", "3"};
    QCOMPARE(list.CategoryTitles(&picture, " "), QString("Sky Sea"));
    QCOMPARE(list.CategoryTitles(nullptr, " "), QString());
  }
};

QTEST_MAIN(TestCategory)
#include "test_category.moc"
