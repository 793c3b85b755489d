#include "ui/signature/frmsignatureitems.h"

#include "core/project.h"
#include "ui/common/waitcursor.h"
#include "ui_frmsignatureitems.h"

#include <QColorDialog>
#include <QFileDialog>
#include <QFontDialog>
#include <QMenu>
#include <QMessageBox>
#include <QPainter>

namespace {
const QList<std::pair<const char*, const char*>> kMacros = {
    {"Previous name", "%PREVIOUS%"},
    {"Album Id", "%ALBUM_ID%"},
    {"Album date", "%ALBUM_DATE%"},
    {"Short album name", "%SHORT_ALBUM_NAME%"},
    {"Short album name 2", "%SHORT_ALBUM_NAME2%"},
    {"Long album name", "%LONG_ALBUM_NAME%"},
    {"Long album name2", "%LONG_ALBUM_NAME2%"},
    {"Picture Id", "%PICTURE_ID%"},
    {"Picture date", "%PICTURE_DATE%"},
    {"Picture title", "%PICTURE_TITLE%"},
    {"Picture title2", "%PICTURE_TITLE2%"},
    {"Original filename", "%ORIGINAL_FILENAME%"},
    {"Original hash", "%ORIGINAL_HASH%"},
    {"Original size", "%ORIGINAL_SIZE%"},
    {"Original width", "%ORIGINAL_WIDTH%"},
    {"Original height", "%ORIGINAL_HEIGHT%"},
    {"Sequential number", "%N000%"},
};

int colorValue(const QColor& c) {
  return (c.blue() << 16) | (c.green() << 8) | c.red();
}
QColor toColor(int value) {
  return QColor(value & 0xFF, (value >> 8) & 0xFF, (value >> 16) & 0xFF);
}
} // namespace

const QList<TNamedColor>& NamedColors() {
  static const QList<TNamedColor> colors = {
      {"clBlack", 0x000000}, {"clMaroon", 0x000080},  {"clGreen", 0x008000},
      {"clOlive", 0x008080}, {"clNavy", 0x800000},    {"clPurple", 0x800080},
      {"clTeal", 0x808000},  {"clGray", 0x808080},    {"clSilver", 0xC0C0C0},
      {"clRed", 0x0000FF},   {"clLime", 0x00FF00},    {"clYellow", 0x00FFFF},
      {"clBlue", 0xFF0000},  {"clFuchsia", 0xFF00FF}, {"clAqua", 0xFFFF00},
      {"clWhite", 0xFFFFFF}};
  return colors;
}

QString ColorToText(int color) {
  for (const TNamedColor& c : NamedColors())
    if (c.Value == color) return QString::fromLatin1(c.Name);
  return QString("$%1").arg(uint(color), 8, 16, QChar('0')).toUpper();
}

QString FontDescription(const QString& name, int points, int color, TFontStyles style) {
  return QString("%1; %2; %3; %4")
      .arg(name)
      .arg(points)
      .arg(ColorToText(color), FontStyleToText(style));
}

TfrmSignatureItems::TfrmSignatureItems(QWidget* parent)
    : TWorkingCopyDialog(parent, "frmSignatureItems", QSize(560, 460)),
      ui(std::make_unique<Ui::frmSignatureItems>()) {
  ui->setupUi(this);
  ui->pbxPreviewItem->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Ignored);
  ui->layTop->setStretch(0, 2);
  ui->layTop->setStretch(1, 3);
  for (const TNamedColor& c : NamedColors())
    ui->cmbTransparentItem->addItem(c.Name);
  ui->cmbTransparentItem->setCurrentIndex(-1);
  macroMenu_ = new QMenu(this);
  macroMenu_->setObjectName("pmnMacro");
  for (const auto& [caption, macro] : kMacros) {
    const QString text = QString::fromLatin1(macro);
    macroMenu_->addAction(caption, this,
                          [this, text] { ui->edtText->setText(ui->edtText->text() + text); });
  }
  connect(ui->bbnMacro, &QPushButton::clicked, this, [this] {
    macroMenu_->popup(ui->bbnMacro->mapToGlobal(ui->bbnMacro->rect().bottomLeft()));
  });
  connect(ui->edtText, &QWidget::customContextMenuRequested, this,
          [this](const QPoint& pos) { macroMenu_->popup(ui->edtText->mapToGlobal(pos)); });
  connect(ui->bbnOk, &QPushButton::clicked, this, &TfrmSignatureItems::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnAddItem, &QPushButton::clicked, this, &TfrmSignatureItems::add);
  connect(ui->bbnDeleteItem, &QPushButton::clicked, this, &TfrmSignatureItems::remove);
  connect(ui->lbxSignatureItems, &QListWidget::currentRowChanged, this,
          &TfrmSignatureItems::showItem);
  connect(ui->rbnText, &QRadioButton::clicked, this, &TfrmSignatureItems::kindStep);
  connect(ui->rbnImage, &QRadioButton::clicked, this, &TfrmSignatureItems::kindStep);
  connect(ui->edtItemName, &QLineEdit::textChanged, this, &TfrmSignatureItems::writeName);
  connect(ui->edtText, &QLineEdit::textChanged, this, &TfrmSignatureItems::writeCaption);
  connect(ui->edtImageItem, &QLineEdit::textChanged, this, &TfrmSignatureItems::writeImage);
  connect(ui->cmbTransparentItem, &QComboBox::currentIndexChanged, this,
          &TfrmSignatureItems::writeImage);
  connect(ui->bbnFontItem, &QPushButton::clicked, this, &TfrmSignatureItems::chooseFont);
  connect(ui->bbnColorItem, &QPushButton::clicked, this, &TfrmSignatureItems::chooseColor);
  connect(ui->bbnImageItem, &QPushButton::clicked, this, &TfrmSignatureItems::chooseImage);
}

