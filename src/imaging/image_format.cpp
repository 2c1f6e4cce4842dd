#include "imaging/image_format.h"

#include "common/paths.h"

#include <algorithm>
#include <cstring>

namespace quillix::imaging {

ImageFormat FormatFromExtension(const std::string& path)
{
    const std::string name = FileNameOf(path);
    const std::size_t dot = name.find_last_of('.');
    if (dot == std::string::npos) return ImageFormat::Unknown;
    std::string ext = name.substr(dot + 1);
    std::transform(ext.begin(), ext.end(), ext.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    if (ext == "jpg" || ext == "jpeg") return ImageFormat::Jpeg;
    if (ext == "png") return ImageFormat::Png;
    if (ext == "gif") return ImageFormat::Gif;
    if (ext == "bmp") return ImageFormat::Bmp;
    if (ext == "webp") return ImageFormat::WebP;
    return ImageFormat::Unknown;
}

ImageFormat SniffFormat(std::span<const std::uint8_t> head)
{
    const auto starts = [&](const char* magic, std::size_t at = 0) {
        const std::size_t n = std::strlen(magic);
        return head.size() >= at + n && std::memcmp(head.data() + at, magic, n) == 0;
    };
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return ImageFormat::Jpeg;
    if (starts("\x89PNG\r\n\x1a\n")) return ImageFormat::Png;
    if (starts("GIF87a") || starts("GIF89a")) return ImageFormat::Gif;
    if (starts("BM")) return ImageFormat::Bmp;
    if (starts("RIFF") && starts("WEBP", 8)) return ImageFormat::WebP;
    return ImageFormat::Unknown;
}

}  // namespace quillix::imaging
