#include "util/helptopics.h"

#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QUrl>

const QList<THelpTopicEntry>& HelpTopics() {
  static const QList<THelpTopicEntry> topics = {
      {kHelpContents, "index.html"},
      {kHelpStart, "start.html"},
      {kHelpMainWindow, "mainwindow.html"},
      {kHelpNewProject, "newproject.html"},
      {kHelpDatabase, "database.html"},
      {kHelpStartDialog, "start.html#start-dialog"},
      {kHelpAddAlbum, "addalbum.html"},
      {kHelpAlbumProperties, "albumproperties.html"},
      {kHelpPictures, "pictures.html"},
      {kHelpPictureDetail, "pictures.html#picture-details"},
      {kHelpSignatures, "signatures.html"},
      {kHelpCategories, "categories.html"},
      {kHelpRenaming, "renaming.html"},
      {kHelpProcessing, "processing.html"},
      {kHelpPublish, "publish.html"},
      {kHelpTemplates, "templates.html"},
      {kHelpOptions, "options.html"},
      {kHelpChangeBase, "folders.html#change-base"},
      {kHelpSynchronise, "folders.html#synchronise"},
      {kHelpCommandLine, "commandline.html"},
  };
  return topics;
}

QString HelpTopicPage(int topic) {
  for (const THelpTopicEntry& e : HelpTopics())
    if (e.topic == topic) return QString::fromLatin1(e.page);
  return QString();
}

int HelpTopicForForm(const QString& formName) {
  static const struct {
    const char* form;
    int topic;
  } forms[] = {
      {"frmFirst", kHelpStartDialog},           {"frmNewPoject", kHelpNewProject},
      {"frmNewProject", kHelpNewProject},       {"frmDatabase", kHelpDatabase},
      {"frmAlbumDetail", kHelpAlbumProperties}, {"frmWizard", kHelpAddAlbum},
      {"frmNewAlbum", kHelpAddAlbum},           {"frmPictureDetail", kHelpPictureDetail},
      {"frmScale", kHelpPictureDetail},         {"frmSignatures", kHelpSignatures},
      {"frmSignatureItems", kHelpSignatures},   {"frmSelectSignature", kHelpSignatures},
      {"frmCategories", kHelpCategories},       {"frmCategoryDetail", kHelpCategories},
      {"frmSelectCategory", kHelpCategories},   {"frmRenaming", kHelpRenaming},
      {"frmProcessSelection", kHelpProcessing}, {"frmProcess", kHelpProcessing},
      {"frmProgress", kHelpProcessing},         {"frmOptions", kHelpOptions},
      {"frmBigTemplate", kHelpTemplates},       {"frmChangeBase", kHelpChangeBase},
      {"frmSynchro", kHelpSynchronise},         {"frmPublish", kHelpPublish},
  };
  for (const auto& f : forms)
    if (formName == QLatin1String(f.form)) return f.topic;
  return 0;
}

QString HelpFolder() {
  return DataFolder() + QStringLiteral("help") + QDir::separator();
}

bool ShowHelpTopic(int topic) {
  QString page = HelpTopicPage(topic);
  if (page.isEmpty()) page = HelpTopicPage(kHelpContents);
  const qsizetype hash = page.indexOf(QLatin1Char('#'));
  const QString fragment = hash < 0 ? QString() : page.mid(hash + 1);
  const QString file = HelpFolder() + (hash < 0 ? page : page.left(hash));
  if (!QFileInfo(file).isFile()) {
    Prompt()->error(QStringLiteral("The help page could not be found:\n%1\n\nThe help pages "
                                   "are installed with the program; reinstalling it restores "
                                   "them.")
                        .arg(QDir::toNativeSeparators(file)));
    return false;
  }
  QUrl url = QUrl::fromLocalFile(QFileInfo(file).absoluteFilePath());
  if (!fragment.isEmpty()) url.setFragment(fragment);
  if (!QDesktopServices::openUrl(url)) {
    Prompt()->error(QStringLiteral("No web browser could be started to show the help page:\n%1")
                        .arg(QDir::toNativeSeparators(file)));
    return false;
  }
  return true;
}
