#include "ui/picture/frmscale.h"

#include "ui_frmscale.h"

#include <QGuiApplication>
#include <QScreen>

TfrmScale::TfrmScale(QWidget* parent) : QDialog(parent), ui(std::make_unique<Ui::frmScale>()) {
  ui->setupUi(this);
  connect(ui->bbnYes, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnNo, &QPushButton::clicked, this, &QDialog::reject); // Escape answers No too
}

TfrmScale::~TfrmScale() = default;

bool TfrmScale::DontShowAgain() const {
  return ui->cbxDontShow->isChecked();
}

void TfrmScale::showEvent(QShowEvent* event) {
  if (const QScreen* screen = QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());
  QDialog::showEvent(event);
}
