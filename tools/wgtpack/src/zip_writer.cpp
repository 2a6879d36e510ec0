// Written by hand on purpose: zlib does the deflating and the CRC, but no library here writes
// exactly the layout the platform's packer (Java's ZipOutputStream) writes and a TV expects:
// every entry deflated (the directory entry too), bit 3 with a signed data descriptor and
// zeros in the local header, bit 11, version 2.0 made-by and needed, one time for all entries,
// no extra fields (libzip and minizip add extended timestamps or Unix attributes).
#include "zip_writer.h"

#include "error.h"

#include <zlib.h>

#include <limits>

namespace wgtpack {
namespace {

constexpr std::uint32_t kLocalHeaderSig = 0x04034b50;
constexpr std::uint32_t kDataDescriptorSig = 0x08074b50;
constexpr std::uint32_t kCentralHeaderSig = 0x02014b50;
constexpr std::uint32_t kEndOfCentralDirSig = 0x06054b50;
constexpr std::uint16_t kVersion20 = 20;           // 2.0: deflate; made-by host 0 (MS-DOS)
constexpr std::uint16_t kFlags = 0x0008 | 0x0800;  // bit 3: data descriptor; bit 11: UTF-8 names
constexpr std::uint16_t kMethodDeflate = 8;

void put16(Bytes& out, std::uint16_t v) {
  out.push_back(static_cast<std::uint8_t>(v));
  out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put32(Bytes& out, std::uint32_t v) {
  put16(out, static_cast<std::uint16_t>(v));
  put16(out, static_cast<std::uint16_t>(v >> 16));
}

void putBytes(Bytes& out, std::span<const std::uint8_t> b) { out.insert(out.end(), b.begin(), b.end()); }

std::uint32_t checked32(std::size_t v, const std::string& what) {
  if (v > std::numeric_limits<std::uint32_t>::max())
    throw Error(what + " is too large for a ZIP archive without ZIP64");
  return static_cast<std::uint32_t>(v);
}

struct Written {
  std::uint32_t crc, compressedSize, size, offset;
};

}  // namespace

Bytes rawDeflate(std::span<const std::uint8_t> data) {
  z_stream zs{};
  if (deflateInit2(&zs, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
    throw Error("zlib: deflateInit2 failed");
  Bytes out(deflateBound(&zs, static_cast<uLong>(data.size())));
  zs.next_in = const_cast<Bytef*>(data.data());
  zs.avail_in = static_cast<uInt>(data.size());
  zs.next_out = out.data();
  zs.avail_out = static_cast<uInt>(out.size());
  const int rc = deflate(&zs, Z_FINISH);
  const std::size_t produced = out.size() - zs.avail_out;
  deflateEnd(&zs);
  if (rc != Z_STREAM_END) throw Error("zlib: deflate failed");
  out.resize(produced);
  return out;
}

Bytes writeZip(const std::vector<ZipEntry>& entries, DosTime when) {
  if (entries.size() > 0xFFFF) throw Error("too many entries for a ZIP archive");
  Bytes out;
  std::vector<Written> written;
  for (const ZipEntry& e : entries) {
    const Bytes packed = rawDeflate(e.data);
    Written w{};
    w.crc = static_cast<std::uint32_t>(crc32(0L, e.data.data(), static_cast<uInt>(e.data.size())));
    w.compressedSize = checked32(packed.size(), e.name);
    w.size = checked32(e.data.size(), e.name);
    w.offset = checked32(out.size(), e.name);
    const auto nameLen = static_cast<std::uint16_t>(checked32(e.name.size(), e.name));

    put32(out, kLocalHeaderSig);
    put16(out, kVersion20);  // version needed to extract
    put16(out, kFlags);
    put16(out, kMethodDeflate);
    put16(out, when.time);
    put16(out, when.date);
    put32(out, 0);  // CRC-32: in the data descriptor (bit 3)
    put32(out, 0);  // compressed size: likewise
    put32(out, 0);  // uncompressed size: likewise
    put16(out, nameLen);
    put16(out, 0);  // extra field length
    putBytes(out, toBytes(e.name));
    putBytes(out, packed);

    put32(out, kDataDescriptorSig);
    put32(out, w.crc);
    put32(out, w.compressedSize);
    put32(out, w.size);
    written.push_back(w);
  }

  const std::uint32_t centralStart = checked32(out.size(), "the archive");
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const ZipEntry& e = entries[i];
    const Written& w = written[i];
    put32(out, kCentralHeaderSig);
    put16(out, kVersion20);  // version made by: 2.0, host 0 (MS-DOS attributes)
    put16(out, kVersion20);  // version needed to extract
    put16(out, kFlags);
    put16(out, kMethodDeflate);
    put16(out, when.time);
    put16(out, when.date);
    put32(out, w.crc);
    put32(out, w.compressedSize);
    put32(out, w.size);
    put16(out, static_cast<std::uint16_t>(e.name.size()));
    put16(out, 0);  // extra field length
    put16(out, 0);  // file comment length
    put16(out, 0);  // disk number start
    put16(out, 0);  // internal attributes
    put32(out, 0);  // external attributes
    put32(out, w.offset);
    putBytes(out, toBytes(e.name));
  }
  const std::uint32_t centralSize = checked32(out.size() - centralStart, "the central directory");

  put32(out, kEndOfCentralDirSig);
  put16(out, 0);                                           // number of this disk
  put16(out, 0);                                           // disk with the central directory
  put16(out, static_cast<std::uint16_t>(entries.size()));  // entries on this disk
  put16(out, static_cast<std::uint16_t>(entries.size()));  // entries in all
  put32(out, centralSize);
  put32(out, centralStart);
  put16(out, 0);  // archive comment length
  return out;
}

}  // namespace wgtpack
