// The trace log: in-memory lines, the appended file and the level filter.
#include "testenv.h"
#include "util/tracer.h"

#include <QFile>
#include <QtTest>

class TestTracer : public QObject {
  Q_OBJECT
  TestEnv env;

  static QByteArray read(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
  }

private slots:
  void bothOutputsOffKeepsOnlyTheLastMessage() {
    const QString path = env.path("off.log");
    TTracer t(path);
    t.KeepInMemory = false;
    t.WriteToFile = false;
    QCOMPARE(t.Write("one"), -1);
    QCOMPARE(t.Write("two"), -1);
    QCOMPARE(t.LastMessage(), QString("two"));
    QVERIFY(t.Lines().isEmpty());
    QVERIFY(!QFile::exists(path));
    // The process-wide instance is configured the same way.
    QCOMPARE(Tracer().Write("note"), -1);
    QCOMPARE(Tracer().LastMessage(), QString("note"));
  }

  void appendsLinesWithCrLfAndClosesBetweenThem() {
    const QString path = env.path("two.log");
    {
      QFile pre(path);
      QVERIFY(pre.open(QIODevice::WriteOnly));
      pre.write("old\r\n");
    }
    TTracer t(path);
    QCOMPARE(t.Write("first"), 0);
    // Closed between messages: another reader sees the complete line already.
    QCOMPARE(read(path), QByteArray("old\r\nfirst\r\n"));
    QCOMPARE(t.Write(QString::fromUtf8("zweite Zeile")), 1);
    QCOMPARE(read(path), QByteArray("old\r\nfirst\r\nzweite Zeile\r\n"));
    QCOMPARE(t.Lines(), QStringList({"first", "zweite Zeile"}));
  }

  void keepOpenWritesThroughOneStream() {
    const QString path = env.path("open.log");
    TTracer t(path);
    t.SetKeepOpen(true);
    QVERIFY(QFile::exists(path));
    t.Write("a");
    t.Write("b");
    t.SetKeepOpen(false);
    QCOMPARE(read(path), QByteArray("a\r\nb\r\n"));
  }

  void levelFilterRejectsWithoutTouchingLastMessage() {
    TTracer t{QString()};
    t.MaxLevel = 3;
    QCOMPARE(t.WriteLevel("kept", 3), 0);
    QCOMPARE(t.WriteLevel("dropped", 5), -1);
    QCOMPARE(t.LastMessage(), QString("kept"));
    QCOMPARE(t.Lines().size(), 1);
  }

  void emptyFileNameWritesNothingAndRaisesNothing() {
    TTracer t{QString()};
    QCOMPARE(t.Write("x"), 0);
    QCOMPARE(t.LastMessage(), QString("x"));
  }

  void unopenableFileRaisesOnceThenKeepsMemoryOnly() {
    TTracer t(env.path("no/such/folder/x.log"));
    bool raised = false;
    try {
      t.Write("x");
    } catch (const std::exception&) {
      raised = true;
    }
    QVERIFY(raised);
    QVERIFY(t.FileName().isEmpty());
    QCOMPARE(t.Write("y"), 1);
    QCOMPARE(t.LastMessage(), QString("y"));
  }
};

QTEST_GUILESS_MAIN(TestTracer)
#include "test_tracer.moc"
