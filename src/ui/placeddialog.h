#pragma once
// Base of the modal dialogs that keep their placement in the settings store: the placement of
// the form key is restored when the dialog is first shown (centred when no position was
// stored) and saved whenever the dialog ends (OK, Cancel, Escape or the close box).
//
// Threads: user-interface thread only.
#include <QDialog>
#include <QSize>
#include <QString>

class TPlacedDialog : public QDialog {
  Q_OBJECT
public:
  TPlacedDialog(QWidget* parent, QString formName, QSize designSize);
  const QString& FormName() const { return formName_; }
  QSize DesignSize() const { return designSize_; }

  void done(int result) override;

protected:
  void showEvent(QShowEvent* event) override;
  // Runs once, at the first show, after the placement is restored.
  virtual void FirstShow() {}

private:
  QString formName_;
  QSize designSize_;
  bool shown_ = false;
};
