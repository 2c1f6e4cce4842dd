#pragma once

#include "common/result.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// Windows bitmaps, read and written by hand.
namespace quillix::imaging {

// Uncompressed 1, 4, 8 (palette), 16, 24 and 32-bit pictures, bottom-up or top-down, with the
// core (OS/2) or any later info header; 16 and 32 bits honour bit-field masks; RLE8 and RLE4
// bottom-up. QImage::Format_RGB32, or Format_ARGB32 when the header names an alpha mask or an RLE
// stream leaves pixels unwritten (those are transparent). Every read is checked against the
// buffer: short data fails with Truncated (an RLE stream shows what it holds), an impossible
// header (a top-down RLE one included) with BadHeader, other compressions with Unsupported.
Result<QImage> DecodeBmp(std::span<const std::uint8_t> bytes);
Result<QImage> DecodeBmpFile(const std::string& path);

// A bottom-up 24-bit bitmap of `picture` (alpha dropped).
Result<std::vector<std::uint8_t>> EncodeBmp(const QImage& picture);

}  // namespace quillix::imaging
