#pragma once
// Files the tests write and archives they read back. Header-only.
#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QMap>
#include <QString>

#include "testenv.h"

// Writes the bytes to the file, making its folder first.
inline void writeBytes(const QString& path, const QByteArray& data) {
  QDir().mkpath(QFileInfo(path).absolutePath());
  QFile f(path);
  if (f.open(QIODevice::WriteOnly)) f.write(data);
}

// Every entry of a zip archive by name; empty when the file is no archive.
inline QMap<QString, QByteArray> readZip(const QString& path) {
  QMap<QString, QByteArray> entries;
  for (const auto& [name, entry] : ReadTestZip(path).asKeyValueRange())
    entries.insert(name, entry.Data);
  return entries;
}
