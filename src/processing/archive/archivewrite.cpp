// Writing the archive: updated where it lies, or written whole into a file that replaces it.
#include "processing/archive/archivebuilder.h"

#include "processing/archive/archivemark.h"
#include "processing/archive/archiveupdate.h"
#include "util/durablefiles.h"

#include <QFile>
#include <QFileInfo>
#include <QSet>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

void TArchiveBuilder::Write() {
  if (spool_ && !spool_->flush())
    throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be written: %2")
                        .arg(archivePath_, spool_->errorString()));
  updated_ = false;
  if (updatable_ && updateInPlace()) {
    updated_ = true;
    return;
  }
  auto fail = [&](const QString& reason) {
    stopPrefill(0);
    QFile::remove(newPath_);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  };
  // Every entry's place and header first: nothing is written for an entry that is not ready.
  struct Part {
    TZipEntryHeader Header;
    int Fd = -1;
    qint64 Offset = 0;
    QByteArray Data;         // its bytes, when held in memory (Fd -1)
    qint64 LocalOffset = -1; // an entry copied with its local header: where that lies
    qint64 End = 0;          // where it ends in the new archive
    bool InPlace = false;    // the copy made ahead holds it at its place
  };
  std::vector<Part> parts;
  parts.reserve(wanted_.size());
  qint64 total = 0;
  const int spoolFd = spool_ ? spool_->handle() : -1;
  for (const Wanted& w : wanted_) {
    Part part;
    if (const auto s = spooled_.constFind(w.Name); s != spooled_.constEnd()) {
      part.Header = s->Header(w.Name);
      part.Fd = s->Offset < 0 ? -1 : spoolFd;
      part.Offset = s->Offset;
      part.Data = s->Data;
    } else if (const OldEntry* o = oldOf(w);
               o && (w.Previous || sameContent_.contains(w.Name) || unchanged(w))) {
      // Copied as it is: compressed bytes, CRC, time stamp and attributes; the name as wanted.
      part.Header = o->Raw.Header;
      part.Header.Name = w.Name.toUtf8();
      part.Fd = oldFd_;
      part.Offset = o->DataOffset;
      // The local header there is the one the writer would write: it goes along with the data.
      if (o->AsWritten && o->Raw.Header.Name == part.Header.Name)
        part.LocalOffset = qint64(o->Raw.LocalHeaderOffset);
    } else {
      fail(QStringLiteral("the entry \"%1\" was not prepared.").arg(w.Name));
    }
    total += qint64(part.Header.CompressedSize);
    parts.push_back(std::move(part));
  }

  // Where each entry goes; an entry copied as it is that goes where it was is in the copy made
  // ahead (when that got so far), and the copy need not go beyond the last such entry.
  qint64 at = 0, keepEnd = 0;
  for (Part& part : parts) {
    part.End = at + ZipLocalHeaderSize(part.Header) + qint64(part.Header.CompressedSize);
    part.InPlace = prefill_ && part.LocalOffset == at;
    if (part.InPlace) keepEnd = part.End;
    at = part.End;
  }
  // While the copy made ahead finishes, the entries it holds in place count as written, as far
  // as it got.
  if (Progress) Progress(0, total);
  const qint64 prefilled = stopPrefill(keepEnd, [&](qint64 done) {
    if (!Progress) return;
    qint64 data = 0;
    for (const Part& part : parts) {
      if (!part.InPlace || part.End > done) break;
      data += qint64(part.Header.CompressedSize);
    }
    Progress(data, total);
  });
  inPlace_ = 0;
  for (Part& part : parts) {
    part.InPlace = part.InPlace && part.End <= prefilled;
    if (part.InPlace) ++inPlace_;
  }
  const bool keep = inPlace_ > 0;
  if (!keep) QFile::remove(newPath_);

  // A first archive (there is none before it) whose spooled entries are all wanted is the spool
  // itself: the spool holds those entries as an archive does, so they stay where they are, the
  // others follow them and the directory ends the file; the spooled pictures are never copied.
  // Their order is the order they were made in; a later full write keeps the wanted order.
  size_t spooledParts = 0;
  for (const Part& part : parts)
    if (part.Fd == spoolFd && spoolFd >= 0) ++spooledParts;
  // Every spooled entry wanted, none spooled twice: the spool holds no bytes of anything else.
  const bool spoolBecomesArchive =
      oldFd_ < 0 && !keep && spoolFd >= 0 && spooledParts == spoolOrder_.size();
  if (spoolBecomesArchive) {
    QHash<QString, size_t> partOf;
    for (size_t i = 0; i < parts.size(); ++i)
      if (parts[i].Fd == spoolFd) partOf.insert(wanted_[i].Name, i);
    std::vector<Part> ordered;
    ordered.reserve(parts.size());
    for (const QString& name : spoolOrder_) {
      Part part = parts[partOf.value(name)];
      part.InPlace = true;
      ordered.push_back(std::move(part));
    }
    for (const Part& part : parts)
      if (part.Fd != spoolFd) ordered.push_back(part);
    parts = std::move(ordered);
  }
  const QString written = spoolBecomesArchive ? spoolPath_ : newPath_;

  TZipWriter writer;
  writer.Comment = ArchiveComment(SiteDigest); // tells later runs that the file is ours to replace
  if (!writer.Open(written, keep || spoolBecomesArchive)) fail(writer.ErrorString());
  if (Progress) writer.Copied = [&](quint64 written) { Progress(qint64(written), total); };
  for (size_t i = 0; i < parts.size(); ++i) {
    if (BeforeEntry) {
      try {
        BeforeEntry(int(i));
      } catch (...) {
        QFile::remove(newPath_);
        throw;
      }
    }
    const Part& part = parts[i];
    const bool added = part.InPlace ? writer.AddInPlace(part.Header)
                       : part.LocalOffset >= 0
                           ? writer.AddVerbatim(part.Header, part.Fd, part.LocalOffset)
                       : part.Fd < 0 ? writer.Add(part.Header, part.Data.constData())
                                     : writer.AddFrom(part.Header, part.Fd, part.Offset);
    if (!added) fail(writer.ErrorString());
  }
  if (!writer.Finish()) fail(writer.ErrorString());
  if (spoolBecomesArchive) {
    // The spool is the archive now: nothing of it may be used as a spool again.
    spool_->close();
    spool_.reset();
    spooled_.clear();
    settled_ = 0;
    spoolOrder_.clear();
    spoolSize_ = 0;
  }
  // The archive keeps the permissions the user gave it.
  if (oldMode_ >= 0) ::chmod(QFile::encodeName(written).constData(), mode_t(oldMode_));
  if (Progress) Progress(total, total);
  // On the disk before it takes the old one's place: a power cut leaves one of the two whole.
  QString unsynced;
  if (!SyncFile(written, &unsynced)) {
    QFile::remove(written);
    fail(unsynced);
  }
  // The new archive takes the old one's place in one step. Exchanging the two names (then
  // removing the old archive under the new name) does that without making the file system
  // write the whole new archive out at once, as replacing a file by a rename does on some file
  // systems; a plain rename is the fallback.
  const QByteArray encoded = QFile::encodeName(written);
  const QByteArray target = QFile::encodeName(archivePath_);
  if (QFileInfo::exists(archivePath_) && renameat2(AT_FDCWD, encoded.constData(), AT_FDCWD,
                                                   target.constData(), RENAME_EXCHANGE) == 0) {
    QFile::remove(written);
    SyncFolderOf(archivePath_);
    return;
  }
  if (std::rename(encoded.constData(), target.constData()) != 0) {
    const QString reason = QString::fromLocal8Bit(std::strerror(errno));
    QFile::remove(written);
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, reason));
  }
  SyncFolderOf(archivePath_);
}

