#include "imaging/wipe_pixels.h"

#include "crypto/secure.h"

namespace quillix::imaging {

void WipePixels(QImage& image)
{
    // bits() of an image nobody shares writes in place; a shared one would be copied first.
    if (!image.isNull() && image.isDetached())
        crypto::SecureWipe(image.bits(), static_cast<std::size_t>(image.sizeInBytes()));
    image = QImage();
}

}  // namespace quillix::imaging
