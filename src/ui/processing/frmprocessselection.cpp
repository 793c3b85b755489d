#include "ui/processing/frmprocessselection.h"

#include "core/album.h"
#include "core/project.h"
#include "ui/common/filedialogs.h"
#include "ui/project/sitetemplates.h"
#include "ui_frmprocessselection.h"

#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMessageBox>
#include <QTimer>

// The project's settings that this window edits, as they were when it opened.
struct TfrmProcessSelection::Settings {
  bool ZipEnabled;
  QString ZipFileName;
  bool ZipDatabase;
  QString SiteTemplate;
  QString SiteFolder;
  bool Modified;

  explicit Settings(const TLumenfoldProject& p)
      : ZipEnabled(p.ZipEnabled), ZipFileName(p.ZipFileName), ZipDatabase(p.ZipDatabase),
        SiteTemplate(p.SiteTemplate), SiteFolder(p.SiteFolder), Modified(p.Modified) {}
  bool SameAs(const TLumenfoldProject& p) const {
    return ZipEnabled == p.ZipEnabled && ZipFileName == p.ZipFileName &&
           ZipDatabase == p.ZipDatabase && SiteTemplate == p.SiteTemplate &&
           SiteFolder == p.SiteFolder;
  }
  void RestoreInto(TLumenfoldProject& p) const {
    p.ZipEnabled = ZipEnabled;
    p.ZipFileName = ZipFileName;
    p.ZipDatabase = ZipDatabase;
    p.SiteTemplate = SiteTemplate;
    p.SiteFolder = SiteFolder;
    p.Modified = Modified;
  }
};

QString TfrmProcessSelection::NoTemplateText() {
  return QStringLiteral("<do not add template>");
}

TfrmProcessSelection::TfrmProcessSelection(TLumenfoldProject* project, QWidget* parent)
    : TPlacedDialog(parent, "frmProcess", QSize(340, 350)), ui(std::make_unique<Ui::frmProcess>()),
      project_(project), before_(std::make_unique<Settings>(*project)) {
  ui->setupUi(this);
  loading_ = true;
  ui->cbxZip->setChecked(project_->ZipEnabled);
  ui->edtZip->setText(project_->ZipFileName);
  ui->rbnProcessed->setChecked(true);
  fillAlbums();
  ui->cbxZipDB->setChecked(project_->ZipDatabase);
  ui->edtSiteFolder->setText(project_->SiteFolder);
  ui->cmbZipAspTemplate->addItem(NoTemplateText());
  ui->cmbZipAspTemplate->addItems(ScanSiteTemplates());
  int chosen = 0;
  if (!project_->SiteTemplate.isEmpty()) {
    chosen = ui->cmbZipAspTemplate->findText(project_->SiteTemplate, Qt::MatchFixedString);
    if (chosen < 1) {
      chosen = 0;
      missingTemplate_ = project_->SiteTemplate;
    }
  }
  ui->cmbZipAspTemplate->setCurrentIndex(chosen);
  lblNoTemplate_ = new QLabel(this);
  lblNoTemplate_->setObjectName(QStringLiteral("lblNoTemplateWarning"));
  lblNoTemplate_->setWordWrap(true);
  lblNoTemplate_->setText(QStringLiteral("Warning: without a template the archive will hold every "
                                         "picture, private ones included, and their originals "
                                         "with all their metadata (GPS position, camera serial "
                                         "number), and the whole database."));
  ui->layMain->insertWidget(ui->layMain->indexOf(ui->cmbZipAspTemplate) + 1, lblNoTemplate_);
  loading_ = false;
  enableControls();

  connect(ui->rbnProcessed, &QRadioButton::toggled, this, [this] { fillAlbums(); });
  connect(ui->cbxZip, &QCheckBox::toggled, this, [this] { enableControls(); });
  connect(ui->bbnZip, &QPushButton::clicked, this, &TfrmProcessSelection::chooseZipFile);
  connect(ui->bbnSiteFolder, &QPushButton::clicked, this, [this] {
    const QString folder = BrowseForFolder(this, QStringLiteral("Select the site folder"),
                                           ui->edtSiteFolder->text().trimmed());
    if (!folder.isEmpty()) ui->edtSiteFolder->setText(QDir::toNativeSeparators(folder));
  });
  connect(ui->cmbZipAspTemplate, &QComboBox::currentIndexChanged, this,
          &TfrmProcessSelection::templateChosen);
  connect(ui->bbnOk, &QPushButton::clicked, this, &TfrmProcessSelection::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &TfrmProcessSelection::reject);
  connect(ui->bbnHelp, &QPushButton::clicked, this, &TPlacedDialog::ShowHelp);
}

TfrmProcessSelection::~TfrmProcessSelection() = default;

void TfrmProcessSelection::FirstShow() {
  if (missingTemplate_.isEmpty()) return;
  // Said once the window is on the screen, so that the box has it as owner.
  QTimer::singleShot(0, this, [this] {
    QMessageBox::warning(
        this, QStringLiteral("Warning"),
        QStringLiteral("The site template \"%1\" does not exist in the templates folder.\n"
                       "Choose another template, or \"%2\" to add none.")
            .arg(missingTemplate_, NoTemplateText()));
  });
}

void TfrmProcessSelection::PresetAlbumAndZip(int albumPosition) {
  ui->cbxZip->setChecked(true);
  ui->rbnChecked->setChecked(true); // fills the list
  for (int row = 0; row < ui->lbxAlbums->count(); ++row) {
    QListWidgetItem* item = ui->lbxAlbums->item(row);
    if (item->data(Qt::UserRole).toInt() == albumPosition) item->setCheckState(Qt::Checked);
  }
}

