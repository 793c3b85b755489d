#include "util/imaging/heifboxes.h"

#include "util/imaging/imageerror.h"

#include <QHash>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

constexpr qint64 kMaxFtypBytes = 4096;
constexpr qint64 kMaxMetaBytes = qint64(4) << 20; // a phone's holds a few kilobytes
constexpr int kMaxTopLevelBoxes = 1024;           // before the meta box
constexpr int kMaxProperties = 32768;             // the most an association can name
constexpr int kMaxBlockExtents = 256;
constexpr quint32 kMaxSide = 32768; // libheif refuses larger images

constexpr quint32 fourcc(const char (&s)[5]) {
  return quint32(uchar(s[0])) << 24 | quint32(uchar(s[1])) << 16 | quint32(uchar(s[2])) << 8 |
         quint32(uchar(s[3]));
}

// Thrown inside the reader: the file is damaged (why), or it needs libheif.
struct TDamage {
  const char* Why;
};
struct TNeedsLibrary {};

// Bytes of a box held in memory, read front to back; nothing is read past their end.
class TBytes {
public:
  TBytes() = default;
  TBytes(const uchar* data, qint64 size) : p_(data), n_(size) {}
  qint64 Left() const { return n_; }
  bool AtEnd() const { return n_ == 0; }
  const uchar* Data() const { return p_; }
  // An unsigned big-endian number of 0 to 8 bytes.
  quint64 Read(int bytes) {
    need(bytes);
    quint64 v = 0;
    for (int i = 0; i < bytes; ++i)
      v = v << 8 | p_[i];
    p_ += bytes, n_ -= bytes;
    return v;
  }
  quint32 U8() { return quint32(Read(1)); }
  quint32 U16() { return quint32(Read(2)); }
  quint32 U32() { return quint32(Read(4)); }
  TBytes Take(qint64 bytes) {
    need(bytes);
    const TBytes part(p_, bytes);
    p_ += bytes, n_ -= bytes;
    return part;
  }
  // A zero-terminated text; one without its zero runs to the end of the box.
  QByteArray Text() {
    const void* zero = n_ > 0 ? std::memchr(p_, 0, size_t(n_)) : nullptr;
    const qint64 length = zero ? static_cast<const uchar*>(zero) - p_ : n_;
    const QByteArray text(reinterpret_cast<const char*>(p_), qsizetype(length));
    Take(zero ? length + 1 : length);
    return text;
  }

private:
  void need(qint64 bytes) const {
    if (bytes < 0 || bytes > n_) throw TDamage{"a box is shorter than its fields"};
  }
  const uchar* p_ = nullptr;
  qint64 n_ = 0;
};

struct TBox {
  quint32 Type = 0;
  TBytes Body;
};

// The next box of a container held in memory; false at its end.
bool nextBox(TBytes& in, TBox& box) {
  if (in.AtEnd()) return false;
  if (in.Left() < 8) throw TDamage{"a box header is cut short"};
  quint64 size = in.U32();
  box.Type = in.U32();
  quint64 header = 8;
  if (size == 1) {
    if (in.Left() < 8) throw TDamage{"a box header is cut short"};
    size = in.Read(8), header = 16;
  } else if (size == 0) {
    // Only the file's last box may run to the end of the file.
    throw TDamage{"a box inside the meta box has no size"};
  }
  if (size < header) throw TDamage{"a box is smaller than its header"};
  if (size - header > quint64(in.Left())) throw TDamage{"a box runs past the end of its container"};
  box.Body = in.Take(qint64(size - header));
  return true;
}

// The version of a full box; its flags into *flags.
quint32 fullBox(TBytes& body, quint32* flags = nullptr) {
  const quint32 version = body.U8();
  const quint32 f = quint32(body.Read(3));
  if (flags) *flags = f;
  return version;
}

// A count of records of at least minBytes each that must fit in what is left of the box.
quint64 checkedCount(const TBytes& body, quint64 count, qint64 minBytes) {
  if (count > quint64(body.Left() / minBytes))
    throw TDamage{"a count is larger than its box can hold"};
  return count;
}

struct TExtent {
  quint64 Offset = 0, Length = 0;
};

