// What wgtpack requires of the widget's config.xml before it signs anything: a TV refuses a
// package without the application's id and package, so it is never made.
#pragma once

#include <string>

namespace wgtpack {

// Parses `text` (config.xml after the settings went in); throws Error naming `file` and what
// is missing.
void checkWidgetConfig(const std::string& text, const std::string& file);

}  // namespace wgtpack
