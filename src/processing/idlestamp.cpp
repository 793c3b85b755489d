#include "processing/idlestamp.h"

#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/signature.h"
#include "db/connectionstring.h"
#include "processing/archive/archivefiles.h"
#include "processing/archive/archiveupdate.h"
#include "processing/publicsite.h"
#include "processing/sitefolder.h"
#include "util/helpers.h"
#include "util/programfolder.h"

#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDataStream>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QSet>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

// What is recorded of a path: its bytes too (small files that say everything: the project file
// and the database), the file alone, a folder and its entries, or a folder and all below it.
enum TItemKind : qint8 { ikContent = 1, ikFile = 2, ikFolder = 3, ikTree = 4 };

struct TItem {
  qint8 Kind = ikFile;
  QString Path;
  QByteArray Digest; // of its facts when the stamp was written
  // Written by the run itself (the project file, the database, the archive, the site folder),
  // rather than only read by it; not stored.
  bool Written = false;
};

constexpr char kMagic[] = "lumenfold idle stamp 1";
// A file changed this recently may change again with the same change time.
constexpr qint64 kFreshNs = 30'000'000;
// ... and on a file system that keeps whole seconds only, this recently.
constexpr qint64 kCoarseFreshNs = 3'000'000'000;
constexpr int kMaxTreeDepth = 32;

