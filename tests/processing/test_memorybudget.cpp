// The memory budget of a processing run: reservations wait for room, never for results that
// only the waiting run gives back, and a picture larger than the whole budget is refused.
#include "processing/picturework.h"
#include "testenv.h"
#include "util/imaging/memorybudget.h"

#include <QtTest>
#include <thread>

class TestMemoryBudget : public QObject {
  Q_OBJECT
  TestEnv env;

private slots:
  void reservationsWaitForRoomButNotForResults() {
    TMemoryBudget budget(100);
    QVERIFY(budget.Reserve(60));
    std::thread second([&] { budget.Reserve(50); });
    QTRY_COMPARE(budget.Waiting(), 1);
    budget.Finish(60, 10); // its result keeps 10 until the run takes it
    second.join();
    QCOMPARE(budget.InUse(), 60);
    // With nothing being worked on, the results alone hold nobody back.
    budget.Finish(50, 80);
    QVERIFY(budget.Reserve(95));
    QCOMPARE(budget.InUse(), 185);
    QVERIFY(!budget.Reserve(101));
  }

  void pictureLargerThanTheBudgetIsRefused() {
    TPictureWork work;
    work.OriginalPath = env.path("large.jpg");
    QVERIFY(WriteTestJpeg(work.OriginalPath, 1000, 800));
    work.Render = true;
    work.Outputs[okLarge].Enabled = true;
    QVERIFY(PictureMemoryNeed(work) > 1000 * 800 * 4);
    TMemoryBudget small(PictureMemoryNeed(work) - 1);
    const TPictureResult refused = ProducePicture(work, {}, &small);
    QVERIFY2(refused.LoadError.contains("memory"), qPrintable(refused.LoadError));
    QVERIFY(!refused.Hash.isEmpty() && refused.Outputs[okLarge].Jpeg.isEmpty());
    TMemoryBudget enough(PictureMemoryNeed(work));
    const TPictureResult made = ProducePicture(work, {}, &enough);
    QVERIFY(made.LoadError.isEmpty() && !made.Outputs[okLarge].Jpeg.isEmpty());
    QCOMPARE(enough.InUse(), HeldBytes(made)); // until the run takes the result
  }
};

QTEST_GUILESS_MAIN(TestMemoryBudget)
#include "test_memorybudget.moc"
