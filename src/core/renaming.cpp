#include "core/renaming.h"

#include "core/album.h"
#include "core/picture.h"

#include <QLocale>
#include <QSet>
#include <QStringList>

const char* const RenameMacroKeys[kRenameMacroCount] = {"%PREVIOUS%",
                                                        "%ALBUM_ID%",
                                                        "%ALBUM_DATE%",
                                                        "%SHORT_ALBUM_NAME%",
                                                        "%SHORT_ALBUM_NAME2%",
                                                        "%LONG_ALBUM_NAME%",
                                                        "%LONG_ALBUM_NAME2%",
                                                        "%PICTURE_ID%",
                                                        "%PICTURE_DATE%",
                                                        "%PICTURE_TITLE%",
                                                        "%PICTURE_TITLE2%",
                                                        "%ORIGINAL_FILENAME%",
                                                        "%ORIGINAL_HASH%",
                                                        "%ORIGINAL_SIZE%",
                                                        "%ORIGINAL_WIDTH%",
                                                        "%ORIGINAL_HEIGHT%",
                                                        "%N000%"};

const char* const RenameMacroLabels[kRenameMacroCount] = {
    "Previous name",      "Album Id",        "Album date",       "Short album name",
    "Short album name 2", "Long album name", "Long album name2", "Picture Id",
    "Picture date",       "Picture title",   "Picture title2",   "Original filename",
    "Original hash",      "Original size",   "Original width",   "Original height",
    "Sequential number"};

namespace {

// Removes leading and trailing blanks and control characters.
QString trimmed(const QString& text) {
  qsizetype first = 0, last = text.size();
  while (first < last && text[first].unicode() <= 32)
    ++first;
  while (last > first && text[last - 1].unicode() <= 32)
    --last;
  return text.mid(first, last - first);
}

QString shortDate(const QDateTime& date) {
  if (!date.isValid()) return QString();
  return QLocale::system().toString(date.date(), QLocale::ShortFormat);
}

QString padded(qint64 n, int digits) {
  const QString number = QString::number(n < 0 ? -n : n).rightJustified(digits, QLatin1Char('0'));
  return n < 0 ? QStringLiteral("-") + number : number;
}

} // namespace

void SplitExtension(const QString& name, QString& base, QString& extension) {
  const qsizetype sep =
      qMax(name.lastIndexOf(QLatin1Char('/')), name.lastIndexOf(QLatin1Char('\\')));
  const qsizetype dot = name.lastIndexOf(QLatin1Char('.'));
  if (dot > sep) {
    base = name.left(dot);
    extension = name.mid(dot);
  } else {
    base = name;
    extension.clear();
  }
}

QString ReplaceSpecialChars(const QString& text) {
  QString result;
  result.reserve(text.size());
  bool inRun = false;
  for (QChar c : text) {
    const ushort u = c.unicode();
    const bool keep = (u >= '0' && u <= '9') || (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z');
    if (keep) {
      result += c;
      inRun = false;
    } else if (!inRun) {
      result += QLatin1Char('_');
      inRun = true;
    }
  }
  return result;
}

QString ApplyFileNameCase(const QString& name, int fileNameCase) {
  switch (fileNameCase) {
  case 0:
    return name.toLower();
  case 1:
    return name.toUpper();
  case 3:
    return name.left(1).toUpper() + name.mid(1).toLower();
  default:
    return name;
  }
}

QString ExpandRenameTemplate(const TLumenfoldAlbum* album, int position, int start,
                             bool replaceSpecialChars, bool forceJpg, const QString& templ) {
  QString result = templ;
  const TLumenfoldPicture* picture = album && position >= 0 && position < album->Pictures.Count()
                                         ? album->Pictures.Pictures(position)
                                         : nullptr;
  auto put = [&result](int macro, const QString& value) {
    result.replace(QLatin1String(RenameMacroKeys[macro]), value);
  };
  if (picture) {
    QString base, extension;
    SplitExtension(picture->OriginalFileName, base, extension);
    put(0, base);
  }
  put(1, album ? QString::number(album->Id) : QString());
  put(2, album ? shortDate(album->AlbumDate) : QString());
  put(3, album ? trimmed(album->ShortName) : QString());
  put(4, album ? trimmed(album->ShortName2) : QString());
  put(5, album ? trimmed(album->LongName) : QString());
  put(6, album ? trimmed(album->LongName2) : QString());
  put(7, picture ? QString::number(picture->Id) : QString());
  put(8, picture ? shortDate(picture->PictureDate) : QString());
  put(9, picture ? trimmed(picture->Title) : QString());
  put(10, picture ? trimmed(picture->Title2) : QString());
  put(11, picture ? trimmed(picture->OriginalFileName) : QString());
  put(12, picture ? trimmed(picture->OriginalHash) : QString());
  put(13, picture ? QString::number(picture->OriginalSize) : QString());
  put(14, picture ? QString::number(picture->OriginalWidth) : QString());
  put(15, picture ? QString::number(picture->OriginalHeight) : QString());

  const qint64 n = qint64(position) + start;
  if (result.contains(QLatin1String("%N0"))) {
    for (int k = 1; k <= 15; ++k) {
      const QString pattern =
          QStringLiteral("%N") + QString(k, QLatin1Char('0')) + QStringLiteral("%");
      result.replace(pattern, padded(n, k));
    }
  }

  if (forceJpg) {
    QString base, extension;
    SplitExtension(result, base, extension);
    result = base + (picture ? RenamedPictureExtension(picture->OriginalFileName)
                             : QStringLiteral(".jpg"));
  }
  if (replaceSpecialChars) {
    QString base, extension;
    SplitExtension(result, base, extension);
    result = ReplaceSpecialChars(base) + extension;
  }
  return result;
}

bool HasDuplicateNames(const TLumenfoldAlbum* album, int start, const QString& templ,
                       bool replaceSpecialChars) {
  if (!album) return false;
  // Equal names are found through a set: the same answer as comparing every pair.
  QSet<QString> names;
  const int count = album->Pictures.Count();
  names.reserve(count);
  for (int i = 0; i < count; ++i) {
    const QString name = ExpandRenameTemplate(album, i, start, replaceSpecialChars, true, templ);
    if (names.contains(name)) return true;
    names.insert(name);
  }
  return false;
}
