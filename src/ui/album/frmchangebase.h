#pragma once
// The change-base dialog: a search text and its replacement for the folders of all albums. The
// caller applies the replacement after OK.
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <memory>

namespace Ui {
class frmChangeBase;
}

class TfrmChangeBase : public TPlacedDialog {
  Q_OBJECT
public:
  explicit TfrmChangeBase(QWidget* parent = nullptr);
  ~TfrmChangeBase() override;

  // Folder where "..." starts browsing (the caller passes the program folder).
  void SetInitialFolder(const QString& folder) { initialFolder_ = folder; }
  QString SearchText() const;
  QString ReplaceText() const;

private:
  void browse();
  std::unique_ptr<Ui::frmChangeBase> ui;
  QString initialFolder_;
};
