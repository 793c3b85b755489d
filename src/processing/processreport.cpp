#include "processing/processreport.h"

#include <QDir>

QString ProcessStageText(int stage) {
  switch (stage) {
  case psHash:
    return QStringLiteral("getting hash and size of the file");
  case psLoad:
    return QStringLiteral("loading picture");
  case psLarge:
    return QStringLiteral("processing large image");
  case psMedium:
    return QStringLiteral("processing medium image");
  case psThumb:
    return QStringLiteral("processing thumbnail image");
  case psDatabase:
    return QStringLiteral("updating database");
  case psZipPictures:
    return QStringLiteral("inserting pictures into zip archive...");
  case psZipDatabase:
    return QStringLiteral("inserting database into zip archive...");
  case psZipTemplate:
    return QStringLiteral("inserting template into zip archive...");
  default:
    return QString();
  }
}

QString ProcessFinishedText() {
  return QStringLiteral("Processing finished successfully.");
}

QString ProcessTerminatedText() {
  return QStringLiteral("Processing was terminated and finished.");
}

namespace {
constexpr int kReportedReasons = 10;
} // namespace

QStringList TProcessReport::Lines() const {
  QStringList lines;
  auto add = [&](int n, const char* one, const char* many) {
    if (n == 1) lines.append(QString::fromLatin1(one));
    if (n > 1) lines.append(QString::fromLatin1(many).arg(n));
  };
  add(MissingOriginals, "1 original picture was not found and was skipped.",
      "%1 original pictures were not found and were skipped.");
  constexpr int kNamedFiles = 50;
  for (const QString& path : MissingFiles.mid(0, kNamedFiles))
    lines.append(QStringLiteral("  ") + QDir::toNativeSeparators(path));
  if (MissingFiles.size() > kNamedFiles)
    lines.append(QStringLiteral("  ... and %1 more.").arg(MissingFiles.size() - kNamedFiles));
  add(IrregularOriginals, "1 original picture is not a regular file and was skipped.",
      "%1 original pictures are not regular files and were skipped.");
  add(UnreadableOriginals, "1 original picture cannot be read and was skipped.",
      "%1 original pictures cannot be read and were skipped.");
  add(UndecodableOriginals, "1 original picture could not be decoded and was skipped.",
      "%1 original pictures could not be decoded and were skipped.");
  add(RefusedOriginals, "1 picture was skipped because of its file name or file type.",
      "%1 pictures were skipped because of their file names or file types.");
  add(DamagedOriginals,
      "1 original picture is truncated or damaged; its images show only what could be read.",
      "%1 original pictures are truncated or damaged; their images show only what could be read.");
  add(BadSignatureImages,
      "1 signature image is missing or cannot be read; pictures were stamped without it.",
      "%1 signature images are missing or cannot be read; pictures were stamped without them.");
  add(MissingArchiveFiles, "1 file of a published picture was missing and is not in the archive.",
      "%1 files of published pictures were missing and are not in the archive.");
  add(RefusedFiles, "1 file of a picture is no picture file of its album and was not packed.",
      "%1 files of pictures are no picture files of their albums and were not packed.");
  lines += Reasons;
  if (MoreReasons > 0) lines.append(QStringLiteral("and %1 more.").arg(MoreReasons));
  return lines;
}

void TProcessReport::AddReason(const QString& reason) {
  if (Reasons.size() < kReportedReasons)
    Reasons << reason;
  else
    ++MoreReasons;
}
