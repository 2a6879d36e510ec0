#include "Addresses.h"

#include "IdStack.h"

using namespace vcl;

std::vector<String> GetLocalIpv4Addresses() {
  TIdStackLocalAddressList list;
  TIdStack::IncUsage();
  try {
    GStack->GetLocalAddressList(list);
  } catch (...) {
    TIdStack::DecUsage();
    throw;
  }
  TIdStack::DecUsage();

  std::vector<String> addresses;
  for (int i = 0; i < list.Count(); ++i) {
    const TIdStackLocalAddress& entry = list.GetAddress(i);
    if (entry.IPVersion() == TIdIPVersion::Id_IPv4) addresses.push_back(entry.IPAddress());
  }
  return addresses;
}

String GetLocalIpList() {
  String result;
  for (const String& address : GetLocalIpv4Addresses()) {
    if (!result.empty()) result += L"         ";
    result += address;
  }
  return result;
}

bool IsAddressKey(wchar_t key) { return (key >= L'0' && key <= L'9') || key == L'.' || key == 8; }
