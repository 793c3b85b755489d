#include "util/imaging/heifformat.h"

#include "util/imaging/formatsupport.h"
#include "util/imaging/heifboxes.h"
#include "util/imaging/imaging.h"
#include "util/imaging/pictureformats.h"

#include <QFile>
#include <QtEndian>

#include <lcms2.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

namespace {

struct HeifContextFree {
  void operator()(heif_context* c) const { heif_context_free(c); }
};
struct HeifHandleFree {
  void operator()(heif_image_handle* h) const { heif_image_handle_release(h); }
};
struct HeifImageFree {
  void operator()(heif_image* i) const { heif_image_release(i); }
};
struct HeifNclxFree {
  void operator()(heif_color_profile_nclx* n) const { heif_nclx_color_profile_free(n); }
};
using THeifContext = std::unique_ptr<heif_context, HeifContextFree>;
using THeifHandle = std::unique_ptr<heif_image_handle, HeifHandleFree>;
using THeifImage = std::unique_ptr<heif_image, HeifImageFree>;

void initialiseHeif() {
  static std::once_flag once;
  std::call_once(once, [] { heif_init(nullptr); });
}

void checkHeif(const heif_error& error, const QString& path) {
  if (error.code == heif_error_Ok) return;
  throw EImageError(QStringLiteral("Cannot read picture \"%1\": damaged or unsupported HEIF file "
                                   "(%2).")
                        .arg(path, QString::fromUtf8(error.message ? error.message : "error")));
}

// libheif reading an open file on demand; the file must outlive the context.
const heif_reader kFileReader = {
    1, [](void* file) -> int64_t { return static_cast<QFile*>(file)->pos(); },
    [](void* data, size_t size, void* file) -> int {
      return static_cast<QFile*>(file)->read(static_cast<char*>(data), qint64(size)) == qint64(size)
                 ? 0
                 : -1;
    },
    [](int64_t position, void* file) -> int {
      return static_cast<QFile*>(file)->seek(position) ? 0 : -1;
    },
    [](int64_t size, void* file) -> heif_reader_grow_status {
      return size <= static_cast<QFile*>(file)->size() ? heif_reader_grow_status_size_reached
                                                       : heif_reader_grow_status_size_beyond_eof;
    }};

// An open HEIF file and its primary image. data (or file) must outlive it: it is not copied.
struct THeifFile {
  THeifContext Context;
  THeifHandle Primary;
  int Images = 1;

