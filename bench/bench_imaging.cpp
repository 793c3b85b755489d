// Imaging benchmark: per original, the processing run's work for the default settings (medium
// 800 x 768 and thumbnail 200 x 150, Lanczos, quality 90) on one thread, against two peers
// measured in the same run:
//   - vipsthumbnail making the same two outputs (two runs, one per size), one worker thread
//     (VIPS_CONCURRENCY=1) and with its default threads;
//   - djpeg -scale 1/2 only decoding the original.
// Prints CPU and wall times, their ratios, the PSNR of our outputs against a pipeline that decodes
// at full resolution, and the peak memory of one worker.
//
//   bench_imaging [--reps N] [--out DIR] photo.jpg...
//   bench_imaging --profile [--reps N] [--large] photo.jpg
//                 (time of each step; --large: full-resolution decode turned a quarter)
//   bench_imaging --memory photo.jpg [--large]      (used by the benchmark itself)
#include "util/imaging/imaging.h"
#include "util/imaging/jpegcodec.h"

#include <QDir>
#include <QFileInfo>
#include <QString>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

extern char** environ;

namespace {

struct Times {
  double cpu = 0.0, wall = 0.0;
};

double Now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

double ThreadCpu() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Runs a program to its end; CPU time of the child (user + system) and wall time.
Times Run(const std::vector<std::string>& args, const std::vector<std::string>& extraEnv = {}) {
  std::vector<char*> argv;
  for (const auto& a : args)
    argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  std::vector<std::string> envStore;
  for (char** e = environ; *e; ++e)
    envStore.emplace_back(*e);
  for (const auto& e : extraEnv)
    envStore.push_back(e);
  std::vector<char*> envp;
  for (auto& e : envStore)
    envp.push_back(e.data());
  envp.push_back(nullptr);
  posix_spawn_file_actions_t fa;
  posix_spawn_file_actions_init(&fa);
  posix_spawn_file_actions_addopen(&fa, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_addopen(&fa, 2, "/dev/null", O_WRONLY, 0);
  Times t;
  const double start = Now();
  pid_t pid = 0;
  if (posix_spawnp(&pid, argv[0], &fa, nullptr, argv.data(), envp.data()) != 0) {
    std::fprintf(stderr, "cannot start %s\n", argv[0]);
    std::exit(2);
  }
  posix_spawn_file_actions_destroy(&fa);
  int status = 0;
  rusage ru{};
  wait4(pid, &status, 0, &ru);
  t.wall = Now() - start;
  t.cpu = double(ru.ru_utime.tv_sec + ru.ru_stime.tv_sec) +
          double(ru.ru_utime.tv_usec + ru.ru_stime.tv_usec) * 1e-6;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::fprintf(stderr, "%s failed\n", argv[0]);
    std::exit(2);
  }
  return t;
}

struct Outputs {
  QImage medium, thumb;
};

// The processing run's work for one original with large images off.
Outputs Ours(const QString& photo, const QString& outDir, bool large = false) {
  TOriginalRequest req;
  req.Boxes = {QSize(800, 768), QSize(200, 150)};
  req.FullResolution = large;
  const TLoadedOriginal o = LoadOriginal(photo, req);
  Outputs out;
  const QString name = QFileInfo(photo).fileName();
  if (large) SaveBitmapAsJpeg(o.Bitmap, 90, outDir + "/l_" + name);
  ScaleLoadedOriginal(photo, o, out.medium, 800, 768, false, rfLanczos);
  SaveBitmapAsJpeg(out.medium, 90, outDir + "/m_" + name);
  ScaleLoadedOriginal(photo, o, out.thumb, 200, 150, false, rfLanczos);
  SaveBitmapAsJpeg(out.thumb, 90, outDir + "/tn_" + name);
  return out;
}

// The same outputs from a full-resolution decode, with the kernel applied to every pixel (no
// reduced decode, no block averaging).
Outputs Reference(const QString& photo) {
  const QImage full = DecodeJpegFile(photo);
  const QRectF all(0, 0, full.width(), full.height());
  Outputs out;
  out.medium =
      ResampleBitmap(full, all, FitIntoBox(full.size(), 800, 768, false).Size, rfLanczos, true);
  out.thumb =
      ResampleBitmap(full, all, FitIntoBox(full.size(), 200, 150, false).Size, rfLanczos, true);
  return out;
}

double Psnr(const QImage& a, const QImage& b) {
  if (a.size() != b.size()) return 0.0;
  double se = 0.0;
  for (int y = 0; y < a.height(); ++y) {
    const QRgb* p = reinterpret_cast<const QRgb*>(a.constScanLine(y));
    const QRgb* q = reinterpret_cast<const QRgb*>(b.constScanLine(y));
    for (int x = 0; x < a.width(); ++x) {
      const int dr = qRed(p[x]) - qRed(q[x]), dg = qGreen(p[x]) - qGreen(q[x]),
                db = qBlue(p[x]) - qBlue(q[x]);
      se += dr * dr + dg * dg + db * db;
    }
  }
  const double mse = se / (3.0 * a.width() * a.height());
  return mse == 0.0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0.0 : v[v.size() / 2];
}

long MaxRssKb() {
  rusage ru{};
  getrusage(RUSAGE_SELF, &ru);
  return ru.ru_maxrss;
}

// Processor time of each step of Ours(), median of reps runs.
int ProfileMode(const QString& photo, int reps, bool large) {
  const QString dir = QDir::tempPath() + "/lumenfold-bench-prof";
  QDir().mkpath(dir);
  std::vector<std::vector<double>> t(5);
  TLoadedOriginal o; // reused from picture to picture, as the processing run does
  for (int r = 0; r < reps; ++r) {
    TOriginalRequest req;
    req.Boxes = {QSize(800, 768), QSize(200, 150)};
    req.FullResolution = large;
    req.Orientation = large ? std::atoi(qgetenv("BENCH_ORIENTATION").isEmpty()
                                            ? "2"
                                            : qgetenv("BENCH_ORIENTATION").constData())
                            : 1;
    double c = ThreadCpu();
    auto lap = [&](int k) {
      const double now = ThreadCpu();
      t[size_t(k)].push_back(now - c);
      c = now;
    };
    LoadOriginal(photo, req, o);
    lap(0);
    QImage m, tn;
    ScaleLoadedOriginal(photo, o, m, 800, 768, false, rfLanczos);
    lap(1);
    SaveBitmapAsJpeg(m, 90, dir + "/m.jpg");
    lap(2);
    ScaleLoadedOriginal(photo, o, tn, 200, 150, false, rfLanczos);
    lap(3);
    SaveBitmapAsJpeg(tn, 90, dir + "/t.jpg");
    lap(4);
  }
  const char* names[] = {"decode (oriented, cropped, reduced)", "fit medium", "encode medium",
                         "fit thumbnail", "encode thumbnail"};
  for (size_t k = 0; k < t.size(); ++k)
    std::printf("  %-36s %7.1f ms\n", names[k], Median(t[k]) * 1e3);
  QDir(dir).removeRecursively();
  return 0;
}

int MemoryMode(const QString& photo, bool large) {
  const QString dir = QDir::tempPath() + "/lumenfold-bench-mem";
  QDir().mkpath(dir);
  const QSize size = ReadJpegSize(photo);
  const long before = MaxRssKb();
  Ours(photo, dir, large);
  const long after = MaxRssKb();
  const double decodedMb = double(size.width()) * size.height() * 4 / 1048576.0;
  std::printf("%.1f %.1f\n", (after - before) / 1024.0, decodedMb);
  QDir(dir).removeRecursively();
  return 0;
}

} // namespace

