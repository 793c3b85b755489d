#pragma once
// The progress window of a processing run ("Processing..."). Shown modally, it builds the work
// list, starts the run and shows its posted progress; Cancel (or the close box, or Escape)
// pauses the run and asks "Are you sure?": Yes stops it before the next picture, No lets it go
// on. The window closes only once the run has ended: with Accepted when every picture was
// visited and the zip stages are done, with Rejected otherwise.
//
// The window owns the run (TProcessingJob, which owns the run thread); the run is freed with
// the window, never by itself. A run that ends while "Are you sure?" is open closes the question
// and the window with the run's own result.
//
// Threads: user-interface thread only. The run reaches the window by posted LF_MSG_PROGRESS
// and LF_MSG_PROGRESS_PART messages; the window never blocks its thread on the run (it waits by
// dispatching events, so a run that asks the user something gets its answer).
#include "processing/processingjob.h"
#include "ui/common/placeddialog.h"

#include <QPointer>
#include <QStringList>
#include <memory>

namespace Ui {
class frmProgress;
}

class QMessageBox;
class TLumenfoldProject;

class TfrmProgress : public TPlacedDialog {
  Q_OBJECT
public:
  // Steps of the progress bar per picture, so that it moves with every stage of a picture.
  static constexpr int StepsPerPicture = 6;
  // Units of the bar per step: a step moves on in parts (LF_MSG_PROGRESS_PART).
  static constexpr int PartsPerStep = 100;

  TfrmProgress(TLumenfoldProject* project, QWidget* parent = nullptr);
  ~TfrmProgress() override;

  // The run to make; set before the window is shown.
  TProcessingRequest Request;

  // Full paths of the work list's originals (after the run was prepared).
  QStringList FileNames() const;
  // Set when the run visited every picture and finished its zip stages.
  bool Finished() const { return finished_; }
  // Why the run did not finish (empty when it did).
  QString Reason() const { return reason_; }
  // The closing report of the run (ProcessingReportLines), then how many changed originals
  // were processed again, when any.
  QStringList ReportLines() const;
  // The run is going (started and not ended).
  bool Running() const;

  void done(int result) override;

signals:
  // The work list is built and the run is about to start.
  void RunPrepared(TProcessingJob* job);

protected:
  void FirstShow() override;
  bool event(QEvent* e) override;
  void closeEvent(QCloseEvent* e) override;

private:
  void startRun();
  void showProgress(int number, int stage);
  void showPart(int thousandths, int stage);
  // Bar units of one zip stage (0 without zip).
  int zipStageUnits() const;
  void runEnded(bool completed, const QString& reason);
  // Cancel, the close box and Escape: pause, ask, then stop or go on.
  void askToStop();
  void finish();

  std::unique_ptr<Ui::frmProgress> ui;
  TLumenfoldProject* project_;
  std::unique_ptr<TProcessingJob> job_;
  QPointer<QMessageBox> question_;
  bool ended_ = false;    // the run has ended (or never started)
  bool finished_ = false; // ... and it visited everything
  bool waiting_ = false;  // asking or stopping: the end is handled by the one who waits
  bool closing_ = false;
  bool destroying_ = false;
  int lastNumber_ = 0;
  int lastStage_ = -1;
  QString reason_;
};
