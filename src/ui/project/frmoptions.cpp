#include "ui/project/frmoptions.h"

#include "core/outputsettings.h"
#include "core/project.h"
#include "ui/common/colourscheme.h"
#include "ui/common/filedialogs.h"
#include "ui/project/frmbigtemplate.h"
#include "ui/project/sitetemplates.h"
#include "ui_frmoptions.h"
#include "util/userprompt.h"

#include <QComboBox>
#include <QFile>
#include <QFileInfo>
#include <QFormLayout>
#include <QImageReader>
#include <QIntValidator>
#include <QTextStream>

#include <algorithm>

namespace {

// Decimal integer of an edit; false when the text is not one (an empty text included).
bool parseInt(const QLineEdit* edit, int& value) {
  bool ok = false;
  const int v = edit->text().trimmed().toInt(&ok, 10);
  if (ok) value = v;
  return ok;
}

bool isPreset(int w, int h, const int preset[2]) {
  return w == preset[0] && h == preset[1];
}

// The controls of the thumbnail or the medium size group and the project fields they edit.
struct TSizeGroup {
  QCheckBox* Enabled;
  QRadioButton *Preset1, *Preset2, *Custom;
  QLineEdit *Width, *Height, *Folder, *Prefix;
  QSpinBox* Quality;
  const int (*Presets)[2];
  const char *CustomWidth, *CustomHeight; // proposed when Custom is chosen with empty sizes
  bool TLumenfoldProject::*IsEnabled;
  int TLumenfoldProject::*W;
  int TLumenfoldProject::*H;
  QString TLumenfoldProject::*FolderName;
  QString TLumenfoldProject::*PrefixText;
  int TLumenfoldProject::*QualityValue;
};

TSizeGroup thumbGroup(const Ui::frmOptions& ui) {
  return {ui.cbxThumb,
          ui.rbnThumb1,
          ui.rbnThumb2,
          ui.rbnThumb3,
          ui.edtThumbWidth,
          ui.edtThumbHeight,
          ui.edtThumbFolder,
          ui.edtThumbPrefix,
          ui.edtThumbQuality,
          TfrmOptions::kThumbPresets,
          "250",
          "250",
          &TLumenfoldProject::ThumbEnabled,
          &TLumenfoldProject::ThumbWidth,
          &TLumenfoldProject::ThumbHeight,
          &TLumenfoldProject::ThumbFolder,
          &TLumenfoldProject::ThumbPrefix,
          &TLumenfoldProject::ThumbQuality};
}

TSizeGroup mediumGroup(const Ui::frmOptions& ui) {
  return {ui.cbxMedium,
          ui.rbnMedium1,
          ui.rbnMedium2,
          ui.rbnMedium3,
          ui.edtMediumWidth,
          ui.edtMediumHeight,
          ui.edtMediumFolder,
          ui.edtMediumPrefix,
          ui.edtMediumQuality,
          TfrmOptions::kMediumPresets,
          "1280",
          "1024",
          &TLumenfoldProject::MediumEnabled,
          &TLumenfoldProject::MediumWidth,
          &TLumenfoldProject::MediumHeight,
          &TLumenfoldProject::MediumFolder,
          &TLumenfoldProject::MediumPrefix,
          &TLumenfoldProject::MediumQuality};
}

void fillSizeGroup(const TSizeGroup& g, const TLumenfoldProject& p) {
  g.Enabled->setChecked(p.*g.IsEnabled);
  const int w = p.*g.W, h = p.*g.H;
  if (isPreset(w, h, g.Presets[0])) {
    g.Preset1->setChecked(true);
  } else if (isPreset(w, h, g.Presets[1])) {
    g.Preset2->setChecked(true);
  } else {
    g.Custom->setChecked(true);
    g.Width->setText(QString::number(w));
    g.Height->setText(QString::number(h));
  }
  g.Folder->setText(p.*g.FolderName);
  g.Prefix->setText(p.*g.PrefixText);
  g.Quality->setValue(p.*g.QualityValue);
}

// A custom size that is not a decimal integer ends the writing silently: what came before it
// is kept in the copy.
void storeSizeGroup(const TSizeGroup& g, TLumenfoldProject& p) {
  p.*g.IsEnabled = g.Enabled->isChecked();
  p.*g.FolderName = g.Folder->text();
  p.*g.PrefixText = g.Prefix->text();
  p.*g.QualityValue = g.Quality->value();
  if (g.Preset1->isChecked()) {
    p.*g.W = g.Presets[0][0];
    p.*g.H = g.Presets[0][1];
  } else if (g.Preset2->isChecked()) {
    p.*g.W = g.Presets[1][0];
    p.*g.H = g.Presets[1][1];
  } else if (parseInt(g.Width, p.*g.W)) {
    parseInt(g.Height, p.*g.H);
  }
}

} // namespace

