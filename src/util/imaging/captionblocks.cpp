#include "util/imaging/captionblocks.h"

#include <QStringDecoder>

#include <algorithm>
#include <vector>

namespace {

const QByteArrayView kRdf("http://www.w3.org/1999/02/22-rdf-syntax-ns#");
const QByteArrayView kDc("http://purl.org/dc/elements/1.1/");
const QByteArrayView kLr("http://ns.adobe.com/lightroom/1.0/");
const QByteArrayView kXml("http://www.w3.org/XML/1998/namespace");

bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Appends text with its character and predefined entity references replaced. False when it
// holds another reference or bytes that are not UTF-8.
bool appendText(QByteArrayView raw, QString& out) {
  QByteArray decoded;
  if (raw.contains('&')) {
    decoded.reserve(raw.size());
    for (qsizetype i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        decoded += raw[i];
        continue;
      }
      const qsizetype end = raw.indexOf(';', i);
      if (end < 0 || end - i > 12) return false;
      const QByteArrayView name = raw.sliced(i + 1, end - i - 1);
      i = end;
      if (name == "lt")
        decoded += '<';
      else if (name == "gt")
        decoded += '>';
      else if (name == "amp")
        decoded += '&';
      else if (name == "quot")
        decoded += '"';
      else if (name == "apos")
        decoded += '\'';
      else {
        if (name.size() < 2 || name[0] != '#') return false;
        const bool hex = name[1] == 'x';
        bool ok = false;
        const uint code = name.sliced(hex ? 2 : 1).toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        const char32_t c = code;
        decoded += QString::fromUcs4(&c, 1).toUtf8();
      }
    }
    raw = decoded;
  }
  // Most texts are ASCII: taken as they are, without a decoder.
  if (std::all_of(raw.begin(), raw.end(), [](char c) { return uchar(c) < 0x80; })) {
    out += QLatin1StringView(raw.data(), raw.size());
    return true;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(raw);
  if (utf8.hasError()) return false;
  out += text;
  return true;
}

// A pull reader for the part of XML that XMP packets use: elements, attributes, namespaces,
// text, comments and processing instructions. Whatever else it meets (CDATA, a document type,
// a tag that does not close, an end tag of another element) ends the reading with Error.
class TXmlScanner {
public:
  enum Token { Start, End, Text, Done, Error };
  struct Attribute {
    QByteArrayView Ns, Name, Value; // Value with its references still in place
  };
  explicit TXmlScanner(QByteArrayView xml) : s_(xml) {}
  Token Next();
  // Of the last Start or End: the namespace and local name. Of the last Start: its attributes
  // (namespace declarations not among them). Of the last Text: the raw text.
  QByteArrayView Ns, Name, RawText;
  std::vector<Attribute> Attributes;

private:
  struct Declaration {
    QByteArrayView Prefix, Uri;
    size_t Depth;
  };
  QByteArrayView s_;
  qsizetype at_ = 0;
  std::vector<QByteArrayView> open_; // qualified names of the open elements
  std::vector<Declaration> namespaces_;
  bool closePending_ = false; // an empty-element tag: its end comes next

