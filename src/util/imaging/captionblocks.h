#pragma once
// The few texts captions are made of, read straight from the two blocks an editor writes into a
// picture's header: the XMP packet (dc:title, dc:subject, lr:hierarchicalSubject) and the IPTC
// record inside a Photoshop block (Object Name 2:05, Headline 2:105, Keywords 2:25). Both
// readers stay inside the bytes they are given and never raise.
//
// Threads: any thread; calls share no state.
#include <QByteArray>
#include <QByteArrayView>
#include <QList>
#include <QString>
#include <QStringList>

#include <map>
#include <optional>

struct TXmpTexts {
  std::map<QString, QString> TitleByLanguage; // a language alternative: code -> text
  QString PlainTitle;                         // a title written without languages
  QStringList Subjects, HierarchicalSubjects;
};

// Reads the three properties from a packet that is well-formed XML and writes them in the plain
// forms editors use (a text, a language alternative, an array of texts, or an attribute of
// rdf:Description). Anything else (a packet that is not well-formed, a structure inside a
// property, an entity or section it does not know) gives no result: a full XMP reader must then
// read the packet, and can say what is damaged.
std::optional<TXmpTexts> ScanXmpTexts(QByteArrayView packet);

struct TIptcTexts {
  QList<QByteArray> ObjectNames, Headlines, Keywords; // raw bytes, in the record's order
  bool Damaged = false; // a data set runs past the record's end: nothing of it is used
};

// The IPTC record of a Photoshop block (the resources of a JPEG file's APP13 segments, joined).
// A block without an IPTC resource, or whose resources do not parse, gives no texts and is not
// counted as damaged; a damaged IPTC record gives no texts and Damaged.
TIptcTexts ParseIptcTexts(QByteArrayView photoshopBlock);
