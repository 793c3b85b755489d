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
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>

namespace {

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

// The engine's answer when the destination's folder does not exist yet.
bool isNotFound(const QString& error) {
  return error.contains(QLatin1String("directory not found"));
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

QString PublishSizeText(qint64 bytes) {
  if (bytes >= 10 * 1024 * 1024) return QStringLiteral("%1 MB").arg(bytes / (1024 * 1024));
  if (bytes >= 10 * 1024) return QStringLiteral("%1 kB").arg(bytes / 1024);
  return QStringLiteral("%1 bytes").arg(bytes);
}

double PublishProgressShare(const TPublishProgress& p) {
  const double share = p.BytesTotal > 0   ? double(p.BytesDone) / double(p.BytesTotal)
                       : p.FilesTotal > 0 ? double(p.FilesDone) / p.FilesTotal
                                          : 0.0;
  return qBound(0.0, share, 1.0);
}

QString PublishProgressText(const TPublishProgress& p) {
  QString text = QStringLiteral("%1 of %2 files, %3 of %4")
                     .arg(p.FilesDone)
                     .arg(p.FilesTotal)
                     .arg(PublishSizeText(p.BytesDone), PublishSizeText(p.BytesTotal));
  if (p.SecondsLeft >= 0)
    text += QStringLiteral(", %1:%2 left")
                .arg(p.SecondsLeft / 60)
                .arg(p.SecondsLeft % 60, 2, 10, QLatin1Char('0'));
  return text;
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
  const QString program = RcloneProgram();
  if (program.isEmpty()) {
    error_ = RcloneMissingMessage();
    return false;
  }
  if (!AddSecrets(target_, secrets_, &error_)) return false;
  // rclone's S3 client refuses to start with AWS_CA_BUNDLE set ("unsupported transport"); the
  // same certificates reach it through its own option instead.
  QMap<QString, QString> environment = target_.Environment;
  QStringList dropped;
  if (qEnvironmentVariableIsSet("AWS_CA_BUNDLE")) {
    dropped << QStringLiteral("AWS_CA_BUNDLE");
    if (!qEnvironmentVariableIsSet("RCLONE_CA_CERT"))
      environment.insert(QStringLiteral("RCLONE_CA_CERT"), qEnvironmentVariable("AWS_CA_BUNDLE"));
  }
  engine_ = std::make_unique<TRcloneSession>(program, environment, dropped);
  if (!engine_->Start(&error_)) {
    engine_.reset();
    return false;
  }
  engineReady_ = true;
  return true;
}

TRcloneSession::TResult TPublisher::call(const QString& command, const QJsonObject& parameters,
                                         const std::function<void(const QJsonObject&)>& stats) {
  TRcloneSession::TResult r = engine_->Call(command, parameters, &cancel_, stats);
  if (!r.Ok && !r.Error.isEmpty())
    Tracer().Write(QStringLiteral("Publish: %1: %2").arg(command, r.Error));
  return r;
}

QString TPublisher::TestConnection() {
  if (!error_.isEmpty()) return error_;
  if (!ensureEngine()) return error_;
  const TRcloneSession::TResult r =
      call(QStringLiteral("operations/list"),
           {{"fs", target_.Remote},
            {"remote", QString()},
            {"opt", QJsonObject{{"noModTime", true}, {"noMimeType", true}}}});
  if (r.Ok || isNotFound(r.Error)) return QString();
  return QStringLiteral("%1 cannot be reached: %2").arg(target_.Display, r.Error);
}

bool TPublisher::getState(const QString& name, QByteArray& bytes) {
  QTemporaryDir into;
  const TRcloneSession::TResult r =
      call(QStringLiteral("operations/copyfile"),
           {{"srcFs", target_.Remote},
            {"srcRemote", QLatin1String(kPublishStateFolder) + QLatin1Char('/') + name},
            {"dstFs", into.path()},
            {"dstRemote", name}});
  if (!into.isValid() || !r.Ok) {
    error_ = r.Cancelled ? QStringLiteral("Publishing was stopped.")
                         : QStringLiteral("The publishing record on %1 cannot be read: %2")
                               .arg(target_.Display, r.Error);
    return false;
  }
  QFile f(into.path() + QLatin1Char('/') + name);
  if (!f.open(QIODevice::ReadOnly)) {
    error_ = QStringLiteral("The publishing record from %1 cannot be read: %2")
                 .arg(target_.Display, f.errorString());
    return false;
  }
  bytes = f.readAll();
  return true;
}

bool TPublisher::readServer(QHash<QString, qint64>& listing, TManifest& manifest,
                            TManifest& pending, TManifest& previous) {
  const TRcloneSession::TResult list =
      call(QStringLiteral("operations/list"), {{"fs", target_.Remote},
                                               {"remote", QString()},
                                               {"opt", QJsonObject{{"recurse", true},
                                                                   {"filesOnly", true},
                                                                   {"noModTime", true},
                                                                   {"noMimeType", true}}}});
  if (list.Cancelled) {
    error_ = QStringLiteral("Publishing was stopped.");
    return false;
  }
  if (!list.Ok && isNotFound(list.Error)) return true; // nothing there yet
  if (!list.Ok) {
    error_ =
        QStringLiteral("The files on %1 cannot be listed: %2").arg(target_.Display, list.Error);
    return false;
  }
  for (const QJsonValue& v : list.Output.value("list").toArray()) {
    const QJsonObject o = v.toObject();
    listing.insert(o.value("Path").toString(), qint64(o.value("Size").toDouble(-1)));
  }
  const QString state = QLatin1String(kPublishStateFolder) + QLatin1Char('/') + id_;
  for (const QString& suffix : {QStringLiteral(".json"), QStringLiteral(".pending")}) {
    if (!listing.contains(state + suffix)) continue;
    QByteArray bytes;
    if (!getState(id_ + suffix, bytes)) return false;
    const QJsonObject o = QJsonDocument::fromJson(bytes).object();
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
  QTemporaryDir from;
  if (!from.isValid() ||
      !WriteFileReplacing(from.path() + QLatin1Char('/') + name, bytes).isEmpty()) {
    error = QStringLiteral("A temporary file cannot be made for the publishing record.");
    return false;
  }
  const TRcloneSession::TResult r =
      call(QStringLiteral("operations/copyfile"),
           {{"srcFs", from.path()},
            {"srcRemote", name},
            {"dstFs", target_.Remote},
            {"dstRemote", QLatin1String(kPublishStateFolder) + QLatin1Char('/') + name}});
  if (r.Ok) return true;
  error = r.Cancelled ? QStringLiteral("Publishing was stopped.")
                      : QStringLiteral("The publishing record cannot be written on %1: %2")
                            .arg(target_.Display, r.Error);
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
  // Files known to differ are sent without asking the server; after an interruption the engine
  // compares size and time stamp first.
  const QJsonObject parameters{
      {"srcFs", source_},
      {"dstFs", target_.Remote},
      {"_filter", QJsonObject{{"FilesFromRaw", QJsonArray{list.fileName()}}}},
      {"_config", QJsonObject{{"NoTraverse", true}, {"NoCheckDest", certain}}}};
  const qint64 baseBytes = state.BytesDone;
  const int baseFiles = state.FilesDone;
  const TRcloneSession::TResult r =
      call(QStringLiteral("sync/copy"), parameters, [&](const QJsonObject& s) {
        state.BytesDone = baseBytes + qint64(s.value("bytes").toDouble());
        state.FilesDone = baseFiles + s.value("transfers").toInt();
        const QJsonValue eta = s.value("eta");
        const double speed = s.value("speed").toDouble();
        state.SecondsLeft = speed > 0 ? int((state.BytesTotal - state.BytesDone) / speed)
                                      : (eta.isDouble() ? eta.toInt() : -1);
        if (progress) progress(state);
      });
  if (!r.Ok) {
    error = r.Cancelled
                ? QStringLiteral("Publishing was stopped; the next publish goes on "
                                 "where this one stopped.")
                : QStringLiteral("Files could not be sent to %1: %2").arg(target_.Display, r.Error);
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
    QStringList failed;
    QString why;
    for (const QString& path : std::as_const(removes)) {
      const TRcloneSession::TResult d =
          call(QStringLiteral("operations/deletefile"), {{"fs", target_.Remote}, {"remote", path}});
      if (d.Cancelled) {
        out.Error = QStringLiteral("Publishing was stopped; the next publish goes on where this "
                                   "one stopped.");
        return out;
      }
      if (!d.Ok) {
        failed << path;
        why = d.Error;
      }
    }
    out.Removed = int(removes.size() - failed.size());
    // The site is whole; the leftovers stay in the manifest and go next time.
    out.Skipped = failed;
    for (const QString& path : std::as_const(failed))
      remaining.insert(path, known_.value(path));
    if (!failed.isEmpty())
      Tracer().Write(
          QStringLiteral("Publish: %1 old files not removed: %2").arg(failed.size()).arg(why));
  }
  // The manifest goes up, then the marker goes away: a publish stopped between the two finds
  // both and plans from the new manifest with nothing left to send.
  const QByteArray manifest =
      QJsonDocument(QJsonObject{{"files", manifestObject(remaining)}}).toJson();
  if (!putState(id_ + QStringLiteral(".json"), manifest, out.Error)) return out;
  const TRcloneSession::TResult done =
      call(QStringLiteral("operations/deletefile"),
           {{"fs", target_.Remote},
            {"remote", QLatin1String(kPublishStateFolder) + QLatin1Char('/') + id_ + ".pending"}});
  if (!done.Ok) {
    out.Error = done.Cancelled ? QStringLiteral("Publishing was stopped.")
                               : QStringLiteral("The publishing record cannot be written on %1: %2")
                                     .arg(target_.Display, done.Error);
    return out;
  }
  out.Done = true;
  return out;
}