bool TArchiveBuilder::sameAsOld(const SpoolRecord& spooled, const OldEntry& old) const {
  const TZipEntryHeader& h = old.Raw.Header;
  if ((spooled.Offset >= 0 && !spool_) || spooled.Crc != h.Crc || quint64(spooled.Size) != h.Size ||
      quint64(spooled.Length) != h.CompressedSize ||
      (spooled.Deflated ? kZipDeflated : kZipStored) != h.Method)
    return false;
  constexpr qint64 kPiece = qint64(1) << 20;
  QByteArray a(qsizetype(std::min(spooled.Length, kPiece)), Qt::Uninitialized), b = a;
  for (qint64 at = 0; at < spooled.Length;) {
    const qint64 piece = std::min(spooled.Length - at, kPiece);
    const char* mine = spooled.Offset < 0 ? spooled.Data.constData() + at : a.constData();
    if ((spooled.Offset >= 0 &&
         ::pread(spool_->handle(), a.data(), size_t(piece), off_t(spooled.Offset + at)) != piece) ||
        ::pread(oldFd_, b.data(), size_t(piece), off_t(old.DataOffset + at)) != piece ||
        std::memcmp(mine, b.constData(), size_t(piece)) != 0)
      return false;
    at += piece;
  }
  return true;
}

