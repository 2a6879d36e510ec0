#include "StdCtrls.h"

#include <memory>

#include "SysUtils.h"

namespace vcl {
namespace {

const TNamedValue<TAlignment> kAlignments[] = {
    {L"taLeftJustify", TAlignment::Left}, {L"taRightJustify", TAlignment::Right}, {L"taCenter", TAlignment::Center}};
const TNamedValue<TTextLayout> kLayouts[] = {{L"tlTop", TTextLayout::Top}, {L"tlCenter", TTextLayout::Center}};

// Selects a font into a device context for the lifetime of the object.
class FontSelection {
 public:
  FontSelection(HDC dc, HFONT font) : dc_(dc), old_(SelectObject(dc, font)) {}
  ~FontSelection() { SelectObject(dc_, old_); }

 private:
  HDC dc_;
  HGDIOBJ old_;
};

}  // namespace

// ---- TLabel

void TLabel::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"Alignment")
    alignment_ = PropertyNamed(name, value, kAlignments);
  else if (name == L"Layout")
    layout_ = PropertyNamed(name, value, kLayouts);
  else if (name == L"AutoSize")
    autoSize_ = PropertyBool(name, value);
  else if (name == L"WordWrap")
    wordWrap_ = PropertyBool(name, value);
  else if (name == L"Color")
    color_ = PropertyColor(name, value);
  else
    TControl::SetProperty(name, value);
}

HWND TLabel::CreateWindowHandle(HWND parent, const RECT& bounds) {
  RegisterOwnClass(L"VelmoraLabel", nullptr);
  return CreateOwnControl(L"VelmoraLabel", WS_CHILD | WS_VISIBLE | WS_CLIPSIBLINGS, 0, parent, bounds);
}

void TLabel::SetText(const String& text) {
  TControl::SetText(text);
  if (!Handle()) return;
  if (autoSize_) AdjustSize();
  InvalidateRect(Handle(), nullptr, TRUE);
}

void TLabel::FontChanged() {
  if (autoSize_) AdjustSize();
  InvalidateRect(Handle(), nullptr, TRUE);
}

UINT TLabel::DrawFlags() const {
  UINT flags = DT_NOPREFIX | (wordWrap_ ? DT_WORDBREAK : DT_SINGLELINE);
  if (alignment_ == TAlignment::Center) flags |= DT_CENTER;
  if (alignment_ == TAlignment::Right) flags |= DT_RIGHT;
  return flags;
}

void TLabel::AdjustSize() {
  HDC dc = GetDC(Handle());
  RECT r{0, 0, 0, 0};
  {
    FontSelection font(dc, FontHandle());
    DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &r, DrawFlags() | DT_CALCRECT);
  }
  ReleaseDC(Handle(), dc);
  int dpi = Dpi();
  SetBounds(Left(), Top(), MulDiv(r.right, 96, dpi), MulDiv(r.bottom, 96, dpi));
}

void TLabel::Paint(HDC dc) {
  RECT box;
  GetClientRect(Handle(), &box);
  HBRUSH background = CreateSolidBrush(ColorToRGB(color_));
  FillRect(dc, &box, background);
  DeleteObject(background);

  FontSelection font(dc, FontHandle());
  SetBkMode(dc, TRANSPARENT);
  SetTextColor(dc, ColorToRGB(Font().Color));
  RECT text = box;
  if (layout_ == TTextLayout::Center) {
    RECT measure = box;
    DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &measure, DrawFlags() | DT_CALCRECT);
    int free = (box.bottom - box.top) - (measure.bottom - measure.top);
    text.top += free / 2;
  }
  DrawTextW(dc, text_.c_str(), static_cast<int>(text_.size()), &text, DrawFlags());
}

LRESULT TLabel::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  switch (msg) {
    case WM_ERASEBKGND: return 1;
    case WM_PAINT: {
      PAINTSTRUCT ps;
      HDC dc = BeginPaint(Handle(), &ps);
      Paint(dc);
      EndPaint(Handle(), &ps);
      return 0;
    }
    case WM_NCHITTEST: return HTTRANSPARENT;
    case WM_GETFONT: return reinterpret_cast<LRESULT>(FontHandle());
    default: return TControl::WndProc(msg, wp, lp);
  }
}

// ---- TButton and TBitBtn

HWND TButton::CreateWindowHandle(HWND parent, const RECT& bounds) {
  return CreateSystemControl(L"BUTTON", BS_PUSHBUTTON | WS_TABSTOP, 0, parent, bounds);
}

void TButton::HandleCommand(WORD code) {
  if (code == BN_CLICKED) Click();
}

TBitBtn::~TBitBtn() {
  if (images_) ImageList_Destroy(images_);
}

void TBitBtn::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"Glyph")
    glyph_ = PropertyText(name, value);
  else
    TButton::SetProperty(name, value);
}

