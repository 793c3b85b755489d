// Settings store, window placement, the message-box prompt and the program's own pictures.
#include "core/project.h"
#include "testenv.h"
#include "ui/common/filedialogs.h"
#include "ui/common/qtprompt.h"
#include "ui/mainwindow/runcommand.h"
#include "ui/common/settingsstore.h"
#include "ui/common/uiresources.h"
#include "uitesthelpers.h"
#include "util/imaging/imageerror.h"

#include <QFileInfo>
#include <QScreen>
#include <QSettings>
#include <QThread>
#include <QWidget>
#include <QtTest>
#include <atomic>

class TestFoundation : public QObject {
  Q_OBJECT
  TestEnv env;

  static QRect screen() { return QGuiApplication::primaryScreen()->availableGeometry(); }
  static void store(const QString& form, int top, int left, int width, int height,
                    bool restore = false) {
    auto s = LumenfoldSettings();
    const QString base = FormSettingsKey(form) + "/Position/";
    s->setValue(base + "Top", top);
    s->setValue(base + "Left", left);
    s->setValue(base + "Width", width);
    s->setValue(base + "Heigth", height);
    s->setValue(base + "Restore", restore);
  }

private slots:
  void initTestCase() { InitUiResources(); }

  void storeLivesUnderConfigHomeWithDocumentedKeys() {
    QVERIFY(LumenfoldSettingsFile().startsWith(env.path("config")));
    QWidget w;
    w.setGeometry(30, 40, 320, 200);
    QVERIFY(SaveFormPlacement(&w, "Software\\Kelm\\LumenFold\\2.0\\frmProgress"));
    QSettings raw(LumenfoldSettingsFile(), QSettings::IniFormat);
    QCOMPARE(raw.value("Software/Kelm/LumenFold/2.0/frmProgress/Position/Top").toInt(), 40);
    QCOMPARE(raw.value("Software/Kelm/LumenFold/2.0/frmProgress/Position/Left").toInt(), 30);
    QCOMPARE(raw.value("Software/Kelm/LumenFold/2.0/frmProgress/Position/Width").toInt(), 320);
    QCOMPARE(raw.value("Software/Kelm/LumenFold/2.0/frmProgress/Position/Heigth").toInt(), 200);
    QCOMPARE(raw.value("Software/Kelm/LumenFold/2.0/frmProgress/Position/Restore").toBool(), false);

    QWidget back;
    QVERIFY(LoadFormPlacement(&back, FormSettingsKey("frmProgress"), {-1, -1}, {10, 10}));
    QCOMPARE(back.geometry(), QRect(30, 40, 320, 200));
  }

  void emptyStoreGivesCallersDefaults() {
    QWidget main;
    QVERIFY(LoadFormPlacement(&main, FormSettingsKey("frmMainFresh"), {100, 100}, {500, 480}));
    QCOMPARE(main.geometry(), QRect(100, 100, 500, 480));
    QVERIFY(!main.windowState().testFlag(Qt::WindowMaximized));

    // A dialog with no stored position is centred with its design size.
    QWidget dialog;
    RestoreDialogPlacement(&dialog, "frmNeverStored", {399, 157});
    QCOMPARE(dialog.size(), QSize(399, 157));
    QCOMPARE(dialog.x(), screen().left() + (screen().width() - 399) / 2);
    QCOMPARE(dialog.y(), screen().top() + (screen().height() - 157) / 2);
  }

  void clampsSizesAndPositions() {
    const QRect scr = screen();
    store("frmClamp", -5, -5, 50, scr.height() + 1);
    QWidget w;
    QVERIFY(LoadFormPlacement(&w, FormSettingsKey("frmClamp"), {-1, -1}, {300, 300}));
    QCOMPARE(w.width(), scr.width());   // below 70
    QCOMPARE(w.height(), scr.height()); // above the screen
    QCOMPARE(w.x(), -5);                // -10 .. 0 stays
    QCOMPARE(w.y(), -5);

    store("frmClamp", -11, -11, scr.width() + 1, 69);
    QVERIFY(LoadFormPlacement(&w, FormSettingsKey("frmClamp"), {-1, -1}, {300, 300}));
    QCOMPARE(w.pos(), QPoint(0, 0));
    QCOMPARE(w.size(), QSize(scr.width(), scr.height()));

    store("frmClamp", -10, -10, 70, 70);
    QVERIFY(LoadFormPlacement(&w, FormSettingsKey("frmClamp"), {-1, -1}, {300, 300}));
    QCOMPARE(w.geometry(), QRect(-10, -10, 70, 70));

    const QRect desk = QGuiApplication::primaryScreen()->virtualGeometry();
    store("frmClamp", desk.y() + desk.height() + 1, desk.x() + desk.width() + 1, 100, 100);
    QVERIFY(LoadFormPlacement(&w, FormSettingsKey("frmClamp"), {-1, -1}, {300, 300}));
    QCOMPARE(w.pos(), QPoint(0, 0));
  }

  void storedTopOfMinusOneStillCentres() {
    store("frmCentre", -1, -1, 200, 100);
    QWidget w;
    RestoreDialogPlacement(&w, "frmCentre", {400, 300});
    QCOMPARE(w.size(), QSize(200, 100));
    QCOMPARE(w.y(), screen().top() + (screen().height() - 100) / 2);
  }

