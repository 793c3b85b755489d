// Statement primitives against a database made from template.db.
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "testenv.h"

#include <QFile>
#include <QtTest>
#include <thread>

class TestSqlAccess : public QObject {
  Q_OBJECT
  TestEnv env;
  QString cs;

private slots:
  void init() {
    cs = env.useNewDatabase();
    QVERIFY(!cs.isEmpty());
  }

  void quoteAndRoundTripOddTexts() {
    const QStringList texts = {"it's",          "''",     "100% sure",  "back\\slash",
                               "Žluťoučký kůň", "a'b'c'", "line\nbreak"};
    int id = 1;
    for (const QString& t : texts) {
      const QString sql =
          FormatSql(SQL_CATEGORY_INSERT, {SqlInt(id), QuoteSqlText(t), QuoteSqlText(t + "2"),
                                          QString("d"), QString("d2")});
      QCOMPARE(ExecSQL(cs, sql), 1);
      ++id;
    }
    TQuery q;
    QCOMPARE(
        OpenQuery(cs, "SELECT category_id, title, title2 FROM category ORDER BY category_id", q),
        0);
    for (const QString& t : texts) {
      QVERIFY(!q->Eof());
      QCOMPARE(q->AsString("title"), t);
      QCOMPARE(q->AsString("title2"), t + "2");
      q->Next();
    }
    QVERIFY(q->Eof());
    QCOMPARE(CloseQuery(q), 0);
    QCOMPARE(QuoteSqlText("a'b"), QString("a''b"));
    QCOMPARE(QuoteSqlText("'''"), QString("''''''"));
  }

