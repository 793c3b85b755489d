#include "processing/sitepages.h"

#include "util/exif.h"
#include "util/helpers.h"
#include "util/jpegcodec.h"
#include "util/programfolder.h"

#include <QCollator>
#include <QDate>
#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QUrl>
#include <QUuid>
#include <QVariant>
#include <map>
#include <vector>

namespace {

void setError(QString* error, const QString& text) {
  if (error) *error = text;
}

// One SQLite file on a connection of its own for the lifetime of this object.
class TConnection {
public:
  explicit TConnection(const QString& file)
      : name_(QStringLiteral("lumenfold-pages-%1").arg(QUuid::createUuid().toString())) {
    QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), name_);
    db.setDatabaseName(file);
    if (!db.open()) error_ = db.lastError().text();
  }
  ~TConnection() {
    {
      QSqlDatabase db = QSqlDatabase::database(name_, false);
      if (db.isOpen()) db.close();
    }
    QSqlDatabase::removeDatabase(name_);
  }
  const QString& error() const { return error_; }
  // Runs the statement with its values; false (with the database's message kept) on failure.
  bool run(QSqlQuery& query, const QString& sql, const QVariantList& values = {}) {
    if (!error_.isEmpty()) return false;
    query = QSqlQuery(QSqlDatabase::database(name_, false));
    query.setForwardOnly(true);
    bool ok = query.prepare(sql);
    for (const QVariant& v : values)
      query.addBindValue(v);
    ok = ok && query.exec();
    if (!ok) error_ = query.lastError().text();
    return ok;
  }
  bool exec(const QString& sql, const QVariantList& values = {}) {
    QSqlQuery q;
    return run(q, sql, values);
  }

private:
  QString name_;
  QString error_;
};

// A stored relative path ('\' or '/' between parts) below a folder, as a site address or a
// file path; empty when it leaves the folder or names nothing.
QString sitePath(const QString& directory, const QString& relative, bool encode) {
  QStringList parts;
  for (const QString& piece : {directory, relative})
    for (const QString& part : piece.split(QRegularExpression(QStringLiteral("[\\\\/]+")))) {
      if (part.isEmpty() || part == QLatin1String(".")) continue;
      if (part == QLatin1String("..")) return QString();
      parts << (encode ? QString::fromLatin1(QUrl::toPercentEncoding(part)) : part);
    }
  return parts.join(QLatin1Char('/'));
}

QString esc(const QString& text) {
  return text.toHtmlEscaped();
}

struct TWebImage {
  QString Url;
  int Width = -1, Height = -1;
};

struct TPicture {
  int Id = 0, AlbumId = 0;
  QString Date, Title;
  TWebImage Thumb, Medium;
  QString Large; // address of the large image, empty when none is packed
};

struct TAlbum {
  int Id = 0, FaceId = -1;
  QString Date, Name, Description;
  std::vector<TPicture> Pictures;
};

struct TCategory {
  int Id = 0;
  QString Title, Description;
  std::vector<const TPicture*> Pictures;
};

// Texts of the pages in the site's first language (English where it has none of its own).
struct TTexts {
  QString Albums, Categories, AllAlbums, One, Other, Untitled, Previous, Next, Feed, Download;
};

