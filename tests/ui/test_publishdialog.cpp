// The Publish window as a person uses it: a destination added in the window, the plan, a publish
// on a worker thread with its progress window, and the server equal to the site afterwards.
#include "core/project.h"
#include "testenv.h"
#include "ui/processing/frmpublish.h"
#include "ui/processing/keyring.h"
#include "util/programfolder.h"

#include <QDirIterator>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QProcess>
#include <QPushButton>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
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

// A keyring of the test's own: a private session bus and an unlocked keyring daemon with their
// own home, data and runtime folders; this process talks to that bus only. Missing says why not.
class PrivateKeyring {
public:
  PrivateKeyring() {
    for (const char* tool : {"dbus-daemon", "dbus-send", "gnome-keyring-daemon"})
      if (QStandardPaths::findExecutable(tool).isEmpty())
        Missing += QString(tool) + " is missing (tools/install-deps.sh) ";
    if (!Missing.isEmpty()) return;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    for (const char* var : {"HOME", "XDG_DATA_HOME", "XDG_CONFIG_HOME", "XDG_RUNTIME_DIR"}) {
      QDir().mkpath(dir_.filePath(var));
      env.insert(var, dir_.filePath(var));
    }
    QFile::setPermissions(dir_.filePath("XDG_RUNTIME_DIR"),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    bus_.setProcessEnvironment(env);
    bus_.start("dbus-daemon", {"--session", "--nofork", "--nopidfile", "--print-address=1",
                               "--address=unix:path=" + dir_.filePath("bus")});
    while (!bus_.canReadLine())
      if (!bus_.waitForReadyRead(10000)) {
        Error = "the private session bus did not start";
        return;
      }
    env.insert("DBUS_SESSION_BUS_ADDRESS", QString::fromUtf8(bus_.readLine()).trimmed());
    // --unlock makes the login keyring, the default one, with the password on standard input.
    keyring_.setProcessEnvironment(env);
    keyring_.start("gnome-keyring-daemon", {"--foreground", "--unlock", "--components=secrets"});
    keyring_.waitForStarted(10000);
    keyring_.write("test-keyring");
    keyring_.waitForBytesWritten(5000); // no event loop runs here to send it later
    keyring_.closeWriteChannel();
    // Asked only once the daemon has the name: a call before would have the bus start another.
    auto ask = [&env](const QString& dest, const QString& path, const QString& method,
                      const QString& arg) {
      QProcess send;
      send.setProcessEnvironment(env);
      send.start("dbus-send", {"--session", "--print-reply", "--dest=" + dest, path, method, arg});
      send.waitForFinished(5000);
      return send.readAll();
    };
    const auto owned = [&] {
      return ask("org.freedesktop.DBus", "/org/freedesktop/DBus",
                 "org.freedesktop.DBus.NameHasOwner", "string:org.freedesktop.secrets")
          .contains("true");
    };
    const auto unlocked = [&] {
      return ask("org.freedesktop.secrets", "/org/freedesktop/secrets",
                 "org.freedesktop.Secret.Service.ReadAlias", "string:default")
          .contains("/collection/");
    };
    for (int i = 0; !(owned() && unlocked()); ++i) {
      if (i == 100) {
        Error = "the keyring daemon made no default keyring: " + keyring_.readAllStandardError();
        return;
      }
      QThread::msleep(100);
    }
    qputenv("DBUS_SESSION_BUS_ADDRESS", env.value("DBUS_SESSION_BUS_ADDRESS").toUtf8());
  }
  ~PrivateKeyring() {
    for (QProcess* p : {&keyring_, &bus_}) {
      p->terminate();
      if (!p->waitForFinished(5000)) p->kill();
    }
  }
  QString Missing, Error;

private:
  QTemporaryDir dir_;
  QProcess bus_, keyring_;
};

} // namespace

class TestPublishDialog : public QObject {
  Q_OBJECT
private slots:
  // Before any keyring call: the session bus is looked up once per process.
  void initTestCase() { keyring_ = std::make_unique<PrivateKeyring>(); }
  void cleanupTestCase() { keyring_.reset(); }
  void addedDestinationIsPublishedToAfterTheQuestion();
  void typedPasswordGoesToTheKeyringOrIsSaidToStayForTheSession();

private:
  std::unique_ptr<PrivateKeyring> keyring_;
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
  QVERIFY2(keyring_->Error.isEmpty(), qPrintable(keyring_->Error));
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
  QVERIFY2(said->text().contains(keyring_->Missing.isEmpty() ? "kept in the desktop's keyring"
                                                             : "until LumenFold closes"),
           qPrintable(said->text()));
  QVERIFY(project.SaveToFile());
  QDirIterator it(env.path(""), QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
  while (it.hasNext()) {
    const QString file = it.next();
    QVERIFY2(!ReadTestFile(file).contains("pw-Zebra-17"), qPrintable(file));
  }
  if (!keyring_->Missing.isEmpty()) QSKIP(qPrintable(keyring_->Missing));

  // The keyring gives it back to anyone asking later (not this window's own copy) ...
  const TKeyringAnswer found = KeyringRead(project.PublishId, "ftp");
  QVERIFY2(found.Ok, qPrintable(found.Error));
  QCOMPARE(found.Password, QString("pw-Zebra-17"));
  // ... until the destination is removed in another window.
  TfrmPublish later(&project);
  later.show();
  QTimer answer;
  connect(&answer, &QTimer::timeout, [] {
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget()))
      box->button(QMessageBox::Yes)->click();
  });
  answer.start(20);
  later.findChild<QListWidget*>("lstDestinations")->setCurrentRow(0);
  later.findChild<QPushButton*>("btnRemove")->click();
  QVERIFY(project.Destinations.isEmpty());
  const TKeyringAnswer gone = KeyringRead(project.PublishId, "ftp");
  QVERIFY2(!gone.Ok && !gone.Unavailable, qPrintable(gone.Error));
}

QTEST_MAIN(TestPublishDialog)
#include "test_publishdialog.moc"
