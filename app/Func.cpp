// The installer's entry point: creates the one window and runs the message loop. Every failure
// that escapes is shown in the application's error box; the process always ends with 0.
#include <windows.h>

#include "MainWin.h"

using namespace vcl;

int WINAPI wWinMain(HINSTANCE, HINSTANCE, LPWSTR, int) {
  try {
    Application->Initialize();
    Application->MainFormOnTaskBar = true;
    Application->CreateForm(mainForm);
    Application->Run();
  } catch (const Exception& e) {
    Application->ShowException(e);
  } catch (...) {
    try {
      throw Exception(L"");
    } catch (const Exception& e) {
      Application->ShowException(e);
    }
  }
  return 0;
}
