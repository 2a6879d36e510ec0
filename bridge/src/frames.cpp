#include "frames.h"

#include <algorithm>

#include "wire.h"

namespace wire {

namespace {

const char* kindWord(FailKind k) {
  switch (k) {
    case FailKind::NoTarget: return "no-target";
    case FailKind::ManyTargets: return "many-targets";
    case FailKind::Unreachable: return "unreachable";
    case FailKind::Handshake: return "handshake";
    case FailKind::Refused: return "refused";
    case FailKind::WriteFailed: return "write-failed";
    case FailKind::Device: return "device";
    case FailKind::Local: break;
  }
  return "local";
}

std::string describe(const Failure& f) { return f.tv.empty() ? f.detail : f.tv + ": " + f.detail; }

}  // namespace

Failed::Failed(Failure f) : Error(describe(f)), failure_(std::move(f)) {}

std::string encodeFailure(const Failure& f) {
  std::string text = kindWord(f.kind);
  text += ' ';
  text += f.tv.empty() ? "-" : f.tv;
  text += ' ';
  text.append(f.detail, 0, kRequestMax - std::min(text.size(), kRequestMax));
  return text;
}

Failure decodeFailure(std::string_view text) {
  std::size_t a = text.find(' '), b = a == std::string_view::npos ? a : text.find(' ', a + 1);
  if (b != std::string_view::npos) {
    std::string_view word = text.substr(0, a), tv = text.substr(a + 1, b - a - 1);
    for (auto k : {FailKind::NoTarget, FailKind::ManyTargets, FailKind::Unreachable, FailKind::Handshake,
                   FailKind::Refused, FailKind::WriteFailed, FailKind::Device, FailKind::Local})
      if (word == kindWord(k) && !tv.empty())
        return {k, tv == "-" ? std::string() : std::string(tv), std::string(text.substr(b + 1))};
  }
  return {FailKind::Local, {}, std::string(text)};
}

std::string frameHeader(std::uint32_t tag, std::uint32_t length) { return syncHeader(tag, length); }

std::string failFrame(const Failure& f) {
  std::string text = encodeFailure(f);
  return frameHeader(kFrameFail, std::uint32_t(text.size())) + text;
}

std::size_t FrameReader::readSome(void* buf, std::size_t len, Deadline deadline) {
  while (left_ == 0) {
    if (done_) return 0;
    unsigned char head[kFrameHeaderSize];
    if (!readExactly(s_, head, sizeof head, deadline)) throw Error("the server ended the stream without a reason");
    std::uint32_t tag = le32(head), length = le32(head + 4);
    if (tag == kFrameData && length <= kHostMaxPayload) {
      left_ = length;
    } else if (tag == kFrameDone && length == 0) {
      done_ = true;
    } else if (tag == kFrameFail && length <= kRequestMax) {
      std::string why(length, '\0');
      if (length != 0 && !readExactly(s_, why.data(), length, deadline))
        throw Error("the server ended the stream without a reason");
      throw Failed(decodeFailure(why));
    } else {
      throw Error("malformed frame from the server");
    }
  }
  std::size_t n = s_.readSome(buf, std::min<std::size_t>(len, left_), deadline);
  if (n == 0) throw Error("the server closed the stream in the middle of a frame");
  left_ -= std::uint32_t(n);
  return n;
}

void FrameReader::writeAll(const void* buf, std::size_t len, Deadline deadline) { s_.writeAll(buf, len, deadline); }

std::string pushProgress(std::uint32_t bytes) { return syncHeader(kSyncData, bytes); }
std::string pushDone() { return syncHeader(kSyncOkay, 0); }
std::string pushFailed(const Failure& f) { return syncRequest(kSyncFail, encodeFailure(f)); }

PushEvent readPushEvent(ByteStream& s, Deadline deadline) {
  unsigned char head[kSyncHeaderSize];
  if (!readExactly(s, head, sizeof head, deadline)) throw Error("the server ended the push without a result");
  std::uint32_t id = le32(head), value = le32(head + 4);
  if (id == kSyncData) return {PushEvent::Kind::Progress, value, {}};
  if (id == kSyncOkay && value == 0) return {PushEvent::Kind::Done, 0, {}};
  if (id != kSyncFail || value > kRequestMax) throw Error("malformed push result from the server");
  std::string why(value, '\0');
  if (value != 0 && !readExactly(s, why.data(), value, deadline))
    throw Error("the server ended the push without a result");
  return {PushEvent::Kind::Failed, 0, decodeFailure(why)};
}

}  // namespace wire
