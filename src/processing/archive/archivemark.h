#pragma once
// Which file a run may replace with the project's archive. Every archive a run writes carries a
// mark (its zip comment, kArchiveMark); an existing file at the archive's place is replaced only
// when it is such an archive. An archive written before archives were marked is taken for the
// project's when it holds nothing but what a run of this project packs, and something of the
// project's own: the database file, "site.json", files in the albums' site folders and files of
// the project's site template, among them at least the database or an album's file. An empty
// archive holds nothing to lose. Anything else (another program's archive, a backup, a file
// that is no archive) is the user's and is never replaced or removed by a run.
//
// Threads: the thread that owns the project.
#include <QByteArray>
#include <QString>

class TLumenfoldProject;

inline constexpr const char* kArchiveMark = "LumenFold archive";

// The comment of an archive of ours: the mark, after a line with the digest of what its site's
// database and pages were made from, when it has them (a later run that would make them from
// the same keeps them as they are).
QByteArray ArchiveComment(const QByteArray& siteDigest);
// The comment marks an archive of ours; siteDigest, when given, gets the digest it names (or
// nothing).
bool IsArchiveComment(const QByteArray& comment, QByteArray* siteDigest = nullptr);

// The archive's file as a run resolves it (an empty name: "albums.zip" in the program folder).
QString ProjectArchivePath(const TLumenfoldProject& project);

// Empty when a run may write the project's archive at path: nothing is there, or the project's
// archive (see above). Otherwise why not, naming the file and telling what to do.
QString ForeignArchiveReason(const TLumenfoldProject& project, const QString& path);

// Whether an archive entry is one the run makes for a site (pages, feed, sitemap, robots.txt).
bool IsSitePageEntry(const QString& entry);