  QByteArrayView name() {
    const qsizetype from = at_;
    while (at_ < s_.size() && !isSpace(s_[at_]) && s_[at_] != '/' && s_[at_] != '>' &&
           s_[at_] != '=' && s_[at_] != '<' && s_[at_] != '"' && s_[at_] != '\'')
      ++at_;
    return s_.sliced(from, at_ - from);
  }
  void spaces() {
    while (at_ < s_.size() && isSpace(s_[at_]))
      ++at_;
  }
  bool resolve(QByteArrayView qname, bool element, QByteArrayView& ns, QByteArrayView& local) {
    const qsizetype colon = qname.indexOf(':');
    const QByteArrayView prefix = colon < 0 ? QByteArrayView() : qname.first(colon);
    local = colon < 0 ? qname : qname.sliced(colon + 1);
    ns = {};
    if (local.isEmpty()) return false;
    if (colon < 0 && !element) return true; // attributes take no default namespace
    if (prefix == "xml") {
      ns = kXml;
      return true;
    }
    for (auto d = namespaces_.rbegin(); d != namespaces_.rend(); ++d)
      if (d->Prefix == prefix) {
        ns = d->Uri;
        return true;
      }
    return colon < 0; // an unprefixed element outside any default namespace has none
  }
  Token close() {
    open_.pop_back();
    while (!namespaces_.empty() && namespaces_.back().Depth >= open_.size())
      namespaces_.pop_back();
    return End;
  }
  Token startTag();
  Token endTag();
};

TXmlScanner::Token TXmlScanner::Next() {
  if (closePending_) {
    closePending_ = false;
    return close();
  }
  while (at_ < s_.size()) {
    if (s_[at_] != '<') {
      const qsizetype end = s_.indexOf('<', at_);
      RawText = s_.sliced(at_, (end < 0 ? s_.size() : end) - at_);
      at_ += RawText.size();
      return Text;
    }
    const QByteArrayView rest = s_.sliced(at_);
    if (rest.startsWith("<?") || rest.startsWith("<!--")) {
      const bool pi = rest[1] == '?';
      const qsizetype end = rest.indexOf(pi ? QByteArrayView("?>") : QByteArrayView("-->"));
      if (end < 0) return Error;
      at_ += end + (pi ? 2 : 3);
      continue;
    }
    if (rest.startsWith("<!")) return Error;
    return rest.startsWith("</") ? endTag() : startTag();
  }
  return open_.empty() ? Done : Error;
}

TXmlScanner::Token TXmlScanner::startTag() {
  ++at_;
  const QByteArrayView qname = name();
  if (qname.isEmpty()) return Error;
  Attributes.clear();
  const size_t depth = open_.size();
  for (;;) {
    spaces();
    if (at_ >= s_.size()) return Error;
    if (s_[at_] == '>' || s_[at_] == '/') {
      closePending_ = s_[at_] == '/';
      if (closePending_ && (at_ + 1 >= s_.size() || s_[at_ + 1] != '>')) return Error;
      at_ += closePending_ ? 2 : 1;
      break;
    }
    const QByteArrayView attribute = name();
    spaces();
    if (attribute.isEmpty() || at_ >= s_.size() || s_[at_] != '=') return Error;
    ++at_;
    spaces();
    if (at_ >= s_.size() || (s_[at_] != '"' && s_[at_] != '\'')) return Error;
    const qsizetype end = s_.indexOf(s_[at_], at_ + 1);
    if (end < 0) return Error;
    const QByteArrayView value = s_.sliced(at_ + 1, end - at_ - 1);
    if (value.contains('<')) return Error;
    at_ = end + 1;
    if (attribute == "xmlns")
      namespaces_.push_back({QByteArrayView(), value, depth});
    else if (attribute.startsWith("xmlns:"))
      namespaces_.push_back({attribute.sliced(6), value, depth});
    else
      Attributes.push_back({QByteArrayView(), attribute, value});
  }
  open_.push_back(qname);
  if (!resolve(qname, true, Ns, Name)) return Error;
  for (Attribute& a : Attributes)
    if (!resolve(a.Name, false, a.Ns, a.Name)) return Error;
  return Start;
}

TXmlScanner::Token TXmlScanner::endTag() {
  at_ += 2;
  const QByteArrayView qname = name();
  spaces();
  if (at_ >= s_.size() || s_[at_] != '>' || open_.empty() || open_.back() != qname) return Error;
  ++at_;
  if (!resolve(qname, true, Ns, Name)) return Error;
  return close();
}

enum class Property { None, Title, Subject, Hierarchical };

Property propertyOf(QByteArrayView ns, QByteArrayView name) {
  if (ns == kDc && name == "title") return Property::Title;
  if (ns == kDc && name == "subject") return Property::Subject;
  if (ns == kLr && name == "hierarchicalSubject") return Property::Hierarchical;
  return Property::None;
}

void add(TXmpTexts& texts, Property property, const QString& text, const QString& language) {
  if (property == Property::Title) {
    if (language.isEmpty())
      texts.PlainTitle = text;
    else
      texts.TitleByLanguage.emplace(language, text);
  } else {
    (property == Property::Subject ? texts.Subjects : texts.HierarchicalSubjects).append(text);
  }
}

quint32 bigEndian32(const uchar* p) {
  return quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | p[3];
}

} // namespace

