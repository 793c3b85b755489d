#include "processing/publish.h"

#include "core/outputsettings.h"
#include "core/project.h"
#include "processing/processingjob.h"
#include "processing/sitefolder.h"
#include "util/helpers.h"
#include "util/tracer.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <csignal>
#include <sys/prctl.h>

namespace {

// rclone's exit status when the folder does not exist.
constexpr int kRcloneDirNotFound = 3;

// When a file may travel: pictures and the other files first, then what names them.
int rank(const QString& path) {
  const QString suffix = QFileInfo(path).suffix().toLower();
  if (suffix == QLatin1String("db") || suffix == QLatin1String("sqlite") ||
      suffix == QLatin1String("sqlite3"))
    return 1;
  if (suffix == QLatin1String("json")) return 2;
  if (suffix == QLatin1String("html") || suffix == QLatin1String("htm")) return 3;
  // The feed, the sitemap and robots.txt name the pages: they follow them.
  if (suffix == QLatin1String("xml") || path == QLatin1String("robots.txt")) return 4;
  return 0;
}

QJsonObject manifestObject(const TPublisher::TManifest& m) {
  QJsonObject files;
  for (auto it = m.begin(); it != m.end(); ++it)
    files.insert(it.key(), QJsonArray{double(it->Size), QString::number(it->Crc, 16)});
  return files;
}

TPublisher::TManifest manifestFrom(const QJsonObject& files) {
  TPublisher::TManifest m;
  for (auto it = files.begin(); it != files.end(); ++it) {
    const QJsonArray a = it.value().toArray();
    m.insert(it.key(), {qint64(a.at(0).toDouble(-1)), a.at(1).toString().toUInt(nullptr, 16)});
  }
  return m;
}

QString lastLines(const QString& text, int count) {
  QStringList lines = text.split(QLatin1Char('\n'), Qt::SkipEmptyParts);
  if (lines.size() > count) lines = lines.mid(lines.size() - count);
  return lines.join(QStringLiteral("; "));
}

} // namespace

QString PublishActionName(TPublishAction action) {
  switch (action) {
  case TPublishAction::Upload:
    return QStringLiteral("upload");
  case TPublishAction::Replace:
    return QStringLiteral("replace");
  case TPublishAction::Remove:
    return QStringLiteral("remove");
  }
  return QString();
}

TPublisher::TPublisher(const TLumenfoldProject& project, const TPublishDestination& destination,
                       const TPublishSecrets& secrets)
    : secrets_(secrets), archive_(ResolveZipFileName(project, project.ZipFileName)),
      source_(PublishSourceFolder(project)), id_(project.PublishId) {
  if (!ParseDestinationUrl(destination, target_, &error_)) return;
  // Without a site template the archive holds private pictures and originals: it never leaves.
  if (!ArchiveWithoutTemplateWarning(project).isEmpty())
    error_ = QStringLiteral("The project has no site template, so its archive holds every "
                            "picture, private ones included. Choose a site template before "
                            "publishing.");
  else if (id_.isEmpty())
    error_ = QStringLiteral("The project has no publishing name yet; add the destination again.");
}

bool TPublisher::ensureEngine() {
  if (engineReady_) return true;
  program_ = RcloneProgram();
  if (program_.isEmpty()) {
    error_ = RcloneMissingMessage();
    return false;
  }
  if (!AddSecrets(target_, secrets_, &error_)) return false;
  engineReady_ = true;
  return true;
}

TPublisher::TRun TPublisher::rclone(const QStringList& args, const QByteArray& input,
                                    const std::function<void(const QJsonObject&)>& stats) {
  TRun run;
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  for (auto it = target_.Environment.cbegin(); it != target_.Environment.cend(); ++it)
    env.insert(it.key(), it.value());
  p.setProcessEnvironment(env);
  // The engine ends with this program, even when it is killed.
  p.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGTERM); });
  QStringList all = args;
  all << QStringLiteral("--use-json-log") << QStringLiteral("--stats") << QStringLiteral("500ms")
      << QStringLiteral("--stats-log-level") << QStringLiteral("NOTICE");
  p.start(program_, all);
  if (!p.waitForStarted(30000)) {
    run.Errors = QStringLiteral("rclone could not be started: %1").arg(p.errorString());
    return run;
  }
  if (!input.isEmpty()) p.write(input);
  p.closeWriteChannel();
  QByteArray pendingErr;
  auto readLog = [&] {
    pendingErr += p.readAllStandardError();
    qsizetype nl;
    while ((nl = pendingErr.indexOf('\n')) >= 0) {
      const QByteArray line = pendingErr.left(nl);
      pendingErr.remove(0, nl + 1);
      const QJsonObject o = QJsonDocument::fromJson(line).object();
      if (o.isEmpty()) {
        if (!line.trimmed().isEmpty()) run.Errors += QString::fromUtf8(line) + QLatin1Char('\n');
        continue;
      }
      if (o.contains(QLatin1String("stats")) && stats) stats(o.value("stats").toObject());
      const QString level = o.value("level").toString();
      if (level == QLatin1String("error") || level == QLatin1String("critical"))
        run.Errors += o.value("msg").toString().trimmed() + QLatin1Char('\n');
    }
  };
  while (!p.waitForFinished(200)) {
    run.Out += p.readAllStandardOutput();
    readLog();
    if (cancel_ && !run.Cancelled) {
      run.Cancelled = true;
      p.terminate();
      if (!p.waitForFinished(5000)) p.kill();
    }
    if (p.state() == QProcess::NotRunning) break;
  }
  run.Out += p.readAllStandardOutput();
  readLog();
  run.Exit = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
  return run;
}

