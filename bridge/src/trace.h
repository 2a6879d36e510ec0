// Wire trace: with IU_TRACE naming a file, every packet and request in both directions is
// appended to it with a hex dump, from the client and from the background server alike.
#pragma once

#include <string>
#include <string_view>

namespace trace {

bool enabled();
// One line plus a hex dump of the first bytes of data. who: "client", "server", ...
void bytes(std::string_view who, std::string_view what, std::string_view data);
void note(std::string_view who, std::string_view what);
// The hex dump itself, 16 bytes a line with offsets and printable text; at most limit bytes.
std::string hexDump(std::string_view data, std::size_t limit);

}  // namespace trace
