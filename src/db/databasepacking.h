#pragma once
// Making a database file complete before it is packed into an archive.
//
// Threads: any thread; the calling thread's own connections to the database are closed first
// (CloseThreadConnections), so that nothing of the caller stays behind in a journal.
#include <QString>

// The database file to pack, as CompleteDatabaseFile finds it.
struct TDatabaseToPack {
  QString Source;   // the connection's data source (the database file)
  QString File;     // the file to pack; empty when there is none or it failed
  QString Entry;    // its entry name: the database file's name
  QString Snapshot; // the complete copy when one was made (the caller removes it)
  QString Failure;  // the database's own message when it could not be opened or copied
};

// The file to pack for the database of the connection string: the database file itself when it
// holds every committed change, or else a complete copy made beside it with VACUUM INTO (a
// database kept in write-ahead-log mode may hold committed pages only in its log, and other
// connections may keep a checkpoint from finishing). Not an SQLite database: the data source as
// it is. No File when the data source is no file.
TDatabaseToPack CompleteDatabaseFile(const QString& connectionString);
