#include "util/tracer.h"

#include "util/lumenfolderror.h"
#include "util/programfolder.h"

TTracer::TTracer(const QString& fileName) : fileName_(fileName) {}

TTracer::~TTracer() {
  QMutexLocker lock(&mutex_);
  closeLocked();
}

QString TTracer::FileName() const {
  QMutexLocker lock(&mutex_);
  return fileName_;
}

QStringList TTracer::Lines() const {
  QMutexLocker lock(&mutex_);
  return lines_;
}

QString TTracer::LastMessage() const {
  QMutexLocker lock(&mutex_);
  return last_;
}

void TTracer::openLocked() {
  if (stream_ || fileName_.isEmpty()) return;
  auto f = std::make_unique<QFile>(fileName_);
  if (!f->open(QIODevice::ReadWrite | QIODevice::Append)) {
    const QString message = f->errorString();
    fileName_.clear();
    throw TLumenfoldError(message);
  }
  stream_ = std::move(f);
}

void TTracer::closeLocked() {
  if (stream_) stream_->close();
  stream_.reset();
}

void TTracer::Open() {
  QMutexLocker lock(&mutex_);
  openLocked();
}

void TTracer::Close() {
  QMutexLocker lock(&mutex_);
  closeLocked();
}

void TTracer::SetKeepOpen(bool value) {
  QMutexLocker lock(&mutex_);
  if (value == keepOpen_) return;
  keepOpen_ = value;
  if (value)
    openLocked();
  else
    closeLocked();
}

int TTracer::WriteLevel(const QString& message, qint64 level) {
  QMutexLocker lock(&mutex_);
  if (level > MaxLevel) return -1;
  last_ = message;
  int result = -1;
  if (KeepInMemory) {
    lines_.append(message);
    result = int(lines_.size()) - 1;
  }
  if (!WriteToFile) return result;
  if (!keepOpen_) openLocked();
  if (stream_) {
    const QByteArray bytes = message.toLocal8Bit() + "\r\n";
    if (stream_->write(bytes) != bytes.size() || !stream_->flush()) {
      const QString error = stream_->errorString();
      if (!keepOpen_) closeLocked();
      throw TLumenfoldError(error);
    }
  }
  if (!keepOpen_) closeLocked();
  return result;
}

TTracer& Tracer() {
  static TTracer* tracer = [] {
    auto* t = new TTracer(ProgramFolder() + QStringLiteral("tracer.log"));
    t->KeepInMemory = false;
    t->WriteToFile = false;
    return t;
  }();
  return *tracer;
}
