#pragma once
// The static pages of a public static site, made from its public database: the home page with
// the album list, a page per album and per category with the first thumbnails, and a page per
// picture with its image, titles and date. They show their content and work as plain links
// before (and without) the site's scripts, carry the page's title, description, canonical
// address and link-preview tags, and come with an Atom feed of the albums and, when the site's
// public address is known, "sitemap.xml" and "robots.txt".
//
// The pages are made from the template's "index.html": its <title>, the content of its
// <main id="main"> and its <noscript> are replaced; <html> gets the page's route in
// data-page. A template without such a <main> gets no pages.
//
// Threads: the processing run thread (or any thread, on files nobody else writes).
#include <QHash>
#include <QList>
#include <QPair>
#include <QString>
#include <QStringList>
#include <functional>

// File names of the pages by what they show; the scripts of the template use the same names.
QString AlbumPageName(int albumId);
QString CategoryPageName(int categoryId);
QString PicturePageName(int pictureId);

// Whether a file of a template folder (path relative to it) belongs on the site: the template's
// own description (readme.txt, template.json, its preview pictures) does not.
bool IsSiteTemplateFile(const QString& relative);

// The columns of the public database's picture table that tell the site about its images: the
// pixel sizes of the generated images (thumb_width, thumb_height, medium_width, medium_height,
// large_width, large_height; -1 where unknown), read from the files in the album folders (a
// file unchanged since an earlier run is not read again: imagesizecache.h), with camera details
// the shot's details from the originals (camera, lens, focal_length, aperture, exposure_time,
// iso, taken; NULL where unknown or not wanted), and the template's extra web sizes that exist
// (web_images, JSON [[width, height, file relative to the album folder], ...], smallest first,
// or NULL). The scripts use them for srcset, the viewer and its camera panel.
struct TWebDetailColumn {
  const char* Name;
  const char* Type;
};
inline constexpr int kWebDetailColumnCount = 14;
extern const TWebDetailColumn kWebDetailColumns[kWebDetailColumnCount];

// Fills the temporary table web_details (picture_id, then kWebDetailColumns) on a connection
// to the public database being written, with the project's database attached as "src", for
// the pictures listed in temp.public_picture (see WritePublicDatabase). With fromPrevious the
// earlier public copy is attached as "prev" and the rows of options.SameAlbums come from there
// (those it lacks are made). Fails with a reason in error.
struct sqlite3;
struct TWebImageOptions;
bool FillWebImageDetails(sqlite3* db, const TWebImageOptions& options, bool fromPrevious,
                         QString* error);

struct TSitePagesInput {
  QString PublicDatabase; // the public copy, with the image details
  QString TemplateFolder;
  QString SiteAddress; // the base address ending in '/', or empty
  int Download = 0;    // what a picture's page offers to download: see SiteDownload
  // Asked for each album with the key of what its pages are made from (see AddAlbumToKey) and
  // the entries of those pages: true when the caller keeps the pages it made from the same key,
  // and none of them is made. Without it every page is made.
  std::function<bool(int albumId, const QByteArray& key, const QStringList& entries)> KeepAlbum;
};

// Takes each page made: its archive entry and its bytes. False (with a reason in error) stops.
using TSitePageSink =
    std::function<bool(const QString& entry, const QByteArray& bytes, QString* error)>;

// Makes the pages and hands them to the sink one by one; none when the template has no page
// skeleton. Fails with a reason in error.
bool WriteSitePages(const TSitePagesInput& input, const TSitePageSink& sink, QString* error);
