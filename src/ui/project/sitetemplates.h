#pragma once
// The process-wide list of site templates: the sub-folders of "templates" in the program folder
// that hold both preview_small.jpg and preview_big.jpg, in the order the file system lists them.
// Every scan refills it; the options and processing dialogs fill their lists from it.
//
// Threads: user-interface thread only.
#include <QString>
#include <QStringList>

QStringList& SiteTemplateList();
// Folder of the site templates, with its trailing separator.
QString SiteTemplatesFolder();
// Rescans the templates folder into SiteTemplateList() and returns the list.
const QStringList& ScanSiteTemplates();
// Folder of one template, with its trailing separator.
QString SiteTemplateFolder(const QString& name);
