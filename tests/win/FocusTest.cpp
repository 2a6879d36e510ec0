// Keyboard focus of the shown window: where it starts, and that it comes back to the control that
// had it after the user was in another window. Real top-level windows and real key events.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "WindowTestSupport.h"

using namespace vcl;

namespace {

// Another program's window, as far as the form can tell: a top-level window with its own field.
class OtherWindow {
 public:
  OtherWindow()
      : hwnd_(CreateWindowExW(0, L"EDIT", L"", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 40, 40, 300, 100, nullptr, nullptr,
                              GetModuleHandleW(nullptr), nullptr)) {}
  ~OtherWindow() { DestroyWindow(hwnd_); }
  HWND Handle() const { return hwnd_; }

 private:
  HWND hwnd_;
};

void Activate(HWND hwnd) {
  SetForegroundWindow(hwnd);
  Application->ProcessMessages();
}

// One press and release of a key of the keyboard: a virtual key, or else a character.
void PressKey(WORD virtualKey, wchar_t character = 0) {
  INPUT key[2]{};
  for (INPUT& k : key) {
    k.type = INPUT_KEYBOARD;
    k.ki.wVk = virtualKey;
    k.ki.wScan = character;
    k.ki.dwFlags = character ? KEYEVENTF_UNICODE : 0;
  }
  key[1].ki.dwFlags |= KEYEVENTF_KEYUP;
  SendInput(2, key, sizeof(INPUT));
  Application->ProcessMessages();
}

void TypeKeys(const std::wstring& text) {
  for (wchar_t c : text) PressKey(0, c);
}

TEST(Focus, TheShownFormGivesItToTheFirstControlInTabOrder) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  form.Show();
  Application->ProcessMessages();
  EXPECT_EQ(GetForegroundWindow(), form.Handle());
  EXPECT_EQ(GetFocus(), form.langRG->ItemHandle(0));
  PressKey(VK_TAB);
  EXPECT_EQ(GetFocus(), form.refreshIpBTN->Handle()) << "the first Tab moves on from there";
}

TEST(Focus, TypedKeysLandInTheFieldAgainAfterAnotherWindowWasActive) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  form.Show();
  Application->ProcessMessages();
  SetFocus(form.tvIpEdt->Handle());
  TypeKeys(L"192.");
  ASSERT_EQ(form.tvIpEdt->GetText(), L"192.");

  OtherWindow other;
  Activate(other.Handle());
  ASSERT_EQ(GetForegroundWindow(), other.Handle());
  TypeKeys(L"77");
  EXPECT_EQ(WindowText(other.Handle()), L"77") << "the other window had the keyboard";

  Activate(form.Handle());
  EXPECT_EQ(GetFocus(), form.tvIpEdt->Handle());
  TypeKeys(L"168.1.20");
  EXPECT_EQ(form.tvIpEdt->GetText(), L"192.168.1.20");
}

}  // namespace
