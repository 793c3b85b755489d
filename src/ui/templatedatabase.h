#pragma once
// A new project database is a copy of template.db from the program folder.
//
// Threads: any.
#include <QString>

// Copies template.db to path unless a file already exists there (an existing file is never
// touched). Makes the missing parent folder and leaves the copy writable by its owner, even when
// the installed template is read-only. True when the file exists afterwards.
bool CopyTemplateDatabase(const QString& path);
