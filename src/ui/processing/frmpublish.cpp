#include "ui/processing/frmpublish.h"

#include "core/project.h"
#include "ui/processing/keyring.h"
#include "util/helptopics.h"

#include <QCoreApplication>
#include <QDialogButtonBox>
#include <QEventLoop>
#include <QFontDatabase>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QPointer>
#include <QProgressDialog>
#include <QPushButton>
#include <QThread>
#include <QVBoxLayout>

namespace {

QLineEdit* lineEdit(QWidget* parent, const char* name, const QString& placeholder) {
  auto* edit = new QLineEdit(parent);
  edit->setObjectName(QLatin1String(name));
  edit->setPlaceholderText(placeholder);
  return edit;
}

QPushButton* button(QWidget* parent, const char* name, const QString& text) {
  auto* b = new QPushButton(text, parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  return b;
}

} // namespace

TfrmPublish::TfrmPublish(TLumenfoldProject* project, QWidget* parent)
    : TPlacedDialog(parent, QStringLiteral("frmPublish"), QSize(640, 520)), project_(project) {
  setWindowTitle(QStringLiteral("Publish"));
  SetHelpTopic(kHelpPublish);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(new QLabel(QStringLiteral("Destinations:"), this));
  lstDestinations = new QListWidget(this);
  lstDestinations->setObjectName(QStringLiteral("lstDestinations"));
  layout->addWidget(lstDestinations, 1);
  // What acts on the chosen destination sits right below the list.
  auto* row = new QHBoxLayout;
  btnRemove = button(this, "btnRemove", QStringLiteral("&Remove"));
  btnTest = button(this, "btnTest", QStringLiteral("&Test connection"));
  btnPlan = button(this, "btnPlan", QStringLiteral("Show p&lan"));
  btnPublish = button(this, "btnPublish", QStringLiteral("&Publish"));
  for (QPushButton* b : {btnTest, btnPlan, btnPublish})
    row->addWidget(b);
  row->addStretch(1);
  row->addWidget(btnRemove);
  layout->addLayout(row);

  auto* box = new QGroupBox(QStringLiteral("New destination"), this);
  auto* form = new QFormLayout(box);
  edtName = lineEdit(box, "edtName", QStringLiteral("e.g. web"));
  edtUrl = lineEdit(box, "edtUrl",
                    QStringLiteral("sftp://user@host/path, ftp://, ftps://, "
                                   "webdav(s)://, s3://, file:///, rclone:"));
  edtKeyFile = lineEdit(box, "edtKeyFile", QStringLiteral("SFTP private key file (optional)"));
  edtPasswordEnv =
      lineEdit(box, "edtPasswordEnv", QStringLiteral("environment variable (optional)"));
  edtPassword = lineEdit(box, "edtPassword", QStringLiteral("kept in the desktop's keyring"));
  edtPassword->setEchoMode(QLineEdit::Password);
  form->addRow(QStringLiteral("&Name:"), edtName);
  form->addRow(QStringLiteral("&Address:"), edtUrl);
  form->addRow(QStringLiteral("&Key file:"), edtKeyFile);
  form->addRow(QStringLiteral("Password &variable:"), edtPasswordEnv);
  form->addRow(QStringLiteral("Pass&word:"), edtPassword);
  lblKeyring = new QLabel(box);
  lblKeyring->setObjectName(QStringLiteral("lblKeyring"));
  lblKeyring->setWordWrap(true);
  lblKeyring->hide();
  form->addRow(QString(), lblKeyring);
  btnAdd = button(box, "btnAdd", QStringLiteral("&Add"));
  auto* addRow = new QHBoxLayout;
  addRow->addStretch(1);
  addRow->addWidget(btnAdd);
  form->addRow(addRow);
  layout->addWidget(box);

  layout->addWidget(new QLabel(QStringLiteral("Plan:"), this));
  txtPlan = new QPlainTextEdit(this);
  txtPlan->setObjectName(QStringLiteral("txtPlan"));
  txtPlan->setReadOnly(true);
  txtPlan->setLineWrapMode(QPlainTextEdit::NoWrap);
  txtPlan->setFont(QFontDatabase::systemFont(QFontDatabase::FixedFont));
  layout->addWidget(txtPlan, 2);
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Close | QDialogButtonBox::Help, this);
  buttons->setObjectName(QStringLiteral("bbnClose"));
  layout->addWidget(buttons);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(buttons, &QDialogButtonBox::helpRequested, this, &TfrmPublish::ShowHelp);
  connect(btnAdd, &QPushButton::clicked, this, &TfrmPublish::addDestination);
  connect(btnRemove, &QPushButton::clicked, this, &TfrmPublish::removeDestination);
  connect(btnTest, &QPushButton::clicked, this, &TfrmPublish::testConnection);
  connect(btnPlan, &QPushButton::clicked, this, [this] { plan(false); });
  connect(btnPublish, &QPushButton::clicked, this, [this] { plan(true); });
  connect(lstDestinations, &QListWidget::currentRowChanged, this, [this](int row) {
    for (QPushButton* b : {btnRemove, btnTest, btnPlan, btnPublish})
      b->setEnabled(row >= 0);
  });
  fillList();
}

