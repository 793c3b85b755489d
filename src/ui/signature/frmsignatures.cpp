#include "ui/signature/frmsignatures.h"

#include "core/project.h"
#include "ui/signature/frmsignatureitems.h"
#include "ui/common/waitcursor.h"
#include "ui_frmsignatures.h"

#include <QPainter>
#include <QSet>

TfrmSignatures::TfrmSignatures(QWidget* parent)
    : TWorkingCopyDialog(parent, "frmSignatures", QSize(640, 480)),
      ui(std::make_unique<Ui::frmSignatures>()) {
  ui->setupUi(this);
  ui->pbxPreview->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  ui->layTop->setStretch(0, 1);
  ui->layTop->setStretch(1, 3);
  ui->layRight->setStretch(0, 3);
  ui->layRight->setStretch(3, 2);
  ui->cmbLocation->addItems(SignatureLocationLabels());
  connect(ui->bbnOk, &QPushButton::clicked, this, &TfrmSignatures::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnAdd, &QPushButton::clicked, this, &TfrmSignatures::add);
  connect(ui->bbnDelete, &QPushButton::clicked, this, &TfrmSignatures::remove);
  connect(ui->bbnSelect, &QPushButton::clicked, this, &TfrmSignatures::place);
  connect(ui->bbnUp, &QPushButton::clicked, this, [this] { movePlacement(-1); });
  connect(ui->bbnDown, &QPushButton::clicked, this, [this] { movePlacement(1); });
  connect(ui->bbnDeleteItem, &QPushButton::clicked, this, &TfrmSignatures::removePlacement);
  connect(ui->bbnSignatureItems, &QPushButton::clicked, this, &TfrmSignatures::editItems);
  connect(ui->lbxSignatures, &QListWidget::currentRowChanged, this, &TfrmSignatures::showSignature);
  connect(ui->lbxSelected, &QListWidget::currentRowChanged, this, &TfrmSignatures::showPlacement);
  connect(ui->lbxAllItems, &QListWidget::currentRowChanged, this,
          &TfrmSignatures::applyEnableRules);
  connect(ui->edtName, &QLineEdit::textChanged, this, &TfrmSignatures::writeName);
  connect(ui->cmbLocation, &QComboBox::currentIndexChanged, this, &TfrmSignatures::writePlacement);
  connect(ui->edtOffsetX, &QSpinBox::valueChanged, this, &TfrmSignatures::writePlacement);
  connect(ui->edtOffsetY, &QSpinBox::valueChanged, this, &TfrmSignatures::writePlacement);
}

TfrmSignatures::~TfrmSignatures() = default;

void TfrmSignatures::SetProject(TLumenfoldProject* project) {
  project_ = project;
  if (!project_) return;
  Copy().Assign(project_->Signatures);
  Copy().LinkItems(&project_->SignatureItems);
}

void TfrmSignatures::FirstShow() {
  {
    TLoadingGuard guard(*this);
    ui->lbxSignatures->clear();
    for (int i = 0; i < Copy().Count(); ++i)
      ui->lbxSignatures->addItem(Copy().Signatures(i)->Name);
    if (Copy().Count() > 0) ui->lbxSignatures->setCurrentRow(0);
  }
  refresh();
}

TLumenfoldSignature* TfrmSignatures::current() const {
  const int row = ui->lbxSignatures->currentRow();
  return row >= 0 && row < Copy().Count() ? Copy().Signatures(row) : nullptr;
}

TLumenfoldSignatureMap* TfrmSignatures::currentMap() const {
  const TLumenfoldSignature* s = current();
  const int row = ui->lbxSelected->currentRow();
  return s && row >= 0 && row < s->Maps.Count() ? s->Maps.Maps(row) : nullptr;
}

TLumenfoldSignatureItem* TfrmSignatures::currentItem() const {
  const int row = ui->lbxAllItems->currentRow();
  if (!project_ || row < 0 || row >= project_->SignatureItems.Count()) return nullptr;
  return project_->SignatureItems.Items(row);
}

