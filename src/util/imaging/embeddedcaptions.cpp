#include "util/imaging/embeddedcaptions.h"

#include "util/imaging/captionblocks.h"
#include "util/imaging/outputmetadata.h"
#include "util/imaging/pictureformats.h"
#include "util/lumenfolderror.h"
#include "util/safefile.h"

#include <QFile>
#include <QStringDecoder>

#include <algorithm>
#include <map>
#include <optional>
#include <vector>

#include <exiv2/exiv2.hpp>

namespace {

// IPTC texts are UTF-8 when the writer says so or when they read as UTF-8; older files hold
// Latin-1.
QString iptcText(const QByteArray& raw) {
  if (std::all_of(raw.begin(), raw.end(), [](char c) { return uchar(c) < 0x80; }))
    return QString::fromLatin1(raw); // ASCII reads the same in both
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString text = utf8(raw);
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(raw);
}

// The text with its white space simplified; most texts are already, and are kept as they are.
QString clean(const QString& text) {
  bool space = true; // a leading space is one too many
  for (const QChar c : text) {
    if (!c.isSpace())
      space = false;
    else if (space || c != QLatin1Char(' '))
      return text.simplified();
    else
      space = true;
  }
  return space && !text.isEmpty() ? text.simplified() : text;
}

// True when the language entry ("de-CH") belongs to the language code ("de").
bool languageMatches(const QString& entry, const QString& code) {
  if (code.isEmpty() || !entry.startsWith(code, Qt::CaseInsensitive)) return false;
  return entry.size() == code.size() || entry[code.size()] == QLatin1Char('-');
}

QString langAlt(const TXmpTexts& xmp, const QString& code, bool takeDefault) {
  if (xmp.TitleByLanguage.empty()) return takeDefault ? clean(xmp.PlainTitle) : QString();
  if (takeDefault) {
    const auto d = xmp.TitleByLanguage.find(QStringLiteral("x-default"));
    if (d != xmp.TitleByLanguage.end())
      if (QString title = clean(d->second); !title.isEmpty()) return title;
  }
  for (const auto& [language, text] : xmp.TitleByLanguage)
    if (languageMatches(language, code)) return clean(text);
  return {};
}

TXmpTexts xmpTexts(const Exiv2::XmpData& xmp) {
  TXmpTexts texts;
  for (auto it = xmp.begin(); it != xmp.end(); ++it) {
    const std::string key = it->key();
    if (key == "Xmp.dc.title") {
      if (const auto* value = dynamic_cast<const Exiv2::LangAltValue*>(&it->value())) {
        for (const auto& [language, text] : value->value_)
          texts.TitleByLanguage.emplace(QString::fromStdString(language),
                                        QString::fromStdString(text));
      } else {
        texts.PlainTitle = QString::fromStdString(it->toString());
      }
      continue;
    }
    QStringList* list = key == "Xmp.dc.subject"               ? &texts.Subjects
                        : key == "Xmp.lr.hierarchicalSubject" ? &texts.HierarchicalSubjects
                                                              : nullptr;
    if (!list) continue;
    for (long i = 0; i < it->count(); ++i)
      list->append(QString::fromStdString(it->toString(i)));
  }
  return texts;
}

bool isAscii(QStringView text) {
  return std::all_of(text.begin(), text.end(), [](QChar c) { return c.unicode() < 0x80; });
}

// Whether two keywords are one, letter case ignored. ASCII texts are compared by their ASCII
// letters; other texts fold their case (a non-ASCII letter may fold to an ASCII one).
bool sameKeyword(const QString& a, bool aAscii, const QString& b, bool bAscii) {
  if (aAscii && bAscii) {
    const auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [&](QChar x, QChar y) {
             return lower(x.unicode()) == lower(y.unicode());
           });
  }
  return a.toCaseFolded() == b.toCaseFolded();
}

class TKeywordList {
public:
  void Add(const QString& text) {
    const QString keyword = clean(text);
    if (keyword.isEmpty()) return;
    // a handful: a list is quicker than a set
    const bool ascii = isAscii(keyword);
    for (qsizetype i = 0; i < List.size(); ++i)
      if (sameKeyword(List[i], ascii_[size_t(i)], keyword, ascii)) return;
    List << keyword;
    ascii_.push_back(ascii);
  }
  QStringList List;

private:
  std::vector<bool> ascii_; // of each entry of List
};