qint64 nanoseconds(const timespec& t) {
  return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

qint64 nowNanoseconds() {
  timespec t{};
  clock_gettime(CLOCK_REALTIME, &t);
  return nanoseconds(t);
}

// One entry of a folder as listed: its name and what lstat (and, for a link, stat) says.
struct TEntry {
  std::string Name;
  int Error = 0;
  struct stat Own {};
  int TargetError = 0;
  struct stat Target {};
};

// The facts of the covered paths, fed in a fixed order into one digest.
class TFacts {
public:
  // An entry that cannot be looked at (other than by being absent) leaves the state unknown.
  bool Failed = false;
  qint64 NewestChange = 0;       // newest change time of a file, in nanoseconds
  qint64 NewestCoarseChange = 0; // the same among files whose times hold whole seconds only

  void Text(QStringView text) {
    const QByteArray bytes = text.toUtf8();
    Bytes(bytes.constData(), bytes.size());
  }
  void Bytes(const char* data, qsizetype size) {
    const quint64 n = quint64(size);
    raw(&n, sizeof n);
    raw(data, size);
  }

  // error: 0, or the errno of the lstat/stat call that gave st.
  void Stat(int error, const struct stat& st) {
    if (error != 0) {
      if (error != ENOENT && error != ENOTDIR) Failed = true;
      const qint64 missing[] = {-1, error};
      raw(missing, sizeof missing);
      return;
    }
    if (S_ISDIR(st.st_mode)) {
      // A folder's own times follow its entries, which are covered where they matter.
      const qint64 f[] = {qint64(st.st_mode), qint64(st.st_dev), qint64(st.st_ino)};
      raw(f, sizeof f);
      return;
    }
    const qint64 f[] = {qint64(st.st_mode),        qint64(st.st_dev),         qint64(st.st_ino),
                        qint64(st.st_size),        qint64(st.st_mtim.tv_sec), st.st_mtim.tv_nsec,
                        qint64(st.st_ctim.tv_sec), st.st_ctim.tv_nsec};
    raw(f, sizeof f);
    const qint64 change = std::max(nanoseconds(st.st_ctim), nanoseconds(st.st_mtim));
    if (st.st_ctim.tv_nsec == 0 && st.st_mtim.tv_nsec == 0)
      NewestCoarseChange = std::max(NewestCoarseChange, change);
    else
      NewestChange = std::max(NewestChange, change);
  }

  // The path's own facts and, for a link, those of what it leads to.
  void File(const QByteArray& path) {
    struct stat own {};
    const int error = lstat(path.constData(), &own) == 0 ? 0 : errno;
    Stat(error, own);
    if (error == 0 && S_ISLNK(own.st_mode)) {
      struct stat target {};
      Stat(stat(path.constData(), &target) == 0 ? 0 : errno, target);
    }
  }

  void Content(const QByteArray& path) {
    File(path);
    QFile file(QFile::decodeName(path));
    if (!file.exists()) return;
    QCryptographicHash bytes(QCryptographicHash::Blake2b_256);
    if (!file.open(QIODevice::ReadOnly) || !bytes.addData(&file)) {
      Failed = true;
      return;
    }
    const QByteArray sum = bytes.result();
    Bytes(sum.constData(), sum.size());
  }

  // The folder's own facts, then every entry in name order; below it too when recursive.
  void Folder(const QByteArray& path, bool recursive, int depth = 0) {
    struct stat own {};
    const int error = lstat(path.constData(), &own) == 0 ? 0 : errno;
    Stat(error, own);
    if (error != 0 || !S_ISDIR(own.st_mode)) return;
    // Its own times are no fact (its entries are), but they tell when an entry last went.
    NewestChange = std::max({NewestChange, nanoseconds(own.st_ctim), nanoseconds(own.st_mtim)});
    if (depth > kMaxTreeDepth) {
      Failed = true;
      return;
    }
    const int fd = open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    DIR* dir = fd < 0 ? nullptr : fdopendir(fd);
    if (!dir) {
      if (fd >= 0) close(fd);
      Failed = true;
      return;
    }
    std::vector<TEntry> entries;
    errno = 0;
    while (const dirent* e = readdir(dir)) {
      if (e->d_name[0] == '.' && (e->d_name[1] == 0 || (e->d_name[1] == '.' && e->d_name[2] == 0)))
        continue;
      TEntry& entry = entries.emplace_back();
      entry.Name = e->d_name;
      if (fstatat(fd, e->d_name, &entry.Own, AT_SYMLINK_NOFOLLOW) != 0) entry.Error = errno;
      if (entry.Error == 0 && S_ISLNK(entry.Own.st_mode) &&
          fstatat(fd, e->d_name, &entry.Target, 0) != 0)
        entry.TargetError = errno;
      errno = 0;
    }
    if (errno != 0) Failed = true;
    closedir(dir);
    std::vector<const TEntry*> order;
    order.reserve(entries.size());
    for (const TEntry& entry : entries)
      order.push_back(&entry);
    std::sort(order.begin(), order.end(),
              [](const TEntry* a, const TEntry* b) { return a->Name < b->Name; });
    const quint64 count = entries.size();
    raw(&count, sizeof count);
    for (const TEntry* at : order) {
      const TEntry& entry = *at;
      Bytes(entry.Name.data(), qsizetype(entry.Name.size()));
      Stat(entry.Error, entry.Own);
      if (entry.Error == 0 && S_ISLNK(entry.Own.st_mode)) Stat(entry.TargetError, entry.Target);
      if (recursive && entry.Error == 0 && S_ISDIR(entry.Own.st_mode))
        Folder(path + '/' + QByteArray::fromStdString(entry.Name), true, depth + 1);
    }
  }

  // The digest of the facts so far; the next facts start a new one.
  QByteArray Result() {
    const QByteArray result = hash_.result();
    hash_.reset();
    return result;
  }

private:
  void raw(const void* data, qsizetype size) {
    hash_.addData(QByteArrayView(static_cast<const char*>(data), size));
  }
  QCryptographicHash hash_{QCryptographicHash::Blake2b_256};
};

// What the program is and where it runs: another build, data folder, locale or time zone is
// another state.
void addProgram(TFacts& facts) {
  facts.Text(QString::fromLatin1(kMagic));
  facts.Text(QCoreApplication::applicationVersion());
  facts.Text(DataFolder());
  facts.Text(ProgramFolder());
  facts.Text(QLocale().name());
  facts.Text(QString::fromLocal8Bit(qgetenv("TZ")));
  facts.File(QFile::encodeName(QCoreApplication::applicationFilePath()));
  facts.File("/etc/localtime");
}

// The digest of one item's facts as they are now.
QByteArray digestOf(const TItem& item, TFacts& facts) {
  facts.Text(QString::number(item.Kind));
  facts.Text(item.Path);
  const QByteArray path = QFile::encodeName(item.Path);
  switch (item.Kind) {
  case ikContent:
    facts.Content(path);
    break;
  case ikFile:
    facts.File(path);
    break;
  case ikFolder:
    facts.Folder(path, false);
    break;
  case ikTree:
    facts.Folder(path, true);
    break;
  default:
    facts.Failed = true;
  }
  return facts.Result();
}

// The request and the program, as the stamp's first digest.
QByteArray programDigest(const QByteArray& requestKey, TFacts& facts) {
  facts.Bytes(requestKey.constData(), requestKey.size());
  addProgram(facts);
  return facts.Result();
}

// The folder part of a name relative to an album folder ("" for the album folder itself).
QString relativeFolder(const QString& relative) {
  const qsizetype at =
      std::max(relative.lastIndexOf(QLatin1Char('/')), relative.lastIndexOf(QLatin1Char('\\')));
  return at < 0 ? QString() : relative.left(at);
}

// Every folder a run looks at for the pictures' files: the originals' and the generated
// images' folders, the extra web sizes' included. Empty when an album is not loaded.
bool pictureFolders(const TLumenfoldProject& project, QStringList& folders) {
  const QList<int> webSizes =
      TemplateWebSizes(DataFolder() + QStringLiteral("templates"), project.SiteTemplate);
  const TGeneratedSize sizes[] = {TGeneratedSize::Large, TGeneratedSize::Medium,
                                  TGeneratedSize::Thumb};
  QSet<QString> all;
  for (int a = 0; a < project.Albums.Count(); ++a) {
    const TLumenfoldAlbum* album = project.Albums.Albums(a);
    if (album->Id == -1) continue;
    if (!album->Loaded) return false;
    QSet<QString> relatives;
    for (int i = 0; i < album->Pictures.Count(); ++i) {
      const TLumenfoldPicture* p = album->Pictures.Pictures(i);
      relatives.insert(relativeFolder(p->OriginalFileName));
      for (TGeneratedSize size : sizes) {
        relatives.insert(relativeFolder(p->StoredFileName(size)));
        relatives.insert(relativeFolder(GeneratedFileName(project, size, p->OriginalFileName)));
      }
      const QString medium = p->StoredFileName(TGeneratedSize::Medium);
      for (int size : webSizes)
        relatives.insert(relativeFolder(WebSizeFileName(medium, size)));
    }
    for (const QString& relative : std::as_const(relatives))
      all.insert(relative.isEmpty() ? album->Path : PathBelow(album->Path, relative));
  }
  folders = QStringList(all.cbegin(), all.cend());
  folders.sort();
  return true;
}

void write(QDataStream& out, const QByteArray& key, const QByteArray& program,
           const QList<TItem>& items) {
  out << QByteArray(kMagic) << key << program << qint32(items.size());
  for (const TItem& item : items)
    out << item.Kind << item.Path << item.Digest;
}

} // namespace

