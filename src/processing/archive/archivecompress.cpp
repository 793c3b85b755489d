// Compressing the archive's entries: how a file's bytes are stored or deflated, and the entries
// compressed at the end of a run, on a pool of threads.
#include "processing/archive/archivebuilder.h"

#include <QFile>
#include <cerrno>
#include <deque>
#include <future>
#include <libdeflate.h>
#include <limits>
#include <memory>
#include <unistd.h>
#include <vector>

namespace {

// libdeflate at its normal level: smaller output than zlib's normal level in a fraction of the
// time. Each thread keeps a compressor of its own.
constexpr int kDeflateLevel = 6;
// A JPEG file is stored unless deflating saves at least this share of it (percent). Photos
// shrink by 0 to 3.5 % (their entropy-coded data is nearly random; what shrinks are the
// standard Huffman tables' patterns and the metadata), which saves a web upload next to nothing
// and costs most of the archive's time. Files that shrink by more are unusual ones (flat
// pictures, large metadata) and are deflated.
constexpr int kJpegMinSaving = 5;
// Other data is deflated when that makes it smaller; large data whose samples shrink by less
// than this share (percent) is stored without trying it whole.
constexpr int kOtherMinSaving = 2;
// Data up to this size is tried whole; larger parts are judged by samples spread over them.
constexpr qsizetype kSample = 16 * 1024;
constexpr int kSamples = 8;
constexpr qsizetype kTriedWhole = 2 * kSample * kSamples;

// Estimates use libdeflate's fastest level: it saves a little less than the normal level, so a
// file it finds worth deflating is worth it.
constexpr int kEstimateLevel = 1;

struct FreeCompressor {
  void operator()(libdeflate_compressor* c) const { libdeflate_free_compressor(c); }
};

libdeflate_compressor* compressor() {
  thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> c(
      libdeflate_alloc_compressor(kDeflateLevel));
  return c.get();
}

libdeflate_compressor* estimator() {
  thread_local std::unique_ptr<libdeflate_compressor, FreeCompressor> c(
      libdeflate_alloc_compressor(kEstimateLevel));
  return c.get();
}

// Bytes that deflating saves of the length bytes at data: exact for up to kTriedWhole bytes,
// else estimated from samples.
qint64 savedBy(libdeflate_compressor* c, const char* data, qint64 length) {
  if (length <= 0) return 0;
  const size_t piece = size_t(std::min<qint64>(length, kTriedWhole));
  std::vector<char> out(libdeflate_deflate_compress_bound(c, piece));
  if (qint64(piece) == length)
    return length - qint64(libdeflate_deflate_compress(c, data, piece, out.data(), out.size()));
  qint64 in = 0, produced = 0;
  for (int i = 0; i < kSamples; ++i) {
    const qint64 at = (length - kSample) * i / (kSamples - 1);
    in += kSample;
    produced +=
        qint64(libdeflate_deflate_compress(c, data + at, size_t(kSample), out.data(), out.size()));
  }
  return (in - produced) * length / in;
}

// Where a JPEG file's first scan begins (behind the segments of tables and metadata); 0 when
// the segments cannot be followed; -1 when the data is no JPEG file.
qsizetype jpegScanStart(const QByteArray& bytes) {
  const auto* b = reinterpret_cast<const uchar*>(bytes.constData());
  const qsizetype size = bytes.size();
  if (size < 3 || b[0] != 0xff || b[1] != 0xd8 || b[2] != 0xff) return -1;
  qsizetype at = 2;
  while (at + 4 <= size && b[at] == 0xff) {
    const uchar marker = b[at + 1];
    if (marker == 0xff) { // fill byte
      ++at;
      continue;
    }
    const int length = (b[at + 2] << 8) | b[at + 3];
    if (length < 2) break;
    at += 2 + length;
    if (marker == 0xda) return at <= size ? at : 0;
  }
  return 0;
}

} // namespace

