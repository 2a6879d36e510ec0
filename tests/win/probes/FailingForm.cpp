// The installer's window with a constructor that fails, linked in place of mainwin/MainWin.cpp
// (the class is the real one), so that the entry point's handling of start-up failures can be
// watched from outside.
#include <stdexcept>

#include "MainWin.h"

TmainForm* mainForm = nullptr;

TmainForm::TmainForm(vcl::TComponent* Owner) : TForm(Owner, L"TMAINFORM") {
#ifdef PROBE_FOREIGN_EXCEPTION
  throw std::runtime_error("not an Exception");
#else
  throw vcl::Exception(L"Окно не создано");
#endif
}

TmainForm::~TmainForm() = default;
