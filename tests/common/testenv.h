#pragma once
// Shared test fixtures: a fresh temporary folder and settings store per test program, a prompt
// that records what the model would have shown, fresh project databases and small JPEG files.
#include "processing/archive/zipwriter.h"
#include "util/userprompt.h"

#include <QImage>
#include <QMap>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

class RecordingPrompt final : public UserPrompt {
public:
  RecordingPrompt();
  ~RecordingPrompt() override;
  void error(const QString& text) override;
  void warning(const QString& text) override;
  bool confirm(const QString& text) override;
  QStringList errors() const;
  QStringList warnings() const;
  QStringList questions() const;
  void clear();
  bool answer = true; // reply to confirm()

private:
  mutable QMutex mutex_;
  QStringList errors_, warnings_, questions_;
  UserPrompt* previous_;
};

class TestEnv {
public:
  // Makes a temporary folder and points XDG_CONFIG_HOME (the settings store) into it.
  TestEnv();
  QString path(const QString& name = QString()) const;
  // Copies template.db from the program folder to a new file in the temporary folder and returns
  // its connection string ("Provider=SQLite;Data Source=...").
  QString newDatabase(const QString& fileName = QStringLiteral("db.sqlite")) const;
  // Closes this thread's connections, makes a fresh database as newDatabase() does and makes it
  // the current connection string; returns it (empty on failure).
  QString useNewDatabase() const;
  // Makes a folder (with parents) inside the temporary folder and returns its full path.
  QString makeFolder(const QString& relative) const;

private:
  QTemporaryDir dir_;
};

// The whole content of a file, or empty when it cannot be read.
QByteArray ReadTestFile(const QString& path);

// An entry of a zip archive on disk, found through the archive's directory: its fields, its
// content (inflated with zlib), and whether that content has the recorded size and CRC.
struct TTestZipEntry {
  TZipEntryHeader Header;
  QByteArray Data;
  bool Good = false;
};
// The entries by name; empty when the file is no archive.
QMap<QString, TTestZipEntry> ReadTestZip(const QString& path);

// A small image with an asymmetric pattern (each quadrant its own colour), for orientation tests.
QImage MakeTestImage(int width, int height);
// Writes a JPEG file of the given size; returns false on failure.
bool WriteTestJpeg(const QString& path, int width, int height, int quality = 90);
