// The static pages of a public site: what they show without scripts, their texts escaped, the
// addresses that need the site's public address, and the feed's order.
#include "db/connectionstring.h"
#include "processing/sitepages.h"
#include "testenv.h"
#include "testfiles.h"

#include <QDir>
#include <QFile>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUuid>
#include <QtTest>

namespace {

const char* const kSkeleton =
    "<!doctype html>\n<html lang=\"en\">\n<head><title>Photo gallery</title></head>\n<body>\n"
    "<a id=\"home\" class=\"home\" href=\"#/\">Photo gallery</a>\n"
    "<main id=\"main\"><p>Loading</p></main>\n<noscript><p>needs JavaScript</p></noscript>\n"
    "</body>\n</html>\n";

// Album 1 (older, two pictures: one titled with markup, one untitled) and album 2 (newer, one
// picture); category 5 holds picture 11. The sizes columns are those the public copy adds.
void fillDatabase(const QString& file) {
  const QString name = QUuid::createUuid().toString();
  {
    QSqlDatabase db = QSqlDatabase::addDatabase("QSQLITE", name);
    db.setDatabaseName(file);
    QVERIFY(db.open());
    const char* const rows[] = {
        "ALTER TABLE picture ADD COLUMN thumb_width INTEGER NOT NULL DEFAULT 200",
        "ALTER TABLE picture ADD COLUMN thumb_height INTEGER NOT NULL DEFAULT 150",
        "ALTER TABLE picture ADD COLUMN medium_width INTEGER NOT NULL DEFAULT 800",
        "ALTER TABLE picture ADD COLUMN medium_height INTEGER NOT NULL DEFAULT 600",
        "INSERT INTO album (album_id, album_date, short_name, description, directory) "
        "VALUES (1, '2024-06-01', 'Harbour', 'Boats & nets', 'harbour')",
        "INSERT INTO album (album_id, album_date, short_name, directory) "
        "VALUES (2, '2023-01-05', 'Hills', 'hills')",
        "INSERT INTO picture (picture_id, album_id, sort_order, title, picture_date, "
        "thumb_filename, thumb_size, medium_filename, medium_size) VALUES (11, 1, 1, "
        "'<img src=x onerror=alert(1)>', '2024-05-30', 'ps_thumb\\tn_a.jpg', 10, "
        "'ps_medium\\m_a.jpg', 90)",
        "INSERT INTO picture (picture_id, album_id, sort_order, thumb_filename, thumb_size, "
        "medium_filename, medium_size) VALUES (12, 1, 2, 'ps_thumb/tn_b.jpg', 10, "
        "'ps_medium/m_b.jpg', 90)",
        "INSERT INTO picture (picture_id, album_id, thumb_filename, thumb_size) "
        "VALUES (21, 2, 'ps_thumb/tn_c.jpg', 10)",
        "INSERT INTO category (category_id, title) VALUES (5, 'Sea')",
        "INSERT INTO picture_to_category VALUES (11, 5)",
    };
    for (const char* sql : rows) {
      QSqlQuery q(db);
      QVERIFY2(q.exec(sql), qPrintable(q.lastError().text()));
    }
    db.close();
  }
  QSqlDatabase::removeDatabase(name);
}

struct Site {
  QMap<QString, QString> files; // entry → text
};

Site writePages(const TestEnv& env, const QString& address, const char* skeleton = kSkeleton,
                QByteArray* albumKey = nullptr) {
  const QString database = GetConnectionDataSource(env.newDatabase());
  fillDatabase(database);
  QDir(env.path()).mkpath("template");
  writeBytes(env.path("template/index.html"), skeleton);
  TSitePagesInput input{database, env.path("template"), address, 0, {}};
  if (albumKey)
    input.KeepAlbum = [albumKey](int albumId, const QByteArray& key, const QStringList&) {
      if (albumId == 1) *albumKey = key;
      return false;
    };
  QString error;
  Site site;
  const auto keep = [&](const QString& entry, const QByteArray& bytes, QString*) {
    site.files.insert(entry, QString::fromUtf8(bytes));
    return true;
  };
  if (!WriteSitePages(input, keep, &error)) qWarning() << error;
  return site;
}

} // namespace

class TestSitePages : public QObject {
  Q_OBJECT
private slots:
  void pagesShowContentAsPlainLinks();
  void publicAddressGivesCanonicalSitemapAndRobots_data();
  void publicAddressGivesCanonicalSitemapAndRobots();
  void feedListsAlbumsNewestFirst();
  void styleSheetsGoIntoThePagesAndTheirKeys();
};

