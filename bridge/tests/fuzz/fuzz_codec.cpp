// libFuzzer target: everything the tool and tvsim parse from the network, fed arbitrary bytes.
// The first byte picks the chunk size the stream delivers, so partial reads are covered too.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "codec.h"
#include "wire.h"

namespace {

class MemoryStream : public wire::ByteStream {
 public:
  MemoryStream(const std::uint8_t* data, std::size_t size, std::size_t chunk)
      : data_(data), size_(size), chunk_(chunk) {}
  std::size_t readSome(void* buf, std::size_t len, wire::Deadline) override {
    std::size_t n = std::min({len, chunk_, size_ - pos_});
    std::memcpy(buf, data_ + pos_, n);
    pos_ += n;
    return n;
  }
  void writeAll(const void*, std::size_t, wire::Deadline) override {}

 private:
  const std::uint8_t* data_;
  std::size_t size_, chunk_, pos_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t chunk = std::size_t(data[0] % 31) + 1;
  const auto deadline = wire::Clock::now() + std::chrono::seconds(1);
  ++data, --size;

  MemoryStream packets(data, size, chunk);
  try {
    while (auto p = wire::readPacket(packets, wire::kOlderHostMaxPayload, deadline))
      if (p->command == wire::kCnxn) wire::parseDeviceBanner(p->payload);
  } catch (const wire::Error&) {
  }

  MemoryStream requests(data, size, chunk);
  try {
    while (auto text = wire::readFramedText(requests, deadline)) wire::parseRequest(*text);
  } catch (const wire::Error&) {
  }

  std::string text(reinterpret_cast<const char*>(data), size);
  try {
    wire::parseRequest(text);
  } catch (const wire::Error&) {
  }
  wire::parseTarget(text);
  return 0;
}
