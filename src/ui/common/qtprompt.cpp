#include "ui/common/qtprompt.h"

#include <QApplication>
#include <QMessageBox>
#include <QThread>

QtPrompt::QtPrompt(QObject* parent) : QObject(parent) {}

QtPrompt::~QtPrompt() {
  if (installed_ && Prompt() == this) SetPrompt(previous_);
}

void QtPrompt::install() {
  previous_ = SetPrompt(this);
  installed_ = true;
}

void QtPrompt::error(const QString& text) {
  show(Kind::Error, text);
}
void QtPrompt::warning(const QString& text) {
  show(Kind::Warning, text);
}
bool QtPrompt::confirm(const QString& text) {
  return show(Kind::Confirm, text);
}

bool QtPrompt::show(Kind kind, const QString& text) {
  if (QThread::currentThread() == thread()) return showHere(kind, text);
  bool answer = false;
  QMetaObject::invokeMethod(
      this, [this, kind, text] { return showHere(kind, text); }, Qt::BlockingQueuedConnection,
      &answer);
  return answer;
}

bool QtPrompt::showHere(Kind kind, const QString& text) {
  QWidget* owner = QApplication::activeModalWidget();
  if (!owner) owner = QApplication::activeWindow();
  // Texts of the model use CR LF line breaks.
  QString shown = text;
  shown.replace("\r\n", "\n");
  switch (kind) {
  case Kind::Error:
    QMessageBox::critical(owner, tr("Error"), shown, QMessageBox::Ok);
    return true;
  case Kind::Warning:
    QMessageBox::warning(owner, tr("Warning"), shown, QMessageBox::Ok);
    return true;
  case Kind::Confirm:
    // Every question asks before something is deleted or lost: Enter must not say Yes.
    return QMessageBox::question(owner, tr("Confirm"), shown, QMessageBox::Yes | QMessageBox::No,
                                 QMessageBox::No) == QMessageBox::Yes;
  }
  return false;
}
