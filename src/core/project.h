#pragma once
// The open project: processing settings, the connection string of the project database, the
// binary project file, and the four model lists loaded from the database.
//
// Threads: only the user-interface thread loads, saves and changes a project. The processing run
// reads the settings and the signature list while it runs.
#include "core/album.h"
#include "core/category.h"
#include "core/signature.h"
#include "db/lumenfolderror.h"

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

  // Owned lists, loaded from the project database. Reset and Assign leave them alone.
  // Declared so that they are destroyed in the order Signatures, SignatureItems, Categories,
  // Albums.
  TLumenfoldAlbumList Albums;
  TLumenfoldCategoryList Categories;
  TLumenfoldSignatureItemList SignatureItems;
  TLumenfoldSignatureList Signatures;

  // Default settings; zip settings, SiteTemplate, the reserved flags and ProcessAfterWizard stay.
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
  // The 33 values of the project file as bytes, and their reading (used by the two above).
  QByteArray SettingsToBytes() const;
  bool SettingsFromBytes(const QByteArray& bytes, const QString& path);

  static QString WizardPagesToText(TWizardPages pages);
  static TWizardPages TextToWizardPages(const QString& text);

  // Reads the project file, then loads the database; the albums are emptied first.
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
