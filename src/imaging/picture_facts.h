#pragma once

#include "imaging/image_format.h"

#include <cstdint>
#include <span>
#include <string>

// What a picture's bytes tell about it without decoding its pixels: enough for a properties box.
namespace quillix::imaging {

struct PictureFacts {
    ImageFormat format = ImageFormat::Unknown;  // by the bytes, whatever the name says
    bool animated = false;                      // a GIF of several frames, a WebP with an animation chunk
    // The size as the viewer shows it (a JPEG turned by its EXIF orientation); 0 when the
    // header is missing or damaged.
    int width = 0;
    int height = 0;
    std::string camera;  // EXIF Make and Model, empty when the file has neither
    std::string taken;   // EXIF DateTimeOriginal as "YYYY-MM-DD HH:MM:SS", empty when absent
};

// Reads the headers only; bytes cut short after the headers still give the size. Never throws.
PictureFacts ReadPictureFacts(std::span<const std::uint8_t> bytes);

// "JPEG", "PNG", "GIF", "BMP", "WebP", with ", animated" when told so; empty for Unknown.
std::string FormatName(ImageFormat format, bool animated = false);

}  // namespace quillix::imaging
