// The installation inside the window: the command runner with real child processes, payload
// staging with real resources and files, the address check, the command lines and the reading
// of the install log. The whole installation onto a simulated TV is tested from outside, with
// the real executable (tests/e2e).
#include <gtest/gtest.h>

#include <winsock2.h>
#include <windows.h>

#include <atomic>
#include <thread>

#include "Diagnosis.h"
#include "Install.h"
#include "InstallSteps.h"
#include "LangText.h"
#include "SysUtils.h"
#include "TempFolder.h"
#include "TvInfo.h"
#include "WindowTestSupport.h"

using namespace vcl;

namespace {

std::wstring ChildPath() {
  wchar_t self[MAX_PATH];
  std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/") + 1) + L"sleep_child.exe";
}

// "sleep_child.exe MS CODE MARKER" as a command line.
std::wstring Child(int ms, int code, const std::wstring& marker) {
  return L"\"" + ChildPath() + L"\" " + std::to_wstring(ms) + L" " + std::to_wstring(code) + L" \"" + marker + L"\"";
}

bool Exists(const std::wstring& name) { return GetFileAttributesW(name.c_str()) != INVALID_FILE_ATTRIBUTES; }

// Runs f on another thread after a delay; joined when the object goes.
class Later {
 public:
  template <class F>
  Later(DWORD delayMs, F f)
      : thread_([delayMs, f] {
          Sleep(delayMs);
          f();
        }) {}
  ~Later() { thread_.join(); }

 private:
  std::thread thread_;
};

// Answers the message box that this process shows next: keeps its text and presses OK.
class MessageBoxAnswerer {
 public:
  MessageBoxAnswerer() : thread_([this] { Run(); }) {}
  ~MessageBoxAnswerer() {
    stop_ = true;
    thread_.join();
  }
  std::wstring Text() const { return text_; }

 private:
  void Run() {
    for (int i = 0; i < 400 && !stop_; ++i, Sleep(25)) {
      HWND box = FindVisibleWindow(GetCurrentProcessId(), L"#32770");
      if (!box) continue;
      wchar_t text[1024] = {};
      GetDlgItemTextW(box, 0xFFFF, text, 1024);
      text_ = text;
      PostMessageW(box, WM_COMMAND, IDOK, 0);
      return;
    }
  }
  std::atomic<bool> stop_{false};
  std::wstring text_;
  std::thread thread_;
};

// ---- the command runner

TEST(RunAndWait, ReturnsOnceTheChildHasEndedWhateverItsStatus) {
  TempFolder dir;
  for (int code : {0, 3}) {
    std::wstring marker = dir.File(L"ended" + std::to_wstring(code));
    RunAndWait(Child(300, code, marker));
    EXPECT_TRUE(Exists(marker)) << "returned before the child with status " << code << " ended";
  }
  RunAndWait(L"cmd.exe /c \"echo made> by-cmd.txt\"");
  EXPECT_TRUE(Exists(dir.File(L"by-cmd.txt"))) << "the child runs in the installer's current directory";
}

TEST(RunAndWait, ReturnsAtOnceWhenNothingCanStart) {
  for (const wchar_t* line : {L"", L"no-such-program-anywhere.exe", L"\"C:\\no\\such\\folder\\x.exe\" 1"}) {
    ULONGLONG start = GetTickCount64();
    RunAndWait(line);  // nothing to show, nothing thrown
    EXPECT_LT(GetTickCount64() - start, 5000u) << std::string(line, line + wcslen(line));
  }
}

TEST(RunAndWait, TheWindowAnswersAndRepaintsWhileAChildRuns) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  form.Show();
  TempFolder dir;
  HWND english = GetWindow(GetWindow(form.langRG->Handle(), GW_CHILD), GW_HWNDNEXT);
  HWND status = form.statusLbl->Handle();
  std::atomic<bool> repainted{false};
  std::atomic<DWORD> answerMs{~0u};
  {
    Later click(300, [&] {
      ULONGLONG start = GetTickCount64();
      DWORD_PTR result;
      SendMessageTimeoutW(form.Handle(), WM_NULL, 0, 0, SMTO_BLOCK, 10000, &result);
      answerMs = static_cast<DWORD>(GetTickCount64() - start);
      InvalidateRect(status, nullptr, TRUE);
      PostMessageW(english, BM_CLICK, 0, 0);
      for (int i = 0; i < 100 && !repainted; ++i, Sleep(10)) repainted = GetUpdateRect(status, nullptr, FALSE) == FALSE;
    });
    RunAndWait(Child(3000, 0, dir.File(L"ended")));
  }
  EXPECT_LT(answerMs, 1000u) << "a message sent to the window waited for the child";
  EXPECT_TRUE(repainted) << "the status label was not repainted during the wait";
  EXPECT_EQ(form.langRG->ItemIndex(), 1) << "a click during the wait was not handled";
  form.langRG->SetItemIndex(0);
}

