// The window's controls: kind, parent, place and size at 96 DPI and after a move to a 144-DPI
// monitor; fonts; the form's size limits; the tab order.
#include <gtest/gtest.h>

#include <windows.h>

#include <commctrl.h>

#include "WindowTestSupport.h"

using namespace vcl;

namespace {

struct ControlRow {
  const wchar_t* name;
  const wchar_t* windowClass;
  const wchar_t* parent;
  int left, top, width, height;
  int fontHeight;
  bool bold;
};

// ipNoteLbl sizes itself to its text, so only its place is fixed.
const ControlRow kRows[] = {
    {L"langRG", L"Button", L"mainForm", 757, 0, 84, 73, 16, false},
    {L"ipGB", L"Button", L"mainForm", 3, 0, 752, 73, 16, false},
    {L"ipValLBL", L"VelmoraLabel", L"ipGB", 8, 19, 608, 40, 27, true},
    {L"ipNoteLbl", L"VelmoraLabel", L"ipGB", 8, 55, -1, -1, 11, false},
    {L"refreshIpBTN", L"Button", L"ipGB", 622, 14, 123, 52, 16, false},
    {L"installGB", L"Button", L"mainForm", 3, 451, 838, 145, 16, false},
    {L"tvIpLbl", L"VelmoraLabel", L"installGB", 3, 72, 113, 39, 16, true},
    {L"statusLbl", L"VelmoraLabel", L"installGB", 8, 20, 608, 46, 19, true},
    {L"tvIpEdt", L"Edit", L"installGB", 122, 73, 494, 41, 27, true},
    {L"BitInstall", L"Button", L"installGB", 622, 72, 210, 39, 16, false},
    {L"installPB", PROGRESS_CLASSW, L"installGB", 7, 119, 825, 18, 16, false},
    {L"tvSeriesRG", L"Button", L"installGB", 622, 10, 210, 57, 16, false},
    {L"instManualGB", L"Button", L"mainForm", 3, 73, 838, 379, 16, false},
    {L"manualLbl", L"VelmoraLabel", L"instManualGB", 11, 21, 824, 351, 15, false},
};

// The DPI the test display runs at: 96 unless the run asks for another (see run_at_dpi.sh).
int DisplayDpi() {
  const char* dpi = getenv("VELMORA_TEST_DPI");
  return dpi ? atoi(dpi) : 96;
}

std::wstring ClassOf(HWND hwnd) {
  wchar_t name[64] = {};
  GetClassNameW(hwnd, name, 64);
  return name;
}

void CheckLayout(TmainForm& form, int dpi) {
  for (const ControlRow& row : kRows) {
    SCOPED_TRACE(testing::Message() << "control " << std::string(row.name, row.name + wcslen(row.name)) << " at " << dpi
                                    << " dpi");
    auto* control = form.Component<TControl>(row.name);
    HWND hwnd = control->Handle();
    ASSERT_TRUE(IsWindow(hwnd));
    EXPECT_EQ(_wcsicmp(ClassOf(hwnd).c_str(), row.windowClass), 0) << ClassOf(hwnd).size();
    ASSERT_NE(control->Parent(), nullptr);
    EXPECT_EQ(control->Parent()->Name(), row.parent);
    EXPECT_EQ(GetParent(hwnd), control->Parent()->Handle());

    RECT r = BoundsInParent(hwnd);
    EXPECT_EQ(r.left, MulDiv(row.left, dpi, 96));
    EXPECT_EQ(r.top, MulDiv(row.top, dpi, 96));
    if (row.width >= 0) {
      EXPECT_EQ(r.right - r.left, MulDiv(row.left + row.width, dpi, 96) - MulDiv(row.left, dpi, 96));
      EXPECT_EQ(r.bottom - r.top, MulDiv(row.top + row.height, dpi, 96) - MulDiv(row.top, dpi, 96));
    }

    LOGFONTW lf{};
    auto font = reinterpret_cast<HFONT>(SendMessageW(hwnd, WM_GETFONT, 0, 0));
    ASSERT_TRUE(font != nullptr);
    GetObjectW(font, sizeof lf, &lf);
    EXPECT_STREQ(lf.lfFaceName, L"Tahoma");
    EXPECT_EQ(lf.lfHeight, -MulDiv(row.fontHeight, dpi, 96));
    EXPECT_EQ(lf.lfWeight, row.bold ? FW_BOLD : FW_NORMAL);
    EXPECT_EQ(lf.lfCharSet, DEFAULT_CHARSET);
  }
}

TEST(Layout, ControlsSitWhereTheDefinitionPutsThemAtTheDisplayDpiAndFollowAMoveToAnother) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  const int start = DisplayDpi();
  ASSERT_EQ(form.CurrentDpi(), start);
  CheckLayout(form, start);

