#include "util/imaging/captionblocks.h"

#include <QStringDecoder>

#include <algorithm>
#include <array>
#include <cstring>
#include <string_view>
#include <vector>

namespace {

using namespace std::string_view_literals;

// The namespaces the captions live in; any other is Other. A prefix is resolved to one of them
// when it is declared, so elements compare a number, not a URI.
enum class TNs : uchar { Other, Rdf, Dc, Lr, Xml };

TNs namespaceOf(std::string_view uri) {
  if (uri == "http://www.w3.org/1999/02/22-rdf-syntax-ns#"sv) return TNs::Rdf;
  if (uri == "http://purl.org/dc/elements/1.1/"sv) return TNs::Dc;
  if (uri == "http://ns.adobe.com/lightroom/1.0/"sv) return TNs::Lr;
  if (uri == "http://www.w3.org/XML/1998/namespace"sv) return TNs::Xml;
  return TNs::Other;
}

// Against a literal the compiler compares a few words in place.
inline bool sameBytes(std::string_view a, std::string_view b) {
  return a.size() == b.size() && (b.empty() || std::memcmp(a.data(), b.data(), b.size()) == 0);
}

constexpr bool isSpace(char c) {
  return c == ' ' || c == '\t' || c == '\n' || c == '\r';
}

// Bytes of names: 0 inside a name, kEnds for white space and the markup characters around
// names, kColon for the colon between prefix and local name.
constexpr uchar kEnds = 1, kColon = 2;
constexpr std::array<uchar, 256> kNameByte = [] {
  std::array<uchar, 256> t{};
  for (const char c : {' ', '\t', '\n', '\r', '/', '>', '=', '<', '"', '\''})
    t[uchar(c)] = kEnds;
  t[uchar(':')] = kColon;
  return t;
}();

bool isAscii(std::string_view s) {
  unsigned char any = 0;
  for (const char c : s)
    any |= uchar(c);
  return any < 0x80;
}

// Appends text with its character and predefined entity references replaced. False when it
// holds another reference or bytes that are not UTF-8.
bool appendText(std::string_view raw, QString& out) {
  QByteArray decoded;
  if (raw.find('&') != std::string_view::npos) {
    decoded.reserve(qsizetype(raw.size()));
    for (size_t i = 0; i < raw.size(); ++i) {
      if (raw[i] != '&') {
        decoded += raw[i];
        continue;
      }
      const size_t end = raw.find(';', i);
      if (end == std::string_view::npos || end - i > 12) return false;
      const std::string_view name = raw.substr(i + 1, end - i - 1);
      i = end;
      if (name == "lt"sv)
        decoded += '<';
      else if (name == "gt"sv)
        decoded += '>';
      else if (name == "amp"sv)
        decoded += '&';
      else if (name == "quot"sv)
        decoded += '"';
      else if (name == "apos"sv)
        decoded += '\'';
      else {
        if (name.size() < 2 || name[0] != '#') return false;
        const bool hex = name[1] == 'x';
        bool ok = false;
        const QByteArrayView digits(name.data() + (hex ? 2 : 1),
                                    qsizetype(name.size()) - (hex ? 2 : 1));
        const uint code = digits.toUInt(&ok, hex ? 16 : 10);
        if (!ok || code == 0 || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return false;
        const char32_t c = code;
        decoded += QString::fromUcs4(&c, 1).toUtf8();
      }
    }
    raw = std::string_view(decoded.constData(), size_t(decoded.size()));
  }
  // Most texts are ASCII: taken as they are, without a decoder.
  if (isAscii(raw)) {
    if (out.isEmpty() && !raw.empty())
      out = QString::fromLatin1(raw.data(), qsizetype(raw.size()));
    else
      out += QLatin1StringView(raw.data(), qsizetype(raw.size()));
    return true;
  }
  QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
  const QString text = utf8(QByteArrayView(raw.data(), qsizetype(raw.size())));
  if (utf8.hasError()) return false;
  out += text;
  return true;
}

// A pull reader for the part of XML that XMP packets use: elements, attributes, namespaces,
// text, comments and processing instructions. Whatever else it meets (CDATA, a document type,
// a tag that does not close, an end tag of another element) ends the reading with Error. It
// walks the packet once and keeps views into it; nothing is allocated per element.
class TXmlScanner {
public:
  enum Token { Start, End, Text, Done, Error };
  struct Attribute {
    TNs Ns;
    std::string_view Name, Value; // Value with its references still in place
    size_t Colon;                 // in the name as written
  };
  explicit TXmlScanner(QByteArrayView xml) : at_(xml.data()), end_(xml.data() + xml.size()) {
    // Names that start before the last byte that ends one are read without a bounds check.
    for (lastEnd_ = end_; lastEnd_ > at_ && kNameByte[uchar(lastEnd_[-1])] != kEnds;)
      --lastEnd_;
    if (lastEnd_ > at_) --lastEnd_;
    open_.reserve(16);
    namespaces_.reserve(16);
    Attributes.reserve(8);
  }
  Token Next();
  // While set, text between tags is passed over without a Text token.
  bool SkipText = false;
  // Of the last Start or End: the namespace and local name. Of the last Start: its attributes
  // (namespace declarations not among them). Of the last Text: the raw text.
  TNs Ns = TNs::Other;
  std::string_view Name, RawText;
  std::vector<Attribute> Attributes;

private:
  struct Declaration {
    std::string_view Prefix;
    TNs Ns;
    size_t Depth;
  };
  const char* at_;
  const char* const end_;
  const char* lastEnd_; // the last byte of kEnds (or the start, when there is none)
  struct Open {
    std::string_view QName; // as written
    TNs Ns;                 // and as resolved by its start tag, which its end shares
    std::string_view Name;
  };
  std::vector<Open> open_; // the open elements
  std::vector<Declaration> namespaces_;
  bool closePending_ = false; // an empty-element tag: its end comes next

  // A name and where its first colon is (npos: none).
  std::string_view name(size_t& colon) {
    const char* from = at_;
    colon = std::string_view::npos;
    if (at_ < lastEnd_) {
      for (;;) {
        while (kNameByte[uchar(*at_)] == 0)
          ++at_;
        if (kNameByte[uchar(*at_)] != kColon) break;
        if (colon == std::string_view::npos) colon = size_t(at_ - from);
        ++at_;
      }
    } else {
      for (; at_ < end_ && kNameByte[uchar(*at_)] != kEnds; ++at_)
        if (*at_ == ':' && colon == std::string_view::npos) colon = size_t(at_ - from);
    }
    return {from, size_t(at_ - from)};
  }
  void spaces() {
    while (at_ < end_ && isSpace(*at_))
      ++at_;
  }
  std::string_view rest() const { return {at_, size_t(end_ - at_)}; }
  bool resolve(std::string_view qname, size_t colon, bool element, TNs& ns,
               std::string_view& local) const {
    const std::string_view prefix =
        colon == std::string_view::npos ? std::string_view() : qname.substr(0, colon);
    local = colon == std::string_view::npos ? qname : qname.substr(colon + 1);
    ns = TNs::Other;
    if (local.empty()) return false;
    if (colon == std::string_view::npos && !element) return true; // no default namespace
    if (sameBytes(prefix, "xml"sv)) {
      ns = TNs::Xml;
      return true;
    }
    for (auto d = namespaces_.rbegin(); d != namespaces_.rend(); ++d)
      if (sameBytes(d->Prefix, prefix)) {
        ns = d->Ns;
        return true;
      }
    return colon == std::string_view::npos; // an unprefixed element outside a default namespace
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
  while (at_ < end_) {
    if (*at_ != '<') {
      // Mostly the short white space between tags: looked at in place before a library call.
      const char* to = at_ + 1;
      const char* const near = end_ - to > 16 ? to + 16 : end_;
      while (to < near && *to != '<')
        ++to;
      if (to == near && to < end_) {
        const void* lt = std::memchr(to, '<', size_t(end_ - to));
        to = lt ? static_cast<const char*>(lt) : end_;
      }
      RawText = {at_, size_t(to - at_)};
      at_ = to;
      if (!SkipText || at_ >= end_) return Text;
    }
    const std::string_view r = rest();
    const bool pi = r.size() >= 2 && r[1] == '?';
    if (pi || sameBytes(r.substr(0, 4), "<!--"sv)) {
      const size_t end = r.find(pi ? "?>"sv : "-->"sv);
      if (end == std::string_view::npos) return Error;
      at_ += end + (pi ? 2 : 3);
      continue;
    }
    if (r.size() >= 2 && r[1] == '!') return Error;
    return r.size() >= 2 && r[1] == '/' ? endTag() : startTag();
  }
  return open_.empty() ? Done : Error;
}

TXmlScanner::Token TXmlScanner::startTag() {
  ++at_;
  size_t colon;
  const std::string_view qname = name(colon);
  if (qname.empty()) return Error;
  Attributes.clear();
  const size_t depth = open_.size();
  for (;;) {
    spaces();
    if (at_ >= end_) return Error;
    if (*at_ == '>' || *at_ == '/') {
      closePending_ = *at_ == '/';
      if (closePending_ && (at_ + 1 >= end_ || at_[1] != '>')) return Error;
      at_ += closePending_ ? 2 : 1;
      break;
    }
    size_t attributeColon;
    const std::string_view attribute = name(attributeColon);
    spaces();
    if (attribute.empty() || at_ >= end_ || *at_ != '=') return Error;
    ++at_;
    spaces();
    if (at_ >= end_ || (*at_ != '"' && *at_ != '\'')) return Error;
    const void* quote = std::memchr(at_ + 1, *at_, size_t(end_ - at_ - 1));
    if (!quote) return Error;
    const std::string_view value(at_ + 1, size_t(static_cast<const char*>(quote) - at_ - 1));
    if (value.find('<') != std::string_view::npos) return Error;
    at_ = static_cast<const char*>(quote) + 1;
    if (sameBytes(attribute, "xmlns"sv))
      namespaces_.push_back({std::string_view(), namespaceOf(value), depth});
    else if (sameBytes(attribute.substr(0, 6), "xmlns:"sv))
      namespaces_.push_back({attribute.substr(6), namespaceOf(value), depth});
    else
      Attributes.push_back({TNs::Other, attribute, value, attributeColon});
  }
  if (!resolve(qname, colon, true, Ns, Name)) return Error;
  open_.push_back({qname, Ns, Name});
  for (Attribute& a : Attributes)
    if (!resolve(a.Name, a.Colon, false, a.Ns, a.Name)) return Error;
  return Start;
}

TXmlScanner::Token TXmlScanner::endTag() {
  at_ += 2;
  // Only the open element's name may follow, and then no more of a name.
  if (open_.empty()) return Error;
  const std::string_view qname = open_.back().QName;
  if (size_t(end_ - at_) <= qname.size() || std::memcmp(at_, qname.data(), qname.size()) != 0 ||
      kNameByte[uchar(at_[qname.size()])] != kEnds)
    return Error;
  at_ += qname.size();
  spaces();
  if (at_ >= end_ || *at_ != '>') return Error;
  ++at_;
  Ns = open_.back().Ns; // the same name in the same scope as at its start
  Name = open_.back().Name;
  return close();
}

enum class Property { None, Title, Subject, Hierarchical };

Property propertyOf(TNs ns, std::string_view name) {
  if (ns == TNs::Dc && sameBytes(name, "title"sv)) return Property::Title;
  if (ns == TNs::Dc && sameBytes(name, "subject"sv)) return Property::Subject;
  if (ns == TNs::Lr && sameBytes(name, "hierarchicalSubject"sv)) return Property::Hierarchical;
  return Property::None;
}

void add(TXmpTexts& texts, Property property, const QString& text, const QString& language) {
  if (property == Property::Title) {
    if (language.isEmpty())
      texts.PlainTitle = text;
    else
      texts.TitleByLanguage.emplace(language, text);
  } else {
    QStringList& list = property == Property::Subject ? texts.Subjects : texts.HierarchicalSubjects;
    if (list.isEmpty()) list.reserve(8); // a handful, without growing one by one
    list.append(text);
  }
}

bool isBlank(std::string_view s) {
  return std::all_of(s.begin(), s.end(), isSpace);
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
    r.SkipText = property == Property::None || inContainer;
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
        if (r.Ns == TNs::Rdf && sameBytes(r.Name, "Description"sv))
          for (const TXmlScanner::Attribute& a : r.Attributes)
            if (const Property p = propertyOf(a.Ns, a.Name); p != Property::None) {
              QString value;
              if (!appendText(a.Value, value)) return std::nullopt;
              add(texts, p, value, QString());
            }
        break;
      }
      if (r.Ns == TNs::Rdf && !inContainer &&
          (sameBytes(r.Name, "Alt"sv) || sameBytes(r.Name, "Bag"sv) ||
           sameBytes(r.Name, "Seq"sv))) {
        inContainer = true;
        break;
      }
      if (r.Ns != TNs::Rdf || !sameBytes(r.Name, "li"sv) || !inContainer) return std::nullopt;
      QString language;
      for (const TXmlScanner::Attribute& a : r.Attributes)
        if (a.Ns == TNs::Xml && sameBytes(a.Name, "lang"sv) && !appendText(a.Value, language))
          return std::nullopt;
      if (property == Property::Title && language.isEmpty()) language = QStringLiteral("x-default");
      QString text; // the item holds text only
      r.SkipText = false;
      for (TXmlScanner::Token t = r.Next(); t != TXmlScanner::End; t = r.Next())
        if (t != TXmlScanner::Text || !appendText(r.RawText, text)) return std::nullopt;
      add(texts, property, text, property == Property::Title ? language : QString());
      break;
    }
    case TXmlScanner::Text:
      // White space before the first text counts for nothing: every text is simplified
      // before use. Skipping it spares a string for the white space around containers.
      if (property != Property::None && !inContainer &&
          !(plainText.isEmpty() && isBlank(r.RawText)) && !appendText(r.RawText, plainText))
        return std::nullopt;
      break;
    case TXmlScanner::End:
      if (property != Property::None && !inContainer && propertyOf(r.Ns, r.Name) == property) {
        if (!plainText.trimmed().isEmpty()) add(texts, property, plainText, QString());
        property = Property::None;
      } else if (property != Property::None && r.Ns == TNs::Rdf && !sameBytes(r.Name, "li"sv)) {
        inContainer = false; // the container closed; the property's own end follows
      } else if (r.Ns == TNs::Rdf && sameBytes(r.Name, "RDF"sv)) {
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
