#include "core/project.h"

#include "core/outputsettings.h"
#include "core/renameops.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/lumenfolderror.h"
#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QFileInfo>
#include <QHash>

const char* const WizardPageNames[kWizardPageCount] = {
    "Welcome", "Path selection", "Album detail", "Thumbnails", "Face selection",
    "Rename",  "Signature",      "Category",     "Summary"};

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
