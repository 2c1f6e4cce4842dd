#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <cstdint>
#include <span>
#include <vector>

// Turning JPEG files without decoding them: TurboJPEG moves the DCT blocks.
namespace quillix::imaging {

// True when `t` moves no partial MCU: the right edge must be whole when it moves (a mirror left
// to right, a half turn, a counter-clockwise quarter, the transverse), the bottom edge likewise.
bool IsPerfectTransform(PixelTransform t, int width, int height, int mcuWidth, int mcuHeight);

// `t` applied to the DCT blocks with every marker copied: nothing is decoded or re-quantised.
// Fails when the transform is not perfect or the data cannot be read.
Result<std::vector<std::uint8_t>> TransformJpegLosslessly(std::span<const std::uint8_t> jpeg, PixelTransform t,
                                                          bool progressive);

// The JPEG as the user sees it (its EXIF orientation applied), turned a quarter clockwise
// (direction > 0) or counter-clockwise, and stored upright: EXIF orientation 1, the thumbnail
// turned along or dropped. Lossless when the size allows, otherwise re-encoded at the file's own
// estimated quality; every marker is kept either way.
Result<std::vector<std::uint8_t>> TurnJpeg(std::span<const std::uint8_t> jpeg, int direction);

}  // namespace quillix::imaging
