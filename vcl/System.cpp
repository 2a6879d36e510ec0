#include "System.h"

#include <windows.h>

namespace vcl {

String Utf8ToString(const char* data, size_t size) {
    if (size == 0) return String();
    int n = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), nullptr, 0);
    if (n <= 0) throw Exception(L"Text is not valid UTF-8");
    String out(static_cast<size_t>(n), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, data, static_cast<int>(size), out.data(), n);
    return out;
}

}  // namespace vcl