void TestSitePages::pagesShowContentAsPlainLinks() {
  TestEnv env;
  const Site site = writePages(env, QString());
  QCOMPARE(site.files.keys(),
           QStringList({"album-1.html", "album-2.html", "category-5.html", "feed.xml", "index.html",
                        "photo-11.html", "photo-12.html", "photo-21.html"}));
  const QString home = site.files["index.html"];
  QVERIFY(home.contains("href=\"album-1.html\""));
  QVERIFY(home.contains("href=\"category-5.html\""));
  QVERIFY(!home.contains("needs JavaScript")); // the skeleton's note for browsers without scripts
  QVERIFY(home.contains("<html lang=\"en\" data-page=\"\">"));
  // Newest album first (by id, as the script lists them); its cover fetched at once.
  QVERIFY(home.indexOf("album-2.html") < home.indexOf("album-1.html"));
  QVERIFY(home.contains("fetchpriority=\"high\""));
  const QString album = site.files["album-1.html"];
  QVERIFY(album.contains("<title>Harbour – Photo gallery</title>"));
  QVERIFY(album.contains("<meta name=\"description\" content=\"Boats &amp; nets\">"));
  QVERIFY(album.contains("href=\"photo-11.html\""));
  QVERIFY(album.contains("src=\"harbour/ps_thumb/tn_a.jpg\""));
  // Markup in a title is text on every page.
  for (const QString& page : {album, site.files["photo-11.html"], site.files["category-5.html"]}) {
    QVERIFY(!page.contains("<img src=x"));
    QVERIFY(page.contains("&lt;img src=x onerror=alert(1)&gt;"));
  }
  const QString untitled = site.files["photo-12.html"];
  QVERIFY(untitled.contains(">Harbour, picture 2 of 2</h1>"));
  QVERIFY(untitled.contains("data-page=\"album/1/12\""));
  QVERIFY(untitled.contains("rel=\"prev\" href=\"photo-11.html\""));
  QVERIFY(!untitled.contains("rel=\"next\""));
  QVERIFY(untitled.contains("src=\"harbour/ps_medium/m_b.jpg\""));
  QVERIFY(site.files["photo-11.html"].contains("May 30, 2024"));
}

void TestSitePages::publicAddressGivesCanonicalSitemapAndRobots_data() {
  QTest::addColumn<QString>("address");
  QTest::newRow("none") << QString();
  QTest::newRow("stated") << QStringLiteral("https://photos.example.org/");
}

void TestSitePages::publicAddressGivesCanonicalSitemapAndRobots() {
  QFETCH(QString, address);
  TestEnv env;
  const Site site = writePages(env, address);
  const QString photo = site.files["photo-11.html"];
  QCOMPARE(site.files.contains("sitemap.xml"), !address.isEmpty());
  QCOMPARE(site.files.contains("robots.txt"), !address.isEmpty());
  QCOMPARE(photo.contains("rel=\"canonical\""), !address.isEmpty());
  QVERIFY(photo.contains("<meta name=\"twitter:card\" content=\"summary_large_image\">"));
  if (address.isEmpty()) return;
  QVERIFY(
      photo.contains("<link rel=\"canonical\" href=\"https://photos.example.org/photo-11.html\">"));
  QVERIFY(photo.contains("<meta property=\"og:image\" "
                         "content=\"https://photos.example.org/harbour/ps_medium/m_a.jpg\">"));
  QVERIFY(site.files["index.html"].contains("href=\"https://photos.example.org/\""));
  const QString sitemap = site.files["sitemap.xml"];
  QCOMPARE(sitemap.count("<loc>"), 7); // home, 2 albums, 3 pictures, 1 category
  QVERIFY(site.files["robots.txt"].contains("Sitemap: https://photos.example.org/sitemap.xml"));
}

void TestSitePages::feedListsAlbumsNewestFirst() {
  TestEnv env;
  const QString feed =
      writePages(env, QStringLiteral("https://photos.example.org/")).files["feed.xml"];
  QVERIFY(feed.contains("<updated>2024-06-01T00:00:00Z</updated>"));
  const qsizetype harbour = feed.indexOf("<title>Harbour</title>");
  const qsizetype hills = feed.indexOf("<title>Hills</title>");
  QVERIFY(harbour > 0 && hills > harbour);
  QVERIFY(feed.contains("<summary>Boats &amp; nets · 2 pictures</summary>"));
  // The same albums give the same file: nothing in it depends on the time of the run.
  TestEnv again;
  QCOMPARE(writePages(again, QStringLiteral("https://photos.example.org/")).files["feed.xml"],
           feed);
}

// The template's style sheet goes into every page (one with markup in it stays a file) and into
// the key of an album's kept pages.
void TestSitePages::styleSheetsGoIntoThePagesAndTheirKeys() {
  TestEnv env;
  const char* skeleton = "<html><head><title>Photo gallery</title><link rel=\"stylesheet\" "
                         "href=\"style.css\"><link rel=\"stylesheet\" href=\"marked.css\"></head>"
                         "<body><main id=\"main\"></main></body></html>";
  QDir(env.path()).mkpath("template");
  writeBytes(env.path("template/style.css"), "p {}\n");
  writeBytes(env.path("template/marked.css"), "/* <b> */\n");
  QByteArray first, again, changed;
  const Site site = writePages(env, QString(), skeleton, &first);
  QVERIFY(
      site.files["photo-11.html"].contains("<style data-file=\"style.css\">\np {}\n</style><link"));
  writePages(env, QString(), skeleton, &again);
  writeBytes(env.path("template/style.css"), "b {}\n");
  writePages(env, QString(), skeleton, &changed);
  QVERIFY(!first.isEmpty() && again == first && changed != first);
}

QTEST_GUILESS_MAIN(TestSitePages)
#include "test_sitepages.moc"
