#pragma once
// The picture for the large viewer: an original decoded no larger than needed to fill a box
// (a JPEG at the smallest of the codec's eighths, m/8, that still covers the box), turned as the
// picture is turned, then reduced once to the box and put into sRGB, so that drawing it is a
// plain copy. Other formats go through the same bounded decoder as the list previews: the
// project's pixel limit and a memory budget hold. Values in, values out; never raises: a problem
// comes back as its text.
//
// Threads: any thread.
#include <QImage>
#include <QSize>
#include <QString>

struct TViewerImage {
  QImage Bitmap;   // empty on failure; fitted into the box, never enlarged
  QSize FullSize;  // the original's stored size
  int Eighths = 8; // the codec's scale the bitmap was decoded at (8: whole)
  QString Problem; // why there is no bitmap
};

// The eighths (1..8) a JPEG of the stored size is decoded at for the box (device pixels) and the
// picture's orientation code (ApplyOrientation): the smallest whose decode still covers the
// picture fitted into the box; 8 when the picture is no larger than the box.
int ViewerJpegEighths(QSize stored, QSize box, int orientation);

// box: the device pixels the viewer has; orientation: the picture's code (ApplyOrientation);
// maxPixels: the project's pixel limit (0: none).
TViewerImage LoadViewerImage(const QString& originalPath, QSize box, int orientation,
                             qint64 maxPixels = 0);

// A quick first frame from a list preview file (stored unturned, as the list keeps it), fitted
// into the box like the picture; empty when the file is missing or torn.
QImage LoadViewerPreview(const QString& previewPath, QSize box, int orientation);