TfrmOptions::TfrmOptions(QWidget* parent)
    : TWorkingCopyDialog(parent, "frmOptions", QSize(544, 417)),
      ui(std::make_unique<Ui::frmOptions>()) {
  ui->setupUi(this);
  // Folder names such as "ps_medium" must fit without scrolling inside the field.
  const int folderWidth = fontMetrics().horizontalAdvance(QStringLiteral("ps_medium_00"));
  for (QLineEdit* e : {ui->edtThumbFolder, ui->edtMediumFolder, ui->edtLargeFolder})
    e->setMinimumWidth(folderWidth);
  Copy().Reset();

  // OK keeps the dialog open while a setting would let processing overwrite the user's files.
  connect(ui->bbnOk, &QPushButton::clicked, this, [this] {
    const QString unsafe = ValidateOutputSettings(Copy());
    if (!unsafe.isEmpty()) {
      Prompt()->error(unsafe);
      return;
    }
    accept();
  });
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  for (QLineEdit* e :
       {ui->edtThumbWidth, ui->edtThumbHeight, ui->edtMediumWidth, ui->edtMediumHeight})
    e->setValidator(new QIntValidator(1, kMaxOutputSide, e));

  auto onThumb = [this] { cbxThumbClick(); };
  for (QAbstractButton* b :
       {static_cast<QAbstractButton*>(ui->cbxThumb), static_cast<QAbstractButton*>(ui->rbnThumb1),
        static_cast<QAbstractButton*>(ui->rbnThumb2), static_cast<QAbstractButton*>(ui->rbnThumb3)})
    connect(b, &QAbstractButton::toggled, this, onThumb);
  for (QLineEdit* e :
       {ui->edtThumbWidth, ui->edtThumbHeight, ui->edtThumbFolder, ui->edtThumbPrefix})
    connect(e, &QLineEdit::textChanged, this, onThumb);
  connect(ui->edtThumbQuality, &QSpinBox::valueChanged, this, onThumb);

  auto onMedium = [this] { cbxMediumClick(); };
  for (QAbstractButton* b :
       {static_cast<QAbstractButton*>(ui->cbxMedium), static_cast<QAbstractButton*>(ui->rbnMedium1),
        static_cast<QAbstractButton*>(ui->rbnMedium2),
        static_cast<QAbstractButton*>(ui->rbnMedium3)})
    connect(b, &QAbstractButton::toggled, this, onMedium);
  for (QLineEdit* e :
       {ui->edtMediumWidth, ui->edtMediumHeight, ui->edtMediumFolder, ui->edtMediumPrefix})
    connect(e, &QLineEdit::textChanged, this, onMedium);
  connect(ui->edtMediumQuality, &QSpinBox::valueChanged, this, onMedium);

  auto onLarge = [this] { cbxLargeClick(); };
  connect(ui->cbxLarge, &QCheckBox::toggled, this, onLarge);
  for (QLineEdit* e : {ui->edtLargeFolder, ui->edtLargePrefix})
    connect(e, &QLineEdit::textChanged, this, onLarge);
  connect(ui->edtLargeQuality, &QSpinBox::valueChanged, this, onLarge);

  auto onProcess = [this] { cbxScaleClick(); };
  for (QAbstractButton* b :
       {static_cast<QAbstractButton*>(ui->cbxScale), static_cast<QAbstractButton*>(ui->cbxUpscale),
        static_cast<QAbstractButton*>(ui->rbnLowerCase),
        static_cast<QAbstractButton*>(ui->rbnUpperCase),
        static_cast<QAbstractButton*>(ui->rbnKeepCase),
        static_cast<QAbstractButton*>(ui->rbnNearest), static_cast<QAbstractButton*>(ui->rbnLinear),
        static_cast<QAbstractButton*>(ui->rbnSpline), static_cast<QAbstractButton*>(ui->rbnLanczos),
        static_cast<QAbstractButton*>(ui->rbnMitchell)})
    connect(b, &QAbstractButton::toggled, this, onProcess);
  connect(ui->edtZip, &QLineEdit::textChanged, this, [this] {
    if (!Loading()) zipEdited_ = true;
    cbxScaleClick();
  });
  connect(ui->bbnZip, &QPushButton::clicked, this, &TfrmOptions::bbnZipClick);
  connect(ui->edtMaxMegapixels, &QSpinBox::valueChanged, this, onProcess);
  connect(ui->cbxMetadata, &QComboBox::currentIndexChanged, this, onProcess);
  connect(ui->cbxChroma, &QComboBox::currentIndexChanged, this, onProcess);
  connect(ui->edtSiteAddress, &QLineEdit::textChanged, this, onProcess);
  connect(ui->edtSiteFolder, &QLineEdit::textChanged, this, onProcess);
  connect(ui->cbxSiteDownload, &QComboBox::currentIndexChanged, this, onProcess);
  connect(ui->cbxSiteCamera, &QAbstractButton::toggled, this, onProcess);

  connect(ui->lbxTemplates, &QListWidget::itemSelectionChanged, this,
          &TfrmOptions::lbxTemplatesClick);
  ui->imgPreview->installEventFilter(this);
  addAppearancePage();
}

