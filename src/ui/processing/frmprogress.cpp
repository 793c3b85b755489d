#include "ui/processing/frmprogress.h"

#include "processing/processthread.h"
#include "ui_frmprogress.h"
#include "util/messages.h"

#include <QCloseEvent>
#include <QMessageBox>
#include <QTimer>

TfrmProgress::TfrmProgress(TLumenfoldProject* project, QWidget* parent)
    : TPlacedDialog(parent, "frmProgress", QSize(480, 130)),
      ui(std::make_unique<Ui::frmProgress>()), project_(project) {
  ui->setupUi(this);
  ui->lblFilename->clear();
  ui->lblProcess->clear();
  connect(ui->bbnCancel, &QPushButton::clicked, this, &TfrmProgress::askToStop);
}

TfrmProgress::~TfrmProgress() {
  // A run still going is stopped and waited for by the job's destructor, which dispatches events
  // meanwhile: progress that arrives then is not shown any more.
  destroying_ = true;
  if (job_) disconnect(job_.get(), nullptr, this, nullptr);
  job_.reset();
}

QStringList TfrmProgress::FileNames() const {
  return job_ ? job_->FileNames() : QStringList();
}

QStringList TfrmProgress::ReportLines() const {
  if (!job_ || !job_->HasEnded()) return ProcessingReportLines(false, nullptr);
  QStringList lines = job_->ReportLines();
  if (const int n = job_->ChangedOriginals(); n > 0)
    lines << (n == 1 ? QStringLiteral("1 changed original picture was processed again.")
                     : QStringLiteral("%1 changed original pictures were processed again.").arg(n));
  return lines;
}

bool TfrmProgress::Running() const {
  return job_ && job_->Running();
}

void TfrmProgress::FirstShow() {
  // The run starts once the window is on the screen and its event loop runs.
  QTimer::singleShot(0, this, &TfrmProgress::startRun);
}

void TfrmProgress::startRun() {
  if (job_) return;
  job_ = std::make_unique<TProcessingJob>(project_, Request, this);
  if (!job_->Prepare()) {
    ended_ = true;
    reason_ = job_->Reason();
    QMessageBox::critical(this, QStringLiteral("Error"), reason_, QMessageBox::Ok);
    PostMessage(this, LF_MSG_START, 0, 0);
    return;
  }
  const int count = job_->Count();
  ui->pbrProcess->setMaximum(
      std::max(1, count * StepsPerPicture * PartsPerStep + 3 * zipStageUnits()));
  ui->pbrProcess->setValue(0);
  ui->lblProgress->setText(QStringLiteral("0/%1").arg(count));
  ui->lblProcess->setText(QStringLiteral("preparing..."));
  connect(job_.get(), &TProcessingJob::Ended, this, &TfrmProgress::runEnded);
  emit RunPrepared(job_.get());
  job_->Start();
}

bool TfrmProgress::event(QEvent* e) {
  if (TMessageEvent::Is(e, LF_MSG_PROGRESS)) {
    if (destroying_) return true;
    const auto* m = static_cast<const TMessageEvent*>(e);
    showProgress(int(m->First), int(m->Second));
    return true;
  }
  if (TMessageEvent::Is(e, LF_MSG_PROGRESS_PART)) {
    if (destroying_) return true;
    const auto* m = static_cast<const TMessageEvent*>(e);
    showPart(int(m->First), int(m->Second));
    return true;
  }
  if (TMessageEvent::Is(e, LF_MSG_START)) {
    // Starting the run failed: close as not finished.
    finish();
    return true;
  }
  return TPlacedDialog::event(e);
}

int TfrmProgress::zipStageUnits() const {
  if (!Request.Zip) return 0;
  // Building the archive takes about as long as a quarter of the pictures' work; with few
  // pictures, about as long as writing it, at least as long as one picture.
  const int count = job_ ? job_->Count() : 0;
  return std::max(StepsPerPicture, count * StepsPerPicture / 12) * PartsPerStep;
}

