#include "processing/sitecontent.h"

#include "processing/sitequery.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QCollator>
#include <QDate>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <map>
#include <sqlite3.h>

namespace {

void setContentError(QString* error, const QString& text) {
  if (error) *error = text;
}

TSiteTexts textsFor(const QString& code) {
  if (code.section(QLatin1Char('-'), 0, 0).toLower() == QLatin1String("de"))
    return {QStringLiteral("Alben"),        QStringLiteral("Kategorien"),
            QStringLiteral("Alle Alben"),   QStringLiteral("%1 Bild"),
            QStringLiteral("%1 Bilder"),    QStringLiteral("%1, Bild %2 von %3"),
            QStringLiteral("Voriges Bild"), QStringLiteral("Nächstes Bild"),
            QStringLiteral("Neue Alben"),   QStringLiteral("Herunterladen")};
  return {QStringLiteral("Albums"),           QStringLiteral("Categories"),
          QStringLiteral("All albums"),       QStringLiteral("%1 picture"),
          QStringLiteral("%1 pictures"),      QStringLiteral("%1, picture %2 of %3"),
          QStringLiteral("Previous picture"), QStringLiteral("Next picture"),
          QStringLiteral("New albums"),       QStringLiteral("Download")};
}

// Texts a new album or category starts with, never written by the photographer.
QString written(const QString& text) {
  static const QStringList defaults{QStringLiteral("<Long Name>"), QStringLiteral("<title>"),
                                    QStringLiteral("<title2>"), QStringLiteral("<description>"),
                                    QStringLiteral("<description 2>")};
  return defaults.contains(text) ? QString() : text;
}

} // namespace

void TSiteContent::readSettings(const QString& templateFolder, int language) {
  QFile file(IncludeTrailingSeparator(templateFolder) + QStringLiteral("settings.json"));
  if (!file.open(QIODevice::ReadOnly)) return; // the defaults
  const QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
  const QJsonArray titles = settings.value(QStringLiteral("title")).toArray();
  if (!titles.isEmpty() && !titles.at(0).toString().trimmed().isEmpty())
    SiteTitle = titles.at(0).toString();
  const QJsonArray languages = settings.value(QStringLiteral("languages")).toArray();
  static const QRegularExpression tag(QStringLiteral("^[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*$"));
  auto codeOf = [&](qsizetype i) {
    const QString code = languages.size() > i
                             ? languages.at(i).toObject().value(QStringLiteral("code")).toString()
                             : QString();
    return tag.match(code).hasMatch() ? code : QString();
  };
  SecondLanguage = codeOf(1);
  if (language == 1 && !SecondLanguage.isEmpty()) {
    LanguageIndex = 1;
    if (titles.size() > 1 && !titles.at(1).toString().trimmed().isEmpty())
      SiteTitle = titles.at(1).toString();
  }
  const QString code = codeOf(LanguageIndex);
  if (!code.isEmpty()) {
    Language = code;
    Locale = QLocale(code);
    Texts = textsFor(code);
  }
}

QString TSiteContent::DateText(const QString& stored) const {
  static const QRegularExpression ymd(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})"));
  const QRegularExpressionMatch m = ymd.match(stored.trimmed());
  if (!m.hasMatch()) return stored.trimmed();
  const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (!date.isValid()) return stored.trimmed();
  const QString lang = Language.section(QLatin1Char('-'), 0, 0).toLower();
  if (lang == QLatin1String("en")) return Locale.toString(date, QStringLiteral("MMMM d, yyyy"));
  if (lang == QLatin1String("de")) return Locale.toString(date, QStringLiteral("d. MMMM yyyy"));
  return Locale.toString(date, QStringLiteral("d MMMM yyyy"));
}

// The database's rows the pages are made from, with the texts of both languages.
struct TSiteContent::TRows {
  struct TAlbum {
    int Id = 0, FaceId = -1;
    QString Date, ShortName[2], LongName[2], Description[2];
  };
  struct TPicture {
    int AlbumIndex = 0;
    TSitePicture Shown; // without its title
    QString Title[2];
  };
  struct TCategory {
    int Id = 0;
    QString Title[2], Description[2];
    std::vector<int> Pictures; // ids
  };
  std::vector<TAlbum> Albums;     // newest first
  std::vector<TPicture> Pictures; // by album, in each in its order
  std::vector<TCategory> Categories;
};

