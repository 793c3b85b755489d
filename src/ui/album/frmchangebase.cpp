#include "ui/album/frmchangebase.h"

#include "ui/common/filedialogs.h"
#include "ui_frmchangebase.h"

TfrmChangeBase::TfrmChangeBase(QWidget* parent)
    : TPlacedDialog(parent, "frmChangeBase", QSize(414, 217)),
      ui(std::make_unique<Ui::frmChangeBase>()) {
  ui->setupUi(this);
  ui->edtPath->setText("c:\\work\\pic\\album1");
  ui->edtPathReplace->setText("pic\\album1");
  connect(ui->bbnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnBrowsePath, &QPushButton::clicked, this, &TfrmChangeBase::browse);
}

TfrmChangeBase::~TfrmChangeBase() = default;

QString TfrmChangeBase::SearchText() const {
  return ui->edtPath->text();
}
QString TfrmChangeBase::ReplaceText() const {
  return ui->edtPathReplace->text();
}

void TfrmChangeBase::browse() {
  const QString folder = BrowseForFolder(this, "Select album path", initialFolder_);
  if (!folder.isEmpty()) ui->edtPathReplace->setText(folder);
}
