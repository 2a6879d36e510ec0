#include "TvInfo.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <cctype>
#include <cstring>
#include <vector>

#include "Forms.h"

using namespace vcl;

namespace {

constexpr size_t kResponseLimit = 64 * 1024;

// A strict reader of one JSON document (RFC 8259) that keeps the string members of the
// top-level "device" object. Written for this one answer: a general JSON library costs the
// installer more than 50 KB, a tenth of what the whole download may weigh.
class TDeviceJson {
 public:
  // Reads text in place: it must outlive the reader.
  explicit TDeviceJson(const std::string& text) : p_(text.data()), end_(text.data() + text.size()) {}

  // Whether the text is one well-formed JSON value; fields holds "device" members then.
  bool Read() {
    if (!Value(0, false)) return false;
    Space();
    return p_ == end_;
  }
  std::string Field(const std::string& name) const {
    for (const auto& [key, value] : fields_)
      if (key == name) return value;
    return std::string();
  }
  bool HasField(const std::string& name) const {
    for (const auto& f : fields_)
      if (f.first == name) return true;
    return false;
  }

 private:
  static constexpr int kMaxDepth = 64;

  void Space() {
    while (p_ < end_ && (*p_ == ' ' || *p_ == '\t' || *p_ == '\n' || *p_ == '\r')) ++p_;
  }
  bool Literal(const char* word) {
    size_t n = strlen(word);
    if (static_cast<size_t>(end_ - p_) < n || memcmp(p_, word, n) != 0) return false;
    p_ += n;
    return true;
  }
  bool String(std::string* out) {
    if (p_ == end_ || *p_++ != '"') return false;
    while (p_ < end_ && *p_ != '"') {
      unsigned char c = static_cast<unsigned char>(*p_++);
      if (c < 0x20) return false;
      if (c != '\\') {
        if (out) out->push_back(static_cast<char>(c));
        continue;
      }
      if (p_ == end_) return false;
      char e = *p_++;
      static const char kPlain[] = "\"\\/bfnrt";
      static const char kMeant[] = "\"\\/\b\f\n\r\t";
      if (const char* at = e ? strchr(kPlain, e) : nullptr) {
        if (out) out->push_back(kMeant[at - kPlain]);
      } else if (e == 'u') {
        for (int i = 0; i < 4; ++i, ++p_)
          if (p_ == end_ || !isxdigit(static_cast<unsigned char>(*p_))) return false;
        if (out) out->push_back('?');  // the fields we keep are ASCII
      } else {
        return false;
      }
    }
    return p_ < end_ && *p_++ == '"';
  }
  bool Number() {
    const char* start = p_;
    if (p_ < end_ && *p_ == '-') ++p_;
    if (p_ < end_ && *p_ == '0')
      ++p_;
    else if (!Digits())
      return false;
    if (p_ < end_ && *p_ == '.' && (++p_, !Digits())) return false;
    if (p_ < end_ && (*p_ == 'e' || *p_ == 'E')) {
      ++p_;
      if (p_ < end_ && (*p_ == '+' || *p_ == '-')) ++p_;
      if (!Digits()) return false;
    }
    return p_ > start;
  }
  bool Digits() {
    const char* start = p_;
    while (p_ < end_ && *p_ >= '0' && *p_ <= '9') ++p_;
    return p_ > start;
  }
  // inDevice: the value is a member of the top-level "device" object, kept under key if a string.
  bool Value(int depth, bool inDevice, const std::string* key = nullptr) {
    Space();
    if (p_ == end_ || depth > kMaxDepth) return false;
    switch (*p_) {
      case '{': return Object(depth, depth == 1 && key && *key == "device");
      case '[': return Array(depth);
      case '"': {
        if (!inDevice) return String(nullptr);
        std::string value;
        if (!String(&value)) return false;
        fields_.emplace_back(*key, std::move(value));
        return true;
      }
      case 't': return Literal("true");
      case 'f': return Literal("false");
      case 'n': return Literal("null");
      default: return Number();
    }
  }
  bool Object(int depth, bool isDevice) {
    ++p_;
    Space();
    if (p_ < end_ && *p_ == '}') return ++p_, true;
    for (;;) {
      std::string key;
      Space();
      if (!String(&key)) return false;
      Space();
      if (p_ == end_ || *p_++ != ':') return false;
      if (!Value(depth + 1, isDevice, &key)) return false;
      Space();
      if (p_ == end_) return false;
      if (*p_ == '}') return ++p_, true;
      if (*p_++ != ',') return false;
    }
  }
  bool Array(int depth) {
    ++p_;
    Space();
    if (p_ < end_ && *p_ == ']') return ++p_, true;
    for (;;) {
      if (!Value(depth + 1, false)) return false;
      Space();
      if (p_ == end_) return false;
      if (*p_ == ']') return ++p_, true;
      if (*p_++ != ',') return false;
    }
  }