QString TPublisher::remoteFile(const QString& path) const {
  QString base = target_.Remote;
  if (!base.endsWith(QLatin1Char(':')) && !base.endsWith(QLatin1Char('/')))
    base += QLatin1Char('/');
  return base + path;
}

QString TPublisher::TestConnection() {
  if (!error_.isEmpty()) return error_;
  if (!ensureEngine()) return error_;
  const TRun r = rclone({QStringLiteral("lsjson"), QStringLiteral("--max-depth"),
                         QStringLiteral("1"), target_.Remote});
  if (r.Exit == 0 || r.Exit == kRcloneDirNotFound) return QString();
  return QStringLiteral("%1 cannot be reached: %2").arg(target_.Display, lastLines(r.Errors, 2));
}

bool TPublisher::readServer(QHash<QString, qint64>& listing, TManifest& manifest,
                            TManifest& pending, TManifest& previous) {
  const TRun list =
      rclone({QStringLiteral("lsjson"), QStringLiteral("-R"), QStringLiteral("--files-only"),
              QStringLiteral("--no-mimetype"), QStringLiteral("--no-modtime"), target_.Remote});
  if (list.Cancelled) {
    error_ = QStringLiteral("Publishing was stopped.");
    return false;
  }
  if (list.Exit == kRcloneDirNotFound) return true; // nothing there yet
  if (list.Exit != 0) {
    error_ = QStringLiteral("The files on %1 cannot be listed: %2")
                 .arg(target_.Display, lastLines(list.Errors, 2));
    return false;
  }
  for (const QJsonValue& v : QJsonDocument::fromJson(list.Out).array()) {
    const QJsonObject o = v.toObject();
    listing.insert(o.value("Path").toString(), qint64(o.value("Size").toDouble(-1)));
  }
  const QString state = QLatin1String(kPublishStateFolder) + QLatin1Char('/') + id_;
  for (const QString& suffix : {QStringLiteral(".json"), QStringLiteral(".pending")}) {
    if (!listing.contains(state + suffix)) continue;
    const TRun cat = rclone({QStringLiteral("cat"), remoteFile(state + suffix)});
    if (cat.Exit != 0) {
      error_ = QStringLiteral("The publishing record on %1 cannot be read: %2")
                   .arg(target_.Display, lastLines(cat.Errors, 2));
      return false;
    }
    const QJsonObject o = QJsonDocument::fromJson(cat.Out).object();
    if (suffix == QLatin1String(".json")) {
      manifest = manifestFrom(o.value("files").toObject());
    } else {
      pending = manifestFrom(o.value("files").toObject());
      previous = manifestFrom(o.value("previous").toObject());
    }
  }
  return true;
}

