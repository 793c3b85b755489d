#include "core/destinations.h"

#include "core/project.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QUrl>
#include <QUrlQuery>
#include <QUuid>

namespace {

// The name of the remote that the child's environment defines.
constexpr const char* kRemoteName = "LFDEST";

QString envKey(const QString& key) {
  return QStringLiteral("RCLONE_CONFIG_%1_%2").arg(QLatin1String(kRemoteName), key);
}

bool isVariableName(const QString& name) {
  static const QRegularExpression re(QStringLiteral("^[A-Za-z_][A-Za-z0-9_]*$"));
  return re.match(name).hasMatch();
}

} // namespace

QString DestinationsToText(const QList<TPublishDestination>& list) {
  QJsonArray array;
  for (const TPublishDestination& d : list) {
    QJsonObject o{{"name", d.Name}, {"url", d.Url}};
    if (!d.KeyFile.isEmpty()) o.insert("keyFile", d.KeyFile);
    if (!d.PasswordEnv.isEmpty()) o.insert("passwordEnv", d.PasswordEnv);
    if (!d.AccessKeyEnv.isEmpty()) o.insert("accessKeyEnv", d.AccessKeyEnv);
    if (!d.SecretKeyEnv.isEmpty()) o.insert("secretKeyEnv", d.SecretKeyEnv);
    array.append(o);
  }
  return QString::fromUtf8(QJsonDocument(array).toJson(QJsonDocument::Compact));
}

QList<TPublishDestination> DestinationsFromText(const QString& text) {
  QList<TPublishDestination> list;
  const QJsonArray array = QJsonDocument::fromJson(text.toUtf8()).array();
  for (const QJsonValue& v : array) {
    const QJsonObject o = v.toObject();
    TPublishDestination d;
    d.Name = o.value("name").toString();
    d.Url = o.value("url").toString();
    d.KeyFile = o.value("keyFile").toString();
    d.PasswordEnv = o.value("passwordEnv").toString();
    d.AccessKeyEnv = o.value("accessKeyEnv").toString();
    d.SecretKeyEnv = o.value("secretKeyEnv").toString();
    if (!d.Name.isEmpty() && !d.Url.isEmpty()) list.append(d);
  }
  return list;
}

const TPublishDestination* FindDestination(const QList<TPublishDestination>& list,
                                           const QString& name) {
  for (const TPublishDestination& d : list)
    if (d.Name == name) return &d;
  return nullptr;
}

QString DestinationProblem(const QList<TPublishDestination>& list,
                           const TPublishDestination& destination) {
  static const QRegularExpression nameRe(QStringLiteral("^[A-Za-z0-9][A-Za-z0-9._-]{0,63}$"));
  if (!nameRe.match(destination.Name).hasMatch())
    return QStringLiteral("The destination name \"%1\" must be 1 to 64 letters, digits, dots, "
                          "dashes or underscores.")
        .arg(destination.Name);
  if (FindDestination(list, destination.Name))
    return QStringLiteral("There is already a destination \"%1\".").arg(destination.Name);
  for (const QString& var :
       {destination.PasswordEnv, destination.AccessKeyEnv, destination.SecretKeyEnv})
    if (!var.isEmpty() && !isVariableName(var))
      return QStringLiteral("\"%1\" is not the name of an environment variable.").arg(var);
  TRcloneTarget target;
  QString error;
  if (!ParseDestinationUrl(destination, target, &error)) return error;
  return QString();
}

