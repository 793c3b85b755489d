#pragma once
// Helpers of the album commands of lumenfold-cli: finding an album named on the command line and
// reading an option that may be given more than once.
//
// Threads: the program's main thread.
#include <QString>
#include <QStringList>

class TLumenfoldAlbum;
class TLumenfoldProject;

// The album given by its id or its short name (exact; else ignoring letter case when that finds
// exactly one). Throws TCliError when there is none or the name is ambiguous.
TLumenfoldAlbum* FindCliAlbum(const TLumenfoldProject& project, const QString& idOrName);

// Every value of a value option ("--name VALUE" or "--name=VALUE"), in command-line order. The
// arguments must have been checked by TCliArgs.
QStringList CliOptionValues(const QStringList& args, const QString& name);

// One output line of tab-separated fields; control characters inside a field (tabs and line
// breaks too) are written out as by EscapeControlCharacters.
void PrintCliFields(const QStringList& fields);