TCompressedEntry CompressForArchive(const QByteArray& bytes, bool quick) {
  TCompressedEntry entry;
  const qsizetype size = bytes.size();
  entry.Size = size;
  entry.Crc = quint32(libdeflate_crc32(0, bytes.constData(), size_t(size)));
  libdeflate_compressor* c = size == 0 ? nullptr : quick ? estimator() : compressor();
  if (c) {
    // The least saving that makes deflating worth it.
    const qsizetype jpegScan = jpegScanStart(bytes);
    const qint64 least =
        jpegScan >= 0 ? std::max<qint64>(1, qint64(size) * kJpegMinSaving / 100) : 1;
    // Small data other than JPEG is tried whole at once. A JPEG file of any size is judged
    // first (nearly all are stored, and trying one whole costs far more than the estimate).
    bool tryWhole = size <= kTriedWhole && jpegScan < 0;
    if (!tryWhole && estimator()) {
      // A JPEG file's metadata and its scans shrink very differently: each part is judged by
      // itself, so that a large metadata block cannot speak for the picture data.
      libdeflate_compressor* e = estimator();
      const char* data = bytes.constData();
      const qint64 saved =
          jpegScan > 0 ? savedBy(e, data, jpegScan) + savedBy(e, data + jpegScan, size - jpegScan)
                       : savedBy(e, data, size);
      tryWhole = saved >= std::max(least, qint64(size) * kOtherMinSaving / 100);
    }
    if (tryWhole && size > least) {
      // Output that would not save `least` bytes does not fit and is given up.
      QByteArray out(qsizetype(size - least), Qt::Uninitialized);
      const size_t produced = libdeflate_deflate_compress(c, bytes.constData(), size_t(size),
                                                          out.data(), size_t(out.size()));
      if (produced > 0) {
        out.truncate(qsizetype(produced));
        entry.Data = std::move(out);
        entry.Deflated = true;
        return entry;
      }
    }
  }
  entry.Data = bytes;
  return entry;
}

namespace {

// The bytes of the entry of the archive open at fd (its data at dataOffset), when they can be
// read and their CRC-32 is the one the entry names; else false. Holds at most limit bytes.
bool readEntry(int fd, const TZipEntryHeader& entry, qint64 dataOffset, QByteArray& plain,
               quint64 limit = quint64(std::numeric_limits<qsizetype>::max() / 2)) {
  if ((entry.Method != kZipStored && entry.Method != kZipDeflated) ||
      entry.CompressedSize > limit || entry.Size > limit)
    return false;
  QByteArray stored(qsizetype(entry.CompressedSize), Qt::Uninitialized);
  for (qsizetype at = 0; at < stored.size();) {
    const ssize_t n =
        ::pread(fd, stored.data() + at, size_t(stored.size() - at), off_t(dataOffset + at));
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
  }
  if (entry.Method == kZipStored) {
    plain = std::move(stored);
  } else {
    struct Free {
      void operator()(libdeflate_decompressor* d) const { libdeflate_free_decompressor(d); }
    };
    const std::unique_ptr<libdeflate_decompressor, Free> d(libdeflate_alloc_decompressor());
    plain = QByteArray(qsizetype(entry.Size), Qt::Uninitialized);
    if (!d || libdeflate_deflate_decompress(d.get(), stored.constData(), size_t(stored.size()),
                                            plain.data(), size_t(plain.size()),
                                            nullptr) != LIBDEFLATE_SUCCESS)
      return false;
  }
  return quint64(plain.size()) == entry.Size &&
         entry.Crc == quint32(libdeflate_crc32(0, plain.constData(), size_t(plain.size())));
}

// True when the entry of the archive open at fd (its data at dataOffset) holds exactly bytes.
bool sameAsEntry(const QByteArray& bytes, int fd, const TZipEntryHeader& entry, qint64 dataOffset) {
  if (entry.Size != quint64(bytes.size()) ||
      entry.Crc != quint32(libdeflate_crc32(0, bytes.constData(), size_t(bytes.size()))))
    return false;
  QByteArray plain;
  return readEntry(fd, entry, dataOffset, plain) && plain == bytes;
}

} // namespace

