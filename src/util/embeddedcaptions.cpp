#include "util/embeddedcaptions.h"

#include "util/lumenfolderror.h"
#include "util/outputmetadata.h"
#include "util/pictureformats.h"
#include "util/safefile.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>

#include <exiv2/exiv2.hpp>

namespace {

// IPTC texts are UTF-8 when the writer says so or when they read as UTF-8; older files hold
// Latin-1.
QString iptcText(const std::string& bytes) {
  const QByteArray raw(bytes.data(), qsizetype(bytes.size()));
  QStringDecoder utf8(QStringDecoder::Utf8);
  const QString text = utf8(raw);
  if (!utf8.hasError()) return text;
  return QString::fromLatin1(raw);
}

QString clean(const QString& text) {
  return text.simplified();
}

// True when the language entry ("de-CH") belongs to the language code ("de").
bool languageMatches(const std::string& entry, const QString& code) {
  if (code.isEmpty()) return false;
  const QString e = QString::fromStdString(entry).toLower();
  const QString c = code.toLower();
  return e == c || e.startsWith(c + QLatin1Char('-'));
}

QString langAlt(const Exiv2::XmpData& xmp, const char* key, const QString& code, bool takeDefault) {
  const auto it = xmp.findKey(Exiv2::XmpKey(key));
  if (it == xmp.end()) return {};
  const auto* value = dynamic_cast<const Exiv2::LangAltValue*>(&it->value());
  if (!value) return takeDefault ? clean(QString::fromStdString(it->toString())) : QString();
  if (takeDefault) {
    const auto d = value->value_.find("x-default");
    if (d != value->value_.end() && !clean(QString::fromStdString(d->second)).isEmpty())
      return clean(QString::fromStdString(d->second));
  }
  for (const auto& [language, text] : value->value_)
    if (languageMatches(language, code)) return clean(QString::fromStdString(text));
  return {};
}

class TKeywordList {
public:
  void Add(const QString& text) {
    const QString keyword = clean(text);
    if (keyword.isEmpty()) return;
    const QString key = keyword.toCaseFolded();
    if (seen_.contains(key)) return;
    seen_.insert(key);
    List << keyword;
  }
  QStringList List;

private:
  QSet<QString> seen_;
};

void xmpArray(const Exiv2::XmpData& xmp, const char* key, bool lastPart, TKeywordList& out) {
  for (auto it = xmp.begin(); it != xmp.end(); ++it) {
    if (it->key() != key) continue;
    for (long i = 0; i < it->count(); ++i) {
      QString text = QString::fromStdString(it->toString(i));
      if (lastPart) text = text.section(QLatin1Char('|'), -1);
      out.Add(text);
    }
  }
}

void fill(TEmbeddedCaptions& c, const Exiv2::XmpData& xmp, const Exiv2::IptcData& iptc,
          const QString& language1, const QString& language2) {
  c.Title = langAlt(xmp, "Xmp.dc.title", language1, true);
  c.Title2 = langAlt(xmp, "Xmp.dc.title", language2, false);
  for (const char* key : {"Iptc.Application2.ObjectName", "Iptc.Application2.Headline"}) {
    if (!c.Title.isEmpty()) break;
    const auto it = iptc.findKey(Exiv2::IptcKey(key));
    if (it != iptc.end()) c.Title = clean(iptcText(it->toString()));
  }
  TKeywordList keywords;
  xmpArray(xmp, "Xmp.dc.subject", false, keywords);
  for (auto it = iptc.begin(); it != iptc.end(); ++it)
    if (it->key() == "Iptc.Application2.Keywords") keywords.Add(iptcText(it->toString()));
  xmpArray(xmp, "Xmp.lr.hierarchicalSubject", true, keywords);
  c.Keywords = keywords.List;
}

} // namespace

TEmbeddedCaptions ParseEmbeddedCaptions(const QByteArray& xmpPacket,
                                        const QByteArray& photoshopBlock, const QString& language1,
                                        const QString& language2) {
  TEmbeddedCaptions c;
  if (xmpPacket.isEmpty() && photoshopBlock.isEmpty()) return c;
  InitialiseMetadataLibrary();
  try {
    Exiv2::XmpData xmp;
    Exiv2::IptcData iptc;
    if (!xmpPacket.isEmpty() && Exiv2::XmpParser::decode(xmp, xmpPacket.toStdString()) != 0) {
      xmp.clear(); // a damaged packet costs only the XMP texts
      c.Problem = QStringLiteral("the XMP packet is damaged");
    }
    const auto* ps = reinterpret_cast<const Exiv2::byte*>(photoshopBlock.constData());
    const Exiv2::byte* record = nullptr;
    uint32_t header = 0, size = 0;
    if (!photoshopBlock.isEmpty() &&
        Exiv2::Photoshop::locateIptcIrb(ps, long(photoshopBlock.size()), &record, &header, &size) ==
            0 &&
        Exiv2::IptcParser::decode(iptc, record + header, size) != 0) {
      iptc.clear();
      c.Problem = QStringLiteral("the IPTC record is damaged");
    }
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
    // A HEIF file's metadata comes through libheif, as the header of a JPEG file.
    QByteArray heif;
    if (SniffPictureFile(path) == TPictureFormat::Heif) {
      QFile file;
      if (!OpenRegularFile(file, path, &problem)) {
        c.Problem = problem;
        return c;
      }
      heif = HeifMetadataAsJpeg(file.readAll(), path);
    }
    auto image =
        heif.isEmpty()
            ? Exiv2::ImageFactory::open(std::string(QFile::encodeName(path).constData()))
            : Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte*>(heif.constData()),
                                        long(heif.size()));
    if (!image.get()) return c;
    try {
      image->readMetadata();
    } catch (const std::exception& e) {
      // What was read before the damage is still used.
      c.Problem = TextOf(e);
    }
    fill(c, image->xmpData(), image->iptcData(), language1, language2);
  } catch (const std::exception& e) {
    c.Problem = TextOf(e);
  }
  return c;
}
