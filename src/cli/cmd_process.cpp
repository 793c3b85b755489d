// lumenfold-cli process: runs processing as the progress window would, with a progress bar on a
// terminal, one line per progress message with --verbose, and Ctrl+C as the stop request.
#include "cli/clialbum.h"
#include "cli/clicommand.h"
#include "cli/cliprompt.h"
#include "core/album.h"
#include "core/outputsettings.h"
#include "core/project.h"
#include "core/signature.h"
#include "processing/archive/archivebuilder.h"
#include "processing/processingjob.h"
#include "processing/processthread.h"
#include "util/helpers.h"
#include "util/messages.h"
#include "util/userprompt.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QFile>
#include <QTimer>
#include <cstdio>
#include <optional>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "process PROJECT.lumenfold [--all] [--zip] [--albums ALBUM,...] "
                               "[--remove-zip] [--jobs N] [--hash] [--verbose]";

void out(const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stdout);
  std::fflush(stdout);
}

// Lines of the report, which name files.
void outLines(const QStringList& lines) {
  for (const QString& line : lines)
    out(OneLine(line) + QLatin1Char('\n'));
}

// Shows the posted progress messages: a bar that redraws itself on a terminal, or one line per
// message.
class ProgressView : public QObject {
public:
  ProgressView(bool verbose, bool terminal) : verbose_(verbose), terminal_(terminal) {}
  void SetFiles(const QStringList& files) { files_ = files; }
  bool barShown = false;

  bool event(QEvent* e) override {
    if (TMessageEvent::Is(e, LF_MSG_PROGRESS_PART)) {
      // A long stage goes on: the bar shows how far (one line per stage with --verbose).
      auto* m = static_cast<TMessageEvent*>(e);
      if (!verbose_ && terminal_ && int(m->Second) == stage_) draw(int(m->First));
      return true;
    }
    if (!TMessageEvent::Is(e, LF_MSG_PROGRESS)) return QObject::event(e);
    auto* m = static_cast<TMessageEvent*>(e);
    const int number = int(m->First), stage = int(m->Second);
    number_ = number;
    stage_ = stage;
    const int total = files_.size();
    const QString file =
        stage >= psZipPictures || number < 1 || number > total ? QString() : files_.at(number - 1);
    const QString text = ProcessStageText(stage);
    if (verbose_) {
      out(QStringLiteral("%1/%2 %3 %4%5\n")
              .arg(number)
              .arg(total)
              .arg(stage)
              .arg(text, file.isEmpty() ? QString()
                                        : QStringLiteral(": ") + EscapeControlCharacters(file)));
    } else if (terminal_) {
      draw(0);
    }
    return true;
  }

private:
  // The bar at the last stage message, with thousandths of that stage done.
  void draw(int thousandths) {
    constexpr int width = 30;
    const int total = files_.size();
    const bool zipping = stage_ >= psZipPictures;
    // A picture's share fills as its parts come in; the zip stages fill a bar of their own.
    qint64 filled = width;
    if (zipping)
      filled = qint64(width) * thousandths / 1000;
    else if (total > 0)
      filled = (qint64(width) * (std::max(0, number_ - 1) * 1000 + thousandths)) /
               (qint64(total) * 1000);
    filled = std::clamp<qint64>(filled, 0, width);
    QString line =
        QStringLiteral("\r[%1%2] %3/%4 %5")
            .arg(QString(filled, QLatin1Char('#')), QString(width - filled, QLatin1Char(' ')))
            .arg(number_)
            .arg(total)
            .arg(ProcessStageText(stage_));
    if (thousandths > 0) line += QStringLiteral(" %1%").arg(thousandths / 10);
    line = line.leftJustified(lastLength_);
    lastLength_ = line.size();
    out(line);
    barShown = true;
  }

  int number_ = 0;
  int stage_ = -1;
  QStringList files_;
  bool verbose_, terminal_;
  int lastLength_ = 0;
};

// The originals that changed since their outputs were made (and were therefore remade), as sync
// counts them; said only when there are any.
void outChanged(const TProcessingJob& job) {
  if (job.ChangedOriginals() > 0) out(QStringLiteral("changed=%1\n").arg(job.ChangedOriginals()));
}

