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

RECT BoundsInParent(HWND hwnd) {
  RECT r;
  GetWindowRect(hwnd, &r);
  MapWindowPoints(HWND_DESKTOP, GetParent(hwnd), reinterpret_cast<POINT*>(&r), 2);
  return r;
}
