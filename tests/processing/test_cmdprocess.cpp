// lumenfold-cli process as a person runs it: progress lines, the closing line and exit status.
#include "testenv.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

namespace {

struct Result {
  int status = -1;
  QString out;
};

Result cli(const QStringList& args) {
  QProcess p;
  QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
  env.insert("QT_QPA_PLATFORM", "offscreen");
  p.setProcessEnvironment(env);
  p.start(ProgramFolder() + "lumenfold-cli", args);
  p.waitForFinished(120000);
  return {p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1,
          QString::fromLocal8Bit(p.readAllStandardOutput())};
}

} // namespace

class TestCmdProcess : public QObject {
  Q_OBJECT
private slots:
  void runReportsProgressAndOutcome();
};

void TestCmdProcess::runReportsProgressAndOutcome() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  TestEnv env;
  const QString album = env.makeFolder("photos");
  QVERIFY(WriteTestJpeg(album + "/a.jpg", 320, 240));
  QFile bad(album + "/b.jpg");
  QVERIFY(bad.open(QIODevice::WriteOnly));
  bad.write("not a picture");
  bad.close();
  const QString project = env.path("p.lumenfold");
  QCOMPARE(cli({"new", project}).status, 0);
  QCOMPARE(cli({"add-album", project, album, "--directory", "trip"}).status, 0);

  Result r = cli({"process", project, "--verbose", "--jobs", "1"});
  QCOMPARE(r.status, 1);
  QStringList lines = r.out.split('\n', Qt::SkipEmptyParts);
  QVERIFY2(lines.contains("1/2 0 getting hash and size of the file: " + album + "/a.jpg") ||
               lines.contains("2/2 0 getting hash and size of the file: " + album + "/a.jpg"),
           qPrintable(r.out));
  const int end = lines.indexOf("Processing was terminated and finished.");
  QVERIFY2(end >= 0 && end + 1 < lines.size(), qPrintable(r.out));
  QVERIFY2(lines[end + 1].contains("b.jpg"), qPrintable(lines[end + 1]));

  // Without the undecodable file the rest is processed and the run completes, zip included.
  QVERIFY(QFile::remove(album + "/b.jpg"));
  r = cli({"process", project, "--zip", "--all", "--albums", "1"});
  QCOMPARE(r.status, 0);
  QVERIFY2(r.out.trimmed().endsWith("Processing finished successfully."), qPrintable(r.out));
  QVERIFY(QFile::exists(album + "/ps_medium/m_a.jpg"));
  QVERIFY(QFile::exists(env.path("albums.zip")));

  // Wrong command lines are refused before any work.
  QCOMPARE(cli({"process", project, "--albums", "99"}).status, 2);
  QCOMPARE(cli({"process", project, "--jobs", "0"}).status, 2);
}

QTEST_GUILESS_MAIN(TestCmdProcess)
#include "test_cmdprocess.moc"