struct TLocation {
  int Method = 0;
  bool External = false;  // in another file
  bool WholeRest = false; // an extent of length 0: up to the end of the data
  std::vector<TExtent> Extents;
};

struct TItem {
  quint32 Id = 0, Type = 0;
  QByteArray ContentType;
  bool Hidden = false, Protected = false;
};

struct TReference {
  quint32 Type = 0;
  std::vector<quint32> To;
  int Boxes = 0; // reference boxes from this item
};

QByteArray readAt(QIODevice& device, quint64 position, qint64 size) {
  QByteArray bytes(qsizetype(size), Qt::Uninitialized);
  if (!device.seek(qint64(position)) || device.read(bytes.data(), size) != size)
    throw TDamage{"the file cannot be read"};
  return bytes;
}

class THeifBoxReader {
public:
  THeifBoxReader(QIODevice& device, bool blocks)
      : device_(device), fileSize_(device.size()), blocks_(blocks) {}

  THeifBoxes Read() {
    findMeta();
    TBytes meta(reinterpret_cast<const uchar*>(meta_.constData()), meta_.size());
    fullBox(meta);
    TBox hdlr, pitm, iinf, iloc, iprp, iref, box;
    const std::pair<quint32, TBox*> wanted[] = {{fourcc("hdlr"), &hdlr}, {fourcc("pitm"), &pitm},
                                                {fourcc("iinf"), &iinf}, {fourcc("iloc"), &iloc},
                                                {fourcc("iprp"), &iprp}, {fourcc("iref"), &iref},
                                                {fourcc("idat"), &idat_}};
    while (nextBox(meta, box)) {
      for (const auto& [type, slot] : wanted) {
        if (box.Type != type) continue;
        if (slot->Type) throw TNeedsLibrary{}; // two of a box that a file has once
        *slot = box;
      }
    }
    const bool hasHdlr = hdlr.Type, hasPitm = pitm.Type, hasIinf = iinf.Type, hasIloc = iloc.Type,
               hasIprp = iprp.Type, hasIref = iref.Type;
    if (!hasHdlr) throw TDamage{"no handler box"};
    fullBox(hdlr.Body);
    hdlr.Body.U32();
    if (hdlr.Body.U32() != fourcc("pict")) throw TNeedsLibrary{};
    if (!hasPitm) throw TDamage{"no primary item"};
    if (!hasIinf) throw TDamage{"no item information"};
    if (!hasIloc) throw TDamage{"no item locations"};
    if (!hasIprp) throw TDamage{"no item properties"};
    primary_ = fullBox(pitm.Body) == 0 ? pitm.Body.U16() : pitm.Body.U32();
    readItems(iinf.Body);
    const TItem* primary = item(primary_);
    if (!primary) throw TDamage{"the primary item is not in the file"};
    static const quint32 kImageTypes[] = {fourcc("hvc1"), fourcc("grid"), fourcc("iden"),
                                          fourcc("iovl"), fourcc("av01")};
    if (std::find(std::begin(kImageTypes), std::end(kImageTypes), primary->Type) ==
            std::end(kImageTypes) ||
        primary->Hidden || primary->Protected)
      throw TNeedsLibrary{};
    if (hasIref) readReferences(iref.Body);
    readLocations(iloc.Body);
    // A derived image (iden) has no data of its own.
    if (const auto it = locations_.constFind(primary_); it != locations_.constEnd())
      checkInside(*it);

    THeifBoxes result;
    result.Size = primarySize(iprp.Body);
    if (blocks_) {
      result.Exif = block(fourcc("Exif"));
      result.Xmp = block(fourcc("mime"));
    }
    return result;
  }

private:
  // Walks the file's top-level boxes, reads the meta box into meta_ and checks that it is the
  // only one. Whatever looks odd after the meta box (a second one, a box that does not fit) is
  // left to libheif, so that both always read the same picture.
  void findMeta() {
    quint64 position = 0;
    const quint64 fileSize = quint64(std::max<qint64>(0, fileSize_));
    bool found = false;
    // Damage before the meta box is the file's; after it, libheif decides.
    auto odd = [&found](const char* why) {
      if (found) throw TNeedsLibrary{};
      throw TDamage{why};
    };
    for (int i = 0;; ++i) {
      if (position >= fileSize && found) return;
      if (position >= fileSize) throw TDamage{"the file has no meta box"};
      if (i == kMaxTopLevelBoxes) odd("too many boxes before the meta box");
      if (fileSize - position < 8) odd("a box header is cut short");
      TBytes header;
      QByteArray head =
          readAt(device_, position, qint64(std::min<quint64>(16, fileSize - position)));
      header = TBytes(reinterpret_cast<const uchar*>(head.constData()), head.size());
      quint64 size = header.U32();
      const quint32 type = header.U32();
      quint64 headerSize = 8;
      if (size == 1) {
        if (header.Left() < 8) odd("a box header is cut short");
        size = header.Read(8), headerSize = 16;
      } else if (size == 0) {
        size = fileSize - position;
      }
      if (size < headerSize) odd("a box is smaller than its header");
      if (size > fileSize - position) odd("a box runs past the end of the file");
      if (found && type == fourcc("meta")) throw TNeedsLibrary{};
      if (i == 0) {
        if (type != fourcc("ftyp") || size - headerSize > quint64(kMaxFtypBytes))
          throw TNeedsLibrary{};
        const QByteArray ftyp = readAt(device_, position + headerSize, qint64(size - headerSize));
        checkBrands(TBytes(reinterpret_cast<const uchar*>(ftyp.constData()), ftyp.size()));
      } else if (type == fourcc("meta")) {
        if (size - headerSize > quint64(kMaxMetaBytes)) throw TNeedsLibrary{};
        meta_ = readAt(device_, position + headerSize, qint64(size - headerSize));
        found = true;
      }
      position += size;
    }
  }