TTexts textsFor(const QString& code) {
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

class TPageWriter {
public:
  TPageWriter(const TSitePagesInput& input, QString skeleton)
      : input_(input), skeleton_(std::move(skeleton)) {}

  bool Read(QString* error);
  bool Write(QList<QPair<QString, QString>>& files, QString* error);

private:
  bool readSettings();
  QString dateText(const QString& stored) const;
  QString countText(qsizetype n) const {
    return (n == 1 ? texts_.One : texts_.Other).arg(locale_.toString(qlonglong(n)));
  }
  QString pictureName(const TPicture& p, const QString& pageName, qsizetype index,
                      qsizetype count) const {
    if (!p.Title.trimmed().isEmpty()) return p.Title;
    return texts_.Untitled.arg(pageName, locale_.toString(qlonglong(index + 1)),
                               locale_.toString(qlonglong(count)));
  }
  QString img(const QString& cls, const TPicture& p, const QString& alt, const QString& sizes,
              bool first) const;
  QString tiles(const std::vector<const TPicture*>& pictures, const QString& pageName) const;
  QString page(const QString& file, const QString& route, const QString& title,
               const QString& description, const TPicture* image, const QString& content);
  bool save(const QString& name, const QByteArray& bytes, QList<QPair<QString, QString>>& files,
            QString* error);

  const TSitePagesInput& input_;
  QString skeleton_;
  QString siteTitle_ = QStringLiteral("Photo gallery");
  QString language_ = QStringLiteral("en");
  QLocale locale_{QLocale::English};
  TTexts texts_ = textsFor(QStringLiteral("en"));
  std::vector<TAlbum> albums_; // newest first, as the site lists them
  std::vector<TCategory> categories_;
  QStringList addresses_; // of every page, for the sitemap
};

bool TPageWriter::readSettings() {
  QFile file(IncludeTrailingSeparator(input_.TemplateFolder) + QStringLiteral("settings.json"));
  if (!file.open(QIODevice::ReadOnly)) return true; // the defaults
  const QJsonObject settings = QJsonDocument::fromJson(file.readAll()).object();
  const QJsonArray titles = settings.value(QStringLiteral("title")).toArray();
  if (!titles.isEmpty() && !titles.at(0).toString().trimmed().isEmpty())
    siteTitle_ = titles.at(0).toString();
  const QJsonArray languages = settings.value(QStringLiteral("languages")).toArray();
  const QString code = languages.isEmpty()
                           ? QString()
                           : languages.at(0).toObject().value(QStringLiteral("code")).toString();
  static const QRegularExpression tag(QStringLiteral("^[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*$"));
  if (tag.match(code).hasMatch()) {
    language_ = code;
    locale_ = QLocale(code);
    texts_ = textsFor(code);
  }
  return true;
}

QString TPageWriter::dateText(const QString& stored) const {
  static const QRegularExpression ymd(QStringLiteral("^(\\d{4})-(\\d{1,2})-(\\d{1,2})"));
  const QRegularExpressionMatch m = ymd.match(stored.trimmed());
  if (!m.hasMatch()) return stored.trimmed();
  const QDate date(m.captured(1).toInt(), m.captured(2).toInt(), m.captured(3).toInt());
  if (!date.isValid()) return stored.trimmed();
  const QString lang = language_.section(QLatin1Char('-'), 0, 0).toLower();
  if (lang == QLatin1String("en")) return locale_.toString(date, QStringLiteral("MMMM d, yyyy"));
  if (lang == QLatin1String("de")) return locale_.toString(date, QStringLiteral("d. MMMM yyyy"));
  return locale_.toString(date, QStringLiteral("d MMMM yyyy"));
}

bool TPageWriter::Read(QString* error) {
  readSettings();
  TConnection db(input_.PublicDatabase);
  QSqlQuery q;
  if (!db.run(q, QStringLiteral("SELECT album_id, face_picture_id, album_date, short_name, "
                                "long_name, description, directory FROM album "
                                "WHERE is_private = 0 ORDER BY album_id DESC"))) {
    setError(error, db.error());
    return false;
  }
  std::map<int, size_t> albumIndex;
  std::map<int, QString> directories;
  while (q.next()) {
    TAlbum a;
    a.Id = q.value(0).toInt();
    a.FaceId = q.value(1).toInt();
    a.Date = q.value(2).toString();
    a.Name = written(q.value(4).toString());
    if (a.Name.trimmed().isEmpty()) a.Name = written(q.value(3).toString());
    a.Description = written(q.value(5).toString());
    directories[a.Id] = q.value(6).toString();
    albumIndex[a.Id] = albums_.size();
    albums_.push_back(a);
  }
  if (!db.run(q, QStringLiteral("SELECT picture_id, album_id, picture_date, title, "
                                "thumb_filename, thumb_width, thumb_height, medium_filename, "
                                "medium_size, medium_width, medium_height, large_filename, "
                                "large_size FROM picture "
                                "WHERE is_private = 0 AND is_deleted = 0 AND thumb_size > 0 "
                                "ORDER BY album_id, sort_order, picture_id"))) {
    setError(error, db.error());
    return false;
  }
  std::map<int, const TPicture*> byId;
  while (q.next()) {
    const auto album = albumIndex.find(q.value(1).toInt());
    if (album == albumIndex.end()) continue;
    TPicture p;
    p.Id = q.value(0).toInt();
    p.AlbumId = album->first;
    p.Date = q.value(2).toString();
    p.Title = q.value(3).toString();
    const QString dir = directories[p.AlbumId];
    p.Thumb = {sitePath(dir, q.value(4).toString(), true), q.value(5).toInt(), q.value(6).toInt()};
    if (p.Thumb.Url.isEmpty()) continue; // not below the site's folder: not shown
    if (q.value(8).toLongLong() > 0)
      p.Medium = {sitePath(dir, q.value(7).toString(), true), q.value(9).toInt(),
                  q.value(10).toInt()};
    if (p.Medium.Url.isEmpty()) p.Medium = p.Thumb;
    if (q.value(12).toLongLong() > 0) p.Large = sitePath(dir, q.value(11).toString(), true);
    albums_[album->second].Pictures.push_back(p);
  }
  // Albums without a shown picture do not exist on the site.
  std::erase_if(albums_, [](const TAlbum& a) { return a.Pictures.empty(); });
  for (const TAlbum& a : albums_)
    for (const TPicture& p : a.Pictures)
      byId[p.Id] = &p;
  if (!db.run(q, QStringLiteral("SELECT category_id, title, description FROM category "
                                "ORDER BY category_id"))) {
    setError(error, db.error());
    return false;
  }
  while (q.next())
    categories_.push_back(
        {q.value(0).toInt(), written(q.value(1).toString()), written(q.value(2).toString()), {}});
  if (!db.run(q,
              QStringLiteral("SELECT DISTINCT category_id, picture_id FROM picture_to_category"))) {
    setError(error, db.error());
    return false;
  }
  std::map<int, std::vector<int>> links;
  while (q.next())
    links[q.value(0).toInt()].push_back(q.value(1).toInt());
  // In the order of the albums (newest first) and of the pictures in them, as on the site.
  for (TCategory& c : categories_)
    for (const TAlbum& a : albums_)
      for (const TPicture& p : a.Pictures)
        if (std::find(links[c.Id].begin(), links[c.Id].end(), p.Id) != links[c.Id].end())
          c.Pictures.push_back(&p);
  std::erase_if(categories_, [](const TCategory& c) { return c.Pictures.empty(); });
  QCollator collator(locale_);
  std::stable_sort(categories_.begin(), categories_.end(),
                   [&](const TCategory& a, const TCategory& b) {
                     return collator.compare(a.Title, b.Title) < 0;
                   });
  return true;
}

// The thumbnail and the medium image as choices for the browser; width and height keep the
// page from moving when the image arrives.
QString TPageWriter::img(const QString& cls, const TPicture& p, const QString& alt,
                         const QString& sizes, bool first) const {
  const bool large = cls != QLatin1String("thumb") || sizes.contains(QLatin1String("vw"));
  const TWebImage& main = large ? p.Medium : p.Thumb;
  QString html =
      QStringLiteral("<img class=\"%1\" src=\"%2\" alt=\"%3\"").arg(cls, esc(main.Url), esc(alt));
  if (main.Width > 0 && main.Height > 0)
    html += QStringLiteral(" width=\"%1\" height=\"%2\"").arg(main.Width).arg(main.Height);
  if (p.Thumb.Width > 0 && p.Medium.Width > p.Thumb.Width && !sizes.isEmpty())
    html += QStringLiteral(" srcset=\"%1 %2w, %3 %4w\" sizes=\"%5\"")
                .arg(esc(p.Thumb.Url))
                .arg(p.Thumb.Width)
                .arg(esc(p.Medium.Url))
                .arg(p.Medium.Width)
                .arg(sizes);
  // The first image of a page is the largest of its first screen: it is fetched at once.
  html += first ? QStringLiteral(" fetchpriority=\"high\" decoding=\"async\">")
                : QStringLiteral(" loading=\"lazy\" decoding=\"async\">");
  return html;
}

// How many tiles an album or category page holds as HTML; the scripts add the others.
constexpr size_t kStaticTiles = 240;
// Tiles that are loaded at once: more than a large screen shows.
constexpr size_t kEagerTiles = 24;

QString TPageWriter::tiles(const std::vector<const TPicture*>& pictures,
                           const QString& pageName) const {
  QString html = QStringLiteral("<ul class=\"grid\" data-static=\"%1\" data-count=\"%2\">")
                     .arg(std::min(pictures.size(), kStaticTiles))
                     .arg(pictures.size());
  for (size_t i = 0; i < pictures.size() && i < kStaticTiles; ++i) {
    const TPicture& p = *pictures[i];
    html += QStringLiteral("<li class=\"tile\"><a class=\"tile-link\" href=\"%1\" "
                           "data-picture-id=\"%2\" data-big=\"%3\">")
                .arg(PicturePageName(p.Id))
                .arg(p.Id)
                .arg(esc(p.Medium.Url));
    QString tile =
        img(QStringLiteral("thumb"), p,
            pictureName(p, pageName, qsizetype(i), qsizetype(pictures.size())), QString(), i == 0);
    if (i > 0 && i < kEagerTiles) tile.replace(QStringLiteral(" loading=\"lazy\""), QString());
    html += tile + QStringLiteral("</a></li>");
  }
  return html + QStringLiteral("</ul>");
}

QString TPageWriter::page(const QString& file, const QString& route, const QString& title,
                          const QString& description, const TPicture* image,
                          const QString& content) {
  const QString& base = input_.SiteAddress;
  QString head = QStringLiteral("<title>%1</title>\n").arg(esc(title));
  const QString summary = description.simplified().left(300);
  if (!summary.isEmpty())
    head += QStringLiteral("<meta name=\"description\" content=\"%1\">\n").arg(esc(summary));
  head += QStringLiteral("<meta property=\"og:type\" content=\"%1\">\n")
              .arg(route.startsWith(QLatin1String("album/")) && route.count('/') == 2
                       ? QStringLiteral("article")
                       : QStringLiteral("website"));
  head += QStringLiteral("<meta property=\"og:title\" content=\"%1\">\n").arg(esc(title));
  head += QStringLiteral("<meta property=\"og:site_name\" content=\"%1\">\n").arg(esc(siteTitle_));
  if (!summary.isEmpty())
    head += QStringLiteral("<meta property=\"og:description\" content=\"%1\">\n").arg(esc(summary));
  head += QStringLiteral("<meta name=\"twitter:card\" content=\"%1\">\n")
              .arg(image ? QStringLiteral("summary_large_image") : QStringLiteral("summary"));
  if (!base.isEmpty()) {
    const QString address = base + (file == QLatin1String("index.html") ? QString() : file);
    addresses_ << address;
    head += QStringLiteral("<link rel=\"canonical\" href=\"%1\">\n").arg(esc(address));
    head += QStringLiteral("<meta property=\"og:url\" content=\"%1\">\n").arg(esc(address));
    if (image) {
      head += QStringLiteral("<meta property=\"og:image\" content=\"%1\">\n")
                  .arg(esc(base + image->Medium.Url));
      if (image->Medium.Width > 0)
        head += QStringLiteral("<meta property=\"og:image:width\" content=\"%1\">\n"
                               "<meta property=\"og:image:height\" content=\"%2\">\n")
                    .arg(image->Medium.Width)
                    .arg(image->Medium.Height);
    }
  }
  head += QStringLiteral("<link rel=\"alternate\" type=\"application/atom+xml\" href=\"feed.xml\" "
                         "title=\"%1\">")
              .arg(esc(siteTitle_));
  QString html = skeleton_;
  static const QRegularExpression titleTag(QStringLiteral("<title>[^<]*</title>"));
  html.replace(titleTag, head);
  static const QRegularExpression htmlTag(QStringLiteral("<html[^>]*>"));
  html.replace(
      htmlTag,
      QStringLiteral("<html lang=\"%1\" data-page=\"%2\">").arg(esc(language_), esc(route)));
  static const QRegularExpression noscript(QStringLiteral("<noscript>.*?</noscript>\\n?"),
                                           QRegularExpression::DotMatchesEverythingOption);
  html.remove(noscript);
  html.replace(QStringLiteral("href=\"#/\">Photo gallery</a>"),
               QStringLiteral("href=\"index.html\">%1</a>").arg(esc(siteTitle_)));
  const qsizetype open = html.indexOf(QLatin1String("<main id=\"main\">"));
  const qsizetype close = html.indexOf(QLatin1String("</main>"), open);
  const qsizetype start = open + qsizetype(qstrlen("<main id=\"main\">"));
  return html.left(start) + QLatin1Char('\n') + content + QLatin1Char('\n') + html.mid(close);
}

bool TPageWriter::save(const QString& name, const QByteArray& bytes,
                       QList<QPair<QString, QString>>& files, QString* error) {
  const QString path = IncludeTrailingSeparator(input_.OutputFolder) + name;
  const QString failure = WriteFileReplacing(path, bytes);
  if (!failure.isEmpty()) {
    setError(error, QStringLiteral("\"%1\" cannot be written: %2").arg(path, failure));
    return false;
  }
  files << qMakePair(name, path);
  return true;
}

bool TPageWriter::Write(QList<QPair<QString, QString>>& files, QString* error) {
  auto out = [&](const QString& name, const QString& html) {
    return save(name, html.toUtf8(), files, error);
  };
  const QString backHome =
      QStringLiteral("<a class=\"back\" href=\"index.html\">← %1</a>").arg(esc(texts_.AllAlbums));
  auto heading = [](const QString& cls, const QString& text) {
    return QStringLiteral("<h1 class=\"%1\" tabindex=\"-1\">%2</h1>").arg(cls, esc(text));
  };
  auto para = [](const QString& cls, const QString& text) {
    return text.trimmed().isEmpty() ? QString()
                                    : QStringLiteral("<p class=\"%1\">%2</p>").arg(cls, esc(text));
  };
  auto joined = [](const QStringList& parts) {
    QStringList kept;
    for (const QString& p : parts)
      if (!p.trimmed().isEmpty()) kept << p;
    return kept.join(QStringLiteral(" · "));
  };
  auto cover = [](const TAlbum& a) -> const TPicture& {
    for (const TPicture& p : a.Pictures)
      if (p.Id == a.FaceId) return p;
    return a.Pictures.front();
  };

  // The home page: the albums with their covers, then the categories.
  QString home = heading(QStringLiteral("section-title"), texts_.Albums);
  home += QStringLiteral("<ul class=\"albums\">");
  for (size_t i = 0; i < albums_.size(); ++i) {
    const TAlbum& a = albums_[i];
    home += QStringLiteral("<li class=\"album-card\"><a class=\"album-link\" href=\"%1\" "
                           "data-album-id=\"%2\">")
                .arg(AlbumPageName(a.Id))
                .arg(a.Id);
    home += img(QStringLiteral("thumb"), cover(a), a.Name,
                QStringLiteral("(max-width: 600px) 100vw, 340px"), i == 0);
    home += QStringLiteral("<div class=\"album-text\"><h2 class=\"album-name\">%1</h2>")
                .arg(esc(a.Name));
    home += para(QStringLiteral("meta"),
                 joined({dateText(a.Date), countText(qsizetype(a.Pictures.size()))}));
    home += para(QStringLiteral("description"), a.Description) + QStringLiteral("</div></a></li>");
  }
  home += QStringLiteral("</ul>");
  if (!categories_.empty()) {
    home += QStringLiteral("<h2 class=\"section-title\">%1</h2><ul class=\"categories\">")
                .arg(esc(texts_.Categories));
    for (const TCategory& c : categories_)
      home += QStringLiteral("<li><a class=\"category-link\" href=\"%1\" data-category-id=\"%2\">"
                             "<span class=\"category-name\">%3</span><span class=\"count\">%4"
                             "</span></a></li>")
                  .arg(CategoryPageName(c.Id))
                  .arg(c.Id)
                  .arg(esc(c.Title), esc(countText(qsizetype(c.Pictures.size()))));
    home += QStringLiteral("</ul>");
  }
  QStringList albumNames;
  for (const TAlbum& a : albums_)
    albumNames << a.Name;
  if (!out(QStringLiteral("index.html"),
           page(QStringLiteral("index.html"), QString(), siteTitle_, albumNames.join(", "),
                albums_.empty() ? nullptr : &cover(albums_.front()), home)))
    return false;

  for (const TAlbum& a : albums_) {
    std::vector<const TPicture*> pictures;
    for (const TPicture& p : a.Pictures)
      pictures.push_back(&p);
    const QString meta = joined({dateText(a.Date), countText(qsizetype(pictures.size()))});
    const QString content = backHome + heading(QStringLiteral("page-title"), a.Name) +
                            para(QStringLiteral("meta"), meta) +
                            para(QStringLiteral("description"), a.Description) +
                            tiles(pictures, a.Name);
    if (!out(AlbumPageName(a.Id),
             page(AlbumPageName(a.Id), QStringLiteral("album/%1").arg(a.Id),
                  a.Name + QStringLiteral(" – ") + siteTitle_,
                  a.Description.trimmed().isEmpty() ? meta : a.Description, &cover(a), content)))
      return false;
    // A page per picture, with the way back to its album and on to its neighbours.
    for (size_t i = 0; i < pictures.size(); ++i) {
      const TPicture& p = *pictures[i];
      const QString name = pictureName(p, a.Name, qsizetype(i), qsizetype(pictures.size()));
      QString body = QStringLiteral("<a class=\"back\" href=\"%1\">← %2</a>")
                         .arg(AlbumPageName(a.Id), esc(a.Name)) +
                     heading(QStringLiteral("page-title"), name);
      body += QStringLiteral("<figure class=\"photo\">") +
              img(QStringLiteral("photo-image"), p, name, QString(), true);
      const QString date = dateText(p.Date);
      if (!date.isEmpty())
        body += QStringLiteral("<figcaption class=\"meta\">%1</figcaption>").arg(esc(date));
      body += QStringLiteral("</figure>");
      if (input_.Download == 1 || input_.Download == 2)
        body += QStringLiteral("<p><a class=\"download\" href=\"%1\" download>%2</a></p>")
                    .arg(esc(input_.Download == 2 && !p.Large.isEmpty() ? p.Large : p.Medium.Url),
                         esc(texts_.Download));
      body += QStringLiteral("<nav class=\"photo-nav\" aria-label=\"%1\">").arg(esc(a.Name));
      if (i > 0)
        body += QStringLiteral("<a rel=\"prev\" href=\"%1\">← %2</a>")
                    .arg(PicturePageName(pictures[i - 1]->Id), esc(texts_.Previous));
      if (i + 1 < pictures.size())
        body += QStringLiteral("<a rel=\"next\" href=\"%1\">%2 →</a>")
                    .arg(PicturePageName(pictures[i + 1]->Id), esc(texts_.Next));
      body += QStringLiteral("</nav>");
      if (!out(PicturePageName(p.Id),
               page(PicturePageName(p.Id), QStringLiteral("album/%1/%2").arg(a.Id).arg(p.Id),
                    name + QStringLiteral(" – ") + a.Name + QStringLiteral(" – ") + siteTitle_,
                    joined({name, date, a.Name}), &p, body)))
        return false;
    }
  }
  for (const TCategory& c : categories_) {
    const QString meta = countText(qsizetype(c.Pictures.size()));
    const QString content = backHome + heading(QStringLiteral("page-title"), c.Title) +
                            para(QStringLiteral("meta"), meta) +
                            para(QStringLiteral("description"), c.Description) +
                            tiles(c.Pictures, c.Title);
    if (!out(CategoryPageName(c.Id),
             page(CategoryPageName(c.Id), QStringLiteral("category/%1").arg(c.Id),
                  c.Title + QStringLiteral(" – ") + siteTitle_,
                  c.Description.trimmed().isEmpty() ? c.Title + QStringLiteral(": ") + meta
                                                    : c.Description,
                  c.Pictures.front(), content)))
      return false;
  }

  // The feed of the albums, newest first; its times come from the albums' dates, so the same
  // albums give the same file.
  const QString& base = input_.SiteAddress;
  std::vector<const TAlbum*> byDate;
  for (const TAlbum& a : albums_)
    byDate.push_back(&a);
  std::stable_sort(byDate.begin(), byDate.end(), [](const TAlbum* a, const TAlbum* b) {
    return a->Date.left(10) > b->Date.left(10);
  });
  auto stamp = [](const QString& date) {
    const QDate d = QDate::fromString(date.left(10), QStringLiteral("yyyy-MM-dd"));
    return (d.isValid() ? d : QDate(2000, 1, 1)).toString(Qt::ISODate) +
           QStringLiteral("T00:00:00Z");
  };
  auto id = [&](const QString& file) {
    return base.isEmpty() ? QStringLiteral("urn:lumenfold:site:") + file : base + file;
  };
  QString feed = QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                                "<feed xmlns=\"http://www.w3.org/2005/Atom\" xml:lang=\"%1\">\n"
                                "<title>%2</title>\n<id>%3</id>\n<updated>%4</updated>\n"
                                "<link rel=\"alternate\" href=\"%5\"/>\n")
                     .arg(esc(language_), esc(siteTitle_), esc(id(QStringLiteral("feed.xml"))),
                          stamp(byDate.empty() ? QString() : byDate.front()->Date),
                          esc(base.isEmpty() ? QStringLiteral("index.html") : base));
  for (const TAlbum* a : byDate) {
    feed +=
        QStringLiteral("<entry>\n<title>%1</title>\n<id>%2</id>\n<updated>%3</updated>\n"
                       "<author><name>%4</name></author>\n<link rel=\"alternate\" href=\"%5\"/>\n")
            .arg(esc(a->Name), esc(id(AlbumPageName(a->Id))), stamp(a->Date), esc(siteTitle_),
                 esc(base + AlbumPageName(a->Id)));
    const QString summary =
        joined({a->Description.simplified(), countText(qsizetype(a->Pictures.size()))});
    feed += QStringLiteral("<summary>%1</summary>\n</entry>\n").arg(esc(summary));
  }
  feed += QStringLiteral("</feed>\n");
  if (!out(QStringLiteral("feed.xml"), feed)) return false;

  if (base.isEmpty()) return true;
  QString sitemap =
      QStringLiteral("<?xml version=\"1.0\" encoding=\"utf-8\"?>\n"
                     "<urlset xmlns=\"http://www.sitemaps.org/schemas/sitemap/0.9\">\n");
  for (const QString& address : std::as_const(addresses_))
    sitemap += QStringLiteral("<url><loc>%1</loc></url>\n").arg(esc(address));
  sitemap += QStringLiteral("</urlset>\n");
  return out(QStringLiteral("sitemap.xml"), sitemap) &&
         out(QStringLiteral("robots.txt"),
             QStringLiteral("User-agent: *\nAllow: /\nSitemap: %1sitemap.xml\n").arg(base));
}

} // namespace

