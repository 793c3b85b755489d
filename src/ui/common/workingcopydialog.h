#pragma once
// Base of the dialogs that edit a working copy of a model object: the dialog owns the copy, the
// caller assigns the original into it before showing and copies it back after OK, so Cancel
// leaves the original untouched. The base also keeps the placement (TPlacedDialog), the OK /
// Cancel wiring and the loading guard: while the controls are filled from the copy Loading() is
// true, and change handlers ignore what they see.
//
//   class TfrmThing : public TWorkingCopyDialog<TThing> { ... };
//   void TfrmThing::FirstShow() { TLoadingGuard guard(*this); ui->edtName->setText(Copy().Name); }
//   void TfrmThing::nameEdited() { if (!Loading()) Copy().Name = ui->edtName->text(); }
//
// Threads: user-interface thread only.
#include "ui/common/placeddialog.h"

#include <QAbstractButton>
#include <memory>

template <typename T> class TWorkingCopyDialog : public TPlacedDialog {
public:
  TWorkingCopyDialog(QWidget* parent, QString formName, QSize designSize)
      : TPlacedDialog(parent, std::move(formName), designSize), copy_(std::make_unique<T>()) {}

  // The copy being edited.
  T& Copy() { return *copy_; }
  const T& Copy() const { return *copy_; }
  // True while the controls are filled from the copy, and before the first fill.
  bool Loading() const { return !filled_ || depth_ > 0; }

  // Marks the controls as being filled for its lifetime; nests. The first guard to end marks
  // the dialog as filled.
  class TLoadingGuard {
  public:
    explicit TLoadingGuard(TWorkingCopyDialog& dialog) : dialog_(dialog) { ++dialog_.depth_; }
    ~TLoadingGuard() {
      --dialog_.depth_;
      dialog_.filled_ = true;
    }
    TLoadingGuard(const TLoadingGuard&) = delete;
    TLoadingGuard& operator=(const TLoadingGuard&) = delete;

  private:
    TWorkingCopyDialog& dialog_;
  };

protected:
  // OK accepts, Cancel rejects (both end through done(), which saves the placement).
  void WireOkCancel(QAbstractButton* ok, QAbstractButton* cancel) {
    QObject::connect(ok, &QAbstractButton::clicked, this, &QDialog::accept);
    QObject::connect(cancel, &QAbstractButton::clicked, this, &QDialog::reject);
  }

private:
  std::unique_ptr<T> copy_;
  bool filled_ = false;
  int depth_ = 0;
};
