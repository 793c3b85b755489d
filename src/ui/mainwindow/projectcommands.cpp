#include "ui/mainwindow/projectcommands.h"

#include "core/project.h"
#include "ui/mainwindow/commandcontext.h"
#include "ui/common/filedialogs.h"
#include "ui/project/frmdatabase.h"
#include "ui/project/frmnewproject.h"
#include "ui/project/frmoptions.h"

#include <QWidget>

namespace {
const QString kProjectFilter =
    QStringLiteral("LumenFold Projects (*.lumenfold)|*.lumenfold|All files (*.*)|*.*");
} // namespace

TProjectCommands::TProjectCommands(TCommandContext& context, TMainActions& actions, QObject* parent)
    : QObject(parent), context_(context) {
  WireCommand(context, actions.actNewProject, this, [this] { NewProject(); });
  WireCommand(context, actions.actSaveProject, this, [this] { context_.SaveCurrentProject(); });
  WireCommand(context, actions.actSaveProjectAs, this, [this] { SaveProjectAs(); });
  WireCommand(context, actions.actOpenProject, this, [this] { OpenProject(); });
  WireCommand(context, actions.actCloseProject, this, [this] { CloseProject(); });
  WireCommand(context, actions.actExit, this, [this] { context_.Window()->close(); });
  WireCommand(context, actions.actDatabase, this, [this] { Database(); });
  WireCommand(context, actions.actOption, this, [this] { Options(); });
}

void TProjectCommands::NewProject() {
  // Unsaved changes of the open project are offered for saving before they are replaced.
  if (!context_.AskSaveModified()) return;
  TLumenfoldProject settings;
  settings.Assign(*context_.Project());
  if (TfrmNewProject::Execute(context_.Window(), settings)) context_.StartNewProject(settings);
}

void TProjectCommands::OpenProject() {
  if (!context_.AskSaveModified()) return;
  TFileDialogRequest request;
  request.save = false;
  request.title = QStringLiteral("Open LumenFold project");
  request.defaultSuffix = QStringLiteral("lumenfold");
  request.filter = kProjectFilter;
  request.startFolder = ProjectsFolder(context_.Project()->FileName);
  const QString file = ChooseFileName(context_.Window(), request);
  if (!file.isEmpty()) context_.OpenProjectFile(file);
}

void TProjectCommands::SaveProjectAs() {
  TLumenfoldProject* project = context_.Project();
  TFileDialogRequest request;
  request.save = true;
  request.title = QStringLiteral("Save LumenFold project");
  request.defaultSuffix = QStringLiteral("lumenfold");
  request.initialName = project->FileName;
  request.filter = kProjectFilter;
  request.startFolder = ProjectsFolder(project->FileName);
  const QString file = ChooseFileName(context_.Window(), request);
  if (file.isEmpty()) return;
  project->FileName = file;
  context_.SaveCurrentProject();
}

void TProjectCommands::CloseProject() {
  // Unsaved changes are offered for saving rather than dropped.
  if (context_.AskSaveModified()) context_.CloseCurrentProject();
}

void TProjectCommands::Database() {
  TLumenfoldProject* project = context_.Project();
  QString connection = project->ConnectionString;
  if (TfrmDatabase::Execute(context_.Window(), connection) &&
      connection != project->ConnectionString)
    context_.ChangeDatabase(connection);
  context_.UpdateView();
}

void TProjectCommands::Options() {
  // The dialog works on its own copy and writes it back only after OK.
  TLumenfoldProject* project = context_.Project();
  if (TfrmOptions::Edit(context_.Window(), *project, false)) {
    project->Modified = true;
    context_.UpdateView();
  }
}
