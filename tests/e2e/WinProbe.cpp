// Reads and answers the installer's windows from outside, for the end-to-end tests (run under
// the same Wine server as the installer). Output is UTF-8, one line per window.
//   winprobe dump CAPTION   every child window of the top-level window CAPTION:
//                           class<TAB>text<TAB>progress position (-1 for other classes)<TAB>
//                           left,top,width,height in the top-level window's client area
//   winprobe boxes          the visible message boxes: caption<TAB>text
//   winprobe answer         presses OK on every visible message box
//   winprobe clip TEXT      puts TEXT on the clipboard
// Line breaks inside a text are written as \n.
#include <windows.h>

#include <commctrl.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& s) {
  std::string out;
  for (wchar_t c : s) {
    if (c == L'\n') {
      out += "\\n";
      continue;
    }
    if (c == L'\r') continue;
    char buf[8];
    int n = WideCharToMultiByte(CP_UTF8, 0, &c, 1, buf, sizeof buf, nullptr, nullptr);
    out.append(buf, n > 0 ? n : 0);
  }
  return out;
}

std::wstring TextOf(HWND hwnd) {
  wchar_t buf[8192] = {};
  DWORD_PTR n = 0;
  SendMessageTimeoutW(hwnd, WM_GETTEXT, 8192, reinterpret_cast<LPARAM>(buf), SMTO_ABORTIFHUNG, 2000, &n);
  return buf;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t cls[64] = {};
  GetClassNameW(hwnd, cls, 64);
  return cls;
}

std::vector<HWND> MessageBoxes() {
  std::vector<HWND> boxes;
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        if (IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770")
          reinterpret_cast<std::vector<HWND>*>(p)->push_back(hwnd);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&boxes));
  return boxes;
}

int Dump(const wchar_t* caption) {
  HWND top = FindWindowW(nullptr, caption);
  if (!top) return 1;
  EnumChildWindows(
      top,
      [](HWND hwnd, LPARAM p) -> BOOL {
        std::wstring cls = ClassOf(hwnd);
        DWORD_PTR pos = static_cast<DWORD_PTR>(-1);
        if (cls == PROGRESS_CLASSW) SendMessageTimeoutW(hwnd, PBM_GETPOS, 0, 0, SMTO_ABORTIFHUNG, 2000, &pos);
        RECT r;
        GetWindowRect(hwnd, &r);
        MapWindowPoints(HWND_DESKTOP, reinterpret_cast<HWND>(p), reinterpret_cast<POINT*>(&r), 2);
        std::printf("%s\t%s\t%d\t%ld,%ld,%ld,%ld\n", Utf8(cls).c_str(), Utf8(TextOf(hwnd)).c_str(),
                    static_cast<int>(pos), r.left, r.top, r.right - r.left, r.bottom - r.top);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(top));
  return 0;
}

int Clip(const wchar_t* text) {
  size_t bytes = (wcslen(text) + 1) * sizeof(wchar_t);
  HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, bytes);
  memcpy(GlobalLock(mem), text, bytes);
  GlobalUnlock(mem);
  if (!OpenClipboard(nullptr)) return 1;
  EmptyClipboard();
  SetClipboardData(CF_UNICODETEXT, mem);
  CloseClipboard();
  return 0;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  std::wstring verb = argc > 1 ? argv[1] : L"";
  if (verb == L"dump" && argc == 3) return Dump(argv[2]);
  if (verb == L"clip" && argc == 3) return Clip(argv[2]);
  if (verb == L"boxes") {
    for (HWND box : MessageBoxes())
      std::printf("%s\t%s\n", Utf8(TextOf(box)).c_str(), Utf8(TextOf(GetDlgItem(box, 0xFFFF))).c_str());
    return 0;
  }
  if (verb == L"answer") {
    for (HWND box : MessageBoxes()) PostMessageW(box, WM_COMMAND, IDOK, 0);
    return 0;
  }
  std::fprintf(stderr, "usage: winprobe dump CAPTION | boxes | answer | clip TEXT\n");
  return 2;
}
