// The splash window: countdown, click to dismiss, about mode, version text.
#include "testenv.h"
#include "ui/mainwindow/frmsplash.h"
#include "ui/common/uiresources.h"

#include <QLabel>
#include <QTimer>
#include <QtTest>

class TestSplash : public QObject {
  Q_OBJECT
  TestEnv env;

  static QLabel* label(QWidget* w, const char* name) {
    auto* l = w->findChild<QLabel*>(name);
    if (!l) qFatal("missing label %s", name);
    return l;
  }
  static QTimer* timer(QWidget* w) { return w->findChild<QTimer*>("mainTimer"); }

private slots:
  void initTestCase() { InitUiResources(); }

  void layoutAndControls() {
    TfrmLumenFold2Splash s;
    QCOMPARE(s.objectName(), QString("frmLumenFold2Splash"));
    QCOMPARE(s.size(), QSize(400, 300));
    QVERIFY(s.windowFlags().testFlag(Qt::FramelessWindowHint));
    QVERIFY(s.windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    for (const char* name :
         {"bvlMain", "mainImage", "lblVersion", "lblCount", "lblCount2", "lblCopy"})
      QVERIFY2(s.findChild<QWidget*>(name), name);
    QVERIFY(!label(&s, "mainImage")->pixmap().isNull());
    QCOMPARE(label(&s, "lblCount")->text(), QString("50"));
    QVERIFY(timer(&s));
    QCOMPARE(timer(&s)->interval(), 100);
    QVERIFY(!timer(&s)->isActive()); // off until shown
  }

  void versionText() {
    int v[4];
    TfrmLumenFold2Splash::ParseVersion("2.0.0", v);
    QCOMPARE(QList<int>({v[0], v[1], v[2], v[3]}), QList<int>({2, 0, 0, 0}));
    TfrmLumenFold2Splash::ParseVersion("3.1.4.15", v);
    QCOMPARE(QList<int>({v[0], v[1], v[2], v[3]}), QList<int>({3, 1, 4, 15}));
    const QString text = TfrmLumenFold2Splash::VersionText();
    QVERIFY(text.startsWith("Version: " LUMENFOLD_VERSION));
    QVERIFY(text.contains(".\r\nSpecial build: " LUMENFOLD_SPECIAL_BUILD "."));
    TfrmLumenFold2Splash s;
    s.SetVersionText("Version: 1.2.3.4.\r\nSpecial build: x.");
    QCOMPARE(label(&s, "lblVersion")->text(), QString("Version: 1.2.3.4.\nSpecial build: x."));
  }

  void countsDownAndClosesOnTheLastTick() {
    TfrmLumenFold2Splash s;
    QStringList seen;
    connect(
        timer(&s), &QTimer::timeout, this, [&] { seen << label(&s, "lblCount")->text(); },
        Qt::QueuedConnection);
    s.show();
    QVERIFY(timer(&s)->isActive());
    QVERIFY(!s.MayClose());
    QVERIFY(label(&s, "lblCount")->isVisible());
    // Escape and the close box do nothing while counting.
    QTest::keyClick(&s, Qt::Key_Escape);
    s.close();
    QVERIFY(s.isVisible());

    timer(&s)->setInterval(1);
    QTRY_VERIFY_WITH_TIMEOUT(!s.isVisible(), 20000);
    QCOMPARE(s.TickCount(), kSplashCountdown + 1);
    QCOMPARE(label(&s, "lblCount")->text(), QString("-1"));
    QVERIFY(s.MayClose());
    QVERIFY(!timer(&s)->isActive());
    QTRY_VERIFY(seen.contains("0"));
  }

  void clickOnCountdownDoesNotCloseButOnImageDoes() {
    TfrmLumenFold2Splash s;
    s.show();
    QTest::mouseClick(label(&s, "lblCount"), Qt::LeftButton);
    QVERIFY(s.isVisible());
    QVERIFY(!s.MayClose());
    QTest::mouseClick(label(&s, "mainImage"), Qt::LeftButton, {}, QPoint(5, 150));
    QVERIFY(!s.isVisible());
    QVERIFY(!timer(&s)->isActive());
  }

  void clicksOnTheOtherLabelsClose() {
    for (const char* name : {"lblVersion", "lblCopy", "lblCount2"}) {
      TfrmLumenFold2Splash s;
      s.show();
      QTest::mouseClick(label(&s, name), Qt::LeftButton);
      QVERIFY2(!s.isVisible(), name);
    }
  }

  void aboutModeWaitsForAClick() {
    TfrmLumenFold2Splash s;
    s.SetAboutMode(true);
    s.show();
    QVERIFY(!timer(&s)->isActive());
    QVERIFY(!label(&s, "lblCount")->isVisible());
    QVERIFY(label(&s, "lblCount2")->isVisible());
    QVERIFY(s.MayClose());
    QTest::qWait(0); // let pending events run; nothing may close it
    QVERIFY(s.isVisible());
    QCOMPARE(s.TickCount(), 0);
    QTest::mouseClick(&s, Qt::LeftButton, {}, QPoint(200, 20));
    QVERIFY(!s.isVisible());
  }

  void showSplashRunsModallyUntilClicked() {
    bool sawIt = false;
    QTimer::singleShot(0, this, [&] {
      auto* s = qobject_cast<TfrmLumenFold2Splash*>(QApplication::activeModalWidget());
      if (!s) return;
      sawIt = s->AboutMode() && s->isModal() &&
              label(s, "lblVersion")->text() ==
                  TfrmLumenFold2Splash::VersionText().replace("\r\n", "\n");
      QTest::mouseClick(label(s, "mainImage"), Qt::LeftButton);
    });
    TfrmLumenFold2Splash::ShowSplash(nullptr, true);
    QVERIFY(sawIt);
  }
};

QTEST_MAIN(TestSplash)
#include "test_splash.moc"
