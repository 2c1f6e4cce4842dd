#include "imaging/image_format.h"
#include "support/hex.h"

#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

TEST(ImageFormatTest, ByExtensionAndByContent)
{
    const std::pair<const char*, ImageFormat> names[] = {
        {"/p/a.jpg", ImageFormat::Jpeg},      {"/p/$a.JPEG", ImageFormat::Jpeg}, {"b.Png", ImageFormat::Png},
        {"c.gif", ImageFormat::Gif},          {"d.BMP", ImageFormat::Bmp},       {"e.webp", ImageFormat::WebP},
        {"f.tiff", ImageFormat::Tiff},        {"f.TIF", ImageFormat::Tiff},      {"$g.heic", ImageFormat::Heif},
        {"g.HEIF", ImageFormat::Heif},        {"g.hif", ImageFormat::Heif},      {"h.avif", ImageFormat::Heif},
        {"i.jxl", ImageFormat::Jxl},          {"j.jp2", ImageFormat::Unknown},   {"noext", ImageFormat::Unknown},
        {"/dir.jpg/x", ImageFormat::Unknown},
    };
    for (const auto& [name, format] : names)
        EXPECT_EQ(FormatFromExtension(name), format) << name;

    const std::pair<const char*, ImageFormat> heads[] = {
        {"ffd8ffe0", ImageFormat::Jpeg},
        {"89504e470d0a1a0a", ImageFormat::Png},
        {"474946383961", ImageFormat::Gif},
        {"424d", ImageFormat::Bmp},
        {"524946460000000057454250", ImageFormat::WebP},
        {"524946460000000057415645", ImageFormat::Unknown},  // RIFF WAVE
        {"49492a00", ImageFormat::Tiff},
        {"4d4d002a", ImageFormat::Tiff},
        {"49492b00", ImageFormat::Tiff},  // BigTIFF
        {"ff0a", ImageFormat::Jxl},
        {"0000000c4a584c200d0a870a", ImageFormat::Jxl},
        {"0000001c6674797068656963", ImageFormat::Heif},     // ftyp heic
        {"0000001c6674797061766966", ImageFormat::Heif},     // ftyp avif
        {"000000186674797069736f6d", ImageFormat::Unknown},  // ftyp isom: an MP4 film
        {"ffd8", ImageFormat::Unknown},
        {"", ImageFormat::Unknown},
    };
    for (const auto& [hex, format] : heads)
        EXPECT_EQ(SniffFormat(test::FromHex(hex)), format) << hex;
}

}  // namespace
}  // namespace quillix::imaging
