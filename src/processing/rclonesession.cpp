#include "processing/rclonesession.h"

#include "util/filedescriptor.h"

#include <QJsonDocument>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QThread>
#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

// A file descriptor closed when it goes.
QByteArray randomText(int bytes) {
  QByteArray raw(bytes, Qt::Uninitialized);
  QRandomGenerator::system()->fillRange(reinterpret_cast<quint32*>(raw.data()), bytes / 4);
  return raw.toHex();
}

bool sendAll(int fd, const QByteArray& data) {
  qsizetype done = 0;
  while (done < data.size()) {
    const ssize_t n = ::send(fd, data.constData() + done, size_t(data.size() - done), MSG_NOSIGNAL);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    done += n;
  }
  return true;
}

} // namespace

TRcloneSession::TRcloneSession(const QString& program, const QMap<QString, QString>& environment,
                               const QStringList& dropped)
    : program_(program), environment_(environment), dropped_(dropped) {}

TRcloneSession::~TRcloneSession() {
  {
    std::lock_guard lock(mutex_);
    if (pid_ > 0 && !ended_) ::kill(pid_, SIGTERM);
  }
  if (supervisor_.joinable()) supervisor_.join();
}

bool TRcloneSession::Start(QString* error) {
  const QByteArray user = randomText(8), password = randomText(16);
  auth_ = "Basic " + (user + ':' + password).toBase64();
  // Everything the child needs is made before it is forked: after fork only exec may follow.
  std::vector<QByteArray> envText;
  QMap<QString, QString> env = environment_;
  env.insert(QStringLiteral("RCLONE_RC_USER"), QString::fromLatin1(user));
  env.insert(QStringLiteral("RCLONE_RC_PASS"), QString::fromLatin1(password));
  for (char** e = environ; *e; ++e) {
    const QByteArray entry(*e);
    const QString key = QString::fromLocal8Bit(entry.left(entry.indexOf('=')));
    if (!env.contains(key) && !dropped_.contains(key)) envText.push_back(entry);
  }
  for (auto it = env.cbegin(); it != env.cend(); ++it)
    envText.push_back((it.key() + QLatin1Char('=') + it.value()).toLocal8Bit());
  std::vector<QByteArray> argText = {program_.toLocal8Bit(),     "rcd", "--rc-addr", "127.0.0.1:0",
                                     "--rc-job-expire-duration", "1h"};
  int pipeFds[2];
  if (::pipe2(pipeFds, O_CLOEXEC) != 0) {
    if (error) *error = QStringLiteral("rclone could not be started: no pipe.");
    return false;
  }
  // The supervisor starts the engine, reads its log until it ends, and reaps it.
  supervisor_ = std::thread([this, pipeFds, envText = std::move(envText),
                             argText = std::move(argText)]() mutable {
    std::vector<char*> envp, argv;
    for (QByteArray& e : envText)
      envp.push_back(e.data());
    envp.push_back(nullptr);
    for (QByteArray& a : argText)
      argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = ::fork();
    if (pid == 0) {
      ::prctl(PR_SET_PDEATHSIG, SIGTERM);
      ::dup2(pipeFds[1], STDERR_FILENO);
      const int null = ::open("/dev/null", O_RDWR | O_CLOEXEC);
      if (null >= 0) {
        ::dup2(null, STDIN_FILENO);
        ::dup2(null, STDOUT_FILENO);
      }
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    ::close(pipeFds[1]);
    {
      std::lock_guard lock(mutex_);
      pid_ = pid;
      if (pid < 0) ended_ = true;
    }
    changed_.notify_all();
    TFileDescriptor log(pipeFds[0]);
    if (pid < 0) return;
    static const QRegularExpression listening(QStringLiteral("on http://127\\.0\\.0\\.1:(\\d+)/"));
    QByteArray pending;
    char buffer[4096];
    for (;;) {
      const ssize_t n = ::read(log.get(), buffer, sizeof buffer);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) break;
      pending.append(buffer, n);
      qsizetype nl;
      while ((nl = pending.indexOf('\n')) >= 0) {
        const QString line = QString::fromUtf8(pending.left(nl)).trimmed();
        pending.remove(0, nl + 1);
        std::lock_guard lock(mutex_);
        const auto m = listening.match(line);
        if (port_ == 0 && m.hasMatch())
          port_ = m.captured(1).toInt();
        else if (!line.isEmpty())
          log_ = (log_ + QLatin1Char('\n') + line).right(2000);
        changed_.notify_all();
      }
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    {
      std::lock_guard lock(mutex_);
      ended_ = true;
    }
    changed_.notify_all();
  });
  std::unique_lock lock(mutex_);
  const bool ready =
      changed_.wait_for(lock, std::chrono::seconds(30), [this] { return port_ > 0 || ended_; });
  if (ready && port_ > 0) return true;
  if (error) {
    QString why = log_.section(QLatin1Char('\n'), -2).simplified();
    *error = QStringLiteral("rclone could not be started%1")
                 .arg(why.isEmpty() ? QStringLiteral(".") : QStringLiteral(": ") + why);
  }
  if (pid_ > 0 && !ended_) ::kill(pid_, SIGTERM);
  return false;
}

bool TRcloneSession::post(const QString& command, const QJsonObject& body, int& status,
                          QJsonObject& answer, QString& error) {
  int port;
  {
    std::lock_guard lock(mutex_);
    port = port_;
    if (ended_ || port <= 0) {
      error = QStringLiteral("rclone stopped unexpectedly. %1")
                  .arg(log_.section('\n', -2).simplified());
      return false;
    }
  }
  TFileDescriptor s(::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0));
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(quint16(port));
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (s.get() < 0 || ::connect(s.get(), reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    error = QStringLiteral("rclone does not answer.");
    return false;
  }
  const QByteArray json = QJsonDocument(body).toJson(QJsonDocument::Compact);
  // HTTP/1.0: the answer ends where the connection closes.
  const QByteArray request =
      "POST /" + command.toUtf8() + " HTTP/1.0\r\nHost: 127.0.0.1\r\nAuthorization: " + auth_ +
      "\r\nContent-Type: application/json\r\nContent-Length: " + QByteArray::number(json.size()) +
      "\r\n\r\n" + json;
  if (!sendAll(s.get(), request)) {
    error = QStringLiteral("rclone does not answer.");
    return false;
  }
  QByteArray reply;
  char buffer[65536];
  for (;;) {
    const ssize_t n = ::recv(s.get(), buffer, sizeof buffer, 0);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) {
      error = QStringLiteral("rclone's answer broke off.");
      return false;
    }
    if (n == 0) break;
    reply.append(buffer, n);
  }
  const qsizetype headerEnd = reply.indexOf("\r\n\r\n");
  const QList<QByteArray> statusLine = reply.left(reply.indexOf("\r\n")).split(' ');
  if (headerEnd < 0 || statusLine.size() < 2) {
    error = QStringLiteral("rclone gave an answer that cannot be read.");
    return false;
  }
  status = statusLine.at(1).toInt();
  answer = QJsonDocument::fromJson(reply.mid(headerEnd + 4)).object();
  if (status != 200 && answer.isEmpty()) {
    error = QStringLiteral("rclone refused the request (%1).").arg(status);
    return false;
  }
  return true;
}

