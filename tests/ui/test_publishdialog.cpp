// The Publish window as a person uses it: a destination added in the window, the plan, a publish
// on a worker thread with its progress window, and the server equal to the site afterwards.
#include "core/project.h"
#include "testenv.h"
#include "ui/processing/frmpublish.h"
#include "util/programfolder.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QTimer>
#include <QtTest>

namespace {

int cli(const QStringList& args) {
  QProcess p;
  p.start(ProgramFolder() + "lumenfold-cli", args);
  p.waitForFinished(120000);
  return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
}

QMap<QString, QByteArray> files(const QString& root) {
  QMap<QString, QByteArray> map;
  QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString path = QDir(root).relativeFilePath(it.next());
    if (!path.startsWith(".lumenfold")) map.insert(path, ReadTestFile(root + "/" + path));
  }
  return map;
}

} // namespace

class TestPublishDialog : public QObject {
  Q_OBJECT
private slots:
  void addedDestinationIsPublishedToAfterTheQuestion();
  void typedPasswordGoesToTheKeyringOrIsSaidToStayForTheSession();
};

void TestPublishDialog::addedDestinationIsPublishedToAfterTheQuestion() {
  if (!QFile::exists(ProgramFolder() + "lumenfold-cli")) QSKIP("lumenfold-cli is not built");
  if (RcloneProgram().isEmpty()) QSKIP("rclone is not installed");
  TestEnv env;
  RecordingPrompt prompt;
  const QString album = env.makeFolder("photos");
  QVERIFY(WriteTestJpeg(album + "/a.jpg", 320, 240) && WriteTestJpeg(album + "/b.jpg", 240, 320));
  const QString path = env.path("p.lumenfold"), server = env.path("server");
  QCOMPARE(cli({"new", path}), 0);
  QCOMPARE(cli({"add-album", path, album, "--directory", "trip"}), 0);
  QCOMPARE(cli({"process", path, "--zip"}), 0);
  TLumenfoldProject project;
  QVERIFY(project.LoadFromFile(path));

  // Every message box is answered Yes (or OK) and remembered.
  QStringList boxes;
  QTimer answer;
  connect(&answer, &QTimer::timeout, [&] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) {
      boxes << box->text();
      QAbstractButton* yes = box->button(QMessageBox::Yes);
      (yes ? yes : box->button(QMessageBox::Ok))->click();
    }
  });
  answer.start(20);

  TfrmPublish dialog(&project);
  dialog.show();
  dialog.findChild<QLineEdit*>("edtName")->setText("web");
  dialog.findChild<QLineEdit*>("edtUrl")->setText("file://" + server);
  dialog.findChild<QPushButton*>("btnAdd")->click();
  QCOMPARE(project.Destinations.size(), 1);
  QVERIFY(project.Modified && !project.PublishId.isEmpty());

  dialog.findChild<QPushButton*>("btnPublish")->click();
  QCOMPARE(boxes.size(), 2);
  QVERIFY2(boxes[0].contains("to upload") && boxes[0].contains("Publish now?"),
           qPrintable(boxes[0]));
  QVERIFY2(boxes[1].contains("published"), qPrintable(boxes[1]));
  QVERIFY(dialog.findChild<QPlainTextEdit*>("txtPlan")->toPlainText().contains(QRegularExpression(
      "^upload +\\d+ \\w+  index\\.html$", QRegularExpression::MultilineOption)));
  QVERIFY(dialog.LastError().isEmpty());
  QVERIFY(files(server).contains("trip/ps_thumb/tn_b.jpg"));
  QCOMPARE(files(server), files(env.path(".p.site")));
}

// The password never reaches the project or the settings; the window says where it went (the
// keyring, or this session only when there is no keyring service, as on a headless machine).
void TestPublishDialog::typedPasswordGoesToTheKeyringOrIsSaidToStayForTheSession() {
  TestEnv env;
  TLumenfoldProject project;
  project.FileName = env.path("p.lumenfold");
  TfrmPublish dialog(&project);
  dialog.show();
  dialog.findChild<QLineEdit*>("edtName")->setText("ftp");
  dialog.findChild<QLineEdit*>("edtUrl")->setText("ftp://ann@127.0.0.1:9/htdocs");
  dialog.findChild<QLineEdit*>("edtPassword")->setText("pw-Zebra-17");
  dialog.findChild<QPushButton*>("btnAdd")->click();
  QCOMPARE(project.Destinations.size(), 1);
  auto* said = dialog.findChild<QLabel*>("lblKeyring");
  QVERIFY(said->isVisible());
  QVERIFY2(said->text().contains("keyring") || said->text().contains("until LumenFold closes"),
           qPrintable(said->text()));
  QVERIFY(project.SaveToFile());
  QDirIterator it(env.path(""), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString file = it.next();
    QVERIFY2(!ReadTestFile(file).contains("pw-Zebra-17"), qPrintable(file));
  }
}

QTEST_MAIN(TestPublishDialog)
#include "test_publishdialog.moc"
