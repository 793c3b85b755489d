#pragma once
// The places a project's site is published to, and how the transfer engine (rclone, run as a
// program) reaches each of them. A destination holds its name, its address and where its secrets
// come from (environment variables, a key file, the desktop's keyring); the secrets themselves are
// never stored with the project. The engine gets a destination as a remote defined only in its
// child's environment (RCLONE_CONFIG_<NAME>_<KEY>), so no secret is written to a file or shows on
// a command line.
//
// Threads: any thread (values only).
#include <QList>
#include <QMap>
#include <QString>

struct TPublishDestination {
  QString Name;
  // sftp://USER@HOST[:PORT]/PATH, ftp://..., ftps://..., webdav://..., webdavs://...,
  // s3://BUCKET/PREFIX?endpoint=URL&region=R, file:///PATH or rclone:REMOTE:PATH.
  QString Url;
  QString KeyFile;      // SFTP: the private key file
  QString PasswordEnv;  // the environment variable holding the password (CLI)
  QString AccessKeyEnv; // S3: the variables holding the access key and the secret key
  QString SecretKeyEnv;
  bool operator==(const TPublishDestination&) const = default;
};

// The secrets of one publish, taken from the keyring or the environment just before it runs.
struct TPublishSecrets {
  QString Password;
  QString AccessKey;
  QString SecretKey;
};

// The stored form (a JSON array) and its reading; entries without a name or address are dropped.
QString DestinationsToText(const QList<TPublishDestination>& list);
QList<TPublishDestination> DestinationsFromText(const QString& text);

// The destination of that name (case-sensitive), or null.
const TPublishDestination* FindDestination(const QList<TPublishDestination>& list,
                                           const QString& name);

// Why the destination cannot be added to the list (bad name, name taken, address not
// understood), or empty.
QString DestinationProblem(const QList<TPublishDestination>& list,
                           const TPublishDestination& destination);

// A destination as the engine sees it.
struct TRcloneTarget {
  // The remote path given to the engine ("lfdest:site/path", "myremote:path").
  QString Remote;
  // Environment entries that define the remote (without secrets).
  QMap<QString, QString> Environment;
  // The engine's backend: sftp, ftp, webdav, s3, local, or empty for a remote of the user's
  // own configuration.
  QString Type;
  // The address without a password, for messages.
  QString Display;
};

// Parses a destination's address. False with error set when it is not one of the forms above.
bool ParseDestinationUrl(const TPublishDestination& destination, TRcloneTarget& target,
                         QString* error);

// The secrets a CLI publish reads from the variables the destination names; error names a
// variable that is named but not set.
TPublishSecrets SecretsFromEnvironment(const TPublishDestination& destination, QString* error);

// Full path of the rclone program, or empty when it is not installed.
QString RcloneProgram();
// The message when it is missing.
QString RcloneMissingMessage();

// Adds the secrets to the target's environment: a password is obscured by the engine itself (the
// text goes through its standard input). False with error set when that fails.
bool AddSecrets(TRcloneTarget& target, const TPublishSecrets& secrets, QString* error);

class TLumenfoldProject;
// Adds the destination (DestinationProblem must be empty, else it is returned and nothing
// changes); the project gets its PublishId with its first destination. Marks it modified.
QString AddDestination(TLumenfoldProject& project, const TPublishDestination& destination);
// Removes the destination of that name; false when there is none.
bool RemoveDestination(TLumenfoldProject& project, const QString& name);
