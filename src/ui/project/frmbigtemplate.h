#pragma once
// "Template Preview": the large preview picture of a site template, scaled to fit the window.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <memory>

namespace Ui {
class frmBigTemplate;
}

class TfrmBigTemplate : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmBigTemplate(QWidget* parent = nullptr);
  ~TfrmBigTemplate() override;

  // Loads the picture file; false when it is missing or cannot be read.
  bool LoadPicture(const QString& path);

private:
  std::unique_ptr<Ui::frmBigTemplate> ui;
};