QList<int> TfrmProcessSelection::CheckedAlbumPositions() const {
  QList<int> positions;
  for (const QString& text : checkedAlbums_)
    positions << text.toInt();
  return positions;
}

bool TfrmProcessSelection::AllModifiedMode() const {
  return ui->rbnProcessed->isChecked();
}
bool TfrmProcessSelection::ProcessAll() const {
  return ui->cbxProcess->isChecked();
}
bool TfrmProcessSelection::Zip() const {
  return ui->cbxZip->isChecked();
}
bool TfrmProcessSelection::RemoveZip() const {
  return ui->cbxClear->isChecked();
}

void TfrmProcessSelection::fillAlbums() {
  const bool modifiedMode = ui->rbnProcessed->isChecked();
  ui->lbxAlbums->clear();
  for (int i = 0; i < project_->Albums.Count(); ++i) {
    TLumenfoldAlbum* album = project_->Albums.Albums(i);
    QString text = album->ShortName;
    if (modifiedMode) {
      if (!album->HasModifiedPictures()) continue;
      text += QStringLiteral(" (%1/%2)").arg(album->ModifiedCount()).arg(album->Pictures.Count());
    }
    auto* item = new QListWidgetItem(text, ui->lbxAlbums);
    item->setFlags(item->flags() | Qt::ItemIsUserCheckable);
    item->setCheckState(modifiedMode ? Qt::Checked : Qt::Unchecked);
    item->setData(Qt::UserRole, i);
  }
  ui->lbxAlbums->setEnabled(!modifiedMode);
  ui->cbxProcess->setChecked(modifiedMode);
  ui->cbxProcess->setEnabled(!modifiedMode);
}

void TfrmProcessSelection::enableControls() {
  const bool zip = ui->cbxZip->isChecked() && ui->cbxZip->isEnabled();
  ui->edtZip->setEnabled(zip);
  const bool follow = ui->edtZip->isEnabled();
  ui->bbnZip->setEnabled(follow);
  ui->cbxZipDB->setEnabled(follow);
  ui->cmbZipAspTemplate->setEnabled(follow);
  ui->lblZipAspTemplate->setEnabled(follow);
  // The run writes the site folder along with the archive.
  for (QWidget* w :
       {static_cast<QWidget*>(ui->lblSiteFolder), static_cast<QWidget*>(ui->edtSiteFolder),
        static_cast<QWidget*>(ui->bbnSiteFolder)})
    w->setEnabled(follow);
  showTemplateWarning();
}

void TfrmProcessSelection::showTemplateWarning() {
  lblNoTemplate_->setVisible(Zip() && ui->cmbZipAspTemplate->currentIndex() <= 0);
}

void TfrmProcessSelection::chooseZipFile() {
  TFileDialogRequest request;
  request.save = true;
  request.title = QStringLiteral("Select filename for zip archive");
  request.defaultSuffix = QStringLiteral("zip");
  request.initialName =
      ui->edtZip->text().isEmpty() ? QStringLiteral("albums.zip") : ui->edtZip->text();
  request.filter = QStringLiteral("Zip archives (*.zip)|*.zip|All files (*.*)|*.*");
  const QString name = ChooseFileName(this, request);
  if (!name.isEmpty()) ui->edtZip->setText(QDir::toNativeSeparators(name));
}

void TfrmProcessSelection::templateChosen() {
  if (loading_) return;
  showTemplateWarning();
  const int index = ui->cmbZipAspTemplate->currentIndex();
  project_->SiteTemplate = index <= 0 ? QString() : ui->cmbZipAspTemplate->currentText();
}

bool TfrmProcessSelection::checkZipFolder() {
  const QString name = ui->edtZip->text().trimmed();
  if (name.isEmpty()) return true; // the run uses "albums.zip" in the program folder
  const QString folder = QFileInfo(name).absolutePath();
  if (QFileInfo(folder).isDir()) return true;
  const QString shown = QDir::toNativeSeparators(folder);
  const auto answer = QMessageBox::question(
      this, QStringLiteral("Confirm"),
      QStringLiteral("The path for zip file does not exist. Do you want to create it?\n") + shown,
      QMessageBox::Ok | QMessageBox::Cancel);
  if (answer != QMessageBox::Ok) return false;
  if (!QDir().mkpath(folder)) {
    QMessageBox::critical(this, QStringLiteral("Error"),
                          QStringLiteral("The directory cannot be created.\n") + shown);
    return false;
  }
  return true;
}

void TfrmProcessSelection::accept() {
  // The album choice is checked first: nothing is stored or created while the window stays.
  QStringList checked;
  if (!AllModifiedMode()) {
    for (int row = 0; row < ui->lbxAlbums->count(); ++row) {
      const QListWidgetItem* item = ui->lbxAlbums->item(row);
      if (item->checkState() == Qt::Checked)
        checked << QString::number(item->data(Qt::UserRole).toInt());
    }
    if (checked.isEmpty()) {
      QMessageBox::warning(this, QStringLiteral("Warning"),
                           QStringLiteral("You need to checked albums you want to process or zip"));
      return;
    }
  }
  if (Zip() && !checkZipFolder()) return;

  checkedAlbums_ = checked;
  project_->ZipDatabase = ui->cbxZipDB->isChecked();
  templateChosen();
  project_->ZipEnabled = Zip();
  if (Zip()) {
    project_->ZipFileName = ui->edtZip->text().trimmed();
    project_->SiteFolder = ui->edtSiteFolder->text().trimmed();
  }
  if (!before_->SameAs(*project_)) project_->Modified = true;
  TPlacedDialog::accept();
}

void TfrmProcessSelection::reject() {
  before_->RestoreInto(*project_);
  TPlacedDialog::reject();
}
