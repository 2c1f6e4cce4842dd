#pragma once

#include <QColorSpace>
#include <QImage>

#include <cstdint>
#include <span>

// Colours as the file means them. Decoders only tag their pictures with the colour space the file
// declares; pictures are converted to sRGB here, once, where they are about to be shown.
namespace quillix::imaging {

// Converts the pixels of a picture tagged with a valid colour space other than sRGB to sRGB, in
// the picture's own memory (a container's picture stays in guarded memory), and tags it sRGB.
// An untagged or sRGB picture is left alone, not even detached: untagged means sRGB. So is one
// in a pixel format other than the 32-bit RGB ones the decoders make.
void ShowInSrgb(QImage& image);

// The colour space an embedded ICC profile declares; an invalid one for a damaged profile, or for
// one Qt cannot represent (grey, CMYK, table-based), whose picture is then shown as sRGB.
QColorSpace ColourSpaceFromIcc(std::span<const std::uint8_t> profile);

}  // namespace quillix::imaging
