// Feeds arbitrary bytes to the project-file reader. Beyond not crashing, a file that reads
// completely must survive a write and a second read with every setting unchanged.
#include "core/project.h"
#include "db/userprompt.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace {

class SilentPrompt final : public UserPrompt {
public:
  void error(const QString&) override {}
  void warning(const QString&) override {}
  bool confirm(const QString&) override { return false; }
};

// Every setting that the file carries, as one comparable record.
QStringList Settings(const TLumenfoldProject& p) {
  return {p.ConnectionString,
          QString::number(p.ThumbEnabled),
          QString::number(p.ThumbWidth),
          QString::number(p.ThumbHeight),
          p.ThumbFolder,
          p.ThumbPrefix,
          QString::number(p.ThumbQuality),
          QString::number(p.MediumEnabled),
          QString::number(p.MediumWidth),
          QString::number(p.MediumHeight),
          p.MediumFolder,
          p.MediumPrefix,
          QString::number(p.MediumQuality),
          QString::number(p.LargeEnabled),
          p.LargeFolder,
          p.LargePrefix,
          QString::number(p.LargeQuality),
          QString::number(p.WarnUpscale),
          QString::number(p.NeverUpscale),
          QString::number(p.FileNameCase),
          QString::number(p.ResizeMethod),
          TLumenfoldProject::WizardPagesToText(p.WizardPages),
          QString::number(p.RenameStart),
          p.RenameTemplate,
          p.ZipFileName,
          QString::number(p.Reserved1),
          QString::number(p.Reserved2),
          QString::number(p.Reserved3),
          QString::number(p.ProcessAfterWizard),
          QString::number(p.ZipDatabase),
          p.SiteTemplate,
          QString::number(p.ZipEnabled)};
}

struct Scratch {
  QTemporaryDir dir;
  QString input, output;
  SilentPrompt prompt;
  Scratch() {
    if (!dir.isValid()) std::abort();
    input = dir.filePath(QStringLiteral("input.lumenfold"));
    output = dir.filePath(QStringLiteral("output.lumenfold"));
    SetPrompt(&prompt);
  }
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Scratch scratch;
  {
    QFile f(scratch.input);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) std::abort();
    if (f.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size)) std::abort();
  }
  TLumenfoldProject project;
  bool complete = false;
  try {
    complete = project.ReadSettings(scratch.input);
  } catch (...) {
    return 0; // an unreadable file may raise; the caller reports it
  }
  if (!complete) return 0;

  // A complete read must round-trip through the writer.
  project.FileName = scratch.output;
  project.WriteSettings();
  TLumenfoldProject again;
  if (!again.ReadSettings(scratch.output)) {
    std::fprintf(stderr, "a file that read completely could not be read back after writing\n");
    std::abort();
  }
  // Texts are compared in their UTF-8 form: a lone UTF-16 surrogate read from a 0x12 text has no
  // UTF-8 form and is written as a replacement character, which is expected.
  QStringList a = Settings(project), b = Settings(again);
  for (QString& t : a)
    t = QString::fromUtf8(t.toUtf8());
  for (QString& t : b)
    t = QString::fromUtf8(t.toUtf8());
  if (a != b) {
    for (int i = 0; i < a.size(); ++i)
      if (a[i] != b[i])
        std::fprintf(stderr, "setting %d changed: \"%s\" -> \"%s\"\n", i, a[i].toUtf8().constData(),
                     b[i].toUtf8().constData());
    std::abort();
  }
  return 0;
}
