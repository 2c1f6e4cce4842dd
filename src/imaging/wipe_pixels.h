#pragma once

#include <QImage>

namespace quillix::imaging {

// Zeroes the pixels of `image` unless another QImage shares them (the last holder wipes them),
// then lets it go.
void WipePixels(QImage& image);

}  // namespace quillix::imaging
