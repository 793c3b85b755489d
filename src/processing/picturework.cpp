#include "processing/picturework.h"

#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "processing/archive/archivebuilder.h"
#include "processing/publicsite.h"
#include "util/helpers.h"
#include "util/imaging/colour.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorybudget.h"
#include "util/imaging/resample.h"
#include "util/lumenfolderror.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <unistd.h>

namespace {

// The images a picture's run has fitted so far, largest first: sRGB and unsigned, so that a
// smaller image can be fitted from one of them instead of from the far larger decode.
using TMadeImages = std::vector<QImage>;

// The smallest made image that an image of the given size may be fitted from: one that covers
// it (cover, the web sizes) or one with at least twice its pixels, as the decode itself must
// give (the medium image and thumbnail). nullptr: fit it from the decode.
const QImage* fittingSource(const TMadeImages& made, QSize size, bool cover) {
  const QImage* best = nullptr;
  for (const QImage& image : made) {
    const bool enough =
        cover ? image.width() >= size.width() && image.height() >= size.height()
              : qint64(image.width()) * image.height() >= 2 * qint64(size.width()) * size.height();
    if (enough && (!best || image.width() < best->width())) best = &image;
  }
  return best;
}

// Fits, stamps (when the signature needs no picture) and encodes one size. An empty box makes
// the large image, which takes the original's bitmap over, so stamping it needs no second copy.
// The fitted image joins made (cover: see fittingSource).
void produceOutput(const TPictureWork& work, TLoadedOriginal& original, const TColourPlan& colour,
                   const QByteArray& metadata, const TOutputWork& output, QSize box, bool noUpscale,
                   TOutputResult& result, const std::function<void()>& step, TMadeImages& made,
                   bool cover = false) {
  QImage bitmap;
  if (box.isEmpty()) {
    // The large image is the oriented, cropped original itself.
    bitmap = std::move(original.Bitmap);
    original.Bitmap = QImage();
    ConvertToSrgb(bitmap, colour);
  } else {
    const TFitResult fit = FitIntoBox(original.Size, box.width(), box.height(), noUpscale);
    if (fit.Size.isEmpty())
      throw EImageError(QStringLiteral("The box %1 x %2 cannot hold a picture.")
                            .arg(box.width())
                            .arg(box.height()));
    if (const QImage* from = fittingSource(made, fit.Size, cover)) {
      ResampleBitmapInto(*from, QRectF(0, 0, from->width(), from->height()), bitmap, fit.Size,
                         ResizeFilterFromCode(work.Filter));
    } else {
      ResampleBitmapInto(original.Bitmap, original.Window, bitmap, fit.Size,
                         ResizeFilterFromCode(work.Filter));
      // On the fitted bitmap, not the decode: far fewer pixels. Before the signature, whose
      // colours are sRGB already.
      ConvertToSrgb(bitmap, colour);
    }
    made.push_back(bitmap);
  }
  step();
  if (output.SignLater) {
    result.Bitmap = bitmap;
    return;
  }
  result.Jpeg = SignAndEncode(std::move(bitmap), output, nullptr, metadata, work.Metadata);
  step();
  if (work.Zip) result.Zip = CompressForArchive(result.Jpeg);
}

// Runs one output's work and keeps its failure in its result.
template <typename Work> void produceGuarded(TOutputResult& result, Work&& produce) {
  try {
    produce();
  } catch (const std::exception& e) {
    result.Error = TextOf(e);
  } catch (...) {
    result.Error = QStringLiteral("The image cannot be made.");
  }
}

} // namespace

const QByteArray& OutputMetadataFor(const TPictureResult& result, int kind) {
  static const QByteArray none;
  return kind == okThumb ? none : result.Metadata;
}

TMetadataKeep MetadataKeepFromProject(int outputMetadata) {
  switch (outputMetadata) {
  case omAll:
    return TMetadataKeep::All;
  case omNone:
    return TMetadataKeep::None;
  default:
    return TMetadataKeep::Safe;
  }
}

