#pragma once
#include <QString>

// Folder of the running program with its trailing separator. It holds template.db, the site
// templates, tracer.log and the help file. Tests may point it elsewhere.
QString ProgramFolder();
void SetProgramFolder(const QString& folder);
// Appends the platform separator when missing.
QString IncludeTrailingSeparator(const QString& folder);
