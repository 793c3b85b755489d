#pragma once
// Base of the modal dialogs that keep their placement in the settings store: the placement of
// the form key is restored when the dialog is first shown (centred when no position was
// stored) and saved whenever the dialog ends (OK, Cancel, Escape or the close box). F1 opens
// the dialog's help page, found by its form name (util/helptopics.h); a Help button calls
// ShowHelp().
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

  // The dialog's help topic (0: none, F1 then does nothing); SetHelpTopic overrides the one of
  // the form name.
  int HelpTopic() const { return helpTopic_; }
  void SetHelpTopic(int topic) { helpTopic_ = topic; }
  // Opens the dialog's help page (the contents when it has no topic of its own).
  void ShowHelp();

protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  // Runs once, at the first show, after the placement is restored.
  virtual void FirstShow() {}

private:
  QString formName_;
  QSize designSize_;
  bool shown_ = false;
  int helpTopic_ = 0;
};