  const char* p_;
  const char* end_;
  std::vector<std::pair<std::string, std::string>> fields_;
};

String AsciiToString(const std::string& s) { return String(s.begin(), s.end()); }

// One request on a non-blocking socket, waiting on its events and the window's input together.
class TRequest {
 public:
  TRequest() : socket_(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP)), event_(WSACreateEvent()) {}
  ~TRequest() {
    if (socket_ != INVALID_SOCKET) closesocket(socket_);
    WSACloseEvent(event_);
  }

  // The response as far as it came within the bound; connected tells whether TCP got through.
  std::string Run(const sockaddr_in& to, const std::string& request, unsigned boundMs, bool& connected,
                  String& localAddress) {
    connected = false;
    std::string response;
    if (socket_ == INVALID_SOCKET || WSAEventSelect(socket_, event_, FD_CONNECT | FD_READ | FD_CLOSE) != 0)
      return response;
    if (connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 && WSAGetLastError() != WSAEWOULDBLOCK)
      return response;
    ULONGLONG deadline = GetTickCount64() + boundMs;
    for (ULONGLONG now = GetTickCount64(); now < deadline && !Application->Terminated(); now = GetTickCount64()) {
      DWORD woke = MsgWaitForMultipleObjects(1, &event_, FALSE, static_cast<DWORD>(deadline - now), QS_ALLINPUT);
      if (woke == WAIT_OBJECT_0 + 1) {
        Application->ProcessMessages();
        continue;
      }
      if (woke != WAIT_OBJECT_0) break;
      WSANETWORKEVENTS events{};
      if (WSAEnumNetworkEvents(socket_, event_, &events) != 0) break;
      if (events.lNetworkEvents & FD_CONNECT) {
        if (events.iErrorCode[FD_CONNECT_BIT] != 0) break;
        connected = true;
        localAddress = LocalAddress();
        if (send(socket_, request.data(), static_cast<int>(request.size()), 0) != static_cast<int>(request.size()))
          break;
      }
      if (events.lNetworkEvents & (FD_READ | FD_CLOSE)) {
        char chunk[4096];
        int got;
        while ((got = recv(socket_, chunk, sizeof chunk, 0)) > 0 && response.size() < kResponseLimit)
          response.append(chunk, static_cast<size_t>(got));
        if (got == 0 || (events.lNetworkEvents & FD_CLOSE) || response.size() >= kResponseLimit) break;
      }
    }
    return response;
  }

 private:
  String LocalAddress() const {
    sockaddr_in local{};
    int size = sizeof local;
    if (getsockname(socket_, reinterpret_cast<sockaddr*>(&local), &size) != 0) return String();
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return AsciiToString(text);
  }

  SOCKET socket_;
  WSAEVENT event_;
};

}  // namespace

TTvInfo ParseTvInfo(const std::string& response) {
  TTvInfo info;
  info.kind = TTvInfo::TKind::Unknown;
  if (response.compare(0, 9, "HTTP/1.1 ") != 0 && response.compare(0, 9, "HTTP/1.0 ") != 0) return info;
  if (response.compare(9, 3, "200") != 0) return info;
  // The body from its first brace to its last: also right for a body sent as one chunk.
  size_t open = response.find('{', response.find("\r\n\r\n"));
  size_t close = response.rfind('}');
  if (open == std::string::npos || close == std::string::npos || close < open) return info;
  const std::string body = response.substr(open, close + 1 - open);
  TDeviceJson json(body);
  if (!json.Read() || !json.HasField("developerIP")) return info;
  std::string mode = json.Field("developerMode");
  if (mode != "0" && mode != "1") return info;
  info.kind = TTvInfo::TKind::Answered;
  info.developerMode = mode == "1";
  info.developerIp = AsciiToString(json.Field("developerIP"));
  return info;
}

TTvInfo QueryTvInfo(const String& address, unsigned boundMs, unsigned short port) {
  TTvInfo info;
  sockaddr_in to{};
  to.sin_family = AF_INET;
  to.sin_port = htons(port);
  std::string host(address.begin(), address.end());  // a checked dotted quad: ASCII
  WSADATA wsa;
  if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return info;
  if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) == 1) {
    bool connected = false;
    String local;
    std::string response = TRequest().Run(
        to, "GET /api/v2/ HTTP/1.1\r\nHost: " + host + ":" + std::to_string(port) + "\r\nConnection: close\r\n\r\n",
        boundMs, connected, local);
    if (connected) {
      info = ParseTvInfo(response);
      info.localAddress = local;
    }
  }
  WSACleanup();
  return info;
}
