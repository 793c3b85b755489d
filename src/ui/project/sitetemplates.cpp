#include "ui/project/sitetemplates.h"

#include "util/helpers.h"
#include "util/programfolder.h"

#include <QDir>

QStringList& SiteTemplateList() {
  static QStringList list;
  return list;
}

QString SiteTemplatesFolder() {
  return DataFolder() + "templates" + QDir::separator();
}

const QStringList& ScanSiteTemplates() {
  ListTemplates(SiteTemplatesFolder() + "*.*", SiteTemplateList());
  return SiteTemplateList();
}

QString SiteTemplateFolder(const QString& name) {
  return SiteTemplatesFolder() + name + QDir::separator();
}
