// Byte buffers, file reading, hashing and Base64: small helpers over the C library and OpenSSL.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace wgtpack {

using Bytes = std::vector<std::uint8_t>;

// The largest input file read: widget sources, PKCS#12 and password files are far smaller.
constexpr std::uint64_t kMaxInputFile = 32u << 20;

// A whole regular file of at most kMaxInputFile bytes; throws
// Error("cannot read <what> '<path>': <cause>") for anything else.
Bytes readFile(const std::string& path, std::string_view what);

Bytes toBytes(std::string_view text);

// SHA-256 of the bytes, raw (32 bytes).
Bytes sha256(std::span<const std::uint8_t> data);

// Base64 in one line, no line breaks.
std::string base64(std::span<const std::uint8_t> data);

// Base64 cut into lines of 76 characters joined by "\n", no newline after the last line
// (the platform signer's layout for SignatureValue and X509Certificate).
std::string base64Wrapped76(std::span<const std::uint8_t> data);

}  // namespace wgtpack
