#include "ui/project/frmnewproject.h"

#include "core/project.h"
#include "core/projectops.h"
#include "db/connectionstring.h"
#include "db/sqlaccess.h"
#include "ui/common/filedialogs.h"
#include "ui/project/frmdatabase.h"
#include "ui/project/frmoptions.h"
#include "ui_frmnewproject.h"
#include "util/programfolder.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

bool isSqlite(const QString& connectionString) {
  return GetConnectionProvider(connectionString)
             .trimmed()
             .compare(QLatin1String(kSqliteProvider), Qt::CaseInsensitive) == 0;
}

QString folderOf(const QString& file) {
  return QFileInfo(QDir::cleanPath(file)).absolutePath();
}

// True when the connection string names an SQLite file that belongs with the project file: no
// file yet, the default database in the program folder, or a file in the project's own folder.
bool databaseFollows(const QString& connectionString, const QString& projectFile) {
  if (!isSqlite(connectionString)) return false;
  const QString source = GetConnectionDataSource(connectionString).trimmed();
  if (source.isEmpty()) return true;
  if (QDir::cleanPath(source) == QDir::cleanPath(ProgramFolder() + QStringLiteral("db.sqlite")))
    return true;
  return !projectFile.trimmed().isEmpty() && folderOf(source) == folderOf(projectFile);
}

// The connection string with its database file moved into the project's folder.
QString databaseBeside(QString connectionString, const QString& projectFile) {
  QString name = QFileInfo(GetConnectionDataSource(connectionString).trimmed()).fileName();
  if (name.isEmpty() || QDir::cleanPath(GetConnectionDataSource(connectionString).trimmed()) ==
                            QDir::cleanPath(ProgramFolder() + QStringLiteral("db.sqlite")))
    name = QStringLiteral("db.sqlite");
  SetConnectionDataSource(
      connectionString, QDir::toNativeSeparators(folderOf(projectFile) + QLatin1Char('/') + name));
  return connectionString;
}

} // namespace

QString TfrmNewProject::ProposedFolder() {
  QString base;
  for (auto location : {QStandardPaths::PicturesLocation, QStandardPaths::DocumentsLocation}) {
    const QString path = QStandardPaths::writableLocation(location);
    if (!path.isEmpty() && QFileInfo(path).isDir()) {
      base = path;
      break;
    }
  }
  if (base.isEmpty()) base = QDir::homePath();
  return QDir::toNativeSeparators(QDir::cleanPath(base + QStringLiteral("/LumenFold")));
}

QString TfrmNewProject::ProposedProjectFile() {
  const QString folder = IncludeTrailingSeparator(ProposedFolder());
  for (int n = 1;; ++n) {
    const QString file = folder + QStringLiteral("site%1.lumenfold").arg(n);
    if (!QFileInfo::exists(file)) return file;
  }
}

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
  connect(ui->edtProject, &QLineEdit::textChanged, this, &TfrmNewProject::projectNameChanged);
  // A connection string the user types or chooses stays as it is.
  connect(ui->edtDB, &QLineEdit::textChanged, this, [this] {
    if (!loading_ && !settingDb_) {
      dbFollows_ = false;
      ui->lblDBNote->hide();
    }
  });
}

TfrmNewProject::~TfrmNewProject() = default;

bool TfrmNewProject::Execute(QWidget* owner, TLumenfoldProject& project) {
  TfrmNewProject dialog(owner);
  dialog.Project().Assign(project);
  ApplyNewProjectDefaults(dialog.Project());
  if (dialog.exec() != QDialog::Accepted) return false;
  project.Assign(dialog.Project());
  return true;
}

void TfrmNewProject::FirstShow() {
  loading_ = true;
  if (project_->FileName.isEmpty()) project_->FileName = ProposedProjectFile();
  ui->edtProject->setText(project_->FileName);
  dbFollows_ = databaseFollows(project_->ConnectionString, project_->FileName);
  setDatabaseText(dbFollows_ ? databaseBeside(project_->ConnectionString, project_->FileName)
                             : project_->ConnectionString);
  preferredDbName_ = QFileInfo(GetConnectionDataSource(ui->edtDB->text()).trimmed()).fileName();
  if (dbFollows_) proposeDatabase(project_->FileName);
  loading_ = false;
}

void TfrmNewProject::projectNameChanged(const QString& text) {
  if (loading_) return;
  project_->FileName = text;
  if (dbFollows_ && !text.trimmed().isEmpty()) proposeDatabase(text.trimmed());
}

void TfrmNewProject::proposeDatabase(const QString& projectFile) {
  const TDatabaseProposal proposal = ProposeProjectDatabase(projectFile, preferredDbName_);
  QString cs = ui->edtDB->text();
  SetConnectionDataSource(cs, QDir::toNativeSeparators(proposal.path));
  setDatabaseText(cs);
  ui->lblDBNote->setText(proposal.reason);
  ui->lblDBNote->setVisible(!proposal.reason.isEmpty());
}

void TfrmNewProject::setDatabaseText(const QString& text) {
  settingDb_ = true;
  ui->edtDB->setText(text);
  settingDb_ = false;
}

void TfrmNewProject::browseProject() {
  ChooseNewProjectFile(ui->edtProject, "Select name for new Lumenfold project", "lumenfold",
                       "LumenFold Projects (*.lumenfold)|*.lumenfold|All files (*.*)|*.*");
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
    // The project file is written at the first save, into a folder that must exist by then.
    const QString folder = folderOf(fileName);
    if (!QDir().mkpath(folder)) {
      Prompt()->warning(QStringLiteral("The folder of the new project could not be created:\n%1")
                            .arg(QDir::toNativeSeparators(folder)));
      return;
    }
    const QString cs = ui->edtDB->text();
    const QString provider = GetConnectionProvider(cs).trimmed();
    const QString dataSource = GetConnectionDataSource(cs).trimmed();
    // Sharing a database means sharing its albums: only on purpose.
    if (IsFileProvider(provider) && !dataSource.isEmpty()) {
      const QString shared = SharedDatabaseWarning(dataSource);
      if (!shared.isEmpty() &&
          !Prompt()->confirm(shared + QStringLiteral("\n\nUse this database for the new project?")))
        return;
    }
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
