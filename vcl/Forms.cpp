#include "Forms.h"

#include <commctrl.h>

#include <memory>

#include "SysUtils.h"

namespace vcl {
namespace {

const wchar_t kFormClass[] = L"VelmoraForm";

const TNamedValue<bool> kCentredByPosition[] = {{L"poDesktopCenter", true}, {L"poDesigned", false}};
const TNamedValue<bool> kResizableByBorderStyle[] = {{L"bsSingle", false}, {L"bsSizeable", true}};

// Per-monitor DPI functions exist from Windows 10 1607 on; older systems have one DPI.
int WindowDpi(HWND hwnd) {
  using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
  static auto getDpi = reinterpret_cast<GetDpiForWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "GetDpiForWindow")));
  if (getDpi) return static_cast<int>(getDpi(hwnd));
  HDC dc = GetDC(nullptr);
  int dpi = GetDeviceCaps(dc, LOGPIXELSX);
  ReleaseDC(nullptr, dc);
  return dpi;
}

void AdjustForDpi(RECT& r, DWORD style, DWORD exStyle, int dpi) {
  using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
  static auto adjust = reinterpret_cast<AdjustFn>(
      reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"user32.dll"), "AdjustWindowRectExForDpi")));
  if (adjust)
    adjust(&r, style, FALSE, exStyle, static_cast<UINT>(dpi));
  else
    AdjustWindowRectEx(&r, style, FALSE, exStyle);
}

String LoadDefinition(const wchar_t* name) {
  TResourceStream definition(GetModuleHandleW(nullptr), name, RT_RCDATA);
  return Utf8ToString(static_cast<const char*>(definition.Memory()), definition.Size());
}

std::unique_ptr<TControl> NewControl(const String& cls, TComponent* owner) {
  if (cls == L"TLabel") return std::make_unique<TLabel>(owner);
  if (cls == L"TButton") return std::make_unique<TButton>(owner);
  if (cls == L"TBitBtn") return std::make_unique<TBitBtn>(owner);
  if (cls == L"TEdit") return std::make_unique<TEdit>(owner);
  if (cls == L"TGroupBox") return std::make_unique<TGroupBox>(owner);
  if (cls == L"TRadioGroup") return std::make_unique<TRadioGroup>(owner);
  if (cls == L"TProgressBar") return std::make_unique<TProgressBar>(owner);
  return nullptr;
}

bool IsEventName(const String& name, const TPropertyValue& value) {
  return name.size() > 2 && name.compare(0, 2, L"On") == 0 && value.kind == TPropertyValue::Kind::Ident;
}

}  // namespace

// ---- TForm

TForm::TForm(TComponent* owner, const wchar_t* definitionResource) : TWinControl(owner) {
  try {
    Load(ReadFormDefinition(LoadDefinition(definitionResource)));
  } catch (...) {
    if (Handle()) DestroyWindow(Handle());
    throw;
  }
}

TForm::~TForm() {
  if (Handle()) DestroyWindow(Handle());
  if (hicon_) DestroyIcon(hicon_);
  Application->FormDestroyed(this);
}

void TForm::Load(const TComponentDef& def) {
  SetName(def.name);
  ApplyProperties(*this, def);
  CreateHandle();
  LoadChildren(*this, def.children);
  ApplyStackingAll(*this);
}

void TForm::ApplyProperties(TControl& control, const TComponentDef& def) {
  for (const auto& [name, value] : def.properties) {
    if (IsEventName(name, value))
      bindings_.push_back({&control, name, value.text, value.line});
    else
      control.SetProperty(name, value);
  }
}

void TForm::LoadChildren(TWinControl& parent, const std::vector<TComponentDef>& defs) {
  for (const TComponentDef& def : defs) {
    std::unique_ptr<TControl> made = NewControl(def.className, this);
    if (!made) FormDefinitionError(def.line, L"unknown control class " + def.className);
    TControl* control = made.release();  // owned by the form from here on
    control->SetName(def.name);
    control->SetParent(&parent);
    ApplyProperties(*control, def);
    control->CreateHandle();
    if (auto* container = dynamic_cast<TWinControl*>(control))
      LoadChildren(*container, def.children);
    else if (!def.children.empty())
      FormDefinitionError(def.line, def.name + L" cannot hold controls");
  }
}

void TForm::ApplyStackingAll(TWinControl& container) {
  container.ApplyStacking();
  for (TControl* c : container.Controls())
    if (auto* inner = dynamic_cast<TWinControl*>(c)) ApplyStackingAll(*inner);
}

