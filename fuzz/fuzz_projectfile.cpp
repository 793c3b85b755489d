// Feeds arbitrary bytes to the project-file reader. Beyond not crashing, the settings of a file
// that reads completely must survive writing and reading again: the bytes written after a second
// read equal the bytes written after the first. Only a text that is not valid UTF-16 (a lone
// surrogate from a 0x12 text) may change once, as it has no UTF-8 form; after that the writing
// must be stable.
#include "core/project.h"
#include "util/userprompt.h"

#include <QByteArray>
#include <QStringView>
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

const QString kPath = QStringLiteral("/fuzz/site/input.lumenfold");

[[noreturn]] void fail(const char* what, const QByteArray& a, const QByteArray& b = {}) {
  std::fprintf(stderr, "%s\n  %s\n  %s\n", what, a.toHex(' ').constData(),
               b.toHex(' ').constData());
  std::abort();
}

bool textsAreValid(const TLumenfoldProject& p) {
  for (const QString* t :
       {&p.ConnectionString, &p.ThumbFolder, &p.ThumbPrefix, &p.MediumFolder, &p.MediumPrefix,
        &p.LargeFolder, &p.LargePrefix, &p.RenameTemplate, &p.ZipFileName, &p.SiteTemplate})
    if (!QStringView(*t).isValidUtf16()) return false;
  return true;
}

// Reads bytes that the writer made: the read must be complete and leave the project unmodified.
QByteArray rewrite(const QByteArray& bytes) {
  TLumenfoldProject project;
  if (!project.SettingsFromBytes(bytes, kPath) || project.Modified)
    fail("written settings do not read back completely", bytes);
  return project.SettingsToBytes();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentPrompt prompt;
  static const bool installed = (SetPrompt(&prompt), true);
  (void)installed;

  const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
  TLumenfoldProject project;
  if (!project.SettingsFromBytes(input, kPath)) return 0;
  if (project.Modified) fail("a complete read left the project modified", input);

  const QByteArray first = project.SettingsToBytes();
  const QByteArray second = rewrite(first);
  if (textsAreValid(project)) {
    if (first != second) fail("settings changed on the way through the file", first, second);
  } else if (rewrite(second) != second) {
    fail("settings keep changing on the way through the file", second, rewrite(second));
  }
  return 0;
}
