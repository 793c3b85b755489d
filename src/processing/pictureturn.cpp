// One picture's turn in a processing run (TProcessThread, run thread): its worker's result is
// taken, its files are written in list order, and its record goes to the thread that owns the
// picture (TRunResults).
#include "processing/processthread.h"

#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "processing/archive/archivebuilder.h"
#include "processing/archive/archivefiles.h"
#include "processing/picturepipeline.h"
#include "processing/picturework.h"
#include "processing/publicsite.h"
#include "processing/runresults.h"
#include "processing/sitearchive.h"
#include "util/durablefiles.h"
#include "util/helpers.h"
#include "util/imaging/imaging.h"
#include "util/safefile.h"

#include <QDir>
#include <QFileInfo>
#include <QImageReader>
#include <filesystem>

namespace {

// Writes the bytes through a temporary file in the same folder that replaces the target only
// when complete.
void writeFileAtomically(const QString& path, const QByteArray& bytes) {
  QString reason = WriteFileReplacing(path, bytes);
  if (reason.isEmpty()) return;
  // A folder that could not be made: its own reason ("Permission denied"), not the missing
  // folder's.
  const QString folder = QFileInfo(path).absolutePath();
  std::error_code error;
  if (!QFileInfo(folder).isDir() &&
      !std::filesystem::create_directories(QFile::encodeName(folder).toStdString(), error) && error)
    reason = QString::fromLocal8Bit(error.message().c_str());
  throw TRunError(QStringLiteral("The file \"%1\" cannot be written: %2").arg(path, reason));
}

} // namespace

void TProcessThread::processPicture(int index, TPicturePipeline& pipeline) {
  // Hand the pictures ahead to the workers.
  pipeline.TopUp(index);

  TLumenfoldPicture* p = WorkList[index];
  if (!p) return;
  TLumenfoldAlbum* album = p->Album;
  const QString originalPath = p->OriginalPath();
  const QString refused = refusalOf(p);
  const QFileInfo original(originalPath);
  if (!refused.isEmpty() || !original.isFile()) {
    // Handed out while the file was there: its result is dropped (and its memory counted off).
    pipeline.Drop(index);
    if (refused.isEmpty()) {
      ++report_.MissingOriginals;
      report_.MissingFiles << originalPath;
      TraceQuietly(QStringLiteral("Processing warning: file \"%1\" not found ").arg(originalPath));
      return;
    }
    // Skipped with its reason; the picture stays modified and the run goes on. A link out of
    // the album is not followed, and none of the picture's files is packed.
    if (original.exists() && !original.isFile())
      ++report_.IrregularOriginals; // a device, a folder or a pipe, often behind a link
    else if (!OutsideLinkReason(album ? album->Path : original.absolutePath(), originalPath)
                  .isEmpty())
      ++report_.RefusedFiles;
    else
      ++report_.RefusedOriginals;
    skipped_.insert(p);
    report_.AddReason(refused);
    TraceQuietly(QStringLiteral("Processing warning: %1").arg(refused));
    return;
  }

  const qintptr number = index + 1;
  post(number, psHash);

  // The worker's result (or, for a picture whose file appeared only now, the same work here).
  // Whether the picture renders was decided when its work was made, and stays so.
  TPictureWork work;
  TPictureResult result =
      pipeline.Take(index, work, [&](int part) { postPart(part, 1000, psHash); });
  if (!result.ReadError.isEmpty()) {
    // Not read at all: the recorded checksum and size stay, and the picture stays modified.
    ++report_.UnreadableOriginals;
    skipped_.insert(p);
    report_.AddReason(result.ReadError);
    TraceQuietly(QStringLiteral("Processing warning: %1").arg(result.ReadError));
    return;
  }
  // What this run finds and makes is written into a record copy of the picture; the thread
  // that owns the picture applies it (handOver). A failure on the way hands over what was found.
  auto record = std::make_unique<TLumenfoldPicture>(album);
  record->AssignRecord(*p);
  try {
    writePicture(number, p, record, work, result);
  } catch (...) {
    if (record) handOver(p, std::move(record), false);
    throw;
  }
}

