#include "core/project.h"

#include "core/outputsettings.h"
#include "core/renameops.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/helpers.h"
#include "util/lumenfolderror.h"
#include "util/programfolder.h"
#include "util/tracer.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QStringDecoder>
#include <QtEndian>

const char* const WizardPageNames[kWizardPageCount] = {
    "Welcome", "Path selection", "Album detail", "Thumbnails", "Face selection",
    "Rename",  "Signature",      "Category",     "Summary"};

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

TLumenfoldProject::TLumenfoldProject() = default;

TLumenfoldProject::~TLumenfoldProject() = default;

void TLumenfoldProject::Reset() {
  Modified = false;
  FileName.clear();
  RenameStart = 1;
  RenameTemplate = QStringLiteral("%SHORT_ALBUM_NAME%_%N000%.jpg");
  ConnectionString =
      QStringLiteral("Provider=SQLite;Data Source=%1").arg(ProgramFolder() + "db.sqlite");
  ThumbEnabled = true;
  ThumbWidth = 200;
  ThumbHeight = 150;
  ThumbFolder = QStringLiteral("ps_thumb");
  ThumbPrefix = QStringLiteral("tn_");
  ThumbQuality = 90;
  MediumEnabled = true;
  MediumWidth = 800;
  MediumHeight = 768;
  MediumFolder = QStringLiteral("ps_medium");
  MediumPrefix = QStringLiteral("m_");
  MediumQuality = 90;
  LargeEnabled = false;
  LargeFolder = QStringLiteral("ps_large");
  LargePrefix = QStringLiteral("l_");
  LargeQuality = 90;
  WarnUpscale = false;
  NeverUpscale = false;
  FileNameCase = 0;
  ResizeMethod = 3;
  WizardPages = kAllWizardPages;
  MaxMegapixels = kDefaultMaxMegapixels;
  OutputMetadata = omSafe;
  ChromaSubsampling = kStoredChromaSubsampling;
  SiteAddress.clear();
  SiteDownload = 0;
  SiteCameraDetails = false;
}

void TLumenfoldProject::Assign(const TLumenfoldProject& s) {
  FileName = s.FileName;
  ZipEnabled = s.ZipEnabled;
  ConnectionString = s.ConnectionString;
  ThumbEnabled = s.ThumbEnabled;
  ThumbWidth = s.ThumbWidth;
  ThumbHeight = s.ThumbHeight;
  ThumbFolder = s.ThumbFolder;
  ThumbPrefix = s.ThumbPrefix;
  ThumbQuality = s.ThumbQuality;
  MediumEnabled = s.MediumEnabled;
  MediumWidth = s.MediumWidth;
  MediumHeight = s.MediumHeight;
  MediumFolder = s.MediumFolder;
  MediumPrefix = s.MediumPrefix;
  MediumQuality = s.MediumQuality;
  LargeEnabled = s.LargeEnabled;
  LargeFolder = s.LargeFolder;
  LargePrefix = s.LargePrefix;
  LargeQuality = s.LargeQuality;
  WarnUpscale = s.WarnUpscale;
  NeverUpscale = s.NeverUpscale;
  FileNameCase = s.FileNameCase;
  ResizeMethod = s.ResizeMethod;
  WizardPages = s.WizardPages;
  RenameStart = s.RenameStart;
  RenameTemplate = s.RenameTemplate;
  SiteTemplate = s.SiteTemplate;
  ProcessAfterWizard = s.ProcessAfterWizard;
  MaxMegapixels = s.MaxMegapixels;
  OutputMetadata = s.OutputMetadata;
  ChromaSubsampling = s.ChromaSubsampling;
  SiteAddress = s.SiteAddress;
  SiteDownload = s.SiteDownload;
  SiteCameraDetails = s.SiteCameraDetails;
  SiteFolder = s.SiteFolder;
  Destinations = s.Destinations;
  PublishId = s.PublishId;
}

QString TLumenfoldProject::WizardPagesToText(TWizardPages pages) {
  QString text;
  for (int i = 0; i < kWizardPageCount; ++i)
    if (HasWizardPage(pages, i)) text += QLatin1String(WizardPageNames[i]);
  return text;
}