bool TPublisher::Prepare(const TPublishProgressFn& progress) {
  plan_ = TPublishPlan();
  local_.clear();
  known_.clear();
  maybeThere_.clear();
  if (!error_.isEmpty() || !ensureEngine()) return false;
  if (!QFileInfo(archive_).isFile()) {
    error_ = QStringLiteral("There is no site to publish yet: process the project with the zip "
                            "archive first (\"%1\" is missing).")
                 .arg(archive_);
    return false;
  }
  TPublishProgress state;
  state.Stage = QStringLiteral("Preparing the site folder");
  const TSiteMirrorResult mirror = MirrorArchive(
      archive_, source_,
      [&](int done, int total) {
        state.FilesDone = done;
        state.FilesTotal = total;
        if (progress) progress(state);
      },
      &cancel_);
  if (!mirror.Error.isEmpty()) {
    error_ = mirror.Error;
    return false;
  }
  for (const TSiteFile& f : mirror.Files)
    local_.insert(f.Path, {f.Size, f.Crc});

  state = TPublishProgress();
  state.Stage = QStringLiteral("Looking at the server");
  if (progress) progress(state);
  QHash<QString, qint64> listing;
  TManifest manifest, pending, previous;
  if (!readServer(listing, manifest, pending, previous)) return false;
  plan_.Resuming = !pending.isEmpty() || !previous.isEmpty();
  // This project's files on the server: the last complete publish and an interrupted one.
  known_ = manifest;
  for (const TManifest* m : {&pending, &previous})
    for (auto it = m->cbegin(); it != m->cend(); ++it)
      known_.insert(it.key(), it.value());

  QList<TPublishStep> sends;
  for (auto it = local_.cbegin(); it != local_.cend(); ++it) {
    const QString& path = it.key();
    const auto there = listing.constFind(path);
    if (there == listing.cend()) {
      sends.append({TPublishAction::Upload, path, it->Size});
      continue;
    }
    // Unchanged when the last complete publish sent this content and the server still has it.
    const auto sent = manifest.constFind(path);
    if (sent != manifest.cend() && *sent == *it && *there == it->Size &&
        !(pending.contains(path) && !(pending.value(path) == *it))) {
      ++plan_.Unchanged;
      continue;
    }
    // An interrupted publish may have sent this content already: the engine checks it.
    if (pending.value(path) == *it) maybeThere_.insert(path, *it);
    sends.append({TPublishAction::Replace, path, it->Size});
  }
  std::sort(sends.begin(), sends.end(), [](const TPublishStep& a, const TPublishStep& b) {
    const int ra = rank(a.Path), rb = rank(b.Path);
    return ra != rb ? ra < rb : a.Path < b.Path;
  });
  plan_.Steps = sends;
  QStringList removes;
  for (auto it = known_.cbegin(); it != known_.cend(); ++it)
    if (!local_.contains(it.key()) && listing.contains(it.key())) removes << it.key();
  removes.sort();
  for (const QString& path : std::as_const(removes))
    plan_.Steps.append({TPublishAction::Remove, path, listing.value(path)});
  for (const TPublishStep& s : std::as_const(plan_.Steps)) {
    if (s.Action == TPublishAction::Remove) {
      ++plan_.Removes;
      continue;
    }
    ++(s.Action == TPublishAction::Upload ? plan_.Uploads : plan_.Replaces);
    plan_.Bytes += s.Bytes;
  }
  return true;
}

bool TPublisher::putState(const QString& name, const QByteArray& bytes, QString& error) {
  const TRun r = rclone({QStringLiteral("rcat"),
                         remoteFile(QLatin1String(kPublishStateFolder) + QLatin1Char('/') + name)},
                        bytes);
  if (r.Exit == 0) return true;
  error = r.Cancelled ? QStringLiteral("Publishing was stopped.")
                      : QStringLiteral("The publishing record cannot be written on %1: %2")
                            .arg(target_.Display, lastLines(r.Errors, 2));
  return false;
}

bool TPublisher::transfer(const QStringList& paths, bool certain,
                          const TPublishProgressFn& progress, TPublishProgress& state,
                          QString& error) {
  if (paths.isEmpty()) return true;
  QTemporaryFile list;
  if (!list.open()) {
    error = QStringLiteral("A temporary file cannot be made: %1").arg(list.errorString());
    return false;
  }
  list.write(paths.join(QLatin1Char('\n')).toUtf8() + '\n');
  list.flush();
  QStringList args = {QStringLiteral("copy"), source_,
                      target_.Remote,         QStringLiteral("--files-from-raw"),
                      list.fileName(),        QStringLiteral("--no-traverse")};
  // Files known to differ are sent without asking the server; after an interruption the engine
  // compares size and time stamp first.
  if (certain) args << QStringLiteral("--no-check-dest");
  const qint64 baseBytes = state.BytesDone;
  const int baseFiles = state.FilesDone;
  const TRun r = rclone(args, {}, [&](const QJsonObject& s) {
    state.BytesDone = baseBytes + qint64(s.value("bytes").toDouble());
    state.FilesDone = baseFiles + s.value("transfers").toInt();
    const QJsonValue eta = s.value("eta");
    const double speed = s.value("speed").toDouble();
    state.SecondsLeft = speed > 0 ? int((state.BytesTotal - state.BytesDone) / speed)
                                  : (eta.isDouble() ? eta.toInt() : -1);
    if (progress) progress(state);
  });
  if (r.Exit != 0) {
    error = r.Cancelled ? QStringLiteral("Publishing was stopped; the next publish goes on "
                                         "where this one stopped.")
                        : QStringLiteral("Files could not be sent to %1: %2")
                              .arg(target_.Display, lastLines(r.Errors, 3));
    return false;
  }
  state.FilesDone = baseFiles + int(paths.size());
  return true;
}

