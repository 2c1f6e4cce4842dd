#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <cstdint>
#include <span>
#include <vector>

namespace quillix::imaging {

// The same Windows bitmap with its picture changed by `t`, in its own layout: the pixel values
// move as they are stored (palette indices, bit-field pixels, the alpha byte of 32-bit pictures),
// and the headers, palette, masks and an embedded colour profile are kept, with the sizes,
// resolutions and offsets they hold brought up to date. RLE pictures have no layout a turn can
// keep; they are decoded and written again as 24-bit pixels, every pixel kept. BadHeader or
// Truncated for a damaged file, Unsupported for compressions nothing here reads.
Result<std::vector<std::uint8_t>> TransformBmp(std::span<const std::uint8_t> bytes, PixelTransform t);

}  // namespace quillix::imaging
