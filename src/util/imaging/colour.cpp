#include "util/imaging/colour.h"

#include "util/imaging/exif.h"
#include "util/tracer.h"

#include <QCryptographicHash>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <algorithm>
#include <atomic>
#include <cstring>
#include <lcms2.h>
#include <mutex>

namespace {

#if Q_BYTE_ORDER == Q_LITTLE_ENDIAN
constexpr cmsUInt32Number kRgb32Type = TYPE_BGRA_8;
#else
constexpr cmsUInt32Number kRgb32Type = TYPE_ARGB_8;
#endif

std::atomic<int> g_made{0};

// The library reports problems through a process-wide handler; a damaged profile is ours to
// report, so its messages are dropped.
void quietErrors(cmsContext, cmsUInt32Number, const char*) {}
void installQuietErrors() {
  static std::once_flag once;
  std::call_once(once, [] { cmsSetLogErrorHandler(quietErrors); });
}

struct TProfile {
  explicit TProfile(cmsHPROFILE h) : handle(h) {}
  ~TProfile() {
    if (handle) cmsCloseProfile(handle);
  }
  TProfile(const TProfile&) = delete;
  TProfile& operator=(const TProfile&) = delete;
  cmsHPROFILE handle;
};

cmsHPROFILE openProfile(const QByteArray& bytes) {
  installQuietErrors();
  if (bytes.isEmpty()) return nullptr;
  return cmsOpenProfileFromMem(bytes.constData(), cmsUInt32Number(bytes.size()));
}

QString describe(cmsHPROFILE h) {
  char text[256] = {};
  if (cmsGetProfileInfoASCII(h, cmsInfoDescription, "en", "US", text, sizeof text) == 0)
    return QStringLiteral("unnamed profile");
  return QString::fromLatin1(text).trimmed();
}

} // namespace

class TColourConverterCache {
public:
  static TColourConverterCache& Instance() {
    static TColourConverterCache cache;
    return cache;
  }

  TColourPlan PlanFor(const QByteArray& profile) {
    const QByteArray key = QCryptographicHash::hash(profile, QCryptographicHash::Sha1);
    QMutexLocker lock(&mutex_);
    auto it = plans_.constFind(key);
    if (it != plans_.constEnd()) return *it;
    TColourPlan plan = make(profile);
    plans_.insert(key, plan);
    return plan;
  }

private:
  static TColourPlan make(const QByteArray& bytes) {
    TColourPlan plan;
    const TProfile source(openProfile(bytes));
    if (!source.handle) {
      plan.Note = QStringLiteral("its colour profile is damaged; its colours are taken as sRGB");
      return plan;
    }
    const QString description = describe(source.handle);
    const cmsColorSpaceSignature space = cmsGetColorSpace(source.handle);
    if (space == cmsSigCmykData) {
      // The decoder converts through it; a profile it cannot use leaves the plain formula.
      if (!makeCmyk(bytes, false))
        plan.Note = QStringLiteral("its CMYK colour profile (%1) cannot be used; it is converted "
                                   "to RGB by a plain formula, so its colours may differ from "
                                   "the original")
                        .arg(description);
      return plan;
    }
    if (space != cmsSigRgbData) {
      plan.Note = QStringLiteral("its colour profile (%1) is not an RGB profile; its colours are "
                                 "taken as sRGB")
                      .arg(description);
      return plan;
    }
    if (description.startsWith(QLatin1String("sRGB"))) return plan; // nothing to do
    const TProfile srgb(cmsCreate_sRGBProfile());
    // No one-pixel cache: the transform is shared by the worker threads.
    cmsHTRANSFORM t = cmsCreateTransform(source.handle, kRgb32Type, srgb.handle, kRgb32Type,
                                         INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION);
    if (!t) {
      plan.Note = QStringLiteral("its colour profile (%1) cannot be used; its colours are taken "
                                 "as sRGB")
                      .arg(description);
      return plan;
    }
    auto converter = std::shared_ptr<TColourConverter>(new TColourConverter());
    converter->transform_ = t;
    converter->description_ = description;
    ++g_made;
    plan.Converter = std::move(converter);
    return plan;
  }

public:
  std::shared_ptr<const TCmykConverter> CmykFor(const QByteArray& profile, bool inverted) {
    QByteArray key = QCryptographicHash::hash(profile, QCryptographicHash::Sha1);
    key.append(inverted ? '1' : '0');
    QMutexLocker lock(&mutex_);
    auto it = cmyk_.constFind(key);
    if (it != cmyk_.constEnd()) return *it;
    auto converter = makeCmyk(profile, inverted);
    cmyk_.insert(key, converter);
    return converter;
  }

private:
  static std::shared_ptr<const TCmykConverter> makeCmyk(const QByteArray& bytes, bool inverted) {
    const TProfile source(openProfile(bytes));
    if (!source.handle || cmsGetColorSpace(source.handle) != cmsSigCmykData) return nullptr;
    const TProfile srgb(cmsCreate_sRGBProfile());
    cmsHTRANSFORM t = cmsCreateTransform(source.handle, inverted ? TYPE_CMYK_8_REV : TYPE_CMYK_8,
                                         srgb.handle, kRgb32Type, INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION);
    if (!t) return nullptr;
    auto converter = std::shared_ptr<TCmykConverter>(new TCmykConverter());
    converter->transform_ = t;
    ++g_made;
    return converter;
  }

