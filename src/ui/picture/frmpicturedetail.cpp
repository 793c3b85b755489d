#include "ui/picture/frmpicturedetail.h"
#include "ui/common/colourscheme.h"

#include "core/picture.h"
#include "core/project.h"
#include "processing/thumbnailthread.h"
#include "ui/picture/cropimage.h"
#include "ui/picture/frmscale.h"
#include "ui/category/frmselectcategory.h"
#include "ui/signature/frmselectsignature.h"
#include "ui/common/waitcursor.h"
#include "ui_frmpicturedetail.h"
#include "util/helpers.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/memorybudget.h"
#include "util/imaging/memorytuning.h"
#include "util/imaging/pictureformats.h"
#include "util/safefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QMessageBox>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <algorithm>
#include <cmath>

namespace {
// Round half to even, as the crop text and the stored crop want it.
int roundEven(double value) {
  return int(std::nearbyint(value));
}

QString scaleText(double scale) {
  if (scale == std::floor(scale)) return QLocale().toString(scale, 'f', 1);
  return QLocale().toString(scale, 'g', 6);
}

QSize screenSize() {
  if (const QScreen* s = QGuiApplication::primaryScreen()) return s->size();
  return QSize(1920, 1200);
}

const QDate kNoDate(1800, 1, 1);
} // namespace

TfrmPictureDetail::TfrmPictureDetail(QWidget* parent)
    : TWorkingCopyDialog(parent, "frmPictureDetail", QSize(550, 420)),
      ui(std::make_unique<Ui::frmPictureDetail>()) {
  ui->setupUi(this);
  image_ = ui->imgFull;
  refineTimer_.setSingleShot(true);
  refineTimer_.setInterval(kRefineDelayMs);
  connect(&refineTimer_, &QTimer::timeout, this, &TfrmPictureDetail::refine);

  ui->edtPictureDate->setMinimumDate(kNoDate);
  ui->edtPictureDate->setSpecialValueText(" ");
  ui->edtPictureDate->setDisplayFormat(QLocale().dateFormat(QLocale::ShortFormat));
  ui->lblCrop->setVisible(false);

  WireOkCancel(ui->bbnOk, ui->bbnCancel);
  connect(ui->edtTitle, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!Loading()) Copy().Title = text;
  });
  connect(ui->edtTitle2, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!Loading()) Copy().Title2 = text;
  });
  connect(ui->edtPictureDate, &QDateEdit::dateChanged, this, [this](QDate date) {
    if (Loading()) return;
    TLumenfoldPicture& p = Copy();
    if (date <= kNoDate)
      p.PictureDate = QDateTime();
    else
      p.PictureDate = QDateTime(date, p.PictureDate.isValid() ? p.PictureDate.time() : QTime(0, 0));
  });
  connect(ui->bbnCCW, &QToolButton::clicked, this, [this] { turn(4); });
  connect(ui->bbnCW, &QToolButton::clicked, this, [this] { turn(2); });
  connect(ui->bbnRound, &QToolButton::clicked, this, [this] { turn(3); });
  connect(ui->bbnFlip, &QToolButton::clicked, this, [this] { turn(-1); });
  connect(ui->bbnPrivate, &QToolButton::clicked, this, [this] {
    Copy().IsPrivate = !Copy().IsPrivate;
    showMarks();
  });
  connect(ui->bbnDelete, &QToolButton::clicked, this, [this] {
    Copy().IsDeleted = !Copy().IsDeleted;
    showMarks();
  });
  connect(ui->bbnMakeFace, &QToolButton::clicked, this, [this] {
    Copy().IsFace = !Copy().IsFace;
    showMarks();
  });
  connect(ui->bbnCategory, &QToolButton::clicked, this, &TfrmPictureDetail::chooseCategories);
  connect(ui->bbnSign, &QToolButton::clicked, this, &TfrmPictureDetail::chooseSignatures);
  connect(ui->cbxCrop, &QCheckBox::clicked, this, &TfrmPictureDetail::cropClicked);
  connect(ui->cbxUseScale, &QCheckBox::clicked, this, &TfrmPictureDetail::applyDisplayMode);
  connect(ui->bbnApply, &QPushButton::clicked, this, &TfrmPictureDetail::applyDisplayMode);
  connect(ui->edtScale, &QLineEdit::returnPressed, this, &TfrmPictureDetail::applyDisplayMode);
  connect(image_, &TCropImage::cropChanged, this, &TfrmPictureDetail::cropChanged);
  connect(image_, &TCropImage::dragStarted, this, &TfrmPictureDetail::startInteraction);
  connect(image_, &TCropImage::dragFinished, this, &TfrmPictureDetail::endInteraction);
  connect(ui->bbnPrevious, &QPushButton::clicked, this, [this] { navigate(-1); });
  connect(ui->bbnNext, &QPushButton::clicked, this, [this] { navigate(1); });
  auto* up = new QShortcut(QKeySequence(Qt::Key_PageUp), this);
  connect(up, &QShortcut::activated, this, [this] { navigate(-1); });
  auto* down = new QShortcut(QKeySequence(Qt::Key_PageDown), this);
  connect(down, &QShortcut::activated, this, [this] { navigate(1); });
  updateNavigation();
}

