#include "TvInfo.h"

#include <winsock2.h>
#include <ws2tcpip.h>

#include <nlohmann/json.hpp>

#include "Forms.h"

using namespace vcl;

namespace {

constexpr size_t kResponseLimit = 64 * 1024;

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
        if (connect(socket_, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0 &&
            WSAGetLastError() != WSAEWOULDBLOCK)
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
    nlohmann::json json = nlohmann::json::parse(response.begin() + static_cast<std::ptrdiff_t>(open),
                                                response.begin() + static_cast<std::ptrdiff_t>(close) + 1, nullptr, false);
    if (json.is_discarded() || !json.is_object()) return info;
    auto device = json.find("device");
    if (device == json.end() || !device->is_object()) return info;
    auto mode = device->find("developerMode");
    auto ip = device->find("developerIP");
    if (mode == device->end() || !mode->is_string() || ip == device->end() || !ip->is_string()) return info;
    const std::string& modeText = mode->get_ref<const std::string&>();
    if (modeText != "0" && modeText != "1") return info;
    info.kind = TTvInfo::TKind::Answered;
    info.developerMode = modeText == "1";
    info.developerIp = AsciiToString(ip->get<std::string>());
    return info;
}

TTvInfo QueryTvInfo(const String& address, unsigned boundMs) {
    TTvInfo info;
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(8001);
    std::string host(address.begin(), address.end());  // a checked dotted quad: ASCII
    WSADATA wsa;
    if (WSAStartup(MAKEWORD(2, 2), &wsa) != 0) return info;
    if (inet_pton(AF_INET, host.c_str(), &to.sin_addr) == 1) {
        bool connected = false;
        String local;
        std::string response = TRequest().Run(
            to, "GET /api/v2/ HTTP/1.1\r\nHost: " + host + ":8001\r\nConnection: close\r\n\r\n", boundMs, connected,
            local);
        if (connected) {
            info = ParseTvInfo(response);
            info.localAddress = local;
        }
    }
    WSACleanup();
    return info;
}