TfrmSignatureItems::~TfrmSignatureItems() = default;

void TfrmSignatureItems::SetProject(TLumenfoldProject* project) {
  project_ = project;
  if (project_) Copy().Assign(project_->SignatureItems);
}

void TfrmSignatureItems::FirstShow() {
  {
    TLoadingGuard guard(*this);
    ui->lbxSignatureItems->clear();
    for (int i = 0; i < Copy().Count(); ++i)
      ui->lbxSignatureItems->addItem(Copy().Items(i)->Name);
  }
  if (Copy().Count() > 0) ui->lbxSignatureItems->setCurrentRow(0);
  ui->lbxSignatureItems->setFocus();
  showItem();
}

TLumenfoldSignatureItem* TfrmSignatureItems::current() const {
  const int row = ui->lbxSignatureItems->currentRow();
  return row >= 0 && row < Copy().Count() ? Copy().Items(row) : nullptr;
}

void TfrmSignatureItems::showFontDescription() {
  ui->edtFont->setText(FontDescription(fontName_, fontSize_, fontColor_, fontStyle_));
}

void TfrmSignatureItems::showItem() {
  if (Loading()) return;
  TLumenfoldSignatureItem* item = current();
  {
    TLoadingGuard guard(*this);
    if (!item) {
      for (QLineEdit* e : {ui->edtItemName, ui->edtText, ui->edtFont, ui->edtImageItem})
        e->clear();
      ui->cmbTransparentItem->setCurrentIndex(-1);
      ui->rbnText->setAutoExclusive(false);
      ui->rbnImage->setAutoExclusive(false);
      ui->rbnText->setChecked(false);
      ui->rbnImage->setChecked(false);
      ui->rbnText->setAutoExclusive(true);
      ui->rbnImage->setAutoExclusive(true);
    } else {
      ui->edtItemName->setText(item->Name);
      if (item->IsText()) {
        ui->rbnText->setChecked(true);
        ui->edtText->setText(item->Caption());
        fontName_ = item->FontName;
        fontSize_ = item->FontSize;
        fontStyle_ = item->FontStyle;
        fontColor_ = item->FontColor;
        showFontDescription();
        ui->edtImageItem->clear();
      } else {
        ui->rbnImage->setChecked(true);
        ui->edtImageItem->setText(item->ImageName());
        ui->cmbTransparentItem->setCurrentIndex(
            ui->cmbTransparentItem->findText(ColorToText(item->ImageTransparent)));
        ui->edtText->clear();
        ui->edtFont->clear();
      }
      kindStep();
    }
  }
  applyEnableRules();
  drawPreview();
}

void TfrmSignatureItems::kindStep() {
  if (!current()) return;
  if (ui->rbnText->isChecked()) {
    ui->edtImageItem->clear();
    ui->cmbTransparentItem->setCurrentIndex(-1);
    if (ui->edtFont->text().isEmpty()) showFontDescription();
  } else if (ui->rbnImage->isChecked()) {
    if (ui->cmbTransparentItem->currentIndex() < 0) ui->cmbTransparentItem->setCurrentIndex(0);
    ui->edtText->clear();
    ui->edtFont->clear();
  }
  applyEnableRules();
}

void TfrmSignatureItems::writeName() {
  TLumenfoldSignatureItem* item = current();
  if (Loading() || !item) return;
  item->Name = ui->edtItemName->text();
  Copy().SetString(ui->lbxSignatureItems->currentRow(), item->Name);
  ui->lbxSignatureItems->currentItem()->setText(item->Name);
}

void TfrmSignatureItems::writeCaption() {
  TLumenfoldSignatureItem* item = current();
  if (Loading() || !item) return;
  item->SetCaption(ui->edtText->text());
  item->FontName = fontName_;
  item->FontSize = fontSize_;
  item->FontStyle = fontStyle_;
  item->FontColor = fontColor_;
  drawPreview();
}

void TfrmSignatureItems::writeImage() {
  TLumenfoldSignatureItem* item = current();
  if (Loading() || !item) return;
  item->SetImageName(ui->edtImageItem->text());
  const int index = ui->cmbTransparentItem->currentIndex();
  if (index >= 0 && index < NamedColors().size())
    item->ImageTransparent = NamedColors()[index].Value;
  drawPreview();
}