namespace {

struct TFinalizeRows {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};

// Steps through the rows of a query on the connection's own SQLite handle: no value goes
// through the driver's general conversions.
class TRowReader {
public:
  TRowReader(sqlite3* db, const char* sql) : db_(db) {
    sqlite3_stmt* s = nullptr;
    if (db && sqlite3_prepare_v2(db, sql, -1, &s, nullptr) == SQLITE_OK)
      statement_.reset(s);
    else
      sqlite3_finalize(s);
  }
  bool Next() {
    if (!statement_) return false;
    const int step = sqlite3_step(statement_.get());
    if (step != SQLITE_ROW && step != SQLITE_DONE) failed_ = true;
    return step == SQLITE_ROW;
  }
  bool Failed() const { return !statement_ || failed_; }
  QString Error() const {
    return db_ ? QString::fromUtf8(sqlite3_errmsg(db_)) : QStringLiteral("no SQLite connection");
  }
  QString Text(int column) const {
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(statement_.get(), column));
    return text ? QString::fromUtf8(text, sqlite3_column_bytes(statement_.get(), column))
                : QString();
  }
  int Int(int column) const { return sqlite3_column_int(statement_.get(), column); }
  qint64 Int64(int column) const { return sqlite3_column_int64(statement_.get(), column); }

private:
  sqlite3* db_;
  std::unique_ptr<sqlite3_stmt, TFinalizeRows> statement_;
  bool failed_ = false;
};

} // namespace

