#include "ui/common/filedialogs.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLineEdit>
#include <QStandardPaths>

#include "util/helpers.h"

namespace {
TBrowseFolderHook& browseHook() {
  static TBrowseFolderHook hook;
  return hook;
}
TFileDialogHook& fileHook() {
  static TFileDialogHook hook;
  return hook;
}
QString existingFolder(QStandardPaths::StandardLocation location) {
  const QString folder = QStandardPaths::writableLocation(location);
  return !folder.isEmpty() && QFileInfo(folder).isDir() ? folder : QDir::homePath();
}

} // namespace

QString PicturesFolder() {
  return QDir::toNativeSeparators(existingFolder(QStandardPaths::PicturesLocation));
}

QString ProjectsFolder(const QString& projectFile) {
  QStringList candidates{projectFile};
  candidates += RecentProjects();
  for (const QString& file : candidates) {
    if (file.trimmed().isEmpty()) continue;
    const QString folder = QFileInfo(file).absolutePath();
    if (QFileInfo(folder).isDir()) return QDir::toNativeSeparators(folder);
  }
  return QDir::toNativeSeparators(existingFolder(QStandardPaths::DocumentsLocation));
}

void SetBrowseFolderHook(TBrowseFolderHook hook) {
  browseHook() = std::move(hook);
}
void SetFileDialogHook(TFileDialogHook hook) {
  fileHook() = std::move(hook);
}

QString BrowseForFolder(QWidget* owner, const QString& title, const QString& initialFolder) {
  try {
    if (browseHook()) return browseHook()(title, initialFolder);
    const QString chosen = QFileDialog::getExistingDirectory(owner, title, initialFolder);
    return chosen.isEmpty() ? QString() : QDir::toNativeSeparators(chosen);
  } catch (...) {
    return QString();
  }
}

QString QtFileFilter(const QString& filter) {
  const QStringList parts = filter.split('|');
  QStringList out;
  for (int i = 0; i + 1 < parts.size(); i += 2) {
    QString patterns = parts[i + 1];
    patterns.replace(';', ' ');
    // "All files (*.*)" must also match names without a dot.
    if (patterns.trimmed() == "*.*") patterns = "*";
    QString text = parts[i];
    if (!text.contains('('))
      text += " (" + patterns + ")";
    else if (patterns == "*")
      text = text.left(text.indexOf('(')).trimmed() + " (*)";
    out << text;
  }
  return out.join(";;");
}

QString ChooseFileName(QWidget* owner, const TFileDialogRequest& request) {
  if (fileHook()) return fileHook()(request);
  QFileDialog dialog(owner, request.title);
  dialog.setAcceptMode(request.save ? QFileDialog::AcceptSave : QFileDialog::AcceptOpen);
  dialog.setFileMode(request.save ? QFileDialog::AnyFile : QFileDialog::ExistingFile);
  if (!request.defaultSuffix.isEmpty()) dialog.setDefaultSuffix(request.defaultSuffix);
  if (!request.filter.isEmpty()) dialog.setNameFilter(QtFileFilter(request.filter));
  if (!request.startFolder.isEmpty()) dialog.setDirectory(request.startFolder);
  if (!request.initialName.isEmpty()) {
    const QFileInfo fi(request.initialName);
    if (fi.isAbsolute()) {
      dialog.setDirectory(fi.absolutePath());
      dialog.selectFile(fi.fileName());
    } else {
      dialog.selectFile(request.initialName);
    }
  }
  if (dialog.exec() != QDialog::Accepted) return QString();
  const QStringList files = dialog.selectedFiles();
  return files.isEmpty() ? QString() : QDir::toNativeSeparators(files.first());
}

void ChooseNewProjectFile(QLineEdit* edit, const QString& title, const QString& suffix,
                          const QString& filter) {
  TFileDialogRequest request;
  request.save = true;
  request.title = title;
  request.defaultSuffix = suffix;
  request.filter = filter;
  request.initialName = edit->text();
  request.startFolder = ProjectsFolder();
  const QString chosen = ChooseFileName(edit->window(), request);
  if (!chosen.isEmpty()) edit->setText(chosen);
}
