#pragma once
// TTracer: a sink for one-line diagnostic notes, kept in memory and/or appended to a text file
// (each note followed by CR LF, no prefix), filtered by level.
//
// Threads: the process-wide instance (Tracer()) is called from the user-interface thread and the
// worker threads; it takes a lock around every write, so either output may be switched on.
#include <QFile>
#include <QMutex>
#include <QString>
#include <QStringList>
#include <memory>

class TTracer {
public:
  explicit TTracer(const QString& fileName);
  ~TTracer();

  int Write(const QString& message) { return WriteLevel(message, 0); }
  // Index of the message in the in-memory lines, or -1 when rejected or not kept in memory.
  // Raises TLumenfoldError when the log file cannot be opened or written.
  int WriteLevel(const QString& message, qint64 level);
  void SetKeepOpen(bool value);
  void Open();
  void Close();

  QString FileName() const;
  QStringList Lines() const;
  QString LastMessage() const;
  bool KeepInMemory = true;
  bool WriteToFile = true;
  bool KeepOpen() const { return keepOpen_; }
  qint64 MaxLevel = 2147483647;

private:
  void openLocked();
  void closeLocked();
  mutable QMutex mutex_;
  QString fileName_;
  std::unique_ptr<QFile> stream_;
  QStringList lines_;
  QString last_;
  bool keepOpen_ = false;
};

// The process-wide tracer: file "tracer.log" in the program folder, both outputs off.
TTracer& Tracer();
