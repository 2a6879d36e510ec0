// What our server sends our client once a service is open: the TV's stream in frames, and for
// a push the result records inside them. Pure byte work, shared by both sides and the fuzz
// targets.
#pragma once

#include <cstdint>
#include <string>

#include "codec.h"
#include "failure.h"

namespace wire {

std::string frameHeader(std::uint32_t tag, std::uint32_t length);
std::string failFrame(const Failure& f);

// The TV's stream as the server relays it: DATA frames until DONE, or FAIL with a failure.
class FrameReader : public ByteStream {
 public:
  explicit FrameReader(ByteStream& s) : s_(s) {}
  // 0 once DONE came. Throws Failed for a FAIL frame, Error for anything malformed.
  std::size_t readSome(void* buf, std::size_t len, Deadline deadline) override;
  void writeAll(const void* buf, std::size_t len, Deadline deadline) override;

 private:
  ByteStream& s_;
  std::uint32_t left_ = 0;
  bool done_ = false;
};

// A push's records inside the DATA frames: progress (bytes sent since the last one) about every
// second, then done or failed.
struct PushEvent {
  enum class Kind { Progress, Done, Failed };
  Kind kind = Kind::Progress;
  std::uint32_t bytes = 0;  // Progress
  Failure failure;          // Failed
};
std::string pushProgress(std::uint32_t bytes);
std::string pushDone();
std::string pushFailed(const Failure& f);
// The next record; throws Error when malformed or when the stream ends before one.
PushEvent readPushEvent(ByteStream& s, Deadline deadline);

}  // namespace wire
