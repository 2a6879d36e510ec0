#include "IdStackWindows.h"

#include <vector>

#include "SysUtils.h"

namespace vcl {
namespace {

class TIdStackWindows : public TIdStack {
 public:
  void GetLocalAddressList(TIdStackLocalAddressList& list) override {
    ULONG size = 16 * 1024;
    std::vector<unsigned char> buffer;
    ULONG result;
    const ULONG flags = GAA_FLAG_SKIP_ANYCAST | GAA_FLAG_SKIP_MULTICAST | GAA_FLAG_SKIP_DNS_SERVER;
    for (int attempt = 0; attempt < 3; ++attempt) {
      buffer.resize(size);
      result = GetAdaptersAddresses(AF_UNSPEC, flags, nullptr, reinterpret_cast<IP_ADAPTER_ADDRESSES*>(buffer.data()),
                                    &size);
      if (result != ERROR_BUFFER_OVERFLOW) break;
    }
    if (result == ERROR_NO_DATA) return;
    if (result != NO_ERROR) throw Exception(L"Cannot list the network adapters: " + SysErrorMessage(result));
    AddAdapterAddresses(reinterpret_cast<const IP_ADAPTER_ADDRESSES*>(buffer.data()), list);
  }
};

}  // namespace

void AddAdapterAddresses(const IP_ADAPTER_ADDRESSES* adapters, TIdStackLocalAddressList& list) {
  for (const IP_ADAPTER_ADDRESSES* a = adapters; a; a = a->Next) {
    if (a->OperStatus != IfOperStatusUp || a->IfType == IF_TYPE_SOFTWARE_LOOPBACK) continue;
    for (const IP_ADAPTER_UNICAST_ADDRESS* u = a->FirstUnicastAddress; u; u = u->Next) {
      const sockaddr* sa = u->Address.lpSockaddr;
      if (!sa || (sa->sa_family != AF_INET && sa->sa_family != AF_INET6)) continue;
      wchar_t text[INET6_ADDRSTRLEN] = {};
      const void* raw = sa->sa_family == AF_INET
                            ? static_cast<const void*>(&reinterpret_cast<const sockaddr_in*>(sa)->sin_addr)
                            : static_cast<const void*>(&reinterpret_cast<const sockaddr_in6*>(sa)->sin6_addr);
      if (!InetNtopW(sa->sa_family, raw, text, INET6_ADDRSTRLEN)) continue;
      list.Add(sa->sa_family == AF_INET ? TIdIPVersion::Id_IPv4 : TIdIPVersion::Id_IPv6, text);
    }
  }
}

std::unique_ptr<TIdStack> NewWindowsStack() { return std::make_unique<TIdStackWindows>(); }

}  // namespace vcl