  // libheif reads files that name one of these brands as compatible.
  static void checkBrands(TBytes ftyp) {
    ftyp.U32(), ftyp.U32(); // major brand and version
    while (ftyp.Left() >= 4) {
      const quint32 brand = ftyp.U32();
      if (brand == fourcc("heic") || brand == fourcc("heix") || brand == fourcc("mif1") ||
          brand == fourcc("avif") || brand == fourcc("jpeg"))
        return;
    }
    throw TNeedsLibrary{};
  }

  void readItems(TBytes body) {
    const quint32 version = fullBox(body);
    const quint64 count =
        checkedCount(body, version == 0 ? body.U16() : body.U32(), 8); // a box each
    TBox box;
    for (quint64 i = 0; i < count && nextBox(body, box); ++i) {
      if (box.Type != fourcc("infe")) continue;
      quint32 flags = 0;
      const quint32 v = fullBox(box.Body, &flags);
      if (v < 2 || v > 3) throw TNeedsLibrary{};
      TItem item;
      item.Id = v == 2 ? box.Body.U16() : box.Body.U32();
      item.Protected = box.Body.U16() != 0;
      item.Type = box.Body.U32();
      item.Hidden = flags & 1;
      box.Body.Text(); // name
      if (item.Type == fourcc("mime")) item.ContentType = box.Body.Text();
      if (index_.contains(item.Id)) throw TNeedsLibrary{};
      index_.insert(item.Id, int(items_.size()));
      items_.push_back(std::move(item));
    }
  }

  const TItem* item(quint32 id) const {
    const auto it = index_.constFind(id);
    return it == index_.constEnd() ? nullptr : &items_[size_t(*it)];
  }

  void readReferences(TBytes body) {
    const int idBytes = fullBox(body) == 0 ? 2 : 4;
    TBox box;
    while (nextBox(body, box)) {
      const quint32 from = quint32(box.Body.Read(idBytes));
      const quint64 count = checkedCount(box.Body, box.Body.U16(), idBytes);
      TReference& r = references_[from];
      if (++r.Boxes > 1) continue; // only the first one counts; the item is left to libheif
      r.Type = box.Type;
      r.To.reserve(size_t(count));
      for (quint64 i = 0; i < count; ++i)
        r.To.push_back(quint32(box.Body.Read(idBytes)));
    }
  }