void TForm::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"ClientWidth")
    clientWidth_ = PropertyInt(name, value);
  else if (name == L"ClientHeight")
    clientHeight_ = PropertyInt(name, value);
  else if (name == L"Constraints.MaxWidth")
    maxWidth_ = PropertyInt(name, value);
  else if (name == L"Constraints.MaxHeight")
    maxHeight_ = PropertyInt(name, value);
  else if (name == L"Color")
    color_ = PropertyColor(name, value);
  else if (name == L"Icon")
    icon_ = PropertyText(name, value);
  else if (name == L"Position")
    centred_ = PropertyNamed(name, value, kCentredByPosition);
  else if (name == L"BorderStyle")
    resizable_ = PropertyNamed(name, value, kResizableByBorderStyle);
  else
    TWinControl::SetProperty(name, value);
}

bool TForm::SetEvent(const String& name, const TEventHandler& handler) {
  return AssignEvent(OnCreate, L"OnCreate", name, handler) || TWinControl::SetEvent(name, handler);
}

SIZE TForm::ScaledOuterSize(int width, int height) const {
  RECT r{0, 0, ScaleToDpi(width, dpi_), ScaleToDpi(height, dpi_)};
  AdjustForDpi(r, static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_STYLE)),
               static_cast<DWORD>(GetWindowLongPtrW(Handle(), GWL_EXSTYLE)), dpi_);
  SIZE size{r.right - r.left, r.bottom - r.top};
  if (maxWidth_ > 0) size.cx = std::min<LONG>(size.cx, ScaleToDpi(maxWidth_, dpi_));
  if (maxHeight_ > 0) size.cy = std::min<LONG>(size.cy, ScaleToDpi(maxHeight_, dpi_));
  return size;
}