TEST(RunAndWait, TheTerminatedFlagEndsTheWaitAfterTheDispatch) {
  TApplication quitting;  // a separate object, so the shared one stays usable for other tests
  TApplication* shared = Application;
  Application = &quitting;
  TempFolder dir;
  std::wstring marker = dir.File(L"ended");
  {
    DWORD ui = GetCurrentThreadId();
    Later quit(200, [ui] { PostThreadMessageW(ui, WM_QUIT, 0, 0); });
    RunAndWait(Child(3000, 0, marker));
  }
  Application = shared;
  EXPECT_TRUE(quitting.Terminated());
  EXPECT_FALSE(Exists(marker)) << "the wait went on until the child ended";
  for (int i = 0; i < 200 && !Exists(marker); ++i) Sleep(50);
  EXPECT_TRUE(Exists(marker)) << "the child was ended instead of left running";
}

TEST(RunAndWait, NoConsoleWindowBecomesVisible) {
  TempFolder dir;
  std::atomic<int> foreignWindows{0};
  {
    Later look(800, [&] {
      EnumWindows(
          [](HWND hwnd, LPARAM p) -> BOOL {
            DWORD pid = 0;
            GetWindowThreadProcessId(hwnd, &pid);
            if (pid != GetCurrentProcessId() && IsWindowVisible(hwnd)) ++*reinterpret_cast<std::atomic<int>*>(p);
            return TRUE;
          },
          reinterpret_cast<LPARAM>(&foreignWindows));
    });
    RunAndWait(L"cmd.exe /c \"" + Child(1500, 0, dir.File(L"ended")) + L"\"");
  }
  EXPECT_EQ(foreignWindows, 0);
}

// ---- payload staging (the test program carries small IUFILE and WGTFILE resources)

TEST(Staging, ReplacesALongerFileByTheResourceExactly) {
  TempFolder dir;
  WriteFileBytes(L"iu.exe", std::string(1 << 20, 'x'));
  ExtractResource(L"iu.exe", L"IUFILE");
  ExtractResource(L"iu.exe", L"IUFILE");
  HRSRC res = FindResourceW(nullptr, L"IUFILE", MAKEINTRESOURCEW(10));
  ASSERT_NE(res, nullptr);
  EXPECT_EQ(FileSize(L"iu.exe"), static_cast<long long>(SizeofResource(nullptr, res)));
  std::string bytes(static_cast<const char*>(LockResource(LoadResource(nullptr, res))), SizeofResource(nullptr, res));
  EXPECT_EQ(ReadFileHead(L"iu.exe", 1 << 20), bytes);
}

TEST(Staging, FailuresNameTheResourceOrTheFileAndTouchNothing) {
  TempFolder dir;
  WriteFileBytes(L"kept.bin", "old");
  struct Case {
    const wchar_t* file;
    const wchar_t* resource;
    const wchar_t* named;
  } cases[] = {
      {L"kept.bin", L"NOSUCHFILE", L"NOSUCHFILE"},
      {L"made.bin", L"", L"Resource"},
      {L"", L"IUFILE", L"Cannot create file"},
      {L"no-such-folder\\x.bin", L"IUFILE", L"no-such-folder\\x.bin"},
  };
  for (const Case& c : cases) {
    try {
      ExtractResource(c.file, c.resource);
      ADD_FAILURE() << "no exception for resource " << std::string(c.resource, c.resource + wcslen(c.resource));
    } catch (const Exception& e) {
      EXPECT_NE(e.Message().find(c.named), String::npos) << std::string(e.Message().begin(), e.Message().end());
      EXPECT_GT(e.Message().size(), wcslen(c.named) + 10) << "no reason given";
    }
  }
  EXPECT_EQ(ReadFileHead(L"kept.bin", 100), "old");
  EXPECT_FALSE(Exists(L"made.bin"));
}

