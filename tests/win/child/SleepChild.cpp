// A child for the command runner's tests: sleeps, then writes a marker file and exits with the
// given status. Usage: sleep_child MILLISECONDS EXIT_CODE [MARKER_FILE]
#include <windows.h>

#include <cstdlib>

int wmain(int argc, wchar_t** argv) {
  if (argc < 3) return 2;
  Sleep(static_cast<DWORD>(_wtoi(argv[1])));
  if (argc > 3) {
    HANDLE marker = CreateFileW(argv[3], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (marker != INVALID_HANDLE_VALUE) CloseHandle(marker);
  }
  return _wtoi(argv[2]);
}
