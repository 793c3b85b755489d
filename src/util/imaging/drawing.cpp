#include "util/imaging/drawing.h"

#include "util/helpers.h"
#include "util/imaging/resample.h"

#include <cmath>

QRect FittedDestination(int width, int height, const QRect& rect) {
  const int l = rect.left(), t = rect.top();
  const int rw = rect.width(), rh = rect.height();
  if (width <= 0 || height <= 0 || rw <= 0 || rh <= 0) return QRect();
  const double qw = double(width) / rw, qh = double(height) / rh;
  if (qw > qh) {
    // The width limits: full width, centred vertically.
    const double hp = height / qw;
    const int top = t + RoundHalfEven(std::fabs(rh - hp)) / 2;
    const int bottom = t + RoundHalfEven(rh + hp) / 2;
    return QRect(l, top, rw, bottom - top);
  }
  const double wp = width / qh;
  const int left = l + RoundHalfEven(std::fabs(rw - wp)) / 2;
  const int right = l + RoundHalfEven(rw + wp) / 2;
  return QRect(left, t, right - left, rh);
}

void DrawBitmapFitted(const QImage& bitmap, QPainter& painter, const QRect& rect) {
  if (bitmap.isNull()) return;
  const QRect dest = FittedDestination(bitmap.width(), bitmap.height(), rect);
  if (dest.isEmpty()) return;
  const QImage scaled =
      ResampleBitmap(bitmap, QRectF(0, 0, bitmap.width(), bitmap.height()), dest.size(), rfLanczos);
  painter.drawImage(dest.topLeft(), scaled);
}