bool ParseDestinationUrl(const TPublishDestination& destination, TRcloneTarget& target,
                         QString* error) {
  const QString text = destination.Url.trimmed();
  auto fail = [&](const QString& why) {
    // The address is shown without a password that was typed into it.
    const QString shown = text.startsWith(QLatin1String("rclone:"))
                              ? text
                              : QUrl(text).toString(QUrl::RemovePassword);
    if (error) *error = QStringLiteral("The address \"%1\" cannot be used: %2").arg(shown, why);
    return false;
  };
  target = TRcloneTarget();
  const QString remote = QLatin1String(kRemoteName) + QLatin1Char(':');
  if (text.startsWith(QLatin1String("rclone:"))) {
    // A remote of the user's own configuration: REMOTE:PATH.
    const QString rest = text.mid(7);
    static const QRegularExpression re(QStringLiteral("^[A-Za-z0-9_][A-Za-z0-9_. -]*:.*$"));
    if (!re.match(rest).hasMatch()) return fail(QStringLiteral("expected rclone:REMOTE:PATH."));
    target.Remote = rest;
    target.Display = text;
    return true;
  }
  const QUrl url(text, QUrl::StrictMode);
  if (!url.isValid() || url.scheme().isEmpty())
    return fail(QStringLiteral("it is not an address (sftp://USER@HOST/PATH, ftp://, ftps://, "
                               "webdav://, webdavs://, s3://, file:///PATH or "
                               "rclone:REMOTE:PATH)."));
  if (!url.password().isEmpty())
    return fail(QStringLiteral("a password does not belong in the address; give the name of an "
                               "environment variable that holds it, or keep it in the keyring."));
  const QString scheme = url.scheme().toLower();
  QString path = url.path();
  auto& env = target.Environment;
  if (scheme == QLatin1String("file")) {
    if (!url.host().isEmpty() || !path.startsWith(QLatin1Char('/')) || path.size() < 2)
      return fail(QStringLiteral("expected file:///PATH, an absolute folder."));
    target.Type = QStringLiteral("local");
    env.insert(envKey("TYPE"), target.Type);
    target.Remote = remote + path;
  } else if (scheme == QLatin1String("sftp") || scheme == QLatin1String("ftp") ||
             scheme == QLatin1String("ftps")) {
    if (url.host().isEmpty()) return fail(QStringLiteral("the server's name is missing."));
    target.Type = scheme == QLatin1String("sftp") ? QStringLiteral("sftp") : QStringLiteral("ftp");
    env.insert(envKey("TYPE"), target.Type);
    env.insert(envKey("HOST"), url.host());
    if (url.port() > 0) env.insert(envKey("PORT"), QString::number(url.port()));
    if (!url.userName().isEmpty()) env.insert(envKey("USER"), url.userName());
    if (scheme == QLatin1String("ftps")) env.insert(envKey("EXPLICIT_TLS"), QStringLiteral("true"));
    // Changes are told by the manifest's checksums: no commands run on the server (many web
    // hosts allow none), and none is spent on each connection finding out which ones could.
    if (target.Type == QLatin1String("sftp")) {
      env.insert(envKey("SHELL_TYPE"), QStringLiteral("none"));
      env.insert(envKey("DISABLE_HASHCHECK"), QStringLiteral("true"));
    }
    if (!destination.KeyFile.isEmpty()) {
      if (target.Type != QLatin1String("sftp"))
        return fail(QStringLiteral("a key file is used only with sftp://."));
      env.insert(envKey("KEY_FILE"), destination.KeyFile);
    }
    // sftp://host/site is "site" below the login folder; sftp://host//var/www is absolute.
    if (path.startsWith(QLatin1String("//")))
      path = path.mid(1);
    else if (path.startsWith(QLatin1Char('/')))
      path = path.mid(1);
    target.Remote = remote + path;
  } else if (scheme == QLatin1String("webdav") || scheme == QLatin1String("webdavs")) {
    if (url.host().isEmpty()) return fail(QStringLiteral("the server's name is missing."));
    target.Type = QStringLiteral("webdav");
    QUrl base = url;
    base.setScheme(scheme == QLatin1String("webdavs") ? QStringLiteral("https")
                                                      : QStringLiteral("http"));
    base.setUserName(QString());
    env.insert(envKey("TYPE"), target.Type);
    env.insert(envKey("URL"), base.toString());
    env.insert(envKey("VENDOR"), QStringLiteral("other"));
    if (!url.userName().isEmpty()) env.insert(envKey("USER"), url.userName());
    target.Remote = remote;
  } else if (scheme == QLatin1String("s3")) {
    if (url.host().isEmpty())
      return fail(QStringLiteral("the bucket is missing (s3://BUCKET/PREFIX)."));
    const QUrlQuery query(url);
    target.Type = QStringLiteral("s3");
    env.insert(envKey("TYPE"), target.Type);
    env.insert(envKey("PROVIDER"), QStringLiteral("Other"));
    env.insert(envKey("ENV_AUTH"), QStringLiteral("false"));
    const QString endpoint = query.queryItemValue(QStringLiteral("endpoint"), QUrl::FullyDecoded);
    const QString region = query.queryItemValue(QStringLiteral("region"), QUrl::FullyDecoded);
    if (!endpoint.isEmpty()) {
      env.insert(envKey("ENDPOINT"), endpoint);
      env.insert(envKey("FORCE_PATH_STYLE"), QStringLiteral("true"));
    }
    if (!region.isEmpty()) env.insert(envKey("REGION"), region);
    target.Remote = remote + url.host() + path;
  } else {
    return fail(QStringLiteral("the kind \"%1:\" is not known.").arg(scheme));
  }
  while (target.Remote.endsWith(QLatin1Char('/')) && !target.Remote.endsWith(QLatin1String(":/")))
    target.Remote.chop(1);
  QUrl shown = url;
  shown.setPassword(QString());
  target.Display = shown.toString();
  return true;
}

