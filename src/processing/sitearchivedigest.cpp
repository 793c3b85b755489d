// The digest of the site's inputs and the keys of its albums' pages and image details: what
// decides which of the previous archive's site entries are kept.
#include "processing/sitearchive.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/databasepacking.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "processing/archive/archivemark.h"
#include "processing/publicsite.h"
#include "processing/sitearchivebasics.h"
#include "processing/sitepages.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QFile>
#include <QHash>
#include <QLocale>
#include <QtEndian>
#include <algorithm>

namespace {

using site_archive::kGeneratedSizes;
using site_archive::templatesRoot;

// The digest of the site's inputs, and the key of an album's pages (sitepages.h).
constexpr qsizetype kSiteDigestSize = 32;
constexpr qsizetype kAlbumKeySize = 20;
// Hex digits of the digest and keys the archive's comment may hold.
constexpr qsizetype kMaxSiteDigestHex = 60000;
// The details keys follow the albums' page keys in the same records, the album's id with this
// bit set.
constexpr quint32 kDetailKeyBit = 0x80000000u;
// The largest previous public copy read back for its image details.
constexpr qint64 kMaxPreviousDatabase = qint64(512) << 20;

} // namespace

void TSiteArchive::wantDatabase() {
  const TDatabaseToPack pack = CompleteDatabaseFile(project_.ConnectionString);
  if (!pack.Snapshot.isEmpty()) snapshotPath_ = pack.Snapshot;
  if (!pack.Failure.isEmpty())
    throw TZipError(QStringLiteral("The database \"%1\" cannot be added to the zip archive: %2")
                        .arg(pack.Source, pack.Failure));
  if (pack.File.isEmpty()) return;
  // Made from the same inputs, the site's database, "site.json" and pages would be the ones the
  // previous archive holds: those are kept, and nothing is made.
  QByteArray digest;
  if (site_->Manifest().PublicStaticSite) {
    digest = siteDigest(pack.File, pack.Entry);
    // The previous digest goes on with the keys of the albums' pages that follow it.
    const QByteArray previous = archive_->PreviousSiteDigest();
    if (!digest.isEmpty() && previous.startsWith(digest) && keepSite(pack.Entry)) {
      archive_->SiteDigest = previous;
      return;
    }
  }
  // A public static site gets a public copy of the database and "site.json" naming it.
  const QHash<int, QByteArray> previousKeys = albumKeys(archive_->PreviousSiteDigest());
  const QByteArray detailRecords =
      digest.isEmpty() ? QByteArray() : sameDetails(pack.Entry, previousKeys);
  QString error;
  const QString file = site_->DatabaseFile(pack.File, &error);
  const QString info = file.isEmpty() ? QString() : site_->SiteInfoFile(pack.Entry, &error);
  if (file.isEmpty() || !error.isEmpty())
    throw TZipError(QStringLiteral("The database \"%1\" cannot be added to the zip archive: %2")
                        .arg(pack.File, error));
  if (!info.isEmpty()) archive_->Want(QLatin1String(kSiteInfoName), info);
  const QString packedAs = archive_->WantedAs(pack.Entry);
  if (!packedAs.isEmpty())
    throw TZipError(QStringLiteral("The database file \"%1\" would replace \"%2\", which "
                                   "is already in the zip archive.")
                        .arg(file, packedAs));
  archive_->Want(pack.Entry, file);
  // The pages of an album whose key is the one the previous archive names for it are kept as
  // they are, when it holds them all; the others are made, and each is compared with the
  // previous archive's entry: only pages whose bytes differ are compressed and written. The
  // keys follow the digest, each as the album's id (4 bytes) and its key.
  QByteArray keys;
  const auto keep = [&](int albumId, const QByteArray& key, const QStringList& entries) {
    keys += QByteArray::number(uint(albumId), 16).rightJustified(8, '0');
    keys += key.toHex();
    return key.size() == kAlbumKeySize && previousKeys.value(albumId) == key &&
           archive_->KeepAllPrevious(entries);
  };
  if (!site_->PageFiles(
          IncludeTrailingSeparator(templatesRoot()) + project_.SiteTemplate, project_.SiteAddress,
          [&](const QString& entry, const QByteArray& bytes, QString*) {
            archive_->WantMade(entry, bytes);
            return true;
          },
          &error, digest.isEmpty() ? decltype(TSitePagesInput::KeepAlbum)() : keep))
    throw TZipError(QStringLiteral("The pages of the site cannot be made: %1").arg(error));
  // The archive's comment holds at most 64 KiB: beyond that the next run makes every page.
  const QByteArray withKeys = digest + QByteArray::fromHex(keys) + detailRecords;
  archive_->SiteDigest = withKeys.size() * 2 < kMaxSiteDigestHex ? withKeys : digest;
}