TEST(Staging, DeleteIfExistsIsSilent) {
  TempFolder dir;
  WriteFileBytes(L"gone.bin", "x");
  DeleteIfExists(L"gone.bin");
  DeleteIfExists(L"gone.bin");
  DeleteIfExists(L"");
  EXPECT_FALSE(Exists(L"gone.bin"));
  WriteFileBytes(L"stays.bin", "x");
  SetFileAttributesW(L"stays.bin", FILE_ATTRIBUTE_READONLY);
  DeleteIfExists(L"stays.bin");
  EXPECT_TRUE(Exists(L"stays.bin"));
  SetFileAttributesW(L"stays.bin", FILE_ATTRIBUTE_NORMAL);
}

// ---- the install button

TEST(InstallButton, AToolStillHeldFromAnEarlierRunStopsBeforeAnyCommand) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  TempFolder dir;
  // As an iu.exe still running from an earlier run holds it: no sharing, so no replacing.
  HANDLE held = CreateFileW(L"iu.exe", GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
  ASSERT_NE(held, INVALID_HANDLE_VALUE);
  SetWindowTextW(form.tvIpEdt->Handle(), L"127.0.0.1");
  try {
    form.BitInstallClick(nullptr);
    ADD_FAILURE() << "the installation went on over an iu.exe in use";
  } catch (const Exception& e) {
    EXPECT_NE(e.Message().find(L"iu.exe"), String::npos);
  }
  CloseHandle(held);
  EXPECT_FALSE(Exists(L"doLog\\step1.txt")) << "a command ran";
  EXPECT_EQ(form.installPB->Position(), 0);
  EXPECT_EQ(WindowText(form.statusLbl->Handle()), langText->Text(txtPrompt, 0));
}

TEST(InstallButton, AnAddressThatIsNotADottedQuadIsRejectedAndNothingHappens) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  TempFolder dir;
  for (int lang : {0, 1}) {
    form.langRG->SetItemIndex(lang);
    // Pasted text skips the key filter: it reaches the field as it is.
    SetWindowTextW(form.tvIpEdt->Handle(), L"1.2.3.4 & del *");
    MessageBoxAnswerer answer;
    form.BitInstallClick(nullptr);
    EXPECT_EQ(answer.Text(), langText->Text(txtBadIp, lang));
  }
  WIN32_FIND_DATAW found;
  HANDLE search = FindFirstFileW(dir.File(L"*").c_str(), &found);
  int entries = 0;
  if (search != INVALID_HANDLE_VALUE) {
    do entries += wcscmp(found.cFileName, L".") != 0 && wcscmp(found.cFileName, L"..") != 0;
    while (FindNextFileW(search, &found));
    FindClose(search);
  }
  EXPECT_EQ(entries, 0) << "a rejected address created files";
  EXPECT_EQ(form.installPB->Position(), 0);
  form.langRG->SetItemIndex(0);
}

// ---- the pure parts

TEST(TvAddress, OnlyADottedQuadPasses) {
  for (const wchar_t* good : {L"1.2.3.4", L"0.0.0.0", L"255.255.255.255", L"192.168.1.66", L"10.0.0.100"})
    EXPECT_TRUE(IsTvAddress(good)) << std::string(good, good + wcslen(good));
  for (const wchar_t* bad : {L"", L"10.0.0", L"1.2.3.4.5", L"256.1.1.1", L"1.2.3.04", L"01.2.3.4", L"1.2.3.4 ",
                             L" 1.2.3.4", L"1.2.3.4&echo X", L"1..3.4", L"1.2.3.", L".1.2.3", L"1234.1.1.1",
                             L"1.2.3.4:26101", L"１.2.3.4", L"1.2.3.4\"", L"a.b.c.d", L"1.2.3.-4"})
    EXPECT_FALSE(IsTvAddress(bad)) << std::string(bad, bad + wcslen(bad));
}

