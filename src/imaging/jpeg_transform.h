#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <cstdint>
#include <span>
#include <vector>

// Turning JPEG files without decoding them: TurboJPEG moves the DCT blocks, or the EXIF
// orientation says how to show them.
namespace quillix::imaging {

// True when `t` moves no partial MCU: the right edge must be whole when it moves (a mirror left
// to right, a half turn, a counter-clockwise quarter, the transverse), the bottom edge likewise.
bool IsPerfectTransform(PixelTransform t, int width, int height, int mcuWidth, int mcuHeight);

// `t` applied to the DCT blocks with every marker copied: nothing is decoded or re-quantised.
// Fails when the transform is not perfect or the data cannot be read.
Result<std::vector<std::uint8_t>> TransformJpegLosslessly(std::span<const std::uint8_t> jpeg, PixelTransform t,
                                                          bool progressive);

// The JPEG as the user sees it (its EXIF orientation applied), turned a quarter clockwise
// (direction > 0) or counter-clockwise, and nothing lost. When the DCT blocks can move (no
// partial MCU on an edge that moves) they do, every marker is kept and the result is stored
// upright: EXIF orientation 1, the thumbnail turned along or dropped. Otherwise only the EXIF
// orientation changes (a block is added when there is none) and every byte of the tables and
// scans stays as it was. Fails on a damaged header or an EXIF block too damaged to rewrite.
Result<std::vector<std::uint8_t>> TurnJpeg(std::span<const std::uint8_t> jpeg, int direction);

}  // namespace quillix::imaging