QString IdleStampPath(const QString& projectFile) {
  const QFileInfo info(projectFile);
  return IncludeTrailingSeparator(info.absolutePath()) + QLatin1Char('.') + info.fileName() +
         QStringLiteral(".idle");
}

QByteArray IdleRequestKey(bool zip, bool compareHash) {
  if (zip && qgetenv("LUMENFOLD_ARCHIVE_FULL_REWRITE") == "1") return QByteArray();
  return QByteArray("zip=") + (zip ? '1' : '0') + " hash=" + (compareHash ? '1' : '0');
}

bool IdleStampHolds(const QString& projectFile, const QByteArray& requestKey) {
  if (requestKey.isEmpty()) return false;
  QFile file(IdleStampPath(projectFile));
  if (!file.open(QIODevice::ReadOnly)) return false;
  QDataStream in(&file);
  in.setVersion(QDataStream::Qt_6_0);
  QByteArray magic, key, program;
  qint32 count = 0;
  in >> magic >> key >> program >> count;
  if (in.status() != QDataStream::Ok || magic != kMagic || key != requestKey || count < 0 ||
      count > 10'000'000)
    return false;
  QList<TItem> items;
  items.reserve(count);
  for (qint32 i = 0; i < count && in.status() == QDataStream::Ok; ++i) {
    TItem& item = items.emplace_back();
    in >> item.Kind >> item.Path >> item.Digest;
  }
  if (in.status() != QDataStream::Ok || !in.atEnd()) return false;
  // The first difference ends the comparison: single files come before the large folders.
  TFacts facts;
  if (programDigest(requestKey, facts) != program || facts.Failed) return false;
  for (const TItem& item : std::as_const(items))
    if (digestOf(item, facts) != item.Digest || facts.Failed) return false;
  return true;
}

