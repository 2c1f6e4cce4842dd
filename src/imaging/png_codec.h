#pragma once

#include "common/result.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// libpng decoding and encoding.
namespace quillix::imaging {

// Every colour type, bit depth and interlacing expands to 8-bit RGBA, the tRNS colour or palette
// alpha becoming alpha: QImage::Format_ARGB32. Truncated or damaged data fails.
Result<QImage> DecodePng(std::span<const std::uint8_t> bytes);
Result<QImage> DecodePngFile(const std::string& path);

// 8-bit RGBA when `picture` has an alpha channel, else 8-bit RGB.
Result<std::vector<std::uint8_t>> EncodePng(const QImage& picture);

}  // namespace quillix::imaging
