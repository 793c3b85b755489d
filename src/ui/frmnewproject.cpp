#include "ui/frmnewproject.h"

#include "core/project.h"
#include "core/projectops.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "db/userprompt.h"
#include "ui/filedialogs.h"
#include "ui/frmdatabase.h"
#include "ui/frmoptions.h"
#include "ui_frmnewproject.h"
#include "util/programfolder.h"

#include <QFileInfo>

TfrmNewProject::TfrmNewProject(QWidget* parent)
    : TPlacedDialog(parent, "frmNewPoject", QSize(399, 157)),
      ui(std::make_unique<Ui::frmNewProject>()), project_(std::make_unique<TLumenfoldProject>()) {
  ui->setupUi(this);
  project_->Reset();
  connect(ui->bbnOk, &QPushButton::clicked, this, &QDialog::accept);
  connect(ui->bbnCancel, &QPushButton::clicked, this, &QDialog::reject);
  connect(ui->bbnProject, &QPushButton::clicked, this, &TfrmNewProject::browseProject);
  connect(ui->bbnDB, &QPushButton::clicked, this, &TfrmNewProject::browseDatabase);
  connect(ui->bbnAdvanced, &QPushButton::clicked, this, &TfrmNewProject::advanced);
  connect(ui->edtProject, &QLineEdit::textChanged, this, [this](const QString& text) {
    if (!loading_) project_->FileName = text;
  });
}

TfrmNewProject::~TfrmNewProject() = default;

bool TfrmNewProject::Execute(QWidget* owner, TLumenfoldProject& project) {
  TfrmNewProject dialog(owner);
  dialog.Project().Assign(project);
  if (dialog.exec() != QDialog::Accepted) return false;
  project.Assign(dialog.Project());
  return true;
}

void TfrmNewProject::FirstShow() {
  loading_ = true;
  if (project_->FileName.isEmpty()) project_->FileName = ProgramFolder() + "site1.lumenfold";
  ui->edtProject->setText(project_->FileName);
  ui->edtDB->setText(project_->ConnectionString);
  loading_ = false;
}

void TfrmNewProject::browseProject() {
  TFileDialogRequest request;
  request.save = true;
  request.title = "Select name for new Lumenfold project";
  request.defaultSuffix = "lumenfold";
  request.filter = "LumenFold Projects (*.lumenfold)|*.lumenfold|All files (*.*)|*.*";
  request.initialName = ui->edtProject->text();
  const QString chosen = ChooseFileName(this, request);
  if (!chosen.isEmpty()) ui->edtProject->setText(chosen);
}

void TfrmNewProject::browseDatabase() {
  QString cs = ui->edtDB->text();
  if (TfrmDatabase::Execute(this, cs)) ui->edtDB->setText(cs);
}

void TfrmNewProject::advanced() {
  if (TfrmOptions::Edit(this, *project_, true)) project_->Modified = true;
}

void TfrmNewProject::done(int result) {
  if (result == QDialog::Accepted) {
    const QString fileName = ui->edtProject->text().trimmed();
    if (fileName.isEmpty()) {
      Prompt()->warning("Please enter the file name of the new project.");
      return;
    }
    const QString cs = ui->edtDB->text();
    const QString provider = GetConnectionProvider(cs).trimmed();
    const QString dataSource = GetConnectionDataSource(cs).trimmed();
    // A failed copy is not reported here: opening the database reports it.
    if (provider.compare(QLatin1String(kSqliteProvider), Qt::CaseInsensitive) == 0 &&
        !dataSource.isEmpty() && !QFileInfo::exists(dataSource))
      CopyTemplateDatabase(dataSource);
    project_->ConnectionString = cs;
    project_->FileName = ui->edtProject->text();
    SetCurrentConnectionString(cs);
  }
  TPlacedDialog::done(result);
}
