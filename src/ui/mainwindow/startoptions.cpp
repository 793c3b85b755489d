#include "ui/mainwindow/startoptions.h"

#include "ui/mainwindow/frmmain.h"
#include "util/userprompt.h"

#include <QDir>
#include <QFileInfo>
#include <QMetaObject>
#include <QPointer>

TStartOptions ParseStartOptions(const QStringList& arguments) {
  TStartOptions options;
  for (const QString& a : arguments) {
    if (a == QLatin1String("--help") || a == QLatin1String("-h") || a == QLatin1String("-?")) {
      options.action = TStartOptions::Help;
      return options;
    }
  }
  if (arguments.contains(QLatin1String("--version"))) {
    options.action = TStartOptions::Version;
    return options;
  }
  bool optionsEnd = false;
  QStringList files;
  for (const QString& a : arguments) {
    if (!optionsEnd && a == QLatin1String("--")) {
      optionsEnd = true;
    } else if (!optionsEnd && a.startsWith(QLatin1Char('-')) && a.size() > 1) {
      options.action = TStartOptions::Error;
      options.error = QStringLiteral("unknown option \"%1\" (try --help)").arg(a);
      return options;
    } else if (!a.isEmpty()) {
      files << a;
    }
  }
  if (files.size() > 1) {
    options.action = TStartOptions::Error;
    options.error = QStringLiteral("one project file at a time, not %1").arg(files.size());
    return options;
  }
  if (!files.isEmpty())
    options.projectFile = QDir::toNativeSeparators(QFileInfo(files.first()).absoluteFilePath());
  return options;
}

QString DesktopUsageText() {
  return QStringLiteral(
      "usage: lumenfold [PROJECT.lumenfold]\n"
      "\n"
      "Prepares the content of a photo web site: albums of JPEG originals with their titles,\n"
      "turns, crops, categories and watermarks, processed into web-sized pictures and packed\n"
      "with a site template into one archive for upload.\n"
      "\n"
      "arguments:\n"
      "  PROJECT.lumenfold  open this project at start (no start dialog)\n"
      "\n"
      "options:\n"
      "  -h, --help         show this text and exit\n"
      "  --version          show the version and exit\n"
      "\n"
      "The window system's own options (for example -platform offscreen) are accepted too.\n"
      "Without a window, lumenfold-cli does the same work from a terminal.\n");
}

QString VersionLine(const QString& program) {
  QString line = program + QLatin1Char(' ') + QStringLiteral(LUMENFOLD_VERSION);
  const QString special = QStringLiteral(LUMENFOLD_SPECIAL_BUILD);
  if (!special.isEmpty()) line += QStringLiteral(" (%1)").arg(special);
  return line;
}

void OpenProjectAtStart(TfrmLumenFold2* window, const QString& fileName) {
  QPointer<TfrmLumenFold2> target(window);
  QMetaObject::invokeMethod(
      window,
      [target, fileName] {
        if (!target) return;
        if (QFileInfo(fileName).isFile()) {
          target->OpenProjectFile(fileName);
          return;
        }
        Prompt()->error(QStringLiteral("The project file does not exist:\n%1").arg(fileName));
        target->ShowStartDialog();
      },
      Qt::QueuedConnection);
}
