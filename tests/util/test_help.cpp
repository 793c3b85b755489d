// The help pages: every topic names an existing page and place, every link and picture of every
// page resolves, and ShowHelpTopic hands the browser the right file or reports what is missing.
#include "testenv.h"
#include "util/helptopics.h"
#include "util/programfolder.h"

#include <QDesktopServices>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QRegularExpression>
#include <QSet>
#include <QUrl>
#include <QtTest>

namespace {

QString readText(const QString& path) {
  return QString::fromUtf8(ReadTestFile(path));
}

// The ids of a page's elements (the places a "#name" link may point at).
QSet<QString> idsOf(const QString& html) {
  QSet<QString> ids;
  static const QRegularExpression re(QStringLiteral("\\sid=\"([^\"]+)\""));
  for (auto it = re.globalMatch(html); it.hasNext();)
    ids.insert(it.next().captured(1));
  return ids;
}

} // namespace

// Stands in for the desktop's browser.
class UrlCatcher : public QObject {
  Q_OBJECT
public:
  QList<QUrl> urls;
public slots:
  void open(const QUrl& url) { urls << url; }
};

class TestHelp : public QObject {
  Q_OBJECT
  TestEnv env;
  UrlCatcher catcher;

private slots:
  void initTestCase() {
    QVERIFY2(QFileInfo(HelpFolder() + "index.html").isFile(), qPrintable(HelpFolder()));
    QDesktopServices::setUrlHandler("file", &catcher, "open");
  }
  void cleanupTestCase() { QDesktopServices::unsetUrlHandler("file"); }

  void everyTopicNamesAnExistingPlace() {
    QCOMPARE(HelpTopicPage(kHelpContents), QString("index.html"));
    QSet<int> seen;
    for (const THelpTopicEntry& e : HelpTopics()) {
      QVERIFY2(!seen.contains(e.topic), qPrintable(QString::number(e.topic)));
      seen.insert(e.topic);
      const QString page = QString::fromLatin1(e.page);
      const QString file = page.section('#', 0, 0);
      const QString place = page.section('#', 1);
      QVERIFY2(QFileInfo(HelpFolder() + file).isFile(), qPrintable(page));
      if (!place.isEmpty())
        QVERIFY2(idsOf(readText(HelpFolder() + file)).contains(place), qPrintable(page));
    }
    QVERIFY(HelpTopicPage(1).isEmpty());
  }

  void everyLinkAndPictureResolves() {
    const QDir dir(HelpFolder());
    const QStringList pages = dir.entryList({"*.html"}, QDir::Files);
    QVERIFY(pages.size() >= 10);
    static const QRegularExpression link(QStringLiteral("\\s(href|src)=\"([^\"]*)\""));
    int checked = 0;
    for (const QString& page : pages) {
      const QString html = readText(dir.filePath(page));
      QVERIFY2(html.contains("<title>"), qPrintable(page));
      for (auto it = link.globalMatch(html); it.hasNext();) {
        const QString target = it.next().captured(2);
        const QString where = page + ": " + target;
        QVERIFY2(!target.isEmpty(), qPrintable(where));
        const QUrl url(target);
        // Pages reach only what ships with them: no web addresses, no absolute paths.
        QVERIFY2(url.isRelative() && !target.startsWith('/'), qPrintable(where));
        const QString file = url.path().isEmpty() ? page : url.path();
        const QString path = dir.filePath(file);
        QVERIFY2(QFileInfo(path).isFile(), qPrintable(where));
        QVERIFY2(QDir::cleanPath(path).startsWith(QDir::cleanPath(dir.path()) + '/'),
                 qPrintable(where));
        if (url.hasFragment())
          QVERIFY2(idsOf(readText(path)).contains(url.fragment()), qPrintable(where));
        if (file.endsWith(".png")) {
          QImageReader reader(path);
          QVERIFY2(reader.canRead() && reader.size().width() > 0, qPrintable(where));
        }
        ++checked;
      }
    }
    QVERIFY(checked > 100);
  }

  void showHelpTopicOpensThePage() {
    RecordingPrompt prompt;
    catcher.urls.clear();
    QVERIFY(ShowHelpTopic(kHelpContents));
    QVERIFY(ShowHelpTopic(kHelpPictureDetail));
    QVERIFY(ShowHelpTopic(99999)); // unknown: the contents
    QCOMPARE(catcher.urls.size(), 3);
    QCOMPARE(catcher.urls[0],
             QUrl::fromLocalFile(QFileInfo(HelpFolder() + "index.html").absoluteFilePath()));
    QCOMPARE(catcher.urls[1].fileName(), QString("pictures.html"));
    QCOMPARE(catcher.urls[1].fragment(), QString("picture-details"));
    QVERIFY(QFileInfo(catcher.urls[1].toLocalFile()).isFile());
    QCOMPARE(catcher.urls[2], catcher.urls[0]);
    QVERIFY(prompt.errors().isEmpty());
  }

  void missingPagesAreReported() {
    RecordingPrompt prompt;
    catcher.urls.clear();
    const QString saved = ProgramFolder();
    SetProgramFolder(env.makeFolder("nohelp"));
    {
      QFile db(env.path("nohelp/template.db"));
      QVERIFY(db.open(QIODevice::WriteOnly));
    }
    const bool shown = ShowHelpTopic(kHelpContents);
    SetProgramFolder(saved);
    QVERIFY(!shown);
    QVERIFY(catcher.urls.isEmpty());
    QCOMPARE(prompt.errors().size(), 1);
    QVERIFY(prompt.errors().first().contains(
        QDir::toNativeSeparators(env.path("nohelp/help/index.html"))));
  }
};

QTEST_MAIN(TestHelp)
#include "test_help.moc"