TfrmPictureDetail::~TfrmPictureDetail() = default;

void TfrmPictureDetail::SetPictures(const QList<TLumenfoldPicture*>& pictures, int index) {
  pictures_ = pictures;
  index_ = index >= 0 && index < pictures.size() ? index : -1;
  if (index_ >= 0) Copy().Assign(*pictures_[index_]);
  updateNavigation();
}

TLumenfoldPicture* TfrmPictureDetail::RealPicture() const {
  return index_ >= 0 ? pictures_[index_] : nullptr;
}

QString TfrmPictureDetail::CropText(const QRectF& crop) {
  const int x1 = roundEven(crop.left()), y1 = roundEven(crop.top());
  const int x2 = roundEven(crop.right()), y2 = roundEven(crop.bottom());
  return QString("(%1, %2) - (%3, %4). new size: %5 x %6")
      .arg(x1)
      .arg(y1)
      .arg(x2)
      .arg(y2)
      .arg(roundEven(crop.right() - crop.left()))
      .arg(roundEven(crop.bottom() - crop.top()));
}

void TfrmPictureDetail::FirstShow() {
  askScale_ = true;
  magnify_ = false;
  loadPicture();
}

void TfrmPictureDetail::decode(int denominator) {
  const QString path = Copy().OriginalPath();
  QFile file;
  QString problem;
  if (!OpenRegularFile(file, path, &problem)) throw EImageError(problem);
  const QByteArray data = file.readAll();
  const int orientation = Copy().Orientation;
  // The project's pixel limit holds here as in processing: a picture beyond it (or a damaged
  // header that claims such a size) is refused before its memory is taken.
  const qint64 maxPixels =
      project_ ? qint64(std::max(0, project_->MaxMegapixels)) * 1000000 : qint64(0);
  if (SniffPictureFormat(data.left(16)) != TPictureFormat::Jpeg) {
    // Other formats are decoded whole, then turned, within the memory a run could take.
    TMemoryBudget budget(RunMemoryBudget(AvailableMemoryBytes(), ResidentMemoryBytes()));
    QImage pixels = TThumbnailThread::DecodeOtherOriginal(path, data, maxPixels, &budget);
    storedSize_ = pixels.size();
    denominator_ = 1;
    ApplyOrientation(pixels, orientation);
    image_->SetPicture(pixels, pixels.size());
    return;
  }
  CheckPixelLimit(path, ReadJpegSize(data, path), maxPixels);
  if (denominator <= 0) {
    // The smallest decode that still covers the picture fitted into the screen.
    const QSize oriented = OrientedSize(ReadJpegSize(data, path), orientation);
    const QSize fitted = oriented.scaled(screenSize(), Qt::KeepAspectRatio).boundedTo(oriented);
    denominator = JpegScaleForMinimumSize(oriented, fitted.width(), fitted.height());
  }
  QSize stored;
  const QImage pixels =
      DecodeJpegDataTransformed(data, path, denominator, orientation, QRect(), &stored);
  storedSize_ = stored;
  denominator_ = denominator;
  image_->SetPicture(pixels, OrientedSize(stored, orientation));
}

void TfrmPictureDetail::loadPicture() {
  TWaitCursor wait;
  {
    TLoadingGuard guard(*this);
    fillControls();
  }
  applyDisplayMode();
  refineTimer_.start();
}

