#include "MainWin.h"

#include "Addresses.h"
#include "LangText.h"

using namespace vcl;

TmainForm* mainForm = nullptr;

const TPublished<TmainForm>& TmainForm::Published() {
    static const TPublished<TmainForm> published = TPublished<TmainForm>()
        .Field(L"langRG", &TmainForm::langRG)
        .Field(L"BitInstall", &TmainForm::BitInstall)
        .Field(L"installPB", &TmainForm::installPB)
        .Field(L"ipValLBL", &TmainForm::ipValLBL)
        .Field(L"refreshIpBTN", &TmainForm::refreshIpBTN)
        .Field(L"tvIpEdt", &TmainForm::tvIpEdt)
        .Field(L"ipGB", &TmainForm::ipGB)
        .Field(L"ipNoteLbl", &TmainForm::ipNoteLbl)
        .Field(L"installGB", &TmainForm::installGB)
        .Field(L"tvSeriesRG", &TmainForm::tvSeriesRG)
        .Field(L"tvIpLbl", &TmainForm::tvIpLbl)
        .Field(L"statusLbl", &TmainForm::statusLbl)
        .Field(L"instManualGB", &TmainForm::instManualGB)
        .Field(L"manualLbl", &TmainForm::manualLbl)
        .Method(L"BitInstallClick", &TmainForm::BitInstallClick)
        .Method(L"FormCreate", &TmainForm::FormCreate)
        .Method(L"refreshIpBTNClick", &TmainForm::refreshIpBTNClick)
        .Method(L"tvIpEdtKeyPress", &TmainForm::tvIpEdtKeyPress)
        .Method(L"langRGClick", &TmainForm::langRGClick);
    return published;
}

TmainForm::TmainForm(TComponent* Owner)
    : TForm(Owner, L"TMAINFORM"),
      wgtName(L"Velmora"),
      appId(L"Kx7RmVq2Tz.Velmora"),
      tvTmpDir{L"/opt/usr/apps/tmp", L"/home/owner/share/tmp/sdk_tools/tmp"} {
    Bind(*this, Published());
}

TmainForm::~TmainForm() = default;

void TmainForm::FormCreate(TObject*) {
    ipValLBL->SetText(GetLocalIpList());
    ApplyLanguage(langRG->ItemIndex());
}

void TmainForm::ApplyLanguage(int lang) {
    langRG->SetText(langText->Text(txtLanguage, lang));
    ipGB->SetText(langText->Text(txtPcIp, lang));
    ipNoteLbl->SetText(langText->Text(txtIpNote, lang));
    refreshIpBTN->SetText(langText->Text(txtRefreshIp, lang));
    tvSeriesRG->SetText(langText->Text(txtTvSeries, lang));
    BitInstall->SetText(langText->Text(txtInstallBtn, lang));
    tvIpLbl->SetText(langText->Text(txtTvIp, lang));
    installGB->SetText(langText->Text(txtInstallGroup, lang));
    statusLbl->SetText(langText->Text(txtPrompt, lang));
    instManualGB->SetText(langText->Text(txtManualGroup, lang));
    manualLbl->SetText(langText->Text(txtManual, lang));
}

void TmainForm::langRGClick(TObject*) { ApplyLanguage(langRG->ItemIndex()); }

void TmainForm::refreshIpBTNClick(TObject*) { ipValLBL->SetText(GetLocalIpList()); }

void TmainForm::tvIpEdtKeyPress(TObject*, wchar_t& Key) {
    if (!IsAddressKey(Key)) Key = 0;
}

void TmainForm::BitInstallClick(TObject*) {
    // The install sequence is not part of this build yet: the button deliberately does nothing.
}
