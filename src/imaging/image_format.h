#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace quillix::imaging {

enum class ImageFormat { Unknown, Jpeg, Png, Gif, Bmp, WebP };

// The format a file's extension names (".jpg", ".jpeg", ".png", ".gif", ".bmp", ".webp", in any
// letter case); an encrypted "$" name carries its plain file's extension.
ImageFormat FormatFromExtension(const std::string& path);

// The format the first bytes announce, whatever the name says.
ImageFormat SniffFormat(std::span<const std::uint8_t> head);

}  // namespace quillix::imaging
