#include "imaging/image_format.h"

#include "common/paths.h"

#include <algorithm>
#include <cstring>
#include <string_view>

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
    if (ext == "heic" || ext == "heif" || ext == "hif" || ext == "avif") return ImageFormat::Heif;
    if (ext == "tif" || ext == "tiff") return ImageFormat::Tiff;
    if (ext == "jxl") return ImageFormat::Jxl;
    return ImageFormat::Unknown;
}

ImageFormat SniffFormat(std::span<const std::uint8_t> head)
{
    using namespace std::string_view_literals;
    // Views, not C strings: several magics hold zero bytes.
    const auto starts = [&](std::string_view magic, std::size_t at = 0) {
        return head.size() >= at + magic.size() && std::memcmp(head.data() + at, magic.data(), magic.size()) == 0;
    };
    if (head.size() >= 3 && head[0] == 0xFF && head[1] == 0xD8 && head[2] == 0xFF) return ImageFormat::Jpeg;
    if (starts("\x89PNG\r\n\x1a\n")) return ImageFormat::Png;
    if (starts("GIF87a") || starts("GIF89a")) return ImageFormat::Gif;
    if (starts("BM")) return ImageFormat::Bmp;
    if (starts("RIFF") && starts("WEBP", 8)) return ImageFormat::WebP;
    if (starts("II*\0"sv) || starts("MM\0*"sv) || starts("II+\0"sv) || starts("MM\0+"sv)) return ImageFormat::Tiff;
    // A bare JPEG XL codestream, or one in its ISO box container.
    if (starts("\xff\x0a") || starts("\0\0\0\x0cJXL \r\n\x87\n"sv)) return ImageFormat::Jxl;
    if (starts("ftyp", 4)) {
        static constexpr std::string_view kHeifBrands[] = {"heic", "heix", "heim", "heis", "hevc", "hevx",
                                                           "mif1", "msf1", "mif2", "avif", "avis"};
        for (const std::string_view brand : kHeifBrands)
            if (starts(brand, 8)) return ImageFormat::Heif;
    }
    return ImageFormat::Unknown;
}

}  // namespace quillix::imaging
