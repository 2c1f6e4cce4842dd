#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <QImage>

#include <cstdint>
#include <span>
#include <string>
#include <vector>

// libpng decoding and encoding.
namespace quillix::imaging {

// Every colour type, bit depth and interlacing expands to 8-bit RGBA, the tRNS colour or palette
// alpha becoming alpha: QImage::Format_ARGB32, tagged with the colour space its iCCP, sRGB, cHRM
// and gAMA chunks declare. Truncated or damaged data fails.
Result<QImage> DecodePng(std::span<const std::uint8_t> bytes);
Result<QImage> DecodePngFile(const std::string& path);

// The same PNG with its picture changed by `t`: the samples move as they are stored (palette
// indices, grey levels, 16-bit values, alpha), and every chunk is kept in its place, pHYs and
// sCAL with their axes swapped along with the picture's. Unknown chunks marked unsafe to copy
// are dropped, as the PNG specification asks of editors that change the image data. Animated
// PNGs are refused (Unsupported): their frames would not turn along.
Result<std::vector<std::uint8_t>> TransformPng(std::span<const std::uint8_t> bytes, PixelTransform t);

// 8-bit RGBA when `picture` has an alpha channel, else 8-bit RGB.
Result<std::vector<std::uint8_t>> EncodePng(const QImage& picture);

}  // namespace quillix::imaging