  // Keeps the locations of the primary item and of the metadata items.
  void readLocations(TBytes body) {
    const quint32 version = fullBox(body);
    if (version > 2) throw TNeedsLibrary{};
    const quint32 sizes = body.U8(), more = body.U8();
    const int offsetSize = int(sizes >> 4), lengthSize = int(sizes & 15), baseSize = int(more >> 4),
              indexSize = version >= 1 ? int(more & 15) : 0;
    for (int s : {offsetSize, lengthSize, baseSize, indexSize})
      if (s != 0 && s != 4 && s != 8) throw TNeedsLibrary{};
    const int idBytes = version < 2 ? 2 : 4;
    const quint64 count = checkedCount(body, version < 2 ? body.U16() : body.U32(),
                                       idBytes + (version >= 1 ? 2 : 0) + 2 + baseSize + 2);
    const int extentBytes = indexSize + offsetSize + lengthSize;
    for (quint64 i = 0; i < count; ++i) {
      const quint32 id = quint32(body.Read(idBytes));
      TLocation location;
      if (version >= 1) location.Method = int(body.U16() & 15);
      location.External = body.U16() != 0;
      const quint64 base = body.Read(baseSize);
      const quint64 extents = body.U16();
      const bool wanted = id == primary_ || isMetadata(id);
      if (extentBytes == 0) {
        // Every extent is the whole of the data.
        location.WholeRest = extents > 0;
        if (wanted) location.Extents.push_back({base, 0});
      } else {
        checkedCount(body, extents, extentBytes);
        if (wanted && extents > quint64(kMaxBlockExtents)) throw TNeedsLibrary{};
        for (quint64 e = 0; e < extents; ++e) {
          body.Read(indexSize);
          const quint64 offset = body.Read(offsetSize), length = body.Read(lengthSize);
          if (offset > ~quint64(0) - base) throw TDamage{"an item's offset is out of range"};
          if (length == 0) location.WholeRest = true;
          if (wanted) location.Extents.push_back({base + offset, length});
        }
      }
      if (!wanted) continue;
      if (locations_.contains(id)) throw TNeedsLibrary{};
      locations_.insert(id, std::move(location));
    }
  }

  bool isMetadata(quint32 id) const {
    const TItem* i = item(id);
    return i && (i->Type == fourcc("Exif") ||
                 (i->Type == fourcc("mime") && i->ContentType == "application/rdf+xml"));
  }

  // The extents of an item must lie in the file (or in the meta box's own data).
  void checkInside(const TLocation& location) const {
    if (location.External || location.Method == 2) return; // read by libheif, if ever
    const quint64 end =
        location.Method == 0 ? quint64(std::max<qint64>(0, fileSize_)) : quint64(idat_.Body.Left());
    for (const TExtent& e : location.Extents)
      if (e.Offset > end || e.Length > end - e.Offset)
        throw TDamage{"an item's data lies past the end of the file"};
  }

