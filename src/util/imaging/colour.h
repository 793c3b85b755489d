#pragma once
// Colour management of originals: pictures with an embedded colour profile (Adobe RGB, Display
// P3, ...) are converted to sRGB, the colour space of the web, and outputs are tagged sRGB.
// Conversion runs on the small output bitmaps after resampling, never on a full decode that is
// only reduced afterwards.
//
// Threads: every function may be called from any thread. Converters are made once per distinct
// profile and shared by all threads (the cache takes a lock; a converter itself is read only).
#include <QByteArray>
#include <QImage>
#include <QString>
#include <memory>

// Converts RGB32 bitmaps from one embedded profile to sRGB.
class TColourConverter {
public:
  ~TColourConverter();
  TColourConverter(const TColourConverter&) = delete;
  TColourConverter& operator=(const TColourConverter&) = delete;

  // Converts the bitmap (RGB32) in place.
  void Convert(QImage& bitmap) const;
  const QString& Description() const { return description_; }

private:
  friend class TColourConverterCache;
  TColourConverter() = default;
  void* transform_ = nullptr;
  QString description_;
};

// Converts lines of CMYK samples, as the JPEG decoder gives them, to RGB32 sRGB pixels through
// an embedded CMYK profile.
class TCmykConverter {
public:
  ~TCmykConverter();
  TCmykConverter(const TCmykConverter&) = delete;
  TCmykConverter& operator=(const TCmykConverter&) = delete;
  void ConvertLine(const uchar* cmyk, quint32* rgb32, int pixels) const;

private:
  friend class TColourConverterCache;
  TCmykConverter() = default;
  void* transform_ = nullptr;
};

// The converter for a CMYK profile (inverted: the samples are stored inverted, as the Adobe
// marker says); null when the profile is empty, damaged or no CMYK profile. Made once per
// profile and shared.
std::shared_ptr<const TCmykConverter> CmykConverterFor(const QByteArray& profile, bool inverted);

// What an embedded profile means for the outputs.
struct TColourPlan {
  std::shared_ptr<const TColourConverter> Converter; // null: the pixels are sRGB already
  QString Note; // why a profile is not used (CMYK, grey, damaged); empty otherwise
};

// The plan for an original with the given embedded profile (empty: none, treated as sRGB at no
// cost) and number of colour components (4: CMYK). Profiles that describe sRGB need no
// converter either, nor CMYK profiles, which the decoder applies (CmykConverterFor). Plans are
// made once per distinct profile.
TColourPlan ColourPlanFor(const QByteArray& profile, int components = 3);
// The plan for a JPEG original: its header segments are read from jpeg (the whole file or its
// start) or, when that is empty, from the file at path. A note is written to the trace log with
// the path.
TColourPlan ColourPlanForJpeg(const QByteArray& jpeg, const QString& path);
// Converts the bitmap to sRGB as the plan says (nothing without a converter).
void ConvertToSrgb(QImage& bitmap, const TColourPlan& plan);

// A short description of the profile ("Adobe RGB (1998)"); "sRGB (none embedded)" for an empty
// one, "damaged profile" when it cannot be read.
QString ColourProfileDescription(const QByteArray& profile);

// The ICC profile of sRGB that outputs carry: the same bytes on every run (its date is fixed).
const QByteArray& SrgbProfile();

// The JPEG file with an sRGB profile segment after its first (JFIF) segment; a file that already
// has a profile segment keeps it. segments (ready JPEG segments, such as the metadata of
// OutputMetadataSegments) go in before the profile, in the same pass.
QByteArray TagJpegAsSrgb(const QByteArray& jpeg, const QByteArray& segments = QByteArray());

// Number of converters made so far in this process (tests check that they are shared).
int ColourConvertersMade();
