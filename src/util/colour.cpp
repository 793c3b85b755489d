#include "util/colour.h"

#include <QCryptographicHash>
#include <QHash>
#include <QMutex>
#include <QMutexLocker>
#include <atomic>
#include <cstring>
#include <mutex>
#include <lcms2.h>

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

  TColourPlan PlanFor(const QByteArray& profile, const QString& name) {
    const QByteArray key = QCryptographicHash::hash(profile, QCryptographicHash::Sha1);
    QMutexLocker lock(&mutex_);
    auto it = plans_.constFind(key);
    if (it != plans_.constEnd()) return *it;
    TColourPlan plan = make(profile, name);
    plans_.insert(key, plan);
    return plan;
  }

private:
  static TColourPlan make(const QByteArray& bytes, const QString& name) {
    TColourPlan plan;
    const TProfile source(openProfile(bytes));
    if (!source.handle) {
      plan.Note = QStringLiteral("The colour profile of %1 is damaged; its colours are taken as "
                                 "sRGB.")
                      .arg(name);
      return plan;
    }
    const QString description = describe(source.handle);
    const cmsColorSpaceSignature space = cmsGetColorSpace(source.handle);
    if (space == cmsSigCmykData) {
      plan.Note = QStringLiteral("%1 is a CMYK picture; it is converted to RGB without its colour "
                                 "profile (%2), so its colours may differ from the original.")
                      .arg(name, description);
      return plan;
    }
    if (space != cmsSigRgbData) {
      plan.Note = QStringLiteral("The colour profile of %1 (%2) is not an RGB profile; its colours "
                                 "are taken as sRGB.")
                      .arg(name, description);
      return plan;
    }
    if (description.startsWith(QLatin1String("sRGB"))) return plan; // nothing to do
    const TProfile srgb(cmsCreate_sRGBProfile());
    // No one-pixel cache: the transform is shared by the worker threads.
    cmsHTRANSFORM t = cmsCreateTransform(source.handle, kRgb32Type, srgb.handle, kRgb32Type,
                                         INTENT_RELATIVE_COLORIMETRIC,
                                         cmsFLAGS_NOCACHE | cmsFLAGS_BLACKPOINTCOMPENSATION);
    if (!t) {
      plan.Note = QStringLiteral("The colour profile of %1 (%2) cannot be used; its colours are "
                                 "taken as sRGB.")
                      .arg(name, description);
      return plan;
    }
    auto converter = std::shared_ptr<TColourConverter>(new TColourConverter());
    converter->transform_ = t;
    converter->description_ = description;
    ++g_made;
    plan.Converter = std::move(converter);
    return plan;
  }

  QMutex mutex_;
  QHash<QByteArray, TColourPlan> plans_;
};

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

TColourPlan ColourPlanFor(const QByteArray& profile, const QString& name) {
  if (profile.isEmpty()) return {};
  return TColourConverterCache::Instance().PlanFor(profile, name);
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
    return out;
  }();
  return bytes;
}

QByteArray TagJpegAsSrgb(const QByteArray& jpeg) {
  const QByteArray& profile = SrgbProfile();
  if (profile.isEmpty() || jpeg.size() < 4 || uchar(jpeg[0]) != 0xFF || uchar(jpeg[1]) != 0xD8)
    return jpeg;
  // After the JFIF segment when there is one (it must stay first); never twice.
  qsizetype at = 2;
  qsizetype insertAt = 2;
  while (at + 4 <= jpeg.size() && uchar(jpeg[at]) == 0xFF) {
    const uchar marker = uchar(jpeg[at + 1]);
    if (marker == 0xDA || marker == 0xD9) break;
    const int length = uchar(jpeg[at + 2]) << 8 | uchar(jpeg[at + 3]);
    if (marker == 0xE2 && length >= 14 && at + 16 <= jpeg.size() &&
        std::memcmp(jpeg.constData() + at + 4, "ICC_PROFILE", 11) == 0)
      return jpeg;
    if (marker == 0xE0 && at == 2) insertAt = at + 2 + length;
    at += 2 + length;
  }
  if (insertAt > jpeg.size()) return jpeg;
  QByteArray segment;
  const int length = int(profile.size()) + 2 + 14;
  segment.reserve(length + 2);
  segment.append(char(0xFF));
  segment.append(char(0xE2));
  segment.append(char(length >> 8));
  segment.append(char(length & 0xFF));
  segment.append("ICC_PROFILE\0", 12);
  segment.append(char(1));
  segment.append(char(1));
  segment.append(profile);
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
