#include "SysUtils.h"

#include <algorithm>

namespace vcl {

String SysErrorMessage(DWORD code) {
  wchar_t* text = nullptr;
  FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                 code, 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  String out = text ? String(text) : L"system error " + IntToStr(static_cast<long long>(code));
  LocalFree(text);
  while (!out.empty() && (out.back() == L'\n' || out.back() == L'\r' || out.back() == L' ')) out.pop_back();
  return out;
}

void RaiseLastOSError(const String& what) {
  DWORD code = GetLastError();
  // Some calls (image lists, drawing) fail without setting an error: say so rather than
  // quote "the operation completed successfully".
  throw Exception(what + L": " + (code == 0 ? String(L"the system gave no reason") : SysErrorMessage(code)));
}

bool FileExists(const String& name) {
  DWORD attributes = GetFileAttributesW(name.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool DeleteFile(const String& name) { return ::DeleteFileW(name.c_str()) != FALSE; }

std::string ReadFileHead(const String& name, size_t limit) {
  std::string bytes;
  HANDLE file = CreateFileW(name.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                            OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return bytes;
  char chunk[16 * 1024];
  DWORD got = 0;
  while (bytes.size() < limit && ReadFile(file, chunk, sizeof chunk, &got, nullptr) && got > 0)
    bytes.append(chunk, std::min<size_t>(got, limit - bytes.size()));
  CloseHandle(file);
  return bytes;
}

bool CreateDir(const String& name) { return CreateDirectoryW(name.c_str(), nullptr) != FALSE; }

}  // namespace vcl