TEST(InstallCommands, TheElevenLinesAndTheBar) {
  TInstallSettings s{L"192.168.1.66", L"/opt/usr/apps/tmp", L"Velmora", L"Kx7RmVq2Tz.Velmora"};
  const wchar_t* expected[kInstallStepCount] = {
      L"cmd.exe /c \"iu.exe kill-server\"",
      L"cmd.exe /c \"iu.exe connect 192.168.1.66:26101 > doLog\\step1.txt\"",
      L"cmd.exe /c \"iu.exe devices > doLog\\step2.txt\"",
      L"cmd.exe /c \"iu.exe shell 0 getappinstallpath > doLog\\step3.txt\"",
      L"cmd.exe /c \"iu.exe shell 0 vd_appuninstall Kx7RmVq2Tz.Velmora; echo cmd_ret:$?; > doLog\\step4.txt\"",
      L"cmd.exe /c \"iu.exe shell 0 mkdir /opt/usr/apps/tmp\"",
      L"cmd.exe /c \"iu.exe push Velmora.wgt /opt/usr/apps/tmp/Velmora.wgt > doLog\\step5.txt\"",
      L"cmd.exe /c \"iu.exe shell 0 vd_appinstall Kx7RmVq2Tz.Velmora /opt/usr/apps/tmp/Velmora.wgt; echo cmd_ret:$?; > "
      L"doLog\\step6.txt\"",
      L"cmd.exe /c \"iu.exe shell 0 rmfile /opt/usr/apps/tmp/Velmora.wgt\"",
      L"cmd.exe /c \"iu.exe shell 0 applist > doLog\\step7.txt\"",
      L"cmd.exe /c \"iu.exe kill-server\"",
  };
  int position = 2;
  for (int step = 0; step < kInstallStepCount; ++step) {
    EXPECT_EQ(InstallCommandLine(step, s), expected[step]) << "step " << step + 1;
    position += kInstallIncrements[step];
  }
  EXPECT_EQ(position, 100);
  s.tmpDir = L"/home/owner/share/tmp/sdk_tools/tmp";
  EXPECT_EQ(
      InstallCommandLine(6, s),
      L"cmd.exe /c \"iu.exe push Velmora.wgt /home/owner/share/tmp/sdk_tools/tmp/Velmora.wgt > doLog\\step5.txt\"");
}