void TBitBtn::UpdateScale() {
  TButton::UpdateScale();
  ApplyGlyph();
}

void TBitBtn::ApplyGlyph() {
  if (glyph_.empty() || !Handle()) return;
  HBITMAP source = static_cast<HBITMAP>(
      LoadImageW(GetModuleHandleW(nullptr), glyph_.c_str(), IMAGE_BITMAP, 0, 0, LR_CREATEDIBSECTION));
  if (!source) RaiseLastOSError(L"Cannot load the bitmap " + glyph_);
  BITMAP info;
  GetObjectW(source, sizeof info, &info);

  // Scale the glyph to the DPI (nearest neighbour keeps the transparent colour exact) and key
  // out the colour of its lower-left pixel.
  int size = ScaleToDpi(info.bmWidth, Dpi());
  HDC screen = GetDC(nullptr);
  HDC from = CreateCompatibleDC(screen);
  HDC to = CreateCompatibleDC(screen);
  std::unique_ptr<HBITMAP__, decltype(&DeleteObject)> scaled(CreateCompatibleBitmap(screen, size, size), DeleteObject);
  HGDIOBJ oldFrom = SelectObject(from, source);
  HGDIOBJ oldTo = SelectObject(to, scaled.get());
  COLORREF transparent = GetPixel(from, 0, info.bmHeight - 1);
  SetStretchBltMode(to, COLORONCOLOR);
  StretchBlt(to, 0, 0, size, size, from, 0, 0, info.bmWidth, info.bmHeight, SRCCOPY);
  SelectObject(from, oldFrom);
  SelectObject(to, oldTo);
  DeleteDC(from);
  DeleteDC(to);
  ReleaseDC(nullptr, screen);
  DeleteObject(source);

  std::unique_ptr<_IMAGELIST, decltype(&ImageList_Destroy)> images(
      ImageList_Create(size, size, ILC_COLOR24 | ILC_MASK, 1, 0), ImageList_Destroy);
  if (!images || ImageList_AddMasked(images.get(), scaled.get(), transparent) < 0)
    RaiseLastOSError(L"Cannot make the glyph of " + Name());

  BUTTON_IMAGELIST list{};
  list.himl = images.get();
  list.margin = RECT{ScaleToDpi(4, Dpi()), 0, 0, 0};
  list.uAlign = BUTTON_IMAGELIST_ALIGN_LEFT;
  SendMessageW(Handle(), BCM_SETIMAGELIST, 0, reinterpret_cast<LPARAM>(&list));
  if (images_) ImageList_Destroy(images_);
  images_ = images.release();
}

// ---- TEdit

void TEdit::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"Alignment")
    alignment_ = PropertyNamed(name, value, kAlignments);
  else if (name == L"Text")
    text_ = PropertyText(name, value);
  else
    TControl::SetProperty(name, value);
}

bool TEdit::SetEvent(const String& name, const TEventHandler& handler) {
  return AssignEvent(OnKeyPress, L"OnKeyPress", name, handler) || TControl::SetEvent(name, handler);
}

HWND TEdit::CreateWindowHandle(HWND parent, const RECT& bounds) {
  DWORD align = alignment_ == TAlignment::Center ? ES_CENTER : alignment_ == TAlignment::Right ? ES_RIGHT : ES_LEFT;
  return CreateSystemControl(L"EDIT", WS_TABSTOP | ES_AUTOHSCROLL | align, WS_EX_CLIENTEDGE, parent, bounds);
}

LRESULT TEdit::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_CHAR && OnKeyPress) {
    wchar_t key = static_cast<wchar_t>(wp);
    OnKeyPress(this, key);
    if (key == 0) return 0;
    wp = key;
  }
  return TControl::WndProc(msg, wp, lp);
}

void TEdit::HandleCommand(WORD code) {
  if (code != EN_CHANGE) return;
  int length = GetWindowTextLengthW(Handle());
  String text(static_cast<size_t>(length) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(Handle(), text.data(), length + 1)));
  text_ = std::move(text);
}

HBRUSH TEdit::HandleCtlColor(HDC dc) {
  SetTextColor(dc, ColorToRGB(Font().Color));
  SetBkColor(dc, GetSysColor(COLOR_WINDOW));
  return GetSysColorBrush(COLOR_WINDOW);
}

// ---- TGroupBox and TRadioGroup

HWND TGroupBox::CreateWindowHandle(HWND parent, const RECT& bounds) {
  return CreateSystemControl(L"BUTTON", BS_GROUPBOX | WS_CLIPCHILDREN, WS_EX_CONTROLPARENT, parent, bounds);
}

