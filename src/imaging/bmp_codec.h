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
// core (OS/2) or any later info header; 16 and 32 bits honour bit-field masks. QImage::Format_RGB32,
// or Format_ARGB32 when the header names an alpha mask. Every read is checked against the buffer:
// short data fails with Truncated, an impossible header with BadHeader, RLE with Unsupported.
Result<QImage> DecodeBmp(std::span<const std::uint8_t> bytes);
Result<QImage> DecodeBmpFile(const std::string& path);

// A bottom-up 24-bit bitmap of `picture` (alpha dropped).
Result<std::vector<std::uint8_t>> EncodeBmp(const QImage& picture);

}  // namespace quillix::imaging
