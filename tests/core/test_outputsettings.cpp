// Output settings that would overwrite or delete the user's files are refused; the project lock
// keeps a second program off an open project.
#include "core/album.h"
#include "core/outputsettings.h"
#include "core/picture.h"
#include "core/project.h"
#include "core/projectlock.h"
#include "testenv.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QLockFile>
#include <QProcess>
#include <QtTest>

class TestOutputSettings : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;

  // A project with default settings, a project file, a database and one album "photos".
  struct Site {
    TLumenfoldProject project;
    TLumenfoldAlbum* album = nullptr;
    Site(const TestEnv& env, const QString& name) {
      const QString folder = env.makeFolder(name);
      project.Reset();
      project.FileName = folder + "/site.lumenfold";
      project.ConnectionString = "Provider=SQLite;Data Source=" + folder + "/db.sqlite";
      project.ZipFileName = folder + "/albums.zip";
      album = new TLumenfoldAlbum(&project);
      album->Path = env.makeFolder(name + "/photos");
      album->ShortName = "Photos";
      album->Loaded = true;
      project.Albums.Add(album->ShortName, album);
    }
    TLumenfoldPicture* add(const QString& name) {
      auto* p = new TLumenfoldPicture(album);
      p->OriginalFileName = name;
      p->UpdateFileNames();
      album->Pictures.Add(QString(), p);
      return p;
    }
  };

  static void expectRefused(const TLumenfoldProject& p, const QString& setting) {
    const QString why = ValidateOutputSettings(p);
    QVERIFY2(why.contains(setting), qPrintable(QStringLiteral("<%1> for %2").arg(why, setting)));
  }

