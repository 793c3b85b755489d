#include "cli/clicommand.h"

#include "cli/cliprompt.h"
#include "core/project.h"
#include "core/projectlock.h"
#include "util/lumenfolderror.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <algorithm>
#include <csignal>
#include <map>

namespace {
std::vector<TCliCommand>& registry() {
  static std::vector<TCliCommand> commands;
  return commands;
}
} // namespace

const std::vector<TCliCommand>& CliCommands() {
  return registry();
}

const TCliCommand* FindCliCommand(const QString& name) {
  for (const TCliCommand& c : registry())
    if (c.name == name) return &c;
  return nullptr;
}

bool RegisterCliCommand(TCliCommand command) {
  auto& commands = registry();
  auto at = std::lower_bound(commands.begin(), commands.end(), command.name,
                             [](const TCliCommand& c, const QString& n) { return c.name < n; });
  commands.insert(at, std::move(command));
  return true;
}

TCliArgs::TCliArgs(const QStringList& args, const QStringList& valueOptions,
                   const QStringList& flagOptions) {
  bool onlyPositional = false;
  for (int i = 0; i < args.size(); ++i) {
    const QString& a = args[i];
    if (onlyPositional || !a.startsWith(QLatin1String("--"))) {
      positional_ << a;
      continue;
    }
    if (a == QLatin1String("--")) {
      onlyPositional = true;
      continue;
    }
    QString name = a.mid(2), value;
    const int eq = name.indexOf(QLatin1Char('='));
    const bool inlineValue = eq >= 0;
    if (inlineValue) {
      value = name.mid(eq + 1);
      name = name.left(eq);
    }
    if (valueOptions.contains(name)) {
      if (!inlineValue) {
        if (i + 1 >= args.size())
          throw TCliError(QStringLiteral("option --%1 needs a value").arg(name), kExitUsage);
        value = args[++i];
      }
    } else if (flagOptions.contains(name)) {
      if (inlineValue)
        throw TCliError(QStringLiteral("option --%1 takes no value").arg(name), kExitUsage);
    } else {
      throw TCliError(QStringLiteral("unknown option %1").arg(a), kExitUsage);
    }
    names_ << name;
    values_ << value;
  }
}

bool TCliArgs::has(const QString& option) const {
  return names_.contains(option);
}

QString TCliArgs::value(const QString& option, const QString& fallback) const {
  const int i = names_.lastIndexOf(option);
  return i < 0 ? fallback : values_[i];
}

void TCliArgs::expectPositional(int min, int max, const QString& usage) const {
  if (positional_.size() < min || positional_.size() > max)
    throw TCliError(QStringLiteral("usage: lumenfold-cli %1").arg(usage), kExitUsage);
}

int ModelErrorCount() {
  CliPrompt* prompt = CliPrompt::instance();
  return prompt ? prompt->errorCount() : 0;
}

QString WithModelErrors(const QString& message) {
  CliPrompt* prompt = CliPrompt::instance();
  // An error the message has taken up already (a run's reason names the database's error) is
  // not said twice.
  const QString said = OneLine(message);
  QStringList errors;
  for (const QString& error : prompt ? prompt->takeErrors() : QStringList())
    if (!said.contains(error) && !errors.contains(error)) errors.append(error);
  return errors.isEmpty() ? message
                          : message + QStringLiteral(": ") + errors.join(QStringLiteral("; "));
}

QString AbsoluteCliPath(const QString& path) {
  return QDir::cleanPath(QDir::current().absoluteFilePath(path));
}

