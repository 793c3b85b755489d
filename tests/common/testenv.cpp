#include "testenv.h"

#include "db/sqlaccess.h"
#include "util/programfolder.h"

#include <QDir>
#include <QFile>
#include <QPainter>
#include <QtTest>
#include <zlib.h>

RecordingPrompt::RecordingPrompt() {
  previous_ = SetPrompt(this);
}
RecordingPrompt::~RecordingPrompt() {
  SetPrompt(previous_);
}

void RecordingPrompt::error(const QString& text) {
  QMutexLocker lock(&mutex_);
  errors_ << text;
}
void RecordingPrompt::warning(const QString& text) {
  QMutexLocker lock(&mutex_);
  warnings_ << text;
}
bool RecordingPrompt::confirm(const QString& text) {
  QMutexLocker lock(&mutex_);
  questions_ << text;
  return answer;
}
QStringList RecordingPrompt::errors() const {
  QMutexLocker lock(&mutex_);
  return errors_;
}
QStringList RecordingPrompt::warnings() const {
  QMutexLocker lock(&mutex_);
  return warnings_;
}
QStringList RecordingPrompt::questions() const {
  QMutexLocker lock(&mutex_);
  return questions_;
}
void RecordingPrompt::clear() {
  QMutexLocker lock(&mutex_);
  errors_.clear();
  warnings_.clear();
  questions_.clear();
}

TestEnv::TestEnv() {
  dir_.setAutoRemove(true);
  QDir(dir_.path()).mkpath("config");
  qputenv("XDG_CONFIG_HOME", QFile::encodeName(dir_.filePath("config")));
}

QString TestEnv::path(const QString& name) const {
  return name.isEmpty() ? dir_.path() : dir_.filePath(name);
}

QString TestEnv::newDatabase(const QString& fileName) const {
  const QString target = dir_.filePath(fileName);
  QFile::remove(target);
  if (!QFile::copy(ProgramFolder() + "template.db", target)) return QString();
  QFile(target).setPermissions(QFile::ReadOwner | QFile::WriteOwner);
  return QStringLiteral("Provider=SQLite;Data Source=") + target;
}

QString TestEnv::useNewDatabase() const {
  CloseThreadConnections();
  const QString cs = newDatabase();
  SetCurrentConnectionString(cs);
  return cs;
}

QString TestEnv::makeFolder(const QString& relative) const {
  QDir(dir_.path()).mkpath(relative);
  return dir_.filePath(relative);
}

QByteArray ReadTestFile(const QString& path) {
  QFile f(path);
  return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QMap<QString, TTestZipEntry> ReadTestZip(const QString& path) {
  QMap<QString, TTestZipEntry> result;
  QFile file(path);
  std::vector<TZipDirectoryEntry> directory;
  if (!file.open(QIODevice::ReadOnly) ||
      !ReadZipDirectory(file.handle(), file.size(), directory, nullptr))
    return result;
  for (const TZipDirectoryEntry& d : directory) {
    TTestZipEntry e;
    e.Header = d.Header;
    const qint64 at = ZipEntryDataOffset(file.handle(), file.size(), d);
    const QByteArray raw =
        at >= 0 && file.seek(at) ? file.read(qint64(d.Header.CompressedSize)) : QByteArray();
    if (d.Header.Method == kZipStored) {
      e.Data = raw;
    } else if (d.Header.Method == kZipDeflated) {
      e.Data.resize(qsizetype(d.Header.Size));
      z_stream s{};
      s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(raw.constData()));
      s.avail_in = uInt(raw.size());
      s.next_out = reinterpret_cast<Bytef*>(e.Data.data());
      s.avail_out = uInt(e.Data.size());
      const bool inflated =
          inflateInit2(&s, -MAX_WBITS) == Z_OK && inflate(&s, Z_FINISH) == Z_STREAM_END;
      inflateEnd(&s);
      if (!inflated) e.Data.clear();
    }
    e.Good = quint64(e.Data.size()) == d.Header.Size &&
             crc32(0, reinterpret_cast<const Bytef*>(e.Data.constData()), uInt(e.Data.size())) ==
                 d.Header.Crc;
    result.insert(QString::fromUtf8(d.Header.Name), e);
  }
  return result;
}

QImage MakeTestImage(int width, int height) {
  QImage img(width, height, QImage::Format_RGB32);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const bool right = x >= width / 2, bottom = y >= height / 2;
      QRgb c = !right && !bottom  ? qRgb(255, 0, 0)
               : right && !bottom ? qRgb(0, 255, 0)
               : !right           ? qRgb(0, 0, 255)
                                  : qRgb(255, 255, 0);
      img.setPixel(x, y, c);
    }
  return img;
}

bool WriteTestJpeg(const QString& path, int width, int height, int quality) {
  QImage img = MakeTestImage(width, height);
  return img.save(path, "JPEG", quality);
}
