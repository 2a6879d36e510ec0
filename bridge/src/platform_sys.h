// Private to the platform files: the few socket primitives each system defines, on which the
// shared half (platform_common.cpp) builds reads, writes and connects with deadlines once.
#pragma once

#ifdef _WIN32
#include <winsock2.h>
#include <ws2tcpip.h>
#else
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#endif

#include <cstdint>
#include <string>

#include "platform.h"

namespace plat::sys {

using Handle = std::intptr_t;

// The last socket error of this thread, and its text in the system's words.
int lastError();
std::string errorText(int code);
bool wouldBlock(int code);   // retry once the socket is ready (a connect: under way)
bool interrupted(int code);  // retry at once
bool refused(int code);      // nothing listens on that port
bool reset(int code);        // the peer closed with our data unread

// Waits until the socket is readable (write: writable); false when the deadline passes first.
bool waitFor(Handle h, bool write, Deadline deadline);
// A non-blocking TCP socket that no child process inherits; -1 on failure.
Handle newTcpSocket();
// Small packets go out at once.
void setNoDelay(Handle h);
void closeSocket(Handle h);
// As recv/send on a non-blocking socket: bytes moved, or -1 with lastError().
long long receive(Handle h, void* buf, std::size_t len);
long long send(Handle h, const void* buf, std::size_t len);
// 0, or -1 with lastError(); a connect under way counts as wouldBlock.
int startConnect(Handle h, const sockaddr_in& to);
// The outcome of a finished connect: 0 or the error code.
int connectResult(Handle h);

// "a.b.c.d" and a port as the socket calls take them; throws wire::Error for anything else.
sockaddr_in ipv4Address(const std::string& ipv4, std::uint16_t port);

}  // namespace plat::sys