// The group box control paints only its frame and caption; its inside is ours to fill.
LRESULT TGroupBox::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_ERASEBKGND) {
    RECT r;
    GetClientRect(Handle(), &r);
    FillRect(reinterpret_cast<HDC>(wp), &r, GetSysColorBrush(COLOR_BTNFACE));
    return 1;
  }
  return TWinControl::WndProc(msg, wp, lp);
}

void TRadioGroup::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"Items")
    items_ = PropertyList(name, value);
  else if (name == L"ItemIndex")
    itemIndex_ = PropertyInt(name, value);
  else if (name == L"Columns")
    columns_ = std::max(1, PropertyInt(name, value));
  else
    TGroupBox::SetProperty(name, value);
}

void TRadioGroup::HandleCreated() {
  for (size_t i = 0; i < items_.size(); ++i) {
    // The first item opens the group and takes the tab stop; arrow keys move within it.
    DWORD style = WS_CHILD | WS_VISIBLE | BS_AUTORADIOBUTTON | (i == 0 ? WS_GROUP | WS_TABSTOP : 0);
    HWND button = CreateWindowExW(0, L"BUTTON", items_[i].c_str(), style, 0, 0, 0, 0, Handle(),
                                  reinterpret_cast<HMENU>(i + 1), GetModuleHandleW(nullptr), nullptr);
    if (!button) RaiseLastOSError(L"Cannot create the items of " + Name());
    buttons_.push_back(button);
  }
  SetItemIndex(itemIndex_);
  ArrangeButtons();
}

void TRadioGroup::UpdateScale() {
  TGroupBox::UpdateScale();
  ArrangeButtons();
}

void TRadioGroup::SetItemIndex(int index) {
  itemIndex_ = index;
  for (size_t i = 0; i < buttons_.size(); ++i)
    SendMessageW(buttons_[i], BM_SETCHECK, static_cast<int>(i) == index ? BST_CHECKED : BST_UNCHECKED, 0);
}

void TRadioGroup::ArrangeButtons() {
  if (buttons_.empty()) return;
  HDC dc = GetDC(Handle());
  TEXTMETRICW tm;
  {
    FontSelection font(dc, FontHandle());
    GetTextMetricsW(dc, &tm);
  }
  ReleaseDC(Handle(), dc);

  // Items fill the space below the caption: rows of equal height, columns of equal width,
  // column by column.
  RECT client;
  GetClientRect(Handle(), &client);
  int count = static_cast<int>(buttons_.size());
  int rows = (count + columns_ - 1) / columns_;
  int free = client.bottom - tm.tmHeight - 5;
  int rowHeight = free / rows;
  int topMargin = tm.tmHeight + 1 + (free % rows) / 2;
  int columnWidth = (client.right - 10) / columns_;
  for (int i = 0; i < count; ++i) {
    int column = i / rows, row = i % rows;
    SetWindowPos(buttons_[i], nullptr, column * columnWidth + 8, row * rowHeight + topMargin, columnWidth, rowHeight,
                 SWP_NOZORDER | SWP_NOACTIVATE);
    SendMessageW(buttons_[i], WM_SETFONT, reinterpret_cast<WPARAM>(FontHandle()), TRUE);
  }
}

LRESULT TRadioGroup::WndProc(UINT msg, WPARAM wp, LPARAM lp) {
  if (msg == WM_COMMAND && HIWORD(wp) == BN_CLICKED) {
    int index = static_cast<int>(LOWORD(wp)) - 1;
    if (index >= 0 && index < static_cast<int>(buttons_.size()) &&
        SendMessageW(buttons_[index], BM_GETCHECK, 0, 0) == BST_CHECKED) {
      if (index != itemIndex_) {
        itemIndex_ = index;
        Click();
      }
      return 0;
    }
  }
  return TGroupBox::WndProc(msg, wp, lp);
}

// ---- TProgressBar

void TProgressBar::SetProperty(const String& name, const TPropertyValue& value) {
  if (name == L"Min")
    min_ = PropertyInt(name, value);
  else if (name == L"Max")
    max_ = PropertyInt(name, value);
  else if (name == L"Position")
    position_ = PropertyInt(name, value);
  else
    TControl::SetProperty(name, value);
}

HWND TProgressBar::CreateWindowHandle(HWND parent, const RECT& bounds) {
  return CreateSystemControl(PROGRESS_CLASSW, 0, 0, parent, bounds);
}

void TProgressBar::HandleCreated() {
  SendMessageW(Handle(), PBM_SETRANGE32, static_cast<WPARAM>(min_), static_cast<LPARAM>(max_));
  SetPosition(position_);
}

void TProgressBar::SetPosition(int position) {
  position_ = std::clamp(position, min_, max_);
  if (Handle()) SendMessageW(Handle(), PBM_SETPOS, static_cast<WPARAM>(position_), 0);
}

}  // namespace vcl