bool TArchiveBuilder::updateInPlace() {
  const QHash<QString, OldEntry>& old = checkedEntries();
  // Entries whose headers are not as this program writes them (or damaged) are made anew by a
  // full write.
  if (size_t(old.size()) != oldCount_) return false;
  TArchiveUpdatePlan plan;
  plan.OldSize = oldSize_;
  plan.OldDirectoryOffset = oldDirectory_;
  plan.Comment = ArchiveComment(SiteDigest);
  plan.Entries.reserve(wanted_.size());
  // The old entries that stay, marked where they lie (one lookup each, no set of names).
  for (auto o = old.constBegin(); o != old.constEnd(); ++o)
    o->Kept = false;
  int kept = 0;
  const int spoolFd = spool_ ? spool_->handle() : -1;
  for (const Wanted& w : wanted_) {
    TArchiveUpdateEntry entry;
    const OldEntry* o = oldOf(w);
    const auto s = spooled_.constFind(w.Name);
    if (o && (s != spooled_.constEnd()
                  ? sameAsOld(*s, *o)
                  : (w.Previous || sameContent_.contains(w.Name) || unchanged(w)))) {
      // It stays where it is, as it is (with its time stamp when only the file's time changed).
      if (!o->AsWritten) return false;
      entry.Header = o->Raw.Header;
      entry.Kept = true;
      entry.LocalOffset = qint64(o->Raw.LocalHeaderOffset);
      if (!o->Kept) ++kept;
      o->Kept = true;
    } else if (s != spooled_.constEnd()) {
      entry.Header = s->Header(w.Name);
      if (s->Offset < 0)
        entry.SourceData = s->Data;
      else
        entry.SourceFd = spoolFd;
      entry.SourceOffset = s->Offset;
    } else {
      // Made anew by the full write, which names what is missing.
      return false;
    }
    plan.Entries.push_back(std::move(entry));
  }
  for (auto o = old.constBegin(); o != old.constEnd(); ++o)
    if (!o->Kept)
      plan.Dead.emplace_back(qint64(o->Raw.LocalHeaderOffset),
                             o->DataOffset + qint64(o->Raw.Header.CompressedSize));
  inPlace_ = kept;
  // An archive that does not name the digest of its site's database yet (one of an earlier
  // version, or one whose database changed without changing the site) gets a new directory that
  // does, once: later runs then need not make the site's database to find it unchanged.
  if (plan.Dead.empty() && size_t(inPlace_) == plan.Entries.size() &&
      SiteDigest == previousSiteDigest_) {
    // Nothing changed: the archive is not touched at all.
    qint64 done = 0, total = 0;
    for (const TArchiveUpdateEntry& entry : plan.Entries)
      total += qint64(entry.Header.CompressedSize);
    if (Progress) Progress(0, total);
    for (size_t i = 0; i < plan.Entries.size(); ++i) {
      if (BeforeEntry) BeforeEntry(int(i));
      done += qint64(plan.Entries[i].Header.CompressedSize);
      if (Progress) Progress(done, total);
    }
    return true;
  }
  PlanArchiveUpdate(plan);
  // Space of entries that went is given back by writing the whole archive anew once it is more
  // than a quarter of the file. The old directory's place counts from the next update on: in a
  // small archive it alone could pass the quarter, and every update would write it whole.
  if ((plan.Unused - (plan.OldSize - plan.OldDirectoryOffset)) * 4 > plan.NewSize) return false;
  const QString failed = UpdateArchiveInPlace(archivePath_, plan, BeforeEntry, Progress);
  if (!failed.isEmpty())
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(archivePath_, failed));
  return true;
}