  // Moved to a monitor of another DPI, and back.
  const int other = start == 96 ? 144 : 96;
  RECT suggested{10, 10, 10 + 1275, 10 + 938};
  SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(other, other), reinterpret_cast<LPARAM>(&suggested));
  EXPECT_EQ(form.CurrentDpi(), other);
  CheckLayout(form, other);
  SendMessageW(form.Handle(), WM_DPICHANGED, MAKEWPARAM(start, start), reinterpret_cast<LPARAM>(&suggested));
  CheckLayout(form, start);
}

TEST(Layout, FormIsFixedSizeWithinItsLimits) {
  FormFixture fixture;
  HWND hwnd = fixture.form().Handle();
  EXPECT_EQ(WindowText(hwnd), L"Velmora Tizen Installer");
  LONG style = GetWindowLongW(hwnd, GWL_STYLE);
  EXPECT_FALSE(style & WS_THICKFRAME) << "the border cannot be dragged";
  EXPECT_TRUE(style & WS_SYSMENU);
  EXPECT_TRUE(style & WS_MINIMIZEBOX);
  EXPECT_TRUE(style & WS_MAXIMIZEBOX);

  const int dpi = DisplayDpi();
  auto scaled = [dpi](LONG v) { return static_cast<LONG>(MulDiv(v, dpi, 96)); };
  RECT outer, client;
  GetWindowRect(hwnd, &outer);
  GetClientRect(hwnd, &client);
  EXPECT_LE(outer.right - outer.left, scaled(850));
  EXPECT_LE(outer.bottom - outer.top, scaled(625));
  EXPECT_EQ(client.right, scaled(844));
  // The client area is 600 high unless the frame pushes the window past its 625-pixel limit.
  RECT frame{0, 0, scaled(844), scaled(600)};
  AdjustWindowRectEx(&frame, static_cast<DWORD>(style), FALSE, static_cast<DWORD>(GetWindowLongW(hwnd, GWL_EXSTYLE)));
  EXPECT_EQ(client.bottom, std::min(scaled(600), scaled(625) - (frame.bottom - frame.top - scaled(600))));

  // Maximising cannot make it bigger either.
  MINMAXINFO info{};
  SendMessageW(hwnd, WM_GETMINMAXINFO, 0, reinterpret_cast<LPARAM>(&info));
  EXPECT_EQ(info.ptMaxTrackSize.x, scaled(850));
  EXPECT_EQ(info.ptMaxTrackSize.y, scaled(625));
  EXPECT_EQ(info.ptMaxSize.x, scaled(850));
  EXPECT_EQ(info.ptMaxSize.y, scaled(625));
}

TEST(Layout, TabVisitsLanguageRefreshAddressInstallSeriesInThatOrder) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  HWND dialog = form.Handle();
  const HWND expected[] = {form.langRG->ItemHandle(0), form.refreshIpBTN->Handle(),    form.tvIpEdt->Handle(),
                           form.BitInstall->Handle(),  form.tvSeriesRG->ItemHandle(0), form.langRG->ItemHandle(0)};
  HWND at = expected[0];
  for (size_t i = 1; i < std::size(expected); ++i) {
    at = GetNextDlgTabItem(dialog, at, FALSE);
    EXPECT_EQ(at, expected[i]) << "tab stop " << i;
  }
}

