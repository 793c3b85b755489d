#pragma once
// Project operations that the desktop program and lumenfold-cli both perform. Each is one call
// that a dialog or a CLI command makes after collecting its input; long ones report progress
// through a callback.
//
// Threads: the thread that owns the project (the user-interface thread in the desktop program).
#include <QString>
#include <functional>

class TLumenfoldProject;

// The outcome of CopyTemplateDatabase.
struct TDatabaseCopy {
  bool ok = false;      // the database file exists afterwards
  bool created = false; // it was copied now (false: an existing file was kept)
  QString error;        // why not, when !ok
};

// Copies template.db from the program folder to path unless a file already exists there (an
// existing file is never touched). Makes the missing parent folder and leaves the copy writable
// by its owner, even when the installed template is read-only. A failed copy leaves no file.
TDatabaseCopy CopyTemplateDatabase(const QString& path);

// The database file proposed for a new project file.
struct TDatabaseProposal {
  QString path;   // absolute
  QString reason; // why it is not preferredName beside the project (empty when it is)
};

// preferredName beside the project file, unless that file exists and holds albums (or is no
// database of this program): a second project on it would share the first one's albums. Then the
// first of "<project name>.sqlite", "<project name>-2.sqlite", ... that is missing or holds no
// album.
TDatabaseProposal
ProposeProjectDatabase(const QString& projectFile,
                       const QString& preferredName = QStringLiteral("db.sqlite"));

// For an existing database file chosen for a new project: the warning that it already holds
// albums (another project's, which the new one would share and change), or empty.
QString SharedDatabaseWarning(const QString& path);

// Turns a project whose FileName and ConnectionString are set into a new project on that
// database: zip enabled with albums.zip beside the project file, the "gallery" site template
// (which publishes no private picture and no original), marked modified, the connection
// selected and the lists loaded. Returns what LoadDatabase returns; model errors propagate.
bool OpenNewProject(TLumenfoldProject& project);
// The settings a new project starts with where they differ from what a project file without
// them says (Reset gives the latter): colour at half resolution.
void ApplyNewProjectDefaults(TLumenfoldProject& project);

// Replaces search by replacement (case-sensitive) in the folder of every album. An empty search
// text changes nothing (it would insert the replacement everywhere). Returns the number of albums
// whose folder changed.
int ChangeBasePath(TLumenfoldProject& project, const QString& search, const QString& replacement);

// Called before each album and each picture; done counts finished albums of total. Returning
// false stops the operation.
using TAlbumProgress = std::function<bool(int done, int total)>;

// Reads the original of every picture of every album again (size, dimensions, date, hash).
// Albums not read yet are loaded from the database; pictures already in memory are refreshed
// where they are, so unsaved edits are kept. False when progress stopped it.
bool RefreshOriginals(TLumenfoldProject& project, const TAlbumProgress& progress = {});
