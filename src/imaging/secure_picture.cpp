#include "imaging/secure_picture.h"

#include "crypto/secure.h"
#include "crypto/secure_memory.h"
#include "imaging/wipe_pixels.h"

#include <QColorSpace>

#include <algorithm>
#include <cstring>

namespace quillix::imaging {
namespace {

thread_local int activeScopes = 0;

void FreeSecurePixels(void* pixels)
{
    crypto::SecureFree(pixels);
}

}  // namespace

QImage NewSecurePicture(int width, int height, QImage::Format format)
{
    if (width <= 0 || height <= 0 || format == QImage::Format_Invalid) return {};
    const int depth = QImage::toPixelFormat(format).bitsPerPixel();
    std::size_t stride = 0, size = 0;
    if (__builtin_mul_overflow(static_cast<std::size_t>(width), static_cast<std::size_t>(depth), &stride)) return {};
    stride = (stride + 31) / 32 * 4;
    if (__builtin_mul_overflow(stride, static_cast<std::size_t>(height), &size)) return {};
    void* pixels = crypto::SecureAllocate(size);
    if (!pixels) return {};
    QImage image(static_cast<uchar*>(pixels), width, height, static_cast<qsizetype>(stride), format, FreeSecurePixels,
                 pixels);
    // Qt refuses sizes beyond its own bounds; the buffer is then ours to free.
    if (image.isNull()) crypto::SecureFree(pixels);
    return image;
}

ContainerPixels::ContainerPixels(bool active) : active_(active)
{
    if (active_) ++activeScopes;
}

ContainerPixels::~ContainerPixels()
{
    if (active_) --activeScopes;
}

bool ContainerPixels::Active()
{
    return activeScopes > 0;
}

QImage CopyPicture(const QImage& image)
{
    if (!ContainerPixels::Active() || image.isNull()) return image.copy();
    QImage copy = NewSecurePicture(image.width(), image.height(), image.format());
    if (copy.isNull()) return copy;
    const auto row = static_cast<std::size_t>(std::min(image.bytesPerLine(), copy.bytesPerLine()));
    for (int y = 0; y < image.height(); ++y)
        std::memcpy(copy.scanLine(y), image.constScanLine(y), row);
    copy.setColorTable(image.colorTable());
    copy.setDotsPerMeterX(image.dotsPerMeterX());
    copy.setDotsPerMeterY(image.dotsPerMeterY());
    copy.setDevicePixelRatio(image.devicePixelRatio());
    copy.setColorSpace(image.colorSpace());
    return copy;
}

QImage KeepSecure(QImage image)
{
    if (!ContainerPixels::Active() || image.isNull()) return image;
    QImage secure = CopyPicture(image);
    if (secure.isNull()) return image;  // out of locked and ordinary memory alike: keep what there is
    WipePixels(image);
    return secure;
}

}  // namespace quillix::imaging
