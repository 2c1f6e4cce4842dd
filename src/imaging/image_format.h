#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quillix::imaging {

// Heif covers every picture libheif reads: HEIC, HEIF and AVIF.
enum class ImageFormat { Unknown, Jpeg, Png, Gif, Bmp, WebP, Heif, Tiff, Jxl };

// 1 GiB of 32-bit pixels: the still decoders refuse larger pictures, whose headers are damaged or
// hostile and would only exhaust memory.
inline constexpr std::int64_t kMaxPixels = std::int64_t{1} << 28;

// The format a file's extension names (".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp", ".heic",
// ".heif", ".hif", ".avif", ".tif", ".tiff", ".jxl", in any letter case); an encrypted "$" name
// carries its plain file's extension.
ImageFormat FormatFromExtension(const std::string& path);

// The format the first bytes announce, whatever the name says.
ImageFormat SniffFormat(std::span<const std::uint8_t> head);

}  // namespace quillix::imaging
