#include "ui/processing/keyring.h"

#include <QEventLoop>
#include <QTimer>
#include <qt6keychain/keychain.h>

namespace {

constexpr const char* kService = "LumenFold publishing";
// A keyring that does not answer in this time counts as unavailable.
constexpr int kPatienceMs = 10000;

QString keyOf(const QString& publishId, const QString& destination) {
  return publishId + QLatin1Char('/') + destination;
}

TKeyringAnswer wait(QKeychain::Job& job) {
  job.setAutoDelete(false);
  job.setInsecureFallback(false); // never a plain-text file instead of the keyring
  QEventLoop loop;
  bool finished = false;
  QObject::connect(&job, &QKeychain::Job::finished, &loop, [&] {
    finished = true;
    loop.quit();
  });
  QTimer::singleShot(kPatienceMs, &loop, &QEventLoop::quit);
  job.start();
  if (!finished) loop.exec(QEventLoop::ExcludeUserInputEvents);
  TKeyringAnswer answer;
  if (!finished) {
    answer.Unavailable = true;
    answer.Error = QStringLiteral("the keyring did not answer");
    return answer;
  }
  switch (job.error()) {
  case QKeychain::NoError:
    answer.Ok = true;
    break;
  case QKeychain::NoBackendAvailable:
  case QKeychain::NotImplemented:
    answer.Unavailable = true;
    break;
  case QKeychain::OtherError:
    // A desktop without a keyring daemon answers this way (no D-Bus service to talk to).
    answer.Unavailable =
        job.errorString().contains(QLatin1String("DBus"), Qt::CaseInsensitive) ||
        job.errorString().contains(QLatin1String("D-Bus"), Qt::CaseInsensitive) ||
        job.errorString().contains(QLatin1String("unknown error"), Qt::CaseInsensitive);
    break;
  default:
    break;
  }
  if (!answer.Ok) answer.Error = job.errorString();
  return answer;
}

} // namespace

TKeyringAnswer KeyringStore(const QString& publishId, const QString& destination,
                            const QString& password) {
  QKeychain::WritePasswordJob job{QLatin1String(kService)};
  job.setKey(keyOf(publishId, destination));
  job.setTextData(password);
  return wait(job);
}

TKeyringAnswer KeyringRead(const QString& publishId, const QString& destination) {
  QKeychain::ReadPasswordJob job{QLatin1String(kService)};
  job.setKey(keyOf(publishId, destination));
  TKeyringAnswer answer = wait(job);
  if (answer.Ok) answer.Password = job.textData();
  return answer;
}

TKeyringAnswer KeyringForget(const QString& publishId, const QString& destination) {
  QKeychain::DeletePasswordJob job{QLatin1String(kService)};
  job.setKey(keyOf(publishId, destination));
  return wait(job);
}
