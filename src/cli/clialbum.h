#pragma once
// Helpers of the album commands of lumenfold-cli: finding an album or a category named on the
// command line, reading an option that may be given more than once and checking option values.
//
// Threads: the program's main thread.
#include <QString>
#include <QStringList>

#include <QDate>

class TLumenfoldAlbum;
class TLumenfoldCategory;
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

// The category given by its title (exact; else ignoring letter case when that finds exactly one)
// or, when no title matches, by its id. Throws TCliError when there is none or the title is
// ambiguous.
TLumenfoldCategory* FindCliCategory(const TLumenfoldProject& project, const QString& titleOrId);

// "yes" or "no" (any letter case) as the value of --option; a usage error otherwise.
bool CliYesNo(const QString& option, const QString& value);
// A date written YYYY-MM-DD as the value of --option; a usage error otherwise. With allowEmpty an
// empty value gives the invalid date (no date).
QDate CliDate(const QString& option, const QString& value, bool allowEmpty = false);