int main(int argc, char** argv) {
  int reps = 5;
  QString outDir = QDir::tempPath() + "/lumenfold-bench";
  std::vector<QString> photos;
  bool memory = false, large = false, profile = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if (a == "--reps" && i + 1 < argc)
      reps = std::max(1, std::atoi(argv[++i]));
    else if (a == "--out" && i + 1 < argc)
      outDir = QString::fromLocal8Bit(argv[++i]);
    else if (a == "--memory")
      memory = true;
    else if (a == "--profile")
      profile = true;
    else if (a == "--large")
      large = true;
    else
      photos.push_back(QString::fromLocal8Bit(argv[i]));
  }
  if (photos.empty()) {
    std::fprintf(stderr, "usage: bench_imaging [--reps N] [--out DIR] photo.jpg...\n");
    return 2;
  }
  if (memory) return MemoryMode(photos.front(), large);
  if (profile) return ProfileMode(photos.front(), reps, large);
  QDir().mkpath(outDir);
  const std::string out = QDir(outDir).absolutePath().toStdString();

  std::printf("%-14s %9s %9s %9s %9s %9s  %8s %8s  %6s %6s\n", "photo", "ours", "vips-1t", "vips",
              "djpeg1/2", "", "vips1/us", "us/djpeg", "PSNRm", "PSNRt");
  std::vector<double> sumOurs(2), sumVips1(2), sumVips(2), sumDjpeg(2);
  double minPsnr = 99.0;
  for (const QString& photo : photos) {
    const std::string p = photo.toStdString();
    std::vector<double> oc, ow, v1c, v1w, vc, vw, dc, dw;
    Outputs mine;
    for (int r = 0; r < reps; ++r) {
      const double c0 = ThreadCpu(), w0 = Now();
      mine = Ours(photo, outDir);
      ow.push_back(Now() - w0);
      oc.push_back(ThreadCpu() - c0);
      Times a = Run({"vipsthumbnail", p, "--size", "800x768", "-o", out + "/vm_%s.jpg[Q=90]"},
                    {"VIPS_CONCURRENCY=1"});
      Times b = Run({"vipsthumbnail", p, "--size", "200x150", "-o", out + "/vt_%s.jpg[Q=90]"},
                    {"VIPS_CONCURRENCY=1"});
      v1c.push_back(a.cpu + b.cpu);
      v1w.push_back(a.wall + b.wall);
      a = Run({"vipsthumbnail", p, "--size", "800x768", "-o", out + "/vm_%s.jpg[Q=90]"});
      b = Run({"vipsthumbnail", p, "--size", "200x150", "-o", out + "/vt_%s.jpg[Q=90]"});
      vc.push_back(a.cpu + b.cpu);
      vw.push_back(a.wall + b.wall);
      const Times d = Run({"djpeg", "-scale", "1/2", "-outfile", "/dev/null", p});
      dc.push_back(d.cpu);
      dw.push_back(d.wall);
    }
    const Outputs ref = Reference(photo);
    const double pm = Psnr(mine.medium, ref.medium), pt = Psnr(mine.thumb, ref.thumb);
    minPsnr = std::min({minPsnr, pm, pt});
    const double o[2] = {Median(oc), Median(ow)}, v1[2] = {Median(v1c), Median(v1w)},
                 v[2] = {Median(vc), Median(vw)}, d[2] = {Median(dc), Median(dw)};
    for (int k = 0; k < 2; ++k) {
      sumOurs[k] += o[k], sumVips1[k] += v1[k], sumVips[k] += v[k], sumDjpeg[k] += d[k];
      std::printf("%-14s %8.0fms %8.0fms %8.0fms %8.0fms %9s  %7.2fx %7.2fx  %6.1f %6.1f\n",
                  k == 0 ? QFileInfo(photo).fileName().toStdString().c_str() : "", o[k] * 1e3,
                  v1[k] * 1e3, v[k] * 1e3, d[k] * 1e3, k == 0 ? "(cpu)" : "(wall)", v1[k] / o[k],
                  o[k] / d[k], pm, pt);
    }
  }
  const double n = double(photos.size());
  std::printf("\nper original, median of %d runs, averaged over %zu originals:\n", reps,
              photos.size());
  for (int k = 0; k < 2; ++k)
    std::printf("  %-5s ours %.0f ms, vipsthumbnail 1 thread %.0f ms (%.2fx ours), default "
                "threads %.0f ms (%.2fx), djpeg -scale 1/2 %.0f ms (ours = %.2fx djpeg)\n",
                k == 0 ? "cpu" : "wall", sumOurs[k] / n * 1e3, sumVips1[k] / n * 1e3,
                sumVips1[k] / sumOurs[k], sumVips[k] / n * 1e3, sumVips[k] / sumOurs[k],
                sumDjpeg[k] / n * 1e3, sumOurs[k] / sumDjpeg[k]);
  std::printf("  lowest PSNR against a full-resolution decode: %.1f dB\n", minPsnr);

  // Peak memory of one worker, each in a fresh process.
  for (bool withLarge : {false, true}) {
    const std::string cmd = std::string("'") + argv[0] + "' --memory '" +
                            photos.front().toStdString() + "'" + (withLarge ? " --large" : "");
    FILE* f = popen(cmd.c_str(), "r");
    double peak = 0, decoded = 0;
    if (f && std::fscanf(f, "%lf %lf", &peak, &decoded) == 2)
      std::printf("  peak memory of one worker%s: %.1f MB over its start (%.2fx the %.1f MB "
                  "full decode)\n",
                  withLarge ? " with large images on" : "", peak, peak / decoded, decoded);
    if (f) pclose(f);
  }
  QDir(outDir).removeRecursively();
  return 0;
}
