// The PC's address line and the filter of the TV address field.
#include <gtest/gtest.h>

#include <deque>

#include "Addresses.h"
#include "IdStackWindows.h"
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
      {"IPv6, A, IPv6, B",
       {{V6, L"fe80::1"}, {V4, L"10.0.0.2"}, {V6, L"2001:db8::5"}, {V4, L"192.168.1.20"}},
       L"10.0.0.2         192.168.1.20"},
      {"duplicates", {{V4, L"10.0.0.2"}, {V4, L"10.0.0.2"}}, L"10.0.0.2         10.0.0.2"},
      {"three",
       {{V4, L"127.0.0.1"}, {V4, L"169.254.3.4"}, {V4, L"10.1.1.1"}},
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

// A list of adapters laid out as GetAdaptersAddresses gives it, built by hand.
class AdapterList {
 public:
  // Appends an adapter with its unicast addresses (IPv4 or IPv6 text; null: an entry of
  // another address family).
  void Add(IF_OPER_STATUS status, IFTYPE type, std::initializer_list<const wchar_t*> addresses) {
    IP_ADAPTER_ADDRESSES& adapter = adapters_.emplace_back();
    adapter.OperStatus = status;
    adapter.IfType = type;
    if (adapters_.size() > 1) adapters_[adapters_.size() - 2].Next = &adapter;
    IP_ADAPTER_UNICAST_ADDRESS** link = &adapter.FirstUnicastAddress;
    for (const wchar_t* text : addresses) {
      SOCKADDR_STORAGE& storage = sockets_.emplace_back();
      auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
      auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
      if (!text)
        storage.ss_family = AF_UNSPEC;
      else if (InetPtonW(AF_INET, text, &v4->sin_addr) == 1)
        v4->sin_family = AF_INET;
      else if (InetPtonW(AF_INET6, text, &v6->sin6_addr) == 1)
        v6->sin6_family = AF_INET6;
      else
        ADD_FAILURE() << "not an address";
      IP_ADAPTER_UNICAST_ADDRESS& unicast = unicasts_.emplace_back();
      unicast.Address.lpSockaddr = reinterpret_cast<sockaddr*>(&storage);
      unicast.Address.iSockaddrLength = sizeof storage;
      *link = &unicast;
      link = &unicast.Next;
    }
  }
  const IP_ADAPTER_ADDRESSES* First() const { return adapters_.empty() ? nullptr : &adapters_.front(); }

 private:
  // Deques: the entries point at each other, so they must not move.
  std::deque<IP_ADAPTER_ADDRESSES> adapters_;
  std::deque<IP_ADAPTER_UNICAST_ADDRESS> unicasts_;
  std::deque<SOCKADDR_STORAGE> sockets_;
};

TEST(AddressLine, WindowsAdaptersGiveTheirAddressesWhenUpAndNotLoopback) {
  AdapterList adapters;
  adapters.Add(IfOperStatusUp, IF_TYPE_SOFTWARE_LOOPBACK, {L"127.0.0.1", L"::1"});
  adapters.Add(IfOperStatusUp, IF_TYPE_ETHERNET_CSMACD, {L"fe80::1c2:3", L"192.168.1.20", nullptr});
  adapters.Add(IfOperStatusDown, IF_TYPE_ETHERNET_CSMACD, {L"10.0.0.5"});
  adapters.Add(IfOperStatusDormant, IF_TYPE_IEEE80211, {L"10.0.0.6"});
  adapters.Add(IfOperStatusUp, IF_TYPE_IEEE80211, {L"10.1.2.3", L"2001:db8::7"});
  adapters.Add(IfOperStatusUp, IF_TYPE_TUNNEL, {});

  TIdStackLocalAddressList list;
  AddAdapterAddresses(adapters.First(), list);
  Entries got;
  for (int i = 0; i < list.Count(); ++i)
    got.emplace_back(list.GetAddress(i).IPVersion(), list.GetAddress(i).IPAddress());
  EXPECT_EQ(got, (Entries{{V6, L"fe80::1c2:3"}, {V4, L"192.168.1.20"}, {V4, L"10.1.2.3"}, {V6, L"2001:db8::7"}}));

  TIdStackLocalAddressList none;
  AddAdapterAddresses(nullptr, none);
  EXPECT_EQ(none.Count(), 0);
}

TEST(KeyFilter, LetsDigitsDotAndBackspaceThroughAndDropsEverythingElse) {
  FormFixture fixture;
  TmainForm& form = fixture.form();
  const struct {
    wchar_t key;
    bool passes;
  } keys[] = {
      {L'0', true},
      {L'5', true},
      {L'9', true},
      {L'.', true},
      {8, true},
      {L'a', false},
      {L'Z', false},
      {L' ', false},
      {L',', false},
      {L'-', false},
      {L':', false},
      {3, false},
      {22, false},
      {24, false},
      {26, false},
      {13, false},
      {9, false},
      {0x0661 /* Arabic-Indic one */, false},
      {0xFF11 /* fullwidth one */, false},
      {0x0966 /* Devanagari zero */, false},
      {L'д', false},
      {L'/', false},
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