  QMutex mutex_;
  QHash<QByteArray, TColourPlan> plans_;
  QHash<QByteArray, std::shared_ptr<const TCmykConverter>> cmyk_;
};

TCmykConverter::~TCmykConverter() {
  if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void TCmykConverter::ConvertLine(const uchar* cmyk, quint32* rgb32, int pixels) const {
  // The fourth byte is not written by the transform: opaque first.
  std::fill(rgb32, rgb32 + pixels, 0xff000000u);
  cmsDoTransform(static_cast<cmsHTRANSFORM>(transform_), cmyk, rgb32, cmsUInt32Number(pixels));
}

std::shared_ptr<const TCmykConverter> CmykConverterFor(const QByteArray& profile, bool inverted) {
  if (profile.isEmpty()) return nullptr;
  return TColourConverterCache::Instance().CmykFor(profile, inverted);
}

TColourConverter::~TColourConverter() {
  if (transform_) cmsDeleteTransform(static_cast<cmsHTRANSFORM>(transform_));
}

void TColourConverter::Convert(QImage& bitmap) const {
  if (bitmap.isNull()) return;
  if (bitmap.format() != QImage::Format_RGB32 && bitmap.format() != QImage::Format_ARGB32)
    bitmap = bitmap.convertToFormat(QImage::Format_RGB32);
  uchar* bits = bitmap.bits(); // detaches a shared bitmap
  // In place: both sides have the same layout; the fourth byte is left as it is.
  cmsDoTransformLineStride(static_cast<cmsHTRANSFORM>(transform_), bits, bits,
                           cmsUInt32Number(bitmap.width()), cmsUInt32Number(bitmap.height()),
                           cmsUInt32Number(bitmap.bytesPerLine()),
                           cmsUInt32Number(bitmap.bytesPerLine()), 0, 0);
}

TColourPlan ColourPlanFor(const QByteArray& profile, int components) {
  if (components == 4 && profile.isEmpty()) {
    TColourPlan plan;
    plan.Note = QStringLiteral("it is a CMYK picture without a colour profile and is converted to "
                               "RGB by a plain formula, so its colours may differ from the "
                               "original");
    return plan;
  }
  if (profile.isEmpty()) return {};
  return TColourConverterCache::Instance().PlanFor(profile);
}

TColourPlan ColourPlanForJpeg(const QByteArray& jpeg, const QString& path) {
  const TCameraMetadata m = jpeg.isEmpty()
                                ? ReadCameraMetadata(path, TMetadataParts::ExifAndColourProfile)
                                : ParseCameraMetadata(jpeg, TMetadataParts::ExifAndColourProfile);
  TColourPlan plan = ColourPlanFor(m.ColourProfile, m.Components);
  if (!plan.Note.isEmpty())
    Tracer().Write(QStringLiteral("Colours of %1: %2.").arg(path, plan.Note));
  return plan;
}

void ConvertToSrgb(QImage& bitmap, const TColourPlan& plan) {
  if (plan.Converter) plan.Converter->Convert(bitmap);
}

QString ColourProfileDescription(const QByteArray& profile) {
  if (profile.isEmpty()) return QStringLiteral("sRGB (none embedded)");
  const TProfile p(openProfile(profile));
  if (!p.handle) return QStringLiteral("damaged profile");
  return describe(p.handle);
}

const QByteArray& SrgbProfile() {
  static const QByteArray bytes = [] {
    installQuietErrors();
    const TProfile srgb(cmsCreate_sRGBProfile());
    cmsUInt32Number size = 0;
    QByteArray out;
    if (cmsSaveProfileToMem(srgb.handle, nullptr, &size) && size > 0) {
      out.resize(size);
      if (!cmsSaveProfileToMem(srgb.handle, out.data(), &size)) out.clear();
    }
    // The library dates a profile it makes with the current time. A fixed date instead gives the
    // same bytes on every run, so an unchanged picture makes an unchanged file. The profile's
    // checksum (bytes 84..99, covering the date) then no longer holds: all zero means none.
    constexpr int kDateAt = 24, kIdAt = 84, kIdSize = 16;
    if (out.size() >= kIdAt + kIdSize) {
      const quint16 date[6] = {2000, 1, 1, 0, 0, 0};
      for (int i = 0; i < 6; ++i) {
        out[kDateAt + 2 * i] = char(date[i] >> 8);
        out[kDateAt + 2 * i + 1] = char(date[i] & 0xFF);
      }
      std::fill(out.begin() + kIdAt, out.begin() + kIdAt + kIdSize, '\0');
    }
    return out;
  }();
  return bytes;
}

QByteArray TagJpegAsSrgb(const QByteArray& jpeg, const QByteArray& segments) {
  const QByteArray& profile = SrgbProfile();
  if (jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8) return jpeg;
  // After the JFIF segment when there is one (it must stay first); never twice.
  qsizetype at = 2;
  qsizetype insertAt = 2;
  bool tagged = profile.isEmpty();
  while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
    const uchar marker = uchar(jpeg[at + 1]);
    if (marker == 0xDA || marker == 0xD9) break;
    const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
    if (marker == 0xE2 && length >= 14 && at + 16 <= jpeg.size() &&
        std::memcmp(jpeg.constData() + at + 4, "ICC_PROFILE", 11) == 0)
      tagged = true;
    if (marker == 0xE0 && at == 2) insertAt = at + 2 + length;
    at += 2 + length;
  }
  if (insertAt > jpeg.size() || (tagged && segments.isEmpty())) return jpeg;
  QByteArray segment = segments;
  if (!tagged) {
    const int length = int(profile.size()) + 2 + 14;
    segment.reserve(segments.size() + length + 2);
    segment.append(char(0xFF));
    segment.append(char(0xE2));
    segment.append(char(length >> 8));
    segment.append(char(length & 0xFF));
    segment.append("ICC_PROFILE\0", 12);
    segment.append(char(1));
    segment.append(char(1));
    segment.append(profile);
  }
  QByteArray out;
  out.reserve(jpeg.size() + segment.size());
  out.append(jpeg.constData(), insertAt);
  out.append(segment);
  out.append(jpeg.constData() + insertAt, jpeg.size() - insertAt);
  return out;
}

int ColourConvertersMade() {
  return g_made.load();
}
