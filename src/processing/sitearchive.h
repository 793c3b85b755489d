#pragma once
// The site archive of a processing run: which pictures are published and which of their files
// are packed, the checks made before the first picture (site template, database, album
// folders), and the zip stages that pack the pictures, the database and the template and write
// the archive once, replacing the previous one.
//
// The archive is derived from the project's state, not from the work list: it holds every
// published file of every picture of every album (see TArchiveBuilder), the database file and
// the template's files, and nothing else. A run that stops or fails before Write leaves the
// archive as it was.
//
// A public site's database, "site.json" and pages are made anew only when what they are made
// from changed since the archive was written: the archive's comment names a digest of the
// project's database file, the stamps of the pictures' files, the site's settings and the
// template's files, and a run that finds the same digest keeps those entries as they are.
// Otherwise the pages are made again album by album: the comment also names, after the digest,
// a key per album of what its page and its pictures' pages are made from (sitepages.h), and an
// album with the same key keeps those pages as they are. Every other page (home, categories,
// feed, sitemap, the pages of changed albums) is made in memory and compared with the previous
// archive's entry: only pages whose bytes differ are written.
//
// Failures raise TZipError with the text for the user.
//
// Threads: created (and opened for the first time) on the user-interface thread; everything
// else on the run thread, while the project's lists stay as they are.
#include <QCryptographicHash>
#include <QHash>
#include <QList>
#include <QSet>
#include <QString>
#include <functional>
#include <memory>

class TArchiveBuilder;
class TLumenfoldAlbum;
class TLumenfoldPicture;
class TLumenfoldProject;
class TSitePacking;
struct TCompressedEntry;
struct TFileStamp;
class TFolderStamps;

// What the zip stages could not pack, for the run's report.
class TArchiveFindings {
public:
  virtual ~TArchiveFindings() = default;
  // The original of a published picture outside the work list was not found.
  virtual void MissingOriginal(const QString& path) = 0;
  // A published file of a picture was not there to be packed.
  virtual void MissingFile() = 0;
  // A picture's file was not packed (no regular file, no JPEG, a link out of the album).
  virtual void RefusedFile(const QString& reason) = 0;
  // A note for the report and the trace log.
  virtual void Reason(const QString& text) = 0;
};

enum class TZipStage { Pictures, Database, Template };

// How the zip stages report progress and learn of a stop request.
struct TZipStageHooks {
  std::function<void(TZipStage stage)> Post;
  // Part of a stage: done of total.
  std::function<void(qint64 done, qint64 total, TZipStage stage)> PostPart;
  // Raises when a stop was requested.
  std::function<void()> CheckStop;
  // Called before each entry is written into the new archive.
  std::function<void(int entryIndex)> BeforeEntry;
};

class TSiteArchive {
public:
  explicit TSiteArchive(TLumenfoldProject& project);
  ~TSiteArchive(); // removes the database copy made for the archive
  TSiteArchive(const TSiteArchive&) = delete;
  TSiteArchive& operator=(const TSiteArchive&) = delete;

  // Creates the archive builder for the project's archive (ZipFileName); refuses a file that is
  // not the project's archive. copyAhead: the previous archive is copied while pictures are made.
  void Open(bool copyAhead);
  bool IsOpen() const { return archive_ != nullptr; }
  // Gives up copying the previous archive ahead (a run that renders many pictures).
  void CancelPrefill();
  // Drops the builder and its spool; the archive stays as the last Write left it.
  void Close();

  // The single place that decides whether a picture's files go into the archive.
  bool Published(const TLumenfoldPicture* picture) const;
  // Whether the given file of the picture goes into the archive: published, and allowed by the
  // site template's manifest (a public static site packs no file of a hidden picture).
  bool Packs(const TLumenfoldPicture* picture, bool original) const;
  // The picture's original is in the previous archive as it is on disk.
  bool OriginalUnchanged(const TLumenfoldPicture* picture) const;
  // Keeps what a worker compressed for a file of the picture until the archive is written.
  void Spool(const TLumenfoldPicture* picture, const QString& relative, const QString& path,
             const TCompressedEntry& entry);

  // Found out before the pictures, not after all the work of a run: the site template's folder
  // and manifest, the database a site needs, two albums with the same site folder.
  void CheckBeforeRun();

  // Packs the published pictures (visited: the run's work list; skipped: pictures the run could
  // not use), the database and the template, and writes the archive.
  void WriteStages(const QList<TLumenfoldPicture*>& visited,
                   const QSet<const TLumenfoldPicture*>& skipped, int jobs,
                   TArchiveFindings& findings, const TZipStageHooks& hooks);

private:
  void wantPictures(const QList<TLumenfoldPicture*>& visited,
                    const QSet<const TLumenfoldPicture*>& skipped, TArchiveFindings& findings);
  // The picture's extra web sizes on disk (see WebSizeFileName).
  void wantWebSizes(const TLumenfoldPicture* picture, TFolderStamps& stamps,
                    TArchiveFindings& findings);
  // A published picture whose original is gone keeps the files it has in the archive.
  void keepPublished(const TLumenfoldPicture* picture, bool counted, TArchiveFindings& findings);
  void wantDatabase();
  // The digest of everything the site's database and pages are made from; empty when the
  // database cannot be read.
  QByteArray siteDigest(const QString& databaseFile, const QString& databaseEntry);
  // Keeps the previous archive's database, "site.json" and pages as they are; false (keeping
  // nothing) when it lacks one of them or another file is wanted under such a name.
  bool keepSite(const QString& databaseEntry);
  // Adds a file the site's database is made from (its image sizes, its camera details): its name
  // in the album last added, and its stamp (path: the file, for a link).
  void addSiteInput(const QString& name, const QString& path, const TFileStamp& stamp, bool exists);
  void addSiteAlbum(const TLumenfoldAlbum* album);
  // Adds the picture to its album's details key; a picture whose generated files are not
  // packed has them stamped for the key alone.
  void addDetailPicture(const TLumenfoldPicture* picture, bool packed, TFolderStamps& stamps);
  void finishDetailKey();
  // Sets the albums whose image details the previous public copy holds as they are today, and
  // gives the records of the albums' details keys that go into the site digest.
  QByteArray sameDetails(const QString& databaseEntry, const QHash<int, QByteArray>& previousKeys);
  // The keys of the albums' pages that follow the digest in a site digest, by album id.
  static QHash<int, QByteArray> albumKeys(const QByteArray& siteDigest);
  void wantTemplate();
  void removeSnapshot();

  TLumenfoldProject& project_;
  std::unique_ptr<TArchiveBuilder> archive_;
  std::unique_ptr<TSitePacking> site_;
  QString snapshotPath_; // temporary copy of the database for the archive
  // The pictures' files the site's database is made from, as wantPictures found them.
  QCryptographicHash siteInputs_{QCryptographicHash::Blake2b_256};
  // Album by album: what each album's image details in the public copy are made from (its
  // folder, its pictures' ids, the stamps of their files), by album id, as keys that go into the
  // site digest and make up siteInputs_. An album with the key the previous archive names has its
  // details taken from the previous public copy instead of its files.
  QHash<int, QByteArray> detailKeys_;
  QCryptographicHash detailInputs_{QCryptographicHash::Blake2b_160};
  // What goes into detailInputs_ next: many small pieces a file, hashed in large ones.
  QByteArray detailPending_;
  void addDetailInput(QByteArrayView bytes);
  int detailAlbum_ = -1; // whose inputs detailInputs_ holds
};
