#include "imaging/colour_profile.h"

#include "imaging/secure_picture.h"

#include <QByteArray>

#include <utility>

namespace quillix::imaging {

void ShowInSrgb(QImage& image)
{
    if (image.isNull()) return;
    const QColorSpace space = image.colorSpace();
    if (!space.isValid() || space == QColorSpace::SRgb) return;
    const QImage::Format format = image.format();
    // Qt converts other formats into a second full-size picture in ordinary memory first.
    if (format != QImage::Format_RGB32 && format != QImage::Format_ARGB32 &&
        format != QImage::Format_ARGB32_Premultiplied)
        return;
    // Qt transforms a picture held only here row by row in its own memory (on its thread pool
    // for large ones); a shared one it would first copy to ordinary memory.
    if (!image.isDetached()) {
        QImage own = CopyPicture(image);
        if (own.isNull()) return;
        image = std::move(own);
    }
    image.convertToColorSpace(QColorSpace::SRgb);
}

QColorSpace ColourSpaceFromIcc(std::span<const std::uint8_t> profile)
{
    if (profile.empty()) return {};
    // A deep copy: the colour space keeps the profile's bytes.
    const QByteArray bytes(reinterpret_cast<const char*>(profile.data()), static_cast<qsizetype>(profile.size()));
    return QColorSpace::fromIccProfile(bytes);
}

}  // namespace quillix::imaging