qint64 IdleStampClock() {
  return nowNanoseconds();
}

bool WriteIdleStamp(const TLumenfoldProject& project, const QByteArray& requestKey,
                    qint64 runStarted) {
  const QString stampPath = IdleStampPath(project.FileName);
  RemoveIdleStamp(project.FileName);
  if (requestKey.isEmpty() || project.FileName.isEmpty()) return false;
  // Only a database file of its own, named by a full path, is recorded.
  const QString provider = GetConnectionProvider(project.ConnectionString).trimmed();
  const QString database = GetConnectionDataSource(project.ConnectionString).trimmed();
  if ((!provider.isEmpty() && DriverForProvider(provider) != QLatin1String("QSQLITE")) ||
      database.isEmpty() || QFileInfo(database).isRelative())
    return false;
  QList<TItem> items;
  const auto add = [&items](qint8 kind, const QString& path, bool written = false) {
    items.append({kind, path, {}, written});
  };
  add(ikContent, QFileInfo(project.FileName).absoluteFilePath(), true);
  // The database's file facts first, its bytes after the other single files: a run after a save
  // finds the difference without reading it.
  add(ikFile, database, true);
  for (const char* suffix : {"-wal", "-journal"})
    add(ikFile, database + QLatin1String(suffix), true);
  if (requestKey.startsWith("zip=1")) {
    const QString archive = ResolveZipFileName(project, project.ZipFileName);
    if (archive.isEmpty()) return false;
    add(ikFile, archive, true);
    add(ikFile, ArchiveJournalPath(archive), true);
  }
  QStringList images;
  for (int i = 0; i < project.SignatureItems.Count(); ++i) {
    const TLumenfoldSignatureItem* item = project.SignatureItems.Items(i);
    if (item && !item->IsText() && !item->ImageName().isEmpty()) images << item->ImageName();
  }
  images.sort();
  images.removeDuplicates();
  for (const QString& image : std::as_const(images))
    add(ikFile, image);
  add(ikContent, database, true);
  if (!project.SiteTemplate.isEmpty())
    add(ikTree, IncludeTrailingSeparator(DataFolder() + QStringLiteral("templates")) +
                    project.SiteTemplate);
  if (const QString site = ResolvedSiteFolder(project); !site.isEmpty()) add(ikTree, site, true);
  QStringList folders;
  if (!pictureFolders(project, folders)) return false;
  for (const QString& folder : std::as_const(folders))
    add(ikFolder, folder);

  // What the run just wrote is let age past the moment in which a later change could keep its
  // change time. What the run only read must be as it was before the run looked at it: a change
  // made meanwhile by someone else (its change time or its folder's is newer than the run) was
  // perhaps not seen by the run, and must not be taken for done.
  QThread::usleep(kFreshNs / 1000);
  const qint64 start = nowNanoseconds();
  TFacts facts;
  const auto fresh = [&](qint64 since) {
    const bool newer = facts.NewestChange >= since - kFreshNs ||
                       facts.NewestCoarseChange >= since - kCoarseFreshNs;
    facts.NewestChange = facts.NewestCoarseChange = 0;
    return newer;
  };
  const QByteArray program = programDigest(requestKey, facts);
  if (fresh(runStarted)) return false;
  for (TItem& item : items) {
    item.Digest = digestOf(item, facts);
    if (fresh(item.Written ? start : runStarted)) return false;
  }
  if (facts.Failed) return false;
  QByteArray bytes;
  QDataStream out(&bytes, QIODevice::WriteOnly);
  out.setVersion(QDataStream::Qt_6_0);
  write(out, requestKey, program, items);
  return WriteFileReplacing(stampPath, bytes).isEmpty();
}

void RemoveIdleStamp(const QString& projectFile) {
  if (!projectFile.isEmpty()) QFile::remove(IdleStampPath(projectFile));
}
