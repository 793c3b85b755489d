#pragma once
// "Scale question": asks before the picture properties dialog shows a picture magnified.
//
// Threads: user-interface thread only.
#include <QDialog>
#include <memory>

namespace Ui {
class frmScale;
}

class TfrmScale : public QDialog {
  Q_OBJECT
public:
  explicit TfrmScale(QWidget* parent = nullptr);
  ~TfrmScale() override;
  // "Do not show again. Use selected option." was ticked.
  bool DontShowAgain() const;

protected:
  void showEvent(QShowEvent* event) override;

private:
  std::unique_ptr<Ui::frmScale> ui;
};
