// lumenfold-cli publish: puts the site on one of the project's destinations, sending only what
// changed. The plan comes first, one tab-separated line per file and a summary line; with
// --dry-run nothing else happens.
#include "cli/clicommand.h"
#include "cli/cliprompt.h"
#include "core/destinations.h"
#include "core/project.h"
#include "processing/publish.h"
#include "util/helpers.h"

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>
#include <unistd.h>

namespace {

constexpr const char* kUsage = "publish PROJECT.lumenfold [--destination NAME] [--dry-run]";

void out(const QString& text) {
  std::fputs(text.toLocal8Bit().constData(), stdout);
  std::fflush(stdout);
}

// A one-line bar on a terminal's standard error: files, bytes and the time left.
void showProgress(const TPublishProgress& p) {
  const int width = 30;
  const int filled = qBound(0, int(PublishProgressShare(p) * width), width);
  const QString line = QStringLiteral("\r%1 [%2%3] %4   ")
                           .arg(p.Stage, QString(filled, QLatin1Char('#')),
                                QString(width - filled, QLatin1Char(' ')), PublishProgressText(p));
  std::fputs(line.toLocal8Bit().constData(), stderr);
}

int RunPublish(const QStringList& raw) {
  const TCliArgs args(raw, {QStringLiteral("destination")}, {QStringLiteral("dry-run")});
  args.expectPositional(1, 1, QString::fromLatin1(kUsage));
  auto project = LoadCliProject(args.positional()[0], false);
  if (project->Destinations.isEmpty())
    throw TCliError(QStringLiteral("the project has no destination; add one with lumenfold-cli "
                                   "destination PROJECT add NAME URL"));
  const TPublishDestination* destination = &project->Destinations.first();
  if (args.has(QStringLiteral("destination"))) {
    destination = FindDestination(project->Destinations, args.value("destination"));
    if (!destination)
      throw TCliError(
          QStringLiteral("there is no destination \"%1\"").arg(args.value("destination")),
          kExitUsage);
  } else if (project->Destinations.size() > 1) {
    throw TCliError(QStringLiteral("the project has several destinations; name one with "
                                   "--destination"),
                    kExitUsage);
  }
  QString missing;
  const TPublishSecrets secrets = SecretsFromEnvironment(*destination, &missing);
  if (!missing.isEmpty()) throw TCliError(missing);

  TPublisher publisher(*project, *destination, secrets);
  const bool bar = isatty(fileno(stderr)) != 0;
  const TPublishProgressFn progress = bar ? TPublishProgressFn(showProgress) : TPublishProgressFn();
  // Ctrl+C, SIGTERM or a closed terminal stop the transfer; the next publish resumes.
  TCliInterruptGuard guard;
  std::atomic<bool> finished{false};
  std::thread watcher([&] {
    while (!finished) {
      if (CliInterrupted()) publisher.Cancel();
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
  });
  struct TJoin {
    std::atomic<bool>& flag;
    std::thread& thread;
    ~TJoin() {
      flag = true;
      thread.join();
    }
  } join{finished, watcher};

  if (!publisher.Prepare(progress)) {
    if (bar) std::fputs("\n", stderr);
    throw TCliError(OneLine(publisher.Error()));
  }
  if (bar) std::fputs("\r\033[K", stderr);
  const TPublishPlan& plan = publisher.Plan();
  for (const TPublishStep& s : plan.Steps)
    out(QStringLiteral("%1\t%2\t%3\n")
            .arg(PublishActionName(s.Action), EscapeControlCharacters(s.Path))
            .arg(s.Bytes));
  out(QStringLiteral("summary\tupload=%1\treplace=%2\tremove=%3\tunchanged=%4\tbytes=%5%6\n")
          .arg(plan.Uploads)
          .arg(plan.Replaces)
          .arg(plan.Removes)
          .arg(plan.Unchanged)
          .arg(plan.Bytes)
          .arg(plan.Resuming ? QStringLiteral("\tresuming=1") : QString()));
  if (args.has(QStringLiteral("dry-run"))) return kExitOk;

  const TPublishOutcome outcome = publisher.Run(progress);
  if (bar) std::fputs("\n", stderr);
  if (!outcome.Done) {
    if (CliInterrupted())
      throw TCliError(QStringLiteral("publishing was stopped; the next publish goes on where "
                                     "this one stopped"));
    throw TCliError(OneLine(outcome.Error));
  }
  out(QStringLiteral("published to %1: %2 files sent, %3 removed\n")
          .arg(destination->Name)
          .arg(outcome.Sent)
          .arg(outcome.Removed));
  if (!outcome.Skipped.isEmpty()) {
    for (const QString& path : outcome.Skipped)
      out(QStringLiteral("skipped\t%1\tcould not be removed\n").arg(EscapeControlCharacters(path)));
    return kExitIncomplete;
  }
  return kExitOk;
}

} // namespace

LUMENFOLD_CLI_COMMAND("publish", "publish PROJECT.lumenfold [--destination NAME] [--dry-run]",
                      "Puts the site (the zip archive's content, kept as a folder) on a "
                      "destination, sending only what changed: first the plan as lines "
                      "\"upload|replace|remove PATH BYTES\" and a summary line, then pictures, "
                      "then the database and pages; removes only files an earlier publish of "
                      "this project put there. An interrupted publish goes on at the next run. "
                      "Exit status 3: published, but old files could not be removed.",
                      RunPublish);
