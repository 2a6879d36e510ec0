// The PC's address line and the filter of the TV address field.
#include <gtest/gtest.h>

#include "Addresses.h"
#include "WindowTestSupport.h"

using namespace vcl;

namespace {

constexpr auto V4 = TIdIPVersion::Id_IPv4;
constexpr auto V6 = TIdIPVersion::Id_IPv6;

TEST(AddressLine, JoinsTheIPv4AddressesInOrderWithNineSpaces) {
    const struct {
        const char* what;
        Entries entries;
        const wchar_t* line;
    } cases[] = {
        {"no entry", {}, L""},
        {"IPv6 only", {{V6, L"fe80::1"}, {V6, L"2001:db8::5"}}, L""},
        {"one address", {{V4, L"192.168.1.20"}}, L"192.168.1.20"},
        {"IPv6, A, IPv6, B", {{V6, L"fe80::1"}, {V4, L"10.0.0.2"}, {V6, L"2001:db8::5"}, {V4, L"192.168.1.20"}},
         L"10.0.0.2         192.168.1.20"},
        {"duplicates", {{V4, L"10.0.0.2"}, {V4, L"10.0.0.2"}}, L"10.0.0.2         10.0.0.2"},
        {"three", {{V4, L"127.0.0.1"}, {V4, L"169.254.3.4"}, {V4, L"10.1.1.1"}},
         L"127.0.0.1         169.254.3.4         10.1.1.1"},
    };
    for (const auto& c : cases) {
        UseFakeAddresses(c.entries);
        EXPECT_EQ(GetLocalIpList(), c.line) << c.what;
        EXPECT_EQ(GStack, nullptr) << c.what << ": the stack is released after use";
    }
}

TEST(AddressLine, RefreshReplacesTheLabelAndTouchesNothingElse) {
    FormFixture fixture({{V4, L"192.0.2.1"}});
    TmainForm& form = fixture.form();
    EXPECT_EQ(WindowText(form.ipValLBL->Handle()), L"192.0.2.1");
    const std::wstring status = WindowText(form.statusLbl->Handle());

    UseFakeAddresses({{V6, L"fe80::2"}, {V4, L"192.0.2.1"}, {V4, L"198.51.100.9"}});
    EXPECT_EQ(WindowText(form.ipValLBL->Handle()), L"192.0.2.1") << "nothing refreshes by itself";
    SendMessageW(form.refreshIpBTN->Handle(), BM_CLICK, 0, 0);
    Application->ProcessMessages();
    EXPECT_EQ(WindowText(form.ipValLBL->Handle()), L"192.0.2.1         198.51.100.9");
    EXPECT_EQ(WindowText(form.statusLbl->Handle()), status);
    EXPECT_EQ(form.langRG->ItemIndex(), 0);
}

TEST(AddressLine, WindowsEnumerationGivesDottedIPv4AndNoLoopback) {
    UseFakeAddresses({});
    TIdStack::SetStackFactory(NewWindowsStack);
    String line = GetLocalIpList();
    EXPECT_EQ(line.find(L"127.0.0.1"), String::npos);
    for (wchar_t c : line) EXPECT_TRUE((c >= L'0' && c <= L'9') || c == L'.' || c == L' ') << line.size();
}

TEST(KeyFilter, LetsDigitsDotAndBackspaceThroughAndDropsEverythingElse) {
    FormFixture fixture;
    TmainForm& form = fixture.form();
    const struct {
        wchar_t key;
        bool passes;
    } keys[] = {
        {L'0', true}, {L'5', true}, {L'9', true}, {L'.', true}, {8, true},
        {L'a', false}, {L'Z', false}, {L' ', false}, {L',', false}, {L'-', false}, {L':', false},
        {3, false}, {22, false}, {24, false}, {26, false}, {13, false}, {9, false},
        {0x0661 /* Arabic-Indic one */, false}, {0xFF11 /* fullwidth one */, false}, {0x0966 /* Devanagari zero */, false},
        {L'д', false}, {L'/', false},
    };
    for (const auto& k : keys) {
        wchar_t key = k.key;
        form.tvIpEdtKeyPress(&form, key);
        EXPECT_EQ(key, k.passes ? k.key : 0) << "character " << static_cast<int>(k.key);
    }
}

TEST(KeyFilter, TypingIntoTheFieldKeepsOnlyWhatPasses) {
    FormFixture fixture;
    TmainForm& form = fixture.form();
    HWND edit = form.tvIpEdt->Handle();
    for (wchar_t c : std::wstring(L"19a2.1 68,.1-.2:0")) SendMessageW(edit, WM_CHAR, c, 1);
    EXPECT_EQ(WindowText(edit), L"192.168.1.20");
    EXPECT_EQ(form.tvIpEdt->GetText(), L"192.168.1.20");

    SendMessageW(edit, WM_CHAR, 8, 1);  // backspace deletes as usual
    EXPECT_EQ(WindowText(edit), L"192.168.1.2");

    // Ctrl+V arrives as character 22 and is dropped, clipboard or not.
    if (OpenClipboard(form.Handle())) {
        EmptyClipboard();
        HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 16);
        memcpy(GlobalLock(mem), L"abc", 8);
        GlobalUnlock(mem);
        SetClipboardData(CF_UNICODETEXT, mem);
        CloseClipboard();
    }
    SendMessageW(edit, WM_CHAR, 22, 1);
    EXPECT_EQ(WindowText(edit), L"192.168.1.2");
    // A paste that does not come through the keyboard is not filtered.
    SendMessageW(edit, WM_PASTE, 0, 0);
    EXPECT_EQ(WindowText(edit), L"192.168.1.2abc");
    EXPECT_EQ(form.tvIpEdt->GetText(), L"192.168.1.2abc");
}

}  // namespace
