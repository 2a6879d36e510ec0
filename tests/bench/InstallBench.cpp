// Figures of one installation through the real window code, against tvsim on 127.0.0.1:26101
// (run by run_install_bench.sh): the whole sequence against eleven bare `iu.exe version` runs
// through the same runner, the longest the window takes to answer a message meanwhile, and the
// processor time the installer spends while it waits on a child that sleeps 10 s.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "Install.h"
#include "LangText.h"
#include "MainWin.h"
#include "SysUtils.h"

using namespace vcl;

namespace {

double Seconds(ULONGLONG startMs) { return (GetTickCount64() - startMs) / 1000.0; }

double Median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double ProcessCpuMs() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto ms = [](const FILETIME& t) {
    return ((static_cast<ULONGLONG>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e4;
  };
  return ms(kernel) + ms(user);
}

std::wstring BesideMe(const wchar_t* name) {
  wchar_t self[MAX_PATH];
  std::wstring path(self, GetModuleFileNameW(nullptr, self, MAX_PATH));
  return path.substr(0, path.find_last_of(L"\\/") + 1) + name;
}

// Sends the window a message every 10 ms from another thread and keeps the longest answer, with
// the bar's position at that moment (a plain read, to tell which step it was).
class AnswerWatch {
 public:
  struct Worst {
    double ms = 0;
    int bar = 0;
  };
  explicit AnswerWatch(HWND window)
      : thread_([this, window] {
          LARGE_INTEGER f;
          QueryPerformanceFrequency(&f);
          while (!stop_) {
            LARGE_INTEGER a, b;
            QueryPerformanceCounter(&a);
            DWORD_PTR result;
            SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_BLOCK, 60000, &result);
            QueryPerformanceCounter(&b);
            double took = (b.QuadPart - a.QuadPart) * 1000.0 / f.QuadPart;
            if (took > worst_.ms) worst_ = {took, mainForm->installPB->Position()};
            Sleep(10);
          }
          done_ = true;
        }) {}
  // Keeps answering until the watching thread has seen the stop, so that its last message
  // does not wait for a window that no longer pumps.
  Worst Stop() {
    stop_ = true;
    while (!done_) {
      Application->ProcessMessages();
      Sleep(1);
    }
    thread_.join();
    return worst_;
  }

 private:
  std::atomic<bool> stop_{false}, done_{false};
  Worst worst_;
  std::thread thread_;
};

}  // namespace

int wmain() {
  const int kRounds = 3;
  Application->Initialize();
  Application->CreateForm(mainForm);
  mainForm->Show();
  SetWindowTextW(mainForm->tvIpEdt->Handle(), L"127.0.0.1");
  mainForm->tvSeriesRG->SetItemIndex(1);

  std::vector<double> installs, floors, answers, floorAnswers;
  for (int round = 0; round < kRounds; ++round) {
    ExtractResource(L"iu.exe", L"IUFILE");
    AnswerWatch floorWatch(mainForm->Handle());
    ULONGLONG start = GetTickCount64();
    for (int i = 0; i < 11; ++i) RunAndWait(L"cmd.exe /c \"iu.exe version\"");
    floors.push_back(Seconds(start));
    floorAnswers.push_back(floorWatch.Stop().ms);
    DeleteIfExists(L"iu.exe");

    AnswerWatch watch(mainForm->Handle());
    start = GetTickCount64();
    mainForm->BitInstallClick(nullptr);
    installs.push_back(Seconds(start));
    AnswerWatch::Worst worst = watch.Stop();
    answers.push_back(worst.ms);
    std::printf("installation %d: %.2f s, longest answer %.1f ms with the bar at %d\n", round + 1, installs.back(),
                worst.ms, worst.bar);
    if (mainForm->statusLbl->GetText() != langText->Text(txtDone, 0)) {
      std::fprintf(stderr, "bench: the installation did not succeed; see doLog\n");
      return 1;
    }
  }

  double cpuBefore = ProcessCpuMs();
  ULONGLONG start = GetTickCount64();
  RunAndWait(L"\"" + BesideMe(L"sleep_child.exe") + L"\" 10000 0");
  double waited = Seconds(start);
  double cpu = ProcessCpuMs() - cpuBefore;

  double install = Median(installs), floor = Median(floors);
  std::printf("whole installation:        %7.2f s (median of %d)\n", install, kRounds);
  std::printf("eleven `iu.exe version`:   %7.2f s (median of %d, through the same runner)\n", floor, kRounds);
  std::printf("installation / floor:      %7.2f (goal: at most 1.3)\n", install / floor);
  std::printf("longest answer meanwhile:  %7.1f ms (worst of %d installations; goal: under 50 ms)\n",
              *std::max_element(answers.begin(), answers.end()), kRounds);
  std::printf("  the same during the eleven bare runs: %.1f ms\n",
              *std::max_element(floorAnswers.begin(), floorAnswers.end()));
  std::printf("processor time while waiting %.1f s on a child: %.1f ms (goal: about zero)\n", waited, cpu);
  delete mainForm;
  return 0;
}
