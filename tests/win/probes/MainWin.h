// A stand-in for the installer's window whose construction fails, so that the entry point's
// handling of start-up failures can be watched from outside. Compiled with the real entry point.
#pragma once

#include "Forms.h"

class TmainForm : public vcl::TForm {
public:
    explicit TmainForm(vcl::TComponent* Owner);
};

extern TmainForm* mainForm;