bool TSiteContent::Read(const QString& publicDatabase, const QString& templateFolder,
                        QString* error, int language) {
  Texts = textsFor(Language);
  readSettings(templateFolder, language);
  TSiteQueryConnection db(publicDatabase);
  auto rows = std::make_shared<TRows>();
  TRowReader albums(db.handle(), "SELECT album_id, face_picture_id, album_date, short_name, "
                                 "long_name, description, directory, short_name2, long_name2, "
                                 "description2 FROM album "
                                 "WHERE is_private = 0 ORDER BY album_id DESC");
  std::map<int, size_t> albumIndex;
  std::vector<QString> directories;
  while (albums.Next()) {
    TRows::TAlbum a;
    a.Id = albums.Int(0);
    a.FaceId = albums.Int(1);
    a.Date = albums.Text(2);
    a.ShortName[0] = albums.Text(3), a.ShortName[1] = albums.Text(7);
    a.LongName[0] = albums.Text(4), a.LongName[1] = albums.Text(8);
    a.Description[0] = albums.Text(5), a.Description[1] = albums.Text(9);
    albumIndex[a.Id] = rows->Albums.size();
    directories.push_back(albums.Text(6));
    rows->Albums.push_back(a);
  }
  if (albums.Failed()) {
    setContentError(error, db.error().isEmpty() ? albums.Error() : db.error());
    return false;
  }
  // The extra web sizes, where the database has them.
  TRowReader hasWeb(db.handle(), "SELECT COUNT(*) FROM pragma_table_info('picture') "
                                 "WHERE name = 'web_images'");
  const bool web = hasWeb.Next() && hasWeb.Int(0) > 0;
  if (hasWeb.Failed()) {
    setContentError(error, hasWeb.Error());
    return false;
  }
  const QByteArray pictureSql =
      QByteArrayLiteral("SELECT picture_id, album_id, picture_date, title, "
                        "thumb_filename, thumb_width, thumb_height, medium_filename, "
                        "medium_size, medium_width, medium_height, large_filename, "
                        "large_size, ") +
      (web ? "web_images" : "NULL") +
      " , title2 FROM picture WHERE is_private = 0 AND is_deleted = 0 AND thumb_size > 0 "
      "ORDER BY album_id, sort_order, picture_id";
  TRowReader q(db.handle(), pictureSql.constData());
  while (q.Next()) {
    const auto album = albumIndex.find(q.Int(1));
    if (album == albumIndex.end()) continue;
    TRows::TPicture row;
    row.AlbumIndex = int(album->second);
    TSitePicture& p = row.Shown;
    p.Id = q.Int(0);
    p.AlbumId = album->first;
    p.Date = q.Text(2);
    row.Title[0] = q.Text(3), row.Title[1] = q.Text(14);
    const QString& dir = directories[album->second];
    p.Thumb = {SiteRelativePath(dir, q.Text(4), true), q.Int(5), q.Int(6)};
    if (p.Thumb.Url.isEmpty()) continue; // not below the site's folder: not shown
    if (q.Int64(8) > 0) p.Medium = {SiteRelativePath(dir, q.Text(7), true), q.Int(9), q.Int(10)};
    if (p.Medium.Url.isEmpty()) p.Medium = p.Thumb;
    if (q.Int64(12) > 0) p.Large = SiteRelativePath(dir, q.Text(11), true);
    if (const QString images = q.Text(13); !images.isEmpty())
      for (const QJsonValue v : QJsonDocument::fromJson(images.toUtf8()).array()) {
        const QJsonArray image = v.toArray();
        const QString url = SiteRelativePath(dir, image.at(2).toString(), true);
        if (!url.isEmpty() && image.at(0).toInt() > 0)
          p.Web.push_back({url, image.at(0).toInt(), image.at(1).toInt()});
      }
    rows->Pictures.push_back(std::move(row));
  }
  if (q.Failed()) {
    setContentError(error, q.Error());
    return false;
  }
  TRowReader categories(db.handle(), "SELECT category_id, title, description, title2, "
                                     "description2 FROM category ORDER BY category_id");
  std::map<int, size_t> categoryIndex;
  while (categories.Next()) {
    TRows::TCategory c;
    c.Id = categories.Int(0);
    c.Title[0] = categories.Text(1), c.Title[1] = categories.Text(3);
    c.Description[0] = categories.Text(2), c.Description[1] = categories.Text(4);
    categoryIndex[c.Id] = rows->Categories.size();
    rows->Categories.push_back(c);
  }
  TRowReader links(db.handle(), "SELECT DISTINCT category_id, picture_id FROM picture_to_category");
  while (links.Next())
    if (const auto c = categoryIndex.find(links.Int(0)); c != categoryIndex.end())
      rows->Categories[c->second].Pictures.push_back(links.Int(1));
  if (categories.Failed() || links.Failed()) {
    setContentError(error, categories.Failed() ? categories.Error() : links.Error());
    return false;
  }
  rows_ = std::move(rows);
  build();
  return true;
}

void TSiteContent::ReadFrom(const TSiteContent& other, const QString& templateFolder,
                            int language) {
  Texts = textsFor(Language);
  readSettings(templateFolder, language);
  rows_ = other.rows_;
  build();
}

