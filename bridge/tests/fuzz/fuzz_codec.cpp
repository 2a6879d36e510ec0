// libFuzzer target: the packets and requests the tool and tvsim parse from the network, fed
// arbitrary bytes. The first byte picks the chunk size the stream delivers, so partial reads
// are covered too.
#include <cstdint>
#include <string>

#include "chunked_stream.h"
#include "codec.h"
#include "wire.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t chunk = std::size_t(data[0] % 31) + 1;
  const auto deadline = wire::Clock::now() + std::chrono::seconds(1);
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  ChunkedStream packets(bytes, chunk);
  try {
    while (auto p = wire::readPacket(packets, wire::kOlderHostMaxPayload, deadline))
      if (p->command == wire::kCnxn) wire::parseDeviceBanner(p->payload);
  } catch (const wire::Error&) {
  }

  ChunkedStream requests(bytes, chunk);
  try {
    while (auto text = wire::readFramedText(requests, deadline)) wire::parseRequest(*text);
  } catch (const wire::Error&) {
  }

  try {
    wire::parseRequest(bytes);
  } catch (const wire::Error&) {
  }
  wire::parseTarget(bytes);
  return 0;
}