// Logs as TVs print them: CRLF or LF, blank lines between lines on older firmware, progress.
TEST(Diagnosis, TheStepLogsTellTheCause) {
  const std::string id = "Kx7RmVq2Tz.Velmora";
  const std::string connected = "connecting to 192.168.1.66:26101 ...\r\nconnected to 192.168.1.66:26101\r\n";
  const std::string listed = "List of devices attached \n192.168.1.66:26101  \tdevice    \tUE43RU7400UXRU\n";
  const std::string pushed = "1 file(s) pushed. 0 file(s) skipped.\nVelmora.wgt   812KB/s (201234 bytes in 0.242s)\n";
  const std::string completed =
      "install Kx7RmVq2Tz.Velmora\r\npackage_path /opt/usr/apps/tmp/Velmora.wgt\r\n"
      "app_id[Kx7RmVq2Tz.Velmora] install start\r\napp_id[Kx7RmVq2Tz.Velmora] installing[50]\r\n"
      "app_id[Kx7RmVq2Tz.Velmora] install completed\r\nspend time for wascmd is [1830]ms\r\ncmd_ret:0\r\n";
  const std::string applist =
      "\tApplication List for user 5001\r\n\tUser's Application \r\n\t Name \t AppID \r\n"
      "\t=====\r\n\t'Velmora'\t 'Kx7RmVq2Tz.Velmora'\r\n\t=====\r\n";
  const std::string emptyList = "\tApplication List for user 5001\r\n\t=====\r\n\t=====\r\n";
  auto failed = [](const std::string& line) {
    return "install Kx7RmVq2Tz.Velmora\n\napp_id[Kx7RmVq2Tz.Velmora] install start\n\n" + line + "\n\ncmd_ret:0\n";
  };
  struct Case {
    const char* what;
    TStepLogs logs;
    TCause cause;
  } cases[] = {
      {"installed", {connected, listed, pushed, completed, applist}, TCause::None},
      {"installed, older firmware with blank lines",
       {"connected to 1.2.3.4:26101\n", listed, pushed,
        "app_id[Kx7RmVq2Tz.Velmora] install start\n\napp_id[Kx7RmVq2Tz.Velmora] install completed\n\ncmd_ret:0\n",
        applist},
       TCause::None},
      {"installed, the TV refuses the list", {connected, listed, pushed, completed, "closed\n"}, TCause::None},
      {"already connected", {"1.2.3.4:26101 is already connected\n", listed, pushed, completed, applist}, TCause::None},
      {"no connection",
       {"connecting to 1.2.3.4:26101 ...\nerror: failed to connect to 1.2.3.4:26101\n", "", "", "", ""},
       TCause::NotConnected},
      {"a tool that never ran", {"", "", "", "", ""}, TCause::NotConnected},
      {"locked",
       {connected, "List of devices attached \n1.2.3.4:26101       \tlocked    \tUE43RU7400UXRU\n", "", "", ""},
       TCause::Locked},
      {"wrong series",
       {connected, listed, "error: failed to close '/opt/usr/apps/tmp/Velmora.wgt': No such file or directory\n",
        failed("app_id[Kx7RmVq2Tz.Velmora] install failed[118], reason: package file not found"), applist},
       TCause::WrongSeries},
      {"author",
       {connected, listed, pushed,
        failed("app_id[Kx7RmVq2Tz.Velmora] install failed[118, -11], reason: Author certificate not match :"), applist},
       TCause::AuthorMismatch},
      {"clock",
       {connected, listed, pushed,
        failed("app_id[Kx7RmVq2Tz.Velmora] install failed[118, -12], reason: Check certificate error : "
               ":Certificate is not yet valid.:<-7>"),
        applist},
       TCause::ClockWrong},
      {"damaged",
       {connected, listed, pushed,
        failed("app_id[Kx7RmVq2Tz.Velmora] install failed[118, -12], reason: Check certificate error : "
               ":Signature is invalid.:<-4>"),
        applist},
       TCause::PackageDamaged},
      {"no space", {connected, listed, pushed, failed("download failed[116]"), applist}, TCause::NoSpace},
      {"completed and failed",
       {connected, listed, pushed, completed + "download failed[116]\r\n", applist},
       TCause::NoSpace},
      {"not kept", {connected, listed, pushed, completed, emptyList}, TCause::NotKept},
      {"another app completed",
       {connected, listed, pushed, "app_id[Other.App] install completed\ncmd_ret:0\n", applist},
       TCause::Unknown},
      {"only cmd_ret", {connected, listed, pushed, "cmd_ret:0\r\n", applist}, TCause::Unknown},
  };
  for (const Case& c : cases) EXPECT_EQ(Diagnose(c.logs, id), c.cause) << c.what;
}

TEST(Diagnosis, TheTvsOwnAccountOfAFailedConnection) {
  using K = TTvInfo::TKind;
  const std::vector<String> pc = {L"192.168.1.20", L"10.8.0.2"};
  struct Case {
    TTvInfo info;
    TCause cause;
  } cases[] = {
      {{K::NoAnswer, false, L"", L""}, TCause::TvUnreachable},
      {{K::Unknown, false, L"", L"192.168.1.20"}, TCause::NoConnection},
      {{K::Answered, false, L"192.168.1.20", L"192.168.1.20"}, TCause::DeveloperModeOff},
      {{K::Answered, true, L"192.168.1.31", L"192.168.1.20"}, TCause::OtherHostPc},
      {{K::Answered, true, L"10.8.0.2", L"192.168.1.20"}, TCause::NotInEffect},
      {{K::Answered, true, L"127.0.0.1", L"127.0.0.1"}, TCause::NotInEffect},
  };
  for (const Case& c : cases) EXPECT_EQ(DiagnoseNotConnected(c.info, pc), c.cause) << StringToUtf8(c.info.developerIp);
}

