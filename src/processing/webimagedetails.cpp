#include "processing/imagesizecache.h"
#include "processing/publicsite.h"
#include "processing/sitepages.h"
#include "processing/sitequery.h"
#include "util/helpers.h"
#include "util/imaging/exif.h"
#include "util/programfolder.h"

#include <QDateTime>
#include <QSize>
#include <algorithm>
#include <cmath>
#include <iterator>
#include <map>
#include <memory>
#include <sqlite3.h>

namespace {

void setDetailsError(QString* error, const QString& text) {
  if (error) *error = text;
}

struct TFinalizeDetails {
  void operator()(sqlite3_stmt* s) const { sqlite3_finalize(s); }
};
using TStatement = std::unique_ptr<sqlite3_stmt, TFinalizeDetails>;

TStatement prepareStatement(sqlite3* db, const char* sql) {
  sqlite3_stmt* statement = nullptr;
  if (sqlite3_prepare_v2(db, sql, -1, &statement, nullptr) != SQLITE_OK) {
    sqlite3_finalize(statement);
    return nullptr;
  }
  return TStatement(statement);
}

QString columnText(sqlite3_stmt* s, int column) {
  const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(s, column));
  return text ? QString::fromUtf8(text, sqlite3_column_bytes(s, column)) : QString();
}

