#pragma once

#include "imaging/orientation.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

// The EXIF orientation of JPEG files: read with libexif, reset or set in place.
namespace quillix::imaging {

// Where the EXIF block of a JPEG lies: its APP1 payload, starting at "Exif\0\0", cut short when
// the file is. Empty when the markers before the first scan hold none.
struct ExifBlock {
    std::size_t offset = 0;
    std::size_t size = 0;
};
ExifBlock FindExifBlock(std::span<const std::uint8_t> jpeg);

// The orientation tag of the first picture directory, 1..8; 1 when the file has no EXIF block,
// no tag, or a damaged one.
int ExifOrientation(std::span<const std::uint8_t> jpeg);

// A lossless turn of the EXIF thumbnail's JPEG; nothing when it cannot be done.
using ThumbnailTurn = std::function<std::optional<std::vector<std::uint8_t>>(std::span<const std::uint8_t>)>;

// Rewrites the EXIF block of `jpeg` for a picture whose pixels were just changed by `applied`
// and that is now upright: the orientation tag becomes 1 in place and every other byte of the
// block stays (libexif would write the whole block anew and spoil maker notes it does not know).
// A thumbnail that `applied` changed is turned by `turnThumbnail` and put back in its place, the
// block growing or shrinking with it when it comes last, as cameras write it; when it cannot be
// turned or does not fit it is unlinked and blanked, so it never shows the picture another way
// round. False when the block is too damaged to walk; a file without EXIF is left as it is.
bool ResetExifOrientation(std::vector<std::uint8_t>& jpeg, PixelTransform applied, const ThumbnailTurn& turnThumbnail);

// Sets the orientation tag of `jpeg` to `value` (1..8) without moving any byte of the picture:
// an existing tag of the first or thumbnail directory is rewritten in place; a first directory
// without one is copied with the tag added to the end of the block and linked in its place, so no
// offset inside the block changes; a file without an EXIF block gets one holding only the tag,
// after SOI and any JFIF segments. Value 1 adds nothing where there is no tag. False, with
// `jpeg` unchanged, when the block is too damaged to walk, cut short, or cannot grow enough.
bool SetExifOrientation(std::vector<std::uint8_t>& jpeg, int value);

}  // namespace quillix::imaging
