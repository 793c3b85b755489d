#pragma once
// The site as a folder: the zip archive's content mirrored into a folder of the user's choice
// (the project's SiteFolder) or into the private folder that publishing works from. Only files
// whose content changed are written (each through a complete temporary file); a file the
// previous mirror made and the archive no longer holds goes to the trash. The folder keeps a small
// record (kSiteFolderRecord) of what the mirror wrote, so files it did not make are never touched
// and an unchanged file is told by its size, CRC and time stamp without being read. The record
// also names the archive (inode, size, time stamps) a complete mirror was made from: while that
// archive is unchanged, a mirror only looks at each recorded file's size and time stamp and,
// when all are as it left them, reads neither the archive nor any file. A file deleted, replaced
// or edited in the folder by hand is thus noticed by every run, as when the archive changed.
//
// Threads: any thread (it touches only the archive and the folder).
#include <QList>
#include <QString>
#include <atomic>
#include <functional>

class TLumenfoldProject;

// The record of the mirror, in the site folder.
inline constexpr const char* kSiteFolderRecord = ".lumenfold-site.json";

// One file of the site: its path relative to the folder ('/' between folders), its size and
// the CRC-32 of its content.
struct TSiteFile {
  QString Path;
  qint64 Size = 0;
  quint32 Crc = 0;
};

struct TSiteMirrorResult {
  QString Error;          // empty when the folder now holds the archive's content
  QList<TSiteFile> Files; // in no particular order
  int Written = 0;
  int Removed = 0;
  // Files of earlier mirrors that were changed by someone else and so were left in place.
  QStringList Kept;
};

// The project's SiteFolder as an absolute path (relative names are beside the project file), or
// empty when it is not set.
QString ResolvedSiteFolder(const TLumenfoldProject& project);
// The folder publishing works from: the SiteFolder, or a private folder beside the project file.
QString PublishSourceFolder(const TLumenfoldProject& project);

// Mirrors the archive's content into the folder (made when missing). A folder that holds files
// but no record of an earlier mirror is refused, and so is an archive entry whose name would
// leave the folder. progress(done, total) counts entries; cancel, when set, stops before the next
// file (Error says so).
TSiteMirrorResult MirrorArchive(const QString& archivePath, const QString& folder,
                                const std::function<void(int, int)>& progress = {},
                                const std::atomic<bool>* cancel = nullptr);