void TfrmPictureDetail::fillControls() {
  TLumenfoldPicture& p = Copy();
  refineTimer_.stop();
  image_->SetFilter(rfNearest);
  image_->SetCropVisible(false);
  const QString path = p.OriginalPath();
  fileExists_ = QFileInfo(path).isFile();
  storedSize_ = QSize();
  QString problem;
  if (fileExists_) {
    try {
      decode(0);
    } catch (const EImageError& e) {
      problem = e.Text();
      image_->SetPicture(QImage(), QSize());
    }
  } else {
    problem = QString("The file %1 does not exist.").arg(QDir::toNativeSeparators(path));
    image_->SetPicture(QImage(), QSize());
  }
  ui->lblOriginalFilename->setText(p.OriginalFileName);
  ui->lblOriginalFilename->setStyleSheet(NoteStyleSheet(palette(), !problem.isEmpty()));
  ui->lblOriginalFilename->setToolTip(problem);

  // Unknown dimensions come from the file as stored (before any turn); they stay unknown when
  // the file cannot be read.
  if ((p.OriginalWidth == -1 || p.OriginalHeight == -1) && storedSize_.isValid()) {
    p.OriginalWidth = storedSize_.width();
    p.OriginalHeight = storedSize_.height();
  }
  ui->lblOriginalResolution->setText(QString("%1 x %2").arg(p.OriginalWidth).arg(p.OriginalHeight));
  if (p.OriginalSize == -1 && fileExists_) p.OriginalSize = GetFileSizeBytes(path);
  ui->lblOriginalSize->setText(QLocale().toString(p.OriginalSize));
  ui->edtTitle->setText(p.Title);
  ui->edtTitle2->setText(p.Title2);
  ui->edtPictureDate->setDate(p.PictureDate.isValid() ? p.PictureDate.date() : kNoDate);
  if (p.OriginalHash.isEmpty() && fileExists_) p.OriginalHash = GetFileHash(path);
  ui->lblOriginalHash->setText(p.OriginalHash);

  // A picture that could not be shown keeps its stored crop: there is nothing to crop against.
  const bool shown = !image_->Pixels().isNull();
  const bool cropSet = CropIsSet(p.CropRect.X1, p.CropRect.Y1, p.CropRect.X2, p.CropRect.Y2);
  ui->cbxCrop->setEnabled(shown);
  ui->cbxCrop->setChecked(cropSet);
  ui->lblCrop->setVisible(cropSet);
  ui->lblCrop->setText(cropSet ? CropText(QRectF(QPointF(p.CropRect.X1, p.CropRect.Y1),
                                                 QPointF(p.CropRect.X2, p.CropRect.Y2)))
                               : QString());
  if (shown && cropSet) buildCrop(true);
  showMarks();
}

void TfrmPictureDetail::showMarks() {
  const TLumenfoldPicture& p = Copy();
  ui->bbnPrivate->setChecked(p.IsPrivate);
  ui->bbnDelete->setChecked(p.IsDeleted);
  ui->bbnMakeFace->setChecked(p.IsFace);
  ui->bbnCategory->setChecked(!p.CategoryIds.isEmpty());
  ui->bbnSign->setChecked(p.ThumbSignatureId != -1 || p.MediumSignatureId != -1);
  ui->lblCategories->setText(project_ ? project_->Categories.CategoryTitles(&p, " ") : QString());
}

void TfrmPictureDetail::turn(int which) {
  TWaitCursor wait;
  TLumenfoldPicture& p = Copy();
  switch (which) {
  case 4:
    p.RotateCCW();
    break;
  case 2:
    p.RotateCW();
    break;
  case 3:
    p.Rotate180();
    break;
  default:
    p.Flip();
    break;
  }
  QImage pixels = image_->Pixels();
  if (!pixels.isNull()) {
    ApplyOrientation(pixels, which);
    const QSize full =
        (which == 2 || which == 4) ? image_->FullSize().transposed() : image_->FullSize();
    image_->SetPicture(pixels, full);
    if (image_->ScaleMode()) image_->resize(image_->ScaledSize());
  }
  // The stored crop has turned with the picture; the layer follows it.
  if (ui->cbxCrop->isChecked() && image_->CropVisible()) buildCrop(true);
}

void TfrmPictureDetail::buildCrop(bool fromStored) {
  const TCropRect& c = Copy().CropRect;
  const QSize full = image_->FullSize();
  const QRectF rect =
      fromStored && CropIsSet(c.X1, c.Y1, c.X2, c.Y2)
          ? TCropImage::CropInside(QRectF(QPointF(c.X1, c.Y1), QPointF(c.X2, c.Y2)), full)
          : TCropImage::DefaultCrop(full);
  image_->SetCrop(rect);
  image_->SetCropVisible(true);
  cropChanged(rect);
}

void TfrmPictureDetail::cropClicked() {
  const bool on = ui->cbxCrop->isChecked();
  ui->lblCrop->setVisible(on);
  if (on) {
    if (!image_->CropVisible()) buildCrop(true);
  } else {
    Copy().CropRect = TCropRect();
    image_->SetCropVisible(false);
  }
}

void TfrmPictureDetail::cropChanged(const QRectF& crop) {
  ui->lblCrop->setText(CropText(crop));
  Copy().CropRect = {roundEven(crop.left()), roundEven(crop.top()), roundEven(crop.right()),
                     roundEven(crop.bottom())};
}

