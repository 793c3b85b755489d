#include "ui/mainwindow/frmsplash.h"

#include "ui/common/settingsstore.h"
#include "ui/common/uiresources.h"
#include "ui_frmsplash.h"

#include <QCloseEvent>
#include <QMouseEvent>
#include <QTimer>

#ifndef LUMENFOLD_VERSION
#define LUMENFOLD_VERSION "0.0.0"
#endif
#ifndef LUMENFOLD_SPECIAL_BUILD
#define LUMENFOLD_SPECIAL_BUILD ""
#endif

TfrmLumenFold2Splash::TfrmLumenFold2Splash(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint),
      ui(std::make_unique<Ui::frmLumenFold2Splash>()) {
  ui->setupUi(this);
  setFixedSize(400, 300);
  ui->mainImage->setPixmap(UiPixmap("MAIN_LOGO", QSize(400, 300)));
  ui->lblCount->setText(QString::number(kSplashCountdown));
  ui->lblCount2->setVisible(true);
  // The bevel only draws; clicks go to whatever lies beneath it.
  ui->bvlMain->setAttribute(Qt::WA_TransparentForMouseEvents);
  // The countdown number takes clicks without reacting to them.
  ui->lblCount->installEventFilter(this);

  mainTimer = new QTimer(this);
  mainTimer->setObjectName("mainTimer");
  mainTimer->setInterval(100);
  connect(mainTimer, &QTimer::timeout, this, &TfrmLumenFold2Splash::onTick);
}

TfrmLumenFold2Splash::~TfrmLumenFold2Splash() = default;

void TfrmLumenFold2Splash::ParseVersion(const QString& text, int numbers[4]) {
  const QStringList parts = text.split('.');
  for (int i = 0; i < 4; ++i)
    numbers[i] = i < parts.size() ? parts[i].trimmed().toInt() : 0;
}

QString TfrmLumenFold2Splash::VersionText() {
  int v[4];
  ParseVersion(QStringLiteral(LUMENFOLD_VERSION), v);
  return QString::asprintf("Version: %d.%d.%d.%d.\r\nSpecial build: %s.", v[0], v[1], v[2], v[3],
                           LUMENFOLD_SPECIAL_BUILD);
}

void TfrmLumenFold2Splash::SetVersionText(const QString& text) {
  QString shown = text;
  shown.replace("\r\n", "\n");
  ui->lblVersion->setText(shown);
}

void TfrmLumenFold2Splash::ShowSplash(QWidget* owner, bool aboutMode) {
  TfrmLumenFold2Splash splash(owner);
  splash.SetVersionText(VersionText());
  splash.SetAboutMode(aboutMode);
  splash.exec();
}

void TfrmLumenFold2Splash::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  CenterFormOnScreen(this);
  tickCount_ = 0;
  ui->lblCount->setText(QString::number(kSplashCountdown));
  ui->lblCount->setVisible(!aboutMode_);
  mayClose_ = aboutMode_;
  if (!aboutMode_) mainTimer->start();
}

void TfrmLumenFold2Splash::onTick() {
  ++tickCount_;
  ui->lblCount->setText(QString::number(kSplashCountdown - tickCount_));
  if (tickCount_ > kSplashCountdown) {
    mainTimer->stop();
    mayClose_ = true;
    close();
  }
}

void TfrmLumenFold2Splash::dismiss() {
  mayClose_ = true;
  mainTimer->stop();
  close();
}

void TfrmLumenFold2Splash::done(int result) {
  // Escape and every other way of ending the dialog obey the may-close state.
  if (!mayClose_) return;
  mainTimer->stop();
  QDialog::done(result);
}

void TfrmLumenFold2Splash::closeEvent(QCloseEvent* event) {
  if (!mayClose_) {
    event->ignore();
    return;
  }
  mainTimer->stop();
  QDialog::closeEvent(event);
}

void TfrmLumenFold2Splash::mouseReleaseEvent(QMouseEvent* event) {
  // Clicks on the window itself and on the image and labels (which pass them on) dismiss it.
  if (event->button() == Qt::LeftButton)
    dismiss();
  else
    QDialog::mouseReleaseEvent(event);
}

bool TfrmLumenFold2Splash::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->lblCount &&
      (event->type() == QEvent::MouseButtonPress || event->type() == QEvent::MouseButtonRelease ||
       event->type() == QEvent::MouseButtonDblClick))
    return true;
  return QDialog::eventFilter(watched, event);
}