TfrmPublish::~TfrmPublish() = default;

void TfrmPublish::fillList() {
  lstDestinations->clear();
  for (const TPublishDestination& d : std::as_const(project_->Destinations))
    lstDestinations->addItem(QStringLiteral("%1 \u2014 %2").arg(d.Name, d.Url));
  lstDestinations->setCurrentRow(project_->Destinations.isEmpty() ? -1 : 0);
  for (QPushButton* b : {btnRemove, btnTest, btnPlan, btnPublish})
    b->setEnabled(!project_->Destinations.isEmpty());
}

const TPublishDestination* TfrmPublish::current() const {
  const int row = lstDestinations->currentRow();
  return row >= 0 && row < project_->Destinations.size() ? &project_->Destinations[row] : nullptr;
}

bool TfrmPublish::secretsOf(const TPublishDestination& d, TPublishSecrets& secrets) {
  secrets = SecretsFromEnvironment(d, nullptr);
  if (!d.PasswordEnv.isEmpty()) return true;
  if (const auto it = sessionPasswords_.constFind(d.Name); it != sessionPasswords_.cend()) {
    secrets.Password = *it;
    return true;
  }
  const TKeyringAnswer stored = KeyringRead(project_->PublishId, d.Name);
  if (stored.Ok) {
    secrets.Password = stored.Password;
    sessionPasswords_.insert(d.Name, stored.Password);
    return true;
  }
  // A server that logs in with a key, a folder or a remote of the user's own needs no password.
  TRcloneTarget target;
  if (!ParseDestinationUrl(d, target, nullptr)) return true;
  const bool needsPassword = target.Type == QLatin1String("ftp") ||
                             target.Type == QLatin1String("webdav") ||
                             (target.Type == QLatin1String("sftp") && d.KeyFile.isEmpty() &&
                              !qEnvironmentVariableIsSet("SSH_AUTH_SOCK"));
  if (!needsPassword) return true;
  QString label = QStringLiteral("Password for \"%1\" (%2):").arg(d.Name, target.Display);
  if (stored.Unavailable)
    label += QStringLiteral("\nNo keyring service is available on this computer, so the password "
                            "is kept only until LumenFold closes.");
  bool ok = false;
  const QString typed = QInputDialog::getText(this, QStringLiteral("Publish"), label,
                                              QLineEdit::Password, QString(), &ok);
  if (!ok) return false;
  secrets.Password = typed;
  rememberPassword(d.Name, typed);
  return true;
}

void TfrmPublish::rememberPassword(const QString& name, const QString& password) {
  sessionPasswords_.insert(name, password);
  const TKeyringAnswer stored = KeyringStore(project_->PublishId, name, password);
  if (stored.Ok)
    lblKeyring->setText(
        QStringLiteral("The password of \"%1\" is kept in the desktop's keyring.").arg(name));
  else if (stored.Unavailable)
    lblKeyring->setText(QStringLiteral("No keyring service is available on this computer: the "
                                       "password of \"%1\" is kept only until LumenFold closes "
                                       "and asked for again next time.")
                            .arg(name));
  else
    lblKeyring->setText(QStringLiteral("The keyring did not take the password of \"%1\" (%2): "
                                       "it is kept only until LumenFold closes.")
                            .arg(name, stored.Error));
  lblKeyring->show();
}

void TfrmPublish::addDestination() {
  TPublishDestination d;
  d.Name = edtName->text().trimmed();
  d.Url = edtUrl->text().trimmed();
  d.KeyFile = edtKeyFile->text().trimmed();
  d.PasswordEnv = edtPasswordEnv->text().trimmed();
  if (const QString problem = AddDestination(*project_, d); !problem.isEmpty()) {
    QMessageBox::warning(this, QStringLiteral("Publish"), problem);
    return;
  }
  if (!edtPassword->text().isEmpty()) rememberPassword(d.Name, edtPassword->text());
  for (QLineEdit* e : {edtName, edtUrl, edtKeyFile, edtPasswordEnv, edtPassword})
    e->clear();
  fillList();
  lstDestinations->setCurrentRow(int(project_->Destinations.size()) - 1);
}

void TfrmPublish::removeDestination() {
  const TPublishDestination* d = current();
  if (!d) return;
  const QString name = d->Name;
  if (QMessageBox::question(this, QStringLiteral("Publish"),
                            QStringLiteral("Remove the destination \"%1\"? Nothing on its server "
                                           "is touched.")
                                .arg(name)) != QMessageBox::Yes)
    return;
  RemoveDestination(*project_, name);
  sessionPasswords_.remove(name);
  KeyringForget(project_->PublishId, name);
  fillList();
}

