#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace quillix::imaging {

// The quality (0..100) a lossy WebP was most likely encoded at by libwebp: the quality at which
// libwebp, encoding the decoded picture again, chooses the quantisers the file's VP8 frame header
// holds (their mean over the segments). Nothing for lossless, animated or unreadable data.
std::optional<int> EstimateWebPQuality(std::span<const std::uint8_t> webp);

// The same still WebP with its picture changed by `t`: alpha kept, a lossless one encoded
// losslessly again (RGB under transparent pixels kept too), a lossy one at its estimated quality;
// its ICC profile, EXIF and XMP chunks kept. Animations are refused (Unsupported).
Result<std::vector<std::uint8_t>> TransformWebP(std::span<const std::uint8_t> webp, PixelTransform t);

}  // namespace quillix::imaging
