#pragma once
// Safe access to the files that pictures name. A file name read from the database or a folder
// listing must name a file directly inside its folder; an original is opened only when it is a
// regular file whose real place lies inside its folder, and opening it never waits (a FIFO,
// device or socket under a picture's name is refused at once). Every place that reads an
// original (checksum, header, decoding, previews, camera metadata) opens it here.
//
// Threads: any.
#include <QString>

class QFile;

// Why the text cannot be the name of a file directly inside a folder (empty, "." or "..", a '/'
// or '\', a control character); empty when it is a plain file name.
QString PlainFileNameProblem(const QString& name);

// Why OpenRegularFile refused a file.
enum class TFileRefusal {
  None,          // opened
  Missing,       // nothing there (a link to nothing included)
  NotRegular,    // a folder, FIFO, device or socket
  OutsideFolder, // a symbolic link that leads out of the file's folder
  Unreadable,    // it could not be opened (permissions, ...)
};

// Opens the file for reading without blocking, then keeps the descriptor only when it is a
// regular file whose real path (symbolic links followed) lies inside the real folder of `path`
// (a link to another file of that folder or of a sub-folder is fine). Returns the descriptor,
// set back to blocking reads, for the caller to close; -1 with the reason (naming the file) in
// `problem` and its kind in `refusal`.
int OpenRegularFile(const QString& path, QString* problem = nullptr,
                    TFileRefusal* refusal = nullptr);
// The same into a QFile, which then owns the descriptor (opened ReadOnly).
bool OpenRegularFile(QFile& file, const QString& path, QString* problem = nullptr,
                     TFileRefusal* refusal = nullptr);
// Opens and closes again: what OpenRegularFile would answer.
TFileRefusal CheckRegularFile(const QString& path, QString* problem = nullptr);

// Extra bytes a file written through a temporary name beside it (QSaveFile) needs in its name.
inline constexpr int kTemporaryNameBytes = 7;
// Why a file of that name cannot be made in the folder (or in the nearest existing folder above
// it when it does not exist yet): its name is longer than the file system allows, counting
// `spare` more bytes. Empty when it fits.
QString FileNameLengthProblem(const QString& folder, const QString& name, int spare = 0);