void TfrmPublish::runInWorker(TPublisher& publisher, const QString& title,
                              const std::function<void(const TPublishProgressFn&)>& work) {
  QProgressDialog progress(title, QStringLiteral("Cancel"), 0, 1000, this);
  progress.setObjectName(QStringLiteral("dlgPublishProgress"));
  progress.setWindowModality(Qt::WindowModal);
  progress.setMinimumDuration(0);
  progress.setAutoClose(false);
  progress.setAutoReset(false);
  connect(&progress, &QProgressDialog::canceled, this, [&publisher] { publisher.Cancel(); });
  QPointer<QProgressDialog> shown(&progress);
  const TPublishProgressFn report = [shown](const TPublishProgress& p) {
    QMetaObject::invokeMethod(shown.data(), [shown, p] {
      if (!shown) return;
      shown->setValue(qBound(0, int(PublishProgressShare(p) * 1000), 999));
      shown->setLabelText(p.Stage + QLatin1Char('\n') + PublishProgressText(p));
    });
  };
  QEventLoop loop;
  QThread* thread = QThread::create([&] { work(report); });
  connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
  thread->start();
  loop.exec(); // the window keeps dispatching events; Cancel stops the engine
  thread->wait();
  delete thread;
  QCoreApplication::sendPostedEvents();
}

void TfrmPublish::testConnection() {
  const TPublishDestination* d = current();
  if (!d) return;
  TPublishSecrets secrets;
  if (!secretsOf(*d, secrets)) return;
  TPublisher publisher(*project_, *d, secrets);
  QString error;
  runInWorker(publisher, QStringLiteral("Connecting to %1...").arg(d->Name),
              [&](const TPublishProgressFn&) { error = publisher.TestConnection(); });
  if (error.isEmpty())
    QMessageBox::information(this, QStringLiteral("Publish"),
                             QStringLiteral("The server of \"%1\" answered.").arg(d->Name));
  else
    QMessageBox::warning(this, QStringLiteral("Publish"), error);
}

void TfrmPublish::plan(bool publish) {
  const TPublishDestination* d = current();
  if (!d) return;
  const TPublishDestination destination = *d;
  TPublishSecrets secrets;
  if (!secretsOf(destination, secrets)) return;
  TPublisher publisher(*project_, destination, secrets);
  bool prepared = false;
  runInWorker(publisher, QStringLiteral("Comparing the site with %1...").arg(destination.Name),
              [&](const TPublishProgressFn& report) { prepared = publisher.Prepare(report); });
  if (!prepared) {
    lastError_ = publisher.Error();
    txtPlan->setPlainText(lastError_);
    QMessageBox::warning(this, QStringLiteral("Publish"), lastError_);
    return;
  }
  const TPublishPlan& p = publisher.Plan();
  QStringList lines;
  lines << QStringLiteral("%1 to upload, %2 to replace, %3 to remove, %4 unchanged; %5 to send.")
               .arg(p.Uploads)
               .arg(p.Replaces)
               .arg(p.Removes)
               .arg(p.Unchanged)
               .arg(PublishSizeText(p.Bytes));
  if (p.Resuming) lines << QStringLiteral("An earlier publish did not finish; this one goes on.");
  // Action and size in columns of their own, so that the paths line up.
  for (const TPublishStep& s : p.Steps)
    lines << QStringLiteral("%1 %2  %3")
                 .arg(PublishActionName(s.Action), -8)
                 .arg(PublishSizeText(s.Bytes), 10)
                 .arg(s.Path);
  txtPlan->setPlainText(lines.join(QLatin1Char('\n')));
  if (!publish) return;
  if (!p.Empty() &&
      QMessageBox::question(this, QStringLiteral("Publish"),
                            lines.first() + QStringLiteral("\n\nPublish now?")) != QMessageBox::Yes)
    return;
  TPublishOutcome outcome;
  runInWorker(publisher, QStringLiteral("Publishing to %1...").arg(destination.Name),
              [&](const TPublishProgressFn& report) { outcome = publisher.Run(report); });
  lastError_ = outcome.Done ? QString() : outcome.Error;
  if (!outcome.Done) {
    QMessageBox::warning(this, QStringLiteral("Publish"), outcome.Error);
    return;
  }
  QString text = QStringLiteral("The site is published to \"%1\": %2 files sent, %3 removed.")
                     .arg(destination.Name)
                     .arg(outcome.Sent)
                     .arg(outcome.Removed);
  if (!outcome.Skipped.isEmpty())
    text += QStringLiteral("\n%1 old files could not be removed; the next publish tries again.")
                .arg(outcome.Skipped.size());
  QMessageBox::information(this, QStringLiteral("Publish"), text);
}