QByteArray TSiteArchive::sameDetails(const QString& databaseEntry,
                                     const QHash<int, QByteArray>& previousKeys) {
  // What the details are made with besides the files.
  QByteArray common = QStringLiteral("details 1 %1 %2 %3")
                          .arg(QCoreApplication::applicationVersion(), databaseEntry)
                          .arg(int(site_->CameraDetails))
                          .toUtf8();
  for (int size : site_->Manifest().WebSizes)
    common += ' ' + QByteArray::number(size);
  common += '\0';
  QList<int> albums = detailKeys_.keys();
  std::sort(albums.begin(), albums.end());
  QByteArray records;
  QList<int> same;
  for (int album : std::as_const(albums)) {
    const QByteArray inputs = detailKeys_.value(album);
    if (inputs.isEmpty() || album < 0) continue;
    QCryptographicHash hash(QCryptographicHash::Blake2b_160);
    hash.addData(common);
    hash.addData(inputs);
    const QByteArray key = hash.result();
    const quint32 id = quint32(album) | kDetailKeyBit;
    char idBytes[4];
    qToBigEndian(id, idBytes);
    records += QByteArray(idBytes, 4) + key;
    if (previousKeys.value(int(id)) == key) same << album;
  }
  site_->SameDetailAlbums = same;
  site_->PreviousDatabase =
      same.isEmpty() ? QByteArray() : archive_->PreviousBytes(databaseEntry, kMaxPreviousDatabase);
  return records;
}

QHash<int, QByteArray> TSiteArchive::albumKeys(const QByteArray& siteDigest) {
  QHash<int, QByteArray> keys;
  constexpr qsizetype record = 4 + kAlbumKeySize;
  if (siteDigest.size() < kSiteDigestSize || (siteDigest.size() - kSiteDigestSize) % record != 0)
    return keys;
  for (qsizetype at = kSiteDigestSize; at < siteDigest.size(); at += record)
    keys.insert(int(qFromBigEndian<quint32>(siteDigest.constData() + at)),
                siteDigest.mid(at + 4, kAlbumKeySize));
  return keys;
}

QByteArray TSiteArchive::siteDigest(const QString& databaseFile, const QString& databaseEntry) {
  QCryptographicHash hash(QCryptographicHash::Blake2b_256);
  auto text = [&](const QString& t) {
    hash.addData(t.toUtf8());
    hash.addData(QByteArrayView("\0", 1));
  };
  // What this build of the program makes of them, and the texts it blanks.
  text(QStringLiteral("site 1 ") + QCoreApplication::applicationVersion());
  text(QLocale().name());
  text(databaseEntry);
  QFile database(databaseFile);
  if (!database.open(QIODevice::ReadOnly) || !hash.addData(&database)) return QByteArray();
  text(QStringLiteral("%1 %2 %3")
           .arg(site_->Download)
           .arg(int(site_->CameraDetails))
           .arg(int(project_.ZipDatabase)));
  text(project_.SiteAddress);
  QList<int> leftOut(site_->LeftOutPictures.cbegin(), site_->LeftOutPictures.cend());
  std::sort(leftOut.begin(), leftOut.end());
  for (int id : std::as_const(leftOut))
    text(QString::number(id));
  // The template's files: the pages' skeleton and whatever else it ships.
  text(project_.SiteTemplate);
  if (!project_.SiteTemplate.isEmpty()) {
    QStringList files;
    ListTemplateFiles(templatesRoot(), project_.SiteTemplate, files);
    files.sort();
    const QString base = IncludeTrailingSeparator(templatesRoot()) + project_.SiteTemplate;
    for (const QString& file : std::as_const(files)) {
      const QString path = PathBelow(base, file);
      const TFileStamp stamp = FileStampOf(path);
      text(QStringLiteral("%1 %2 %3 %4 %5")
               .arg(path)
               .arg(int(stamp.IsFile))
               .arg(stamp.Size)
               .arg(qint64(stamp.MTime.tv_sec))
               .arg(qint64(stamp.MTime.tv_nsec)));
    }
  }
  hash.addData(siteInputs_.result());
  return hash.result();
}