int RunProcess(const QStringList& raw) {
  const TCliArgs args(raw, {QStringLiteral("albums"), QStringLiteral("jobs")},
                      {QStringLiteral("all"), QStringLiteral("zip"), QStringLiteral("remove-zip"),
                       QStringLiteral("hash"), QStringLiteral("verbose")});
  args.expectPositional(1, 1, QString::fromLatin1(kUsage));
  int jobs = 0;
  if (args.has(QStringLiteral("jobs"))) {
    bool ok = false;
    jobs = args.value(QStringLiteral("jobs")).toInt(&ok);
    if (!ok || jobs < 1 || jobs > 256)
      throw TCliError(QStringLiteral("--jobs wants a number of worker threads from 1 to 256"),
                      kExitUsage);
  }
  // A project read only in part is never processed: its missing settings would be defaults.
  auto project = LoadCliProject(args.positional().first(), true);
  if (const QString unsafe = ValidateOutputSettings(*project); !unsafe.isEmpty())
    throw TCliError(unsafe);
  // Captions need fonts, and fonts a GUI application, whose start and end cost more than a
  // small run. Most projects stamp no caption, so the program starts without one.
  if (!CliHasFonts()) {
    for (int i = 0; i < project->SignatureItems.Count(); ++i) {
      const TLumenfoldSignatureItem* item = project->SignatureItems.Items(i);
      if (item && item->IsText() && project->Signatures.IsItemUsed(item)) return kRunAgainWithFonts;
    }
  }

  // "all modified pictures" unless albums are named, which are then processed whole; --all
  // without --albums means every picture of every album.
  QList<int> positions;
  const bool all = args.has(QStringLiteral("all"));
  const bool allModified = !args.has(QStringLiteral("albums")) && !all;
  if (!args.has(QStringLiteral("albums")) && all) {
    for (int i = 0; i < project->Albums.Count(); ++i)
      positions.append(i);
  } else if (!allModified) {
    // Ids or short names, as the other commands take them.
    const QStringList names =
        args.value(QStringLiteral("albums")).split(QLatin1Char(','), Qt::SkipEmptyParts);
    if (names.isEmpty())
      throw TCliError(QStringLiteral("--albums wants album ids or short names"), kExitUsage);
    for (const QString& name : names) {
      int position = -1;
      try {
        position = project->Albums.IndexOfObject(FindCliAlbum(*project, name.trimmed()));
      } catch (const TCliError& e) {
        throw TCliError(e.Text(), kExitUsage);
      }
      if (!positions.contains(position)) positions.append(position);
    }
  }
  const bool zip = args.has(QStringLiteral("zip"));
  // Said before the run; the run goes on, as a template on the server may rely on it.
  if (zip)
    if (const QString warning = ArchiveWithoutTemplateWarning(*project); !warning.isEmpty())
      Prompt()->warning(warning);
  if (args.has(QStringLiteral("remove-zip"))) {
    const QString failure = RemoveZipBeforeRun(*project);
    if (!failure.isEmpty()) throw TCliError(failure);
  }

  TProcessingRequest request;
  request.AllModified = allModified;
  request.AlbumPositions = positions;
  request.ProcessAll = args.has(QStringLiteral("all"));
  request.Zip = zip;
  request.Jobs = jobs;
  request.CompareHash = args.has(QStringLiteral("hash"));
  const bool verbose = args.has(QStringLiteral("verbose"));
  ProgressView view(verbose, isatty(fileno(stdout)) != 0);
  TProcessingJob job(project.get(), request, &view);
  if (!job.Prepare()) {
    // Refused before any picture (a missing template, unsafe settings): said as a run's end.
    out(ProcessTerminatedText() + QLatin1Char('\n'));
    out(OneLine(WithModelErrors(job.Reason())) + QLatin1Char('\n'));
    return kExitFailure;
  }
  view.SetFiles(job.FileNames());
  if (verbose && job.NothingToDo())
    out(QStringLiteral("nothing changed since the last run with nothing to do\n"));

  QEventLoop loop;
  bool completed = false;
  QString reason;
  QObject::connect(&job, &TProcessingJob::Ended, &loop, [&](bool done, const QString& why) {
    completed = done;
    reason = why;
    loop.quit();
  });
  // Ctrl+C (or SIGTERM, or a closed terminal) asks for a stop at the next picture boundary.
  std::optional<TCliInterruptGuard> stopSignals(std::in_place);
  bool stopRequested = false;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (CliInterrupted() && !stopRequested) {
      stopRequested = true;
      job.RequestStop();
      if (verbose || view.barShown) out(QStringLiteral("\nstopping after this picture...\n"));
    }
  });
  poll.start(100);
  job.Start();
  loop.exec();
  poll.stop();
  stopSignals.reset();
  // Progress messages still queued are shown before the last line.
  QCoreApplication::sendPostedEvents(&view);
  if (view.barShown) out(QStringLiteral("\n"));

  if (completed) {
    // The run marks the albums and the project changed; store that as the desktop would on its
    // next save (the pictures' rows are written already).
    if (project->Modified) SaveCliProject(*project);
    // With everything saved, the next run of the same kind can tell that it has nothing to do.
    job.RecordIdleState();
    // What the run could not do follows; the status tells scripts that something was skipped.
    const QStringList lines = job.ReportLines();
    outLines(lines);
    outChanged(job);
    return lines.size() > 1 ? kExitIncomplete : kExitOk;
  }
  outLines(job.ReportLines());
  outChanged(job);
  const QString detail = OneLine(WithModelErrors(reason));
  out(detail + QStringLiteral("\n"));
  return kExitFailure;
}

} // namespace

LUMENFOLD_CLI_COMMAND(
    "process",
    "process PROJECT.lumenfold [--all] [--zip] [--albums ALBUM,...] "
    "[--remove-zip] [--jobs N] [--hash] [--verbose]",
    "Process the modified pictures (the named albums, by id or short name, whole; "
    "with --all and no "
    "--albums every picture of every album): large, medium and thumbnail images, "
    "database rows and, with --zip, the zip archive of every album. Pictures "
    "whose original changed since (another size or time stamp; --hash: another "
    "size or checksum, so a file only touched is not) are made again and counted "
    "in a last line changed=N. Exit status "
    "3: finished, but originals or signature images were missing or damaged "
    "(counted in the report)",
    RunProcess);
