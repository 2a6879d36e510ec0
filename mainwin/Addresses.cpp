#include "Addresses.h"

#include "IdStack.h"

using namespace vcl;

String GetLocalIpList() {
    TIdStackLocalAddressList list;
    TIdStack::IncUsage();
    try {
        GStack->GetLocalAddressList(list);
    } catch (...) {
        TIdStack::DecUsage();
        throw;
    }
    TIdStack::DecUsage();

    String result;
    int appended = 0;
    for (int i = 0; i < list.Count(); ++i) {
        const TIdStackLocalAddress& entry = list.GetAddress(i);
        if (entry.IPVersion() != TIdIPVersion::Id_IPv4) continue;
        if (appended > 0) result += L"         ";
        result += entry.IPAddress();
        ++appended;
    }
    return result;
}

bool IsAddressKey(wchar_t key) { return (key >= L'0' && key <= L'9') || key == L'.' || key == 8; }