bool TSiteArchive::keepSite(const QString& databaseEntry) {
  const QString info = QLatin1String(kSiteInfoName);
  if (!archive_->HasPrevious(databaseEntry) || !archive_->HasPrevious(info)) return false;
  const QStringList pages = archive_->PreviousEntries([](const QString& name) {
    return !name.contains(QLatin1Char('/')) && IsSitePageEntry(name);
  });
  QStringList names = pages;
  names << info << databaseEntry;
  for (const QString& name : std::as_const(names))
    if (!archive_->WantedAs(name).isEmpty()) return false;
  for (const QString& name : std::as_const(names))
    archive_->KeepPrevious(name);
  site_->KeepPages(pages);
  return true;
}

void TSiteArchive::addDetailPicture(const TLumenfoldPicture* p, bool packed,
                                    TFolderStamps& stamps) {
  const qint64 fields[] = {-1, p->Id, packed ? 1 : 0};
  addDetailInput(QByteArrayView(reinterpret_cast<const char*>(fields), sizeof(fields)));
  if (packed) return;
  // Not packed, so not looked at for the archive: should the public copy take it all the same,
  // its details must not outlive its files.
  QStringList names;
  for (const TGeneratedSize size : kGeneratedSizes)
    names << p->StoredFileName(size);
  for (int size : site_->Manifest().WebSizes)
    names << WebSizeFileName(p->StoredFileName(TGeneratedSize::Medium), size);
  for (const QString& name : std::as_const(names)) {
    if (name.isEmpty()) continue;
    const QString file = PathBelow(p->Album->Path, name);
    bool exists = false;
    TFileStamp stamp = stamps.Own(file, exists);
    if (exists && !stamp.IsFile) stamp = FileStampOf(file);
    const qint64 seen[] = {name.size(), exists ? 1 : 0, stamp.Size, qint64(stamp.MTime.tv_sec),
                           qint64(stamp.MTime.tv_nsec)};
    addDetailInput(QByteArrayView(reinterpret_cast<const char*>(seen), sizeof(seen)));
    addDetailInput(QByteArrayView(reinterpret_cast<const char*>(name.constData()),
                                  name.size() * qsizetype(sizeof(QChar))));
  }
}

void TSiteArchive::addDetailInput(QByteArrayView bytes) {
  constexpr qsizetype kPiece = 64 * 1024;
  if (detailPending_.capacity() < kPiece + 4096) detailPending_.reserve(kPiece + 4096);
  detailPending_.append(bytes);
  if (detailPending_.size() < kPiece) return;
  detailInputs_.addData(detailPending_);
  detailPending_.resize(0);
}

void TSiteArchive::finishDetailKey() {
  if (detailAlbum_ < 0) return;
  detailInputs_.addData(detailPending_);
  detailPending_.clear();
  const QByteArray key = detailInputs_.result();
  detailKeys_.insert(detailAlbum_, key);
  // The site's inputs are those of its albums, in their order.
  const qint64 album = detailAlbum_;
  siteInputs_.addData(QByteArrayView(reinterpret_cast<const char*>(&album), sizeof(album)));
  siteInputs_.addData(key);
  detailAlbum_ = -1;
}

void TSiteArchive::addSiteAlbum(const TLumenfoldAlbum* album) {
  if (album->Id != detailAlbum_) {
    finishDetailKey();
    detailAlbum_ = album->Id;
    detailInputs_.reset();
    detailPending_.clear();
  }
  // The names below are relative to the album's folder.
  addSiteInput(album->Path, QString(), TFileStamp(), false);
}

void TSiteArchive::addSiteInput(const QString& name, const QString& path, const TFileStamp& stamp,
                                bool exists) {
  // A link is read through by the site's database.
  const TFileStamp s = exists && !stamp.IsFile ? FileStampOf(path) : stamp;
  const qint64 fields[] = {name.size(), exists ? 1 : 0,         s.IsFile ? 1 : 0,
                           s.Size,      qint64(s.MTime.tv_sec), qint64(s.MTime.tv_nsec)};
  const QByteArrayView seen(reinterpret_cast<const char*>(fields), sizeof(fields));
  const QByteArrayView named(reinterpret_cast<const char*>(name.constData()),
                             name.size() * qsizetype(sizeof(QChar)));
  addDetailInput(seen);
  addDetailInput(named);
}