void TArchiveBuilder::CompressRemaining(int jobs) {
  // Entries wanted before the last call that ended are spooled, kept or unchanged by now: each
  // stage looks only at those wanted since.
  std::vector<size_t> todo;
  for (size_t i = settled_; i < wanted_.size(); ++i)
    // Most entries are unchanged: asked first, that spares them the other look-ups.
    if (!wanted_[i].Previous && !unchanged(wanted_[i]) && !spooled_.contains(wanted_[i].Name) &&
        !sameContent_.contains(wanted_[i].Name))
      todo.push_back(i);
  const size_t wanted = wanted_.size();
  if (todo.empty()) {
    settled_ = wanted;
    return;
  }
  qint64 total = 0, done = 0;
  if (Progress) {
    for (size_t index : todo)
      total += wanted_[index].Size;
    Progress(0, total);
  }
  // A file written again with the content the previous archive holds (the database after a run
  // that changed nothing) keeps its entry: compared with it, not compressed.
  const QHash<QString, OldEntry>& old = checkedEntries();
  struct Result {
    bool Ok = false;
    bool Same = false; // the previous archive's entry holds these bytes
    TCompressedEntry Entry;
  };
  // Each file in flight is read and compressed on a thread of its own; the futures of
  // std::async join those threads when they go, so nothing outlives this call.
  struct Job {
    size_t Index;
    std::future<Result> Outcome;
  };
  std::deque<Job> running;
  size_t next = 0;
  auto startMore = [&] {
    // A few files in flight per thread keep the threads busy and memory bounded.
    while (next < todo.size() && running.size() < size_t(2 * std::max(1, jobs))) {
      const size_t index = todo[next++];
      const QString source = wanted_[index].Source;
      const auto o = old.constFind(wanted_[index].Name);
      TZipEntryHeader previous;
      qint64 previousAt = -1;
      if (o != old.constEnd()) {
        previous = o->Raw.Header;
        previousAt = o->DataOffset;
      }
      running.push_back(
          {index, std::async(std::launch::async, [source, previous, previousAt, fd = oldFd_] {
             Result result;
             QFile file(source);
             if (!file.open(QIODevice::ReadOnly)) return result;
             const QByteArray bytes = file.readAll();
             result.Ok = file.error() == QFileDevice::NoError;
             if (!result.Ok) return result;
             result.Same = previousAt >= 0 && sameAsEntry(bytes, fd, previous, previousAt);
             if (!result.Same) result.Entry = CompressForArchive(bytes);
             return result;
           })});
    }
  };
  try {
    startMore();
    while (!running.empty()) {
      Job job = std::move(running.front());
      running.pop_front();
      Result result = job.Outcome.get();
      const Wanted& w = wanted_[job.Index];
      if (!result.Ok)
        throw TZipError(QStringLiteral("The file \"%1\" cannot be added to the zip archive: it "
                                       "cannot be read.")
                            .arg(w.Source));
      if (result.Same)
        sameContent_.insert(w.Name);
      else
        Spool(w.Name, w.Source, result.Entry);
      if (Progress) Progress(done += w.Size, std::max(total, done));
      startMore();
    }
  } catch (...) {
    running.clear(); // waits for the files still in flight
    throw;
  }
  settled_ = wanted;
}

QByteArray TArchiveBuilder::PreviousBytes(const QString& entryName, qint64 limit) const {
  const QHash<QString, OldEntry>& old = checkedEntries();
  const auto o = old.constFind(ZipEntryName(entryName));
  QByteArray plain;
  if (o == old.constEnd() || limit < 0 ||
      !readEntry(oldFd_, o->Raw.Header, o->DataOffset, plain, quint64(limit)))
    return QByteArray();
  return plain;
}

void TArchiveBuilder::WantMade(const QString& entryName, const QByteArray& bytes) {
  const QString name = ZipEntryName(entryName);
  if (name.isEmpty()) return;
  const QHash<QString, OldEntry>& old = checkedEntries();
  if (const auto o = old.constFind(name);
      o != old.constEnd() && sameAsEntry(bytes, oldFd_, o->Raw.Header, o->DataOffset)) {
    KeepPrevious(name);
    return;
  }
  const QString folded = name.toCaseFolded(); // as Want compares them
  if (const auto at = wantedByFolded_.constFind(folded); at != wantedByFolded_.constEnd())
    throw TZipError(QStringLiteral("The made file \"%1\" and \"%2\" would both be packed as "
                                   "\"%1\".")
                        .arg(name, wanted_[size_t(*at)].Source));
  wantedByFolded_.insert(folded, int(wanted_.size()));
  Wanted made;
  made.Name = name;
  made.Size = bytes.size();
  wanted_.push_back(made);
  // Pages are many and small: the fastest level costs half the time of the normal one for about
  // 1.5 % more bytes of them.
  Spool(name, QString(), CompressForArchive(bytes, true));
}