  THeifFile(const QByteArray& data, const QString& path) {
    open(path, [&](heif_context* c) {
      return heif_context_read_from_memory_without_copy(c, data.constData(), size_t(data.size()),
                                                        nullptr);
    });
  }
  // Reads only the parts of the file it needs (the boxes that describe the images and the
  // blocks asked for), not the coded pictures.
  THeifFile(QFile& file, const QString& path) {
    open(path, [&](heif_context* c) {
      return heif_context_read_from_reader(c, &kFileReader, &file, nullptr);
    });
  }
  QSize Size() const {
    return QSize(heif_image_handle_get_width(Primary.get()),
                 heif_image_handle_get_height(Primary.get()));
  }

private:
  template <typename Read> void open(const QString& path, Read read) {
    initialiseHeif();
    Context.reset(heif_context_alloc());
    if (!Context) throw EImageError(QStringLiteral("Not enough memory to read \"%1\".").arg(path));
    checkHeif(read(Context.get()), path);
    Images = heif_context_get_number_of_top_level_images(Context.get());
    heif_image_handle* handle = nullptr;
    checkHeif(heif_context_get_primary_image_handle(Context.get(), &handle), path);
    Primary.reset(handle);
  }
};

// An ICC profile for colours given by their primaries and white point with the sRGB curve, as
// phones describe Display P3 pictures.
QByteArray profileFromPrimaries(const heif_color_profile_nclx& n) {
  const cmsCIExyY white{n.color_primary_white_x, n.color_primary_white_y, 1.0};
  const cmsCIExyYTRIPLE primaries{{n.color_primary_red_x, n.color_primary_red_y, 1.0},
                                  {n.color_primary_green_x, n.color_primary_green_y, 1.0},
                                  {n.color_primary_blue_x, n.color_primary_blue_y, 1.0}};
  // The sRGB curve: the IEC 61966-2-1 parameters of a type 4 parametric curve.
  const cmsFloat64Number srgb[5] = {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045};
  cmsToneCurve* curve = cmsBuildParametricToneCurve(nullptr, 4, srgb);
  if (!curve) return {};
  cmsToneCurve* curves[3] = {curve, curve, curve};
  cmsHPROFILE profile = cmsCreateRGBProfile(&white, &primaries, curves);
  cmsFreeToneCurve(curve);
  if (!profile) return {};
  QByteArray bytes;
  cmsUInt32Number size = 0;
  if (cmsSaveProfileToMem(profile, nullptr, &size) && size > 0) {
    bytes.resize(qsizetype(size));
    if (!cmsSaveProfileToMem(profile, bytes.data(), &size)) bytes.clear();
  }
  cmsCloseProfile(profile);
  return bytes;
}

QByteArray heifProfile(const heif_image_handle* handle, const QString& path) {
  const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
  if (type == heif_color_profile_type_prof || type == heif_color_profile_type_rICC) {
    const size_t size = heif_image_handle_get_raw_color_profile_size(handle);
    if (size == 0 || size > size_t(kMaxColourProfileBytes)) return {};
    QByteArray profile(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_raw_color_profile(handle, profile.data()).code != heif_error_Ok)
      return {};
    return profile;
  }
  heif_color_profile_nclx* raw = nullptr;
  if (heif_image_handle_get_nclx_color_profile(handle, &raw).code != heif_error_Ok || !raw)
    return {};
  const std::unique_ptr<heif_color_profile_nclx, HeifNclxFree> nclx(raw);
  const auto primaries = nclx->color_primaries;
  if (primaries == heif_color_primaries_ITU_R_BT_709_5 ||
      primaries == heif_color_primaries_unspecified)
    return {}; // sRGB
  const auto transfer = nclx->transfer_characteristics;
  if (transfer != heif_transfer_characteristic_IEC_61966_2_1 &&
      transfer != heif_transfer_characteristic_unspecified &&
      transfer != heif_transfer_characteristic_ITU_R_BT_709_5) {
    TracePictureNote(
        QStringLiteral("The colours of %1 use a transfer curve (%2) that is shown as sRGB.")
            .arg(path)
            .arg(int(transfer)));
  }
  return profileFromPrimaries(*nclx);
}

// The first metadata block of the primary image of that item type (and content type, when
// given); empty when there is none or it is larger than any real one.
QByteArray heifBlock(const heif_image_handle* handle, const char* type, const char* content) {
  heif_item_id ids[16];
  const int count = heif_image_handle_get_list_of_metadata_block_IDs(handle, type, ids, 16);
  for (int i = 0; i < count; ++i) {
    if (content) {
      const char* kind = heif_image_handle_get_metadata_content_type(handle, ids[i]);
      if (!kind || std::strcmp(kind, content) != 0) continue;
    }
    const size_t size = heif_image_handle_get_metadata_size(handle, ids[i]);
    if (size == 0 || size > (size_t(16) << 20)) return {};
    QByteArray block(qsizetype(size), Qt::Uninitialized);
    if (heif_image_handle_get_metadata(handle, ids[i], block.data()).code != heif_error_Ok)
      return {};
    return block;
  }
  return {};
}

void appendJpegSegment(QByteArray& out, const QByteArray& header, const QByteArray& payload) {
  const qsizetype length = 2 + header.size() + payload.size();
  if (payload.isEmpty() || length > 65535) return; // a segment holds no more
  out += char(0xFF);
  out += char(0xE1);
  out += char(length >> 8);
  out += char(length & 0xFF);
  out += header;
  out += payload;
}

// A grid or overlay image is composed on a canvas whose size its own data gives, not the header
// that the pixel limit was checked against, and the decoder allocates that canvas before any
// tile; a damaged file could ask for gigabytes there. The bound applies to each coded image
// too, which the encoder pads up to whole coding blocks (a picture smaller than one 64 x 64 block
// is coded as one), and the canvas may exceed the header by what the clean aperture crops (up to
// a tile, in phone pictures): so the header's side plus a quarter or 1024 pixels, no more; with
// a pixel limit no side may exceed that of a 16:1 picture at the limit either.
void boundHeifCanvas(const THeifFile& file, qint64 maxPixels) {
  const QSize size = file.Size();
  const qint64 longest = std::max(size.width(), size.height());
  qint64 side = longest + std::max<qint64>(1024, longest / 4);
  if (maxPixels > 0) side = std::min(side, qint64(4 * std::sqrt(double(maxPixels))) + 1024);
  heif_context_set_maximum_image_size_limit(file.Context.get(),
                                            int(std::clamp<qint64>(side + 1, 1, 1 << 30)));
}

// Luma and colour-difference samples to RGB: fixed-point tables (16 fractional bits) for one
// matrix and range, the colour differences centred on 128.
struct TYcbcrTables {
  int Y[256], RCr[256], GCb[256], GCr[256], BCb[256];