bool SignatureNeedsPicture(const TLumenfoldSignature* signature) {
  if (!signature) return false;
  for (int i = 0; i < signature->Maps.Count(); ++i) {
    const TLumenfoldSignatureMap* map = signature->Maps.Maps(i);
    if (map && map->Item && map->Item->IsText() && map->Item->Caption().contains(QLatin1Char('%')))
      return true;
  }
  return false;
}

QByteArray SignAndEncode(QImage bitmap, const TOutputWork& output, const TLumenfoldPicture* picture,
                         const QByteArray& metadata, TMetadataKeep keep) {
  // Check the quality before any work, as the encoder would.
  if (output.Quality < 1 || output.Quality > 100)
    throw EImageRangeError(
        QStringLiteral("The JPEG quality %1 is out of the range 1..100.").arg(output.Quality));
  if (output.Signature) output.Signature->Draw(bitmap, picture);
  const QByteArray fitted =
      keep == TMetadataKeep::All ? MetadataForOutputSize(metadata, bitmap.size()) : metadata;
  return TagJpegAsSrgb(EncodeJpeg(bitmap, output.Quality, output.Chroma), fitted);
}

namespace {

TOriginalRequest requestFor(const TPictureWork& work) {
  TOriginalRequest request;
  request.Orientation = work.Orientation;
  request.Crop = work.Crop;
  request.CropTopLeft = work.CropTopLeft;
  request.CropBottomRight = work.CropBottomRight;
  request.NoUpscale = work.NoUpscale;
  request.FullResolution = work.Outputs[okLarge].Enabled;
  request.MaxPixels = work.MaxPixels;
  for (int k = okMedium; k <= okThumb; ++k)
    if (work.Outputs[k].Enabled) request.Boxes.append(work.Outputs[k].Box);
  // The largest web size is fitted from the decode, each smaller image from the one before.
  for (int size : work.WebSizes)
    request.CoverBoxes.append(QSize(size, size));
  return request;
}

// A worker keeps its buffers from picture to picture; those of a picture far larger than a
// photograph go back, so that memory is only held while a reservation covers it.
constexpr qint64 kMostKeptBytes = qint64(64) << 20;

thread_local QByteArray t_contents;
thread_local TLoadedOriginal t_original;

TPictureResult producePicture(const TPictureWork& work, const TPictureSteps& steps) {
  TPictureResult result;
  // Reading, decoding, and for each size fitting and encoding (a step each).
  int outputs = 0;
  for (const TOutputWork& output : work.Outputs)
    if (output.Enabled) ++outputs;
  outputs += int(work.WebSizes.size());
  const int stepCount = work.Render ? 2 + 2 * outputs : 1;
  int stepsDone = 0;
  auto step = [&] {
    if (steps) steps(std::min(++stepsDone, stepCount), stepCount);
  };
  // The file is read once: checksum, size, the zip test and the decode all use these bytes.
  // A file too large to hold (never a real photograph) is streamed instead.
  // The buffers stay with the thread from picture to picture, so their memory is not handed
  // back to the system and faulted in again each time.
  QByteArray& contents = t_contents;
  result.ModifiedSecs = FileModifiedSecs(work.OriginalPath);
  if (ReadWholeFile(work.OriginalPath, contents)) {
    result.Hash = GetDataHash(contents);
    result.Size = int(contents.size());
    if (work.ZipOriginal) result.OriginalZip = CompressForArchive(contents);
  } else {
    // A file that cannot be opened is no decoding problem: the system's reason is the user's.
    const int fd = ::open(QFile::encodeName(work.OriginalPath).constData(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
      result.ReadError = QStringLiteral("The picture \"%1\" cannot be read: %2.")
                             .arg(work.OriginalPath, QString::fromLocal8Bit(std::strerror(errno)));
      return result;
    }
    ::close(fd);
    result.Hash = GetFileHash(work.OriginalPath);
    result.Size = GetFileSizeBytes(work.OriginalPath);
    // Too large to hold: the archive compresses it from the file at the end.
  }
  step();
  if (!work.Render) return result;

  TLoadedOriginal& original = t_original;
  try {
    const TOriginalRequest request = requestFor(work);
    const int warnings = JpegWarningCount();
    {
      // A large original takes long to decode: within its step, the report follows the codec.
      int decoded = 0;
      TJpegDecodeProgress decoding([&](int permille) {
        if (!steps || permille <= decoded) return;
        decoded = permille;
        steps(stepsDone * 1000 + permille, stepCount * 1000);
      });
      LoadOriginal(work.OriginalPath, contents, request, original);
    }
    result.Damaged = JpegWarningCount() != warnings;
    step();
  } catch (const std::exception& e) {
    result.LoadError = TextOf(e);
    if (result.LoadError.isEmpty())
      result.LoadError =
          QStringLiteral("The picture \"%1\" cannot be loaded.").arg(work.OriginalPath);
    return result;
  } catch (...) {
    result.LoadError =
        QStringLiteral("The picture \"%1\" cannot be loaded.").arg(work.OriginalPath);
    return result;
  }
  result.OriginalSize = original.OriginalSize;
  result.PictureSize = original.Size;
  const TColourPlan colour = ColourPlanForJpeg(contents, work.OriginalPath);
  if (work.Outputs[okLarge].Enabled || work.Outputs[okMedium].Enabled || !work.WebSizes.isEmpty())
    result.Metadata = OutputMetadataSegments(contents, work.OriginalPath, work.Metadata);

  // The extra web sizes, largest first, then the medium image and thumbnail: each is fitted
  // from the smallest image made before it that is large enough, else from the unsigned
  // original, which the large image then takes over.
  TMadeImages made;
  if (!work.WebSizes.isEmpty()) {
    const TOutputWork& medium = work.Outputs[okMedium];
    const QSize mediumSize = medium.Enabled ? FitIntoBox(original.Size, medium.Box.width(),
                                                         medium.Box.height(), work.NoUpscale)
                                                  .Size
                                            : QSize();
    result.WebEdges = WebSizeEdges(work.WebSizes, original.Size,
                                   std::max(mediumSize.width(), mediumSize.height()));
    result.Web.resize(size_t(work.WebSizes.size()));
    for (qsizetype i = work.WebSizes.size() - 1; i >= 0; --i) {
      const int edge = result.WebEdges[i];
      if (edge <= 0) {
        step();
        step();
        continue;
      }
      // Never enlarged: a picture smaller than the size gets its own size.
      produceGuarded(result.Web[size_t(i)], [&] {
        produceOutput(work, original, colour, result.Metadata, medium, QSize(edge, edge), true,
                      result.Web[size_t(i)], step, made, true);
      });
    }
  }
  for (int k : {okMedium, okThumb}) {
    if (!work.Outputs[k].Enabled) continue;
    produceGuarded(result.Outputs[k], [&] {
      produceOutput(work, original, colour, OutputMetadataFor(result, k), work.Outputs[k],
                    work.Outputs[k].Box, work.NoUpscale, result.Outputs[k], step, made);
    });
  }
  made.clear();
  if (work.Outputs[okLarge].Enabled)
    produceGuarded(result.Outputs[okLarge], [&] {
      produceOutput(work, original, colour, OutputMetadataFor(result, okLarge),
                    work.Outputs[okLarge], QSize(), work.NoUpscale, result.Outputs[okLarge], step,
                    made);
    });
  return result;
}

} // namespace

qint64 HeldBytes(const TPictureResult& result) {
  qint64 bytes = result.OriginalZip.Data.size();
  for (const TOutputResult& out : result.Outputs)
    bytes += out.Jpeg.size() + out.Bitmap.sizeInBytes() + out.Zip.Data.size();
  for (const TOutputResult& out : result.Web)
    bytes += out.Jpeg.size() + out.Bitmap.sizeInBytes() + out.Zip.Data.size();
  return bytes;
}

qint64 PictureMemoryNeed(const TPictureWork& work) {
  const qint64 fileBytes = std::max<qint64>(0, QFileInfo(work.OriginalPath).size());
  if (!work.Render) return fileBytes;
  try {
    return EstimateOriginalMemory(work.OriginalPath, requestFor(work));
  } catch (const std::exception&) {
    return fileBytes; // the decode refuses it and says why
  }
}

TPictureResult ProducePicture(const TPictureWork& work, const TPictureSteps& steps,
                              TMemoryBudget* budget) {
  if (!budget) return producePicture(work, steps);
  const qint64 need = PictureMemoryNeed(work);
  if (!budget->Reserve(need)) {
    // Checksum and size only; the picture is skipped like one that cannot be decoded.
    TPictureWork hashOnly = work;
    hashOnly.Render = false;
    TPictureResult result = producePicture(hashOnly, steps);
    result.LoadError = QStringLiteral("The picture \"%1\" needs about %2 MB of memory to be "
                                      "processed, more than the %3 MB a run may use.")
                           .arg(work.OriginalPath)
                           .arg(need >> 20)
                           .arg(budget->Total() >> 20);
    budget->Finish(0, HeldBytes(result));
    return result;
  }
  TPictureResult result;
  try {
    result = producePicture(work, steps);
  } catch (...) {
    budget->Finish(need, 0);
    throw;
  }
  if (t_contents.capacity() > kMostKeptBytes) t_contents = QByteArray();
  if (t_original.Bitmap.sizeInBytes() > kMostKeptBytes) t_original = TLoadedOriginal();
  budget->Finish(need, HeldBytes(result));
  return result;
}

qint64 LargestDecodedBytes(const QStringList& originals, qint64 maxPixels) {
  qint64 most = 0;
  for (const QString& path : originals) {
    try {
      const QSize size = ReadPictureSize(path);
      qint64 pixels = qint64(size.width()) * size.height();
      if (maxPixels > 0) pixels = std::min(pixels, maxPixels);
      most = std::max(most, pixels * 4);
    } catch (const std::exception&) {
      // Reported at the picture's turn.
    }
  }
  return most;
}

int WorkersForMemory(int wanted, qint64 largestDecodedBytes, qint64 availableBytes) {
  wanted = std::max(1, wanted);
  if (largestDecodedBytes <= 0 || availableBytes <= 0) return wanted;
  const qint64 perWorker = largestDecodedBytes + largestDecodedBytes / 2;
  const qint64 fit = (availableBytes / 2) / perWorker;
  return int(std::clamp<qint64>(fit, 1, wanted));
}

TPictureWork PictureWorkFor(const TLumenfoldProject& project, const TLumenfoldPicture& p,
                            bool render, bool zip, bool zipOriginal) {
  TPictureWork work;
  work.OriginalPath = p.OriginalPath();
  work.Render = render;
  work.Orientation = p.Orientation;
  const TCropRect& c = p.CropRect;
  work.Crop = c.X1 != -1 || c.Y1 != -1 || c.X2 != -1 || c.Y2 != -1;
  work.CropTopLeft = QPoint(c.X1, c.Y1);
  work.CropBottomRight = QPoint(c.X2, c.Y2);
  work.NoUpscale = project.NeverUpscale;
  work.Filter = project.ResizeMethod;
  work.Zip = zip;
  work.ZipOriginal = zipOriginal;
  work.MaxPixels = qint64(std::max(0, project.MaxMegapixels)) * 1000000;
  work.Metadata = MetadataKeepFromProject(project.OutputMetadata);
  const bool enabled[kOutputKinds] = {project.LargeEnabled, project.MediumEnabled,
                                      project.ThumbEnabled};
  const QSize boxes[kOutputKinds] = {QSize(), QSize(project.MediumWidth, project.MediumHeight),
                                     QSize(project.ThumbWidth, project.ThumbHeight)};
  const int qualities[kOutputKinds] = {project.LargeQuality, project.MediumQuality,
                                       project.ThumbQuality};
  // The large image carries the medium image's signature.
  const int signatures[kOutputKinds] = {p.MediumSignatureId, p.MediumSignatureId,
                                        p.ThumbSignatureId};
  for (int k = 0; k < kOutputKinds; ++k) {
    TOutputWork& out = work.Outputs[k];
    out.Enabled = enabled[k];
    out.Box = boxes[k];
    out.Quality = qualities[k];
    out.Chroma = project.ChromaSubsampling == cs420 ? TJpegChroma::Half : TJpegChroma::Full;
    out.Signature = signatures[k] == -1 ? nullptr : project.Signatures.FindById(signatures[k]);
    out.SignLater = SignatureNeedsPicture(out.Signature);
  }
  return work;
}
