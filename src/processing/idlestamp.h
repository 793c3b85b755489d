#pragma once
// The idle stamp: a record, beside the project file, of everything a processing run in
// all-modified mode decides from, taken at the end of a complete run that left nothing to do.
// A later run with the same request first compares the present state with it; when nothing
// differs, that run has nothing to do either and ends at once, without loading a picture or
// opening the archive.
//
// What it covers: the project file and the database (their bytes and their files' facts, the
// database's journal and log files), every file of the folders that hold the originals and the
// generated images (name, kind, inode, size, modification and change time; a link also as what
// it leads to), the signatures' image files, the site template's folder and the site folder
// with everything below them, the archive and its journal, and the program itself: its file,
// its data folder, the locale and the time zone. Any difference, an unreadable file, a stamp of
// another request or another program: the run is done in full. A run that is not skipped
// removes the stamp before it starts, so a run that stops or fails leaves none.
//
// Files changed within a moment of the stamp's reading could show the same change time after a
// later change; the stamp is not written while any file it covers is that fresh, nor when a file
// the run only reads changed after the run began.
//
// Threads: user-interface thread (the thread that owns the project).
#include <QByteArray>
#include <QString>

class TLumenfoldProject;

// The stamp's file for the project file at projectFile.
QString IdleStampPath(const QString& projectFile);

// What a request is compared by: runs of other requests never share a stamp. Empty when runs of
// this request are never skipped (a forced full rewrite of the archive is asked for).
QByteArray IdleRequestKey(bool zip, bool compareHash);

// True when the stamp beside the project file was written for requestKey and everything it
// covers is as it was then.
bool IdleStampHolds(const QString& projectFile, const QByteArray& requestKey);

// The clock the stamp compares change times with, in nanoseconds.
qint64 IdleStampClock();

// Records the present state for requestKey, at the end of a run that began at runStarted
// (IdleStampClock before the run looked at anything) and wrote nothing but the project file, the
// database, the archive and the site folder. The project's albums must all be loaded and saved.
// Returns false (removing any older stamp) when the state cannot be recorded, also when a file
// the run only read changed after it began.
bool WriteIdleStamp(const TLumenfoldProject& project, const QByteArray& requestKey,
                    qint64 runStarted);

void RemoveIdleStamp(const QString& projectFile);
