// The control base classes. Every control owns one window; its bounds and font are kept in
// 96-DPI design units and scaled to the DPI of the form's monitor whenever the window is placed.
#pragma once

#include <windows.h>

#include <variant>
#include <vector>

#include "Classes.h"
#include "FormReader.h"
#include "Graphics.h"

namespace vcl {

class TWinControl;
class TForm;

using TEventHandler = std::variant<TNotifyEvent, TKeyPressEvent>;

class TControl : public TComponent {
 public:
  explicit TControl(TComponent* owner);
  ~TControl() override;

  HWND Handle() const { return handle_; }
  TWinControl* Parent() const { return parent_; }
  void SetParent(TWinControl* parent);
  TForm* Form();

  int Left() const { return left_; }
  int Top() const { return top_; }
  int Width() const { return width_; }
  int Height() const { return height_; }
  void SetBounds(int left, int top, int width, int height);
  int TabOrder() const { return tabOrder_; }
  // Text-only controls take no focus and lie beneath the focusable ones.
  virtual bool IsGraphic() const { return false; }

  const TFont& Font() const { return font_; }

  virtual void SetText(const String& text);
  const String& GetText() const { return text_; }

  TNotifyEvent OnClick;

  // Form streaming: one property of the definition (throws Exception naming the line for a
  // property this control does not have), or one event bound to a handler (false for an event
  // this control does not have, or not of the handler's kind).
  virtual void SetProperty(const String& name, const TPropertyValue& value);
  virtual bool SetEvent(const String& name, const TEventHandler& handler);

  // Creates the window under the parent's window; the control must have its parent set.
  void CreateHandle();
  // Places the window and rebuilds the font for the form's current DPI.
  virtual void UpdateScale();
  int Dpi();

  // Messages that Win32 sends to the parent on the control's behalf.
  virtual void HandleCommand(WORD /*code*/) {}
  virtual HBRUSH HandleCtlColor(HDC /*dc*/) { return nullptr; }

  static TControl* FromHandle(HWND hwnd);

 protected:
  // Creates the window itself; called once by CreateHandle.
  virtual HWND CreateWindowHandle(HWND parent, const RECT& bounds) = 0;
  // Called once the window exists, has its font and its text.
  virtual void HandleCreated() {}
  // Message handling of the control. Subclassed system controls fall back to their class's
  // procedure, our own classes to DefWindowProc.
  virtual LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp);
  LRESULT DefaultProc(UINT msg, WPARAM wp, LPARAM lp);
  // Creates a window of a system class and subclasses it.
  HWND CreateSystemControl(const wchar_t* cls, DWORD style, DWORD exStyle, HWND parent, const RECT& bounds);
  // Creates a window of one of our own classes (see RegisterOwnClass).
  HWND CreateOwnControl(const wchar_t* cls, DWORD style, DWORD exStyle, HWND parent, const RECT& bounds);
  static void RegisterOwnClass(const wchar_t* cls, HBRUSH background);

  // Sets the event to the handler when the definition names this event and the handler is of
  // its kind; SetEvent overrides chain these.
  template <class E>
  static bool AssignEvent(E& event, const wchar_t* eventName, const String& name, const TEventHandler& handler) {
    if (name != eventName || !std::holds_alternative<E>(handler)) return false;
    event = std::get<E>(handler);
    return true;
  }

  RECT DeviceBounds();
  HFONT FontHandle() const { return hfont_; }
  void Click();
  TFont& MutableFont() {
    parentFont_ = false;
    return font_;
  }
  // Called after the font has changed.
  virtual void FontChanged() {}

  String text_;

 private:
  friend class TWinControl;
  static LRESULT CALLBACK OwnClassProc(HWND, UINT, WPARAM, LPARAM);
  static LRESULT CALLBACK SubclassProc(HWND, UINT, WPARAM, LPARAM, UINT_PTR, DWORD_PTR);
  LRESULT SafeWndProc(UINT msg, WPARAM wp, LPARAM lp);
  void Attach(HWND hwnd);
  void Place();
  void Detach();
  void RecreateFont();

  HWND handle_ = nullptr;
  bool subclassed_ = false;
  TWinControl* parent_ = nullptr;
  int left_ = 0, top_ = 0, width_ = 0, height_ = 0;
  int tabOrder_ = -1;
  TFont font_;
  bool parentFont_ = true;
  HFONT hfont_ = nullptr;
};

// A control that holds other controls (the form and the group boxes).
class TWinControl : public TControl {
 public:
  using TControl::TControl;
  ~TWinControl() override;
  const std::vector<TControl*>& Controls() const { return controls_; }
  void UpdateScale() override;

  // Stacks the children's windows: each later one above the earlier ones, as the form
  // definition lays them out, except that the windows Tab reaches trade places among
  // themselves to lie in tab order (ties keep creation order), because the dialog manager tabs
  // from the top of the stack down. Text-only controls lie beneath all others, as if painted
  // on their parent.
  void ApplyStacking();

 protected:
  // Routes WM_COMMAND and WM_CTLCOLOR* of child windows to their control objects.
  bool RouteChildMessage(UINT msg, WPARAM wp, LPARAM lp, LRESULT& result);
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  friend class TControl;
  std::vector<TControl*> controls_;
};

}  // namespace vcl
