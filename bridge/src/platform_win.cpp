#include "platform_sys.h"

#include <windows.h>
#include <iphlpapi.h>

#include <algorithm>
#include <atomic>
#include <climits>
#include <cstdio>
#include <vector>

namespace plat {

namespace {

std::string utf8(const std::wstring& w) {
  if (w.empty()) return {};
  int n = WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), nullptr, 0, nullptr, nullptr);
  std::string s(std::size_t(n), '\0');
  WideCharToMultiByte(CP_UTF8, 0, w.data(), int(w.size()), s.data(), n, nullptr, nullptr);
  return s;
}

std::wstring wide(const std::string& s) {
  if (s.empty()) return {};
  int n = MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), nullptr, 0);
  std::wstring w(std::size_t(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, s.data(), int(s.size()), w.data(), n);
  return w;
}

std::string errorText(DWORD code) {
  wchar_t* buf = nullptr;
  DWORD n = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                           nullptr, code, 0, reinterpret_cast<wchar_t*>(&buf), 0, nullptr);
  std::string text = n ? utf8(std::wstring(buf, n)) : "error " + std::to_string(code);
  LocalFree(buf);
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == '.')) text.pop_back();
  return text;
}

}  // namespace

namespace sys {

int lastError() { return WSAGetLastError(); }
std::string errorText(int code) { return plat::errorText(DWORD(code)); }
bool wouldBlock(int code) { return code == WSAEWOULDBLOCK || code == WSAEINPROGRESS; }
bool interrupted(int code) { return code == WSAEINTR; }
bool refused(int code) { return code == WSAECONNREFUSED; }
bool reset(int code) { return code == WSAECONNRESET || code == WSAECONNABORTED; }

bool waitFor(Handle h, bool write, Deadline deadline) {
  fd_set set;
  FD_ZERO(&set);
  FD_SET(SOCKET(h), &set);
  // A failed connect shows in the error set, not as writable.
  fd_set errors = set;
  int ms = wire::millisecondsLeft(deadline);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  int r = select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, &tv);
  if (r == SOCKET_ERROR) throw wire::Error("select: " + errorText(WSAGetLastError()));
  return r > 0;
}

Handle newTcpSocket() {
  SOCKET s = WSASocketW(AF_INET, SOCK_STREAM, IPPROTO_TCP, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
  if (s == INVALID_SOCKET) return -1;
  SetHandleInformation(reinterpret_cast<HANDLE>(s), HANDLE_FLAG_INHERIT, 0);
  u_long on = 1;
  ioctlsocket(s, FIONBIO, &on);
  return Handle(s);
}

void setNoDelay(Handle h) {
  BOOL nodelay = TRUE;
  setsockopt(SOCKET(h), IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&nodelay), sizeof nodelay);
}

void closeSocket(Handle h) { closesocket(SOCKET(h)); }

long long receive(Handle h, void* buf, std::size_t len) {
  int n = recv(SOCKET(h), static_cast<char*>(buf), int(std::min<std::size_t>(len, INT_MAX)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

long long send(Handle h, const void* buf, std::size_t len) {
  int n = ::send(SOCKET(h), static_cast<const char*>(buf), int(std::min<std::size_t>(len, INT_MAX)), 0);
  return n == SOCKET_ERROR ? -1 : n;
}

int startConnect(Handle h, const sockaddr_in& to) {
  return connect(SOCKET(h), reinterpret_cast<const sockaddr*>(&to), sizeof to) == SOCKET_ERROR ? -1 : 0;
}

int connectResult(Handle h) {
  int err = 0;
  int len = sizeof err;
  if (getsockopt(SOCKET(h), SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&err), &len) != 0) return WSAGetLastError();
  return err;
}

}  // namespace sys

void init() {
  WSADATA data;
  WSAStartup(MAKEWORD(2, 2), &data);
}

int waitAnyReadable(Socket* const* sockets, int count, Deadline deadline) {
  fd_set set;
  FD_ZERO(&set);
  for (int i = 0; i < count; ++i)
    if (sockets[i]) FD_SET(SOCKET(sockets[i]->native()), &set);
  int ms = wire::millisecondsLeft(deadline);
  timeval tv{ms / 1000, (ms % 1000) * 1000};
  int r = select(0, &set, nullptr, nullptr, &tv);
  if (r == SOCKET_ERROR) throw wire::Error("select: " + errorText(DWORD(WSAGetLastError())));
  if (r == 0) return -1;
  for (int i = 0; i < count; ++i)
    if (sockets[i] && FD_ISSET(SOCKET(sockets[i]->native()), &set)) return i;
  return -1;
}

namespace {

// The user of a process's token, copied into buf; null when it cannot be read.
PSID tokenUser(HANDLE process, std::vector<char>& buf) {
  HANDLE token = nullptr;
  if (!OpenProcessToken(process, TOKEN_QUERY, &token)) return nullptr;
  DWORD len = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &len);
  buf.resize(len);
  bool ok = len != 0 && GetTokenInformation(token, TokenUser, buf.data(), len, &len);
  CloseHandle(token);
  return ok ? reinterpret_cast<TOKEN_USER*>(buf.data())->User.Sid : nullptr;
}

}  // namespace

