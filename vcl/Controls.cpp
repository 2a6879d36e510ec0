#include "Controls.h"

#include <commctrl.h>

#include <algorithm>
#include <climits>
#include <iterator>

#include "Forms.h"
#include "SysUtils.h"

namespace vcl {
namespace {

const wchar_t kControlProp[] = L"VelmoraControl";
constexpr UINT_PTR kSubclassId = 1;

// Whether Tab can reach the window or a window inside it.
bool HasTabStop(HWND hwnd) {
  if (GetWindowLongW(hwnd, GWL_STYLE) & WS_TABSTOP) return true;
  bool found = false;
  EnumChildWindows(
      hwnd,
      [](HWND child, LPARAM p) -> BOOL {
        bool& seen = *reinterpret_cast<bool*>(p);
        seen = (GetWindowLongW(child, GWL_STYLE) & WS_TABSTOP) != 0;
        return !seen;
      },
      reinterpret_cast<LPARAM>(&found));
  return found;
}

}  // namespace

TControl::TControl(TComponent* owner) : TComponent(owner) {}

TControl::~TControl() {
  if (handle_) DestroyWindow(handle_);
  if (hfont_) DeleteObject(hfont_);
  if (parent_) {
    auto& siblings = parent_->controls_;
    siblings.erase(std::remove(siblings.begin(), siblings.end(), this), siblings.end());
  }
}

void TControl::SetParent(TWinControl* parent) {
  parent_ = parent;
  parent_->controls_.push_back(this);
  font_ = parent->font_;
}

TForm* TControl::Form() {
  TControl* c = this;
  while (c->parent_) c = c->parent_;
  return dynamic_cast<TForm*>(c);
}

int TControl::Dpi() {
  TForm* form = Form();
  return form ? form->CurrentDpi() : 96;
}

RECT TControl::DeviceBounds() {
  int dpi = Dpi();
  return RECT{ScaleToDpi(left_, dpi), ScaleToDpi(top_, dpi), ScaleToDpi(left_ + width_, dpi),
              ScaleToDpi(top_ + height_, dpi)};
}

void TControl::SetBounds(int left, int top, int width, int height) {
  left_ = left;
  top_ = top;
  width_ = width;
  height_ = height;
  if (handle_) Place();
}

void TControl::SetText(const String& text) {
  text_ = text;
  if (handle_) SetWindowTextW(handle_, text_.c_str());
}

void TControl::Click() {
  if (OnClick) OnClick(this);
}

void TControl::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"Left")
    left_ = PropertyInt(name, value);
  else if (name == L"Top")
    top_ = PropertyInt(name, value);
  else if (name == L"Width")
    width_ = PropertyInt(name, value);
  else if (name == L"Height")
    height_ = PropertyInt(name, value);
  else if (name == L"TabOrder")
    tabOrder_ = PropertyInt(name, value);
  else if (name == L"Caption")
    text_ = PropertyText(name, value);
  else if (name == L"Font.Name")
    MutableFont().Name = PropertyText(name, value);
  else if (name == L"Font.Height")
    MutableFont().Height = PropertyInt(name, value);
  else if (name == L"Font.Bold")
    MutableFont().Bold = PropertyBool(name, value);
  else if (name == L"Font.Color")
    MutableFont().Color = PropertyColor(name, value);
  else
    FormDefinitionError(value.line, Name() + L" has no property " + name);
}

bool TControl::SetEvent(const String& name, const TEventHandler& handler) {
  return AssignEvent(OnClick, L"OnClick", name, handler);
}

void TControl::CreateHandle() {
  HWND parentWnd = parent_ ? parent_->Handle() : nullptr;
  Attach(CreateWindowHandle(parentWnd, DeviceBounds()));
  RecreateFont();
  if (!text_.empty()) SetWindowTextW(handle_, text_.c_str());
  HandleCreated();
}

void TControl::Attach(HWND hwnd) {
  if (!hwnd) RaiseLastOSError(L"Cannot create the window of " + Name());
  handle_ = hwnd;
  SetPropW(hwnd, kControlProp, this);
}

void TControl::Detach() {
  RemovePropW(handle_, kControlProp);
  if (subclassed_) RemoveWindowSubclass(handle_, SubclassProc, kSubclassId);
  subclassed_ = false;
  handle_ = nullptr;
}

TControl* TControl::FromHandle(HWND hwnd) { return static_cast<TControl*>(GetPropW(hwnd, kControlProp)); }

void TControl::RecreateFont() {
  HFONT old = hfont_;
  hfont_ = font_.Create(Dpi());
  SendMessageW(handle_, WM_SETFONT, reinterpret_cast<WPARAM>(hfont_), TRUE);
  if (old) DeleteObject(old);
  FontChanged();
}

void TControl::Place() {
  RECT r = DeviceBounds();
  SetWindowPos(handle_, nullptr, r.left, r.top, r.right - r.left, r.bottom - r.top, SWP_NOZORDER | SWP_NOACTIVATE);
}

void TControl::UpdateScale() {
  if (!handle_) return;
  Place();
  RecreateFont();
}

