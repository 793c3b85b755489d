#include "ui/project/frmbigtemplate.h"

#include "ui_frmbigtemplate.h"

#include <QImageReader>

TfrmBigTemplate::TfrmBigTemplate(QWidget* parent)
    : TPlacedDialog(parent, "frmBigTemplate", QSize(600, 440)),
      ui(std::make_unique<Ui::frmBigTemplate>()) {
  ui->setupUi(this);
  connect(ui->bbnClose, &QPushButton::clicked, this, &QDialog::accept);
}

TfrmBigTemplate::~TfrmBigTemplate() = default;

bool TfrmBigTemplate::LoadPicture(const QString& path) {
  QImageReader reader(path);
  reader.setAutoTransform(true);
  const QImage image = reader.read();
  if (image.isNull()) return false;
  ui->imgBigTemplate->SetImage(image);
  return true;
}
