// The PC's IPv4 addresses as one line of text, and the filter of the TV address field.
#pragma once

#include <vector>

#include "System.h"

// Every IPv4 address of the local address list, in its order.
std::vector<vcl::String> GetLocalIpv4Addresses();

// Every IPv4 address of the local address list, in its order, joined by nine spaces.
vcl::String GetLocalIpList();

// Whether a typed character may enter the TV address field: digits, the full stop, backspace.
bool IsAddressKey(wchar_t key);
