// F1 in a dialog opens that dialog's own help page; a dialog without a page ignores F1.
#include "testenv.h"
#include "uitesthelpers.h"

#include "core/project.h"
#include "db/sqlaccess.h"
#include "ui/common/browserlauncher.h"
#include "ui/album/frmalbumdetail.h"
#include "ui/album/frmchangebase.h"
#include "ui/project/frmdatabase.h"
#include "ui/mainwindow/frmfirst.h"
#include "ui/album/frmnewalbum.h"
#include "ui/project/frmnewproject.h"
#include "ui/project/frmoptions.h"
#include "ui/processing/frmprocessselection.h"
#include "ui/common/placeddialog.h"
#include "ui/common/uiresources.h"
#include "util/helptopics.h"

#include <QDesktopServices>
#include <QDir>
#include <QFileInfo>
#include <QPushButton>
#include <QUrl>
#include <QtTest>
#include <functional>

// Stands in for the desktop's browser.
class UrlCatcher : public QObject {
  Q_OBJECT
public:
  QList<QUrl> urls;
public slots:
  void open(const QUrl& url) { urls << url; }
};

class TestDialogHelp : public QObject {
  Q_OBJECT
  TestEnv env;
  RecordingPrompt prompt;
  UrlCatcher browser;

  // Shows the dialog, presses F1 where the keyboard focus is, and returns the page opened
  // ("name.html" or "name.html#place"), or empty when nothing was opened.
  QString pressF1(TPlacedDialog* d) {
    browser.urls.clear();
    d->show();
    QWidget* target = d->focusWidget() ? d->focusWidget() : d;
    QTest::keyClick(target, Qt::Key_F1);
    d->reject();
    if (browser.urls.isEmpty()) return QString();
    const QUrl url = browser.urls.first();
    return url.fileName() + (url.hasFragment() ? "#" + url.fragment() : QString());
  }

private slots:
  void initTestCase() {
    InitUiResources();
    qputenv("HOME", env.makeFolder("home").toLocal8Bit());
    QDesktopServices::setUrlHandler("file", &browser, "open");
  }
  void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

  void eachDialogOpensItsOwnPage() {
    const QList<std::pair<std::function<TPlacedDialog*()>, QString>> dialogs = {
        {[] { return new TfrmFirst; }, "start.html#start-dialog"},
        {[] { return new TfrmNewProject; }, "newproject.html"},
        {[] { return new TfrmDatabase; }, "database.html"},
        {[] { return new TfrmOptions; }, "options.html"},
        {[] { return new TfrmChangeBase; }, "folders.html#change-base"},
        {[] { return new TfrmAlbumDetail; }, "albumproperties.html"},
    };
    for (const auto& [make, page] : dialogs) {
      std::unique_ptr<TPlacedDialog> d(make());
      QCOMPARE(pressF1(d.get()), page);
    }
    QVERIFY(prompt.errors().isEmpty());
  }

  void helpButtonsOfLaterDialogsHaveTheirPages() {
    // The album wizard and the processing dialogs carry a Help button.
    QCOMPARE(HelpTopicPage(HelpTopicForForm("frmWizard")), QString("addalbum.html"));
    QCOMPARE(HelpTopicPage(HelpTopicForForm("frmProcessSelection")), QString("processing.html"));
    QCOMPARE(HelpTopicForForm("frmUnknown"), 0);
  }

  void helpButtonsOpenTheDialogsPage() {
    SetCurrentConnectionString(env.newDatabase("help.sqlite"));
    TLumenfoldProject project;
    project.Reset();
    const QList<std::pair<std::function<TPlacedDialog*()>, QString>> dialogs = {
        {[&] { return new TfrmNewAlbum(nullptr, &project); }, "addalbum.html"},
        {[&] { return new TfrmProcessSelection(&project); }, "processing.html"},
    };
    for (const auto& [make, page] : dialogs) {
      std::unique_ptr<TPlacedDialog> d(make());
      d->show();
      browser.urls.clear();
      auto* help = d->findChild<QPushButton*>("bbnHelp");
      QVERIFY2(help && help->isVisible() && help->isEnabled(), qPrintable(page));
      help->click();
      // The page opens beside the dialog, which stays open.
      QCOMPARE(browser.urls.size(), 1);
      QCOMPARE(browser.urls.first().fileName(), page);
      QVERIFY(d->isVisible());
      d->reject();
    }
    QVERIFY(prompt.errors().isEmpty());
    CloseThreadConnections();
    SetCurrentConnectionString(QString());
  }

  void aDialogWithoutTopicIgnoresF1() {
    TPlacedDialog d(nullptr, "frmUnknown", QSize(200, 100));
    QCOMPARE(d.HelpTopic(), 0);
    QCOMPARE(pressF1(&d), QString());
    // Its Help button, if it had one, would still lead somewhere: the contents.
    d.ShowHelp();
    QCOMPARE(browser.urls.size(), 1);
    QCOMPARE(browser.urls.first().fileName(), QString("index.html"));
  }

  // The opener starts but no browser comes up: the user learns which file to open by hand.
  void helpThatCannotOpenNamesItsFile() {
    {
      TBrowserLauncher failing(QStringLiteral("false"));
      QVERIFY(failing.Install());
      QVERIFY(ShowHelpTopic(kHelpAddAlbum));
      QTRY_COMPARE_WITH_TIMEOUT(prompt.errors().size(), 1, 20000);
    }
    QVERIFY(
        prompt.errors().first().contains(QDir::toNativeSeparators(HelpFolder() + "addalbum.html")));
    QDesktopServices::setUrlHandler("file", &browser, "open");
  }
};

QTEST_MAIN(TestDialogHelp)
#include "test_dialoghelp.moc"