  TYcbcrTables(double kr, double kb, bool fullRange) {
    const double kg = 1.0 - kr - kb;
    const double ys = fullRange ? 1.0 : 255.0 / 219.0, cs = fullRange ? 1.0 : 255.0 / 224.0;
    const double y0 = fullRange ? 0.0 : 16.0;
    for (int v = 0; v < 256; ++v) {
      const double c = (v - 128) * cs * 65536.0;
      Y[v] = int(std::lround((v - y0) * ys * 65536.0)) + 32768; // rounding folded in
      RCr[v] = int(std::lround(c * 2.0 * (1.0 - kr)));
      BCb[v] = int(std::lround(c * 2.0 * (1.0 - kb)));
      GCb[v] = int(std::lround(-c * 2.0 * kb * (1.0 - kb) / kg));
      GCr[v] = int(std::lround(-c * 2.0 * kr * (1.0 - kr) / kg));
    }
  }
  static uchar clamp(int v) { return uchar(std::clamp(v >> 16, 0, 255)); }
  quint32 Rgb(int y, int cb, int cr) const {
    const int l = Y[y];
    return 0xff000000u | quint32(clamp(l + RCr[cr])) << 16 |
           quint32(clamp(l + GCb[cb] + GCr[cr])) << 8 | clamp(l + BCb[cb]);
  }
};

// The luma weights of a matrix the YCbCr path converts itself; false for the others (RGB stored
// as such, YCgCo, constant luminance, ...), which the library converts.
bool lumaWeights(int matrix, double& kr, double& kb) {
  switch (matrix) {
  case heif_matrix_coefficients_ITU_R_BT_709_5:
    kr = 0.2126, kb = 0.0722;
    return true;
  case heif_matrix_coefficients_unspecified:
  case heif_matrix_coefficients_ITU_R_BT_470_6_System_B_G:
  case heif_matrix_coefficients_ITU_R_BT_601_6:
    kr = 0.299, kb = 0.114;
    return true;
  case heif_matrix_coefficients_US_FCC_T47:
    kr = 0.30, kb = 0.11;
    return true;
  case heif_matrix_coefficients_SMPTE_240M:
    kr = 0.212, kb = 0.087;
    return true;
  case heif_matrix_coefficients_ITU_R_BT_2020_2_non_constant_luminance:
    kr = 0.2627, kb = 0.0593;
    return true;
  default:
    return false;
  }
}

// An 8-bit YCbCr picture (4:2:0, 4:2:2, 4:4:4 or luma only) as decoded, converted straight into
// RGB32; with half, at half the size, each output pixel from the average of a 2 x 2 block of
// luma and the one colour-difference sample of 4:2:0 that covers it. Null when the decoded
// image is not of that kind.
QImage heifYcbcrToRgb32(const heif_image* image, const heif_image_handle* handle, bool half,
                        const QString& path) {
  if (heif_image_get_colorspace(image) == heif_colorspace_monochrome) {
    // no colour planes
  } else if (heif_image_get_colorspace(image) != heif_colorspace_YCbCr) {
    return {};
  }
  const heif_chroma chroma = heif_image_get_chroma_format(image);
  int sx = 0, sy = 0;
  switch (chroma) {
  case heif_chroma_420:
    sx = sy = 1;
    break;
  case heif_chroma_422:
    sx = 1;
    break;
  case heif_chroma_444:
  case heif_chroma_monochrome:
    break;
  default:
    return {};
  }
  const bool grey = chroma == heif_chroma_monochrome;
  if (half && (sx != 1 || sy != 1)) return {};
  if (heif_image_get_bits_per_pixel_range(image, heif_channel_Y) != 8 ||
      (!grey && (heif_image_get_bits_per_pixel_range(image, heif_channel_Cb) != 8 ||
                 heif_image_get_bits_per_pixel_range(image, heif_channel_Cr) != 8)))
    return {};
  double kr = 0.299, kb = 0.114;
  bool fullRange = true;
  heif_color_profile_nclx* raw = nullptr;
  if (heif_image_get_nclx_color_profile(image, &raw).code != heif_error_Ok || !raw)
    heif_image_handle_get_nclx_color_profile(handle, &raw);
  if (raw) {
    const std::unique_ptr<heif_color_profile_nclx, HeifNclxFree> nclx(raw);
    if (!grey && !lumaWeights(nclx->matrix_coefficients, kr, kb)) return {};
    fullRange = nclx->full_range_flag != 0;
  }
  int ys = 0, cbs = 0, crs = 0;
  const uint8_t* yp = heif_image_get_plane_readonly(image, heif_channel_Y, &ys);
  const uint8_t* cbp = grey ? nullptr : heif_image_get_plane_readonly(image, heif_channel_Cb, &cbs);
  const uint8_t* crp = grey ? nullptr : heif_image_get_plane_readonly(image, heif_channel_Cr, &crs);
  const int width = heif_image_get_width(image, heif_channel_Y);
  const int height = heif_image_get_height(image, heif_channel_Y);
  if (!yp || (!grey && (!cbp || !crp)) || width < 1 || height < 1) return {};
  if (!grey) {
    // The colour planes must cover the luma plane.
    const int cw = heif_image_get_width(image, heif_channel_Cb);
    const int ch = heif_image_get_height(image, heif_channel_Cb);
    if (cw < (width + sx) >> sx || ch < (height + sy) >> sy ||
        heif_image_get_width(image, heif_channel_Cr) < cw ||
        heif_image_get_height(image, heif_channel_Cr) < ch)
      return {};
  }
  static const std::uint8_t kNeutral[1] = {128};
  const TYcbcrTables t(kr, kb, fullRange);
  if (!half) {
    QImage out = NewBitmap(QSize(width, height), path);
    for (int y = 0; y < height; ++y) {
      const uint8_t* yl = yp + ptrdiff_t(y) * ys;
      const uint8_t* cbl = grey ? kNeutral : cbp + ptrdiff_t(y >> sy) * cbs;
      const uint8_t* crl = grey ? kNeutral : crp + ptrdiff_t(y >> sy) * crs;
      const int cx = grey ? 31 : sx; // luma only: every pixel reads the one neutral sample
      auto* o = reinterpret_cast<quint32*>(out.scanLine(y));
      for (int x = 0; x < width; ++x)
        o[x] = t.Rgb(yl[x], cbl[x >> cx], crl[x >> cx]);
    }
    return out;
  }
  // Half size: the caller allows it for even sides only, so every block is whole.
  const int hw = width / 2, hh = height / 2;
  QImage out = NewBitmap(QSize(hw, hh), path);
  for (int y = 0; y < hh; ++y) {
    const uint8_t* a = yp + ptrdiff_t(2 * y) * ys;
    const uint8_t* b = a + ys;
    const uint8_t* cbl = cbp + ptrdiff_t(y) * cbs;
    const uint8_t* crl = crp + ptrdiff_t(y) * crs;
    auto* o = reinterpret_cast<quint32*>(out.scanLine(y));
    for (int x = 0; x < hw; ++x) {
      const int l = (a[2 * x] + a[2 * x + 1] + b[2 * x] + b[2 * x + 1] + 2) >> 2;
      o[x] = t.Rgb(l, cbl[x], crl[x]);
    }
  }
  return out;
}

} // namespace