TfrmOptions::~TfrmOptions() = default;

// The colour scheme belongs to the user, not to the project: OK stores and applies it at once.
void TfrmOptions::addAppearancePage() {
  auto* page = new QWidget(ui->pgcOptions);
  page->setObjectName(QStringLiteral("tabAppearance"));
  auto* form = new QFormLayout(page);
  auto* scheme = new QComboBox(page);
  scheme->setObjectName(QStringLiteral("cbxColourScheme"));
  scheme->addItems(
      {QStringLiteral("Follow the system"), QStringLiteral("Light"), QStringLiteral("Dark")});
  scheme->setCurrentIndex(int(StoredColourScheme()));
  form->addRow(QStringLiteral("Colour scheme:"), scheme);
  ui->pgcOptions->addTab(page, QStringLiteral("Appearance"));
  connect(this, &QDialog::accepted, this, [scheme] {
    const auto chosen = TColourScheme(scheme->currentIndex());
    if (chosen == StoredColourScheme()) return;
    StoreColourScheme(chosen);
    ApplyColourScheme(chosen);
  });
}

bool TfrmOptions::Edit(QWidget* owner, TLumenfoldProject& project, bool imagesPage) {
  TfrmOptions dialog(owner);
  dialog.LoadFrom(project);
  if (imagesPage) dialog.ShowImagesPage();
  if (dialog.exec() != QDialog::Accepted) return false;
  dialog.StoreTo(project);
  return true;
}

void TfrmOptions::LoadFrom(const TLumenfoldProject& source) {
  Copy().Assign(source);
  Copy().ZipFileName = source.ZipFileName;
  zipEdited_ = false;
}

void TfrmOptions::StoreTo(TLumenfoldProject& target) const {
  target.Assign(Copy());
  if (zipEdited_) target.ZipFileName = Copy().ZipFileName;
}

void TfrmOptions::ShowImagesPage() {
  ui->pgcOptions->setCurrentWidget(ui->tabImages);
}

void TfrmOptions::FirstShow() {
  ScanSiteTemplates();
  ui->lbxTemplates->clear();
  ui->lbxTemplates->addItems(SiteTemplateList());
  fillControls();
}

