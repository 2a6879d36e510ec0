// The text table and the switch between Russian and English.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>

#include <windows.h>

#include <commctrl.h>

#include "LangText.h"
#include "WindowTestSupport.h"

using namespace vcl;

namespace {

struct CaptionRow {
  const wchar_t* control;
  TTextPair pair;
};

const CaptionRow kCaptions[] = {
    {L"langRG", txtLanguage},     {L"ipGB", txtPcIp},
    {L"ipNoteLbl", txtIpNote},    {L"refreshIpBTN", txtRefreshIp},
    {L"tvSeriesRG", txtTvSeries}, {L"BitInstall", txtInstallBtn},
    {L"tvIpLbl", txtTvIp},        {L"installGB", txtInstallGroup},
    {L"statusLbl", txtPrompt},    {L"instManualGB", txtManualGroup},
    {L"manualLbl", txtManual},
};

void ExpectCaptions(TmainForm& form, int lang) {
  for (const CaptionRow& row : kCaptions) {
    HWND hwnd = form.Component<TControl>(row.control)->Handle();
    EXPECT_EQ(WindowText(hwnd), langText->Text(row.pair, lang))
        << "caption of " << std::string(row.control, row.control + wcslen(row.control)) << " in language " << lang;
  }
}

// Everything the window shows: every window's text, check state and the progress position.
std::map<HWND, std::wstring> Snapshot(HWND form) {
  std::map<HWND, std::wstring> shown;
  shown[form] = WindowText(form);
  EnumChildWindows(
      form,
      [](HWND hwnd, LPARAM out) -> BOOL {
        auto& m = *reinterpret_cast<std::map<HWND, std::wstring>*>(out);
        m[hwnd] = WindowText(hwnd) + L"|" + std::to_wstring(SendMessageW(hwnd, BM_GETCHECK, 0, 0)) + L"|" +
                  std::to_wstring(SendMessageW(hwnd, PBM_GETPOS, 0, 0));
        return TRUE;
      },
      reinterpret_cast<LPARAM>(&shown));
  return shown;
}

void Click(HWND button) {
  SendMessageW(button, BM_CLICK, 0, 0);
  Application->ProcessMessages();
}

void Type(HWND edit, const std::wstring& text) {
  for (wchar_t c : text) SendMessageW(edit, WM_CHAR, c, 1);
}

TEST(Language, StartsInRussianWithTheTableTextsNotTheDefinitionDefaults) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  ExpectCaptions(form, 0);
  EXPECT_EQ(WindowText(form.BitInstall->Handle()), L"Установить Виджет");
  EXPECT_EQ(WindowText(form.ipGB->Handle()), L"IP Адрес ПК");
  EXPECT_EQ(WindowText(form.manualLbl->Handle()).rfind(L"1. Включить режим разработчика в ТВ:", 0), 0u);
}

TEST(Language, EnglishAndBackLeavesItemsAddressesFieldBarAndCaptionAlone) {
  FormFixture fixture({{TIdIPVersion::Id_IPv4, L"198.51.100.7"}});
  TmainForm& form = fixture.form();
  Type(form.tvIpEdt->Handle(), L"192.168.1.20");
  form.installPB->SetPosition(37);
  const auto atStart = Snapshot(form.Handle());

  Click(form.langRG->ItemHandle(1));
  EXPECT_EQ(form.langRG->ItemIndex(), 1);
  ExpectCaptions(form, 1);
  EXPECT_EQ(WindowText(form.Handle()), L"Velmora Tizen Installer");
  EXPECT_EQ(WindowText(form.langRG->ItemHandle(0)), L"РУС");
  EXPECT_EQ(WindowText(form.langRG->ItemHandle(1)), L"ENG");
  EXPECT_EQ(WindowText(form.tvSeriesRG->ItemHandle(0)), L"J,K");
  EXPECT_EQ(WindowText(form.tvSeriesRG->ItemHandle(1)), L"M,N,Q,R,T");
  EXPECT_EQ(form.tvSeriesRG->ItemIndex(), 0);
  EXPECT_EQ(WindowText(form.ipValLBL->Handle()), L"198.51.100.7");
  EXPECT_EQ(WindowText(form.tvIpEdt->Handle()), L"192.168.1.20");
  EXPECT_EQ(SendMessageW(form.installPB->Handle(), PBM_GETPOS, 0, 0), 37);

  Click(form.langRG->ItemHandle(0));
  EXPECT_EQ(Snapshot(form.Handle()), atStart);
}

TEST(Language, ApplyingALanguageResetsTheStatusToThePrompt) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  form.statusLbl->SetText(langText->Text(txtDone, 0));
  Click(form.langRG->ItemHandle(1));
  EXPECT_EQ(WindowText(form.statusLbl->Handle()), langText->Text(txtPrompt, 1));
}

TEST(Language, ManualsAreComposedExactly) {
  struct {
    int lang;
    size_t length;
    const wchar_t* quirks[4];
  } const manuals[] = {
      {0, 1308, {L"пропроверки", L"бредмауэра", L"брендмауэр", L"розетки.Несколько"}},
      {1, 1403, {L"Bredmauer", L"disabled the firewall", L"Menu-> Network-> Network Status", L"screen-button OK."}},
  };
  for (const auto& m : manuals) {
    const String& text = langText->Text(txtManual, m.lang);
    EXPECT_EQ(text.size(), m.length);
    EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 17) << "18 lines";
    EXPECT_EQ(text.find(L'\r'), String::npos);
    EXPECT_NE(text.back(), L'\n');
    EXPECT_NE(text.find(L"\"ON\" \n"), String::npos) << "line 1.2 ends with a space";
    for (const wchar_t* q : m.quirks) EXPECT_NE(text.find(q), String::npos);
  }
}

// The failure explanations are message boxes: what happened, a blank line, what to do.
TEST(Language, OnlyTheManualsAndTheExplanationsHoldLineBreaksAndEnglishIsAscii) {
  for (int pair = 0; pair < txtPairCount; ++pair) {
    const String& english = langText->Text(static_cast<TTextPair>(pair), 1);
    EXPECT_TRUE(std::all_of(english.begin(), english.end(), [](wchar_t c) { return c < 0x80; }));
    if (pair == txtManual) continue;
    for (int lang : {0, 1}) {
      const String& text = langText->Text(static_cast<TTextPair>(pair), lang);
      if (pair >= txtWhyTvUnreachable) {
        EXPECT_EQ(std::count(text.begin(), text.end(), L'\n'), 2) << pair;
        EXPECT_NE(text.find(L"\n\n"), String::npos) << pair;
        continue;
      }
      EXPECT_EQ(text.find(L'\n'), String::npos);
    }
  }
  // Spot checks of the odd spellings the product keeps.
  EXPECT_EQ(langText->Text(txtInstallBtn, 1), L"Widget Install");
  EXPECT_EQ(langText->Text(txtPrompt, 1), L"Enter the IP of your TV, Select its series, Click \"Install Widget\"");
  EXPECT_EQ(langText->Text(txtBadIp, 0), L"IP Адрес ТВ не задан или имеет не верный формат.");
}

}  // namespace
