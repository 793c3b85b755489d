#include "processing/imagesizecache.h"
#include "processing/publicsite.h"
#include "processing/sitepages.h"
#include "processing/sitequery.h"
#include "util/helpers.h"
#include "util/imaging/exif.h"
#include "util/programfolder.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSize>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <vector>

namespace {

void setDetailsError(QString* error, const QString& text) {
  if (error) *error = text;
}

// A value of a row as JSON: null, a number or a string.
void appendJsonValue(QByteArray& out, const QVariant& value) {
  if (value.isNull()) {
    out += "null";
  } else if (value.typeId() == QMetaType::Double) {
    const double v = value.toDouble();
    out += std::isfinite(v) ? QByteArray::number(v, 'g', 17) : QByteArray("null");
  } else if (value.typeId() == QMetaType::Int || value.typeId() == QMetaType::LongLong) {
    out += QByteArray::number(value.toLongLong());
  } else {
    out += '"';
    for (const char c : value.toString().toUtf8()) {
      if (c == '"' || c == '\\') {
        out += '\\';
        out += c;
      } else if (uchar(c) < 0x20) {
        out += "\\u00" + QByteArray::number(uchar(c), 16).rightJustified(2, '0');
      } else {
        out += c;
      }
    }
    out += '"';
  }
}

} // namespace

bool AddWebImageDetails(const QString& publicDatabase, const QString& sourceDatabase,
                        bool cameraDetails, QString* error, const QList<int>& webSizes) {
  std::map<int, QString> folders;
  {
    TSiteQueryConnection source(sourceDatabase);
    QSqlQuery q;
    if (!source.run(q, QStringLiteral("SELECT album_id, path FROM album"))) {
      setDetailsError(error, source.error());
      return false;
    }
    while (q.next())
      folders[q.value(0).toInt()] = q.value(1).toString();
  }
  TSiteQueryConnection db(publicDatabase);
  // The run's own copy, removed when this fails: no journal on the disk.
  db.exec(QStringLiteral("PRAGMA journal_mode=MEMORY"));
  const char* const kinds[] = {"thumb", "medium", "large"};
  for (const char* kind : kinds)
    for (const char* side : {"width", "height"})
      db.exec(QStringLiteral("ALTER TABLE picture ADD COLUMN %1_%2 INTEGER NOT NULL DEFAULT -1")
                  .arg(QLatin1String(kind), QLatin1String(side)));
  for (const char* column : {"camera TEXT", "lens TEXT", "focal_length REAL", "aperture REAL",
                             "exposure_time TEXT", "iso INTEGER", "taken TEXT"})
    db.exec(QStringLiteral("ALTER TABLE picture ADD COLUMN %1").arg(QLatin1String(column)));
  db.exec(QStringLiteral("ALTER TABLE picture ADD COLUMN web_images TEXT"));
  QSqlQuery q;
  if (!db.run(q, QStringLiteral("SELECT picture_id, album_id, thumb_filename, medium_filename, "
                                "large_filename, original_filename FROM picture"))) {
    setDetailsError(error, db.error());
    return false;
  }
  struct TSizes {
    int id;
    QSize size[3];
    QVariantList camera; // camera, lens, focal length, aperture, exposure, ISO, taken
    QVariant web;        // the extra web sizes as [[width, height, file], ...], smallest first
  };
  std::vector<TSizes> found;
  // The sizes of files unchanged since an earlier run come from each album's cache.
  std::map<int, std::unique_ptr<TImageSizeCache>> caches;
  while (q.next()) {
    TSizes s{q.value(0).toInt(), {}, {}, {}};
    const int albumId = q.value(1).toInt();
    const QString folder = folders[albumId];
    std::unique_ptr<TImageSizeCache>& cache = caches[albumId];
    if (!cache) cache = std::make_unique<TImageSizeCache>(folder);
    const QString original = SiteRelativePath(QString(), q.value(5).toString(), false);
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
      const QString relative = SiteRelativePath(QString(), q.value(2 + k).toString(), false);
      // No such file or none readable: the size stays unknown.
      if (!folder.isEmpty() && !relative.isEmpty()) s.size[k] = cache->Size(relative);
    }
    // The extra web sizes that exist, each larger than the one before it, those above the
    // medium image larger than it too (a file a size left behind when the picture became
    // smaller is not named).
    QJsonArray web;
    const QString medium = SiteRelativePath(QString(), q.value(3).toString(), false);
    const int mediumEdge = std::max(s.size[1].width(), s.size[1].height());
    int edge = 0;
    for (int size : webSizes) {
      const QString relative = WebSizeFileName(medium, size);
      if (folder.isEmpty() || relative.isEmpty() || mediumEdge <= 0) break;
      const QSize made = cache->Size(relative);
      if (!made.isValid()) continue; // not made for this picture
      const int longEdge = std::max(made.width(), made.height());
      const int floor = size < mediumEdge ? edge : std::max(edge, mediumEdge);
      if (longEdge <= floor || longEdge > size) continue;
      web.append(QJsonArray{made.width(), made.height(), relative});
      edge = longEdge;
    }
    if (!web.isEmpty())
      s.web = QString::fromUtf8(QJsonDocument(web).toJson(QJsonDocument::Compact));
    found.push_back(s);
  }
  q = QSqlQuery();
  // A cache that cannot be written only costs the next run its reading.
  for (auto& [albumId, cache] : caches)
    cache->Save();
  // Every row in one statement: the values go in as one JSON array of rows, [[thumb width,
  // ..., web images, picture id], ...], which binds once instead of fifteen times a row.
  QByteArray rows("[");
  rows.reserve(qsizetype(found.size()) * 64 + 2);
  for (const TSizes& s : found) {
    if (rows.size() > 1) rows += ',';
    rows += '[';
    for (const QSize& size : s.size)
      rows += QByteArray::number(size.isValid() ? size.width() : -1) + ',' +
              QByteArray::number(size.isValid() ? size.height() : -1) + ',';
    for (const QVariant& v : s.camera.isEmpty() ? QVariantList(7) : s.camera) {
      appendJsonValue(rows, v);
      rows += ',';
    }
    appendJsonValue(rows, s.web);
    rows += ',' + QByteArray::number(s.id) + ']';
  }
  rows += ']';
  QStringList columns;
  const char* const names[] = {"thumb_width",  "thumb_height", "medium_width",  "medium_height",
                               "large_width",  "large_height", "camera",        "lens",
                               "focal_length", "aperture",     "exposure_time", "iso",
                               "taken",        "web_images"};
  for (int i = 0; i < int(std::size(names)); ++i)
    columns << QStringLiteral("%1 = json_extract(rows.value, '$[%2]')")
                   .arg(QLatin1String(names[i]))
                   .arg(i);
  const bool ok =
      db.exec(QStringLiteral("UPDATE picture SET %1 FROM json_each(?) AS rows "
                             "WHERE picture.picture_id = json_extract(rows.value, '$[%2]')")
                  .arg(columns.join(QStringLiteral(", ")))
                  .arg(std::size(names)),
              {QString::fromUtf8(rows)});
  if (!ok) setDetailsError(error, db.error());
  return ok;
}