TPublishSecrets SecretsFromEnvironment(const TPublishDestination& destination, QString* error) {
  TPublishSecrets secrets;
  auto take = [&](const QString& var, QString& into) {
    if (var.isEmpty()) return;
    if (!qEnvironmentVariableIsSet(var.toLocal8Bit().constData())) {
      if (error && error->isEmpty())
        *error = QStringLiteral("The environment variable %1 is not set.").arg(var);
      return;
    }
    into = qEnvironmentVariable(var.toLocal8Bit().constData());
  };
  take(destination.PasswordEnv, secrets.Password);
  take(destination.AccessKeyEnv, secrets.AccessKey);
  take(destination.SecretKeyEnv, secrets.SecretKey);
  return secrets;
}

QString RcloneProgram() {
  return QStandardPaths::findExecutable(QStringLiteral("rclone"));
}

QString RcloneMissingMessage() {
  return QStringLiteral("Publishing needs the program rclone, which is not installed. Install "
                        "the Debian package rclone (sudo apt install rclone).");
}

bool AddSecrets(TRcloneTarget& target, const TPublishSecrets& secrets, QString* error) {
  if (!secrets.AccessKey.isEmpty())
    target.Environment.insert(envKey("ACCESS_KEY_ID"), secrets.AccessKey);
  if (!secrets.SecretKey.isEmpty())
    target.Environment.insert(envKey("SECRET_ACCESS_KEY"), secrets.SecretKey);
  QString password = secrets.Password;
  if (password.isEmpty() && target.Type == QLatin1String("ftp")) {
    // The engine cannot log in to FTP without a password; an anonymous login takes any.
    const QString user = target.Environment.value(envKey("USER"));
    if (user.compare(QLatin1String("anonymous"), Qt::CaseInsensitive) != 0 &&
        user.compare(QLatin1String("ftp"), Qt::CaseInsensitive) != 0) {
      if (error)
        *error = QStringLiteral("%1 needs a password: name the environment variable that holds "
                                "it (--password-env) or type it in the Publish window.")
                     .arg(target.Display);
      return false;
    }
    password = QStringLiteral("anonymous@");
  }
  if (password.isEmpty()) return true;
  const QString program = RcloneProgram();
  if (program.isEmpty()) {
    if (error) *error = RcloneMissingMessage();
    return false;
  }
  // "rclone obscure -" reads the password from its standard input: it never shows on a command
  // line.
  QProcess p;
  p.start(program, {QStringLiteral("obscure"), QStringLiteral("-")});
  p.write(password.toUtf8());
  p.closeWriteChannel();
  if (!p.waitForFinished(30000) || p.exitStatus() != QProcess::NormalExit || p.exitCode() != 0) {
    if (error) *error = QStringLiteral("rclone could not prepare the password.");
    return false;
  }
  const QString obscured = QString::fromUtf8(p.readAllStandardOutput()).trimmed();
  if (obscured.isEmpty()) {
    if (error) *error = QStringLiteral("rclone could not prepare the password.");
    return false;
  }
  target.Environment.insert(envKey("PASS"), obscured);
  return true;
}

QString AddDestination(TLumenfoldProject& project, const TPublishDestination& destination) {
  if (const QString problem = DestinationProblem(project.Destinations, destination);
      !problem.isEmpty())
    return problem;
  project.Destinations.append(destination);
  if (project.PublishId.isEmpty())
    project.PublishId = QUuid::createUuid().toString(QUuid::WithoutBraces);
  project.Modified = true;
  return QString();
}

bool RemoveDestination(TLumenfoldProject& project, const QString& name) {
  for (qsizetype i = 0; i < project.Destinations.size(); ++i)
    if (project.Destinations[i].Name == name) {
      project.Destinations.removeAt(i);
      project.Modified = true;
      return true;
    }
  return false;
}
