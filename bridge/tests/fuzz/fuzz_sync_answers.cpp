// libFuzzer target: the TV's answers the server parses in a push, a STAT reply and then the
// verdict on the file, as they come out of the stream. The first byte picks the chunk size.
#include <cstdint>
#include <string>

#include "chunked_stream.h"
#include "codec.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t chunk = std::size_t(data[0] % 31) + 1;
  const auto deadline = wire::Clock::now() + std::chrono::seconds(1);
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  ChunkedStream whole(bytes, chunk);
  try {
    wire::readStatReply(whole, deadline);
    wire::readSyncResult(whole, deadline);
  } catch (const wire::Error&) {
  }
  // A TV that refuses mid-transfer answers with the verdict alone.
  ChunkedStream verdict(bytes, chunk);
  try {
    wire::readSyncResult(verdict, deadline);
  } catch (const wire::Error&) {
  }
  return 0;
}
