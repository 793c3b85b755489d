#pragma once
// Titles and keywords that photographers write into their pictures with their photo editor,
// read with Exiv2 from the XMP packet and the IPTC block of any original the program takes
// (JPEG, HEIF, PNG, TIFF, WebP).
//
// Titles: XMP dc:title holds a text per language. The first site language takes the
// "x-default" entry (else the entry of its own language code), the second site language the
// entry of its code ("de" matches "de" and "de-CH"). Without an XMP title the first language
// takes IPTC Object Name, else IPTC Headline; IPTC has no second language.
// Keywords: XMP dc:subject, IPTC Keywords and the last part of each XMP lr:hierarchicalSubject
// entry ("Places|Europe|Rome" gives "Rome"), in that order, without repeats (letter case
// ignored).
//
// A damaged block costs only that block: a broken XMP packet still gives the IPTC texts. Reading
// never raises; Problem says what could not be read.
//
// Threads: every function may be called from any thread; calls share no state.
#include <QString>
#include <QStringList>

struct TEmbeddedCaptions {
  QString Title, Title2; // first and second site language; empty when the file has none
  QStringList Keywords;
  QString Problem;
  bool IsEmpty() const { return Title.isEmpty() && Title2.isEmpty() && Keywords.isEmpty(); }
};

// The same from the XMP packet and the Photoshop block (holding the IPTC record) of a JPEG file
// as ReadCameraMetadata collects them (TMetadataParts::ExifAndCaptions): no second reading of
// the file.
TEmbeddedCaptions ParseEmbeddedCaptions(const QByteArray& xmpPacket,
                                        const QByteArray& photoshopBlock, const QString& language1,
                                        const QString& language2);

// Reads the captions of the picture file. language1 and language2 are the site languages' codes
// ("en", "de"); either may be empty.
TEmbeddedCaptions ReadEmbeddedCaptions(const QString& path, const QString& language1,
                                       const QString& language2);