  void maximisedWindowKeepsItsRestoredRectangle() {
    QWidget w;
    w.setGeometry(20, 30, 300, 200);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    const QRect normal = w.geometry();
    w.showMaximized();
    QTRY_VERIFY(w.isMaximized());
    QVERIFY(SaveFormPlacement(&w, FormSettingsKey("frmMax")));
    auto s = LumenfoldSettings();
    QCOMPARE(s->value(FormSettingsKey("frmMax") + "/Position/Restore").toBool(), true);
    QCOMPARE(s->value(FormSettingsKey("frmMax") + "/Position/Width").toInt(), normal.width());

    QWidget back;
    QVERIFY(LoadFormPlacement(&back, FormSettingsKey("frmMax"), {-1, -1}, {10, 10}));
    QVERIFY(back.windowState().testFlag(Qt::WindowMaximized));
  }

  void unreadableValueLeavesWindowAlone() {
    auto s = LumenfoldSettings();
    s->setValue(FormSettingsKey("frmBad") + "/Position/Width", "wide");
    s->sync();
    QWidget w;
    w.setGeometry(1, 2, 300, 301);
    QVERIFY(!LoadFormPlacement(&w, FormSettingsKey("frmBad"), {-1, -1}, {10, 10}));
    QCOMPARE(w.geometry(), QRect(1, 2, 300, 301));
  }

  void promptShowsBoxesAndAnswersFromWorkerThreads() {
    QtPrompt prompt;
    prompt.install();
    QCOMPARE(Prompt(), static_cast<UserPrompt*>(&prompt));
    {
      TBoxAnswerer yes(QMessageBox::Yes);
      QVERIFY(prompt.confirm("Delete it?\r\nReally?"));
      QCOMPARE(yes.texts, QStringList{"Delete it?\nReally?"});
    }
    {
      TBoxAnswerer no(QMessageBox::No);
      std::atomic<int> answer{-1};
      QThread* worker =
          QThread::create([&] { answer = Prompt()->confirm("From a worker") ? 1 : 0; });
      worker->start();
      QTRY_COMPARE_WITH_TIMEOUT(answer.load(), 0, 10000);
      worker->wait();
      delete worker;
      QCOMPARE(no.texts, QStringList{"From a worker"});
    }
    {
      TBoxAnswerer ok(QMessageBox::Ok);
      std::atomic<bool> done{false};
      QThread* worker = QThread::create([&] {
        Prompt()->error("Broken");
        Prompt()->warning("Careful");
        done = true;
      });
      worker->start();
      QTRY_VERIFY_WITH_TIMEOUT(done.load(), 10000);
      worker->wait();
      delete worker;
      QCOMPARE(ok.texts, (QStringList{"Broken", "Careful"}));
      QCOMPARE(ok.titles, (QStringList{"Error", "Warning"}));
    }
  }

  void resourcesRender() {
    const QImage logo = UiImage("MAIN_LOGO");
    QCOMPARE(logo.size(), QSize(400, 300));
    QCOMPARE(QColor(logo.pixel(399, 299)), QColor(Qt::white));
    for (const char* mark :
         {"MAIN_ACTION", "MAIN_DELETE", "MAIN_PRIVATE", "MAIN_CATEGORY", "MAIN_SIGN", "MAIN_FACE"})
      QCOMPARE(UiImage(mark).size(), QSize(16, 16));
    QVERIFY(!UiIcon("open").isNull());
    QVERIFY(UiImage("NOT_THERE").isNull());
  }

  void fileFilterConversion() {
    QCOMPARE(QtFileFilter("LumenFold Projects (*.lumenfold)|*.lumenfold|All files (*.*)|*.*"),
             QString("LumenFold Projects (*.lumenfold);;All files (*)"));
    QCOMPARE(QtFileFilter(""), QString());
  }

  void runCommandShowsEachFailureOnce() {
    RecordingPrompt prompt;
    QWidget w;
    int steps = 0;
    QVERIFY(RunCommand(&w, [&] { ++steps; }));
    QCOMPARE(steps, 1);
    QVERIFY(prompt.errors().isEmpty());

    // Model errors of every kind reach the user with their own text, the rest of the command
    // does not run, and the caller learns that it failed.
    QVERIFY(!RunCommand(&w, [&] {
      throw TProjectFileError(QStringLiteral("Project file cannot be opened: ä.lumenfold"));
      ++steps;
    }));
    QVERIFY(!RunCommand(&w, [] { throw EImageError(QStringLiteral("not a JPEG file")); }));
    QVERIFY(!RunCommand(&w, [] { throw std::runtime_error("disk full"); }));
    QVERIFY(!RunCommand(&w, [] { throw 42; }));
    QCOMPARE(steps, 1);
    QCOMPARE(prompt.errors(),
             QStringList({QStringLiteral("Project file cannot be opened: ä.lumenfold"),
                          "not a JPEG file", "disk full", "Unknown error"}));
  }
};

QTEST_MAIN(TestFoundation)
#include "test_foundation.moc"
