#include "ui/photolist/photolistcontrols.h"

#include "core/category.h"
#include "ui/photolist/photolistview.h"
#include "ui/common/settingsstore.h"

#include <QCheckBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QSettings>
#include <QSignalBlocker>
#include <QSlider>

namespace {
QString viewKey(const char* name) {
  return QLatin1String(kSettingsRoot) + QStringLiteral("/View/") + QLatin1String(name);
}
} // namespace

TThumbnailSizeControl::TThumbnailSizeControl(TphotoListView* view, QWidget* parent)
    : QWidget(parent), view_(view) {
  setObjectName(QStringLiteral("pnlThumbnailSize"));
  auto* layout = new QHBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  sizeLine_ = new QCheckBox(QStringLiteral("Sizes"), this);
  sizeLine_->setObjectName(QStringLiteral("chkSizeLine"));
  sizeLine_->setToolTip(QStringLiteral("Show the size line under the titles"));
  auto* label = new QLabel(QStringLiteral("Size"), this);
  slider_ = new QSlider(Qt::Horizontal, this);
  slider_->setObjectName(QStringLiteral("sldThumbnailSize"));
  slider_->setRange(TPhotoItemPainter::MinThumbnailSize, TPhotoItemPainter::MaxThumbnailSize);
  slider_->setSingleStep(TphotoListView::ThumbnailSizeStep);
  slider_->setPageStep(4 * TphotoListView::ThumbnailSizeStep);
  slider_->setFixedWidth(120);
  slider_->setToolTip(QStringLiteral("Thumbnail size (Ctrl+wheel, Ctrl+plus, Ctrl+minus)"));
  label->setBuddy(slider_);
  layout->addWidget(sizeLine_);
  layout->addWidget(label);
  layout->addWidget(slider_);

  const std::unique_ptr<QSettings> s = LumenfoldSettings();
  view_->SetThumbnailSize(
      s->value(viewKey("ThumbnailSize"), int(TPhotoItemPainter::DefaultThumbnailSize)).toInt());
  view_->SetShowSizeLine(s->value(viewKey("SizeLine"), true).toBool());
  slider_->setValue(view_->ThumbnailSize());
  sizeLine_->setChecked(view_->ShowSizeLine());

  connect(slider_, &QSlider::valueChanged, this, [this](int size) {
    view_->SetThumbnailSize(size);
    remember();
  });
  connect(view_, &TphotoListView::ThumbnailSizeChanged, this, [this](int size) {
    const QSignalBlocker block(slider_);
    slider_->setValue(size);
    remember();
  });
  connect(sizeLine_, &QCheckBox::toggled, this, [this](bool on) {
    view_->SetShowSizeLine(on);
    remember();
  });
}

void TThumbnailSizeControl::remember() const {
  const std::unique_ptr<QSettings> s = LumenfoldSettings();
  s->setValue(viewKey("ThumbnailSize"), view_->ThumbnailSize());
  s->setValue(viewKey("SizeLine"), view_->ShowSizeLine());
}

TCategoryFilterBox::TCategoryFilterBox(TphotoListView* view, QWidget* parent)
    : QComboBox(parent), view_(view) {
  setObjectName(QStringLiteral("cbxCategoryFilter"));
  setToolTip(QStringLiteral("Show the pictures of one category only"));
  setSizeAdjustPolicy(QComboBox::AdjustToContents);
  addItem(QStringLiteral("All pictures"), QString());
  connect(this, &QComboBox::currentIndexChanged, this,
          [this] { view_->SetCategoryFilter(currentData().toString()); });
}

void TCategoryFilterBox::SetCategories(const TLumenfoldCategoryList& categories) {
  const QString chosen = currentData().toString();
  {
    const QSignalBlocker block(this);
    clear();
    addItem(QStringLiteral("All pictures"), QString());
    for (int i = 0; i < categories.Count(); ++i)
      if (const TLumenfoldCategory* c = categories.Categories(i))
        addItem(c->Title, QString::number(c->Id));
    setCurrentIndex(std::max(0, findData(chosen)));
  }
  view_->SetCategoryFilter(currentData().toString());
}

void TCategoryFilterBox::showPopup() {
  if (Source)
    if (const TLumenfoldCategoryList* categories = Source()) SetCategories(*categories);
  QComboBox::showPopup();
}