TEST(Diagnosis, TheDeviceInformationAnswer) {
  const std::string ok = "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\n\r\n";
  struct Case {
    std::string response;
    TTvInfo::TKind kind;
    bool developerMode;
    const wchar_t* developerIp;
  } cases[] = {
      {ok +
           R"({"device":{"developerMode":"1","developerIP":"192.168.1.20","model":"19_MUSEL"},"type":"Samsung SmartTV"})",
       TTvInfo::TKind::Answered, true, L"192.168.1.20"},
      {ok + R"({"device":{"developerMode":"0","developerIP":"0.0.0.0"}})", TTvInfo::TKind::Answered, false, L"0.0.0.0"},
      {"HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3a\r\n"
       R"({"device":{"developerMode":"1","developerIP":"10.8.0.2"}})"
       "\r\n0\r\n\r\n",
       TTvInfo::TKind::Answered, true, L"10.8.0.2"},
      {"HTTP/1.1 401 Unauthorized\r\n\r\n", TTvInfo::TKind::Unknown, false, L""},
      {"HTTP/1.1 404 Not Found\r\n\r\n{}", TTvInfo::TKind::Unknown, false, L""},
      {ok + R"({"device":{"developerMode":1}})", TTvInfo::TKind::Unknown, false, L""},
      {ok + R"({"device":{"developerMode":"1","developerIP":"1.2.3.4")", TTvInfo::TKind::Unknown, false, L""},
      {ok + "not json at all", TTvInfo::TKind::Unknown, false, L""},
      {ok + R"({"device":{"developerMode":"1","developerIP":"1.2.3.4"},})", TTvInfo::TKind::Unknown, false, L""},
      {ok + R"({"device":{"developerMode":"1","developerIP":"1.2.3.4"}} {"device":{}})", TTvInfo::TKind::Unknown, false,
       L""},
      {ok + R"({"x":[1,-2.5e3,true,null,{"developerMode":"0"}],"device":{"n":{"developerMode":"0"},)"
            R"("developerMode":"1","developerIP":"1.2.3.4","id":"uuid:\u00e9\"q\""}})",
       TTvInfo::TKind::Answered, true, L"1.2.3.4"},
      {"", TTvInfo::TKind::Unknown, false, L""},
  };
  for (const Case& c : cases) {
    TTvInfo info = ParseTvInfo(c.response);
    EXPECT_EQ(info.kind, c.kind) << c.response;
    EXPECT_EQ(info.developerMode, c.developerMode) << c.response;
    EXPECT_EQ(info.developerIp, c.developerIp) << c.response;
  }
}

// A TV whose service accepts and then says nothing costs the user the bound and no more; one
// that refuses is known at once.
TEST(Diagnosis, TheDeviceInformationRequestIsBounded) {
  WSADATA wsa;
  ASSERT_EQ(WSAStartup(MAKEWORD(2, 2), &wsa), 0);
  SOCKET silent = socket(AF_INET, SOCK_STREAM, IPPROTO_TCP);
  sockaddr_in at{};
  at.sin_family = AF_INET;
  at.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  int size = sizeof at;
  ASSERT_EQ(bind(silent, reinterpret_cast<sockaddr*>(&at), sizeof at), 0);
  ASSERT_EQ(listen(silent, 4), 0);
  getsockname(silent, reinterpret_cast<sockaddr*>(&at), &size);
  const unsigned short port = ntohs(at.sin_port);

  ULONGLONG start = GetTickCount64();
  TTvInfo info = QueryTvInfo(L"127.0.0.1", 700, port);
  ULONGLONG took = GetTickCount64() - start;
  EXPECT_EQ(info.kind, TTvInfo::TKind::Unknown) << "it answered TCP, so something is there";
  EXPECT_EQ(info.localAddress, L"127.0.0.1");
  EXPECT_GE(took, 600u);
  EXPECT_LT(took, 5000u) << "the bound was not kept";

  closesocket(silent);
  EXPECT_EQ(QueryTvInfo(L"127.0.0.1", 700, port).kind, TTvInfo::TKind::NoAnswer);
  WSACleanup();
}

}  // namespace