QSize ReadHeifSize(const QByteArray& data, const QString& path) {
  return THeifFile(data, path).Size();
}

QImage DecodeHeif(const QByteArray& data, const QString& path, qint64 maxPixels,
                  int allowedDenominator, int* denominator) {
  THeifFile file(data, path);
  CheckPicturePixels(path, file.Size(), maxPixels);
  boundHeifCanvas(file, maxPixels);
  if (file.Images > 1)
    TracePictureNote(QStringLiteral("%1 holds %2 images; its primary image is used.")
                         .arg(path)
                         .arg(file.Images));
  const heif_image_handle* handle = file.Primary.get();
  const bool alpha = heif_image_handle_has_alpha_channel(handle);
  const bool wide = heif_image_handle_get_luma_bits_per_pixel(handle) > 8;
  if (denominator) *denominator = 1;
  if (!alpha && !wide && allowedDenominator >= 2) {
    // Pictures as phones store them, for outputs that do not need every pixel: taken as 4:2:0
    // samples, without the library's conversion to an interleaved copy, and converted once into
    // a bitmap of half the size. (The library does not say how the samples are stored; a rare
    // 4:4:4 picture loses colour detail that the half size would not keep anyway.)
    heif_image* raw = nullptr;
    checkHeif(heif_decode_image(handle, &raw, heif_colorspace_YCbCr, heif_chroma_420, nullptr),
              path);
    const THeifImage image(raw);
    const QSize size(heif_image_get_width(raw, heif_channel_Y),
                     heif_image_get_height(raw, heif_channel_Y));
    if (size != file.Size())
      throw EImageError(QStringLiteral("Cannot read picture \"%1\": its image is not the size its "
                                       "header gives.")
                            .arg(path));
    const bool half = size.width() % 2 == 0 && size.height() % 2 == 0;
    QImage out = heifYcbcrToRgb32(raw, handle, half, path);
    if (!out.isNull()) {
      if (denominator) *denominator = half ? 2 : 1;
      ApplyPictureProfile(out, heifProfile(handle, path), path);
      return out;
    }
    // Another matrix: converted by the library below.
  }
  const heif_chroma chroma =
      wide ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
           : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
  heif_image* raw = nullptr;
  checkHeif(heif_decode_image(handle, &raw, heif_colorspace_RGB, chroma, nullptr), path);
  const THeifImage image(raw);
  int stride = 0;
  const uint8_t* plane = heif_image_get_plane_readonly(raw, heif_channel_interleaved, &stride);
  const int width = heif_image_get_width(raw, heif_channel_interleaved);
  const int height = heif_image_get_height(raw, heif_channel_interleaved);
  const int bits = heif_image_get_bits_per_pixel_range(raw, heif_channel_interleaved);
  if (!plane || bits < 1 || bits > 16)
    throw EImageError(
        QStringLiteral("Cannot read picture \"%1\": the HEIF decoder gave no usable image.")
            .arg(path));
  // A damaged file may decode to another size than its header gives; the run has planned with
  // the header's.
  if (QSize(width, height) != file.Size())
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": its image is not the size its "
                                     "header gives.")
                          .arg(path));
  const quint32 max = (quint32(1) << bits) - 1;
  const std::vector<uchar> table = ReductionTable(max);
  QImage out = NewBitmap(QSize(width, height), path);
  for (int y = 0; y < height; ++y)
    PackLine(plane + ptrdiff_t(y) * stride, alpha ? 4 : 3, wide, max, table,
             reinterpret_cast<quint32*>(out.scanLine(y)), width);
  ApplyPictureProfile(out, heifProfile(handle, path), path);
  return out;
}

