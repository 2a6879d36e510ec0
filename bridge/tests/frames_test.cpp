// What our server tells our client, and the TV's sync answers: typed failures survive the wire,
// and every parser is strict about what the other side sends.
#include <gtest/gtest.h>

#include <vector>

#include "chunked_stream.h"
#include "frames.h"
#include "wire.h"

namespace {

using wire::FailKind;

const auto kSoon = wire::Clock::now() + std::chrono::seconds(5);

TEST(Failures, EveryKindSurvivesTheWire) {
  for (FailKind kind : {FailKind::NoTarget, FailKind::ManyTargets, FailKind::Unreachable, FailKind::Handshake,
                        FailKind::Refused, FailKind::WriteFailed, FailKind::Device, FailKind::Local}) {
    for (std::string tv : {"", "192.168.1.66:26101"}) {
      wire::Failure f{kind, tv, "no data from the TV for 12 s: 'a b'"};
      wire::Failure back = wire::decodeFailure(wire::encodeFailure(f));
      EXPECT_EQ(int(back.kind), int(kind));
      EXPECT_EQ(back.tv, tv);
      EXPECT_EQ(back.detail, f.detail);
    }
  }
}

TEST(Failures, ForeignTextIsKeptWholeAndLongDetailsAreCut) {
  for (std::string text : {"error: target not found", "device", "device 1.2.3.4:5", "devices 1.2.3.4:5 x", " - x"}) {
    wire::Failure f = wire::decodeFailure(text);
    EXPECT_EQ(int(f.kind), int(FailKind::Local)) << text;
    EXPECT_EQ(f.detail, text);
  }
  std::string encoded = wire::encodeFailure({FailKind::Device, "1.2.3.4:26101", std::string(5000, 'x')});
  EXPECT_EQ(encoded.size(), wire::kRequestMax);
  EXPECT_NO_THROW(wire::encodeRequest(encoded));
}

std::string dataFrame(const std::string& bytes) {
  return wire::frameHeader(wire::kFrameData, std::uint32_t(bytes.size())) + bytes;
}
const std::string kDone = wire::frameHeader(wire::kFrameDone, 0);

// Everything a FrameReader yields until it ends, in every chunk size.
std::string readAll(const std::string& stream, std::size_t chunk) {
  ChunkedStream s(stream, chunk);
  wire::FrameReader frames(s);
  std::string out;
  char buf[7];
  while (std::size_t n = frames.readSome(buf, sizeof buf, kSoon)) out.append(buf, n);
  return out;
}

TEST(Frames, DataUntilDoneInEveryChunkSize) {
  std::string stream = dataFrame("install ") + dataFrame("") + dataFrame("completed\r\n") + kDone;
  for (std::size_t chunk = 1; chunk <= stream.size(); ++chunk)
    ASSERT_EQ(readAll(stream, chunk), "install completed\r\n") << chunk;
}

TEST(Frames, AFailFrameCarriesItsFailure) {
  std::string stream = dataFrame("partial") + wire::failFrame({FailKind::Device, "10.0.0.2:26101", "stalled"});
  try {
    readAll(stream, 5);
    ADD_FAILURE() << "no failure";
  } catch (const wire::Failed& e) {
    EXPECT_EQ(int(e.failure().kind), int(FailKind::Device));
    EXPECT_EQ(e.failure().tv, "10.0.0.2:26101");
    EXPECT_EQ(e.failure().detail, "stalled");
  }
}

TEST(Frames, MalformedStreamsAreErrors) {
  const std::vector<std::pair<const char*, std::string>> cases = {
      {"oversized data", wire::frameHeader(wire::kFrameData, wire::kHostMaxPayload + 1)},
      {"oversized reason", wire::frameHeader(wire::kFrameFail, wire::kRequestMax + 1)},
      {"done with a length", wire::frameHeader(wire::kFrameDone, 1) + "x"},
      {"unknown tag", wire::frameHeader(wire::kSyncQuit, 0)},
      {"cut in a frame", dataFrame("abc").substr(0, 10)},
      {"cut in a reason", wire::failFrame({FailKind::Local, {}, "why"}).substr(0, 10)},
      {"no end", dataFrame("abc")},
  };
  for (const auto& [name, stream] : cases) {
    try {
      readAll(stream, 3);
      ADD_FAILURE() << name << " was accepted";
    } catch (const wire::Failed&) {
      ADD_FAILURE() << name << " read as a failure of the TV";
    } catch (const wire::Error&) {
    }
  }
}

TEST(PushEvents, ProgressThenAResult) {
  wire::Failure refused{FailKind::WriteFailed, "1.2.3.4:26101", "'/opt/x.wgt': No space left on device"};
  ChunkedStream s(wire::pushProgress(65536) + wire::pushProgress(7) + wire::pushFailed(refused) + wire::pushDone(), 3);
  EXPECT_EQ(wire::readPushEvent(s, kSoon).bytes, 65536u);
  EXPECT_EQ(wire::readPushEvent(s, kSoon).bytes, 7u);
  wire::PushEvent failed = wire::readPushEvent(s, kSoon);
  EXPECT_EQ(failed.kind, wire::PushEvent::Kind::Failed);
  EXPECT_EQ(failed.failure.detail, refused.detail);
  EXPECT_EQ(wire::readPushEvent(s, kSoon).kind, wire::PushEvent::Kind::Done);
  EXPECT_THROW(wire::readPushEvent(s, kSoon), wire::Error);  // the stream ended without a result
}

TEST(PushEvents, MalformedRecordsAreErrors) {
  for (const std::string& bytes :
       {wire::syncHeader(wire::kSyncOkay, 1), wire::syncHeader(wire::kSyncFail, 2049),
        wire::syncHeader(wire::kSyncQuit, 0), wire::syncRequest(wire::kSyncFail, "cut").substr(0, 10),
        wire::syncHeader(wire::kSyncData, 1).substr(0, 5)}) {
    ChunkedStream s(bytes, 4);
    EXPECT_THROW(wire::readPushEvent(s, kSoon), wire::Error) << bytes.size();
  }
}

TEST(SyncAnswers, StatReplyGivesTheMode) {
  std::string reply = wire::syncHeader(wire::kSyncStat, 0040755) + std::string(8, '\0');
  ChunkedStream folder(reply, 5);
  EXPECT_EQ(wire::readStatReply(folder, kSoon), 0040755u);
  for (const std::string& bad : {reply.substr(0, 15), wire::syncHeader(wire::kSyncOkay, 0) + std::string(8, '\0')}) {
    ChunkedStream s(bad, 5);
    EXPECT_THROW(wire::readStatReply(s, kSoon), wire::Error);
  }
}

TEST(SyncAnswers, OkayFailOrAnEnd) {
  struct Case {
    std::string bytes;
    std::optional<std::string> result;
  };
  const Case cases[] = {
      {wire::syncHeader(wire::kSyncOkay, 0), std::nullopt},
      {wire::syncRequest(wire::kSyncFail, "No space left on device"), "No space left on device"},
      {"", "the TV ended the transfer without an answer"},
  };
  for (const auto& c : cases) {
    ChunkedStream s(c.bytes, 3);
    EXPECT_EQ(wire::readSyncResult(s, kSoon), c.result);
  }
  for (const std::string& bad : {wire::syncHeader(wire::kSyncFail, 1025), wire::syncHeader(wire::kSyncData, 0),
                                 wire::syncRequest(wire::kSyncFail, "cut").substr(0, 9)}) {
    ChunkedStream s(bad, 3);
    EXPECT_THROW(wire::readSyncResult(s, kSoon), wire::Error);
  }
}

}  // namespace
