// Both programs answer --help and --version as command-line programs do: text on standard
// output, exit status 0, and the desktop program without opening a window or needing a display.
#include "testenv.h"
#include "util/programfolder.h"

#include <QProcess>
#include <QProcessEnvironment>
#include <QtTest>

namespace {

struct Result {
  int code = -1;
  QString out, err;
};

} // namespace

class TestPrograms : public QObject {
  Q_OBJECT
  TestEnv env;

  // Runs a program of the program folder with no display at all: neither an X server nor a
  // platform chosen, unless the caller names one.
  Result run(const QString& program, const QStringList& args, const QString& platform = {}) {
    QProcess p;
    QProcessEnvironment e = QProcessEnvironment::systemEnvironment();
    e.remove("DISPLAY");
    e.remove("WAYLAND_DISPLAY");
    e.remove("QT_QPA_PLATFORM");
    if (!platform.isEmpty()) e.insert("QT_QPA_PLATFORM", platform);
    e.insert("XDG_CONFIG_HOME", env.path("config"));
    p.setProcessEnvironment(e);
    p.setWorkingDirectory(env.path());
    p.start(ProgramFolder() + program, args);
    if (!p.waitForStarted(30000) || !p.waitForFinished(60000)) {
      p.kill();
      p.waitForFinished();
      return {};
    }
    Result r;
    r.code = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
  }

private slots:
  void desktopHelpAndVersionNeedNoWindow() {
    for (const QString& option : {QString("--help"), QString("-h")}) {
      const Result r = run("lumenfold", {option});
      QCOMPARE(r.code, 0);
      QVERIFY2(r.out.startsWith("usage: lumenfold [PROJECT.lumenfold]\n"), qPrintable(r.out));
      QVERIFY(r.out.contains("--version"));
      QCOMPARE(r.err, QString());
    }
    const Result v = run("lumenfold", {"--version"});
    QCOMPARE(v.code, 0);
    QCOMPARE(v.out.trimmed(), QString("lumenfold " LUMENFOLD_VERSION));
    // Help wins over a project file and over the window system's options.
    const Result both = run("lumenfold", {"-platform", "offscreen", "some.lumenfold", "--help"});
    QCOMPARE(both.code, 0);
    QVERIFY(both.out.startsWith("usage: lumenfold"));
  }

  void desktopRejectsUnknownOptions() {
    const Result r = run("lumenfold", {"--frobnicate"}, "offscreen");
    QCOMPARE(r.code, 2);
    QVERIFY2(r.err.contains("unknown option \"--frobnicate\""), qPrintable(r.err));
    QCOMPARE(r.out, QString());
    const Result two = run("lumenfold", {"a.lumenfold", "b.lumenfold"}, "offscreen");
    QCOMPARE(two.code, 2);
    QVERIFY2(two.err.contains("one project file"), qPrintable(two.err));
  }

  void cliHelpAndVersion() {
    const Result v = run("lumenfold-cli", {"--version"});
    QCOMPARE(v.code, 0);
    QCOMPARE(v.out.trimmed(), QString("lumenfold-cli " LUMENFOLD_VERSION));
    const Result h = run("lumenfold-cli", {"--help"});
    QCOMPARE(h.code, 0);
    QVERIFY(h.out.startsWith("usage: lumenfold-cli"));
    QVERIFY(h.out.contains("--version"));
  }
};

QTEST_MAIN(TestPrograms)
#include "test_programs.moc"
