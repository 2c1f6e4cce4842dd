#include "imaging/rotation.h"

#include "common/temp_file.h"

#include <webp/encode.h>

#include <sys/stat.h>

#include <algorithm>
#include <memory>

namespace quillix::imaging {

QImage RotateBitmap90(const QImage& source, int direction)
{
    if (source.isNull() || source.width() <= 0 || source.height() <= 0) return {};
    const QImage src = source.convertToFormat(QImage::Format_RGB32);
    const int w = src.width(), h = src.height();
    QImage target(h, w, QImage::Format_RGB32);
    for (int y = 0; y < h; ++y) {
        const QRgb* row = reinterpret_cast<const QRgb*>(src.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            if (direction >= 0)
                target.setPixel(h - 1 - y, x, row[x] | 0xFF000000u);
            else
                target.setPixel(y, w - 1 - x, row[x] | 0xFF000000u);
        }
    }
    return target;
}

bool EnsureWebPEncoder() { return true; }

bool SaveBitmapToWebP(const std::string& path, const QImage& picture, int quality)
{
    if (picture.isNull() || picture.width() <= 0 || picture.height() <= 0) return false;
    // Format_RGB32 is B, G, R, 255 in memory on little-endian machines: what WebPEncodeBGRA reads.
    const QImage bgra = picture.convertToFormat(QImage::Format_RGB32);
    std::uint8_t* output = nullptr;
    const std::size_t size =
        WebPEncodeBGRA(bgra.constBits(), bgra.width(), bgra.height(), static_cast<int>(bgra.bytesPerLine()),
                       static_cast<float>(std::clamp(quality, 0, 100)), &output);
    const std::unique_ptr<std::uint8_t, decltype(&WebPFree)> owned(output, &WebPFree);
    if (size == 0 || !output) return false;

    struct stat st {};
    const mode_t mode = ::stat(path.c_str(), &st) == 0 ? (st.st_mode & 0777) : 0644;
    Result<TempFile> temp = TempFile::CreateFor(path, mode);
    if (!temp) return false;
    if (!WriteAll(temp.value().fd(), std::span<const std::uint8_t>(output, size))) return false;
    return temp.value().CommitAs(path).ok();
}

}  // namespace quillix::imaging
