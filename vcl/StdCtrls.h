// The standard controls of the installer window.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include "Controls.h"

namespace vcl {

enum class TAlignment { Left, Right, Center };
enum class TTextLayout { Top, Center };

// Text drawn by the layer itself: one line or word-wrapped, aligned in its box, clipped at the
// box's edges (a centred line too wide for the box loses both ends).
class TLabel : public TControl {
 public:
  using TControl::TControl;
  bool IsGraphic() const override { return true; }
  void SetText(const String& text) override;
  void SetProperty(const String& name, const TPropertyValue& value) override;

 protected:
  HWND CreateWindowHandle(HWND parent, const RECT& bounds) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
  void FontChanged() override;

 private:
  void Paint(HDC dc);
  void AdjustSize();
  UINT DrawFlags() const;

  TAlignment alignment_ = TAlignment::Left;
  TTextLayout layout_ = TTextLayout::Top;
  bool autoSize_ = true;
  bool wordWrap_ = false;
  TColor color_ = clBtnFace;
};

class TButton : public TControl {
 public:
  using TControl::TControl;
  void HandleCommand(WORD code) override;

 protected:
  HWND CreateWindowHandle(HWND parent, const RECT& bounds) override;
};

// A push button with a 24×24 glyph left of its caption; the glyph's lower-left pixel colour is
// drawn transparent.
class TBitBtn : public TButton {
 public:
  using TButton::TButton;
  ~TBitBtn() override;
  void SetProperty(const String& name, const TPropertyValue& value) override;
  void UpdateScale() override;

 protected:
  void HandleCreated() override { ApplyGlyph(); }

 private:
  void ApplyGlyph();
  String glyph_;
  HIMAGELIST images_ = nullptr;
};

class TEdit : public TControl {
 public:
  using TControl::TControl;
  // Called once for each typed character before it takes effect; a Key set to 0 is dropped.
  TKeyPressEvent OnKeyPress;
  void SetProperty(const String& name, const TPropertyValue& value) override;
  bool SetEvent(const String& name, const TEventHandler& handler) override;
  HBRUSH HandleCtlColor(HDC dc) override;
  void HandleCommand(WORD code) override;

 protected:
  HWND CreateWindowHandle(HWND parent, const RECT& bounds) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  TAlignment alignment_ = TAlignment::Left;
};

class TGroupBox : public TWinControl {
 public:
  using TWinControl::TWinControl;

 protected:
  HWND CreateWindowHandle(HWND parent, const RECT& bounds) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;
};

// A group box of radio buttons laid out in columns; ItemIndex is the chosen item.
class TRadioGroup : public TGroupBox {
 public:
  using TGroupBox::TGroupBox;
  int ItemIndex() const { return itemIndex_; }
  void SetItemIndex(int index);
  const std::vector<String>& Items() const { return items_; }
  HWND ItemHandle(int index) const { return buttons_.at(index); }
  void SetProperty(const String& name, const TPropertyValue& value) override;
  void UpdateScale() override;

 protected:
  void HandleCreated() override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  void ArrangeButtons();
  std::vector<String> items_;
  std::vector<HWND> buttons_;
  int itemIndex_ = -1;
  int columns_ = 1;
};

class TProgressBar : public TControl {
 public:
  using TControl::TControl;
  int Position() const { return position_; }
  void SetPosition(int position);
  void SetProperty(const String& name, const TPropertyValue& value) override;

 protected:
  HWND CreateWindowHandle(HWND parent, const RECT& bounds) override;
  void HandleCreated() override;

 private:
  int min_ = 0, max_ = 100, position_ = 0;
};

}  // namespace vcl
