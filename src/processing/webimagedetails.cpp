#include "processing/publicsite.h"
#include "processing/sitepages.h"
#include "processing/sitequery.h"
#include "util/helpers.h"
#include "util/imaging/exif.h"
#include "util/imaging/jpegcodec.h"
#include "util/programfolder.h"

#include <QDateTime>
#include <QJsonArray>
#include <QJsonDocument>
#include <QSize>
#include <QSqlQuery>
#include <QVariant>
#include <algorithm>
#include <map>
#include <vector>

namespace {

void setDetailsError(QString* error, const QString& text) {
  if (error) *error = text;
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
  while (q.next()) {
    TSizes s{q.value(0).toInt(), {}, {}, {}};
    const QString folder = folders[q.value(1).toInt()];
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
      if (folder.isEmpty() || relative.isEmpty()) continue;
      try {
        s.size[k] = ReadJpegSize(IncludeTrailingSeparator(folder) + relative);
      } catch (const std::exception&) {
        // No such file or none readable: the size stays unknown.
      }
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
      QSize made;
      try {
        made = ReadJpegSize(IncludeTrailingSeparator(folder) + relative);
      } catch (const std::exception&) {
        continue; // not made for this picture
      }
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
  bool ok = db.exec(QStringLiteral("BEGIN"));
  for (const TSizes& s : found) {
    QVariantList values;
    for (const QSize& size : s.size)
      values << (size.isValid() ? size.width() : -1) << (size.isValid() ? size.height() : -1);
    values << (s.camera.isEmpty() ? QVariantList(7) : s.camera) << s.web << s.id;
    ok = ok && db.exec(QStringLiteral(
                           "UPDATE picture SET thumb_width = ?, thumb_height = ?, "
                           "medium_width = ?, medium_height = ?, large_width = ?, "
                           "large_height = ?, camera = ?, lens = ?, focal_length = ?, "
                           "aperture = ?, exposure_time = ?, iso = ?, taken = ?, web_images = ? "
                           "WHERE picture_id = ?"),
                       values);
  }
  ok = ok && db.exec(QStringLiteral("COMMIT"));
  if (!ok) setDetailsError(error, db.error());
  return ok;
}