void TfrmSignatures::refresh() {
  Copy().RefreshNames();
  for (int i = 0; i < Copy().Count(); ++i)
    Copy().Signatures(i)->Maps.RefreshCaptions();
  {
    TLoadingGuard guard(*this);
    ui->lbxAllItems->clear();
    if (project_)
      for (int i = 0; i < project_->SignatureItems.Count(); ++i)
        ui->lbxAllItems->addItem(project_->SignatureItems.Items(i)->Name);
    if (ui->lbxAllItems->count() > 0) ui->lbxAllItems->setCurrentRow(0);
  }
  showSignature();
}

void TfrmSignatures::showSignature() {
  if (Loading()) return;
  TLumenfoldSignature* s = current();
  {
    TLoadingGuard guard(*this);
    ui->edtName->setText(s ? s->Name : QString());
    if (ui->lbxAllItems->count() > 0) ui->lbxAllItems->setCurrentRow(0);
    ui->lbxSelected->clear();
    if (s) {
      for (int i = 0; i < s->Maps.Count(); ++i)
        ui->lbxSelected->addItem(s->Maps.Strings(i));
      if (s->Maps.Count() > 0) ui->lbxSelected->setCurrentRow(0);
    }
  }
  showPlacement();
}

void TfrmSignatures::showPlacement() {
  if (Loading()) return;
  const TLumenfoldSignatureMap* map = currentMap();
  {
    TLoadingGuard guard(*this);
    ui->cmbLocation->setCurrentIndex(map ? map->Location : -1);
    ui->edtOffsetX->setValue(map ? map->Offset.x() : 0);
    ui->edtOffsetY->setValue(map ? map->Offset.y() : 0);
  }
  applyEnableRules();
  drawPreview();
}

void TfrmSignatures::writePlacement() {
  TLumenfoldSignatureMap* map = currentMap();
  if (Loading() || !map) return;
  if (ui->cmbLocation->currentIndex() >= 0) map->Location = ui->cmbLocation->currentIndex();
  map->Offset = QPoint(ui->edtOffsetX->value(), ui->edtOffsetY->value());
  drawPreview();
}

void TfrmSignatures::writeName() {
  TLumenfoldSignature* s = current();
  if (Loading() || !s) return;
  s->Name = ui->edtName->text();
  Copy().SetString(ui->lbxSignatures->currentRow(), s->Name);
  ui->lbxSignatures->currentItem()->setText(s->Name);
}

void TfrmSignatures::add() {
  auto* s = new TLumenfoldSignature(QStringLiteral("<Signature>"),
                                    project_ ? &project_->SignatureItems : nullptr);
  Copy().Add(s->Name, s);
  {
    TLoadingGuard guard(*this);
    ui->lbxSignatures->addItem(s->Name);
  }
  ui->lbxSignatures->setCurrentRow(Copy().Count() - 1);
  showSignature();
}

void TfrmSignatures::remove() {
  const int row = ui->lbxSignatures->currentRow();
  if (!current()) return;
  {
    TLoadingGuard guard(*this);
    Copy().Delete(row);
    delete ui->lbxSignatures->takeItem(row);
    ui->lbxSignatures->setCurrentRow(Copy().Count() > 0 ? 0 : -1);
  }
  showSignature();
}

void TfrmSignatures::place() {
  TLumenfoldSignature* s = current();
  TLumenfoldSignatureItem* item = currentItem();
  if (!s || !item) return;
  auto* map = new TLumenfoldSignatureMap(s->Id, item->Id, s->Maps.Count(), item);
  const int keep = ui->lbxSelected->currentRow();
  s->Maps.Add(item->Name, map);
  {
    TLoadingGuard guard(*this);
    ui->lbxSelected->addItem(item->Name);
    ui->lbxSelected->setCurrentRow(keep >= 0 ? keep : 0);
  }
  showPlacement();
}