QString AlbumPageName(int albumId) {
  return QStringLiteral("album-%1.html").arg(albumId);
}

QString CategoryPageName(int categoryId) {
  return QStringLiteral("category-%1.html").arg(categoryId);
}

QString PicturePageName(int pictureId) {
  return QStringLiteral("photo-%1.html").arg(pictureId);
}

bool IsSitePageEntry(const QString& entry) {
  static const QRegularExpression pages(QStringLiteral(
      "^((album|category|photo)-\\d+\\.html|index\\.html|feed\\.xml|sitemap\\.xml|robots\\.txt)$"));
  return pages.match(entry).hasMatch();
}

bool IsSiteTemplateFile(const QString& relative) {
  static const QRegularExpression own(
      QStringLiteral("^(readme\\.txt|template\\.json|preview_(big|small)\\.jpg)$"),
      QRegularExpression::CaseInsensitiveOption);
  return !own.match(relative).hasMatch();
}

bool AddWebImageDetails(const QString& publicDatabase, const QString& sourceDatabase,
                        bool cameraDetails, QString* error) {
  std::map<int, QString> folders;
  {
    TConnection source(sourceDatabase);
    QSqlQuery q;
    if (!source.run(q, QStringLiteral("SELECT album_id, path FROM album"))) {
      setError(error, source.error());
      return false;
    }
    while (q.next())
      folders[q.value(0).toInt()] = q.value(1).toString();
  }
  TConnection db(publicDatabase);
  const char* const kinds[] = {"thumb", "medium", "large"};
  for (const char* kind : kinds)
    for (const char* side : {"width", "height"})
      db.exec(QStringLiteral("ALTER TABLE picture ADD COLUMN %1_%2 INTEGER NOT NULL DEFAULT -1")
                  .arg(QLatin1String(kind), QLatin1String(side)));
  for (const char* column : {"camera TEXT", "lens TEXT", "focal_length REAL", "aperture REAL",
                             "exposure_time TEXT", "iso INTEGER", "taken TEXT"})
    db.exec(QStringLiteral("ALTER TABLE picture ADD COLUMN %1").arg(QLatin1String(column)));
  QSqlQuery q;
  if (!db.run(q, QStringLiteral("SELECT picture_id, album_id, thumb_filename, medium_filename, "
                                "large_filename, original_filename FROM picture"))) {
    setError(error, db.error());
    return false;
  }
  struct TSizes {
    int id;
    QSize size[3];
    QVariantList camera; // camera, lens, focal length, aperture, exposure, ISO, taken
  };
  std::vector<TSizes> found;
  while (q.next()) {
    TSizes s{q.value(0).toInt(), {}, {}};
    const QString folder = folders[q.value(1).toInt()];
    const QString original = sitePath(QString(), q.value(5).toString(), false);
    if (cameraDetails && !folder.isEmpty() && !original.isEmpty()) {
      // Only the shot's details: the reader never takes positions or serial numbers.
      const TCameraMetadata m = ReadCameraMetadata(IncludeTrailingSeparator(folder) + original);
      auto text = [](const QString& t) { return t.isEmpty() ? QVariant() : QVariant(t); };
      auto number = [](double v) { return v > 0 ? QVariant(v) : QVariant(); };
      QVariant exposure;
      if (m.ExposureNum > 0 && m.ExposureDen > 0)
        exposure = m.ExposureNum >= m.ExposureDen
                       ? QString::number(double(m.ExposureNum) / m.ExposureDen, 'g', 3)
                       : QStringLiteral("1/%1").arg(qRound(double(m.ExposureDen) / m.ExposureNum));
      const QDateTime taken = m.CaptureDate();
      s.camera = {text(m.Camera),
                  text(m.Lens),
                  number(m.FocalLength),
                  number(m.Aperture),
                  exposure,
                  m.Iso > 0 ? QVariant(m.Iso) : QVariant(),
                  taken.isValid() ? QVariant(taken.toString(QStringLiteral("yyyy-MM-dd HH:mm")))
                                  : QVariant()};
    }
    for (int k = 0; k < 3; ++k) {
      const QString relative = sitePath(QString(), q.value(2 + k).toString(), false);
      if (folder.isEmpty() || relative.isEmpty()) continue;
      try {
        s.size[k] = ReadJpegSize(IncludeTrailingSeparator(folder) + relative);
      } catch (const std::exception&) {
        // No such file or none readable: the size stays unknown.
      }
    }
    found.push_back(s);
  }
  q = QSqlQuery();
  bool ok = db.exec(QStringLiteral("BEGIN"));
  for (const TSizes& s : found) {
    QVariantList values;
    for (const QSize& size : s.size)
      values << (size.isValid() ? size.width() : -1) << (size.isValid() ? size.height() : -1);
    values << (s.camera.isEmpty() ? QVariantList(7) : s.camera) << s.id;
    ok = ok && db.exec(QStringLiteral("UPDATE picture SET thumb_width = ?, thumb_height = ?, "
                                      "medium_width = ?, medium_height = ?, large_width = ?, "
                                      "large_height = ?, camera = ?, lens = ?, focal_length = ?, "
                                      "aperture = ?, exposure_time = ?, iso = ?, taken = ? "
                                      "WHERE picture_id = ?"),
                       values);
  }
  ok = ok && db.exec(QStringLiteral("COMMIT"));
  if (!ok) setError(error, db.error());
  return ok;
}

bool WriteSitePages(const TSitePagesInput& input, QList<QPair<QString, QString>>& files,
                    QString* error) {
  files.clear();
  QFile file(IncludeTrailingSeparator(input.TemplateFolder) + QStringLiteral("index.html"));
  if (!file.open(QIODevice::ReadOnly)) return true; // no skeleton, no pages
  const QString skeleton = QString::fromUtf8(file.readAll());
  if (!skeleton.contains(QLatin1String("<main id=\"main\">")) ||
      !skeleton.contains(QLatin1String("</main>")))
    return true;
  TPageWriter writer(input, skeleton);
  return writer.Read(error) && writer.Write(files, error);
}
