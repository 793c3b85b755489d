#pragma once
// Drawing a bitmap centred into a rectangle with its aspect ratio kept (previews in the picture
// list and the main window).
//
// Threads: user-interface thread (or any thread for painters on bitmaps it owns).
#include <QImage>
#include <QPainter>
#include <QRect>

// The destination rectangle DrawBitmapFitted uses for a width x height bitmap in rect (the
// rectangle's right edge is left + width, its bottom top + height). Empty when nothing is drawn.
QRect FittedDestination(int width, int height, const QRect& rect);

// Draws the whole bitmap, resampled with the Lanczos filter, centred in rect.
void DrawBitmapFitted(const QImage& bitmap, QPainter& painter, const QRect& rect);
