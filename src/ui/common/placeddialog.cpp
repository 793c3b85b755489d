#include "ui/common/placeddialog.h"

#include "ui/common/settingsstore.h"
#include "util/helptopics.h"

#include <QKeyEvent>

TPlacedDialog::TPlacedDialog(QWidget* parent, QString formName, QSize designSize)
    : QDialog(parent), formName_(std::move(formName)), designSize_(designSize),
      helpTopic_(HelpTopicForForm(formName_)) {}

void TPlacedDialog::ShowHelp() {
  ShowHelpTopic(helpTopic_ ? helpTopic_ : int(kHelpContents));
}

void TPlacedDialog::keyPressEvent(QKeyEvent* event) {
  if (helpTopic_ && event->matches(QKeySequence::HelpContents)) {
    ShowHelp();
    event->accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TPlacedDialog::showEvent(QShowEvent* event) {
  if (!shown_) {
    shown_ = true;
    RestoreDialogPlacement(this, formName_, designSize_);
    FirstShow();
  }
  QDialog::showEvent(event);
}

void TPlacedDialog::done(int result) {
  SaveFormPlacement(this, FormSettingsKey(formName_));
  QDialog::done(result);
}
