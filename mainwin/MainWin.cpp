#include "MainWin.h"

#include "Addresses.h"
#include "Diagnosis.h"
#include "Install.h"
#include "InstallSteps.h"
#include "LangText.h"
#include "SysUtils.h"
#include "TvInfo.h"

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
  // A click while a run waits on its command lands here through the message dispatch; a
  // nested run would delete the tool and the package under the first one, so it is ignored.
  if (installing_) return;
  TInstallSettings settings{tvIpEdt->GetText(), String(), wgtName, appId};
  if (!IsTvAddress(settings.address)) {
    ShowMessage(langText->Text(txtBadIp, langRG->ItemIndex()));
    return;
  }
  struct TRunMark {
    bool& installing;
    explicit TRunMark(bool& flag) : installing(flag) { installing = true; }
    ~TRunMark() { installing = false; }
  } mark(installing_);

  const String package = wgtName + L".wgt";
  CreateDir(L"doLog");
  DeleteIfExists(L"iu.exe");
  DeleteIfExists(package);
  ExtractResource(L"iu.exe", L"IUFILE");
  ExtractResource(package, L"WGTFILE");
  // Logs of an earlier run must not speak for this one, even where a command cannot start.
  for (const wchar_t* log : kStepLogs) DeleteIfExists(log);

  statusLbl->SetText(langText->Text(txtInstalling, langRG->ItemIndex()));
  installPB->SetPosition(2);
  for (int step = 0; step < kInstallStepCount; ++step) {
    settings.tmpDir = tvTmpDir[tvSeriesRG->ItemIndex()];
    RunAndWait(InstallCommandLine(step, settings));
    installPB->SetPosition(installPB->Position() + kInstallIncrements[step]);
  }
  DeleteIfExists(L"iu.exe");
  DeleteIfExists(package);

  const size_t kLogLimit = 1 << 20;
  TStepLogs logs{ReadFileHead(kStepLogs[0], kLogLimit), ReadFileHead(kStepLogs[1], kLogLimit),
                 ReadFileHead(kStepLogs[4], kLogLimit), ReadFileHead(kStepLogs[5], kLogLimit),
                 ReadFileHead(kStepLogs[6], kLogLimit)};
  TCause cause = Diagnose(logs, StringToUtf8(appId));
  TTvInfo tv;
  if (cause == TCause::NotConnected) {
    tv = QueryTvInfo(settings.address);
    cause = DiagnoseNotConnected(tv, GetLocalIpv4Addresses());
  }
  statusLbl->SetText(langText->Text(cause == TCause::None ? txtDone : txtFailed, langRG->ItemIndex()));
  if (cause != TCause::None) ShowMessage(CauseText(cause, settings.address, tv));
}

String TmainForm::CauseText(TCause cause, const String& address, const TTvInfo& tv) const {
  static const std::pair<TCause, TTextPair> kTexts[] = {
      {TCause::TvUnreachable, txtWhyTvUnreachable},
      {TCause::DeveloperModeOff, txtWhyDeveloperModeOff},
      {TCause::OtherHostPc, txtWhyOtherHostPc},
      {TCause::NotInEffect, txtWhyNotInEffect},
      {TCause::NoConnection, txtWhyNoConnection},
      {TCause::Locked, txtWhyLocked},
      {TCause::WrongSeries, txtWhyWrongSeries},
      {TCause::AuthorMismatch, txtWhyAuthorMismatch},
      {TCause::ClockWrong, txtWhyClockWrong},
      {TCause::PackageDamaged, txtWhyPackageDamaged},
      {TCause::NoSpace, txtWhyNoSpace},
      {TCause::NotKept, txtWhyNotKept},
  };
  TTextPair pair = txtWhyUnknown;
  for (const auto& [c, p] : kTexts)
    if (c == cause) pair = p;
  const int lang = langRG->ItemIndex();
  const String otherSeries = tvSeriesRG->Items().at(tvSeriesRG->ItemIndex() == 0 ? 1 : 0);
  String text = langText->Text(pair, lang);
  const std::pair<const wchar_t*, String> fields[] = {{L"%ADDRESS%", address},
                                                      {L"%THISPC%", tv.localAddress},
                                                      {L"%TVHOSTPC%", tv.developerIp},
                                                      {L"%SERIES%", otherSeries}};
  for (const auto& [name, value] : fields)
    for (size_t at = text.find(name); at != String::npos; at = text.find(name, at + value.size()))
      text.replace(at, wcslen(name), value);
  return text;
}
