// libFuzzer target: what the client parses from its server once a service is open, the relay
// frames and inside them a push's result records with their failures. The first byte picks the
// chunk size the stream delivers.
#include <cstdint>
#include <string>

#include "chunked_stream.h"
#include "frames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  std::size_t chunk = std::size_t(data[0] % 31) + 1;
  const auto deadline = wire::Clock::now() + std::chrono::seconds(1);
  const std::string bytes(reinterpret_cast<const char*>(data) + 1, size - 1);

  // A shell's output: frames until DONE or FAIL.
  ChunkedStream shell(bytes, chunk);
  wire::FrameReader output(shell);
  try {
    char buf[97];
    while (output.readSome(buf, sizeof buf, deadline) != 0) {
    }
  } catch (const wire::Error&) {
  }

  // A push: result records inside the frames.
  ChunkedStream push(bytes, chunk);
  wire::FrameReader records(push);
  try {
    while (wire::readPushEvent(records, deadline).kind != wire::PushEvent::Kind::Done) {
    }
  } catch (const wire::Error&) {
  }

  wire::Failure f = wire::decodeFailure(bytes);
  if (wire::decodeFailure(wire::encodeFailure(f)).detail.size() > f.detail.size()) __builtin_trap();
  return 0;
}
