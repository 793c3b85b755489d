#pragma once
// Drawing of signatures onto 32-bit bitmaps: anchor points, fonts and captions of items.
// TLumenfoldSignature::Draw and TLumenfoldSignatureItem::DrawAt (signature.h) build on these.
//
// Threads: every function may be called from any thread, also several at once on different
// bitmaps; a QGuiApplication must exist before text is measured or drawn (fonts need it).
#include <QFont>
#include <QPoint>
#include <QRgb>
#include <QSize>
#include <QString>

class QImage;
class TLumenfoldPicture;
class TLumenfoldSignatureItem;

// Top-left corner of an item of the given size placed at a location code (0..9) with an offset
// on a bitmap of the given size. False for a code outside 0..9 (nothing is drawn then).
bool SignatureAnchor(QSize bitmap, QSize item, int location, QPoint offset, QPoint* topLeft);

// Pixels per inch used to turn point sizes into pixel heights: 96 unless the program has set the
// screen's logical resolution at start.
int SignatureTextDpi();
void SetSignatureTextDpi(int dpi);
// Takes the primary screen's logical resolution, when there is a screen. Call once on the
// user-interface thread at start, before any worker draws.
void UseScreenTextDpi();
// round(points * dpi / 72), at least 1 pixel.
int SignatureFontPixelSize(int points);
// The item's font (face, pixel size, bold, italic, underline, strike-out).
QFont SignatureItemFont(const TLumenfoldSignatureItem& item);
// A stored 0x00BBGGRR colour as an opaque pixel value.
QRgb SignatureColorToRgb(int color);

// The text a caption stamps on a picture: the caption itself without a picture (editor
// previews) or when the picture's album has no project; otherwise the caption with its renaming
// macros expanded for that picture.
QString SignatureCaptionText(const QString& caption, const TLumenfoldPicture* picture);