private slots:
  void defaultsAreSafe() {
    Site s(env, "defaults");
    QCOMPARE(ValidateOutputSettings(s.project), QString());
    s.add("a.jpg");
    QCOMPARE(ValidateOutputPaths(s.project, {s.album->Pictures.Pictures(0)}), QString());
  }

  void foldersAndPrefixesArePlainNames() {
    Site s(env, "names");
    s.project.MediumFolder = "../../escaped";
    expectRefused(s.project, "MediumFolder");
    s.project.MediumFolder = "ps_medium";
    s.project.ThumbPrefix = "../../../x_";
    expectRefused(s.project, "ThumbPrefix");
    s.project.ThumbPrefix = "a\\b";
    expectRefused(s.project, "ThumbPrefix");
    s.project.ThumbPrefix = "tn_";
    s.project.LargeFolder = "..";
    expectRefused(s.project, "LargeFolder");
    s.project.LargeFolder = "ps\nlarge";
    expectRefused(s.project, "LargeFolder");
    // Only one of the two empty is fine: the images go beside the originals with a prefix, or
    // into their folder under the original name.
    s.project.LargeFolder.clear();
    QCOMPARE(ValidateOutputSettings(s.project), QString());
    s.project.LargeFolder = "ps_large";
    s.project.LargePrefix.clear();
    QCOMPARE(ValidateOutputSettings(s.project), QString());
  }

  void emptyFolderAndPrefixWouldReplaceOriginals() {
    // Even a disabled size: renaming and deleting pictures move its files too.
    Site s(env, "empty");
    s.project.LargeEnabled = false;
    s.project.LargeFolder.clear();
    s.project.LargePrefix.clear();
    const QString why = ValidateOutputSettings(s.project);
    QVERIFY(why.contains("LargeFolder") && why.contains("LargePrefix"));
    QVERIFY(why.contains("original"));
  }

  void twoSizesNeverShareAFile() {
    Site s(env, "shared");
    s.project.ThumbFolder = "ps_medium";
    s.project.ThumbPrefix = "m_";
    expectRefused(s.project, "ThumbPrefix");
    // Ignoring case: the lowercase rule or the disk may make the names equal.
    s.project.ThumbFolder = "PS_Medium";
    s.project.ThumbPrefix = "M_";
    expectRefused(s.project, "ThumbPrefix");
    // A prefix that begins with another one in the same folder: the medium image of "t_a.jpg"
    // would be the thumbnail of "a.jpg".
    s.project.ThumbPrefix = "m_t_";
    expectRefused(s.project, "MediumPrefix");
    s.project.ThumbFolder = "ps_thumb";
    QCOMPARE(ValidateOutputSettings(s.project), QString());
  }

  void sizeBoxesStayWithinWhatASiteUses() {
    Site s(env, "boxes");
    s.project.MediumWidth = 65535;
    expectRefused(s.project, "MediumWidth");
    s.project.MediumWidth = kMaxOutputSide;
    s.project.ThumbHeight = 0;
    expectRefused(s.project, "ThumbHeight");
    s.project.ThumbEnabled = false;
    QCOMPARE(ValidateOutputSettings(s.project), QString());
  }

  void outputFolderIsNotAnotherAlbum() {
    Site s(env, "nested");
    auto* other = new TLumenfoldAlbum(&s.project);
    other->Path = s.album->Path + "/ps_medium";
    other->ShortName = "Inner";
    s.project.Albums.Add(other->ShortName, other);
    const QString why = ValidateOutputSettings(s.project);
    QVERIFY2(why.contains("MediumFolder") && why.contains("Inner"), qPrintable(why));
  }

  void zipFileIsNeverAFileOfTheUser() {
    Site s(env, "zip");
    const QString folder = QFileInfo(s.project.FileName).absolutePath();
    s.add("a.jpg");
    const QStringList bad = {
        folder + "/db.sqlite",               // the database
        folder + "/site.lumenfold",          // the project file
        folder + "/./DB.sqlite",             // the same, spelled differently
        s.album->Path + "/a.jpg",            // an original
        s.album->Path + "/new.JPG",          // a picture the album would import
        s.album->Path + "/ps_medium/m_a.jpg" // a generated image
    };
    for (const QString& zip : bad) {
      s.project.ZipFileName = zip;
      const QString why = ValidateOutputSettings(s.project);
      QVERIFY2(why.contains("ZipFileName"), qPrintable(zip + " -> " + why));
    }
    s.project.ZipFileName = s.album->Path; // a folder
    QVERIFY(ValidateOutputSettings(s.project).contains("folder"));
    s.project.ZipFileName = s.album->Path + "/site.zip"; // beside the originals is fine
    QCOMPARE(ValidateOutputSettings(s.project), QString());
  }

  void relativeZipNameIsBesideTheProjectFile() {
    Site s(env, "relative");
    const QString folder = QFileInfo(s.project.FileName).absolutePath();
    QCOMPARE(ResolveZipFileName(s.project, "out/albums.zip"), folder + "/out/albums.zip");
    QCOMPARE(ResolveZipFileName(s.project, "/abs/a.zip"), QString("/abs/a.zip"));
    QCOMPARE(ResolveZipFileName(s.project, QString()), QString());
    // "db.sqlite" relative to the project file is the database, whatever the current folder.
    s.project.ZipFileName = "db.sqlite";
    QVERIFY(ValidateOutputSettings(s.project).contains("database"));
  }

  void outputsNeverReplaceAnOriginal() {
    Site s(env, "originals");
    s.project.MediumFolder.clear(); // medium images beside the originals as m_<name>
    QCOMPARE(ValidateOutputSettings(s.project), QString());
    TLumenfoldPicture* a = s.add("a.jpg");
    QCOMPARE(ValidateOutputPaths(s.project, {a}), QString());
    s.add("M_A.JPG"); // the medium image of a.jpg, ignoring case
    const QString why = ValidateOutputPaths(s.project, {a});
    QVERIFY2(why.contains("medium") && why.contains("original"), qPrintable(why));
  }

  void removesOnlyAZipArchive() {
    const QString folder = env.makeFolder("remove");
    const QString text = folder + "/notes.zip";
    QFile f(text);
    QVERIFY(f.open(QIODevice::WriteOnly));
    f.write("these are my notes");
    f.close();
    QVERIFY(RemoveZipArchive(text).contains("not a zip archive"));
    QVERIFY(QFile::exists(text));
    QVERIFY(!RemoveZipArchive(folder).isEmpty()); // a folder
    QVERIFY(QDir(folder).exists());

    const QString zip = folder + "/albums.zip";
    QFile z(zip);
    QVERIFY(z.open(QIODevice::WriteOnly));
    z.write(QByteArray("PK\x05\x06", 4) + QByteArray(18, '\0')); // an empty archive
    z.close();
    QVERIFY(IsZipArchiveFile(zip));
    QCOMPARE(RemoveZipArchive(zip), QString());
    QVERIFY(!QFile::exists(zip));
    QCOMPARE(RemoveZipArchive(zip), QString()); // already gone
  }

  void loadingWarnsAboutUnsafeSettings() {
    Site s(env, "load");
    QFile::copy(QCoreApplication::applicationDirPath() + "/template.db",
                QFileInfo(s.project.FileName).absolutePath() + "/db.sqlite");
    s.project.MediumFolder.clear();
    s.project.MediumPrefix.clear();
    QVERIFY(s.project.WriteSettings());
    TLumenfoldProject loaded;
    prompt.clear();
    loaded.LoadFromFile(s.project.FileName);
    QCOMPARE(loaded.MediumFolder, QString());
    QVERIFY2(prompt.warnings().join(' ').contains("MediumFolder"),
             qPrintable(prompt.warnings().join(' ')));
  }

  void albumDirectoriesNeverShareEntries() {
    Site s(env, "directories");
    s.album->Directory = "a/photos";
    QCOMPARE(ValidateAlbumDirectory(s.project, s.album, "a/photos"), QString()); // itself
    QVERIFY(ValidateAlbumDirectory(s.project, nullptr, "A\\Photos/").contains("Photos"));
    QCOMPARE(ValidateAlbumDirectory(s.project, nullptr, "b/photos"), QString());
    for (const char* bad : {"", "../up", "a/../../up", "/abs", ".."})
      QVERIFY2(!ValidateAlbumDirectory(s.project, nullptr, bad).isEmpty(), bad);
  }

  // ---- locking ----

  void secondLockIsRefusedNamingTheHolder() {
    const QString file = env.makeFolder("lock") + "/site.lumenfold";
    TProjectLock first(file);
    QCOMPARE(first.TryLock(), TProjectLock::Locked);
    QVERIFY(QFile::exists(file + ".lock"));
    TProjectLock second(file);
    QCOMPARE(second.TryLock(), TProjectLock::HeldByOther);
    QVERIFY2(second.Message().contains(QString::number(QCoreApplication::applicationPid())),
             qPrintable(second.Message()));
    QVERIFY(second.Message().contains(file));
    first.Unlock();
    QVERIFY(!QFile::exists(file + ".lock"));
    QCOMPARE(second.TryLock(), TProjectLock::Locked);
  }

  void staleLockOfADeadProcessIsTakenOver() {
    const QString file = env.makeFolder("stale") + "/site.lumenfold";
    // A lock left by a process that has ended: the lock file names its process.
    QProcess dead;
    dead.start("sh", {"-c", "echo $$"});
    QVERIFY(dead.waitForFinished());
    const QByteArray pid = dead.readAllStandardOutput().trimmed();
    QVERIFY(pid.toLongLong() > 0);
    QFile lock(file + ".lock");
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(pid + "\nlumenfold-cli\n" + QSysInfo::machineHostName().toUtf8() + "\n");
    lock.close();
    TProjectLock taker(file);
    QCOMPARE(taker.TryLock(), TProjectLock::Locked);
  }

  void oldLockOfALiveProcessIsKept() {
    const QString file = env.makeFolder("live") + "/site.lumenfold";
    QProcess live; // a program that still runs, named in a lock file written days ago
    live.start("sleep", {"300"});
    QVERIFY(live.waitForStarted());
    QFile lock(file + ".lock");
    QVERIFY(lock.open(QIODevice::WriteOnly));
    lock.write(QByteArray::number(live.processId()) + "\nsleep\n" +
               QSysInfo::machineHostName().toUtf8() + "\n");
    QVERIFY(lock.flush());
    QVERIFY(lock.setFileTime(QDateTime::currentDateTime().addDays(-3),
                             QFileDevice::FileModificationTime));
    lock.close();
    TProjectLock taker(file);
    QCOMPARE(taker.TryLock(), TProjectLock::HeldByOther);
    live.kill();
    live.waitForFinished();
  }

  void openProjectLockFollowsTheOpenProject() {
    const QString a = env.makeFolder("open") + "/a.lumenfold";
    const QString b = env.path("open") + "/b.lumenfold";
    prompt.clear();
    QVERIFY(LockOpenProject(a));
    QVERIFY(LockOpenProject(a)); // the same project again
    TProjectLock other(a);
    QCOMPARE(other.TryLock(), TProjectLock::HeldByOther);
    QVERIFY(LockOpenProject(b)); // opening another releases the first
    QCOMPARE(other.TryLock(), TProjectLock::Locked);
    TProjectLock onB(b);
    QCOMPARE(onB.TryLock(), TProjectLock::HeldByOther);
    other.Unlock();
    QVERIFY(LockOpenProject(a)); // a is free again
    UnlockOpenProject();
    QCOMPARE(onB.TryLock(), TProjectLock::Locked);
    onB.Unlock();
    // A project another program holds is refused with a message.
    TProjectLock holder(a);
    QCOMPARE(holder.TryLock(), TProjectLock::Locked);
    QVERIFY(!LockOpenProject(a));
    QVERIFY(prompt.errors().join(' ').contains("in use"));
    UnlockOpenProject();
  }
};

QTEST_GUILESS_MAIN(TestOutputSettings)
#include "test_outputsettings.moc"
