// What the user reads: output on stdout, errors on stderr. The installer redirects only stdout
// into its step logs, so errors go there as well when stdout is such a log of its own; a user
// at a terminal still sees each error once.
#pragma once

#include <string_view>

namespace console {

void out(std::string_view text);
// Whole lines, each ending in a newline.
void error(std::string_view lines);

}  // namespace console
