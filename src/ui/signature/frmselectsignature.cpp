#include "ui/signature/frmselectsignature.h"

#include "core/picture.h"
#include "core/project.h"
#include "ui/signature/frmsignatures.h"
#include "ui_frmselectsignature.h"

#include <QPainter>

const char* const TfrmSelectSignature::kKeepEachText = "<keep each picture's signature>";

namespace {
int choice(const QListWidget* list) {
  const QListWidgetItem* item = list->currentItem();
  return item ? item->data(Qt::UserRole).toInt() : TfrmSelectSignature::kNoSignature;
}
} // namespace

TfrmSelectSignature::TfrmSelectSignature(QWidget* parent)
    : TPlacedDialog(parent, "frmSelectSignature", QSize(540, 420)),
      ui(std::make_unique<Ui::frmSelectSignature>()) {
  ui->setupUi(this);
  for (QLabel* l : {ui->imgThumbSign, ui->imgMediumSign})
    l->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  for (QVBoxLayout* layout : {ui->layThumb, ui->layMedium}) {
    layout->setStretch(1, 3);
    layout->setStretch(2, 2);
  }
  connect(ui->bbnOk, &QPushButton::clicked, this, &TfrmSelectSignature::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnSignature, &QPushButton::clicked, this, &TfrmSelectSignature::editSignatures);
  connect(ui->lbxThumbSign, &QListWidget::currentRowChanged, this,
          [this] { drawPreview(ui->lbxThumbSign, ui->imgThumbSign); });
  connect(ui->lbxMediumSign, &QListWidget::currentRowChanged, this,
          [this] { drawPreview(ui->lbxMediumSign, ui->imgMediumSign); });
}

TfrmSelectSignature::~TfrmSelectSignature() = default;

void TfrmSelectSignature::SetProject(TLumenfoldProject* project) {
  project_ = project;
}

void TfrmSelectSignature::AddPicture(TLumenfoldPicture* picture) {
  if (picture) pictures_.append(picture);
}

int TfrmSelectSignature::ThumbChoice() const {
  return choice(ui->lbxThumbSign);
}

int TfrmSelectSignature::MediumChoice() const {
  return choice(ui->lbxMediumSign);
}

void TfrmSelectSignature::FirstShow() {
  // The pictures' common signature, or "keep each" when they differ.
  int thumb = kNoSignature, medium = kNoSignature;
  for (int i = 0; i < pictures_.size(); ++i) {
    const TLumenfoldPicture* p = pictures_[i];
    if (i == 0) {
      thumb = p->ThumbSignatureId;
      medium = p->MediumSignatureId;
    } else {
      if (p->ThumbSignatureId != thumb) thumbMixed_ = true;
      if (p->MediumSignatureId != medium) mediumMixed_ = true;
    }
  }
  fillLists(thumbMixed_ ? kKeepEach : thumb, mediumMixed_ ? kKeepEach : medium);
}

void TfrmSelectSignature::fillList(QListWidget* list, int chosen, bool mixed) {
  list->blockSignals(true);
  list->clear();
  auto add = [list](const QString& text, int id) {
    auto* item = new QListWidgetItem(text);
    item->setData(Qt::UserRole, id);
    list->addItem(item);
  };
  if (mixed) add(kKeepEachText, kKeepEach);
  add("<no signature>", kNoSignature);
  int row = mixed ? 1 : 0;
  if (project_) {
    for (int i = 0; i < project_->Signatures.Count(); ++i) {
      const TLumenfoldSignature* s = project_->Signatures.Signatures(i);
      add(s->Name, s->Id);
      if (s->Id == chosen) row = list->count() - 1;
    }
  }
  if (chosen == kKeepEach && mixed) row = 0;
  list->setCurrentRow(row);
  list->blockSignals(false);
}

void TfrmSelectSignature::fillLists(int thumb, int medium) {
  fillList(ui->lbxThumbSign, thumb, thumbMixed_);
  fillList(ui->lbxMediumSign, medium, mediumMixed_);
  drawPreview(ui->lbxThumbSign, ui->imgThumbSign);
  drawPreview(ui->lbxMediumSign, ui->imgMediumSign);
}

void TfrmSelectSignature::drawPreview(QListWidget* list, QLabel* image) {
  if (!list->currentItem()) return;
  const QSize size = image->size().expandedTo(QSize(16, 16));
  QImage preview(size, QImage::Format_RGB32);
  preview.fill(palette().color(QPalette::Window));
  const int id = choice(list);
  if (project_ && id >= 0)
    if (const TLumenfoldSignature* s = project_->Signatures.FindById(id)) s->Draw(preview, nullptr);
  QPainter painter(&preview);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
  painter.end();
  image->setPixmap(QPixmap::fromImage(preview));
}

void TfrmSelectSignature::resizeEvent(QResizeEvent* event) {
  TPlacedDialog::resizeEvent(event);
  if (!isVisible()) return;
  drawPreview(ui->lbxThumbSign, ui->imgThumbSign);
  drawPreview(ui->lbxMediumSign, ui->imgMediumSign);
}

void TfrmSelectSignature::editSignatures() {
  if (!project_) return;
  const int thumb = ThumbChoice(), medium = MediumChoice();
  TfrmSignatures editor(this);
  editor.SetProject(project_);
  if (hook_) hook_(editor);
  editor.exec();
  // The choice stays; a chosen signature deleted in the editor falls back to "<no signature>".
  fillLists(thumb, medium);
}

void TfrmSelectSignature::accept() {
  const int thumb = ThumbChoice(), medium = MediumChoice();
  for (TLumenfoldPicture* p : pictures_) {
    bool changed = false;
    if (thumb != kKeepEach && p->ThumbSignatureId != thumb) {
      p->ThumbSignatureId = thumb;
      changed = true;
    }
    if (medium != kKeepEach && p->MediumSignatureId != medium) {
      p->MediumSignatureId = medium;
      changed = true;
    }
    if (changed) {
      p->SetModified(true);
      p->SetDirty(true);
    }
  }
  TPlacedDialog::accept();
}
