// Where the program finds its data: beside the program in a build tree or a portable copy,
// under share/lumenfold of the prefix when installed.
#include "testenv.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QtTest>

class TestDataFolder : public QObject {
  Q_OBJECT
  TestEnv env;

  static void touch(const QString& path) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly));
  }

private slots:
  void dataFolderRule() {
    const QString bin = env.makeFolder("prefix/bin");
    const QString sep = QDir::separator();
    // Nothing anywhere: the program folder, so that errors name where the data was expected.
    QCOMPARE(DataFolderFor(bin), bin + sep);
    // Installed: <prefix>/share/lumenfold.
    const QString share = env.makeFolder("prefix/share/lumenfold");
    QCOMPARE(DataFolderFor(bin), QDir::toNativeSeparators(share) + sep);
    QCOMPARE(DataFolderFor(bin + sep), QDir::toNativeSeparators(share) + sep);
    // A template.db beside the program wins (build tree, portable copy).
    touch(bin + "/template.db");
    QCOMPARE(DataFolderFor(bin), bin + sep);
  }

  void dataFolderFollowsTheProgramFolder() {
    // The build tree: the tests run beside template.db.
    QCOMPARE(DataFolder(), ProgramFolder());
    const QString saved = ProgramFolder();
    const QString bin = env.makeFolder("other/bin");
    const QString share = env.makeFolder("other/share/lumenfold");
    SetProgramFolder(bin);
    const QString data = DataFolder();
    SetProgramFolder(saved);
    QCOMPARE(data, QDir::toNativeSeparators(share) + QDir::separator());
  }
};

QTEST_MAIN(TestDataFolder)
#include "test_datafolder.moc"
