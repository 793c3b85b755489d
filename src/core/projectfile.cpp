// The project file: tagged values (texts, integers, flags) in a fixed order, then the newer
// settings as pairs of texts; its reading, writing and replacing on the disk.
#include "core/project.h"

#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "util/helpers.h"
#include "util/programfolder.h"
#include "util/tracer.h"
#include "util/userprompt.h"

#include <QFile>
#include <QFileInfo>
#include <QStringDecoder>
#include <QtEndian>

namespace {

// Tags of the values in a project file.
enum : quint8 {
  kTagInt8 = 0x02,
  kTagInt16 = 0x03,
  kTagInt32 = 0x04,
  kTagShortText = 0x06,
  kTagFalse = 0x08,
  kTagTrue = 0x09,
  kTagLongText = 0x0C,
  kTagUtf16Text = 0x12,
  kTagUtf8Text = 0x14,
};

// A project file is a few hundred bytes; anything far larger is not one.
constexpr qint64 kMaxProjectFileSize = 16 * 1024 * 1024;

bool isPlainAscii(const QString& text) {
  for (QChar c : text)
    if (c.unicode() > 0x7F) return false;
  return true;
}

class TWriter {
public:
  void text(const QString& value) {
    if (!isPlainAscii(value)) {
      const QByteArray utf8 = value.toUtf8();
      byte(kTagUtf8Text);
      int32(qint32(utf8.size()));
      bytes_ += utf8;
    } else if (value.size() <= 255) {
      byte(kTagShortText);
      byte(quint8(value.size()));
      bytes_ += value.toLatin1();
    } else {
      byte(kTagLongText);
      int32(qint32(value.size()));
      bytes_ += value.toLatin1();
    }
  }
  void integer(qint32 value) {
    if (value >= -128 && value <= 127) {
      byte(kTagInt8);
      byte(quint8(qint8(value)));
    } else if (value >= -32768 && value <= 32767) {
      byte(kTagInt16);
      const qint16 v = qToLittleEndian(qint16(value));
      bytes_.append(reinterpret_cast<const char*>(&v), 2);
    } else {
      byte(kTagInt32);
      int32(value);
    }
  }
  void boolean(bool value) { byte(value ? kTagTrue : kTagFalse); }
  const QByteArray& bytes() const { return bytes_; }

private:
  void byte(quint8 b) { bytes_.append(char(b)); }
  void int32(qint32 value) {
    const qint32 v = qToLittleEndian(value);
    bytes_.append(reinterpret_cast<const char*>(&v), 4);
  }
  QByteArray bytes_;
};

// Reads tagged values; every length is checked against the bytes that remain, so a corrupt
// length never makes it allocate or read beyond the data.
class TReader {
public:
  explicit TReader(const QByteArray& bytes) : data_(bytes) {}
  bool text(QString& value) {
    quint8 tag;
    if (!byte(tag)) return false;
    qint64 count = 0;
    switch (tag) {
    case kTagShortText: {
      quint8 n;
      if (!byte(n)) return false;
      count = n;
      if (!has(count)) return false;
      value = QString::fromLatin1(data_.constData() + pos_, count);
      break;
    }
    case kTagLongText:
      if (!length(count) || !has(count)) return false;
      value = QString::fromLatin1(data_.constData() + pos_, count);
      break;
    case kTagUtf8Text:
      if (!length(count) || !has(count)) return false;
      {
        // A text may start with U+FEFF; the plain UTF-8 conversion would drop it as a byte
        // order mark.
        QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::ConvertInitialBom |
                                                      QStringDecoder::Flag::Stateless);
        value = utf8.decode(QByteArrayView(data_.constData() + pos_, count));
      }
      break;
    case kTagUtf16Text: {
      if (!length(count) || count > (remaining() / 2)) return false;
      QString s(int(count), Qt::Uninitialized);
      const uchar* p = reinterpret_cast<const uchar*>(data_.constData() + pos_);
      for (qint64 i = 0; i < count; ++i)
        s[int(i)] = QChar(qFromLittleEndian<quint16>(p + 2 * i));
      value = s;
      count *= 2;
      break;
    }
    default:
      return false;
    }
    pos_ += count;
    return true;
  }
  bool integer(int& value) {
    quint8 tag;
    if (!byte(tag)) return false;
    const uchar* p = reinterpret_cast<const uchar*>(data_.constData() + pos_);
    switch (tag) {
    case kTagInt8:
      if (!has(1)) return false;
      value = qint8(p[0]);
      pos_ += 1;
      return true;
    case kTagInt16:
      if (!has(2)) return false;
      value = qFromLittleEndian<qint16>(p);
      pos_ += 2;
      return true;
    case kTagInt32:
      if (!has(4)) return false;
      value = qFromLittleEndian<qint32>(p);
      pos_ += 4;
      return true;
    default:
      return false;
    }
  }
  bool boolean(bool& value) {
    quint8 b;
    if (!byte(b)) return false;
    value = b == kTagTrue;
    return true;
  }

