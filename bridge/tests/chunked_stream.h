// Test support: a fixed byte string fed in chunks of a given size, as a socket may deliver it.
#pragma once

#include <algorithm>
#include <cstring>
#include <string>

#include "codec.h"

class ChunkedStream : public wire::ByteStream {
 public:
  ChunkedStream(std::string bytes, std::size_t chunk) : bytes_(std::move(bytes)), chunk_(chunk) {}
  std::size_t readSome(void* buf, std::size_t len, wire::Deadline) override {
    std::size_t n = std::min({len, chunk_, bytes_.size() - pos_});
    std::memcpy(buf, bytes_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  void writeAll(const void*, std::size_t, wire::Deadline) override {}

 private:
  std::string bytes_;
  std::size_t chunk_, pos_ = 0;
};