void TfrmOptions::fillControls() {
  // The enabling rules run once the controls are filled (the guard ends first).
  struct TAfterFill {
    TfrmOptions* self;
    ~TAfterFill() { self->applyEnableRules(); }
  } afterFill{this};
  TLoadingGuard guard(*this);

  TLumenfoldProject& p = Copy();
  fillSizeGroup(thumbGroup(*ui), p);
  fillSizeGroup(mediumGroup(*ui), p);

  ui->cbxLarge->setChecked(p.LargeEnabled);
  ui->edtLargeFolder->setText(p.LargeFolder);
  ui->edtLargePrefix->setText(p.LargePrefix);
  ui->edtLargeQuality->setValue(p.LargeQuality);

  ui->cbxScale->setChecked(p.WarnUpscale);
  ui->cbxUpscale->setChecked(p.NeverUpscale);
  const QList<QRadioButton*> cases = {ui->rbnLowerCase, ui->rbnUpperCase, ui->rbnKeepCase};
  if (p.FileNameCase >= 0 && p.FileNameCase < cases.size()) cases[p.FileNameCase]->setChecked(true);
  const QList<QRadioButton*> methods = {ui->rbnNearest, ui->rbnLinear, ui->rbnSpline,
                                        ui->rbnLanczos, ui->rbnMitchell};
  if (p.ResizeMethod >= 0 && p.ResizeMethod < methods.size())
    methods[p.ResizeMethod]->setChecked(true);
  ui->edtZip->setText(p.ZipFileName);
  ui->edtMaxMegapixels->setValue(p.MaxMegapixels);
  ui->cbxMetadata->setCurrentIndex(std::clamp(p.OutputMetadata, int(omSafe), int(omNone)));
  ui->cbxChroma->setCurrentIndex(p.ChromaSubsampling == cs444 ? 1 : 0);
  ui->edtSiteAddress->setText(p.SiteAddress);
  ui->edtSiteFolder->setText(p.SiteFolder);
  ui->cbxSiteDownload->setCurrentIndex(std::clamp(p.SiteDownload, 0, 2));
  ui->cbxSiteCamera->setChecked(p.SiteCameraDetails);

  ui->lbxTemplates->clearSelection();
  for (int i = 0; i < ui->lbxTemplates->count(); ++i)
    if (ui->lbxTemplates->item(i)->text().compare(p.SiteTemplate, Qt::CaseInsensitive) == 0) {
      ui->lbxTemplates->setCurrentRow(i);
      break;
    }
  lbxTemplatesClick();
}

void TfrmOptions::applyEnableRules() {
  if (Loading()) return;
  const bool thumb = ui->cbxThumb->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->rbnThumb1, ui->rbnThumb2, ui->rbnThumb3, ui->lblThumbFolder, ui->edtThumbFolder,
           ui->lblThumbPrefix, ui->edtThumbPrefix, ui->lblThumbQuality, ui->edtThumbQuality})
    w->setEnabled(thumb);
  const bool thumbCustom = thumb && ui->rbnThumb3->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{ui->lblThumbWidth, ui->edtThumbWidth,
                                                    ui->lblThumbHeight, ui->edtThumbHeight})
    w->setEnabled(thumbCustom);

  const bool medium = ui->cbxMedium->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->rbnMedium1, ui->rbnMedium2, ui->rbnMedium3, ui->lblMediumFolder, ui->edtMediumFolder,
           ui->lblMediumPrefix, ui->edtMediumPrefix, ui->lblMediumQuality, ui->edtMediumQuality})
    w->setEnabled(medium);
  const bool mediumCustom = medium && ui->rbnMedium3->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{ui->lblMediumWidth, ui->edtMediumWidth,
                                                    ui->lblMediumHeight, ui->edtMediumHeight})
    w->setEnabled(mediumCustom);

  const bool large = ui->cbxLarge->isChecked();
  for (QWidget* w : std::initializer_list<QWidget*>{
           ui->lblLargeSize, ui->lblLargeFolder, ui->edtLargeFolder, ui->lblLargePrefix,
           ui->edtLargePrefix, ui->lblLargeQuality, ui->edtLargeQuality})
    w->setEnabled(large);
}

// One handler per size group, serving all of the group's controls.
void TfrmOptions::sizeGroupClick(bool thumb) {
  if (Loading()) return;
  const TSizeGroup g = thumb ? thumbGroup(*ui) : mediumGroup(*ui);
  if (g.Custom->isChecked() && g.Width->text().isEmpty() && g.Height->text().isEmpty()) {
    TLoadingGuard guard(*this);
    g.Width->setText(QString::fromLatin1(g.CustomWidth));
    g.Height->setText(QString::fromLatin1(g.CustomHeight));
  }
  storeSizeGroup(g, Copy());
  applyEnableRules();
}