void TProcessThread::writePicture(qintptr number, TLumenfoldPicture* p,
                                  std::unique_ptr<TLumenfoldPicture>& record,
                                  const TPictureWork& work, TPictureResult& result) {
  const TLumenfoldProject& project = *project_;
  TLumenfoldPicture* r = record.get();
  const TLumenfoldAlbum* album = p->Album;
  const QString originalPath = p->OriginalPath();
  r->OriginalHash = result.Hash;
  r->OriginalSize = result.Size;
  r->OriginalDate = DosDateTimeOfSecs(result.ModifiedSecs);

  // Output folders, created with their parents; a failure shows when the image is written.
  const QString albumPath = album ? album->Path : QFileInfo(originalPath).absolutePath();
  const bool enabled[kOutputKinds] = {project.LargeEnabled, project.MediumEnabled,
                                      project.ThumbEnabled};
  const QString folders[kOutputKinds] = {project.LargeFolder, project.MediumFolder,
                                         project.ThumbFolder};
  for (int k = 0; k < kOutputKinds; ++k)
    if (enabled[k]) QDir().mkpath(PathBelow(albumPath, folders[k]));

  // The original goes into the archive with the other files of the picture at the end; what
  // the worker compressed for it waits in the spool.
  if (zip_ && work.ZipOriginal && result.OriginalZip.Size == result.Size && result.Size >= 0)
    archive_->Spool(p, p->OriginalFileName, originalPath, result.OriginalZip);

  if (p->IsDeleted) {
    handOver(p, std::move(record), false);
    return;
  }

  const bool render = work.Render;
  if (render) {
    post(number, psLoad);
    if (!result.LoadError.isEmpty()) {
      // Skipped and counted; the picture stays modified, so a later run tries again.
      ++report_.UndecodableOriginals;
      skipped_.insert(p);
      // The user learns which file could not be used, and why.
      report_.AddReason(result.LoadError);
      TraceQuietly(QStringLiteral("Processing warning: %1").arg(result.LoadError));
      handOver(p, std::move(record), false);
      return;
    }
    if (result.Damaged) {
      ++report_.DamagedOriginals;
      TraceQuietly(QStringLiteral("Processing warning: file \"%1\" is truncated or damaged ")
                       .arg(originalPath));
    }
    r->OriginalWidth = result.OriginalSize.width();
    r->OriginalHeight = result.OriginalSize.height();
    // The stored names follow the rule of today's settings; the files are written under them.
    r->UpdateFileNames();
  }

  const int stages[kOutputKinds] = {psLarge, psMedium, psThumb};
  const QSize boxes[kOutputKinds] = {QSize(), QSize(project.MediumWidth, project.MediumHeight),
                                     QSize(project.ThumbWidth, project.ThumbHeight)};
  const TGeneratedSize sizes[kOutputKinds] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                              TGeneratedSize::Thumb};
  for (int k = 0; k < kOutputKinds; ++k) {
    if (!enabled[k]) continue;
    post(number, stages[k]);
    if (!render) continue;
    TOutputResult& out = result.Outputs[k];
    if (!out.Error.isEmpty()) throw TRunError(out.Error);
    // The note about a picture smaller than its box, in list order.
    if (k != okLarge)
      FitIntoBoxTraced(result.PictureSize, boxes[k].width(), boxes[k].height(),
                       project.NeverUpscale, originalPath + QLatin1Char('.'));
    noteSignatureImages(work.Outputs[k].Signature);
    QByteArray bytes = out.Jpeg;
    if (!out.Bitmap.isNull()) {
      // Captions describe the picture in its album's list (the live picture, read only).
      bytes = SignAndEncode(std::move(out.Bitmap), work.Outputs[k], p, OutputMetadataFor(result, k),
                            work.Metadata);
      out.Bitmap = QImage();
      if (work.Zip) out.Zip = CompressForArchive(bytes);
    }
    const QString path = r->GeneratedPath(sizes[k]);
    writeFileAtomically(path, bytes);
    const int size = bytes.size();
    if (k == okLarge)
      r->LargeSize = size;
    else if (k == okMedium)
      r->MediumSize = size;
    else
      r->ThumbSize = size;
    if (work.Zip && archive_->Packs(p, false) && out.Zip.Size == size)
      archive_->Spool(p, r->StoredFileName(sizes[k]), path, out.Zip);
    out.Jpeg.clear();
    out.Zip = TCompressedEntry();
  }
  if (render) writeWebSizes(p, *r, work, result);

  post(number, psDatabase);
  handOver(p, std::move(record), true);
  post(number, psHash);
}

