#pragma once

#include "common/result.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// libjpeg-turbo decoding and encoding. Decoded pictures are QImage::Format_RGB32.
namespace quillix::imaging {

// The whole picture. A stream that ends early gives what was decoded (libjpeg's warning, not a
// failure); a missing or damaged header fails with BadHeader, an oversized picture with
// Unsupported.
Result<QImage> DecodeJpeg(std::span<const std::uint8_t> bytes);
Result<QImage> DecodeJpegFile(const std::string& path);

// Decoded at the smallest DCT scale n/8 whose output is at least minWidth × minHeight, or at
// full size when none is; the caller scales the rest of the way.
Result<QImage> DecodeJpegScaled(std::span<const std::uint8_t> bytes, int minWidth, int minHeight);

// Width and height from the header alone.
Result<QSize> JpegSize(std::span<const std::uint8_t> bytes);

// Baseline JPEG of `picture` (alpha dropped) at `quality`, clamped to 1..100.
Result<std::vector<std::uint8_t>> EncodeJpeg(const QImage& picture, int quality);

}  // namespace quillix::imaging
