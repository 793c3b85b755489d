#include "ui/category/frmcategorydetail.h"

#include "core/project.h"
#include "ui/common/placeholderfields.h"
#include "ui/common/waitcursor.h"
#include "ui_frmcategorydetail.h"

#include <QMessageBox>

TfrmCategoryDetail::TfrmCategoryDetail(QWidget* parent)
    : TWorkingCopyDialog(parent, "frmCategories", QSize(500, 360)),
      ui(std::make_unique<Ui::frmCategories>()) {
  ui->setupUi(this);
  connect(ui->bbnOk, &QPushButton::clicked, this, &TfrmCategoryDetail::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  SelectPlaceholdersOnEntry(this);
  connect(ui->bbnAdd, &QPushButton::clicked, this, &TfrmCategoryDetail::add);
  connect(ui->bbnDelete, &QPushButton::clicked, this, &TfrmCategoryDetail::remove);
  connect(ui->lbxCategories, &QListWidget::currentRowChanged, this,
          &TfrmCategoryDetail::showCategory);
  for (QLineEdit* e : {ui->edtTitle, ui->edtTitle2})
    connect(e, &QLineEdit::textChanged, this, &TfrmCategoryDetail::edited);
  for (QPlainTextEdit* e : {ui->edtDescription, ui->edtDescription2})
    connect(e, &QPlainTextEdit::textChanged, this, &TfrmCategoryDetail::edited);
}

TfrmCategoryDetail::~TfrmCategoryDetail() = default;

void TfrmCategoryDetail::SetProject(TLumenfoldProject* project) {
  project_ = project;
  if (project_) Copy().Assign(project_->Categories);
}

void TfrmCategoryDetail::FirstShow() {
  fillList();
  if (ui->lbxCategories->count() > 0) ui->lbxCategories->setCurrentRow(0);
  showCategory();
}

void TfrmCategoryDetail::fillList() {
  {
    TLoadingGuard guard(*this);
    ui->lbxCategories->clear();
    for (int i = 0; i < Copy().Count(); ++i)
      ui->lbxCategories->addItem(Copy().Categories(i)->Title);
  }
}

TLumenfoldCategory* TfrmCategoryDetail::current() const {
  const int row = ui->lbxCategories->currentRow();
  return row >= 0 && row < Copy().Count() ? Copy().Categories(row) : nullptr;
}

void TfrmCategoryDetail::showCategory() {
  if (Loading()) return;
  {
    TLoadingGuard guard(*this);
    const TLumenfoldCategory* c = current();
    // Counted now: links assigned since the project was loaded are in memory only.
    const int count = c && c->Id >= 0 && project_ ? CategoryPictureCount(*project_, c->Id) : 0;
    ui->lblCount->setText(c ? QString("Category contains %1 pictures.").arg(qMax(0, count))
                            : QString());
    ui->edtTitle->setText(c ? c->Title : QString());
    ui->edtDescription->setPlainText(c ? c->Description : QString());
    ui->edtTitle2->setText(c ? c->Title2 : QString());
    ui->edtDescription2->setPlainText(c ? c->Description2 : QString());
  }
  applyEnableRules();
}

void TfrmCategoryDetail::edited() {
  if (Loading()) return;
  TLumenfoldCategory* c = current();
  if (!c) return;
  c->Title = ui->edtTitle->text();
  c->Description = ui->edtDescription->toPlainText();
  c->Title2 = ui->edtTitle2->text();
  c->Description2 = ui->edtDescription2->toPlainText();
  ui->lbxCategories->currentItem()->setText(c->Title);
  Copy().SetString(ui->lbxCategories->currentRow(), c->Title);
  applyEnableRules();
}

bool TfrmCategoryDetail::titleCheck() {
  if (ui->lbxCategories->count() == 0 || !current()) return true;
  if (!ui->edtTitle->text().trimmed().isEmpty()) return true;
  QMessageBox::warning(this, windowTitle(), "Primary title of a category cannot be empty.");
  return false;
}

void TfrmCategoryDetail::add() {
  if (!titleCheck()) return;
  auto* c = new TLumenfoldCategory;
  Copy().Add(c->Title, c);
  {
    TLoadingGuard guard(*this);
    ui->lbxCategories->addItem(c->Title);
  }
  ui->lbxCategories->setCurrentRow(ui->lbxCategories->count() - 1);
  showCategory();
  // The new category's title is next to write: its default text is selected for typing.
  ui->edtTitle->setFocus(Qt::OtherFocusReason);
}

void TfrmCategoryDetail::remove() {
  const int row = ui->lbxCategories->currentRow();
  TLumenfoldCategory* c = current();
  if (!c) return;
  // A stored category may be linked to pictures, loaded or not: say what deleting it costs.
  if (c->Id >= 0 && project_) {
    const int count = CategoryPictureCount(*project_, c->Id);
    const QString who = count < 0    ? QString("The pictures that use it could not be counted.")
                        : count == 0 ? QString("No picture uses it.")
                        : count == 1 ? QString("1 picture will lose it.")
                                     : QString("%1 pictures will lose it.").arg(count);
    const auto answer = QMessageBox::question(
        this, windowTitle(),
        QString("Do you really want to delete the category \"%1\"?\n%2\nThe deletion is written "
                "when you press OK.")
            .arg(c->Title, who),
        QMessageBox::Yes | QMessageBox::No, QMessageBox::No);
    if (answer != QMessageBox::Yes) return;
  }
  Copy().Delete(row);
  {
    TLoadingGuard guard(*this);
    delete ui->lbxCategories->takeItem(row);
  }
  ui->lbxCategories->setCurrentRow(ui->lbxCategories->count() > 0 ? 0 : -1);
  showCategory();
}

void TfrmCategoryDetail::applyEnableRules() {
  const bool selected = current() != nullptr;
  ui->bbnDelete->setEnabled(selected);
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->lblTitle, ui->lblDescription, ui->lblTitle2, ui->lblDescription2, ui->edtTitle,
           ui->edtDescription, ui->edtTitle2, ui->edtDescription2})
    w->setEnabled(selected);
}

void TfrmCategoryDetail::accept() {
  if (!titleCheck()) return;
  if (project_) {
    TWaitCursor wait;
    bool deleted = false;
    ApplyCategoryEdits(*project_, Copy(), &deleted);
    deleted_ = deleted;
  }
  TWorkingCopyDialog::accept();
}
