#include "ui/category/frmselectcategory.h"

#include "core/picture.h"
#include "core/project.h"
#include "ui/category/frmcategorydetail.h"
#include "ui_frmselectcategory.h"

#include <QHash>

TfrmSelectCategory::TfrmSelectCategory(QWidget* parent)
    : TPlacedDialog(parent, "frmSelectCategory", QSize(345, 200)),
      ui(std::make_unique<Ui::frmSelectCategory>()) {
  ui->setupUi(this);
  connect(ui->bbnOk, &QPushButton::clicked, this, &TfrmSelectCategory::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnManageCategories, &QPushButton::clicked, this, &TfrmSelectCategory::manage);
  connect(ui->lbxCategories, &QListWidget::itemChanged, this, &TfrmSelectCategory::showCount);
}

TfrmSelectCategory::~TfrmSelectCategory() = default;

void TfrmSelectCategory::SetProject(TLumenfoldProject* project) {
  project_ = project;
  fillList();
}

void TfrmSelectCategory::AddPicture(TLumenfoldPicture* picture) {
  if (picture) pictures_.append(picture);
  fillList();
}

void TfrmSelectCategory::FirstShow() {
  fillList();
  countPictures();
}

namespace {
// Item data: the category's picture count without the dialog's pictures, and how many of them
// had it when the dialog opened.
constexpr int kOthersRole = Qt::UserRole + 1;
constexpr int kHavingRole = Qt::UserRole + 2;
} // namespace

void TfrmSelectCategory::countPictures() {
  for (int i = 0; project_ && i < ui->lbxCategories->count(); ++i) {
    QListWidgetItem* item = ui->lbxCategories->item(i);
    const int others = CategoryPictureCount(*project_, item->data(Qt::UserRole).toInt(), pictures_);
    showingCount_ = true;
    item->setData(kOthersRole, qMax(0, others));
    showingCount_ = false;
    showCount(item);
  }
}

void TfrmSelectCategory::showCount(QListWidgetItem* item) {
  if (showingCount_ || !project_) return;
  const int index = project_->Categories.IndexOfId(item->data(Qt::UserRole).toInt());
  if (index < 0) return;
  const int mine = item->checkState() == Qt::Checked     ? int(pictures_.size())
                   : item->checkState() == Qt::Unchecked ? 0
                                                         : item->data(kHavingRole).toInt();
  showingCount_ = true;
  item->setText(QString("%1[%2]")
                    .arg(project_->Categories.Categories(index)->Title)
                    .arg(item->data(kOthersRole).toInt() + mine));
  showingCount_ = false;
}

void TfrmSelectCategory::fillList() {
  // States of the categories listed now are kept (the editor may have changed the list); the
  // others start from the pictures.
  QHash<int, Qt::CheckState> kept;
  const bool refill = isVisible();
  for (int i = 0; refill && i < ui->lbxCategories->count(); ++i) {
    const QListWidgetItem* item = ui->lbxCategories->item(i);
    kept.insert(item->data(Qt::UserRole).toInt(), item->checkState());
  }
  ui->lbxCategories->clear();
  if (!project_) return;
  const TLumenfoldCategoryList& list = project_->Categories;
  for (int i = 0; i < list.Count(); ++i) {
    const TLumenfoldCategory* c = list.Categories(i);
    const QString id = QString::number(c->Id);
    Qt::CheckState state = Qt::Unchecked;
    int having = 0;
    for (const TLumenfoldPicture* p : pictures_)
      if (p->CategoryIds.contains(id)) ++having;
    if (kept.contains(c->Id)) {
      state = kept.value(c->Id);
    } else {
      state = having == 0                  ? Qt::Unchecked
              : having == pictures_.size() ? Qt::Checked
                                           : Qt::PartiallyChecked;
    }
    auto* item = new QListWidgetItem(QString("%1[%2]").arg(c->Title).arg(c->PictureCount));
    // Checkable but not user-tristate: a click on a grayed entry checks it, and grayed cannot
    // be chosen again.
    item->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable);
    item->setCheckState(state);
    item->setData(Qt::UserRole, c->Id);
    item->setData(kHavingRole, having);
    ui->lbxCategories->addItem(item);
  }
}

Qt::CheckState TfrmSelectCategory::State(int categoryId) const {
  for (int i = 0; i < ui->lbxCategories->count(); ++i) {
    const QListWidgetItem* item = ui->lbxCategories->item(i);
    if (item->data(Qt::UserRole).toInt() == categoryId) return item->checkState();
  }
  return Qt::Unchecked;
}

void TfrmSelectCategory::manage() {
  if (!project_) return;
  TfrmCategoryDetail editor(this);
  editor.SetProject(project_);
  if (editor.exec() == QDialog::Accepted) {
    fillList();
    countPictures();
  }
}

void TfrmSelectCategory::accept() {
  if (project_) {
    // A partly checked category stays as it is in each picture.
    QList<int> add, remove;
    for (int i = 0; i < ui->lbxCategories->count(); ++i) {
      const QListWidgetItem* item = ui->lbxCategories->item(i);
      const int id = item->data(Qt::UserRole).toInt();
      if (item->checkState() == Qt::Unchecked) remove.append(id);
      if (item->checkState() == Qt::Checked) add.append(id);
    }
    for (TLumenfoldPicture* p : pictures_)
      ChangePictureCategories(*p, add, remove, project_->Categories);
  }
  TPlacedDialog::accept();
}