HWND TForm::CreateWindowHandle(HWND, const RECT&) {
  RegisterOwnClass(kFormClass, GetSysColorBrush(static_cast<int>(color_ & 0xFF)));
  DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_CLIPCHILDREN |
                (resizable_ ? WS_THICKFRAME : 0);
  DWORD exStyle = WS_EX_CONTROLPARENT | (Application->MainFormOnTaskBar ? WS_EX_APPWINDOW : 0);
  HWND hwnd = CreateOwnControl(kFormClass, style, exStyle, nullptr,
                               RECT{CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT});
  if (!hwnd) return nullptr;
  dpi_ = WindowDpi(hwnd);
  SIZE size = ScaledOuterSize(clientWidth_, clientHeight_);
  SetWindowPos(hwnd, nullptr, 0, 0, size.cx, size.cy, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
  if (!icon_.empty()) {
    hicon_ = static_cast<HICON>(LoadImageW(GetModuleHandleW(nullptr), icon_.c_str(), IMAGE_ICON, 0, 0, 0));
    if (!hicon_) RaiseLastOSError(L"Cannot load the icon " + icon_);
    SendMessageW(hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(hicon_));
    SendMessageW(hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(hicon_));
  }
  return hwnd;
}

void TForm::Show() {
  if (centred_ && !IsWindowVisible(Handle())) {
    RECT r;
    GetWindowRect(Handle(), &r);
    int w = r.right - r.left, h = r.bottom - r.top;
    SetWindowPos(Handle(), nullptr, (GetSystemMetrics(SM_CXSCREEN) - w) / 2, (GetSystemMetrics(SM_CYSCREEN) - h) / 2, 0,
                 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  }
  ShowWindow(Handle(), SW_SHOWNORMAL);
  UpdateWindow(Handle());
}

void TForm::Close() {
  if (Application->MainForm() == this)
    Application->Terminate();
  else
    ShowWindow(Handle(), SW_HIDE);
}

void TForm::DoCreate() {
  try {
    if (OnCreate) OnCreate(this);
  } catch (...) {
    Application->HandleException();
  }
}

void TForm::ApplyDpi(int dpi) {
  dpi_ = dpi;
  for (TControl* c : Controls()) c->UpdateScale();
}

LRESULT TForm::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  LRESULT result;
  if (RouteChildMessage(msg, wp, lp, result)) return result;
  switch (msg) {
    case WM_CLOSE: Close(); return 0;
    // As a dialog does: the control that had the focus when the form was deactivated gets it back
    // when the form is activated again (Win32 itself would give it to the form), and the first
    // control in tab order gets it the first time.
    case WM_ACTIVATE:
      if (LOWORD(wp) == WA_INACTIVE) {
        HWND focus = GetFocus();
        if (focus && IsChild(Handle(), focus)) lastFocus_ = focus;
      }
      return TWinControl::WndProc(msg, wp, lp);
    case WM_SETFOCUS: {
      HWND target =
          lastFocus_ && IsChild(Handle(), lastFocus_) ? lastFocus_ : GetNextDlgTabItem(Handle(), nullptr, FALSE);
      if (target) SetFocus(target);
      return 0;
    }
    case WM_GETMINMAXINFO: {
      auto* info = reinterpret_cast<MINMAXINFO*>(lp);
      if (maxWidth_ > 0) info->ptMaxTrackSize.x = info->ptMaxSize.x = ScaleToDpi(maxWidth_, dpi_);
      if (maxHeight_ > 0) info->ptMaxTrackSize.y = info->ptMaxSize.y = ScaleToDpi(maxHeight_, dpi_);
      return 0;
    }
    case WM_DPICHANGED: {
      ApplyDpi(LOWORD(wp));
      SIZE size = ScaledOuterSize(clientWidth_, clientHeight_);
      const RECT* suggested = reinterpret_cast<const RECT*>(lp);
      SetWindowPos(Handle(), nullptr, suggested->left, suggested->top, size.cx, size.cy, SWP_NOZORDER | SWP_NOACTIVATE);
      return 0;
    }
    default: return TWinControl::WndProc(msg, wp, lp);
  }
}

// ---- TApplication

namespace {

String ModuleTitle() {
  wchar_t path[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, path, MAX_PATH);
  String title(path, n);
  size_t slash = title.find_last_of(L"\\/");
  if (slash != String::npos) title.erase(0, slash + 1);
  size_t dot = title.find_last_of(L'.');
  if (dot != String::npos) title.erase(dot);
  return title;
}

TApplication theApplication;

}  // namespace

TApplication* Application = &theApplication;

TApplication::TApplication() : TComponent(nullptr), title_(ModuleTitle()) {}

void TApplication::Initialize() {
  INITCOMMONCONTROLSEX icc{sizeof icc, ICC_STANDARD_CLASSES | ICC_PROGRESS_CLASS | ICC_WIN95_CLASSES};
  InitCommonControlsEx(&icc);
}

void TApplication::FormDestroyed(TForm* form) {
  if (mainForm_ == form) mainForm_ = nullptr;
}

void TApplication::Terminate() { PostQuitMessage(0); }

bool TApplication::ProcessMessage(MSG& msg) {
  if (msg.message == WM_QUIT) {
    terminated_ = true;
    return false;
  }
  // Keyboard navigation (Tab, arrows in radio groups) is the dialog manager's.
  HWND root = msg.hwnd ? GetAncestor(msg.hwnd, GA_ROOT) : nullptr;
  if (root && dynamic_cast<TForm*>(TControl::FromHandle(root)) && IsDialogMessageW(root, &msg)) return true;
  TranslateMessage(&msg);
  DispatchMessageW(&msg);
  return true;
}

void TApplication::Run() {
  if (mainForm_) mainForm_->Show();
  while (!terminated_) {
    MSG msg;
    BOOL got = GetMessageW(&msg, nullptr, 0, 0);
    if (got == -1) break;
    if (got == 0) msg.message = WM_QUIT;
    ProcessMessage(msg);
  }
}

void TApplication::ProcessMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE))
    if (!ProcessMessage(msg)) break;
}

HWND TApplication::BoxOwner() const {
  return mainForm_ && IsWindowVisible(mainForm_->Handle()) ? mainForm_->Handle() : nullptr;
}

void TApplication::ShowException(const Exception& e) {
  String text = e.Message();
  // The standard error box ends a message with a full stop.
  if (!text.empty() && text.back() > L'.') text += L'.';
  MessageBoxW(BoxOwner(), text.c_str(), title_.c_str(), MB_OK | MB_ICONSTOP);
}

void TApplication::HandleException() {
  try {
    throw;
  } catch (const Exception& e) {
    ShowException(e);
  } catch (...) {
    ShowException(Exception(L""));
  }
}

void ShowMessage(const String& text) {
  MessageBoxW(Application->BoxOwner(), text.c_str(), Application->Title().c_str(), MB_OK);
}

}  // namespace vcl