void TfrmPictureDetail::applyDisplayMode() {
  if (Loading()) return;
  QScrollArea* scroll = ui->scrFull;
  if (!ui->cbxUseScale->isChecked()) {
    ui->bbnApply->setEnabled(false);
    image_->SetScaleMode(false);
    scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
    scroll->setWidgetResizable(true);
    image_->update();
    return;
  }
  ui->bbnApply->setEnabled(true);
  const QString text = ui->edtScale->text().trimmed();
  bool ok = false;
  double scale = QLocale().toDouble(text, &ok);
  if (!ok) scale = QLocale::c().toDouble(text, &ok);
  const QSize full = image_->FullSize();
  const double pixels = double(full.width()) * full.height();
  const double largest = pixels > 0 ? std::sqrt(kMaxScaledPixels / pixels) : 1e9;
  if (!ok) {
    ui->edtScale->setText(scaleText(scale_));
    scale = 1;
  } else if (!(scale > 0) || !std::isfinite(scale)) {
    QMessageBox::warning(
        this, windowTitle(),
        QString("The scale %1 cannot be used: enter a number greater than 0.").arg(text));
    ui->edtScale->setText(scaleText(scale_));
    scale = scale_;
  } else if (scale > largest) {
    QMessageBox::warning(
        this, windowTitle(),
        QString("At the scale %1 the picture would need %2 megapixels; at most %3 megapixels "
                "can be shown. Enter a scale of at most %4.")
            .arg(text)
            .arg(QLocale().toString(pixels * scale * scale / 1e6, 'f', 0))
            .arg(QLocale().toString(kMaxScaledPixels / 1e6, 'f', 0))
            .arg(QLocale().toString(std::floor(largest * 1000) / 1000, 'g', 4)));
    ui->edtScale->setText(scaleText(scale_));
    scale = scale_;
  }
  if (scale > largest) scale = std::floor(largest * 1000) / 1000;
  if (scale > 1) {
    if (askScale_) {
      TfrmScale question(this);
      magnify_ = question.exec() == QDialog::Accepted;
      if (question.DontShowAgain()) askScale_ = false;
    }
    if (!magnify_) {
      ui->edtScale->setText("1.0");
      scale = 1;
    }
  }
  scale_ = scale;
  // A scale finer than the held pixels needs the whole picture.
  if (fileExists_ && denominator_ > 1 && scale > image_->PixelScale() + 1e-9) {
    TWaitCursor wait;
    try {
      decode(1);
    } catch (const EImageError&) {
      // Keep the reduced pixels; the picture is then shown enlarged from them.
    }
  }
  scroll->setWidgetResizable(false);
  scroll->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  scroll->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  image_->SetScaleMode(true, scale);
  scroll->horizontalScrollBar()->setValue(0);
  scroll->verticalScrollBar()->setValue(0);
  image_->update();
}

void TfrmPictureDetail::refine() {
  if (image_->Dragging()) return;
  TWaitCursor wait;
  image_->SetFilter(project_ ? project_->ResizeMethod : int(rfLanczos));
  image_->repaint();
}

void TfrmPictureDetail::startInteraction() {
  refineTimer_.stop();
  image_->SetFilter(rfNearest);
}

void TfrmPictureDetail::endInteraction() {
  refineTimer_.start();
}

void TfrmPictureDetail::resizeEvent(QResizeEvent* event) {
  TWorkingCopyDialog::resizeEvent(event);
  // Sizing the window redraws fast until it has rested for the refinement delay.
  if (!Loading() && !image_->ScaleMode()) {
    startInteraction();
    endInteraction();
  }
}

void TfrmPictureDetail::chooseCategories() {
  if (project_) {
    TfrmSelectCategory chooser(this);
    chooser.SetProject(project_);
    chooser.AddPicture(&Copy());
    chooser.exec();
    // A category deleted meanwhile must not come back as a link of this copy.
    DropUnknownCategories(Copy(), project_->Categories);
  }
  showMarks();
}

void TfrmPictureDetail::chooseSignatures() {
  if (project_) {
    TfrmSelectSignature chooser(this);
    chooser.SetProject(project_);
    chooser.AddPicture(&Copy());
    chooser.exec();
  }
  showMarks();
  image_->update();
}

void TfrmPictureDetail::navigate(int step) {
  const int next = index_ + step;
  if (index_ < 0 || next < 0 || next >= pictures_.size()) return;
  TLumenfoldPicture* real = pictures_[index_];
  if (ApplyPictureEdits(*real, Copy())) emit pictureApplied(real);
  index_ = next;
  Copy().Assign(*pictures_[index_]);
  loadPicture();
  updateNavigation();
}

void TfrmPictureDetail::updateNavigation() {
  const bool many = index_ >= 0 && pictures_.size() > 1;
  ui->bbnPrevious->setVisible(many);
  ui->bbnNext->setVisible(many);
  ui->bbnPrevious->setEnabled(many && index_ > 0);
  ui->bbnNext->setEnabled(many && index_ + 1 < pictures_.size());
}

void TfrmPictureDetail::done(int result) {
  refineTimer_.stop();
  image_->SetPicture(QImage(), QSize());
  TWorkingCopyDialog::done(result);
}
