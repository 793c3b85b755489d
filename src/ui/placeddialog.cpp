#include "ui/placeddialog.h"

#include "ui/settingsstore.h"

TPlacedDialog::TPlacedDialog(QWidget* parent, QString formName, QSize designSize)
    : QDialog(parent), formName_(std::move(formName)), designSize_(designSize) {}

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
