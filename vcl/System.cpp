#include "System.h"

#include <windows.h>

#include "SysUtils.h"

namespace vcl {

String Utf8ToString(const char* data, size_t size) {
  if (size == 0) return String();
  int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), nullptr, 0);
  if (n <= 0) RaiseLastOSError(L"Text is not valid UTF-8");
  String out(static_cast<size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), out.data(), n);
  return out;
}

std::string StringToUtf8(const String& s) {
  if (s.empty()) return std::string();
  int n = WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  WideCharToMultiByte(CP_UTF8, 0, s.data(), static_cast<int>(s.size()), out.data(), n, nullptr, nullptr);
  return out;
}

String IntToStr(long long value) {
  wchar_t digits[24];
  wchar_t* end = digits + 24;
  wchar_t* p = end;
  unsigned long long magnitude =
      value < 0 ? 0ULL - static_cast<unsigned long long>(value) : static_cast<unsigned long long>(value);
  do {
    *--p = static_cast<wchar_t>(L'0' + magnitude % 10);
    magnitude /= 10;
  } while (magnitude != 0);
  if (value < 0) *--p = L'-';
  return String(p, end);
}

}  // namespace vcl