  qint64 remaining() const { return data_.size() - pos_; }

private:
  bool has(qint64 n) const { return n >= 0 && n <= remaining(); }
  bool byte(quint8& b) {
    if (!has(1)) return false;
    b = quint8(data_[pos_++]);
    return true;
  }
  bool length(qint64& n) {
    if (!has(4)) return false;
    n = qFromLittleEndian<qint32>(reinterpret_cast<const uchar*>(data_.constData() + pos_));
    pos_ += 4;
    return n >= 0;
  }
  const QByteArray& data_;
  qint64 pos_ = 0;
};

// Names of the settings stored after the classic values.
constexpr const char* kExtraMaxMegapixels = "MaxMegapixels";
constexpr const char* kExtraOutputMetadata = "OutputMetadata";
constexpr const char* kExtraChromaSubsampling = "ChromaSubsampling";
constexpr const char* kExtraSiteAddress = "SiteAddress";
constexpr const char* kExtraSiteDownload = "SiteDownload";
constexpr const char* kExtraSiteCameraDetails = "SiteCameraDetails";
constexpr const char* kExtraSiteFolder = "SiteFolder";
constexpr const char* kExtraDestinations = "Destinations";
constexpr const char* kExtraPublishId = "PublishId";

bool readExtras(TReader& r, TLumenfoldProject& p) {
  int& maxMegapixels = p.MaxMegapixels;
  int& outputMetadata = p.OutputMetadata;
  int& chroma = p.ChromaSubsampling;
  QString& siteAddress = p.SiteAddress;
  int& siteDownload = p.SiteDownload;
  bool& siteCamera = p.SiteCameraDetails;
  p.SiteFolder.clear();
  p.Destinations.clear();
  p.PublishId.clear();
  // Pairs of texts until the end. A cut pair is a damaged file. An unknown name is skipped, so
  // that a later version's settings do not make the project unreadable, and a value out of
  // range leaves the default.
  maxMegapixels = kDefaultMaxMegapixels;
  outputMetadata = omSafe;
  chroma = kStoredChromaSubsampling;
  siteAddress.clear();
  siteDownload = 0;
  siteCamera = false;
  while (r.remaining() > 0) {
    QString name, value;
    if (!r.text(name) || !r.text(value)) return false;
    if (name == QLatin1String(kExtraSiteAddress)) {
      siteAddress = value;
      continue;
    }
    if (name == QLatin1String(kExtraSiteFolder)) {
      p.SiteFolder = value;
      continue;
    }
    if (name == QLatin1String(kExtraDestinations)) {
      p.Destinations = DestinationsFromText(value);
      continue;
    }
    if (name == QLatin1String(kExtraPublishId)) {
      p.PublishId = value;
      continue;
    }
    bool isNumber = false;
    const int number = value.toInt(&isNumber);
    if (!isNumber) continue;
    if (name == QLatin1String(kExtraMaxMegapixels) && number >= 1 && number <= kMaxMaxMegapixels)
      maxMegapixels = number;
    else if (name == QLatin1String(kExtraOutputMetadata) && number >= omSafe && number <= omNone)
      outputMetadata = number;
    else if (name == QLatin1String(kExtraChromaSubsampling) && IsChromaSubsampling(number))
      chroma = number;
    else if (name == QLatin1String(kExtraSiteDownload) && number >= 0 && number <= 2)
      siteDownload = number;
    else if (name == QLatin1String(kExtraSiteCameraDetails) && (number == 0 || number == 1))
      siteCamera = number == 1;
  }
  return true;
}

} // namespace

