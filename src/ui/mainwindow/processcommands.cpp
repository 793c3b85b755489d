#include "ui/mainwindow/processcommands.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/project.h"
#include "processing/archive/archivemark.h"
#include "processing/processingjob.h"
#include "processing/processthread.h"
#include "ui/mainwindow/commandcontext.h"
#include "ui/processing/frmprocessselection.h"
#include "ui/processing/frmprogress.h"
#include "ui/processing/frmpublish.h"
#include "ui/common/waitcursor.h"

#include "util/durablefiles.h"

#include <QApplication>
#include <QFile>
#include <QMessageBox>
#include <memory>

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

  if (selection.Zip()) {
    // A file at the archive's place that is not the project's archive is the user's: asked.
    const QString path = ProjectArchivePath(project);
    if (const QString foreign = ForeignArchiveReason(project, path); !foreign.isEmpty()) {
      const auto answer = QMessageBox::question(
          owner, QStringLiteral("Confirm"),
          foreign + QStringLiteral("\n\nMove it to the trash and write the archive in its place?"),
          QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
      if (answer != QMessageBox::Yes) return false;
      QString reason;
      if (!MoveToTrash(path, &reason)) {
        QMessageBox::critical(owner, QStringLiteral("Error"),
                              QStringLiteral("\"%1\" could not be moved to the trash (%2); it "
                                             "was left as it is.")
                                  .arg(path, reason));
        return false;
      }
    }
  }

  if (selection.RemoveZip()) {
    bool noTrash = false;
    const QString failure = RemoveZipBeforeRun(project, &noTrash);
    if (noTrash) {
      // No trash to be had: the archive goes for good only when the user says so.
      const auto answer = QMessageBox::question(
          owner, QStringLiteral("Confirm"), failure + QStringLiteral("\n\nDelete it for good?"),
          QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
      if (answer != QMessageBox::Yes ||
          !QFile::remove(ResolveZipFileName(project, project.ZipFileName)))
        return false;
    } else if (!failure.isEmpty()) {
      QMessageBox::critical(owner, QStringLiteral("Error"), failure);
      return false;
    }
  }

  // The run shows the busy cursor from its start to its end; the progress window's Cancel stays
  // at hand under it.
  auto busy = std::make_unique<TWaitCursor>(Qt::BusyCursor);
  if (hooks.BeforeRun) hooks.BeforeRun();
  TfrmProgress progress(&project, owner);
  progress.Request.AllModified = selection.AllModifiedMode();
  progress.Request.AlbumPositions = selection.CheckedAlbumPositions();
  progress.Request.ProcessAll = selection.ProcessAll();
  progress.Request.Zip = selection.Zip();
  const bool finished = progress.exec() == QDialog::Accepted;
  const QString text = ProcessingClosingText(progress.ReportLines(), finished, progress.Reason());
  busy.reset();

  QApplication::beep();
  QMessageBox box(finished ? QMessageBox::Information : QMessageBox::Warning,
                  finished ? QStringLiteral("Information") : QStringLiteral("Warning"), text,
                  QMessageBox::Ok, owner);
  // The report names files the user may want to look for: its text can be selected and copied.
  box.setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);
  box.exec();
  if (hooks.AfterRun) hooks.AfterRun();
  return finished;
}

TProcessCommands::TProcessCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  WireCommand(context, actions.actProcess, this, [this] { Process(); });
  WireCommand(context, actions.actPublish, this, [this] { Publish(); });
}

void TProcessCommands::Process() {
  run(-1);
}

void TProcessCommands::ProcessAndZip() {
  TLumenfoldProject* project = context_.Project();
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  run(album ? project->Albums.IndexOfObject(album) : -1);
}

void TProcessCommands::ProcessAndPublish() {
  TLumenfoldProject* project = context_.Project();
  TLumenfoldAlbum* album = context_.CurrentAlbum();
  if (run(album ? project->Albums.IndexOfObject(album) : -1)) Publish();
}

bool TProcessCommands::run(int albumPosition) {
  TProcessHooks hooks;
  // The run changes pictures from its own thread: the loader must not touch them meanwhile.
  hooks.BeforeRun = [this] { context_.StopThumbnailLoader(); };
  hooks.AfterRun = [this] {
    context_.RepaintAlbums();
    context_.RepaintPictures();
    context_.UpdateView();
    context_.StartThumbnailLoader();
  };
  return RunProcessCommand(context_.Window(), *context_.Project(), albumPosition, hooks);
}

void TProcessCommands::Publish() {
  TfrmPublish dialog(context_.Project(), context_.Window());
  dialog.exec();
  // Added or removed destinations are changes of the project.
  context_.EnableActions();
}