TIptcTexts iptcTexts(const Exiv2::IptcData& iptc) {
  TIptcTexts texts;
  for (auto it = iptc.begin(); it != iptc.end(); ++it) {
    if (it->record() != 2) continue;
    QList<QByteArray>* list = it->tag() == 5     ? &texts.ObjectNames
                              : it->tag() == 105 ? &texts.Headlines
                              : it->tag() == 25  ? &texts.Keywords
                                                 : nullptr;
    if (list) list->append(QByteArray::fromStdString(it->toString()));
  }
  return texts;
}

void fill(TEmbeddedCaptions& c, const TXmpTexts& xmp, const TIptcTexts& iptc,
          const QString& language1, const QString& language2) {
  c.Title = langAlt(xmp, language1, true);
  c.Title2 = langAlt(xmp, language2, false);
  for (const QList<QByteArray>* titles : {&iptc.ObjectNames, &iptc.Headlines})
    if (c.Title.isEmpty() && !titles->isEmpty()) c.Title = clean(iptcText(titles->first()));
  TKeywordList keywords;
  keywords.List.reserve(xmp.Subjects.size() + iptc.Keywords.size() +
                        xmp.HierarchicalSubjects.size());
  for (const QString& subject : xmp.Subjects)
    keywords.Add(subject);
  for (const QByteArray& keyword : iptc.Keywords)
    keywords.Add(iptcText(keyword));
  for (const QString& subject : xmp.HierarchicalSubjects) // the last part: "A|B|C" gives "C"
    keywords.Add(subject.sliced(subject.lastIndexOf(QLatin1Char('|')) + 1));
  c.Keywords = keywords.List;
}

} // namespace

TEmbeddedCaptions ParseEmbeddedCaptions(const QByteArray& xmpPacket,
                                        const QByteArray& photoshopBlock, const QString& language1,
                                        const QString& language2) {
  TEmbeddedCaptions c;
  if (xmpPacket.isEmpty() && photoshopBlock.isEmpty()) return c;
  try {
    TXmpTexts xmp;
    if (!xmpPacket.isEmpty()) {
      if (auto scanned = ScanXmpTexts(xmpPacket)) {
        xmp = std::move(*scanned);
      } else {
        // A form the scanner does not read, or damage: the full reader decides.
        InitialiseMetadataLibrary();
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, xmpPacket.toStdString()) == 0)
          xmp = xmpTexts(data);
        else // a damaged packet costs only the XMP texts
          c.Problem = QStringLiteral("the XMP packet is damaged");
      }
    }
    const TIptcTexts iptc = ParseIptcTexts(photoshopBlock);
    if (iptc.Damaged) c.Problem = QStringLiteral("the IPTC record is damaged");
    fill(c, xmp, iptc, language1, language2);
  } catch (const std::exception& e) {
    c.Problem = TextOf(e);
  }
  return c;
}

TEmbeddedCaptions ReadEmbeddedCaptions(const QString& path, const QString& language1,
                                       const QString& language2) {
  TEmbeddedCaptions c;
  // The library opens the file itself: it must be a regular file of its folder, or it could
  // wait for ever on a FIFO.
  QString problem;
  if (CheckRegularFile(path, &problem) != TFileRefusal::None) {
    c.Problem = problem;
    return c;
  }
  InitialiseMetadataLibrary();
  try {
    // A HEIF file's XMP packet is read with the boxes that describe its images, whatever its
    // size (a JPEG segment holds 64 KB at most); HEIF files carry no IPTC record.
    if (SniffPictureFile(path) == TPictureFormat::Heif) {
      QFile file;
      if (!OpenRegularFile(file, path, &problem)) {
        c.Problem = problem;
        return c;
      }
      return ParseEmbeddedCaptions(ReadHeifXmpPacket(file, path), {}, language1, language2);
    }
    auto image = Exiv2::ImageFactory::open(std::string(QFile::encodeName(path).constData()));
    if (!image.get()) return c;
    try {
      image->readMetadata();
    } catch (const std::exception& e) {
      // What was read before the damage is still used.
      c.Problem = TextOf(e);
    }
    fill(c, xmpTexts(image->xmpData()), iptcTexts(image->iptcData()), language1, language2);
  } catch (const std::exception& e) {
    c.Problem = TextOf(e);
  }
  return c;
}
