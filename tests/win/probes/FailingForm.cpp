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
