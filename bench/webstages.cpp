// Where the time of the extra web sizes goes: each stage of a picture's run timed alone, in
// processor time, averaged over the given originals.
//   bench_webstages ORIGINAL... [--quality Q] [--chroma 420|444] [--vectors 0|1|2]
// --vectors: the widest vectors the resampler may use (0 portable, 1 AVX2, 2 AVX-512).
#include "util/helpers.h"
#include "util/imaging/colour.h"
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"
#include "util/imaging/resample.h"

#include <QStringList>
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <string>
#include <vector>

namespace {

double cpuNow() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

std::map<std::string, double> g_total;
std::vector<std::string> g_order;

template <class F> void timed(const std::string& name, F&& f) {
  const double t0 = cpuNow();
  f();
  const double dt = cpuNow() - t0;
  if (!g_total.count(name)) g_order.push_back(name);
  g_total[name] += dt;
}

QSize fit(QSize from, int w, int h) {
  return FitIntoBox(from, w, h, true).Size;
}

} // namespace

int main(int argc, char** argv) {
  QStringList files;
  int quality = 90;
  TJpegChroma chroma = TJpegChroma::Half;
  for (int i = 1; i < argc; ++i) {
    if (!std::strcmp(argv[i], "--quality") && i + 1 < argc)
      quality = std::atoi(argv[++i]);
    else if (!std::strcmp(argv[i], "--chroma") && i + 1 < argc)
      chroma = std::atoi(argv[++i]) == 444 ? TJpegChroma::Full : TJpegChroma::Half;
    else if (!std::strcmp(argv[i], "--vectors") && i + 1 < argc)
      LimitResampleVectors(TResampleVectors(std::clamp(std::atoi(argv[++i]), 0, 2)));
    else
      files.append(QString::fromLocal8Bit(argv[i]));
  }
  if (files.isEmpty()) {
    std::fprintf(stderr,
                 "usage: %s ORIGINAL... [--quality Q] [--chroma 420|444] [--vectors 0|1|2]\n",
                 argv[0]);
    return 2;
  }
  // As in a run: each worker keeps its decode and fitted images from picture to picture, and
  // each size is fitted from the smallest one made before it that is large enough.
  QImage quarter, half, w2560, w1600, w700, m, t, dm, dt;
  auto into = [](const QImage& from, QImage& to, QSize size) {
    ResampleBitmapInto(from, QRectF(from.rect()), to, size, rfLanczos);
  };
  for (const QString& path : files) {
    QByteArray data;
    timed("read", [&] { ReadWholeFile(path, data); });
    timed("decode 1/4 (default job)", [&] {
      quarter = DecodeJpegDataTransformed(data, path, 4, 1, QRect(), nullptr, &quarter);
    });
    timed("decode 1/2 (web sizes)",
          [&] { half = DecodeJpegDataTransformed(data, path, 2, 1, QRect(), nullptr, &half); });
    const QSize full = ReadJpegSize(data, path);
    const QSize s2560 = fit(full, 2560, 2560), s1600 = fit(full, 1600, 1600),
                s700 = fit(full, 700, 700), medium = fit(full, 800, 768),
                thumb = fit(full, 200, 150);
    timed("resample 1/4 -> medium (default)", [&] { into(quarter, dm, medium); });
    timed("resample medium -> thumb (default)", [&] { into(dm, dt, thumb); });
    timed("resample 1/2 -> 2560", [&] { into(half, w2560, s2560); });
    timed("resample 2560 -> 1600", [&] { into(w2560, w1600, s1600); });
    timed("resample 1600 -> 700", [&] { into(w1600, w700, s700); });
    timed("resample 1600 -> medium", [&] { into(w1600, m, medium); });
    timed("resample 700 -> thumb", [&] { into(w700, t, thumb); });
    QByteArray j;
    timed("encode 2560", [&] { j = EncodeJpeg(w2560, quality, chroma); });
    timed("encode 1600", [&] { j = EncodeJpeg(w1600, quality, chroma); });
    timed("encode 700", [&] { j = EncodeJpeg(w700, quality, chroma); });
    timed("encode medium", [&] { j = EncodeJpeg(m, quality, chroma); });
    timed("encode thumb", [&] { j = EncodeJpeg(t, quality, chroma); });
    timed("tag sRGB (medium)", [&] { j = TagJpegAsSrgb(j); });
  }
  const double n = files.size();
  for (const std::string& name : g_order)
    std::printf("%-36s %7.1f ms\n", name.c_str(), 1000.0 * g_total[name] / n);
  return 0;
}
