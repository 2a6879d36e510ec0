// Every constant of the two wires the tool speaks: the TV's packet protocol (TCP 26101) with its
// sync sub-protocol, and the request framing between our client and our background server.
#pragma once

#include <cstddef>
#include <cstdint>

namespace wire {

// --- Device transport: 24-byte header of six little-endian uint32 ---------------------------
constexpr std::size_t kHeaderSize = 24;

constexpr std::uint32_t kCnxn = 0x4e584e43;  // handshake, both directions
constexpr std::uint32_t kOpen = 0x4e45504f;  // PC opens a stream: arg0 local id, payload service + NUL
constexpr std::uint32_t kOkay = 0x59414b4f;  // stream accepted, or ack of one WRTE
constexpr std::uint32_t kWrte = 0x45545257;  // stream data: arg0 sender id, arg1 receiver id
constexpr std::uint32_t kClse = 0x45534c43;  // stream closed (or refused: arg0 0)
constexpr std::uint32_t kStat = 0x54415453;  // TV lock state broadcast: arg0 1 = locked

// Protocol version we announce in CNXN arg0 and the one a TV answers with.
constexpr std::uint32_t kHostVersion = 0x00100000;
constexpr std::uint32_t kDeviceVersion = 0x02000000;

// Largest payload, bytes. We offer 256 KiB; a TV answers with its own limit (4096 on 2016
// firmware), and we never send more than it said nor accept a limit outside these bounds.
constexpr std::uint32_t kHostMaxPayload = 256 * 1024;
constexpr std::uint32_t kMinMaxPayload = 256;
constexpr std::uint32_t kOlderHostMaxPayload = 4096;

constexpr char kHostBanner[] = "host::";            // our CNXN payload, sent with its NUL
constexpr char kDeviceBannerPrefix[] = "device::";  // TV's: device::<model>::<lock 0|1>

// --- Sync sub-protocol inside a "sync:" stream: 4-byte ASCII id + one little-endian uint32 ---
constexpr std::uint32_t syncId(const char (&s)[5]) {
  return std::uint32_t(std::uint8_t(s[0])) | std::uint32_t(std::uint8_t(s[1])) << 8 |
         std::uint32_t(std::uint8_t(s[2])) << 16 | std::uint32_t(std::uint8_t(s[3])) << 24;
}
constexpr std::uint32_t kSyncStat = syncId("STAT");  // + path length, path -> STAT mode size mtime
constexpr std::uint32_t kSyncSend = syncId("SEND");  // + length of "<path>,<mode decimal>"
constexpr std::uint32_t kSyncData = syncId("DATA");  // + byte count (at most kSyncDataMax), bytes
constexpr std::uint32_t kSyncDone = syncId("DONE");  // + mtime, seconds since 1970
constexpr std::uint32_t kSyncOkay = syncId("OKAY");  // TV: file written, + 0
constexpr std::uint32_t kSyncFail = syncId("FAIL");  // TV: + reason length, reason text
constexpr std::uint32_t kSyncQuit = syncId("QUIT");  // + 0, ends the session
constexpr std::size_t kSyncHeaderSize = 8;
constexpr std::size_t kSyncStatReplySize = 16;       // id, mode, size, mtime
constexpr std::uint32_t kSyncDataMax = 64 * 1024;    // bytes in one DATA
constexpr std::uint32_t kSyncPathMax = 1024;         // bytes of a remote path
constexpr std::uint32_t kSyncFailMax = 1024;         // bytes of a FAIL reason we accept
constexpr std::uint32_t kRegularFileMode = 0100755;  // 33261, what the TV expects in SEND

// --- capability: service: 2-byte little-endian length (counting the trailing NUL), text ------
constexpr std::size_t kCapabilityMax = 4096;

// --- Client <-> background server ------------------------------------------------------------
constexpr std::uint16_t kServerPort = 26099;
constexpr std::uint16_t kDevicePort = 26101;
constexpr std::size_t kRequestMax = 2048;  // payload bytes after the 4 hex digits
constexpr char kOkayText[] = "OKAY";
constexpr char kFailText[] = "FAIL";

// After a service is accepted the server sends the device's stream to the client in frames of
// a 4-byte tag and a little-endian uint32 length, so that an abnormal end carries its reason.
constexpr std::uint32_t kFrameData = syncId("DATA");  // + length (at most kHostMaxPayload), bytes
constexpr std::uint32_t kFrameDone = syncId("DONE");  // + 0: the device closed the stream
constexpr std::uint32_t kFrameFail = syncId("FAIL");  // + length (at most kRequestMax), reason
constexpr std::size_t kFrameHeaderSize = 8;

// "push:<remote path>": the server itself reads the client's file and sends it to the TV,
// saving the loopback hop from client to server. The request is followed by the file's absolute
// path as a sync SEND record (at most kLocalPathMax bytes). Once accepted, the DATA frames carry
// sync records: DATA + bytes sent since the last one (about every second, so that a long push
// never looks idle to the client), then OKAY + 0, or FAIL + length + the whole error message.
constexpr std::uint32_t kLocalPathMax = 4096;

}  // namespace wire
