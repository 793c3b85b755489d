// Feeds arbitrary bytes to the project-file reader. Beyond not crashing, the settings of a file
// that reads completely must survive writing and reading again: the second writing gives the
// same bytes as the first.
#include "core/project.h"
#include "db/userprompt.h"

#include <QByteArray>
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

void dump(const char* what, const QByteArray& bytes) {
  std::fprintf(stderr, "%s (%lld bytes): %s\n", what, static_cast<long long>(bytes.size()),
               bytes.toHex(' ').constData());
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static SilentPrompt prompt;
  static const bool installed = (SetPrompt(&prompt), true);
  (void)installed;

  const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
  TLumenfoldProject project;
  if (!project.SettingsFromBytes(input, kPath)) return 0;

  const QByteArray first = project.SettingsToBytes();
  TLumenfoldProject again;
  if (!again.SettingsFromBytes(first, kPath)) {
    dump("written settings do not read back", first);
    std::abort();
  }
  if (again.Modified) {
    dump("a complete read left the project modified", first);
    std::abort();
  }
  const QByteArray second = again.SettingsToBytes();
  if (first != second) {
    dump("first writing", first);
    dump("second writing", second);
    std::abort();
  }
  return 0;
}