void TfrmProgress::showProgress(int number, int stage) {
  const int count = job_ ? job_->Count() : 0;
  // The bar moves with every stage; a picture is complete with the stage-0 message that
  // follows its database write.
  int step = 0;
  if (stage >= psZipPictures && zipStageUnits() > 0) {
    step = count * StepsPerPicture * PartsPerStep + (stage - psZipPictures) * zipStageUnits();
  } else if (stage >= psZipPictures || count == 0) {
    step = ui->pbrProcess->maximum();
  } else if (number >= 1) {
    const bool completes = stage == psHash && number == lastNumber_ && lastStage_ > psHash;
    const int within = completes ? StepsPerPicture : std::min(stage, StepsPerPicture - 1);
    step = ((number - 1) * StepsPerPicture + within) * PartsPerStep;
  }
  lastNumber_ = number;
  lastStage_ = stage;
  ui->pbrProcess->setValue(std::max(ui->pbrProcess->value(), step));
  ui->lblProgress->setText(QStringLiteral("%1/%2").arg(number).arg(count));
  const QStringList& files = FileNames();
  const bool showsFile = stage < psZipPictures && number >= 1 && number <= files.size();
  ui->lblFilename->setText(showsFile ? files.at(number - 1) : QString());
  ui->lblProcess->setText(ProcessStageText(stage));
}

void TfrmProgress::showPart(int thousandths, int stage) {
  if (stage != lastStage_ || thousandths <= 0) return;
  const int count = job_ ? job_->Count() : 0;
  const int part = std::min(thousandths, 1000);
  int value = -1;
  if (stage >= psZipPictures && zipStageUnits() > 0) {
    value = count * StepsPerPicture * PartsPerStep + (stage - psZipPictures) * zipStageUnits() +
            int(qint64(zipStageUnits()) * part / 1000);
  } else if (stage == psHash && lastNumber_ >= 1) {
    // The picture's own work (reading, decoding, fitting, encoding) before its stages follow.
    value = (lastNumber_ - 1) * StepsPerPicture * PartsPerStep +
            int(qint64(StepsPerPicture - 1) * PartsPerStep * part / 1000);
  }
  if (value > ui->pbrProcess->value()) ui->pbrProcess->setValue(value);
}

void TfrmProgress::runEnded(bool completed, const QString& reason) {
  ended_ = true;
  finished_ = completed;
  reason_ = reason;
  if (waiting_) {
    // The question is moot now: the one who asked finishes.
    if (question_) question_->done(QMessageBox::No);
    return;
  }
  finish();
}

void TfrmProgress::askToStop() {
  if (waiting_ || closing_) return;
  if (!Running()) {
    if (ended_) finish();
    return;
  }
  waiting_ = true;
  job_->Pause();
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), QStringLiteral("Are you sure?"),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  question_ = &box;
  const int answer = box.exec();
  question_ = nullptr;
  if (!ended_) {
    if (answer == QMessageBox::Yes) {
      job_->RequestStop();
      job_->Resume();
      job_->WaitForEnd();
    } else {
      job_->Resume();
    }
  }
  waiting_ = false;
  if (ended_) finish();
}

void TfrmProgress::finish() {
  if (closing_) return;
  closing_ = true;
  done(finished_ ? QDialog::Accepted : QDialog::Rejected);
}

void TfrmProgress::done(int result) {
  // Nothing but the end of the run closes the window.
  if (!closing_) {
    askToStop();
    return;
  }
  TPlacedDialog::done(result);
}

void TfrmProgress::closeEvent(QCloseEvent* e) {
  if (closing_) {
    TPlacedDialog::closeEvent(e);
    return;
  }
  e->ignore();
  // Asked after the close event has returned, so that the question is not nested in it.
  QTimer::singleShot(0, this, &TfrmProgress::askToStop);
}
