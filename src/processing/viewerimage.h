#pragma once
// The picture for the large viewer: an original decoded no larger than needed to fill a box
// (a JPEG at 1/2, 1/4 or 1/8 of its size straight from the codec), turned as the picture is
// turned, in sRGB. Values in, values out; never raises: a problem comes back as its text.
//
// Threads: any thread.
#include <QImage>
#include <QSize>
#include <QString>

struct TViewerImage {
  QImage Bitmap;   // empty on failure
  QSize FullSize;  // the original's stored size
  QString Problem; // why there is no bitmap
};

// box: the device pixels the viewer has; orientation: the picture's code (ApplyOrientation).
TViewerImage LoadViewerImage(const QString& originalPath, QSize box, int orientation);
