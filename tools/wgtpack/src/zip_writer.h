// The ZIP layout of a widget package, byte for byte.
#pragma once

#include "bytes.h"

#include <string>
#include <vector>

namespace wgtpack {

// A ZIP "MS-DOS" time stamp: local time without a zone, in 2-second steps.
struct DosTime {
  std::uint16_t time = 0;  // hour << 11 | minute << 5 | second / 2
  std::uint16_t date = 0;  // (year - 1980) << 9 | month << 5 | day
};

struct ZipEntry {
  std::string name;  // "dir/" for a directory entry (empty data)
  Bytes data;
};

// Writes the entries in the given order, each deflated, flags 0x0808, version 2.0, all with
// the same time, no extra fields, no attributes, no comment.
Bytes writeZip(const std::vector<ZipEntry>& entries, DosTime when);

// Raw deflate (no zlib header), zlib's default level: what Java's ZipOutputStream produces.
Bytes rawDeflate(std::span<const std::uint8_t> data);

}  // namespace wgtpack
