// Model benchmark: saving a large new album, loading a large project and opening a large album,
// each against the sqlite3 shell running the same statements on the same database, measured in
// the same run. Prints the figures, the ratios and whether each target is met.
#include "core/album.h"
#include "core/picture.h"
#include "core/project.h"
#include "db/sqlaccess.h"
#include "db/statements.h"
#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QThread>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <sys/resource.h>
#include <vector>

namespace {

constexpr int kAlbumPictures = 5000; // (a) and (c)
constexpr int kLoadAlbums = 100;     // (b)
constexpr int kLoadPicturesPerAlbum = 500;
constexpr int kRuns = 3;

QTemporaryDir* scratch = nullptr;
QString sqliteShell = QStringLiteral("sqlite3");
int dbCounter = 0;

[[noreturn]] void fail(const QString& what) {
  std::fprintf(stderr, "bench_model: %s\n", what.toLocal8Bit().constData());
  std::exit(1);
}

QString freshDatabase() {
  const QString path = scratch->filePath(QStringLiteral("db%1.sqlite").arg(++dbCounter));
  if (!QFile::copy(ProgramFolder() + QStringLiteral("template.db"), path))
    fail(QStringLiteral("cannot copy template.db from %1").arg(ProgramFolder()));
  QFile(path).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  return path;
}

QString connectionFor(const QString& db) {
  return QStringLiteral("Provider=SQLite;Data Source=") + db;
}

// Wall-clock and processor seconds of one measurement. The machine may be shared, so both are
// shown: processor time is what the code itself costs.
struct Timing {
  double wall = 0, cpu = 0;
};

double cpuSeconds(int who) {
  rusage u{};
  getrusage(who, &u);
  return double(u.ru_utime.tv_sec + u.ru_stime.tv_sec) +
         double(u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Runs the sqlite3 shell on a database with a script on standard input; returns the time from
// start to exit (output discarded).
Timing runShell(const QString& db, const QByteArray& script) {
  QProcess p;
  p.setStandardOutputFile(QProcess::nullDevice());
  const double cpu0 = cpuSeconds(RUSAGE_CHILDREN);
  QElapsedTimer t;
  t.start();
  p.start(sqliteShell, {QStringLiteral("-batch"), db});
  if (!p.waitForStarted(10000)) fail(QStringLiteral("cannot start %1").arg(sqliteShell));
  p.write(script);
  p.closeWriteChannel();
  if (!p.waitForFinished(600000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0)
    fail(
        QStringLiteral("sqlite3 failed: %1").arg(QString::fromLocal8Bit(p.readAllStandardError())));
  return {t.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_CHILDREN) - cpu0};
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

Timing timeIt(const std::function<void()>& f) {
  const double cpu0 = cpuSeconds(RUSAGE_SELF);
  QElapsedTimer t;
  t.start();
  f();
  return {t.nsecsElapsed() / 1e9, cpuSeconds(RUSAGE_SELF) - cpu0};
}

struct Series {
  std::vector<double> wall, cpu;
  void add(const Timing& t) {
    wall.push_back(t.wall);
    cpu.push_back(t.cpu);
  }
};

void report(const char* what, const Series& model, const Series& peer, double target,
            double ratioTarget = 0) {
  const double m = median(model.wall), p = median(peer.wall);
  const double mc = median(model.cpu), pc = median(peer.cpu);
  const bool met = m <= target && (ratioTarget <= 0 || m / p <= ratioTarget);
  const bool cpuMet = mc <= target && (ratioTarget <= 0 || mc / pc <= ratioTarget);
  const QByteArray ratioText =
      ratioTarget > 0 ? QStringLiteral(" and <= %1x the shell").arg(ratioTarget).toLatin1()
                      : QByteArray();
  std::printf("%s\n", what);
  std::printf("    wall:      model %7.3f s   sqlite3 shell %7.3f s   ratio %5.2fx\n", m, p, m / p);
  std::printf("    processor: model %7.3f s   sqlite3 shell %7.3f s   ratio %5.2fx\n", mc, pc,
              mc / pc);
  std::printf("    target <= %.2f s%s: wall %s, processor time %s\n", target, ratioText.constData(),
              met ? "met" : "MISSED", cpuMet ? "met" : "MISSED");
}

// Two categories for the picture links.
QByteArray categoriesScript() {
  return QByteArray(FormatSql(SQL_CATEGORY_INSERT, {SqlInt(1), QString("Landscape"),
                                                    QString("Krajina"), QString(), QString()})
                        .toUtf8() +
                    ";\n" +
                    FormatSql(SQL_CATEGORY_INSERT,
                              {SqlInt(2), QString("People"), QString("Lidé"), QString(), QString()})
                        .toUtf8() +
                    ";\n");
}

// A new album of n pictures as the album wizard leaves it: every picture new, dirty, to be
// processed and in two categories; the first picture is the face.
TLumenfoldAlbum* newAlbum(TLumenfoldProject& project, const QString& folder, int n) {
  auto* album = new TLumenfoldAlbum(&project);
  album->SetPath(folder);
  album->Directory = QStringLiteral("2024/holiday");
  album->ShortName = QStringLiteral("Holiday");
  album->LongName = QStringLiteral("Summer holiday by the sea");
  const QDateTime when(QDate(2024, 7, 14), QTime(10, 30));
  for (int i = 1; i <= n; ++i) {
    auto* p = new TLumenfoldPicture(album);
    p->OriginalFileName = QStringLiteral("IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
    p->UpdateFileNames();
    p->OriginalSize = 2500000 + i;
    p->OriginalDate = 0x58EE5000 + i;
    p->PictureDate = when.addSecs(i * 7);
    p->Title = QStringLiteral("Picture %1 of the bay's north shore").arg(i);
    p->SortOrder = i;
    p->CategoryIds << QStringLiteral("1") << QStringLiteral("2");
    album->Pictures.Add(QString(), p);
    p->SetModified(true);
    p->SetDirty(true);
  }
  album->Pictures[0]->SetIsFace(true);
  return album;
}

// The INSERT statements the save issues for such an album, as one transaction for the shell.
QByteArray insertScript(const TLumenfoldAlbum& album, int albumId) {
  QByteArray s = "BEGIN;\n";
  s += FormatSql(SQL_ALBUM_INSERT,
                 {SqlInt(albumId), SqlInt(1), SqlDateText(album.AlbumDate),
                  QuoteSqlText(album.ShortName), QuoteSqlText(album.ShortName2),
                  QuoteSqlText(album.LongName), QuoteSqlText(album.LongName2),
                  QuoteSqlText(album.Description), QuoteSqlText(album.Description2),
                  SqlInt(album.IsPrivate), QuoteSqlText(album.Directory), QuoteSqlText(album.Path)})
           .toUtf8() +
       ";\n";
  for (int i = 0; i < album.Pictures.Count(); ++i) {
    const TLumenfoldPicture* p = album.Pictures[i];
    const int id = i + 1;
    s += FormatSql(SQL_PICTURE_INSERT, {SqlInt(id),
                                        SqlInt(p->Orientation),
                                        SqlInt(p->CropRect.X1),
                                        SqlInt(p->CropRect.Y1),
                                        SqlInt(p->CropRect.X2),
                                        SqlInt(p->CropRect.Y2),
                                        SqlDateText(p->PictureDate),
                                        QuoteSqlText(p->Title),
                                        QuoteSqlText(p->Title2),
                                        QuoteSqlText(p->OriginalFileName),
                                        p->OriginalHash,
                                        SqlInt(p->OriginalDate),
                                        SqlInt(p->OriginalSize),
                                        SqlInt(p->OriginalWidth),
                                        SqlInt(p->OriginalHeight),
                                        QuoteSqlText(p->LargeFileName),
                                        SqlInt(p->LargeSize),
                                        QuoteSqlText(p->MediumFileName),
                                        SqlInt(p->MediumSize),
                                        QuoteSqlText(p->ThumbFileName),
                                        SqlInt(p->ThumbSize),
                                        SqlInt(p->SortOrder),
                                        SqlInt(p->Modified),
                                        SqlInt(p->ThumbSignatureId),
                                        SqlInt(p->MediumSignatureId),
                                        SqlInt(p->IsDeleted),
                                        SqlInt(p->IsPrivate),
                                        SqlInt(albumId)})
             .toUtf8() +
         ";\n";
    for (const QString& c : p->CategoryIds)
      s += FormatSql(SQL_LINK_INSERT, {SqlInt(id), SqlInt(c.toInt())}).toUtf8() + ";\n";
  }
  s += "COMMIT;\n";
  return s;
}

// Counts rows straight from the database, to check that a save really stored everything.
int countRows(const QString& cs, const QString& sql) {
  TQuery q;
  if (OpenQuery(cs, sql, q) != 0) fail(QStringLiteral("cannot count: %1").arg(sql));
  const int n = q->FirstAsInteger();
  CloseQuery(q);
  return n;
}

struct SavedAlbum {
  QString projectFile;
  QString db;
};

// (a) Saving a new album of 5,000 pictures with their category links.
SavedAlbum benchSave() {
  Series model, peer;
  SavedAlbum kept;
  const QString folder = scratch->filePath(QStringLiteral("holiday"));
  QDir().mkpath(folder);
  for (int run = 0; run < kRuns; ++run) {
    // The model.
    const QString db = freshDatabase();
    runShell(db, categoriesScript());
    TLumenfoldProject project;
    project.Reset();
    project.FileName = scratch->filePath(QStringLiteral("save%1.lumenfold").arg(run));
    project.ConnectionString = connectionFor(db);
    SetCurrentConnectionString(project.ConnectionString);
    TLumenfoldAlbum* album = newAlbum(project, folder, kAlbumPictures);
    project.Albums.Insert(0, album->ShortName, album);
    album->AttachPictures();
    album->SetDirty(true);
    bool saved = false;
    model.add(timeIt([&] { saved = project.SaveToFile(); }));
    const QString cs = project.ConnectionString;
    if (countRows(cs, QStringLiteral("SELECT COUNT(*) FROM picture")) != kAlbumPictures ||
        countRows(cs, QStringLiteral("SELECT COUNT(*) FROM picture_to_category")) !=
            2 * kAlbumPictures ||
        !saved || project.Modified)
      fail(QStringLiteral("the model's save did not store the album completely"));
    if (run == 0) kept = {project.FileName, db};

    // The peer: the same rows as plain INSERT statements in one transaction.
    const QString peerDb = freshDatabase();
    runShell(peerDb, categoriesScript());
    const QByteArray script = insertScript(*album, 1);
    peer.add(runShell(peerDb, script));
  }
  CloseThreadConnections();
  report("(a) save new album, 5000 pictures + links", model, peer, 1.0, 3.0);
  return kept;
}

// (b) Loading a project whose database holds 100 albums of 500 pictures, none to be processed.
void benchLoadProject() {
  const QString db = freshDatabase();
  const int total = kLoadAlbums * kLoadPicturesPerAlbum;
  QByteArray fill = "BEGIN;\n" + categoriesScript();
  fill += QStringLiteral(
              "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
              "INSERT INTO album (album_id, face_picture_id, album_date, short_name, short_name2, "
              "long_name, long_name2, description, description2, is_private, directory, path) "
              "SELECT x, (x - 1) * %2 + 1, '2023-05-01', 'Album ' || x, '', 'Long name of album "
              "' || x, '', 'Description', '', 0, 'albums/a' || x, '%3/a' || x FROM n;\n")
              .arg(kLoadAlbums)
              .arg(kLoadPicturesPerAlbum)
              .arg(scratch->path())
              .toUtf8();
  fill += QStringLiteral(
              "WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE x < %1) "
              "INSERT INTO picture (picture_id, orientation, crop_X1, crop_Y1, crop_X2, crop_Y2, "
              "picture_date, title, title2, original_filename, original_hash, original_date, "
              "original_size, original_width, original_height, large_filename, large_size, "
              "medium_filename, medium_size, thumb_filename, thumb_size, sort_order, modified, "
              "thumb_signature_id, medium_signature_id, is_deleted, is_private, album_id) "
              "SELECT x, 1, -1, -1, -1, -1, '2023-05-01', 'Title ' || x, '', 'IMG_' || x || "
              "'.jpg', '0123abcd', 1454332800, 2500000, 4000, 3000, 'ps_large/l_IMG_' || x || "
              "'.jpg', 900000, 'ps_medium/m_IMG_' || x || '.jpg', 120000, 'ps_thumb/tn_IMG_' || "
              "x || '.jpg', 9000, (x - 1) % %2 + 1, 0, -1, -1, 0, 0, (x - 1) / %2 + 1 FROM n;\n")
              .arg(total)
              .arg(kLoadPicturesPerAlbum)
              .toUtf8();
  fill += QStringLiteral("WITH RECURSIVE n(x) AS (SELECT 1 UNION ALL SELECT x + 1 FROM n WHERE "
                         "x < %1) INSERT INTO picture_to_category SELECT x, 1 + x % 2 FROM n;\n")
              .arg(total)
              .toUtf8();
  fill += "COMMIT;\n";
  runShell(db, fill);

  const QString file = scratch->filePath(QStringLiteral("load.lumenfold"));
  {
    TLumenfoldProject p;
    p.Reset();
    p.FileName = file;
    p.ConnectionString = connectionFor(db);
    p.WriteSettings();
    if (!QFile::exists(file)) fail("cannot write the project file");
  }
  Series model, peer;
  QByteArray queries;
  for (const char* q :
       {SQL_ALBUMS, SQL_FACE_PICTURES, SQL_CATEGORIES, SQL_SIGNATURE_ITEMS, SQL_SIGNATURES})
    queries += QByteArray(q) + ";\n";
  Timing first;
  for (int run = 0; run < kRuns + 2; ++run) {
    // A fresh connection each time, as when the program opens a project.
    CloseThreadConnections();
    TLumenfoldProject project;
    bool ok = false;
    const Timing t = timeIt([&] { ok = project.LoadFromFile(file); });
    if (!ok || project.Albums.Count() != kLoadAlbums)
      fail(QStringLiteral("the project did not load (%1 albums)").arg(project.Albums.Count()));
    if (run == 0) first = t;
    model.add(t);
    peer.add(runShell(db, queries));
  }
  CloseThreadConnections();
  report("(b) load project, 100 albums x 500 pictures", model, peer, 0.3);
  std::printf("    first load: wall %.3f s, processor %.3f s\n", first.wall, first.cpu);
}

// (c) LoadPictures of an album of 5,000 pictures (with their category links).
void benchLoadPictures(const SavedAlbum& saved) {
  TLumenfoldProject project;
  if (!project.LoadFromFile(saved.projectFile) || project.Albums.Count() != 1)
    fail("cannot load the project of (a)");
  TLumenfoldAlbum* album = project.Albums[0];
  QByteArray queries = FormatSql(SQL_PICTURES_OF_ALBUM, {SqlInt(album->Id)}).toUtf8() + ";\n" +
                       FormatSql(SQL_CATEGORY_LINKS_OF_ALBUM, {SqlInt(album->Id)}).toUtf8() + ";\n";
  Series model, peer;
  for (int run = 0; run < kRuns + 2; ++run) {
    model.add(timeIt([&] {
      if (!album->LoadPictures()) fail("LoadPictures failed");
    }));
    if (album->Pictures.Count() != kAlbumPictures ||
        album->Pictures[kAlbumPictures - 1]->CategoryIds.size() != 2)
      fail("LoadPictures did not load every picture with its links");
    peer.add(runShell(saved.db, queries));
  }
  CloseThreadConnections();
  report("(c) LoadPictures, album of 5000 pictures", model, peer, 0.2);
}

} // namespace

int main(int argc, char** argv) {
  QCoreApplication app(argc, argv);
  const QStringList args = app.arguments();
  const int shellAt = args.indexOf(QStringLiteral("--sqlite3"));
  if (shellAt > 0 && shellAt + 1 < args.size()) sqliteShell = args[shellAt + 1];
  QTemporaryDir dir;
  if (!dir.isValid()) fail("no temporary folder");
  scratch = &dir;
  double load[3] = {};
  getloadavg(load, 3);
  std::printf("LumenFold model benchmark (medians; peer: %s; load average %.2f on %d processors)\n",
              sqliteShell.toLocal8Bit().constData(), load[0], QThread::idealThreadCount());
  if (load[0] > QThread::idealThreadCount())
    std::printf("The machine is busy: wall times include waiting for a processor; processor times "
                "show what the work itself costs.\n");
  const SavedAlbum saved = benchSave();
  benchLoadProject();
  benchLoadPictures(saved);
  return 0;
}