void TfrmSignatures::movePlacement(int step) {
  TLumenfoldSignature* s = current();
  const int row = ui->lbxSelected->currentRow();
  const int other = row + step;
  if (!s || !currentMap() || other < 0 || other >= s->Maps.Count()) return;
  s->Maps.Move(row, other);
  s->Maps.Maps(row)->Order = row;
  s->Maps.Maps(other)->Order = other;
  {
    TLoadingGuard guard(*this);
    QListWidgetItem* entry = ui->lbxSelected->takeItem(row);
    ui->lbxSelected->insertItem(other, entry);
    ui->lbxSelected->setCurrentRow(other);
  }
  showPlacement();
}

void TfrmSignatures::removePlacement() {
  TLumenfoldSignature* s = current();
  const int row = ui->lbxSelected->currentRow();
  if (!s || row < 0 || row >= s->Maps.Count()) return;
  {
    TLoadingGuard guard(*this);
    s->Maps.Delete(row);
    delete ui->lbxSelected->takeItem(row);
    ui->lbxSelected->setCurrentRow(s->Maps.Count() > 0 ? 0 : -1);
  }
  showPlacement();
}

void TfrmSignatures::editItems() {
  if (!project_) return;
  QSet<int> before;
  for (int i = 0; i < project_->SignatureItems.Count(); ++i)
    before.insert(project_->SignatureItems.Items(i)->Id);
  TfrmSignatureItems editor(this);
  editor.SetProject(project_);
  if (hook_) hook_(editor);
  if (editor.exec() != QDialog::Accepted) return;
  // The item editor may have freed items that placements of this working copy (added here and
  // not saved yet) refer to: link again, and drop the placements of items deleted there.
  Copy().LinkItems(&project_->SignatureItems);
  for (int i = 0; i < Copy().Count(); ++i) {
    TLumenfoldSignatureMapList& maps = Copy().Signatures(i)->Maps;
    for (int m = maps.Count() - 1; m >= 0; --m)
      if (!maps.Maps(m)->Item && before.contains(maps.Maps(m)->ItemId)) maps.Delete(m);
  }
  refresh();
}

void TfrmSignatures::applyEnableRules() {
  const bool selected = current() != nullptr;
  ui->bbnAdd->setEnabled(project_ && project_->SignatureItems.Count() > 0);
  ui->bbnDelete->setEnabled(selected);
  ui->edtName->setEnabled(selected);
  ui->lbxAllItems->setEnabled(selected);
  ui->lbxSelected->setEnabled(selected);
  ui->bbnSelect->setEnabled(selected && ui->lbxAllItems->currentRow() >= 0 && currentItem());
  const int row = ui->lbxSelected->currentRow();
  const bool placement = selected && row >= 0;
  ui->bbnDeleteItem->setEnabled(placement);
  ui->cmbLocation->setEnabled(placement);
  ui->edtOffsetX->setEnabled(placement);
  ui->edtOffsetY->setEnabled(placement);
  ui->bbnUp->setEnabled(placement && row > 0);
  ui->bbnDown->setEnabled(placement && row + 1 < ui->lbxSelected->count());
}

void TfrmSignatures::drawPreview() {
  const QSize size = ui->pbxPreview->size().expandedTo(QSize(16, 16));
  preview_ = QImage(size, QImage::Format_RGB32);
  preview_.fill(palette().color(QPalette::Window));
  if (const TLumenfoldSignature* s = current()) s->Draw(preview_, nullptr);
  QPainter painter(&preview_);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
  painter.end();
  ui->pbxPreview->setPixmap(QPixmap::fromImage(preview_));
}

void TfrmSignatures::resizeEvent(QResizeEvent* event) {
  TWorkingCopyDialog::resizeEvent(event);
  if (isVisible()) drawPreview();
}

void TfrmSignatures::accept() {
  if (project_) {
    TWaitCursor wait;
    ApplySignatureEdits(project_->Signatures, Copy(), &project_->SignatureItems);
  }
  TWorkingCopyDialog::accept();
}