HWND TControl::CreateSystemControl(const wchar_t* cls, DWORD style, DWORD exStyle, HWND parent, const RECT& b) {
  HWND hwnd = CreateWindowExW(exStyle, cls, L"", style | WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, b.left, b.top,
                              b.right - b.left, b.bottom - b.top, parent, nullptr, GetModuleHandleW(nullptr), nullptr);
  // A window left behind by a failure here goes with its parent's.
  if (hwnd && !SetWindowSubclass(hwnd, SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    RaiseLastOSError(L"Cannot take over the messages of the window of " + Name());
  subclassed_ = hwnd != nullptr;
  return hwnd;
}

void TControl::RegisterOwnClass(const wchar_t* cls, HBRUSH background) {
  WNDCLASSEXW wc{};
  if (GetClassInfoExW(GetModuleHandleW(nullptr), cls, &wc)) return;
  wc.cbSize = sizeof wc;
  wc.lpfnWndProc = OwnClassProc;
  wc.hInstance = GetModuleHandleW(nullptr);
  wc.hCursor = LoadCursorW(nullptr, reinterpret_cast<LPCWSTR>(IDC_ARROW));
  wc.hbrBackground = background;
  wc.lpszClassName = cls;
  if (!RegisterClassExW(&wc)) RaiseLastOSError(String(L"Cannot register the window class ") + cls);
}

HWND TControl::CreateOwnControl(const wchar_t* cls, DWORD style, DWORD exStyle, HWND parent, const RECT& b) {
  return CreateWindowExW(exStyle, cls, L"", style, b.left, b.top, b.right - b.left, b.bottom - b.top, parent, nullptr,
                         GetModuleHandleW(nullptr), this);
}

LRESULT TControl::DefaultProc(UINT msg, WPARAM wp, LPARAM lp) {
  return subclassed_ ? DefSubclassProc(handle_, msg, wp, lp) : DefWindowProcW(handle_, msg, wp, lp);
}

LRESULT TControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) { return DefaultProc(msg, wp, lp); }

LRESULT CALLBACK TControl::OwnClassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_NCCREATE) {
    auto* self = static_cast<TControl*>(reinterpret_cast<CREATESTRUCTW*>(lp)->lpCreateParams);
    self->handle_ = hwnd;
    SetPropW(hwnd, kControlProp, self);
  }
  TControl* self = FromHandle(hwnd);
  if (!self) return DefWindowProcW(hwnd, msg, wp, lp);
  if (msg == WM_NCDESTROY) {
    self->Detach();
    return DefWindowProcW(hwnd, msg, wp, lp);
  }
  return self->SafeWndProc(msg, wp, lp);
}

LRESULT CALLBACK TControl::SubclassProc(HWND hwnd, UINT msg, WPARAM wp, LPARAM lp, UINT_PTR, DWORD_PTR ref) {
  auto* self = reinterpret_cast<TControl*>(ref);
  if (msg == WM_NCDESTROY) {
    self->Detach();
    return DefSubclassProc(hwnd, msg, wp, lp);
  }
  return self->SafeWndProc(msg, wp, lp);
}

// Both entry points from Win32 pass through here: every exception stops here, is shown by the
// application, and the message counts as handled.
LRESULT TControl::SafeWndProc(UINT msg, WPARAM wp, LPARAM lp) {
  try {
    return WndProc(msg, wp, lp);
  } catch (...) {
    Application->HandleException();
    return 0;
  }
}

TWinControl::~TWinControl() {
  // The children are owned by the form and may outlive this container by a moment.
  for (TControl* c : controls_) c->parent_ = nullptr;
}

void TWinControl::UpdateScale() {
  TControl::UpdateScale();
  for (TControl* c : controls_) c->UpdateScale();
}

void TWinControl::ApplyStacking() {
  // Top first: the windows in reverse creation order, then the text-only controls.
  std::vector<TControl*> windows, texts;
  for (auto it = controls_.rbegin(); it != controls_.rend(); ++it)
    ((*it)->IsGraphic() ? texts : windows).push_back(*it);
  std::vector<TControl*> tabbed;
  std::copy_if(windows.begin(), windows.end(), std::back_inserter(tabbed),
               [](TControl* c) { return HasTabStop(c->Handle()); });
  std::stable_sort(tabbed.begin(), tabbed.end(), [](TControl* a, TControl* b) {
    auto key = [](TControl* c) { return c->TabOrder() < 0 ? INT_MAX : c->TabOrder(); };
    return key(a) < key(b);
  });
  auto next = tabbed.begin();
  for (TControl*& slot : windows)
    if (HasTabStop(slot->Handle())) slot = *next++;

  HWND after = HWND_TOP;
  for (const auto* band : {&windows, &texts}) {
    for (TControl* c : *band) {
      SetWindowPos(c->Handle(), after, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
      after = c->Handle();
    }
  }
}

bool TWinControl::RouteChildMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result) {
  HWND child = reinterpret_cast<HWND>(lp);
  switch (msg) {
    case WM_COMMAND:
      if (TControl* c = child ? FromHandle(child) : nullptr) {
        c->HandleCommand(HIWORD(wp));
        result = 0;
        return true;
      }
      return false;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      if (TControl* c = FromHandle(child)) {
        if (HBRUSH brush = c->HandleCtlColor(reinterpret_cast<HDC>(wp))) {
          result = reinterpret_cast<LRESULT>(brush);
          return true;
        }
      }
      return false;
    default: return false;
  }
}

LRESULT TWinControl::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result;
  if (RouteChildMessage(msg, wp, lp, result)) return result;
  return TControl::WndProc(msg, wp, lp);
}

}  // namespace vcl
