#include "ui/common/browserlauncher.h"

#include "util/userprompt.h"

#include <QDesktopServices>
#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <QUrl>

TBrowserLauncher::TBrowserLauncher(QString program, QObject* parent)
    : QObject(parent), program_(std::move(program)) {}

TBrowserLauncher::~TBrowserLauncher() {
  if (installed_) QDesktopServices::unsetUrlHandler(QStringLiteral("file"));
}

bool TBrowserLauncher::Install() {
  if (QStandardPaths::findExecutable(program_).isEmpty()) return false;
  QDesktopServices::setUrlHandler(QStringLiteral("file"), this, "Open");
  installed_ = true;
  return true;
}

TBrowserLauncher* TBrowserLauncher::InstallDesktopDefault(QObject* parent) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
  auto* launcher = new TBrowserLauncher(QStringLiteral("xdg-open"), parent);
  if (launcher->Install()) return launcher;
  delete launcher;
#else
  Q_UNUSED(parent);
#endif
  return nullptr;
}

void TBrowserLauncher::Open(const QUrl& url) {
  auto* process = new QProcess(this);
  process->setProgram(program_);
  process->setArguments({url.toString(QUrl::FullyEncoded)});
  process->setStandardOutputFile(QProcess::nullDevice());
  process->setStandardErrorFile(QProcess::nullDevice());
  // The opener may stay until the browser ends; only its failure is of interest.
  connect(process, &QProcess::errorOccurred, this, [this, process, url](QProcess::ProcessError e) {
    if (e != QProcess::FailedToStart) return;
    failed(url);
    process->deleteLater();
  });
  connect(process, &QProcess::finished, this,
          [this, process, url](int code, QProcess::ExitStatus status) {
            if (status != QProcess::NormalExit || code != 0) failed(url);
            process->deleteLater();
          });
  process->start();
}

void TBrowserLauncher::failed(const QUrl& url) {
  const QString file = url.isLocalFile() ? url.toLocalFile() : url.toString();
  Prompt()->error(QStringLiteral("No web browser could be started to show the help page:\n%1\n\n"
                                 "Open this file in a web browser to read it.")
                      .arg(QDir::toNativeSeparators(file)));
}
