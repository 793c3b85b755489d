#pragma once
// Checks that keep the generated files away from everything the user owns. Every place that sets
// output folders, prefixes or the zip file name (options dialog, lumenfold-cli set, loading a
// project) and the processing run itself ask these before anything is written or deleted.
//
// A refusal is one sentence that names the setting and the reason; an empty text means the
// settings are safe.
//
// Threads: any thread, on a project (and pictures) that nobody changes meanwhile.
#include <QList>
#include <QString>

class TLumenfoldProject;
class TLumenfoldPicture;
class TLumenfoldAlbum;

// The folder, prefix and zip rules that need no pictures:
//  - a folder or prefix holds no '/' or '\', no control character and is not "." or "..";
//  - folder and prefix of a size are not both empty (the images would replace the originals);
//  - no two sizes can write the same file: in one folder (compared ignoring case) no prefix
//    begins with another;
//  - no output folder is the folder of an album;
//  - no output folder is the list-preview cache folder (kPreviewFolder), whose files the
//    preview loader replaces;
//  - the zip file name passes ValidateZipFileName.
//  - the site address passes ValidateSiteAddress.
QString ValidateOutputSettings(const TLumenfoldProject& project);

// A site address is empty or an http(s) address with a host and without query, fragment or
// user name.
QString ValidateSiteAddress(const QString& address);
// The address as the base of the site's pages (ending in '/'); empty when none or not valid.
QString SiteAddressBase(const QString& address);

// Where the list previews of an album's pictures are kept: "<album>/ps_tmp/tmp_<file name>".
inline constexpr const char* kPreviewFolder = "ps_tmp";
inline constexpr const char* kPreviewPrefix = "tmp_";

// A folder that is to become the folder of an album (a new one, or `album` moved): refused when it
// is the folder of another album, one of their output or preview folders, or when one of its own
// output or preview folders is the folder of another album (their images would mix with the
// originals and every later run would refuse).
QString ValidateAlbumFolder(const TLumenfoldProject& project, const QString& folder,
                            const TLumenfoldAlbum* album = nullptr);

// The zip file (as resolved by ResolveZipFileName) must not be the database, the project file, a
// folder, a file inside an album's output folders, nor a picture file in an album's folder.
QString ValidateZipFileName(const TLumenfoldProject& project, const QString& zipFileName);

// The zip file name as an absolute path: a relative name is taken relative to the folder of the
// project file (the current folder when the project has no file yet). Empty stays empty.
QString ResolveZipFileName(const TLumenfoldProject& project, const QString& zipFileName);

// Before a run over the pictures: no image a run would write is the original of a picture of its
// album (names compared ignoring case), none is the zip file, and no two pictures (not deleted)
// of those albums would write the same images (GeneratedNameClash).
QString ValidateOutputPaths(const TLumenfoldProject& project,
                            const QList<TLumenfoldPicture*>& pictures);

// An album's directory inside the site: not empty, no ".." part, not absolute, and not the
// directory of another album of the project (compared ignoring case and the kind of separator):
// two albums there would write each other's entries. album is the one being changed (nullptr
// for a new one).
QString ValidateAlbumDirectory(const TLumenfoldProject& project, const TLumenfoldAlbum* album,
                               const QString& directory);

// True when the file starts like a zip archive (a local header or an empty archive's end record).
bool IsZipArchiveFile(const QString& path);

// "Remove the zip archive before processing": removes the file only when it is a zip archive
// (missing is fine). Returns the reason when it refused or failed.
QString RemoveZipArchive(const QString& path);

// Size boxes a web site can use: the spin boxes and `set` accept 1..kMaxOutputSide pixels.
inline constexpr int kMaxOutputSide = 10000;