  // The size after the turn, as libheif reports it: the properties apply in their order, each
  // turn or crop only after a size.
  QSize primarySize(TBytes iprp) {
    TBox box, ipco, ipma;
    bool hasIpco = false, hasIpma = false;
    while (nextBox(iprp, box)) {
      if (box.Type != fourcc("ipco") && box.Type != fourcc("ipma")) continue;
      const bool isIpco = box.Type == fourcc("ipco");
      bool& seen = isIpco ? hasIpco : hasIpma;
      if (seen) throw TNeedsLibrary{}; // several association boxes: libheif's reading
      (isIpco ? ipco : ipma) = box, seen = true;
    }
    if (!hasIpco || !hasIpma) throw TDamage{"no item properties"};
    std::vector<TBox> properties;
    bool moreProperties = false;
    while (nextBox(ipco.Body, box)) {
      if (int(properties.size()) == kMaxProperties) {
        moreProperties = true;
        break;
      }
      properties.push_back(box);
    }
    quint32 flags = 0;
    const int idBytes = fullBox(ipma.Body, &flags) < 1 ? 2 : 4;
    const int indexBytes = flags & 1 ? 2 : 1;
    const quint64 entries = checkedCount(ipma.Body, ipma.Body.U32(), idBytes + 1);
    std::vector<int> associated;
    bool found = false;
    for (quint64 i = 0; i < entries; ++i) {
      const quint32 id = quint32(ipma.Body.Read(idBytes));
      const quint64 count = checkedCount(ipma.Body, ipma.Body.U8(), indexBytes);
      if (id == primary_ && found) throw TNeedsLibrary{};
      found = found || id == primary_;
      for (quint64 a = 0; a < count; ++a) {
        const quint32 v = quint32(ipma.Body.Read(indexBytes));
        if (id == primary_) associated.push_back(int(v & (indexBytes == 2 ? 0x7FFF : 0x7F)));
      }
    }
    QSize size;
    for (int index : associated) {
      if (index == 0 || (index > int(properties.size()) && moreProperties)) throw TNeedsLibrary{};
      if (index > int(properties.size()))
        throw TDamage{"an item names a property that is not there"};
      TBox p = properties[size_t(index - 1)];
      if (p.Type == fourcc("ispe")) {
        fullBox(p.Body);
        const quint32 w = p.Body.U32(), h = p.Body.U32();
        if (w == 0 || h == 0 || w >= kMaxSide || h >= kMaxSide) throw TNeedsLibrary{};
        size = QSize(int(w), int(h));
      } else if (p.Type == fourcc("clap")) {
        throw TNeedsLibrary{}; // the crop's rounding is libheif's
      } else if (p.Type == fourcc("irot") && size.isValid()) {
        if (p.Body.U8() & 1) size.transpose();
      }
    }
    if (!size.isValid()) throw TNeedsLibrary{};
    return size;
  }

  // The first block of that item type (XMP: "mime" with the XMP content type) that describes
  // the primary item.
  QByteArray block(quint32 type) {
    std::vector<const TItem*> byId; // libheif's order
    for (const TItem& i : items_)
      byId.push_back(&i);
    std::sort(byId.begin(), byId.end(),
              [](const TItem* a, const TItem* b) { return a->Id < b->Id; });
    for (const TItem* p : byId) {
      const TItem& i = *p;
      if (i.Type != type || !isMetadata(i.Id)) continue;
      const auto r = references_.constFind(i.Id);
      if (r == references_.constEnd() || r->Type != fourcc("cdsc")) continue;
      // libheif refuses a block that describes several items or none that is there.
      if (r->Boxes > 1 || r->To.size() != 1 || !item(r->To[0])) throw TNeedsLibrary{};
      if (r->To[0] != primary_) continue;
      return blockData(i.Id);
    }
    return {};
  }

  QByteArray blockData(quint32 id) {
    const auto it = locations_.constFind(id);
    if (it == locations_.constEnd() || it->External || it->WholeRest || it->Method == 2)
      throw TNeedsLibrary{};
    checkInside(*it);
    quint64 total = 0;
    for (const TExtent& e : it->Extents)
      total += e.Length; // each extent lies in the file, so the sum cannot wrap
    if (total > quint64(kMaxHeifBlockBytes)) return {};
    QByteArray data;
    data.reserve(qsizetype(total));
    for (const TExtent& e : it->Extents) {
      if (it->Method == 1)
        data.append(reinterpret_cast<const char*>(idat_.Body.Data()) + e.Offset,
                    qsizetype(e.Length));
      else
        data += readAt(device_, e.Offset, qint64(e.Length));
    }
    return data;
  }

  QIODevice& device_;
  const qint64 fileSize_;
  const bool blocks_;
  QByteArray meta_;
  TBox idat_;
  quint32 primary_ = 0;
  std::vector<TItem> items_;
  QHash<quint32, int> index_;
  QHash<quint32, TReference> references_;
  QHash<quint32, TLocation> locations_;
};

} // namespace

std::optional<THeifBoxes> ReadHeifBoxes(QIODevice& device, const QString& path, bool blocks) {
  try {
    return THeifBoxReader(device, blocks).Read();
  } catch (const TNeedsLibrary&) {
    return std::nullopt;
  } catch (const TDamage& d) {
    throw EImageError(QStringLiteral("Cannot read picture \"%1\": damaged HEIF file (%2).")
                          .arg(path, QString::fromLatin1(d.Why)));
  }
}
