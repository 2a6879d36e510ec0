// The installation inside the window: the command runner with real child processes, payload
// staging with real resources and files, the address check, the command lines and the reading
// of the install log. The whole installation onto a simulated TV is tested from outside, with
// the real executable (tests/e2e).
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <thread>

#include "Install.h"
#include "InstallSteps.h"
#include "LangText.h"
#include "SysUtils.h"
#include "TempFolder.h"
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
    Later(DWORD delayMs, F f) : thread_([delayMs, f] {
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
            HWND box = FindOwnDialog();
            if (!box) continue;
            wchar_t text[1024] = {};
            GetDlgItemTextW(box, 0xFFFF, text, 1024);
            text_ = text;
            PostMessageW(box, WM_COMMAND, IDOK, 0);
            return;
        }
    }
    static HWND FindOwnDialog() {
        HWND found = nullptr;
        EnumWindows(
            [](HWND hwnd, LPARAM p) -> BOOL {
                DWORD pid = 0;
                GetWindowThreadProcessId(hwnd, &pid);
                wchar_t cls[16] = {};
                GetClassNameW(hwnd, cls, 16);
                if (pid != GetCurrentProcessId() || !IsWindowVisible(hwnd) || wcscmp(cls, L"#32770") != 0)
                    return TRUE;
                *reinterpret_cast<HWND*>(p) = hwnd;
                return FALSE;
            },
            reinterpret_cast<LPARAM>(&found));
        return found;
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
            for (int i = 0; i < 100 && !repainted; ++i, Sleep(10))
                repainted = GetUpdateRect(status, nullptr, FALSE) == FALSE;
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
    for (const wchar_t* bad :
         {L"", L"10.0.0", L"1.2.3.4.5", L"256.1.1.1", L"1.2.3.04", L"01.2.3.4", L"1.2.3.4 ", L" 1.2.3.4",
          L"1.2.3.4&echo X", L"1..3.4", L"1.2.3.", L".1.2.3", L"1234.1.1.1", L"1.2.3.4:26101", L"１.2.3.4",
          L"1.2.3.4\"", L"a.b.c.d", L"1.2.3.-4"})
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
        L"cmd.exe /c \"iu.exe shell 0 vd_appinstall Kx7RmVq2Tz.Velmora /opt/usr/apps/tmp/Velmora.wgt; echo cmd_ret:$?; > doLog\\step6.txt\"",
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
    EXPECT_EQ(InstallCommandLine(6, s),
              L"cmd.exe /c \"iu.exe push Velmora.wgt /home/owner/share/tmp/sdk_tools/tmp/Velmora.wgt > doLog\\step5.txt\"");
}

TEST(InstallLog, SuccessOnlyFromTheTvsOwnCompletedLine) {
    const std::string id = "Kx7RmVq2Tz.Velmora";
    struct Case {
        const char* log;
        bool installed;
    } cases[] = {
        {"install Kx7RmVq2Tz.Velmora\r\npackage_path /opt/usr/apps/tmp/Velmora.wgt\r\n"
         "app_id[Kx7RmVq2Tz.Velmora] install start\r\napp_id[Kx7RmVq2Tz.Velmora] installing[50]\r\n"
         "app_id[Kx7RmVq2Tz.Velmora] install completed\r\nspend time for wascmd is [1830]ms\r\ncmd_ret:0\r\n",
         true},
        {"install Kx7RmVq2Tz.Velmora\n\napp_id[Kx7RmVq2Tz.Velmora] install start\n\n"
         "app_id[Kx7RmVq2Tz.Velmora] install completed\n\ncmd_ret:0\n",
         true},
        {"app_id[Kx7RmVq2Tz.Velmora] install start\r\n"
         "app_id[Kx7RmVq2Tz.Velmora] install failed[118, -11], reason: Author certificate not match :\r\ncmd_ret:0\r\n",
         false},
        {"app_id[Kx7RmVq2Tz.Velmora] install start\r\ndownload failed[116]\r\ncmd_ret:0\r\n", false},
        {"app_id[Other.App] install completed\r\ncmd_ret:0\r\n", false},
        {"cmd_ret:0\r\n", false},
        {"error: target not found\n", false},
        {"", false},
    };
    for (const Case& c : cases) EXPECT_EQ(InstallSucceeded(c.log, id), c.installed) << c.log;
}

}  // namespace