  void idAllocationAndDeleteDialect() {
    QCOMPARE(AllocateId(cs, SQL_ALBUM_MAX_ID), 1);
    QCOMPARE(
        ExecSQL(cs, FormatSql(SQL_ALBUM_INSERT,
                              {SqlInt(7), SqlInt(-1), SqlDateText(QDateTime::currentDateTime()),
                               QString("s"), QString(), QString("l"), QString(), QString(),
                               QString(), SqlInt(0), QString("pic/a"), QString("/x/a")})),
        1);
    QCOMPARE(AllocateId(cs, SQL_ALBUM_MAX_ID), 8);
    // The catalogue's "DELETE * FROM" form runs.
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_ALBUM_DELETE, {SqlInt(7)})), 1);
    QCOMPARE(AllocateId(cs, SQL_ALBUM_MAX_ID), 1);
  }

  void albumWithoutPicturesCountsZero() {
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_ALBUM_INSERT,
                                   {SqlInt(1), SqlInt(-1), QString("2006-12-08"), QString("s"),
                                    QString(), QString(), QString(), QString(), QString(),
                                    SqlInt(1), QString(), QString()})),
             1);
    TQuery q;
    QCOMPARE(OpenQuery(cs, SQL_ALBUMS, q), 0);
    QVERIFY(!q->Eof());
    QVERIFY(q->IsNull("PictureCount"));
    QCOMPARE(q->AsInteger("PictureCount"), 0);
    QVERIFY(q->AsBoolean("is_private"));
    QCOMPARE(q->AsDateTime("album_date").date(), QDate(2006, 12, 8));
    CloseQuery(q);
  }

  void everyCatalogueStatementRuns() {
    const char* selects[] = {
        SQL_PICTURE_MAX_ID,   SQL_FACE_PICTURES, SQL_ALBUM_MAX_ID,          SQL_ALBUMS,
        SQL_CATEGORY_MAX_ID,  SQL_CATEGORIES,    SQL_SIGNATURE_ITEM_MAX_ID, SQL_SIGNATURE_ITEMS,
        SQL_SIGNATURE_MAX_ID, SQL_SIGNATURES};
    RecordingPrompt prompt;
    for (const char* s : selects) {
      TQuery q;
      QCOMPARE(OpenQuery(cs, s, q), 0);
      CloseQuery(q);
    }
    TQuery q;
    QCOMPARE(OpenQuery(cs, FormatSql(SQL_PICTURES_OF_ALBUM, {SqlInt(1)}), q), 0);
    CloseQuery(q);
    QCOMPARE(OpenQuery(cs, FormatSql(SQL_CATEGORY_LINKS_OF_ALBUM, {SqlInt(1)}), q), 0);
    CloseQuery(q);
    QCOMPARE(OpenQuery(cs, FormatSql(SQL_SIGNATURE_MAP_OF_SIGNATURE, {SqlInt(1)}), q), 0);
    CloseQuery(q);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_INSERT, {SqlInt(1), QString("sig")})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_UPDATE, {QString("sig2"), SqlInt(1)})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_MAP_INSERT, {SqlInt(1), SqlInt(2), SqlInt(3),
                                                              SqlInt(4), SqlInt(5), SqlInt(6)})),
             1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_MAP_DELETE, {SqlInt(1)})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_DELETE, {SqlInt(1)})), 1);
    QCOMPARE(
        ExecSQL(cs, FormatSql(SQL_SIGNATURE_ITEM_INSERT,
                              {SqlInt(1), QString("n"), QString("c"), QString("Tahoma"), SqlInt(8),
                               QString("fsBold"), SqlInt(0), QString(), SqlInt(0xFFFFFF)})),
        1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_ITEM_UPDATE,
                                   {QString("n"), QString("c"), QString("Tahoma"), SqlInt(9),
                                    QString(""), SqlInt(1), QString(), SqlInt(0), SqlInt(1)})),
             1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_ITEM_DELETE, {SqlInt(1)})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_LINK_INSERT, {SqlInt(1), SqlInt(2)})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_LINKS_DELETE_BY_CATEGORY, {SqlInt(2)})), 1);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_CATEGORY_UPDATE, {QString("t"), QString("t2"), QString("d"),
                                                         QString("d2"), SqlInt(1)})),
             0);
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_CATEGORY_DELETE, {SqlInt(1)})), 0);
    QVERIFY(prompt.errors().isEmpty());
  }

  void missingDatabaseReportsAndContinues() {
    RecordingPrompt prompt;
    const QString missing = "Provider=SQLite;Data Source=" + env.path("nothing-here.sqlite");
    TQuery q;
    QCOMPARE(OpenQuery(missing, SQL_ALBUMS, q), -1);
    QVERIFY(!q);
    QCOMPARE(ExecSQL(missing, FormatSql(SQL_ALBUM_DELETE, {SqlInt(1)})), -1);
    QCOMPARE(prompt.errors().size(), 2);
    QVERIFY(prompt.errors()[0].startsWith("An error occured during opening the query\r\n"));
    QVERIFY(prompt.errors()[1].startsWith("An error occur during sql execution:\r\n"));
    QVERIFY(!QFile::exists(env.path("nothing-here.sqlite"))); // never created by opening
    const QString jet = "Provider=Microsoft.Jet.OLEDB.4.0;Data Source=" + env.path("db.mdb");
    QCOMPARE(ExecSQL(jet, "DELETE * FROM album"), -1);
    QVERIFY(prompt.errors().last().contains("not available"));
    QVERIFY(!TestConnection(missing).isEmpty());
    QVERIFY(TestConnection(cs).isEmpty());
  }

  void lastErrorIsKeptForItsThreadOnly() {
    RecordingPrompt prompt;
    ClearLastSqlError();
    QCOMPARE(ExecSQL(cs, "INSERT INTO no_such_table VALUES (1)"), -1);
    const QString last = LastSqlError();
    QVERIFY2(last.startsWith("An error occur during sql execution: ") &&
                 last.contains("no_such_table"),
             qPrintable(last));
    QString seenElsewhere = "unset";
    std::thread other([&] { seenElsewhere = LastSqlError(); });
    other.join();
    QVERIFY(seenElsewhere.isEmpty());
    QCOMPARE(ExecSQL(cs, FormatSql(SQL_CATEGORY_DELETE, {SqlInt(1)})), 0); // success keeps it
    QCOMPARE(LastSqlError(), last);
    ClearLastSqlError();
    QVERIFY(LastSqlError().isEmpty());
  }

  void transactionRollsBackOnFailure() {
    RecordingPrompt prompt;
    {
      TSqlTransaction t(cs);
      QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_INSERT, {SqlInt(1), QString("a")})), 1);
      QCOMPARE(ExecSQL(cs, "INSERT INTO no_such_table VALUES (1)"), -1);
      QVERIFY(t.Failed());
      QVERIFY(!t.Commit());
    }
    QCOMPARE(AllocateId(cs, SQL_SIGNATURE_MAX_ID), 1);
    {
      TSqlTransaction t(cs);
      {
        TSqlTransaction inner(cs);
        QCOMPARE(ExecSQL(cs, FormatSql(SQL_SIGNATURE_INSERT, {SqlInt(5), QString("a")})), 1);
        QVERIFY(inner.Commit());
      }
      QVERIFY(t.Commit());
    }
    QCOMPARE(AllocateId(cs, SQL_SIGNATURE_MAX_ID), 6);
  }

  // A prepared statement runs once per row: every run binds all its values, a run short of
  // values is refused instead of taking the last row's, and an empty text stays a text.
  void preparedStatementKeepsNothingOfTheLastRow() {
    RecordingPrompt prompt;
    const auto row = [](int id, const QString& title) {
      return std::vector<SqlArg>{SqlInt(id), title, title, QString(), QString("d2")};
    };
    {
      TSqlStatement insert(cs, SQL_CATEGORY_INSERT);
      QCOMPARE(insert.Exec(row(1, "it's")), 1);
      QCOMPARE(insert.Exec({SqlInt(2), QString("short")}), -1);
      QCOMPARE(TSqlStatement(cs, SQL_CATEGORY_INSERT).Exec(row(3, "nested")), 1);
      TSqlTransaction t(cs);
      QCOMPARE(insert.Exec(row(4, "rolled back")), 1);
      QCOMPARE(insert.Exec({SqlInt(5)}), -1);
      QVERIFY(!t.Commit());
    }
    QCOMPARE(TSqlStatement(cs, SQL_CATEGORY_INSERT).Exec(row(6, "again")), 1);
    QCOMPARE(prompt.errors().size(), 2);
    TQuery q;
    QCOMPARE(OpenQuery(cs,
                       "SELECT group_concat(category_id || ':' || title) FROM category WHERE "
                       "description = '' AND description2 = 'd2' ORDER BY category_id",
                       q),
             0);
    QCOMPARE(q->Value("group_concat(category_id || ':' || title)").toString(),
             QString("1:it's,3:nested,6:again"));
    CloseQuery(q);
  }

  void datesAreIsoAndReadBack() {
    QCOMPARE(SqlDateText(QDateTime(QDate(2006, 12, 8), QTime(13, 5))), QString("2006-12-08"));
    QCOMPARE(SqlDateText(QDateTime()), QString());
    QCOMPARE(SqlDateValue(QString("2006-12-08")).date(), QDate(2006, 12, 8));
    QCOMPARE(SqlDateValue(QString("2006-12-08T10:11:12")).time(), QTime(10, 11, 12));
    QVERIFY(!SqlDateValue(QString()).isValid());
  }

  void connectionStringParts() {
    QCOMPARE(
        GetConnectionDataSource("Provider=Microsoft.Jet.OLEDB.4.0;Data Source=C:\\Site\\db.mdb"),
        QString("C:\\Site\\db.mdb"));
    QCOMPARE(GetConnectionDataSource("provider=x;data source = y.mdb ;"), QString("y.mdb "));
    QString s = "Data Source=a.db";
    SetConnectionProvider(s, "SQLite");
    QCOMPARE(s, QString("Data Source=a.db"));
    s = "Provider=A;Data Source=a.db;provider = B";
    SetConnectionProvider(s, "SQLite");
    QCOMPARE(s, QString("Provider=SQLite;Data Source=a.db;Provider=SQLite"));
    SetConnectionDataSource(s, "/tmp/$x.db");
    QCOMPARE(GetConnectionDataSource(s), QString("/tmp/"));
    QCOMPARE(GetConnectionProvider("nothing"), QString());
    QVERIFY(AvailableProviders().value(0) == "SQLite");
  }
};

QTEST_GUILESS_MAIN(TestSqlAccess)
#include "test_sqlaccess.moc"