// A text as a JSON string.
void appendJsonText(QByteArray& out, const QString& text) {
  out += '"';
  for (const char c : text.toUtf8()) {
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

bool bindText(sqlite3_stmt* s, int index, const QString& text) {
  if (text.isEmpty()) return sqlite3_bind_null(s, index) == SQLITE_OK;
  const QByteArray bytes = text.toUtf8();
  return sqlite3_bind_text(s, index, bytes.constData(), int(bytes.size()), SQLITE_TRANSIENT) ==
         SQLITE_OK;
}

bool bindPositive(sqlite3_stmt* s, int index, double value) {
  return (value > 0 && std::isfinite(value) ? sqlite3_bind_double(s, index, value)
                                            : sqlite3_bind_null(s, index)) == SQLITE_OK;
}

} // namespace

const TWebDetailColumn kWebDetailColumns[kWebDetailColumnCount] = {
    {"thumb_width", "INTEGER NOT NULL DEFAULT -1"},
    {"thumb_height", "INTEGER NOT NULL DEFAULT -1"},
    {"medium_width", "INTEGER NOT NULL DEFAULT -1"},
    {"medium_height", "INTEGER NOT NULL DEFAULT -1"},
    {"large_width", "INTEGER NOT NULL DEFAULT -1"},
    {"large_height", "INTEGER NOT NULL DEFAULT -1"},
    {"camera", "TEXT"},
    {"lens", "TEXT"},
    {"focal_length", "REAL"},
    {"aperture", "REAL"},
    {"exposure_time", "TEXT"},
    {"iso", "INTEGER"},
    {"taken", "TEXT"},
    {"web_images", "TEXT"},
};

bool FillWebImageDetails(sqlite3* db, const TWebImageOptions& options, bool fromPrevious,
                         QString* error) {
  const bool cameraDetails = options.CameraDetails;
  const QList<int>& webSizes = options.WebSizes;
  auto failed = [&] {
    setDetailsError(error, QString::fromUtf8(sqlite3_errmsg(db)));
    return false;
  };
  QByteArray create("CREATE TEMP TABLE web_details (picture_id INTEGER PRIMARY KEY");
  QByteArray insert("INSERT INTO temp.web_details VALUES (?");
  for (const TWebDetailColumn& column : kWebDetailColumns) {
    create += QByteArray(", ") + column.Name;
    insert += ", ?";
  }
  create += ')';
  insert += ')';
  if (sqlite3_exec(db, create.constData(), nullptr, nullptr, nullptr) != SQLITE_OK) return failed();
  if (fromPrevious && !options.SameAlbums.isEmpty()) {
    // The rows of albums whose files are as they were, each under the album it had then. A
    // previous copy that cannot give them only leaves them to be made below.
    QByteArray copy("INSERT INTO temp.web_details SELECT q.picture_id");
    QByteArray albums;
    for (const TWebDetailColumn& column : kWebDetailColumns)
      copy += QByteArray(", q.") + column.Name;
    for (int album : options.SameAlbums)
      albums += (albums.isEmpty() ? "" : ",") + QByteArray::number(album);
    copy += " FROM prev.picture q JOIN src.picture p ON p.picture_id = q.picture_id AND "
            "p.album_id = q.album_id WHERE p.album_id IN (" +
            albums + ") AND q.picture_id IN (SELECT picture_id FROM temp.public_picture)";
    if (sqlite3_exec(db, copy.constData(), nullptr, nullptr, nullptr) != SQLITE_OK &&
        sqlite3_exec(db, "DELETE FROM temp.web_details", nullptr, nullptr, nullptr) != SQLITE_OK)
      return failed();
  }
  const TStatement rows = prepareStatement(
      db, "SELECT p.picture_id, p.album_id, a.path, p.thumb_filename, p.medium_filename, "
          "p.large_filename, p.original_filename FROM src.picture p JOIN src.album a "
          "ON a.album_id = p.album_id WHERE p.picture_id IN (SELECT picture_id FROM "
          "temp.public_picture) AND p.picture_id NOT IN (SELECT picture_id FROM "
          "temp.web_details) ORDER BY p.picture_id");
  const TStatement add = prepareStatement(db, insert.constData());
  if (!rows || !add) return failed();
  // The sizes of files unchanged since an earlier run come from each album's cache.
  std::map<int, std::unique_ptr<TImageSizeCache>> caches;
  QByteArray web;
  int step = SQLITE_ROW;
  while ((step = sqlite3_step(rows.get())) == SQLITE_ROW) {
    sqlite3_stmt* r = rows.get();
    const int albumId = sqlite3_column_int(r, 1);
    std::unique_ptr<TImageSizeCache>& cache = caches[albumId];
    const QString folder = columnText(r, 2);
    if (!cache) cache = std::make_unique<TImageSizeCache>(folder);
    sqlite3_stmt* a = add.get();
    sqlite3_reset(a);
    sqlite3_clear_bindings(a);
    bool ok = sqlite3_bind_int64(a, 1, sqlite3_column_int64(r, 0)) == SQLITE_OK;
    QSize size[3];
    for (int k = 0; k < 3; ++k) {
      const QString relative = SiteRelativePath(QString(), columnText(r, 3 + k), false);
      // No such file or none readable: the size stays unknown.
      if (!folder.isEmpty() && !relative.isEmpty()) size[k] = cache->Size(relative);
      ok = ok &&
           sqlite3_bind_int(a, 2 + 2 * k, size[k].isValid() ? size[k].width() : -1) == SQLITE_OK;
      ok = ok &&
           sqlite3_bind_int(a, 3 + 2 * k, size[k].isValid() ? size[k].height() : -1) == SQLITE_OK;
    }
    const QString original = SiteRelativePath(QString(), columnText(r, 6), false);
    if (cameraDetails && !folder.isEmpty() && !original.isEmpty()) {
      // Only the shot's details: the reader never takes positions or serial numbers.
      const TCameraMetadata m = ReadCameraMetadata(IncludeTrailingSeparator(folder) + original);
      QString exposure;
      if (m.ExposureNum > 0 && m.ExposureDen > 0)
        exposure = m.ExposureNum >= m.ExposureDen
                       ? QString::number(double(m.ExposureNum) / m.ExposureDen, 'g', 3)
                       : QStringLiteral("1/%1").arg(qRound(double(m.ExposureDen) / m.ExposureNum));
      const QDateTime taken = m.CaptureDate();
      ok = ok && bindText(a, 8, m.Camera) && bindText(a, 9, m.Lens) &&
           bindPositive(a, 10, m.FocalLength) && bindPositive(a, 11, m.Aperture) &&
           bindText(a, 12, exposure) &&
           (m.Iso > 0 ? sqlite3_bind_int(a, 13, m.Iso) : sqlite3_bind_null(a, 13)) == SQLITE_OK &&
           bindText(a, 14,
                    taken.isValid() ? taken.toString(QStringLiteral("yyyy-MM-dd HH:mm"))
                                    : QString());
    }
    // The extra web sizes that exist, as [[width, height, file], ...], each larger than the one
    // before it, those above the medium image larger than it too (a file a size left behind
    // when the picture became smaller is not named).
    web.clear();
    const QString medium = SiteRelativePath(QString(), columnText(r, 4), false);
    const int mediumEdge = std::max(size[1].width(), size[1].height());
    int edge = 0;
    for (int wanted : webSizes) {
      const QString relative = WebSizeFileName(medium, wanted);
      if (folder.isEmpty() || relative.isEmpty() || mediumEdge <= 0) break;
      const QSize made = cache->Size(relative);
      if (!made.isValid()) continue; // not made for this picture
      const int longEdge = std::max(made.width(), made.height());
      const int floor = wanted < mediumEdge ? edge : std::max(edge, mediumEdge);
      if (longEdge <= floor || longEdge > wanted) continue;
      web += web.isEmpty() ? "[[" : ",[";
      web += QByteArray::number(made.width()) + ',' + QByteArray::number(made.height()) + ',';
      appendJsonText(web, relative);
      web += ']';
      edge = longEdge;
    }
    if (!web.isEmpty()) {
      web += ']';
      ok = ok && sqlite3_bind_text(a, 15, web.constData(), int(web.size()), SQLITE_TRANSIENT) ==
                     SQLITE_OK;
    }
    if (!ok || sqlite3_step(a) != SQLITE_DONE) return failed();
  }
  if (step != SQLITE_DONE) return failed();
  // A cache that cannot be written only costs the next run its reading.
  for (auto& [albumId, cache] : caches)
    cache->Save();
  return true;
}
