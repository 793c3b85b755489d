#include "ui/processcommands.h"

#include "processing/processingjob.h"
#include "processing/processthread.h"
#include "ui/frmprocessselection.h"
#include "ui/frmprogress.h"

#include <QApplication>
#include <QMessageBox>

QString ProcessingClosingText(const QStringList& reportLines, bool finished,
                              const QString& reason) {
  QStringList lines = reportLines;
  if (!finished && !reason.isEmpty() && reason != TProcessThread::StoppedReason()) lines << reason;
  return lines.join(QLatin1Char('\n'));
}

bool RunProcessCommand(QWidget* owner, TLumenfoldProject& project, int albumPosition,
                       const TProcessHooks& hooks) {
  TfrmProcessSelection selection(&project, owner);
  if (albumPosition >= 0) selection.PresetAlbumAndZip(albumPosition);
  if (selection.exec() != QDialog::Accepted) return false;

  if (selection.RemoveZip()) {
    const QString failure = RemoveZipBeforeRun(project);
    if (!failure.isEmpty()) {
      QMessageBox::critical(owner, QStringLiteral("Error"), failure);
      return false;
    }
  }

  if (hooks.BeforeRun) hooks.BeforeRun();
  TfrmProgress progress(&project, owner);
  progress.Request.AllModified = selection.AllModifiedMode();
  progress.Request.AlbumPositions = selection.CheckedAlbumPositions();
  progress.Request.ProcessAll = selection.ProcessAll();
  progress.Request.Zip = selection.Zip();
  const bool finished = progress.exec() == QDialog::Accepted;
  const QString text = ProcessingClosingText(progress.ReportLines(), finished, progress.Reason());

  QApplication::beep();
  if (finished)
    QMessageBox::information(owner, QStringLiteral("Information"), text);
  else
    QMessageBox::warning(owner, QStringLiteral("Warning"), text);
  if (hooks.AfterRun) hooks.AfterRun();
  return finished;
}