namespace {

// The capture dates of an EXIF item as stored (the offset of the TIFF header, then the block).
TCameraMetadata cameraMetadataOfExif(const QByteArray& block) {
  TCameraMetadata m;
  if (block.isEmpty()) return m;
  const quint32 size = quint32(block.size());
  if (size < 4) {
    m.Problem = QStringLiteral("the EXIF block has a wrong size");
    return m;
  }
  // The block starts with the offset of the TIFF header after these four bytes.
  const quint32 offset = qFromBigEndian<quint32>(block.constData());
  if (offset > size - 4) {
    m.HasExif = true;
    m.Problem = QStringLiteral("the EXIF block's header offset lies outside it");
    return m;
  }
  m = ParseExifBlock(reinterpret_cast<const uchar*>(block.constData()) + 4 + offset,
                     size - 4 - offset);
  m.ExifOrientation = 0; // the decoder applies the file's own turn
  return m;
}

THeifBoxes libraryBoxes(const THeifFile& heif) {
  return {heif.Size(), heifBlock(heif.Primary.get(), "Exif", nullptr),
          heifBlock(heif.Primary.get(), "mime", "application/rdf+xml")};
}

// One reading of an open file's boxes; libheif reads the files that the box reader leaves to it.
THeifBoxes boxesOf(QFile& file, const QString& path, bool blocks) {
  if (std::optional<THeifBoxes> boxes = ReadHeifBoxes(file, path, blocks)) return *boxes;
  file.seek(0); // where libheif starts (a failed seek fails its reading)
  return libraryBoxes(THeifFile(file, path));
}

} // namespace