TPublishOutcome TPublisher::Run(const TPublishProgressFn& progress) {
  TPublishOutcome out;
  if (!error_.isEmpty()) {
    out.Error = error_;
    return out;
  }
  TPublishProgress state;
  state.Stage = QStringLiteral("Sending");
  state.BytesTotal = plan_.Bytes;
  state.FilesTotal = plan_.Uploads + plan_.Replaces;
  if (progress) progress(state);
  if (plan_.Empty()) {
    out.Done = true;
    return out;
  }
  // The marker first: what this publish is about to put there and what earlier ones did.
  const QJsonObject marker{{"files", manifestObject(local_)}, {"previous", manifestObject(known_)}};
  if (!putState(id_ + QStringLiteral(".pending"), QJsonDocument(marker).toJson(), out.Error))
    return out;
  // Rank by rank, so that a page never names a file that is not there yet.
  for (int r = 0; r <= 4; ++r) {
    QStringList certain, maybe;
    for (const TPublishStep& s : std::as_const(plan_.Steps))
      if (s.Action != TPublishAction::Remove && rank(s.Path) == r)
        (maybeThere_.contains(s.Path) ? maybe : certain) << s.Path;
    if (!transfer(certain, true, progress, state, out.Error) ||
        !transfer(maybe, false, progress, state, out.Error))
      return out;
    out.Sent += int(certain.size() + maybe.size());
  }
  // Only files of this project's manifests, never anything else.
  TManifest remaining = local_;
  QStringList removes;
  for (const TPublishStep& s : std::as_const(plan_.Steps))
    if (s.Action == TPublishAction::Remove) removes << s.Path;
  if (!removes.isEmpty()) {
    state.Stage = QStringLiteral("Removing old files");
    if (progress) progress(state);
    QTemporaryFile list;
    if (!list.open()) {
      out.Error = QStringLiteral("A temporary file cannot be made: %1").arg(list.errorString());
      return out;
    }
    list.write(removes.join(QLatin1Char('\n')).toUtf8() + '\n');
    list.flush();
    const TRun d = rclone({QStringLiteral("delete"), target_.Remote,
                           QStringLiteral("--files-from-raw"), list.fileName()});
    if (d.Cancelled) {
      out.Error = QStringLiteral("Publishing was stopped; the next publish goes on where this "
                                 "one stopped.");
      return out;
    }
    if (d.Exit == 0) {
      out.Removed = int(removes.size());
    } else {
      // The site is whole; the leftovers stay in the manifest and go next time.
      out.Skipped = removes;
      for (const QString& path : std::as_const(removes))
        remaining.insert(path, known_.value(path));
      Tracer().Write(
          QStringLiteral("Publish: old files not removed: %1").arg(lastLines(d.Errors, 3)));
    }
  }
  // The manifest goes up and the marker goes away in one run of the engine: a local folder
  // holding only the new manifest is synchronised onto this project's two names (other
  // projects' records are outside the filter and stay).
  QTemporaryDir record;
  const QString manifestPath = record.path() + QLatin1Char('/') + id_ + QStringLiteral(".json");
  const QByteArray manifest =
      QJsonDocument(QJsonObject{{"files", manifestObject(remaining)}}).toJson();
  if (!record.isValid() || !WriteFileReplacing(manifestPath, manifest).isEmpty()) {
    out.Error = QStringLiteral("A temporary file cannot be made for the publishing record.");
    return out;
  }
  const TRun done =
      rclone({QStringLiteral("sync"), record.path(), remoteFile(QLatin1String(kPublishStateFolder)),
              QStringLiteral("--include"), QLatin1Char('/') + id_ + ".json",
              QStringLiteral("--include"), QLatin1Char('/') + id_ + ".pending"});
  if (done.Exit != 0) {
    out.Error = done.Cancelled ? QStringLiteral("Publishing was stopped.")
                               : QStringLiteral("The publishing record cannot be written on %1: %2")
                                     .arg(target_.Display, lastLines(done.Errors, 2));
    return out;
  }
  out.Done = true;
  return out;
}
