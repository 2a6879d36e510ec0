// The installer's one window.
#pragma once

#include "Diagnosis.h"
#include "Forms.h"

class TmainForm : public vcl::TForm {
 public:  // published: bound by name to the form definition TMAINFORM
  vcl::TRadioGroup* langRG;
  vcl::TBitBtn* BitInstall;
  vcl::TProgressBar* installPB;
  vcl::TLabel* ipValLBL;
  vcl::TButton* refreshIpBTN;
  vcl::TEdit* tvIpEdt;
  vcl::TGroupBox* ipGB;
  vcl::TLabel* ipNoteLbl;
  vcl::TGroupBox* installGB;
  vcl::TRadioGroup* tvSeriesRG;
  vcl::TLabel* tvIpLbl;
  vcl::TLabel* statusLbl;
  vcl::TGroupBox* instManualGB;
  vcl::TLabel* manualLbl;

  void BitInstallClick(vcl::TObject* Sender);
  void FormCreate(vcl::TObject* Sender);
  void refreshIpBTNClick(vcl::TObject* Sender);
  void tvIpEdtKeyPress(vcl::TObject* Sender, wchar_t& Key);
  void langRGClick(vcl::TObject* Sender);

 public:
  explicit TmainForm(vcl::TComponent* Owner);
  ~TmainForm() override;

  // Sets the eleven language-dependent captions; lang is 0 (Russian) or 1 (English).
  void ApplyLanguage(int lang);

  // The fixed installation settings.
  const vcl::String wgtName;
  const vcl::String appId;
  // Staging folder on the TV, by the index of tvSeriesRG ("J,K", "M,N,Q,R,T").
  const vcl::String tvTmpDir[2];

 private:
  static const vcl::TPublished<TmainForm>& Published();
  // Why the installation failed and what to do, in the language chosen now.
  vcl::String CauseText(TCause cause, const vcl::String& address, const TTvInfo& tv) const;
  bool installing_ = false;
};

extern TmainForm* mainForm;
