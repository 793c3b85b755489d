#pragma once
#include <QString>

// Folder of the running program with its trailing separator. In a build tree it holds
// template.db, the site templates, the help pages and tracer.log. Tests may point it elsewhere.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);

// Folder of the data that ships with the program (template.db, templates/, help/), with its
// trailing separator: the program folder when template.db is beside the program (a build tree
// or a portable copy), else "../share/lumenfold" next to the program's folder (an installed
// copy), else the program folder. Follows SetProgramFolder.
QString DataFolder();
// The same rule for a given program folder (for tests and the command line's version text).
QString DataFolderFor(const QString& programFolder);

// Appends the platform separator when missing.
QString IncludeTrailingSeparator(const QString& folder);
