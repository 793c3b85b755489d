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

bool TSiteContent::Read(const QString& publicDatabase, const QString& templateFolder,
                        QString* error, int language) {
  Texts = textsFor(Language);
  readSettings(templateFolder, language);
  // The text in the chosen language; the first language's where the second one has none.
  auto pick = [&](const QVariant& first, const QVariant& second) {
    const QString b = written(second.toString());
    return LanguageIndex == 1 && !b.trimmed().isEmpty() ? b : written(first.toString());
  };
  TSiteQueryConnection db(publicDatabase);
  QSqlQuery q;
  if (!db.run(q, QStringLiteral("SELECT album_id, face_picture_id, album_date, short_name, "
                                "long_name, description, directory, short_name2, long_name2, "
                                "description2 FROM album "
                                "WHERE is_private = 0 ORDER BY album_id DESC"))) {
    setContentError(error, db.error());
    return false;
  }
  std::map<int, size_t> albumIndex;
  std::map<int, QString> directories;
  while (q.next()) {
    TSiteAlbum a;
    a.Id = q.value(0).toInt();
    a.FaceId = q.value(1).toInt();
    a.Date = q.value(2).toString();
    a.Name = pick(q.value(4), q.value(8));
    if (a.Name.trimmed().isEmpty()) a.Name = pick(q.value(3), q.value(7));
    a.Description = pick(q.value(5), q.value(9));
    directories[a.Id] = q.value(6).toString();
    albumIndex[a.Id] = Albums.size();
    Albums.push_back(a);
  }
  // The extra web sizes, where the database has them.
  if (!db.run(q, QStringLiteral("SELECT COUNT(*) FROM pragma_table_info('picture') "
                                "WHERE name = 'web_images'"))) {
    setContentError(error, db.error());
    return false;
  }
  const bool web = q.next() && q.value(0).toInt() > 0;
  if (!db.run(q, QStringLiteral("SELECT picture_id, album_id, picture_date, title, "
                                "thumb_filename, thumb_width, thumb_height, medium_filename, "
                                "medium_size, medium_width, medium_height, large_filename, "
                                "large_size, %1, title2 FROM picture "
                                "WHERE is_private = 0 AND is_deleted = 0 AND thumb_size > 0 "
                                "ORDER BY album_id, sort_order, picture_id")
                     .arg(web ? QStringLiteral("web_images") : QStringLiteral("NULL")))) {
    setContentError(error, db.error());
    return false;
  }
  std::map<int, const TSitePicture*> byId;
  while (q.next()) {
    const auto album = albumIndex.find(q.value(1).toInt());
    if (album == albumIndex.end()) continue;
    TSitePicture p;
    p.Id = q.value(0).toInt();
    p.AlbumId = album->first;
    p.Date = q.value(2).toString();
    p.Title = pick(q.value(3), q.value(14));
    const QString dir = directories[p.AlbumId];
    p.Thumb = {SiteRelativePath(dir, q.value(4).toString(), true), q.value(5).toInt(),
               q.value(6).toInt()};
    if (p.Thumb.Url.isEmpty()) continue; // not below the site's folder: not shown
    if (q.value(8).toLongLong() > 0)
      p.Medium = {SiteRelativePath(dir, q.value(7).toString(), true), q.value(9).toInt(),
                  q.value(10).toInt()};
    if (p.Medium.Url.isEmpty()) p.Medium = p.Thumb;
    if (q.value(12).toLongLong() > 0) p.Large = SiteRelativePath(dir, q.value(11).toString(), true);
    for (const QJsonValue v : QJsonDocument::fromJson(q.value(13).toString().toUtf8()).array()) {
      const QJsonArray image = v.toArray();
      const QString url = SiteRelativePath(dir, image.at(2).toString(), true);
      if (!url.isEmpty() && image.at(0).toInt() > 0)
        p.Web.push_back({url, image.at(0).toInt(), image.at(1).toInt()});
    }
    Albums[album->second].Pictures.push_back(p);
  }
  // Albums without a shown picture do not exist on the site.
  std::erase_if(Albums, [](const TSiteAlbum& a) { return a.Pictures.empty(); });
  for (const TSiteAlbum& a : Albums)
    for (const TSitePicture& p : a.Pictures)
      byId[p.Id] = &p;
  if (!db.run(q, QStringLiteral("SELECT category_id, title, description, title2, description2 "
                                "FROM category "
                                "ORDER BY category_id"))) {
    setContentError(error, db.error());
    return false;
  }
  while (q.next())
    Categories.push_back(
        {q.value(0).toInt(), pick(q.value(1), q.value(3)), pick(q.value(2), q.value(4)), {}});
  if (!db.run(q,
              QStringLiteral("SELECT DISTINCT category_id, picture_id FROM picture_to_category"))) {
    setContentError(error, db.error());
    return false;
  }
  std::map<int, std::vector<int>> links;
  while (q.next())
    links[q.value(0).toInt()].push_back(q.value(1).toInt());
  // In the order of the albums (newest first) and of the pictures in them, as on the site.
  for (TSiteCategory& c : Categories)
    for (const TSiteAlbum& a : Albums)
      for (const TSitePicture& p : a.Pictures)
        if (std::find(links[c.Id].begin(), links[c.Id].end(), p.Id) != links[c.Id].end())
          c.Pictures.push_back(&p);
  std::erase_if(Categories, [](const TSiteCategory& c) { return c.Pictures.empty(); });
  QCollator collator(Locale);
  std::stable_sort(Categories.begin(), Categories.end(),
                   [&](const TSiteCategory& a, const TSiteCategory& b) {
                     return collator.compare(a.Title, b.Title) < 0;
                   });
  return true;
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

void addText(QCryptographicHash& key, const QString& text) {
  const qint64 size = text.size();
  key.addData(QByteArrayView(reinterpret_cast<const char*>(&size), sizeof(size)));
  key.addData(QByteArrayView(reinterpret_cast<const char*>(text.constData()),
                             text.size() * qsizetype(sizeof(QChar))));
}

void addNumbers(QCryptographicHash& key, std::initializer_list<qint64> numbers) {
  for (const qint64 n : numbers)
    key.addData(QByteArrayView(reinterpret_cast<const char*>(&n), sizeof(n)));
}

void addImage(QCryptographicHash& key, const TSiteImage& image) {
  addText(key, image.Url);
  addNumbers(key, {image.Width, image.Height});
}

} // namespace

void AddAlbumToKey(QCryptographicHash& key, const TSiteAlbum& album) {
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
}

void AddSiteTextsToKey(QCryptographicHash& key, const TSiteContent& content) {
  addNumbers(key, {content.LanguageIndex});
  const TSiteTexts& t = content.Texts;
  for (const QString* text :
       {&content.SecondLanguage, &content.SiteTitle, &content.Language, &t.Albums, &t.Categories,
        &t.AllAlbums, &t.One, &t.Other, &t.Untitled, &t.Previous, &t.Next, &t.Feed, &t.Download})
    addText(key, *text);
  addText(key, content.Locale.name());
  addText(key, content.Locale.bcp47Name());
}
