#pragma once

#include "common/result.h"
#include "imaging/orientation.h"

#include <QImage>
#include <QSize>

#include <cstdint>
#include <span>
#include <vector>

// TIFF pictures through libtiff, read from memory; libtiff's messages never reach the terminal.
namespace quillix::imaging {

// The first page as the user should see it, turned as its Orientation tag says: 1 to 16-bit RGB,
// grey, palette, 8-bit CMYK and YCbCr, in strips or tiles, with any compression libtiff reads.
// Format_ARGB32 when the page has an alpha sample (associated alpha is divided out), else
// Format_RGB32; an RGB page with an ICC profile Qt understands is tagged with its colour space.
// Unsupported for a layout libtiff cannot show or a picture beyond kMaxPixels; BadHeader for a
// file libtiff cannot open or whose strips are far too short for its size (DataCouldShow); a strip
// that fails to decode fails the whole picture, with libtiff's own words in the message.
Result<QImage> DecodeTiff(std::span<const std::uint8_t> bytes);

// How many pages the file holds; 0 when libtiff cannot open it.
int TiffPageCount(std::span<const std::uint8_t> bytes);

// The size of the first page as shown, its Orientation applied, without reading any pixel.
Result<QSize> TiffSize(std::span<const std::uint8_t> bytes);

// The file with `t` applied to every page as the user sees it, by rewriting each page's
// Orientation tag, combined with the one it has; no pixel byte changes. A tag already there is
// overwritten in place; a page without one gets a copy of its directory with the tag added,
// appended to the file and linked where the old one was (which stays as unreferenced bytes).
// Classic and BigTIFF, either byte order. BadHeader for a file libtiff cannot open or whose
// directories cannot be walked safely; the bytes returned always open again with the new tags.
Result<std::vector<std::uint8_t>> TurnTiff(std::span<const std::uint8_t> bytes, PixelTransform t);

}  // namespace quillix::imaging