void TfrmSignatureItems::SetItemFont(const QFont& font, int color) {
  fontName_ = font.family();
  fontSize_ = font.pointSize() > 0 ? font.pointSize() : fontSize_;
  TFontStyles style;
  if (font.bold()) style |= TFontStyle::fsBold;
  if (font.italic()) style |= TFontStyle::fsItalic;
  if (font.underline()) style |= TFontStyle::fsUnderline;
  if (font.strikeOut()) style |= TFontStyle::fsStrikeOut;
  fontStyle_ = style;
  fontColor_ = color;
  showFontDescription();
  writeCaption();
}

void TfrmSignatureItems::chooseFont() {
  QFont font(fontName_, fontSize_);
  font.setBold(fontStyle_.testFlag(TFontStyle::fsBold));
  font.setItalic(fontStyle_.testFlag(TFontStyle::fsItalic));
  font.setUnderline(fontStyle_.testFlag(TFontStyle::fsUnderline));
  font.setStrikeOut(fontStyle_.testFlag(TFontStyle::fsStrikeOut));
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font, this, "Font");
  if (ok) SetItemFont(chosen, fontColor_);
}

void TfrmSignatureItems::chooseColor() {
  const QColor chosen = QColorDialog::getColor(toColor(fontColor_), this, "Colour");
  if (!chosen.isValid()) return;
  QFont font(fontName_, fontSize_);
  font.setBold(fontStyle_.testFlag(TFontStyle::fsBold));
  font.setItalic(fontStyle_.testFlag(TFontStyle::fsItalic));
  font.setUnderline(fontStyle_.testFlag(TFontStyle::fsUnderline));
  font.setStrikeOut(fontStyle_.testFlag(TFontStyle::fsStrikeOut));
  SetItemFont(font, colorValue(chosen));
}

void TfrmSignatureItems::chooseImage() {
  const QString path = QFileDialog::getOpenFileName(this, "Image", ui->edtImageItem->text());
  if (!path.isEmpty()) ui->edtImageItem->setText(path);
}

void TfrmSignatureItems::add() {
  auto* item = new TLumenfoldSignatureItem;
  Copy().Add(item->Name, item);
  {
    TLoadingGuard guard(*this);
    ui->lbxSignatureItems->addItem(item->Name);
  }
  ui->lbxSignatureItems->setCurrentRow(Copy().Count() - 1);
  showItem();
}

void TfrmSignatureItems::remove() {
  TLumenfoldSignatureItem* item = current();
  if (!item) return;
  if (project_ && item->Id >= 0 && project_->Signatures.IsItemUsed(item->Id)) {
    QMessageBox::warning(this, windowTitle(),
                         "Some of the Signatures use this Signature item. Delete the signature "
                         "first");
    return;
  }
  const int row = ui->lbxSignatureItems->currentRow();
  {
    TLoadingGuard guard(*this);
    Copy().Delete(row);
    delete ui->lbxSignatureItems->takeItem(row);
    ui->lbxSignatureItems->setCurrentRow(Copy().Count() > 0 ? 0 : -1);
  }
  showItem();
}

void TfrmSignatureItems::applyEnableRules() {
  const bool selected = current() != nullptr;
  ui->bbnDeleteItem->setEnabled(selected);
  ui->edtItemName->setEnabled(selected);
  ui->rbnText->setEnabled(selected);
  ui->rbnImage->setEnabled(selected);
  const bool text = selected && ui->rbnText->isChecked();
  const bool image = selected && ui->rbnImage->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{ui->edtText, ui->bbnMacro, ui->bbnFontItem,
                                                    ui->bbnColorItem, ui->edtFont})
    w->setEnabled(text);
  for (QWidget* w :
       std::initializer_list<QWidget*>{ui->edtImageItem, ui->bbnImageItem, ui->cmbTransparentItem})
    w->setEnabled(image);
}

void TfrmSignatureItems::drawPreview() {
  const QSize size = ui->pbxPreviewItem->size().expandedTo(QSize(16, 16));
  preview_ = QImage(size, QImage::Format_RGB32);
  preview_.fill(palette().color(QPalette::Window));
  if (const TLumenfoldSignatureItem* item = current())
    item->DrawAt(preview_, nullptr, QPoint(0, 0), 5);
  QPainter painter(&preview_);
  painter.setPen(Qt::black);
  painter.drawRect(0, 0, size.width() - 1, size.height() - 1);
  painter.end();
  ui->pbxPreviewItem->setPixmap(QPixmap::fromImage(preview_));
}

void TfrmSignatureItems::resizeEvent(QResizeEvent* event) {
  TWorkingCopyDialog::resizeEvent(event);
  if (isVisible()) drawPreview();
}

void TfrmSignatureItems::accept() {
  if (project_) {
    TWaitCursor wait;
    ApplyItemEdits(project_->SignatureItems, Copy(), &project_->Signatures);
  }
  TWorkingCopyDialog::accept();
}