QByteArray TLumenfoldProject::SettingsToBytes() const {
  TWriter w;
  w.text(QLatin1String(kProjectFileMarker));
  // A database beside the project file is named relative to it: the two move together.
  w.text(FileName.isEmpty()
             ? ConnectionString
             : RelativeConnectionDataSource(ConnectionString, QFileInfo(FileName).absolutePath()));
  w.boolean(ThumbEnabled);
  w.integer(ThumbWidth);
  w.integer(ThumbHeight);
  w.text(ThumbFolder);
  w.text(ThumbPrefix);
  w.integer(ThumbQuality);
  w.boolean(MediumEnabled);
  w.integer(MediumWidth);
  w.integer(MediumHeight);
  w.text(MediumFolder);
  w.text(MediumPrefix);
  w.integer(MediumQuality);
  w.boolean(LargeEnabled);
  w.text(LargeFolder);
  w.text(LargePrefix);
  w.integer(LargeQuality);
  w.boolean(WarnUpscale);
  w.boolean(NeverUpscale);
  w.integer(FileNameCase);
  w.integer(ResizeMethod);
  w.text(WizardPagesToText(WizardPages));
  w.integer(RenameStart);
  w.text(RenameTemplate);
  w.text(ZipFileName);
  w.boolean(Reserved1);
  w.boolean(Reserved2);
  w.boolean(Reserved3);
  w.boolean(ProcessAfterWizard);
  w.boolean(ZipDatabase);
  w.text(SiteTemplate);
  w.boolean(ZipEnabled);
  if (MaxMegapixels != kDefaultMaxMegapixels) {
    w.text(QLatin1String(kExtraMaxMegapixels));
    w.text(QString::number(MaxMegapixels));
  }
  if (OutputMetadata != omSafe) {
    w.text(QLatin1String(kExtraOutputMetadata));
    w.text(QString::number(OutputMetadata));
  }
  if (ChromaSubsampling != kStoredChromaSubsampling) {
    w.text(QLatin1String(kExtraChromaSubsampling));
    w.text(QString::number(ChromaSubsampling));
  }
  if (!SiteAddress.isEmpty()) {
    w.text(QLatin1String(kExtraSiteAddress));
    w.text(SiteAddress);
  }
  if (SiteDownload != 0) {
    w.text(QLatin1String(kExtraSiteDownload));
    w.text(QString::number(SiteDownload));
  }
  if (SiteCameraDetails) {
    w.text(QLatin1String(kExtraSiteCameraDetails));
    w.text(QStringLiteral("1"));
  }
  if (!SiteFolder.isEmpty()) {
    w.text(QLatin1String(kExtraSiteFolder));
    w.text(SiteFolder);
  }
  if (!Destinations.isEmpty()) {
    w.text(QLatin1String(kExtraDestinations));
    w.text(DestinationsToText(Destinations));
  }
  if (!PublishId.isEmpty()) {
    w.text(QLatin1String(kExtraPublishId));
    w.text(PublishId);
  }
  return w.bytes();
}

bool TLumenfoldProject::SettingsFromBytes(const QByteArray& bytes, const QString& path) {
  TReader r(bytes);
  QString marker, pages;
  const bool ok = [&] {
    if (!r.text(marker)) return false;
    if (!r.text(ConnectionString)) return false;
    ConnectionString =
        ResolveConnectionDataSource(ConnectionString, QFileInfo(path).absolutePath());
    SetCurrentConnectionString(ConnectionString);
    if (!r.boolean(ThumbEnabled) || !r.integer(ThumbWidth) || !r.integer(ThumbHeight) ||
        !r.text(ThumbFolder) || !r.text(ThumbPrefix) || !r.integer(ThumbQuality))
      return false;
    if (!r.boolean(MediumEnabled) || !r.integer(MediumWidth) || !r.integer(MediumHeight) ||
        !r.text(MediumFolder) || !r.text(MediumPrefix) || !r.integer(MediumQuality))
      return false;
    if (!r.boolean(LargeEnabled) || !r.text(LargeFolder) || !r.text(LargePrefix) ||
        !r.integer(LargeQuality))
      return false;
    if (!r.boolean(WarnUpscale) || !r.boolean(NeverUpscale) || !r.integer(FileNameCase) ||
        !r.integer(ResizeMethod))
      return false;
    if (!r.text(pages)) return false;
    WizardPages = TextToWizardPages(pages);
    if (!r.integer(RenameStart) || !r.text(RenameTemplate) || !r.text(ZipFileName)) return false;
    FileName = path;
    if (ZipFileName.isEmpty())
      ZipFileName = IncludeTrailingSeparator(QFileInfo(path).absolutePath()) + "albums.zip";
    if (!r.boolean(Reserved1) || !r.boolean(Reserved2) || !r.boolean(Reserved3) ||
        !r.boolean(ProcessAfterWizard) || !r.boolean(ZipDatabase) || !r.text(SiteTemplate) ||
        !r.boolean(ZipEnabled))
      return false;
    return readExtras(r, *this);
  }();
  Modified = !ok;
  return ok;
}

bool TLumenfoldProject::ReadSettings(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly))
    throw TProjectFileError(
        QStringLiteral("Cannot open file \"%1\". %2").arg(path, file.errorString()));
  const QByteArray bytes = file.read(kMaxProjectFileSize);
  file.close();
  const bool ok = SettingsFromBytes(bytes, path);
  Tracer().Write(ok ? QStringLiteral("Settings loaded from %1").arg(path)
                    : QStringLiteral("Settings of %1 could not be read completely").arg(path));
  return ok;
}

bool TLumenfoldProject::WriteSettings() {
  const QByteArray bytes = SettingsToBytes();
  QString reason;
  if (FileName.isEmpty()) {
    reason = QStringLiteral("No file name was given.");
  } else {
    // On the disk before it replaces the old file: a power cut leaves the old or the new one.
    reason = WriteFileReplacing(FileName, bytes);
  }
  if (!reason.isEmpty()) {
    Modified = true;
    Prompt()->error(
        QStringLiteral("The project file \"%1\" could not be saved.\r\n%2").arg(FileName, reason));
    return false;
  }
  Modified = false;
  Tracer().Write(QStringLiteral("Settings saved to %1").arg(FileName));
  return true;
}
