#include "util/imaging/embeddedcaptions.h"

#include "util/lumenfolderror.h"
#include "util/imaging/outputmetadata.h"
#include "util/imaging/pictureformats.h"
#include "util/safefile.h"

#include <QFile>
#include <QSet>
#include <QStringDecoder>
#include <QXmlStreamReader>

#include <map>
#include <optional>

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

// The XMP texts the captions are made of, whichever reader found them.
struct TXmpTexts {
  std::map<QString, QString> TitleByLanguage; // a language alternative: code -> text
  QString PlainTitle;                         // a title written without languages
  QStringList Subjects, HierarchicalSubjects;
};

QString langAlt(const TXmpTexts& xmp, const QString& code, bool takeDefault) {
  if (xmp.TitleByLanguage.empty()) return takeDefault ? clean(xmp.PlainTitle) : QString();
  if (takeDefault) {
    const auto d = xmp.TitleByLanguage.find(QStringLiteral("x-default"));
    if (d != xmp.TitleByLanguage.end() && !clean(d->second).isEmpty()) return clean(d->second);
  }
  for (const auto& [language, text] : xmp.TitleByLanguage)
    if (languageMatches(language.toStdString(), code)) return clean(text);
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

// Reads the three properties straight from the packet, several times faster than the metadata
// library, which builds a model of the whole packet. Anything it does not know for certain (a
// packet that is not well formed, a structure other than plain text, a language alternative or
// an array of texts) gives no result, and the library reads the packet instead: it also says
// what is damaged.
std::optional<TXmpTexts> quickXmpTexts(const QByteArray& packet) {
  static const QString dc = QStringLiteral("http://purl.org/dc/elements/1.1/");
  static const QString lr = QStringLiteral("http://ns.adobe.com/lightroom/1.0/");
  static const QString rdf = QStringLiteral("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
  static const QString xml = QStringLiteral("http://www.w3.org/XML/1998/namespace");
  TXmpTexts texts;
  enum class Property { None, Title, Subject, Hierarchical };
  const auto propertyOf = [&](QStringView ns, QStringView name) {
    if (ns == dc && name == u"title") return Property::Title;
    if (ns == dc && name == u"subject") return Property::Subject;
    if (ns == lr && name == u"hierarchicalSubject") return Property::Hierarchical;
    return Property::None;
  };
  const auto add = [&](Property property, const QString& text, const QString& language) {
    if (property == Property::Title) {
      if (language.isEmpty())
        texts.PlainTitle = text;
      else
        texts.TitleByLanguage.emplace(language, text);
    } else {
      (property == Property::Subject ? texts.Subjects : texts.HierarchicalSubjects).append(text);
    }
  };
  QXmlStreamReader r(packet);
  Property property = Property::None;
  bool inContainer = false;
  QString plainText;
  while (!r.atEnd()) {
    switch (r.readNext()) {
    case QXmlStreamReader::StartElement: {
      const QStringView ns = r.namespaceUri(), name = r.name();
      if (property == Property::None) {
        property = propertyOf(ns, name);
        inContainer = false;
        plainText.clear();
        if (property != Property::None) {
          if (!r.attributes().isEmpty()) return std::nullopt; // rdf:resource, parseType...
          break;
        }
        if (ns == rdf && name == u"Description")
          for (const QXmlStreamAttribute& a : r.attributes())
            if (const Property p = propertyOf(a.namespaceUri(), a.name()); p != Property::None)
              add(p, a.value().toString(), QString());
        break;
      }
      if (ns == rdf && !inContainer && (name == u"Alt" || name == u"Bag" || name == u"Seq")) {
        inContainer = true;
        break;
      }
      if (ns != rdf || name != u"li" || !inContainer) return std::nullopt;
      QString language = r.attributes().value(xml, QLatin1StringView("lang")).toString();
      if (property == Property::Title && language.isEmpty()) language = QStringLiteral("x-default");
      const QString text = r.readElementText(QXmlStreamReader::ErrorOnUnexpectedElement);
      if (r.hasError()) return std::nullopt;
      add(property, text, property == Property::Title ? language : QString());
      break;
    }
    case QXmlStreamReader::Characters:
      if (property != Property::None && !inContainer) plainText += r.text();
      break;
    case QXmlStreamReader::EndElement:
      if (property != Property::None && propertyOf(r.namespaceUri(), r.name()) == property &&
          !inContainer) {
        if (!plainText.trimmed().isEmpty()) add(property, plainText, QString());
        property = Property::None;
      } else if (property != Property::None && r.namespaceUri() == rdf && r.name() != u"li") {
        inContainer = false; // the container closed; the property's own end follows
      } else if (r.namespaceUri() == rdf && r.name() == u"RDF") {
        return texts; // what follows is the packet's trailer and padding
      }
      break;
    default:
      break;
    }
  }
  return std::nullopt; // not well formed, or no RDF end
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

void fill(TEmbeddedCaptions& c, const TXmpTexts& xmp, const Exiv2::IptcData& iptc,
          const QString& language1, const QString& language2) {
  c.Title = langAlt(xmp, language1, true);
  c.Title2 = langAlt(xmp, language2, false);
  for (const char* key : {"Iptc.Application2.ObjectName", "Iptc.Application2.Headline"}) {
    if (!c.Title.isEmpty()) break;
    const auto it = iptc.findKey(Exiv2::IptcKey(key));
    if (it != iptc.end()) c.Title = clean(iptcText(it->toString()));
  }
  TKeywordList keywords;
  for (const QString& subject : xmp.Subjects)
    keywords.Add(subject);
  for (auto it = iptc.begin(); it != iptc.end(); ++it)
    if (it->key() == "Iptc.Application2.Keywords") keywords.Add(iptcText(it->toString()));
  for (const QString& subject : xmp.HierarchicalSubjects)
    keywords.Add(subject.section(QLatin1Char('|'), -1));
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
    TXmpTexts xmp;
    Exiv2::IptcData iptc;
    if (!xmpPacket.isEmpty()) {
      if (auto quick = quickXmpTexts(xmpPacket)) {
        xmp = std::move(*quick);
      } else {
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, xmpPacket.toStdString()) == 0)
          xmp = xmpTexts(data);
        else // a damaged packet costs only the XMP texts
          c.Problem = QStringLiteral("the XMP packet is damaged");
      }
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
    fill(c, xmpTexts(image->xmpData()), image->iptcData(), language1, language2);
  } catch (const std::exception& e) {
    c.Problem = TextOf(e);
  }
  return c;
}
