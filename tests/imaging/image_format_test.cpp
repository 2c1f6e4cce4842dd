#include "imaging/image_format.h"
#include "support/hex.h"

#include <gtest/gtest.h>

namespace quillix::imaging {
namespace {

TEST(ImageFormatTest, ByExtensionAndByContent)
{
    const std::pair<const char*, ImageFormat> names[] = {
        {"/p/a.jpg", ImageFormat::Jpeg},  {"/p/$a.JPEG", ImageFormat::Jpeg}, {"b.Png", ImageFormat::Png},
        {"c.gif", ImageFormat::Gif},      {"d.BMP", ImageFormat::Bmp},       {"e.webp", ImageFormat::WebP},
        {"f.tiff", ImageFormat::Unknown}, {"noext", ImageFormat::Unknown},   {"/dir.jpg/x", ImageFormat::Unknown},
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
        {"ffd8", ImageFormat::Unknown},
        {"", ImageFormat::Unknown},
    };
    for (const auto& [hex, format] : heads)
        EXPECT_EQ(SniffFormat(test::FromHex(hex)), format) << hex;
}

}  // namespace
}  // namespace quillix::imaging
