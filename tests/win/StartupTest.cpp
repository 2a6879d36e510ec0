// The installer's failure paths, watched from outside: probe builds of the real entry point
// fail at chosen moments; each must show one error box captioned by its program name and end
// with exit code 0, and a failing handler must leave the window usable.
#include <gtest/gtest.h>

#include <windows.h>

#include <string>

#include "WindowTestSupport.h"

namespace {

constexpr DWORD kPatienceMs = 20000;

std::wstring ProbePath(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  DWORD n = GetModuleFileNameW(nullptr, self, MAX_PATH);
  std::wstring dir(self, n);
  return dir.substr(0, dir.find_last_of(L"\\/") + 1) + name + L".exe";
}

class Probe {
 public:
  explicit Probe(const wchar_t* name) {
    std::wstring cmd = L"\"" + ProbePath(name) + L"\" --these --arguments --are-ignored";
    STARTUPINFOW si{};
    si.cb = sizeof si;
    started_ = CreateProcessW(nullptr, cmd.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi_);
  }
  ~Probe() {
    if (!started_) return;
    if (WaitForSingleObject(pi_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(pi_.hProcess, 99);
    CloseHandle(pi_.hThread);
    CloseHandle(pi_.hProcess);
  }
  bool started() const { return started_; }

  // The probe's first visible top-level window of the given class and caption (null: any).
  HWND WaitForWindow(const wchar_t* cls, const wchar_t* caption = nullptr) {
    for (DWORD waited = 0; waited < kPatienceMs; waited += 50) {
      if (HWND found = FindVisibleWindow(pi_.dwProcessId, cls, caption)) return found;
      Sleep(50);
    }
    return nullptr;
  }

  HWND WaitForMainWindow() { return WaitForWindow(nullptr, L"Velmora Tizen Installer"); }

  // Waits for the error box, returns its text and dismisses it.
  std::wstring AnswerErrorBox(const wchar_t* expectedCaption) {
    HWND box = WaitForWindow(L"#32770");
    if (!box) return L"<no error box>";
    EXPECT_EQ(WindowText(box), expectedCaption);
    wchar_t text[512] = {};
    GetDlgItemTextW(box, 0xFFFF, text, 512);  // the message box's text control
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    for (DWORD waited = 0; waited < kPatienceMs && IsWindow(box); waited += 50) Sleep(50);
    return text;
  }

  DWORD WaitForExitCode() {
    if (WaitForSingleObject(pi_.hProcess, kPatienceMs) != WAIT_OBJECT_0) return 0xDEAD;
    DWORD code = 0xDEAD;
    GetExitCodeProcess(pi_.hProcess, &code);
    return code;
  }

  bool HasMainWindow() { return FindVisibleWindow(pi_.dwProcessId, nullptr, L"Velmora Tizen Installer") != nullptr; }

 private:
  PROCESS_INFORMATION pi_{};
  bool started_ = false;
};

HWND ChildWithText(HWND parent, const std::wstring& text) {
  struct Search {
    const std::wstring* text;
    HWND found;
  } search{&text, nullptr};
  EnumChildWindows(
      parent,
      [](HWND hwnd, LPARAM p) -> BOOL {
        auto& s = *reinterpret_cast<Search*>(p);
        if (WindowText(hwnd) == *s.text) s.found = hwnd;
        return !s.found;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

TEST(Startup, AFailureWhileTheWindowIsBuiltShowsOneBoxNoWindowAndEndsWithZero) {
  const struct {
    const wchar_t* probe;
    const wchar_t* message;
  } cases[] = {
      {L"probe_form_exception", L"Окно не создано."},  // an Exception: its message
      {L"probe_foreign_exception", L""},               // anything else: no text
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << "probe " << (&c - cases));
    Probe probe(c.probe);
    ASSERT_TRUE(probe.started());
    EXPECT_EQ(probe.AnswerErrorBox(c.probe), c.message);
    EXPECT_FALSE(probe.HasMainWindow());
    EXPECT_EQ(probe.WaitForExitCode(), 0u);
  }
}

TEST(Startup, AFailingCreationHandlerIsShownAndTheWindowOpensWithItsDefaultCaptions) {
  Probe probe(L"probe_create_failure");
  ASSERT_TRUE(probe.started());
  EXPECT_EQ(probe.AnswerErrorBox(L"probe_create_failure"), L"Адаптеры недоступны.");
  HWND main = probe.WaitForMainWindow();
  ASSERT_TRUE(main);
  // The language step did not run: the definition's own captions stand.
  EXPECT_TRUE(ChildWithText(main, L"IP Адрес ПК:"));
  EXPECT_TRUE(ChildWithText(main, L"Установить виджет"));
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(probe.WaitForExitCode(), 0u);
}

TEST(Startup, AFailingButtonHandlerIsShownAndTheWindowStaysUsable) {
  Probe probe(L"probe_refresh_failure");
  ASSERT_TRUE(probe.started());
  HWND main = probe.WaitForMainWindow();
  ASSERT_TRUE(main);
  HWND address = ChildWithText(main, L"192.0.2.44");
  ASSERT_TRUE(address) << "the creation handler filled the address line";
  HWND refresh = ChildWithText(main, L"Обновить IP");
  ASSERT_TRUE(refresh);
  PostMessageW(refresh, BM_CLICK, 0, 0);
  EXPECT_EQ(probe.AnswerErrorBox(L"probe_refresh_failure"), L"Адаптеры недоступны.");
  EXPECT_EQ(WindowText(address), L"192.0.2.44") << "the label keeps its text";

  HWND english = ChildWithText(main, L"ENG");
  ASSERT_TRUE(english);
  SendMessageW(english, BM_CLICK, 0, 0);
  EXPECT_TRUE(ChildWithText(main, L"Refresh IP")) << "the window still answers";
  PostMessageW(main, WM_CLOSE, 0, 0);
  EXPECT_EQ(probe.WaitForExitCode(), 0u);
}

}  // namespace
