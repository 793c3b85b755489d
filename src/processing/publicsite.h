#pragma once
// Public static sites. A site template may declare in the file "template.json" of its folder
// that it is a static site, which hands the whole packed database to every visitor:
//
//   { "publicStaticSite": true, "includeOriginals": false, "webSizes": [700, 1600, 2560] }
//
// "webSizes" asks every run for images of those pixels on the long edge besides the medium
// image (larger ones for the viewer, a smaller one for the album covers), made like it (its
// signature, quality and metadata) into the album's folder "ps_w<size>" under the medium image's
// file name, and packed with it (see WebSizeFiles).
//
// For such a template the run packs a public copy of the database (no private albums and their
// pictures, no private or deleted pictures, none of their category links, no category that only
// they use, no local folder paths, no signature definitions, the default texts of new albums and
// categories blanked; compacted) under the database's file name, writes "site.json" naming that
// file for the site's scripts, and packs no file of a hidden picture and no original unless
// "includeOriginals" is true. A template without the file is packed as before.
#include "processing/sitepages.h"

#include <QList>
#include <QPair>
#include <QSet>
#include <QSize>
#include <QString>
#include <QStringList>
#include <memory>

class QTemporaryDir;
class TFileLock;
class TFolderListings;
class TLumenfoldPicture;

inline constexpr const char* kSiteManifestName = "template.json";
inline constexpr const char* kSiteInfoName = "site.json";

struct TSiteManifest {
  bool PublicStaticSite = false;
  bool IncludeOriginals = true; // a public static site packs originals only when it asks
  QList<int> WebSizes;          // extra web sizes (long edge in pixels), ascending
};

// The smallest and largest extra web size a manifest may ask for, and how many.
inline constexpr int kMinWebSize = 200;
inline constexpr int kMaxWebSize = 8192;
inline constexpr int kMaxWebSizes = 4;

// The extra web sizes the site template of that name (a folder in templatesFolder) asks for;
// none when it asks for none or its manifest cannot be read (the archive's checks say why).
QList<int> TemplateWebSizes(const QString& templatesFolder, const QString& name);

// The file of an extra web size, relative to the album folder, for the picture's stored medium
// file name: "ps_w<size>/" and the medium image's file name. Empty for an empty name.
QString WebSizeFileName(const QString& mediumFileName, int size);

// The long edges of the extra web sizes a picture of that (oriented, cropped) size gets, given
// its medium image's long edge: a size is never larger than the picture; a size below the
// medium image (for the album covers, shown smaller) is skipped only where the picture is no
// larger than the medium image; a size above that would not be larger than the medium image or
// the size before it is skipped, so a picture smaller than a size gets that size once, at its
// own size, and none above it. 0 marks a skipped size.
QList<int> WebSizeEdges(const QList<int>& sizes, QSize picture, int mediumEdge);

// True when the picture has the file of every extra web size it gets (WebSizeEdges of its
// recorded size, orientation and crop); a picture of unknown size needs all of them. A run
// makes the missing ones, also for a picture processed before its template asked for them.
// listings (optional) answers the file checks from folder listings.
bool WebSizesCurrent(const TLumenfoldPicture& picture, const QList<int>& sizes,
                     TFolderListings* listings = nullptr);

// Reads the manifest of a template folder into manifest. A folder without the file leaves the
// defaults and succeeds. A file that cannot be read, is no JSON object or holds a value of the
// wrong type fails with a reason in error.
bool ReadSiteManifest(const QString& templateFolder, TSiteManifest& manifest, QString* error);

// Whether a visitor of a public site may see the picture: neither deleted nor private, and its
// album (when it has one) not private.
bool PictureIsPublic(const TLumenfoldPicture& picture);

enum class TPictureFile { Original, Generated };

// Whether the run packs the given file of the picture for a template with this manifest.
bool PacksPictureFile(const TSiteManifest& manifest, const TLumenfoldPicture& picture,
                      TPictureFile file);

