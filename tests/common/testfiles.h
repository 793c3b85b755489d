#pragma once
// Files the tests write and archives they read back. Header-only.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>
#include <zip.h>

// Writes the bytes to the file, making its folder first.
inline void writeBytes(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(data);
}

// Every entry of a zip archive by name; empty when the archive cannot be opened.
inline QMap<QString, QByteArray> readZip(const QString& path) {
  QMap<QString, QByteArray> entries;
  int code = 0;
  zip_t* z = zip_open(QFile::encodeName(path).constData(), ZIP_RDONLY, &code);
  if (!z) return entries;
  for (zip_int64_t i = 0; i < zip_get_num_entries(z, 0); ++i) {
    zip_stat_t st;
    zip_stat_index(z, i, 0, &st);
    QByteArray data(qsizetype(st.size), Qt::Uninitialized);
    if (zip_file_t* f = zip_fopen_index(z, i, 0)) {
      zip_fread(f, data.data(), st.size);
      zip_fclose(f);
    }
    entries.insert(QString::fromUtf8(st.name), data);
  }
  zip_close(z);
  return entries;
}
