// lumenfold-cli destination: the places the project's site is published to. Only names,
// addresses and the names of environment variables are stored, never a password or key.
#include "cli/clicommand.h"
#include "core/destinations.h"
#include "core/project.h"
#include "util/helpers.h"

#include <cstdio>

namespace {

constexpr const char* kUsage =
    "destination PROJECT.lumenfold add NAME URL [--key FILE] [--password-env VAR] "
    "[--access-key-env VAR] [--secret-key-env VAR] | list | remove NAME";

void print(const QString& line) {
  std::printf("%s\n", EscapeControlCharacters(line).toLocal8Bit().constData());
}

int RunDestination(const QStringList& raw) {
  const TCliArgs args(raw, {QStringLiteral("key"), QStringLiteral("password-env"),
                            QStringLiteral("access-key-env"), QStringLiteral("secret-key-env")});
  args.expectPositional(2, 4, QString::fromLatin1(kUsage));
  const QString verb = args.positional()[1];
  const int count = int(args.positional().size());
  if (verb == QLatin1String("list")) {
    args.expectPositional(2, 2, QString::fromLatin1(kUsage));
    auto project = LoadCliProject(args.positional()[0], false, nullptr, false);
    for (const TPublishDestination& d : std::as_const(project->Destinations)) {
      QStringList fields = {d.Name, d.Url};
      if (!d.KeyFile.isEmpty()) fields << QStringLiteral("key=") + d.KeyFile;
      if (!d.PasswordEnv.isEmpty()) fields << QStringLiteral("password-env=") + d.PasswordEnv;
      if (!d.AccessKeyEnv.isEmpty()) fields << QStringLiteral("access-key-env=") + d.AccessKeyEnv;
      if (!d.SecretKeyEnv.isEmpty()) fields << QStringLiteral("secret-key-env=") + d.SecretKeyEnv;
      for (QString& f : fields)
        f = EscapeControlCharacters(f);
      std::printf("%s\n", fields.join(QLatin1Char('\t')).toLocal8Bit().constData());
    }
    return kExitOk;
  }
  if (verb == QLatin1String("add") && count == 4) {
    TPublishDestination d;
    d.Name = args.positional()[2];
    d.Url = args.positional()[3];
    if (args.has(QStringLiteral("key"))) d.KeyFile = AbsoluteCliPath(args.value("key"));
    d.PasswordEnv = args.value(QStringLiteral("password-env"));
    d.AccessKeyEnv = args.value(QStringLiteral("access-key-env"));
    d.SecretKeyEnv = args.value(QStringLiteral("secret-key-env"));
    auto project = LoadCliProject(args.positional()[0], true, nullptr, false);
    if (const QString problem = AddDestination(*project, d); !problem.isEmpty())
      throw TCliError(problem, kExitUsage);
    SaveCliProject(*project);
    print(QStringLiteral("added destination %1").arg(d.Name));
    return kExitOk;
  }
  if (verb == QLatin1String("remove") && count == 3) {
    auto project = LoadCliProject(args.positional()[0], true, nullptr, false);
    if (!RemoveDestination(*project, args.positional()[2]))
      throw TCliError(QStringLiteral("there is no destination \"%1\"").arg(args.positional()[2]));
    SaveCliProject(*project);
    print(QStringLiteral("removed destination %1; nothing on its server was touched")
              .arg(args.positional()[2]));
    return kExitOk;
  }
  throw TCliError(QStringLiteral("usage: lumenfold-cli %1").arg(QLatin1String(kUsage)), kExitUsage);
}

} // namespace

LUMENFOLD_CLI_COMMAND("destination",
                      "destination PROJECT.lumenfold add NAME URL [--key FILE] "
                      "[--password-env VAR] [--access-key-env VAR] [--secret-key-env VAR] | list "
                      "| remove NAME",
                      "Adds, lists or removes the places the site is published to. URL is "
                      "sftp://USER@HOST[:PORT]/PATH, ftp://, ftps://, webdav://, webdavs://, "
                      "s3://BUCKET/PREFIX?endpoint=URL&region=R, file:///PATH or "
                      "rclone:REMOTE:PATH; passwords and keys are read at publish time from the "
                      "named environment variables and are never stored.",
                      RunDestination);
