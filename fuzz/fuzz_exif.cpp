// Feeds arbitrary bytes to the camera metadata reader, both as the start of a JPEG file and as a
// bare EXIF block. Beyond not crashing or hanging, every result must stay in its range: an EXIF
// orientation 0..8 that maps to a picture code ±1..4, and a colour profile no larger than the
// reader's limit. The caption readers take the XMP and Photoshop blocks the walk collects, and
// the raw bytes as either block.
#include "util/imaging/captionblocks.h"
#include "util/imaging/embeddedcaptions.h"
#include "util/imaging/exif.h"

#include <QByteArray>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

void check(const TCameraMetadata& m) {
  const int code = m.PictureOrientation();
  if (m.ExifOrientation < 0 || m.ExifOrientation > 8 || code == 0 || code < -4 || code > 4 ||
      m.ColourProfile.size() > kMaxColourProfileBytes) {
    std::fprintf(stderr, "out of range: exif %d code %d profile %lld\n", m.ExifOrientation, code,
                 static_cast<long long>(m.ColourProfile.size()));
    std::abort();
  }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const QByteArray bytes =
      QByteArray::fromRawData(reinterpret_cast<const char*>(data), static_cast<qsizetype>(size));
  check(ParseCameraMetadata(bytes, TMetadataParts::ExifAndColourProfile));
  check(ParseCameraMetadata(bytes, TMetadataParts::ExifOnly));
  check(ParseExifBlock(data, size));
  const TCameraMetadata captions = ParseCameraMetadata(bytes, TMetadataParts::ExifAndCaptions);
  check(captions);
  ParseEmbeddedCaptions(captions.XmpPacket, captions.PhotoshopBlock, "en", "de");
  ScanXmpTexts(bytes);
  if (ParseIptcTexts(bytes).Damaged && !ParseIptcTexts(bytes).Keywords.isEmpty()) {
    std::fprintf(stderr, "a damaged IPTC record gave keywords\n");
    std::abort();
  }
  return 0;
}