bool peerIsSameUser(const Socket& s) {
  sockaddr_in self{}, peer{};
  int len = sizeof self;
  if (getsockname(SOCKET(s.native()), reinterpret_cast<sockaddr*>(&self), &len) != 0) return false;
  len = sizeof peer;
  if (getpeername(SOCKET(s.native()), reinterpret_cast<sockaddr*>(&peer), &len) != 0) return false;
  // The connection table names the process that owns the peer's end.
  std::vector<char> table;
  DWORD size = 0;
  DWORD r = ERROR_INSUFFICIENT_BUFFER;
  for (int tries = 0; tries < 4 && r == ERROR_INSUFFICIENT_BUFFER; ++tries) {
    table.resize(size);
    r = GetExtendedTcpTable(table.data(), &size, FALSE, AF_INET, TCP_TABLE_OWNER_PID_CONNECTIONS, 0);
  }
  if (r != NO_ERROR) return false;
  const auto* rows = reinterpret_cast<const MIB_TCPTABLE_OWNER_PID*>(table.data());
  DWORD owner = 0;
  for (DWORD i = 0; i < rows->dwNumEntries && owner == 0; ++i) {
    const MIB_TCPROW_OWNER_PID& row = rows->table[i];
    if (row.dwLocalAddr == peer.sin_addr.s_addr && u_short(row.dwLocalPort) == peer.sin_port &&
        row.dwRemoteAddr == self.sin_addr.s_addr && u_short(row.dwRemotePort) == self.sin_port)
      owner = row.dwOwningPid;
  }
  if (owner == 0) return false;
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, owner);
  if (!process) return false;
  std::vector<char> theirs, ours;
  PSID them = tokenUser(process, theirs);
  CloseHandle(process);
  PSID us = tokenUser(GetCurrentProcess(), ours);
  return them && us && EqualSid(them, us);
}

Listener::Listener(const std::string& ipv4, std::uint16_t port) {
  sockaddr_in a = sys::ipv4Address(ipv4, port);
  SOCKET s = SOCKET(sys::newTcpSocket());
  if (s == INVALID_SOCKET) throw wire::Error("socket: " + errorText(DWORD(WSAGetLastError())));
  // accept() waits for the next client.
  u_long off = 0;
  ioctlsocket(s, FIONBIO, &off);
  // Exclusive, so that a second server cannot take the port from under the first.
  BOOL on = TRUE;
  setsockopt(s, SOL_SOCKET, SO_EXCLUSIVEADDRUSE, reinterpret_cast<const char*>(&on), sizeof on);
  if (bind(s, reinterpret_cast<sockaddr*>(&a), sizeof a) == SOCKET_ERROR || listen(s, 64) == SOCKET_ERROR) {
    std::string why = errorText(DWORD(WSAGetLastError()));
    closesocket(s);
    throw wire::Error("cannot listen on " + ipv4 + ":" + std::to_string(port) + ": " + why);
  }
  handle_ = std::intptr_t(s);
  int len = sizeof a;
  getsockname(s, reinterpret_cast<sockaddr*>(&a), &len);
  port_ = ntohs(a.sin_port);
}

Listener::~Listener() { close(); }

// The accepting thread may be waiting on the socket: closing it makes that accept fail, and the
// handle value stays for the destructor to see that it is gone.
void Listener::close() {
  if (!closed_.exchange(true)) closesocket(SOCKET(handle_));
}

Socket Listener::accept() {
  while (true) {
    SOCKET c = ::accept(SOCKET(handle_), nullptr, nullptr);
    if (c != INVALID_SOCKET) {
      SetHandleInformation(reinterpret_cast<HANDLE>(c), HANDLE_FLAG_INHERIT, 0);
      u_long on = 1;
      ioctlsocket(c, FIONBIO, &on);
      sys::setNoDelay(sys::Handle(c));
      return Socket(std::intptr_t(c));
    }
    Sleep(10);
  }
}

