#pragma once
// The command table of lumenfold-cli. Each command lives in its own source file cmd_<name>.cpp
// and registers itself with one line at file scope:
//
//   LUMENFOLD_CLI_COMMAND("process", "process PROJECT.lumenfold [--zip]", "Process ...",
//   RunProcess);
//
// The run function receives the arguments after the command name and returns the exit status.
// It reports failures by throwing TCliError (one line on standard error, non-zero status); the
// helpers below cover argument parsing and the common project steps.
//
// Threads: everything here runs on the program's main thread.
#include "util/lumenfolderror.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <memory>
#include <vector>

class TLumenfoldProject;

// Exit statuses of the program.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailure = 1;    // the command could not do its work
inline constexpr int kExitUsage = 2;      // wrong command line
inline constexpr int kExitIncomplete = 3; // finished, but something was skipped (see the report)
// Not an exit status: a command returns it, before it has changed anything, when it must draw
// signature captions and the program runs without fonts (CliHasFonts() false). main() then
// starts the GUI application, which the fonts need, and runs the command again.
inline constexpr int kRunAgainWithFonts = -1;

// True when fonts can be used (the program runs as a GUI application on the offscreen platform).
bool CliHasFonts();

// A failure that ends the command: main() prints "lumenfold-cli: <message>" and exits with status.
class TCliError : public TLumenfoldError {
public:
  explicit TCliError(const QString& message, int status = kExitFailure)
      : TLumenfoldError(message), status_(status) {}
  int status() const { return status_; }

private:
  int status_;
};

using TCliRun = std::function<int(const QStringList& args)>;

struct TCliCommand {
  QString name;
  QString usage;   // the synopsis without the program name
  QString summary; // one line
  TCliRun run;
};

// Registered commands, sorted by name.
const std::vector<TCliCommand>& CliCommands();
const TCliCommand* FindCliCommand(const QString& name);
bool RegisterCliCommand(TCliCommand command);

#define LUMENFOLD_CLI_CONCAT_(a, b) a##b
#define LUMENFOLD_CLI_CONCAT(a, b) LUMENFOLD_CLI_CONCAT_(a, b)
#define LUMENFOLD_CLI_COMMAND(name, usage, summary, run)                                           \
  [[maybe_unused]] static const bool LUMENFOLD_CLI_CONCAT(lumenfoldCliRegistered, __LINE__) =      \
      RegisterCliCommand(                                                                          \
          TCliCommand{QStringLiteral(name), QStringLiteral(usage), QStringLiteral(summary), run})

// Parsed arguments of one command: positional values and "--name value" / "--name=value"
// options. Option names are given without the dashes.
class TCliArgs {
public:
  // valueOptions take a value; flagOptions take none. Anything else starting with "--" is an
  // error (TCliError with kExitUsage), as is a value option without a value.
  TCliArgs(const QStringList& args, const QStringList& valueOptions,
           const QStringList& flagOptions = {});
  const QStringList& positional() const { return positional_; }
  bool has(const QString& option) const;
  QString value(const QString& option, const QString& fallback = QString()) const;
  // Checks the number of positional arguments; throws a usage error naming the synopsis.
  void expectPositional(int min, int max, const QString& usage) const;

private:
  QStringList positional_;
  QStringList names_, values_;
};

// While a guard lives, SIGINT, SIGTERM and SIGHUP (the terminal was closed) do not end the
// program: they ask the command to stop at its next safe point (CliInterrupted() becomes true).
// A second signal ends the program at once. The destructor puts the previous handlers back.
class TCliInterruptGuard {
public:
  TCliInterruptGuard();
  ~TCliInterruptGuard();
  TCliInterruptGuard(const TCliInterruptGuard&) = delete;
  TCliInterruptGuard& operator=(const TCliInterruptGuard&) = delete;
};
// True when one of those signals came while a guard lived (until the next guard starts).
bool CliInterrupted();

// Number of errors the model has reported so far in this run (0 without a CliPrompt).
int ModelErrorCount();
// The message followed by ": " and the errors the model reported since they were last taken
// (joined by "; "; each once, and none the message already holds), or the message alone when
// there were none.
QString WithModelErrors(const QString& message);

// Absolute, cleaned form of a path given on the command line (relative to the working folder).
QString AbsoluteCliPath(const QString& path);

// Loads a project for a command: the file must exist; its settings and database are loaded
// (the database connection string becomes the process-wide one). Throws TCliError when the file
// is missing, cannot be opened or the database cannot be loaded. When requireComplete is true, a
// file that was not read completely is refused too (saving it would replace the settings that
// were not read with defaults) and the project is locked (see projectlock.h) until the program
// ends; a project that another program holds is refused. complete receives whether the file was
// read completely. With loadDatabase false only the file is read (the albums stay empty): a
// command that points the project at another database must work while the old one is gone.
std::unique_ptr<TLumenfoldProject> LoadCliProject(const QString& path, bool requireComplete,
                                                  bool* complete = nullptr,
                                                  bool loadDatabase = true);

// Saves the project (albums and pictures to the database, then the project file) and checks that
// it worked: no database error was reported and the project file was written. Throws TCliError
// otherwise.
void SaveCliProject(TLumenfoldProject& project);
