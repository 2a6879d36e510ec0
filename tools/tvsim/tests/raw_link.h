// Driving tvsim from a test without the bridge tool: the PC's side of one link, packet by
// packet; an HTTP request; a TV ready to install the platform-signed sample.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "codec.h"

namespace rawlink {

class RawLink {
 public:
  // Connects to tvsim on 127.0.0.1:port and exchanges the handshake.
  explicit RawLink(int port);
  ~RawLink();
  RawLink(const RawLink&) = delete;
  RawLink& operator=(const RawLink&) = delete;

  void send(std::uint32_t command, std::uint32_t a0, std::uint32_t a1, std::string_view payload = {});
  // The next packet, within 30 s.
  wire::Packet next();
  // Every packet from opening the service to the TV's CLSE, acking each WRTE.
  std::vector<wire::Packet> runService(const std::string& service);
  // The output of a shell command.
  std::string shell(const std::string& command);

 private:
  int fd_;
  std::unique_ptr<wire::ByteStream> stream_;
};

// The stream data among the packets.
std::string text(const std::vector<wire::Packet>& packets);

// A TCP connection to 127.0.0.1:port; -1 with errno set when it fails.
int connectLoopback(int port);

struct HttpReply {
  int status = 0;
  std::string body;
};
// GET path from 127.0.0.1:port, within 10 s.
HttpReply httpGet(int port, const std::string& path);

// The platform-signed sample's application id, and where sampleReadyToInstall puts it.
inline const std::string kSampleId = "N75lVtaOnD.TestApp";
inline const std::string kUploaded = "/home/owner/share/tmp/sdk_tools/tmp/Velmora.wgt";
// tvsim arguments for a TV that trusts the sample; the sample is put in the upload folder of
// the state folder `state`, the trust anchors into `dir`.
std::vector<std::string> sampleReadyToInstall(const std::string& dir, const std::string& state);

}  // namespace rawlink
