#include "zip.h"

#include <zlib.h>

#include <cstdint>

namespace tvsim {

namespace {

constexpr std::uint32_t kEndOfCentralDir = 0x06054b50;
constexpr std::uint32_t kCentralEntry = 0x02014b50;
constexpr std::uint32_t kLocalEntry = 0x04034b50;
constexpr std::size_t kEndSize = 22, kCentralSize = 46, kLocalSize = 30;
constexpr std::size_t kMaxEntrySize = 64u << 20;

std::uint32_t u16(const std::string& b, std::size_t at) {
  if (at + 2 > b.size()) throw ZipError("truncated archive");
  return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}

std::uint32_t u32(const std::string& b, std::size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

std::string inflateRaw(const char* data, std::size_t size, std::size_t expected) {
  std::string out(expected, '\0');
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw ZipError("zlib failed to start");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
  z.avail_in = uInt(size);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(expected);
  int r = inflate(&z, Z_FINISH);
  std::size_t produced = z.total_out;
  inflateEnd(&z);
  if (r != Z_STREAM_END || produced != expected) throw ZipError("corrupt deflate data");
  return out;
}

bool safeName(const std::string& n) {
  if (n.empty() || n[0] == '/' || n.find('\\') != std::string::npos) return false;
  std::size_t pos = 0;
  while (pos <= n.size()) {
    std::size_t slash = n.find('/', pos);
    std::string part = n.substr(pos, slash == std::string::npos ? std::string::npos : slash - pos);
    if (part == "..") return false;
    if (slash == std::string::npos) break;
    pos = slash + 1;
  }
  return true;
}

}  // namespace

ZipContents readZip(const std::string& b) {
  if (b.size() < kEndSize) throw ZipError("too small to be a ZIP archive");
  std::size_t end = std::string::npos;
  std::size_t lowest = b.size() > kEndSize + 0xffff ? b.size() - kEndSize - 0xffff : 0;
  for (std::size_t at = b.size() - kEndSize + 1; at-- > lowest;)
    if (u32(b, at) == kEndOfCentralDir) {
      end = at;
      break;
    }
  if (end == std::string::npos) throw ZipError("no end of central directory");
  std::uint32_t count = u16(b, end + 10), cdSize = u32(b, end + 12), cdOffset = u32(b, end + 16);
  if (std::uint64_t(cdOffset) + cdSize > end) throw ZipError("central directory out of bounds");

  ZipContents z;
  std::size_t at = cdOffset;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (u32(b, at) != kCentralEntry) throw ZipError("bad central directory entry");
    std::uint32_t flags = u16(b, at + 8), method = u16(b, at + 10), crc = u32(b, at + 16);
    std::uint32_t compSize = u32(b, at + 20), size = u32(b, at + 24);
    std::uint32_t nameLen = u16(b, at + 28), extraLen = u16(b, at + 30), commentLen = u16(b, at + 32);
    std::uint32_t local = u32(b, at + 42);
    if (at + kCentralSize + nameLen > b.size()) throw ZipError("truncated central directory");
    std::string name = b.substr(at + kCentralSize, nameLen);
    at += kCentralSize + nameLen + extraLen + commentLen;

    if (flags & 1) throw ZipError("encrypted entry " + name);
    if (!safeName(name)) throw ZipError("unsafe entry name '" + name + "'");
    if (size > kMaxEntrySize || compSize > b.size()) throw ZipError("entry too large: " + name);
    if (u32(b, local) != kLocalEntry) throw ZipError("bad local header of " + name);
    std::size_t data = std::size_t(local) + kLocalSize + u16(b, local + 26) + u16(b, local + 28);
    if (data + compSize > b.size()) throw ZipError("entry data out of bounds: " + name);
    std::string content;
    if (method == 0) {
      if (compSize != size) throw ZipError("stored entry with two sizes: " + name);
      content = b.substr(data, size);
    } else if (method == 8) {
      content = inflateRaw(b.data() + data, compSize, size);
    } else {
      throw ZipError("unsupported compression method " + std::to_string(method) + " in " + name);
    }
    if (crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())) != crc)
      throw ZipError("CRC mismatch in " + name);
    if (name.back() == '/') {
      if (!content.empty()) throw ZipError("directory entry with data: " + name);
      continue;
    }
    if (!z.files.emplace(name, std::move(content)).second) throw ZipError("duplicate entry " + name);
  }
  return z;
}

}  // namespace tvsim
