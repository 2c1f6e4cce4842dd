#include "imaging/jpeg_transform.h"

#include "imaging/exif_orientation.h"
#include "imaging/image_format.h"
#include "imaging/jpeg_codec.h"

#include <turbojpeg.h>

#include <memory>

namespace quillix::imaging {
namespace {

struct HandleDeleter {
    void operator()(void* handle) const { tjDestroy(handle); }
};
struct BufferDeleter {
    void operator()(unsigned char* buffer) const { tjFree(buffer); }
};

int TurboOperation(PixelTransform t)
{
    switch (t) {
    case PixelTransform::Identity: return TJXOP_NONE;
    case PixelTransform::FlipH: return TJXOP_HFLIP;
    case PixelTransform::Rotate180: return TJXOP_ROT180;
    case PixelTransform::FlipV: return TJXOP_VFLIP;
    case PixelTransform::Transpose: return TJXOP_TRANSPOSE;
    case PixelTransform::Rotate90: return TJXOP_ROT90;
    case PixelTransform::Transverse: return TJXOP_TRANSVERSE;
    case PixelTransform::Rotate270: return TJXOP_ROT270;
    }
    return TJXOP_NONE;
}

// The EXIF thumbnail, turned the same way when that is lossless; without the JFIF marker the
// transform adds, which EXIF thumbnails do without and which could keep it from fitting.
std::optional<std::vector<std::uint8_t>> TurnThumbnail(std::span<const std::uint8_t> thumbnail, PixelTransform t)
{
    Result<JpegLayout> layout = ReadJpegLayout(thumbnail);
    if (!layout) return std::nullopt;
    const JpegLayout& l = layout.value();
    if (!IsPerfectTransform(t, l.size.width(), l.size.height(), l.mcu.width(), l.mcu.height())) return std::nullopt;
    Result<std::vector<std::uint8_t>> turned = TransformJpegLosslessly(thumbnail, t, l.progressive);
    if (!turned) return std::nullopt;
    std::vector<std::uint8_t>& bytes = turned.value();
    const bool hadJfif = thumbnail.size() > 3 && thumbnail[2] == 0xFF && thumbnail[3] == 0xE0;
    if (!hadJfif && bytes.size() > 6 && bytes[2] == 0xFF && bytes[3] == 0xE0) {
        const std::size_t length = static_cast<std::size_t>(bytes[4] << 8 | bytes[5]);
        if (4 + length <= bytes.size())
            bytes.erase(bytes.begin() + 2, bytes.begin() + 2 + static_cast<long>(2 + length));
    }
    return std::move(bytes);
}

}  // namespace

bool IsPerfectTransform(PixelTransform t, int width, int height, int mcuWidth, int mcuHeight)
{
    const bool wholeRight = mcuWidth > 0 && width % mcuWidth == 0;
    const bool wholeBottom = mcuHeight > 0 && height % mcuHeight == 0;
    switch (t) {
    case PixelTransform::Identity:
    case PixelTransform::Transpose: return true;
    case PixelTransform::FlipH:
    case PixelTransform::Rotate270: return wholeRight;
    case PixelTransform::FlipV:
    case PixelTransform::Rotate90: return wholeBottom;
    case PixelTransform::Rotate180:
    case PixelTransform::Transverse: return wholeRight && wholeBottom;
    }
    return false;
}

Result<std::vector<std::uint8_t>> TransformJpegLosslessly(std::span<const std::uint8_t> jpeg, PixelTransform t,
                                                          bool progressive)
{
    if (jpeg.empty()) return MakeError(ErrorKind::Truncated, "JPEG: no data");
    const std::unique_ptr<void, HandleDeleter> handle(tjInitTransform());
    if (!handle) return MakeError(ErrorKind::Io, "JPEG: cannot start TurboJPEG");
    tjtransform transform{};
    transform.op = TurboOperation(t);
    // Markers are copied unless TJXOPT_COPYNONE is given; a progressive file stays progressive.
    transform.options = TJXOPT_PERFECT | (progressive ? TJXOPT_PROGRESSIVE : 0);
    unsigned char* output = nullptr;
    unsigned long outputSize = 0;
    const int failed = tjTransform(handle.get(), jpeg.data(), static_cast<unsigned long>(jpeg.size()), 1, &output,
                                   &outputSize, &transform, 0);
    const std::unique_ptr<unsigned char, BufferDeleter> owned(output);
    if (failed || !output || outputSize == 0)
        return MakeError(ErrorKind::BadHeader, std::string("JPEG: ") + tjGetErrorStr2(handle.get()));
    return std::vector<std::uint8_t>(output, output + outputSize);
}

Result<std::vector<std::uint8_t>> TurnJpeg(std::span<const std::uint8_t> jpeg, int direction)
{
    if (direction == 0) return std::vector<std::uint8_t>(jpeg.begin(), jpeg.end());
    Result<JpegLayout> layout = ReadJpegLayout(jpeg);
    if (!layout) return layout.error();
    const JpegLayout& l = layout.value();
    if (std::int64_t{l.size.width()} * l.size.height() > kMaxPixels)
        return MakeError(ErrorKind::Unsupported, "JPEG: picture too large");

    // What the user sees is the stored picture with its orientation applied; turn that.
    const PixelTransform shown = FromExifOrientation(ExifOrientation(jpeg));
    const PixelTransform t = Then(shown, direction > 0 ? PixelTransform::Rotate90 : PixelTransform::Rotate270);

    if (t != PixelTransform::Identity &&
        IsPerfectTransform(t, l.size.width(), l.size.height(), l.mcu.width(), l.mcu.height())) {
        Result<std::vector<std::uint8_t>> turned = TransformJpegLosslessly(jpeg, t, l.progressive);
        if (turned) {
            const ThumbnailTurn turnThumbnail = [t](std::span<const std::uint8_t> thumbnail) {
                return TurnThumbnail(thumbnail, t);
            };
            ResetExifOrientation(turned.value(), t, turnThumbnail);
            // A block too damaged to rewrite must not leave a tag that turns the result again.
            if (ExifOrientation(turned.value()) != 1)
                return MakeError(ErrorKind::BadHeader, "JPEG: the EXIF orientation cannot be reset");
            return turned;
        }
        // A layout TurboJPEG does not take (unusual sampling) is turned by its tag below.
    }

    // Partial MCUs at an edge that would move: moving them would mean decoding and encoding
    // again, so the pixels stay as stored and the tag says how to show them.
    std::vector<std::uint8_t> tagged(jpeg.begin(), jpeg.end());
    const int value = static_cast<int>(t);
    if (!SetExifOrientation(tagged, value) || ExifOrientation(tagged) != value)
        return MakeError(ErrorKind::BadHeader, "JPEG: the EXIF orientation cannot be written");
    return tagged;
}

}  // namespace quillix::imaging
