#pragma once
// The open project: processing settings, the connection string of the project database, the
// binary project file, and the four model lists loaded from the database.
//
// Threads: only the user-interface thread loads, saves and changes a project. The processing run
// reads the settings and the signature list while it runs.
#include "core/album.h"
#include "core/category.h"
#include "core/destinations.h"
#include "core/signature.h"
#include "util/lumenfolderror.h"

#include <QString>
#include <exception>

// Album-wizard pages as a bit set: bit i = page i (0 "Welcome" .. 8 "Summary").
using TWizardPages = quint32;
inline constexpr int kWizardPageCount = 9;
inline constexpr TWizardPages kAllWizardPages = 511;
inline constexpr bool HasWizardPage(TWizardPages pages, int index) {
  return (pages >> index) & 1u;
}
// Stored page names, in index order.
extern const char* const WizardPageNames[kWizardPageCount];

// First value of every project file.
inline constexpr const char* kProjectFileMarker = "$lumenFold2@";

// Default pixel limit of the originals a run decodes.
inline constexpr int kDefaultMaxMegapixels = 200;
inline constexpr int kMaxMaxMegapixels = 2000;

// What the large and medium images keep of an original's metadata.
enum TOutputMetadata : int {
  // Copyright, artist and capture date; no position, serial numbers or embedded thumbnail.
  omSafe = 0,
  omAll = 1,
  omNone = 2,
};

// How the generated JPEGs store colour: at half the resolution in both directions (smaller
// files) or at full resolution. A project file that names none is read as full resolution, the
// way its images were made so far; new projects start with half.
enum TChromaSubsampling : int { cs420 = 420, cs444 = 444 };
inline constexpr int kStoredChromaSubsampling = cs444;
inline constexpr bool IsChromaSubsampling(int value) {
  return value == cs420 || value == cs444;
}

class TLumenfoldProject {
public:
  TLumenfoldProject();
  ~TLumenfoldProject();
  TLumenfoldProject(const TLumenfoldProject&) = delete;
  TLumenfoldProject& operator=(const TLumenfoldProject&) = delete;

  bool Modified = false;
  QString FileName;
  int RenameStart = 0;
  QString RenameTemplate;
  QString ConnectionString;
  bool ThumbEnabled = false;
  int ThumbWidth = 0, ThumbHeight = 0;
  QString ThumbFolder;
  QString ThumbPrefix;
  int ThumbQuality = 0;
  bool MediumEnabled = false;
  int MediumWidth = 0, MediumHeight = 0;
  QString MediumFolder;
  QString MediumPrefix;
  int MediumQuality = 0;
  bool LargeEnabled = false;
  QString LargeFolder;
  QString LargePrefix;
  int LargeQuality = 0;
  bool WarnUpscale = false;
  bool NeverUpscale = false;
  int FileNameCase = 0; // 0 lowercase, 1 uppercase, 2 unchanged
  int ResizeMethod = 0; // 0 Nearest, 1 Linear, 2 Spline, 3 Lanczos, 4 Mitchell
  QString ZipFileName;
  bool ZipEnabled = false;
  bool ZipDatabase = true;
  QString SiteTemplate;
  TWizardPages WizardPages = 0;
  bool Reserved1 = false, Reserved2 = false, Reserved3 = false;
  bool ProcessAfterWizard = true;
  // Settings stored after the 33 classic values of the project file, each as a pair of texts
  // (name, value) and only when it differs from its default, so a project with default
  // settings is written exactly as before and readers of the classic values ignore the rest.
  // Largest original the run decodes, in megapixels; a larger picture is skipped with its reason.
  int MaxMegapixels = kDefaultMaxMegapixels;
  int OutputMetadata = omSafe;
  int ChromaSubsampling = kStoredChromaSubsampling; // a TChromaSubsampling
  // The public address of the published site ("https://photos.example.org/"), empty when
  // none is stated. With it the site gets canonical addresses, a sitemap and robots.txt.
  QString SiteAddress;
  // What visitors of a public site may download from the viewer: 0 nothing, 1 the medium
  // image, 2 the large image where the project makes it (else the medium one).
  int SiteDownload = 0;
  // Whether the site shows the camera details of each picture (camera, lens, focal length,
  // aperture, exposure time, ISO, date), read from the originals; never positions or serial
  // numbers.
  bool SiteCameraDetails = false;
  // Folder that each run with zip keeps as a copy of the archive's content; empty: none.
  QString SiteFolder;
  // Where the site is published (destinations.h): names, addresses and where secrets come
  // from, never the secrets themselves.
  QList<TPublishDestination> Destinations;
  // Names this project's manifest on a server, so that publish removes only what it put there.
  // Made when the first destination is added.
  QString PublishId;

  // Owned lists, loaded from the project database. Reset and Assign leave them alone.
  // Declared so that they are destroyed in the order Signatures, SignatureItems, Categories,
  // Albums.
  TLumenfoldAlbumList Albums;
  TLumenfoldCategoryList Categories;
  TLumenfoldSignatureItemList SignatureItems;
  TLumenfoldSignatureList Signatures;

  // Default settings; zip settings, SiteTemplate, SiteFolder, the destinations, the reserved
  // flags and ProcessAfterWizard stay.
  void Reset();
  // Copies the settings except Modified, ZipFileName, ZipDatabase and the reserved flags.
  void Assign(const TLumenfoldProject& source);
  // Reads the project file. False when it is missing (nothing changes) or malformed (the values
  // read so far are kept and Modified becomes true). Throws when an existing file cannot be
  // opened.
  bool ReadSettings(const QString& path);
  // Writes the project file FileName through a temporary file that replaces it at the end, so a
  // failure leaves the previous file intact; the failure is reported and Modified stays true.
  bool WriteSettings();
  // The project file as bytes, and its reading (used by the two above).
  QByteArray SettingsToBytes() const;
  bool SettingsFromBytes(const QByteArray& bytes, const QString& path);

  static QString WizardPagesToText(TWizardPages pages);
  static TWizardPages TextToWizardPages(const QString& text);

  // Reads the project file, then loads the database; the albums are emptied first. Settings
  // that would let processing overwrite the user's files are reported as a warning (processing
  // refuses them until they are changed). A rename of the project that was interrupted is
  // finished or undone (RepairInterruptedRename), and the prompt is told which.
  bool LoadFromFile(const QString& path);
  // Saves the albums to the database, then writes the project file.
  bool SaveToFile();
  // Saves every album with unsaved changes; false when one of them failed.
  bool SaveAlbums();
  bool LoadDatabase();
  // Deletes the album's rows (and those of its loaded pictures), then frees it when listed.
  void DeleteAlbum(TLumenfoldAlbum* album);
  // Drops the category id from every picture in memory (nothing is marked unsaved).
  void RemoveCategoryFromPictures(int categoryId);
};

// Error raised by ReadSettings/LoadFromFile when an existing project file cannot be opened.
class TProjectFileError : public TLumenfoldError {
public:
  using TLumenfoldError::TLumenfoldError;
};
