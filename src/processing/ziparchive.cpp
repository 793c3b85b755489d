#include "processing/ziparchive.h"

#include <QFile>
#include <QFileInfo>
#include <memory>
#include <zip.h>
#include <zlib.h>

namespace {

QString libzipText(int code) {
  zip_error_t error;
  zip_error_init_with_code(&error, code);
  const QString text = QString::fromUtf8(zip_error_strerror(&error));
  zip_error_fini(&error);
  return text;
}

QString archiveText(zip_t* archive) {
  return QString::fromUtf8(zip_error_strerror(zip_get_error(archive)));
}

// Streams bytes through raw deflate at the normal level (as the archive would) and counts the
// output.
class DeflateCounter {
public:
  DeflateCounter() {
    ok_ = deflateInit2(&s_, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) ==
          Z_OK;
  }
  ~DeflateCounter() {
    if (ok_) deflateEnd(&s_);
  }
  void feed(const char* data, qint64 size, bool last) {
    if (!ok_) return;
    s_.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
    s_.avail_in = uInt(size);
    in_ += size;
    int rc;
    do {
      s_.next_out = buffer_;
      s_.avail_out = sizeof(buffer_);
      rc = deflate(&s_, last ? Z_FINISH : Z_NO_FLUSH);
      out_ += qint64(sizeof(buffer_) - s_.avail_out);
    } while (s_.avail_out == 0 || (last && rc != Z_STREAM_END && rc != Z_STREAM_ERROR));
  }
  bool smaller() const { return ok_ && out_ < in_; }

private:
  z_stream s_{};
  bool ok_ = false;
  qint64 in_ = 0, out_ = 0;
  Bytef buffer_[64 * 1024];
};

} // namespace

bool DeflateMakesSmaller(const QByteArray& data) {
  auto counter = std::make_unique<DeflateCounter>();
  const qsizetype chunk = 1 << 20;
  qsizetype at = 0;
  do {
    const qsizetype n = std::min(chunk, data.size() - at);
    counter->feed(data.constData() + at, n, at + n >= data.size());
    at += n;
  } while (at < data.size());
  return counter->smaller();
}

bool FileDeflatesSmaller(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return false;
  auto counter = std::make_unique<DeflateCounter>();
  QByteArray buffer(1 << 20, Qt::Uninitialized);
  qint64 left = file.size();
  do {
    const qint64 n = file.read(buffer.data(), buffer.size());
    if (n < 0) return false;
    left -= n;
    counter->feed(buffer.constData(), n, left <= 0 || n == 0);
    if (n == 0) break;
  } while (left > 0);
  return counter->smaller();
}

QString ZipEntryName(const QString& relativePath) {
  // Called for every file of a project in each archived run: a plain scan, no pattern.
  QString name;
  name.reserve(relativePath.size());
  bool first = true;
  const QChar* const end = relativePath.constEnd();
  for (const QChar* at = relativePath.constBegin(); at != end;) {
    const QChar* stop = at;
    while (stop != end && *stop != QLatin1Char('/') && *stop != QLatin1Char('\\'))
      ++stop;
    QStringView part(at, stop);
    at = stop == end ? end : stop + 1;
    if (part.isEmpty()) continue;
    if (first) {
      first = false;
      // "C:" alone or in front of a name ("C:name" is relative to the drive's current folder).
      const QChar c = part.front();
      if (part.size() >= 2 && part[1] == QLatin1Char(':') &&
          ((c >= QLatin1Char('A') && c <= QLatin1Char('Z')) ||
           (c >= QLatin1Char('a') && c <= QLatin1Char('z'))))
        part = part.mid(2);
    }
    if (part.isEmpty() || part == QLatin1String(".") || part == QLatin1String("..")) continue;
    if (!name.isEmpty()) name += QLatin1Char('/');
    name += part;
  }
  return name;
}

TZipArchive::~TZipArchive() {
  if (archive_) zip_discard(archive_);
}

void TZipArchive::Open(const QString& fileName) {
  if (archive_) {
    zip_discard(archive_);
    archive_ = nullptr;
  }
  fileName_ = fileName;
  pending_ = 0;
  // Found out now rather than at the first save, after all the work of a run.
  const QString folder = QFileInfo(fileName).absolutePath();
  if (!QFileInfo(folder).isDir())
    throw TZipError(
        QStringLiteral("The folder \"%1\" of the zip archive does not exist.").arg(folder));
  reopen();
}

void TZipArchive::reopen() {
  int code = 0;
  const QByteArray encoded = QFile::encodeName(fileName_);
  archive_ = zip_open(encoded.constData(), ZIP_CREATE, &code);
  if (!archive_)
    throw TZipError(QStringLiteral("The zip archive \"%1\" cannot be opened: %2")
                        .arg(fileName_, libzipText(code)));
}

bool TZipArchive::AddFile(const QString& relativeName, TMethod method) {
  QString base = baseFolder_;
  if (!base.isEmpty() && !base.endsWith(QLatin1Char('/')) && !base.endsWith(QLatin1Char('\\')))
    base += QLatin1Char('/');
  return AddFileAs(base + relativeName, relativeName, method);
}

bool TZipArchive::AddFileAs(const QString& sourcePath, const QString& entryName, TMethod method) {
  if (!archive_)
    throw TZipError(QStringLiteral("The zip archive \"%1\" is not open.").arg(fileName_));
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty() || !QFileInfo(sourcePath).isFile()) return false;
  const QByteArray encoded = QFile::encodeName(sourcePath);
  zip_source_t* source = zip_source_file(archive_, encoded.constData(), 0, -1);
  if (!source)
    throw TZipError(QStringLiteral("The file \"%1\" cannot be added to the zip archive: %2")
                        .arg(sourcePath, archiveText(archive_)));
  const QByteArray utf8 = name.toUtf8();
  const zip_int64_t index =
      zip_file_add(archive_, utf8.constData(), source, ZIP_FL_OVERWRITE | ZIP_FL_ENC_UTF_8);
  if (index < 0) {
    zip_source_free(source);
    throw TZipError(QStringLiteral("The file \"%1\" cannot be added to the zip archive: %2")
                        .arg(sourcePath, archiveText(archive_)));
  }
  if (method == TMethod::Auto)
    method = FileDeflatesSmaller(sourcePath) ? TMethod::Deflate : TMethod::Store;
  const zip_int32_t cm = method == TMethod::Store ? ZIP_CM_STORE : ZIP_CM_DEFLATE;
  if (zip_set_file_compression(archive_, zip_uint64_t(index), cm, 0) < 0)
    throw TZipError(QStringLiteral("The file \"%1\" cannot be added to the zip archive: %2")
                        .arg(sourcePath, archiveText(archive_)));
  ++pending_;
  return true;
}

void TZipArchive::Save() {
  if (!archive_)
    throw TZipError(QStringLiteral("The zip archive \"%1\" is not open.").arg(fileName_));
  // zip_close writes a temporary file beside the archive and renames it over the archive.
  if (zip_close(archive_) < 0) {
    const QString reason = archiveText(archive_);
    zip_discard(archive_);
    archive_ = nullptr;
    throw TZipError(
        QStringLiteral("The zip archive \"%1\" cannot be written: %2").arg(fileName_, reason));
  }
  archive_ = nullptr;
  pending_ = 0;
  reopen();
}

qint64 TZipArchive::EntryCount() const {
  if (!archive_) return -1;
  return zip_get_num_entries(archive_, 0);
}