QSize ReadHeifSize(QFile& file, const QString& path) {
  return boxesOf(file, path, false).Size;
}

TCameraMetadata ReadHeifCameraMetadata(QFile& file, const QString& path, bool captions) {
  TCameraMetadata m;
  try {
    const THeifBoxes boxes = boxesOf(file, path, true);
    m = cameraMetadataOfExif(boxes.Exif);
    if (captions) m.XmpPacket = boxes.Xmp;
  } catch (const EImageError& e) {
    m.Problem = e.Text(); // a second reading would fail alike
  }
  m.CaptionsRead = captions;
  return m;
}

QByteArray HeifMetadataAsJpeg(const QByteArray& file, const QString& path) {
  const THeifBoxes boxes = ReadHeifBoxesWithLibrary(file, path);
  QByteArray jpeg("\xFF\xD8", 2);
  if (boxes.Exif.size() > 4) {
    // The block starts with the offset of the TIFF header after these four bytes.
    const quint32 offset = qFromBigEndian<quint32>(boxes.Exif.constData());
    if (offset <= quint32(boxes.Exif.size() - 4))
      appendJpegSegment(jpeg, QByteArray("Exif\0\0", 6), boxes.Exif.mid(4 + offset));
  }
  appendJpegSegment(jpeg, QByteArray("http://ns.adobe.com/xap/1.0/\0", 29), boxes.Xmp);
  jpeg += QByteArray("\xFF\xD9", 2);
  return jpeg;
}

QByteArray ReadHeifXmpPacket(QFile& file, const QString& path) {
  return boxesOf(file, path, true).Xmp;
}

THeifBoxes ReadHeifBoxesWithLibrary(const QByteArray& data, const QString& path) {
  return libraryBoxes(THeifFile(data, path));
}
