// Writing the package so that a failure never leaves a partial file at the output path.
#pragma once

#include "bytes.h"

#include <string>

namespace wgtpack {

// Writes `data` to a temporary file beside `path`, then renames it over `path`, which must be
// absent or a regular file. On failure the temporary file is removed and Error names `path`
// and the cause.
void writeFileAtomically(const std::string& path, std::span<const std::uint8_t> data);

}  // namespace wgtpack