std::optional<TXmpTexts> ScanXmpTexts(QByteArrayView packet) {
  TXmpTexts texts;
  TXmlScanner r(packet);
  Property property = Property::None;
  bool inContainer = false;
  QString plainText;
  for (;;) {
    switch (r.Next()) {
    case TXmlScanner::Start: {
      if (property == Property::None) {
        property = propertyOf(r.Ns, r.Name);
        inContainer = false;
        plainText.clear();
        if (property != Property::None) {
          if (!r.Attributes.empty()) return std::nullopt; // rdf:resource, parseType...
          break;
        }
        if (r.Ns == kRdf && r.Name == "Description")
          for (const TXmlScanner::Attribute& a : r.Attributes)
            if (const Property p = propertyOf(a.Ns, a.Name); p != Property::None) {
              QString value;
              if (!appendText(a.Value, value)) return std::nullopt;
              add(texts, p, value, QString());
            }
        break;
      }
      if (r.Ns == kRdf && !inContainer && (r.Name == "Alt" || r.Name == "Bag" || r.Name == "Seq")) {
        inContainer = true;
        break;
      }
      if (r.Ns != kRdf || r.Name != "li" || !inContainer) return std::nullopt;
      QString language;
      for (const TXmlScanner::Attribute& a : r.Attributes)
        if (a.Ns == kXml && a.Name == "lang" && !appendText(a.Value, language)) return std::nullopt;
      if (property == Property::Title && language.isEmpty()) language = QStringLiteral("x-default");
      QString text; // the item holds text only
      for (TXmlScanner::Token t = r.Next(); t != TXmlScanner::End; t = r.Next())
        if (t != TXmlScanner::Text || !appendText(r.RawText, text)) return std::nullopt;
      add(texts, property, text, property == Property::Title ? language : QString());
      break;
    }
    case TXmlScanner::Text:
      if (property != Property::None && !inContainer && !appendText(r.RawText, plainText))
        return std::nullopt;
      break;
    case TXmlScanner::End:
      if (property != Property::None && propertyOf(r.Ns, r.Name) == property && !inContainer) {
        if (!plainText.trimmed().isEmpty()) add(texts, property, plainText, QString());
        property = Property::None;
      } else if (property != Property::None && r.Ns == kRdf && r.Name != "li") {
        inContainer = false; // the container closed; the property's own end follows
      } else if (r.Ns == kRdf && r.Name == "RDF") {
        return texts; // what follows is the packet's trailer and padding
      }
      break;
    case TXmlScanner::Done:
    case TXmlScanner::Error:
      return std::nullopt; // not well-formed, or no RDF end
    }
  }
}

TIptcTexts ParseIptcTexts(QByteArrayView photoshopBlock) {
  TIptcTexts texts;
  const auto* d = reinterpret_cast<const uchar*>(photoshopBlock.data());
  const size_t n = size_t(photoshopBlock.size());
  // Image resources: a signature, a 16-bit id, a name (a Pascal string padded to an even
  // length), a 32-bit size and the data (padded to an even length). The IPTC record is 0x0404.
  const auto isResource = [](const uchar* p) {
    for (const char* signature : {"8BIM", "AgHg", "DCSR", "PHUT"})
      if (std::memcmp(p, signature, 4) == 0) return true;
    return false;
  };
  const uchar* record = nullptr;
  size_t recordSize = 0;
  for (size_t at = 0; n >= 12 && at <= n - 12 && isResource(d + at);) {
    const unsigned id = unsigned(d[at + 4]) << 8 | d[at + 5];
    at += 6;
    at += (size_t(d[at]) + 2) & ~size_t(1);
    if (at + 4 > n) return texts;
    const size_t size = bigEndian32(d + at);
    at += 4;
    if (size > n - at) return texts;
    if (id == 0x0404) {
      record = d + at;
      recordSize = size;
      break;
    }
    at += size + (size & 1);
  }
  if (!record) return texts;
  // Data sets: the tag marker 0x1C, record, data set and a 16-bit size, or a size of up to four
  // bytes whose own length follows a set top bit. Bytes before a marker are skipped.
  const uchar* p = record;
  const uchar* const end = record + recordSize;
  const auto damaged = [&texts] {
    texts = TIptcTexts();
    texts.Damaged = true;
    return texts;
  };
  while (end - p >= 6) {
    if (*p++ != 0x1C) continue;
    const uchar recordNumber = *p++, dataSet = *p++;
    size_t size = 0;
    if (p[0] & 0x80) {
      size_t sizeOfSize = (size_t(p[0]) << 8 | p[1]) & 0x7FFF;
      p += 2;
      if (sizeOfSize > 4 || sizeOfSize > size_t(end - p)) return damaged();
      for (; sizeOfSize > 0; --sizeOfSize)
        size |= size_t(*p++) << (8 * (sizeOfSize - 1));
    } else {
      size = size_t(p[0]) << 8 | p[1];
      p += 2;
    }
    if (size > size_t(end - p)) return damaged();
    if (recordNumber == 2) {
      QList<QByteArray>* list = dataSet == 5     ? &texts.ObjectNames
                                : dataSet == 105 ? &texts.Headlines
                                : dataSet == 25  ? &texts.Keywords
                                                 : nullptr;
      if (list) list->append(QByteArray(reinterpret_cast<const char*>(p), qsizetype(size)));
    }
    p += size;
  }
  return texts;
}
