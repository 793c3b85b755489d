#pragma once
// The part of processing one picture that needs nothing but the original file and settings
// that stay fixed during a run: checksum and size of the original, decoding (at a reduced scale
// where the outputs allow), orientation, crop, fitting into the boxes, signatures whose captions
// have no macros, and JPEG encoding into memory. The processing run hands these to a pool of
// worker threads for the pictures ahead of the current one and takes the results in list order;
// every write (files, database, archive) stays with the run.
//
// Threads: TPictureWork is built on the run thread and then only read; ProducePicture runs on
// any thread. The signatures it draws are read only; nothing edits them during a run.
#include "processing/archive/archivebuilder.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/outputmetadata.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPoint>
#include <QSize>
#include <QString>
#include <QStringList>
#include <array>
#include <functional>
#include <vector>

class TLumenfoldPicture;
class TLumenfoldProject;
class TLumenfoldSignature;
class TMemoryBudget;

// Index of a generated size.
enum TOutputKind : int { okLarge = 0, okMedium = 1, okThumb = 2 };
inline constexpr int kOutputKinds = 3;

struct TOutputWork {
  bool Enabled = false;
  QSize Box;        // medium and thumbnail only
  int Quality = 90; // 1..100
  TJpegChroma Chroma = TJpegChroma::ByQuality;
  const TLumenfoldSignature* Signature = nullptr; // nullptr: nothing to stamp
  // The signature's captions hold macros: stamping needs the picture's record as it is at the
  // picture's turn, so the worker leaves the bitmap unsigned and unencoded.
  bool SignLater = false;
};

struct TPictureWork {
  QString OriginalPath;
  bool Render = false; // decode and produce the images (modified picture or process all)
  int Orientation = 1;
  bool Crop = false;
  QPoint CropTopLeft, CropBottomRight;
  bool NoUpscale = false;
  int Filter = 3;
  std::array<TOutputWork, kOutputKinds> Outputs;
  bool Zip = false;         // compress the generated images for the archive
  bool ZipOriginal = false; // compress the original for the archive
  qint64 MaxPixels = 0;     // a larger original is refused (0: no limit)
  // What the large and medium images keep of the original's metadata (thumbnails keep none).
  TMetadataKeep Metadata = TMetadataKeep::Safe;
  // The site template's extra web sizes (long edge, ascending), made like the medium image
  // (its signature, quality and metadata); see WebSizeEdges for those a picture gets.
  QList<int> WebSizes;
};

struct TOutputResult {
  QByteArray Jpeg;      // encoded image (empty when SignLater or on failure)
  QImage Bitmap;        // the fitted, unsigned bitmap when SignLater
  QString Error;        // failure of this size (for example a quality out of range)
  TCompressedEntry Zip; // the encoded image as it goes into the archive (when asked)
};

struct TPictureResult {
  QString Hash;  // Adler-32 as 8 lowercase hex digits; empty when unreadable or empty
  int Size = -1; // bytes; -1 when unreadable
  // The file's modification time (seconds since the epoch), read before its contents; the run
  // thread makes the packed local time stamp of it (time zone code is not for many threads).
  qint64 ModifiedSecs = -1;
  TCompressedEntry OriginalZip; // the original as it goes into the archive (when asked)
  bool Damaged = false;         // decoded with warnings: truncated or corrupt data
  QSize OriginalSize;           // stored size (before orientation), full resolution
  QSize PictureSize;            // oriented, cropped, full resolution
  QString ReadError;            // the file cannot be read at all (no permission...): the reason
  QString LoadError;            // decoding failed: the reason
  QByteArray Metadata;          // metadata segments for the large and medium images (may be empty)
  std::array<TOutputResult, kOutputKinds> Outputs;
  // For each of the work's WebSizes: the long edge made (0: skipped) and the image.
  QList<int> WebEdges;
  std::vector<TOutputResult> Web;
};

// Called by ProducePicture after each step of its work (reading, decoding, then fitting,
// encoding and compressing each size) with the steps done so far and the steps in all. While a
// large original decodes, it is also called with both counted in thousandths of a step
// (done * 1000 + part, steps * 1000), so that the report moves within that step.
using TPictureSteps = std::function<void(int done, int steps)>;

// Does the whole worker part for one picture. Never raises: failures land in the result.
// With a budget, the picture's memory (PictureMemoryNeed) is reserved from it first, waiting
// for it as long as needed; when done, the reservation is left at what the result holds
// (HeldBytes), for the caller to give back when it has taken the result. A picture that needs
// more than the whole budget is not decoded: its result has the checksum, the size and a
// LoadError that says so.
TPictureResult ProducePicture(const TPictureWork& work, const TPictureSteps& steps = {},
                              TMemoryBudget* budget = nullptr);

// The memory the picture's work takes at its peak, from the original's header (its file size
// when it is only read, or when the header cannot be read: then the decode says why).
qint64 PictureMemoryNeed(const TPictureWork& work);

// The memory a result holds until the run takes it (encoded images, bitmaps, compressed data).
qint64 HeldBytes(const TPictureResult& result);

// Stamps the signature (when set), encodes, and puts the metadata segments and the sRGB tag in;
// also for the run thread's part of SignLater outputs. Raises on failure.
// With keep All, the metadata's EXIF pixel size is set to the output's size.
QByteArray SignAndEncode(QImage bitmap, const TOutputWork& output, const TLumenfoldPicture* picture,
                         const QByteArray& metadata = QByteArray(),
                         TMetadataKeep keep = TMetadataKeep::Safe);

// The metadata segments for an output kind: the picture's for the large and medium images,
// none for thumbnails.
const QByteArray& OutputMetadataFor(const TPictureResult& result, int kind);

// The project's choice (TOutputMetadata of core/project.h) as the metadata to keep; an unknown
// value keeps the safe part.
TMetadataKeep MetadataKeepFromProject(int outputMetadata);

// The work for one picture of a run, read from the picture and the project's settings on the
// run thread: path, orientation, crop, boxes, qualities and signatures. render: decode and make
// the images; zip: compress them for the archive; zipOriginal: compress the original too.
TPictureWork PictureWorkFor(const TLumenfoldProject& project, const TLumenfoldPicture& picture,
                            bool render, bool zip, bool zipOriginal);

// True when any caption of the signature's linked items holds a '%' (a macro).
bool SignatureNeedsPicture(const TLumenfoldSignature* signature);

// Bytes of the largest decoded original among the pictures a run renders (their headers are
// read, nothing is decoded; unreadable ones count as nothing, their turn reports them). Pictures
// above maxPixels count as maxPixels: they are refused before decoding.
qint64 LargestDecodedBytes(const QStringList& originals, qint64 maxPixels);

// Workers for a run: the wanted count, lowered so that each worker's largest original (with half
// again for its outputs) fits into half of the available memory; at least one. A size or memory
// of 0 (unknown) leaves the count as it is.
int WorkersForMemory(int wanted, qint64 largestDecodedBytes, qint64 availableBytes);
