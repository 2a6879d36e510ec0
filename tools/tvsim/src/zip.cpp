#include "zip.h"

#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <set>
#include <vector>

namespace tvsim {

namespace {

constexpr std::uint32_t kEndOfCentralDir = 0x06054b50;
constexpr std::uint32_t kCentralEntry = 0x02014b50;
constexpr std::uint32_t kLocalEntry = 0x04034b50;
constexpr std::uint32_t kDescriptor = 0x08074b50;
constexpr std::size_t kEndSize = 22, kCentralSize = 46, kLocalSize = 30;
constexpr std::uint32_t kEncrypted = 0x0001, kHasDescriptor = 0x0008;

std::uint32_t u16(const std::string& b, std::size_t at) {
  if (at > b.size() || b.size() - at < 2) throw ZipError("truncated archive");
  return std::uint32_t(std::uint8_t(b[at])) | std::uint32_t(std::uint8_t(b[at + 1])) << 8;
}

std::uint32_t u32(const std::string& b, std::size_t at) { return u16(b, at) | u16(b, at + 2) << 16; }

bool safeName(const std::string& n) {
  if (n.empty() || n[0] == '/' || n.find('\\') != std::string::npos || n.find('\0') != std::string::npos) return false;
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

// One entry as the central directory describes it, and where its record lies in the file.
struct Entry {
  std::string name;
  std::uint32_t flags = 0, method = 0, crc = 0, compSize = 0, size = 0;
  std::size_t local = 0;  // its local header
  std::size_t data = 0;   // its data
  std::size_t end = 0;    // just past its data and data descriptor
};

std::size_t findEnd(const std::string& b) {
  if (b.size() < kEndSize) throw ZipError("too small to be a ZIP archive");
  std::size_t lowest = b.size() > kEndSize + 0xffff ? b.size() - kEndSize - 0xffff : 0;
  // The record and its comment end the file exactly: nothing may hide behind them.
  for (std::size_t at = b.size() - kEndSize + 1; at-- > lowest;)
    if (u32(b, at) == kEndOfCentralDir && at + kEndSize + u16(b, at + 20) == b.size()) return at;
  throw ZipError("no end of central directory");
}

std::vector<Entry> readCentralDirectory(const std::string& b, std::size_t end, std::size_t& cdOffset) {
  if (u16(b, end + 4) != 0 || u16(b, end + 6) != 0 || u16(b, end + 8) != u16(b, end + 10))
    throw ZipError("multi-part archive");
  std::uint32_t count = u16(b, end + 10), cdSize = u32(b, end + 12);
  cdOffset = u32(b, end + 16);
  if (count > kMaxZipEntries) throw ZipError("too many entries: " + std::to_string(count));
  if (std::uint64_t(cdOffset) + cdSize != end) throw ZipError("central directory out of place");

  std::vector<Entry> entries;
  std::set<std::string> names;
  std::uint64_t unpacked = 0;
  std::size_t at = cdOffset;
  for (std::uint32_t i = 0; i < count; ++i) {
    if (at + kCentralSize > end || u32(b, at) != kCentralEntry) throw ZipError("bad central directory entry");
    Entry e;
    e.flags = u16(b, at + 8);
    e.method = u16(b, at + 10);
    e.crc = u32(b, at + 16);
    e.compSize = u32(b, at + 20);
    e.size = u32(b, at + 24);
    std::uint32_t nameLen = u16(b, at + 28), extraLen = u16(b, at + 30), commentLen = u16(b, at + 32);
    e.local = u32(b, at + 42);
    if (at + kCentralSize + nameLen + extraLen + commentLen > end) throw ZipError("truncated central directory");
    e.name = b.substr(at + kCentralSize, nameLen);
    at += kCentralSize + nameLen + extraLen + commentLen;

    if (e.flags & kEncrypted) throw ZipError("encrypted entry " + e.name);
    if (!safeName(e.name)) throw ZipError("unsafe entry name '" + e.name + "'");
    if (!names.insert(e.name).second) throw ZipError("duplicate entry " + e.name);
    if (e.method != 0 && e.method != 8)
      throw ZipError("unsupported compression method " + std::to_string(e.method) + " in " + e.name);
    if (e.method == 0 && e.compSize != e.size) throw ZipError("stored entry with two sizes: " + e.name);
    // Checked on the sizes the directory declares, before anything is unpacked.
    unpacked += e.size;
    if (unpacked > kMaxZipUnpacked) throw ZipError("unpacked size exceeds the limit at " + e.name);
    entries.push_back(std::move(e));
  }
  if (at != end) throw ZipError("central directory size does not match its entries");
  return entries;
}

// Where the entry's record lies: its data after the local header, then the data descriptor.
void locate(const std::string& b, Entry& e, std::size_t cdOffset) {
  if (e.local + kLocalSize > cdOffset || u32(b, e.local) != kLocalEntry)
    throw ZipError("bad local header of " + e.name);
  e.data = e.local + kLocalSize + u16(b, e.local + 26) + u16(b, e.local + 28);
  if (e.data > cdOffset || cdOffset - e.data < e.compSize) throw ZipError("entry data out of bounds: " + e.name);
  e.end = e.data + e.compSize;
  if (e.flags & kHasDescriptor) {
    if (e.end + 4 <= cdOffset && u32(b, e.end) == kDescriptor) e.end += 4;
    if (e.end + 12 > cdOffset) throw ZipError("entry data out of bounds: " + e.name);
    e.end += 12;
  }
}

// The local header and data descriptor must say what the central directory says: a reader that
// trusts either one must see the same content.
void checkAgreement(const std::string& b, const Entry& e) {
  if (u16(b, e.local + 6) != e.flags || u16(b, e.local + 8) != e.method)
    throw ZipError("local header of " + e.name + " disagrees with the central directory");
  std::uint32_t nameLen = u16(b, e.local + 26);
  if (nameLen != e.name.size() || b.compare(e.local + kLocalSize, nameLen, e.name) != 0)
    throw ZipError("local name of " + e.name + " disagrees with the central directory");
  // With a data descriptor, packers leave any of these 0 in the local header.
  auto agrees = [&](std::size_t at, std::uint32_t central) {
    std::uint32_t v = u32(b, e.local + at);
    return v == central || (v == 0 && (e.flags & kHasDescriptor));
  };
  if (!agrees(14, e.crc) || !agrees(18, e.compSize) || !agrees(22, e.size))
    throw ZipError("local sizes or CRC of " + e.name + " disagree with the central directory");
  if (e.flags & kHasDescriptor) {
    std::size_t at = e.end - 12;
    if (u32(b, at) != e.crc || u32(b, at + 4) != e.compSize || u32(b, at + 8) != e.size)
      throw ZipError("data descriptor of " + e.name + " disagrees with the central directory");
  }
}

// The entries' records must follow each other from the start of the file to the central
// directory: overlapping records would unpack the same bytes many times, and a gap could hide
// an entry that only a reader of local headers sees.
void checkTiling(std::vector<const Entry*> byOffset, std::size_t cdOffset) {
  std::stable_sort(byOffset.begin(), byOffset.end(),
                   [](const Entry* a, const Entry* b) { return a->local < b->local; });
  std::size_t expected = 0;
  const Entry* previous = nullptr;
  for (const Entry* e : byOffset) {
    if (e->local < expected) throw ZipError("overlapping entries " + previous->name + " and " + e->name);
    if (e->local > expected) throw ZipError("data outside any entry before " + e->name);
    expected = e->end;
    previous = e;
  }
  if (expected != cdOffset) throw ZipError("data outside any entry before the central directory");
}

std::string unpack(const std::string& b, const Entry& e) {
  if (e.method == 0) return b.substr(e.data, e.size);
  std::string out(e.size, '\0');
  z_stream z{};
  if (inflateInit2(&z, -MAX_WBITS) != Z_OK) throw ZipError("zlib failed to start");
  z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(b.data() + e.data));
  z.avail_in = uInt(e.compSize);
  z.next_out = reinterpret_cast<Bytef*>(out.data());
  z.avail_out = uInt(e.size);
  int r = inflate(&z, Z_FINISH);
  bool whole = r == Z_STREAM_END && z.total_out == e.size && z.avail_in == 0;
  inflateEnd(&z);
  if (!whole) throw ZipError("corrupt deflate data in " + e.name);
  return out;
}

}  // namespace

ZipContents readZip(const std::string& b) {
  std::size_t end = findEnd(b), cdOffset = 0;
  std::vector<Entry> entries = readCentralDirectory(b, end, cdOffset);
  std::vector<const Entry*> byOffset;
  for (auto& e : entries) {
    locate(b, e, cdOffset);
    byOffset.push_back(&e);
  }
  checkTiling(std::move(byOffset), cdOffset);
  for (const auto& e : entries) checkAgreement(b, e);

  ZipContents z;
  for (const auto& e : entries) {
    std::string content = unpack(b, e);
    if (crc32(0, reinterpret_cast<const Bytef*>(content.data()), uInt(content.size())) != e.crc)
      throw ZipError("CRC mismatch in " + e.name);
    if (e.name.back() == '/') {
      if (!content.empty()) throw ZipError("directory entry with data: " + e.name);
      continue;
    }
    z.files.emplace(e.name, std::move(content));
  }
  return z;
}

}  // namespace tvsim
