// The stack over the Windows adapter list.
#pragma once

#include <winsock2.h>
#include <ws2tcpip.h>
#include <iphlpapi.h>

#include "IdStack.h"

namespace vcl {

// Appends the unicast addresses of the adapters that are up, loopback excluded, in the list's
// order: the addresses another device on the network can reach this PC at.
void AddAdapterAddresses(const IP_ADAPTER_ADDRESSES* adapters, TIdStackLocalAddressList& list);

}  // namespace vcl
