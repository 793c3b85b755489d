#pragma once
// What the static pages of a public site show, read from its public database: the albums
// (newest first) with their public pictures and web images, the categories in use, and the
// site's title, first language and the texts of the pages in it. The page writer and the feed
// are made from it.
//
// Threads: any thread, on a database nobody else writes.
#include <QCryptographicHash>
#include <QLocale>
#include <QString>
#include <memory>
#include <vector>

struct TSiteImage {
  QString Url;
  int Width = -1, Height = -1;
};

struct TSitePicture {
  int Id = 0, AlbumId = 0;
  QString Date, Title;
  TSiteImage Thumb, Medium;
  std::vector<TSiteImage> Web; // the template's extra web sizes that exist, smallest first
  QString Large;               // address of the large image, empty when none is packed
};

struct TSiteAlbum {
  int Id = 0, FaceId = -1;
  QString Date, Name, Description;
  std::vector<TSitePicture> Pictures;
};

struct TSiteCategory {
  int Id = 0;
  QString Title, Description;
  std::vector<const TSitePicture*> Pictures;
};

// Texts of the pages in the site's first language (English where it has none of its own).
struct TSiteTexts {
  QString Albums, Categories, AllAlbums, One, Other, Untitled, Previous, Next, Feed, Download;
};

class TSiteContent {
public:
  // Reads the template's settings.json (title, languages) and the public database, with the
  // texts in the site's first language, or with language 1 in its second one where the site
  // has one (the first language's texts where the second has none).
  bool Read(const QString& publicDatabase, const QString& templateFolder, QString* error,
            int language = 0);
  // The same, from the rows another content read from its database (the database is read once
  // for both languages of a site).
  void ReadFrom(const TSiteContent& other, const QString& templateFolder, int language);

  // A stored date ("yyyy-mm-dd…") as the first language writes it; other text as it is.
  QString DateText(const QString& stored) const;
  QString CountText(qsizetype n) const {
    return (n == 1 ? Texts.One : Texts.Other).arg(Locale.toString(qlonglong(n)));
  }
  // The picture's title, or for an untitled one its page and place ("Album, picture 3 of 9").
  QString PictureName(const TSitePicture& p, const QString& pageName, qsizetype index,
                      qsizetype count) const;
  const TSitePicture& Cover(const TSiteAlbum& a) const;

  int LanguageIndex = 0;  // 1 when the texts are in the site's second language
  QString SecondLanguage; // the code of the site's second language, empty when it has none
  QString SiteTitle = QStringLiteral("Photo gallery");
  QString Language = QStringLiteral("en");
  QLocale Locale{QLocale::English};
  TSiteTexts Texts;
  std::vector<TSiteAlbum> Albums; // newest first, as the site lists them
  std::vector<TSiteCategory> Categories;

private:
  struct TRows;
  void readSettings(const QString& templateFolder, int language);
  void build();
  std::shared_ptr<const TRows> rows_; // as read from the database, in both languages
};

// What an album's page and its pictures' pages are made from, added to a key: every field of
// the album and its pictures, and of the content everything the pages take from it (title,
// languages, texts), but not the other albums or the categories. A field added to the types
// above belongs in here, or a changed value would leave old pages in place.
void AddAlbumToKey(QCryptographicHash& key, const TSiteAlbum& album);
void AddSiteTextsToKey(QCryptographicHash& key, const TSiteContent& content);

// The Atom feed of the albums, newest first; its times come from the albums' dates, so the same
// albums give the same text. siteAddress: the base address ending in '/', or empty.
QString SiteFeedText(const TSiteContent& content, const QString& siteAddress);
// The sitemap of the given page addresses, and robots.txt naming it.
QString SitemapText(const QStringList& addresses);
QString RobotsText(const QString& siteAddress);