void TSiteContent::build() {
  Albums.clear();
  Categories.clear();
  if (!rows_) return;
  // The text in the chosen language; the first language's where the second one has none.
  auto pick = [&](const QString(&texts)[2]) {
    const QString b = written(texts[1]);
    return LanguageIndex == 1 && !b.trimmed().isEmpty() ? b : written(texts[0]);
  };
  Albums.reserve(rows_->Albums.size());
  for (const TRows::TAlbum& r : rows_->Albums) {
    TSiteAlbum a;
    a.Id = r.Id;
    a.FaceId = r.FaceId;
    a.Date = r.Date;
    a.Name = pick(r.LongName);
    if (a.Name.trimmed().isEmpty()) a.Name = pick(r.ShortName);
    a.Description = pick(r.Description);
    Albums.push_back(a);
  }
  for (const TRows::TPicture& r : rows_->Pictures) {
    TSitePicture p = r.Shown;
    p.Title = pick(r.Title);
    Albums[size_t(r.AlbumIndex)].Pictures.push_back(std::move(p));
  }
  // Albums without a shown picture do not exist on the site.
  std::erase_if(Albums, [](const TSiteAlbum& a) { return a.Pictures.empty(); });
  std::map<int, std::pair<size_t, size_t>> byId; // album and picture index
  for (size_t a = 0; a < Albums.size(); ++a)
    for (size_t i = 0; i < Albums[a].Pictures.size(); ++i)
      byId[Albums[a].Pictures[i].Id] = {a, i};
  for (const TRows::TCategory& r : rows_->Categories) {
    TSiteCategory c{r.Id, pick(r.Title), pick(r.Description), {}};
    // In the order of the albums (newest first) and of the pictures in them, as on the site.
    std::vector<std::pair<size_t, size_t>> places;
    for (int id : r.Pictures)
      if (const auto at = byId.find(id); at != byId.end()) places.push_back(at->second);
    std::sort(places.begin(), places.end());
    places.erase(std::unique(places.begin(), places.end()), places.end());
    for (const auto& [a, i] : places)
      c.Pictures.push_back(&Albums[a].Pictures[i]);
    if (!c.Pictures.empty()) Categories.push_back(std::move(c));
  }
  QCollator collator(Locale);
  std::stable_sort(Categories.begin(), Categories.end(),
                   [&](const TSiteCategory& a, const TSiteCategory& b) {
                     return collator.compare(a.Title, b.Title) < 0;
                   });
}

QString TSiteContent::PictureName(const TSitePicture& p, const QString& pageName, qsizetype index,
                                  qsizetype count) const {
  if (!p.Title.trimmed().isEmpty()) return p.Title;
  return Texts.Untitled.arg(pageName, Locale.toString(qlonglong(index + 1)),
                            Locale.toString(qlonglong(count)));
}

const TSitePicture& TSiteContent::Cover(const TSiteAlbum& a) const {
  for (const TSitePicture& p : a.Pictures)
    if (p.Id == a.FaceId) return p;
  return a.Pictures.front();
}

namespace {

// The key's bytes are gathered first and hashed at once: an album adds many small pieces.
void addText(QByteArray& key, const QString& text) {
  const qint64 size = text.size();
  key.append(reinterpret_cast<const char*>(&size), sizeof(size));
  key.append(reinterpret_cast<const char*>(text.constData()),
             text.size() * qsizetype(sizeof(QChar)));
}

void addNumbers(QByteArray& key, std::initializer_list<qint64> numbers) {
  for (const qint64 n : numbers)
    key.append(reinterpret_cast<const char*>(&n), sizeof(n));
}

void addImage(QByteArray& key, const TSiteImage& image) {
  addText(key, image.Url);
  addNumbers(key, {image.Width, image.Height});
}

} // namespace

void AddAlbumToKey(QCryptographicHash& hash, const TSiteAlbum& album) {
  QByteArray key;
  key.reserve(256 + qsizetype(album.Pictures.size()) * 256);
  addNumbers(key, {album.Id, album.FaceId, qint64(album.Pictures.size())});
  for (const QString* text : {&album.Date, &album.Name, &album.Description})
    addText(key, *text);
  for (const TSitePicture& p : album.Pictures) {
    addNumbers(key, {p.Id, p.AlbumId, qint64(p.Web.size())});
    for (const QString* text : {&p.Date, &p.Title, &p.Large})
      addText(key, *text);
    addImage(key, p.Thumb);
    addImage(key, p.Medium);
    for (const TSiteImage& web : p.Web)
      addImage(key, web);
  }
  hash.addData(key);
}

void AddSiteTextsToKey(QCryptographicHash& hash, const TSiteContent& content) {
  QByteArray key;
  addNumbers(key, {content.LanguageIndex});
  const TSiteTexts& t = content.Texts;
  for (const QString* text :
       {&content.SecondLanguage, &content.SiteTitle, &content.Language, &t.Albums, &t.Categories,
        &t.AllAlbums, &t.One, &t.Other, &t.Untitled, &t.Previous, &t.Next, &t.Feed, &t.Download})
    addText(key, *text);
  addText(key, content.Locale.name());
  addText(key, content.Locale.bcp47Name());
  hash.addData(key);
}
