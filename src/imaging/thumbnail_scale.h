#pragma once

#include "common/result.h"

#include <QImage>
#include <QSize>

// The last step of every thumbnail: a decoded picture brought to its exact thumbnail size.
namespace quillix::imaging {

// `decoded` scaled smoothly to `size` (unchanged when it has that size already or is an error).
// An ARGB32 picture is premultiplied in place first, so the full-size picture stays the only
// one; it is wiped afterwards, as it may have come out of a container, and the thumbnail is kept
// in guarded memory under ContainerPixels.
Result<QImage> ScaleThumbnail(Result<QImage> decoded, QSize size);

}  // namespace quillix::imaging