TWizardPages TLumenfoldProject::TextToWizardPages(const QString& text) {
  TWizardPages pages = 0;
  for (int i = 0; i < kWizardPageCount; ++i)
    if (text.contains(QLatin1String(WizardPageNames[i]), Qt::CaseSensitive)) pages |= 1u << i;
  return pages;
}

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

bool TLumenfoldProject::LoadFromFile(const QString& path) {
  if (path.isEmpty() || !QFileInfo(path).isFile()) return false;
  Albums.Clear();
  const bool read = ReadSettings(path);
  const bool loaded = LoadDatabase();
  // A rename that the last program on this project did not live to finish is finished or undone
  // before anything reads the album folders.
  if (read) RepairInterruptedRename(path);
  if (read) {
    const QString unsafe = ValidateOutputSettings(*this);
    if (!unsafe.isEmpty())
      Prompt()->warning(QStringLiteral("The project \"%1\" has unsafe output settings: %2 "
                                       "Processing is refused until they are changed.")
                            .arg(path, unsafe));
  }
  return read && loaded;
}

bool TLumenfoldProject::SaveAlbums() {
  bool ok = true;
  for (int i = 0; i < Albums.Count(); ++i) {
    TLumenfoldAlbum* album = Albums.Albums(i);
    if (album->Dirty && !album->Save()) ok = false;
  }
  return ok;
}

bool TLumenfoldProject::SaveToFile() {
  // The project file is written only after the database has everything, so a project that
  // still holds unsaved albums stays marked modified.
  if (!SaveAlbums()) {
    Modified = true;
    return false;
  }
  return WriteSettings();
}

bool TLumenfoldProject::LoadDatabase() {
  const QString cs = CurrentConnectionString();
  QHash<int, TLumenfoldAlbum*> byId;
  try {
    TQuery q;
    if (OpenQuery(cs, QString::fromLatin1(SQL_ALBUMS), q) != 0) return false;
    for (; !q->Eof(); q->Next()) {
      auto* album = new TLumenfoldAlbum(this);
      Albums.Add(QString(), album);
      album->LoadFromDataSet(*q);
      Albums.SetString(Albums.Count() - 1, album->ShortName);
      byId.insert(album->Id, album);
    }
    CloseQuery(q);

    if (OpenQuery(cs, QString::fromLatin1(SQL_FACE_PICTURES), q) != 0) return false;
    for (; !q->Eof(); q->Next()) {
      TLumenfoldAlbum* album = byId.value(q->AsInteger("album_id"), nullptr);
      // A face picture of an album that is not in the database is left out.
      if (!album || album->Loaded) continue;
      auto* picture = new TLumenfoldPicture(album);
      album->Pictures.Add(QString(), picture);
      picture->LoadFromDataSet(*q);
      picture->IsFace = true;
      picture->LoadThumbnail();
      album->FindFacePicture();
    }
    CloseQuery(q);
  } catch (const std::exception& e) {
    Prompt()->error(TextOf(e));
    return false;
  }

  Categories.Clear();
  bool ok = Categories.LoadAll();
  SignatureItems.Clear();
  if (!SignatureItems.LoadAll()) ok = false;
  Signatures.Clear();
  if (!Signatures.LoadAll()) ok = false;
  Signatures.LinkItems(&SignatureItems);
  return ok;
}

void TLumenfoldProject::DeleteAlbum(TLumenfoldAlbum* album) {
  if (!album) return;
  album->Delete();
  const int index = Albums.IndexOfObject(album);
  if (index >= 0) Albums.Delete(index);
}

void TLumenfoldProject::RemoveCategoryFromPictures(int categoryId) {
  const QString id = QString::number(categoryId);
  for (int a = 0; a < Albums.Count(); ++a) {
    TLumenfoldPictureList& pictures = Albums.Albums(a)->Pictures;
    for (int p = 0; p < pictures.Count(); ++p)
      pictures.Pictures(p)->CategoryIds.removeAll(id);
  }
}