TRcloneSession::TResult TRcloneSession::Call(const QString& command, QJsonObject parameters,
                                             const std::atomic<bool>* cancel,
                                             const std::function<void(const QJsonObject&)>& stats) {
  TResult result;
  parameters.insert(QStringLiteral("_async"), true);
  int status = 0;
  QJsonObject answer;
  if (!post(command, parameters, status, answer, result.Error)) return result;
  if (status != 200) {
    result.Error = answer.value(QStringLiteral("error")).toString();
    return result;
  }
  const int job = answer.value(QStringLiteral("jobid")).toInt();
  const QJsonObject jobId{{"jobid", job}};
  const QJsonObject group{{"group", QStringLiteral("job/%1").arg(job)}};
  // Short steps are answered within milliseconds: ask often at first, then every 200 ms.
  int wait = 2;
  bool stopped = false;
  for (;;) {
    if (!post(QStringLiteral("job/status"), jobId, status, answer, result.Error)) return result;
    if (answer.value(QStringLiteral("finished")).toBool()) break;
    if (cancel && *cancel && !stopped) {
      stopped = true;
      result.Cancelled = true;
      QJsonObject ignored;
      QString ignoredError;
      post(QStringLiteral("job/stop"), jobId, status, ignored, ignoredError);
    }
    if (stats) {
      QJsonObject s;
      QString ignoredError;
      if (post(QStringLiteral("core/stats"), group, status, s, ignoredError) && status == 200)
        stats(s);
    }
    QThread::msleep(wait);
    wait = std::min(wait * 2, 200);
  }
  if (stats) {
    QJsonObject s;
    QString ignoredError;
    if (post(QStringLiteral("core/stats"), group, status, s, ignoredError) && status == 200)
      stats(s);
  }
  result.Ok = answer.value(QStringLiteral("success")).toBool() && !result.Cancelled;
  result.Error = answer.value(QStringLiteral("error")).toString();
  result.Output = answer.value(QStringLiteral("output")).toObject();
  return result;
}
