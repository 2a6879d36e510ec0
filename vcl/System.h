// Basic types of the window layer: the string type used at every Win32 call and the base
// exception class whose message the application's error box shows.
#pragma once

#include <string>

namespace vcl {

// Counted UTF-16 string, held by value (wchar_t is 16 bits on Windows).
using String = std::wstring;

// Base class of every failure the program reports to the user. Deliberately not derived from
// std::exception: anything else that escapes reaches the user as an error box without text.
class Exception {
 public:
  explicit Exception(String message) : message_(std::move(message)) {}
  virtual ~Exception() = default;
  const String& Message() const { return message_; }

 private:
  String message_;
};

// UTF-8 (our sources and resources) to UTF-16, independent of the ANSI code page.
String Utf8ToString(const char* data, size_t size);
inline String Utf8ToString(const std::string& s) { return Utf8ToString(s.data(), s.size()); }

// UTF-16 to UTF-8.
std::string StringToUtf8(const String& s);

// Decimal text of a number (our own, so that no printf family comes with the wide strings).
String IntToStr(long long value);

}  // namespace vcl
