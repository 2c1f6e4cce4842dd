#pragma once

#include "common/result.h"

#include <cstdint>
#include <string>
#include <vector>

namespace quillix::imaging {

// A picture file's bytes. Io when it cannot be read or is not a regular file; Unsupported above
// 512 MiB, which no picture this program shows comes near and would only exhaust memory.
Result<std::vector<std::uint8_t>> ReadImageFile(const std::string& path);

}  // namespace quillix::imaging