void TfrmOptions::cbxThumbClick() {
  sizeGroupClick(true);
}

void TfrmOptions::cbxMediumClick() {
  sizeGroupClick(false);
}

void TfrmOptions::cbxLargeClick() {
  if (Loading()) return;
  TLumenfoldProject& p = Copy();
  p.LargeEnabled = ui->cbxLarge->isChecked();
  p.LargeFolder = ui->edtLargeFolder->text();
  p.LargePrefix = ui->edtLargePrefix->text();
  p.LargeQuality = ui->edtLargeQuality->value();
  applyEnableRules();
}

void TfrmOptions::cbxScaleClick() {
  if (Loading()) return;
  TLumenfoldProject& p = Copy();
  p.WarnUpscale = ui->cbxScale->isChecked();
  p.NeverUpscale = ui->cbxUpscale->isChecked();
  const QList<QRadioButton*> cases = {ui->rbnLowerCase, ui->rbnUpperCase, ui->rbnKeepCase};
  for (int i = 0; i < cases.size(); ++i)
    if (cases[i]->isChecked()) p.FileNameCase = i;
  const QList<QRadioButton*> methods = {ui->rbnNearest, ui->rbnLinear, ui->rbnSpline,
                                        ui->rbnLanczos, ui->rbnMitchell};
  for (int i = 0; i < methods.size(); ++i)
    if (methods[i]->isChecked()) p.ResizeMethod = i;
  p.ZipFileName = ui->edtZip->text();
  p.MaxMegapixels = ui->edtMaxMegapixels->value();
  p.OutputMetadata = ui->cbxMetadata->currentIndex();
  p.ChromaSubsampling = ui->cbxChroma->currentIndex() == 1 ? cs444 : cs420;
  p.SiteAddress = ui->edtSiteAddress->text().trimmed();
  p.SiteFolder = ui->edtSiteFolder->text().trimmed();
  p.SiteDownload = ui->cbxSiteDownload->currentIndex();
  p.SiteCameraDetails = ui->cbxSiteCamera->isChecked();
}

void TfrmOptions::bbnZipClick() {
  TFileDialogRequest request;
  request.save = true;
  request.title = "Select filename for zip archive";
  request.defaultSuffix = "zip";
  request.initialName = "albums.zip";
  const QString chosen = ChooseFileName(this, request);
  if (chosen.isEmpty()) return;
  ui->edtZip->setText(chosen); // runs the Process-page handler
}

void TfrmOptions::lbxTemplatesClick() {
  const QList<QListWidgetItem*> selected = ui->lbxTemplates->selectedItems();
  if (selected.isEmpty()) return;
  const QString name = selected.first()->text();
  const QString folder = SiteTemplateFolder(name);

  ui->memDescription->setPlainText("<not found>");
  if (!preview_.isNull()) preview_.fill(Qt::black);
  QFile readme(folder + "readme.txt");
  if (readme.exists() && readme.open(QIODevice::ReadOnly | QIODevice::Text))
    ui->memDescription->setPlainText(QTextStream(&readme).readAll());
  if (QFileInfo::exists(folder + "preview_small.jpg")) {
    QImageReader reader(folder + "preview_small.jpg");
    const QImage image = reader.read();
    if (!image.isNull()) preview_ = image;
  }
  ui->imgPreview->setPixmap(QPixmap::fromImage(preview_));
  if (!Loading()) Copy().SiteTemplate = name;
}

void TfrmOptions::imgPreviewDblClick() {
  // Failures (no template selected, a missing or unreadable picture) show nothing.
  const QList<QListWidgetItem*> selected = ui->lbxTemplates->selectedItems();
  if (selected.isEmpty()) return;
  TfrmBigTemplate big(this);
  if (!big.LoadPicture(SiteTemplateFolder(selected.first()->text()) + "preview_big.jpg")) return;
  big.exec();
}

bool TfrmOptions::eventFilter(QObject* watched, QEvent* event) {
  if (watched == ui->imgPreview && event->type() == QEvent::MouseButtonDblClick) {
    imgPreviewDblClick();
    return true;
  }
  return TWorkingCopyDialog::eventFilter(watched, event);
}
