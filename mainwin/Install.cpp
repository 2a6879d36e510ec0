#include "Install.h"

#include <windows.h>

#include "Forms.h"
#include "SysUtils.h"

using namespace vcl;

namespace {

// Every kind of input, touch and pointer included, but not QS_ALLPOSTMESSAGE.
constexpr DWORD kWakeMask = 0x1CFF;
// Windows 7 knows neither touch nor pointer input and refuses a mask that names them.
constexpr DWORD kWakeMaskBeforeTouch = kWakeMask & ~(0x0800 | 0x1000);

DWORD WaitForProcessOrInput(HANDLE process, DWORD& mask) {
  DWORD result = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, mask);
  if (result == WAIT_FAILED && mask == kWakeMask && GetLastError() == ERROR_INVALID_PARAMETER) {
    mask = kWakeMaskBeforeTouch;
    result = MsgWaitForMultipleObjects(1, &process, FALSE, INFINITE, mask);
  }
  return result;
}

}  // namespace

void RunAndWait(const String& commandLine) {
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_HIDE;
  PROCESS_INFORMATION process{};
  String buffer = commandLine;  // CreateProcessW may write into the command line
  if (!CreateProcessW(nullptr, buffer.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) return;
  DWORD mask = kWakeMask;
  while (WaitForProcessOrInput(process.hProcess, mask) == WAIT_OBJECT_0 + 1) {
    Application->ProcessMessages();
    if (Application->Terminated()) break;
  }
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

void ExtractResource(const String& fileName, const String& resourceName) {
  TResourceStream stream(GetModuleHandleW(nullptr), resourceName, MAKEINTRESOURCEW(10));
  stream.SaveToFile(fileName);
}

void DeleteIfExists(const String& fileName) {
  // A payload that stays behind (read-only, still running) harms nothing: the result is not used.
  if (FileExists(fileName)) DeleteFile(fileName);
}