void TProcessThread::writeWebSizes(const TLumenfoldPicture* p, const TLumenfoldPicture& record,
                                   const TPictureWork& work, TPictureResult& result) {
  const TLumenfoldAlbum* album = p->Album;
  const QString albumPath = album ? album->Path : QFileInfo(p->OriginalPath()).absolutePath();
  const QString medium = record.StoredFileName(TGeneratedSize::Medium);
  for (qsizetype i = 0; i < work.WebSizes.size() && i < result.WebEdges.size(); ++i) {
    const QString stored = WebSizeFileName(medium, work.WebSizes[i]);
    if (stored.isEmpty()) continue;
    const QString path = PathBelow(albumPath, stored);
    TOutputResult& out = result.Web[size_t(i)];
    if (result.WebEdges[i] <= 0) {
      // Skipped for this picture: an image an earlier, larger version of it left would show
      // the old picture.
      QString why;
      if (QFileInfo(path).isFile() && !MoveToTrash(path, &why))
        throw TRunError(
            QStringLiteral("The file \"%1\" cannot be moved to the trash: %2").arg(path, why));
      continue;
    }
    if (!out.Error.isEmpty()) throw TRunError(out.Error);
    QByteArray bytes = out.Jpeg;
    if (!out.Bitmap.isNull()) {
      bytes = SignAndEncode(std::move(out.Bitmap), work.Outputs[okMedium], p, result.Metadata,
                            work.Metadata);
      out.Bitmap = QImage();
      if (work.Zip) out.Zip = CompressForArchive(bytes);
    }
    QDir().mkpath(QFileInfo(path).absolutePath());
    writeFileAtomically(path, bytes);
    if (work.Zip && archive_->Packs(p, false) && out.Zip.Size == bytes.size())
      archive_->Spool(p, stored, path, out.Zip);
    out = TOutputResult();
  }
}

QString TProcessThread::refusalOf(const TLumenfoldPicture* p) const {
  QString why = p->NameProblem();
  if (!why.isEmpty()) return why;
  const TFileRefusal refusal = CheckRegularFile(p->OriginalPath(), &why);
  if (refusal == TFileRefusal::NotRegular || refusal == TFileRefusal::OutsideFolder) return why;
  if (refusal != TFileRefusal::None || !renders(p)) return QString();
  // Every image is written through a temporary file beside it, whose name is a little longer.
  const bool enabled[kOutputKinds] = {project_->LargeEnabled, project_->MediumEnabled,
                                      project_->ThumbEnabled};
  const TGeneratedSize sizes[kOutputKinds] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                              TGeneratedSize::Thumb};
  for (int k = 0; k < kOutputKinds; ++k) {
    if (!enabled[k]) continue;
    const QFileInfo image(p->GeneratedPath(sizes[k]));
    why = FileNameLengthProblem(image.absolutePath(), image.fileName(), kTemporaryNameBytes);
    if (!why.isEmpty())
      return QStringLiteral("The picture \"%1\" is skipped: %2.").arg(p->OriginalPath(), why);
  }
  return QString();
}

void TProcessThread::noteSignatureImages(const TLumenfoldSignature* signature) {
  if (!signature) return;
  for (int i = 0; i < signature->Maps.Count(); ++i) {
    const TLumenfoldSignatureMap* map = signature->Maps.Maps(i);
    if (!map || !map->Item || map->Item->IsText()) continue;
    const QString path = map->Item->ImageName();
    if (path.isEmpty() || signatureImages_.contains(path)) continue;
    const bool usable = QFileInfo(path).isFile() && QImageReader(path).canRead();
    signatureImages_.insert(path, usable);
    if (!usable) {
      ++report_.BadSignatureImages;
      TraceQuietly(
          QStringLiteral("Processing warning: signature image \"%1\" is missing or cannot be "
                         "read ")
              .arg(path));
    }
  }
}

void TProcessThread::handOver(TLumenfoldPicture* picture, std::unique_ptr<TLumenfoldPicture> record,
                              bool save) {
  const QString failure = results_->HandOver(picture, std::move(record), save);
  if (!failure.isEmpty()) throw TRunError(failure);
}