bool spawnServer(const std::function<int(const std::string& readyToken)>&, const std::vector<std::string>& args,
                 Deadline deadline, std::string& reason) {
  static std::atomic<int> counter{0};
  std::wstring event =
      wide("Local\\iu-server-ready-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(counter++));
  HANDLE ready = CreateEventW(nullptr, TRUE, FALSE, event.c_str());
  if (!ready) {
    reason = "CreateEvent: " + errorText(GetLastError());
    return false;
  }
  wchar_t self[32768];
  DWORD n = GetModuleFileNameW(nullptr, self, 32768);
  std::wstring cmd = L"\"" + std::wstring(self, n) + L"\"";
  for (const auto& a : args) cmd += L" " + wide(a);
  cmd += L" --ready " + event;
  wchar_t system[MAX_PATH];
  UINT sysLen = GetSystemDirectoryW(system, MAX_PATH);
  STARTUPINFOW si{};
  si.cb = sizeof si;
  PROCESS_INFORMATION pi{};
  // No handles inherited and no console: a caller's redirected output closes with the caller,
  // and no window appears. The server runs from the system folder so that it holds no handle
  // on the caller's folder.
  BOOL ok = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE,
                           DETACHED_PROCESS | CREATE_NEW_PROCESS_GROUP | CREATE_UNICODE_ENVIRONMENT, nullptr,
                           sysLen ? system : nullptr, &si, &pi);
  if (!ok) {
    reason = "CreateProcess: " + errorText(GetLastError());
    CloseHandle(ready);
    return false;
  }
  CloseHandle(pi.hThread);
  HANDLE waits[2] = {ready, pi.hProcess};
  DWORD r = WaitForMultipleObjects(2, waits, FALSE, DWORD(wire::millisecondsLeft(deadline)));
  bool started = r == WAIT_OBJECT_0;
  if (r == WAIT_OBJECT_0 + 1)
    reason = "the server ended before it was ready";
  else if (!started)
    reason = "the server did not become ready in time";
  CloseHandle(pi.hProcess);
  CloseHandle(ready);
  return started;
}

void signalReady(const std::string& token) {
  HANDLE e = OpenEventW(EVENT_MODIFY_STATE, FALSE, wide(token).c_str());
  if (!e) return;
  SetEvent(e);
  CloseHandle(e);
}

namespace {

bool validHandle(HANDLE h) { return h && h != INVALID_HANDLE_VALUE; }

std::uint32_t unixSeconds(FILETIME t) {
  // FILETIME counts 100 ns steps from 1601.
  constexpr std::uint64_t k1970 = 116444736000000000ull;
  std::uint64_t ticks = std::uint64_t(t.dwHighDateTime) << 32 | t.dwLowDateTime;
  return ticks < k1970 ? 0 : std::uint32_t((ticks - k1970) / 10000000);
}

}  // namespace

void InputFile::close() {
  if (handle_ != -1) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = -1;
}

bool InputFile::open(const std::string& path, std::string& reason) {
  close();
  std::wstring w = wide(path);
  // A folder is named as such rather than failing the open with "Access is denied".
  DWORD attributes = GetFileAttributesW(w.c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) {
    reason = errorText(GetLastError());
    return false;
  }
  if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
    reason = "a folder, not a file";
    return false;
  }
  HANDLE h = CreateFileW(w.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                         OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
  if (h == INVALID_HANDLE_VALUE) {
    reason = errorText(GetLastError());
    return false;
  }
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileType(h) != FILE_TYPE_DISK || !GetFileInformationByHandle(h, &info) ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
    CloseHandle(h);
    reason = "not a regular file (a pipe or a device)";
    return false;
  }
  handle_ = reinterpret_cast<std::intptr_t>(h);
  size_ = left_ = std::uint64_t(info.nFileSizeHigh) << 32 | info.nFileSizeLow;
  mtime_ = unixSeconds(info.ftLastWriteTime);
  return true;
}

std::size_t InputFile::read(void* buf, std::size_t len) {
  if (left_ == 0) return 0;
  DWORD want = DWORD(std::min<std::uint64_t>({len, left_, 1u << 30}));
  DWORD got = 0;
  if (!ReadFile(reinterpret_cast<HANDLE>(handle_), buf, want, &got, nullptr))
    throw wire::Error(errorText(GetLastError()));
  if (got == 0) throw wire::Error("the file shrank while it was read");
  left_ -= got;
  return got;
}

namespace {

std::wstring markName(std::uint16_t port) { return wide("Local\\iu-server-" + std::to_string(port)); }

}  // namespace

// A named mutex in this session's namespace, closed with the server's process at the latest.
ServerMark::ServerMark(std::uint16_t port)
    : handle_(reinterpret_cast<std::intptr_t>(CreateMutexW(nullptr, FALSE, markName(port).c_str()))) {}

