// Files that leave go to the user's trash, made where missing; without a trash they stay.
#include "testenv.h"
#include "util/durablefiles.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestDurableFiles : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  // A fresh account has no ~/.local/share: the trash is made there, and nothing lands in the
  // current folder.
  void trashIsMadeWhereMissingAndChecked() {
    const QString data = env.path("home/.local/share");
    qputenv("HOME", env.makeFolder("home").toLocal8Bit());
    qunsetenv("XDG_DATA_HOME");
    QVERIFY(QDir::setCurrent(env.makeFolder("checkout")));
    QFile file(env.path("checkout/albums.zip"));
    QVERIFY(file.open(QIODevice::WriteOnly) && file.write("zip") == 3);
    file.close();
    QString error;
    QVERIFY2(MoveToTrash(file.fileName(), &error), qPrintable(error));
    QCOMPARE(QDir(data + "/Trash/files").entryList(QDir::Files), QStringList({"albums.zip"}));
    QCOMPARE(QDir(data + "/Trash/info").entryList(QDir::Files),
             QStringList({"albums.zip.trashinfo"}));
    QCOMPARE(QFile::permissions(data + "/Trash") & 0x0077, QFile::Permissions());
    QCOMPARE(QDir(env.path("checkout")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot),
             QStringList());

    // No home folder, no trash: the file stays where it is.
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.close();
    qputenv("HOME", "");
    QVERIFY(!MoveToTrash(file.fileName(), &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(file.exists());
  }
};

QTEST_GUILESS_MAIN(TestDurableFiles)
#include "test_durablefiles.moc"
