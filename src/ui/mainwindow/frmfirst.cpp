#include "ui/mainwindow/frmfirst.h"

#include "ui_frmfirst.h"

TfrmFirst::TfrmFirst(QWidget* parent)
    : TPlacedDialog(parent, "frmFirst", QSize(399, 312)), ui(std::make_unique<Ui::frmFirst>()) {
  ui->setupUi(this);
  ui->rbnNew->setChecked(true);
  connect(ui->bbnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->rbnExisting, &QRadioButton::toggled, this, &TfrmFirst::applyEnableRule);
  connect(ui->rbnNew, &QRadioButton::toggled, this, &TfrmFirst::applyEnableRule);
  connect(ui->lbxExisting, &QListWidget::itemDoubleClicked, this, [this] {
    if (!ui->rbnExisting->isEnabled()) return;
    ui->rbnExisting->setChecked(true);
    ui->bbnOk->click();
  });
  applyEnableRule();
}

TfrmFirst::~TfrmFirst() = default;

void TfrmFirst::SetRecentProjects(const QStringList& projects) {
  ui->lbxExisting->clear();
  ui->lbxExisting->addItems(projects);
  const bool any = !projects.isEmpty();
  ui->rbnExisting->setEnabled(any);
  if (any) {
    ui->rbnExisting->setChecked(true);
    ui->lbxExisting->setCurrentRow(0);
  } else {
    ui->rbnNew->setChecked(true);
  }
  applyEnableRule();
}

bool TfrmFirst::NewProjectChosen() const {
  return ui->rbnNew->isChecked();
}

QString TfrmFirst::SelectedProject() const {
  if (ui->lbxExisting->count() == 0) return QString();
  const QListWidgetItem* item = ui->lbxExisting->currentItem();
  if (!item || !item->isSelected()) item = ui->lbxExisting->item(0);
  return item->text();
}

void TfrmFirst::FirstShow() {
  applyEnableRule();
}

void TfrmFirst::applyEnableRule() {
  const bool on = ui->rbnExisting->isChecked() && ui->rbnExisting->isEnabled();
  ui->lbxExisting->setEnabled(on);
  // Window colour when usable, button-face colour when not.
  QPalette pal = ui->lbxExisting->palette();
  pal.setColor(QPalette::Disabled, QPalette::Base, pal.color(QPalette::Active, QPalette::Button));
  ui->lbxExisting->setPalette(pal);
}