// Later controls lie above earlier ones: the manual group, made after the installation group,
// covers its top edge with its own bottom frame line. Read off the screen.
TEST(Layout, TheManualGroupsBottomFrameLineShowsAboveTheInstallationGroup) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  form.Show();
  Application->ProcessMessages();
  RECT manual;
  GetWindowRect(form.instManualGB->Handle(), &manual);
  const int corner = MulDiv(8, DisplayDpi(), 96);
  const int middle = (manual.top + manual.bottom) / 2;
  HDC screen = GetDC(nullptr);
  const COLORREF frame = GetPixel(screen, manual.left, middle);
  EXPECT_NE(frame, GetPixel(screen, manual.left + corner, middle)) << "the left frame line is not where expected";
  int gaps = 0;
  for (LONG x = manual.left + corner; x < manual.right - corner; ++x)
    gaps += GetPixel(screen, x, manual.bottom - 1) != frame;
  ReleaseDC(nullptr, screen);
  EXPECT_EQ(gaps, 0) << "pixels of the bottom row that are not the frame's colour";
}

TEST(Layout, RadioGroupsStartOnTheirFirstItemWithTheSeriesSideBySide) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  EXPECT_EQ(form.langRG->ItemIndex(), 0);
  EXPECT_EQ(form.tvSeriesRG->ItemIndex(), 0);
  EXPECT_EQ(SendMessageW(form.langRG->ItemHandle(0), BM_GETCHECK, 0, 0), BST_CHECKED);
  EXPECT_EQ(SendMessageW(form.tvSeriesRG->ItemHandle(0), BM_GETCHECK, 0, 0), BST_CHECKED);
  RECT jk = BoundsInParent(form.tvSeriesRG->ItemHandle(0));
  RECT mn = BoundsInParent(form.tvSeriesRG->ItemHandle(1));
  EXPECT_EQ(jk.top, mn.top);
  EXPECT_LT(jk.right, mn.left + 1);
  RECT ru = BoundsInParent(form.langRG->ItemHandle(0));
  RECT en = BoundsInParent(form.langRG->ItemHandle(1));
  EXPECT_LT(ru.bottom, en.top + 1) << "the language items are stacked";
}

TEST(Layout, TheNoteSizesItselfToItsTextInBothLanguages) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  for (int item : {1, 0}) {
    HWND note = form.ipNoteLbl->Handle();
    HDC dc = GetDC(note);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(note, WM_GETFONT, 0, 0)));
    std::wstring text = WindowText(note);
    SIZE extent;
    GetTextExtentPoint32W(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, old);
    ReleaseDC(note, dc);
    RECT r;
    GetClientRect(note, &r);
    EXPECT_GE(r.right, extent.cx) << "language " << form.langRG->ItemIndex();
    EXPECT_GE(r.bottom, extent.cy);
    EXPECT_LE(r.right, extent.cx + 4);
    SendMessageW(form.langRG->ItemHandle(item), BM_CLICK, 0, 0);
  }
}

TEST(Layout, FixedSettings) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  EXPECT_EQ(form.wgtName, L"Velmora");
  EXPECT_EQ(form.appId, L"Kx7RmVq2Tz.Velmora");
  EXPECT_EQ(form.tvTmpDir[0], L"/opt/usr/apps/tmp");
  EXPECT_EQ(form.tvTmpDir[1], L"/home/owner/share/tmp/sdk_tools/tmp");
  EXPECT_EQ(form.installPB->Position(), 0);
  EXPECT_EQ(form.tvIpEdt->GetText(), L"");
}

}  // namespace
