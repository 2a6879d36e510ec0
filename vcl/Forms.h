// The application object and the form: a top-level window streamed from a form definition
// resource, whose named controls and event handlers are bound to the fields and methods of the
// form class that publishes them.
#pragma once

#include <functional>
#include <optional>
#include <vector>

#include "StdCtrls.h"

namespace vcl {

class TForm;

// The published fields and event handlers of a form class F, by name.
template <class F>
class TPublished {
 public:
  template <class C>
  TPublished& Field(const wchar_t* name, C* F::*field) {
    fields_.push_back([name, field](F& form) { form.*field = form.template Component<C>(name); });
    return *this;
  }
  TPublished& Method(const wchar_t* name, void (F::*method)(TObject*)) {
    methods_.push_back({name, [method](F& form) -> TEventHandler {
                          return TNotifyEvent([&form, method](TObject* s) { (form.*method)(s); });
                        }});
    return *this;
  }
  TPublished& Method(const wchar_t* name, void (F::*method)(TObject*, wchar_t&)) {
    methods_.push_back({name, [method](F& form) -> TEventHandler {
                          return TKeyPressEvent([&form, method](TObject* s, wchar_t& k) { (form.*method)(s, k); });
                        }});
    return *this;
  }

  void BindFields(F& form) const {
    for (const auto& bind : fields_) bind(form);
  }
  std::optional<TEventHandler> FindMethod(F& form, const String& name) const {
    for (const auto& m : methods_)
      if (name == m.name) return m.make(form);
    return std::nullopt;
  }

 private:
  struct MethodEntry {
    const wchar_t* name;
    std::function<TEventHandler(F&)> make;
  };
  std::vector<std::function<void(F&)>> fields_;
  std::vector<MethodEntry> methods_;
};

class TForm : public TWinControl {
 public:
  // Creates the window (hidden) and every control of the named RCDATA form definition.
  TForm(TComponent* owner, const wchar_t* definitionResource);
  ~TForm() override;

  TNotifyEvent OnCreate;

  int CurrentDpi() const { return dpi_; }
  void Show();
  void Close();

  // The owned control with this name and class; throws Exception if there is none.
  template <class C>
  C* Component(const String& name) const {
    if (auto* c = dynamic_cast<C*>(FindComponent(name))) return c;
    throw Exception(L"Form " + Name() + L" has no control " + name + L" of the expected class");
  }

  // Runs the creation event; an exception it raises is shown and construction completes.
  void DoCreate();

  void SetProperty(const String& name, const TPropertyValue& value) override;
  bool SetEvent(const String& name, const TEventHandler& handler) override;

 protected:
  // Binds the published fields and the event names of the definition to the form's methods.
  template <class F>
  void Bind(F& self, const TPublished<F>& published) {
    published.BindFields(self);
    for (const Binding& b : bindings_) {
      std::optional<TEventHandler> handler = published.FindMethod(self, b.method);
      if (!handler) FormDefinitionError(b.line, Name() + L" has no method " + b.method);
      if (!b.control->SetEvent(b.event, *handler))
        FormDefinitionError(b.line, b.control->Name() + L" has no event " + b.event + L" for " + b.method);
    }
  }

  HWND CreateWindowHandle(HWND parent, const RECT& bounds) override;
  LRESULT WndProc(UINT msg, WPARAM wp, LPARAM lp) override;

 private:
  struct Binding {
    TControl* control;
    String event;
    String method;
    int line;
  };
  void Load(const TComponentDef& def);
  void LoadChildren(TWinControl& parent, const std::vector<TComponentDef>& defs);
  void ApplyProperties(TControl& control, const TComponentDef& def);
  void ApplyStackingAll(TWinControl& container);
  void ApplyDpi(int dpi);
  SIZE ScaledOuterSize(int width, int height) const;

  std::vector<Binding> bindings_;
  int dpi_ = 96;
  int clientWidth_ = 0, clientHeight_ = 0;
  int maxWidth_ = 0, maxHeight_ = 0;
  bool centred_ = false;
  bool resizable_ = true;
  TColor color_ = clBtnFace;
  String icon_;
  HICON hicon_ = nullptr;
  HWND lastFocus_ = nullptr;
};

class TApplication : public TComponent {
 public:
  TApplication();

  void Initialize();
  bool MainFormOnTaskBar = false;

  // Creates a form owned by the application; the first becomes the main form. Its creation
  // event runs once the constructor has completed.
  template <class T>
  void CreateForm(T*& reference) {
    T* form = new T(this);
    reference = form;
    if (!mainForm_) mainForm_ = form;
    form->DoCreate();
  }

  TForm* MainForm() const { return mainForm_; }
  // Shows the main form and dispatches messages until the application terminates.
  void Run();
  // Dispatches every pending message, then returns.
  void ProcessMessages();
  bool Terminated() const { return terminated_; }
  void Terminate();

  // The error box: the exception's message under the application's title.
  void ShowException(const Exception& e);
  // Shows the exception being handled (call from a catch block).
  void HandleException();

  // The executable's file name without its extension.
  const String& Title() const { return title_; }
  // Message boxes are modal to the main form once it is shown, and stand alone before.
  HWND BoxOwner() const;

 private:
  friend class TForm;
  bool ProcessMessage(MSG& msg);
  void FormDestroyed(TForm* form);

  TForm* mainForm_ = nullptr;
  bool terminated_ = false;
  String title_;
};

extern TApplication* Application;

// A modal message box with an OK button under the application's title.
void ShowMessage(const String& text);

}  // namespace vcl