// Writes to target (which must not exist) a compacted copy of the SQLite database at source
// without anything private (see above). The source is only read. Fails with a reason in error;
// a failed copy leaves no target file behind.
// leftOut: ids of further pictures to leave out (published pictures whose files the archive
// cannot hold). Categories that only pictures left out use are left out too.
// details: the copy's picture table also gets the image details of the site (see
// kWebDetailColumns in sitepages.h): with CameraDetails the shot's details, and WebSizes.
// The details of the public pictures of SameAlbums are taken from Previous, the bytes of the
// public copy an earlier run wrote with the same options, when those albums' image files (and,
// with camera details, originals) are the ones it was made from; the caller vouches for that.
struct TWebImageOptions {
  bool CameraDetails = false;
  QList<int> WebSizes;
  QByteArray Previous;
  QList<int> SameAlbums;
};
bool WritePublicDatabase(const QString& source, const QString& target, QString* error,
                         const QSet<int>& leftOut = {}, const TWebImageOptions* details = nullptr);

// The text of "site.json": the file name of the packed database, for the site's scripts.
// With download (see SiteDownload) "download": "medium" or "large"; with cameraDetails
// "camera": true (the database holds the shot's details).
QByteArray SiteInfoText(const QString& databaseEntry, int download = 0, bool cameraDetails = false);

// What one run packs for its site template: the manifest, and the temporary public copy of the
// database with its "site.json", kept until this object is destroyed. Creating it removes what
// killed runs left in the temporary folder (RemoveAbandonedFolders).
class TSitePacking {
public:
  TSitePacking();
  ~TSitePacking();
  TSitePacking(const TSitePacking&) = delete;
  TSitePacking& operator=(const TSitePacking&) = delete;

  // Reads the manifest of the template folder; an empty folder name means no template.
  bool Load(const QString& templateFolder, QString* error);
  // Reads the manifest of the template of that name in the templates folder. A name that is no
  // plain folder name (the run refuses it when it packs the template) has none.
  bool LoadTemplate(const QString& templatesFolder, const QString& name, QString* error);
  const TSiteManifest& Manifest() const { return manifest_; }

  bool PacksFile(const TLumenfoldPicture& picture, TPictureFile file) const {
    return PacksPictureFile(manifest_, picture, file);
  }

  // The project's SiteDownload and SiteCameraDetails, set before DatabaseFile.
  int Download = 0;
  bool CameraDetails = false;
  // Pictures the public copy leaves out besides the hidden ones (see WritePublicDatabase).
  QSet<int> LeftOutPictures;
  // The previous public copy and the albums whose image details it holds as they are today
  // (see TWebImageOptions), set before DatabaseFile.
  QByteArray PreviousDatabase;
  QList<int> SameDetailAlbums;

  // The file to pack as the database: the given file itself, or for a public static site its
  // public copy. Empty, with a reason in error, when the copy cannot be made.
  QString DatabaseFile(const QString& database, QString* error);
  // Removes the temporary folders that runs which were killed left in the folder (the system's
  // temporary folder by default): each run's folder holds a lock while the run lives, so only
  // folders whose run is gone go. A folder of an earlier version (no lock) goes when it holds
  // only the files such a run made and has not changed for a day. Returns how many went.
  static int RemoveAbandonedFolders(const QString& folder = QString());

  // For a public static site the file to pack as "site.json" beside a database packed under
  // databaseEntry; empty otherwise, and empty with a reason in error when it cannot be written.
  QString SiteInfoFile(const QString& databaseEntry, QString* error);

  // For a public static site whose template has a page skeleton, makes the pages from the
  // public copy (see sitepages.h) and hands them to the sink; call after DatabaseFile.
  // siteAddress: the project's SiteAddress; keepAlbum: see TSitePagesInput. Fails with a reason
  // in error.
  bool PageFiles(const QString& templateFolder, const QString& siteAddress,
                 const TSitePageSink& sink, QString* error,
                 const decltype(TSitePagesInput::KeepAlbum)& keepAlbum = {});
  // The pages an earlier run made from the same inputs, kept in the archive as they are instead
  // of PageFiles: the template's files of the same names are not packed either.
  void KeepPages(const QStringList& entries) {
    pages_ = QSet<QString>(entries.cbegin(), entries.cend());
  }
  // Whether the template's file (path relative to its folder) goes into the archive: not the
  // template's own description, nor a file a made page replaces.
  bool PacksTemplateFile(const QString& relative) const;

private:
  QString temporaryFolder(QString* error);
  TSiteManifest manifest_;
  QString publicDatabase_;
  QSet<QString> pages_; // entries of the made pages
  std::unique_ptr<QTemporaryDir> dir_;
  std::unique_ptr<TFileLock> owner_; // in dir_, held while this run lives
};