ServerMark::~ServerMark() { release(); }

void ServerMark::release() {
  if (handle_) CloseHandle(reinterpret_cast<HANDLE>(handle_));
  handle_ = 0;
}

bool ServerMark::knownAbsent(std::uint16_t port) {
  HANDLE h = OpenMutexW(SYNCHRONIZE, FALSE, markName(port).c_str());
  if (h) {
    CloseHandle(h);
    return false;
  }
  return GetLastError() == ERROR_FILE_NOT_FOUND;
}

namespace {

// UTF-8 not yet written to a console because it ends inside a character; per stream.
std::string consoleCarry[2];

// Console text goes as UTF-16, so that names outside the ANSI code page show as they are.
void writeConsole(HANDLE h, std::string& carry, std::string_view bytes) {
  carry.append(bytes);
  std::size_t whole = carry.size();
  // Back up over a character whose last bytes are still to come.
  for (std::size_t back = 1; back <= 3 && back <= carry.size(); ++back) {
    unsigned char c = static_cast<unsigned char>(carry[carry.size() - back]);
    if ((c & 0xc0) != 0x80) {
      std::size_t need = c >= 0xf0 ? 4 : c >= 0xe0 ? 3 : c >= 0xc0 ? 2 : 1;
      if (need > back) whole = carry.size() - back;
      break;
    }
  }
  std::wstring text = wide(carry.substr(0, whole));
  carry.erase(0, whole);
  const wchar_t* p = text.data();
  DWORD left = DWORD(text.size());
  while (left > 0) {
    DWORD n = 0;
    if (!WriteConsoleW(h, p, left, &n, nullptr) || n == 0) return;
    p += n;
    left -= n;
  }
}

}  // namespace

void writeStd(StdStream stream, std::string_view bytes) {
  HANDLE h = GetStdHandle(stream == StdStream::Out ? STD_OUTPUT_HANDLE : STD_ERROR_HANDLE);
  if (!validHandle(h)) return;
  DWORD mode;
  if (GetConsoleMode(h, &mode)) return writeConsole(h, consoleCarry[stream == StdStream::Err], bytes);
  // Anything else gets the bytes as they are: the TV's line ends are its own.
  while (!bytes.empty()) {
    DWORD n = 0;
    if (!WriteFile(h, bytes.data(), DWORD(std::min<std::size_t>(bytes.size(), 1u << 30)), &n, nullptr) || n == 0)
      return;
    bytes.remove_prefix(n);
  }
}

bool stdoutIsSeparateLog() {
  HANDLE out = GetStdHandle(STD_OUTPUT_HANDLE), err = GetStdHandle(STD_ERROR_HANDLE);
  DWORD mode;
  if (!validHandle(out) || GetConsoleMode(out, &mode)) return false;
  if (!validHandle(err)) return true;
  DWORD type = GetFileType(out);
  if (type != GetFileType(err)) return true;
  if (type != FILE_TYPE_DISK) return false;  // two pipes: most likely one, joined by 2>&1
  BY_HANDLE_FILE_INFORMATION a, b;
  if (!GetFileInformationByHandle(out, &a) || !GetFileInformationByHandle(err, &b)) return true;
  return a.dwVolumeSerialNumber != b.dwVolumeSerialNumber || a.nFileIndexHigh != b.nFileIndexHigh ||
         a.nFileIndexLow != b.nFileIndexLow;
}

std::vector<std::string> utf8Arguments(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(utf8(argv[i]));
  return args;
}

std::string getEnv(const char* name) {
  std::wstring w = wide(name);
  DWORD n = GetEnvironmentVariableW(w.c_str(), nullptr, 0);
  if (n == 0) return {};
  std::wstring value(n, L'\0');
  n = GetEnvironmentVariableW(w.c_str(), value.data(), n);
  value.resize(n);
  return utf8(value);
}

std::string absolutePath(const std::string& path) {
  std::wstring w = wide(path);
  DWORD n = GetFullPathNameW(w.c_str(), 0, nullptr, nullptr);
  if (n == 0) return path;
  std::wstring full(n, L'\0');
  n = GetFullPathNameW(w.c_str(), n, full.data(), nullptr);
  full.resize(n);
  return utf8(full);
}

void appendToFile(const std::string& path, const std::string& text) {
  HANDLE f = CreateFileW(wide(path).c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                         nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (f == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(f, text.data(), DWORD(text.size()), &written, nullptr);
  CloseHandle(f);
}

int processId() { return int(GetCurrentProcessId()); }

void exitNow(int status) { ExitProcess(UINT(status)); }

}  // namespace plat