std::unique_ptr<TLumenfoldProject> LoadCliProject(const QString& path, bool requireComplete,
                                                  bool* complete, bool loadDatabase) {
  const QString file = AbsoluteCliPath(path);
  const QFileInfo info(file);
  if (!info.exists()) throw TCliError(QStringLiteral("project file not found: %1").arg(file));
  if (!info.isFile()) throw TCliError(QStringLiteral("not a project file: %1").arg(file));
  {
    QFile probe(file);
    if (!probe.open(QIODevice::ReadOnly))
      throw TCliError(
          QStringLiteral("cannot open project file %1: %2").arg(file, probe.errorString()));
  }
  // A command that saves holds the project's lock until the program ends: no second run or
  // desktop window writes it meanwhile.
  // (A command run again, with fonts, keeps the lock it took the first time.)
  static std::map<QString, std::unique_ptr<TProjectLock>> held;
  if (requireComplete && !held.count(file)) {
    auto lock = std::make_unique<TProjectLock>(file);
    if (lock->TryLock() == TProjectLock::HeldByOther) throw TCliError(lock->Message());
    held.emplace(file, std::move(lock));
  }
  const int errorsBefore = ModelErrorCount();
  bool read = false, loaded = false;
  auto project = std::make_unique<TLumenfoldProject>();
  try {
    // A second object tells whether the file alone reads completely; the load below reports the
    // file and the database together.
    TLumenfoldProject probe;
    read = probe.ReadSettings(file);
    if (loadDatabase) {
      loaded = project->LoadFromFile(file);
    } else {
      project->ReadSettings(file);
      loaded = true;
    }
  } catch (const std::exception& e) {
    throw TCliError(QStringLiteral("cannot read project file %1: %2").arg(file, TextOf(e)));
  }
  if (complete) *complete = read;
  if (requireComplete && !read)
    throw TCliError(QStringLiteral("project file %1 is damaged or incomplete (it could not be "
                                   "read to its end); not using it")
                        .arg(file));
  // A file that reads completely but does not load names a database that cannot be read.
  // A file read only in part is to blame for a database it names badly.
  if ((read && !loaded) || ModelErrorCount() != errorsBefore)
    throw TCliError(WithModelErrors(
        read ? QStringLiteral("cannot load the database of project %1").arg(file)
             : QStringLiteral("project file %1 is damaged or incomplete (it could not be read "
                              "to its end), and the database it names cannot be loaded")
                   .arg(file)));
  return project;
}

void SaveCliProject(TLumenfoldProject& project) {
  const int errorsBefore = ModelErrorCount();
  bool saved = false;
  try {
    saved = project.SaveToFile();
  } catch (const std::exception& e) {
    throw TCliError(
        QStringLiteral("saving project %1 failed: %2").arg(project.FileName, TextOf(e)));
  }
  if (ModelErrorCount() != errorsBefore)
    throw TCliError(
        WithModelErrors(QStringLiteral("saving project %1 failed").arg(project.FileName)));
  if (!saved || project.Modified)
    throw TCliError(QStringLiteral("cannot write project file %1").arg(project.FileName));
}

namespace {
constexpr int kStopSignals[] = {SIGINT, SIGTERM, SIGHUP};
volatile std::sig_atomic_t interruptedBy = 0;
struct sigaction previousActions[3];

extern "C" void onStopSignal(int signal) {
  interruptedBy = signal;
  // A second signal ends the program at once.
  struct sigaction fallback = {};
  fallback.sa_handler = SIG_DFL;
  for (int s : kStopSignals)
    sigaction(s, &fallback, nullptr);
}
} // namespace

TCliInterruptGuard::TCliInterruptGuard() {
  interruptedBy = 0;
  struct sigaction action = {};
  action.sa_handler = onStopSignal;
  sigemptyset(&action.sa_mask);
  for (int i = 0; i < 3; ++i)
    sigaction(kStopSignals[i], &action, &previousActions[i]);
}

TCliInterruptGuard::~TCliInterruptGuard() {
  for (int i = 0; i < 3; ++i)
    sigaction(kStopSignals[i], &previousActions[i], nullptr);
}

bool CliInterrupted() {
  return interruptedBy != 0;
}

bool CliHasFonts() {
  return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
}
