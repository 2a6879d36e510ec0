#include "WindowTestSupport.h"

using namespace vcl;

namespace {

class FakeStack : public TIdStack {
 public:
  explicit FakeStack(Entries entries) : entries_(std::move(entries)) {}
  void GetLocalAddressList(TIdStackLocalAddressList& list) override {
    for (const auto& [version, text] : entries_) list.Add(version, text);
  }

 private:
  Entries entries_;
};

}  // namespace

void UseFakeAddresses(const Entries& entries) {
  TIdStack::SetStackFactory([entries] { return std::make_unique<FakeStack>(entries); });
}

FormFixture::FormFixture(const Entries& addresses) {
  UseFakeAddresses(addresses);
  Application->Initialize();
  Application->CreateForm(form_);
}

FormFixture::~FormFixture() { delete form_; }

std::wstring WindowText(HWND hwnd) {
  int n = GetWindowTextLengthW(hwnd);
  std::wstring text(static_cast<size_t>(n) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(hwnd, text.data(), n + 1)));
  return text;
}

HWND FindVisibleWindow(DWORD pid, const wchar_t* cls, const wchar_t* caption) {
  struct Search {
    DWORD pid;
    const wchar_t* cls;
    const wchar_t* caption;
    HWND found;
  } search{pid, cls, caption, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(p);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        wchar_t name[64] = {};
        GetClassNameW(hwnd, name, 64);
        if (owner != s.pid || !IsWindowVisible(hwnd) || (s.cls && wcscmp(name, s.cls) != 0) ||
            (s.caption && WindowText(hwnd) != s.caption))
          return TRUE;
        s.found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

RECT BoundsInParent(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}
